#include "sync/fs/BelowRoot.h"

#include "sync/fs/FileIo.h"
#include "sync/fs/FileTime.h"
#include "sync/plan/SortList.h"

#include <cerrno>

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace duplora {

bool Fd::close() {
    const int fd = std::exchange(fd_, -1);
    return fd < 0 || ::close(fd) == 0;
}

void Fd::reset() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool SplitBelowRoot(const std::string& path, const std::string& root, Below& out) {
    if (root.empty() || root.front() != '/')
        return false;
    std::string_view p = path;
    std::string_view r = root;
    // A root given with a trailing '/' ("/data/") is the same root.
    while (!r.empty() && r.back() == '/')
        r.remove_suffix(1);
    if (p.size() <= r.size() + 1 || p.substr(0, r.size()) != r || p[r.size()] != '/')
        return false;
    out.rel = p.substr(r.size());
    std::size_t pos = 1;
    while (pos <= out.rel.size()) {
        std::size_t end = out.rel.find('/', pos);
        if (end == std::string_view::npos)
            end = out.rel.size();
        const std::string_view part = out.rel.substr(pos, end - pos);
        if (part == "." || part == "..")
            return false;
        pos = end + 1;
    }
    const std::size_t slash = out.rel.rfind('/');
    out.name = out.rel.substr(slash + 1);
    out.folderPart = out.rel.substr(0, slash);
    out.folderPath = p.substr(0, p.size() - out.name.size() - 1);
    if (out.folderPath.empty())
        out.folderPath = "/";
    return !out.name.empty();
}

namespace {

// Creates a root folder and its missing parents. The root itself was chosen by
// the user, so links in its own path are followed like any path they typed.
bool MakeRootPath(const std::string& root) {
    for (std::size_t pos = 1; pos <= root.size(); ++pos) {
        if (pos != root.size() && root[pos] != '/')
            continue;
        const std::string prefix = root.substr(0, pos);
        if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

// Walks `folders` below `base` one component at a time, refusing any component
// that is not a real folder (a link is never walked through), and creating the
// missing ones when `create` is set.
Fd WalkFolders(Fd base, std::string_view folders, bool create) {
    std::size_t pos = 0;
    while (pos < folders.size()) {
        std::size_t end = folders.find('/', pos);
        if (end == std::string_view::npos)
            end = folders.size();
        const std::string part(folders.substr(pos, end - pos));
        pos = end + 1;
        if (part.empty())
            continue;
        // O_PATH with O_NOFOLLOW would open a link itself; O_DIRECTORY then
        // makes that fail with ENOTDIR, so only a real folder opens.
        constexpr int kFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        int fd = ::openat(base.get(), part.c_str(), kFlags);
        if (fd < 0 && errno == ENOENT && create) {
            if (::mkdirat(base.get(), part.c_str(), 0777) != 0 && errno != EEXIST)
                return Fd();
            fd = ::openat(base.get(), part.c_str(), kFlags);
        }
        if (fd < 0)
            return Fd();
        base = Fd(fd);
    }
    return base;
}

} // namespace

Fd OpenFolderBelow(const std::string& root, const Below& below, bool create) {
    const FileIoCalls& io = CurrentFileIo();
    open_how how{};
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    // The usual case in one call (openat2, Linux 5.6 and later): a folder that
    // exists on a path without any link. The path has no ".." below the root
    // (SplitBelowRoot), so it lies below the root.
    const std::string folderPath(below.folderPath);
    long fd = io.openat2(AT_FDCWD, folderPath.c_str(), &how, sizeof how);
    if (fd >= 0)
        return Fd(static_cast<int>(fd));

    // Otherwise from the root, which may itself lie behind a link the user
    // chose: missing folders, a linked root, a path of 4,096 bytes or more, a
    // kernel or sandbox without openat2.
    constexpr int kRootFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    Fd rootFd(::open(root.c_str(), kRootFlags));
    if (!rootFd.valid() && errno == ENOENT && create && MakeRootPath(root))
        rootFd = Fd(::open(root.c_str(), kRootFlags));
    if (!rootFd.valid() || below.folderPart.empty())
        return rootFd;
    const std::string rel(below.folderPart.substr(1));
    how.resolve |= RESOLVE_BENEATH;
    fd = io.openat2(rootFd.get(), rel.c_str(), &how, sizeof how);
    if (fd >= 0)
        return Fd(static_cast<int>(fd));
    // One component at a time: creates what is missing, goes where a whole
    // path is too long for one call, or does the checks of openat2 where the
    // kernel has none.
    if (errno == ENOENT || errno == ENAMETOOLONG || errno == ENOSYS || errno == EPERM ||
        errno == E2BIG || errno == EAGAIN)
        return WalkFolders(std::move(rootFd), rel, create);
    return Fd();
}

Fd OpenRoot(const std::string& root) {
    return Fd(::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
}

Fd OpenFolderBelow(int rootFd, const std::string& root, const Below& below, bool create) {
    if (rootFd < 0)
        return OpenFolderBelow(root, below, create);
    constexpr int kFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    if (below.folderPart.empty())
        return Fd(::openat(rootFd, ".", kFlags));
    // One call for folders that exist on a path without links; RESOLVE_BENEATH
    // keeps the lookup below the root whatever the path says.
    open_how how{};
    how.flags = kFlags;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    const std::string rel(below.folderPart.substr(1));
    const long fd = CurrentFileIo().openat2(rootFd, rel.c_str(), &how, sizeof how);
    if (fd >= 0)
        return Fd(static_cast<int>(fd));
    if (errno == ENOENT || errno == ENAMETOOLONG || errno == ENOSYS || errno == EPERM ||
        errno == E2BIG || errno == EAGAIN)
        return WalkFolders(Fd(::openat(rootFd, ".", kFlags)), rel, create);
    return Fd();
}

namespace {

enum class Standing { Nothing, File, Folder, Unknown };

// What stands at `name` as the scan would see it; `st` holds the file's data
// (a link's target) for File.
Standing Look(int folderFd, const char* name, struct stat& st) {
    if (::fstatat(folderFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? Standing::Nothing : Standing::Unknown;
    if (S_ISREG(st.st_mode))
        return Standing::File;
    if (S_ISDIR(st.st_mode))
        return Standing::Folder;
    if (!S_ISLNK(st.st_mode))
        return Standing::Nothing; // fifo, socket, device: never listed
    if (::fstatat(folderFd, name, &st, 0) != 0)
        return errno == ENOENT || errno == ELOOP ? Standing::Nothing : Standing::Unknown;
    return S_ISREG(st.st_mode) ? Standing::File : Standing::Nothing;
}

} // namespace

bool MatchesScan(const struct stat& st, const ScanView& seen) {
    if (!seen.present || !S_ISREG(st.st_mode))
        return false;
    // -1: a listed file that could not be opened, its size never known.
    if (seen.size >= 0 && st.st_size != seen.size)
        return false;
    if (seen.timeTag != 0 && TimeTagOf(st.st_mtim.tv_sec, st.st_mtim.tv_nsec) != seen.timeTag)
        return false;
    return PackLocalTime(st.st_mtim.tv_sec) == seen.age;
}

int RenameIntoFree(int fromDir, const char* from, int toDir, const char* to) {
    if (::renameat2(fromDir, from, toDir, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    struct stat there {};
    if (::fstatat(toDir, to, &there, AT_SYMLINK_NOFOLLOW) == 0)
        return EEXIST;
    return ::renameat(fromDir, from, toDir, to) == 0 ? 0 : errno;
}

Recheck RecheckAgainstScan(int folderFd, const char* name, const ScanView& seen) {
    struct stat st {};
    const Standing now = Look(folderFd, name, st);
    if (!seen.present)
        return now == Standing::Nothing ? Recheck::Same : Recheck::Changed;
    if (now == Standing::Nothing)
        return Recheck::Gone;
    return now == Standing::File && MatchesScan(st, seen) ? Recheck::Same : Recheck::Changed;
}

namespace {

// Whether `name` is an entry of the folder exactly as spelt. On a file system
// that ignores case a lookup also finds "A.txt" as "a.txt"; only the listing
// tells the two apart (FUSE drivers give one file another inode number under
// each spelling, so inodes cannot).
bool ExactNameIn(int folderFd, const std::string& name) {
    const int fd = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return true; // cannot tell: assume it is another file
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return true;
    }
    bool found = false;
    while (const dirent* d = ::readdir(dir))
        if (name == d->d_name) {
            found = true;
            break;
        }
    ::closedir(dir);
    return found;
}

} // namespace

MoveResult RenameBelowRoot(const std::string& root, std::string_view fromRel,
                           std::string_view toRel, const ScanView& seenFrom) {
    const std::string from = root + std::string(fromRel);
    const std::string to = root + std::string(toRel);
    Below a, b;
    if (!SplitBelowRoot(from, root, a) || !SplitBelowRoot(to, root, b)) {
        errno = EINVAL;
        return MoveResult::Failed;
    }
    Fd fromDir = OpenFolderBelow(root, a, false);
    if (!fromDir.valid())
        return MoveResult::Failed;
    const std::string fromName(a.name);
    switch (RecheckAgainstScan(fromDir.get(), fromName.c_str(), seenFrom)) {
    case Recheck::Same:
        break;
    case Recheck::Gone:
        errno = ENOENT;
        return MoveResult::Failed;
    case Recheck::Changed:
        return MoveResult::Changed;
    }
    struct stat src {};
    if (::fstatat(fromDir.get(), fromName.c_str(), &src, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(src.st_mode))
        return MoveResult::Changed;
    Fd toDir = OpenFolderBelow(root, b, true);
    if (!toDir.valid())
        return MoveResult::Failed;
    const std::string toName(b.name);
    if (::renameat2(fromDir.get(), fromName.c_str(), toDir.get(), toName.c_str(),
                    RENAME_NOREPLACE) == 0)
        return MoveResult::Moved;
    if (errno != EEXIST && errno != EINVAL && errno != ENOSYS)
        return MoveResult::Failed;
    // EEXIST on a file system that ignores case may be the file itself under
    // its new spelling; EINVAL (some FUSE file systems): it cannot refuse to
    // replace, so look first (the remaining window is that of one call).
    struct stat dst {};
    if (::fstatat(toDir.get(), toName.c_str(), &dst, AT_SYMLINK_NOFOLLOW) == 0) {
        // Only a new spelling of the same name can be the file itself (the
        // same inode under an unrelated name is a hard link made since).
        const bool itself = fromRel.size() == toRel.size() &&
                            CompareKeysFolded(fromRel, toRel) == 0 &&
                            ((src.st_dev == dst.st_dev && src.st_ino == dst.st_ino) ||
                             !ExactNameIn(toDir.get(), toName));
        if (!itself)
            return MoveResult::Occupied;
    } else if (errno != ENOENT) {
        return MoveResult::Failed;
    }
    return ::renameat(fromDir.get(), fromName.c_str(), toDir.get(), toName.c_str()) == 0
               ? MoveResult::Moved
               : MoveResult::Failed;
}

} // namespace duplora
