// `duplora-cli schedule ...` in-process, and `duplora-cli scheduler` as the
// real program: a due schedule runs headless, a second scheduler is refused,
// a change of the file on disk is picked up, SIGTERM ends it with 0.

#include "TestPaths.h"
#include "cli/CliFixture.h"
#include "cli/HeadlessScheduler.h"
#include "schedule/DateTime.h"
#include "schedule/ScheduleRules.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <thread>

extern char** environ;

namespace duplora::test {
namespace {

using namespace std::chrono_literals;

TEST(CliSchedule, NewSetShowListDeleteFollowTheEditorRules) {
    CliFixture f;
    CliResult r = f.Cli({"schedule", "new", "--task", "Photos", "--every", "week", "--weekday",
                         "wednesday", "--time", "22:00:00", "--repeat", "3"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "Schedule 1\n");
    ASSERT_EQ(f.Cli({"schedule", "new", "Nightly", "--task", "Docs", "--every", "day"}).code, 0);
    ASSERT_EQ(f.Cli({"schedule", "new"}).code, 0); // "Schedule 2", interval 12:00:00

    r = f.Cli({"schedule", "show", "Schedule 1"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(HasText(r.out, "task_name: Photos\nkind: every-week\nweek_day: wednesday\n"
                               "run_time: 22:00:00\nrepeat_count: 3\nnext_run: "));
    const TaskList list = f.LoadList();
    ASSERT_EQ(list.schedules().size(), 3u);
    // The next-run rule was applied: a Wednesday at 22:00, within a week.
    const ScheduleRecord& weekly = list.schedules()[0];
    const double next = schedule::next_run(weekly);
    EXPECT_EQ(DayOfWeek(static_cast<std::int64_t>(std::floor(next))), 4);
    EXPECT_GT(next, SystemClock().Now());
    EXPECT_LE(next, SystemClock().Now() + 7.0);

    ASSERT_EQ(f.Cli({"schedule", "set", "Nightly", "--repeat", "0", "--name", "Off"}).code, 0);
    r = f.Cli({"schedule", "list"});
    const auto lines = CliFixture::Lines(r.out);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], "Off\tDocs\tevery-day\t12:00:00\t0\t-");
    EXPECT_EQ(lines[2].rfind("Schedule 2\t\tinterval\t12:00:00\t-1\t2", 0), 0u) << lines[2];

    ASSERT_EQ(f.Cli({"schedule", "delete", "Off"}).code, 0);
    EXPECT_EQ(f.LoadList().schedules().size(), 2u);
    EXPECT_EQ(f.Cli({"schedule", "show", "off"}).code, 2); // names match exactly
}

TEST(CliSchedule, RefusedValuesExitTwoNamingTheOptionAndChangeNothing) {
    CliFixture f;
    ASSERT_EQ(f.Cli({"schedule", "new", "S"}).code, 0);
    const std::string before = f.FileBytes(f.config);
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"schedule", "set", "S", "--time", "24:00:00"}, "--time"},
        {{"schedule", "set", "S", "--weekday", "8"}, "--weekday"},
        {{"schedule", "set", "S", "--repeat", "1000"}, "--repeat"},
        {{"schedule", "set", "S", "--repeat", "-2"}, "--repeat"},
        {{"schedule", "set", "S", "--every", "month"}, "--every"},
        {{"schedule", "new", "T", "--time", "7:60:00"}, "--time"},
        {{"schedule", "new", "S"}, "already exists"},
        {{"schedule", "set", "S"}, "no option"},
        {{"schedule", "set", "Nope", "--repeat", "1"}, "no schedule named"},
        {{"schedule", "next", "--at", "2026-02-30 10:00:00"}, "--at"},
    };
    for (const auto& [args, says] : cases) {
        const CliResult r = f.Cli(args);
        EXPECT_EQ(r.code, 2) << args.back();
        EXPECT_TRUE(HasText(r.err, says));
    }
    EXPECT_EQ(f.FileBytes(f.config), before);
}

