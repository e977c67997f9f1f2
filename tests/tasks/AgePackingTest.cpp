#include "tasks/Helpers.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace duplora;

namespace {

std::tm Local(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    std::tm t{};
    t.tm_year = y - 1900;
    t.tm_mon = mo - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    t.tm_sec = s;
    return t;
}

// Runs the test body in a fixed zone so that local-time results are known.
class AgePacking : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        hadTz_ = tz != nullptr;
        if (hadTz_)
            oldTz_ = tz;
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
    void TearDown() override {
        if (hadTz_)
            ::setenv("TZ", oldTz_.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
    bool hadTz_ = false;
    std::string oldTz_;
};

} // namespace

TEST_F(AgePacking, BitLayout) {
    // 2026-03-07 13:45:58 -> year 46, month 3, day 7 / hour 13, minute 45, 29.
    const std::uint32_t expect =
        (46u << 25) | (3u << 21) | (7u << 16) | (13u << 11) | (45u << 5) | 29u;
    EXPECT_EQ(static_cast<std::uint32_t>(PackAgeTm(Local(2026, 3, 7, 13, 45, 58))), expect);
    EXPECT_EQ(PackAgeTm(Local(2026, 3, 7, 13, 45, 59)), PackAgeTm(Local(2026, 3, 7, 13, 45, 58)));
    // Out-of-range fields carry instead of spilling into other bit fields.
    EXPECT_EQ(PackAgeTm(Local(2025, 13, 1)), PackAgeTm(Local(2026, 1, 1)));
    EXPECT_EQ(PackAgeTm(Local(2026, 1, 1, 24)), PackAgeTm(Local(2026, 1, 2)));
}

TEST_F(AgePacking, ClampedToTheRepresentableRange) {
    const std::int32_t min = PackAgeTm(Local(1980, 1, 1));
    const std::int32_t max = PackAgeTm(Local(2107, 12, 31, 23, 59, 58));
    EXPECT_EQ(PackAge(0), min); // 1970
    EXPECT_EQ(PackAge(-100000), min);
    EXPECT_EQ(PackAgeTm(Local(1979, 12, 31, 23, 59, 59)), min);
    EXPECT_EQ(PackAgeTm(Local(2108, 1, 1)), max);
    EXPECT_EQ(PackAge(std::time_t{1} << 40), max);
    EXPECT_EQ(AgeToTime(min), 315532800); // 1980-01-01 00:00:00 UTC
    EXPECT_EQ(static_cast<std::uint32_t>(max) >> 25, 127u);
}

TEST_F(AgePacking, ConversionsAgree) {
    const std::time_t t = 1772891158; // 2026-03-07 13:45:58 UTC
    const std::int32_t age = PackAge(t);
    EXPECT_EQ(AgeToTime(age), t);
    EXPECT_EQ(AgeToTime(PackAge(t + 1)), t); // rounded down to even seconds
    // 2026-03-07 is day 46088 after 1899-12-30.
    EXPECT_DOUBLE_EQ(AgeToDateTime(age), 46088.0 + (13 * 3600 + 45 * 60 + 58) / 86400.0);
    EXPECT_DOUBLE_EQ(AgeToDateTime(PackAgeTm(Local(1980, 1, 1))), 29221.0);
    EXPECT_DOUBLE_EQ(AgeToDateTime(PackAgeTm(Local(2000, 2, 29, 12))), 36585.5);
}

TEST_F(AgePacking, CorruptValuesGiveADateNotACrash) {
    // Month 0 and day 0 read as 1; month 15 as 12.
    const std::int32_t zeroDate = 0;
    EXPECT_DOUBLE_EQ(AgeToDateTime(zeroDate), 29221.0);
    const std::int32_t month15 = static_cast<std::int32_t>((10u << 25) | (15u << 21) | (1u << 16));
    EXPECT_DOUBLE_EQ(AgeToDateTime(month15), AgeToDateTime(PackAgeTm(Local(1990, 12, 1))));
    EXPECT_NE(AgeToTime(-1), static_cast<std::time_t>(-1));
}
