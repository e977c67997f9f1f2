// Carrying out an accepted plan: the host list in order, the mirror list
// from last to first, then the empty folders.

#include "sync/FileCopier.h"
#include "sync/FolderOps.h"
#include "sync/MoveDetection.h"
#include "sync/RunDisplay.h"
#include "sync/SyncRun.h"
#include "tasks/Helpers.h"
#include "tasks/TextTable.h"

#include <string>

namespace duplora {

namespace {

bool Stopped(const RunContext& run) {
    return run.State == RunState::Cancelled || run.State == RunState::ErrorLimit;
}

int Percent(std::int64_t part, std::int64_t whole) {
    if (whole <= 0)
        return 100; // a file that was empty at scan time and has grown since
    if (part <= 0)
        return 0;
    if (part >= whole)
        return 100;
    return static_cast<int>(part * 100 / whole);
}

// Text of message 65 + the action's display name (entries 20..23).
std::string Performing(TSyncOp op) {
    return Msg(65) + Msg(20 + static_cast<int>(op));
}

bool CopyFile(RunContext& run, const std::string& source, const std::string& target,
              const std::string& targetRoot) {
    SyncPlan& plan = run.Plan;
    ShowFileGauge(run, 0);
    CopyRequest request{source, target, targetRoot, run.Task.speed_limit()};
    CopyHooks hooks;
    RunObserver& ui = run.ui();
    hooks.pump = [&ui] { ui.Pump(); };
    hooks.cancelRequested = [&run] { return run.State == RunState::Cancelled; };
    hooks.onChunk = [&run, &plan](std::int64_t chunk, std::int64_t position, std::int64_t size) {
        plan.DoneBytes += chunk;
        ShowFileGauge(run, Percent(position, size));
        ShowTotalGauge(run, Percent(plan.DoneBytes, plan.TotalBytes));
        ShowTotals(run, MsgFill(51, ShortSizeText(plan.DoneBytes),
                                ShortSizeText(plan.TotalBytes - plan.DoneBytes)));
    };
    const CopyOutcome outcome = CopyOneFile(request, hooks);
    if (!outcome.messageLine.empty())
        run.Lines->Append(outcome.messageLine);
    return outcome.result == CopyResult::Copied;
}

bool DeleteFile(RunContext& run, const std::string& path, const std::string& root) {
    const DeleteOutcome outcome = DeleteOneFile(path, root);
    if (!outcome.ok && !outcome.messageLine.empty())
        run.Lines->Append(outcome.messageLine);
    return outcome.ok;
}

// A copy broken by the user's cancel also counts as a failure; the run still
// ends as cancelled ("User break the task!"), not as stopped by errors.
void CheckErrorLimit(RunContext& run) {
    const std::uint16_t limit = run.Task.max_errors();
    if (limit != 0 && run.Plan.FailedCount >= limit && run.State != RunState::Cancelled)
        run.State = RunState::ErrorLimit;
}

// Pending events are processed before every entry that has work; between
// entries without work only every 256th, so 100,000 unchanged files do not
// cost 100,000 trips through the event loop.
bool PumpBefore(RunContext& run, TSyncOp op, std::size_t& idle) {
    if (op == opToMirror || op == opToHost || op == opDelete) {
        run.ui().Pump();
        idle = 0;
        return true;
    }
    if (++idle % 256 == 0)
        run.ui().Pump();
    return false;
}

} // namespace

void StepSyncMain(RunContext& run) {
    SyncPlan& plan = run.Plan;
    run.ui().StartAnimation();
    // Moves first: they must come before the deletes of their side, and a
    // renamed file is then already in place when the copies start.
    ExecuteMoves(run);
    std::size_t idle = 0;
    for (TFileEntry& e : plan.HostFiles) {
        const bool work = PumpBefore(run, e.Op, idle);
        if (Stopped(run))
            break;
        // Every entry, with work or not, puts the run in state 3: a cancel
        // from here on is one made during execution and shows the result.
        run.State = RunState::ExecHost;
        if (!work)
            continue;
        const std::string host = JoinRoot(run.HostRoot, e.RelPath);
        const std::string mirror = JoinRoot(run.MirrorRoot, e.RelPath);
        switch (e.Op) {
        case opToMirror:
            ShowPath(run, host);
            ShowOperation(run, Performing(opToMirror));
            if (CopyFile(run, host, mirror, run.MirrorRoot))
                ++plan.CopiedToMirror;
            else
                ++plan.FailedCount;
            break;
        case opToHost:
            ShowPath(run, mirror);
            ShowOperation(run, Performing(opToHost));
            if (CopyFile(run, mirror, host, run.HostRoot))
                ++plan.CopiedToHost;
            else
                ++plan.FailedCount;
            break;
        case opDelete:
            ShowPath(run, host);
            ShowOperation(run, Performing(opDelete));
            if (DeleteFile(run, host, run.HostRoot))
                ++plan.DeletedInHost;
            else
                ++plan.FailedCount;
            break;
        default:
            break;
        }
        CheckErrorLimit(run);
    }
}

void StepSyncMirror(RunContext& run) {
    SyncPlan& plan = run.Plan;
    std::size_t idle = 0;
    for (int i = plan.MirrorFiles.Count() - 1; i >= 0; --i) {
        TFileEntry& e = plan.MirrorFiles.Items(i);
        const bool work = PumpBefore(run, e.Op, idle);
        if (Stopped(run))
            break;
        run.State = RunState::ExecMirror;
        if (!work || e.Op == opToMirror)
            continue; // a mirror file is never copied to the mirror
        const std::string host = JoinRoot(run.HostRoot, e.RelPath);
        const std::string mirror = JoinRoot(run.MirrorRoot, e.RelPath);
        ShowPath(run, mirror);
        ShowOperation(run, Performing(e.Op));
        if (e.Op == opToHost) {
            if (CopyFile(run, mirror, host, run.HostRoot))
                ++plan.CopiedToHost;
            else
                ++plan.FailedCount;
        } else {
            if (DeleteFile(run, mirror, run.MirrorRoot))
                ++plan.DeletedInMirror;
            else
                ++plan.FailedCount;
        }
        CheckErrorLimit(run);
    }
}

// Empty folders. Folders come after their contents, so a chain of empty
// folders is removed inner first. Folder operations are neither counted nor
// logged, and their failures are silent.
void SyncEmptyFolders(RunContext& run) {
    const SyncAction action = run.Task.empty_folder_action();
    if (action == SyncAction::Ignore)
        return;
    SyncPlan& plan = run.Plan;
    ShowStatus(run, Msg(66));
    for (int side = 0; side < 2; ++side) {
        const bool hostSide = side == 0;
        const auto& items = hostSide ? plan.HostFolders : plan.MirrorFolders;
        const std::string& own = hostSide ? run.HostRoot : run.MirrorRoot;
        const std::string& other = hostSide ? run.MirrorRoot : run.HostRoot;
        // The action that creates the folder on the other side when it is
        // missing there; the opposite one removes it on this side.
        const SyncAction creates = hostSide ? SyncAction::HostToMirror : SyncAction::MirrorToHost;
        for (const FolderItem& f : items) {
            if (f.Total != 0)
                continue;
            run.ui().Pump();
            if (Stopped(run))
                return;
            run.State = RunState::ExecMirror;
            const std::string path = JoinRoot(own, f.Path);
            if (action == SyncAction::Delete) {
                ShowOperation(run, Performing(opDelete));
                ShowPath(run, path);
                RemoveEmptyFolderBelow(own, f.Path);
                continue;
            }
            if (f.OtherUnknown ||
                (hostSide ? plan.MirrorHasFolder(f.Path) : plan.HostHasFolder(f.Path)))
                continue;
            if (action == creates) {
                ShowOperation(run, Performing(hostSide ? opToMirror : opToHost));
                ShowPath(run, path);
                CreateFolderBelow(other, f.Path);
            } else {
                ShowOperation(run, Performing(opDelete));
                ShowPath(run, path);
                RemoveEmptyFolderBelow(own, f.Path);
            }
        }
    }
}

} // namespace duplora
