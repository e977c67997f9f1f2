#pragma once
// `duplora-cli run --json`: one JSON object per run, on one line, written
// when the run ends. The result lines say the same in words (and still go to
// the log); this form is for scripts and monitoring.
//
//   {"task", "host_root", "mirror_root", "start", "end",
//    "outcome",            finished | nothing_to_do | cancelled | error_limit
//                          | declined | refused
//    "reason", "message",  only for refused: why, as a word and as the line
//                          the log got
//    "counts": {"to_mirror", "to_host", "delete_host", "delete_mirror",
//               "moves", "empty_folders", "failures"},   what the run did
//    "planned": {... the same keys but failures ...},    what the plan held
//    "bytes": {"total", "done"},
//    "delete_guard": {"limit", "host": {"files", "lost", "percent", "over"},
//                     "mirror": {...}}  or null when no scan took place,
//    "failures": [{"op", "path", "error"}]}
//
// A task that remembers its last run adds "remembered" (whether this run had
// the memory), "memory_note" (the line saying why not, or null),
// "remembered_since" (when the last run ended, ISO time, or null),
// "planned_remembered": {"deleted_in_host", "deleted_in_mirror",
// "changed_on_both", "changed_deleted_in_mirror", "changed_deleted_in_host"},
// "conflicts_kept" and "conflicts_skipped".
//
// Paths that are not valid UTF-8 carry a "<key>_bytes" member with the
// exact bytes in base64, as the plan output does.

#include "sync/run/RunReport.h"

#include <ctime>
#include <string>

namespace duplora::cli {

// Local time as ISO 8601 with the UTC offset: "2026-12-09T05:12:33+01:00".
std::string IsoLocalTime(std::time_t t);

// How a run ended, as the report's "outcome" and (for refused runs)
// "reason" words.
struct ReportOutcome {
    const char* outcome;
    const char* reason; // null unless outcome is "refused"
};
ReportOutcome ClassifyRun(const RunReport& run);

struct RunTimes {
    std::time_t start = 0;
    std::time_t end = 0;
};

// The object for the report of one run, without a line break.
std::string RunReportJson(const RunReport& run, const RunTimes& times);

} // namespace duplora::cli
