// The shape of the code: imports run one way through the layers
//
//   platform  <-  tasks  <-  schedule, sync  <-  cli, ui (+ platform/widgets)  <-  app
//
// and the engine (everything left of cli) includes no Qt header, because the
// console program links it on servers without Qt.
#include "TestPaths.h"
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>

namespace fs = std::filesystem;

namespace {

// The layer a source file or an included path belongs to; "" for anything
// outside the project (system and library headers, the tests' own files).
std::string LayerOf(const std::string& path) {
    if (path.rfind("platform/widgets/", 0) == 0)
        return "widgets";
    for (const char* layer : {"platform", "tasks", "schedule", "sync", "cli", "ui", "app"})
        if (path.rfind(std::string(layer) + "/", 0) == 0)
            return layer;
    return "";
}

// What each layer may include besides itself.
const std::map<std::string, std::set<std::string>> kAllowed = {
    {"platform", {}},
    {"tasks", {"platform"}},
    {"schedule", {"platform", "tasks"}},
    {"sync", {"platform", "tasks"}},
    {"cli", {"platform", "tasks", "schedule", "sync"}},
    {"widgets", {"platform"}},
    {"ui", {"platform", "tasks", "schedule", "sync", "widgets"}},
    {"app", {"platform", "tasks", "schedule", "sync", "ui", "widgets"}},
};

const std::set<std::string> kEngine = {"platform", "tasks", "schedule", "sync", "cli"};

struct Include {
    std::string file; // relative to the source root
    int line = 0;
    std::string target;
};

std::vector<Include> ProjectIncludes() {
    const fs::path root = DUPLORA_SOURCE_DIR;
    const std::regex include(R"(^\s*#\s*include\s*[<"]([^">]+)[">])");
    std::vector<Include> found;
    for (const char* dir : {"platform", "tasks", "schedule", "sync", "cli", "ui", "app"}) {
        for (const auto& e : fs::recursive_directory_iterator(root / dir)) {
            const std::string ext = e.path().extension().string();
            if (!e.is_regular_file() || (ext != ".cpp" && ext != ".h"))
                continue;
            std::ifstream in(e.path());
            std::string text;
            int n = 0;
            while (std::getline(in, text)) {
                ++n;
                std::smatch m;
                if (std::regex_search(text, m, include))
                    found.push_back({fs::relative(e.path(), root).generic_string(), n, m[1]});
            }
        }
    }
    return found;
}

} // namespace

TEST(CodeShape, IncludesRunDownTheLayersOnly) {
    const std::vector<Include> includes = ProjectIncludes();
    ASSERT_GT(includes.size(), 100u);
    for (const Include& inc : includes) {
        const std::string from = LayerOf(inc.file);
        const std::string to = LayerOf(inc.target);
        if (to.empty() || to == from)
            continue;
        EXPECT_TRUE(kAllowed.at(from).count(to))
            << inc.file << ":" << inc.line << " (" << from << ") includes " << inc.target << " ("
            << to << ")";
    }
}

TEST(CodeShape, NoEngineFileIncludesQt) {
    const std::regex qt(R"(^Q[A-Za-z]+$|^Qt[A-Za-z]+/)");
    int checked = 0;
    for (const Include& inc : ProjectIncludes()) {
        if (!kEngine.count(LayerOf(inc.file)))
            continue;
        ++checked;
        EXPECT_FALSE(std::regex_search(inc.target, qt))
            << inc.file << ":" << inc.line << ": " << inc.target;
    }
    EXPECT_GT(checked, 0);
}
