#pragma once
// TSyncForm: the progress window. It carries one run from the first scan to
// the result through events it posts to itself, one engine step each:
//
//   Execute(run) ── exec() ── FormShow: BeginRun, post 1282
//     1282 OnListMain    host scan                          ── post 1283
//     1283 OnListMirror  mirror scan, compare, preview      ── post 1280, or close
//     1280 OnSyncMain    host list                          ── post 1281
//     1281 OnSyncMirror  mirror list, last to first         ── post 1284
//     1284 OnSyncFolder  empty folders, summary, result     ── close
//
// Each handler returns to the event loop before the next one starts, and the
// engine calls Pump() inside its loops, so the window repaints and Cancel
// answers while files are copied.

#include "sync/run/RunContext.h"
#include "sync/run/RunObserver.h"
#include "sync/run/RunProgress.h"

#include <QDialog>

#include <chrono>
#include <functional>

class QLabel;
class QPushButton;

namespace duplora {

class TCopyAnimation;
class TPmGauge;
class TresForm;

class TSyncForm : public QDialog, public RunObserver {
    Q_OBJECT
public:
    static constexpr int kListMainEvent = 1282;
    static constexpr int kListMirrorEvent = 1283;
    static constexpr int kSyncMainEvent = 1280;
    static constexpr int kSyncMirrorEvent = 1281;
    static constexpr int kSyncFolderEvent = 1284;
    // Puts the latest path and totals into their labels (see SetPath).
    static constexpr int kShowLabelsEvent = 1290;

    explicit TSyncForm(QWidget* parent = nullptr);
    ~TSyncForm() override;

    void ApplyTexts();

    // Shows the window modally and carries `run` (roots prepared, safety test
    // passed) through all its steps; returns when the run has ended.
    void Execute(RunContext& run);
    // True from Execute until the last step has finished.
    bool ChainActive() const { return run_ != nullptr; }
    // Cancels the run in progress without asking, as a confirmed Cancel
    // does (the program is being ended by a signal).
    void CancelRun();

    // The result window the end of a shown run opens.
    TresForm* ResultForm = nullptr;
    // The preview: true = go on. Empty: the run goes on as if accepted.
    std::function<bool(SyncPlan& plan, const RunContext& run)> Preview;
    // The run's closing line (67, 68 or 69), for the main window's status bar.
    std::function<void(const std::string& line)> OnEndLine;

    // Shortest time between two passes through the event loop while the
    // engine works: 15 ms keeps repaint and Cancel well inside 100 ms and
    // costs a copy of 16 KiB chunks almost nothing.
    static constexpr std::chrono::milliseconds kPumpInterval{15};

    QWidget* SyncAnim = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label4 = nullptr;
    TPmGauge* syncMeter = nullptr;
    TPmGauge* totMeter = nullptr;
    QLabel* lbFileGauge = nullptr;  // "This file:" beside syncMeter
    QLabel* lbTotalGauge = nullptr; // "All files:" beside totMeter
    // Files done of the total, the speed over the last seconds, time left;
    // while files are copied and deleted.
    QLabel* lbProgress = nullptr;
    // The clock of the speed; empty: the steady clock.
    std::function<std::chrono::steady_clock::time_point()> Clock;
    QPushButton* btnCancel = nullptr;

    void FormShow();
    void OnListMain();
    void OnListMirror();
    void OnSyncMain();
    void OnSyncMirror();
    void OnSyncFolder();
    void btnCancelClick();
    bool AnimationRunning() const;
    // Esc: refused while the run goes on.
    void reject() override;

    // RunObserver
    void Pump() override;
    void SetStatus(const std::string& text) override;
    void SetOperation(const std::string& text) override;
    void SetPath(const std::string& text) override;
    void SetTotals(const std::string& text) override;
    void SetFileGauge(int percent) override;
    void SetTotalGauge(int percent) override;
    void StartAnimation() override;
    void StopAnimation() override;
    bool ShowPreview(SyncPlan& plan, const RunContext& run) override;
    void ShowMessage(const std::string& text, const std::string& caption) override;
    bool AskYesNo(const std::string& text, const std::string& caption) override;
    void ShowResult() override;

protected:
    bool event(QEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void post(int type);
    void finish();
    void showPathElided();
    void scheduleLabels();
    void showLabels();
    void showProgressLine();

    RunContext* run_ = nullptr;
    bool chainStarted_ = false;
    QString fullPath_;
    // The path and totals change with every file; they reach their labels
    // only when the event loop is about to run (see SetPath).
    std::string pendingPath_, pendingTotals_;
    bool pathDirty_ = false, totalsDirty_ = false, labelsPosted_ = false;
    std::chrono::steady_clock::time_point lastPump_{};
    SpeedMeter speed_;
};

} // namespace duplora
