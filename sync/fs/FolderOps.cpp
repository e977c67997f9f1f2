#include "sync/fs/FolderOps.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace duplora {

namespace {

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd_ >= 0)
            close(fd_);
    }
    void reset(int fd) {
        if (fd_ >= 0)
            close(fd_);
        fd_ = fd;
    }
    int get() const { return fd_; }

private:
    int fd_;
};

// The components of a relative path; false for ".", ".." or an empty one in
// the middle (a path from the scan never has them).
bool SplitRel(std::string_view rel, std::vector<std::string>& parts) {
    std::size_t i = 0;
    while (i < rel.size()) {
        while (i < rel.size() && rel[i] == '/')
            ++i;
        if (i >= rel.size())
            break;
        std::size_t j = rel.find('/', i);
        if (j == std::string_view::npos)
            j = rel.size();
        std::string part(rel.substr(i, j - i));
        if (part == "." || part == "..")
            return false;
        parts.push_back(std::move(part));
        i = j;
    }
    return true;
}

constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

} // namespace

std::string JoinRoot(const std::string& root, std::string_view rel) {
    if (!root.empty() && root.back() == '/' && !rel.empty() && rel.front() == '/')
        rel.remove_prefix(1);
    std::string path;
    path.reserve(root.size() + rel.size());
    path.append(root).append(rel);
    return path;
}

bool IsFolder(const std::string& path) {
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool RemoveEmptyFolderBelow(const std::string& root, std::string_view rel) {
    std::vector<std::string> parts;
    // An empty root is no root at all (a macro that expanded to nothing), not
    // the file system's root: refuse it, as the copy and the folder creation do.
    if (root.empty() || !SplitRel(rel, parts) || parts.empty())
        return false;
    Fd dir(open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0)
        return false;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        const int next = openat(dir.get(), parts[i].c_str(), kDirFlags);
        if (next < 0)
            return false;
        dir.reset(next);
    }
    // AT_REMOVEDIR never follows a link and fails on a folder that holds
    // anything, even empty files.
    return unlinkat(dir.get(), parts.back().c_str(), AT_REMOVEDIR) == 0;
}

bool CreateFolderBelow(const std::string& root, std::string_view rel) {
    std::vector<std::string> parts;
    if (!SplitRel(rel, parts) || root.empty())
        return false;
    if (!IsFolder(root)) {
        // The task's own root: create it with its parents, as a copy would.
        std::string partial;
        std::size_t i = 0;
        while (i <= root.size()) {
            const std::size_t j = root.find('/', i);
            partial = root.substr(0, j == std::string::npos ? root.size() : j);
            if (!partial.empty() && mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST)
                return false;
            if (j == std::string::npos)
                break;
            i = j + 1;
        }
    }
    Fd dir(open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0)
        return false;
    for (const std::string& part : parts) {
        if (mkdirat(dir.get(), part.c_str(), 0777) != 0 && errno != EEXIST)
            return false;
        const int next = openat(dir.get(), part.c_str(), kDirFlags);
        if (next < 0)
            return false; // a link or a file stands there
        dir.reset(next);
    }
    return true;
}

unsigned long FileSystemTypeOf(const std::string& path) {
    std::string p = path.empty() ? std::string(".") : path;
    struct statfs fs;
    while (statfs(p.c_str(), &fs) != 0) {
        const std::size_t slash = p.find_last_of('/');
        if (slash == std::string::npos) {
            p = ".";
        } else if (slash == 0) {
            if (p == "/")
                return 0;
            p = "/";
        } else {
            p.resize(slash);
        }
        if (p == "." && statfs(p.c_str(), &fs) != 0)
            return 0;
        if (p == ".")
            break;
    }
    return static_cast<unsigned long>(fs.f_type);
}

bool RemoteFileSystemType(unsigned long type) {
    switch (type) {
    case 0x65735546UL: // fuse (GVfs, sshfs, exfat-fuse, ...)
    case 0xFF534D42UL: // cifs
    case 0xFE534D42UL: // smb2
    case 0x517BUL:     // smb
    case 0x6969UL:     // nfs
        return true;
    default:
        return false;
    }
}

bool OnRemoteFileSystem(const std::string& path) {
    return RemoteFileSystemType(FileSystemTypeOf(path));
}

bool FileSystemFoldsCase(const std::string& path) {
    switch (FileSystemTypeOf(path)) {
    case 0x4d44UL:     // vfat / msdos
    case 0x2011BAB0UL: // exfat
    case 0x5346544eUL: // ntfs (classic driver)
    case 0x7366746eUL: // ntfs3
    case 0xFF534D42UL: // cifs
    case 0xFE534D42UL: // smb2
    case 0x517BUL:     // smb
        return true;
    default:
        return false;
    }
}

} // namespace duplora
