#include "tasks/Helpers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace duplora;
namespace fs = std::filesystem;

namespace {

class FileHelpers : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "duplora-fh-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(root_, ec);
    }
    std::string Path(const std::string& rel) const { return root_ + "/" + rel; }
    void Write(const std::string& rel, const std::string& text) const {
        std::ofstream(Path(rel), std::ios::binary) << text;
    }
    std::string root_;
};

} // namespace

TEST_F(FileHelpers, FolderExists) {
    Write("file", "x");
    EXPECT_TRUE(FolderExists(root_));
    EXPECT_TRUE(FolderExists(root_ + "/"));
    EXPECT_FALSE(FolderExists(Path("file")));
    EXPECT_FALSE(FolderExists(Path("missing")));
    EXPECT_FALSE(FolderExists(""));
}

TEST_F(FileHelpers, ForceFolderPathCreatesParents) {
    EXPECT_THROW(ForceFolderPath(""), std::runtime_error);
    try {
        ForceFolderPath("");
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Unable to create directory");
    }
    EXPECT_TRUE(ForceFolderPath(Path("a/b/c/")));
    EXPECT_TRUE(FolderExists(Path("a/b/c")));
    EXPECT_TRUE(ForceFolderPath(Path("a/b/c"))); // already there
    EXPECT_TRUE(ForceFolderPath(Path("a//d")));
    EXPECT_TRUE(FolderExists(Path("a/d")));
    EXPECT_TRUE(ForceFolderPath("/"));

    // A file in the way, or a parent without write permission: false.
    Write("file", "x");
    EXPECT_FALSE(ForceFolderPath(Path("file/sub")));
    if (::geteuid() != 0) {
        ::chmod(Path("a").c_str(), 0555);
        EXPECT_FALSE(ForceFolderPath(Path("a/locked/deeper")));
        ::chmod(Path("a").c_str(), 0755);
    }
}

TEST_F(FileHelpers, ForceFolderPathCreatesShortRelativePaths) {
    // Two-character paths are created, not just reported as present.
    const fs::path old = fs::current_path();
    fs::current_path(root_);
    EXPECT_TRUE(ForceFolderPath("ab"));
    EXPECT_TRUE(FolderExists(Path("ab")));
    EXPECT_TRUE(ForceFolderPath("x/y"));
    EXPECT_TRUE(FolderExists(Path("x/y")));
    fs::current_path(old);
}

TEST_F(FileHelpers, WideFileSize) {
    Write("five", "12345");
    Write("empty", "");
    EXPECT_EQ(WideFileSize(Path("five")), 5);
    EXPECT_EQ(WideFileSize(Path("empty")), 0);
    EXPECT_EQ(WideFileSize(Path("missing")), -1);
    EXPECT_EQ(WideFileSize(root_), -1); // a folder has no file size
    ASSERT_EQ(::mkfifo(Path("pipe").c_str(), 0600), 0);
    EXPECT_EQ(WideFileSize(Path("pipe")), -1); // and a pipe does not hang
    // Large sizes are 64-bit (a sparse file costs no disk space).
    {
        FileStream f = OpenWideFile(Path("big"), "create");
        ASSERT_TRUE(f);
        ASSERT_EQ(::ftruncate(::fileno(f.get()), (std::int64_t{5} << 30) + 3), 0);
    }
    EXPECT_EQ(WideFileSize(Path("big")), (std::int64_t{5} << 30) + 3);
}

TEST_F(FileHelpers, OpenWideFileCreateReplacesReadOnlyFile) {
    Write("ro", "old contents");
    ::chmod(Path("ro").c_str(), 0444);
    {
        FileStream f = OpenWideFile(Path("ro"), "create");
        ASSERT_TRUE(f);
        std::fputs("new", f.get());
        // Created for reading and writing.
        std::rewind(f.get());
        char buf[8] = {};
        EXPECT_EQ(std::fread(buf, 1, 3, f.get()), 3u);
        EXPECT_STREQ(buf, "new");
    }
    EXPECT_EQ(WideFileSize(Path("ro")), 3);
    struct stat st {};
    ASSERT_EQ(::stat(Path("ro").c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IWUSR);

    FileStream r = OpenWideFile(Path("ro"), "read");
    ASSERT_TRUE(r);
    EXPECT_FALSE(OpenWideFile(Path("missing"), "read"));
    EXPECT_FALSE(OpenWideFile(Path("nodir/x"), "create"));
    EXPECT_FALSE(OpenWideFile(root_, "read")); // a folder is no file
    ASSERT_EQ(::mkfifo(Path("pipe").c_str(), 0600), 0);
    EXPECT_FALSE(OpenWideFile(Path("pipe"), "read")); // and a pipe does not hang
    EXPECT_FALSE(OpenWideFile(Path("ro"), "bogus"));
}

TEST_F(FileHelpers, OpenWideFileNeverWritesThroughALink) {
    Write("outside", "keep");
    fs::create_symlink(Path("outside"), Path("link"));
    EXPECT_FALSE(OpenWideFile(Path("link"), "create"));
    std::ifstream in(Path("outside"));
    std::string text;
    in >> text;
    EXPECT_EQ(text, "keep");
}

TEST_F(FileHelpers, SetFileStampRoundTripsThePackedTime) {
    Write("f", "x");
    std::tm local{};
    local.tm_year = 2024 - 1900;
    local.tm_mon = 6;
    local.tm_mday = 15;
    local.tm_hour = 13;
    local.tm_min = 45;
    local.tm_sec = 31; // stored as 30: two-second resolution
    const std::int32_t age = PackAgeTm(local);
    SetFileStamp(Path("f"), age);
    struct stat st {};
    ASSERT_EQ(::stat(Path("f").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, AgeToTime(age));
    EXPECT_EQ(PackAge(st.st_mtime), age);
    SetFileStamp(Path("missing"), age); // ignored, no crash
}
