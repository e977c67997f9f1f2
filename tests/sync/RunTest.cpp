// Whole runs on real trees: build host and mirror, run every step, compare
// the trees and the result lines.
#include "sync/run/SyncRun.h"

#include "TreeFixture.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <random>
#include <set>

using namespace duplora;
using namespace duplora::test;

using Tree = std::map<std::string, std::string>;

namespace {

std::vector<std::string> Tail(const ResultLines& lines, std::size_t n) {
    const auto& all = lines.Lines();
    return {all.end() - static_cast<std::ptrdiff_t>(std::min(n, all.size())), all.end()};
}

std::vector<std::string> Summary(const std::string& end, int toMirror, int toHost, int delHost,
                                 int delMirror, int failed) {
    // One file reads "1 file".
    auto files = [](int n) { return std::to_string(n) + (n == 1 ? " file" : " files"); };
    return {end,
            "",
            "Task result:",
            "Host folder -> Mirror folder: " + files(toMirror),
            "Host folder <- Mirror folder: " + files(toHost),
            "Delete file(s) in host folder: " + std::to_string(delHost),
            "Delete file(s) in mirror folder: " + std::to_string(delMirror),
            "Failed to synchronize: " + std::to_string(failed),
            TimeStampText(kT0),
            std::string(61, '=')};
}

} // namespace

TEST(Run, CopiesNewAndNewerFilesOneWay) {
    RunFixture f;
    f.OneWay();
    f.tmp.build(f.host, {{"new.txt", "new"},
                         {"same.txt", "same", kT0},
                         {"newer.txt", "v2", kT0 + 100},
                         {"dir with space/\xC3\xA4 \xE6\x96\x87.txt", "utf8"}});
    f.tmp.build(f.mirror, {{"same.txt", "SAME", kT0}, // same time and size: left alone
                           {"newer.txt", "v1", kT0},
                           {"only-mirror.txt", "m"}});
    EXPECT_EQ(f.Run(), RunOutcome::Finished);
    const Tree want = {
        {"new.txt", "new"},      {"same.txt", "SAME"},
        {"newer.txt", "v2"},     {"only-mirror.txt", "m"},
        {"dir with space/", ""}, {"dir with space/\xC3\xA4 \xE6\x96\x87.txt", "utf8"}};
    EXPECT_EQ(ReadTree(f.mirror), want);
    EXPECT_EQ(f.lines.Lines()[0], TimeStampText(kT0));
    EXPECT_EQ(f.lines.Lines()[1], "Start task: Test task");
    EXPECT_EQ(Tail(f.lines, 10), Summary("Task finish!", 3, 0, 0, 0, 0));
    EXPECT_EQ(f.lines.Lines().size(), 12u);
    EXPECT_EQ(f.ui.previews, 1);
    EXPECT_EQ(f.ui.results, 1);
    EXPECT_EQ(f.run.EndLine, "Task finish!");
    EXPECT_EQ(f.run.State, RunState::Idle);
    // The copies carry the source's time, so a second run has nothing to do.
    f.lines = ResultLines();
    EXPECT_EQ(f.Run(), RunOutcome::NothingToDo);
    EXPECT_EQ(f.lines.Lines(),
              (std::vector<std::string>{TimeStampText(kT0), "Start task: Test task",
                                        "No file need to be synchronized!", std::string(61, '=')}));
    EXPECT_EQ(f.ui.messages.back(), "Prompt: No file need to be synchronized!");
}

TEST(Run, BothDirectionsAndDeletes) {
    RunFixture f;
    f.run.Task.set_only_in_host_action(SyncAction::Delete);
    f.run.Task.set_only_in_mirror_action(SyncAction::MirrorToHost);
    f.run.Task.set_newer_in_mirror_action(SyncAction::MirrorToHost);
    f.run.Task.set_size_differs_action(SyncAction::MirrorToHost);
    f.tmp.build(f.host, {{"host-only", "h"}, {"old", "1", kT0}, {"size", "12", kT0}});
    f.tmp.build(f.mirror, {{"sub/mirror-only", "m"}, {"old", "2", kT0 + 60}, {"size", "123", kT0}});
    EXPECT_EQ(f.Run(), RunOutcome::Finished);
    const Tree want = {{"old", "2"}, {"size", "123"}, {"sub/", ""}, {"sub/mirror-only", "m"}};
    EXPECT_EQ(ReadTree(f.host), want);
    EXPECT_EQ(Tail(f.lines, 10), Summary("Task finish!", 0, 3, 1, 0, 0));
}

