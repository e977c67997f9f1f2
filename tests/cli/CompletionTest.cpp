// The bash completion of duplora-cli, run in a real bash: commands, options
// (the same as --help lists), their choices, and task and schedule names
// read from the configuration named on the line.

#include "TestPaths.h"
#include "cli/CliFixture.h"
#include "cli/HelpText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>

namespace duplora::test {
namespace {

std::string Quoted(const std::string& s) {
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// The words bash would offer for the last of `words` (after the program
// and --config), one per element.
std::set<std::string> Complete(const CliFixture& f, const std::vector<std::string>& words) {
    std::string script =
        "source " + Quoted(std::string(DUPLORA_SOURCE_DIR) + "/resources/completion/duplora-cli") +
        "; COMP_WORDS=(" + Quoted(DUPLORA_CLI_PATH) + " --config " + Quoted(f.config);
    for (const std::string& w : words)
        script += " " + Quoted(w);
    script += "); COMP_CWORD=" + std::to_string(words.size() + 2) +
              "; _duplora_cli; printf '%s\\n' \"${COMPREPLY[@]}\"";
    std::set<std::string> offered;
    FILE* pipe = ::popen(("bash -c " + Quoted(script) + " 2>&1").c_str(), "r");
    if (!pipe)
        return offered;
    char line[4096];
    while (std::fgets(line, sizeof line, pipe)) {
        std::string s(line);
        if (!s.empty() && s.back() == '\n')
            s.pop_back();
        if (!s.empty())
            offered.insert(s);
    }
    ::pclose(pipe);
    return offered;
}

struct CompletionTest : ::testing::Test {
    CliFixture f;
    void SetUp() override {
        f.NewOneWay("Photos");
        f.NewOneWay("My docs");
        ASSERT_EQ(f.Cli({"schedule", "new", "Nightly", "--task", "Photos"}).code, 0);
    }
};

TEST_F(CompletionTest, OffersCommandsChoicesAndNamesFromTheConfiguration) {
    using S = std::set<std::string>;
    const S photosAndDocs{"Photos", "My\\ docs"};
    const struct {
        std::vector<std::string> words;
        S expected;
    } cases[] = {
        {{"sc"}, {"schedule", "scheduler"}},
        {{"--lang", ""}, {"en", "zh-CN", "zh-TW"}},
        {{"show", ""}, photosAndDocs},
        {{"set", "M"}, {"My\\ docs"}},
        {{"set", "Photos", "--only-in-host", ""}, {"ignore", "to-mirror", "delete"}},
        {{"set", "Photos", "--on"},
         {"--only-in-host", "--only-in-mirror", "--only-masks", "--on-delete"}},
        {{"run", "Photos", "--json", ""}, photosAndDocs}, // run takes several names
        {{"plan", "Photos", ""}, {"--json", "--help"}},   // plan takes one name
        {{"schedule", "set", ""}, {"Nightly"}},
        {{"schedule", "new", "--task", ""}, photosAndDocs},
        {{"schedule", "n"}, {"new", "next"}},
    };
    for (const auto& c : cases) {
        std::string line;
        for (const std::string& w : c.words)
            line += w + " ";
        EXPECT_EQ(Complete(f, c.words), c.expected) << line;
    }
}

// Drift between the program and the script: every option --help lists is
// offered after "--", and an option with choices offers exactly those.
TEST_F(CompletionTest, OffersEveryOptionAndChoiceThatHelpLists) {
    for (const std::vector<std::string>& command : AllCommands()) {
        std::vector<std::string> words = command;
        const HelpText help = ReadHelp(command);
        std::set<std::string> names;
        for (const HelpOption& o : help.options)
            names.insert(o.name);
        words.push_back("--");
        EXPECT_EQ(Complete(f, words), names)
            << "duplora-cli " << (command.empty() ? "" : command[0]);
        words.pop_back();
        for (const HelpOption& o : help.options) {
            if (o.choices.empty())
                continue;
            words.push_back(o.name);
            words.push_back("");
            EXPECT_EQ(Complete(f, words), std::set<std::string>(o.choices.begin(), o.choices.end()))
                << o.name;
            words.resize(words.size() - 2);
        }
    }
}

} // namespace
} // namespace duplora::test
