// A volume's own trash at its top is never synchronised, in any mode and on
// either side; folders of the same names elsewhere are ordinary folders.
#include "sync/run/SyncRun.h"

#include "TmpfsMount.h"
#include "TreeFixture.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <iostream>

using namespace duplora;
using namespace duplora::test;

namespace {

using Tree = std::map<std::string, std::string>;

// A volume's trash as the desktop leaves it: the own one, another user's and
// the shared one (sticky), and below the top folders that only look alike.
const std::vector<TreeFile> kTrashes = {
    {".Trash-0/files/old.txt", "trashed"},
    {".Trash-0/info/old.txt.trashinfo", "[Trash Info]\nPath=old.txt\n"},
    {".Trash-1000/files/theirs.txt", "theirs"},
    {".Trash/0/files/shared.txt", "shared"},
    {"proj/.Trash/keep.txt", "mine"},
    {"photos/.Trash-1000/img.jpg", "jpeg"},
    {"photos/.Trash/0/deep.txt", "deep"},
};
const Tree kUserFolders = {
    {"photos/", ""},        {"photos/.Trash-1000/", ""}, {"photos/.Trash-1000/img.jpg", "jpeg"},
    {"photos/.Trash/", ""}, {"photos/.Trash/0/", ""},    {"photos/.Trash/0/deep.txt", "deep"},
    {"proj/", ""},          {"proj/.Trash/", ""},        {"proj/.Trash/keep.txt", "mine"}};

Tree Trashes(const std::string& top) {
    Tree all = ReadTree(top);
    std::erase_if(all, [](const auto& e) { return e.first.rfind(".Trash", 0) != 0; });
    return all;
}

} // namespace

TEST(VolumeTrash, NeverScannedCopiedOrDeletedWhateverTheMode) {
    struct Case {
        const char* what;
        bool mirrorIsVolume;
        DeleteMode mode;
        SyncAction onlyInMirror;
        SyncAction onlyInHost;
    } cases[] = {
        {"mirror-only files deleted", true, DeleteMode::Permanent, SyncAction::Delete,
         SyncAction::Ignore},
        {"mirror-only files to the versioning folder", true, DeleteMode::Versions,
         SyncAction::Delete, SyncAction::Ignore},
        {"mirror-only files to the trash", true, DeleteMode::Trash, SyncAction::Delete,
         SyncAction::Ignore},
        {"mirror-only files copied to the host", true, DeleteMode::Permanent,
         SyncAction::MirrorToHost, SyncAction::Ignore},
        {"host at the volume's root copied", false, DeleteMode::Trash, SyncAction::Ignore,
         SyncAction::HostToMirror},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RunFixture f;
        const TmpfsMount volume(f.tmp.sub("vol"));
        if (!volume.ok()) {
            std::cout << "tmpfs not mounted (" << volume.why() << "), not tested\n";
            GTEST_SKIP() << "mount failed: " << volume.why();
        }
        std::string& onVolume = c.mirrorIsVolume ? f.mirror : f.host;
        const std::string other = c.mirrorIsVolume ? f.host : f.mirror;
        onVolume = volume.path();
        f.run.Task.set_host_path(f.host);
        f.run.Task.set_mirror_path(f.mirror);
        f.tmp.build(onVolume, kTrashes);
        ::chmod(volume.sub(".Trash").c_str(), 01777);
        f.tmp.build(other, {{"x.txt", "x"}});
        const Tree trashes = Trashes(onVolume);
        f.run.Task.set_on_delete(c.mode);
        f.run.Task.set_versions_folder("v");
        f.run.Task.set_only_in_mirror_action(c.onlyInMirror);
        f.run.Task.set_only_in_host_action(c.onlyInHost);
        f.run.Task.set_empty_folder_action(SyncAction::Delete);
        ASSERT_EQ(f.Run(), RunOutcome::Finished) << f.Text();
        EXPECT_EQ(f.run.Plan.FailedCount, 0) << f.Text();
        const Tree after = Trashes(onVolume);
        for (const auto& [path, content] : trashes) {
            const auto kept = after.find(path);
            EXPECT_TRUE(kept != after.end() && kept->second == content) << path;
        }
        EXPECT_EQ(Trashes(other), Tree{});
        // The look-alikes below the top took part like any folder.
        Tree lookAlikes = ReadTree(c.onlyInMirror == SyncAction::Delete ? f.mirror : other);
        std::erase_if(lookAlikes, [&](const auto& e) {
            return e.first.rfind("p", 0) != 0 ||
                   (c.onlyInMirror == SyncAction::Delete && e.first.back() == '/');
        });
        EXPECT_EQ(lookAlikes, c.onlyInMirror == SyncAction::Delete ? Tree{} : kUserFolders);
    }
}

// A Trash task moves what it replaces to the trash, and still copies a
// user's own folders named like a trash (they are not at a volume's top).
TEST(VolumeTrash, FoldersNamedLikeATrashBelowTheTopAreSynchronised) {
    RunFixture f;
    f.OneWay();
    f.run.Task.set_on_delete(DeleteMode::Trash);
    f.tmp.build(f.host, {{"proj/.Trash/keep.txt", "mine"},
                         {"photos/.Trash-1000/img.jpg", "jpeg"},
                         {"photos/.Trash/0/deep.txt", "deep"}});
    ASSERT_EQ(f.Run(), RunOutcome::Finished) << f.Text();
    EXPECT_EQ(ReadTree(f.mirror), kUserFolders);
}
