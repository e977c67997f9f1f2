#include "sync/plan/PreviewOps.h"
#include "tasks/TextTable.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace duplora;

namespace {

struct Counters {
    std::int32_t toMirror, toHost, hostDel, mirrorDel;
    std::int64_t bytes;
    bool operator==(const Counters&) const = default;
};
Counters Of(const SyncPlan& p) {
    return {p.ToMirrorCount, p.ToHostCount, p.HostDeleteCount, p.MirrorDeleteCount, p.TotalBytes};
}
std::ostream& operator<<(std::ostream& os, const Counters& c) {
    return os << "{toMirror " << c.toMirror << ", toHost " << c.toHost << ", hostDel " << c.hostDel
              << ", mirrorDel " << c.mirrorDel << ", bytes " << c.bytes << "}";
}

void AddHost(SyncPlan& plan, std::string_view path, std::int64_t size, TSyncOp op,
             std::int32_t age = 0) {
    TFileEntry e;
    e.RelPath = plan.StoreHostPath(path);
    e.Size = size;
    e.Age = age;
    e.Op = op;
    plan.HostFiles.push_back(e);
}
void AddMirror(SyncPlan& plan, std::string_view path, std::int64_t size, TSyncOp op) {
    TFileEntry e;
    e.RelPath = plan.StoreMirrorPath(path);
    e.Size = size;
    e.Op = op;
    plan.MirrorFiles.Append(e);
}
void AddFolder(SyncPlan& plan, bool host, std::string_view path, std::int64_t total) {
    FolderItem f;
    f.Path = host ? plan.StoreHostPath(path) : plan.StoreMirrorPath(path);
    f.Total = total;
    (host ? plan.HostFolders : plan.MirrorFolders).push_back(f);
}

// The rows of the folder `path` after building the tree.
std::vector<TPreviewRow> Rows(SyncPlan& plan, TFolderTree& tree, std::string_view path,
                              bool hideEqual = false) {
    const int n = tree.Find(path);
    EXPECT_GE(n, 0) << path;
    return n < 0 ? std::vector<TPreviewRow>{}
                 : ListFolderRows(plan, tree.Nodes[static_cast<std::size_t>(n)], hideEqual);
}

class PreviewOpsTest : public ::testing::Test {
protected:
    void SetUp() override { SetLanguage(Language::English); }
    SyncPlan plan;
    TFolderTree tree;
    void Build(SyncAction emptyAction = SyncAction::Ignore) {
        plan.MirrorFiles.Sort();
        plan.Count(emptyAction);
        ASSERT_TRUE(tree.Build(plan, "/h", "/m", emptyAction));
    }
};

} // namespace

TEST_F(PreviewOpsTest, HostOnlyCopyCyclesThroughDeleteAndBack) {
    AddHost(plan, "/new.txt", 100, opToMirror);
    Build();
    auto rows = Rows(plan, tree, "/");
    ASSERT_EQ(rows.size(), 1u);
    const TPreviewRow row = rows[0];
    EXPECT_EQ(row.Mirror, nullptr);
    EXPECT_EQ(RowOp(row), opToMirror);

    ChangeRowOp(plan, row);
    EXPECT_EQ(RowOp(row), opDelete);
    EXPECT_EQ(Of(plan), (Counters{0, 0, 1, 0, 0}));

    ChangeRowOp(plan, row); // no mirror file: never a copy to the host
    EXPECT_EQ(RowOp(row), opToMirror);
    EXPECT_EQ(Of(plan), (Counters{1, 0, 0, 0, 100}));
}

