// Runs that keep what they delete or replace: the trash (home volume and a
// second volume), the versioning folder, failures that leave the file in
// place, the delete limit of quiet runs and a refused versioning folder.
#include "sync/run/SyncRun.h"
#include "sync/setaside/Trash.h"
#include "sync/setaside/Versions.h"
#include "tasks/TextTable.h"

#include "TmpfsMount.h"
#include "TreeFixture.h"

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <cstring>
#include <iostream>
#include <optional>
#include <regex>

using namespace duplora;
using namespace duplora::test;

using Tree = std::map<std::string, std::string>;

namespace {

// Names a file manager has to get back whole: a space, '%', a line break and
// bytes that are not UTF-8.
const std::string kOdd[] = {"a b.txt", "100% sure", "line\nbreak.txt", "\xFF\xFE raw.bin"};

// Environment changes for one test, undone at its end.
class Env {
public:
    void set(const char* name, const std::string& value) {
        const char* old = std::getenv(name);
        saved_.push_back({name, old ? std::optional<std::string>(old) : std::nullopt});
        ::setenv(name, value.c_str(), 1);
        ::tzset();
    }
    ~Env() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->second)
                ::setenv(it->first.c_str(), it->second->c_str(), 1);
            else
                ::unsetenv(it->first.c_str());
        }
        ::tzset();
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

using Mount = TmpfsMount;

std::string Decode(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() &&
            std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

// The trash folder's entries as a file manager reads them: original path
// (decoded) -> content of files/NAME, each checked for a well-formed info.
// `top`: the trash is a volume's, whose Path= is relative to that folder.
Tree ReadTrash(const std::string& trash, const std::string& top = "") {
    Tree out;
    if (!fs::exists(trash + "/info"))
        return out;
    const std::regex date(R"(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2})");
    for (const auto& e : fs::directory_iterator(trash + "/info")) {
        const std::string infoName = e.path().filename().string();
        EXPECT_TRUE(infoName.size() > 10 && infoName.substr(infoName.size() - 10) == ".trashinfo")
            << infoName;
        std::ifstream in(e.path(), std::ios::binary);
        std::string header, path, when, rest;
        std::getline(in, header);
        std::getline(in, path);
        std::getline(in, when);
        std::getline(in, rest);
        EXPECT_EQ(header, "[Trash Info]");
        EXPECT_EQ(path.rfind(top.empty() ? "Path=/" : "Path=", 0), 0u) << path;
        if (!top.empty()) {
            EXPECT_NE(path.substr(0, 6), "Path=/") << path;
            path.insert(5, top + "/");
        }
        EXPECT_EQ(path.find_first_of(" \n\xFF"), std::string::npos) << path;
        EXPECT_EQ(when.rfind("DeletionDate=", 0), 0u);
        EXPECT_TRUE(std::regex_match(when.substr(13), date)) << when;
        EXPECT_EQ(when.substr(13), TrashDateText(kT0));
        const std::string name = infoName.substr(0, infoName.size() - 10);
        std::ifstream file(trash + "/files/" + name, std::ios::binary);
        EXPECT_TRUE(file.good()) << name;
        std::stringstream content;
        content << file.rdbuf();
        out[Decode(path.substr(5))] = content.str();
    }
    return out;
}

// Host newer than the mirror for every odd name (the mirror's copies are
// replaced), and the same names only in the mirror below "gone/" (deleted).
void BuildReplaceAndDelete(RunFixture& f) {
    f.OneWay();
    f.run.Task.set_only_in_mirror_action(SyncAction::Delete);
    for (const std::string& n : kOdd) {
        f.tmp.build(f.host, {{n, "new " + n, kT0 + 100}});
        f.tmp.build(f.mirror, {{n, "old " + n, kT0}, {"gone/" + n, "gone " + n, kT0}});
    }
}

// What a run of BuildReplaceAndDelete() must have put in the trash.
Tree Kept(const std::string& mirror) {
    Tree want;
    for (const std::string& n : kOdd) {
        want[mirror + "/" + n] = "old " + n;
        want[mirror + "/gone/" + n] = "gone " + n;
    }
    return want;
}

Tree Replaced() {
    Tree want = {{"gone/", ""}};
    for (const std::string& n : kOdd)
        want[n] = "new " + n;
    return want;
}

} // namespace

