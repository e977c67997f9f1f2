#pragma once
// Copying and deleting one file for a run. A copy goes to a temporary file in
// the target folder that is renamed over the target only when complete, so a
// failed or cancelled copy leaves the old target exactly as it was.

#include <cstdint>
#include <functional>
#include <string>

namespace duplora {

enum class CopyResult : int {
    Copied = 0,
    SourceOpenFailed = 1,   // message 48 + full source path
    TargetCreateFailed = 2, // message 47 + full target path
    CopyError = 3,          // message 50 + target path below the root
    Cancelled = 4,          // message 49 + target path below the root
};

struct CopyHooks {
    // Lets the interface process pending events; may be empty.
    std::function<void()> pump;
    // True once the user confirmed a cancel (run state 5).
    std::function<bool()> cancelRequested;
    // After every transfer step: bytes just moved, source position and size.
    std::function<void(std::int64_t chunk, std::int64_t position, std::int64_t size)> onChunk;
    // Monotonic milliseconds and a sleep, injectable for the speed-limit rules.
    std::function<std::uint64_t()> nowMs;
    std::function<void(int ms)> sleepMs;
};

struct CopyRequest {
    std::string source;              // full path
    std::string target;              // full path
    std::string targetRoot;          // the root the target lies under (no trailing '/')
    std::int32_t speedLimitKBps = 0; // 0 = no limit
};

struct CopyOutcome {
    CopyResult result = CopyResult::Copied;
    std::string messageLine; // the result line to add; empty when none
};

CopyOutcome CopyOneFile(const CopyRequest& request, const CopyHooks& hooks);

struct DeleteOutcome {
    bool ok = false;
    std::string messageLine; // message 52 + full path on failure
};

// Deletes one file under `root`, first giving the owner write permission.
DeleteOutcome DeleteOneFile(const std::string& path, const std::string& root);

} // namespace duplora
