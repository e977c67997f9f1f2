#include "sync/plan/DeleteGuard.h"

#include <gtest/gtest.h>

using namespace duplora;

namespace {

TFileEntry E(SyncPlan& plan, bool host, std::string_view path, TSyncOp op) {
    TFileEntry e;
    e.RelPath = host ? plan.StoreHostPath(path) : plan.StoreMirrorPath(path);
    e.Size = 1;
    e.Op = op;
    return e;
}

} // namespace

// Host: one delete, one replacement from the mirror, one new copy out, one
// switched-off delete. Mirror (sorted): a replaced twin, a delete, a move's
// old file and a file copied to the host.
TEST(DeleteGuard, CountsDeletesAndReplacementsPerSide) {
    SyncPlan plan;
    plan.HostFiles.push_back(E(plan, true, "/a", opDelete));
    plan.HostFiles.push_back(E(plan, true, "/b", opToHost));
    plan.HostFiles.push_back(E(plan, true, "/c", opToMirror));
    plan.HostFiles.push_back(E(plan, true, "/d", opToMirror));
    plan.HostFiles.push_back(E(plan, true, "/e", opDeleteOff));
    plan.MirrorFiles.Append(E(plan, false, "/b", opNone));
    plan.MirrorFiles.Append(E(plan, false, "/c", opNone));
    plan.MirrorFiles.Append(E(plan, false, "/m", opMoveFrom));
    plan.MirrorFiles.Append(E(plan, false, "/x", opDelete));
    plan.MirrorFiles.Append(E(plan, false, "/y", opToHost));

    const DeleteGuard g = MeasureDeleteGuard(plan, 0);
    EXPECT_EQ(g.Host.Files, 5);
    EXPECT_EQ(g.Host.Lost, 2); // /a deleted, /b replaced
    EXPECT_EQ(g.Mirror.Files, 5);
    EXPECT_EQ(g.Mirror.Lost, 2); // /c replaced, /x deleted
    EXPECT_EQ(g.Host.Percent(), 40);
    EXPECT_FALSE(g.Over()); // no limit

    const DeleteGuard blind = MeasureDeleteGuard(plan, 0, false); // -C: mirror unknown
    EXPECT_EQ(blind.Mirror.Files, 0);
    EXPECT_EQ(blind.Mirror.Lost, 0);
    EXPECT_EQ(blind.Host.Lost, 2);
}

TEST(DeleteGuard, OverOnlyAboveTheLimitAndShownAboveIt) {
    struct Case {
        std::int64_t files, lost;
        int limit;
        bool over;
        int percent;
        const char* shown; // in the line about that limit
    } cases[] = {
        {10, 4, 40, false, 40, "40"},
        {10, 5, 40, true, 50, "50"},
        {3, 1, 33, true, 33, "33.3"},
        {3, 1, 34, false, 33, "33"},
        {0, 0, 1, false, 0, "0"},
        {1000, 1000, 0, false, 100, "100"},
        {3010, 1204, 39, true, 40, "40"},
        {200, 1, 1, false, 1, "1"},
        {2, 1, 99, false, 50, "50"},
        {2000, 661, 33, true, 33, "33.05"},
        {10001, 5001, 50, true, 50, "50.004"},
    };
    for (const Case& c : cases) {
        const SideLoss s{c.files, c.lost};
        EXPECT_EQ(s.Over(c.limit), c.over) << c.files << " " << c.lost << " " << c.limit;
        EXPECT_EQ(s.Percent(), c.percent) << c.files << " " << c.lost;
        EXPECT_EQ(s.PercentText(c.limit), c.shown) << c.files << " " << c.lost << " " << c.limit;
    }
}
