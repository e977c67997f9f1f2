#pragma once
// `duplora-cli scheduler`: the window's scheduler without a window.
//
//   take the scheduler lock (another scheduler holds it: exit 1, or with
//   --wait ask again every 2 s until it is free)
//   load the configuration
//   sleep until the next check, 2 s apart (no timer thread, one wake-up
//   per check): re-read the file if it changed ─ check ─ run what is due
//   (quiet runs, result lines to stdout, log appended per run)
//   SIGINT / SIGTERM: the sleep ends, a current run is cancelled, exit 0

#include "schedule/DateTime.h"
#include "tasks/TaskList.h"

#include <functional>
#include <iosfwd>
#include <string>

namespace duplora::cli {

struct HeadlessOptions {
    const Clock* clock = nullptr; // null: the system clock
    bool waitForLock = false;     // wait for another scheduler to end, not exit 1
};

int RunHeadlessScheduler(const std::string& configPath, const std::string& logPath,
                         const HeadlessOptions& options, std::ostream& out, std::ostream& err);

// What a re-read of the configuration does to the schedules kept in memory:
// a record the file still holds exactly as it was last read keeps its
// in-memory state (next run, count lowered by runs since); a new or changed
// record is taken as the file has it. `lastRead` becomes `fresh`.
std::vector<ScheduleRecord> MergeReloadedSchedules(const std::vector<ScheduleRecord>& live,
                                                   std::vector<ScheduleRecord>& lastRead,
                                                   const std::vector<ScheduleRecord>& fresh);

} // namespace duplora::cli
