#pragma once
// The progress window's line under the gauges: files done of the total, the
// speed over the last few seconds and the time left. Plain C++: the window
// feeds it the plan's counters and a clock.

#include <cstdint>
#include <deque>
#include <string>

namespace duplora {

// Bytes per second over a sliding window, so a pause or a burst fades out
// within a few seconds instead of skewing the whole run's average.
class SpeedMeter {
public:
    static constexpr std::int64_t kWindowMs = 5000;
    // Samples closer together than this are merged; keeps the window at
    // about 50 samples however often the loop turns.
    static constexpr std::int64_t kSampleStepMs = 100;
    // Less than this much history gives no speed yet.
    static constexpr std::int64_t kMinSpanMs = 1000;

    void Reset() { samples_.clear(); }
    void Sample(std::int64_t ms, std::int64_t bytesDone);
    // -1 while less than kMinSpanMs has been seen.
    std::int64_t BytesPerSecond() const;

private:
    struct Point {
        std::int64_t ms;
        std::int64_t bytes;
    };
    std::deque<Point> samples_;
};

// "0:09", "4:07", "1:05:09".
std::string DurationText(std::int64_t seconds);

// Message 183 with the counts, then, when the speed is known, message 184
// with ShortSizeText of the speed and, when it is above 0, message 185 with
// the time the bytes left take at that speed.
std::string ProgressLine(std::int64_t filesDone, std::int64_t filesTotal,
                         std::int64_t bytesPerSecond, std::int64_t bytesLeft);

} // namespace duplora
