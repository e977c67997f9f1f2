#pragma once
// The console program's one way to change the configuration (task and
// schedule commands alike): lock, load afresh, modify, save. Ten `new`
// commands started at once each see the tasks the others saved before them.

#include "tasks/TaskList.h"

#include <functional>
#include <iosfwd>
#include <string>

namespace duplora::cli {

// Runs `modify` on the configuration as read under the edit lock; it
// returns an exit code and writes its own messages, and only 0 saves.
// Returns `modify`'s code, 2 for an unreadable configuration, 1 when the
// lock cannot be taken or the save fails (messages on `err`).
int EditConfig(const std::string& configPath, const std::function<int(TaskList&)>& modify,
               std::ostream& err);

} // namespace duplora::cli
