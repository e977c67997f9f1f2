// One run of a mirror task does all its work: folders the run emptied go in
// the same run, a file that became a folder (or the reverse) is removed
// before its replacement is copied, and the plan right after is empty.
#include "sync/run/SyncRun.h"

#include "TreeFixture.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace duplora;
using namespace duplora::test;

using Tree = std::map<std::string, std::string>;

namespace {

bool HasLine(const ResultLines& lines, const std::string& line) {
    return std::find(lines.Lines().begin(), lines.Lines().end(), line) != lines.Lines().end();
}

// New and newer host files to the mirror, files only in the mirror deleted,
// empty folders made like the host's.
void Mirror(RunFixture& f) {
    f.OneWay();
    f.run.Task.set_only_in_mirror_action(SyncAction::Delete);
    f.run.Task.set_newer_in_mirror_action(SyncAction::HostToMirror);
    f.run.Task.set_empty_folder_action(SyncAction::HostToMirror);
    f.run.Start = RunStart::CommandLine;
}

// The work a plan made right now would do.
std::int64_t WorkLeft(RunFixture& f) {
    std::string error;
    EXPECT_TRUE(BuildPlan(f.run, error)) << error;
    return f.run.Plan.WorkCount();
}

} // namespace

// Folders that held files at the scan and lost all of them in the run, by a
// delete or a move: removed deepest first when the empty-folder action would
// remove them empty; folders that still hold something, or that the host
// has as well, stay.
TEST(OneRunConverges, FoldersEmptiedByTheRunGoInTheSameRun) {
    struct Case {
        const char* name;
        SyncAction emptyAction;
        bool moves;
        Tree mirrorAfter;
    };
    const Case cases[] = {
        {"mirror",
         SyncAction::HostToMirror,
         false,
         {{"keep.txt", "k"},
          {"both/", ""},
          {"both/c.txt", "c"},
          {"kept/", ""},
          {"kept/x.log", "ignored"},
          {"new/", ""},
          {"new/2020/", ""},
          {"new/2020/p.jpg", "photo"}}},
        {"moves",
         SyncAction::HostToMirror,
         true,
         {{"keep.txt", "k"},
          {"both/", ""},
          {"both/c.txt", "c"},
          {"kept/", ""},
          {"kept/x.log", "ignored"},
          {"new/", ""},
          {"new/2020/", ""},
          {"new/2020/p.jpg", "photo"}}},
        {"delete",
         SyncAction::Delete,
         false,
         {{"keep.txt", "k"},
          {"both/", ""},
          {"both/c.txt", "c"},
          {"kept/", ""},
          {"kept/x.log", "ignored"},
          {"new/", ""},
          {"new/2020/", ""},
          {"new/2020/p.jpg", "photo"}}},
        // Never removed by a task that leaves empty folders alone.
        {"ignore",
         SyncAction::Ignore,
         false,
         {{"keep.txt", "k"},
          {"both/", ""},
          {"both/c.txt", "c"},
          {"kept/", ""},
          {"kept/x.log", "ignored"},
          {"new/", ""},
          {"new/2020/", ""},
          {"new/2020/p.jpg", "photo"},
          {"old/", ""},
          {"old/2020/", ""},
          {"old/2020/deep/", ""},
          {"both/empty/", ""}}},
    };
    for (const Case& c : cases) {
        RunFixture f;
        Mirror(f);
        f.run.Task.set_empty_folder_action(c.emptyAction);
        f.run.Task.set_detect_moves(c.moves);
        f.run.Task.set_move_min_size(1);
        f.run.Task.set_ignore_masks_enabled(true);
        f.run.Task.set_ignore_masks("*.log");
        f.tmp.build(f.host, {{"keep.txt", "k"}, {"both/c.txt", "c"}, {"new/2020/p.jpg", "photo"}});
        f.tmp.build(f.mirror, {{"keep.txt", "k"},
                               {"both/c.txt", "c"},
                               {"both/empty/stale.txt", "s"},
                               {"kept/x.log", "ignored"},
                               {"kept/y.txt", "y"},
                               {"old/2020/p.jpg", "photo"},
                               {"old/2020/deep/q.txt", "q"},
                               {"old/r.txt", "r"}});
        EXPECT_EQ(f.Run(), RunOutcome::Finished) << c.name;
        EXPECT_EQ(f.run.Plan.FailedCount, 0) << c.name << "\n" << f.Text();
        EXPECT_EQ(f.run.Plan.MovedCount, c.moves ? 1 : 0) << c.name;
        EXPECT_EQ(ReadTree(f.mirror), c.mirrorAfter) << c.name;
        if (c.emptyAction != SyncAction::Ignore) {
            EXPECT_EQ(WorkLeft(f), 0) << c.name;
        }
    }
}

