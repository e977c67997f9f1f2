#include "tasks/LogFile.h"

#include "tasks/ConfigTestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

using namespace duplora;
using duplora::testing::ReadBytes;
using duplora::testing::TempFolder;
using duplora::testing::WriteBytes;

namespace {
std::vector<std::uint8_t> AsBytes(const std::string& s) {
    return {s.begin(), s.end()};
}
} // namespace

TEST(LogFile, BlocksAccumulateAfterExistingContents) {
    TempFolder dir;
    const std::string path = dir.file("duplora.log");
    std::string error;
    EXPECT_EQ(AppendLogBlock(path, {}, error), LogStatus::NothingToWrite);
    EXPECT_FALSE(std::filesystem::exists(path));

    EXPECT_EQ(AppendLogBlock(path, {"Task A", ""}, error), LogStatus::Written);
    EXPECT_EQ(ReadBytes(path), AsBytes(std::string("Task A\r\n\r\n") + '\0'));

    // Earlier blocks (NUL bytes and all) are kept exactly.
    EXPECT_EQ(AppendLogBlock(path, {"\xE6\x96\x87 done"}, error), LogStatus::Written);
    EXPECT_EQ(ReadBytes(path),
              AsBytes(std::string("Task A\r\n\r\n") + '\0' + "\xE6\x96\x87 done\r\n" + '\0'));
    EXPECT_TRUE(error.empty());
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"duplora.log"});
}

TEST(LogFile, UnreadableLogIsReportedAndLeftAlone) {
    TempFolder dir;
    const std::string path = dir.file("duplora.log");
    std::filesystem::create_directory(path);
    std::string error;
    EXPECT_EQ(AppendLogBlock(path, {"line"}, error), LogStatus::CannotRead);
    EXPECT_EQ(error, "Cannot open file " + path);
    EXPECT_TRUE(std::filesystem::is_directory(path));
}

TEST(LogFile, FailedWriteKeepsTheOldLog) {
    TempFolder dir;
    std::string error;
    WriteBytes(dir.file("plain"), {'x'});
    EXPECT_EQ(AppendLogBlock(dir.file("plain") + "/duplora.log", {"line"}, error),
              LogStatus::WriteFailed);

    const std::string path = dir.file("duplora.log");
    WriteBytes(path, AsBytes(std::string("old\r\n") + '\0'));
    FileOps full = SystemFileOps();
    full.write = [](int, const void*, std::size_t) -> ssize_t {
        errno = ENOSPC;
        return -1;
    };
    EXPECT_EQ(AppendLogBlock(path, {"new"}, error, "", full), LogStatus::WriteFailed);
    EXPECT_EQ(ReadBytes(path), AsBytes(std::string("old\r\n") + '\0'));
    EXPECT_EQ(dir.entries().size(), 2u); // "plain" and the log, no temporary
}

TEST(LogFile, AppendsInPlaceAndClosesABlockCutByACrash) {
    TempFolder dir;
    const std::string path = dir.file("duplora.log");
    // A crash in the middle of the last append left "torn" without its NUL.
    WriteBytes(path, AsBytes(std::string("old\r\n") + '\0' + "torn"));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    const ino_t inode = st.st_ino;
    std::string error;
    EXPECT_EQ(AppendLogBlock(path, {"new"}, error, dir.file("Duplora.cfg.lock")),
              LogStatus::Written);
    EXPECT_EQ(ReadBytes(path),
              AsBytes(std::string("old\r\n") + '\0' + "torn" + '\0' + "new\r\n" + '\0'));
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_ino, inode) << "appended in place, not rewritten";

    // A write that fails half-way takes its part back.
    FileOps half = SystemFileOps();
    int calls = 0;
    half.write = [&calls](int fd, const void* data, std::size_t size) -> ssize_t {
        if (calls++ == 0)
            return ::write(fd, data, size < 2 ? size : 2);
        errno = ENOSPC;
        return -1;
    };
    const auto before = ReadBytes(path);
    EXPECT_EQ(AppendLogBlock(path, {"lost"}, error, "", half), LogStatus::WriteFailed);
    EXPECT_EQ(ReadBytes(path), before);
}
