#include "sync/execute/FileCopier.h"

#include "CopierTestFiles.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace duplora;
using namespace duplora::copiertest;

namespace {

class FileCopier : public TempTree {
protected:
    CopyOutcome Copy(const fs::path& from, const fs::path& to, const CopyHooks& hooks = {},
                     std::int32_t limit = 0) {
        CopyRequest r;
        r.source = from.string();
        r.target = to.string();
        r.targetRoot = root.string();
        r.speedLimitKBps = limit;
        return CopyOneFile(r, hooks);
    }
};

TEST_F(FileCopier, CopiesContentExactTimeAndModeIntoNewFolders) {
    const auto content = Pattern(100000);
    WriteFile(src / "a.bin", content);
    ASSERT_EQ(::chmod((src / "a.bin").c_str(), 0640), 0);
    const timespec times[2] = {{1000000000, 5}, {1234567890, 123456789}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (src / "a.bin").c_str(), times, 0), 0);
    const auto target = root / "new dir" / "Ünïcode 文件" / "a copy.bin";

    const auto out = Copy(src / "a.bin", target);

    EXPECT_EQ(out.result, CopyResult::Copied);
    EXPECT_EQ(out.messageLine, "");
    EXPECT_EQ(ReadFile(target), content);
    const auto st = Lstat(target);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_mtim.tv_sec, 1234567890);
    EXPECT_EQ(st.st_mtim.tv_nsec, 123456789);
    EXPECT_EQ(Names(target.parent_path()), std::vector<std::string>{"a copy.bin"});
}

TEST_F(FileCopier, ReplacesReadOnlyTargetWithoutWritingIntoIt) {
    WriteFile(src / "f.txt", "new contents");
    ASSERT_EQ(::chmod((src / "f.txt").c_str(), 0444), 0);
    WriteFile(root / "f.txt", "old contents that are longer");
    ASSERT_EQ(::chmod((root / "f.txt").c_str(), 0400), 0);
    // A second name for the old target: replacing must not change its data.
    ASSERT_EQ(::link((root / "f.txt").c_str(), (outside / "hard").c_str()), 0);

    const auto out = Copy(src / "f.txt", root / "f.txt");

    EXPECT_EQ(out.result, CopyResult::Copied);
    EXPECT_EQ(ReadFile(root / "f.txt"), "new contents");
    EXPECT_EQ(Lstat(root / "f.txt").st_mode & 07777, 0444u);
    EXPECT_EQ(ReadFile(outside / "hard"), "old contents that are longer");
    EXPECT_EQ(Lstat(outside / "hard").st_mode & 07777, 0400u);
}

TEST_F(FileCopier, CopiesOnlyThePermissionBits) {
    WriteFile(src / "tool", "#!/bin/sh\n");
    ASSERT_EQ(::chmod((src / "tool").c_str(), 06755), 0);
    EXPECT_EQ(Copy(src / "tool", root / "tool").result, CopyResult::Copied);
    EXPECT_EQ(Lstat(root / "tool").st_mode & 07777, 0755u);
    // The copy is created with the source's bits; those the creation mask
    // takes away (or a source without owner write) still end up exact.
    const mode_t oldMask = ::umask(027);
    for (const mode_t mode : {0666u, 0777u, 0444u, 0604u, 0640u}) {
        const std::string name = "m" + std::to_string(mode);
        WriteFile(src / name, "x");
        ASSERT_EQ(::chmod((src / name).c_str(), mode), 0);
        EXPECT_EQ(Copy(src / name, root / name).result, CopyResult::Copied) << name;
        EXPECT_EQ(Lstat(root / name).st_mode & 07777, mode) << name;
    }
    ::umask(oldMask);
}

TEST_F(FileCopier, EmptySourceMakesEmptyTargetWithoutProgressCalls) {
    WriteFile(src / "empty", "");
    WriteFile(root / "empty", "old");
    int calls = 0;
    CopyHooks hooks;
    hooks.onChunk = [&](std::int64_t, std::int64_t, std::int64_t) { ++calls; };
    for (std::int32_t limit : {0, 100}) {
        const auto out = Copy(src / "empty", root / "empty", hooks, limit);
        EXPECT_EQ(out.result, CopyResult::Copied);
        EXPECT_EQ(fs::file_size(root / "empty"), 0u);
    }
    EXPECT_EQ(calls, 0);
}

