#pragma once
// One file of a run's plan and what the run will do with it.

#include <cstdint>
#include <string_view>

namespace duplora {

// Values 0..3 equal the stored SyncAction values; 4..6 are the same planned
// operations switched off by the user in the preview (1<->4, 2<->5, 3<->6).
enum TSyncOp : std::uint8_t {
    opNone = 0,
    opDelete = 1,      // delete the file on the side whose list holds the entry
    opToMirror = 2,    // copy the host file to the mirror
    opToHost = 3,      // copy the mirror file to the host
    opDeleteOff = 4,   // switched-off opDelete
    opToMirrorOff = 5, // switched-off opToMirror
    opToHostOff = 6,   // switched-off opToHost
    // A move found by pairing a copy into one side with a delete there (see
    // MoveDetection.h). The entry whose file is renamed carries opMoveFrom,
    // the other side's file at the new path carries opMoveTo; neither is
    // copied or deleted. Switching a move off turns both back into the copy
    // and the delete they replaced.
    opMoveFrom = 7,
    opMoveTo = 8,
};

// opDelete <-> opDeleteOff and so on; opNone and unknown values stay.
constexpr TSyncOp ToggledOp(TSyncOp op) {
    switch (op) {
    case opDelete:
    case opToMirror:
    case opToHost:
        return static_cast<TSyncOp>(op + 3);
    case opDeleteOff:
    case opToMirrorOff:
    case opToHostOff:
        return static_cast<TSyncOp>(op - 3);
    default:
        return op;
    }
}
constexpr bool IsSwitchedOff(TSyncOp op) {
    return op >= opDeleteOff && op <= opToHostOff;
}
constexpr bool IsMoveOp(TSyncOp op) {
    return op == opMoveFrom || op == opMoveTo;
}

// 32 bytes. RelPath points into the plan's path storage (see SyncPlan), so a
// 100,000-file side costs 3.2 MB of entries plus the path bytes themselves,
// with no heap block per file. It starts with '/' and is never cut.
struct TFileEntry {
    std::string_view RelPath;
    std::int64_t Size = 0; // bytes at scan time; -1 for a listed file that cannot be opened
    std::int32_t Age = 0;  // packed local last-write time, 2-second steps
    TSyncOp Op = opNone;
    // TimeTagOf() the exact last-write time, so a file rewritten within the
    // same two seconds at the same size is still told apart from what the
    // scan saw; 0 when not known. Fills what would be padding.
    std::uint32_t TimeTag : 24 = 0;
};
static_assert(sizeof(TFileEntry) == 32);

// 24 bits of a last-write time (seconds and nanoseconds), never 0.
constexpr std::uint32_t TimeTagOf(std::int64_t sec, std::int64_t nsec) {
    std::uint64_t x =
        static_cast<std::uint64_t>(sec) * 1000000007ULL + static_cast<std::uint64_t>(nsec);
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdULL;
    x ^= x >> 33;
    return static_cast<std::uint32_t>(x & 0x7FFFFF) | 0x800000;
}

} // namespace duplora
