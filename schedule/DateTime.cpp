#include "schedule/DateTime.h"

#include "tasks/CivilDate.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace duplora {

namespace {

// Far beyond year 9999 (2958465) but small enough that days * kMsPerDay fits.
constexpr double kMaxDays = 1.0e7;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

std::string Number(double value) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%g", value);
    return buf;
}

bool ReadField(std::string_view text, int& value) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    if (text.empty() || text.size() > 4)
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return true;
}

bool ReadTime(std::string_view text, int& h, int& m, int& s) {
    const std::size_t a = text.find(':');
    const std::size_t b = a == std::string_view::npos ? a : text.find(':', a + 1);
    if (b == std::string_view::npos || text.find(':', b + 1) != std::string_view::npos)
        return false;
    if (!ReadField(text.substr(0, a), h) || !ReadField(text.substr(a + 1, b - a - 1), m) ||
        !ReadField(text.substr(b + 1), s))
        return false;
    return h <= 23 && m <= 59 && s <= 59;
}

} // namespace

double EncodeDateTime(const LocalDateTime& t) {
    const std::int64_t day =
        DaysFromCivil(t.year, static_cast<unsigned>(t.month), static_cast<unsigned>(t.day)) +
        kDateTimeEpochDays;
    const std::int64_t ms =
        ((static_cast<std::int64_t>(t.hour) * 60 + t.minute) * 60 + t.second) * 1000 +
        t.millisecond;
    return static_cast<double>(day) + static_cast<double>(ms) / static_cast<double>(kMsPerDay);
}

bool DateTimeMs(double value, std::int64_t& ms) {
    if (!std::isfinite(value) || std::fabs(value) > kMaxDays)
        return false;
    ms = std::llround(value * static_cast<double>(kMsPerDay));
    return true;
}

bool DecodeDateTime(double value, LocalDateTime& out) {
    std::int64_t ms = 0;
    if (!DateTimeMs(value, ms))
        return false;
    const std::int64_t day = FloorDiv(ms, kMsPerDay);
    std::int64_t rest = ms - day * kMsPerDay;
    int y = 0, mo = 0, d = 0;
    CivilFromDays(day - kDateTimeEpochDays, y, mo, d);
    if (y < 1 || y > 9999)
        return false;
    out.year = y;
    out.month = mo;
    out.day = d;
    out.millisecond = static_cast<int>(rest % 1000);
    rest /= 1000;
    out.second = static_cast<int>(rest % 60);
    rest /= 60;
    out.minute = static_cast<int>(rest % 60);
    out.hour = static_cast<int>(rest / 60);
    return true;
}

int DayOfWeek(std::int64_t day) {
    // Day 0 (1899-12-30) was a Saturday (7), day 1 a Sunday (1).
    return static_cast<int>(((day % 7) + 7 + 6) % 7) + 1;
}

double LocalDateTimeFromEpoch(std::time_t seconds, long nanoseconds) {
    std::tm tm{};
    localtime_r(&seconds, &tm);
    LocalDateTime t;
    t.year = tm.tm_year + 1900;
    t.month = tm.tm_mon + 1;
    t.day = tm.tm_mday;
    t.hour = tm.tm_hour;
    t.minute = tm.tm_min;
    t.second = tm.tm_sec > 59 ? 59 : tm.tm_sec; // a leap second stays in its minute
    t.millisecond = static_cast<int>(nanoseconds / 1'000'000);
    return EncodeDateTime(t);
}

bool EpochFromLocalDateTime(double value, std::time_t& out) {
    LocalDateTime t;
    if (!DecodeDateTime(value, t))
        return false;
    std::tm tm{};
    tm.tm_year = t.year - 1900;
    tm.tm_mon = t.month - 1;
    tm.tm_mday = t.day;
    tm.tm_hour = t.hour;
    tm.tm_min = t.minute;
    tm.tm_sec = t.second;
    tm.tm_isdst = -1;
    const std::time_t r = std::mktime(&tm);
    if (r == static_cast<std::time_t>(-1))
        return false;
    out = r;
    return true;
}

double SystemClock::Now() const {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return LocalDateTimeFromEpoch(ts.tv_sec, ts.tv_nsec);
}

std::string FormatDateTime(double value, bool omitMidnight) {
    LocalDateTime t;
    if (!DecodeDateTime(value, t))
        return Number(value);
    char buf[32];
    // Whole seconds, rounded down: a moment is shown as the second it falls in.
    if (omitMidnight && t.hour == 0 && t.minute == 0 && t.second == 0 && t.millisecond == 0)
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", t.year, t.month, t.day);
    else
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day,
                      t.hour, t.minute, t.second);
    return buf;
}

std::string FormatTimeOfDay(double value) {
    if (!std::isfinite(value) || std::fabs(value) > kMaxDays)
        return Number(value);
    std::int64_t s = std::llround((value - std::floor(value)) * 86400.0);
    s %= 86400;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", static_cast<int>(s / 3600),
                  static_cast<int>(s / 60 % 60), static_cast<int>(s % 60));
    return buf;
}

bool ParseTimeOfDay(std::string_view text, double& out) {
    int h = 0, m = 0, s = 0;
    if (!ReadTime(text, h, m, s))
        return false;
    LocalDateTime t;
    t.hour = h;
    t.minute = m;
    t.second = s;
    out = EncodeDateTime(t);
    return true;
}

bool ParseDateTime(std::string_view text, double& out) {
    const std::size_t space = text.find(' ');
    const std::string_view date = text.substr(0, space);
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    if (date.size() != 10 || date[4] != '-' || date[7] != '-' || !ReadField(date.substr(0, 4), y) ||
        !ReadField(date.substr(5, 2), mo) || !ReadField(date.substr(8, 2), d))
        return false;
    if (y < 1 || mo < 1 || mo > 12 || d < 1)
        return false;
    // The day must exist in that month: it survives the round trip.
    int ry = 0, rm = 0, rd = 0;
    CivilFromDays(DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)), ry, rm,
                  rd);
    if (ry != y || rm != mo || rd != d)
        return false;
    if (space != std::string_view::npos && !ReadTime(text.substr(space + 1), h, mi, s))
        return false;
    out = EncodeDateTime({y, mo, d, h, mi, s, 0});
    return true;
}

} // namespace duplora
