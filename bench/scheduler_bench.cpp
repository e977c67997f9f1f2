// What the scheduler costs and how late it starts a run, measured on the real
// programs:
//   1. idle cost: `duplora-cli scheduler` (and, when its path is given, the
//      desktop program offscreen) for 60 s with 100 schedules, none due; the
//      process's user + system time from /proc as a share of one core.
//   2. start delay under load: 12 schedules, each due once at a known moment
//      7.3 s after the one before (so the moments fall at every phase of the
//      2 s check), with two busy processes competing for the cores; the
//      delay from each moment to its "Start task:" line on stdout.
//
//   scheduler_bench PATH/duplora-cli [PATH/duplora] [--seconds N]

#include "schedule/DateTime.h"
#include "schedule/ScheduleRecord.h"
#include "tasks/ConfigFile.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace duplora;

double WallNow() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// user + system seconds of a running process.
double CpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t close = text.rfind(')');
    std::istringstream rest(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14)
            utime = std::stoull(field);
        if (i == 15)
            stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv,
            int stdoutFd) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdoutFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> envStrings(extraEnv);
    for (char** e = environ; *e; ++e)
        envStrings.emplace_back(*e);
    std::vector<char*> env, argv;
    for (auto& s : envStrings)
        env.push_back(s.data());
    env.push_back(nullptr);
    std::vector<std::string> copy(args);
    for (auto& a : copy)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), env.data()) != 0) {
        std::perror("posix_spawn");
        std::exit(1);
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

void Stop(pid_t pid) {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

ScheduleRecord Schedule(const std::string& name, double nextRun, int repeat) {
    ScheduleRecord r = schedule::MakeNew(name);
    schedule::set_task_name(r, "T");
    schedule::set_kind(r, ScheduleKind::Interval);
    schedule::set_run_time(r, 1.0);
    schedule::set_repeat_count(r, static_cast<std::int16_t>(repeat));
    schedule::set_next_run(r, nextRun);
    return r;
}

TaskList TaskWith(const fs::path& dir) {
    TaskList list;
    TaskRecord t = TaskRecord::MakeNew("bench");
    fs::create_directories(dir / "host");
    fs::create_directories(dir / "mirror");
    std::ofstream(dir / "host" / "a.txt") << "a";
    t.set_host_path((dir / "host").string());
    t.set_mirror_path((dir / "mirror").string());
    t.set_newer_in_host_action(SyncAction::HostToMirror);
    list.append("T", t);
    return list;
}

void Save(const fs::path& config, TaskList& list) {
    std::string error;
    if (!SaveConfiguration(config.string(), list, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        std::exit(1);
    }
}

double IdleShare(const std::vector<std::string>& args, const std::vector<std::string>& env,
                 int seconds) {
    const pid_t pid = Spawn(args, env, -1);
    std::this_thread::sleep_for(std::chrono::seconds(2)); // start-up not counted
    const double before = CpuSeconds(pid);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double used = CpuSeconds(pid) - before;
    Stop(pid);
    return used / seconds;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PATH/duplora-cli [PATH/duplora] [--seconds N]\n", argv[0]);
        return 2;
    }
    const std::string cli = argv[1];
    std::string gui;
    int seconds = 60;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc)
            seconds = std::atoi(argv[++i]);
        else
            gui = argv[i];
    }
    const fs::path dir =
        fs::temp_directory_path() / ("duplora-sched-bench-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "home");
    const fs::path config = dir / "home" / "Duplora.cfg";

    // 1. Idle: 100 schedules a year away.
    TaskList idle = TaskWith(dir);
    const double later = SystemClock().Now() + 365;
    for (int i = 0; i < 100; ++i)
        idle.schedules().push_back(Schedule("S" + std::to_string(i), later, -1));
    Save(config, idle);
    const double cliShare = IdleShare({cli, "--config", config.string(), "scheduler"}, {}, seconds);
    std::printf("idle, duplora-cli scheduler, %d s: %.3f%% of one core\n", seconds, cliShare * 100);
    if (!gui.empty()) {
        const double guiShare = IdleShare(
            {gui}, {"QT_QPA_PLATFORM=offscreen", "DUPLORA_HOME=" + (dir / "home").string()},
            seconds);
        std::printf("idle, duplora (offscreen window), %d s: %.3f%% of one core\n", seconds,
                    guiShare * 100);
    }

    // 2. Delay under load.
    const int count = 12;
    const double gap = 7.3;
    TaskList timed = TaskWith(dir);
    std::vector<double> moments; // wall-clock seconds
    const double wall0 = WallNow() + 6.0;
    const double local0 = LocalDateTimeFromEpoch(
        static_cast<std::time_t>(wall0), static_cast<long>((wall0 - std::floor(wall0)) * 1e9));
    for (int i = 0; i < count; ++i) {
        moments.push_back(wall0 + i * gap);
        timed.schedules().push_back(
            Schedule("D" + std::to_string(i), local0 + i * gap / 86400.0, 1));
    }
    Save(config, timed);
    std::vector<pid_t> load;
    for (int i = 0; i < 2; ++i) {
        const pid_t p = fork();
        if (p == 0)
            for (;;)
                asm volatile("" ::: "memory"); // a busy core the optimiser keeps
        load.push_back(p);
    }
    int fds[2];
    if (pipe(fds) != 0)
        return 1;
    const pid_t pid = Spawn({cli, "--config", config.string(), "scheduler"}, {}, fds[1]);
    close(fds[1]);
    // A moment the scheduler never reaches in time is skipped (overdue), so
    // reading ends 15 s after the last moment whatever came.
    std::vector<double> delays;
    std::string pending;
    const double giveUp = moments.back() + 15.0;
    while (delays.size() < moments.size() && WallNow() < giveUp) {
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 500) <= 0)
            continue;
        char buf[4096];
        const ssize_t n = read(fds[0], buf, sizeof buf);
        if (n <= 0)
            break;
        const double now = WallNow();
        pending.append(buf, static_cast<std::size_t>(n));
        for (std::size_t nl; (nl = pending.find('\n')) != std::string::npos;
             pending.erase(0, nl + 1)) {
            if (pending.compare(0, 11, "Start task:") != 0)
                continue;
            // The latest moment already passed is the one this run belongs to.
            double moment = moments[0];
            for (double m : moments)
                if (m <= now)
                    moment = m;
            delays.push_back(now - moment);
        }
    }
    Stop(pid);
    close(fds[0]);
    for (pid_t p : load) {
        kill(p, SIGKILL);
        waitpid(p, nullptr, 0);
    }
    fs::remove_all(dir);
    if (delays.empty()) {
        std::printf("no run started\n");
        return 1;
    }
    std::vector<double> sorted = delays;
    std::sort(sorted.begin(), sorted.end());
    std::printf("start delay under load, %zu of %d runs: median %.3f s, max %.3f s, min %.3f s\n",
                delays.size(), count, sorted[sorted.size() / 2], sorted.back(), sorted.front());
    return 0;
}