TEST(Run, QuietRunsShowNothing) {
    for (int kind = 0; kind < 3; ++kind) {
        RunFixture f;
        f.OneWay();
        f.run.Start = kind == 0   ? RunStart::CommandLine
                      : kind == 1 ? RunStart::Schedule
                                  : RunStart::Window;
        f.run.Task.set_auto_mode(kind == 2);
        f.tmp.build(f.host, {{"a", "a"}});
        f.tmp.build(f.mirror, {});
        EXPECT_EQ(f.Run(), RunOutcome::Finished);
        EXPECT_EQ(f.Run(), RunOutcome::NothingToDo);
        EXPECT_EQ(f.ui.previews + f.ui.results, 0);
        EXPECT_TRUE(f.ui.messages.empty());
        EXPECT_FALSE(f.run.ResultShown);
    }
}

TEST(Run, DeclinedPreviewChangesNothing) {
    RunFixture f;
    f.OneWay();
    f.tmp.build(f.host, {{"a", "a"}});
    f.tmp.build(f.mirror, {});
    f.ui.onPreview = [](SyncPlan& plan) {
        EXPECT_EQ(plan.ToMirrorCount, 1);
        EXPECT_EQ(plan.TotalBytes, 1);
        return false;
    };
    EXPECT_EQ(f.Run(), RunOutcome::Declined);
    EXPECT_EQ(ReadTree(f.mirror), Tree{});
    EXPECT_EQ(Tail(f.lines, 2),
              (std::vector<std::string>{"User cancel the task!", std::string(61, '=')}));
    EXPECT_EQ(f.lines.Lines().size(), 4u);
    EXPECT_EQ(f.ui.results, 0);
}

TEST(Run, SwitchedOffEntriesAreNotExecuted) {
    RunFixture f;
    f.OneWay();
    f.tmp.build(f.host, {{"keep-off", "1"}, {"go", "2"}});
    f.tmp.build(f.mirror, {});
    f.ui.onPreview = [](SyncPlan& plan) {
        for (TFileEntry& e : plan.HostFiles)
            if (e.RelPath == "/keep-off")
                plan.SetOp(e, true, ToggledOp(e.Op));
        EXPECT_EQ(plan.ToMirrorCount, 1);
        return true;
    };
    EXPECT_EQ(f.Run(), RunOutcome::Finished);
    EXPECT_EQ(ReadTree(f.mirror), (Tree{{"go", "2"}}));
    EXPECT_EQ(Tail(f.lines, 10), Summary("Task finish!", 1, 0, 0, 0, 0));
}

TEST(Run, MasksSelectIgnoreAndDelete) {
    RunFixture f;
    f.OneWay();
    f.run.Task.set_only_masks_enabled(true);
    f.run.Task.set_only_masks("*.txt\r\n*.doc\r\n");
    f.run.Task.set_ignore_masks_enabled(true);
    f.run.Task.set_ignore_masks("skip*");
    f.run.Task.set_delete_masks_enabled(true);
    f.run.Task.set_delete_masks("*.TMP.txt");
    f.tmp.build(f.host, {{"a.txt", "a"},
                         {"b.doc", "b"},
                         {"c.jpg", "c"},
                         {"skip-me.txt", "s"},
                         {"d/junk.tmp.txt", "j"}});
    f.tmp.build(f.mirror, {{"d/junk.tmp.txt", "J"}, {"other.tmp.txt", "o"}});
    EXPECT_EQ(f.Run(), RunOutcome::Finished);
    // The host file and its twin both go; the mirror-only match too.
    EXPECT_EQ(ReadTree(f.mirror), (Tree{{"a.txt", "a"}, {"b.doc", "b"}, {"d/", ""}}));
    EXPECT_EQ(
        ReadTree(f.host),
        (Tree{{"a.txt", "a"}, {"b.doc", "b"}, {"c.jpg", "c"}, {"skip-me.txt", "s"}, {"d/", ""}}));
    EXPECT_EQ(Tail(f.lines, 10), Summary("Task finish!", 2, 0, 1, 2, 0));
}

