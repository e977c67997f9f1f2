#include "sync/run/RunReport.h"

#include "tasks/TextTable.h"

namespace duplora {

namespace {

// A scan took place, so the plan holds both sides' files.
bool Scanned(const RunContext& run) {
    switch (run.Outcome) {
    case RunOutcome::NothingToDo:
    case RunOutcome::Declined:
    case RunOutcome::Finished:
    case RunOutcome::ErrorLimit:
        return true;
    case RunOutcome::Cancelled:
        return !run.InvalidMaskFound && !run.HostMissing;
    case RunOutcome::Skipped:
        return run.Refusal == RefusalReason::DeleteLimit;
    case RunOutcome::NotRun:
    case RunOutcome::Unreachable:
        break;
    }
    return false;
}

} // namespace

RunReport ReportOf(const RunContext& run) {
    RunReport r;
    r.TaskName = run.TaskName;
    r.Start = run.Start;
    r.Outcome = run.Outcome;
    r.Refusal = run.Refusal;
    if (!run.RefusedLine.empty())
        r.Line = run.RefusedLine;
    else if (!run.EndLine.empty())
        r.Line = run.EndLine;
    else if (run.Outcome == RunOutcome::NothingToDo)
        r.Line = Msg(55);
    else if (run.Outcome == RunOutcome::Declined)
        r.Line = Msg(63);
    r.HostRoot = run.HostRoot.empty() ? run.Task.host_path() : run.HostRoot;
    r.MirrorRoot = run.MirrorRoot.empty() ? run.Task.mirror_path() : run.MirrorRoot;
    const SyncPlan& plan = run.Plan;
    r.CopiedToMirror = plan.CopiedToMirror;
    r.CopiedToHost = plan.CopiedToHost;
    r.DeletedInHost = plan.DeletedInHost;
    r.DeletedInMirror = plan.DeletedInMirror;
    r.Moved = plan.MovedCount;
    r.EmptyFoldersDone = plan.EmptyFoldersDone;
    r.Failed = plan.FailedCount;
    r.RememberOn = run.Task.remember_last_run();
    r.Remembered = plan.RememberedSince != 0;
    r.RememberedSince = plan.RememberedSince;
    r.MemoryNote = plan.MemoryNote;
    r.ConflictsKept = plan.ConflictsKept;
    r.ConflictsSkipped = plan.ConflictsSkipped;
    r.Failures = run.Failures;
    r.DoneBytes = plan.DoneBytes;
    r.Scanned = Scanned(run);
    if (r.Scanned) {
        r.Planned = {plan.ToMirrorCount,     plan.ToHostCount, plan.HostDeleteCount,
                     plan.MirrorDeleteCount, plan.MoveCount,   plan.EmptyFolderCount};
        r.TotalBytes = plan.TotalBytes;
        const auto& k = plan.RememberedCount;
        r.PlannedRemembered = {k[1], k[2], k[3], k[4], k[5]};
        r.Guard = MeasureDeleteGuard(plan, run.Task.delete_limit(), !run.SkipMirrorScan);
    }
    return r;
}

std::string StartedByText(RunStart start, bool autoMode, const std::string& schedule) {
    switch (start) {
    case RunStart::Window:
        return Msg(autoMode ? 269 : 240);
    case RunStart::CommandLine:
        return Msg(241);
    case RunStart::Schedule:
        return MsgFill(242, schedule);
    case RunStart::Console:
        return Msg(243);
    }
    return {};
}

} // namespace duplora
