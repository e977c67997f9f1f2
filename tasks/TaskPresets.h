#pragma once
// Ready-made task records for the two common uses, offered beside the plain
// new-task defaults by the New Task menu and `duplora-cli new --preset`:
//
//   mirror    a backup: sub-folders, no speed limit, the host's new, newer
//             and different files to the mirror, files only in the mirror
//             deleted, deletes to the trash, a delete limit of 20%
//   two-way   both sides kept alike: sub-folders, no speed limit, each side's
//             new and newer files to the other, deletes to the trash, the
//             last run remembered (deletions reach the other side, edits on
//             both sides are kept), moves detected

#include "tasks/TaskRecord.h"

#include <optional>
#include <string_view>

namespace duplora {

enum class TaskPreset { Mirror, TwoWay };

// "mirror" or "two-way"; nothing for any other word.
std::optional<TaskPreset> PresetFromName(std::string_view name);

// The new-task record (with `description`) with the preset's fields applied.
TaskRecord MakePresetRecord(TaskPreset preset, std::string_view description);

} // namespace duplora
