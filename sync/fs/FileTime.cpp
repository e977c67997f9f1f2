#include "sync/fs/FileTime.h"

#include "tasks/CivilDate.h"

namespace duplora {

namespace {

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

struct OffsetCache {
    std::time_t hourStart = 0;
    long offset = 0;
    bool valid = false;
};
thread_local OffsetCache t_cache;

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
    t_cache.valid = false;
}

std::int32_t PackLocalTime(std::time_t t) {
    const std::time_t hourStart = static_cast<std::time_t>(FloorDiv(t, 3600) * 3600);
    if (!t_cache.valid || t_cache.hourStart != hourStart) {
        std::tm a{}, b{};
        const std::time_t hourEnd = hourStart + 3599;
        if (localtime_r(&hourStart, &a) && localtime_r(&hourEnd, &b) &&
            a.tm_gmtoff == b.tm_gmtoff) {
            t_cache = {hourStart, a.tm_gmtoff, true};
        } else {
            // The offset changes inside this hour: no shortcut.
            t_cache.valid = false;
            std::tm tm{};
            if (!localtime_r(&t, &tm))
                return t < 0 ? kAgeMin : kAgeMax;
            return PackLocalFields(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                                   tm.tm_min, tm.tm_sec);
        }
    }
    const std::int64_t local = static_cast<std::int64_t>(t) + t_cache.offset;
    const std::int64_t days = FloorDiv(local, 86400);
    const std::int64_t secs = local - days * 86400;
    int year = 0, month = 0, day = 0;
    CivilFromDays(days, year, month, day);
    return PackLocalFields(year, month, day, static_cast<int>(secs / 3600),
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
