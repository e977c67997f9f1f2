#pragma once
// Carrying out an accepted plan. The run steps StepSyncMain and
// StepSyncMirror (SyncRun.h) walk the host list in order and the mirror list
// from last to first; the end of a run calls these two.

#include "sync/run/RunContext.h"

namespace duplora {

// The empty-folder step: creates or removes the empty folders the plan
// holds, as the task's empty_folder_action says.
void SyncEmptyFolders(RunContext& run);
// Removes the temporary files of copies whose process died, as the scan
// found them (".NAME.duplora-tmp-..." that no running copy holds), with a
// result line for each.
void RemoveLeftoverTemporaries(RunContext& run);

} // namespace duplora