TEST_F(PreviewOpsTest, PairedRowCyclesCopyToHostDeleteCopyToMirror) {
    AddHost(plan, "/a.doc", 10, opToHost);
    AddMirror(plan, "/a.doc", 70, opNone);
    Build();
    const TPreviewRow row = Rows(plan, tree, "/").at(0);
    ASSERT_NE(row.Host, nullptr);
    ASSERT_NE(row.Mirror, nullptr);
    EXPECT_EQ(Of(plan), (Counters{0, 1, 0, 0, 70})); // the source is the mirror file

    ChangeRowOp(plan, row); // 3 -> 1: both files become deletes
    EXPECT_EQ(row.Host->Op, opDelete);
    EXPECT_EQ(row.Mirror->Op, opDelete);
    EXPECT_EQ(Of(plan), (Counters{0, 0, 1, 1, 0}));

    ChangeRowOp(plan, row); // 1 -> 2: the mirror's delete stays switched off
    EXPECT_EQ(row.Host->Op, opToMirror);
    EXPECT_EQ(row.Mirror->Op, opDeleteOff);
    EXPECT_EQ(Of(plan), (Counters{1, 0, 0, 0, 10}));

    ChangeRowOp(plan, row); // 2 -> 3
    EXPECT_EQ(row.Host->Op, opToHost);
    EXPECT_EQ(Of(plan), (Counters{0, 1, 0, 0, 70}));

    ChangeRowOp(plan, row); // and round again: the mirror's switched-off delete comes back on
    EXPECT_EQ(row.Mirror->Op, opDelete);
    EXPECT_EQ(Of(plan), (Counters{0, 0, 1, 1, 0}));
}

TEST_F(PreviewOpsTest, MirrorOnlyRowSkipsTheCopyToMirror) {
    AddMirror(plan, "/m.txt", 5, opToHost);
    Build();
    const TPreviewRow row = Rows(plan, tree, "/").at(0);
    ChangeRowOp(plan, row);
    EXPECT_EQ(RowOp(row), opDelete);
    EXPECT_EQ(Of(plan), (Counters{0, 0, 0, 1, 0}));
    ChangeRowOp(plan, row);
    EXPECT_EQ(RowOp(row), opToHost);
    EXPECT_EQ(Of(plan), (Counters{0, 1, 0, 0, 5}));
}

TEST_F(PreviewOpsTest, TickBoxSwitchesBothEntriesOfADeleteAndLeavesNoOpAlone) {
    AddHost(plan, "/junk.tmp", 1, opDelete);
    AddMirror(plan, "/junk.tmp", 2, opDelete);
    AddHost(plan, "/same.txt", 3, opNone);
    AddMirror(plan, "/same.txt", 3, opNone);
    Build();
    auto rows = Rows(plan, tree, "/");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(Of(plan), (Counters{0, 0, 1, 1, 0}));

    SwitchRow(plan, rows[0]);
    EXPECT_EQ(rows[0].Host->Op, opDeleteOff);
    EXPECT_EQ(rows[0].Mirror->Op, opDeleteOff);
    EXPECT_EQ(Of(plan), (Counters{0, 0, 0, 0, 0}));
    SwitchRowOff(plan, rows[0]); // already off: nothing
    EXPECT_EQ(Of(plan), (Counters{0, 0, 0, 0, 0}));
    SwitchRow(plan, rows[0]);
    EXPECT_EQ(Of(plan), (Counters{0, 0, 1, 1, 0}));

    SwitchRow(plan, rows[1]);
    ChangeRowOp(plan, rows[1]);
    EXPECT_EQ(rows[1].Host->Op, opNone);
    EXPECT_EQ(rows[1].Mirror->Op, opNone);
    EXPECT_EQ(Of(plan), (Counters{0, 0, 1, 1, 0}));
}

// A host delete beside a mirror file with another operation: switching the
// row off must not lower the mirror's delete counter for an entry that never
// was a delete, and must take the mirror's copy out of the totals.
TEST_F(PreviewOpsTest, DeleteRowBesideAMirrorCopyKeepsCountersTrue) {
    AddHost(plan, "/x.bak", 4, opDelete);
    AddMirror(plan, "/x.bak", 4, opToHost);
    Build();
    const TPreviewRow row = Rows(plan, tree, "/").at(0);
    EXPECT_EQ(Of(plan), (Counters{0, 1, 1, 0, 4}));
    SwitchRowOff(plan, row);
    EXPECT_EQ(Of(plan), (Counters{0, 0, 0, 0, 0}));
    EXPECT_GE(plan.MirrorDeleteCount, 0);
    SwitchRowOn(plan, row);
    EXPECT_EQ(Of(plan), (Counters{0, 0, 1, 1, 0}));
}

