#include "sync/run/SyncRun.h"

#include "sync/compare/Analysis.h"
#include "sync/fs/CaseProbe.h"
#include "sync/plan/DeleteGuard.h"
#include "sync/fs/FolderOps.h"
#include "sync/compare/MoveDetection.h"
#include "sync/compare/RootRelation.h"
#include "sync/run/RunDisplay.h"
#include "sync/share/ShareRun.h"
#include "sync/setaside/Trash.h"
#include "sync/setaside/Versions.h"
#include "tasks/Helpers.h"
#include "tasks/TextTable.h"
#include "tasks/WildMask.h"

#include <string>

namespace duplora {

void SyncEmptyFolders(RunContext& run);          // Execution.cpp
void RemoveLeftoverTemporaries(RunContext& run); // Execution.cpp

namespace {

std::vector<std::string> MaskLines(const std::string& text) {
    std::vector<std::string> masks;
    for (std::string& line : SplitLines(text))
        if (!line.empty())
            masks.push_back(std::move(line));
    return masks;
}

// An invalid mask in a list that is in use ends the run before any file
// operation, with the mask's error as a result line.
bool MasksValid(RunContext& run) {
    const TaskRecord& task = run.Task;
    const std::pair<bool, const std::vector<std::string>*> lists[] = {
        {task.only_masks_enabled(), &run.OnlyMasks},
        {task.ignore_masks_enabled(), &run.IgnoreMasks},
        {task.delete_masks_enabled(), &run.DeleteMasks},
    };
    for (const auto& [enabled, masks] : lists) {
        if (!enabled || task.sync_type() == SyncType::File)
            continue;
        for (const std::string& mask : *masks) {
            try {
                ValidateMask(mask);
            } catch (const InvalidMask& e) {
                run.Lines->Append(e.what());
                run.InvalidMaskFound = true;
                return false;
            }
        }
    }
    return true;
}

void EndWithoutWork(RunContext& run, int message, RunOutcome outcome) {
    run.Lines->Append(Msg(message));
    run.Lines->Append(SeparatorLine());
    run.State = RunState::Idle;
    run.Outcome = outcome;
}

// A root that names no fixed place: every file operation would happen
// relative to whatever folder the process was started in ("h/a" from the
// desktop, "/h/a" from a scheduler started in /). Network forms
// ("smb://...", "\\server\share") are resolved by the connection step.
bool IsRelativeRoot(std::string root) {
    ExpandPathMacros(root);
    return !root.empty() && root[0] != '/' && root[0] != '\\' &&
           root.find("://") == std::string::npos;
}

// The missing-folder half of the safety test.
bool FoldersSafe(const RunContext& run) {
    return (IsFolder(run.HostRoot) || run.Task.only_in_mirror_action() != SyncAction::Delete) &&
           (IsFolder(run.MirrorRoot) || run.Task.only_in_host_action() != SyncAction::Delete);
}

// What is wrong with the versioning folder of a Versions task; "" otherwise.
std::string VersionsProblem(const RunContext& run) {
    if (run.Task.on_delete() != DeleteMode::Versions)
        return {};
    return VersionsFolderProblem(run.Task.versions_folder(), run.HostRoot, run.MirrorRoot);
}

// 1204 -> "1,204".
std::string Grouped(std::int64_t n) {
    std::string digits = std::to_string(n < 0 ? -n : n);
    for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3)
        digits.insert(static_cast<std::size_t>(i), ",");
    return n < 0 ? "-" + digits : digits;
}

// Text 206 with both sides' numbers and the limit.
std::string DeleteLimitLine(const DeleteGuard& g) {
    std::string line = Msg(206);
    const std::string values[] = {Grouped(g.Host.Lost),        Grouped(g.Host.Files),
                                  g.Host.PercentText(g.Limit), Grouped(g.Mirror.Lost),
                                  Grouped(g.Mirror.Files),     g.Mirror.PercentText(g.Limit),
                                  std::to_string(g.Limit)};
    for (int i = 0; i < 7; ++i)
        line = ReplaceFirst(line, "%" + std::to_string(i + 1), values[i]);
    return line;
}

} // namespace

