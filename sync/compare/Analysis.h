#pragma once
// The comparison of one run: the operation each host file gets from its
// mirror twin (or its absence), and the names left alone because they differ
// only in letter case. The scan that fills both sides' lists is in
// sync/scan/ScanSides.h; the run steps (SyncRun.h) drive both.

#include "sync/plan/FileEntry.h"
#include "sync/scan/ScanSides.h"
#include "sync/scan/SearchDirW.h"
#include "tasks/TaskRecord.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace duplora {

struct RunContext;

// The failure line of one group of names left alone because they differ only
// in letter case (text 230 and the names, comma-separated).
std::string CaseCollisionLine(const std::vector<std::string>& names);

// The same-time rule. Ages are compared as exact wall-clock seconds; the
// tolerance is in days as stored (seconds / 86400 + 1e-8, so 2 s stored is
// a little over 2 s and a 2-second step counts as the same time).
bool SameTime(std::int32_t hostAge, std::int32_t mirrorAge, double toleranceDays,
              bool ignoreHourDifference);

// The operation of a host file that has a mirror twin.
TSyncOp ComparePair(const TFileEntry& host, const TFileEntry& mirror, const TaskRecord& task);

// The whole comparison: every host entry still at opNone gets its operation,
// twins in the mirror list are set to opNone.
void CompareHostEntries(RunContext& run);

} // namespace duplora
