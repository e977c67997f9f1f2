// Folders that exist but cannot be read: the scan reports them, and the run
// never takes the other side's files below them for files "only there".
#include "sync/fs/FileIo.h"
#include "sync/run/SyncRun.h"
#include "sync/scan/SearchDirW.h"

#include "TreeFixture.h"
#include "UnreadableIo.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

using namespace duplora;
using namespace duplora::test;

using Tree = std::map<std::string, std::string>;

TEST(UnreadableFolder, TheScannerReportsItAndGoesOn) {
    TempRoot tmp;
    const std::string root = tmp.sub("r");
    tmp.build(root, {{"locked/a", "1"}, {"open/b", "22"}});
    ScopedFileIo io(Unreadable("locked"));
    TSearchDirW s;
    s.Root = root;
    s.IntoSubDir = true;
    std::vector<std::string> errors, found;
    s.OnFolderError = [&](TSearchDirW&, const std::string& dir) { errors.push_back(dir); };
    s.OnFoundItem = [&](TSearchDirW&, TFoundItemType, const std::string& item, std::int64_t&,
                        std::int32_t, std::uint32_t) { found.push_back(item); };
    EXPECT_EQ(s.Search(), 2);
    EXPECT_EQ(errors, std::vector<std::string>{root + "/locked"});
    EXPECT_EQ(std::count(found.begin(), found.end(), root + "/locked/a"), 0);
    EXPECT_EQ(std::count(found.begin(), found.end(), root + "/open/b"), 1);

    // A root that cannot be read is reported; a missing one, or a file, is not.
    errors.clear();
    s.Root = root + "/locked";
    EXPECT_EQ(s.Search(), 0);
    EXPECT_EQ(errors, std::vector<std::string>{root + "/locked"});
    errors.clear();
    s.Root = root + "/missing";
    s.Search();
    s.Root = root + "/open/b";
    s.Search();
    EXPECT_TRUE(errors.empty());
}

TEST(UnreadableFolder, AnUnreadableHostFolderNeverEmptiesTheMirror) {
    RunFixture f;
    f.run.Task.set_only_in_mirror_action(SyncAction::Delete);
    f.run.Task.set_only_in_host_action(SyncAction::HostToMirror);
    f.tmp.build(f.host, {{"photos/keep.jpg", "1"}, {"new.txt", "n"}});
    f.tmp.build(f.mirror, {{"photos/keep.jpg", "1"},
                           {"photos/only-here.jpg", "2"},
                           {"photos/deep/x.jpg", "3"},
                           {"stale.txt", "s"}});
    ScopedFileIo io(Unreadable("/host/photos"));
    EXPECT_EQ(f.Run(), RunOutcome::Finished);
    // Outside the unreadable folder the actions apply as usual.
    EXPECT_EQ(ReadTree(f.mirror), (Tree{{"photos/", ""},
                                        {"photos/keep.jpg", "1"},
                                        {"photos/only-here.jpg", "2"},
                                        {"photos/deep/", ""},
                                        {"photos/deep/x.jpg", "3"},
                                        {"new.txt", "n"}}));
}

TEST(UnreadableFolder, AnUnreadableMirrorFolderIsNeitherOverwrittenNorMirrored) {
    RunFixture f;
    f.run.Task.set_only_in_host_action(SyncAction::HostToMirror);
    f.tmp.build(f.host, {{"docs/report.txt", "old host copy", kT0}, {"a.txt", "a"}});
    f.tmp.build(f.mirror, {{"docs/report.txt", "newer mirror copy", kT0 + 500}});
    {
        ScopedFileIo io(Unreadable("/mirror/docs"));
        EXPECT_EQ(f.Run(), RunOutcome::Finished);
    }
    EXPECT_EQ(ReadTree(f.mirror),
              (Tree{{"docs/", ""}, {"docs/report.txt", "newer mirror copy"}, {"a.txt", "a"}}));
    // Deleting host files "only in the host" spares those below it too.
    RunFixture g;
    g.run.Task.set_only_in_host_action(SyncAction::Delete);
    g.tmp.build(g.host, {{"docs/report.txt", "r"}, {"gone.txt", "g"}});
    g.tmp.build(g.mirror, {{"docs/report.txt", "r"}});
    {
        ScopedFileIo io(Unreadable("/mirror/docs"));
        EXPECT_EQ(g.Run(), RunOutcome::Finished);
    }
    EXPECT_EQ(ReadTree(g.host), (Tree{{"docs/", ""}, {"docs/report.txt", "r"}}));
}

