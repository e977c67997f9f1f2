#pragma once
// Small real-file helpers shared by the copy and delete tests. Each test gets
// its own folder under /tmp with a host-side "src", a target "root" and an
// "outside" folder that no operation may ever touch.

#include "tasks/TextTable.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace duplora::copiertest {

namespace fs = std::filesystem;

inline void WriteFile(const fs::path& p, const std::string& content) {
    fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    ASSERT_TRUE(out.good()) << p;
}

inline std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Bytes that differ at every position, so an offset error shows.
inline std::string Pattern(std::size_t size, unsigned seed = 1) {
    std::string s(size, '\0');
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& c : s) {
        x = x * 1664525u + 1013904223u;
        c = static_cast<char>(x >> 24);
    }
    return s;
}

inline struct stat Lstat(const fs::path& p) {
    struct stat st {};
    EXPECT_EQ(::lstat(p.c_str(), &st), 0) << p;
    return st;
}

// Every name in a folder, hidden ones included (a leftover temporary file
// starts with '.').
inline std::vector<std::string> Names(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class TempTree : public ::testing::Test {
protected:
    void SetUp() override {
        SetLanguage(Language::English); // the expected result lines are English
        char pattern[] = "/tmp/duplora-copier-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        base = pattern;
        src = base / "src";
        root = base / "root";
        outside = base / "outside";
        fs::create_directories(src);
        fs::create_directories(root);
        fs::create_directories(outside);
    }
    void TearDown() override {
        if (base.empty())
            return;
        // Read-only folders left by a test must not stop the clean-up.
        for (const auto& e : fs::recursive_directory_iterator(base)) {
            if (e.is_directory() && !e.is_symlink())
                ::chmod(e.path().c_str(), 0755);
        }
        std::error_code ec;
        fs::remove_all(base, ec);
    }

    fs::path base, src, root, outside;
};

} // namespace duplora::copiertest
