#include "tasks/TaskPresets.h"

namespace duplora {

std::optional<TaskPreset> PresetFromName(std::string_view name) {
    if (name == "mirror")
        return TaskPreset::Mirror;
    if (name == "two-way")
        return TaskPreset::TwoWay;
    return std::nullopt;
}

TaskRecord MakePresetRecord(TaskPreset preset, std::string_view description) {
    TaskRecord r = TaskRecord::MakeNew(description);
    r.set_include_subfolders(true);
    r.set_speed_limit(0);
    r.set_on_delete(DeleteMode::Trash);
    r.set_empty_folder_action(SyncAction::Ignore);
    switch (preset) {
    case TaskPreset::Mirror:
        r.set_only_in_host_action(SyncAction::HostToMirror);
        r.set_only_in_mirror_action(SyncAction::Delete);
        r.set_size_differs_action(SyncAction::HostToMirror);
        r.set_newer_in_host_action(SyncAction::HostToMirror);
        r.set_newer_in_mirror_action(SyncAction::HostToMirror);
        r.set_delete_limit(20);
        break;
    case TaskPreset::TwoWay:
        r.set_only_in_host_action(SyncAction::HostToMirror);
        r.set_only_in_mirror_action(SyncAction::MirrorToHost);
        r.set_size_differs_action(SyncAction::Ignore);
        r.set_newer_in_host_action(SyncAction::HostToMirror);
        r.set_newer_in_mirror_action(SyncAction::MirrorToHost);
        r.set_delete_limit(0);
        // Without a record of the last run, a file deleted on one side comes
        // back from the other at every run; a rename is a move, not a
        // remembered delete and a new file.
        r.set_remember_last_run(true);
        r.set_detect_moves(true);
        break;
    }
    return r;
}

} // namespace duplora
