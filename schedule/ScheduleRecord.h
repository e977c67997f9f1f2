#pragma once
// Named fields of the 52-byte schedule record (packed, little-endian, kept in
// memory exactly as the configuration file stores it). The offsets live only
// in ScheduleRecord.cpp:
//
//   0  16  name          length-prefixed UTF-8 text, at most 15 bytes
//   16 16  task_name     length-prefixed text: the task to run, exact match
//   32  1  kind          0 interval, 1 every day, 2 every week
//   33  1  week_day      1 Sunday .. 7 Saturday (every week only)
//   34  8  run_time      f64 days: the interval's length, or the time of day
//   42  2  repeat_count  i16: runs still to come; negative = no limit
//   44  8  next_run      f64 date-time value; 1000.0 or less = not set

#include "tasks/TaskList.h"
#include "tasks/TaskRules.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace duplora {

enum class ScheduleKind : std::uint8_t { Interval = 0, EveryDay = 1, EveryWeek = 2 };

namespace schedule {

constexpr std::size_t kNameCapacity = rules::kScheduleNameMaxBytes;
// Values at or below this mean "next run not set".
constexpr double kNotSet = 1000.0;

// Texts are cut to 15 bytes at a character boundary when written. A stored
// length byte above 15 reads as 15, so a damaged record never reads beyond
// its own field.
std::string name(const ScheduleRecord& r);
void set_name(ScheduleRecord& r, std::string_view s);
std::string task_name(const ScheduleRecord& r);
void set_task_name(ScheduleRecord& r, std::string_view s);

// The stored byte; values above 2 come only from damaged files.
std::uint8_t kind(const ScheduleRecord& r);
void set_kind(ScheduleRecord& r, std::uint8_t k);
inline void set_kind(ScheduleRecord& r, ScheduleKind k) {
    set_kind(r, static_cast<std::uint8_t>(k));
}
std::uint8_t week_day(const ScheduleRecord& r);
void set_week_day(ScheduleRecord& r, std::uint8_t d);
double run_time(const ScheduleRecord& r);
void set_run_time(ScheduleRecord& r, double days);
std::int16_t repeat_count(const ScheduleRecord& r);
void set_repeat_count(ScheduleRecord& r, std::int16_t n);
double next_run(const ScheduleRecord& r);
void set_next_run(ScheduleRecord& r, double value);

// A new schedule as the editor's Add makes it: every byte zero, then the
// given name, repeat_count -1, week_day 1 (Sunday), run_time 0.5 (12:00:00);
// so an interval with no task and next_run 0.0 (not active).
ScheduleRecord MakeNew(std::string_view scheduleName);

// The name Add gives: `prefix` (text 142 "Schedule ") followed by the first
// n = 1, 2, ... that no schedule's name equals exactly, cut to 15 bytes.
std::string NewName(const std::vector<ScheduleRecord>& list, std::string_view prefix);

// The first schedule whose name equals `wanted` exactly, or -1.
int FindByName(const std::vector<ScheduleRecord>& list, std::string_view wanted);

} // namespace schedule
} // namespace duplora
