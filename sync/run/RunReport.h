#pragma once
// What a run returns to whoever started it: how it ended, why, what it did
// and what failed. The window, the console's result and `run --json` render
// this value; none of them reads the result lines back to learn what
// happened.

#include "sync/plan/DeleteGuard.h"
#include "sync/run/RunContext.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace duplora {

struct RunReport {
    std::string TaskName;
    RunStart Start = RunStart::Window;
    RunOutcome Outcome = RunOutcome::NotRun;
    RefusalReason Refusal = RefusalReason::None;
    // The line that ends the run in words: the refusal's line, the end line
    // (67, 68, 69) or message 55 / 63 for a run without work.
    std::string Line;
    // The roots as the run used them; as the task stores them for a run
    // refused before they were prepared.
    std::string HostRoot;
    std::string MirrorRoot;

    // What was done.
    int CopiedToMirror = 0;
    int CopiedToHost = 0;
    int DeletedInHost = 0;
    int DeletedInMirror = 0;
    int Moved = 0;
    int EmptyFoldersDone = 0;
    int Failed = 0;
    std::vector<RunFailure> Failures;

    // What the plan held; all 0 when no scan took place (Scanned false).
    bool Scanned = false;
    struct Counts {
        int ToMirror = 0, ToHost = 0, DeleteHost = 0, DeleteMirror = 0, Moves = 0, EmptyFolders = 0;
    } Planned;
    std::int64_t TotalBytes = 0;
    std::int64_t DoneBytes = 0;
    // A task that remembers its last run: whether this run had that memory
    // (false with MemoryNote saying why, when the option is on but the
    // record was missing or unusable), when the last run ended, what the
    // plan held of each remembered kind, and the conflicts dealt with.
    bool RememberOn = false;
    bool Remembered = false;
    std::string MemoryNote;
    std::int64_t RememberedSince = 0;
    struct RememberedCounts {
        int DeletedInHost = 0, DeletedInMirror = 0, ChangedOnBoth = 0, ChangedDeletedInMirror = 0,
            ChangedDeletedInHost = 0;
    } PlannedRemembered;
    int ConflictsKept = 0;
    int ConflictsSkipped = 0;
    // The delete guard's numbers of the plan; none when no scan took place.
    std::optional<DeleteGuard> Guard;

    // Ended with "Task finish!" or "No file need to be synchronized!" and
    // no failure: the console's exit code 0.
    bool Succeeded() const {
        return (Outcome == RunOutcome::Finished || Outcome == RunOutcome::NothingToDo) &&
               Refusal == RefusalReason::None && Failed == 0;
    }
};

RunReport ReportOf(const RunContext& run);

// The log block's first line, naming what started the run: the window, auto
// mode (a window run of a task in auto mode), the command line, the console,
// or the schedule `schedule`.
std::string StartedByText(RunStart start, bool autoMode, const std::string& schedule);

} // namespace duplora
