#include "tasks/TaskEditRules.h"

#include "platform/Ascii.h"

#include "tasks/TaskRules.h"

#include <algorithm>
#include <cctype>
#include <set>

namespace duplora {

namespace {

bool StartsWith(std::string_view text, std::string_view prefix, bool foldCase) {
    if (prefix.size() > text.size())
        return false;
    const std::string_view head = text.substr(0, prefix.size());
    return foldCase ? EqualsNoCase(head, prefix) : head == prefix;
}

} // namespace

TaskFields FieldsOf(const Task& task) {
    const TaskRecord& r = task.record;
    TaskFields f;
    f.name = task.name;
    f.description = r.description();
    f.hostPath = r.host_path();
    f.mirrorPath = r.mirror_path();
    f.type = r.sync_type();
    f.includeSubfolders = r.include_subfolders();
    f.onlyIncludeFolders = r.only_include_folders();
    f.folderList = SplitLines(r.folder_list());
    f.actions = {r.only_in_host_action(),  r.only_in_mirror_action(),  r.size_differs_action(),
                 r.newer_in_host_action(), r.newer_in_mirror_action(), r.empty_folder_action()};
    return f;
}

std::string StoreFields(const TaskFields& f, Task& task, const TaskList& list, std::size_t self) {
    TaskRecord& r = task.record;
    std::string first;
    // Stores through `store` when `refusal` is empty; remembers the first one.
    const auto take = [&first](const std::string& refusal, const auto& store) {
        if (refusal.empty())
            store();
        else if (first.empty())
            first = refusal;
    };
    take(rules::CheckTaskName(f.name, list, self), [&] { task.name = f.name; });
    r.set_sync_type(f.type);
    take(rules::CheckDescription(f.description), [&] { r.set_description(f.description); });
    for (std::size_t i = 0; i < rules::kDifferences.size(); ++i) {
        const rules::Difference kind = rules::kDifferences[i];
        take(rules::CheckAction(kind, f.actions[i]),
             [&] { rules::SetAction(r, kind, f.actions[i]); });
    }
    r.set_include_subfolders(f.includeSubfolders);
    take(rules::CheckRoot(true, f.hostPath), [&] { r.set_host_path(f.hostPath); });
    take(rules::CheckRoot(false, f.mirrorPath), [&] { r.set_mirror_path(f.mirrorPath); });
    const std::string folders = JoinLines(f.folderList);
    take(folders.size() > TaskRecord::kFolderListCapacity
             ? "the folder list is longer than " + std::to_string(TaskRecord::kFolderListCapacity) +
                   " bytes"
             : std::string(),
         [&] { r.set_folder_list(folders); });
    r.set_only_include_folders(f.onlyIncludeFolders);
    return first;
}

std::string NewTaskName(const TaskList& list, std::string_view prefix) {
    std::set<std::string> taken;
    for (const Task& t : list.tasks())
        taken.insert(AsciiLower(t.name));
    const std::string lowPrefix = AsciiLower(prefix);
    constexpr int kLast = 10000;
    int n = 1;
    while (n < kLast && taken.count(lowPrefix + std::to_string(n)) != 0)
        ++n;
    return std::string(prefix) + std::to_string(n);
}

FolderEntry RelativeFolderEntry(std::string_view host, std::string_view mirror,
                                std::string_view folder, bool foldCase) {
    if (folder.size() > 1 && folder.back() == '/')
        folder.remove_suffix(1);
    // Host first: a folder below both roots is taken as the host's.
    std::string_view root;
    bool found = false;
    for (std::string_view candidate : {host, mirror}) {
        if (candidate.empty())
            continue;
        if (candidate.back() == '/')
            candidate.remove_suffix(1); // "/" becomes "": every absolute path lies in it
        if (StartsWith(folder, candidate, foldCase)) {
            root = candidate;
            found = true;
            break;
        }
    }
    if (!found)
        return {FolderEntryResult::Outside, {}};
    std::string_view rest = folder.substr(root.size());
    // "/" chosen under the root "/" is the root itself.
    if (rest.empty() || (root.empty() && rest == "/"))
        return {FolderEntryResult::WholeFolder, {}};
    // "/data" against "/database": the remainder must start a new level.
    if (rest.front() != '/')
        return {FolderEntryResult::Outside, {}};
    return {FolderEntryResult::Ok, std::string(rest)};
}

FolderEntryResult AppendFolderEntry(std::vector<std::string>& lines, const std::string& entry) {
    lines.push_back(entry);
    if (JoinLines(lines).size() <= TaskRecord::kFolderListCapacity)
        return FolderEntryResult::Ok;
    lines.pop_back();
    return FolderEntryResult::ListTooLong;
}

bool AppendFileEntry(std::vector<std::string>& lines, std::string_view chosenFile, bool foldCase) {
    const std::size_t slash = chosenFile.rfind('/');
    const std::string_view name =
        slash == std::string_view::npos ? chosenFile : chosenFile.substr(slash + 1);
    if (name.empty())
        return false;
    const bool present = std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
        return foldCase ? EqualsNoCase(line, name) : line == name;
    });
    if (present)
        return false;
    lines.emplace_back(name);
    return true;
}

} // namespace duplora
