#include "sync/run/SyncRun.h"

#include "sync/run/RunGate.h"

#include "sync/compare/Analysis.h"
#include "sync/compare/MoveDetection.h"
#include "sync/compare/RootRelation.h"
#include "sync/execute/Execution.h"
#include "sync/fs/CaseProbe.h"
#include "sync/fs/FolderOps.h"
#include "sync/memory/Remember.h"
#include "sync/plan/DeleteGuard.h"
#include "sync/run/RunDisplay.h"
#include "sync/scan/ScanSides.h"
#include "sync/setaside/Trash.h"
#include "sync/setaside/Versions.h"
#include "sync/share/ShareRun.h"
#include "tasks/Helpers.h"
#include "tasks/TextTable.h"
#include "tasks/WildMask.h"

#include <optional>
#include <string>

namespace duplora {

namespace {

void EndWithoutWork(RunContext& run, int message, RunOutcome outcome) {
    run.Lines->Append(Msg(message));
    run.Lines->Append(SeparatorLine());
    run.State = RunState::Idle;
    run.Outcome = outcome;
}

} // namespace

void BeginRun(RunContext& run) {
    // The window may still show the last run's values: reset them for real.
    run.Display = {};
    run.Display.fileGauge = run.Display.totalGauge = 0;
    RunObserver& ui = run.ui();
    ui.SetFileGauge(0);
    ui.SetTotalGauge(0);
    ui.SetOperation("");
    ui.SetTotals("");
    run.Plan.ClearResults();
    run.Plan.SetFoldCase(run.FoldCase);
    run.ResultShown = false;
    run.CancelState = RunState::Idle;
    run.EndLine.clear();
    run.InvalidMaskFound = false;
    run.HostMissing = false;
    run.Outcome = RunOutcome::NotRun;
    run.Failures.clear();
    run.Memory.reset();
    switch (run.Task.on_delete()) {
    case DeleteMode::Trash:
        run.Aside = std::make_shared<Trash>(run.Clock);
        break;
    case DeleteMode::Versions:
        run.Aside = std::make_shared<VersionsFolder>(
            ResolveVersionsFolder(run.Task.versions_folder(), run.HostRoot, run.MirrorRoot),
            run.HostRoot, run.MirrorRoot, run.Clock);
        break;
    case DeleteMode::Permanent:
        run.Aside.reset();
        break;
    }
    run.Lines->Append(TimeStampText(run.now()));
    run.Lines->Append(Msg(46) + run.TaskName);
}

void StepListMain(RunContext& run) {
    run.Plan.ClearHost();
    run.MirrorScanned = false;
    run.State = RunState::ScanHost;
    ShowStatus(run, Msg(53));
    ShowPath(run, run.HostRoot);
    // An invalid mask in a list that is in use ends the run before any file
    // operation, with the mask's error as a result line.
    const std::string maskError = InvalidMaskText(run);
    if (!maskError.empty()) {
        run.Lines->Append(maskError);
        run.InvalidMaskFound = true;
        run.Refusal = RefusalReason::InvalidMask;
        run.RefusedLine = maskError;
        run.State = RunState::Cancelled;
        return;
    }
    StartLoadingMemory(run);
    std::optional<MirrorScanThread> mirror;
    if (ScanSidesAtOnce(run))
        mirror.emplace(run);
    ScanHostSide(run, mirror ? &*mirror : nullptr);
    if (!IsFolder(run.HostRoot)) {
        run.State = RunState::Cancelled;
        run.HostMissing = true;
        run.Refusal = RefusalReason::HostMissing;
        run.RefusedLine = MsgFill(191, run.HostRoot);
    }
    if (mirror && run.State != RunState::Cancelled) {
        // The window shows the mirror's scan from here on, as after a host
        // scanned alone.
        run.State = RunState::ScanMirror;
        ShowStatus(run, Msg(54));
        ShowPath(run, run.MirrorRoot);
        mirror->Finish();
        run.MirrorScanned = true;
    }
}

bool StepListMirror(RunContext& run) {
    if (!run.MirrorScanned)
        run.Plan.ClearMirror();
    if (run.State != RunState::Cancelled && !run.SkipMirrorScan && !run.MirrorScanned) {
        if (run.Task.sync_type() != SyncType::File) {
            run.State = RunState::ScanMirror;
            ShowStatus(run, Msg(54));
            ShowPath(run, run.MirrorRoot);
        }
        ScanMirrorSide(run);
    }
    if (run.State != RunState::Cancelled) {
        CompareHostEntries(run);
        DetectMoves(run);
    }
    if (run.State != RunState::Cancelled) {
        run.Plan.Count(run.Task.empty_folder_action());
        if (!PassDeleteGuard(run)) {
            run.Lines->Append(run.RefusedLine);
            run.Lines->Append(SeparatorLine());
            run.State = RunState::Idle;
            return false;
        }
        RemoveLeftoverTemporaries(run);
        if (run.Aside)
            for (const std::string& path : run.Aside->RemoveLeftovers())
                run.Lines->Append(Msg(237) + path);
        if (run.Plan.WorkCount() == 0) {
            SaveMemory(run);
            EndWithoutWork(run, 55, RunOutcome::NothingToDo);
            if (!run.Quiet())
                run.ui().ShowMessage(Msg(55), Msg(27));
            return false;
        }
        if (!run.Quiet() && !run.ui().ShowPreview(run.Plan, run)) {
            EndWithoutWork(run, 63, RunOutcome::Declined);
            return false;
        }
    }
    ShowStatus(run, Msg(64));
    return true;
}

void StepSyncFolder(RunContext& run) {
    SyncEmptyFolders(run);
    SaveMemory(run);
    run.ui().StopAnimation();

    const SyncPlan& plan = run.Plan;
    int end = 69;
    run.Outcome = RunOutcome::Finished;
    if (run.State == RunState::Cancelled) {
        end = 67;
        run.Outcome = RunOutcome::Cancelled;
    } else if (run.State == RunState::ErrorLimit) {
        end = 68;
        run.Outcome = RunOutcome::ErrorLimit;
    }
    ResultLines& lines = *run.Lines;
    lines.Append(Msg(end));
    lines.Append("\r\n" + Msg(70));
    // One file reads as one, where the language has a singular.
    auto copied = [](int count, int one, int many) {
        return count == 1 ? Msg(one) : MsgFill(many, std::to_string(count));
    };
    lines.Append(copied(plan.CopiedToMirror, 267, 57));
    lines.Append(copied(plan.CopiedToHost, 268, 58));
    lines.Append(MsgFill(59, std::to_string(plan.DeletedInHost)));
    lines.Append(MsgFill(60, std::to_string(plan.DeletedInMirror)));
    if (run.Task.detect_moves())
        lines.Append(MsgFill(220, std::to_string(plan.MovedCount)));
    if (plan.RememberedSince != 0)
        lines.Append(MsgFill(281, std::to_string(plan.ConflictsKept),
                             std::to_string(plan.ConflictsSkipped)));
    lines.Append(MsgFill(71, std::to_string(plan.FailedCount)));
    lines.Append(TimeStampText(run.now()));
    lines.Append(SeparatorLine());

    // A cancel made while scanning, or a missing host root, shows no result;
    // a cancel made while files were being copied does, and so does an
    // invalid mask, whose line is the only hint the user gets.
    const bool cancelledEarly = run.State == RunState::Cancelled && !run.InvalidMaskFound &&
                                run.CancelState != RunState::ExecHost &&
                                run.CancelState != RunState::ExecMirror;
    if (!cancelledEarly && !run.Quiet()) {
        run.ResultShown = true;
        run.ui().ShowResult();
    }
    run.EndLine = Msg(end);
    run.State = RunState::Idle;
}

bool BuildPlan(RunContext& run, std::string& error) {
    ResultLines scratch;
    ResultLines* const lines = run.Lines;
    run.Lines = &scratch;
    run.Plan.SetFoldCase(run.FoldCase);
    run.InvalidMaskFound = false;
    run.HostMissing = false;
    run.Memory.reset();
    StepListMain(run);
    bool ok = run.State != RunState::Cancelled;
    if (ok) {
        if (!run.MirrorScanned)
            run.Plan.ClearMirror();
        if (!run.SkipMirrorScan && !run.MirrorScanned) {
            run.State = RunState::ScanMirror;
            ScanMirrorSide(run);
        }
        CompareHostEntries(run);
        DetectMoves(run);
        run.Plan.Count(run.Task.empty_folder_action());
        run.Outcome = run.Plan.WorkCount() == 0 ? RunOutcome::NothingToDo : RunOutcome::Finished;
        if (!PassDeleteGuard(run))
            ok = false;
    } else {
        run.Outcome = RunOutcome::Cancelled;
    }
    if (!ok)
        error = run.RefusedLine;
    run.State = RunState::Idle;
    run.Lines = lines;
    return ok;
}

bool CanCancel(const RunContext& run) {
    return run.State >= RunState::ScanHost && run.State <= RunState::ExecMirror;
}

bool RequestCancel(RunContext& run) {
    if (!CanCancel(run))
        return false;
    run.CancelState = run.State;
    run.State = RunState::Cancelled;
    return true;
}

} // namespace duplora
