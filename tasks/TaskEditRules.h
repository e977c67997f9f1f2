#pragma once
// The main window's editing rules, apart from any widget: what a control pair
// shows for a task, what a store writes back, new-task names and the
// relative-folder computation of the folder list. The window only moves
// texts between these and its controls.

#include "tasks/TaskList.h"
#include "tasks/TaskRules.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace duplora {

// The basic fields of one task as the main window's controls hold them.
struct TaskFields {
    std::string name;
    std::string description;
    std::string hostPath;
    std::string mirrorPath;
    SyncType type = SyncType::Folder;
    bool includeSubfolders = false;
    bool onlyIncludeFolders = false;
    std::vector<std::string> folderList; // one entry per line, without CR LF
    // only in host, only in mirror, size differs, newer in host, newer in
    // mirror, empty folder: the order of the six action lists.
    std::array<SyncAction, 6> actions{};
};

TaskFields FieldsOf(const Task& task);
// Writes every basic field that the rulebook (TaskRules.h) accepts; a
// refused field keeps its stored value, never a cut one. Returns the first
// refusal, "" when every field was stored. `list` and `self` (the task's
// index) serve the name-taken check.
std::string StoreFields(const TaskFields& fields, Task& task, const TaskList& list,
                        std::size_t self);

// The longest allowed task name in characters (the name field's limit).
inline constexpr int kTaskNameMaxChars = static_cast<int>(rules::kTaskNameMaxChars);

// The first `prefix` + n (n = 1, 2, ...) not yet used as a task name,
// compared without regard to case. The search gives up at 10000 and then
// returns that name even though it exists. O(N log N) in the list size.
std::string NewTaskName(const TaskList& list, std::string_view prefix);

// Outcome of turning a chosen folder into a folder-list entry.
enum class FolderEntryResult {
    Ok,
    Outside,     // message 35: neither in the host nor in the mirror folder
    WholeFolder, // message 36: the host or mirror folder itself
    ListTooLong, // message 37: the list text would pass 1023 bytes
};

struct FolderEntry {
    FolderEntryResult result = FolderEntryResult::Outside;
    std::string entry; // "/sub/dir" relative to the root it lies in
};

// The entry for `folder` relative to the host folder, else to the mirror
// folder. One trailing '/' of either root and of `folder` is ignored, so
// "/data/" and "/data" are the same root and "/" is the file system's root.
// A root that merely starts like the folder's name ("/data" against
// "/database") does not contain it. An empty root contains nothing.
// `foldCase` compares a-z without regard to case (a root on a file system
// that ignores case).
FolderEntry RelativeFolderEntry(std::string_view host, std::string_view mirror,
                                std::string_view folder, bool foldCase);

// Appends a folder entry to `lines` when the list text (every line followed
// by CR LF) stays within 1023 bytes; otherwise leaves `lines` as they were
// and answers ListTooLong.
FolderEntryResult AppendFolderEntry(std::vector<std::string>& lines, const std::string& entry);

// A file-list entry: the file's name without its folder; nothing is added
// when the list already holds the name (exactly, or without regard to a-z
// case when `foldCase`). True when it was added.
bool AppendFileEntry(std::vector<std::string>& lines, std::string_view chosenFile, bool foldCase);

} // namespace duplora