TEST(Run, InvalidMaskEndsTheRunBeforeAnyFileOperation) {
    RunFixture f;
    f.OneWay();
    f.run.Task.set_ignore_masks_enabled(true);
    f.run.Task.set_ignore_masks("ok*\r\nbad[abc\r\n");
    f.tmp.build(f.host, {{"a", "a"}});
    f.tmp.build(f.mirror, {});
    EXPECT_EQ(f.Run(), RunOutcome::Cancelled);
    EXPECT_EQ(ReadTree(f.mirror), Tree{});
    EXPECT_EQ(f.lines.Lines()[2], "'bad[abc' is an invalid mask at (4)");
    EXPECT_EQ(Tail(f.lines, 10), Summary("User break the task!", 0, 0, 0, 0, 0));
    EXPECT_EQ(f.ui.results, 1); // the user needs to see why
    // A list that is switched off is never used, so its masks are not checked.
    f.run.Task.set_ignore_masks_enabled(false);
    EXPECT_EQ(f.Run(), RunOutcome::Finished);
}

TEST(Run, FolderListExcludeIncludeAndRecycler) {
    RunFixture f;
    f.OneWay();
    f.run.Task.set_empty_folder_action(SyncAction::HostToMirror);
    f.tmp.build(f.host, {{"root.txt", "r"},
                         {"Docs/a", "a"},
                         {"Docs/Old/b", "b"},
                         {"Other/c", "c"},
                         {"Recycler/x", "x"},
                         {"sub/RECYCLED/y", "y"},
                         {"sub/z", "z"}});
    f.tmp.build(f.mirror, {});
    f.run.Task.set_folder_list("/Other\r\n/sub/z\r\n");
    EXPECT_EQ(f.Run(), RunOutcome::Finished);
    EXPECT_EQ(ReadTree(f.mirror), (Tree{{"root.txt", "r"},
                                        {"Docs/", ""},
                                        {"Docs/a", "a"},
                                        {"Docs/Old/", ""},
                                        {"Docs/Old/b", "b"},
                                        {"sub/", ""},
                                        {"sub/z", "z"}}));

    RunFixture g;
    g.OneWay();
    g.tmp.build(g.host, {{"root.txt", "r"}, {"Docs/Old/b", "b"}, {"Other/c", "c"}});
    g.tmp.build(g.mirror, {});
    g.run.Task.set_folder_list("/Docs\r\n");
    g.run.Task.set_only_include_folders(true);
    EXPECT_EQ(g.Run(), RunOutcome::Finished);
    EXPECT_EQ(ReadTree(g.mirror),
              (Tree{{"root.txt", "r"}, {"Docs/", ""}, {"Docs/Old/", ""}, {"Docs/Old/b", "b"}}));
}

TEST(Run, SkipMirrorScanTreatsTheMirrorAsEmpty) {
    RunFixture f;
    f.OneWay();
    f.run.SkipMirrorScan = true;
    f.tmp.build(f.host, {{"a", "new"}});
    f.tmp.build(f.mirror, {{"a", "old", kT0 + 1000}});
    EXPECT_EQ(f.Run(), RunOutcome::Finished);
    EXPECT_EQ(ReadTree(f.mirror), (Tree{{"a", "new"}})); // copied although the mirror's is newer
}

TEST(Run, FileTypeTaskComparesOnlyListedNames) {
    RunFixture f;
    f.OneWay();
    f.run.Task.set_sync_type(SyncType::File);
    f.run.Task.set_only_in_mirror_action(SyncAction::MirrorToHost);
    f.run.Task.set_folder_list("report.doc\r\nback.txt\r\n../escape\r\nsub/x\r\n.\r\n");
    f.tmp.build(f.tmp.sub("escape-target"), {});
    f.tmp.build(f.host, {{"report.doc", "r"}, {"other", "o"}, {"sub/x", "x"}});
    f.tmp.build(f.mirror, {{"back.txt", "b"}});
    EXPECT_EQ(f.Run(), RunOutcome::Finished);
    EXPECT_EQ(ReadTree(f.mirror), (Tree{{"report.doc", "r"}, {"back.txt", "b"}}));
    EXPECT_EQ(
        ReadTree(f.host),
        (Tree{
            {"report.doc", "r"}, {"back.txt", "b"}, {"other", "o"}, {"sub/", ""}, {"sub/x", "x"}}));
    EXPECT_FALSE(fs::exists(f.tmp.sub("escape")));
}

