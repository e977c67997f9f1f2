// Every window opens inside the screen and can be made smaller than it: at
// 100 % on 1280x720 and at 200 % on 2560x1440 (the same logical area, but
// fonts, icons and frames scaled), and shrinkable onto an 800x500 logical
// screen (1600x1000 at 200 %).
#include "ui/MainForm.h"
#include "ui/ScreenFit.h"

#include "WindowTestSupport.h"
#include "tasks/TextTable.h"
#include "ui/AboutU.h"
#include "ui/AdvUnit.h"
#include "ui/SyncForm.h"
#include "ui/SyncResult.h"
#include "ui/TaskU.h"
#include "ui/TreeVUnit.h"
#include "ui/addDirU.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QProcess>
#include <QProcessEnvironment>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>

namespace duplora {
namespace {

class WindowSizes : public testing::WindowsFixture {};

// Every text of `win` shows whole: a label or button narrower than its text
// needs has it cut.
void ExpectNoCutTexts(QWidget* win, const char* name) {
    for (QLabel* label : win->findChildren<QLabel*>()) {
        if (!label->isVisible() || label->wordWrap() || label->text().isEmpty() ||
            label->objectName().startsWith(QLatin1String("Panel")) ||
            label->objectName() == QLatin1String("StatusBar1"))
            continue;
        EXPECT_GE(label->width(), label->minimumSizeHint().width())
            << name << " " << label->objectName().toStdString() << " \""
            << label->text().toStdString() << "\" lang " << static_cast<int>(CurrentLanguage());
    }
    for (QAbstractButton* button : win->findChildren<QAbstractButton*>()) {
        if (!button->isVisible() || button->text().isEmpty())
            continue;
        EXPECT_GE(button->width(), button->minimumSizeHint().width())
            << name << " " << button->objectName().toStdString() << " \""
            << button->text().toStdString() << "\" lang " << static_cast<int>(CurrentLanguage());
    }
}

TEST_F(WindowSizes, EveryWindowFitsTheScreenAndShrinksOntoASmallOne) {
    // 1280x720 at 100 % and 2560x1440 at 200 % are the same logical area.
    const QSize room = QSize(1280, 720) - QSize(kFrameAllowanceX, kFrameAllowanceY);
    const QSize smallRoom = QSize(800, 500) - QSize(kFrameAllowanceX, kFrameAllowanceY);
    AppWindows& w = *windows_;
    const std::pair<const char*, QWidget*> windows[] = {
        {"main", w.cltForm.get()}, {"progress", w.SyncForm}, {"preview", w.TreeVForm},
        {"result", w.resForm},     {"advanced", w.advForm},  {"add folder", w.dirForm},
        {"about", w.AboutForm},    {"schedules", w.fmTask},
    };
    for (Language language :
         {Language::English, Language::SimplifiedChinese, Language::TraditionalChinese}) {
        SetLanguage(language);
        w.cltForm->ApplyTexts();
        w.SyncForm->ApplyTexts();
        w.TreeVForm->ApplyTexts();
        w.resForm->ApplyTexts();
        w.advForm->ApplyTexts();
        w.dirForm->ApplyTexts();
        w.AboutForm->ApplyTexts();
        w.fmTask->ApplyTexts();
        const int lang = static_cast<int>(language);
        for (const auto& [name, win] : windows) {
            if (win->layout())
                win->layout()->activate();
            const QSize opens = win == w.cltForm.get() ? w.cltForm->NaturalSize() : win->size();
            const QSize hint = win->sizeHint();
            const QSize least =
                win->minimumSize().isEmpty() ? win->minimumSizeHint() : win->minimumSize();
            std::printf("%-10s lang %d opens %4dx%-4d hint %4dx%-4d least %4dx%-4d (scale %.0f)\n",
                        name, lang, opens.width(), opens.height(), hint.width(), hint.height(),
                        least.width(), least.height(),
                        QGuiApplication::primaryScreen()->devicePixelRatio());
            EXPECT_TRUE(room.expandedTo(opens) == room) << name << " lang " << lang;
            EXPECT_TRUE(room.expandedTo(hint) == room) << name << " lang " << lang;
            EXPECT_TRUE(smallRoom.expandedTo(least) == smallRoom) << name << " lang " << lang;
        }

        // The main window at the size it opens with, showing a task's last
        // run: no scroll bar, no cut text, no action list narrower than its
        // longest action.
        TcltForm& main = *w.cltForm;
        main.show();
        main.resize(main.NaturalSize());
        TcltForm::LastRun last;
        last.When = 1796831692;
        last.Report.Line = Msg(69);
        last.Report.CopiedToMirror = 12345;
        main.lbLastRun->setText(TcltForm::LastRunText(last));
        QCoreApplication::processEvents();
        for (QComboBox* box : main.GroupBox1->findChildren<QComboBox*>())
            EXPECT_GE(box->width(), box->sizeHint().width())
                << box->objectName().toStdString() << " lang " << lang;
        auto* scroll = main.findChild<QScrollArea*>(QStringLiteral("scrollFields"));
        ASSERT_NE(scroll, nullptr);
        EXPECT_FALSE(scroll->horizontalScrollBar()->isVisible()) << "lang " << lang;
        EXPECT_FALSE(scroll->verticalScrollBar()->isVisible()) << "lang " << lang;
        ExpectNoCutTexts(&main, "main");
        main.hide();
        for (QWidget* dialog : {static_cast<QWidget*>(w.advForm), static_cast<QWidget*>(w.fmTask),
                                static_cast<QWidget*>(w.dirForm)}) {
            // At the size it asks for: the offscreen screen at 200 % is too
            // small for any window, and the fitter's shrinking is not
            // what is looked at here.
            dialog->show();
            dialog->resize(dialog->sizeHint().expandedTo(dialog->minimumSize()));
            QCoreApplication::processEvents();
            ExpectNoCutTexts(dialog, dialog->objectName().toUtf8().constData());
            dialog->hide();
        }
    }
    SetLanguage(Language::English);
    w.TreeVForm->ApplyTexts();
    EXPECT_EQ(w.TreeVForm->btnShowAll->toolTip(), QStringLiteral("Show all files"));
    EXPECT_EQ(w.TreeVForm->btnHideEqu->toolTip(),
              QStringLiteral("Hide files without an operation"));
}

TEST(ScreenFit, AWindowTooLargeForTheScreenIsShrunkAndKeptInside) {
    const QRect screen(0, 0, 800, 500);
    const struct {
        QSize wanted, minimum;
        QRect centreOn;
    } cases[] = {
        {{1046, 1110}, {0, 0}, {}},                 // the main window at 200 % before
        {{1600, 1100}, {230, 120}, {}},             // the preview at 200 % before
        {{400, 300}, {0, 0}, {600, 400, 400, 300}}, // a parent near the corner
        {{400, 300}, {900, 900}, {}},               // a minimum above the screen loses
    };
    for (const auto& c : cases) {
        const QRect r = FittedGeometry(c.wanted, c.minimum, screen, c.centreOn);
        EXPECT_TRUE(screen.contains(
            r.adjusted(-kFrameAllowanceX / 2, -kFrameAllowanceY + 8, kFrameAllowanceX / 2, 0)))
            << r.x() << "," << r.y() << " " << r.width() << "x" << r.height();
    }
    // Room enough: the size is kept and the window is centred on the parent.
    const QRect parent(100, 100, 600, 300);
    EXPECT_EQ(FittedGeometry({200, 100}, {}, screen, parent), QRect(300, 200, 200, 100));
}

TEST(ScreenFit, TheSameWindowsFitAtScaleTwo) {
    if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR"))
        GTEST_SKIP() << "already the scaled run";
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_SCALE_FACTOR", "2");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QCoreApplication::applicationFilePath(),
            {"--gtest_filter=WindowSizes.EveryWindowFitsTheScreenAndShrinksOntoASmallOne"});
    ASSERT_TRUE(p.waitForFinished(60000));
    const QByteArray out = p.readAll();
    EXPECT_EQ(p.exitCode(), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("(scale 2)")) << out.toStdString();
}

} // namespace
} // namespace duplora
