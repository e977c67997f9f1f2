#pragma once
// The steps of one run. The progress window calls them one per posted event
// so that it can repaint and take Cancel in between; the console program and
// the tests call RunSteps(), which does them all in a row.
//
//   PassGate (RunGate.h): checks, roots, share, safety test  (before the window)
//   BeginRun        time stamp, "Start task: " line, counters 0
//   StepListMain    scan the host, and the mirror at the same time  (1282)
//   StepListMirror  scan the mirror (if not yet), compare, count,   (1283)
//                   preview
//        └─ false: nothing to do or declined; the run is over
//   StepSyncMain    host list in order                              (1280)
//   StepSyncMirror  mirror list from last to first                  (1281)
//   StepSyncFolder  empty folders, summary lines, end of run        (1284)

#include "sync/run/RunContext.h"
#include "sync/run/RunGate.h"

#include <string>

namespace duplora {

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
// plan, applies the delete guard of a quiet run, and stops there: no result
// line, nothing shown, nothing changed on disk. False when the host root is
// missing, a mask is invalid or the guard stops the run; `error` is then the
// run's RefusedLine.
bool BuildPlan(RunContext& run, std::string& error);

} // namespace duplora
