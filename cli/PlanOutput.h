#pragma once
// The plan as `duplora-cli plan` prints it: the file operations a run would
// carry out, in the order it would carry them out, then the counts.
//
// Text, tab-separated, one line per operation, then a summary line:
//   to-mirror<TAB>host<TAB>/a/b.txt
//   move<TAB>mirror<TAB>/old/path<TAB>/new/path
//   # to-mirror N, to-host N, delete-host N, delete-mirror N, empty-folders N, bytes N
// Names left alone because they differ only in letter case on a side that
// ignores case come as comment lines before the summary, the run's failure
// line after "# " (JSON: "case_collisions", one array of {"path"} per group,
// full paths).
// A task that detects moves adds ", moves N" to the summary (and "moves" to
// the JSON counts); without the option the output is as it always was.
// A task that remembers its last run adds a comment line before the summary
// ("# remembered since 2026-12-08 14:03: deleted-in-host N, ..." or the line
// that says why there is no memory) and, in JSON, "remembered" (bool),
// "memory_note" (text or null), "remembered_since" (ISO time or null) and
// "remembered_counts" ({"deleted_in_host", "deleted_in_mirror",
// "changed_on_both", "changed_deleted_in_mirror", "changed_deleted_in_host"});
// each operation of a remembered entry carries "remembered" (the kind's
// word, RememberedWord) and "reason" ("deleted in the host since ...").
// JSON: one object {"task", "host_root", "mirror_root", "operations": [...],
// "counts": {...}}, written as it goes so a 100,000-entry plan needs no
// second copy in memory.

#include "sync/plan/SyncPlan.h"

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

namespace duplora::cli {

struct PlannedOp {
    const char* op; // "to-mirror", "to-host", "delete", "move"
    const char*
        side; // "host" or "mirror": the list that holds the entry (a move: the side renamed)
    std::string_view path; // a move: the new path
    std::int64_t size;     // bytes that will be copied, or the size of the file deleted or moved
    std::string_view from = {};         // a move: the old path on the same side
    Remembered kind = Remembered::None; // why the entry has its operation, with memory
};

// "deleted-in-host", "deleted-in-mirror", "changed-on-both",
// "changed-deleted-in-mirror", "changed-deleted-in-host"; "" for None.
const char* RememberedWord(Remembered kind);

// What `plan` prints besides the operations, by the task's options.
struct PlanOptions {
    bool withMoves = false;  // the task detects moves: the move count too
    bool withMemory = false; // the task remembers its last run
};

// Calls `fn` for every operation the execution would carry out, in its
// order: the moves, the host list first to last, then the mirror list last
// to first.
// Switched-off entries and mirror entries marked to-mirror (which the
// execution passes over) are left out.
void ForEachPlannedOp(const SyncPlan& plan, const std::function<void(const PlannedOp&)>& fn);

// Control characters in a path would break the one-line-per-operation form;
// they are written as \xNN, and a backslash itself as \\, so that every
// printed path reads back to exactly one name ("n<LF>l" prints as n\x0al,
// the name n\x0al as n\\x0al).
std::string EscapeControls(std::string_view path);

// Standard base64 with padding.
std::string Base64(std::string_view bytes);
// `"key": "<path>"` for a JSON object, and when the path is not valid UTF-8
// (its string then shows U+FFFD for the bad bytes, so two names could read
// alike) also `, "key_bytes": "<base64 of the exact bytes>"`.
std::string JsonPathMembers(std::string_view key, std::string_view path);

// Every JSON document the console program prints (a plan, a run report)
// starts with "format_version": this number. It goes up only when a key
// changes its meaning or goes away; new keys may come without it.
inline constexpr int kJsonFormatVersion = 1;

void WritePlanText(const SyncPlan& plan, std::ostream& out, PlanOptions options = {});
void WritePlanJson(const SyncPlan& plan, const std::string& taskName, const std::string& hostRoot,
                   const std::string& mirrorRoot, std::ostream& out, PlanOptions options = {});

} // namespace duplora::cli
