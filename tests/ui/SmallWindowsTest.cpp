#include "platform/widgets/StdDirDlg.h"
#include "tasks/TextTable.h"
#include "ui/AboutU.h"
#include "ui/SMemo.h"
#include "ui/SyncResult.h"
#include "ui/addDirU.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <gtest/gtest.h>

#include <functional>
#include <vector>

using namespace duplora;

namespace {

QString q(int n) {
    return QString::fromStdString(Msg(n));
}

void fill(TSMemo& memo, int lines) {
    for (int i = 0; i < lines; ++i)
        memo.AddLine(QStringLiteral("line %1").arg(i));
}

// Number of whole lines the memo's viewport shows.
int visibleLines(TSMemo& memo) {
    return memo.viewport()->height() / memo.fontMetrics().lineSpacing();
}

// Runs `answer` on the folder chooser once it is open.
void whenChooserOpens(std::function<void(QFileDialog*)> answer) {
    QTimer::singleShot(0, [answer] {
        auto* dlg = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dlg, nullptr);
        answer(dlg);
    });
}

} // namespace

TEST(SMemo, FirstVisibleLineAndScrollToLine) {
    TSMemo memo;
    memo.resize(200, 120);
    fill(memo, 100);
    memo.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&memo));
    EXPECT_EQ(memo.LineCount(), 100);
    // Lines added while the end is in view keep the end in view.
    EXPECT_GT(memo.FirstVisibleLine(), 50);
    memo.ScrollToLine(0);
    EXPECT_EQ(memo.FirstVisibleLine(), 0);
    memo.ScrollToLine(10);
    EXPECT_EQ(memo.FirstVisibleLine(), 10);
    memo.ScrollToLine(3); // backwards too
    EXPECT_EQ(memo.FirstVisibleLine(), 3);
    // Past the end the view stops with the last line visible.
    memo.ScrollToLine(1000000);
    const int first = memo.FirstVisibleLine();
    EXPECT_GT(first, 50);
    EXPECT_GE(first + visibleLines(memo), 100);
    memo.ScrollToLine(-5);
    EXPECT_EQ(memo.FirstVisibleLine(), 0);
    // Long lines do not wrap: one text line is one screen line.
    memo.AddLine(QString(500, 'w'));
    EXPECT_EQ(memo.lineWrapMode(), QPlainTextEdit::NoWrap);
}

TEST(SMemo, ScrollEventsComeAfterTheScrollBarActed) {
    TSMemo memo;
    memo.resize(120, 100);
    fill(memo, 50);
    memo.AddLine(QString(300, 'w'));
    memo.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&memo));
    memo.ScrollToLine(0);
    int vSeen = -1;
    int hCalls = 0;
    memo.OnVScroll = [&](TSMemo* sender) { vSeen = sender->FirstVisibleLine(); };
    memo.OnHScroll = [&](TSMemo*) { ++hCalls; };
    memo.verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    memo.horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    QApplication::processEvents();
    EXPECT_EQ(vSeen, 1);
    EXPECT_EQ(hCalls, 1);
    memo.ScrollToLine(5); // a scroll by the program is no scroll-bar action
    QApplication::processEvents();
    EXPECT_EQ(vSeen, 1);
}

TEST(ResultWindow, ShowsAllLinesScrolledToTheEndWithFocusOnClose) {
    TresForm res;
    res.ApplyTexts();
    EXPECT_EQ(res.windowTitle(), q(74));
    EXPECT_EQ(res.btnClose->text(), q(75));
    EXPECT_TRUE(res.resMemo->isReadOnly());
    for (int run = 0; run < 3; ++run)
        fill(*res.resMemo, 40); // three runs' reports
    res.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&res));
    const int first = res.resMemo->FirstVisibleLine();
    EXPECT_GT(first, 0);
    EXPECT_GE(first + visibleLines(*res.resMemo), 120);
    EXPECT_EQ(res.focusWidget(), res.btnClose);
    res.btnClose->click();
    EXPECT_FALSE(res.isVisible());
    EXPECT_EQ(res.resMemo->LineCount(), 120); // closing keeps the lines

    // Shown again after more lines: at the end again.
    res.resMemo->ScrollToLine(0);
    fill(*res.resMemo, 40);
    res.show();
    EXPECT_GE(res.resMemo->FirstVisibleLine() + visibleLines(*res.resMemo), 160);
}

