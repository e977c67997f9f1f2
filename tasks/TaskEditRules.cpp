#include "tasks/TaskEditRules.h"

#include <algorithm>
#include <cctype>
#include <set>

namespace duplora {

namespace {

std::string LowerAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

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

void StoreFields(const TaskFields& f, Task& task) {
    TaskRecord& r = task.record;
    task.name = f.name;
    r.set_sync_type(f.type);
    r.set_description(Utf8Prefix(f.description, TaskRecord::kDescriptionCapacity));
    r.set_only_in_host_action(f.actions[0]);
    r.set_only_in_mirror_action(f.actions[1]);
    r.set_size_differs_action(f.actions[2]);
    r.set_newer_in_host_action(f.actions[3]);
    r.set_newer_in_mirror_action(f.actions[4]);
    r.set_empty_folder_action(f.actions[5]);
    r.set_include_subfolders(f.includeSubfolders);
    r.set_host_path(Utf8Prefix(f.hostPath, TaskRecord::kPathCapacity));
    r.set_mirror_path(Utf8Prefix(f.mirrorPath, TaskRecord::kPathCapacity));
    r.set_folder_list(Utf8Prefix(JoinLines(f.folderList), TaskRecord::kFolderListCapacity));
    r.set_only_include_folders(f.onlyIncludeFolders);
}

std::string NewTaskName(const TaskList& list, std::string_view prefix) {
    std::set<std::string> taken;
    for (const Task& t : list.tasks())
        taken.insert(LowerAscii(t.name));
    const std::string lowPrefix = LowerAscii(prefix);
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
