#pragma once
// Where the configuration file and the log live:
//   1. $DUPLORA_HOME, when set and not empty (tests, portable installs);
//   2. the program's own folder, when it already holds Duplora.cfg (a copy
//      kept on a stick with its settings; an empty file starts one);
//   3. $XDG_CONFIG_HOME/duplora/ (default ~/.config/duplora/).
// The chosen folder is created when it does not exist yet.

#include <functional>
#include <string>

namespace duplora {

struct PathEnvironment {
    // Environment lookup; null means std::getenv.
    std::function<const char*(const char*)> getenv;
    // Full path of the running program; empty means /proc/self/exe.
    std::string exePath;
};

struct ProgramPaths {
    std::string folder;     // with a trailing '/'
    std::string configPath; // folder + "Duplora.cfg"
    std::string logPath;    // folder + "duplora.log"
};

ProgramPaths ResolveProgramPaths(const PathEnvironment& env = {});

// The log that belongs to a configuration given by path (the console
// program's --config): the same folder, "duplora.log".
std::string LogPathForConfig(const std::string& configPath);

// Where tasks that remember their last run keep their records (not created
// here): $DUPLORA_HOME/memory/ when that is set, else
// $XDG_STATE_HOME/duplora/memory/ (default ~/.local/state/duplora/memory/).
std::string ResolveMemoryFolder(const PathEnvironment& env = {});

// The running program's full path, or "" when the system does not say.
std::string CurrentExecutablePath();

} // namespace duplora