// Any sequence of clicks and ticks leaves the counters equal to a recount.
TEST_F(PreviewOpsTest, RandomClicksKeepCountersEqualToARecount) {
    std::mt19937 rng(20261208);
    const char* dirs[] = {"", "/a", "/a/b", "/c"};
    const TSyncOp hostOps[] = {opNone, opDelete, opToMirror, opToHost};
    const TSyncOp mirrorOps[] = {opNone, opDelete, opToHost};
    for (const char* d : dirs)
        if (*d) {
            AddFolder(plan, true, d, 1);
            AddFolder(plan, false, d, 1);
        }
    for (int i = 0; i < 400; ++i) {
        const std::string path = std::string(dirs[rng() % 4]) + "/f" + std::to_string(i % 150);
        const int kind = static_cast<int>(rng() % 3); // 0 host only, 1 mirror only, 2 both
        if (kind != 1 && plan.HostFiles.size() < 300)
            AddHost(plan, path, static_cast<std::int64_t>(rng() % 100000), hostOps[rng() % 4]);
        if (kind != 0 && plan.MirrorFiles.Count() < 300 && plan.MirrorFiles.Find(path) < 0)
            AddMirror(plan, path, static_cast<std::int64_t>(rng() % 100000),
                      kind == 2 ? opNone : mirrorOps[rng() % 3]);
    }
    // Moves both ways, some within one folder (both rows in one listing),
    // some between folders.
    for (int i = 0; i < 40; ++i) {
        const bool onMirror = i % 2 == 0;
        const std::string from = std::string(dirs[rng() % 4]) + "/old" + std::to_string(i);
        const std::string to = std::string(dirs[rng() % 4]) + "/new" + std::to_string(i);
        const std::int64_t size = 1000 + i;
        AddHost(plan, onMirror ? to : from, size, onMirror ? opToMirror : opDelete);
        AddMirror(plan, onMirror ? from : to, size, onMirror ? opDelete : opToHost);
    }
    plan.MirrorFiles.Sort();
    for (int i = 0; i < 40; ++i) {
        const bool onMirror = i % 2 == 0;
        const std::string old = "/old" + std::to_string(i);
        const std::string neu = "/new" + std::to_string(i);
        int h = -1;
        for (std::size_t k = 0; k < plan.HostFiles.size(); ++k)
            if (plan.HostFiles[k].RelPath.ends_with(onMirror ? neu : old))
                h = static_cast<int>(k);
        int m = -1;
        for (int k = 0; k < plan.MirrorFiles.Count(); ++k)
            if (plan.MirrorFiles.Items(k).RelPath.ends_with(onMirror ? old : neu))
                m = k;
        ASSERT_TRUE(h >= 0 && m >= 0);
        plan.AddMove(static_cast<std::uint32_t>(h), static_cast<std::uint32_t>(m), onMirror);
    }
    Build(SyncAction::Delete);
    ASSERT_EQ(plan.MoveCount, 40);
    const std::int32_t emptyFolders = plan.EmptyFolderCount;
    std::vector<std::vector<TPreviewRow>> folders;
    for (const TFolderNode& n : tree.Nodes)
        folders.push_back(ListFolderRows(plan, n, false));

    for (int step = 0; step < 20000; ++step) {
        auto& rows = folders[rng() % folders.size()];
        if (rows.empty())
            continue;
        const TPreviewRow& row = rows[rng() % rows.size()];
        switch (rng() % 5) {
        case 0:
        case 1:
            ChangeRowOp(plan, row);
            break;
        case 2:
            SwitchRow(plan, row);
            break;
        case 3:
            SwitchRowOn(plan, row);
            break;
        default:
            SwitchRowOff(plan, row);
            break;
        }
        if (step % 97 == 0 || step == 19999) {
            const Counters seen = Of(plan);
            const std::int32_t moves = plan.MoveCount;
            plan.Count(SyncAction::Delete);
            ASSERT_EQ(seen, Of(plan)) << "after step " << step;
            ASSERT_EQ(moves, plan.MoveCount) << "after step " << step;
            ASSERT_EQ(plan.EmptyFolderCount, emptyFolders);
        }
    }
}

