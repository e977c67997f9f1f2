#pragma once
// Runs the console program in-process on a private configuration in a
// temporary folder, with host and mirror folders beside it.

#include "cli/Cli.h"
#include "sync/TreeFixture.h"
#include "tasks/ConfigFile.h"
#include "tasks/TextTable.h"

#include <gtest/gtest.h>

#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

namespace duplora::test {

// "text" holds "part", with both shown when it does not.
inline ::testing::AssertionResult HasText(const std::string& text, const std::string& part) {
    if (text.find(part) != std::string::npos)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "'" << part << "' not in:\n" << text;
}

struct CliResult {
    int code = -1;
    std::string out, err;
};

struct CliFixture {
    TempRoot tmp;
    std::string config = tmp.sub("Duplora.cfg");
    std::string log = tmp.sub("duplora.log");
    std::string host = tmp.sub("host");
    std::string mirror = tmp.sub("mirror");

    // duplora-cli --config <config> --lang en ARGS...
    CliResult Cli(std::vector<std::string> args) const {
        args.insert(args.begin(), {"--config", config, "--lang", "en"});
        std::ostringstream out, err;
        CliResult r;
        r.code = cli::RunCli(args, out, err);
        r.out = out.str();
        r.err = err.str();
        return r;
    }

    // Lines of stdout.
    static std::vector<std::string> Lines(const std::string& text) {
        std::vector<std::string> lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    std::string FileBytes(const std::string& path) const {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

    TaskList LoadList() const {
        TaskList list;
        std::string error;
        LoadConfiguration(config, list, error);
        return list;
    }

    // A task copying new and newer host files to the mirror.
    void NewOneWay(const std::string& name) const {
        const CliResult r =
            Cli({"new", name, "--host", host, "--mirror", mirror, "--subfolders", "on",
                 "--only-in-host", "to-mirror", "--newer-in-host", "to-mirror"});
        ASSERT_EQ(r.code, 0) << r.err;
    }
};

} // namespace duplora::test
