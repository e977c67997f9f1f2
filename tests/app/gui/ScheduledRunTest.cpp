// The real desktop program runs a schedule that falls due a few seconds after
// it starts, quietly, and writes the run to the log when it is closed; and a
// window that finds another scheduler on its configuration runs none.
#include "../../ui/WindowTestSupport.h"
#include "TestPaths.h"
#include "platform/widgets/TrayIcon.h"
#include "schedule/DateTime.h"
#include "schedule/ScheduleRules.h"
#include "tasks/ConfigFile.h"
#include "tasks/FileLock.h"
#include "tasks/TextTable.h"
#include "ui/MainForm.h"
#include "ui/TaskU.h"
#include "ui/WidgetTexts.h"

#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

#include <chrono>
#include <csignal>
#include <thread>

namespace duplora::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(ScheduledRun, TheRealProgramRunsADueScheduleAndLogsIt) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const fs::path root = dir.path().toStdString();
    const fs::path home = root / "home", host = root / "host", mirror = root / "mirror";
    WriteFileText(host / "a.txt", "alpha");
    fs::create_directories(mirror);
    fs::create_directories(root / "registry");

    TaskList list;
    TaskRecord r = TaskRecord::MakeNew("test");
    r.set_host_path(host.string());
    r.set_mirror_path(mirror.string());
    r.set_only_in_host_action(SyncAction::HostToMirror);
    list.append("Photos", r);
    ScheduleRecord s = schedule::MakeNew("Soon");
    schedule::set_task_name(s, "Photos");
    schedule::set_repeat_count(s, 1);
    // Due 4 s from now: after the first check (2 s after the window shows),
    // caught by the second or third.
    schedule::set_next_run(s, SystemClock().Now() + 4.0 / 86400);
    list.schedules().push_back(s);
    std::string error;
    fs::create_directories(home);
    ASSERT_TRUE(SaveConfiguration((home / "Duplora.cfg").string(), list, error)) << error;

    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DUPLORA_HOME", QString::fromStdString(home.string()));
    env.insert("DUPLORA_REGISTRY_DIR", QString::fromStdString((root / "registry").string()));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("LANG", "C.UTF-8");
    env.remove("LC_ALL");
    env.remove("LC_MESSAGES");
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(DUPLORA_GUI_PATH), {});
    ASSERT_TRUE(p.waitForStarted(10000));
    const auto end = std::chrono::steady_clock::now() + 20s;
    while (!fs::exists(mirror / "a.txt") && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(fs::exists(mirror / "a.txt")) << "the schedule did not run";
    std::this_thread::sleep_for(1500ms); // the run's summary and its end
    kill(static_cast<pid_t>(p.processId()), SIGTERM);
    if (!p.waitForFinished(20000)) {
        p.kill();
        p.waitForFinished();
        FAIL() << "the program did not close on SIGTERM";
    }
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(ReadFileText(mirror / "a.txt"), "alpha");
    const std::string log = ReadFileText(home / "duplora.log");
    EXPECT_NE(log.find("Start task: Photos\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Task finish!\r\n"), std::string::npos) << log;
}

class WindowScheduler : public WindowsFixture {};

TEST_F(WindowScheduler, AnotherSchedulerOnTheConfigurationMeansNoneHere) {
    FileLock other;
    std::string error;
    const std::string config = (root_ / "home" / "Duplora.cfg").string();
    ASSERT_TRUE(other.Lock(SchedulerLockPath(config), false, error)) << error;
    StartScheduler(*windows_);
    EXPECT_FALSE(windows_->HiTimer.Enabled());
    EXPECT_EQ(windows_->cltForm->StatusBar1->text(), QMsg(160));

    other.Unlock();
    StartScheduler(*windows_);
    EXPECT_TRUE(windows_->HiTimer.Enabled());
    EXPECT_TRUE(windows_->schedulerLock.Held());
}

// The window's own trigger: the check in fmTask posts 1287, every task of the
// schedule's name runs quietly (ticked or not), and the flag and the pending
// name are clear afterwards.
TEST_F(WindowScheduler, ADueScheduleRunsEveryTaskOfItsNameQuietly) {
    TcltForm& main = *windows_->cltForm;
    const fs::path host = root_ / "host", mirror = root_ / "mirror";
    WriteFileText(host / "a.txt", "alpha");
    fs::create_directories(mirror);
    TaskRecord r = TaskRecord::MakeNew("d");
    r.set_host_path(host.string());
    r.set_mirror_path(mirror.string());
    r.set_only_in_host_action(SyncAction::HostToMirror);
    main.Tasks().append("Photos", r);
    main.Tasks().append("Other", TaskRecord::MakeNew("d"));
    main.Tasks().append("Photos", r);
    main.RefreshTaskList();
    ScheduleRecord s = schedule::MakeNew("Now");
    schedule::set_task_name(s, "Photos");
    schedule::set_next_run(s, SystemClock().Now() - 1.0 / 86400);
    main.Tasks().schedules().push_back(s);

    windows_->fmTask->OnCheckSche();
    EXPECT_TRUE(windows_->scheduler.Pending());
    QCoreApplication::processEvents(); // 1287 reaches the main window
    EXPECT_EQ(ReadFileText(mirror / "a.txt"), "alpha");
    std::size_t starts = 0;
    for (const std::string& line : main.Results.Lines())
        starts += line.find("Start task: Photos") != std::string::npos;
    EXPECT_EQ(starts, 2u);
    EXPECT_TRUE(boxes_.seen.empty()); // quiet: the second run's message 55 is not shown
    EXPECT_FALSE(windows_->scheduler.Pending());
    EXPECT_FALSE(main.ScheduledRun);
    EXPECT_FALSE(main.Tasks().changed());
}

