// The speed limit counts copy time only: a pause inside the interface's pump
// (the Cancel question left open) must not be paid back as a burst.
#include "sync/execute/FileCopier.h"

#include "CopierTestFiles.h"

using namespace duplora;
using namespace duplora::copiertest;

namespace {

class SpeedLimitPause : public TempTree {};

TEST_F(SpeedLimitPause, TimeHeldInAPumpIsNotGrantedAsAllowance) {
    const auto content = Pattern(1000000);
    WriteFile(src / "f", content);
    std::uint64_t now = 0;
    CopyHooks hooks;
    hooks.nowMs = [&] { return now; };
    hooks.sleepMs = [&](int ms) { now += static_cast<std::uint64_t>(ms); };
    int pumps = 0;
    std::uint64_t questionClosedAt = 0;
    std::int64_t bytesAtClose = 0, bytes = 0;
    hooks.pump = [&] {
        if (++pumps == 3) { // the question stays open for 10 s
            now += 10000;
            questionClosedAt = now;
            bytesAtClose = bytes;
        }
    };
    hooks.onChunk = [&](std::int64_t chunk, std::int64_t, std::int64_t) { bytes += chunk; };
    CopyRequest r{(src / "f").string(), (root / "f").string(), root.string(), 100};

    ASSERT_EQ(CopyOneFile(r, hooks).result, CopyResult::Copied);

    EXPECT_EQ(ReadFile(root / "f"), content);
    // After the pause the rest still moves at 100 bytes per millisecond.
    const double rest = static_cast<double>(1000000 - bytesAtClose - 16384);
    EXPECT_GE(static_cast<double>(now - questionClosedAt), rest / 100.0 * 0.95);
}

} // namespace
