#include "schedule/ScheduleRecord.h"

#include <algorithm>
#include <cstring>

namespace duplora::schedule {

namespace {

constexpr std::size_t kName = 0;
constexpr std::size_t kTaskName = 16;
constexpr std::size_t kKind = 32;
constexpr std::size_t kWeekDay = 33;
constexpr std::size_t kRunTime = 34;
constexpr std::size_t kRepeatCount = 42;
constexpr std::size_t kNextRun = 44;
constexpr std::size_t kTextWidth = 16;
static_assert(kNextRun + 8 == ScheduleRecord::kSize);

std::string ReadText(const ScheduleRecord& r, std::size_t at) {
    const std::size_t n = std::min<std::size_t>(r.bytes[at], kTextWidth - 1);
    return std::string(reinterpret_cast<const char*>(r.bytes.data() + at + 1), n);
}

void WriteText(ScheduleRecord& r, std::size_t at, std::string_view s) {
    const std::string_view cut = Utf8Prefix(s, kTextWidth - 1);
    r.bytes[at] = static_cast<std::uint8_t>(cut.size());
    std::memcpy(r.bytes.data() + at + 1, cut.data(), cut.size());
}

// The build machine and the stored layout are both little-endian, so the
// bytes are the value (a static check in TaskRecord.cpp guards the same).
template <typename T> T Read(const ScheduleRecord& r, std::size_t at) {
    T v;
    std::memcpy(&v, r.bytes.data() + at, sizeof v);
    return v;
}

template <typename T> void Write(ScheduleRecord& r, std::size_t at, T v) {
    std::memcpy(r.bytes.data() + at, &v, sizeof v);
}

} // namespace

std::string name(const ScheduleRecord& r) {
    return ReadText(r, kName);
}
void set_name(ScheduleRecord& r, std::string_view s) {
    WriteText(r, kName, s);
}
std::string task_name(const ScheduleRecord& r) {
    return ReadText(r, kTaskName);
}
void set_task_name(ScheduleRecord& r, std::string_view s) {
    WriteText(r, kTaskName, s);
}
std::uint8_t kind(const ScheduleRecord& r) {
    return r.bytes[kKind];
}
void set_kind(ScheduleRecord& r, std::uint8_t k) {
    r.bytes[kKind] = k;
}
std::uint8_t week_day(const ScheduleRecord& r) {
    return r.bytes[kWeekDay];
}
void set_week_day(ScheduleRecord& r, std::uint8_t d) {
    r.bytes[kWeekDay] = d;
}
double run_time(const ScheduleRecord& r) {
    return Read<double>(r, kRunTime);
}
void set_run_time(ScheduleRecord& r, double days) {
    Write(r, kRunTime, days);
}
std::int16_t repeat_count(const ScheduleRecord& r) {
    return Read<std::int16_t>(r, kRepeatCount);
}
void set_repeat_count(ScheduleRecord& r, std::int16_t n) {
    Write(r, kRepeatCount, n);
}
double next_run(const ScheduleRecord& r) {
    return Read<double>(r, kNextRun);
}
void set_next_run(ScheduleRecord& r, double value) {
    Write(r, kNextRun, value);
}

ScheduleRecord MakeNew(std::string_view scheduleName) {
    ScheduleRecord r;
    set_name(r, scheduleName);
    set_repeat_count(r, -1);
    set_week_day(r, 1);
    set_run_time(r, 0.5);
    return r;
}

std::string NewName(const std::vector<ScheduleRecord>& list, std::string_view prefix) {
    // At most list.size() numbers are taken, so this ends by n = size + 1.
    for (std::size_t n = 1;; ++n) {
        const std::string candidate = std::string(prefix) + std::to_string(n);
        const bool taken = std::any_of(list.begin(), list.end(), [&](const ScheduleRecord& r) {
            return name(r) == candidate;
        });
        if (!taken)
            return std::string(Utf8Prefix(candidate, kNameCapacity));
    }
}

int FindByName(const std::vector<ScheduleRecord>& list, std::string_view wanted) {
    for (std::size_t i = 0; i < list.size(); ++i)
        if (name(list[i]) == wanted)
            return static_cast<int>(i);
    return -1;
}

} // namespace duplora::schedule
