#pragma once
// `duplora-cli run`: the chosen tasks run one after another, quietly (no
// preview, no questions), each result line goes to `out` as soon as it is
// written, and at the end the lines are appended to the log as one block,
// the way the desktop program does when it closes.

#include "cli/ProgressBar.h"
#include "tasks/TaskList.h"

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace duplora::cli {

struct RunRequest {
    std::vector<std::size_t> tasks; // indices into the list, in list order
    std::string logPath;
    std::string lockPath;              // the edit lock held while the log block is appended
    ProgressBar* bar = nullptr;        // null: no progress display
    std::function<bool()> interrupted; // a true answer cancels the current run
    // One JSON object per run (see RunReport.h) on `out` instead of the
    // result lines; the log still gets the lines.
    bool json = false;
    // Who started the runs: the console, or the headless scheduler; the log
    // block's first line names it (and the schedule, by `schedule`).
    RunStart start = RunStart::Console;
    std::string schedule;
};

// 0 when every run ended with "Task finish!" or "No file need to be
// synchronized!" and no failure; 1 otherwise (failures, the error limit, a
// cancel, a check before the run or the safety test refused a run, or the
// log could not be written). Reasons that leave no result line go to `err`.
int RunTasks(const TaskList& list, const RunRequest& request, std::ostream& out, std::ostream& err);

} // namespace duplora::cli
