#include "tasks/ProgramPaths.h"

#include "tasks/ConfigFile.h"
#include "tasks/LogFile.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

namespace duplora {

namespace {

std::string WithSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

ProgramPaths InFolder(const std::string& folder) {
    ProgramPaths p;
    p.folder = WithSlash(folder);
    p.configPath = p.folder + kConfigFileName;
    p.logPath = p.folder + kLogFileName;
    // A failure here surfaces later as "Cannot create file" when saving.
    std::error_code ec;
    std::filesystem::create_directories(p.folder, ec);
    return p;
}

std::string HomeFolder(const std::function<const char*(const char*)>& getenv) {
    if (const char* home = getenv("HOME"); home != nullptr && *home != '\0')
        return home;
    std::vector<char> buf(16384);
    passwd pw{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr)
        return found->pw_dir;
    return "/tmp";
}

} // namespace

std::string CurrentExecutablePath() {
    std::error_code ec;
    auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : p.string();
}

ProgramPaths ResolveProgramPaths(const PathEnvironment& env) {
    const std::function<const char*(const char*)> getenv =
        env.getenv ? env.getenv : [](const char* name) -> const char* { return std::getenv(name); };

    if (const char* home = getenv("DUPLORA_HOME"); home != nullptr && *home != '\0')
        return InFolder(home);

    const std::string exe = env.exePath.empty() ? CurrentExecutablePath() : env.exePath;
    if (const auto slash = exe.rfind('/'); slash != std::string::npos) {
        const std::string folder = exe.substr(0, slash + 1);
        // Only a configuration already there makes the program's folder
        // the home: a folder that is merely writable (an install made by
        // root into /usr/local/bin) must never fill up with settings.
        std::error_code ec;
        if (std::filesystem::is_regular_file(folder + kConfigFileName, ec))
            return InFolder(folder);
    }

    // The XDG rules ignore a relative XDG_CONFIG_HOME.
    std::string base;
    if (const char* xdg = getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/')
        base = xdg;
    else
        base = WithSlash(HomeFolder(getenv)) + ".config";
    return InFolder(WithSlash(base) + "duplora");
}

std::string ResolveMemoryFolder(const PathEnvironment& env) {
    const std::function<const char*(const char*)> getenv =
        env.getenv ? env.getenv : [](const char* name) -> const char* { return std::getenv(name); };
    if (const char* home = getenv("DUPLORA_HOME"); home != nullptr && *home != '\0')
        return WithSlash(home) + "memory/";
    // As for the configuration, a relative XDG_STATE_HOME is ignored.
    std::string base;
    if (const char* xdg = getenv("XDG_STATE_HOME"); xdg != nullptr && xdg[0] == '/')
        base = xdg;
    else
        base = WithSlash(HomeFolder(getenv)) + ".local/state";
    return WithSlash(base) + "duplora/memory/";
}

std::string LogPathForConfig(const std::string& configPath) {
    const auto slash = configPath.rfind('/');
    return (slash == std::string::npos ? std::string() : configPath.substr(0, slash + 1)) +
           kLogFileName;
}

} // namespace duplora