TEST(Run, EmptyFolderActions) {
    {
        RunFixture f;
        f.run.Task.set_empty_folder_action(SyncAction::Delete);
        f.tmp.build(f.host, {{"chain/a/b/"}, {"zero/empty.txt", ""}, {"keep/f", "1"}});
        f.tmp.build(f.mirror, {{"m1/m2/"}});
        EXPECT_EQ(f.Run(), RunOutcome::Finished);
        // Nested empty chains go inner first; a folder of empty files stays.
        EXPECT_EQ(ReadTree(f.host),
                  (Tree{{"zero/", ""}, {"zero/empty.txt", ""}, {"keep/", ""}, {"keep/f", "1"}}));
        EXPECT_EQ(ReadTree(f.mirror), Tree{});
    }
    {
        RunFixture f;
        f.run.Task.set_empty_folder_action(SyncAction::HostToMirror);
        f.tmp.build(f.host, {{"new/deep/"}, {"both/"}});
        f.tmp.build(f.mirror, {{"both/"}, {"stale/"}});
        EXPECT_EQ(f.Run(), RunOutcome::Finished);
        EXPECT_EQ(ReadTree(f.mirror), (Tree{{"new/", ""}, {"new/deep/", ""}, {"both/", ""}}));
    }
    {
        RunFixture f;
        f.run.Task.set_empty_folder_action(SyncAction::MirrorToHost);
        f.tmp.build(f.host, {{"stale/"}});
        f.tmp.build(f.mirror, {{"fresh/"}});
        EXPECT_EQ(f.Run(), RunOutcome::Finished);
        EXPECT_EQ(ReadTree(f.host), (Tree{{"fresh/", ""}}));
    }
}

TEST(Run, LinkToOutsideFolderIsNeverTouched) {
    RunFixture f;
    f.run.Task.set_empty_folder_action(SyncAction::Delete);
    f.run.Task.set_only_in_host_action(SyncAction::Delete);
    f.run.Task.set_only_in_mirror_action(SyncAction::Delete);
    f.run.Task.set_delete_masks_enabled(true);
    f.run.Task.set_delete_masks("*");
    const std::string outside = f.tmp.sub("outside");
    f.tmp.build(outside, {{"victim.txt", "keep me"}, {"empty/"}, {"nested/empty/"}});
    f.tmp.build(f.host, {{"own.txt", "x"}, {"own-empty/"}});
    f.tmp.build(f.mirror, {{"m.txt", "m"}});
    ASSERT_EQ(symlink(outside.c_str(), (f.host + "/link").c_str()), 0);
    ASSERT_EQ(symlink(outside.c_str(), (f.mirror + "/link").c_str()), 0);
    ASSERT_EQ(symlink((outside + "/victim.txt").c_str(), (f.host + "/file-link").c_str()), 0);
    const Tree before = ReadTree(outside);
    f.Run();
    EXPECT_EQ(ReadTree(outside), before);
    // The host's own files went; links to folders are not part of the tree.
    const Tree host = ReadTree(f.host);
    EXPECT_EQ(host.count("own.txt"), 0u);
    EXPECT_EQ(host.count("own-empty/"), 0u);
    EXPECT_EQ(host.count("link@"), 1u);
}

TEST(Run, SymlinkLoopInTheHostEnds) {
    RunFixture f;
    f.OneWay();
    f.tmp.build(f.host, {{"a/b/file", "1"}});
    ASSERT_EQ(symlink("..", (f.host + "/a/b/up").c_str()), 0);
    ASSERT_EQ(symlink(f.host.c_str(), (f.host + "/a/self").c_str()), 0);
    f.tmp.build(f.mirror, {});
    EXPECT_EQ(f.Run(), RunOutcome::Finished);
    EXPECT_EQ(ReadTree(f.mirror), (Tree{{"a/", ""}, {"a/b/", ""}, {"a/b/file", "1"}}));
}

TEST(Run, ErrorLimitStopsTheRun) {
    for (int limit : {1, 0}) {
        RunFixture f;
        f.OneWay();
        f.run.Task.set_max_errors(static_cast<std::uint16_t>(limit));
        f.tmp.build(f.host, {{"a", "1"}, {"b", "2"}, {"c", "3"}});
        f.tmp.build(f.mirror, {});
        // The sources vanish between the preview and the copy.
        f.ui.onPreview = [&](SyncPlan&) {
            fs::remove(f.host + "/a");
            fs::remove(f.host + "/b");
            fs::remove(f.host + "/c");
            return true;
        };
        const RunOutcome outcome = f.Run();
        std::size_t failures = 0;
        for (const std::string& l : f.lines.Lines())
            failures += l.rfind("Failed to open source file, path: " + f.host + "/", 0) == 0;
        if (limit == 1) {
            EXPECT_EQ(outcome, RunOutcome::ErrorLimit);
            EXPECT_EQ(failures, 1u);
            EXPECT_EQ(Tail(f.lines, 10), Summary("Too many errors, task stopped!", 0, 0, 0, 0, 1));
        } else {
            EXPECT_EQ(outcome, RunOutcome::Finished);
            EXPECT_EQ(failures, 3u);
            EXPECT_EQ(Tail(f.lines, 10), Summary("Task finish!", 0, 0, 0, 0, 3));
        }
    }
}

