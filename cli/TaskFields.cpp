#include "cli/TaskFields.h"

#include "platform/Ascii.h"

#include "sync/setaside/Versions.h"
#include "tasks/Helpers.h"
#include "tasks/TaskRules.h"
#include "tasks/TextTable.h"
#include "tasks/WildMask.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <initializer_list>

namespace duplora::cli {

namespace {

constexpr std::array<const char*, 4> kActionNames = {"ignore", "delete", "to-mirror", "to-host"};
constexpr std::array<const char*, 3> kDeleteModeNames = {"permanent", "trash", "versions"};

using rules::HasControl;

// "--option: " and the rulebook's refusal; false when there is one.
bool Accept(std::string_view option, std::string refusal, std::string& error) {
    if (refusal.empty())
        return true;
    error = std::string(option) + ": " + refusal;
    return false;
}

// One line for a value that may hold line breaks.
std::string OneLine(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::string JoinSemicolon(const std::vector<std::string>& items) {
    std::string out;
    for (const std::string& s : items) {
        if (!out.empty())
            out += ';';
        out += s;
    }
    return out;
}

std::string OnOff(bool on) {
    return on ? "on" : "off";
}

bool ParseOnOff(std::string_view option, std::string_view text, bool& out, std::string& error) {
    const std::string v = AsciiLower(text);
    if (v == "on") {
        out = true;
        return true;
    }
    if (v == "off") {
        out = false;
        return true;
    }
    error = std::string(option) + ": expected on or off, got '" + std::string(text) + "'";
    return false;
}

// A whole number for a field of the rulebook's limits table.
bool ParseNumber(std::string_view option, std::string_view text, rules::Number field,
                 std::int64_t& out, std::string& error) {
    std::int64_t v = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, v);
    if (text.empty() || ec != std::errc() || ptr != end) {
        const rules::NumberRange r = rules::RangeOf(field);
        error = std::string(option) + ": expected a whole number from " + std::to_string(r.min) +
                " to " + std::to_string(r.max) + ", got '" + std::string(text) + "'";
        return false;
    }
    out = v;
    return Accept(option, rules::CheckNumber(field, v), error);
}

bool ParseAction(std::string_view option, std::string_view text, rules::Difference kind,
                 SyncAction& out, std::string& error) {
    const std::optional<SyncAction> a = ActionFromName(AsciiLower(text));
    if (!a) {
        std::string names;
        for (SyncAction ok : rules::AllowedActions(kind))
            names +=
                std::string(names.empty() ? "" : ", ") + kActionNames[static_cast<std::size_t>(ok)];
        error = std::string(option) + ": '" + std::string(text) +
                "' is not allowed here (allowed: " + names + ")";
        return false;
    }
    out = *a;
    return Accept(option, rules::CheckAction(kind, *a), error);
}

// Masks given as "a;b;c": empty items are dropped, each mask must be valid
// under the wildcard rules, and the stored text (CR LF after every mask) must
// fit the field's 255 bytes.
bool ParseMasks(std::string_view option, std::string_view text, std::string& stored,
                std::string& error) {
    std::vector<std::string> masks;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(';', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view item = text.substr(start, end - start);
        if (!item.empty()) {
            if (HasControl(item)) {
                error = std::string(option) + ": a mask holds a control character";
                return false;
            }
            try {
                ValidateMask(item);
            } catch (const InvalidMask& e) {
                error = std::string(option) + ": " + e.what();
                return false;
            }
            masks.emplace_back(item);
        }
        start = end + 1;
    }
    stored = JoinLines(masks);
    if (stored.size() > TaskRecord::kMaskCapacity) {
        error = std::string(option) + ": " + Msg(101) + " (" + std::to_string(stored.size()) +
                " bytes, at most " + std::to_string(TaskRecord::kMaskCapacity) + ")";
        return false;
    }
    return true;
}

// Folder-task lines are folders below the roots ("/a/b"); file-task lines are
// bare names of files that lie directly in the roots.
bool CheckFolderLines(std::vector<std::string>& lines, SyncType type, std::string& error) {
    for (std::string& line : lines) {
        if (HasControl(line)) {
            error = "--folder: a line holds a control character";
            return false;
        }
        if (type == SyncType::Folder) {
            line = RemoveTrailingBackslash(line);
            if (line.empty() || line[0] != '/') {
                error = "--folder '" + line + "': " + Msg(35) +
                        " (a folder below the roots starts with '/')";
                return false;
            }
            if (line == "/") {
                error = "--folder '" + line + "': " + Msg(36);
                return false;
            }
        } else if (line.empty() || line.find('/') != std::string::npos || line == "." ||
                   line == "..") {
            error = "--folder '" + line + "': a file task lists bare file names";
            return false;
        }
    }
    if (JoinLines(lines).size() > TaskRecord::kFolderListCapacity) {
        error = "--folder: " + Msg(37) + " (at most " +
                std::to_string(TaskRecord::kFolderListCapacity) + " bytes)";
        return false;
    }
    return true;
}

} // namespace

long Utf8Length(std::string_view s) {
    return rules::ValidUtf8Chars(s);
}

std::string ActionName(std::uint8_t value) {
    if (value < kActionNames.size())
        return kActionNames[value];
    return "invalid(" + std::to_string(value) + ")";
}

std::optional<SyncAction> ActionFromName(std::string_view name) {
    for (std::size_t i = 0; i < kActionNames.size(); ++i)
        if (name == kActionNames[i])
            return static_cast<SyncAction>(i);
    return std::nullopt;
}

std::string DeleteModeName(DeleteMode mode) {
    return kDeleteModeNames[static_cast<std::size_t>(mode)];
}

std::vector<std::pair<std::string, std::string>> DescribeTask(const Task& task) {
    const TaskRecord& r = task.record;
    auto action = [](SyncAction a) { return ActionName(static_cast<std::uint8_t>(a)); };
    auto lines = [](const std::string& text) { return JoinSemicolon(SplitLines(text)); };
    const std::uint8_t type = r.sync_type_byte();
    const std::string typeName = type == 0   ? "folder"
                                 : type == 1 ? "file"
                                             : "invalid(" + std::to_string(type) + ")";
    return {
        {"name", OneLine(task.name)},
        {"only_in_host_action", action(r.only_in_host_action())},
        {"only_in_mirror_action", action(r.only_in_mirror_action())},
        {"size_differs_action", action(r.size_differs_action())},
        {"newer_in_host_action", action(r.newer_in_host_action())},
        {"newer_in_mirror_action", action(r.newer_in_mirror_action())},
        {"include_subfolders", OnOff(r.include_subfolders())},
        {"host_path", OneLine(r.host_path())},
        {"mirror_path", OneLine(r.mirror_path())},
        {"folder_list", lines(r.folder_list())},
        {"empty_folder_action", action(r.empty_folder_action())},
        {"auto_mode", OnOff(r.auto_mode())},
        {"description", OneLine(r.description())},
        {"ignore_masks_enabled", OnOff(r.ignore_masks_enabled())},
        {"delete_masks_enabled", OnOff(r.delete_masks_enabled())},
        {"ignore_masks", lines(r.ignore_masks())},
        {"delete_masks", lines(r.delete_masks())},
        {"net_user", OneLine(r.net_user())},
        // A fixed mask: the length would tell part of the secret.
        {"net_password", r.net_password().empty() ? "" : "********"},
        {"speed_limit", std::to_string(r.speed_limit())},
        {"sync_type", typeName},
        {"only_masks_enabled", OnOff(r.only_masks_enabled())},
        {"only_masks", lines(r.only_masks())},
        {"max_errors", std::to_string(r.max_errors())},
        {"only_include_folders", OnOff(r.only_include_folders())},
        {"ignore_hour_difference", OnOff(r.ignore_hour_difference())},
        {"time_tolerance", std::to_string(r.tolerance_seconds())},
        {"detect_moves", OnOff(r.detect_moves())},
        {"move_min_size", std::to_string(r.move_min_size())},
        {"on_delete", DeleteModeName(r.on_delete())},
        {"versions_folder", OneLine(r.versions_folder())},
        {"delete_limit", std::to_string(r.delete_limit())},
        {"remember_last_run", OnOff(r.remember_last_run())},
        {"deleted_in_host_action", action(r.deleted_in_host_action())},
        {"deleted_in_mirror_action", action(r.deleted_in_mirror_action())},
        {"conflict_action", rules::ConflictWord(r.conflict_action())},
    };
}

std::string AbsoluteRoot(const std::string& text, const std::string& cwd) {
    if (text.empty() || text[0] == '/' || text[0] == '\\' || text[0] == '%' || cwd.empty() ||
        text.find("://") != std::string::npos)
        return text;
    std::string out = cwd;
    if (out.size() > 1 && out.back() == '/')
        out.pop_back();
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('/', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string_view part(text.data() + start, end - start);
        if (!part.empty() && part != ".") {
            if (out.back() != '/')
                out += '/';
            out += part;
        }
        start = end + 1;
    }
    return out;
}

bool FieldEdits::Empty() const {
    return !name && !host && !mirror && !type && !subfolders && !foldersGiven && !includeFolders &&
           !excludeFolders && !onlyInHost && !onlyInMirror && !sizeDiffers && !newerInHost &&
           !newerInMirror && !emptyFolders && !description && !autoMode && !onlyMasks &&
           !ignoreMasks && !deleteMasks && !speed && !maxErrors && !ignoreHour && !tolerance &&
           !netUser && !netPassword && !detectMoves && !moveMinSize && !onDelete &&
           !versionsFolder && !deleteLimit && !remember && !deletedInHost && !deletedInMirror &&
           !conflict;
}

bool CheckTaskName(std::string_view name, const TaskList& list, std::size_t self,
                   std::string& error) {
    error = rules::CheckTaskName(name, list, self);
    return error.empty();
}

bool ApplyFieldEdits(const FieldEdits& e, const TaskList& list, std::size_t index, Task& task,
                     std::string& error) {
    Task t = task;
    TaskRecord& r = t.record;

    if (e.type) {
        const std::string v = AsciiLower(*e.type);
        SyncType type;
        if (v == "folder")
            type = SyncType::Folder;
        else if (v == "file")
            type = SyncType::File;
        else {
            error = "--type: expected folder or file, got '" + *e.type + "'";
            return false;
        }
        if (type != r.sync_type() || r.sync_type_byte() > 1) {
            r.change_sync_type(type);
            r.set_folder_list("");
            if (type == SyncType::File) {
                // A file task has no sub-folders and no folder mode.
                r.set_include_subfolders(false);
                r.set_only_include_folders(false);
            }
        }
    }

    if (e.name) {
        if (!CheckTaskName(*e.name, list, index, error))
            return false;
        t.name = *e.name;
    }
    if (e.host) {
        if (!Accept("--host", rules::CheckRoot(true, *e.host), error))
            return false;
        r.set_host_path(*e.host);
    }
    if (e.mirror) {
        if (!Accept("--mirror", rules::CheckRoot(false, *e.mirror), error))
            return false;
        r.set_mirror_path(*e.mirror);
    }
    bool on = false;
    if (e.subfolders) {
        if (!ParseOnOff("--subfolders", *e.subfolders, on, error))
            return false;
        r.set_include_subfolders(on);
    }
    if (e.includeFolders && e.excludeFolders) {
        error = "--include-folders and --exclude-folders exclude each other";
        return false;
    }
    if (e.includeFolders)
        r.set_only_include_folders(true);
    if (e.excludeFolders)
        r.set_only_include_folders(false);

    struct ActionEdit {
        const std::optional<std::string>& value;
        const char* option;
        rules::Difference kind;
    };
    using D = rules::Difference;
    const ActionEdit actions[] = {
        {e.onlyInHost, "--only-in-host", D::OnlyInHost},
        {e.onlyInMirror, "--only-in-mirror", D::OnlyInMirror},
        {e.sizeDiffers, "--size-differs", D::SizeDiffers},
        {e.newerInHost, "--newer-in-host", D::NewerInHost},
        {e.newerInMirror, "--newer-in-mirror", D::NewerInMirror},
        {e.emptyFolders, "--empty-folders", D::EmptyFolder},
        {e.deletedInHost, "--deleted-in-host", D::DeletedInHost},
        {e.deletedInMirror, "--deleted-in-mirror", D::DeletedInMirror},
    };
    for (const ActionEdit& a : actions) {
        if (!a.value)
            continue;
        SyncAction value{};
        if (!ParseAction(a.option, *a.value, a.kind, value, error))
            return false;
        rules::SetAction(r, a.kind, value);
    }

    if (e.description) {
        if (!Accept("--description", rules::CheckDescription(*e.description), error))
            return false;
        r.set_description(*e.description);
    }
    if (e.autoMode) {
        if (!ParseOnOff("--auto", *e.autoMode, on, error))
            return false;
        r.set_auto_mode(on);
    }

    struct MaskEdit {
        const std::optional<std::string>& value;
        const char* option;
        void (TaskRecord::*setText)(std::string_view);
        void (TaskRecord::*setFlag)(bool);
    };
    const MaskEdit masks[] = {
        {e.onlyMasks, "--only-masks", &TaskRecord::set_only_masks,
         &TaskRecord::set_only_masks_enabled},
        {e.ignoreMasks, "--ignore-masks", &TaskRecord::set_ignore_masks,
         &TaskRecord::set_ignore_masks_enabled},
        {e.deleteMasks, "--delete-masks", &TaskRecord::set_delete_masks,
         &TaskRecord::set_delete_masks_enabled},
    };
    for (const MaskEdit& m : masks) {
        if (!m.value)
            continue;
        std::string stored;
        if (!ParseMasks(m.option, *m.value, stored, error))
            return false;
        (r.*m.setText)(stored);
        (r.*m.setFlag)(!stored.empty());
    }

    std::int64_t number = 0;
    if (e.speed) {
        if (!ParseNumber("--speed", *e.speed, rules::Number::Speed, number, error))
            return false;
        r.set_speed_limit(static_cast<int>(number));
    }
    if (e.maxErrors) {
        if (!ParseNumber("--max-errors", *e.maxErrors, rules::Number::MaxErrors, number, error))
            return false;
        r.set_max_errors(static_cast<std::uint16_t>(number));
    }
    if (e.ignoreHour) {
        if (!ParseOnOff("--ignore-hour", *e.ignoreHour, on, error))
            return false;
        r.set_ignore_hour_difference(on);
    }
    if (e.tolerance) {
        if (!ParseNumber("--tolerance", *e.tolerance, rules::Number::Tolerance, number, error))
            return false;
        r.set_tolerance_seconds(static_cast<int>(number));
    }

    if (e.detectMoves) {
        if (!ParseOnOff("--detect-moves", *e.detectMoves, on, error))
            return false;
        r.set_detect_moves(on);
    }
    if (e.moveMinSize) {
        if (!ParseNumber("--move-min-size", *e.moveMinSize, rules::Number::MoveMinSize, number,
                         error))
            return false;
        r.set_move_min_size(static_cast<std::uint32_t>(number));
    }

    if (e.remember) {
        if (!ParseOnOff("--remember", *e.remember, on, error))
            return false;
        r.set_remember_last_run(on);
    }
    if (e.conflict) {
        ConflictAction answer{};
        if (!rules::ConflictFromWord(AsciiLower(*e.conflict), answer)) {
            error = "--conflict: expected keep-both, newer-wins or skip, got '" + *e.conflict + "'";
            return false;
        }
        r.set_conflict_action(answer);
    }

    if (e.onDelete) {
        const std::string v = AsciiLower(*e.onDelete);
        std::size_t i = 0;
        while (i < kDeleteModeNames.size() && v != kDeleteModeNames[i])
            ++i;
        if (i == kDeleteModeNames.size()) {
            error = "--on-delete: expected permanent, trash or versions, got '" + *e.onDelete + "'";
            return false;
        }
        r.set_on_delete(static_cast<DeleteMode>(i));
    }
    if (e.versionsFolder) {
        if (!Accept("--versions-folder", rules::CheckVersionsFolderText(*e.versionsFolder), error))
            return false;
        r.set_versions_folder(*e.versionsFolder);
    }
    if (e.deleteLimit) {
        if (!ParseNumber("--delete-limit", *e.deleteLimit, rules::Number::DeleteLimit, number,
                         error))
            return false;
        r.set_delete_limit(static_cast<int>(number));
    }

    if (e.netUser) {
        if (!Accept("--net-user", rules::CheckCredential(false, *e.netUser), error))
            return false;
        r.set_net_user(*e.netUser);
    }
    if (e.netPassword) {
        if (!Accept("--net-password", rules::CheckCredential(true, *e.netPassword), error))
            return false;
        r.set_net_password(*e.netPassword);
    }

    // A versioning folder a run would refuse is refused here, where it can be
    // mended; asked whenever the mode, the folder or a root changes.
    if ((e.onDelete || e.versionsFolder || e.host || e.mirror) &&
        r.on_delete() == DeleteMode::Versions) {
        const std::string problem = VersionsFolderProblem(r);
        if (!problem.empty()) {
            error = "--versions-folder: " + problem;
            return false;
        }
    }

    // Checks that depend on the final type.
    const SyncType type = r.sync_type();
    if (e.foldersGiven) {
        std::vector<std::string> lines = e.folders;
        if (!CheckFolderLines(lines, type, error))
            return false;
        r.set_folder_list(JoinLines(lines));
    }
    if (type == SyncType::File) {
        if (e.subfolders && r.include_subfolders()) {
            error = "--subfolders: a file task has no sub-folders";
            return false;
        }
        if (e.includeFolders) {
            error = "--include-folders: a file task lists files, not folders to include";
            return false;
        }
        if ((e.ignoreMasks && r.ignore_masks_enabled()) ||
            (e.deleteMasks && r.delete_masks_enabled())) {
            error = "a file task takes no ignore or delete masks";
            return false;
        }
    }

    task = std::move(t);
    return true;
}

} // namespace duplora::cli
