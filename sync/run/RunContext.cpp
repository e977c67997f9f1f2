#include "sync/run/RunContext.h"

#include "sync/run/RunDisplay.h"
#include "tasks/Helpers.h"

namespace duplora {

RunObserver& RunContext::ui() {
    static RunObserver silent;
    return Ui ? *Ui : silent;
}

bool RunContext::MaskedForDelete(std::string_view rel) const {
    return Task.delete_masks_enabled() &&
           MatchesAnyMask(rel.substr(rel.find_last_of('/') + 1), DeleteMasks);
}

std::time_t RunContext::now() const {
    return Clock ? Clock() : std::time(nullptr);
}

namespace {
void ShowText(std::string& shown, const std::string& text, RunObserver& ui,
              void (RunObserver::*set)(const std::string&)) {
    if (shown == text)
        return;
    shown = text;
    (ui.*set)(text);
}
void ShowInt(int& shown, int value, RunObserver& ui, void (RunObserver::*set)(int)) {
    if (shown == value)
        return;
    shown = value;
    (ui.*set)(value);
}
} // namespace

void ShowStatus(RunContext& run, const std::string& text) {
    ShowText(run.Display.status, text, run.ui(), &RunObserver::SetStatus);
}
void ShowOperation(RunContext& run, const std::string& text) {
    ShowText(run.Display.operation, text, run.ui(), &RunObserver::SetOperation);
}
void ShowPath(RunContext& run, const std::string& text) {
    ShowText(run.Display.path, text, run.ui(), &RunObserver::SetPath);
}
void ShowTotals(RunContext& run, const std::string& text) {
    ShowText(run.Display.totals, text, run.ui(), &RunObserver::SetTotals);
}
void ShowFileGauge(RunContext& run, int percent) {
    ShowInt(run.Display.fileGauge, percent, run.ui(), &RunObserver::SetFileGauge);
}
void ShowTotalGauge(RunContext& run, int percent) {
    ShowInt(run.Display.totalGauge, percent, run.ui(), &RunObserver::SetTotalGauge);
}

} // namespace duplora
