// Moved and renamed files: pairing, the run's renames and what they must
// never do (pair the wrong files, lose a file when cancelled, copy bytes).

#include "sync/compare/MoveDetection.h"
#include "sync/fs/FileIo.h"
#include "sync/fs/FileTime.h"
#include "tasks/TextTable.h"

#include "TreeFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace duplora;
using namespace duplora::test;

namespace {

// A mirror kept in step with the host: new files copied over, files gone
// from the host deleted from the mirror, moves detected.
struct MoveFixture : RunFixture {
    MoveFixture() {
        SetLanguage(Language::English);
        OneWay();
        run.Task.set_only_in_mirror_action(SyncAction::Delete);
        run.Task.set_detect_moves(true);
        run.Task.set_move_min_size(1);
        run.Start = RunStart::CommandLine;
    }
    std::int64_t copiedBytes() const { return run.Plan.DoneBytes; }
};

std::string Content(int i, std::size_t size = 3000) {
    std::string s(size, 'x');
    for (std::size_t k = 0; k < size; k += 7)
        s[k] = static_cast<char>('a' + (i + k) % 26);
    return s;
}

bool HasLine(const std::string& text, const std::string& line) {
    return text.find(line + "\n") != std::string::npos;
}

} // namespace

TEST(MovePairing, UniqueBySizeAndTimeWithinTheTolerance) {
    const std::int32_t t = PackLocalFields(2024, 5, 6, 12, 0, 0);
    const std::int32_t t2 = PackLocalFields(2024, 5, 6, 12, 0, 2);
    const std::int32_t t4 = PackLocalFields(2024, 5, 6, 12, 0, 4);
    const std::int32_t hour = PackLocalFields(2024, 5, 6, 13, 0, 0);
    const double twoSeconds = 2.0 / 86400 + 1e-8;
    struct Case {
        const char* name;
        std::vector<MoveCandidate> sources, targets;
        bool ignoreHour;
        std::vector<std::pair<std::size_t, std::size_t>> want;
    };
    const Case cases[] = {
        {"one of each", {{0, 10, t}}, {{0, 10, t}}, true, {{0, 0}}},
        {"other size", {{0, 10, t}}, {{0, 11, t}}, true, {}},
        {"two seconds is the same time", {{0, 10, t}}, {{0, 10, t2}}, true, {{0, 0}}},
        {"four seconds is not", {{0, 10, t}}, {{0, 10, t4}}, true, {}},
        {"one hour with the allowance", {{0, 10, t}}, {{0, 10, hour}}, true, {{0, 0}}},
        {"one hour without it", {{0, 10, t}}, {{0, 10, hour}}, false, {}},
        {"two targets for one source", {{0, 10, t}}, {{0, 10, t}, {1, 10, t2}}, true, {}},
        {"two sources for one target", {{0, 10, t}, {1, 10, t}}, {{0, 10, t}}, true, {}},
        {"a source whose target is shared", {{0, 10, t}, {1, 10, t4}}, {{0, 10, t2}}, true, {}},
        {"distinct sizes pair one to one",
         {{0, 30, t}, {1, 10, t}, {2, 20, t}},
         {{0, 20, t}, {1, 30, t}, {2, 10, t}},
         true,
         {{0, 1}, {1, 2}, {2, 0}}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(UniquePairs(c.sources, c.targets, twoSeconds, c.ignoreHour), c.want) << c.name;
}

TEST(MoveRun, RenamedFolderBecomesMovesAndCopiesNoByte) {
    MoveFixture f;
    std::vector<TreeFile> host, mirror;
    for (int i = 0; i < 6; ++i) {
        host.push_back(
            {"photos 2024/img" + std::to_string(i) + ".jpg", Content(i, 3000 + i), kT0 + 10 * i});
        mirror.push_back(
            {"photos/img" + std::to_string(i) + ".jpg", Content(i, 3000 + i), kT0 + 10 * i});
    }
    // A renamed file in the root, and a file only on the host that is a plain copy.
    host.push_back({"renamed.doc", Content(99, 5000)});
    mirror.push_back({"draft.doc", Content(99, 5000)});
    host.push_back({"fresh.txt", "fresh"});
    f.tmp.build(f.host, host);
    f.tmp.build(f.mirror, mirror);

    EXPECT_EQ(f.Run(), RunOutcome::Finished);
    EXPECT_EQ(f.run.Plan.MoveCount, 7);
    EXPECT_EQ(f.run.Plan.MovedCount, 7);
    EXPECT_EQ(f.run.Plan.TotalBytes, 5); // only fresh.txt
    EXPECT_EQ(f.copiedBytes(), 5);
    EXPECT_EQ(f.run.Plan.DeletedInMirror, 0);
    EXPECT_EQ(f.run.Plan.CopiedToMirror, 1);
    auto hostTree = ReadTree(f.host);
    auto mirrorTree = ReadTree(f.mirror);
    mirrorTree.erase("photos/"); // the emptied old folder stays, as after any delete
    EXPECT_EQ(mirrorTree, hostTree);
    const std::string text = f.Text();
    EXPECT_TRUE(HasLine(text, "Moved files: 7")) << text;
    EXPECT_TRUE(HasLine(text, "Failed to synchronize: 0")) << text;
    // The moved files kept their times: the next run has nothing to do.
    f.lines = ResultLines();
    EXPECT_EQ(f.Run(), RunOutcome::NothingToDo);
}

TEST(MoveRun, FilesThatMustNotBePairedAreCopiedAndDeleted) {
    struct Case {
        const char* name;
        std::vector<TreeFile> host, mirror;
        std::uint32_t minSize;
    };
    const std::string big = Content(1, 4000);
    std::string other = big;
    other[2000] ^= 1;
    const Case cases[] = {
        {"same size and time, other bytes", {{"new.bin", big}}, {{"old.bin", other}}, 1},
        {"two equal candidates",
         {{"new1.bin", big}, {"new2.bin", big}},
         {{"old1.bin", big}, {"old2.bin", big}},
         1},
        {"below the smallest size", {{"new.bin", big}}, {{"old.bin", big}}, 0}, // 0 = 64 KiB
        {"empty files", {{"new.bin", ""}}, {{"old.bin", ""}}, 1},
    };
    for (const Case& c : cases) {
        MoveFixture f;
        f.run.Task.set_move_min_size(c.minSize);
        f.tmp.build(f.host, c.host);
        f.tmp.build(f.mirror, c.mirror);
        EXPECT_EQ(f.Run(), RunOutcome::Finished) << c.name;
        EXPECT_EQ(f.run.Plan.MovedCount, 0) << c.name;
        EXPECT_EQ(f.run.Plan.CopiedToMirror, static_cast<int>(c.host.size())) << c.name;
        EXPECT_EQ(f.run.Plan.DeletedInMirror, static_cast<int>(c.mirror.size())) << c.name;
        EXPECT_EQ(ReadTree(f.mirror), ReadTree(f.host)) << c.name;
    }
}

TEST(MoveRun, OnlyTheTasksOwnCopyAndDeleteMakeAMove) {
    const std::string data = Content(5, 4000);
    // Without deletes in the mirror nothing may vanish there.
    {
        MoveFixture f;
        f.run.Task.set_only_in_mirror_action(SyncAction::Ignore);
        f.tmp.build(f.host, {{"b/new.bin", data}});
        f.tmp.build(f.mirror, {{"a/old.bin", data}});
        std::string error;
        PrepareRoots(f.run);
        ASSERT_TRUE(BuildPlan(f.run, error));
        EXPECT_EQ(f.run.Plan.MoveCount, 0);
    }
    // A file the delete masks mark is deleted, not kept under a new name.
    {
        MoveFixture f;
        f.run.Task.set_delete_masks("*.tmp\r\n");
        f.run.Task.set_delete_masks_enabled(true);
        f.tmp.build(f.host, {{"b/new.bin", data}});
        f.tmp.build(f.mirror, {{"a/old.tmp", data}});
        std::string error;
        PrepareRoots(f.run);
        ASSERT_TRUE(BuildPlan(f.run, error));
        EXPECT_EQ(f.run.Plan.MoveCount, 0);
    }
    // The other way round: the host's file is renamed after the mirror's.
    {
        MoveFixture f;
        f.run.Task = TaskRecord::MakeNew("");
        f.run.Task.set_host_path(f.host);
        f.run.Task.set_mirror_path(f.mirror);
        f.run.Task.set_include_subfolders(true);
        f.run.Task.set_only_in_mirror_action(SyncAction::MirrorToHost);
        f.run.Task.set_only_in_host_action(SyncAction::Delete);
        f.run.Task.set_detect_moves(true);
        f.run.Task.set_move_min_size(1);
        f.tmp.build(f.host, {{"a/old.bin", data}, {"keep.txt", "k"}});
        f.tmp.build(f.mirror, {{"b/c/new.bin", data}, {"keep.txt", "k"}});
        EXPECT_EQ(f.Run(), RunOutcome::Finished);
        EXPECT_EQ(f.run.Plan.MovedCount, 1);
        EXPECT_EQ(f.copiedBytes(), 0);
        auto hostTree = ReadTree(f.host);
        hostTree.erase("a/");
        EXPECT_EQ(hostTree, ReadTree(f.mirror));
    }
}

TEST(MoveRun, OptionOffGivesTheSamePlanAndLinesAsBefore) {
    const std::string data = Content(7, 4000);
    auto planOf = [&](bool detect, std::vector<int>& ops, std::string& text) {
        MoveFixture f;
        f.run.Task.set_detect_moves(detect);
        f.tmp.build(f.host, {{"b/new.bin", data}, {"same.txt", "s"}});
        f.tmp.build(f.mirror, {{"a/old.bin", data}, {"same.txt", "s"}});
        EXPECT_EQ(f.Run(), RunOutcome::Finished);
        for (const TFileEntry& e : f.run.Plan.HostFiles)
            ops.push_back(e.Op);
        for (const TFileEntry& e : f.run.Plan.MirrorFiles)
            ops.push_back(e.Op);
        text = f.Text();
        return f.run.Plan.MoveCount;
    };
    std::vector<int> offOps, onOps;
    std::string offText, onText;
    EXPECT_EQ(planOf(false, offOps, offText), 0);
    EXPECT_EQ(planOf(true, onOps, onText), 1);
    std::sort(offOps.begin(), offOps.end());
    EXPECT_EQ(offOps, (std::vector<int>{opNone, opNone, opDelete, opToMirror}));
    EXPECT_EQ(offText.find("Moved files"), std::string::npos);
    EXPECT_TRUE(HasLine(onText, "Moved files: 1")) << onText;
}

TEST(MoveRun, AFileChangedAfterTheScanIsLeftAndCountedAsAFailure) {
    MoveFixture f;
    f.run.Start = RunStart::Window; // the preview is where the user edits the file
    const std::string data = Content(3, 4000);
    f.tmp.build(f.host, {{"new.bin", data}, {"n2.bin", Content(4, 4100)}});
    f.tmp.build(f.mirror, {{"old.bin", data}, {"o2.bin", Content(4, 4100)}});
    f.ui.onPreview = [&](SyncPlan& plan) {
        EXPECT_EQ(plan.MoveCount, 2);
        std::ofstream(f.mirror + "/old.bin", std::ios::app) << "edited";
        return true;
    };
    EXPECT_EQ(f.Run(), RunOutcome::Finished);
    EXPECT_EQ(f.run.Plan.MovedCount, 1);
    EXPECT_EQ(f.run.Plan.FailedCount, 1);
    EXPECT_EQ(f.run.Plan.CopiedToMirror, 0);
    EXPECT_EQ(f.run.Plan.DeletedInMirror, 0);
    const auto tree = ReadTree(f.mirror);
    EXPECT_EQ(tree.at("old.bin"), data + "edited");
    EXPECT_EQ(tree.count("new.bin"), 0u);
    EXPECT_EQ(tree.count("n2.bin"), 1u);
    EXPECT_NE(f.Text().find("Failed to move file, path: " + f.mirror + "/old.bin -> " + f.mirror +
                            "/new.bin"),
              std::string::npos)
        << f.Text();
}

TEST(MoveRun, CancelInTheMiddleOfMovesLosesNoFile) {
    MoveFixture f;
    std::vector<TreeFile> host, mirror;
    for (int i = 0; i < 20; ++i) {
        host.push_back({"new/f" + std::to_string(i), Content(i, 2000 + i)});
        mirror.push_back({"old/f" + std::to_string(i), Content(i, 2000 + i)});
    }
    f.tmp.build(f.host, host);
    f.tmp.build(f.mirror, mirror);
    int movesSeen = 0;
    f.ui.onPump = [&] {
        if (f.run.State == RunState::ExecHost && ++movesSeen == 8)
            RequestCancel(f.run);
    };
    EXPECT_EQ(f.Run(), RunOutcome::Cancelled);
    EXPECT_GT(f.run.Plan.MovedCount, 0);
    EXPECT_LT(f.run.Plan.MovedCount, 20);
    const auto tree = ReadTree(f.mirror);
    for (int i = 0; i < 20; ++i) {
        const std::string n = "f" + std::to_string(i);
        const bool atOld = tree.count("old/" + n) != 0;
        const bool atNew = tree.count("new/" + n) != 0;
        EXPECT_NE(atOld, atNew) << n;
        EXPECT_EQ(tree.count("old/" + n) ? tree.at("old/" + n) : tree.at("new/" + n),
                  Content(i, 2000 + i));
    }
    EXPECT_EQ(f.copiedBytes(), 0);
}

TEST(MoveRun, ALinkIsNeverMovedInPlaceOfAFile) {
    MoveFixture f;
    const std::string data = Content(8, 4000);
    f.tmp.build(f.host, {{"new.bin", data}});
    f.tmp.build(f.tmp.sub("outside"), {{"real.bin", data}});
    f.tmp.build(f.mirror, {{"keep.txt", "k"}});
    ASSERT_EQ(symlink(f.tmp.sub("outside/real.bin").c_str(), (f.mirror + "/old.bin").c_str()), 0);
    std::string error;
    PrepareRoots(f.run);
    ASSERT_TRUE(BuildPlan(f.run, error));
    // The link counts as the file it points to, so it is a candidate of the
    // right size and time; renaming it would put a link where a copy belongs.
    EXPECT_EQ(f.run.Plan.MoveCount, 0);
    EXPECT_EQ(f.run.Plan.ToMirrorCount, 1);
}

namespace {

int Sh(const std::string& cmd) {
    return std::system((cmd + " >/dev/null 2>&1").c_str());
}

// A small exFAT image on a loop device, mounted through FUSE: a file system
// that ignores letter case, like a USB stick.
class ExfatMount {
public:
    explicit ExfatMount(const TempRoot& tmp) : image_(tmp.sub("disk.img")), dir_(tmp.sub("usb")) {
        reason_ = mount();
    }
    ~ExfatMount() {
        if (mounted_)
            Sh("umount '" + dir_ + "'");
        if (!loop_.empty())
            Sh("losetup -d " + loop_);
    }
    const std::string& Reason() const { return reason_; }
    const std::string& Dir() const { return dir_; }

private:
    std::string mount() {
        if (Sh("command -v mkfs.exfat && command -v mount.exfat-fuse && command -v losetup") != 0)
            return "exfat-fuse, exfatprogs or losetup is not installed";
        if (Sh("truncate -s 32M '" + image_ + "' && mkfs.exfat '" + image_ + "'") != 0)
            return "mkfs.exfat failed";
        FILE* p = popen(("losetup -f --show '" + image_ + "' 2>/dev/null").c_str(), "r");
        char buf[64] = {};
        if (p) {
            if (!fgets(buf, sizeof buf, p))
                buf[0] = 0;
            pclose(p);
        }
        loop_ = buf;
        while (!loop_.empty() && loop_.back() == '\n')
            loop_.pop_back();
        if (loop_.empty())
            return "no loop device can be had here";
        if (Sh("mkdir -p '" + dir_ + "' && mount.exfat-fuse " + loop_ + " '" + dir_ + "'") != 0)
            return "mount.exfat-fuse failed (no FUSE mounts allowed here?)";
        mounted_ = true;
        return "";
    }
    std::string image_, dir_, loop_, reason_;
    bool mounted_ = false;
};

} // namespace

// A rename on a disk that ignores case, where only the case changed: the
// new name finds the old file, which must not count as "the new path
// exists". (Copy + delete would copy onto the old file and then delete it.)
TEST(MoveRun, ACaseOnlyRenameOnADiskThatIgnoresCase) {
    MoveFixture f;
    ExfatMount usb(f.tmp);
    if (!usb.Reason().empty())
        GTEST_SKIP() << usb.Reason();
    const std::string data = Content(11, 4000);
    f.tmp.build(f.host, {{"Report.bin", data}});
    f.tmp.build(usb.Dir(), {{"report.bin", data}});
    f.run.Task.set_mirror_path(usb.Dir());
    ASSERT_TRUE(f.Gate());
    // As a run that does not know the disk ignores case would see it.
    f.run.FoldCase = false;
    BeginRun(f.run);
    StepListMain(f.run);
    ASSERT_TRUE(StepListMirror(f.run));
    ASSERT_EQ(f.run.Plan.MoveCount, 1);
    StepSyncMain(f.run);
    StepSyncMirror(f.run);
    StepSyncFolder(f.run);
    EXPECT_EQ(f.run.Plan.MovedCount, 1) << f.Text();
    EXPECT_EQ(f.run.Plan.FailedCount, 0) << f.Text();
    EXPECT_EQ(ReadTree(usb.Dir()), (std::map<std::string, std::string>{{"Report.bin", data}}));
}

// Several pairs are compared at once: each pair keeps its own result (a
// difference in the last step of one file moves no other), and the observer
// hears only from the thread that runs the task.
TEST(MoveRun, ConcurrentComparesKeepEachPairsResultAndTheCallersThread) {
    MoveFixture f;
    constexpr std::size_t kBig = (1 << 20) + 100; // two steps of the compare
    std::vector<TreeFile> host, mirror;
    for (int i = 0; i < 10; ++i) {
        std::string data = Content(i, kBig + i);
        host.push_back({"new/f" + std::to_string(i), data});
        if (i % 4 == 1)
            data.back() ^= 1;
        mirror.push_back({"old/f" + std::to_string(i), data});
    }
    f.tmp.build(f.host, host);
    f.tmp.build(f.mirror, mirror);
    const std::thread::id caller = std::this_thread::get_id();
    int foreign = 0;
    f.ui.onPump = [&] { foreign += std::this_thread::get_id() != caller; };
    f.ui.onTotals = f.ui.onPump;
    EXPECT_EQ(f.Run(), RunOutcome::Finished);
    EXPECT_EQ(foreign, 0);
    EXPECT_EQ(f.run.Plan.MovedCount, 7);
    EXPECT_EQ(f.run.Plan.CopiedToMirror, 3);
    EXPECT_EQ(f.run.Plan.DeletedInMirror, 3);
    auto tree = ReadTree(f.mirror);
    tree.erase("old/");
    EXPECT_TRUE(tree == ReadTree(f.host)); // files of 1 MiB: no printout
}

// A cancel while pairs are being compared reaches the workers: each ends
// the step it is in and starts no other pair, and nothing changes on disk.
// Reads are held back until the cancel, so every worker is mid-pair then
// (only the first worker to read gets through one step, which makes the
// pump that cancels).
TEST(MoveRun, CancelWhileComparingStopsTheWorkersAndChangesNothing) {
    MoveFixture f;
    std::vector<TreeFile> host, mirror;
    for (int i = 0; i < 12; ++i) {
        const std::string data = Content(i, (1 << 20) + i);
        host.push_back({"new/f" + std::to_string(i), data});
        mirror.push_back({"old/f" + std::to_string(i), data});
    }
    f.tmp.build(f.host, host);
    f.tmp.build(f.mirror, mirror);
    const auto hostBefore = ReadTree(f.host);
    const auto mirrorBefore = ReadTree(f.mirror);
    std::mutex mutex;
    std::thread::id first;
    int firstReads = 0;
    std::atomic<bool> cancelled{false};
    std::atomic<int> readsAfterCancel{0};
    FileIoCalls calls;
    calls.read = [&](int fd, void* buf, size_t count) {
        bool pass = false;
        {
            const std::lock_guard<std::mutex> lock(mutex);
            if (first == std::thread::id())
                first = std::this_thread::get_id();
            pass = first == std::this_thread::get_id() && firstReads++ < 2;
        }
        if (!pass) {
            for (int ms = 0; !cancelled && ms < 10000; ++ms)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            // The cancel is passed on to the workers once the pump returns.
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (cancelled)
            ++readsAfterCancel;
        return ::read(fd, buf, count);
    };
    const ScopedFileIo io(calls);
    f.ui.onPump = [&] {
        if (!cancelled && !f.ui.statuses.empty() && f.ui.statuses.back() == Msg(223)) {
            RequestCancel(f.run);
            cancelled = true;
        }
    };
    EXPECT_EQ(f.Run(), RunOutcome::Cancelled);
    EXPECT_TRUE(cancelled);
    // Four workers end their step: at most two reads (the data, the end of
    // the file) of each of their two files. Comparing on takes about 90.
    EXPECT_LE(readsAfterCancel, 16);
    EXPECT_EQ(f.copiedBytes(), 0);
    EXPECT_TRUE(ReadTree(f.host) == hostBefore);
    EXPECT_TRUE(ReadTree(f.mirror) == mirrorBefore);
}
