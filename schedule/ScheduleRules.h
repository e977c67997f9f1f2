#pragma once
// The next-run rule, the due test and the take-due step: pure computations on
// one schedule record and the moment Now (a local date-time value), so the
// scheduler, the editor and the console program share them and tests set Now.

#include "schedule/ScheduleRecord.h"

namespace duplora::schedule {

// 0.00005 day = 4.32 s: more than twice the 2 s check period, so every moment
// is seen by two checks and the first of them takes it.
constexpr double kDueWindow = 0.00005;

enum class Due { NotActive, NotYetDue, Due, Overdue };

// A record the rules can act on: a known kind, a week day 1..7 for a weekly
// one, finite times. Anything else comes from a damaged file; it is shown as
// it is but never falls due and is never re-armed.
bool Usable(const ScheduleRecord& r);

// Rewrites next_run from Now; nothing else changes.
//   interval:   Now + run_time (counted from now, not from the last next_run)
//   every day:  today + run_time, tomorrow when that time has been reached
//   every week: the next day that is week_day at run_time; on week_day
//               itself today, or a week later when the time has been reached
// The time of day is compared in whole milliseconds, so 08:00:00.000 counts
// as reached however the two doubles round. An unusable record is left as it
// is.
void ApplyNextRun(ScheduleRecord& r, double now);

// Not active: next_run not set, repeat_count 0, or an unusable record.
// Due: next_run <= now < next_run + kDueWindow; overdue after the window,
// except at the first checks after the local clock jumped forward over
// next_run (a time inside the hour the spring change skips): that moment is
// due once, as if it had come.
Due TestDue(const ScheduleRecord& r, double now);
inline bool Active(const ScheduleRecord& r) {
    return TestDue(r, 0.0) != Due::NotActive;
}

// For a record the scheduler takes: the next-run rule first (so interval runs
// are spaced from the moment each was triggered), then a positive count goes
// down by one. A count that reaches 0 leaves the record inactive in the list.
void TakeDue(ScheduleRecord& r, double now);

} // namespace duplora::schedule
