// The tick, the check and the trigger over a schedule list, task names and a
// clock the test moves, with no window.
#include "schedule/Scheduler.h"
#include "schedule/DateTime.h"
#include "schedule/ScheduleRules.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace duplora {
namespace {

const double kNoon = EncodeDateTime({2026, 12, 9, 12, 0, 0, 0});
constexpr double kSecond = 1.0 / 86400;

ScheduleRecord DueAt(const std::string& task, double when, int repeat = -1) {
    ScheduleRecord r = schedule::MakeNew(task);
    schedule::set_task_name(r, task);
    schedule::set_kind(r, ScheduleKind::EveryDay);
    schedule::set_run_time(r, when - static_cast<double>(static_cast<long long>(when)));
    schedule::set_repeat_count(r, static_cast<std::int16_t>(repeat));
    schedule::set_next_run(r, when);
    return r;
}

// The window's side of the trigger: rows with names, a log of what ran.
struct Rows {
    explicit Rows(std::vector<std::string> n) : names(std::move(n)) {}
    std::vector<std::string> names;
    std::vector<std::string> ran;
    bool scheduled = false;
    std::size_t Trigger(Scheduler& s, const std::function<void(std::size_t)>& extra = {}) {
        return s.Trigger(
            names.size(), [this](std::size_t i) -> std::string_view { return names[i]; },
            [&](std::size_t i) {
                EXPECT_TRUE(scheduled);
                ran.push_back(names[i] + "#" + std::to_string(i));
                if (extra)
                    extra(i);
            },
            scheduled);
    }
};

// The check period is steady time: regular ticks, a starved timer whose calls
// come 700 ms apart, a stall of 7 s, and a run covering one due check.
TEST(SchedulerTick, ChecksEveryTwoSecondsOfSteadyTime) {
    struct Case {
        const char* what;
        std::vector<int> ticks; // ms after the timer started
        int busyFrom, busyTo;   // a run in progress
        std::vector<int> checks;
    };
    auto every = [](int from, int to, int step) {
        std::vector<int> v;
        for (int t = from; t <= to; t += step)
            v.push_back(t);
        return v;
    };
    std::vector<int> stalled = every(20, 2000, 20);
    for (int t : every(9000, 13000, 20))
        stalled.push_back(t);
    const std::vector<Case> cases{
        {"regular", every(20, 10000, 20), 5020, 7000, {2000, 4000, 8000, 10000}},
        {"starved", every(700, 7000, 700), 0, -1, {2800, 4900, 7000}},
        {"stall", stalled, 0, -1, {2000, 9000, 11000, 13000}},
    };
    for (const Case& c : cases) {
        Scheduler s;
        const Scheduler::SteadyClock::time_point start{std::chrono::hours(1)};
        std::vector<int> posted;
        for (int t : c.ticks) {
            const bool busy = t >= c.busyFrom && t <= c.busyTo;
            if (s.Tick(busy, start + std::chrono::milliseconds(t)))
                posted.push_back(t);
        }
        EXPECT_EQ(posted, c.checks) << c.what;
    }
}

TEST(SchedulerCheck, TakesOneDueScheduleAndMovesOverdueOnes) {
    std::vector<ScheduleRecord> list{
        DueAt("Late", kNoon - 60 * kSecond), // overdue: moved on, not run
        DueAt("A", kNoon),                   // two due at once: the first is taken
        DueAt("B", kNoon),
        DueAt("Later", kNoon - 60 * kSecond), // after the taken one: untouched this time
    };
    Scheduler s;
    EXPECT_EQ(s.Check(list, kNoon + kSecond), 1);
    EXPECT_EQ(s.PendingName(), "A");
    EXPECT_DOUBLE_EQ(schedule::next_run(list[0]), kNoon - 60 * kSecond + 1);
    EXPECT_DOUBLE_EQ(schedule::next_run(list[1]), kNoon + 1);
    EXPECT_DOUBLE_EQ(schedule::next_run(list[3]), kNoon - 60 * kSecond);
    // While the trigger is pending no further schedule is taken.
    EXPECT_EQ(s.Check(list, kNoon + 2 * kSecond), -1);
    EXPECT_DOUBLE_EQ(schedule::next_run(list[2]), kNoon);

    // B is taken by the next check if its run request came back in time...
    Rows rows({"A"});
    rows.Trigger(s);
    EXPECT_EQ(s.Check(list, kNoon + 4 * kSecond), 2);
    EXPECT_EQ(s.PendingName(), "B");
    s.ClearPending();
    // ...and once its window has passed it is moved on without a run.
    std::vector<ScheduleRecord> late{DueAt("B", kNoon)};
    EXPECT_EQ(s.Check(late, kNoon + 5 * kSecond), -1);
    EXPECT_DOUBLE_EQ(schedule::next_run(late[0]), kNoon + 1);
}

TEST(SchedulerCheck, FirstCheckAfterAManualRunSkipsWhatFellInsideIt) {
    // An interval of 10 s and a run of 60 s: the moments inside the run are
    // overdue at the first check after it; the next run is one interval on.
    ScheduleRecord r = DueAt("T", kNoon);
    schedule::set_kind(r, ScheduleKind::Interval);
    schedule::set_run_time(r, 10 * kSecond);
    std::vector<ScheduleRecord> list{r};
    Scheduler s;
    ASSERT_EQ(s.Check(list, kNoon), 0);
    s.ClearPending();
    const double after = kNoon + 62 * kSecond;
    EXPECT_EQ(s.Check(list, after), -1);
    EXPECT_NEAR(schedule::next_run(list[0]), after + 10 * kSecond, 1e-9);
}

TEST(SchedulerTrigger, RunsEveryRowOfTheNameInOrderTickedOrNot) {
    std::vector<ScheduleRecord> list{DueAt("Photos", kNoon, 1)};
    Scheduler s;
    ASSERT_EQ(s.Check(list, kNoon), 0);
    Rows rows({"Photos", "photos", "Docs", "Photos"}); // exact, case-sensitive
    EXPECT_EQ(rows.Trigger(s), 2u);
    EXPECT_EQ(rows.ran, (std::vector<std::string>{"Photos#0", "Photos#3"}));
    EXPECT_FALSE(rows.scheduled);
    EXPECT_FALSE(s.Pending());
    EXPECT_EQ(schedule::repeat_count(list[0]), 0);

    // A name that matches no task: nothing runs, the count still went down.
    std::vector<ScheduleRecord> gone{DueAt("Renamed", kNoon, 3)};
    ASSERT_EQ(s.Check(gone, kNoon), 0);
    EXPECT_EQ(rows.Trigger(s), 0u);
    EXPECT_FALSE(s.Pending());
    EXPECT_EQ(schedule::repeat_count(gone[0]), 2);
}

TEST(SchedulerTrigger, AFailingRunLeavesNeitherPendingNameNorFlag) {
    std::vector<ScheduleRecord> list{DueAt("T", kNoon)};
    Scheduler s;
    ASSERT_EQ(s.Check(list, kNoon), 0);
    Rows rows({"T", "T"});
    EXPECT_THROW(rows.Trigger(s, [](std::size_t) { throw std::runtime_error("disconnect"); }),
                 std::runtime_error);
    EXPECT_FALSE(rows.scheduled);
    EXPECT_FALSE(s.Pending());
    // The scheduler is not blocked: the next due moment is taken.
    schedule::set_next_run(list[0], kNoon + 10 * kSecond);
    EXPECT_EQ(s.Check(list, kNoon + 10 * kSecond), 0);
}

} // namespace
} // namespace duplora