CheckResult CheckBeforeRun(RunContext& run) {
    const TaskRecord& t = run.Task;
    CheckResult result = CheckResult::Ok;
    run.CheckNote.clear();
    if (t.host_path().empty() || t.mirror_path().empty()) {
        result = CheckResult::InvalidFolders;
    } else if (IsRelativeRoot(t.host_path()) || IsRelativeRoot(t.mirror_path())) {
        result = CheckResult::InvalidFolders;
        const bool host = IsRelativeRoot(t.host_path());
        run.CheckNote = std::string(host ? "Host" : "Mirror") + " folder \"" +
                        (host ? t.host_path() : t.mirror_path()) +
                        "\" is a relative path; a run needs a full path starting with /.";
    } else if (t.only_in_host_action() == SyncAction::Ignore &&
               t.only_in_mirror_action() == SyncAction::Ignore &&
               t.size_differs_action() == SyncAction::Ignore &&
               t.newer_in_host_action() == SyncAction::Ignore &&
               t.newer_in_mirror_action() == SyncAction::Ignore &&
               t.empty_folder_action() == SyncAction::Ignore) {
        result = CheckResult::NoOperation;
    }
    if (result != CheckResult::Ok && !run.CommandLineRun)
        run.ui().ShowMessage(Msg(result == CheckResult::InvalidFolders ? 32 : 33) +
                                 (run.CheckNote.empty() ? "" : "\n" + run.CheckNote),
                             Msg(31));
    return result;
}

void PrepareRoots(RunContext& run) {
    run.HostRoot = RemoveTrailingBackslash(run.Task.host_path());
    ExpandPathMacros(run.HostRoot);
    run.HostRoot = RemoveTrailingBackslash(run.HostRoot); // a macro may end with '/'
    run.MirrorRoot = RemoveTrailingBackslash(run.Task.mirror_path());
    ExpandPathMacros(run.MirrorRoot);
    run.MirrorRoot = RemoveTrailingBackslash(run.MirrorRoot);
    run.OnlyMasks = MaskLines(run.Task.only_masks());
    run.IgnoreMasks = MaskLines(run.Task.ignore_masks());
    run.DeleteMasks = MaskLines(run.Task.delete_masks());
    run.HostFoldsCase = RootFoldsCase(run.HostRoot);
    run.MirrorFoldsCase = RootFoldsCase(run.MirrorRoot);
    run.FoldCase = run.HostFoldsCase || run.MirrorFoldsCase;
}

bool SafetyTest(const RunContext& run) {
    // A root that a macro expanded to nothing would make every path relative
    // to the file system's root: never run on it.
    if (run.HostRoot.empty() || run.MirrorRoot.empty())
        return false;
    return FoldersSafe(run) && VersionsProblem(run).empty();
}

void RefuseRun(RunContext& run, RefusalReason reason) {
    std::string line;
    // The safety test also fails on an unusable versioning folder.
    if (reason == RefusalReason::SafetyTest && !run.HostRoot.empty() && !run.MirrorRoot.empty() &&
        FoldersSafe(run)) {
        line = VersionsProblem(run);
        if (!line.empty())
            reason = RefusalReason::VersionsFolder;
    }
    if (reason == RefusalReason::VersionsFolder) {
        if (line.empty())
            line = VersionsProblem(run);
    } else if (reason == RefusalReason::SameFolder) {
        line = MsgFill(181, run.HostRoot);
    } else {
        // Name the folder whose absence made the test fail; a root that a
        // macro expanded to nothing is named as the task writes it.
        const bool hostMissing =
            run.HostRoot.empty() ||
            (!IsFolder(run.HostRoot) && run.Task.only_in_mirror_action() == SyncAction::Delete);
        const std::string& root = hostMissing ? run.HostRoot : run.MirrorRoot;
        line = MsgFill(180, root.empty()
                                ? (hostMissing ? run.Task.host_path() : run.Task.mirror_path())
                                : root);
    }
    run.Outcome = RunOutcome::Skipped;
    run.Refusal = reason;
    run.RefusedLine = line;
    run.Lines->Append(TimeStampText(run.now()));
    run.Lines->Append(Msg(46) + run.TaskName);
    run.Lines->Append(line);
    run.Lines->Append(SeparatorLine());
}

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
    run.Refusal = RefusalReason::None;
    run.RefusedLine.clear();
    run.InvalidMaskFound = false;
    run.HostMissing = false;
    run.Outcome = RunOutcome::NotRun;
    run.Failures.clear();
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
    run.State = RunState::ScanHost;
    ShowStatus(run, Msg(53));
    ShowPath(run, run.HostRoot);
    if (!MasksValid(run)) {
        run.State = RunState::Cancelled;
        return;
    }
    ScanHostSide(run);
    if (!IsFolder(run.HostRoot)) {
        run.State = RunState::Cancelled;
        run.HostMissing = true;
    }
}