TEST(Run, CancelDuringTheScan) {
    RunFixture f;
    f.OneWay();
    std::vector<TreeFile> files;
    for (int i = 0; i < 100; ++i)
        files.push_back({"d" + std::to_string(i % 5) + "/f" + std::to_string(i), "x"});
    f.tmp.build(f.host, files);
    f.tmp.build(f.mirror, {});
    f.ui.onPump = [&] {
        if (f.run.State == RunState::ScanHost)
            RequestCancel(f.run);
    };
    EXPECT_EQ(f.Run(), RunOutcome::Cancelled);
    EXPECT_EQ(f.run.CancelState, RunState::ScanHost);
    EXPECT_EQ(ReadTree(f.mirror), Tree{});
    EXPECT_EQ(f.ui.previews, 0);
    EXPECT_EQ(f.ui.results, 0); // cancelled while scanning: no result window
    EXPECT_EQ(Tail(f.lines, 10), Summary("User break the task!", 0, 0, 0, 0, 0));
    EXPECT_FALSE(RequestCancel(f.run)); // no run in progress
}

TEST(Run, CancelDuringExecutionShowsTheResult) {
    RunFixture f;
    f.OneWay();
    f.tmp.build(f.host, {{"a", "1"}, {"b", "2"}, {"c", "3"}});
    f.tmp.build(f.mirror, {});
    int copies = 0;
    f.ui.onPump = [&] {
        if (f.run.State == RunState::ExecHost && ++copies == 2)
            RequestCancel(f.run);
    };
    EXPECT_EQ(f.Run(), RunOutcome::Cancelled);
    EXPECT_EQ(ReadTree(f.mirror).size(), 1u);
    EXPECT_EQ(f.ui.results, 1);
    EXPECT_EQ(f.run.EndLine, "User break the task!");
}

TEST(Run, MissingRootsAndChecks) {
    {
        // A missing host with "delete files only in the mirror" would wipe the
        // mirror: the run is refused, and its lines name the missing folder.
        RunFixture f;
        f.run.Task.set_only_in_mirror_action(SyncAction::Delete);
        f.tmp.build(f.mirror, {{"precious", "p"}});
        EXPECT_EQ(f.Run(), RunOutcome::Skipped);
        EXPECT_EQ(f.run.Refusal, RefusalReason::SafetyTest);
        const std::string refused = "Run refused: the folder " + f.host +
                                    " does not exist, and running would delete every file on "
                                    "the other side.";
        EXPECT_EQ(f.run.RefusedLine, refused);
        EXPECT_EQ(f.lines.Lines(),
                  (std::vector<std::string>{TimeStampText(kT0), "Start task: Test task", refused,
                                            SeparatorLine()}));
        EXPECT_EQ(ReadTree(f.mirror), (Tree{{"precious", "p"}}));
    }
    {
        RunFixture f;
        f.run.Task.set_only_in_mirror_action(SyncAction::MirrorToHost);
        f.tmp.build(f.mirror, {{"m", "m"}});
        EXPECT_EQ(f.Run(), RunOutcome::Cancelled);
        EXPECT_FALSE(fs::exists(f.host));
        EXPECT_EQ(f.ui.results, 0);
        EXPECT_EQ(Tail(f.lines, 10), Summary("User break the task!", 0, 0, 0, 0, 0));
    }
    {
        RunFixture f;
        EXPECT_EQ(f.Run(), RunOutcome::NotRun); // every action Ignore
        EXPECT_EQ(f.ui.messages, (std::vector<std::string>{"Error: No operation specified."}));
        f.run.Task.set_host_path("");
        f.run.Start = RunStart::CommandLine; // no box for command-line runs
        EXPECT_EQ(f.Run(), RunOutcome::NotRun);
        EXPECT_EQ(f.ui.messages.size(), 1u);
        f.run.Start = RunStart::Window;
        f.Run();
        EXPECT_EQ(f.ui.messages.back(), "Error: Invalid Host folder or Mirror folder.");
        EXPECT_TRUE(f.lines.Empty());
    }
}

