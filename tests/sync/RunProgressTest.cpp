// The progress line's numbers: a speed over the last seconds only, and a time
// left that follows it.
#include "sync/run/RunProgress.h"

#include "tasks/TextTable.h"

#include <gtest/gtest.h>

namespace duplora {
namespace {

TEST(RunProgress, SpeedForgetsWhatIsOlderThanItsWindow) {
    SpeedMeter m;
    m.Sample(0, 0);
    m.Sample(500, 1000000);
    EXPECT_EQ(m.BytesPerSecond(), -1); // half a second: not yet
    // 1 MB/s for 10 s, then a 20 s pause (the Cancel question was open).
    for (int t = 1; t <= 100; ++t)
        m.Sample(t * 100, t * 100000);
    EXPECT_EQ(m.BytesPerSecond(), 1000000);
    m.Sample(30000, 10000000);
    EXPECT_EQ(m.BytesPerSecond(), 0);
    // The pause leaves the window within its five seconds of new samples.
    for (int t = 1; t <= 60; ++t)
        m.Sample(30000 + t * 100, 10000000 + t * 300000);
    EXPECT_EQ(m.BytesPerSecond(), 3000000);
    // Many samples within one step are merged: the window stays small.
    for (int i = 0; i < 100000; ++i)
        m.Sample(40000, 30000000);
    EXPECT_GE(m.BytesPerSecond(), 0);
}

TEST(RunProgress, LineShowsCountsSpeedAndTimeLeft) {
    SetLanguage(Language::English);
    const struct {
        std::int64_t done, total, speed, left;
        const char* line;
    } cases[] = {
        {3, 301, -1, 5000, "Files: 3 of 301"},
        {3, 301, 0, 5000, "Files: 3 of 301    Speed: 0/s"},
        {12, 301, 3072000, 36864000, "Files: 12 of 301    Speed: 2.9M/s    Time left: 0:12"},
        {400, 301, 1024, 3725 * 1024, "Files: 301 of 301    Speed: 1.0K/s    Time left: 1:02:05"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ProgressLine(c.done, c.total, c.speed, c.left), c.line);
    EXPECT_EQ(DurationText(0), "0:00");
    EXPECT_EQ(DurationText(59), "0:59");
    EXPECT_EQ(DurationText(3600), "1:00:00");
}

} // namespace
} // namespace duplora
