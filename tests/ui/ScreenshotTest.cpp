// Pictures of the main window, the progress window and the result window for
// the documentation. Runs only when DUPLORA_SCREENSHOT_DIR names a folder
// (scripts/screenshots.sh sets it and runs this under a virtual display).
#include "WindowTestSupport.h"
#include "platform/widgets/TrayIcon.h"
#include "sync/run/RunProgress.h"
#include "sync/run/SyncRun.h"
#include "tasks/TextTable.h"
#include "ui/MainForm.h"
#include "ui/SyncForm.h"
#include "ui/SyncResult.h"
#include "ui/WidgetTexts.h"

#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QToolTip>

#include <cstdlib>

namespace duplora {
namespace {

namespace fs = std::filesystem;
using testing::WriteFileText;

void Settle() {
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

void Save(QWidget* w, const QString& dir, const char* name) {
    Settle();
    const QString path = dir + "/" + name;
    EXPECT_TRUE(w->grab().save(path)) << path.toStdString();
}

class Screenshots : public testing::WindowsFixture {};

TEST_F(Screenshots, MainProgressAndResultWindows) {
    const char* target = std::getenv("DUPLORA_SCREENSHOT_DIR");
    if (!target || !*target)
        GTEST_SKIP() << "DUPLORA_SCREENSHOT_DIR not set";
    const QString dir = QString::fromUtf8(target);
    fs::create_directories(target);
    // DUPLORA_SCREENSHOT_LANG (en, zh-CN, zh-TW) draws the windows in that
    // language, to look at their layout.
    if (const char* code = std::getenv("DUPLORA_SCREENSHOT_LANG")) {
        Language language{};
        ASSERT_TRUE(LanguageFromCode(code, language)) << code;
        SetLanguage(language);
        windows_->cltForm->ApplyTexts();
        windows_->SyncForm->ApplyTexts();
        windows_->resForm->ApplyTexts();
    }

    // A small demo: documents to a backup disk, photos both ways, a file list.
    // A fixed demo folder, so the pictures show the same paths every time.
    const fs::path home = fs::temp_directory_path() / "duplora-demo";
    fs::remove_all(home);
    struct Cleanup {
        fs::path p;
        ~Cleanup() { fs::remove_all(p); }
    } cleanup{home};
    WriteFileText(home / "Documents/report.odt", std::string(180000, 'r'));
    WriteFileText(home / "Documents/letters/march.txt", "Dear reader");
    WriteFileText(home / "Documents/cache/x.tmp", "t");
    fs::create_directories(home / "Backup/Documents");
    TcltForm& main = *windows_->cltForm;
    TaskRecord docs = TaskRecord::MakeNew("Documents to the backup disk, every evening.");
    docs.set_host_path((home / "Documents").string());
    docs.set_mirror_path((home / "Backup/Documents").string());
    docs.set_include_subfolders(true);
    docs.set_only_in_host_action(SyncAction::HostToMirror);
    docs.set_newer_in_host_action(SyncAction::HostToMirror);
    docs.set_size_differs_action(SyncAction::HostToMirror);
    docs.set_empty_folder_action(SyncAction::HostToMirror);
    docs.set_folder_list("/cache\r\n/tmp\r\n");
    docs.set_auto_mode(true);
    main.Tasks().append("Documents", docs);
    TaskRecord photos = TaskRecord::MakeNew(Msg(76));
    photos.set_host_path("/home/anna/Pictures");
    photos.set_mirror_path("//nas/photos");
    photos.set_newer_in_host_action(SyncAction::HostToMirror);
    photos.set_newer_in_mirror_action(SyncAction::MirrorToHost);
    main.Tasks().append("Photos", photos);
    TaskRecord notes = TaskRecord::MakeNew(Msg(76));
    notes.set_sync_type(SyncType::File);
    notes.set_host_path("/home/anna");
    notes.set_mirror_path("/media/stick");
    notes.set_folder_list(".bashrc\r\nnotes.txt\r\n");
    main.Tasks().append("Dotfiles", notes);
    main.RefreshTaskList();
    main.show(); // the first showing reads the (empty) command line
    Settle();
    main.liTask->item(0)->setCheckState(Qt::Checked);
    main.liTask->item(1)->setCheckState(Qt::Checked);
    main.liTask->setCurrentRow(0);
    Save(&main, dir, "main-window.png");

    // The progress window in the middle of a copy.
    TSyncForm& progress = *windows_->SyncForm;
    progress.SetStatus(Msg(64));
    progress.SetOperation(Msg(65) + Msg(22));
    progress.SetPath((home / "Documents/letters/march.txt").string());
    progress.SetTotals(MsgFill(51, "41.2M", "18.6M"));
    progress.SetFileGauge(72);
    progress.SetTotalGauge(68);
    progress.lbProgress->setText(QUtf8(ProgressLine(12, 301, 3072000, 36864000)));
    progress.StartAnimation();
    progress.show();
    Save(&progress, dir, "progress-window.png");
    progress.StopAnimation();
    progress.hide();

    // The result window after a real run of the first task, started by a
    // schedule; the list marks the task and shows its last run.
    main.ScheduledRun = true;
    main.ScheduleName = "Evening";
    ASSERT_EQ(main.RunTaskAt(0), RunOutcome::Finished);
    main.ScheduledRun = false;
    main.ScheduleName.clear();
    main.show();
    main.liTask->setCurrentRow(0);
    windows_->resForm->show();
    Save(windows_->resForm, dir, "result-window.png");
    windows_->resForm->hide();
    Save(&main, dir, "main-window-after-run.png");

    // The tray's menu beside the tip its icon shows.
    main.NextScheduledRun = [] { return std::string("2026-12-10 19:00:00"); };
    main.UpdateTrayStatus();
    main.TrayMenu->popup(main.mapToGlobal(QPoint(40, 40)));
    Settle();
    const QPixmap menu = main.TrayMenu->grab();
    main.TrayMenu->hide();
    QLabel tip(main.TrayIcon1->StatusTip());
    tip.setPalette(QToolTip::palette());
    tip.setAutoFillBackground(true);
    tip.setFrameShape(QFrame::Box);
    tip.setMargin(4);
    tip.adjustSize();
    const QPixmap tipPicture = tip.grab();
    QPixmap tray(menu.width() + tipPicture.width() + 24,
                 std::max(menu.height(), tipPicture.height()) + 16);
    tray.fill(QColor(0xe8, 0xe8, 0xe8));
    QPainter painter(&tray);
    painter.drawPixmap(8, 8, menu);
    painter.drawPixmap(menu.width() + 16, 8, tipPicture);
    painter.end();
    EXPECT_TRUE(tray.save(dir + "/tray-menu.png"));
}

} // namespace
} // namespace duplora