TEST(Run, FoldedComparisonPairsNamesThatDifferInCase) {
    RunFixture f;
    f.OneWay();
    f.tmp.build(f.host, {{"Readme.TXT", "same"}});
    f.tmp.build(f.mirror, {{"README.txt", "same"}});
    f.run.Task.set_only_in_mirror_action(SyncAction::Delete);
    f.run.Start = RunStart::CommandLine;
    ASSERT_TRUE(f.Gate());
    EXPECT_FALSE(f.run.FoldCase); // the test folder is on a case-sensitive file system
    f.run.FoldCase = true;        // as on a vfat or smb root
    BeginRun(f.run);
    StepListMain(f.run);
    EXPECT_FALSE(StepListMirror(f.run)); // one pair, same time and size
}

TEST(Run, BuildPlanChangesNothing) {
    RunFixture f;
    f.OneWay();
    f.run.Task.set_only_in_mirror_action(SyncAction::Delete);
    f.tmp.build(f.host, {{"a", "1"}, {"d/b", "22"}});
    f.tmp.build(f.mirror, {{"old", "x"}});
    PrepareRoots(f.run);
    std::string error;
    ASSERT_TRUE(BuildPlan(f.run, error));
    EXPECT_EQ(f.run.Plan.ToMirrorCount, 2);
    EXPECT_EQ(f.run.Plan.MirrorDeleteCount, 1);
    EXPECT_EQ(f.run.Plan.TotalBytes, 3);
    EXPECT_TRUE(f.lines.Empty());
    EXPECT_EQ(ReadTree(f.mirror), (Tree{{"old", "x"}}));
    f.run.HostRoot = f.tmp.sub("missing");
    EXPECT_FALSE(BuildPlan(f.run, error));
    EXPECT_FALSE(error.empty());
}

TEST(Run, ARootInsideTheOtherIsNotScannedAsPartOfIt) {
    // The mirror is a sub-folder of the host. Its files must not count as host
    // files: "delete files only in the host" would delete the mirror's own.
    RunFixture f;
    f.run.Task.set_mirror_path(f.host + "/backup/");
    f.run.Task.set_only_in_host_action(SyncAction::Delete);
    f.tmp.build(f.host, {{"gone.txt", "g"}, {"backup/m.txt", "m"}});
    EXPECT_EQ(f.Run(), RunOutcome::Finished);
    EXPECT_EQ(ReadTree(f.host), (Tree{{"backup/", ""}, {"backup/m.txt", "m"}}));
    EXPECT_EQ(f.run.MirrorRoot, f.host + "/backup");

    // Host inside the mirror, copying both ways: nothing is copied into itself.
    RunFixture g;
    g.run.Task.set_host_path(g.mirror + "/inner");
    g.run.Task.set_only_in_host_action(SyncAction::HostToMirror);
    g.run.Task.set_only_in_mirror_action(SyncAction::MirrorToHost);
    g.tmp.build(g.mirror, {{"top.txt", "t"}, {"inner/in.txt", "i"}});
    EXPECT_EQ(g.Run(), RunOutcome::Finished);
    EXPECT_EQ(ReadTree(g.mirror), (Tree{{"top.txt", "t"},
                                        {"in.txt", "i"},
                                        {"inner/", ""},
                                        {"inner/in.txt", "i"},
                                        {"inner/top.txt", "t"}}));
}

