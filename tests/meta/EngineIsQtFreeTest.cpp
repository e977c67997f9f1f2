// The engine library is linked by the console program, which must run on a
// server without Qt: no engine file may include a Qt header.
#include "TestPaths.h"
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

namespace fs = std::filesystem;

TEST(EngineIsQtFree, NoEngineFileIncludesQt) {
    const fs::path root = DUPLORA_SOURCE_DIR;
    const std::regex qtInclude(R"(^\s*#\s*include\s*[<"]Q)");
    int checked = 0;
    for (const char* dir : {"tasks", "sync", "schedule", "platform", "cli"}) {
        if (!fs::exists(root / dir))
            continue;
        for (const auto& e : fs::recursive_directory_iterator(root / dir)) {
            if (!e.is_regular_file())
                continue;
            std::ifstream in(e.path());
            std::string line;
            int n = 0;
            while (std::getline(in, line)) {
                ++n;
                EXPECT_FALSE(std::regex_search(line, qtInclude))
                    << e.path().string() << ":" << n << ": " << line;
            }
            ++checked;
        }
    }
    EXPECT_GT(checked, 0);
}
