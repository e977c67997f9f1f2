#include "sync/fs/FileTime.h"
#include "sync/compare/Analysis.h"
#include "sync/run/ResultLines.h"
#include "tasks/Helpers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

using namespace duplora;

namespace {

// Sets TZ for one test and restores it afterwards.
class ZoneScope {
public:
    explicit ZoneScope(const char* zone) {
        const char* old = std::getenv("TZ");
        had_ = old != nullptr;
        if (had_)
            old_ = old;
        setenv("TZ", zone, 1);
        ResetLocalTimeCache();
    }
    ~ZoneScope() {
        if (had_)
            setenv("TZ", old_.c_str(), 1);
        else
            unsetenv("TZ");
        ResetLocalTimeCache();
    }

private:
    bool had_ = false;
    std::string old_;
};

std::int32_t Reference(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    return PackLocalFields(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                           tm.tm_sec);
}

std::int32_t Age(int y, int mo, int d, int h, int mi, int s) {
    return PackLocalFields(y, mo, d, h, mi, s);
}

} // namespace

TEST(FileTime, CachedPackingEqualsLocaltimeAcrossDaylightSavingShifts) {
    for (const char* zone : {"UTC0", "CET-1CEST,M3.5.0,M10.5.0/3", "EST5EDT,M3.2.0,M11.1.0",
                             "<+1030>-10:30<+11>-11,M10.1.0,M4.1.0"}) {
        ZoneScope z(zone);
        // 2024-03-31 00:00 UTC .. 2024-04-01, in 7-minute steps plus odd seconds,
        // then around the autumn shift, in both directions (the cache must not
        // carry a stale offset when time goes backwards).
        for (std::time_t t = 1711843200; t < 1711843200 + 86400; t += 7 * 60 + 13)
            ASSERT_EQ(PackLocalTime(t), Reference(t)) << zone << " " << t;
        for (std::time_t t = 1730000000 + 86400 * 8; t > 1730000000; t -= 17 * 60 + 1)
            ASSERT_EQ(PackLocalTime(t), Reference(t)) << zone << " " << t;
    }
}

TEST(FileTime, ClampsOutsideThePackableRange) {
    ZoneScope z("UTC0");
    EXPECT_EQ(PackLocalTime(0), kAgeMin);                    // 1970
    EXPECT_EQ(PackLocalTime(-86400 * 400), kAgeMin);         // before 1970
    EXPECT_EQ(PackLocalTime(4354819200LL + 86400), kAgeMax); // 2108-01-02
    EXPECT_EQ(PackLocalTime(315532800), kAgeMin);            // 1980-01-01 exactly
    EXPECT_EQ(PackLocalTime(315532801), kAgeMin);            // 1 s rounds down to the 2-s step
    EXPECT_EQ(PackLocalTime(315532802), kAgeMin + 1);
    EXPECT_EQ(AgeWallSeconds(kAgeMin), 0);
    EXPECT_EQ(AgeWallSeconds(Age(1980, 1, 2, 0, 0, 4)), 86400 + 4);
}

TEST(FileTime, LaterOrdersDatesFrom2044OnCorrectly) {
    // Years from 2044 set the top bit of the packed value.
    EXPECT_TRUE(AgeLater(Age(2050, 1, 1, 0, 0, 0), Age(2030, 1, 1, 0, 0, 0)));
    EXPECT_FALSE(AgeLater(Age(2030, 1, 1, 0, 0, 0), Age(2050, 1, 1, 0, 0, 0)));
    EXPECT_TRUE(AgeLater(Age(2024, 1, 1, 0, 0, 2), Age(2024, 1, 1, 0, 0, 0)));
}