TEST(SafetyNet, TrashOnTheHomeVolumeKeepsDeletedAndReplacedFiles) {
    SetLanguage(Language::English);
    RunFixture f;
    Env env;
    env.set("XDG_DATA_HOME", f.tmp.sub("data"));
    f.run.Task.set_on_delete(DeleteMode::Trash);
    BuildReplaceAndDelete(f);
    EXPECT_EQ(f.Run(), RunOutcome::Finished);
    EXPECT_EQ(f.run.Plan.FailedCount, 0) << f.Text();
    EXPECT_EQ(f.run.Plan.CopiedToMirror, 4);
    EXPECT_EQ(f.run.Plan.DeletedInMirror, 4);
    EXPECT_EQ(ReadTree(f.mirror), Replaced());
    EXPECT_EQ(ReadTrash(f.tmp.sub("data/Trash")), Kept(f.mirror));

    // A second run of the same names takes the next free names.
    BuildReplaceAndDelete(f);
    EXPECT_EQ(f.Run(), RunOutcome::Finished);
    EXPECT_EQ(ReadTrash(f.tmp.sub("data/Trash")).size(), 8u);
    EXPECT_TRUE(fs::exists(f.tmp.sub("data/Trash/files/a b.txt.2")));
}

TEST(SafetyNet, TrashAndVersionsOnASecondVolume) {
    SetLanguage(Language::English);
    RunFixture f;
    Env env;
    env.set("XDG_DATA_HOME", f.tmp.sub("data"));
    env.set("TZ", "UTC");
    const Mount volume(f.tmp.sub("vol"));
    if (!volume.ok()) {
        std::cout << "tmpfs not mounted (" << volume.why() << "), second volume not tested\n";
        GTEST_SKIP() << "mount failed: " << volume.why();
    }
    // The mirror is the tmpfs: its files go to the volume's own trash, which
    // is then inside the mirror and must be left out of the next run.
    f.mirror = volume.path();
    f.run.Task.set_mirror_path(f.mirror);
    f.run.Task.set_on_delete(DeleteMode::Trash);
    BuildReplaceAndDelete(f);
    EXPECT_EQ(f.Run(), RunOutcome::Finished);
    EXPECT_EQ(f.run.Plan.FailedCount, 0) << f.Text();
    const std::string trashName = ".Trash-" + std::to_string(::getuid());
    const std::string own = volume.sub(trashName);
    EXPECT_EQ(ReadTrash(own, volume.path()), Kept(f.mirror));
    BuildReplaceAndDelete(f);
    EXPECT_EQ(f.Run(), RunOutcome::Finished);
    EXPECT_EQ(f.run.Plan.DeletedInMirror, 4);
    EXPECT_EQ(ReadTrash(own, volume.path()).size(), 8u);
    Tree mirror = ReadTree(f.mirror);
    std::erase_if(mirror, [&](const auto& e) { return e.first.rfind(trashName, 0) == 0; });
    EXPECT_EQ(mirror, Replaced());
    EXPECT_EQ(fs::status(own).permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_FALSE(fs::exists(f.tmp.sub("data/Trash/files/a b.txt")));

    // An absolute versioning folder on the tmpfs for a mirror on the home
    // volume: copied across, then removed.
    RunFixture g;
    g.run.Task.set_on_delete(DeleteMode::Versions);
    // An absolute versioning folder holds 29 bytes: a short link leads there.
    char shortcut[] = "/tmp/dvXXXXXX";
    ASSERT_NE(::mkdtemp(shortcut), nullptr);
    const std::string link = std::string(shortcut) + "/k";
    fs::create_directories(volume.sub("keep"));
    fs::create_directory_symlink(volume.sub("keep"), link);
    g.run.Task.set_versions_folder(link);
    g.OneWay();
    g.tmp.build(g.host, {{"d/report.doc", "v2", kT0 + 100}});
    g.tmp.build(g.mirror, {{"d/report.doc", "v1", kT0}});
    EXPECT_EQ(g.Run(), RunOutcome::Finished);
    EXPECT_EQ(g.run.Plan.FailedCount, 0) << g.Text();
    EXPECT_EQ(ReadTree(volume.sub("keep")),
              (Tree{{"d/", ""}, {"d/report 2024-05-06 120000.doc", "v1"}}));
    EXPECT_EQ(ReadTree(g.mirror), (Tree{{"d/", ""}, {"d/report.doc", "v2"}}));
    fs::remove_all(shortcut);
}

TEST(SafetyNet, VersionsKeepEveryReplacedVersionAndAreNeverScanned) {
    SetLanguage(Language::English);
    Env env;
    env.set("TZ", "UTC");
    RunFixture f;
    f.OneWay();
    f.run.Task.set_only_in_mirror_action(SyncAction::Delete);
    f.run.Task.set_on_delete(DeleteMode::Versions);
    f.run.Task.set_versions_folder("old");
    // Two runs in the same second: the second version of each gets " (2)".
    for (int round = 1; round <= 2; ++round) {
        const std::string v = std::to_string(round);
        f.tmp.build(f.host, {{"d/report.doc", "host" + v, kT0 + 100 * round},
                             {".profile", "host" + v, kT0 + 100 * round},
                             {"notes", "host" + v, kT0 + 100 * round}});
        f.tmp.build(f.mirror, {{"d/report.doc", "mirror" + v, kT0},
                               {".profile", "mirror" + v, kT0},
                               {"notes", "mirror" + v, kT0},
                               {"only" + v, "only" + v, kT0}});
        EXPECT_EQ(f.Run(), RunOutcome::Finished);
        EXPECT_EQ(f.run.Plan.FailedCount, 0) << f.Text();
        // The kept versions are neither deleted as mirror-only files nor
        // copied anywhere.
        EXPECT_EQ(f.run.Plan.DeletedInMirror, 1);
    }
    const std::string at = " 2024-05-06 120000";
    EXPECT_EQ(ReadTree(f.mirror + "/old"), (Tree{{"d/", ""},
                                                 {"d/report" + at + ".doc", "mirror1"},
                                                 {"d/report" + at + " (2).doc", "mirror2"},
                                                 {".profile" + at, "mirror1"},
                                                 {".profile" + at + " (2)", "mirror2"},
                                                 {"notes" + at, "mirror1"},
                                                 {"notes" + at + " (2)", "mirror2"},
                                                 {"only1" + at, "only1"},
                                                 {"only2" + at, "only2"}}));
    EXPECT_FALSE(fs::exists(f.host + "/old"));
}

// The trash cannot be had (the home trash is a file): every file stays where
// it was, a replacement's temporary copy is gone, and each counts as one
// failure with its path, operation and reason.
TEST(SafetyNet, FailedSetAsideLeavesTheFileAndCountsOneFailure) {
    SetLanguage(Language::English);
    RunFixture f;
    Env env;
    env.set("XDG_DATA_HOME", f.tmp.sub("data"));
    f.tmp.build(f.tmp.sub("data"), {{"Trash", "not a folder"}});
    f.run.Task.set_on_delete(DeleteMode::Trash);
    f.OneWay();
    f.run.Task.set_only_in_mirror_action(SyncAction::Delete);
    f.tmp.build(f.host, {{"r.txt", "new", kT0 + 100}});
    f.tmp.build(f.mirror, {{"r.txt", "old", kT0}, {"x.txt", "x", kT0}});
    EXPECT_EQ(f.Run(), RunOutcome::Finished);
    EXPECT_EQ(ReadTree(f.mirror), (Tree{{"r.txt", "old"}, {"x.txt", "x"}}));
    EXPECT_EQ(f.run.Plan.FailedCount, 2);
    ASSERT_EQ(f.run.Failures.size(), 2u);
    EXPECT_EQ(f.run.Failures[0].Path, f.mirror + "/r.txt");
    EXPECT_EQ(f.run.Failures[0].Op, opToMirror);
    EXPECT_EQ(f.run.Failures[1].Path, f.mirror + "/x.txt");
    EXPECT_EQ(f.run.Failures[1].Op, opDelete);
    for (const RunFailure& r : f.run.Failures) {
        EXPECT_EQ(r.Error.rfind(Msg(209), 0), 0u) << r.Error;
        EXPECT_NE(f.Text().find(MsgFill(207, r.Error) + r.Path), std::string::npos) << f.Text();
    }

    // An ordinary failure is recorded too, with the system's words.
    RunFixture g;
    g.OneWay();
    g.tmp.build(g.host, {{"a.txt", "a"}});
    g.tmp.build(g.mirror, {{"a.txt/", ""}});
    g.Run();
    ASSERT_EQ(g.run.Failures.size(), 1u);
    EXPECT_EQ(g.run.Failures[0].Path, g.mirror + "/a.txt");
    EXPECT_FALSE(g.run.Failures[0].Error.empty());
}

// A quiet run over the limit changes nothing; one exactly at it runs; a
// window run is never stopped (its preview shows the numbers).
TEST(SafetyNet, DeleteLimitStopsQuietRunsAboveIt) {
    SetLanguage(Language::English);
    struct Case {
        int limit;
        bool quiet;
        bool refused;
    } cases[] = {{39, true, true}, {40, true, false}, {0, true, false}, {39, false, false}};
    for (const Case& c : cases) {
        RunFixture f;
        f.run.Task.set_only_in_mirror_action(SyncAction::Delete);
        f.run.Task.set_delete_limit(c.limit);
        f.run.Start = c.quiet ? RunStart::CommandLine : RunStart::Window;
        for (int i = 0; i < 10; ++i) {
            const std::string n = "f" + std::to_string(i);
            f.tmp.build(f.mirror, {{n, n}});
            if (i < 6)
                f.tmp.build(f.host, {{n, n}});
        }
        const Tree before = ReadTree(f.mirror);
        const RunOutcome outcome = f.Run();
        if (c.refused) {
            EXPECT_EQ(outcome, RunOutcome::Skipped);
            EXPECT_EQ(f.run.Refusal, RefusalReason::DeleteLimit);
            EXPECT_EQ(ReadTree(f.mirror), before);
            EXPECT_EQ(f.run.RefusedLine,
                      "Stopped: the run would delete or replace 0 of 6 files of the host (0%) and "
                      "4 of 10 files of the mirror (40%), above the task's limit of 39%");
            EXPECT_EQ(f.lines.Lines().end()[-2], f.run.RefusedLine);
        } else {
            EXPECT_EQ(outcome, RunOutcome::Finished) << c.limit;
            EXPECT_EQ(ReadTree(f.mirror).size(), 6u);
        }
    }
}

// The line shows the share that was compared: 1 of 3 is above 33%, and says so.
TEST(SafetyNet, DeleteLimitLineShowsWhatWasCompared) {
    SetLanguage(Language::English);
    RunFixture f;
    f.run.Task.set_only_in_mirror_action(SyncAction::Delete);
    f.run.Task.set_delete_limit(33);
    f.run.Start = RunStart::CommandLine;
    f.tmp.build(f.host, {{"a", "a"}, {"b", "b"}});
    f.tmp.build(f.mirror, {{"a", "a"}, {"b", "b"}, {"c", "c"}});
    EXPECT_EQ(f.Run(), RunOutcome::Skipped);
    EXPECT_EQ(f.run.RefusedLine,
              "Stopped: the run would delete or replace 0 of 2 files of the host (0%) and "
              "1 of 3 files of the mirror (33.3%), above the task's limit of 33%");
}

// A share has no trash: "Move to the trash" with a share root is refused at
// the start, before the connection and any change, with a line that names
// the share as typed and points to the versioning folder. A local pair with
// the trash, or a share without it, passes this rule.
TEST(SafetyNet, TrashOnAShareRootIsRefusedAtRunStart) {
    SetLanguage(Language::English);
    const struct {
        const char* host;
        const char* mirror;
        DeleteMode mode;
        bool refused;
    } cases[] = {
        {"smb://nas/backup/docs", nullptr, DeleteMode::Trash, true},
        {nullptr, "//nas/backup/docs", DeleteMode::Trash, true},
        {nullptr, nullptr, DeleteMode::Trash, false},
    };
    for (const auto& c : cases) {
        RunFixture f;
        f.run.Task.set_only_in_mirror_action(SyncAction::Delete);
        f.run.Task.set_on_delete(c.mode);
        if (c.host)
            f.run.Task.set_host_path(c.host);
        if (c.mirror)
            f.run.Task.set_mirror_path(c.mirror);
        f.tmp.build(f.host, {{"a", "a"}});
        f.tmp.build(f.mirror, {{"b", "b"}});
        const RunOutcome outcome = f.Run();
        if (!c.refused) {
            EXPECT_EQ(outcome, RunOutcome::Finished);
            continue;
        }
        const std::string share = c.host ? c.host : c.mirror;
        EXPECT_EQ(outcome, RunOutcome::Skipped) << share;
        EXPECT_EQ(f.run.Refusal, RefusalReason::ShareTrash);
        EXPECT_EQ(f.run.RefusedLine, MsgFill(261, share));
        EXPECT_NE(f.run.RefusedLine.find("versioning folder"), std::string::npos);
        EXPECT_EQ(f.lines.Lines().end()[-2], f.run.RefusedLine);
        EXPECT_EQ(ReadTree(f.mirror), (Tree{{"b", "b"}}));
    }
}

TEST(SafetyNet, UnusableVersionsFolderIsRefusedAtRunStart) {
    SetLanguage(Language::English);
    RunFixture f;
    f.run.Task.set_only_in_mirror_action(SyncAction::Delete);
    f.run.Task.set_on_delete(DeleteMode::Versions);
    f.run.Task.set_versions_folder("../v");
    f.tmp.build(f.host, {{"a", "a"}});
    f.tmp.build(f.mirror, {{"b", "b"}});
    EXPECT_EQ(f.Run(), RunOutcome::Skipped);
    EXPECT_EQ(f.run.Refusal, RefusalReason::VersionsFolder);
    EXPECT_EQ(f.run.RefusedLine, MsgFill(204, "../v"));
    EXPECT_EQ(f.lines.Lines().end()[-2], f.run.RefusedLine);
    EXPECT_EQ(ReadTree(f.mirror), (Tree{{"b", "b"}}));
    EXPECT_EQ(ReadTree(f.host), (Tree{{"a", "a"}}));
}

// Info files are written a few files ahead of the renames: files the run
// then leaves (changed since the scan, a cancel) must not keep one.
TEST(SafetyNet, TrashWrittenAheadKeepsNoInfoWithoutItsFile) {
    SetLanguage(Language::English);
    RunFixture f;
    Env env;
    env.set("XDG_DATA_HOME", f.tmp.sub("data"));
    f.OneWay();
    f.run.Task.set_only_in_mirror_action(SyncAction::Delete);
    f.run.Task.set_on_delete(DeleteMode::Trash);
    std::vector<TreeFile> files;
    Tree all;
    for (int i = 10; i < 90; ++i) {
        const std::string rel = "d/f" + std::to_string(i);
        files.push_back({rel, "v" + std::to_string(i)});
        all[f.mirror + "/" + rel] = "v" + std::to_string(i);
    }
    files.push_back({"keep", "same"}); // a host that is not empty passes the safety test
    all[f.mirror + "/keep"] = "same";
    f.tmp.build(f.host, {{"keep", "same"}});
    f.tmp.build(f.mirror, files);
    int seen = 0;
    f.run.BeforeFileOperation = [&](std::string_view rel, TSyncOp) {
        if (rel == "/d/f80" || rel == "/d/f79") { // the mirror list runs backwards
            std::ofstream(f.mirror + std::string(rel), std::ios::binary) << "edited";
            all[f.mirror + std::string(rel)] = "edited";
        }
        if (++seen == 40)
            RequestCancel(f.run);
    };
    EXPECT_EQ(f.Run(), RunOutcome::Cancelled);
    const Tree trash = ReadTrash(f.tmp.sub("data/Trash")); // each info has its file
    EXPECT_EQ(static_cast<int>(trash.size()), f.run.Plan.DeletedInMirror);
    EXPECT_GT(f.run.Plan.DeletedInMirror, 20);
    EXPECT_EQ(std::distance(fs::directory_iterator(f.tmp.sub("data/Trash/files")),
                            fs::directory_iterator()),
              f.run.Plan.DeletedInMirror);
    Tree found = trash;
    for (const auto& [rel, content] : ReadTree(f.mirror))
        if (rel != "d/")
            found[f.mirror + "/" + rel] = content;
    EXPECT_EQ(found, all);
}