// A file that became a folder and a folder that became a file, at depth:
// the mirror's entry goes first (to the trash when the task says so), then
// the host's is copied, and the run counts no failure. A file moved into a
// new folder of its own name (m to m/m) cannot be renamed there: it is
// deleted and copied instead.
TEST(OneRunConverges, FileAndFolderSwapPlacesInOneRun) {
    for (const char* mode : {"permanent", "trash", "moves"}) {
        const bool trash = std::string(mode) == "trash";
        RunFixture f;
        Mirror(f);
        f.run.Task.set_detect_moves(std::string(mode) == "moves");
        f.run.Task.set_move_min_size(1);
        if (trash) {
            ::setenv("XDG_DATA_HOME", f.tmp.sub("data").c_str(), 1);
            f.run.Task.set_on_delete(DeleteMode::Trash);
        }
        f.tmp.build(f.host, {{"a/x/1.txt", "one"},
                             {"a/x/deep/2.txt", "two"},
                             {"b/y", "now a file"},
                             {"c/", ""},
                             {"m/m", "moved into itself"}});
        f.tmp.build(f.mirror, {{"a/x", "was a file"},
                               {"b/y/1.txt", "old one"},
                               {"b/y/sub/2.txt", "old two"},
                               {"b/y/empty/"},
                               {"c/"},
                               {"m", "moved into itself"}});
        EXPECT_EQ(f.Run(), RunOutcome::Finished);
        EXPECT_EQ(f.run.Plan.FailedCount, 0) << mode << "\n" << f.Text();
        EXPECT_EQ(ReadTree(f.mirror), ReadTree(f.host)) << mode;
        EXPECT_EQ(f.run.Plan.DeletedInMirror, 4) << mode;
        EXPECT_EQ(f.run.Plan.CopiedToMirror, 4) << mode;
        if (trash) {
            const Tree bin = ReadTree(f.tmp.sub("data") + "/Trash/files");
            std::vector<std::string> kept;
            for (const auto& [path, content] : bin)
                kept.push_back(content);
            std::sort(kept.begin(), kept.end());
            EXPECT_EQ(kept, (std::vector<std::string>{"moved into itself", "old one", "old two",
                                                      "was a file"}));
            ::unsetenv("XDG_DATA_HOME");
        }
        EXPECT_EQ(WorkLeft(f), 0) << mode;
    }
}

// A folder that was already in the target's place at the scan and cannot be
// removed (it holds an ignored file) is no change since the scan: the copy
// fails with "Failed to create target file".
TEST(OneRunConverges, FolderSeenAtTheScanInTheTargetsPlaceIsNoChange) {
    RunFixture f;
    Mirror(f);
    f.run.Task.set_ignore_masks_enabled(true);
    f.run.Task.set_ignore_masks("*.log");
    f.tmp.build(f.host, {{"f", "a file now"}, {"g", "also"}});
    f.tmp.build(f.mirror, {{"f/keep.log", "ignored"}, {"f/gone.txt", "deleted"}, {"g/"}});
    EXPECT_EQ(f.Run(), RunOutcome::Finished);
    EXPECT_TRUE(HasLine(f.lines, "Failed to create target file, path: " + f.mirror + "/f"))
        << f.Text();
    EXPECT_EQ(f.Text().find("File changed since the scan"), std::string::npos) << f.Text();
    EXPECT_EQ(f.run.Plan.FailedCount, 1);
    EXPECT_EQ(ReadTree(f.mirror), (Tree{{"f/", ""}, {"f/keep.log", "ignored"}, {"g", "also"}}));
}
