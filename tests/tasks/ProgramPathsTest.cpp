#include "tasks/ProgramPaths.h"

#include "tasks/ConfigTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

using namespace duplora;
using duplora::testing::TempFolder;
using duplora::testing::WriteBytes;

namespace {

PathEnvironment Env(std::map<std::string, std::string> vars, std::string exe) {
    PathEnvironment env;
    auto shared = std::make_shared<std::map<std::string, std::string>>(std::move(vars));
    env.getenv = [shared](const char* name) -> const char* {
        auto it = shared->find(name);
        return it == shared->end() ? nullptr : it->second.c_str();
    };
    env.exePath = std::move(exe);
    return env;
}

} // namespace

TEST(ProgramPaths, HomeVariableWinsAndIsCreated) {
    TempFolder dir;
    const std::string home = dir.file("portable/settings");
    const ProgramPaths p =
        ResolveProgramPaths(Env({{"DUPLORA_HOME", home}}, dir.file("bin/duplora")));
    EXPECT_EQ(p.folder, home + "/");
    EXPECT_EQ(p.configPath, home + "/Duplora.cfg");
    EXPECT_EQ(p.logPath, home + "/duplora.log");
    EXPECT_TRUE(std::filesystem::is_directory(home));
}

TEST(ProgramPaths, ProgramFolderOnlyWhenItHoldsAConfiguration) {
    TempFolder dir;
    std::filesystem::create_directory(dir.file("bin"));
    const auto env =
        Env({{"DUPLORA_HOME", ""}, {"XDG_CONFIG_HOME", dir.file("xdg")}}, dir.file("bin/duplora"));
    // A writable program folder (an install run as root) is not enough.
    ProgramPaths p = ResolveProgramPaths(env);
    EXPECT_EQ(p.configPath, dir.file("xdg/duplora/Duplora.cfg"));
    EXPECT_TRUE(std::filesystem::is_empty(dir.file("bin")));

    // An empty Duplora.cfg beside the program starts portable use.
    WriteBytes(dir.file("bin/Duplora.cfg"), {});
    p = ResolveProgramPaths(env);
    EXPECT_EQ(p.configPath, dir.file("bin/Duplora.cfg"));
    EXPECT_EQ(p.logPath, dir.file("bin/duplora.log"));
}

TEST(ProgramPaths, ConfigFolderOtherwise) {
    TempFolder dir;
    // The program's folder does not exist, so it is neither writable nor
    // holding a configuration.
    const std::string exe = dir.file("gone/duplora");
    ProgramPaths p = ResolveProgramPaths(Env({{"XDG_CONFIG_HOME", dir.file("xdg")}}, exe));
    EXPECT_EQ(p.configPath, dir.file("xdg/duplora/Duplora.cfg"));
    EXPECT_EQ(p.logPath, dir.file("xdg/duplora/duplora.log"));
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("xdg/duplora")));

    // Without XDG_CONFIG_HOME (or with a relative one) ~/.config is used.
    for (const char* xdg : {"", "relative/dir"}) {
        p = ResolveProgramPaths(Env({{"HOME", dir.file("home")}, {"XDG_CONFIG_HOME", xdg}}, exe));
        EXPECT_EQ(p.configPath, dir.file("home/.config/duplora/Duplora.cfg"));
    }
}

TEST(ProgramPaths, LogBesideAGivenConfiguration) {
    EXPECT_EQ(LogPathForConfig("/srv/cfg/my.cfg"), "/srv/cfg/duplora.log");
    EXPECT_EQ(LogPathForConfig("my.cfg"), "duplora.log");
    EXPECT_FALSE(CurrentExecutablePath().empty());
}

TEST(ProgramPaths, MemoryFolderFollowsHomeThenStateHome) {
    const struct {
        std::map<std::string, std::string> vars;
        const char* folder;
    } cases[] = {
        {{{"DUPLORA_HOME", "/p/home"}, {"XDG_STATE_HOME", "/s"}}, "/p/home/memory/"},
        {{{"XDG_STATE_HOME", "/s/"}, {"HOME", "/h"}}, "/s/duplora/memory/"},
        {{{"XDG_STATE_HOME", "rel"}, {"HOME", "/h"}}, "/h/.local/state/duplora/memory/"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ResolveMemoryFolder(Env(c.vars, "/usr/bin/duplora")), c.folder);
}