TEST(UnreadableFolder, AnUnreadableRootProtectsTheWholeOtherSide) {
    RunFixture f;
    f.run.Task.set_only_in_mirror_action(SyncAction::Delete);
    f.tmp.build(f.host, {{"a", "1"}});
    f.tmp.build(f.mirror, {{"a", "1"}, {"b", "2"}, {"sub/c", "3"}});
    const Tree before = ReadTree(f.mirror);
    {
        ScopedFileIo io(Unreadable("/host"));
        EXPECT_EQ(f.Run(), RunOutcome::NothingToDo);
    }
    EXPECT_EQ(ReadTree(f.mirror), before);
    // The same with names that differ only in case on a folding file system.
    RunFixture g;
    g.run.Task.set_only_in_host_action(SyncAction::Delete);
    g.tmp.build(g.host, {{"Docs/x", "1"}, {"other", "2"}});
    g.tmp.build(g.mirror, {{"docs/x", "1"}});
    g.run.Start = RunStart::CommandLine;
    ASSERT_TRUE(g.Gate());
    g.run.FoldCase = true;
    ScopedFileIo io(Unreadable("/mirror/docs"));
    BeginRun(g.run);
    StepListMain(g.run);
    ASSERT_TRUE(StepListMirror(g.run));
    StepSyncMain(g.run);
    StepSyncMirror(g.run);
    StepSyncFolder(g.run);
    EXPECT_EQ(ReadTree(g.host), (Tree{{"Docs/", ""}, {"Docs/x", "1"}}));
}

TEST(UnreadableFolder, EntriesThatCannotBeLookedAtCountAsUnreadable) {
    // A folder that may be listed but not searched (mode r--) gives EACCES
    // for every entry it holds.
    RunFixture f;
    f.run.Task.set_only_in_mirror_action(SyncAction::Delete);
    f.tmp.build(f.host, {{"photos/a.jpg", "1"}, {"b", "2"}});
    f.tmp.build(f.mirror, {{"photos/a.jpg", "1"}, {"photos/c.jpg", "3"}, {"b", "2"}, {"d", "4"}});
    FileIoCalls io;
    const std::string locked = f.host + "/photos/";
    io.statAt = [&](int dirFd, const char* path, struct stat* st, int flags) {
        if (FullPath(dirFd, path).rfind(locked, 0) == 0) {
            errno = EACCES;
            return -1;
        }
        return KernelFileIo().statAt(dirFd, path, st, flags);
    };
    ScopedFileIo scoped(io);
    EXPECT_EQ(f.Run(), RunOutcome::Finished);
    EXPECT_EQ(ReadTree(f.mirror),
              (Tree{{"photos/", ""}, {"photos/a.jpg", "1"}, {"photos/c.jpg", "3"}, {"b", "2"}}));
}

TEST(UnreadableFolder, EmptyFoldersBelowItAreNeitherCreatedNorRemoved) {
    RunFixture f;
    f.run.Task.set_empty_folder_action(SyncAction::HostToMirror);
    f.tmp.build(f.host, {{"photos/x", "1"}, {"new-empty/"}});
    f.tmp.build(f.mirror, {{"photos/2024/"}, {"photos/y", "2"}, {"stale-empty/"}});
    {
        ScopedFileIo io(Unreadable("/host/photos"));
        EXPECT_EQ(f.Run(), RunOutcome::Finished);
        // new-empty created, stale-empty removed: 2, not 3.
        EXPECT_EQ(f.run.Plan.EmptyFolderCount, 2);
    }
    EXPECT_EQ(ReadTree(f.mirror),
              (Tree{{"photos/", ""}, {"photos/2024/", ""}, {"photos/y", "2"}, {"new-empty/", ""}}));
    // The other way round: the host's empty folders below an unreadable
    // mirror folder stay too.
    RunFixture g;
    g.run.Task.set_empty_folder_action(SyncAction::MirrorToHost);
    g.tmp.build(g.host, {{"docs/old/"}, {"docs/a", "1"}});
    g.tmp.build(g.mirror, {{"docs/a", "1"}, {"x", "1"}});
    g.run.Task.set_only_in_mirror_action(SyncAction::MirrorToHost);
    {
        ScopedFileIo io(Unreadable("/mirror/docs"));
        EXPECT_EQ(g.Run(), RunOutcome::Finished);
    }
    EXPECT_EQ(ReadTree(g.host),
              (Tree{{"docs/", ""}, {"docs/old/", ""}, {"docs/a", "1"}, {"x", "1"}}));
}

TEST(UnreadableFolder, IsNeverAnEmptyFolder) {
    // Neither the folder that could not be read nor the folders above it,
    // whose byte totals it leaves at 0.
    RunFixture f;
    f.run.Task.set_empty_folder_action(SyncAction::Delete);
    f.tmp.build(f.host, {{"outer/locked/a", "1"}, {"b", "2"}, {"empty/"}});
    f.tmp.build(f.mirror, {{"b", "2"}});
    ScopedFileIo io(Unreadable("/host/outer/locked"));
    PrepareRoots(f.run);
    std::string error;
    ASSERT_TRUE(BuildPlan(f.run, error));
    EXPECT_EQ(f.run.Plan.EmptyFolderCount, 1); // "empty" alone
}