TEST(CliSchedule, NextAtAGivenTimeAndDamagedRecordsShownAsStored) {
    CliFixture f;
    ASSERT_EQ(f.Cli({"schedule", "new", "D", "--every", "day", "--time", "08:00:00"}).code, 0);
    ASSERT_EQ(f.Cli({"schedule", "new", "Spent", "--repeat", "0"}).code, 0);
    CliResult r = f.Cli({"schedule", "next", "--at", "2026-12-09 08:00:00"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "D\t2026-12-10 08:00:00\n");
    r = f.Cli({"schedule", "next", "--at", "2026-12-09 07:59:59"});
    EXPECT_EQ(r.out, "D\t2026-12-09 08:00:00\n");

    TaskList list = f.LoadList();
    ScheduleRecord& bad = list.schedules()[0];
    schedule::set_kind(bad, std::uint8_t{7});
    schedule::set_week_day(bad, 9);
    schedule::set_next_run(bad, std::nan(""));
    bad.bytes[16] = 99; // task name length beyond its field
    std::string error;
    ASSERT_TRUE(SaveConfiguration(f.config, list, error)) << error;
    r = f.Cli({"schedule", "show", "D"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(HasText(r.out, "kind: 7\nweek_day: 9\n"));
    EXPECT_TRUE(HasText(r.out, "next_run: - (nan)"));
    EXPECT_EQ(f.Cli({"schedule", "next"}).out, "");
    EXPECT_EQ(f.Cli({"schedule", "list"}).code, 0);
}

TEST(HeadlessMerge, UnchangedRecordsKeepTheirStateChangedOnesComeFromTheFile) {
    auto make = [](const char* name, double next, int repeat) {
        ScheduleRecord r = schedule::MakeNew(name);
        schedule::set_next_run(r, next);
        schedule::set_repeat_count(r, static_cast<std::int16_t>(repeat));
        return r;
    };
    std::vector<ScheduleRecord> lastRead{make("A", 5000, 3), make("B", 5000, 3)};
    // Since the read, A ran once: its next run and count moved on in memory.
    const std::vector<ScheduleRecord> live{make("A", 5001, 2), lastRead[1]};
    // The file now has B changed and a new C in front.
    const std::vector<ScheduleRecord> fresh{make("C", 6000, 1), lastRead[0], make("B", 7000, 9)};
    const std::vector<ScheduleRecord> merged = cli::MergeReloadedSchedules(live, lastRead, fresh);
    ASSERT_EQ(merged.size(), 3u);
    EXPECT_EQ(merged[0], fresh[0]);
    EXPECT_EQ(merged[1], live[0]); // A did not run again because the file was re-read
    EXPECT_EQ(merged[2], fresh[2]);
    EXPECT_EQ(lastRead, fresh);
}

struct SchedulerProcess {
    pid_t pid = -1;
    std::string errPath, outPath;
    SchedulerProcess(const CliFixture& f, const std::string& name,
                     const std::vector<std::string>& extra = {})
        : errPath(f.tmp.sub(name + ".err")), outPath(f.tmp.sub(name + ".out")) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        std::vector<std::string> all = {DUPLORA_CLI_PATH, "--config", f.config,
                                        "--lang",         "en",       "scheduler"};
        all.insert(all.end(), extra.begin(), extra.end());
        std::vector<char*> argv;
        for (std::string& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        EXPECT_EQ(posix_spawn(&pid, DUPLORA_CLI_PATH, &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
    }
    ~SchedulerProcess() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    int Wait() {
        int status = 0;
        EXPECT_EQ(waitpid(pid, &status, 0), pid);
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (done())
            return true;
        std::this_thread::sleep_for(50ms);
    }
    return done();
}

// A schedule a few seconds from now, as `schedule new` would leave it.
void AddIntervalSchedule(const CliFixture& f, const std::string& name, const std::string& task,
                         int seconds) {
    ASSERT_EQ(f.Cli({"schedule", "new", name, "--task", task, "--every", "interval", "--time",
                     "00:00:0" + std::to_string(seconds), "--repeat", "1"})
                  .code,
              0);
}

TEST(CliScheduler, RunsDueSchedulesHeadlessOneSchedulerPerConfiguration) {
    CliFixture f;
    f.tmp.build(f.host, {{"a.txt", "alpha"}});
    fs::create_directories(f.mirror);
    f.NewOneWay("Photos");
    AddIntervalSchedule(f, "First", "Photos", 3);

    SchedulerProcess first(f, "first");
    ASSERT_TRUE(WaitFor(
        [&] { return f.FileBytes(first.errPath).find("running") != std::string::npos; }, 5s))
        << f.FileBytes(first.errPath);
    SchedulerProcess second(f, "second");
    EXPECT_EQ(second.Wait(), 1);
    EXPECT_TRUE(HasText(f.FileBytes(second.errPath), "another scheduler"));

    ASSERT_TRUE(WaitFor([&] { return fs::exists(f.mirror + "/a.txt"); }, 10s))
        << f.FileBytes(first.errPath);
    // The log is appended when the run ends, not when the scheduler stops.
    ASSERT_TRUE(
        WaitFor([&] { return f.FileBytes(f.log).find("Task finish!") != std::string::npos; }, 5s));
    EXPECT_TRUE(HasText(f.FileBytes(f.log), "Started by: schedule First\r\n"))
        << f.FileBytes(f.log);

    // A schedule added on disk while it runs is picked up.
    f.tmp.build(f.host, {{"b.txt", "beta"}});
    AddIntervalSchedule(f, "Second", "Photos", 3);
    ASSERT_TRUE(WaitFor([&] { return fs::exists(f.mirror + "/b.txt"); }, 12s))
        << f.FileBytes(first.errPath);

    kill(first.pid, SIGTERM);
    EXPECT_EQ(first.Wait(), 0);
    const std::string out = f.FileBytes(first.outPath);
    EXPECT_TRUE(HasText(out, "Start task: Photos"));
    EXPECT_TRUE(HasText(f.FileBytes(first.errPath), "configuration re-read"));
    // The lock died with the process: a new scheduler may start.
    SchedulerProcess third(f, "third");
    ASSERT_TRUE(WaitFor(
        [&] { return f.FileBytes(third.errPath).find("running") != std::string::npos; }, 5s));
    kill(third.pid, SIGINT);
    EXPECT_EQ(third.Wait(), 0);
}

// The systemd unit's way: with --wait a second scheduler waits for the lock
// instead of exiting with 1, takes over when the first one ends, and a
// signal ends it at once, also while it waits.
TEST(CliScheduler, WithWaitTheSecondSchedulerTakesOverWhenTheFirstEnds) {
    CliFixture f;
    auto says = [&](const SchedulerProcess& p, const char* text) {
        return WaitFor([&] { return f.FileBytes(p.errPath).find(text) != std::string::npos; }, 10s);
    };
    SchedulerProcess first(f, "first");
    ASSERT_TRUE(says(first, "running"));
    SchedulerProcess second(f, "second", {"--wait"});
    ASSERT_TRUE(says(second, "waiting until it ends"));
    SchedulerProcess third(f, "third", {"--wait"});
    ASSERT_TRUE(says(third, "waiting until it ends"));
    kill(third.pid, SIGINT);
    EXPECT_EQ(third.Wait(), 0);

    kill(first.pid, SIGTERM);
    EXPECT_EQ(first.Wait(), 0);
    ASSERT_TRUE(says(second, "running")) << f.FileBytes(second.errPath);
    kill(second.pid, SIGTERM);
    EXPECT_EQ(second.Wait(), 0);
}

} // namespace
} // namespace duplora::test