bool StepListMirror(RunContext& run) {
    run.Plan.ClearMirror();
    if (run.State != RunState::Cancelled && !run.SkipMirrorScan) {
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
        // Nobody sees the plan of a quiet run: one that would delete or
        // replace more of a side than the task allows stops here, before
        // any file operation (a window run shows the numbers in the preview).
        if (run.Quiet() && run.Task.delete_limit() > 0) {
            const DeleteGuard guard =
                MeasureDeleteGuard(run.Plan, run.Task.delete_limit(), !run.SkipMirrorScan);
            if (guard.Over()) {
                run.RefusedLine = DeleteLimitLine(guard);
                run.Refusal = RefusalReason::DeleteLimit;
                run.Lines->Append(run.RefusedLine);
                run.Lines->Append(SeparatorLine());
                run.EndLine = run.RefusedLine;
                run.State = RunState::Idle;
                run.Outcome = RunOutcome::Skipped;
                return false;
            }
        }
        RemoveLeftoverTemporaries(run);
        if (run.Aside)
            for (const std::string& path : run.Aside->RemoveLeftovers())
                run.Lines->Append(Msg(237) + path);
        if (run.Plan.WorkCount() == 0) {
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
    lines.Append(MsgFill(57, std::to_string(plan.CopiedToMirror)));
    lines.Append(MsgFill(58, std::to_string(plan.CopiedToHost)));
    lines.Append(MsgFill(59, std::to_string(plan.DeletedInHost)));
    lines.Append(MsgFill(60, std::to_string(plan.DeletedInMirror)));
    if (run.Task.detect_moves())
        lines.Append(MsgFill(220, std::to_string(plan.MovedCount)));
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
    StepListMain(run);
    bool ok = run.State != RunState::Cancelled;
    if (ok) {
        run.Plan.ClearMirror();
        if (!run.SkipMirrorScan) {
            run.State = RunState::ScanMirror;
            ScanMirrorSide(run);
        }
        CompareHostEntries(run);
        DetectMoves(run);
        run.Plan.Count(run.Task.empty_folder_action());
    } else {
        error = run.InvalidMaskFound && !scratch.Empty() ? scratch.Lines().back()
                                                         : Msg(32) + " " + run.HostRoot;
    }
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

RunOutcome RunSteps(RunContext& run) {
    run.Outcome = RunOutcome::NotRun;
    run.Refusal = RefusalReason::None;
    run.RefusedLine.clear();
    if (CheckBeforeRun(run) != CheckResult::Ok)
        return RunOutcome::NotRun;
    PrepareRoots(run);
    ShareConnector own;
    ShareConnector& shares = run.Shares ? *run.Shares : own;
    if (!shares.ConnectForRun(run))
        return run.Outcome;
    if (!SafetyTest(run)) {
        RefuseRun(run, RefusalReason::SafetyTest);
    } else if (RelateRoots(run.HostRoot, run.MirrorRoot) == RootRelation::Same) {
        RefuseRun(run, RefusalReason::SameFolder);
    } else {
        BeginRun(run);
        StepListMain(run);
        if (StepListMirror(run)) {
            StepSyncMain(run);
            StepSyncMirror(run);
            StepSyncFolder(run);
        }
    }
    shares.DisconnectAfterRun();
    return run.Outcome;
}

} // namespace duplora
