#pragma once
// The delete guard: how much of each side a plan deletes or replaces, and
// whether that is more than the task allows. A quiet run over the limit is
// refused before any file operation; the preview shows the same numbers.

#include "sync/plan/SyncPlan.h"

#include <cstdint>
#include <string>

namespace duplora {

struct SideLoss {
    std::int64_t Files = 0; // files the scan found on the side
    std::int64_t Lost = 0;  // planned deletes plus planned replacements there
    // Lost as a share of Files, rounded to the nearest whole per cent; 0 for
    // a side without files.
    int Percent() const;
    // More than `limit` per cent (exactly: Lost * 100 > limit * Files);
    // never with limit 0 (no limit).
    bool Over(int limit) const;
    // The share as a line about `limit` shows it: Percent(), unless rounding
    // would hide that the side is over the limit (1 of 3 is 33.3%, above a
    // limit of 33%, not "33%"); then as many decimals, cut, as it takes to
    // show a number above the limit: "33.3", "50.01".
    std::string PercentText(int limit) const;
};

struct DeleteGuard {
    SideLoss Host;
    SideLoss Mirror;
    int Limit = 0; // per cent, 0 = no limit
    bool Over() const { return Host.Over(Limit) || Mirror.Over(Limit); }
};

// Counts the plan as it stands (switched-off operations do not count; a
// move loses nothing). `mirrorScanned` false (-C): the mirror's files are
// unknown, so nothing there counts as replaced.
DeleteGuard MeasureDeleteGuard(const SyncPlan& plan, int limitPercent, bool mirrorScanned = true);

// Text `message` (206: the quiet run's stop line, 260: the window's
// question) with both sides' numbers and the limit: %1 of %2 files of the
// host (%3%), %4 of %5 of the mirror (%6%), limit %7%. The shares are shown
// as they were compared (SideLoss::PercentText).
std::string GuardText(int message, const DeleteGuard& guard);

} // namespace duplora
