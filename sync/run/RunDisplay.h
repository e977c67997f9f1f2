#pragma once
// Display updates of a run: each passes a value to the observer only when it
// differs from what the observer shows.

#include "sync/run/RunContext.h"

#include <string>

namespace duplora {

void ShowStatus(RunContext& run, const std::string& text);
void ShowOperation(RunContext& run, const std::string& text);
void ShowPath(RunContext& run, const std::string& text);
void ShowTotals(RunContext& run, const std::string& text);
void ShowFileGauge(RunContext& run, int percent);
void ShowTotalGauge(RunContext& run, int percent);

} // namespace duplora
