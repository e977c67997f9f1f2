// plan and run through the console program, in-process, on real folders.

#include "cli/CliFixture.h"
#include "cli/RunReport.h"
#include "cli/RunTasks.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <regex>

#include <sys/stat.h>

namespace duplora::test {
namespace {

// Log blocks: each block's lines end with CR LF, each block with one NUL.
std::vector<std::string> LogBlocks(const std::string& bytes) {
    std::vector<std::string> blocks;
    std::size_t start = 0;
    for (std::size_t nul; (nul = bytes.find('\0', start)) != std::string::npos; start = nul + 1)
        blocks.push_back(bytes.substr(start, nul - start));
    EXPECT_EQ(start, bytes.size()) << "bytes after the last block";
    return blocks;
}

struct PlanFixture : CliFixture {
    PlanFixture() {
        tmp.build(host, {{"a.txt", "aaaa"},
                         {"d/b.txt", "bb"},
                         {"same.txt", "s"},
                         {"newer.txt", "new!", kT0 + 7200}});
        tmp.build(mirror,
                  {{"m1.txt", "1"}, {"m2.txt", "22"}, {"same.txt", "s"}, {"newer.txt", "old"}});
        EXPECT_EQ(Cli({"new", "P", "--host", host, "--mirror", mirror, "--subfolders", "on",
                       "--only-in-host", "to-mirror", "--only-in-mirror", "delete",
                       "--newer-in-host", "to-mirror"})
                      .code,
                  0);
    }
};

TEST(CliPlan, TextListsOperationsInExecutionOrderAndChangesNothing) {
    PlanFixture f;
    const auto hostBefore = ReadTree(f.host);
    const auto mirrorBefore = ReadTree(f.mirror);
    const CliResult r = f.Cli({"plan", "p"});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto lines = CliFixture::Lines(r.out);
    ASSERT_EQ(lines.size(), 6u) << r.out;
    // The host list keeps scan order, which the file system decides.
    const std::vector<std::string> hostOps(lines.begin(), lines.begin() + 3);
    std::vector<std::string> sortedOps = hostOps;
    std::sort(sortedOps.begin(), sortedOps.end());
    EXPECT_EQ(sortedOps,
              (std::vector<std::string>{"to-mirror\thost\t/a.txt", "to-mirror\thost\t/d/b.txt",
                                        "to-mirror\thost\t/newer.txt"}));
    // The mirror list is sorted and carried out from last to first.
    EXPECT_EQ(lines[3], "delete\tmirror\t/m2.txt");
    EXPECT_EQ(lines[4], "delete\tmirror\t/m1.txt");
    EXPECT_EQ(lines[5], "# to-mirror 3, to-host 0, delete-host 0, delete-mirror 2, "
                        "empty-folders 0, bytes 10");
    EXPECT_EQ(ReadTree(f.host), hostBefore);
    EXPECT_EQ(ReadTree(f.mirror), mirrorBefore);
    EXPECT_FALSE(fs::exists(f.log)) << "a plan is not a run: nothing is logged";
}

// The letter-case probe of each root leaves the roots' modification times
// as they were: a root with entries is asked by looking one up under another
// spelling, an empty one by a probe file whose traces are put back; a run
// whose work lies below a sub-folder changes neither root either.
TEST(CliPlan, LeavesTheRootsModificationTimesAsTheyWere) {
    PlanFixture f;
    const std::string empty = f.tmp.sub("empty");
    fs::create_directories(empty);
    ASSERT_EQ(f.Cli({"new", "E", "--host", f.host, "--mirror", empty, "--subfolders", "on",
                     "--only-in-host", "to-mirror"})
                  .code,
              0);
    for (const char* name : {"a.txt", "same.txt", "newer.txt"})
        fs::remove(f.host + "/" + name);
    auto mtimeIsT0 = [](const std::string& path) {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 && st.st_mtim.tv_sec == kT0 &&
               st.st_mtim.tv_nsec == 0;
    };
    const std::string roots[] = {f.host, f.mirror, empty};
    for (const std::string& root : roots)
        TempRoot::SetMtime(root, kT0);
    for (const char* task : {"p", "e"}) {
        const CliResult r = f.Cli({"plan", task});
        EXPECT_EQ(r.code, 0) << r.err;
    }
    for (const std::string& root : roots)
        EXPECT_TRUE(mtimeIsT0(root)) << "plan: " << root;

    // Work below a folder that both sides have already.
    fs::create_directories(empty + "/d");
    for (const std::string& root : roots)
        TempRoot::SetMtime(root, kT0);
    const CliResult r = f.Cli({"run", "e"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(ReadTree(empty), (std::map<std::string, std::string>{{"d/", ""}, {"d/b.txt", "bb"}}));
    for (const std::string& root : {f.host, empty})
        EXPECT_TRUE(mtimeIsT0(root)) << "run: " << root;
}

TEST(CliPlan, JsonCarriesTheSameOperationsAndCounts) {
    PlanFixture f;
    ASSERT_EQ(f.Cli({"set", "p", "--empty-folders", "to-mirror"}).code, 0);
    fs::create_directories(f.host + "/empty");
    const CliResult r = f.Cli({"plan", "P", "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    const nlohmann::json j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["format_version"], 1);
    EXPECT_EQ(j["task"], "P");
    EXPECT_EQ(j["host_root"], f.host);
    EXPECT_EQ(j["mirror_root"], f.mirror);
    ASSERT_EQ(j["operations"].size(), 5u);
    const auto& last = j["operations"][4];
    EXPECT_EQ(last["op"], "delete");
    EXPECT_EQ(last["side"], "mirror");
    EXPECT_EQ(last["path"], "/m1.txt");
    EXPECT_EQ(last["size"], 1);
    std::int64_t copied = 0;
    for (const auto& op : j["operations"])
        if (op["op"] == "to-mirror")
            copied += op["size"].get<std::int64_t>();
    const auto& c = j["counts"];
    EXPECT_EQ(c["to_mirror"], 3);
    EXPECT_EQ(c["to_host"], 0);
    EXPECT_EQ(c["delete_host"], 0);
    EXPECT_EQ(c["delete_mirror"], 2);
    EXPECT_EQ(c["empty_folders"], 1);
    EXPECT_EQ(c["total_bytes"], copied);
    EXPECT_EQ(copied, 10);
}

TEST(CliPlan, MovesShowBothPathsAndTheirCount) {
    PlanFixture f;
    f.tmp.build(f.host, {{"new/photo.jpg", "photo bytes"}});
    f.tmp.build(f.mirror, {{"old/photo.jpg", "photo bytes"}});
    EXPECT_EQ(f.Cli({"set", "p", "--detect-moves", "maybe"}).code, 2);
    EXPECT_EQ(f.Cli({"set", "p", "--move-min-size", "0"}).code, 2);
    ASSERT_EQ(f.Cli({"set", "p", "--detect-moves", "on", "--move-min-size", "1"}).code, 0);
    const CliResult show = f.Cli({"show", "p"});
    EXPECT_TRUE(HasText(show.out, "detect_moves: on\n"));
    EXPECT_TRUE(HasText(show.out, "move_min_size: 1\n"));

    CliResult r = f.Cli({"plan", "p"});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto lines = CliFixture::Lines(r.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "move\tmirror\t/old/photo.jpg\t/new/photo.jpg"); // moves run first
    EXPECT_EQ(lines.back(), "# to-mirror 3, to-host 0, delete-host 0, delete-mirror 2, "
                            "empty-folders 0, bytes 10, moves 1");

    r = f.Cli({"plan", "p", "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    const nlohmann::json j = nlohmann::json::parse(r.out);
    const auto& move = j["operations"][0];
    EXPECT_EQ(move["op"], "move");
    EXPECT_EQ(move["side"], "mirror");
    EXPECT_EQ(move["from"], "/old/photo.jpg");
    EXPECT_EQ(move["path"], "/new/photo.jpg");
    EXPECT_EQ(j["counts"]["moves"], 1);
    EXPECT_EQ(j["counts"]["total_bytes"], 10);
}

TEST(CliPlan, EmptyPlanAndStrangeNames) {
    CliFixture f;
    f.tmp.build(f.host, {{"tab\there.txt", "x"}, {"ü.txt", "y"}});
    fs::create_directories(f.mirror);
    ASSERT_EQ(
        f.Cli({"new", "S", "--host", f.host, "--mirror", f.mirror, "--only-in-host", "to-mirror"})
            .code,
        0);
    CliResult r = f.Cli({"plan", "s"});
    ASSERT_EQ(r.code, 0);
    // A tab inside a name would split the line; it is written as \x09.
    EXPECT_TRUE(HasText(r.out, "to-mirror\thost\t/tab\\x09here.txt\n"));
    EXPECT_TRUE(HasText(r.out, "to-mirror\thost\t/ü.txt\n"));
    r = f.Cli({"plan", "s", "--json"});
    ASSERT_EQ(r.code, 0);
    const auto j = nlohmann::json::parse(r.out);
    std::vector<std::string> paths;
    for (const auto& op : j["operations"])
        paths.push_back(op["path"]);
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, (std::vector<std::string>{"/tab\there.txt", "/ü.txt"}));

    // Identical trees: no operation, only the counts.
    ASSERT_EQ(f.Cli({"run", "s"}).code, 0);
    r = f.Cli({"plan", "s", "--json"});
    EXPECT_TRUE(nlohmann::json::parse(r.out)["operations"].empty());
    r = f.Cli({"plan", "s"});
    EXPECT_EQ(r.out, "# to-mirror 0, to-host 0, delete-host 0, delete-mirror 0, "
                     "empty-folders 0, bytes 0\n");
}

TEST(CliPlan, RefusedChecksExitWithOne) {
    CliFixture f;
    fs::create_directories(f.mirror);
    ASSERT_EQ(f.Cli({"new", "NoPaths", "--only-in-host", "to-mirror"}).code, 0);
    ASSERT_EQ(f.Cli({"new", "NoOps", "--host", f.host, "--mirror", f.mirror}).code, 0);
    ASSERT_EQ(f.Cli({"new", "NoHost", "--host", f.host, "--mirror", f.mirror, "--only-in-host",
                     "to-mirror"})
                  .code,
              0);
    ASSERT_EQ(f.Cli({"new", "Unsafe", "--host", f.host, "--mirror", f.mirror, "--only-in-mirror",
                     "delete"})
                  .code,
              0);
    CliResult r = f.Cli({"plan", "nopaths"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(HasText(r.err, "Invalid Host folder or Mirror folder."));
    r = f.Cli({"plan", "noops"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(HasText(r.err, "No operation specified."));
    r = f.Cli({"plan", "nohost"}); // the host folder does not exist
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(HasText(r.err, f.host));
    r = f.Cli({"plan", "unsafe"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(f.Cli({"plan", "nobody"}).code, 2);
}

TEST(CliRun, CopiesWritesResultLinesAndAppendsTheLog) {
    PlanFixture f;
    const CliResult r = f.Cli({"run", "P"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const auto lines = CliFixture::Lines(r.out);
    ASSERT_EQ(lines.size(), 12u) << r.out;
    EXPECT_EQ(lines[1], "Start task: P");
    EXPECT_EQ(lines[2], "Task finish!");
    EXPECT_EQ(lines[3], "");
    EXPECT_EQ(lines[4], "Task result:");
    EXPECT_EQ(lines[5], "Host folder -> Mirror folder: 3 files");
    EXPECT_EQ(lines[8], "Delete file(s) in mirror folder: 2");
    EXPECT_EQ(lines[9], "Failed to synchronize: 0");
    EXPECT_EQ(lines[11], std::string(61, '='));

    EXPECT_EQ(ReadTree(f.mirror), ReadTree(f.host));

    // The log gets the same lines, CR LF each, after a line naming what
    // started the run, and one NUL after the block.
    std::string expected = "Started by: the console\r\n";
    for (const auto& l : lines)
        expected += l + "\r\n";
    EXPECT_EQ(LogBlocks(f.FileBytes(f.log)), std::vector<std::string>{expected});

    // A second invocation adds a second block with its own report.
    const CliResult again = f.Cli({"run", "p"});
    EXPECT_EQ(again.code, 0);
    EXPECT_TRUE(HasText(again.out, "No file need to be synchronized!"));
    const auto blocks = LogBlocks(f.FileBytes(f.log));
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0], expected);
    EXPECT_TRUE(HasText(blocks[1], "No file need to be synchronized!\r\n"));
}

TEST(CliRun, SeveralNamesRunOnceEachInListOrder) {
    CliFixture f;
    f.tmp.build(f.host, {{"a", "1"}});
    fs::create_directories(f.mirror);
    f.NewOneWay("First");
    f.NewOneWay("Second");
    const CliResult r = f.Cli({"run", "SECOND", "first", "second"});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto first = r.out.find("Start task: First");
    const auto second = r.out.find("Start task: Second");
    ASSERT_NE(first, std::string::npos);
    ASSERT_NE(second, std::string::npos);
    EXPECT_LT(first, second);
    EXPECT_EQ(r.out.find("Start task: Second", second + 1), std::string::npos);
}

TEST(CliRun, UnknownNameRunsNothing) {
    CliFixture f;
    f.tmp.build(f.host, {{"a", "1"}});
    f.NewOneWay("Known");
    const CliResult r = f.Cli({"run", "known", "unknown"});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(HasText(r.err, "unknown"));
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(fs::exists(f.mirror + "/a"));
    EXPECT_FALSE(fs::exists(f.log));
    EXPECT_EQ(f.Cli({"run"}).code, 2);
    EXPECT_EQ(f.Cli({"run", "known", "--auto"}).code, 2);
}

TEST(CliRun, AutoRunsOnlyTasksInAutoMode) {
    CliFixture f;
    f.tmp.build(f.host, {{"a", "1"}});
    f.NewOneWay("Manual");
    f.NewOneWay("Auto1");
    ASSERT_EQ(f.Cli({"set", "auto1", "--auto", "on"}).code, 0);
    const CliResult r = f.Cli({"run", "--auto"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(HasText(r.out, "Start task: Auto1"));
    EXPECT_EQ(r.out.find("Start task: Manual"), std::string::npos);
}

TEST(CliRun, FailuresAndRefusedRunsExitWithOne) {
    CliFixture f;
    // A host file whose place in the mirror is taken by a folder cannot be
    // copied: one failure, whatever the user's permissions.
    f.tmp.build(f.host, {{"clash", "data"}, {"fine", "ok"}});
    f.tmp.build(f.mirror, {{"clash/inside", "x"}});
    ASSERT_EQ(f.Cli({"new", "Clash", "--host", f.host, "--mirror", f.mirror, "--only-in-host",
                     "to-mirror"})
                  .code,
              0);
    CliResult r = f.Cli({"run", "clash"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(HasText(r.out, "Task finish!"));
    EXPECT_TRUE(HasText(r.out, "Failed to synchronize: 1"));
    EXPECT_EQ(f.FileBytes(f.mirror + "/fine"), "ok");

    // The error limit stops the run.
    ASSERT_EQ(f.Cli({"set", "clash", "--max-errors", "1"}).code, 0);
    r = f.Cli({"run", "clash"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(HasText(r.out, "Too many errors, task stopped!"));

    // Checks before the run leave no result line, only a reason on stderr.
    ASSERT_EQ(f.Cli({"new", "Idle", "--host", f.host, "--mirror", f.mirror}).code, 0);
    r = f.Cli({"run", "idle"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(HasText(r.err, "No operation specified."));

    // The safety test: a missing mirror with deletes of host-only files.
    ASSERT_EQ(f.Cli({"new", "Unsafe", "--host", f.host, "--mirror", f.tmp.sub("nowhere"),
                     "--only-in-host", "delete"})
                  .code,
              0);
    r = f.Cli({"run", "unsafe"});
    EXPECT_EQ(r.code, 1);
    // Refused, with a result line (and so a log block) that names the folder.
    const std::string refused = "Run refused: the folder " + f.tmp.sub("nowhere") +
                                " does not exist, and running would delete every file on the "
                                "other side.";
    EXPECT_TRUE(HasText(r.out, "Start task: Unsafe\n" + refused + "\n")) << r.out;
    EXPECT_TRUE(HasText(r.err, refused)) << r.err;
    EXPECT_TRUE(fs::exists(f.host + "/clash"));

    // A missing host ends the run as a break.
    ASSERT_EQ(f.Cli({"new", "NoHost", "--host", f.tmp.sub("nohost"), "--mirror", f.mirror,
                     "--only-in-host", "to-mirror"})
                  .code,
              0);
    r = f.Cli({"run", "nohost"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(HasText(r.out, "User break the task!"));
}

TEST(CliPlan, EveryPrintedPathReadsBackToOneName) {
    CliFixture f;
    // Pairs that printed alike: a line feed and the four characters "\x0a";
    // two names whose one bad byte both became U+FFFD in JSON.
    f.tmp.build(f.host, {{"n\nl", "1"},
                         {"n\\x0al", "2"},
                         {"b\xff"
                          "c",
                          "3"},
                         {"b\xfe"
                          "c",
                          "4"}});
    fs::create_directories(f.mirror);
    ASSERT_EQ(
        f.Cli({"new", "S", "--host", f.host, "--mirror", f.mirror, "--only-in-host", "to-mirror"})
            .code,
        0);
    CliResult r = f.Cli({"plan", "s"});
    ASSERT_EQ(r.code, 0);
    EXPECT_TRUE(HasText(r.out, "\t/n\\x0al\n"));
    EXPECT_TRUE(HasText(r.out, "\t/n\\\\x0al\n"));

    r = f.Cli({"plan", "s", "--json"});
    ASSERT_EQ(r.code, 0);
    const auto plan = nlohmann::json::parse(r.out);
    std::vector<std::string> names;
    for (const auto& op : plan["operations"]) {
        if (op.contains("path_bytes")) {
            // Only names that are not UTF-8 carry their bytes.
            EXPECT_EQ(op["path"].get<std::string>().substr(0, 2), "/b");
            names.push_back(op["path_bytes"]);
        } else {
            names.push_back(op["path"]);
        }
    }
    std::sort(names.begin(), names.end());
    // Base64 of "/b\xfec" and "/b\xffc".
    EXPECT_EQ(names, (std::vector<std::string>{"/n\nl", "/n\\x0al", "L2L+Yw==", "L2L/Yw=="}));
}

TEST(CliRun, RelativeRootsAreStoredAbsoluteAndRefusedWhenStillRelative) {
    CliFixture f;
    fs::create_directories(f.host);
    fs::create_directories(f.mirror);
    const fs::path before = fs::current_path();
    fs::current_path(f.tmp.path());
    CliResult r = f.Cli({"new", "Rel", "--host", "host", "--mirror", "./x/../mirror/",
                         "--only-in-host", "to-mirror"});
    fs::current_path(before);
    ASSERT_EQ(r.code, 0) << r.err;
    TaskList list = f.LoadList();
    EXPECT_EQ(list[0].record.host_path(), f.host);
    EXPECT_EQ(list[0].record.mirror_path(), f.tmp.sub("x/../mirror"));

    // A relative root written by something else (an old file, the window)
    // is refused before anything is scanned, with the reason in the log.
    list[0].record.set_host_path("host");
    std::string error;
    ASSERT_TRUE(SaveConfiguration(f.config, list, error));
    r = f.Cli({"run", "rel"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(HasText(r.err, "Invalid Host folder or Mirror folder. Host folder \"host\" is a "
                               "relative path"));
    EXPECT_TRUE(HasText(f.FileBytes(f.log), "\"host\" is a relative path"));
    EXPECT_EQ(f.Cli({"plan", "rel"}).code, 1);
}

TEST(CliRun, InterruptCancelsTheRunAndTheLogIsStillWritten) {
    CliFixture f;
    f.tmp.build(f.host, {{"1", "a"}, {"2", "b"}, {"3", "c"}});
    f.NewOneWay("A");
    f.NewOneWay("B");
    const TaskList list = f.LoadList();
    int polls = 0;
    cli::RunRequest request;
    request.tasks = {0, 1};
    request.logPath = f.log;
    // The first poll (before task A) says no; the next, made from inside
    // the run, asks to stop.
    request.interrupted = [&polls] { return polls++ > 0; };
    std::ostringstream out, err;
    EXPECT_EQ(cli::RunTasks(list, request, out, err), 1);
    EXPECT_TRUE(HasText(out.str(), "User break the task!"));
    EXPECT_EQ(out.str().find("Start task: B"), std::string::npos) << "B is not started";
    const auto blocks = LogBlocks(f.FileBytes(f.log));
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_TRUE(HasText(blocks[0], "User break the task!\r\n"));
}

TEST(CliRun, UnreadableLogIsReported) {
    CliFixture f;
    f.tmp.build(f.host, {{"a", "1"}});
    f.NewOneWay("A");
    fs::create_directories(f.log); // a folder in the log's place
    const CliResult r = f.Cli({"run", "a"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(HasText(r.out, "Task finish!"));
    EXPECT_TRUE(HasText(r.err, f.log));
}

TEST(CliRun, JsonReportHasOneObjectPerRunAndTheLogKeepsTheLines) {
    CliFixture f;
    f.tmp.build(f.host, {{"a.txt", "aaaa"}, {"d/b.txt", "bb"}});
    f.tmp.build(f.mirror, {{"old.txt", "o"}, {"keep.txt", "k"}, {"x.txt", "x"}});
    ASSERT_EQ(
        f.Cli({"new", "Copy", "--host", f.host, "--mirror", f.mirror, "--subfolders", "on",
               "--only-in-host", "to-mirror", "--only-in-mirror", "delete", "--delete-limit", "0"})
            .code,
        0);
    ASSERT_EQ(f.Cli({"new", "Idle", "--host", f.host, "--mirror", f.mirror}).code, 0);
    ASSERT_EQ(f.Cli({"new", "Unsafe", "--host", f.host, "--mirror", f.tmp.sub("nowhere"),
                     "--only-in-host", "delete"})
                  .code,
              0);
    // A missing host without a delete: the run ends the way a cancel does.
    ASSERT_EQ(f.Cli({"new", "Gone", "--host", f.tmp.sub("gone"), "--mirror", f.mirror,
                     "--only-in-host", "to-mirror"})
                  .code,
              0);
    // The clash: a host file whose place in the mirror is a folder.
    // Its one failure stops the run before the empty folder it plans.
    f.tmp.build(f.tmp.sub("h2"), {{"clash", "data"}});
    f.tmp.build(f.tmp.sub("m2"), {{"clash/inside", "x"}});
    fs::create_directories(f.tmp.sub("h2") + "/e");
    ASSERT_EQ(
        f.Cli({"new", "Clash", "--host", f.tmp.sub("h2"), "--mirror", f.tmp.sub("m2"),
               "--only-in-host", "to-mirror", "--empty-folders", "to-mirror", "--max-errors", "1"})
            .code,
        0);

    // Over its limit: every mirror file would go, and the task allows half.
    f.tmp.build(f.tmp.sub("h3"), {{"new", "n"}});
    f.tmp.build(f.tmp.sub("m3"), {{"x", "1"}, {"y", "2"}, {"z", "3"}});
    ASSERT_EQ(
        f.Cli({"new", "Guarded", "--host", f.tmp.sub("h3"), "--mirror", f.tmp.sub("m3"),
               "--only-in-host", "to-mirror", "--only-in-mirror", "delete", "--delete-limit", "50"})
            .code,
        0);

    auto reports = [&](const std::vector<std::string>& args, int code) {
        const CliResult r = f.Cli(args);
        EXPECT_EQ(r.code, code) << r.err;
        std::vector<nlohmann::json> out;
        for (const std::string& line : CliFixture::Lines(r.out))
            out.push_back(nlohmann::json::parse(line)); // throws on anything but JSON lines
        return out;
    };
    std::vector<nlohmann::json> runs =
        reports({"run", "--json", "copy", "idle", "unsafe", "gone"}, 1);
    for (const auto& j : reports({"run", "--json", "copy", "clash", "guarded"}, 1))
        runs.push_back(j);
    ASSERT_EQ(runs.size(), 7u);

    struct Expect {
        const char* task;
        const char* outcome;
        const char* reason; // null: no reason member
        int toMirror, deleteMirror, failures, plannedToMirror;
        int limit, mirrorFiles, mirrorLost; // files -1: no delete guard (no scan)
        bool over;
    };
    const Expect expected[] = {
        {"Copy", "finished", nullptr, 2, 3, 0, 2, 0, 3, 3, false}, // no limit: every file may go
        {"Idle", "refused", "no_operation", 0, 0, 0, 0, 0, -1, -1, false},
        {"Unsafe", "refused", "safety_test", 0, 0, 0, 0, 0, -1, -1, false},
        {"Gone", "refused", "host_missing", 0, 0, 0, 0, 0, -1, -1, false},
        {"Copy", "nothing_to_do", nullptr, 0, 0, 0, 0, 0, 2, 0, false},
        {"Clash", "error_limit", nullptr, 0, 0, 1, 1, 0, 0, 0, false}, // clash/inside not scanned
        {"Guarded", "refused", "delete_limit", 0, 0, 0, 1, 50, 3, 3, true},
    };
    const std::regex iso(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d)");
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const nlohmann::json& j = runs[i];
        const Expect& e = expected[i];
        SCOPED_TRACE(j.dump());
        EXPECT_EQ(j["format_version"], 1);
        EXPECT_EQ(j["task"], e.task);
        EXPECT_EQ(j["outcome"], e.outcome);
        EXPECT_EQ(j.contains("reason"), e.reason != nullptr);
        if (e.reason) {
            EXPECT_EQ(j["reason"], e.reason);
            EXPECT_FALSE(j["message"].get<std::string>().empty());
        }
        EXPECT_TRUE(j["host_root"].is_string() && j["mirror_root"].is_string());
        EXPECT_TRUE(std::regex_match(j["start"].get<std::string>(), iso));
        EXPECT_TRUE(std::regex_match(j["end"].get<std::string>(), iso));
        EXPECT_LE(j["start"].get<std::string>(), j["end"].get<std::string>());
        EXPECT_EQ(j["counts"]["to_mirror"], e.toMirror);
        EXPECT_EQ(j["counts"]["delete_mirror"], e.deleteMirror);
        EXPECT_EQ(j["counts"]["failures"], e.failures);
        EXPECT_EQ(j["failures"].size(), static_cast<std::size_t>(e.failures));
        for (const auto& failure : j["failures"])
            EXPECT_TRUE(failure["op"].is_string() && failure["path"].is_string() &&
                        failure["error"].is_string());
        for (const char* key : {"to_host", "delete_host", "moves", "empty_folders"}) {
            EXPECT_TRUE(j["counts"].contains(key)) << key;
            EXPECT_TRUE(j["planned"].contains(key)) << key;
        }
        EXPECT_EQ(j["planned"]["to_mirror"], e.plannedToMirror);
        if (!e.failures) {
            EXPECT_EQ(j["bytes"]["done"], e.toMirror ? 6 : 0);
        }
        if (e.mirrorFiles < 0) {
            EXPECT_TRUE(j["delete_guard"].is_null());
        } else {
            EXPECT_EQ(j["delete_guard"]["limit"], e.limit);
            EXPECT_EQ(j["delete_guard"]["mirror"]["files"], e.mirrorFiles);
            EXPECT_EQ(j["delete_guard"]["mirror"]["lost"], e.mirrorLost);
            EXPECT_EQ(j["delete_guard"]["mirror"]["percent"], e.mirrorLost ? 100 : 0);
            EXPECT_EQ(j["delete_guard"]["mirror"]["over"], e.over);
        }
    }
    // The clash's failure: the copy, the full path and the system's words.
    ASSERT_EQ(runs[5]["failures"].size(), 1u);
    EXPECT_GT(runs[5]["planned"]["empty_folders"], 0);
    EXPECT_EQ(runs[5]["counts"]["empty_folders"], 0) << "what the run did, not what it planned";
    EXPECT_EQ(runs[5]["failures"][0]["op"], "copy");
    EXPECT_EQ(runs[5]["failures"][0]["to"], "mirror");
    EXPECT_EQ(runs[5]["failures"][0]["path"], f.tmp.sub("m2") + "/clash");
    EXPECT_FALSE(runs[5]["failures"][0]["error"].get<std::string>().empty());
    EXPECT_FALSE(fs::exists(f.tmp.sub("m3") + "/new")) << "refused before any file operation";
    // The log still gets the result lines.
    const std::string log = f.FileBytes(f.log);
    EXPECT_TRUE(HasText(log, "Start task: Copy\r\nTask finish!"));
    EXPECT_TRUE(HasText(log, "Run refused: the folder"));

    // Offsets are written +hh:mm.
    const char* tz = std::getenv("TZ");
    const std::string saved = tz ? tz : "";
    setenv("TZ", "XYZ-1", 1);
    tzset();
    EXPECT_EQ(cli::IsoLocalTime(0), "1970-01-01T01:00:00+01:00");
    if (tz)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

} // namespace
} // namespace duplora::test
