// Files and folders changed by someone else between the scan and the
// operation that was planned on them, made through the executor's hook: a
// run never destroys what the scan did not see and never reads or writes
// through a link swapped in below a root.
#include "sync/fs/FileIo.h"
#include "sync/run/SyncRun.h"

#include "TreeFixture.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

using namespace duplora;
using namespace duplora::test;

using Tree = std::map<std::string, std::string>;

namespace {

bool HasLine(const ResultLines& lines, const std::string& line) {
    return std::find(lines.Lines().begin(), lines.Lines().end(), line) != lines.Lines().end();
}

void Write(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

const std::string kChanged = "File changed since the scan, left as it is, path: ";

// Each planned operation meets a file changed after the scan; an untouched
// one of each kind still runs, so the run goes on past every refusal.
TEST(ChangedSinceScan, DeletesAndReplacementsLeaveChangedFilesAlone) {
    RunFixture f;
    f.OneWay();
    f.run.Task.set_only_in_mirror_action(SyncAction::Delete);
    f.run.Task.set_newer_in_mirror_action(SyncAction::MirrorToHost);
    f.tmp.build(f.host, {{"new.txt", "host new"},
                         {"new-ok.txt", "fine"},
                         {"newer.txt", "host v2", kT0 + 100},
                         {"newer-ok.txt", "host v2", kT0 + 100},
                         {"back.txt", "old", kT0}});
    f.tmp.build(f.mirror, {{"monly.txt", "planned"},
                           {"monly-ok.txt", "planned"},
                           {"newer.txt", "mirror v1", kT0},
                           {"newer-ok.txt", "mirror v1", kT0},
                           {"back.txt", "NEW", kT0 + 100},
                           {"gone.txt", "gone"}});
    f.run.BeforeFileOperation = [&](std::string_view rel, TSyncOp) {
        if (rel == "/monly.txt") { // same size and second, other nanoseconds
            Write(f.mirror + "/monly.txt", "PLANNED");
            const timespec t[2] = {{kT0, 5000}, {kT0, 5000}};
            ::utimensat(AT_FDCWD, (f.mirror + "/monly.txt").c_str(), t, 0);
        } else if (rel == "/new.txt") // created on the mirror while the run goes
            Write(f.mirror + "/new.txt", "user's own");
        else if (rel == "/newer.txt")
            Write(f.mirror + "/newer.txt", "edited meanwhile");
        else if (rel == "/back.txt") // the host file the mirror's would replace
            Write(f.host + "/back.txt", "new");
        else if (rel == "/gone.txt") // already deleted: nothing is lost
            ::unlink((f.mirror + "/gone.txt").c_str());
    };
    EXPECT_EQ(f.Run(), RunOutcome::Finished);

    EXPECT_EQ(ReadTree(f.mirror), (Tree{{"monly.txt", "PLANNED"},
                                        {"new.txt", "user's own"},
                                        {"new-ok.txt", "fine"},
                                        {"newer.txt", "edited meanwhile"},
                                        {"newer-ok.txt", "host v2"},
                                        {"back.txt", "NEW"}}));
    EXPECT_EQ(ReadTree(f.host).at("back.txt"), "new");
    for (const std::string& path : {f.mirror + "/monly.txt", f.mirror + "/new.txt",
                                    f.mirror + "/newer.txt", f.host + "/back.txt"})
        EXPECT_TRUE(HasLine(f.lines, kChanged + path)) << path;
    EXPECT_TRUE(HasLine(f.lines, "Failed to delete file, path: " + f.mirror + "/gone.txt"));
    EXPECT_EQ(f.run.Plan.CopiedToMirror, 2);
    EXPECT_EQ(f.run.Plan.DeletedInMirror, 1);
    EXPECT_EQ(f.run.Plan.FailedCount, 5);
}

// A folder of the source side swapped for a link to somewhere else after the
// scan: the copy must not read what the link leads to, with openat2 and with
// the folder-by-folder walk used where the kernel has none.
TEST(ChangedSinceScan, SourceFolderSwappedForALinkIsNotFollowed) {
    for (const bool withOpenat2 : {true, false}) {
        RunFixture f;
        f.run.Task.set_only_in_mirror_action(SyncAction::MirrorToHost);
        fs::create_directories(f.host);
        const std::string outside = f.tmp.sub("outside");
        f.tmp.build(outside, {{"secret.txt", "secret"}, {"linked.txt", "via a file link"}});
        f.tmp.build(f.mirror, {{"sub/secret.txt", "harmless"}});
        // A link as the file's own name counts as the file it points to.
        ASSERT_EQ(::symlink((outside + "/linked.txt").c_str(), (f.mirror + "/l.txt").c_str()), 0);
        f.run.BeforeFileOperation = [&](std::string_view rel, TSyncOp) {
            if (rel != "/sub/secret.txt")
                return;
            fs::rename(f.mirror + "/sub", f.mirror + "/sub.real");
            fs::create_directory_symlink(outside, f.mirror + "/sub");
        };
        std::unique_ptr<ScopedFileIo> noOpenat2;
        if (!withOpenat2) {
            FileIoCalls io;
            io.openat2 = [](int, const char*, const void*, size_t) -> long {
                errno = ENOSYS;
                return -1;
            };
            noOpenat2 = std::make_unique<ScopedFileIo>(io);
        }
        EXPECT_EQ(f.Run(), RunOutcome::Finished);
        const Tree host = ReadTree(f.host);
        EXPECT_EQ(host.count("sub/secret.txt"), 0u) << withOpenat2;
        EXPECT_EQ(host.at("l.txt"), "via a file link");
        EXPECT_TRUE(
            HasLine(f.lines, "Failed to open source file, path: " + f.mirror + "/sub/secret.txt"));
        EXPECT_EQ(f.run.Plan.FailedCount, 1);
    }
}

// Folders created and removed with *at calls only, so a path far beyond the
// kernel's 4,096-byte limit for one call can be built and cleaned up.
struct DeepPath {
    std::vector<std::string> parts;
    explicit DeepPath(std::size_t bytes) {
        for (std::size_t total = 0; total < bytes; total += 201)
            parts.push_back(std::string(200, static_cast<char>('a' + parts.size() % 26)));
    }
    std::string rel() const {
        std::string r;
        for (const std::string& p : parts)
            r += "/" + p;
        return r;
    }
    // The deepest folder below `root`, created when asked.
    int open(const std::string& root, bool create) const {
        int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        for (const std::string& p : parts) {
            if (create)
                ::mkdirat(fd, p.c_str(), 0755);
            const int next = ::openat(fd, p.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            ::close(fd);
            if (next < 0)
                return -1;
            fd = next;
        }
        return fd;
    }
    static void RemoveAll(int dir) {
        std::unique_ptr<DIR, int (*)(DIR*)> d(::fdopendir(::dup(dir)), ::closedir);
        while (const dirent* e = ::readdir(d.get())) {
            const std::string name = e->d_name;
            if (name == "." || name == "..")
                continue;
            if (::unlinkat(dir, name.c_str(), 0) != 0) {
                const int sub = ::openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
                RemoveAll(sub);
                ::close(sub);
                ::unlinkat(dir, name.c_str(), AT_REMOVEDIR);
            }
        }
    }
};

std::string ReadAt(int dir, const char* name) {
    const int fd = ::openat(dir, name, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return "<missing>";
    std::string out(64, '\0');
    out.resize(static_cast<std::size_t>(std::max<ssize_t>(0, ::read(fd, out.data(), out.size()))));
    ::close(fd);
    return out;
}

TEST(DeepPaths, CopiedDeletedAndFoldersRemovedBeyondTheOneCallLimit) {
    RunFixture f;
    f.OneWay();
    f.run.Task.set_only_in_mirror_action(SyncAction::Delete);
    f.run.Task.set_empty_folder_action(SyncAction::Delete);
    f.run.Start = RunStart::CommandLine;
    const DeepPath deep(5049);
    ASSERT_GT(deep.rel().size(), 5000u);
    fs::create_directories(f.host);
    fs::create_directories(f.mirror);
    {
        const int dir = deep.open(f.host, true);
        ASSERT_GE(dir, 0);
        const int fd = ::openat(dir, "f.txt", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_EQ(::write(fd, "deep", 4), 4);
        ::close(fd);
        ::close(dir);
    }
    struct Cleanup {
        std::vector<std::string> roots;
        ~Cleanup() {
            for (const std::string& r : roots) {
                const int fd = ::open(r.c_str(), O_RDONLY | O_DIRECTORY);
                if (fd >= 0) {
                    DeepPath::RemoveAll(fd);
                    ::close(fd);
                }
            }
        }
    } cleanup{{f.host, f.mirror}};

    EXPECT_EQ(f.Run(), RunOutcome::Finished);
    EXPECT_EQ(f.run.Plan.CopiedToMirror, 1);
    EXPECT_EQ(f.run.Plan.FailedCount, 0);
    int dir = deep.open(f.mirror, false);
    ASSERT_GE(dir, 0);
    EXPECT_EQ(ReadAt(dir, "f.txt"), "deep");
    ::close(dir);

    // Gone from the host: deleted in the mirror; the host's folders, empty
    // now, are removed inner first, and so are the mirror's, which the
    // delete has just emptied.
    dir = deep.open(f.host, false);
    ASSERT_EQ(::unlinkat(dir, "f.txt", 0), 0);
    ::close(dir);
    f.lines = ResultLines();
    EXPECT_EQ(f.Run(), RunOutcome::Finished);
    EXPECT_EQ(f.run.Plan.DeletedInMirror, 1);
    EXPECT_EQ(f.run.Plan.FailedCount, 0);
    EXPECT_TRUE(fs::is_empty(f.mirror));
    EXPECT_TRUE(fs::is_empty(f.host));
}

} // namespace
