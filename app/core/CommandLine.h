#pragma once
// The command line of the desktop program:
//   duplora [/H] [/A | -Aname | -Cname]
// "/H" starts hidden; "/A" ticks every task in auto mode; "-A" ticks every
// task whose name equals the rest of the argument without regard to case;
// "-C" does the same and makes the runs skip listing the mirror.

#include "app/core/RunFlags.h"
#include "tasks/TaskList.h"

#include <string>
#include <vector>

namespace duplora {

// Ticks the selected tasks in `list` and sets `flags`. `args` are the
// arguments after the program name. Returns true when the program must close
// at once without running anything: a selector was given, it ticked no task,
// and the program does not start hidden.
bool ApplyCommandLine(const std::vector<std::string>& args, TaskList& list, RunFlags& flags);

} // namespace duplora