TEST_F(FileCopier, SourceThatVanishedTouchesNothing) {
    WriteFile(root / "f.txt", "keep");
    const auto out = Copy(src / "gone.txt", root / "sub" / "f.txt");
    EXPECT_EQ(out.result, CopyResult::SourceOpenFailed);
    EXPECT_EQ(out.messageLine, "Failed to open source file, path: " + (src / "gone.txt").string());
    EXPECT_FALSE(fs::exists(root / "sub"));
    EXPECT_EQ(Names(root), std::vector<std::string>{"f.txt"});

    // A folder where the source file was is no file to copy either.
    fs::create_directories(src / "dir");
    EXPECT_EQ(Copy(src / "dir", root / "f.txt").result, CopyResult::SourceOpenFailed);
    EXPECT_EQ(ReadFile(root / "f.txt"), "keep");
}

TEST_F(FileCopier, SourceLinkCopiesWhatItPointsTo) {
    WriteFile(outside / "real", "linked data");
    ASSERT_EQ(::symlink((outside / "real").c_str(), (src / "link").c_str()), 0);
    EXPECT_EQ(Copy(src / "link", root / "link").result, CopyResult::Copied);
    EXPECT_TRUE(S_ISREG(Lstat(root / "link").st_mode));
    EXPECT_EQ(ReadFile(root / "link"), "linked data");
}

TEST_F(FileCopier, TargetOccupiedByFolderIsLeftAlone) {
    WriteFile(root / "x" / "inner.txt", "inner");
    // Small and large sources take different ways to the same answer.
    for (std::size_t size : {4u, 3u << 20}) {
        WriteFile(src / "x", Pattern(size));
        const auto out = Copy(src / "x", root / "x");
        EXPECT_EQ(out.result, CopyResult::TargetCreateFailed) << size;
        EXPECT_EQ(out.messageLine, "Failed to create target file, path: " + (root / "x").string());
        EXPECT_EQ(Names(root / "x"), std::vector<std::string>{"inner.txt"});
        EXPECT_EQ(ReadFile(root / "x" / "inner.txt"), "inner");
        EXPECT_EQ(Names(root), std::vector<std::string>{"x"});
    }
}

TEST_F(FileCopier, RootMayItselfBeALink) {
    // The user chose the root; a link on its own path is followed.
    WriteFile(src / "f", "data");
    ASSERT_EQ(::symlink(root.c_str(), (base / "rootlink").c_str()), 0);
    const std::string linkRoot = (base / "rootlink").string();
    CopyRequest r;
    r.source = (src / "f").string();
    // A trailing '/' on the root names the same root.
    for (const auto& [givenRoot, rel] : {std::pair{linkRoot, "/f"}, {linkRoot + "/", "/sub/f"}}) {
        r.targetRoot = givenRoot;
        r.target = linkRoot + rel;
        EXPECT_EQ(CopyOneFile(r, {}).result, CopyResult::Copied) << rel;
        EXPECT_EQ(ReadFile(root.string() + rel), "data");
    }
    EXPECT_TRUE(DeleteOneFile(r.target, r.targetRoot).ok);
    EXPECT_FALSE(fs::exists(root / "sub" / "f"));
}

TEST_F(FileCopier, NeverWritesThroughLinkedFolderOrOutsideRoot) {
    WriteFile(src / "f", "data");
    fs::create_directories(root / "a");
    ASSERT_EQ(::symlink(outside.c_str(), (root / "a" / "link").c_str()), 0);
    const std::vector<fs::path> targets = {
        root / "a" / "link" / "f",          // folder is a link to outside
        root / "a" / "link" / "deep" / "f", // would create below the link
        root / ".." / "outside" / "f",      // climbs out by name
        root / "a" / ".." / ".." / "outside" / "f",
        base / "rootx" / "f", // shares the root's prefix only
        root,                 // the root itself
    };
    for (const auto& t : targets) {
        const auto out = Copy(src / "f", t);
        EXPECT_EQ(out.result, CopyResult::TargetCreateFailed) << t;
        EXPECT_EQ(out.messageLine, "Failed to create target file, path: " + t.string());
    }
    EXPECT_TRUE(fs::is_empty(outside));
    EXPECT_FALSE(fs::exists(base / "rootx"));
    EXPECT_EQ(Names(root / "a"), std::vector<std::string>{"link"});
}

