// Responsiveness of the progress window during a big copy. Runs one task of
// a configuration file quietly through the real TSyncForm, as the main window
// does for a command-line run, and prints one line of figures:
//
//   gui_responsiveness --config FILE --task NAME [--probe] [--cancel-at MS]
//
//   wall_ms     from the window's Execute to its return (scan, copy, end)
//   copy_ms     from the first copy step to the end of the copy
//   max_gap_ms  (--probe) longest time between two turns of the event loop
//               while the run goes on: how long a repaint or a click waits
//   max_paint_gap_ms  (--probe) longest time between two paint events of the
//               window's widgets during the copy (the animation paints every
//               frame, so a stall shows here)
//   cancel_*    (--cancel-at) a click on Cancel arrives at MS after the copy
//               began (posted from another thread, as the window system
//               would); the box is answered Yes. click_ms: until the click
//               was handled and the run state left the copy; stop_ms: until
//               the run had ended.
//
// Without --probe and --cancel-at nothing but the run itself touches the
// event loop, so wall_ms compares with `duplora-cli run NAME`.
//
//   gui_responsiveness --replay N
//
// shows the window and gives it what a copy of N small files shows (a path,
// the gauges and the totals per file, a pump before each file), with no
// disk work, then the same to a do-nothing observer: the difference is the
// window's own cost per file, free of the disk's noise.

#include "platform/widgets/PmGauge.h"
#include "sync/run/RunDisplay.h"
#include "sync/run/SyncRun.h"
#include "sync/share/ShareRun.h"
#include "tasks/ConfigFile.h"
#include "tasks/Helpers.h"
#include "tasks/TaskList.h"
#include "tasks/TextTable.h"
#include "ui/MessageBoxes.h"
#include "ui/SyncForm.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

using namespace duplora;
using Clock = std::chrono::steady_clock;

namespace {

double MsBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

// Notes when the copy starts and when the state leaves it, without changing
// what the window does.
class MeasuredForm : public TSyncForm {
public:
    RunContext* Run = nullptr;
    Clock::time_point CopyStart{}, CopyEnd{}, CancelSeen{};
    bool Copying = false;

    void Pump() override {
        note();
        TSyncForm::Pump();
        note();
    }
    void StartAnimation() override {
        TSyncForm::StartAnimation();
        CopyStart = Clock::now();
        Copying = true;
    }
    void SetStatus(const std::string& text) override {
        // The empty-folder step and the summary come after the copy.
        note();
        TSyncForm::SetStatus(text);
    }
    void StopAnimation() override {
        note();
        if (Copying) {
            Copying = false;
            CopyEnd = Clock::now();
        }
        TSyncForm::StopAnimation();
    }

private:
    void note() {
        if (Run && Run->State == RunState::Cancelled && CancelSeen == Clock::time_point{})
            CancelSeen = Clock::now();
    }
};

// Counts paint events of the window's widgets and the longest pause between
// two of them while the copy goes on.
class PaintWatch : public QObject {
public:
    const MeasuredForm* Form = nullptr;
    Clock::time_point Last{};
    double MaxGapMs = 0;
    long Paints = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() == QEvent::Paint && Form && Form->Copying) {
            const auto now = Clock::now();
            if (Last != Clock::time_point{})
                MaxGapMs = std::max(MaxGapMs, MsBetween(Last, now));
            Last = now;
            ++Paints;
        }
        return QObject::eventFilter(watched, e);
    }
};

// What the engine shows for `files` copied files of about 8 KiB, through the
// same change filters; returns the time taken in ms.
double Replay(RunObserver& ui, int files) {
    ResultLines lines;
    RunContext run;
    run.Lines = &lines;
    run.Ui = &ui;
    const std::int64_t total = std::int64_t{files} * 8192;
    std::int64_t done = 0;
    const auto t0 = Clock::now();
    ui.StartAnimation();
    for (int i = 0; i < files; ++i) {
        ui.Pump();
        ShowPath(run, "/tmp/guibench/small/t" + std::to_string(i / 2000) + "/s" +
                          std::to_string(i / 20 % 99) + "/f" + std::to_string(i) + ".dat");
        ShowOperation(run, Msg(65) + Msg(20));
        ShowFileGauge(run, 0);
        done += 8192;
        ShowFileGauge(run, 100);
        ShowTotalGauge(run, static_cast<int>(done * 100 / total));
        ShowTotals(run, MsgFill(51, ShortSizeText(done), ShortSizeText(total - done)));
    }
    ui.StopAnimation();
    return MsBetween(t0, Clock::now());
}