TEST(Run, DisplayIsUpdatedOnlyOnChange) {
    RunFixture f;
    f.OneWay();
    f.run.Task.set_delete_masks_enabled(true);
    f.run.Task.set_delete_masks("*.del");
    f.tmp.build(f.host, {{"big.bin", std::string(300 * 1024, 'b')},
                         {"small.txt", "s"},
                         {"x.del", "d"},
                         {"y.del", "d"}});
    f.tmp.build(f.mirror, {});
    EXPECT_EQ(f.Run(), RunOutcome::Finished);
    auto has = [](const std::vector<std::string>& v, const std::string& s) {
        return std::find(v.begin(), v.end(), s) != v.end();
    };
    EXPECT_EQ(f.ui.statuses,
              (std::vector<std::string>{"Analyzing host folder...", "Analyzing mirror folder...",
                                        "Synchronizing..."}));
    EXPECT_EQ(f.ui.operations.front(), ""); // the last run's text is cleared
    EXPECT_TRUE(has(f.ui.operations, "Performing: Host -> Mirror"));
    EXPECT_TRUE(has(f.ui.operations, "Performing: Delete"));
    for (std::size_t i = 1; i < f.ui.operations.size(); ++i)
        EXPECT_NE(f.ui.operations[i], f.ui.operations[i - 1]);
    for (std::size_t i = 1; i < f.ui.paths.size(); ++i)
        EXPECT_NE(f.ui.paths[i], f.ui.paths[i - 1]);
    for (std::size_t i = 1; i < f.ui.totalGauge.size(); ++i)
        EXPECT_GT(f.ui.totalGauge[i], f.ui.totalGauge[i - 1]) << "only rises, never repeats";
    EXPECT_EQ(f.ui.totalGauge.back(), 100);
    EXPECT_EQ(f.ui.totals.back(), "Total: 300.0K bytes finish, 0 bytes remain");
    EXPECT_EQ(f.ui.animations, 0); // started and stopped
    EXPECT_EQ(f.run.Plan.DoneBytes, 300 * 1024 + 1);
}

TEST(Run, CancelInTheMiddleOfACopyIsABreakNotAnErrorLimit) {
    RunFixture f;
    f.OneWay();
    f.run.Task.set_max_errors(1); // the broken copy reaches the limit
    f.tmp.build(f.host, {{"big.bin", std::string(40 << 20, 'b')}, {"later.txt", "l"}});
    f.tmp.build(f.mirror, {{"big.bin", "old contents", kT0 - 100}});
    f.ui.onTotals = [&] {
        if (!f.ui.paths.empty() && f.ui.paths.back() == f.host + "/big.bin")
            RequestCancel(f.run);
    };
    EXPECT_EQ(f.Run(), RunOutcome::Cancelled);
    EXPECT_EQ(f.run.CancelState, RunState::ExecHost);
    EXPECT_TRUE(std::find(f.lines.Lines().begin(), f.lines.Lines().end(),
                          "Break copying, path: /big.bin") != f.lines.Lines().end());
    const Tree mirror = ReadTree(f.mirror);
    EXPECT_EQ(mirror.at("big.bin"), "old contents");                // the old target is kept
    const int copied = static_cast<int>(mirror.count("later.txt")); // if it came first
    EXPECT_EQ(Tail(f.lines, 10), Summary("User break the task!", copied, 0, 0, 0, 1));
    EXPECT_EQ(f.ui.results, 1);
}

