#include "ui/SyncForm.h"

#include "WindowTestSupport.h"
#include "platform/widgets/PmGauge.h"
#include "sync/run/SyncRun.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>

#include <algorithm>

namespace duplora {
namespace {

using testing::BoxScript;
using testing::WriteFileText;
namespace fs = std::filesystem;

// One slow copy: 640 KiB at 1,280 KiB/s takes about half a second, long
// enough to press Cancel or try to close the window while it runs.
class SyncFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        SetLanguage(Language::English);
        root_ = dir_.path().toStdString();
        WriteFileText(root_ / "host" / "big.bin", std::string(640 * 1024, 'b'));
        fs::create_directories(root_ / "mirror");
        TaskRecord r = TaskRecord::MakeNew("d");
        r.set_host_path((root_ / "host").string());
        r.set_mirror_path((root_ / "mirror").string());
        r.set_only_in_host_action(SyncAction::HostToMirror);
        r.set_speed_limit(1280);
        run_.TaskName = "Slow";
        run_.Task = r;
        run_.Lines = &lines_;
        PrepareRoots(run_);
    }

    // Calls `act` every 5 ms while the run goes on.
    void EveryTick(std::function<void()> act) {
        QObject::connect(&ticker_, &QTimer::timeout, act);
        ticker_.start(5);
    }

    QTemporaryDir dir_;
    fs::path root_;
    ResultLines lines_;
    RunContext run_;
    TSyncForm form_;
    BoxScript boxes_;
    QTimer ticker_;
};

TEST_F(SyncFormTest, StaysLiveWhileCopying) {
    QElapsedTimer clock;
    qint64 last = -1, worstGap = 0;
    bool sawAnimation = false;
    // The progress line's clock runs four times as fast, so the half-second
    // copy lasts long enough for a speed and a time left.
    const auto start = std::chrono::steady_clock::now();
    form_.Clock = [start] { return start + 4 * (std::chrono::steady_clock::now() - start); };
    QString withTimeLeft;
    EveryTick([&] {
        if (run_.State != RunState::ExecHost)
            return;
        if (form_.lbProgress->text().contains("Time left: "))
            withTimeLeft = form_.lbProgress->text();
        sawAnimation = sawAnimation || form_.AnimationRunning();
        const qint64 now = clock.elapsed();
        if (last >= 0)
            worstGap = std::max(worstGap, now - last);
        last = now;
    });
    clock.start();
    form_.Execute(run_);
    EXPECT_EQ(run_.Outcome, RunOutcome::Finished);
    EXPECT_GT(clock.elapsed(), 300); // the speed limit held
    EXPECT_GE(last, 0) << "the event loop never ran during the copy";
    EXPECT_LT(worstGap, 100);
    EXPECT_TRUE(sawAnimation);
    EXPECT_FALSE(form_.AnimationRunning());
    EXPECT_EQ(form_.totMeter->Progress(), 100);
    EXPECT_EQ(form_.Label1->text(), "Synchronizing...");
    EXPECT_TRUE(form_.Label4->text().startsWith("Total: "));
    EXPECT_TRUE(withTimeLeft.contains(
        QRegularExpression("^Files: 0 of 1    Speed: .*/s    Time left: 0:0[0-9]$")))
        << withTimeLeft.toStdString();
    EXPECT_EQ(fs::file_size(root_ / "mirror" / "big.bin"), 640u * 1024u);
    EXPECT_FALSE(form_.isVisible());
    // Shown, not quiet: the end of the run would open the result window.
    EXPECT_TRUE(run_.ResultShown);
}

TEST_F(SyncFormTest, RefusesToCloseWhileTheRunGoesOn) {
    int tries = 0;
    EveryTick([&] {
        if (run_.State != RunState::ExecHost || tries >= 3)
            return;
        ++tries;
        form_.close();
        form_.reject();
        EXPECT_TRUE(form_.isVisible());
    });
    form_.Execute(run_);
    EXPECT_EQ(tries, 3);
    EXPECT_EQ(run_.Outcome, RunOutcome::Finished);
    EXPECT_TRUE(fs::exists(root_ / "mirror" / "big.bin"));
}