int Usage() {
    std::fprintf(
        stderr, "usage: gui_responsiveness --config FILE --task NAME [--probe] [--cancel-at MS]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    SetLanguage(Language::English);

    if (argc == 3 && std::strcmp(argv[1], "--replay") == 0) {
        const int files = std::atoi(argv[2]);
        RunObserver none;
        TSyncForm form;
        form.ApplyTexts();
        form.show();
        QCoreApplication::processEvents();
        const double windowMs = Replay(form, files);
        const double noneMs = Replay(none, files);
        std::printf("replay files=%d window_ms=%.1f none_ms=%.1f window_us_per_file=%.2f\n", files,
                    windowMs, noneMs, (windowMs - noneMs) * 1000.0 / files);
        return 0;
    }

    std::string config, taskName;
    bool probe = false;
    int cancelAt = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--config" && i + 1 < argc)
            config = argv[++i];
        else if (a == "--task" && i + 1 < argc)
            taskName = argv[++i];
        else if (a == "--probe")
            probe = true;
        else if (a == "--cancel-at" && i + 1 < argc)
            cancelAt = std::atoi(argv[++i]);
        else
            return Usage();
    }
    if (config.empty() || taskName.empty())
        return Usage();

    TaskList list;
    std::string error;
    if (LoadConfiguration(config, list, error) != LoadStatus::Loaded) {
        std::fprintf(stderr, "cannot load %s %s\n", config.c_str(), error.c_str());
        return 2;
    }
    const auto found = list.findNoCase(taskName);
    if (found.size() != 1) {
        std::fprintf(stderr, "no single task named %s\n", taskName.c_str());
        return 2;
    }

    MeasuredForm form;
    form.ApplyTexts();
    ResultLines lines;
    RunContext run;
    run.TaskName = list[found[0]].name;
    run.Task = list[found[0]].record;
    run.Start = RunStart::CommandLine; // quiet: no preview, no result window
    run.Lines = &lines;
    run.Ui = &form;
    form.Run = &run;

    ShareConnector shares;
    if (PassGate(run, shares) != GateVerdict::Ready)
        return 1;

    // Event-loop probe: a zero-interval timer fires once per turn of the loop.
    Clock::time_point lastTurn{};
    double maxGapMs = 0;
    int gapPercent = -1, gapState = -1;
    long turns = 0;
    QTimer turnTimer;
    turnTimer.setInterval(0);
    QObject::connect(&turnTimer, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        if (lastTurn != Clock::time_point{} && run.State != RunState::Idle &&
            MsBetween(lastTurn, now) > maxGapMs) {
            maxGapMs = MsBetween(lastTurn, now);
            // Where it happened: the file gauge and the run state after it.
            gapPercent = form.syncMeter->Progress();
            gapState = static_cast<int>(run.State);
        }
        lastTurn = now;
        ++turns;
    });
    PaintWatch paints;
    paints.Form = &form;
    if (probe) {
        turnTimer.start();
        app.installEventFilter(&paints);
    }

    // Cancel: a thread waits for the copy to begin, then for `cancelAt` ms,
    // and posts the click; the main thread takes it on its next turn.
    std::atomic<bool> copyBegun{false}, quit{false};
    Clock::time_point clickPosted{};
    std::atomic<bool> clickIsPosted{false};
    std::thread clicker;
    if (cancelAt >= 0) {
        SetBoxHook([](BoxKind, const QString&, const QString&) { return true; });
        clicker = std::thread([&] {
            while (!copyBegun.load() && !quit.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (quit.load())
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(cancelAt));
            clickPosted = Clock::now();
            clickIsPosted.store(true);
            QMetaObject::invokeMethod(form.btnCancel, "click", Qt::QueuedConnection);
        });
    }
    // The copy start is noted on the main thread; a short timer hands it to
    // the clicker (the engine pumps, so it fires during the copy).
    QTimer startWatch;
    startWatch.setInterval(1);
    QObject::connect(&startWatch, &QTimer::timeout, [&] {
        if (form.Copying)
            copyBegun.store(true);
    });
    if (cancelAt >= 0)
        startWatch.start();

    const auto t0 = Clock::now();
    form.Execute(run);
    const auto t1 = Clock::now();
    quit.store(true);
    if (clicker.joinable())
        clicker.join();

    const double copyMs =
        form.CopyStart != Clock::time_point{} ? MsBetween(form.CopyStart, form.CopyEnd) : 0.0;
    std::printf("wall_ms=%.1f copy_ms=%.1f files_copied=%d failed=%d bytes=%lld", MsBetween(t0, t1),
                copyMs, run.Plan.CopiedToMirror + run.Plan.CopiedToHost, run.Plan.FailedCount,
                static_cast<long long>(run.Plan.DoneBytes));
    if (probe)
        std::printf(" max_gap_ms=%.1f turns=%ld max_paint_gap_ms=%.1f paints=%ld", maxGapMs, turns,
                    paints.MaxGapMs, paints.Paints);
    if (cancelAt >= 0) {
        if (clickIsPosted.load() && form.CancelSeen != Clock::time_point{})
            std::printf(" cancel_click_ms=%.1f cancel_stop_ms=%.1f",
                        MsBetween(clickPosted, form.CancelSeen), MsBetween(clickPosted, t1));
        else
            std::printf(" cancel=not-taken");
    }
    // Processor time of the whole process, start-up included, as `time`
    // gives it for the console program: steadier than wall time on a disk
    // shared with other work.
    rusage use{};
    getrusage(RUSAGE_SELF, &use);
    const auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    std::printf(" user_ms=%.0f sys_ms=%.0f end=\"%s\"\n", ms(use.ru_utime), ms(use.ru_stime),
                run.EndLine.c_str());
    return 0;
}
