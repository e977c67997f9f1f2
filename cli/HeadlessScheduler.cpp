#include "cli/HeadlessScheduler.h"

#include "cli/Interrupt.h"
#include "cli/RunTasks.h"
#include "schedule/ScheduleRecord.h"
#include "schedule/Scheduler.h"
#include "sync/run/RunMarker.h"
#include "tasks/ConfigEdit.h"
#include "tasks/ConfigFile.h"
#include "tasks/FileLock.h"

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <ostream>

namespace duplora::cli {

namespace fs = std::filesystem;

std::vector<ScheduleRecord> MergeReloadedSchedules(const std::vector<ScheduleRecord>& live,
                                                   std::vector<ScheduleRecord>& lastRead,
                                                   const std::vector<ScheduleRecord>& fresh) {
    std::vector<ScheduleRecord> merged;
    merged.reserve(fresh.size());
    std::vector<bool> used(lastRead.size(), false);
    for (const ScheduleRecord& r : fresh) {
        std::size_t j = 0;
        while (j < lastRead.size() && (used[j] || !(lastRead[j] == r)))
            ++j;
        if (j < lastRead.size() && j < live.size()) {
            used[j] = true;
            merged.push_back(live[j]);
        } else {
            merged.push_back(r);
        }
    }
    lastRead = fresh;
    return merged;
}

int RunHeadlessScheduler(const std::string& configPath, const std::string& logPath,
                         const HeadlessOptions& options, std::ostream& out, std::ostream& err) {
    // The lock file lies beside the configuration, whose folder a fresh
    // installation may not have made yet.
    std::error_code ec;
    const fs::path folder = fs::path(configPath).parent_path();
    if (!folder.empty())
        fs::create_directories(folder, ec);
    FileLock lock;
    std::string error;
    bool waitingTold = false;
    while (!lock.Lock(SchedulerLockPath(configPath), false, error)) {
        if (error.find("locked by another process") == std::string::npos) {
            err << "duplora-cli: " << error << "\n";
            return 1;
        }
        if (!options.waitForLock) {
            err << "duplora-cli: another scheduler (the desktop program or duplora-cli "
                   "scheduler) runs the schedules of "
                << configPath << "; not starting a second one\n";
            return 1;
        }
        if (!waitingTold) {
            err << "duplora-cli: another scheduler (the desktop program or duplora-cli "
                   "scheduler) runs the schedules of "
                << configPath << "; waiting until it ends\n";
            waitingTold = true;
        }
        // The lock is asked for again at the pace of the checks: a
        // scheduler that waits costs no more than one that runs.
        if (WaitForInterrupt(std::chrono::steady_clock::now() + Scheduler::kCheckEvery))
            return 0;
    }

    TaskList list;
    // A save writes a new file and renames it over the old one, so the stamp
    // (ConfigEdit.h) changes even within one tick of the file times.
    ConfigStamp stamp = StampOf(configPath);
    if (LoadConfiguration(configPath, list, error) == LoadStatus::CannotOpen) {
        err << "duplora-cli: " << error << '\n';
        return 2;
    }
    std::vector<ScheduleRecord> lastRead = list.schedules();

    const SystemClock systemClock;
    const Clock& clock = options.clock ? *options.clock : systemClock;

    // No timer thread: the main thread sleeps until the next check the
    // scheduler's steady-clock rule gives (the window's 20 ms timer asks the
    // same rule), so an idle scheduler wakes once per check. A signal ends
    // the sleep at once.
    Scheduler scheduler;
    scheduler.Tick(false);
    err << "duplora-cli: scheduler running for " << configPath << " (" << list.schedules().size()
        << " schedules)\n";

    for (;;) {
        if (WaitForInterrupt(scheduler.NextCheck()))
            break;
        if (!scheduler.Tick(false))
            continue;

        const ConfigStamp now = StampOf(configPath);
        if (!(now == stamp)) {
            TaskList fresh;
            if (LoadConfiguration(configPath, fresh, error) == LoadStatus::CannotOpen) {
                // Half-written or unreadable for a moment: keep what is known
                // and look again at the next check.
                err << "duplora-cli: " << error << "; keeping the schedules read before\n";
            } else {
                stamp = now;
                std::vector<ScheduleRecord> merged =
                    MergeReloadedSchedules(list.schedules(), lastRead, fresh.schedules());
                list = std::move(fresh);
                list.schedules() = std::move(merged);
                err << "duplora-cli: configuration re-read (" << list.schedules().size()
                    << " schedules)\n";
            }
        }

        const int taken = scheduler.Check(list.schedules(), clock.Now());
        if (taken < 0)
            continue;
        const std::string scheduleName =
            schedule::name(list.schedules()[static_cast<std::size_t>(taken)]);
        bool scheduledRun = false;
        scheduler.Trigger(
            list.size(), [&](std::size_t i) -> std::string_view { return list[i].name; },
            [&](std::size_t i) {
                RunRequest request;
                request.start = RunStart::Schedule;
                request.schedule = scheduleName;
                request.tasks = {i};
                request.logPath = logPath;
                request.interrupted = InterruptRequested;
                const RunInProgressScope marker;
                // A failed run is told by its own result lines; the scheduler
                // goes on either way.
                RunTasks(list, request, out, err);
            },
            scheduledRun);
        // A check that fell due during the run is skipped, as the window's
        // timer skips it while a run is in progress.
        scheduler.Tick(true);
        if (InterruptRequested())
            break;
    }
    return 0;
}

} // namespace duplora::cli
