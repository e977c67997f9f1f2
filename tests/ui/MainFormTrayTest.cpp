// The notification-area icon and the window's ways into it and back, and the
// window's share connection; offscreen, so the desktop's notification area
// is stood in for by TrayAvailable.

#include "WindowTestSupport.h"
#include "platform/widgets/TrayIcon.h"
#include "ui/MainForm.h"
#include "ui/SyncForm.h"

#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QSystemTrayIcon>

namespace duplora {
namespace {

using testing::WriteFileText;

TEST(TrayIconTest, TipsAreCutAndTheIconComesAndGoesOnce) {
    TTrayIcon icon;
    icon.SetHint(QString(70, QChar('h')));
    EXPECT_EQ(icon.Hint(), QString(60, QChar('h')));
    // 21 three-byte characters are 63 bytes: 20 whole ones fit in 60.
    icon.SetHint(QString(21, QChar(0x540C)));
    EXPECT_EQ(icon.Hint().size(), 20);
    icon.SetToolTip(QString(63, QChar('t')));
    EXPECT_EQ(icon.ToolTip().size(), 62);
    EXPECT_EQ(icon.calls().modify, 0); // not active: nothing to change

    TTrayIcon bare;
    bare.SetActive(true);
    bare.SetActive(true);
    EXPECT_EQ(bare.calls().add, 1);
    // An empty ToolTip is re-applied once after the icon was added.
    QCoreApplication::processEvents();
    EXPECT_EQ(bare.calls().modify, 1);
    bare.SetHint(QStringLiteral("new"));
    bare.SetHint(QStringLiteral("new"));
    EXPECT_EQ(bare.calls().modify, 2);
    EXPECT_EQ(bare.platformIcon()->toolTip(), "new");

    int clicks = 0, doubles = 0, rights = 0;
    bare.OnClick = [&](TTrayIcon*) { ++clicks; };
    bare.OnDblClick = [&](TTrayIcon*) { ++doubles; };
    bare.OnRightClick = [&](TTrayIcon*, Qt::MouseButton b, Qt::KeyboardModifiers, int, int) {
        rights += b == Qt::RightButton;
    };
    for (int message : {514, 515, 517, 512})
        bare.Notify(message, {});
    // The click comes once the platform's event is over.
    EXPECT_EQ(clicks, 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(clicks + doubles + rights, 3);
    bare.SetActive(false);
    bare.SetActive(true);
    EXPECT_EQ(bare.calls().remove, 1);
    auto* destroyed = new TTrayIcon;
    destroyed->SetActive(true);
    QSystemTrayIcon* platform = destroyed->platformIcon();
    QObject::connect(platform, &QObject::destroyed, [&] { platform = nullptr; });
    delete destroyed;
    EXPECT_EQ(platform, nullptr);
}

class MainFormTrayTest : public testing::WindowsFixture {
protected:
    TcltForm& w() { return *windows_->cltForm; }
    void SetUp() override {
        WindowsFixture::SetUp();
        w().TrayAvailable = [this] { return trayAvailable; };
        w().show();
    }
    void Settle() {
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }
    bool trayAvailable = true;
};

TEST_F(MainFormTrayTest, MinimiseHidesIntoTheIconAndAClickBringsItBack) {
    EXPECT_FALSE(w().TrayIcon1->Active());
    EXPECT_EQ(w().TrayIcon1->Hint(), "Duplora");
    w().showMinimized();
    Settle();
    EXPECT_TRUE(w().TrayIcon1->Active());
    EXPECT_FALSE(w().isVisible());
    // "/H" minimises a window that is already in the tray: still one icon.
    w().OnMiniToTray();
    Settle();
    EXPECT_EQ(w().TrayIcon1->calls().add, 1);
    // A right click opens the menu and leaves the window in the tray; the
    // first left click brings it back.
    w().TrayIcon1->Notify(517, {});
    EXPECT_TRUE(w().TrayIcon1->Active());
    EXPECT_TRUE(w().TrayMenu->isVisible());
    w().TrayMenu->hide();
    w().TrayIcon1->Notify(514, {});
    Settle();
    EXPECT_FALSE(w().TrayIcon1->Active());
    EXPECT_TRUE(w().isVisible());
    EXPECT_FALSE(w().isMinimized());
}

TEST_F(MainFormTrayTest, WithoutANotificationAreaMinimisingOnlyMinimises) {
    trayAvailable = false;
    w().OnMiniToTray();
    Settle();
    EXPECT_FALSE(w().TrayIcon1->Active());
    EXPECT_TRUE(w().isVisible());
    EXPECT_TRUE(w().isMinimized());
}

// A scheduled run while in the tray leaves the window hidden and the icon
// in place.
TEST_F(MainFormTrayTest, ARunFromTheTrayLeavesTheIcon) {
    const auto host = root_ / "host";
    WriteFileText(host / "a.txt", "a");
    TaskRecord r = TaskRecord::MakeNew("d");
    r.set_host_path(host.string());
    r.set_mirror_path((root_ / "mirror").string());
    r.set_only_in_host_action(SyncAction::HostToMirror);
    w().Tasks().append("T", r);
    w().RefreshTaskList();
    w().OnMiniToTray();
    Settle();
    ASSERT_TRUE(w().TrayIcon1->Active());
    w().SelectTask(0);
    w().ScheduledRun = true;
    EXPECT_EQ(w().RunSelectedTask(), RunOutcome::Finished);
    w().ScheduledRun = false;
    Settle();
    EXPECT_TRUE(w().TrayIcon1->Active());
    EXPECT_EQ(w().TrayIcon1->calls().add, 1);
    EXPECT_FALSE(w().isVisible());
}

// The window's run connects a share root before anything else: one that
// cannot be reached shows message 108 and nothing runs (here no server
// listens; without a GVfs session the share cannot be handled at all, which
// ends the same way).
TEST_F(MainFormTrayTest, AnUnreachableShareShowsMessage108) {
    TaskRecord r = TaskRecord::MakeNew("d");
    r.set_host_path("//127.0.0.1:1/data");
    r.set_mirror_path((root_ / "mirror").string());
    r.set_only_in_host_action(SyncAction::HostToMirror);
    r.set_net_user("u");
    r.set_net_password("p");
    w().Tasks().append("Nas", r);
    w().RefreshTaskList();
    w().SelectTask(0);
    EXPECT_EQ(w().RunSelectedTask(), RunOutcome::Unreachable);
    // The box names the reason after the message, as the console does.
    ASSERT_EQ(boxes_.texts().size(), 1u);
    EXPECT_EQ(boxes_.texts()[0].rfind("Invalid net path, or Username, Password error!\nERROR: ", 0),
              0u)
        << boxes_.texts()[0];
    // The status line names the same reason.
    EXPECT_TRUE(w().StatusBar1->text().startsWith("Invalid net path"))
        << w().StatusBar1->text().toStdString();
    EXPECT_TRUE(w().StatusBar1->text().contains("ERROR: "));
    EXPECT_TRUE(w().Results.Lines().empty());
}

// The right-click menu: Open, Run ticked tasks, Pause / Resume schedules
// (named by what it will do), Quit; the tip names the next scheduled run,
// or that schedules are paused.
TEST_F(MainFormTrayTest, TheMenuOpensRunsPausesAndQuits) {
    bool paused = false;
    w().SchedulesPaused = [&] { return paused; };
    w().PauseSchedules = [&](bool p) { paused = p; };
    w().NextScheduledRun = [] { return std::string("2026-12-10 02:30:00"); };
    w().showMinimized();
    Settle();
    ASSERT_TRUE(w().TrayIcon1->Active());
    QStringList texts;
    for (QAction* a : w().TrayMenu->actions())
        if (!a->isSeparator())
            texts << a->text();
    EXPECT_EQ(texts, (QStringList{"Open", "Run ticked tasks", "Pause schedules", "Quit"}));
    w().UpdateTrayStatus();
    EXPECT_TRUE(w().TrayIcon1->StatusTip().contains("Next scheduled run: 2026-12-10 02:30:00"));

    w().TrayPause->trigger();
    EXPECT_TRUE(paused);
    emit w().TrayMenu->aboutToShow();
    EXPECT_EQ(w().TrayPause->text(), "Resume schedules");
    EXPECT_TRUE(w().TrayIcon1->StatusTip().contains("Schedules paused"));
    w().TrayPause->trigger();
    EXPECT_FALSE(paused);

    // Run ticked tasks with none ticked says so, as Go Sync does.
    w().TrayRun->trigger();
    EXPECT_EQ(boxes_.seen.size(), 1u);

    w().TrayOpen->trigger();
    Settle();
    EXPECT_FALSE(w().TrayIcon1->Active());
    EXPECT_TRUE(w().isVisible());
    w().Tasks().setChanged(false);
    w().TrayQuit->trigger();
    Settle();
    EXPECT_FALSE(w().isVisible());
}

} // namespace
} // namespace duplora