TEST(AboutBox, TextsAndClicks) {
    QWidget owner;
    TAboutForm about(&owner);
    about.ApplyTexts();
    EXPECT_EQ(about.windowTitle(), q(39));
    EXPECT_EQ(about.Label1->text(), q(0));
    EXPECT_EQ(about.Label2->text(), "V1.95");
    EXPECT_EQ(about.Label4->text(), q(41));
    EXPECT_EQ(about.Label6->text(), q(43));
    EXPECT_FALSE(q(41).isEmpty());
    EXPECT_FALSE(about.Image1->pixmap().isNull()); // the picture is compiled in
    std::vector<QUrl> opened;
    about.OpenUrl = [&](const QUrl& url) {
        opened.push_back(url);
        return true;
    };

    about.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
    QTest::mouseClick(about.Label6, Qt::LeftButton);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl::fromUserInput(q(43)));
    EXPECT_TRUE(about.isVisible()); // the box stays open
    QTest::mouseClick(about.Label4, Qt::LeftButton);
    EXPECT_TRUE(about.isVisible());
    QTest::mouseClick(about.Label2, Qt::LeftButton);
    EXPECT_FALSE(about.isVisible());

    about.show();
    QTest::mouseClick(&about, Qt::LeftButton, {}, QPoint(about.width() - 3, about.height() - 3));
    EXPECT_FALSE(about.isVisible());
    EXPECT_EQ(opened.size(), 1u);
}

TEST(FolderChooser, StartFolderRules) {
    EXPECT_EQ(StartFolder("/data/", "/cwd"), "/data");
    EXPECT_EQ(StartFolder("/data", "/cwd"), "/data");
    EXPECT_EQ(StartFolder("/", "/cwd"), "/");
    EXPECT_EQ(StartFolder("", "/cwd"), "/cwd");
}

TEST(FolderChooser, ExecuteReturnsTheChoiceOrFalseOnCancel) {
    QTemporaryDir tmp;
    ASSERT_TRUE(QDir(tmp.path()).mkpath("a/b"));
    const QString a = tmp.path() + "/a";
    TSDirDlg dlg;
    EXPECT_EQ(dlg.Caption, "Please select a folder");
    dlg.Caption = "Pick";
    dlg.Directory = a + "/";
    int changes = 0;
    dlg.OnChange = [&](TSDirDlg* sender) {
        EXPECT_EQ(sender, &dlg);
        ++changes;
    };
    QString startedAt;
    QString title;
    whenChooserOpens([&](QFileDialog* fd) {
        startedAt = fd->directory().absolutePath();
        title = fd->windowTitle();
        static_cast<QDialog*>(fd)->accept();
    });
    ASSERT_TRUE(dlg.Execute());
    EXPECT_EQ(startedAt, a);
    EXPECT_EQ(title, "Pick");
    EXPECT_EQ(dlg.Directory, a);

    // Entering a folder inside the chooser updates Directory and raises
    // OnChange; cancelling returns false while Directory keeps the folder.
    whenChooserOpens([&](QFileDialog* fd) {
        fd->setDirectory(a + "/b");
        emit fd->directoryEntered(a + "/b"); // as when the user opens it
        fd->reject();
    });
    EXPECT_FALSE(dlg.Execute());
    EXPECT_EQ(dlg.Directory, a + "/b");
    EXPECT_GE(changes, 1);
}

TEST(AddFolderDialog, BrowseFillsTheFieldFromTheHostFolderAndCancelKeepsIt) {
    QTemporaryDir tmp;
    ASSERT_TRUE(QDir(tmp.path()).mkpath("host/sub"));
    TSDirDlg chooser;
    TdirForm form;
    form.ApplyTexts();
    EXPECT_EQ(form.windowTitle(), q(122));
    EXPECT_EQ(form.BrMirror->text(), q(8));
    EXPECT_EQ(form.BrMirror->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(form.edDir->maxLength(), 512);
    EXPECT_TRUE(form.btnOk->isDefault());
    form.setDirDialog(&chooser);
    form.setHostPath((tmp.path() + "/host").toStdString());
    form.edDir->setText("typed before");

    QString startedAt;
    whenChooserOpens([&](QFileDialog* fd) {
        startedAt = fd->directory().absolutePath();
        fd->reject();
    });
    form.BrMirror->click();
    EXPECT_EQ(startedAt, tmp.path() + "/host");
    EXPECT_EQ(chooser.Caption, q(34));
    EXPECT_EQ(form.edDir->text(), "typed before");

    whenChooserOpens([&](QFileDialog* fd) {
        fd->setDirectory(tmp.path() + "/host/sub");
        static_cast<QDialog*>(fd)->accept();
    });
    form.BrMirror->click();
    EXPECT_EQ(form.edDir->text(), tmp.path() + "/host/sub");

    // The text stays for the next showing.
    form.show();
    form.btnCancel->click();
    form.show();
    EXPECT_EQ(form.edDir->text(), tmp.path() + "/host/sub");
    form.btnOk->click();
    EXPECT_EQ(form.result(), QDialog::Accepted);
}
