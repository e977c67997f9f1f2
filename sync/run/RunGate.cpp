#include "sync/run/RunGate.h"

#include "platform/SharePath.h"
#include "sync/compare/Analysis.h"
#include "sync/compare/RootRelation.h"
#include "sync/fs/CaseProbe.h"
#include "sync/fs/FolderOps.h"
#include "sync/plan/DeleteGuard.h"
#include "sync/run/SyncRun.h"
#include "sync/setaside/Versions.h"
#include "sync/share/ShareRun.h"
#include "tasks/Helpers.h"
#include "tasks/TextTable.h"
#include "tasks/WildMask.h"

#include <string>

namespace duplora {

namespace {

std::vector<std::string> MaskLines(const std::string& text) {
    std::vector<std::string> masks;
    for (std::string& line : SplitLines(text))
        if (!line.empty())
            masks.push_back(std::move(line));
    return masks;
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

bool NoAction(const TaskRecord& t) {
    return t.only_in_host_action() == SyncAction::Ignore &&
           t.only_in_mirror_action() == SyncAction::Ignore &&
           t.size_differs_action() == SyncAction::Ignore &&
           t.newer_in_host_action() == SyncAction::Ignore &&
           t.newer_in_mirror_action() == SyncAction::Ignore &&
           t.empty_folder_action() == SyncAction::Ignore;
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

// A refusal: the report's fields, a box for a window run, and for a quiet
// run a block of result lines so that the log says why nothing happened.
GateVerdict Refuse(RunContext& run, RunOutcome outcome, RefusalReason reason, std::string line,
                   bool block) {
    run.Outcome = outcome;
    run.Refusal = reason;
    run.RefusedLine = std::move(line);
    run.EndLine = run.RefusedLine;
    if (!run.Quiet())
        run.ui().ShowMessage(run.RefusedLine, Msg(31));
    if (block) {
        run.Lines->Append(TimeStampText(run.now()));
        run.Lines->Append(Msg(46) + run.TaskName);
        run.Lines->Append(run.RefusedLine);
        run.Lines->Append(SeparatorLine());
    }
    return GateVerdict::Refused;
}

// The checks of the task's fields, before anything is read.
GateVerdict CheckFields(RunContext& run) {
    const TaskRecord& t = run.Task;
    if (t.host_path().empty() || t.mirror_path().empty())
        return Refuse(run, RunOutcome::NotRun, RefusalReason::InvalidFolders, Msg(32), false);
    if (IsRelativeRoot(t.host_path()) || IsRelativeRoot(t.mirror_path())) {
        const bool host = IsRelativeRoot(t.host_path());
        const std::string note = std::string(host ? "Host" : "Mirror") + " folder \"" +
                                 (host ? t.host_path() : t.mirror_path()) +
                                 "\" is a relative path; a run needs a full path starting with /.";
        // A scheduled backup that never ran must leave a trace of why.
        return Refuse(run, RunOutcome::NotRun, RefusalReason::RelativeRoot,
                      Msg(32) + (run.Quiet() ? " " : "\n") + note, run.Quiet());
    }
    if (NoAction(t))
        return Refuse(run, RunOutcome::NotRun, RefusalReason::NoOperation, Msg(33), false);
    return GateVerdict::Ready;
}

// A share root has no trash: "Move to the trash" would fail on every
// delete, so the run stops before it connects.
GateVerdict CheckShareTrash(RunContext& run) {
    std::string problem = ShareTrashProblem(run.Task);
    if (problem.empty())
        return GateVerdict::Ready;
    return Refuse(run, RunOutcome::Skipped, RefusalReason::ShareTrash, std::move(problem), true);
}

// The safety test: a missing root could make every file of the other side
// look "only on one side" and be deleted; a root that a macro expanded to
// nothing would make every path relative to the file system's root; an
// unusable versioning folder would lose what the run sets aside.
GateVerdict SafetyTest(RunContext& run) {
    const bool rootsSet = !run.HostRoot.empty() && !run.MirrorRoot.empty();
    if (rootsSet && FoldersSafe(run)) {
        const std::string versions = VersionsProblem(run);
        if (versions.empty())
            return GateVerdict::Ready;
        return Refuse(run, RunOutcome::Skipped, RefusalReason::VersionsFolder, versions, true);
    }
    // Name the folder whose absence made the test fail; a root that a macro
    // expanded to nothing is named as the task writes it.
    const bool hostMissing =
        run.HostRoot.empty() ||
        (!IsFolder(run.HostRoot) && run.Task.only_in_mirror_action() == SyncAction::Delete);
    const std::string& root = hostMissing ? run.HostRoot : run.MirrorRoot;
    return Refuse(run, RunOutcome::Skipped, RefusalReason::SafetyTest,
                  MsgFill(180, root.empty()
                                   ? (hostMissing ? run.Task.host_path() : run.Task.mirror_path())
                                   : root),
                  true);
}

// Host and mirror the same folder are refused; one inside the other is
// asked about in a window run (a quiet run goes on, and the scan leaves the
// inner root out).
GateVerdict CheckRelation(RunContext& run) {
    const RootRelation relation = RelateRoots(run.HostRoot, run.MirrorRoot);
    if (relation == RootRelation::Same)
        return Refuse(run, RunOutcome::Skipped, RefusalReason::SameFolder,
                      MsgFill(181, run.HostRoot), true);
    if (relation == RootRelation::Apart || run.Quiet())
        return GateVerdict::Ready;
    const std::string& inner =
        relation == RootRelation::MirrorInsideHost ? run.MirrorRoot : run.HostRoot;
    if (run.ui().AskYesNo(MsgFill(182, inner), Msg(72)))
        return GateVerdict::Ready;
    run.Outcome = RunOutcome::Skipped;
    run.Refusal = RefusalReason::NestedDeclined;
    run.RefusedLine = MsgFill(182, inner);
    return GateVerdict::Refused;
}

} // namespace

std::string ShareTrashProblem(const TaskRecord& task) {
    if (task.on_delete() != DeleteMode::Trash)
        return {};
    for (const std::string& root : {task.host_path(), task.mirror_path()}) {
        SharePath share;
        if (ParseSharePath(root, share) == ShareForm::Share)
            return MsgFill(261, root);
    }
    return {};
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

std::string InvalidMaskText(const RunContext& run) {
    const TaskRecord& task = run.Task;
    if (task.sync_type() == SyncType::File)
        return {};
    const std::pair<bool, const std::vector<std::string>*> lists[] = {
        {task.only_masks_enabled(), &run.OnlyMasks},
        {task.ignore_masks_enabled(), &run.IgnoreMasks},
        {task.delete_masks_enabled(), &run.DeleteMasks},
    };
    for (const auto& [enabled, masks] : lists) {
        if (!enabled)
            continue;
        for (const std::string& mask : *masks) {
            try {
                ValidateMask(mask);
            } catch (const InvalidMask& e) {
                return e.what();
            }
        }
    }
    return {};
}

GateVerdict PassGate(RunContext& run, ShareConnector& shares) {
    run.Outcome = RunOutcome::NotRun;
    run.Refusal = RefusalReason::None;
    run.RefusedLine.clear();
    run.EndLine.clear();
    run.HostShown.clear();
    run.MirrorShown.clear();
    if (CheckFields(run) != GateVerdict::Ready)
        return GateVerdict::Refused;
    PrepareRoots(run);
    if (CheckShareTrash(run) != GateVerdict::Ready)
        return GateVerdict::Refused;
    if (!shares.ConnectForRun(run)) {
        run.Refusal = RefusalReason::Unreachable;
        run.RefusedLine = Msg(108) + " (" + shares.Error() + ")";
        // The window's status line says which reason, as the box does.
        run.EndLine = run.RefusedLine;
        return GateVerdict::Unreachable;
    }
    if (SafetyTest(run) != GateVerdict::Ready)
        return GateVerdict::Refused;
    return CheckRelation(run);
}

std::string LeaveGate(RunContext& run, ShareConnector& shares) {
    if (run.Lines)
        run.Lines->ClearPathNames();
    const std::string error = shares.DisconnectAfterRun();
    if (error.empty())
        return error;
    // A quiet run must not wait for OK: the error goes to the result lines
    // (and the log) instead.
    if (run.Quiet())
        run.Lines->Append(error);
    else
        run.ui().ShowMessage(error, Msg(31));
    return error;
}

bool PassDeleteGuard(RunContext& run) {
    // Nobody sees the plan of a quiet run: one that would delete or replace
    // more of a side than the task allows stops here, before any file
    // operation (a window run shows the numbers in the preview).
    if (!run.Quiet() || run.Task.delete_limit() == 0)
        return true;
    DeleteGuard guard;
    if (run.SkipMirrorScan && run.Task.sync_type() != SyncType::File) {
        // -C copies every host file over whatever the mirror holds: list the
        // mirror for the count alone, then take it as empty again.
        ScanMirrorSide(run);
        guard = MeasureDeleteGuard(run.Plan, run.Task.delete_limit(), true);
        run.Plan.ClearMirror();
    } else {
        guard = MeasureDeleteGuard(run.Plan, run.Task.delete_limit(), !run.SkipMirrorScan);
    }
    if (!guard.Over())
        return true;
    run.RefusedLine = GuardText(206, guard);
    run.Refusal = RefusalReason::DeleteLimit;
    run.EndLine = run.RefusedLine;
    run.Outcome = RunOutcome::Skipped;
    return false;
}

RunOutcome RunSteps(RunContext& run, ShareConnector* shares) {
    ShareConnector own;
    ShareConnector& connector = shares ? *shares : own;
    const GateVerdict verdict = PassGate(run, connector);
    if (verdict == GateVerdict::Ready) {
        BeginRun(run);
        StepListMain(run);
        if (StepListMirror(run)) {
            StepSyncMain(run);
            StepSyncMirror(run);
            StepSyncFolder(run);
        }
    } else if (verdict == GateVerdict::Unreachable) {
        run.Outcome = RunOutcome::Unreachable;
    }
    if (verdict != GateVerdict::Refused || connector.Connected())
        LeaveGate(run, connector);
    return run.Outcome;
}

RunOutcome PlanOnly(RunContext& run, ShareConnector* shares) {
    ShareConnector own;
    ShareConnector& connector = shares ? *shares : own;
    const GateVerdict verdict = PassGate(run, connector);
    if (verdict == GateVerdict::Ready) {
        // BuildPlan writes no result line: a plan leaves no trace in the log.
        std::string error;
        BuildPlan(run, error);
    } else if (verdict == GateVerdict::Unreachable) {
        run.Outcome = RunOutcome::Unreachable;
    }
    if (verdict != GateVerdict::Refused || connector.Connected())
        LeaveGate(run, connector);
    return run.Outcome;
}

} // namespace duplora
