#pragma once
// The run log: at each program end the result lines of all runs since the
// start are appended as one block, each line followed by CR LF and the block
// by one NUL byte.
//
// The block is appended in place (O_APPEND, then fdatasync) under the edit
// lock, never by rewriting the file: a run costs the same with a 300 MB log
// as with an empty one, two processes ending at once both keep their block,
// and a crash in the middle of an append can only cut that last block
// short. The next append first ends a cut block with its NUL, so the blocks
// after it start cleanly.

#include "tasks/SafeFile.h"

#include <string>
#include <vector>

namespace duplora {

inline constexpr char kLogFileName[] = "duplora.log";

enum class LogStatus {
    Written,
    NothingToWrite, // no lines: the log is not touched
    CannotRead,     // the log exists but cannot be opened; `error` says so
    WriteFailed,    // the block could not be written; the log is as it was
};

// Appends one block. `lockPath` is the edit lock to hold meanwhile
// (ConfigLockPath of the configuration beside the log); empty takes none,
// and a lock file that cannot be made (a read-only folder with a writable
// log) does not stop the append. CannotRead sets `error` to "Cannot open
// file <path>"; the caller shows it and keeps the program open. WriteFailed
// is not meant to be shown: the program ends anyway.
LogStatus AppendLogBlock(const std::string& path, const std::vector<std::string>& lines,
                         std::string& error, const std::string& lockPath = std::string(),
                         const FileOps& ops = SystemFileOps());

} // namespace duplora
