#include "sync/run/RunProgress.h"

#include "tasks/Helpers.h"
#include "tasks/TextTable.h"

#include <algorithm>

namespace duplora {

void SpeedMeter::Sample(std::int64_t ms, std::int64_t bytesDone) {
    if (!samples_.empty() && (ms < samples_.back().ms || bytesDone < samples_.back().bytes))
        samples_.clear(); // a new run, or a clock that went back
    if (samples_.size() >= 2 && ms - samples_[samples_.size() - 2].ms < kSampleStepMs)
        samples_.back() = {ms, bytesDone};
    else
        samples_.push_back({ms, bytesDone});
    while (samples_.size() > 2 && ms - samples_[1].ms >= kWindowMs)
        samples_.pop_front();
}

std::int64_t SpeedMeter::BytesPerSecond() const {
    if (samples_.size() < 2)
        return -1;
    const std::int64_t span = samples_.back().ms - samples_.front().ms;
    if (span < kMinSpanMs)
        return -1;
    return (samples_.back().bytes - samples_.front().bytes) * 1000 / span;
}

std::string DurationText(std::int64_t seconds) {
    seconds = std::max<std::int64_t>(seconds, 0);
    const std::int64_t h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
    const auto two = [](std::int64_t v) { return (v < 10 ? "0" : "") + std::to_string(v); };
    if (h > 0)
        return std::to_string(h) + ":" + two(m) + ":" + two(s);
    return std::to_string(m) + ":" + two(s);
}

std::string ProgressLine(std::int64_t filesDone, std::int64_t filesTotal,
                         std::int64_t bytesPerSecond, std::int64_t bytesLeft) {
    std::string line =
        MsgFill(183, std::to_string(std::min(filesDone, filesTotal)), std::to_string(filesTotal));
    if (bytesPerSecond < 0)
        return line;
    line += "    " + MsgFill(184, ShortSizeText(bytesPerSecond));
    if (bytesPerSecond > 0 && bytesLeft > 0) {
        // Rounded up: "0:00" only when nothing is left.
        line +=
            "    " + MsgFill(185, DurationText((bytesLeft + bytesPerSecond - 1) / bytesPerSecond));
    }
    return line;
}

} // namespace duplora
