#pragma once
// The configuration file Duplora.cfg: every task (name and record) and every
// schedule, in one binary file written whole on each save.
//
// Current layout (the only one written), little-endian:
//   0     int32  layout version 65627
//   4     int32  task record size 3458
//   8     zero bytes up to offset 1024
//   1024  task names, each followed by CR LF, then one NUL byte
//         N task records of 3458 bytes, N = number of names
//         int32 schedule count S, then S schedule records of 52 bytes
//         the extension block, only when a task has options outside its
//         record (see below); otherwise nothing follows the schedules
// Older files are read too: the oldest has no header (names at offset 0,
// 2092-byte records), others have a header with another record size.
//
// Extension block: per-task options that the 3458-byte record has no room
// for (TaskRecord::extension()). Readers of the layout above stop after the
// S schedule records and never look further, so they ignore the block, and
// a file whose tasks have no such options is byte for byte the layout above.
//   0   8 bytes  "DUPLORAX"
//   8   uint32   block version, 1; a reader skips a block of another version
//   12  uint32   E, the number of entries
//   16  E entries, each:
//         uint32  task index (position in the task list)
//         uint16  K, then K bytes: the option's name ("versions_folder")
//         uint32  V, then V bytes: its value (texts are UTF-8, no NUL)
// A new option is a new name; readers keep names they do not know and write
// them back. An entry for a task that does not exist, or one cut short by
// the end of the file, ends the reading of the block; what was read stays.

#include "tasks/SafeFile.h"
#include "tasks/TaskList.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace duplora {

inline constexpr char kConfigFileName[] = "Duplora.cfg";
inline constexpr std::int32_t kConfigLayoutVersion = 65627;
// Headers carry a version from this one on; lower values are oldest-layout
// files whose names text starts at offset 0.
inline constexpr std::int32_t kFirstHeaderVersion = 65589;
inline constexpr std::size_t kConfigHeaderSize = 1024;
// Largest record size a header may name; anything above is not a header.
inline constexpr std::int32_t kMaxStoredRecordSize = 65536;
inline constexpr char kExtensionMagic[8] = {'D', 'U', 'P', 'L', 'O', 'R', 'A', 'X'};
inline constexpr std::uint32_t kExtensionVersion = 1;

enum class LoadStatus { Loaded, Missing, CannotOpen };

// Replaces the list's tasks and schedules with those stored in `data` and
// clears the changed flag. Never fails: damaged or cut data yields what can be
// read, with the load defaults in whatever is missing.
void ParseConfiguration(const std::uint8_t* data, std::size_t size, TaskList& list);
// The file image in the current layout. Line breaks and NUL bytes in a name
// are written as spaces, since they would split the names text.
std::vector<std::uint8_t> SerializeConfiguration(const TaskList& list);

// Loaded: the list holds the file's tasks. Missing: no file, or one shorter
// than 4 bytes; the list is empty. CannotOpen: the list is empty and `error`
// is "Cannot open file <path>".
LoadStatus LoadConfiguration(const std::string& path, TaskList& list, std::string& error);
// Writes the whole file safely (see SafeFile.h). Success clears the changed
// flag; failure leaves the old file and the flag as they were and sets
// `error` to "Cannot create file <path>".
bool SaveConfiguration(const std::string& path, TaskList& list, std::string& error,
                       const FileOps& ops = SystemFileOps());

} // namespace duplora
