// The console side of remembering the last run: the options through show,
// and the fields plan --json and run --json add for such a task.

#include "cli/CliFixture.h"
#include "cli/PlanOutput.h"
#include "cli/RunReport.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <sstream>

namespace duplora::test {
namespace {

// The record of the last run goes below $DUPLORA_HOME: a test keeps it in
// its own folder, never in the user's.
struct StateHome {
    explicit StateHome(const std::string& dir) {
        if (const char* old = std::getenv("DUPLORA_HOME"))
            saved = old;
        had = std::getenv("DUPLORA_HOME") != nullptr;
        ::setenv("DUPLORA_HOME", dir.c_str(), 1);
    }
    ~StateHome() {
        if (had)
            ::setenv("DUPLORA_HOME", saved.c_str(), 1);
        else
            ::unsetenv("DUPLORA_HOME");
    }
    std::string saved;
    bool had = false;
};

TEST(CliRemember, OptionsShowAndSurviveSwitchingOff) {
    CliFixture f;
    f.NewOneWay("T");
    std::string shown = f.Cli({"show", "T"}).out;
    EXPECT_TRUE(HasText(shown, "remember_last_run: off\n"));
    EXPECT_TRUE(HasText(shown, "deleted_in_host_action: delete\n"));
    EXPECT_TRUE(HasText(shown, "conflict_action: keep-both\n"));

    ASSERT_EQ(f.Cli({"set", "t", "--remember", "on", "--deleted-in-host", "to-host",
                     "--deleted-in-mirror", "ignore", "--conflict", "skip"})
                  .code,
              0);
    // Switching the option off keeps the three answers for the next time.
    ASSERT_EQ(f.Cli({"set", "t", "--remember", "off"}).code, 0);
    shown = f.Cli({"show", "T"}).out;
    EXPECT_TRUE(HasText(shown, "remember_last_run: off\n"));
    EXPECT_TRUE(HasText(shown, "deleted_in_host_action: to-host\n"));
    EXPECT_TRUE(HasText(shown, "deleted_in_mirror_action: ignore\n"));
    EXPECT_TRUE(HasText(shown, "conflict_action: skip\n"));

    const CliResult bad = f.Cli({"set", "t", "--conflict", "newest"});
    EXPECT_EQ(bad.code, 2);
    EXPECT_TRUE(HasText(bad.err, "--conflict: expected keep-both, newer-wins or skip"));
}

// The new keys come only for a task that remembers, and the old ones stay.
TEST(CliRemember, JsonKeysOnlyForATaskThatRemembers) {
    CliFixture f;
    const StateHome home(f.tmp.sub("home"));
    f.tmp.build(f.host, {{"a.txt", "a"}});
    f.NewOneWay("T");
    for (const char* on : {"off", "on"}) {
        ASSERT_EQ(f.Cli({"set", "T", "--remember", on}).code, 0);
        const bool remembers = std::string(on) == "on";
        const CliResult plan = f.Cli({"plan", "T", "--json"});
        ASSERT_EQ(plan.code, 0) << plan.err;
        const auto p = nlohmann::json::parse(plan.out);
        EXPECT_TRUE(p.contains("counts") && p.contains("operations")) << on;
        EXPECT_EQ(p.contains("remembered_counts"), remembers) << plan.out;
        const CliResult run = f.Cli({"run", "T", "--json"});
        const auto r = nlohmann::json::parse(run.out);
        EXPECT_TRUE(r.contains("counts") && r.contains("planned")) << on;
        EXPECT_EQ(r.contains("planned_remembered"), remembers) << run.out;
        for (const auto* j : {&p, &r}) {
            EXPECT_EQ(j->contains("remembered"), remembers) << *j;
            if (!remembers)
                continue;
            EXPECT_TRUE((*j)["remembered"].is_boolean()) << *j;
            EXPECT_TRUE((*j)["memory_note"].is_null() || (*j)["memory_note"].is_string()) << *j;
            EXPECT_EQ((*j)["remembered_since"].is_string(), (*j)["remembered"] == true) << *j;
        }
        if (remembers) {
            EXPECT_EQ(r["planned_remembered"].size(), 5u) << run.out;
            EXPECT_EQ(r["conflicts_kept"], 0);
            EXPECT_EQ(r["conflicts_skipped"], 0);
        }
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
    AddEntry(plan, false, "/both.txt", opNone);
    plan.MirrorFiles.Sort();
    plan.Count(SyncAction::Ignore);
    plan.RememberedSince = 1'800'000'000;
    plan.SetRemembered(plan.HostFiles[0], true, Remembered::ChangedOnBoth);
    const int gone = plan.MirrorFiles.Find("/gone.txt");
    ASSERT_GE(gone, 0);
    plan.SetRemembered(plan.MirrorFiles.Items(gone), false, Remembered::DeletedInHost);

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
    EXPECT_EQ(j["remembered"], true);
    EXPECT_EQ(j["remembered_since"], cli::IsoLocalTime(1'800'000'000));
    EXPECT_EQ(j["remembered_counts"]["deleted_in_host"], 1);
    EXPECT_EQ(j["remembered_counts"]["changed_on_both"], 1);
    EXPECT_EQ(j["remembered_counts"]["deleted_in_mirror"], 0);
    EXPECT_TRUE(HasText(text.str(), "deleted-in-host 1, deleted-in-mirror 0, changed-on-both 1"));
}

} // namespace
} // namespace duplora::test
