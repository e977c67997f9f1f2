#pragma once
// Packed local file times (Age): high 16 bits the date ((year-1980) << 9 |
// month << 5 | day), low 16 bits the time (hour << 11 | minute << 5 |
// second / 2). Times before 1980-01-01 00:00:00 pack as that moment, times
// after 2107-12-31 23:59:58 as that one.

#include <cstdint>
#include <ctime>

namespace duplora {

constexpr std::int32_t kAgeMin = 0x00210000;                             // 1980-01-01 00:00:00
constexpr std::int32_t kAgeMax = static_cast<std::int32_t>(0xFF9FBF7DU); // 2107-12-31 23:59:58

// Packs a moment in local time. The UTC offset is cached per hour (checked
// at both ends of the hour), so a scan of 100,000 files with similar times
// calls localtime_r a handful of times instead of 100,000.
std::int32_t PackLocalTime(std::time_t t);
// Forgets the cached offset, so a changed time zone (TZ) is seen. Every scan
// starts with it.
void ResetLocalTimeCache();
// Packs fields of a local time directly (with the same clamping).
std::int32_t PackLocalFields(int year, int month, int day, int hour, int minute, int second);

// The packed value as wall-clock seconds since 1980-01-01 00:00:00, so the
// difference of two ages is exact whole seconds (no DST, no rounding).
std::int64_t AgeWallSeconds(std::int32_t age);
// Orders two ages by date and time (the packed value read unsigned: years
// from 2044 on set the top bit).
inline bool AgeLater(std::int32_t a, std::int32_t b) {
    return static_cast<std::uint32_t>(a) > static_cast<std::uint32_t>(b);
}

} // namespace duplora