TEST_F(PreviewOpsTest, TreeMergesBothSidesWithSideFlags) {
    // Scanner order: a folder after its contents.
    AddFolder(plan, true, "/both/inner", 0);
    AddFolder(plan, true, "/both", 5);
    AddFolder(plan, true, "/hostonly", 0);
    AddFolder(plan, false, "/both", 0);
    AddFolder(plan, false, "/mirroronly", 3);
    Build();
    ASSERT_EQ(tree.Nodes.size(), 5u);
    EXPECT_EQ(tree.Nodes[0].Label, "/h <=> /m");
    EXPECT_EQ(tree.Nodes[0].Flags, 0);
    auto flags = [&](std::string_view p) {
        return tree.Nodes[static_cast<std::size_t>(tree.Find(p))].Flags;
    };
    EXPECT_EQ(flags("/both"), fnMirrorEmpty);
    EXPECT_EQ(flags("/both/inner"), fnOnlyHost | fnHostEmpty);
    EXPECT_EQ(flags("/hostonly"), fnOnlyHost | fnHostEmpty);
    EXPECT_EQ(flags("/mirroronly"), fnOnlyMirror);
    const TFolderNode& inner = tree.Nodes[static_cast<std::size_t>(tree.Find("/both/inner"))];
    EXPECT_EQ(inner.Label, "inner");
    EXPECT_EQ(tree.Nodes[static_cast<std::size_t>(inner.Parent)].Path, "/both");
    EXPECT_EQ(inner.Depth, 2);

    // Sorted by label, a-z folded.
    std::vector<std::string> labels;
    for (int c : tree.Nodes[0].Children)
        labels.push_back(tree.Nodes[static_cast<std::size_t>(c)].Label);
    EXPECT_EQ(labels, (std::vector<std::string>{"both", "hostonly", "mirroronly"}));
}

TEST_F(PreviewOpsTest, FoldersDifferingInCaseShareANodeOnlyWhenThePlanFolds) {
    for (bool fold : {false, true}) {
        SyncPlan p;
        p.SetFoldCase(fold);
        AddFolder(p, true, "/Data", 1);
        AddFolder(p, false, "/DATA", 1);
        AddHost(p, "/Data/x.txt", 1, opNone);
        AddMirror(p, "/DATA/X.TXT", 1, opNone);
        p.MirrorFiles.Sort();
        TFolderTree t;
        ASSERT_TRUE(t.Build(p, "/h", "/m", SyncAction::Ignore));
        if (!fold) {
            EXPECT_EQ(t.Nodes.size(), 3u);
            EXPECT_EQ(
                ListFolderRows(p, t.Nodes[static_cast<std::size_t>(t.Find("/Data"))], false).size(),
                1u);
            continue;
        }
        ASSERT_EQ(t.Nodes.size(), 2u);
        const TFolderNode& n = t.Nodes[1];
        EXPECT_EQ(n.Label, "DATA"); // the mirror side is added first
        EXPECT_EQ(n.Flags, 0);
        // The host file shows in the merged folder, paired with its twin.
        auto rows = ListFolderRows(p, n, false);
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_NE(rows[0].Host, nullptr);
        EXPECT_NE(rows[0].Mirror, nullptr);
        EXPECT_EQ(RowName(rows[0]), "X.TXT");
    }
}