// A schedule that fires while another task is being edited runs its own
// task from its record: the selection and the field being typed stay, the
// rest of the typing lands in the edited task. The run's block (naming the
// schedule) is in the log at once, the list shows the task's last run, and
// a failed unattended run is told by the tray, not a box.
TEST_F(WindowScheduler, AScheduledRunLeavesTheEditedTaskAloneAndIsLoggedAtOnce) {
    TcltForm& main = *windows_->cltForm;
    const fs::path host = root_ / "host", mirror = root_ / "mirror";
    WriteFileText(host / "a.txt", "alpha");
    fs::create_directories(mirror);
    TaskRecord r = TaskRecord::MakeNew("photos");
    r.set_host_path(host.string());
    r.set_mirror_path(mirror.string());
    r.set_only_in_host_action(SyncAction::HostToMirror);
    main.Tasks().append("Docs", TaskRecord::MakeNew("docs"));
    main.Tasks().append("Photos", r);
    TaskRecord broken = r;
    broken.set_host_path((root_ / "gone").string());
    broken.set_only_in_mirror_action(SyncAction::Delete);
    main.Tasks().append("Gone", broken);
    main.RefreshTaskList();
    main.SelectTask(0);
    main.edDesc->moveCursor(QTextCursor::End);
    QTest::keyClicks(main.edDesc, " abc");

    std::vector<QString> balloons;
    main.ShowBalloon = [&](const QString&, const QString& text) { balloons.push_back(text); };
    for (const char* task : {"Photos", "Gone"}) {
        ScheduleRecord s = schedule::MakeNew(task == std::string("Photos") ? "Nightly" : "Later");
        schedule::set_task_name(s, task);
        schedule::set_next_run(s, SystemClock().Now() - 1.0 / 86400);
        main.Tasks().schedules() = {s};
        windows_->fmTask->OnCheckSche();
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(ReadFileText(mirror / "a.txt"), "alpha");
    EXPECT_EQ(main.CurrentIndex(), 0);
    EXPECT_EQ(main.liTask->currentRow(), 0);
    QTest::keyClicks(main.edDesc, "def");
    EXPECT_EQ(main.Tasks()[0].record.description(), "docs abcdef");
    EXPECT_EQ(main.Tasks()[1].record.description(), "photos");

    // In the log before the program ends, each block naming its start.
    const std::string log = ReadFileText(root_ / "home" / "duplora.log");
    const std::size_t photos = log.find("Started by: schedule Nightly\r\n");
    ASSERT_NE(photos, std::string::npos) << log;
    EXPECT_LT(photos, log.find("Start task: Photos\r\n"));
    EXPECT_LT(log.find("Start task: Photos\r\n"), log.find("Task finish!\r\n"));
    EXPECT_NE(log.find("Started by: schedule Later\r\n"), std::string::npos) << log;
    EXPECT_TRUE(main.UnloggedLines().empty());

    const TcltForm::LastRun* last = main.LastRunOf("Photos");
    ASSERT_NE(last, nullptr);
    EXPECT_TRUE(last->Report.Succeeded());
    EXPECT_EQ(last->Report.CopiedToMirror, 1);
    EXPECT_TRUE(main.liTask->item(1)->toolTip().contains("copied 1, deleted 0, moved 0, failed 0"))
        << main.liTask->item(1)->toolTip().toStdString();
    EXPECT_EQ(main.LastRunOf("Docs"), nullptr);
    EXPECT_EQ(main.lbLastRun->text(), QMsg(246)); // Docs: not run yet
    main.SelectTask(1);
    EXPECT_TRUE(main.lbLastRun->text().startsWith("Last run "))
        << main.lbLastRun->text().toStdString();

    // The failed one: a balloon, no box, and the tray marked until opened.
    ASSERT_EQ(balloons.size(), 1u);
    EXPECT_TRUE(balloons[0].contains("Gone")) << balloons[0].toStdString();
    EXPECT_TRUE(boxes_.seen.empty());
    EXPECT_TRUE(main.TrayShowsError());
    EXPECT_TRUE(main.TrayIcon1->StatusTip().contains("Gone"))
        << main.TrayIcon1->StatusTip().toStdString();
    main.TrayIcon1Click();
    EXPECT_FALSE(main.TrayShowsError());
}

} // namespace
} // namespace duplora::testing
