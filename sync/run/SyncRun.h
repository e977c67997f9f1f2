#pragma once
// The steps of one run. The progress window calls them one per posted event
// so that it can repaint and take Cancel in between; the console program and
// the tests call RunSteps(), which does them all in a row.
//
//   CheckBeforeRun ─ PrepareRoots ─ SafetyTest            (before the window)
//   BeginRun        time stamp, "Start task: " line, counters 0
//   StepListMain    scan the host                                   (1282)
//   StepListMirror  scan the mirror, compare, count, preview        (1283)
//        └─ false: nothing to do or declined; the run is over
//   StepSyncMain    host list in order                              (1280)
//   StepSyncMirror  mirror list from last to first                  (1281)
//   StepSyncFolder  empty folders, summary lines, end of run        (1284)

#include "sync/run/RunContext.h"

#include <string>

namespace duplora {

enum class CheckResult {
    Ok,
    InvalidFolders, // message 32: a path is empty
    NoOperation,    // message 33: all six actions are Ignore
};

// Shows message 32 or 33 (caption 31) unless CommandLineRun; logs nothing.
CheckResult CheckBeforeRun(RunContext& run);
// Roots: RemoveTrailingBackslash, then ExpandPathMacros; the three mask lists
// (one mask per line, empty lines dropped); FoldCase from a case probe of
// each root (a writable root gets a probe file for a moment).
void PrepareRoots(RunContext& run);
// False when a missing root could make every file of the other side look
// "only on one side" and be deleted: (host exists or only_in_mirror_action
// is not Delete) and (mirror exists or only_in_host_action is not Delete).
// Also false when a prepared root is empty (a macro that expanded to nothing),
// and for a Versions task whose versioning folder cannot be used
// (VersionsFolderProblem, Versions.h).
bool SafetyTest(const RunContext& run);
// The run the safety test refused: Outcome Skipped, Refusal and RefusedLine
// set, and a block of result lines (time stamp, "Start task: ", the line
// naming the missing folder or the versioning folder's problem, separator)
// so that the log and the result window say why nothing happened. Given
// SafetyTest, the reason becomes VersionsFolder when the folders pass and the
// versioning folder does not.
void RefuseRun(RunContext& run, RefusalReason reason);

// The progress window opens: result counters 0, Failures emptied, the
// run's set-aside (trash, versioning folder) made from on_delete, time stamp
// and "Start task: " lines.
void BeginRun(RunContext& run);
void StepListMain(RunContext& run);
// False when the run ended here (nothing to do, or preview declined); then
// State is Idle and the lines are written. A quiet run whose plan deletes or
// replaces more of a side than the task's delete_limit also ends here, before
// any file operation: Outcome Skipped, Refusal DeleteLimit, RefusedLine (text
// 206, also EndLine) and the separator written.
bool StepListMirror(RunContext& run);
void StepSyncMain(RunContext& run);
void StepSyncMirror(RunContext& run);
// Empty folders, then the summary and the end of the run (State back to Idle,
// EndLine set, ShowResult when the run shows its result).
void StepSyncFolder(RunContext& run);

// The window's Cancel, after the user said Yes to message 73: only while a
// scan or execution is going on (State 1..4). True when it took effect.
bool CanCancel(const RunContext& run);
bool RequestCancel(RunContext& run);

// Scans and compares exactly as a run would (after PrepareRoots), counts the
// plan, and stops there: no result line, nothing shown, nothing changed on
// disk. False when the host root is missing or a mask is invalid; `error`
// then says which.
bool BuildPlan(RunContext& run, std::string& error);

// Checks, roots, share connection (run.Shares), safety test and all steps
// in a row, then the share's disconnection.
RunOutcome RunSteps(RunContext& run);

} // namespace duplora