TEST_F(FileCopier, TargetThatIsALinkIsReplacedNotFollowed) {
    WriteFile(src / "f", "fresh");
    WriteFile(outside / "secret", "untouched");
    ASSERT_EQ(::symlink((outside / "secret").c_str(), (root / "f").c_str()), 0);
    ASSERT_EQ(::symlink((outside / "nothing").c_str(), (root / "dangling").c_str()), 0);

    EXPECT_EQ(Copy(src / "f", root / "f").result, CopyResult::Copied);
    EXPECT_EQ(Copy(src / "f", root / "dangling").result, CopyResult::Copied);

    EXPECT_TRUE(S_ISREG(Lstat(root / "f").st_mode));
    EXPECT_EQ(ReadFile(root / "f"), "fresh");
    EXPECT_TRUE(S_ISREG(Lstat(root / "dangling").st_mode));
    EXPECT_EQ(ReadFile(outside / "secret"), "untouched");
    EXPECT_EQ(Names(outside), std::vector<std::string>{"secret"});
}

TEST_F(FileCopier, LongestNameStillGetsATemporaryFile) {
    // 255 bytes, the longest name; the 3-byte characters make a cut land
    // inside one unless the cut respects character boundaries.
    std::string name = "x";
    while (name.size() + 3 <= 255)
        name += "文";
    WriteFile(src / "s", "long");
    EXPECT_EQ(Copy(src / "s", root / name).result, CopyResult::Copied);
    EXPECT_EQ(ReadFile(root / name), "long");
    EXPECT_EQ(Names(root), std::vector<std::string>{name});
}

// Data at 1 MiB and 9 MiB of a 16 MiB file that is otherwise holes (the end
// too): the copy keeps them as holes, with and without the speed limit, and
// its bytes are exact.
TEST_F(FileCopier, SparseSourceKeepsItsHoles) {
    constexpr off_t kSize = off_t{16} << 20;
    const std::string a = Pattern(100000, 3), b = Pattern(70000, 4);
    {
        const int fd = ::open((src / "sparse").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, a.data(), a.size(), off_t{1} << 20), static_cast<ssize_t>(a.size()));
        ASSERT_EQ(::pwrite(fd, b.data(), b.size(), off_t{9} << 20), static_cast<ssize_t>(b.size()));
        ASSERT_EQ(::ftruncate(fd, kSize), 0);
        ::close(fd);
    }
    if (Lstat(src / "sparse").st_blocks * 512 >= kSize)
        GTEST_SKIP() << "the test folder's file system keeps no holes";
    std::string want(static_cast<std::size_t>(kSize), '\0');
    want.replace(std::size_t{1} << 20, a.size(), a);
    want.replace(std::size_t{9} << 20, b.size(), b);
    std::uint64_t now = 0;
    CopyHooks fastClock;
    fastClock.nowMs = [&] { return now += 1000000; }; // the limit never waits
    for (const std::int32_t limit : {0, 1}) {
        std::int64_t reported = 0;
        CopyHooks hooks = fastClock;
        hooks.onChunk = [&](std::int64_t chunk, std::int64_t, std::int64_t) { reported += chunk; };
        ASSERT_EQ(Copy(src / "sparse", root / "copy", hooks, limit).result, CopyResult::Copied);
        EXPECT_EQ(ReadFile(root / "copy"), want) << limit;
        EXPECT_LT(Lstat(root / "copy").st_blocks * 512, off_t{1} << 20) << limit;
        EXPECT_EQ(reported, kSize); // holes count as done for the gauges
    }
}