TEST_F(PreviewOpsTest, FoldersAndFilesOutsideTheListsStillGetNodes) {
    // Deeper folder listed before its parent, and a file in an unlisted folder.
    AddFolder(plan, false, "/p", 1);
    AddFolder(plan, false, "/p/q/r", 1);
    AddHost(plan, "/lost/file.txt", 1, opToMirror);
    Build();
    const int r = tree.Find("/p/q/r");
    const int q = tree.Find("/p/q");
    ASSERT_GE(r, 0);
    ASSERT_GE(q, 0);
    EXPECT_EQ(tree.Nodes[static_cast<std::size_t>(r)].Parent, q);
    EXPECT_EQ(tree.Nodes[static_cast<std::size_t>(q)].Parent, tree.Find("/p"));
    const int lost = tree.Find("/lost");
    ASSERT_GE(lost, 0);
    EXPECT_TRUE(tree.Nodes[static_cast<std::size_t>(lost)].Flags & fnToMirror);
    EXPECT_EQ(Rows(plan, tree, "/lost").size(), 1u);
}

TEST_F(PreviewOpsTest, AncestorsOfFoldersWithWorkAreExpanded) {
    AddFolder(plan, true, "/a/b/c", 1);
    AddFolder(plan, true, "/a/b", 1);
    AddFolder(plan, true, "/a", 1);
    AddFolder(plan, false, "/a/b/c", 1);
    AddFolder(plan, false, "/a/b", 1);
    AddFolder(plan, false, "/a", 1);
    AddFolder(plan, false, "/e/f", 0); // empty, only in the mirror
    AddFolder(plan, false, "/e", 0);
    AddFolder(plan, true, "/e", 0);
    AddHost(plan, "/a/b/c/new", 1, opToMirror);
    auto expanded = [&](std::string_view p) {
        return tree.Nodes[static_cast<std::size_t>(tree.Find(p))].Expanded;
    };

    Build(SyncAction::Ignore);
    EXPECT_TRUE(expanded("/"));
    EXPECT_TRUE(expanded("/a"));
    EXPECT_TRUE(expanded("/a/b"));
    EXPECT_FALSE(expanded("/a/b/c")); // the folder itself stays closed
    EXPECT_FALSE(expanded("/e"));     // empty folders count only with an action

    Build(SyncAction::HostToMirror); // /e/f is only in the mirror
    EXPECT_TRUE(expanded("/e"));

    plan.HostFiles.clear();
    Build(SyncAction::HostToMirror);
    EXPECT_FALSE(expanded("/a"));
    EXPECT_TRUE(expanded("/e"));    // for /e/f; /e itself is on both sides
    EXPECT_FALSE(expanded("/e/f")); // its own node is never expanded here

    plan.MirrorFolders.erase(plan.MirrorFolders.begin() + 3); // drop /e/f
    Build(SyncAction::HostToMirror);
    EXPECT_FALSE(expanded("/")); // /e is empty on both sides: nothing to create
    Build(SyncAction::Delete);
    EXPECT_TRUE(expanded("/")); // but with Delete it qualifies
    EXPECT_FALSE(expanded("/a"));
}

TEST_F(PreviewOpsTest, ProgressEvery64FoldersAndEarlyStop) {
    for (int i = 0; i < 70; ++i)
        AddFolder(plan, false, plan.StoreMirrorPath("/m" + std::to_string(i)), 1);
    for (int i = 0; i < 60; ++i)
        AddFolder(plan, true, plan.StoreHostPath("/h" + std::to_string(i)), 1);
    std::vector<int> seen;
    ASSERT_TRUE(tree.Build(plan, "/h", "/m", SyncAction::Ignore, [&](int pct) {
        seen.push_back(pct);
        return true;
    }));
    // Mirror indices 64 and 0, host index 0.
    EXPECT_EQ(seen, (std::vector<int>{(70 - 64) * 100 / 130, 70 * 100 / 130, 100}));
    EXPECT_EQ(tree.Nodes.size(), 131u);

    int calls = 0;
    EXPECT_FALSE(
        tree.Build(plan, "/h", "/m", SyncAction::Ignore, [&](int) { return ++calls < 1; }));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(tree.Nodes.size(), 1u + 6u); // root and mirror folders 69..64
}

