// Copies that go wrong: a full disk, failing reads and writes, a kernel that
// cannot copy between files, a source that changes size, and a system
// without openat2. Each must keep the old target and leave no temporary file.
#include "sync/execute/FileCopier.h"
#include "sync/fs/FileIo.h"

#include "CopierTestFiles.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include <sys/mount.h>

using namespace duplora;
using namespace duplora::copiertest;

namespace {

class CopyFault : public TempTree {
protected:
    CopyOutcome Copy(const std::string& name, std::int32_t limit = 0, const CopyHooks& given = {}) {
        CopyHooks hooks = given;
        if (limit != 0 && !hooks.nowMs) {
            // A clock that sleeping advances: limited copies run at full speed.
            hooks.nowMs = [this] { return fakeNow; };
            hooks.sleepMs = [this](int ms) { fakeNow += static_cast<std::uint64_t>(ms); };
        }
        CopyRequest r;
        r.source = (src / name).string();
        r.target = (root / name).string();
        r.targetRoot = root.string();
        r.speedLimitKBps = limit;
        return CopyOneFile(r, hooks);
    }
    // The old target is still there, unchanged, and alone.
    void ExpectOldTargetKept(const std::string& name, const std::string& old) {
        EXPECT_EQ(ReadFile(root / name), old);
        EXPECT_EQ(Names(root), std::vector<std::string>{name});
    }
    std::uint64_t fakeNow = 0;
};

// Limits to run each data-path fault with: none (kernel copy in large steps)
// and one (read/write in 16384-byte steps).
const std::int32_t kLimits[] = {0, 100000};

TEST_F(CopyFault, FullDiskKeepsTheOldTarget) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a 256 KiB tmpfs to fill needs root";
    if (::mount("tmpfs", root.c_str(), "tmpfs", 0, "size=256k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    struct Unmount {
        fs::path at;
        ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
    } unmount{root};
    const auto old = Pattern(10000, 7);
    WriteFile(root / "t.bin", old);
    WriteFile(src / "t.bin", Pattern(1 << 20));

    for (std::int32_t limit : kLimits) {
        const auto out = Copy("t.bin", limit);
        EXPECT_EQ(out.result, CopyResult::CopyError) << limit;
        EXPECT_EQ(out.messageLine, "Error when copying file, path: /t.bin");
        ExpectOldTargetKept("t.bin", old);
    }
    // The space came back: a copy that fits now succeeds.
    WriteFile(src / "t.bin", "small");
    EXPECT_EQ(Copy("t.bin").result, CopyResult::Copied);
    EXPECT_EQ(ReadFile(root / "t.bin"), "small");
}

TEST_F(CopyFault, ReadFailingHalfWay) {
    WriteFile(src / "f", Pattern(3 << 20));
    WriteFile(root / "f", "old");
    for (std::int32_t limit : kLimits) {
        std::int64_t readSoFar = 0;
        FileIoCalls io;
        io.copyRange = [](int, int, size_t) -> ssize_t {
            errno = EXDEV;
            return -1;
        };
        io.read = [&](int fd, void* buf, size_t n) -> ssize_t {
            if (readSoFar > (1 << 20)) {
                errno = EIO;
                return -1;
            }
            const ssize_t got = KernelFileIo().read(fd, buf, n);
            readSoFar += got;
            return got;
        };
        ScopedFileIo scoped(io);
        const auto out = Copy("f", limit);
        EXPECT_EQ(out.result, CopyResult::CopyError) << limit;
        EXPECT_EQ(out.messageLine, "Error when copying file, path: /f");
        ExpectOldTargetKept("f", "old");
    }
}

TEST_F(CopyFault, KernelCopyFailingHalfWay) {
    WriteFile(src / "f", Pattern(20 << 20));
    WriteFile(root / "f", "old");
    int calls = 0;
    FileIoCalls io;
    io.copyRange = [&](int in, int out, size_t n) -> ssize_t {
        if (++calls == 2) {
            errno = EIO;
            return -1;
        }
        return KernelFileIo().copyRange(in, out, n);
    };
    ScopedFileIo scoped(io);
    const auto out = Copy("f");
    EXPECT_EQ(out.result, CopyResult::CopyError);
    EXPECT_EQ(out.messageLine, "Error when copying file, path: /f");
    ExpectOldTargetKept("f", "old");
}

TEST_F(CopyFault, NoSpaceOnTheThirdWriteOrAWriteThatMovesNothing) {
    WriteFile(src / "f", Pattern(5 << 20));
    WriteFile(root / "f", "old");
    for (ssize_t failWith : {-1, 0}) {
        for (std::int32_t limit : kLimits) {
            int writes = 0;
            FileIoCalls io;
            io.copyRange = [](int, int, size_t) -> ssize_t {
                errno = ENOSYS;
                return -1;
            };
            io.write = [&](int fd, const void* buf, size_t n) -> ssize_t {
                if (++writes >= 3) {
                    errno = ENOSPC;
                    return failWith;
                }
                return KernelFileIo().write(fd, buf, n);
            };
            ScopedFileIo scoped(io);
            const auto out = Copy("f", limit);
            EXPECT_EQ(out.result, CopyResult::CopyError) << failWith << " " << limit;
            EXPECT_EQ(out.messageLine, "Error when copying file, path: /f");
            EXPECT_LT(writes, 10); // gave up, did not spin on the failing write
            ExpectOldTargetKept("f", "old");
        }
    }
}

TEST_F(CopyFault, FallsBackToReadWriteWhenTheKernelCannotCopy) {
    const auto content = Pattern((9 << 20) + 17);
    WriteFile(src / "f", content);
    // EXDEV: another file system on kernels before 5.3; 0 at once: what some
    // file systems answer when they cannot; EINVAL after a first good step.
    for (int mode = 0; mode < 3; ++mode) {
        int calls = 0;
        std::int64_t readBytes = 0;
        FileIoCalls io;
        io.copyRange = [&](int in, int out, size_t n) -> ssize_t {
            ++calls;
            if (mode == 0) {
                errno = EXDEV;
                return -1;
            }
            if (mode == 1)
                return 0;
            if (calls == 1)
                return KernelFileIo().copyRange(in, out, n);
            errno = EINVAL;
            return -1;
        };
        io.read = [&](int fd, void* buf, size_t n) -> ssize_t {
            const ssize_t got = KernelFileIo().read(fd, buf, n);
            readBytes += got;
            return got;
        };
        ScopedFileIo scoped(io);
        ASSERT_EQ(Copy("f").result, CopyResult::Copied) << mode;
        EXPECT_EQ(ReadFile(root / "f"), content) << mode;
        EXPECT_GT(readBytes, 0) << mode;
        // Once the kernel refused, it is not asked again for every step.
        EXPECT_LE(calls, 2) << mode;
    }
}

TEST_F(CopyFault, InterruptedAndPartialCallsAreResumed) {
    const auto content = Pattern(300000);
    WriteFile(src / "f", content);
    for (std::int32_t limit : kLimits) {
        int n = 0;
        FileIoCalls io;
        io.copyRange = [&](int in, int out, size_t count) -> ssize_t {
            if (++n % 2) {
                errno = EINTR;
                return -1;
            }
            return KernelFileIo().copyRange(in, out, std::min<size_t>(count, 1000));
        };
        io.read = [&](int fd, void* buf, size_t count) -> ssize_t {
            if (++n % 2) {
                errno = EINTR;
                return -1;
            }
            return KernelFileIo().read(fd, buf, std::min<size_t>(count, 777));
        };
        io.write = [&](int fd, const void* buf, size_t count) -> ssize_t {
            if (++n % 2) {
                errno = EINTR;
                return -1;
            }
            return KernelFileIo().write(fd, buf, (count + 1) / 2);
        };
        ScopedFileIo scoped(io);
        EXPECT_EQ(Copy("f", limit).result, CopyResult::Copied) << limit;
        EXPECT_EQ(ReadFile(root / "f"), content) << limit;
    }
}

TEST_F(CopyFault, SourceShrinkingDuringTheCopyIsAShortTransfer) {
    WriteFile(src / "f", Pattern(20 << 20));
    WriteFile(root / "f", "old");
    for (std::int32_t limit : kLimits) {
        WriteFile(src / "f", Pattern(20 << 20));
        CopyHooks hooks;
        hooks.onChunk = [&](std::int64_t, std::int64_t pos, std::int64_t) {
            if (pos > 0)
                fs::resize_file(src / "f", static_cast<std::uintmax_t>(pos));
        };
        const auto out = Copy("f", limit, hooks);
        // Counted as failed, but with nothing to report: no error was raised.
        EXPECT_EQ(out.result, CopyResult::CopyError) << limit;
        EXPECT_EQ(out.messageLine, "");
        ExpectOldTargetKept("f", "old");
    }
}

// A prefix of a file that grew (or a mix of old and new parts of one rewritten
// in place) would count as in sync on the next run: it never replaces the
// target, and the next run copies the new version.
TEST_F(CopyFault, SourceWrittenDuringTheCopyIsNotCopied) {
    for (std::int32_t limit : kLimits) {
        WriteFile(src / "f", Pattern(20 << 20));
        WriteFile(root / "f", "old");
        CopyHooks hooks;
        bool once = false;
        hooks.onChunk = [&](std::int64_t, std::int64_t, std::int64_t) {
            if (!std::exchange(once, true))
                std::ofstream(src / "f", std::ios::binary | std::ios::app) << "more";
        };
        const auto out = Copy("f", limit, hooks);
        EXPECT_EQ(out.result, CopyResult::SourceChanged) << limit;
        EXPECT_EQ(out.messageLine, "Source file changed while it was copied, not copied, path: " +
                                       (src / "f").string());
        ExpectOldTargetKept("f", "old");
    }
}

// The same folder rules when every folder is checked one at a time.
class WithoutOpenat2 : public TempTree {
protected:
    void SetUp() override {
        TempTree::SetUp();
        FileIoCalls io;
        io.openat2 = [](int, const char*, const void*, size_t) -> long {
            errno = ENOSYS;
            return -1;
        };
        scoped = std::make_unique<ScopedFileIo>(io);
    }
    void TearDown() override {
        scoped.reset();
        TempTree::TearDown();
    }
    CopyOutcome Copy(const fs::path& to) {
        CopyRequest r;
        r.source = (src / "f").string();
        r.target = to.string();
        r.targetRoot = root.string();
        return CopyOneFile(r, {});
    }
    std::unique_ptr<ScopedFileIo> scoped;
};

TEST_F(WithoutOpenat2, CreatesRealFoldersAndRefusesLinkedOnes) {
    WriteFile(src / "f", "data");
    fs::create_directories(root / "a");
    ASSERT_EQ(::symlink(outside.c_str(), (root / "a" / "ln").c_str()), 0);
    WriteFile(root / "file", "not a folder");

    EXPECT_EQ(Copy(root / "a" / "b" / "c" / "f").result, CopyResult::Copied);
    EXPECT_EQ(ReadFile(root / "a" / "b" / "c" / "f"), "data");
    EXPECT_EQ(Copy(root / "a" / "b" / "f").result, CopyResult::Copied);

    for (const auto& t :
         {root / "a" / "ln" / "f", root / "a" / "ln" / "new" / "f", root / "file" / "f"}) {
        EXPECT_EQ(Copy(t).result, CopyResult::TargetCreateFailed) << t;
    }
    EXPECT_TRUE(fs::is_empty(outside));

    WriteFile(outside / "victim", "keep");
    EXPECT_FALSE(DeleteOneFile((root / "a" / "ln" / "victim").string(), root.string()).ok);
    EXPECT_EQ(ReadFile(outside / "victim"), "keep");
    EXPECT_TRUE(DeleteOneFile((root / "a" / "b" / "f").string(), root.string()).ok);
}

TEST_F(WithoutOpenat2, MissingRootIsCreated) {
    WriteFile(src / "f", "data");
    fs::remove(root);
    EXPECT_EQ(Copy(root / "x" / "f").result, CopyResult::Copied);
    EXPECT_EQ(ReadFile(root / "x" / "f"), "data");
}

// A source is opened below its root: a link as the file's own name is the
// file it points to, a link for a folder below the root is never walked
// through, and the root may itself lie behind a link. The target's folders
// follow the same rules. The same with the roots open once for a run (only
// what lies below them looked up) or gone by their paths, and with the
// one-call opens or the folder walk they fall back to.
class BelowOpenRoots : public TempTree {};

TEST_F(BelowOpenRoots, SameRulesWithAndWithoutOpenat2) {
    WriteFile(src / "a" / "f", "plain");
    WriteFile(outside / "real", "linked");
    WriteFile(outside / "sub" / "f", "outside");
    ASSERT_EQ(::symlink((outside / "real").c_str(), (src / "a" / "ln").c_str()), 0);
    ASSERT_EQ(::symlink((outside / "sub").c_str(), (src / "linked").c_str()), 0);
    ASSERT_EQ(::symlink(src.c_str(), (base / "srclink").c_str()), 0);
    ASSERT_EQ(::symlink(outside.c_str(), (root / "out").c_str()), 0);
    const std::string linkRoot = (base / "srclink").string();
    const std::string t = (root / "d" / "t").string();
    const std::string escape = (root / "out" / "t").string();
    struct Case {
        std::string sourceRoot, source, target;
        CopyResult result;
        std::string content;
    } cases[] = {
        {src.string(), (src / "a" / "f").string(), t, CopyResult::Copied, "plain"},
        {src.string(), (src / "a" / "ln").string(), t, CopyResult::Copied, "linked"},
        {src.string(), (src / "linked" / "f").string(), t, CopyResult::SourceOpenFailed, ""},
        {src.string(), (src / "a" / "gone").string(), t, CopyResult::SourceOpenFailed, ""},
        {linkRoot, linkRoot + "/a/f", t, CopyResult::Copied, "plain"},
        {linkRoot, linkRoot + "/a/ln", t, CopyResult::Copied, "linked"},
        {src.string(), (src / "a" / "f").string(), escape, CopyResult::TargetCreateFailed, ""},
    };
    for (const bool withOpenat2 : {true, false}) {
        FileIoCalls io;
        if (!withOpenat2)
            io.openat2 = [](int, const char*, const void*, size_t) -> long {
                errno = ENOSYS;
                return -1;
            };
        ScopedFileIo scoped(io);
        for (const bool openRoots : {true, false}) {
            for (const Case& c : cases) {
                fs::remove_all(root / "d");
                const Fd sourceRoot = openRoots ? OpenRoot(c.sourceRoot) : Fd();
                const Fd targetRoot = openRoots ? OpenRoot(root.string()) : Fd();
                CopyRequest r;
                r.source = c.source;
                r.sourceRoot = c.sourceRoot;
                r.target = c.target;
                r.targetRoot = root.string();
                r.sourceRootFd = sourceRoot.get();
                r.targetRootFd = targetRoot.get();
                const CopyOutcome out = CopyOneFile(r, {});
                const std::string what = c.source + " to " + c.target + " openat2 " +
                                         std::to_string(withOpenat2) + " open roots " +
                                         std::to_string(openRoots);
                EXPECT_EQ(out.result, c.result) << what;
                if (c.result == CopyResult::Copied) {
                    EXPECT_EQ(ReadFile(c.target), c.content) << what;
                } else if (c.result == CopyResult::SourceOpenFailed) {
                    EXPECT_EQ(out.messageLine, "Failed to open source file, path: " + c.source);
                }
            }
        }
    }
    EXPECT_EQ(Names(outside), (std::vector<std::string>{"real", "sub"}));
    EXPECT_EQ(Names(outside / "sub"), std::vector<std::string>{"f"});
}

} // namespace