TEST_F(SyncFormTest, CancelAnsweredNoChangesNothing) {
    bool pressed = false;
    EveryTick([&] {
        if (run_.State == RunState::ExecHost && !pressed) {
            pressed = true;
            boxes_.answers = {false};
            form_.btnCancel->click();
        }
    });
    form_.Execute(run_);
    ASSERT_TRUE(pressed);
    EXPECT_EQ(boxes_.texts(), std::vector<std::string>{"Task is running, stop it or not?"});
    EXPECT_EQ(boxes_.seen[0].caption, "Warning");
    EXPECT_EQ(run_.Outcome, RunOutcome::Finished);
    EXPECT_EQ(run_.EndLine, "Task finish!");
}

TEST_F(SyncFormTest, CancelDuringTheCopyEndsTheRunAndKeepsTheMirrorClean) {
    bool pressed = false;
    std::string endLine;
    form_.OnEndLine = [&](const std::string& l) { endLine = l; };
    EveryTick([&] {
        if (run_.State == RunState::ExecHost && !pressed) {
            pressed = true;
            boxes_.answers = {true};
            form_.btnCancel->click();
        }
    });
    form_.Execute(run_);
    ASSERT_TRUE(pressed);
    EXPECT_EQ(run_.Outcome, RunOutcome::Cancelled);
    EXPECT_EQ(run_.CancelState, RunState::ExecHost);
    EXPECT_EQ(endLine, "User break the task!");
    // A cancel while copying still shows the result.
    EXPECT_TRUE(run_.ResultShown);
    EXPECT_EQ(run_.State, RunState::Idle);
    // No half-copied file, under its name or any other.
    EXPECT_TRUE(fs::is_empty(root_ / "mirror"));
    // After the run Cancel does nothing and asks nothing.
    boxes_.seen.clear();
    form_.btnCancelClick();
    EXPECT_TRUE(boxes_.seen.empty());
}

TEST_F(SyncFormTest, NothingToDoEndsAfterTheScanWithItsNotice) {
    fs::remove(root_ / "host" / "big.bin");
    form_.Execute(run_);
    EXPECT_EQ(run_.Outcome, RunOutcome::NothingToDo);
    EXPECT_EQ(boxes_.texts(), std::vector<std::string>{"No file need to be synchronized!"});
    EXPECT_EQ(boxes_.seen[0].kind, BoxKind::Notice);
    EXPECT_FALSE(run_.ResultShown);
    // A preview is never asked when nothing is to be done; a declined one
    // ends the run with its line.
    fs::create_directories(root_ / "host");
    WriteFileText(root_ / "host" / "n.txt", "n");
    int previews = 0;
    form_.Preview = [&](SyncPlan&, const RunContext&) {
        ++previews;
        return false;
    };
    form_.Execute(run_);
    EXPECT_EQ(previews, 1);
    EXPECT_EQ(run_.Outcome, RunOutcome::Declined);
    EXPECT_FALSE(fs::exists(root_ / "mirror" / "n.txt"));
    EXPECT_EQ(lines_.Lines()[lines_.Lines().size() - 2], "User cancel the task!");
}

TEST_F(SyncFormTest, QuietRunShowsNoBoxNoPreviewNoResult) {
    run_.Task.set_auto_mode(true);
    int previews = 0;
    form_.Preview = [&](SyncPlan&, const RunContext&) { return ++previews, true; };
    form_.Execute(run_);
    EXPECT_EQ(run_.Outcome, RunOutcome::Finished);
    EXPECT_EQ(previews, 0);
    EXPECT_FALSE(run_.ResultShown);
    form_.Execute(run_); // nothing left to do: still no box
    EXPECT_EQ(run_.Outcome, RunOutcome::NothingToDo);
    EXPECT_TRUE(boxes_.seen.empty());
}

} // namespace
} // namespace duplora
