#pragma once
// Whole-file reads and crash-safe whole-file replacement, shared by the
// configuration file and the log. A replacement is written to a temporary file
// in the target's folder, flushed to disk, then renamed over the target, so a
// crash or a full disk leaves either the old file or the new one, never a mix.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace duplora {

// The two system calls whose failures matter most (a full disk shows up in
// write, a failing device in fsync). Tests replace them to fail on demand.
struct FileOps {
    std::function<ssize_t(int fd, const void* data, std::size_t size)> write;
    std::function<int(int fd)> fsync;
    // The log's flush after an append; empty means `fsync`.
    std::function<int(int fd)> fdatasync;
};
// The real calls.
const FileOps& SystemFileOps();

enum class ReadStatus { Ok, Missing, Failed };
// Reads the whole file. Missing: it does not exist (or a folder on the way
// does not). Failed: it exists but cannot be opened or read, or is not a
// regular file (a folder, a pipe, a device); `out` is then empty.
ReadStatus ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& out);

// Replaces the file at `path` with `size` bytes of `data`. The file keeps the
// permission bits and owner of the file it replaces (a new file is readable
// by its owner only); a symbolic link at
// `path` stays a link and its target is replaced. On failure the old file is
// untouched, no temporary file is left and false is returned.
bool ReplaceFileContents(const std::string& path, const std::uint8_t* data, std::size_t size,
                         const FileOps& ops = SystemFileOps());

} // namespace duplora
