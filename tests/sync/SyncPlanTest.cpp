#include "sync/plan/SyncPlan.h"

#include <gtest/gtest.h>

using namespace duplora;

namespace {

TFileEntry E(SyncPlan& plan, bool host, std::string_view path, std::int64_t size, TSyncOp op) {
    TFileEntry e;
    e.RelPath = host ? plan.StoreHostPath(path) : plan.StoreMirrorPath(path);
    e.Size = size;
    e.Op = op;
    return e;
}

struct Counters {
    int toMirror, toHost, hostDel, mirrorDel;
    std::int64_t bytes;
};
Counters Of(const SyncPlan& p) {
    return {p.ToMirrorCount, p.ToHostCount, p.HostDeleteCount, p.MirrorDeleteCount, p.TotalBytes};
}
bool operator==(const Counters& a, const Counters& b) {
    return a.toMirror == b.toMirror && a.toHost == b.toHost && a.hostDel == b.hostDel &&
           a.mirrorDel == b.mirrorDel && a.bytes == b.bytes;
}

} // namespace

TEST(SyncPlan, CountUsesTheSourceSizeOfEachCopy) {
    SyncPlan plan;
    plan.HostFiles.push_back(E(plan, true, "/new", 10, opToMirror));
    plan.HostFiles.push_back(E(plan, true, "/older", 20, opToHost)); // source is the mirror twin
    plan.HostFiles.push_back(E(plan, true, "/gone", 30, opDelete));
    plan.HostFiles.push_back(E(plan, true, "/off", 40, opToMirrorOff));
    plan.MirrorFiles.Append(E(plan, false, "/older", 200, opNone));
    plan.MirrorFiles.Append(E(plan, false, "/only", 7, opToHost));
    plan.MirrorFiles.Append(E(plan, false, "/junk", 9, opDelete));
    plan.MirrorFiles.Append(E(plan, false, "/odd", 11, opToMirror)); // never executed, not counted
    plan.DoneBytes = 99;
    plan.Count(SyncAction::Ignore);
    EXPECT_EQ(plan.ToMirrorCount, 1);
    EXPECT_EQ(plan.ToHostCount, 2);
    EXPECT_EQ(plan.HostDeleteCount, 1);
    EXPECT_EQ(plan.MirrorDeleteCount, 1);
    EXPECT_EQ(plan.TotalBytes, 10 + 200 + 7);
    EXPECT_EQ(plan.DoneBytes, 0);
    EXPECT_EQ(plan.WorkCount(), 5);
}

TEST(SyncPlan, SetOpKeepsCountersEqualToARecount) {
    SyncPlan plan;
    plan.HostFiles.push_back(E(plan, true, "/a", 10, opToMirror));
    plan.HostFiles.push_back(E(plan, true, "/b", 20, opToHost));
    plan.MirrorFiles.Append(E(plan, false, "/b", 25, opNone));
    plan.MirrorFiles.Append(E(plan, false, "/c", 5, opDelete));
    plan.Count(SyncAction::Ignore);

    const TSyncOp sequence[] = {opToMirrorOff, opDelete, opToHost, opNone, opToMirror};
    for (TSyncOp op : sequence) {
        for (TFileEntry& e : plan.HostFiles) {
            plan.SetOp(e, true, op);
            const Counters kept = Of(plan);
            plan.Count(SyncAction::Ignore);
            EXPECT_TRUE(kept == Of(plan)) << "host op " << int(op);
        }
        plan.SetOp(plan.MirrorFiles.Items(1), false, ToggledOp(plan.MirrorFiles.Items(1).Op));
        const Counters kept = Of(plan);
        plan.Count(SyncAction::Ignore);
        EXPECT_TRUE(kept == Of(plan)) << "mirror op " << int(op);
    }
}

TEST(SyncPlan, ToggledOpPairsOnAndOff) {
    EXPECT_EQ(ToggledOp(opDelete), opDeleteOff);
    EXPECT_EQ(ToggledOp(opToMirrorOff), opToMirror);
    EXPECT_EQ(ToggledOp(opToHost), opToHostOff);
    EXPECT_EQ(ToggledOp(opNone), opNone);
    EXPECT_TRUE(IsSwitchedOff(opToHostOff));
    EXPECT_FALSE(IsSwitchedOff(opToHost));
}

TEST(SyncPlan, EmptyFolderCountDependsOnTheAction) {
    SyncPlan plan;
    plan.HostFolders = {{plan.StoreHostPath("/e1"), 0},
                        {plan.StoreHostPath("/both"), 0},
                        {plan.StoreHostPath("/full"), 12}};
    plan.MirrorFolders = {{plan.StoreMirrorPath("/both"), 0},
                          {plan.StoreMirrorPath("/m1"), 0},
                          {plan.StoreMirrorPath("/full"), 0}};
    plan.Count(SyncAction::Ignore);
    EXPECT_EQ(plan.EmptyFolderCount, 0);
    plan.Count(SyncAction::Delete);
    EXPECT_EQ(plan.EmptyFolderCount, 5); // every empty folder on both sides
    plan.Count(SyncAction::HostToMirror);
    EXPECT_EQ(plan.EmptyFolderCount, 2); // /e1 in the host, /m1 in the mirror
}

TEST(SyncPlan, FolderLookupFollowsTheCaseChoice) {
    SyncPlan plan;
    plan.HostFolders = {{plan.StoreHostPath("/Docs"), 0}};
    EXPECT_TRUE(plan.HostHasFolder("/Docs"));
    EXPECT_FALSE(plan.HostHasFolder("/DOCS"));
    plan.SetFoldCase(true);
    EXPECT_TRUE(plan.HostHasFolder("/DOCS"));
    EXPECT_FALSE(plan.HostHasFolder("/Doc"));
    plan.ClearHost();
    EXPECT_FALSE(plan.HostHasFolder("/Docs"));
}
