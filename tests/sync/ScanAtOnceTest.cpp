// The mirror scanned on a thread of its own while the host is scanned: a
// cancel stops it within one folder, and a run writes the same result lines
// and shows the same steps as with one side after the other.
#include "sync/fs/FileIo.h"
#include "sync/run/SyncRun.h"

#include "TreeFixture.h"
#include "UnreadableIo.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>

using namespace duplora;
using namespace duplora::test;

namespace {

// Holds the opening of every folder named `name` until Open() is called.
class FolderGate {
public:
    explicit FolderGate(std::string name) : name_(std::move(name)) {}
    FileIoCalls Calls() {
        FileIoCalls io;
        io.openDir = [this](int dirFd, const char* path, int flags) {
            if (name_ == path) {
                std::unique_lock<std::mutex> lock(mutex_);
                opened_.wait(lock, [this] { return open_; });
            }
            return KernelFileIo().openDir(dirFd, path, flags);
        };
        return io;
    }
    void Open() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        opened_.notify_all();
    }

private:
    const std::string name_;
    std::mutex mutex_;
    std::condition_variable opened_;
    bool open_ = false;
};

// DUPLORA_SCAN_AHEAD set to `threads` while it lives.
class ScanAhead {
public:
    explicit ScanAhead(const char* threads) { setenv("DUPLORA_SCAN_AHEAD", threads, 1); }
    ~ScanAhead() { unsetenv("DUPLORA_SCAN_AHEAD"); }
    ScanAhead(const ScanAhead&) = delete;
    ScanAhead& operator=(const ScanAhead&) = delete;
};

TEST(ScanAtOnce, CancelStopsTheMirrorWithinOneFolder) {
    // The mirror's scan waits at "gate" until the run has been cancelled and
    // pumped once more: nothing of it may be kept. With folders read ahead,
    // a thread waits there and the mirror's walk waits for it.
    const std::pair<const char*, RunState> cases[] = {{"0", RunState::ScanHost},
                                                      {"0", RunState::ScanMirror},
                                                      {"4", RunState::ScanHost},
                                                      {"4", RunState::ScanMirror}};
    for (const auto& [ahead, cancelIn] : cases) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(cancelIn) << " ahead " << ahead);
        const ScanAhead threads(ahead);
        RunFixture f;
        f.OneWay();
        std::vector<TreeFile> hostFiles;
        for (int i = 0; i < 40; ++i) // more than one progress call in the root
            hostFiles.push_back({"h" + std::to_string(i), "h"});
        hostFiles.push_back({"hd/h", "h"});
        f.tmp.build(f.host, hostFiles);
        f.tmp.build(f.mirror, {{"a/1", "1"},
                               {"gate/g1", "g"},
                               {"gate/sub/g2", "g"},
                               {"late/l1", "l"},
                               {"late/sub/l2", "l"}});
        FolderGate gate("gate");
        ScopedFileIo io(gate.Calls());
        bool cancelled = false;
        f.ui.onPump = [&] {
            if (cancelled)
                gate.Open();
            else if (f.run.State == cancelIn)
                cancelled = RequestCancel(f.run);
        };
        EXPECT_EQ(f.Run(), RunOutcome::Cancelled);
        EXPECT_TRUE(cancelled);
        for (const TFileEntry& e : f.run.Plan.MirrorFiles)
            EXPECT_EQ(e.RelPath.find("/gate"), std::string_view::npos) << e.RelPath;
        EXPECT_EQ(ReadTree(f.mirror).count("h0"), 0u); // nothing copied
    }
}

TEST(ScanAtOnce, RunWritesTheSerialScansLinesAndSteps) {
    struct Outcome {
        std::vector<std::string> lines, statuses;
        std::map<std::string, std::string> host, mirror;
    };
    const auto runOnce = [](bool serial, const char* ahead) {
        const ScanAhead threads(ahead);
        RunFixture f;
        f.OneWay();
        f.run.Task.set_only_in_mirror_action(SyncAction::MirrorToHost);
        f.run.Task.set_empty_folder_action(SyncAction::MirrorToHost);
        f.tmp.build(f.host, {{"a", "new", kT0 + 60}, {"locked/in", "i"}, {"d/b", "b"}});
        f.tmp.build(f.mirror, {{"a", "old"},
                               {"m", "m"},
                               {"locked/only-here", "h"},
                               {"locked/empty/"},
                               {"shut/z", "z"}});
        // The host's "locked" and the mirror's "shut" cannot be read.
        ScopedFileIo io(UnreadableAll({"/host/locked", "/mirror/shut"}));
        f.run.SerialScan = serial;
        EXPECT_EQ(f.Run(), RunOutcome::Finished);
        return Outcome{f.lines.Lines(), f.ui.statuses, ReadTree(f.host), ReadTree(f.mirror)};
    };
    const Outcome serial = runOnce(true, "0");
    const std::pair<bool, const char*> others[] = {{false, "0"}, {false, "3"}, {true, "2"}};
    for (const auto& [serialScan, ahead] : others) {
        SCOPED_TRACE(testing::Message() << "serial " << serialScan << ", ahead " << ahead);
        const Outcome other = runOnce(serialScan, ahead);
        EXPECT_EQ(other.lines, serial.lines);
        EXPECT_EQ(other.statuses, serial.statuses);
        EXPECT_EQ(other.host, serial.host);
        EXPECT_EQ(other.mirror, serial.mirror);
    }
    EXPECT_EQ(serial.host.count("locked/only-here"), 0u); // unknown to the host: left
    EXPECT_EQ(serial.host.count("m"), 1u);
}

} // namespace
