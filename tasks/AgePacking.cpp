// The packed local date-time (`Age`) and its conversions.

#include "tasks/Helpers.h"

#include "tasks/CivilDate.h"

namespace duplora {

namespace {

// Bounds of the packed form: the 7-bit year field counts from 1980.
constexpr int kMinYear = 1980;
constexpr int kMaxYear = 2107;
constexpr std::int32_t kMinAge = (0 << 25) | (1 << 21) | (1 << 16);
constexpr std::int32_t kMaxAge = static_cast<std::int32_t>(
    (127u << 25) | (12u << 21) | (31u << 16) | (23u << 11) | (59u << 5) | 29u);

struct Unpacked {
    int year, month, day, hour, minute, second;
};

Unpacked Unpack(std::int32_t age) {
    const std::uint32_t v = static_cast<std::uint32_t>(age);
    Unpacked u{};
    u.year = kMinYear + static_cast<int>((v >> 25) & 0x7F);
    u.month = static_cast<int>((v >> 21) & 0x0F);
    u.day = static_cast<int>((v >> 16) & 0x1F);
    u.hour = static_cast<int>((v >> 11) & 0x1F);
    u.minute = static_cast<int>((v >> 5) & 0x3F);
    u.second = static_cast<int>(v & 0x1F) * 2;
    // A corrupt value (month 0 or 13-15, day 0) is read as the nearest valid
    // month and day; a day past the month's end and an hour, minute or second
    // out of range roll over into the next unit.
    if (u.month < 1)
        u.month = 1;
    if (u.month > 12)
        u.month = 12;
    if (u.day < 1)
        u.day = 1;
    return u;
}

} // namespace

std::int32_t PackAgeTm(const std::tm& given) {
    std::tm local = given;
    // Fields out of their ranges (a month of 12, a 32nd day) are carried into
    // the next unit first, as mktime would, so they never spill into the
    // neighbouring bit fields. timegm does the carrying without any time zone.
    if (local.tm_mon < 0 || local.tm_mon > 11 || local.tm_mday < 1 || local.tm_mday > 31 ||
        local.tm_hour < 0 || local.tm_hour > 23 || local.tm_min < 0 || local.tm_min > 59 ||
        local.tm_sec < 0 || local.tm_sec > 60) {
        local.tm_isdst = 0;
        (void)timegm(&local);
    }
    const int year = local.tm_year + 1900;
    if (year < kMinYear)
        return kMinAge;
    if (year > kMaxYear)
        return kMaxAge;
    const std::uint32_t v = (static_cast<std::uint32_t>(year - kMinYear) << 25) |
                            (static_cast<std::uint32_t>(local.tm_mon + 1) << 21) |
                            (static_cast<std::uint32_t>(local.tm_mday) << 16) |
                            (static_cast<std::uint32_t>(local.tm_hour) << 11) |
                            (static_cast<std::uint32_t>(local.tm_min) << 5) |
                            // A leap second (60) packs as 30, still within 5 bits.
                            static_cast<std::uint32_t>(local.tm_sec / 2);
    return static_cast<std::int32_t>(v);
}

std::int32_t PackAge(std::time_t t) {
    std::tm local{};
    if (localtime_r(&t, &local) == nullptr)
        return t < 0 ? kMinAge : kMaxAge; // beyond what the C library can convert
    return PackAgeTm(local);
}

double AgeToDateTime(std::int32_t age) {
    const Unpacked u = Unpack(age);
    const std::int64_t days =
        DaysFromCivil(u.year, static_cast<unsigned>(u.month), static_cast<unsigned>(u.day)) +
        kDateTimeEpochDays;
    const double seconds = u.hour * 3600.0 + u.minute * 60.0 + u.second;
    return static_cast<double>(days) + seconds / 86400.0;
}

std::time_t AgeToTime(std::int32_t age) {
    const Unpacked u = Unpack(age);
    std::tm local{};
    local.tm_year = u.year - 1900;
    local.tm_mon = u.month - 1;
    local.tm_mday = u.day;
    local.tm_hour = u.hour;
    local.tm_min = u.minute;
    local.tm_sec = u.second;
    local.tm_isdst = -1; // let the C library decide daylight saving
    return std::mktime(&local);
}

} // namespace duplora
