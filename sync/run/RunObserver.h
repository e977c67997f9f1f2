#pragma once
// What a run shows and asks while it goes: the progress window and the
// console program each implement this; the engine never knows which.
// Every method has a do-nothing default. Quiet runs never call ShowPreview,
// ShowMessage or ShowResult.

#include <string>

namespace duplora {

class SyncPlan;
struct RunContext;

class RunObserver {
public:
    virtual ~RunObserver() = default;

    // Lets the interface process pending events (the Cancel button, repaint).
    // Called before every file operation, after every copied step, every 256
    // unchanged entries and on scan progress (each folder, every 16 entries):
    // up to ~100,000 times a run. An implementation may skip calls that come
    // within a few milliseconds of the last one it served; Cancel then still
    // takes effect within that time.
    virtual void Pump() {}

    // The four labels: status (53/54/64/66), operation ("Performing: " + the
    // action), path (folder being scanned, file or folder being handled),
    // totals (message 51). Called only when the text changes.
    virtual void SetStatus(const std::string& /*text*/) {}
    virtual void SetOperation(const std::string& /*text*/) {}
    virtual void SetPath(const std::string& /*text*/) {}
    virtual void SetTotals(const std::string& /*text*/) {}
    // Percentages 0..100 of the current file and of all bytes to copy.
    // Called only when the value changes.
    virtual void SetFileGauge(int /*percent*/) {}
    virtual void SetTotalGauge(int /*percent*/) {}
    // The copy animation runs from the start of execution to the end of the
    // empty-folder step.
    virtual void StartAnimation() {}
    virtual void StopAnimation() {}

    // The preview: the user may switch operations off or change them (keep
    // the counters in step with SyncPlan::SetOp). True = go on and sync.
    virtual bool ShowPreview(SyncPlan& /*plan*/, const RunContext& /*run*/) { return true; }
    // A message box with one OK button (message 55 with caption 27 "Prompt",
    // messages 32/33 with caption 31 "Error").
    virtual void ShowMessage(const std::string& /*text*/, const std::string& /*caption*/) {}
    // A Yes/No question (message 182 with caption 72: roots one inside the
    // other). True is Yes; an observer that cannot ask answers Yes.
    virtual bool AskYesNo(const std::string& /*text*/, const std::string& /*caption*/) {
        return true;
    }
    // The end of a run that shows its result: standard beep, then the result
    // window with all result lines, modal.
    virtual void ShowResult() {}
};

} // namespace duplora
