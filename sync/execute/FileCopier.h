#pragma once
// Copying and deleting one file for a run. A copy goes to a temporary file in
// the target folder that is renamed over the target only when complete, so a
// failed or cancelled copy leaves the old target exactly as it was.

#include "sync/fs/BelowRoot.h"
#include "sync/setaside/SetAside.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace duplora {

enum class CopyResult : int {
    Copied = 0,
    SourceOpenFailed = 1,   // message 48 + full source path
    TargetCreateFailed = 2, // message 47 + full target path
    CopyError = 3,          // message 50 + target path below the root
    Cancelled = 4,          // message 49 + target path below the root
    TargetChanged = 5,      // message 239 + full target path; the target is left as it is
    SourceChanged = 6,      // message 238 + full source path; the target is left as it is
    // The old target could not be set aside (trash, versioning folder):
    // the set-aside's text with the reason + full target path; the target is
    // left as it is and the copy is not put in.
    SetAsideFailed = 7,
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
    // Where a target the copy replaces goes first, right after its re-check
    // and right before the copy is renamed into its place. Null: replaced
    // (the old file is gone with the rename).
    SetAside* setAside = nullptr;
};

struct CopyRequest {
    std::string source;              // full path
    std::string target;              // full path
    std::string targetRoot;          // the root the target lies under (no trailing '/')
    std::int32_t speedLimitKBps = 0; // 0 = no limit
    // The root the source lies under: the source is opened relative to it,
    // with no link followed but the file's own name. Empty: opened by its
    // full path (a caller outside a run).
    std::string sourceRoot{};
    // What the scan saw at the target; a target that is no longer that is
    // not replaced. Empty: not checked.
    std::optional<ScanView> targetSeen{};
    // The target lies on a network or FUSE file system (a share through
    // GVfs): its server stamps a file written through an open handle with the
    // time that handle is closed, so the source's time goes on only after the
    // copy was closed. A file under 1 MiB copied without a speed limit onto
    // an SMB share through GVfs is written through the share's daemon itself
    // (platform/ShareFile.h).
    bool remoteTarget = false;
    // The two roots opened once (OpenRoot) by a caller that copies many files:
    // then only the folders below them are looked up for each file. -1: by
    // their paths. The caller keeps them open until the copy returns.
    int sourceRootFd = -1;
    int targetRootFd = -1;
};

struct CopyOutcome {
    CopyResult result = CopyResult::Copied;
    std::string messageLine; // the result line to add; empty when none
    std::string error;       // why it failed: the system's error text, or what was found
};

CopyOutcome CopyOneFile(const CopyRequest& request, const CopyHooks& hooks);

struct DeleteOutcome {
    bool ok = false;
    bool changed = false;    // left alone: it is no longer what the scan saw
    std::string messageLine; // message 52 (239, or the set-aside's text) + full path on failure
    std::string error;       // why it failed: the system's error text, or what was found
};

// Deletes one file under `root` (a link itself, never what it points to).
// With `seen`, only while the file is still what the scan saw. With
// `setAside`, the file is moved there instead of being removed.
DeleteOutcome DeleteOneFile(const std::string& path, const std::string& root,
                            const ScanView* seen = nullptr, SetAside* setAside = nullptr);

// The error texts of outcomes that have no system error behind them.
inline constexpr std::string_view kChangedSinceScan = "changed since the scan";
inline constexpr std::string_view kChangedWhileCopied = "changed while it was copied";

// A copy's temporary file is ".NAME" + kTempMarker + eight letters or digits
// in the target's folder; its writer holds an flock on it while it lives.
inline constexpr std::string_view kTempMarker = ".duplora-tmp-";
inline constexpr std::size_t kTempRandomLength = 8;

enum class LeftoverResult { Removed, InUse, Failed };

// Removes root + rel, a temporary file of that form, unless a living process
// holds its lock (a copy running in another process). A crashed copy's lock
// died with it.
LeftoverResult RemoveLeftoverTemporary(const std::string& root, std::string_view rel);

} // namespace duplora
