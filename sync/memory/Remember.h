#pragma once
// Remembering a task's last run. Two scans alone cannot tell "deleted in the
// host" from "new in the mirror", nor see that a file was edited on both
// sides. A task with remember_last_run() keeps, outside both roots, a record
// of every file its last run left equal on both sides (LastRun.h); with it
// the comparison tells apart:
//
//   state     host       mirror      kind                      operation
//   seen      gone       unchanged   DeletedInHost             deleted_in_host_action
//   seen      unchanged  gone        DeletedInMirror           deleted_in_mirror_action
//   seen      changed    changed     ChangedOnBoth             conflict_action
//   seen      changed    gone        ChangedDeletedInMirror    copied to the mirror
//   seen      gone       changed     ChangedDeletedInHost      copied to the host
//
// A changed file is never deleted by a remembered delete. Everything else,
// and every file the record never saw, is compared as without memory.
//
//   LoadMemory ─► CompareHostEntries (RememberPair, RememberHostOnly,
//                 RememberMirrorEntries) ─► DetectMoves ─► run ─► SaveMemory

#include "sync/memory/LastRun.h"
#include "sync/plan/SyncPlan.h"

#include <cstdint>
#include <ctime>
#include <future>
#include <string>
#include <string_view>
#include <vector>

namespace duplora {

struct RunContext;
struct TFileEntry;

// What a run keeps of its memory between the comparison and the end.
struct RunMemory {
    MemoryOwner Owner;
    std::string File;
    LastRun Last;                     // empty when the record was not usable
    std::vector<bool> Twinned;        // per mirror entry: the host has its twin
    std::vector<std::string> Settled; // paths made equal outside the plan (conflict copies)
    std::future<MemoryRead> Reading;  // the record read while the sides are scanned
};

// The reason in words, for the preview and the plan: "deleted in the host
// since 2026-12-08 14:03". "" for Remembered::None.
std::string RememberedReason(Remembered kind, std::int64_t since);

// Starts reading the task's record on a thread of its own while the sides
// are scanned (the scan steps call this once the roots are known).
void StartLoadingMemory(RunContext& run);
// Takes the task's record before the comparison. Without the option, or for
// a run that takes the mirror as empty (-C), nothing happens. A missing,
// damaged or foreign record leaves the run without memory and says so in
// one result line (plan.MemoryNote).
void LoadMemory(RunContext& run);
bool HasMemory(const RunContext& run);

// The comparison's hooks (see the table above), called only where the
// comparison without memory did not find the two sides equal, so files in
// step cost no lookup. NoteTwin marks a mirror entry that has a host twin;
// RememberMirrorEntries then looks at the others once, after the host list.
void RememberPair(RunContext& run, TFileEntry& host, TFileEntry& mirror);
void RememberHostOnly(RunContext& run, TFileEntry& host);
void NoteTwin(RunContext& run, int mirrorIndex);
void RememberMirrorEntries(RunContext& run);
// A path the run made equal on both sides beyond the plan's entries (the
// renamed version of a conflict), for the record.
void NoteSettled(RunContext& run, std::string rel);

// Writes the record at the end of a run that reached its plan: every file
// the comparison found equal, every file the run made equal (checked on
// disk, so a cancel or a failure records only what was done), and the
// previous record's entry for files still not in step. A failure to write
// is one result line; the previous record then stays.
void SaveMemory(RunContext& run);

// The name a conflict's losing version takes beside it:
// "NAME (conflict YYYY-MM-DD HHMMSS host).EXT".
std::string ConflictName(std::string_view name, std::time_t when, bool hostSide, int attempt);

} // namespace duplora
