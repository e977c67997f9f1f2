#include "schedule/ScheduleRules.h"

#include "schedule/DateTime.h"

#include <cmath>

namespace duplora::schedule {

bool Usable(const ScheduleRecord& r) {
    const std::uint8_t k = kind(r);
    if (k > static_cast<std::uint8_t>(ScheduleKind::EveryWeek))
        return false;
    if (k == static_cast<std::uint8_t>(ScheduleKind::EveryWeek) &&
        (week_day(r) < 1 || week_day(r) > 7))
        return false;
    std::int64_t ms = 0;
    return DateTimeMs(run_time(r), ms) && std::isfinite(next_run(r));
}

void ApplyNextRun(ScheduleRecord& r, double now) {
    std::int64_t nowMs = 0, runMs = 0;
    if (!Usable(r) || !DateTimeMs(now, nowMs) || !DateTimeMs(run_time(r), runMs))
        return;
    const double rt = run_time(r);
    std::int64_t today = nowMs / kMsPerDay;
    if (nowMs % kMsPerDay < 0)
        --today;
    const std::int64_t timeNowMs = nowMs - today * kMsPerDay;
    const double todayValue = static_cast<double>(today);
    switch (static_cast<ScheduleKind>(kind(r))) {
    case ScheduleKind::Interval:
        set_next_run(r, now + rt);
        break;
    case ScheduleKind::EveryDay:
        set_next_run(r, todayValue + rt + (timeNowMs >= runMs ? 1.0 : 0.0));
        break;
    case ScheduleKind::EveryWeek: {
        const int d = DayOfWeek(today);
        const int w = week_day(r);
        int ahead = w - d;
        if (ahead < 0)
            ahead += 7;
        else if (ahead == 0 && timeNowMs >= runMs)
            ahead = 7;
        set_next_run(r, todayValue + ahead + rt);
        break;
    }
    }
}

namespace {

// True when the local clock jumped forward over `next` during the last few
// real seconds before `now`: the spring change skips the hour `next` lies in.
// A moment missed while the machine slept or the program was not running
// lies further back than these seconds and stays missed.
bool ClockJumpedOver(double next, double now) {
    constexpr std::time_t kLookBackSeconds = 5;
    constexpr double kJumpDays = 60.0 / 86400.0;
    std::time_t epoch = 0;
    if (!EpochFromLocalDateTime(now, epoch))
        return false;
    const double before = LocalDateTimeFromEpoch(epoch - kLookBackSeconds, 0);
    return before < next && now - before > kJumpDays;
}

} // namespace

Due TestDue(const ScheduleRecord& r, double now) {
    const double next = next_run(r);
    // Written so that a NaN next_run counts as not set.
    if (!(next > kNotSet) || repeat_count(r) == 0 || !Usable(r))
        return Due::NotActive;
    if (now < next)
        return Due::NotYetDue;
    if (now - kDueWindow >= next)
        return ClockJumpedOver(next, now) ? Due::Due : Due::Overdue;
    return Due::Due;
}

void TakeDue(ScheduleRecord& r, double now) {
    ApplyNextRun(r, now);
    const std::int16_t n = repeat_count(r);
    if (n > 0)
        set_repeat_count(r, static_cast<std::int16_t>(n - 1));
}

} // namespace duplora::schedule
