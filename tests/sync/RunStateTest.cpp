// Run states and what they decide: the state every step sets, and whether a
// cancel shows the result window.
#include "sync/run/SyncRun.h"

#include "TreeFixture.h"

#include <gtest/gtest.h>

using namespace duplora;
using namespace duplora::test;

namespace {

// 600 unchanged files and one file only in the mirror: the host list holds
// entries without work only, so execution pumps among them every 256 entries.
void BuildIdleHostList(RunFixture& f) {
    std::vector<TreeFile> same;
    for (int i = 0; i < 600; ++i)
        same.push_back({"f" + std::to_string(i), "x"});
    f.tmp.build(f.host, same);
    same.push_back({"mirror-only", "m"});
    f.tmp.build(f.mirror, same);
    f.run.Task.set_only_in_mirror_action(SyncAction::MirrorToHost);
}

} // namespace

TEST(RunState, ExecutionSetsItsStateForEveryEntryNotOnlyForWork) {
    // Cancel on the first event pump after the preview: that is inside the
    // host list, so the cancel counts as made during execution and the
    // result window is shown.
    RunFixture f;
    BuildIdleHostList(f);
    bool previewed = false;
    std::vector<RunState> seen;
    f.ui.onPreview = [&](SyncPlan&) { return previewed = true; };
    f.ui.onPump = [&] {
        if (previewed && CanCancel(f.run)) {
            seen.push_back(f.run.State);
            RequestCancel(f.run);
        }
    };
    EXPECT_EQ(f.Run(), RunOutcome::Cancelled);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], RunState::ExecHost);
    EXPECT_EQ(f.run.CancelState, RunState::ExecHost);
    EXPECT_EQ(f.ui.results, 1);
    EXPECT_FALSE(fs::exists(f.host + "/mirror-only")); // stopped before the mirror list
}

TEST(RunState, MirrorListAndFoldersRunInStateFour) {
    RunFixture f;
    BuildIdleHostList(f);
    std::vector<RunState> states;
    f.ui.onPump = [&] { states.push_back(f.run.State); };
    EXPECT_EQ(f.Run(), RunOutcome::Finished);
    EXPECT_TRUE(fs::exists(f.host + "/mirror-only"));
    // Every pump after the scans is made in state 3, then 4: never 2 again.
    const auto firstExec = std::find(states.begin(), states.end(), RunState::ExecHost);
    ASSERT_NE(firstExec, states.end());
    for (auto it = firstExec; it != states.end(); ++it)
        EXPECT_TRUE(*it == RunState::ExecHost || *it == RunState::ExecMirror);
    EXPECT_EQ(states.back(), RunState::ExecMirror);
}