TEST_F(PreviewOpsTest, RowsPairByNameInFoldedOrderAndFilterHidesOnlyNoOpRows) {
    AddFolder(plan, true, "/d", 1);
    AddFolder(plan, false, "/d", 1);
    AddHost(plan, "/d/b.txt", 1, opNone);
    AddMirror(plan, "/d/b.txt", 1, opNone);
    AddHost(plan, "/d/C.txt", 2, opToMirror);
    AddMirror(plan, "/d/a.txt", 3, opToHost);
    AddMirror(plan, "/d/A.txt", 4, opDelete); // another file where case counts
    AddHost(plan, "/d/off.txt", 5, opToMirrorOff);
    AddHost(plan, "/d/sub/deeper.txt", 6, opToMirror); // not directly in /d
    AddHost(plan, "/top.txt", 7, opToMirror);
    Build();
    auto rows = Rows(plan, tree, "/d");
    std::vector<std::string> names;
    for (const auto& r : rows)
        names.emplace_back(RowName(r));
    EXPECT_EQ(names, (std::vector<std::string>{"A.txt", "a.txt", "b.txt", "C.txt", "off.txt"}));
    EXPECT_TRUE(rows[2].Host && rows[2].Mirror);
    EXPECT_TRUE(!rows[3].Mirror && rows[3].Host);

    auto hidden = Rows(plan, tree, "/d", true);
    names.clear();
    for (const auto& r : hidden)
        names.emplace_back(RowName(r));
    EXPECT_EQ(names, (std::vector<std::string>{"A.txt", "a.txt", "C.txt", "off.txt"}));
    EXPECT_EQ(Rows(plan, tree, "/").size(), 1u);
}

TEST(PreviewTexts, TimesColoursImagesAndStatus) {
    SetLanguage(Language::English);
    // 2024-05-06 13:07:58
    const std::int32_t age =
        ((2024 - 1980) << 25) | (5 << 21) | (6 << 16) | (13 << 11) | (7 << 5) | (58 / 2);
    EXPECT_EQ(AgeText(age), "24-05-06 13:07:58");
    EXPECT_EQ(AgeText(static_cast<std::int32_t>(0xFF9FBF7DU)), "07-12-31 23:59:58");

    EXPECT_EQ(RowTextColour(opNone, false), (Rgb{64, 64, 64}));
    EXPECT_EQ(RowTextColour(opNone, true), (Rgb{192, 192, 192}));
    EXPECT_EQ(RowTextColour(opDeleteOff, true), (Rgb{255, 0, 0}));
    EXPECT_EQ(RowTextColour(opToMirrorOff, false), (Rgb{0, 0, 255}));
    EXPECT_EQ(RowTextColour(opToHost, false), (Rgb{255, 0, 255}));
    EXPECT_EQ(RowTextColour(opToHost, true), (Rgb{255, 255, 255}));

    EXPECT_STREQ(TickImage(opToHost), "CHECK4");
    EXPECT_STREQ(TickImage(opDeleteOff), "UNCHECK4");
    EXPECT_STREQ(TickImage(opNone), "");
    EXPECT_STREQ(OpImage(opToMirrorOff), "RARROW4");
    EXPECT_STREQ(HostFolderImage(fnOnlyMirror | fnHostEmpty, true), "TFOLDERNO");
    EXPECT_STREQ(HostFolderImage(fnHostEmpty | fnToMirror, true), "TFOLDERE");
    EXPECT_STREQ(HostFolderImage(fnToMirror, true), "TFOLDERO");
    EXPECT_STREQ(HostFolderImage(fnToMirror | fnToHost, false), "TFOLDER2RIGHT");
    EXPECT_STREQ(MirrorFolderImage(fnToMirror | fnToHost, false), "TFOLDER2LEFT");
    EXPECT_STREQ(MirrorFolderImage(fnOnlyHost | fnMirrorEmpty, false), "TFOLDERNO");

    SyncPlan plan;
    plan.ToMirrorCount = 2;
    plan.ToHostCount = 1;
    plan.TotalBytes = 1536;
    plan.HostDeleteCount = 4;
    plan.MirrorDeleteCount = 5;
    plan.EmptyFolderCount = 6;
    EXPECT_EQ(StatusPanelText(plan, 0), "Transmit File: 3(1.5K bytes)");
    EXPECT_EQ(StatusPanelText(plan, 1), "Del Host File: 4");
    EXPECT_EQ(StatusPanelText(plan, 2), "Del Mirror File: 5");
    EXPECT_EQ(StatusPanelText(plan, 3), "Sync Empty Folder: 6");
}

