#pragma once
// The command line of the desktop program:
//   duplora [/H] [/A | -Aname | -Cname]
// "/H" starts hidden; "/A" ticks every task in auto mode; "-A" ticks every
// task whose name equals the rest of the argument without regard to case;
// "-C" does the same and makes the runs skip listing the mirror.

#include "sync/run/RunFlags.h"
#include "tasks/TaskList.h"

#include <string>
#include <vector>

namespace duplora {

// Ticks the selected tasks in `list` and sets `flags`. `args` are the
// arguments after the program name. Returns true when the program must close
// at once without running anything: a selector was given, it ticked no task,
// and the program does not start hidden.
bool ApplyCommandLine(const std::vector<std::string>& args, TaskList& list, RunFlags& flags);

// "--help" (also "-h", "/?") or "--version" as the only argument: the text to
// print before the program ends with 0. Empty for any other command line.
std::string InfoSwitchText(const std::vector<std::string>& args);

// A selector whose task name came as a separate argument ("-A" "Photos
// backup"), which selects nothing: a hint that the name belongs in the same
// argument. Empty when the command line is not of that shape.
std::string SplitSelectorHint(const std::vector<std::string>& args);

// Why a selector ticked no task, for the error output before the program
// ends with exit code 2.
std::string NoTaskMatchedText(const std::vector<std::string>& args);

} // namespace duplora
