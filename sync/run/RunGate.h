#pragma once
// The gate every run passes before its scan, whoever started it: the
// window's Go Sync, the desktop program's -A/-C and auto mode, the desktop
// and headless schedulers, `duplora-cli run` and `duplora-cli plan`. Every
// rule that refuses a run lives here once; a front end renders the answer
// and never re-checks.
//
//   fields ─ roots ─ masks ─ share ─ safety test ─ same/nested folders   PassGate
//     │        │       │       │        │  └ versioning folder
//     32/33  relative  mask   108     180                  181 / 182 (window asks)
//   ... scan, compare ...
//   delete guard of a quiet run (206)                                   PassDeleteGuard
//
// A refusal sets the run's Outcome, Refusal and RefusedLine; a window run
// also gets the line in a box (caption 31). A quiet run's refusal leaves a
// block in the result lines (time stamp, "Start task: ", the line,
// separator), so that the log says why a backup did not happen.

#include "sync/run/RunContext.h"

#include <string>

namespace duplora {

class ShareConnector;

enum class GateVerdict {
    Ready,       // go on: BeginRun and the steps
    Refused,     // run.Refusal and run.RefusedLine say why; nothing read or written
    Unreachable, // a share could not be connected (message 108)
};

// Checks the task, prepares the roots (PrepareRoots), connects a share root
// through `shares` and applies every refusal rule that needs no scan. A
// window run whose roots lie one inside the other is asked (message 182);
// "No" refuses it with RefusalReason::NestedDeclined. After Ready or
// Unreachable the caller ends with LeaveGate, which disconnects the share.
GateVerdict PassGate(RunContext& run, ShareConnector& shares);

// After the run (or a refused one): disconnects what PassGate connected. A
// failure to disconnect goes to the result lines of a quiet run, and into a
// box for a window run. Returns the failure text, or "".
std::string LeaveGate(RunContext& run, ShareConnector& shares);

// The roots as a run uses them: trailing '/' removed, macros expanded, the
// three mask lists split, FoldCase from a case probe of each root.
void PrepareRoots(RunContext& run);

// Why "Move to the trash" cannot work for `task` (a share root has no
// trash), naming the share as typed; "" when it can. The gate refuses the
// run with it, the advanced options tell it when the choice is made.
std::string ShareTrashProblem(const TaskRecord& task);

// The error text of the first invalid mask in a list the task uses; "".
std::string InvalidMaskText(const RunContext& run);

// After the plan is counted: false when a quiet run would delete or replace
// more of a side than the task's delete limit (text 206 as RefusedLine,
// Outcome Skipped, Refusal DeleteLimit). A window run always passes: its
// preview shows the numbers. A -C run, which takes the mirror as empty, has
// the mirror listed for the guard alone so that replacements count too.
bool PassDeleteGuard(RunContext& run);

// A whole run in a row: PassGate, the steps, LeaveGate. What the console,
// the schedulers and the tests call; the window calls the steps one per
// posted event between PassGate and LeaveGate.
RunOutcome RunSteps(RunContext& run, ShareConnector* shares = nullptr);

// `duplora-cli plan`: the same gate as a quiet run, then the scan and the
// comparison, the delete guard, and nothing else (no result line, no file
// operation). Outcome NothingToDo or Finished for a plan to show; otherwise
// the run's refusal.
RunOutcome PlanOnly(RunContext& run, ShareConnector* shares = nullptr);

} // namespace duplora
