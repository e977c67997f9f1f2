#include "tasks/SafeFile.h"

#include "platform/WriteAll.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace duplora {

namespace {

// Follows a symbolic link at `path` so that the link survives the rename.
// A dangling link is replaced by a plain file, which is what a direct write
// would have failed to do anyway.
std::string ResolveTarget(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    char buf[PATH_MAX];
    if (::realpath(path.c_str(), buf) == nullptr)
        return path;
    return buf;
}

void SplitFolder(const std::string& path, std::string& folder, std::string& name) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        folder = ".";
        name = path;
    } else {
        folder = slash == 0 ? "/" : path.substr(0, slash);
        name = path.substr(slash + 1);
    }
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size, const FileOps& ops) {
    return duplora::WriteAll(ops.write, fd, data, size);
}

// Flushes the folder entry of the rename; the data is already in place, so
// a failure here costs only durability across a power cut and is ignored.
void SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

std::atomic<unsigned> tempCounter{0};

} // namespace

const FileOps& SystemFileOps() {
    static const FileOps ops{
        [](int fd, const void* data, std::size_t size) { return ::write(fd, data, size); },
        [](int fd) { return ::fsync(fd); }, [](int fd) { return ::fdatasync(fd); }};
    return ops;
}

ReadStatus ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& out) {
    out.clear();
    // O_NONBLOCK: opening a named pipe would otherwise wait for a writer.
    // Only a regular file is read; a pipe or a device (a link to /dev/zero)
    // could block or never end.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return (errno == ENOENT || errno == ENOTDIR) ? ReadStatus::Missing : ReadStatus::Failed;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return ReadStatus::Failed;
    }
    if (st.st_size > 0)
        out.reserve(static_cast<std::size_t>(st.st_size));
    std::uint8_t buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ::close(fd);
            out.clear();
            return ReadStatus::Failed;
        }
        if (n == 0)
            break;
        out.insert(out.end(), buf, buf + n);
    }
    ::close(fd);
    return ReadStatus::Ok;
}

bool ReplaceFileContents(const std::string& path, const std::uint8_t* data, std::size_t size,
                         const FileOps& ops) {
    if (path.empty())
        return false;
    const std::string target = ResolveTarget(path);
    std::string folder, name;
    SplitFolder(target, folder, name);
    if (name.empty())
        return false;

    struct stat old {};
    const bool hadFile = ::stat(target.c_str(), &old) == 0;
    if (hadFile && !S_ISREG(old.st_mode))
        return false; // never replace a folder or a device

    // A hidden name beside the target: same file system, so the rename is
    // atomic. O_EXCL keeps two running copies from sharing one temporary.
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = (folder == "/" ? std::string() : folder) + "/." + name + ".tmp" +
               std::to_string(::getpid()) + "-" + std::to_string(tempCounter++);
        // Owner only: the configuration holds network passwords, and the
        // data must never sit in a file more open than the one it replaces.
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;

    if (hadFile) {
        // Keep what the user set on the old file, before any data is
        // written; failures (not the owner, not root) leave owner-only
        // access, which is still a usable file.
        if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
        }
        ::fchmod(fd, old.st_mode & 07777);
    }
    bool ok = WriteAll(fd, data, size, ops);
    if (ok)
        ok = ops.fsync(fd) == 0;
    if (::close(fd) != 0)
        ok = false;
    if (ok)
        ok = ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    SyncFolder(folder);
    return true;
}

} // namespace duplora
