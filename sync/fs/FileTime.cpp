#include "sync/fs/FileTime.h"

#include "tasks/CivilDate.h"

#include <array>

namespace duplora {

namespace {

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

// The local time's offset from UTC over whole days (UTC days): a day whose
// first and last second have the same offset keeps it throughout, as no time
// zone changes its offset twice within a day. Files of a tree cluster in
// days, so a few dozen days serve almost every file of a scan; the slot is the
// day number's low bits. A day in which the offset changes is not kept.
struct OffsetDay {
    std::int64_t day = 0;
    long offset = 0;
    bool valid = false;
};
constexpr std::size_t kOffsetDays = 64;
thread_local std::array<OffsetDay, kOffsetDays> t_days;

} // namespace

std::int32_t PackLocalFields(int year, int month, int day, int hour, int minute, int second) {
    if (year < 1980)
        return kAgeMin;
    if (year > 2107)
        return kAgeMax;
    const std::uint32_t date =
        static_cast<std::uint32_t>(((year - 1980) << 9) | (month << 5) | day);
    const std::uint32_t time =
        static_cast<std::uint32_t>((hour << 11) | (minute << 5) | (second / 2));
    return static_cast<std::int32_t>((date << 16) | time);
}

void ResetLocalTimeCache() {
    tzset();
    t_days = {};
}

std::int32_t PackLocalTime(std::time_t t) {
    const std::int64_t day = FloorDiv(t, 86400);
    OffsetDay& known = t_days[static_cast<std::size_t>(day) % kOffsetDays];
    if (!known.valid || known.day != day) {
        std::tm a{}, b{};
        const auto dayStart = static_cast<std::time_t>(day * 86400);
        const std::time_t dayEnd = dayStart + 86399;
        if (localtime_r(&dayStart, &a) && localtime_r(&dayEnd, &b) && a.tm_gmtoff == b.tm_gmtoff) {
            known = {day, a.tm_gmtoff, true};
        } else {
            // The offset changes on this day: no shortcut.
            known.valid = false;
            std::tm tm{};
            if (!localtime_r(&t, &tm))
                return t < 0 ? kAgeMin : kAgeMax;
            return PackLocalFields(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                                   tm.tm_min, tm.tm_sec);
        }
    }
    const std::int64_t local = static_cast<std::int64_t>(t) + known.offset;
    const std::int64_t days = FloorDiv(local, 86400);
    const std::int64_t secs = local - days * 86400;
    int year = 0, month = 0, mday = 0;
    CivilFromDays(days, year, month, mday);
    return PackLocalFields(year, month, mday, static_cast<int>(secs / 3600),
                           static_cast<int>(secs / 60 % 60), static_cast<int>(secs % 60));
}

std::int64_t AgeWallSeconds(std::int32_t age) {
    const std::uint32_t v = static_cast<std::uint32_t>(age);
    const unsigned date = v >> 16;
    const unsigned time = v & 0xFFFF;
    const std::int64_t days =
        DaysFromCivil(1980 + (date >> 9), (date >> 5) & 15, date & 31) - DaysFromCivil(1980, 1, 1);
    return days * 86400 + (time >> 11) * 3600 + ((time >> 5) & 63) * 60 + (time & 31) * 2;
}

} // namespace duplora
