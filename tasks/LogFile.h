#pragma once
// The run log: at each program end the result lines of all runs since the
// start are appended as one block, each line followed by CR LF and the block
// by one NUL byte.

#include "tasks/SafeFile.h"

#include <string>
#include <vector>

namespace duplora {

inline constexpr char kLogFileName[] = "duplora.log";

enum class LogStatus {
    Written,
    NothingToWrite, // no lines: the log is not touched
    CannotRead,     // the log exists but cannot be read; `error` says so
    WriteFailed,    // the new log could not be written; the old one is intact
};

// Appends one block. CannotRead sets `error` to "Cannot open file <path>";
// the caller shows it and keeps the program open. WriteFailed is not meant
// to be shown: the program ends anyway.
LogStatus AppendLogBlock(const std::string& path, const std::vector<std::string>& lines,
                         std::string& error, const FileOps& ops = SystemFileOps());

} // namespace duplora
