#include "tasks/LogFile.h"

#include "platform/WriteAll.h"

#include "tasks/FileLock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace duplora {

namespace {

bool WriteAll(int fd, const char* data, std::size_t size, const FileOps& ops) {
    return duplora::WriteAll(ops.write, fd, data, size);
}

// A log left by a crash in the middle of an append ends without its NUL.
bool EndsCut(int fd, off_t size) {
    if (size == 0)
        return false;
    char last = 0;
    ssize_t n;
    do
        n = ::pread(fd, &last, 1, size - 1);
    while (n < 0 && errno == EINTR);
    return n == 1 && last != '\0';
}

} // namespace

LogStatus AppendLogBlock(const std::string& path, const std::vector<std::string>& lines,
                         std::string& error, const std::string& lockPath, const FileOps& ops) {
    if (lines.empty())
        return LogStatus::NothingToWrite;

    FileLock lock;
    if (!lockPath.empty()) {
        std::string lockError;
        lock.Lock(lockPath, true, lockError);
    }

    // O_NONBLOCK: a named pipe in the log's place would otherwise wait for a
    // reader. A new log is readable by its owner only, like the
    // configuration beside it.
    const int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0600);
    if (fd < 0) {
        struct stat st {};
        if (errno != ENOENT && errno != ENOTDIR && ::stat(path.c_str(), &st) == 0) {
            error = "Cannot open file " + path;
            return LogStatus::CannotRead;
        }
        return LogStatus::WriteFailed;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        error = "Cannot open file " + path;
        return LogStatus::CannotRead;
    }

    std::string block;
    std::size_t size = 2;
    for (const auto& line : lines)
        size += line.size() + 2;
    block.reserve(size);
    if (EndsCut(fd, st.st_size))
        block.push_back('\0');
    for (const auto& line : lines) {
        block += line;
        block += "\r\n";
    }
    block.push_back('\0');

    const auto sync = ops.fdatasync ? ops.fdatasync : ops.fsync;
    bool ok = WriteAll(fd, block.data(), block.size(), ops) && sync(fd) == 0;
    if (!ok) {
        // A block cut short by a full disk would leave a torn end for the
        // next append to close; take it back instead (we hold the lock, so
        // nobody appended after it).
        if (::ftruncate(fd, st.st_size) == 0)
            sync(fd);
    }
    if (::close(fd) != 0)
        ok = false;
    return ok ? LogStatus::Written : LogStatus::WriteFailed;
}

} // namespace duplora
