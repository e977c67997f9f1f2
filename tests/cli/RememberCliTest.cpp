// The console side of remembering the last run: the options through show,
// and the keys plan --json and run --json add for such a task.

#include "cli/CliFixture.h"
#include "cli/PlanOutput.h"
#include "cli/RunReport.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <sstream>

namespace duplora::test {
namespace {

TEST(CliRemember, OptionsReachTheTaskAndShow) {
    CliFixture f;
    f.NewOneWay("T");
    ASSERT_EQ(f.Cli({"set", "t", "--remember", "on", "--deleted-in-host", "to-host",
                     "--deleted-in-mirror", "ignore", "--conflict", "skip"})
                  .code,
              0);
    const std::string shown = f.Cli({"show", "T"}).out;
    for (const char* line : {"remember_last_run: on\n", "deleted_in_host_action: to-host\n",
                             "deleted_in_mirror_action: ignore\n", "conflict_action: skip\n"})
        EXPECT_TRUE(HasText(shown, line));
}

// The run report's keys come only for a task that remembers.
TEST(CliRemember, RunReportKeysOnlyWithTheOption) {
    for (const bool on : {false, true}) {
        RunReport report;
        report.RememberOn = on;
        report.PlannedRemembered.ChangedOnBoth = 2;
        report.ConflictsKept = 1;
        const auto j = nlohmann::json::parse(cli::RunReportJson(report, {}));
        EXPECT_TRUE(j.contains("counts") && j.contains("planned"));
        EXPECT_EQ(j.contains("remembered"), on);
        if (!on)
            continue;
        EXPECT_EQ(j["remembered"], false);
        EXPECT_TRUE(j["memory_note"].is_null() && j["remembered_since"].is_null()) << j;
        EXPECT_EQ(j["planned_remembered"]["changed_on_both"], 2);
        EXPECT_EQ(j["conflicts_kept"], 1);
        EXPECT_EQ(j["conflicts_skipped"], 0);
    }
}

void AddEntry(SyncPlan& plan, bool host, std::string_view path, TSyncOp op) {
    TFileEntry e;
    e.RelPath = host ? plan.StoreHostPath(path) : plan.StoreMirrorPath(path);
    e.Size = 3;
    e.Op = op;
    if (host)
        plan.HostFiles.push_back(e);
    else
        plan.MirrorFiles.Append(e);
}

// Each operation of a remembered entry names its kind and says why in words;
// the others are printed as before.
TEST(PlanOutputRemember, OperationsCarryTheKindAndTheReason) {
    SetLanguage(Language::English);
    SyncPlan plan;
    AddEntry(plan, true, "/both.txt", opToMirror);
    AddEntry(plan, true, "/plain.txt", opToMirror);
    AddEntry(plan, false, "/gone.txt", opDelete);
    plan.MirrorFiles.Sort();
    plan.Count(SyncAction::Ignore);
    plan.RememberedSince = 1'800'000'000;
    plan.SetRemembered(plan.HostFiles[0], true, Remembered::ChangedOnBoth);
    plan.SetRemembered(plan.MirrorFiles.Items(0), false, Remembered::DeletedInHost);

    std::ostringstream json, text;
    cli::WritePlanJson(plan, "T", "/h", "/m", json, {false, true});
    cli::WritePlanText(plan, text, {false, true});
    const auto j = nlohmann::json::parse(json.str());
    const struct {
        const char* path;
        const char* kind; // nullptr: an ordinary operation
        const char* reason;
    } cases[] = {
        {"/both.txt", "changed-on-both", "changed on both sides since "},
        {"/plain.txt", nullptr, nullptr},
        {"/gone.txt", "deleted-in-host", "deleted in the host since "},
    };
    for (const auto& c : cases) {
        const auto op = std::find_if(j["operations"].begin(), j["operations"].end(),
                                     [&](const auto& o) { return o["path"] == c.path; });
        ASSERT_NE(op, j["operations"].end()) << c.path;
        EXPECT_EQ(op->contains("remembered"), c.kind != nullptr) << *op;
        if (c.kind) {
            EXPECT_EQ((*op)["remembered"], c.kind);
            EXPECT_TRUE(HasText((*op)["reason"].get<std::string>(), c.reason));
        }
    }
    EXPECT_EQ(j["remembered_since"], cli::IsoLocalTime(1'800'000'000));
    EXPECT_EQ(j["remembered_counts"]["deleted_in_host"], 1);
    EXPECT_EQ(j["remembered_counts"]["deleted_in_mirror"], 0);
    EXPECT_TRUE(HasText(text.str(), "deleted-in-host 1, deleted-in-mirror 0, changed-on-both 1"));
}

} // namespace
} // namespace duplora::test
