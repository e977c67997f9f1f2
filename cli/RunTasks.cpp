#include "cli/RunTasks.h"

#include "cli/RunReport.h"

#include "sync/run/ResultLines.h"
#include "sync/run/RunReport.h"
#include "sync/run/SyncRun.h"
#include "sync/share/ShareRun.h"
#include "tasks/LogFile.h"
#include "tasks/TextTable.h"

#include <ctime>
#include <ostream>

namespace duplora::cli {

int RunTasks(const TaskList& list, const RunRequest& request, std::ostream& out,
             std::ostream& err) {
    ProgressBar* const bar = request.bar;
    ResultLines lines;
    if (!request.json)
        lines.OnLine = [&out, bar](const std::string& line) {
            if (bar)
                bar->Clear();
            // Flushed line by line, so a pipe or a log reader sees each line as
            // the run writes it, not when the buffer fills.
            out << line << '\n' << std::flush;
        };
    ConsoleObserver observer(bar, request.interrupted);

    int code = 0;
    for (std::size_t index : request.tasks) {
        if (request.interrupted && request.interrupted()) {
            code = 1;
            break;
        }
        const Task& task = list[index];
        RunContext run;
        run.TaskName = task.name;
        run.Task = task.record;
        run.Start = request.start;
        run.Ui = &observer;
        run.Lines = &lines;
        ShareConnector shares;
        observer.SetRun(&run);

        RunTimes times;
        times.start = std::time(nullptr);
        RunSteps(run, &shares);
        times.end = std::time(nullptr);
        observer.SetRun(nullptr);
        if (bar)
            bar->Clear();

        const RunReport report = ReportOf(run);
        if (report.Refusal != RefusalReason::None)
            err << "duplora-cli: task '" << task.name << "'"
                << (report.Outcome == RunOutcome::Cancelled ? ": " : " not run: ") << report.Line
                << '\n';
        if (request.json)
            out << RunReportJson(report, times) << '\n' << std::flush;
        if (!shares.DisconnectError().empty()) {
            err << "duplora-cli: task '" << task.name << "': " << shares.DisconnectError() << '\n';
            code = 1;
        }
        if (!report.Succeeded())
            code = 1;
    }
    if (bar)
        bar->Clear();

    std::string error;
    // The block names what started its runs, before their lines.
    std::vector<std::string> block;
    if (!lines.Empty()) {
        block.reserve(lines.Lines().size() + 1);
        block.push_back(StartedByText(request.start, false, request.schedule));
        block.insert(block.end(), lines.Lines().begin(), lines.Lines().end());
    }
    switch (AppendLogBlock(request.logPath, block, error, request.lockPath)) {
    case LogStatus::Written:
    case LogStatus::NothingToWrite:
        break;
    case LogStatus::CannotRead:
        err << "duplora-cli: " << error << '\n';
        code = 1;
        break;
    case LogStatus::WriteFailed:
        err << "duplora-cli: cannot write the log " << request.logPath << '\n';
        code = 1;
        break;
    }
    return code;
}

} // namespace duplora::cli
