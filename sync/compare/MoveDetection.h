#pragma once
// Moved and renamed files, found on the first run from the two scans alone.
//
// A file the plan would copy into one side (it is only on the other side)
// and a file the plan would delete on that side (only there) are the same
// file moved when their sizes and times agree, no other candidate shares
// that size and time, and their contents are equal byte for byte. The run
// then renames the file within its root instead of copying it across and
// deleting the old one: a renamed folder of 40 GB costs a read of both
// sides instead of a copy.
//
//   CompareHostEntries ─► candidates ─► UniquePairs ─► CompareContents ─► SyncPlan::AddMove
//   (the plan's ops)      (copy in,      (size, time;    (streamed, both     (opMoveFrom on the
//                          delete there)  unique only)    files in full)      file renamed)
//
// Only the task's own two actions make a move: files only in the host copied
// to the mirror with files only in the mirror deleted (the mirror's file is
// renamed), or files only in the mirror copied to the host with files only
// in the host deleted (the host's file is renamed). A task that remembers
// its last run also deletes what was deleted on the other side since then,
// so there a file copied in and a remembered delete pair as well, in either
// direction. A task that never deletes never moves; a file marked by the
// delete masks is deleted, never moved.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace duplora {

struct RunContext;
struct ScanView;

// One candidate file: where it sits in its list, its size and its time.
struct MoveCandidate {
    std::uint32_t Index = 0;
    std::int64_t Size = 0;
    std::int32_t Age = 0; // packed local time, as the scan gave it
};

// Pairs of (position in `sources`, position in `targets`) that have the same
// size and the same time (the comparison's same-time rule), where neither
// has any other partner of that size and time. Ambiguous groups (two equal
// photos copied twice, say) give no pair. O((s + t) log(s + t)).
std::vector<std::pair<std::size_t, std::size_t>>
UniquePairs(const std::vector<MoveCandidate>& sources, const std::vector<MoveCandidate>& targets,
            double toleranceDays, bool ignoreHourDifference);

enum class ContentResult {
    Equal,
    Different,  // other bytes, or a size that changed since the scan
    Unreadable, // missing, not a plain file (a link), or a read failed
    Cancelled,  // `onBytes` asked to stop
};

// Reads root1 + rel1 and root2 + rel2 in steps and compares them, never
// holding more than one step of each in memory. Neither path may pass a
// link below its root, and a link as the file itself is refused (a link is
// never renamed in place of a file). `onBytes(n)` is called after each step
// with the bytes just compared; returning false stops the comparison.
ContentResult CompareContents(const std::string& root1, std::string_view rel1,
                              const std::string& root2, std::string_view rel2,
                              std::int64_t expectedSize,
                              const std::function<bool(std::int64_t)>& onBytes = {});

// Finds the moves of a run's plan after the comparison and records them in
// the plan (SyncPlan::Moves, opMoveFrom/opMoveTo), in the pairs' order.
// Does nothing unless the task's detect_moves is on. The contents of a few
// pairs are compared at once on worker threads; the display, the observer
// and the plan are only touched from the calling thread. The plan is
// counted afterwards.
void DetectMoves(RunContext& run);

// Renames `root + fromRel` to `root + toRel` (RenameBelowRoot), after
// checking the other side's file it mirrors (`modelRoot + toRel`) against
// the scan as well. On failure returns false with the reason in `why` and
// changes nothing.
bool MoveOneFile(const std::string& root, std::string_view fromRel, std::string_view toRel,
                 const ScanView& fromScanned, const std::string& modelRoot,
                 const ScanView& modelScanned, std::string& why);

// Carries out every live move of the plan, in the plan's order; counts each
// in MovedCount or FailedCount and writes a failure line for each failure.
// Runs before the host list, so before any delete of either side.
void ExecuteMoves(RunContext& run);

} // namespace duplora
