// Two-way runs that remember the last run: each case builds the trees of the
// last run (equal on both sides), runs once so the record exists, changes the
// two sides to their trees of now, and runs again.

#include "sync/memory/Remember.h"
#include "sync/memory/LastRun.h"
#include "tasks/TaskPresets.h"
#include "tests/sync/TreeFixture.h"

#include <gtest/gtest.h>

#include <fstream>

namespace duplora::test {
namespace {

constexpr std::time_t kLater = kT0 + 1000;
constexpr std::time_t kLatest = kT0 + 2000;

struct RememberFixture : RunFixture {
    std::string state = tmp.sub("state");
    RememberFixture() {
        run.Task = MakePresetRecord(TaskPreset::TwoWay, "");
        run.Task.set_host_path(host);
        run.Task.set_mirror_path(mirror);
        run.Task.set_on_delete(DeleteMode::Permanent);
        run.Task.set_remember_last_run(true);
        run.MemoryFolder = state;
        run.Clock = [] { return kLatest + 60; };
    }
    // Replaces a side with `files`.
    void Rebuild(const std::string& dir, const std::vector<TreeFile>& files) {
        fs::remove_all(dir);
        tmp.build(dir, files);
    }
    RunOutcome RunAgain() {
        lines = ResultLines();
        return Run();
    }
    int Kind(Remembered k) const { return run.Plan.RememberedCount[static_cast<int>(k)]; }
};

using Tree = std::map<std::string, std::string>;

TEST(Remember, EachKindAndActionAfterARecordedRun) {
    const std::vector<TreeFile> last = {{"a.txt", "a"}, {"d/b.txt", "b"}};
    struct Case {
        const char* name;
        std::function<void(TaskRecord&)> set;
        std::vector<TreeFile> host, mirror;
        Remembered kind;
        Tree hostAfter, mirrorAfter;
    };
    const std::vector<Case> cases = {
        {"deleted in the host: deleted in the mirror",
         nullptr,
         {{"a.txt", "a"}},
         last,
         Remembered::DeletedInHost,
         {{"a.txt", "a"}},
         {{"a.txt", "a"}, {"d/", ""}}},
        {"deleted in the host, copy back",
         [](TaskRecord& t) { t.set_deleted_in_host_action(SyncAction::MirrorToHost); },
         {{"a.txt", "a"}},
         last,
         Remembered::DeletedInHost,
         {{"a.txt", "a"}, {"d/", ""}, {"d/b.txt", "b"}},
         {{"a.txt", "a"}, {"d/", ""}, {"d/b.txt", "b"}}},
        {"deleted in the host, ignored",
         [](TaskRecord& t) { t.set_deleted_in_host_action(SyncAction::Ignore); },
         {{"a.txt", "a"}},
         last,
         Remembered::DeletedInHost,
         {{"a.txt", "a"}},
         {{"a.txt", "a"}, {"d/", ""}, {"d/b.txt", "b"}}},
        {"deleted in the mirror: deleted in the host",
         nullptr,
         last,
         {{"d/b.txt", "b"}},
         Remembered::DeletedInMirror,
         {{"d/", ""}, {"d/b.txt", "b"}},
         {{"d/", ""}, {"d/b.txt", "b"}}},
        {"deleted in the mirror, copy back",
         [](TaskRecord& t) { t.set_deleted_in_mirror_action(SyncAction::HostToMirror); },
         last,
         {{"d/b.txt", "b"}},
         Remembered::DeletedInMirror,
         {{"a.txt", "a"}, {"d/", ""}, {"d/b.txt", "b"}},
         {{"a.txt", "a"}, {"d/", ""}, {"d/b.txt", "b"}}},
        {"deleted in the host, changed in the mirror: the change is copied back",
         nullptr,
         {{"a.txt", "a"}},
         {{"a.txt", "a"}, {"d/b.txt", "b edited", kLater}},
         Remembered::ChangedDeletedInHost,
         {{"a.txt", "a"}, {"d/", ""}, {"d/b.txt", "b edited"}},
         {{"a.txt", "a"}, {"d/", ""}, {"d/b.txt", "b edited"}}},
        {"changed in the host, deleted in the mirror: the change is copied back",
         nullptr,
         {{"a.txt", "a edited", kLater}, {"d/b.txt", "b"}},
         {{"d/b.txt", "b"}},
         Remembered::ChangedDeletedInMirror,
         {{"a.txt", "a edited"}, {"d/", ""}, {"d/b.txt", "b"}},
         {{"a.txt", "a edited"}, {"d/", ""}, {"d/b.txt", "b"}}},
        {"changed on both sides, newer wins",
         [](TaskRecord& t) { t.set_conflict_action(ConflictAction::NewerWins); },
         {{"a.txt", "host edit", kLatest}, {"d/b.txt", "b"}},
         {{"a.txt", "mirror edit", kLater}, {"d/b.txt", "b"}},
         Remembered::ChangedOnBoth,
         {{"a.txt", "host edit"}, {"d/", ""}, {"d/b.txt", "b"}},
         {{"a.txt", "host edit"}, {"d/", ""}, {"d/b.txt", "b"}}},
        {"changed on both sides, skipped",
         [](TaskRecord& t) { t.set_conflict_action(ConflictAction::Skip); },
         {{"a.txt", "host edit", kLatest}, {"d/b.txt", "b"}},
         {{"a.txt", "mirror edit", kLater}, {"d/b.txt", "b"}},
         Remembered::ChangedOnBoth,
         {{"a.txt", "host edit"}, {"d/", ""}, {"d/b.txt", "b"}},
         {{"a.txt", "mirror edit"}, {"d/", ""}, {"d/b.txt", "b"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RememberFixture f;
        if (c.set)
            c.set(f.run.Task);
        f.tmp.build(f.host, last);
        f.tmp.build(f.mirror, last);
        EXPECT_EQ(f.Run(), RunOutcome::NothingToDo);
        f.Rebuild(f.host, c.host);
        f.Rebuild(f.mirror, c.mirror);
        f.RunAgain();
        EXPECT_EQ(f.Kind(c.kind), 1) << f.Text();
        EXPECT_EQ(ReadTree(f.host), c.hostAfter) << f.Text();
        EXPECT_EQ(ReadTree(f.mirror), c.mirrorAfter) << f.Text();
        // What the run left as it is stays so: the next run changes nothing.
        f.RunAgain();
        EXPECT_EQ(ReadTree(f.host), c.hostAfter) << f.Text();
        EXPECT_EQ(ReadTree(f.mirror), c.mirrorAfter) << f.Text();
        EXPECT_EQ(f.run.Plan.FailedCount, 0) << f.Text();
    }
}

TEST(Remember, AConflictKeepsBothVersionsOnBothSides) {
    RememberFixture f;
    f.tmp.build(f.host, {{"notes.txt", "v1"}});
    f.tmp.build(f.mirror, {{"notes.txt", "v1"}});
    EXPECT_EQ(f.Run(), RunOutcome::NothingToDo);
    f.Rebuild(f.host, {{"notes.txt", "host edit", kLater}});
    f.Rebuild(f.mirror, {{"notes.txt", "mirror edit", kLatest}});
    EXPECT_EQ(f.RunAgain(), RunOutcome::Finished);
    const std::string kept = "notes (conflict " + [] {
        std::tm tm{};
        const std::time_t t = kLatest + 60;
        localtime_r(&t, &tm);
        char buf[32];
        std::strftime(buf, sizeof buf, "%Y-%m-%d %H%M%S", &tm);
        return std::string(buf);
    }() + " host).txt";
    const Tree both = {{"notes.txt", "mirror edit"}, {kept, "host edit"}};
    EXPECT_EQ(ReadTree(f.host), both) << f.Text();
    EXPECT_EQ(ReadTree(f.mirror), both) << f.Text();
    EXPECT_EQ(f.run.Plan.ConflictsKept, 1);
    // Both versions were copied, and the progress total said so.
    EXPECT_EQ(f.run.Plan.TotalBytes, std::ssize("host edit") - 1 + std::ssize("mirror edit") - 1);
    EXPECT_EQ(f.run.Plan.DoneBytes, f.run.Plan.TotalBytes);
    EXPECT_NE(f.Text().find("Conflicts: 1 kept both, 0 left alone"), std::string::npos) << f.Text();
    EXPECT_EQ(f.RunAgain(), RunOutcome::NothingToDo) << f.Text();
}

TEST(Remember, WithoutAUsableRecordTheRunComparesAsWithoutIt) {
    struct Case {
        const char* name;
        std::function<void(RememberFixture&)> spoil;
        const char* note;
    };
    const std::vector<Case> cases = {
        {"first run", [](RememberFixture& f) { fs::remove_all(f.state); }, "none yet"},
        {"damaged record",
         [](RememberFixture& f) {
             for (const auto& e : fs::directory_iterator(f.state))
                 fs::resize_file(e.path(), fs::file_size(e.path()) - 3);
         },
         "the record is damaged"},
        {"other roots",
         [](RememberFixture& f) {
             fs::rename(f.mirror, f.tmp.sub("mirror2"));
             f.mirror = f.tmp.sub("mirror2");
             f.run.Task.set_mirror_path(f.mirror);
         },
         "none yet"},
        {"renamed task", [](RememberFixture& f) { f.run.TaskName = "Renamed"; }, "none yet"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RememberFixture f;
        f.tmp.build(f.host, {{"a.txt", "a"}, {"b.txt", "b"}});
        f.tmp.build(f.mirror, {{"a.txt", "a"}, {"b.txt", "b"}});
        f.Run();
        fs::remove(fs::path(f.host) / "b.txt");
        c.spoil(f);
        f.RunAgain();
        // Without memory a file only in the mirror is new there: copied back.
        EXPECT_EQ(f.Kind(Remembered::DeletedInHost), 0);
        EXPECT_TRUE(fs::exists(fs::path(f.host) / "b.txt")) << f.Text();
        EXPECT_NE(f.Text().find(std::string("No memory of the last run (") + c.note),
                  std::string::npos)
            << f.Text();
    }
}

TEST(Remember, ARenameIsAMoveAndAMinusCSeesNoDeletes) {
    RememberFixture f;
    f.run.Task.set_detect_moves(true);
    f.run.Task.set_move_min_size(1);
    f.tmp.build(f.host, {{"old.bin", std::string(5000, 'x')}});
    f.tmp.build(f.mirror, {{"old.bin", std::string(5000, 'x')}});
    f.Run();
    fs::rename(fs::path(f.host) / "old.bin", fs::path(f.host) / "new.bin");
    f.RunAgain();
    EXPECT_EQ(f.run.Plan.MovedCount, 1) << f.Text();
    EXPECT_EQ(f.run.Plan.DeletedInMirror, 0);
    EXPECT_EQ(ReadTree(f.mirror), (Tree{{"new.bin", std::string(5000, 'x')}}));

    // A run that takes the mirror as empty must not read that as deletes.
    f.run.SkipMirrorScan = true;
    f.RunAgain();
    EXPECT_TRUE(fs::exists(fs::path(f.host) / "new.bin"));
    EXPECT_EQ(f.run.Plan.RememberedSince, 0);
}

TEST(Remember, TheDeleteLimitCountsRememberedDeletes) {
    RememberFixture f;
    f.run.Task.set_delete_limit(20);
    f.run.Start = RunStart::Console;
    std::vector<TreeFile> files;
    for (int i = 0; i < 10; ++i)
        files.push_back({"f" + std::to_string(i), "x"});
    f.tmp.build(f.host, files);
    f.tmp.build(f.mirror, files);
    f.Run();
    for (int i = 0; i < 5; ++i)
        fs::remove(fs::path(f.host) / ("f" + std::to_string(i)));
    EXPECT_EQ(f.RunAgain(), RunOutcome::Skipped);
    EXPECT_EQ(f.run.Refusal, RefusalReason::DeleteLimit);
    EXPECT_EQ(ReadTree(f.mirror).size(), 10u);
}

TEST(Remember, ACancelledRunRecordsOnlyWhatItDid) {
    RememberFixture f;
    std::vector<TreeFile> files;
    for (int i = 0; i < 6; ++i)
        files.push_back({"f" + std::to_string(i), "x"});
    f.tmp.build(f.host, files);
    f.tmp.build(f.mirror, files);
    f.Run();
    for (int i = 0; i < 6; ++i)
        fs::remove(fs::path(f.host) / ("f" + std::to_string(i)));
    int ops = 0;
    f.run.BeforeFileOperation = [&](std::string_view, TSyncOp) {
        if (++ops == 3)
            RequestCancel(f.run);
    };
    EXPECT_EQ(f.RunAgain(), RunOutcome::Cancelled);
    f.run.BeforeFileOperation = nullptr;
    const std::size_t left = ReadTree(f.mirror).size();
    EXPECT_GT(left, 0u);
    // The deletes not done are still remembered: the next run finishes them
    // instead of copying the files back.
    f.RunAgain();
    EXPECT_TRUE(ReadTree(f.mirror).empty()) << f.Text();
    EXPECT_TRUE(ReadTree(f.host).empty()) << f.Text();
}

TEST(LastRunRecord, ReadsWhatWasWrittenAndRefusesOthers) {
    TempRoot tmp;
    const MemoryOwner owner{"Task", "/h", "/m", false};
    const std::string file = MemoryFileOf(tmp.sub("s"), owner);
    const std::vector<std::pair<RememberedFile, std::string>> files = {
        {{PathKey("/a", false), 1, 2, 3, 4, 5}, "/a"},
        {{PathKey("/b", false), 6, 7, 8, 9, 10}, "/b"},
        {{42}, "/x"}, // the same key twice: neither is kept
        {{42}, "/y"}};
    std::vector<MemoryRef> refs;
    for (std::uint32_t i = 0; i < files.size(); ++i)
        refs.push_back({files[i].first.Key, i, 0});
    std::string error;
    ASSERT_TRUE(WriteLastRun(
        file, owner, 1234, refs,
        [&](const MemoryRef& r, RememberedFile& v, std::string_view& rel) {
            v = files[r.A].first;
            rel = files[r.A].second;
        },
        error))
        << error;
    LastRun last;
    ASSERT_EQ(last.Read(file, owner), MemoryRead::Ok);
    EXPECT_EQ(last.Time, 1234);
    ASSERT_EQ(last.Files.size(), 2u);
    const RememberedFile* b = last.Find(PathKey("/b", false));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->Size, 6);
    EXPECT_EQ(b->MirrorTag, 10u);
    EXPECT_EQ(last.Find(42), nullptr);
    EXPECT_EQ(PathKey("/A", true), PathKey("/a", true));
    EXPECT_NE(PathKey("/A", false), PathKey("/a", false));

    EXPECT_EQ(last.Read(file, {"Task", "/h", "/other", false}), MemoryRead::Foreign);
    EXPECT_EQ(last.Read(file + "x", owner), MemoryRead::Missing);
    // Any flipped byte is damage.
    std::fstream io(file, std::ios::in | std::ios::out | std::ios::binary);
    io.seekp(70);
    io.put('\x7f');
    io.close();
    EXPECT_EQ(last.Read(file, owner), MemoryRead::Damaged);
    EXPECT_TRUE(last.Files.empty());
}

} // namespace
} // namespace duplora::test
