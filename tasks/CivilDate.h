#pragma once
// Days since 1970-01-01 of a proleptic Gregorian date, and back, without
// time-zone tables (the scanner converts every file time with these).

#include <cstdint>

namespace duplora {

constexpr std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

constexpr void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(y + (month <= 2));
}

// Day 0 of the date-time value (1899-12-30) lies this many days before
// 1970-01-01; the schedule's moments and the packed file times both count
// from it.
constexpr std::int64_t kDateTimeEpochDays = -DaysFromCivil(1899, 12, 30);

static_assert(DaysFromCivil(1970, 1, 1) == 0);
static_assert(kDateTimeEpochDays == 25569);
static_assert(DaysFromCivil(1980, 1, 1) == 3652);

} // namespace duplora
