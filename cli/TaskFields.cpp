#include "cli/TaskFields.h"

#include "sync/setaside/Versions.h"
#include "tasks/Helpers.h"
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

std::string AsciiLower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool HasControl(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return true;
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

bool ParseBounded(std::string_view option, std::string_view text, int max, int& out,
                  std::string& error) {
    int v = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, v);
    if (text.empty() || ec != std::errc() || ptr != end || v < 0 || v > max) {
        error = std::string(option) + ": expected a whole number from 0 to " + std::to_string(max) +
                ", got '" + std::string(text) + "'";
        return false;
    }
    out = v;
    return true;
}

bool ParseAction(std::string_view option, std::string_view text,
                 std::initializer_list<SyncAction> allowed, SyncAction& out, std::string& error) {
    const std::optional<SyncAction> a = ActionFromName(AsciiLower(text));
    if (a) {
        for (SyncAction ok : allowed) {
            if (ok == *a) {
                out = *a;
                return true;
            }
        }
    }
    std::string names;
    for (SyncAction ok : allowed) {
        if (!names.empty())
            names += ", ";
        names += kActionNames[static_cast<std::size_t>(ok)];
    }
    error = std::string(option) + ": '" + std::string(text) +
            "' is not allowed here (allowed: " + names + ")";
    return false;
}

bool CheckText(std::string_view option, std::string_view text, std::size_t maxBytes,
               std::string& error) {
    if (text.size() > maxBytes) {
        error = std::string(option) + ": longer than " + std::to_string(maxBytes) + " bytes";
        return false;
    }
    return true;
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
    long count = 0;
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t len = 0;
        if (c < 0x80)
            len = 1;
        else if ((c & 0xE0) == 0xC0 && c >= 0xC2)
            len = 2;
        else if ((c & 0xF0) == 0xE0)
            len = 3;
        else if ((c & 0xF8) == 0xF0 && c <= 0xF4)
            len = 4;
        else
            return -1;
        if (i + len > s.size())
            return -1;
        for (std::size_t k = 1; k < len; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
                return -1;
        i += len;
        ++count;
    }
    return count;
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
    const long passwordChars = Utf8Length(r.net_password());
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
        {"net_password", std::string(passwordChars < 0 ? r.net_password().size()
                                                       : static_cast<std::size_t>(passwordChars),
                                     '*')},
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
           !versionsFolder && !deleteLimit;
}

