#pragma once
// The task fields as the console program shows and edits them: `show` prints
// one "field: value" line per record field, `new` and `set` take one option
// per field and check them the way the main window and the advanced options
// dialog do before anything is stored.

#include "tasks/TaskList.h"
#include "tasks/TaskRecord.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace duplora::cli {

// "ignore", "delete", "to-mirror", "to-host"; a stored byte outside 0..3 is
// shown as "invalid(N)".
std::string ActionName(std::uint8_t value);
// The inverse of ActionName for the four valid names.
std::optional<SyncAction> ActionFromName(std::string_view name);
// "permanent", "trash", "versions".
std::string DeleteModeName(DeleteMode mode);

// Every field of the record in storage order ("reserved" left out), each as
// (field name, value text). A password is shown as "********" whatever its
// length (an empty one as ""); line breaks in a value are shown as "\r" and "\n";
// lists (folders, masks) are joined with ';'.
std::vector<std::pair<std::string, std::string>> DescribeTask(const Task& task);

// The field options of `new` and `set`. An empty optional leaves the field
// as it is.
struct FieldEdits {
    std::optional<std::string> name;
    std::optional<std::string> host, mirror;
    std::optional<std::string> type; // "folder" | "file"
    std::optional<std::string> subfolders;
    std::vector<std::string> folders; // replaces folder_list when foldersGiven
    bool foldersGiven = false;
    bool includeFolders = false, excludeFolders = false;
    std::optional<std::string> onlyInHost, onlyInMirror, sizeDiffers, newerInHost, newerInMirror,
        emptyFolders;
    std::optional<std::string> description;
    std::optional<std::string> autoMode;
    std::optional<std::string> onlyMasks, ignoreMasks, deleteMasks;
    std::optional<std::string> speed, maxErrors, ignoreHour, tolerance;
    std::optional<std::string> netUser, netPassword;
    std::optional<std::string> detectMoves, moveMinSize;
    std::optional<std::string> onDelete, versionsFolder, deleteLimit;
    std::optional<std::string> remember, deletedInHost, deletedInMirror, conflict;

    bool Empty() const;
};

// Checks every edit and applies them to a copy of `task`; `task` changes
// only when all of them are valid. `list` and `index` (the task's place, or
// list.size() for a task not yet in it) serve the name-taken check.
// On refusal returns false with the reason in `error`.
//
// Order: the type first (a real change drops the folder list and the mask
// filters, as the main window does after its question), then every other
// field, then the checks that depend on the final type (a file task takes
// bare file names, no sub-folders and no ignore/delete masks).
bool ApplyFieldEdits(const FieldEdits& edits, const TaskList& list, std::size_t index, Task& task,
                     std::string& error);

// Checks a task name: not empty, at most 15 characters, valid UTF-8, no
// control characters (names are stored as lines of text), and not the name
// of another task (compared without regard to case). `self` is the index to
// leave out of the comparison (list.size() for none).
bool CheckTaskName(std::string_view name, const TaskList& list, std::size_t self,
                   std::string& error);

// Number of UTF-8 characters; -1 when `s` is not valid UTF-8.
long Utf8Length(std::string_view s);

// A folder given on the command line as it is stored: a relative path is
// joined to `cwd` (the folder the command was typed in), since a run starts
// from wherever the scheduler or the desktop program happens to be. "." and
// empty parts are dropped; ".." is kept, because a link among the earlier
// parts makes it mean something else than cutting one part off. Absolute
// paths, network forms ("//server/share", "smb://...", "\\server\share"),
// texts starting with a %NAME% macro and the empty text are kept as given.
std::string AbsoluteRoot(const std::string& text, const std::string& cwd);

} // namespace duplora::cli