// The writer holds its temporary file's lock for the whole copy, so another
// run's clean-up leaves it alone; once the copy is over nothing is left.
TEST_F(FileCopier, TemporaryFileIsLockedWhileTheCopyRuns) {
    WriteFile(src / "f", Pattern(20 << 20));
    int checks = 0;
    CopyHooks hooks;
    hooks.onChunk = [&](std::int64_t, std::int64_t, std::int64_t) {
        for (const std::string& name : Names(root)) {
            ASSERT_EQ(name.rfind(".f.duplora-tmp-", 0), 0u) << name;
            ASSERT_EQ(name.size(), std::string(".f.duplora-tmp-").size() + 8);
            EXPECT_EQ(RemoveLeftoverTemporary(root.string(), "/" + name), LeftoverResult::InUse);
            ++checks;
        }
    };
    ASSERT_EQ(Copy(src / "f", root / "f", hooks).result, CopyResult::Copied);
    EXPECT_GT(checks, 0);
    EXPECT_EQ(Names(root), std::vector<std::string>{"f"});
}

TEST_F(FileCopier, ReportsEveryStepOfALargeCopyAndWorksAtTheRoot) {
    const auto content = Pattern(20 * 1024 * 1024 + 123);
    WriteFile(src / "big", content);
    std::vector<std::int64_t> positions;
    std::int64_t sum = 0;
    int pumps = 0;
    CopyHooks hooks;
    hooks.pump = [&] { ++pumps; };
    hooks.onChunk = [&](std::int64_t chunk, std::int64_t pos, std::int64_t size) {
        EXPECT_EQ(size, static_cast<std::int64_t>(content.size()));
        EXPECT_LE(chunk, 8 << 20); // small enough for a cancel to be quick
        sum += chunk;
        positions.push_back(pos);
    };
    EXPECT_EQ(Copy(src / "big", root / "big", hooks).result, CopyResult::Copied);
    EXPECT_EQ(ReadFile(root / "big"), content);
    EXPECT_EQ(sum, static_cast<std::int64_t>(content.size()));
    ASSERT_GE(positions.size(), 3u);
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    EXPECT_EQ(positions.back(), static_cast<std::int64_t>(content.size()));
    EXPECT_GE(pumps, static_cast<int>(positions.size()));
}

TEST_F(FileCopier, CancelInTheMiddleKeepsTheOldTarget) {
    const auto content = Pattern(24 * 1024 * 1024);
    WriteFile(src / "big", content);
    WriteFile(root / "sub" / "big", "old target");
    int chunks = 0;
    CopyHooks hooks;
    hooks.onChunk = [&](std::int64_t, std::int64_t, std::int64_t) { ++chunks; };
    hooks.cancelRequested = [&] { return chunks >= 1; };

    const auto out = Copy(src / "big", root / "sub" / "big", hooks);

    EXPECT_EQ(out.result, CopyResult::Cancelled);
    EXPECT_EQ(out.messageLine, "Break copying, path: /sub/big");
    EXPECT_EQ(chunks, 1);
    EXPECT_EQ(ReadFile(root / "sub" / "big"), "old target");
    EXPECT_EQ(Names(root / "sub"), std::vector<std::string>{"big"});
}

// A fake clock: sleeping advances it, nothing really waits.
struct FakeClock {
    std::uint64_t now = 5000;
    int sleeps = 0;
    void Install(CopyHooks& hooks) {
        hooks.nowMs = [this] { return now; };
        hooks.sleepMs = [this](int ms) {
            EXPECT_EQ(ms, 1);
            now += static_cast<std::uint64_t>(ms);
            ++sleeps;
        };
    }
};

TEST_F(FileCopier, SpeedLimitGrantsWholeStepsAtTheSetRate) {
    const auto content = Pattern(1000000);
    WriteFile(src / "f", content);
    FakeClock clock;
    CopyHooks hooks;
    clock.Install(hooks);
    std::vector<std::int64_t> chunks;
    std::vector<std::uint64_t> at;
    int pumps = 0;
    hooks.pump = [&] { ++pumps; };
    hooks.onChunk = [&](std::int64_t chunk, std::int64_t, std::int64_t) {
        chunks.push_back(chunk);
        at.push_back(clock.now - 5000);
    };
    const auto realStart = std::chrono::steady_clock::now();

    // 100 "KB/s" = 100 bytes per millisecond: 1,000,000 bytes in ~10 s.
    EXPECT_EQ(Copy(src / "f", root / "f", hooks, 100).result, CopyResult::Copied);

    EXPECT_EQ(ReadFile(root / "f"), content);
    ASSERT_EQ(chunks.size(), 62u); // 61 x 16384 + 576
    EXPECT_EQ(chunks.front(), 16384);
    EXPECT_EQ(chunks.back(), 1000000 - 61 * 16384);
    // The first step is granted at once; each further one needs 16384 bytes of
    // allowance, i.e. 164 ms at 100 bytes per ms.
    EXPECT_EQ(at.front(), 0u);
    EXPECT_EQ(at[1], 164u);
    EXPECT_NEAR(static_cast<double>(at.back()), 61 * 16384 / 100.0, 61.0);
    EXPECT_GE(clock.sleeps, 9900);
    EXPECT_GE(pumps, clock.sleeps);
    EXPECT_LT(std::chrono::steady_clock::now() - realStart, std::chrono::seconds(5));
}

