// The next-run rule, the due test and the take-due step at the moments where
// they change their answer, plus damaged records and real daylight-saving days.
#include "schedule/ScheduleRules.h"
#include "schedule/DateTime.h"
#include "schedule/Scheduler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

namespace duplora {
namespace {

using schedule::Due;

double At(int y, int mo, int d, int h, int mi, int s, int ms = 0) {
    return EncodeDateTime({y, mo, d, h, mi, s, ms});
}
double Time(int h, int mi, int s) {
    return EncodeDateTime({1899, 12, 30, h, mi, s, 0});
}

ScheduleRecord Make(ScheduleKind kind, double runTime, int weekDay = 1, int repeat = -1) {
    ScheduleRecord r = schedule::MakeNew("S");
    schedule::set_kind(r, kind);
    schedule::set_run_time(r, runTime);
    schedule::set_week_day(r, static_cast<std::uint8_t>(weekDay));
    schedule::set_repeat_count(r, static_cast<std::int16_t>(repeat));
    return r;
}

double NextAt(ScheduleRecord r, double now) {
    schedule::ApplyNextRun(r, now);
    return schedule::next_run(r);
}

TEST(DateTime, EncodesDecodesAndNamesWeekDays) {
    EXPECT_DOUBLE_EQ(At(1899, 12, 30, 12, 0, 0), 0.5);
    EXPECT_DOUBLE_EQ(At(2026, 3, 7, 0, 0, 0), 46088.0);
    LocalDateTime t;
    ASSERT_TRUE(DecodeDateTime(At(2026, 12, 9, 23, 59, 59, 999), t));
    EXPECT_EQ(t.year * 10000 + t.month * 100 + t.day, 20261209);
    EXPECT_EQ(t.hour * 10000 + t.minute * 100 + t.second, 235959);
    EXPECT_EQ(t.millisecond, 999);
    EXPECT_EQ(DayOfWeek(0), 7); // 1899-12-30 Saturday
    EXPECT_EQ(DayOfWeek(1), 1); // Sunday
    EXPECT_EQ(DayOfWeek(static_cast<std::int64_t>(At(2026, 12, 9, 0, 0, 0))), 4); // Wednesday
    EXPECT_EQ(FormatDateTime(0.0, true), "1899-12-30");
    EXPECT_EQ(FormatDateTime(At(2026, 1, 2, 3, 4, 5)), "2026-01-02 03:04:05");
    EXPECT_EQ(FormatDateTime(std::nan("")), "nan");
    EXPECT_EQ(FormatTimeOfDay(Time(22, 0, 0)), "22:00:00");

    double v = 0;
    EXPECT_TRUE(ParseTimeOfDay(" 8:05:09", v));
    EXPECT_DOUBLE_EQ(v, Time(8, 5, 9));
    for (const char* bad : {"24:00:00", "12:60:00", "12:00:60", "  :  :  ", "12:00", "a:00:00"})
        EXPECT_FALSE(ParseTimeOfDay(bad, v)) << bad;
    EXPECT_TRUE(ParseDateTime("2024-02-29 23:59:59", v));
    EXPECT_FALSE(ParseDateTime("2026-02-29 10:00:00", v));
    EXPECT_FALSE(ParseDateTime("2026-12-09 24:00:00", v));
}

TEST(NextRunRule, EveryKindAtItsTurningPoints) {
    const ScheduleRecord daily = Make(ScheduleKind::EveryDay, Time(8, 0, 0));
    EXPECT_DOUBLE_EQ(NextAt(daily, At(2026, 12, 9, 7, 59, 59)), At(2026, 12, 9, 8, 0, 0));
    EXPECT_DOUBLE_EQ(NextAt(daily, At(2026, 12, 9, 8, 0, 0)), At(2026, 12, 10, 8, 0, 0));
    EXPECT_DOUBLE_EQ(NextAt(daily, At(2026, 12, 9, 23, 0, 0)), At(2026, 12, 10, 8, 0, 0));

    // 2026-12-09 is a Wednesday (4); the 7th a Monday, the 10th a Thursday.
    const ScheduleRecord weekly = Make(ScheduleKind::EveryWeek, Time(10, 0, 0), 4);
    EXPECT_DOUBLE_EQ(NextAt(weekly, At(2026, 12, 9, 9, 0, 0)), At(2026, 12, 9, 10, 0, 0));
    EXPECT_DOUBLE_EQ(NextAt(weekly, At(2026, 12, 9, 10, 0, 0)), At(2026, 12, 16, 10, 0, 0));
    EXPECT_DOUBLE_EQ(NextAt(weekly, At(2026, 12, 10, 1, 0, 0)), At(2026, 12, 16, 10, 0, 0));
    EXPECT_DOUBLE_EQ(NextAt(weekly, At(2026, 12, 7, 23, 0, 0)), At(2026, 12, 9, 10, 0, 0));

    const ScheduleRecord hourly = Make(ScheduleKind::Interval, Time(1, 0, 0));
    EXPECT_NEAR(NextAt(hourly, At(2026, 12, 9, 13, 20, 5)), At(2026, 12, 9, 14, 20, 5), 1e-9);
    const double now = At(2026, 12, 9, 13, 20, 5);
    EXPECT_DOUBLE_EQ(NextAt(Make(ScheduleKind::Interval, 0.0), now), now);
}

TEST(DueTest, WindowEdgesAndInactiveRecords) {
    ScheduleRecord r = Make(ScheduleKind::EveryDay, 0.5);
    EXPECT_EQ(schedule::TestDue(r, At(2026, 12, 9, 12, 0, 0)), Due::NotActive); // new: 0.0
    schedule::set_next_run(r, At(2026, 12, 9, 12, 0, 0));
    EXPECT_EQ(schedule::TestDue(r, At(2026, 12, 9, 11, 59, 59, 999)), Due::NotYetDue);
    EXPECT_EQ(schedule::TestDue(r, At(2026, 12, 9, 12, 0, 0)), Due::Due);
    EXPECT_EQ(schedule::TestDue(r, At(2026, 12, 9, 12, 0, 4, 300)), Due::Due);
    EXPECT_EQ(schedule::TestDue(r, At(2026, 12, 9, 12, 0, 4, 400)), Due::Overdue);
    schedule::set_repeat_count(r, 0);
    EXPECT_EQ(schedule::TestDue(r, At(2026, 12, 9, 12, 0, 0)), Due::NotActive);
}

TEST(TakeDue, CountsZeroOneAndUnlimited) {
    const double noon = At(2026, 12, 9, 12, 0, 1);
    for (int start : {1, -1, 5}) {
        ScheduleRecord r = Make(ScheduleKind::EveryDay, 0.5, 1, start);
        schedule::set_next_run(r, At(2026, 12, 9, 12, 0, 0));
        Scheduler s;
        std::vector<ScheduleRecord> list{r};
        EXPECT_EQ(s.Check(list, noon), 0) << start;
        EXPECT_EQ(schedule::repeat_count(list[0]), start > 0 ? start - 1 : start);
        EXPECT_DOUBLE_EQ(schedule::next_run(list[0]), At(2026, 12, 10, 12, 0, 0));
        // Still in the list; a spent one is inactive from now on.
        EXPECT_EQ(schedule::TestDue(list[0], At(2026, 12, 10, 12, 0, 0)),
                  start == 1 ? Due::NotActive : Due::Due);
    }
}

// Records a damaged file can hold: shown, never due, never re-armed, and a
// check over them ends.
TEST(DamagedRecords, AreNeverDue) {
    const double now = At(2026, 12, 9, 12, 0, 1);
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<ScheduleRecord> list;
    auto add = [&](auto change) {
        ScheduleRecord r = Make(ScheduleKind::EveryWeek, 0.5, 4);
        schedule::set_next_run(r, At(2026, 12, 9, 12, 0, 0));
        change(r);
        list.push_back(r);
    };
    add([](ScheduleRecord& r) { schedule::set_kind(r, std::uint8_t{3}); });
    add([](ScheduleRecord& r) { schedule::set_kind(r, std::uint8_t{255}); });
    add([](ScheduleRecord& r) { schedule::set_week_day(r, 0); });
    add([](ScheduleRecord& r) { schedule::set_week_day(r, 8); });
    add([](ScheduleRecord& r) { schedule::set_run_time(r, std::nan("")); });
    add([&](ScheduleRecord& r) { schedule::set_run_time(r, inf); });
    add([](ScheduleRecord& r) { schedule::set_next_run(r, std::nan("")); });
    add([&](ScheduleRecord& r) { schedule::set_next_run(r, -inf); });
    const std::vector<ScheduleRecord> before = list;
    Scheduler s;
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(s.Check(list, now + i * 2.0 / 86400), -1);
    EXPECT_EQ(list, before);

    ScheduleRecord longName;
    longName.bytes[0] = 200; // length byte beyond the field
    std::memset(longName.bytes.data() + 1, 'x', 15);
    EXPECT_EQ(schedule::name(longName), std::string(15, 'x'));
}

TEST(Names, AddNumbersTheFirstFreeName) {
    std::vector<ScheduleRecord> list{schedule::MakeNew("Schedule 1"),
                                     schedule::MakeNew("Schedule 3")};
    EXPECT_EQ(schedule::NewName(list, "Schedule "), "Schedule 2");
    list.push_back(schedule::MakeNew("Schedule 2"));
    EXPECT_EQ(schedule::NewName(list, "Schedule "), "Schedule 4");
    ScheduleRecord r = schedule::MakeNew("a name far longer than fifteen");
    EXPECT_EQ(schedule::name(r), "a name far long");
    EXPECT_EQ(schedule::run_time(r), 0.5);
    EXPECT_EQ(schedule::repeat_count(r), -1);
    EXPECT_EQ(schedule::week_day(r), 1);
    EXPECT_EQ(schedule::next_run(r), 0.0);
}

// Runs the 2-second check through a day of the real Europe/Berlin zone, with
// Now read from the system clock's conversion as the program reads it.
class BerlinDay : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        saved_ = tz ? tz : "";
        hadTz_ = tz != nullptr;
        setenv("TZ", "Europe/Berlin", 1);
        tzset();
        if (LocalDateTimeFromEpoch(1774746000, 0) != At(2026, 3, 29, 3, 0, 0))
            GTEST_SKIP() << "no Europe/Berlin zone data (tzdata) on this machine";
    }
    void TearDown() override {
        if (hadTz_)
            setenv("TZ", saved_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    // Checks every 2 s of system time from `from` for `seconds`; returns the
    // local moments at which the schedule was taken.
    static std::vector<double> Checks(std::vector<ScheduleRecord>& list, std::time_t from,
                                      int seconds) {
        Scheduler s;
        std::vector<double> taken;
        for (std::time_t t = from; t < from + seconds; t += 2) {
            const double now = LocalDateTimeFromEpoch(t, 0);
            if (s.Check(list, now) >= 0) {
                taken.push_back(now);
                s.ClearPending();
            }
        }
        return taken;
    }

private:
    std::string saved_;
    bool hadTz_ = false;
};

// 2026-03-29 01:00 UTC: local 02:00 becomes 03:00. 2026-10-25 01:00 UTC:
// local 03:00 becomes 02:00.
constexpr std::time_t kSpringChange = 1774746000;
constexpr std::time_t kAutumnChange = 1792890000;

TEST_F(BerlinDay, SpringRunsTheMissingHourOnceAutumnRunsOnce) {
    std::vector<ScheduleRecord> list{Make(ScheduleKind::EveryDay, Time(2, 30, 0)),
                                     Make(ScheduleKind::EveryDay, Time(8, 0, 0))};
    for (auto& r : list)
        schedule::ApplyNextRun(r, LocalDateTimeFromEpoch(kSpringChange - 3 * 3600, 0));
    // 02:30 never comes that night: it runs at the first check after the
    // change (local 03:00), once, and moves to the 30th.
    const std::vector<double> spring = Checks(list, kSpringChange - 3 * 3600, 12 * 3600);
    ASSERT_EQ(spring.size(), 2u);
    EXPECT_NEAR(spring[0], At(2026, 3, 29, 3, 0, 0), 2.5 / 86400);
    EXPECT_NEAR(spring[1], At(2026, 3, 29, 8, 0, 0), 2.5 / 86400);
    EXPECT_DOUBLE_EQ(schedule::next_run(list[0]), At(2026, 3, 30, 2, 30, 0));
    EXPECT_DOUBLE_EQ(schedule::next_run(list[1]), At(2026, 3, 30, 8, 0, 0));

    for (auto& r : list)
        schedule::ApplyNextRun(r, LocalDateTimeFromEpoch(kAutumnChange - 3 * 3600, 0));
    // 02:30 comes twice; the first one moves the schedule to the 26th.
    const std::vector<double> autumn = Checks(list, kAutumnChange - 3 * 3600, 12 * 3600);
    ASSERT_EQ(autumn.size(), 2u);
    EXPECT_NEAR(autumn[0], At(2026, 10, 25, 2, 30, 0), 2.5 / 86400);
    EXPECT_NEAR(autumn[1], At(2026, 10, 25, 8, 0, 0), 2.5 / 86400);
    EXPECT_DOUBLE_EQ(schedule::next_run(list[0]), At(2026, 10, 26, 2, 30, 0));
    EXPECT_DOUBLE_EQ(schedule::next_run(list[1]), At(2026, 10, 26, 8, 0, 0));
}

} // namespace
} // namespace duplora
