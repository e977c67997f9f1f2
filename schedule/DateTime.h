#pragma once
// The date-time value of schedules and reports: an IEEE double counting days
// since 1899-12-30 00:00 local time. The whole part is the date, the fraction
// the time of day; week days run 1 = Sunday .. 7 = Saturday.
//
// The value is local wall-clock time, so a daily 08:00 stays at 08:00 on both
// sides of a daylight-saving change; the conversions to and from the system
// clock go through the C library's time-zone rules (TZ).

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace duplora {

constexpr std::int64_t kMsPerDay = 86'400'000;

struct LocalDateTime {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};

// No range check: callers pass valid calendar values.
double EncodeDateTime(const LocalDateTime& t);
// False for a value that is not finite or lies outside the years 1..9999.
bool DecodeDateTime(double value, LocalDateTime& out);
// The value rounded to whole milliseconds; false when it is not finite or too
// large to count (|value| above about 10 million days).
bool DateTimeMs(double value, std::int64_t& ms);
// 1 Sunday .. 7 Saturday of a day number (1899-12-30 was a Saturday).
int DayOfWeek(std::int64_t day);

// A moment of the system clock as a local date-time value.
double LocalDateTimeFromEpoch(std::time_t seconds, long nanoseconds);
// The system-clock second a local date-time value names (the earlier one of
// an hour the autumn change repeats); false when it names no moment.
bool EpochFromLocalDateTime(double value, std::time_t& out);

// Where the rules read Now; tests pass one they set themselves.
class Clock {
public:
    virtual ~Clock() = default;
    virtual double Now() const = 0;
};

class SystemClock : public Clock {
public:
    double Now() const override;
};

// "yyyy-mm-dd hh:mm:ss". With `omitMidnight` a time of exactly 00:00:00 is
// left out. A value that is no date ("nan", "inf", far out of range) is
// printed as the number it is.
std::string FormatDateTime(double value, bool omitMidnight = false);
// The time-of-day part as "hh:mm:ss" (the fraction of a day, rounded to the
// second); a value that is not finite prints as the number it is.
std::string FormatTimeOfDay(double value);
// "h:mm:ss" or "hh:mm:ss", hours 0..23, minutes and seconds 0..59; spaces
// around the digits of a field are allowed (a masked field leaves them).
bool ParseTimeOfDay(std::string_view text, double& out);
// "yyyy-mm-dd hh:mm:ss" (or "yyyy-mm-dd", midnight), a real calendar date.
bool ParseDateTime(std::string_view text, double& out);

} // namespace duplora
