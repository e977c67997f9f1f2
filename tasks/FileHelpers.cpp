// File and folder helpers on native byte paths.

#include "tasks/Helpers.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace duplora {

bool FolderExists(const std::string& path) {
    if (path.empty())
        return false;
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ForceFolderPath(const std::string& path) {
    if (path.empty())
        throw std::runtime_error("Unable to create directory");

    // Walk up to the deepest folder that exists, then create the missing
    // ones top down. Iterative, so a path of thousands of components cannot
    // exhaust the stack.
    std::vector<std::string> missing;
    std::string current = RemoveTrailingBackslash(path);
    while (!FolderExists(current)) {
        missing.push_back(current);
        const std::size_t slash = current.find_last_of('/');
        if (slash == std::string::npos)
            break; // a relative name: its parent is the working folder
        std::string parent = slash == 0 ? std::string("/") : current.substr(0, slash);
        parent = RemoveTrailingBackslash(parent); // "a//b" has the parent "a"
        if (parent == current)
            break;
        current = std::move(parent);
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (::mkdir(it->c_str(), 0777) != 0 && !(errno == EEXIST && FolderExists(*it)))
            return false;
    }
    return true;
}

std::int64_t WideFileSize(const std::string& path) {
    // O_NONBLOCK so that a named pipe cannot hang the caller; only a regular
    // file (or a link to one) has a size to report.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st {};
    std::int64_t size = -1;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        size = static_cast<std::int64_t>(st.st_size);
    ::close(fd);
    return size;
}

void SetFileStamp(const std::string& path, std::int32_t stamp) {
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT; // access time unchanged
    times[1].tv_sec = AgeToTime(stamp);
    times[1].tv_nsec = 0;
    // A link itself gets the stamp, never what it points to: nothing outside
    // the task's folders is ever changed through a link.
    (void)::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

namespace {

struct OpenMode {
    int flags;
    const char* stdioMode;
};

bool ModeFor(std::string_view mode, OpenMode& out) {
    // Writing modes never follow a link in the last component, so a target
    // is never written through a link into a place outside its folder.
    constexpr int kWrite = O_NOFOLLOW | O_CLOEXEC;
    if (mode == "create" || mode == "w+b" || mode == "wb+" || mode == "w+")
        out = {O_RDWR | O_CREAT | O_TRUNC | kWrite, "w+b"};
    else if (mode == "read" || mode == "rb" || mode == "r")
        out = {O_RDONLY | O_CLOEXEC, "rb"};
    else if (mode == "write" || mode == "wb" || mode == "w")
        out = {O_WRONLY | O_CREAT | O_TRUNC | kWrite, "wb"};
    else if (mode == "readwrite" || mode == "r+b" || mode == "rb+" || mode == "r+")
        out = {O_RDWR | kWrite, "r+b"};
    else if (mode == "append" || mode == "ab" || mode == "a")
        out = {O_WRONLY | O_CREAT | O_APPEND | kWrite, "ab"};
    else
        return false;
    return true;
}

} // namespace

FileStream OpenWideFile(const std::string& path, std::string_view mode) {
    OpenMode m{};
    if (path.empty() || !ModeFor(mode, m))
        return nullptr;
    if (mode == "create") {
        // An existing read-only file gets owner write permission first so
        // that it can be replaced (links are left alone, see above).
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR))
            (void)::chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR);
    }
    // O_NONBLOCK keeps a named pipe from hanging the open; only regular
    // files are streamed, so the flag is cleared again for them.
    const int fd = ::open(path.c_str(), m.flags | O_NONBLOCK, 0666);
    if (fd < 0)
        return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return nullptr;
    }
    std::FILE* f = ::fdopen(fd, m.stdioMode);
    if (f == nullptr) {
        ::close(fd);
        return nullptr;
    }
    return FileStream(f);
}

} // namespace duplora