TEST(Run, LeftoverCopyTempFilesAreRemovedUnlessHeldAndLookalikesSynchronized) {
    RunFixture f;
    f.OneWay();
    f.run.Task.set_only_in_mirror_action(SyncAction::MirrorToHost);
    f.tmp.build(f.host, {{".a.txt.duplora-tmp-Q1w2E3r4", "half"},
                         {".notes.duplora-backup", "mine"},
                         {".a.duplora-123456", "mine too"}});
    f.tmp.build(f.mirror, {{"d/.b.duplora-tmp-abcdefgh", "half"},
                           {"d/.c.duplora-tmp-HELD1234", "being written"}});
    // A copy running in another process holds its temporary file's lock.
    const std::string held = f.mirror + "/d/.c.duplora-tmp-HELD1234";
    const int fd = ::open(held.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    EXPECT_EQ(f.Run(), RunOutcome::Finished);
    ::close(fd);
    EXPECT_EQ(ReadTree(f.mirror), (Tree{{".notes.duplora-backup", "mine"},
                                        {".a.duplora-123456", "mine too"},
                                        {"d/", ""},
                                        {"d/.c.duplora-tmp-HELD1234", "being written"}}));
    EXPECT_EQ(ReadTree(f.host),
              (Tree{{".notes.duplora-backup", "mine"}, {".a.duplora-123456", "mine too"}}));
    const auto& l = f.lines.Lines();
    const std::string removed = "Removed a temporary file left by an interrupted copy, path: ";
    EXPECT_EQ(std::count(l.begin(), l.end(), removed + f.host + "/.a.txt.duplora-tmp-Q1w2E3r4"), 1);
    EXPECT_EQ(std::count(l.begin(), l.end(), removed + f.mirror + "/d/.b.duplora-tmp-abcdefgh"), 1);
    EXPECT_EQ(Tail(f.lines, 10), Summary("Task finish!", 2, 0, 0, 0, 0));
}

TEST(Run, RandomTreesMirrorExactlyAndThenAgree) {
    // Mirror mode: every difference goes host -> mirror, mirror-only files and
    // empty folders are deleted. Afterwards both trees hold the same files and
    // the run after next finds nothing to do. (No zero-length files: a folder holding
    // only those counts as empty on every run, yet cannot be removed.)
    std::mt19937 rng(20240506);
    for (int round = 0; round < 4; ++round) {
        RunFixture f;
        f.OneWay();
        f.run.Task.set_newer_in_mirror_action(SyncAction::HostToMirror);
        f.run.Task.set_only_in_mirror_action(SyncAction::Delete);
        f.run.Task.set_empty_folder_action(SyncAction::Delete);
        f.run.Start = RunStart::CommandLine;
        const char* names[] = {"a", "b c", "\xC3\xA9t\xC3\xA9", "D", "d", ".h"};
        std::vector<TreeFile> host, mirror;
        for (int i = 0; i < 60; ++i) {
            std::string path;
            for (int depth = static_cast<int>(rng() % 3); depth >= 0; --depth)
                path += std::string(names[rng() % 6]) + (depth ? "/" : "");
            path += std::to_string(i % 7);
            const std::string content(1 + rng() % 50, static_cast<char>('a' + rng() % 26));
            const std::time_t t = kT0 + static_cast<std::time_t>(rng() % 5) * 3;
            switch (rng() % 4) {
            case 0:
                host.push_back({path, content, t});
                break;
            case 1:
                mirror.push_back({path, content, t});
                break;
            default:
                host.push_back({path, content, t});
                mirror.push_back({path, rng() % 2 ? content : content + "x",
                                  t + static_cast<std::time_t>(rng() % 3) * 2});
            }
        }
        // A later entry with the same path as a folder would clash: keep files only
        // where no folder of the same name exists.
        auto usable = [](std::vector<TreeFile>& files) {
            std::set<std::string> dirs;
            for (const TreeFile& s : files)
                for (std::size_t p = s.path.find('/'); p != std::string::npos;
                     p = s.path.find('/', p + 1))
                    dirs.insert(s.path.substr(0, p));
            std::vector<TreeFile> kept;
            for (const TreeFile& s : files)
                if (!dirs.count(s.path))
                    kept.push_back(s);
            files = kept;
        };
        usable(host);
        usable(mirror);
        f.tmp.build(f.host, host);
        f.tmp.build(f.mirror, mirror);
        f.Run();
        auto filesOnly = [](Tree t) {
            Tree out;
            for (auto& [k, v] : t)
                if (k.back() != '/')
                    out[k] = v;
            return out;
        };
        // Same time (within 2 s) and same size is "equal" by rule, whatever the
        // bytes, so compare names and sizes, then check a second run is idle.
        Tree h = filesOnly(ReadTree(f.host)), m = filesOnly(ReadTree(f.mirror));
        ASSERT_EQ(h.size(), m.size()) << "round " << round;
        for (auto& [k, v] : h) {
            ASSERT_EQ(m.count(k), 1u) << k;
            EXPECT_EQ(m[k].size(), v.size()) << k;
        }
        // Folders whose files were deleted are empty only after this run, so
        // the next run may still remove folders, but no file is touched again.
        if (f.Run() != RunOutcome::NothingToDo) {
            EXPECT_EQ(Tail(f.lines, 10), Summary("Task finish!", 0, 0, 0, 0, 0)) << f.Text();
        }
        EXPECT_EQ(f.Run(), RunOutcome::NothingToDo) << "round " << round << "\n" << f.Text();
    }
}

TEST(Run, ARootThatExpandsToNothingIsNeverUsed) {
    RunFixture f;
    f.OneWay();
    setenv("DUPLORA_TEST_EMPTY", "", 1);
    f.run.Task.set_mirror_path("%DUPLORA_TEST_EMPTY%");
    f.tmp.build(f.host, {{"a", "a"}});
    EXPECT_EQ(f.Run(), RunOutcome::Skipped);
    EXPECT_NE(f.Text().find("the folder %DUPLORA_TEST_EMPTY% does not exist"), std::string::npos)
        << f.Text();
    EXPECT_FALSE(fs::exists("/a"));
    unsetenv("DUPLORA_TEST_EMPTY");
}