TEST_F(FileCopier, CancelIsSeenWhileWaitingForTheSpeedLimit) {
    WriteFile(src / "f", Pattern(100000));
    WriteFile(root / "f", "old");
    FakeClock clock;
    CopyHooks hooks;
    clock.Install(hooks);
    int chunks = 0;
    hooks.onChunk = [&](std::int64_t, std::int64_t, std::int64_t) { ++chunks; };
    // Cancel 50 ms after the first step, long before 1 byte/ms allows another.
    hooks.cancelRequested = [&] { return clock.now >= 5050; };

    const auto out = Copy(src / "f", root / "f", hooks, 1);

    EXPECT_EQ(out.result, CopyResult::Cancelled);
    EXPECT_EQ(out.messageLine, "Break copying, path: /f");
    EXPECT_EQ(chunks, 1);
    EXPECT_LE(clock.now, 5051u);
    EXPECT_EQ(ReadFile(root / "f"), "old");
    EXPECT_EQ(Names(root), std::vector<std::string>{"f"});
}

TEST_F(FileCopier, NegativeSpeedLimitCopiesWithoutWaiting) {
    // A negative limit from a damaged task would never fill the allowance.
    WriteFile(src / "f", Pattern(50000));
    FakeClock clock;
    CopyHooks hooks;
    clock.Install(hooks);
    hooks.cancelRequested = [&] { return clock.sleeps > 1000; };
    EXPECT_EQ(Copy(src / "f", root / "f", hooks, -100).result, CopyResult::Copied);
    EXPECT_EQ(clock.sleeps, 0);
}

class FileDeleter : public TempTree {};

TEST_F(FileDeleter, DeletesReadOnlyFilesAndLinksThemselves) {
    WriteFile(root / "d" / "ro.txt", "x");
    ASSERT_EQ(::chmod((root / "d" / "ro.txt").c_str(), 0444), 0);
    WriteFile(outside / "target", "keep");
    ASSERT_EQ(::symlink((outside / "target").c_str(), (root / "d" / "ln").c_str()), 0);

    for (const char* name : {"ro.txt", "ln"}) {
        const auto out = DeleteOneFile((root / "d" / name).string(), root.string());
        EXPECT_TRUE(out.ok) << name;
        EXPECT_EQ(out.messageLine, "");
    }
    EXPECT_TRUE(fs::is_empty(root / "d"));
    EXPECT_EQ(ReadFile(outside / "target"), "keep");
}

TEST_F(FileDeleter, RefusesWhatIsNotAFileBelowTheRoot) {
    WriteFile(outside / "f", "keep");
    WriteFile(root / "sub" / "inner", "keep");
    ASSERT_EQ(::symlink(outside.c_str(), (root / "ln").c_str()), 0);
    const std::vector<fs::path> paths = {
        root / "ln" / "f",             // through a linked folder
        root / ".." / "outside" / "f", // climbs out by name
        outside / "f",                 // another folder altogether
        root / "sub",                  // a folder, not a file
        root / "missing",              // already gone
    };
    for (const auto& p : paths) {
        const auto out = DeleteOneFile(p.string(), root.string());
        EXPECT_FALSE(out.ok) << p;
        EXPECT_EQ(out.messageLine, "Failed to delete file, path: " + p.string());
    }
    EXPECT_EQ(ReadFile(outside / "f"), "keep");
    EXPECT_EQ(ReadFile(root / "sub" / "inner"), "keep");
}

} // namespace