TEST(SameTime, ToleranceAndOneHourRule) {
    const double twoSeconds = 2.0 / 86400 + 0.00000001; // as a new task stores it
    const double zero = 0.00000001;
    const std::int32_t base = Age(2024, 6, 1, 10, 0, 0);
    EXPECT_TRUE(SameTime(base, base, zero, false));
    EXPECT_TRUE(SameTime(base, Age(2024, 6, 1, 10, 0, 2), twoSeconds, false));
    EXPECT_FALSE(SameTime(base, Age(2024, 6, 1, 10, 0, 4), twoSeconds, false));
    EXPECT_FALSE(SameTime(base, Age(2024, 6, 1, 10, 0, 2), zero, false));
    // Across midnight and a month end the difference is still 2 s.
    EXPECT_TRUE(
        SameTime(Age(2024, 1, 31, 23, 59, 58), Age(2024, 2, 1, 0, 0, 0), twoSeconds, false));

    const std::int32_t hourLater = Age(2024, 6, 1, 11, 0, 0);
    EXPECT_FALSE(SameTime(base, hourLater, twoSeconds, false));
    EXPECT_TRUE(SameTime(base, hourLater, twoSeconds, true));
    EXPECT_TRUE(SameTime(hourLater, base, twoSeconds, true));
    EXPECT_TRUE(SameTime(base, Age(2024, 6, 1, 11, 0, 2), twoSeconds, true));
    EXPECT_TRUE(SameTime(base, Age(2024, 6, 1, 10, 59, 58), twoSeconds, true));
    EXPECT_FALSE(SameTime(base, Age(2024, 6, 1, 11, 0, 4), twoSeconds, true));
    EXPECT_FALSE(SameTime(base, Age(2024, 6, 1, 10, 59, 56), twoSeconds, true));
    // With no tolerance the one-hour window is empty (both bounds strict).
    EXPECT_FALSE(SameTime(base, hourLater, 0.0, true));
}

TEST(ComparePair, ActionsForEachKindOfDifference) {
    TaskRecord task = TaskRecord::MakeNew("");
    task.set_size_differs_action(SyncAction::HostToMirror);
    task.set_newer_in_host_action(SyncAction::Delete);
    task.set_newer_in_mirror_action(SyncAction::MirrorToHost);
    TFileEntry h, m;
    h.Age = m.Age = Age(2024, 6, 1, 10, 0, 0);
    h.Size = m.Size = 5;
    EXPECT_EQ(ComparePair(h, m, task), opNone); // same time and size, contents not read
    m.Size = 6;
    EXPECT_EQ(ComparePair(h, m, task), opToMirror);
    h.Age = Age(2024, 6, 1, 10, 0, 10);
    EXPECT_EQ(ComparePair(h, m, task), opDelete);
    m.Age = Age(2024, 6, 1, 12, 0, 0);
    EXPECT_EQ(ComparePair(h, m, task), opToHost);
}

TEST(ResultLines, SplitsLineBreaksAndFormatsTheTimeStamp) {
    ResultLines lines;
    std::vector<std::string> seen;
    lines.OnLine = [&](const std::string& l) { seen.push_back(l); };
    lines.Append("one");
    lines.Append("\r\nTask result:");
    lines.Append("a\nb\rc");
    lines.Append("");
    const std::vector<std::string> want = {"one", "", "Task result:", "a", "b", "c", ""};
    EXPECT_EQ(lines.Lines(), want);
    EXPECT_EQ(seen, want);
    EXPECT_EQ(SeparatorLine(), std::string(61, '='));

    ZoneScope z("UTC0");
    EXPECT_EQ(TimeStampText(1772874341), "2026-03-07 9:05:41");
    EXPECT_EQ(TimeStampText(1772920800), "2026-03-07 22:00:00");
}

TEST(FileTime, ScannerPackingAgreesWithTheSharedHelper) {
    ZoneScope z("CET-1CEST,M3.5.0,M10.5.0/3");
    for (std::time_t t = 1700000000; t < 1700000000 + 400LL * 86400; t += 86400 / 3 + 7)
        ASSERT_EQ(PackLocalTime(t), PackAge(t)) << t;
    EXPECT_EQ(PackLocalTime(100), PackAge(100));
    EXPECT_EQ(PackLocalTime(4354819200LL + 86400), PackAge(4354819200LL + 86400));
}

TEST(FileTime, AChangedZoneIsSeenAfterAReset) {
    const std::time_t t = 1714996800; // 12:00 UTC
    std::int32_t utc = 0, east = 0;
    {
        ZoneScope z("UTC0");
        utc = PackLocalTime(t);
    }
    {
        ZoneScope z("<+05>-5");
        east = PackLocalTime(t); // same hour as the cached one, other zone
    }
    EXPECT_EQ(AgeWallSeconds(east) - AgeWallSeconds(utc), 5 * 3600);
}
