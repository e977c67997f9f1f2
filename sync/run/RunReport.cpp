#include "sync/run/RunReport.h"

#include "tasks/TextTable.h"

namespace duplora {

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
    const SyncPlan& plan = run.Plan;
    r.CopiedToMirror = plan.CopiedToMirror;
    r.CopiedToHost = plan.CopiedToHost;
    r.DeletedInHost = plan.DeletedInHost;
    r.DeletedInMirror = plan.DeletedInMirror;
    r.Moved = plan.MovedCount;
    r.Failed = plan.FailedCount;
    r.Failures = run.Failures;
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
