// The console program's man page names every command, option and choice its
// --help lists (the desktop program's page: tests/app/gui/ManPageTest.cpp).

#include "TestPaths.h"
#include "cli/HelpText.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace duplora::test {
namespace {

std::string ReadSource(const std::string& page) {
    std::ifstream in(std::string(DUPLORA_SOURCE_DIR) + "/docs/man/" + page);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

TEST(ManPage, ConsoleProgramPageNamesEveryCommandAndOption) {
    const std::string page = ReadSource("duplora-cli.1.scd");
    ASSERT_FALSE(page.empty());
    const std::vector<std::vector<std::string>> commands = AllCommands();
    ASSERT_GT(commands.size(), 10u); // the walk found the commands at all
    for (const std::vector<std::string>& command : commands) {
        std::string words;
        for (const std::string& w : command)
            words += w + " ";
        // A command shows in bold where it is described: "*schedule next*".
        if (!command.empty()) {
            EXPECT_NE(page.find("*" + words.substr(0, words.size() - 1)), std::string::npos)
                << "command '" << words << "' is not in the man page";
        }
        for (const HelpOption& option : ReadHelp(command).options) {
            EXPECT_NE(page.find("*" + option.name + "*"), std::string::npos)
                << "option " << option.name << " of '" << words << "' is not in the man page";
            for (const std::string& choice : option.choices)
                EXPECT_NE(page.find("_" + choice + "_"), std::string::npos)
                    << "choice " << choice << " of " << option.name << " is not in the man page";
        }
    }
}

} // namespace
} // namespace duplora::test
