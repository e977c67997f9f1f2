#pragma once
// Folders that cannot be read, for tests that run as root (which no
// permission bit would stop): opening them fails with EACCES.

#include "sync/fs/FileIo.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

namespace duplora::test {

// The full path of `path` opened relative to `dirFd`.
inline std::string FullPath(int dirFd, const char* path) {
    if (dirFd == AT_FDCWD || path[0] == '/')
        return path;
    char buf[4096];
    const ssize_t n =
        readlink(("/proc/self/fd/" + std::to_string(dirFd)).c_str(), buf, sizeof buf - 1);
    return std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0) + "/" + path;
}

// Every folder whose full path ends with one of `suffixes` fails to open.
inline FileIoCalls UnreadableAll(std::vector<std::string> suffixes) {
    FileIoCalls io;
    io.openDir = [suffixes](int dirFd, const char* path, int flags) {
        const std::string p = FullPath(dirFd, path);
        for (const std::string& suffix : suffixes)
            if (p.size() >= suffix.size() &&
                p.compare(p.size() - suffix.size(), suffix.size(), suffix) == 0) {
                errno = EACCES;
                return -1;
            }
        return KernelFileIo().openDir(dirFd, path, flags);
    };
    return io;
}

inline FileIoCalls Unreadable(std::string suffix) {
    return UnreadableAll({std::move(suffix)});
}

} // namespace duplora::test