TEST_F(PreviewOpsTest, MoveRowsShowBothPathsAndFallBackToCopyAndDelete) {
    AddHost(plan, "/new/photo.jpg", 5000, opToMirror);
    AddMirror(plan, "/old/photo.jpg", 5000, opDelete);
    AddFolder(plan, true, "/new", 5000);
    AddFolder(plan, false, "/old", 5000);
    plan.MirrorFiles.Sort();
    plan.AddMove(0, 0, true);
    Build();
    EXPECT_EQ(Of(plan), (Counters{0, 0, 0, 0, 0})); // a move copies no byte
    EXPECT_EQ(plan.MoveCount, 1);
    for (const char* dir : {"/new", "/old"}) {
        const TFolderNode& n = tree.Nodes[static_cast<std::size_t>(tree.Find(dir))];
        EXPECT_TRUE(n.Flags & fnMove) << dir;
        EXPECT_TRUE(tree.Nodes[0].Expanded);
    }
    auto newRows = Rows(plan, tree, "/new");
    auto oldRows = Rows(plan, tree, "/old");
    ASSERT_EQ(newRows.size(), 1u);
    ASSERT_EQ(oldRows.size(), 1u);
    EXPECT_STREQ(OpImage(RowOp(newRows[0])), "MOVE4");
    EXPECT_STREQ(TickImage(RowOp(oldRows[0])), "CHECK4");
    EXPECT_EQ(MoveNote(plan, newRows[0]), "moved from /old/photo.jpg");
    EXPECT_EQ(MoveNote(plan, oldRows[0]), "moved to /new/photo.jpg");
    EXPECT_EQ(StatusPanelText(plan, 4), "Move File: 1");

    // The tick box: the copy and the delete come back, both switched on,
    // and then switch like any other rows.
    SwitchRow(plan, oldRows[0]);
    EXPECT_EQ(plan.HostFiles[0].Op, opToMirror);
    EXPECT_EQ(plan.MirrorFiles.Items(0).Op, opDelete);
    EXPECT_EQ(Of(plan), (Counters{1, 0, 0, 1, 5000}));
    EXPECT_EQ(plan.MoveCount, 0);
    EXPECT_EQ(MoveNote(plan, newRows[0]), "");
    SwitchRow(plan, oldRows[0]);
    EXPECT_EQ(plan.MirrorFiles.Items(0).Op, opDeleteOff);

    // "Clear Selection" over a move leaves neither half on.
    plan.SetOp(plan.HostFiles[0], true, opMoveTo);
    plan.SetOp(plan.MirrorFiles.Items(0), false, opMoveFrom);
    ASSERT_EQ(plan.MoveOf(plan.HostFiles[0], true), 0);
    SwitchRowOff(plan, newRows[0]);
    EXPECT_EQ(plan.HostFiles[0].Op, opToMirrorOff);
    EXPECT_EQ(plan.MirrorFiles.Items(0).Op, opDeleteOff);
    const Counters seen = Of(plan);
    plan.Count(SyncAction::Ignore);
    EXPECT_EQ(seen, Of(plan));
}