bool CheckTaskName(std::string_view name, const TaskList& list, std::size_t self,
                   std::string& error) {
    const long chars = Utf8Length(name);
    if (name.empty()) {
        error = "the task name is empty";
        return false;
    }
    if (chars < 0) {
        error = "the task name is not valid UTF-8";
        return false;
    }
    if (static_cast<std::size_t>(chars) > kMaxNameChars) {
        error = "the task name '" + std::string(name) + "' is longer than " +
                std::to_string(kMaxNameChars) + " characters";
        return false;
    }
    if (HasControl(name)) {
        error = "the task name holds a control character";
        return false;
    }
    for (std::size_t i : list.findNoCase(name)) {
        if (i != self) {
            error = "a task named '" + list[i].name + "' already exists";
            return false;
        }
    }
    return true;
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
        if (!CheckText("--host", *e.host, TaskRecord::kPathCapacity, error))
            return false;
        r.set_host_path(*e.host);
    }
    if (e.mirror) {
        if (!CheckText("--mirror", *e.mirror, TaskRecord::kPathCapacity, error))
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
        std::initializer_list<SyncAction> allowed;
        void (TaskRecord::*set)(SyncAction);
    };
    using A = SyncAction;
    const ActionEdit actions[] = {
        {e.onlyInHost,
         "--only-in-host",
         {A::Ignore, A::HostToMirror, A::Delete},
         &TaskRecord::set_only_in_host_action},
        {e.onlyInMirror,
         "--only-in-mirror",
         {A::Ignore, A::MirrorToHost, A::Delete},
         &TaskRecord::set_only_in_mirror_action},
        {e.sizeDiffers,
         "--size-differs",
         {A::Ignore, A::HostToMirror, A::MirrorToHost},
         &TaskRecord::set_size_differs_action},
        {e.newerInHost,
         "--newer-in-host",
         {A::Ignore, A::HostToMirror, A::MirrorToHost},
         &TaskRecord::set_newer_in_host_action},
        {e.newerInMirror,
         "--newer-in-mirror",
         {A::Ignore, A::HostToMirror, A::MirrorToHost},
         &TaskRecord::set_newer_in_mirror_action},
        {e.emptyFolders,
         "--empty-folders",
         {A::Ignore, A::HostToMirror, A::MirrorToHost, A::Delete},
         &TaskRecord::set_empty_folder_action},
    };
    for (const ActionEdit& a : actions) {
        if (!a.value)
            continue;
        SyncAction value{};
        if (!ParseAction(a.option, *a.value, a.allowed, value, error))
            return false;
        (r.*a.set)(value);
    }

    if (e.description) {
        if (!CheckText("--description", *e.description, TaskRecord::kDescriptionCapacity, error))
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

    int number = 0;
    if (e.speed) {
        if (!ParseBounded("--speed", *e.speed, kMaxSpeed, number, error))
            return false;
        r.set_speed_limit(number);
    }
    if (e.maxErrors) {
        if (!ParseBounded("--max-errors", *e.maxErrors, kMaxErrors, number, error))
            return false;
        r.set_max_errors(static_cast<std::uint16_t>(number));
    }
    if (e.ignoreHour) {
        if (!ParseOnOff("--ignore-hour", *e.ignoreHour, on, error))
            return false;
        r.set_ignore_hour_difference(on);
    }
    if (e.tolerance) {
        if (!ParseBounded("--tolerance", *e.tolerance, kMaxToleranceSec, number, error))
            return false;
        r.set_tolerance_seconds(number);
    }

    if (e.detectMoves) {
        if (!ParseOnOff("--detect-moves", *e.detectMoves, on, error))
            return false;
        r.set_detect_moves(on);
    }
    if (e.moveMinSize) {
        std::uint32_t bytes = 0;
        const std::string& text = *e.moveMinSize;
        const char* end = text.data() + text.size();
        const auto [ptr, ec] = std::from_chars(text.data(), end, bytes);
        if (text.empty() || ec != std::errc() || ptr != end || bytes == 0) {
            error = "--move-min-size: expected a whole number of bytes from 1 to 4294967295, "
                    "got '" +
                    text + "'";
            return false;
        }
        r.set_move_min_size(bytes);
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
        // A folder longer than a task keeps is refused, never cut, since a
        // cut path would name some other folder.
        const std::string& folder = *e.versionsFolder;
        if (Utf8Length(folder) < 0 || HasControl(folder)) {
            error = "--versions-folder: the folder must be UTF-8 text without control characters";
            return false;
        }
        if (folder.size() > TaskRecord::kVersionsFolderCapacity) {
            error = "--versions-folder: '" + folder + "' is " + std::to_string(folder.size()) +
                    " bytes long; the task keeps at most " +
                    std::to_string(TaskRecord::kVersionsFolderCapacity);
            return false;
        }
        r.set_versions_folder(folder);
    }
    if (e.deleteLimit) {
        if (ParseBounded("--delete-limit", *e.deleteLimit, 100, number, error) &&
            number > kMaxDeleteLimit) {
            error = "--delete-limit: 100 would never stop a run (no run deletes or replaces more "
                    "than every file of a side); give 1 to " +
                    std::to_string(kMaxDeleteLimit) + ", or 0 for no limit";
            return false;
        }
        if (!ParseBounded("--delete-limit", *e.deleteLimit, kMaxDeleteLimit, number, error))
            return false;
        r.set_delete_limit(number);
    }

    struct CredentialEdit {
        const std::optional<std::string>& value;
        const char* option;
        void (TaskRecord::*set)(std::string_view);
    };
    const CredentialEdit credentials[] = {
        {e.netUser, "--net-user", &TaskRecord::set_net_user},
        {e.netPassword, "--net-password", &TaskRecord::set_net_password},
    };
    for (const CredentialEdit& c : credentials) {
        if (!c.value)
            continue;
        const long chars = Utf8Length(*c.value);
        if (chars < 0 || static_cast<std::size_t>(chars) > kMaxCredentialChars ||
            HasControl(*c.value)) {
            error = std::string(c.option) + ": at most " + std::to_string(kMaxCredentialChars) +
                    " characters of UTF-8 text";
            return false;
        }
        (r.*c.set)(*c.value);
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
