#include "cli/HeadlessScheduler.h"

#include "cli/Interrupt.h"
#include "cli/RunTasks.h"
#include "schedule/HiResTim.h"
#include "schedule/Scheduler.h"
#include "sync/run/RunMarker.h"
#include "tasks/ConfigFile.h"
#include "tasks/FileLock.h"

#include <sys/stat.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <ostream>

namespace duplora::cli {

namespace {

namespace fs = std::filesystem;

// What tells a changed configuration file: a save writes a new file and
// renames it over the old one, so the inode changes even within one
// timestamp tick.
struct FileStamp {
    bool exists = false;
    ino_t inode = 0;
    off_t size = 0;
    timespec mtime{};
    bool operator==(const FileStamp& o) const {
        return exists == o.exists && inode == o.inode && size == o.size &&
               mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec;
    }
};

FileStamp StampOf(const std::string& path) {
    FileStamp s;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return s;
    s.exists = true;
    s.inode = st.st_ino;
    s.size = st.st_size;
    s.mtime = st.st_mtim;
    return s;
}

// The tick's way to the main thread: a flag under a mutex, set at most once
// per 2 s by the tick, and every tick while a stop is asked for.
struct Mailbox {
    std::mutex mutex;
    std::condition_variable cv;
    bool check = false;
    bool stop = false;
};

} // namespace

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
    if (!lock.Lock(SchedulerLockPath(configPath), false, error)) {
        if (error.find("locked by another process") != std::string::npos)
            err << "duplora-cli: another scheduler (the desktop program or duplora-cli "
                   "scheduler) runs the schedules of "
                << configPath << "; not starting a second one\n";
        else
            err << "duplora-cli: " << error << "\n";
        return 1;
    }

    TaskList list;
    FileStamp stamp = StampOf(configPath);
    if (LoadConfiguration(configPath, list, error) == LoadStatus::CannotOpen) {
        err << "duplora-cli: " << error << '\n';
        return 2;
    }
    std::vector<ScheduleRecord> lastRead = list.schedules();

    const SystemClock systemClock;
    const Clock& clock = options.clock ? *options.clock : systemClock;
    const std::function<bool()> stop =
        options.stop ? options.stop : std::function<bool()>(InterruptRequested);

    Scheduler scheduler;
    Mailbox mail;
    THiResTimer timer;
    timer.Interval = options.timerInterval;
    timer.Resolution = options.timerInterval;
    timer.OnTimer = [&](THiResTimer&) {
        const bool check = scheduler.Tick(RunInProgress().load() != 0);
        const bool stopping = stop();
        if (!check && !stopping)
            return;
        {
            std::lock_guard guard(mail.mutex);
            mail.check = mail.check || check;
            mail.stop = mail.stop || stopping;
        }
        mail.cv.notify_one();
    };
    try {
        timer.SetEnabled(true);
    } catch (const EHiResTimer& e) {
        err << "duplora-cli: " << e.what() << '\n';
        return 1;
    }
    err << "duplora-cli: scheduler running for " << configPath << " (" << list.schedules().size()
        << " schedules)\n";

    for (;;) {
        {
            std::unique_lock guard(mail.mutex);
            mail.cv.wait(guard, [&] { return mail.check || mail.stop; });
            if (mail.stop)
                break;
            mail.check = false;
        }

        const FileStamp now = StampOf(configPath);
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

        if (scheduler.Check(list.schedules(), clock.Now()) < 0)
            continue;
        bool scheduledRun = false;
        scheduler.Trigger(
            list.size(), [&](std::size_t i) -> std::string_view { return list[i].name; },
            [&](std::size_t i) {
                RunRequest request;
                request.start = RunStart::Schedule;
                request.tasks = {i};
                request.logPath = logPath;
                request.interrupted = stop;
                const RunInProgressScope marker;
                // A failed run is told by its own result lines; the scheduler
                // goes on either way.
                RunTasks(list, request, out, err);
            },
            scheduledRun);
        if (stop())
            break;
    }
    timer.SetEnabled(false);
    return 0;
}

} // namespace duplora::cli
