// Host and mirror judged by device and inode: the same folder under another
// spelling, and one root inside the other, are recognised before a run.
#include "sync/compare/RootRelation.h"
#include "sync/run/SyncRun.h"

#include "TreeFixture.h"

#include <gtest/gtest.h>

namespace duplora {
namespace {

using test::ReadTree;
using test::RunFixture;
using test::TempRoot;
using Tree = std::map<std::string, std::string>;
namespace fs = std::filesystem;

TEST(RootRelation, SpellingsLinksAndNesting) {
    TempRoot tmp;
    const std::string a = tmp.sub("a"), b = tmp.sub("b");
    fs::create_directories(a + "/inner/deeper");
    fs::create_directories(b);
    fs::create_directory_symlink(a, tmp.sub("link-to-a"));
    fs::create_directory_symlink(a + "/inner", tmp.sub("link-to-inner"));
    const struct {
        std::string host, mirror;
        RootRelation expected;
    } cases[] = {
        {a, b, RootRelation::Apart},
        {a, a, RootRelation::Same},
        {a, tmp.sub("link-to-a"), RootRelation::Same},
        {a, a + "/inner/../", RootRelation::Same},
        {a, a + "/inner/deeper", RootRelation::MirrorInsideHost},
        {a, tmp.sub("link-to-inner"), RootRelation::MirrorInsideHost},
        {tmp.sub("link-to-inner"), tmp.sub("link-to-a"), RootRelation::HostInsideMirror},
        {a + "/inner", a + "/innerX", RootRelation::Apart}, // missing, and only a prefix
        {a, "", RootRelation::Apart},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RelateRoots(c.host, c.mirror), c.expected) << c.host << " | " << c.mirror;
}

TEST(RootRelation, ARunOnOneFolderIsRefusedWithALine) {
    RunFixture f;
    f.OneWay();
    f.run.Task.set_only_in_mirror_action(SyncAction::Delete);
    f.tmp.build(f.host, {{"a", "a"}});
    fs::create_directory_symlink(f.host, f.mirror);
    EXPECT_EQ(f.Run(), RunOutcome::Skipped);
    EXPECT_EQ(f.run.Refusal, RefusalReason::SameFolder);
    EXPECT_EQ(f.run.RefusedLine, "Host folder and mirror folder are the same folder: " + f.host);
    EXPECT_NE(f.Text().find(f.run.RefusedLine), std::string::npos);
    EXPECT_EQ(ReadTree(f.host), (Tree{{"a", "a"}}));
}

} // namespace
} // namespace duplora
