#include "sync/scan/SearchDirW.h"

#include "sync/fs/FileIo.h"
#include "sync/fs/FileTime.h"
#include "tasks/WildMask.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string_view>

namespace duplora {

namespace {

struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

std::uint32_t AttrOf(const struct stat& st, const char* name, bool folder) {
    std::uint32_t attr = folder ? kAttrDirectory : 0;
    if (!(st.st_mode & S_IWUSR))
        attr |= kAttrReadOnly;
    if (name[0] == '.')
        attr |= kAttrHidden;
    return attr;
}

// Unknown: the entry exists but cannot be looked at (a folder that may be
// listed but not searched, mode r--, gives EACCES for every entry).
enum class Kind { File, Folder, Other, Unknown };

// What an entry is for the scan, with its stat data for files. A link counts
// as what it points to, except that a link to a folder is passed over.
Kind Classify(int dirFd, const struct dirent* e, struct stat& st) {
    const FileIoCalls& io = CurrentFileIo();
    unsigned char type = e->d_type;
    if (type == DT_DIR)
        return Kind::Folder; // stat taken later, only when needed
    if (type == DT_REG || type == DT_UNKNOWN) {
        if (io.statAt(dirFd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            return errno == ENOENT ? Kind::Other : Kind::Unknown; // ENOENT: vanished meanwhile
        if (S_ISREG(st.st_mode))
            return Kind::File;
        if (S_ISDIR(st.st_mode))
            return Kind::Folder;
        if (!S_ISLNK(st.st_mode))
            return Kind::Other;
        type = DT_LNK;
    }
    if (type == DT_LNK) {
        if (io.statAt(dirFd, e->d_name, &st, 0) != 0)
            return Kind::Other; // dangling
        return S_ISREG(st.st_mode) ? Kind::File : Kind::Other;
    }
    return Kind::Other; // fifo, socket, device: nothing a copy could use
}

} // namespace

struct TSearchDirW::Walk {
    std::string path; // the folder being scanned, then + '/' + entry name
    bool aborted = false;
    bool unreadPart = false; // the folder being scanned, or one below it, was not read wholly
};

bool TSearchDirW::skipped(const struct stat& st) const {
    for (const FolderIdentity& id : SkipFolders)
        if (id.dev == static_cast<std::uint64_t>(st.st_dev) &&
            id.ino == static_cast<std::uint64_t>(st.st_ino))
            return true;
    return false;
}

namespace {

// "<digits>": a user id as the trash names it.
bool AllDigits(std::string_view s) {
    if (s.empty())
        return false;
    for (const char c : s)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// The folder `dirFd` plus `up` ("." or "..", "../..") is the top of its
// volume: its parent is on another device, or it is its own parent ("/").
bool IsVolumeTop(int dirFd, const char* self, const char* parent) {
    struct stat here {
    }, above{};
    if (::fstatat(dirFd, self, &here, 0) != 0 || ::fstatat(dirFd, parent, &above, 0) != 0)
        return false;
    return here.st_dev != above.st_dev || here.st_ino == above.st_ino;
}

} // namespace

bool TSearchDirW::isVolumeTrash(int dirFd, const char* name, std::string_view folder) const {
    constexpr std::string_view kTrash = ".Trash";
    const std::string_view n = name;
    // $top/.Trash-UID: the folder being read is a volume's top.
    if (n.size() > kTrash.size() + 1 && n.substr(0, kTrash.size()) == kTrash &&
        n[kTrash.size()] == '-' && AllDigits(n.substr(kTrash.size() + 1)))
        return IsVolumeTop(dirFd, ".", "..");
    // $top/.Trash/UID: the folder being read is ".Trash" at a volume's top.
    if (!AllDigits(n) || folder.size() < 2)
        return false;
    folder.remove_suffix(1); // the '/' after it
    const std::string_view last = folder.substr(folder.rfind('/') + 1);
    return last == kTrash && IsVolumeTop(dirFd, "..", "../..");
}

void TSearchDirW::SetMask(const std::string& mask) {
    mask_ = mask;
    matchAll_ = mask == "*.*";
}

bool TSearchDirW::nameMatches(const char* name) const {
    return matchAll_ || MatchesMask(name, mask_);
}

std::int64_t TSearchDirW::Search() {
    if (Root.empty())
        return 0;
    const int rootFd =
        CurrentFileIo().openDir(AT_FDCWD, Root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (rootFd < 0) {
        // Missing, or not a folder: nothing to report. Anything else means a
        // folder is there whose contents cannot be known.
        if (errno != ENOENT && errno != ENOTDIR && OnFolderError)
            OnFolderError(*this, Root);
        return 0;
    }
    if (ReadTimeZone)
        ResetLocalTimeCache();
    Walk walk;
    walk.path.reserve(4096);
    walk.path = Root;
    level_ = -1;
    std::int64_t total = 0;
    try {
        total = scanFolder(walk, rootFd);
    } catch (...) {
        level_ = -1;
        throw;
    }
    level_ = -1;
    if (OnSearchEnd)
        OnSearchEnd(*this);
    return total;
}

std::int64_t TSearchDirW::scanFolder(Walk& walk, int dirFd) {
    DirHandle dir(fdopendir(dirFd));
    if (!dir) {
        close(dirFd);
        walk.unreadPart = true;
        if (OnFolderError)
            OnFolderError(*this, walk.path);
        return 0;
    }
    if (OnProgress) {
        OnProgress(*this, walk.path);
        progressCounter_ = 0;
    }
    ++level_;
    const std::size_t folderLen = walk.path.size();
    if (walk.path.empty() || walk.path.back() != '/')
        walk.path.push_back('/');
    const std::size_t baseLen = walk.path.size();

    std::int64_t total = 0;
    bool first = true;
    bool unreadableReported = false;
    for (;;) {
        errno = 0;
        const struct dirent* e = readdir(dir.get());
        if (!e) {
            // The end of the listing, or an error part-way (EIO, a folder
            // removed meanwhile gives no error).
            if (errno != 0) {
                walk.unreadPart = true;
                if (OnFolderError)
                    OnFolderError(*this, walk.path.substr(0, folderLen));
            }
            break;
        }
        const char* name = e->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        if (!first && OnProgress && ProgressInterval != 0) {
            progressCounter_ = (progressCounter_ + 1) % ProgressInterval;
            if (progressCounter_ == 0)
                OnProgress(*this, walk.path.substr(0, folderLen));
        }
        first = false;

        struct stat st;
        const Kind kind = Classify(dirfd(dir.get()), e, st);
        if (kind == Kind::Unknown)
            walk.unreadPart = true;
        if (kind == Kind::Unknown && !unreadableReported && OnFolderError) {
            // Once per folder: an entry of it is missing from the scan.
            unreadableReported = true;
            OnFolderError(*this, walk.path.substr(0, folderLen));
        }
        if (kind == Kind::Other || kind == Kind::Unknown)
            continue;
        walk.path.resize(baseLen);
        walk.path.append(name);
        const bool matches = nameMatches(name);
        TSearchOperation op = soContinue;

        // Only names that start with '.' or a digit can be a volume's trash.
        if (kind == Kind::Folder && SkipVolumeTrash && name[0] <= '9' &&
            isVolumeTrash(dirfd(dir.get()), name, std::string_view(walk.path).substr(0, baseLen))) {
            walk.unreadPart = true; // as for SkipFolders: the folder is not empty
            continue;
        }
        if (kind == Kind::Folder) {
            std::int64_t itemSize = 0;
            if (OnEnquiryOperation && matches)
                OnEnquiryOperation(*this, fiDir, walk.path, op);
            bool haveStat = false;
            bool subUnread = false;
            if (IntoSubDir && op == soContinue) {
                const int sub = CurrentFileIo().openDir(
                    dirfd(dir.get()), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                if (sub >= 0) {
                    haveStat = fstat(sub, &st) == 0;
                    if (haveStat && skipped(st)) {
                        // The folder holding it is not empty, whatever else it holds.
                        walk.unreadPart = true;
                        close(sub);
                        continue;
                    }
                    const bool outerUnread = walk.unreadPart;
                    walk.unreadPart = false;
                    itemSize = scanFolder(walk, sub);
                    subUnread = walk.unreadPart;
                    walk.unreadPart = outerUnread || subUnread;
                    walk.path.resize(baseLen);
                    walk.path.append(name);
                } else if (errno != ENOENT && errno != ENOTDIR && errno != ELOOP) {
                    // Gone, or replaced by a file or a link since it was
                    // listed: nothing is missing. Anything else is.
                    subUnread = walk.unreadPart = true;
                    if (OnFolderError)
                        OnFolderError(*this, walk.path);
                }
                if (walk.aborted)
                    op = soAbort;
            }
            if (op == soAbort) {
                walk.aborted = true;
                break;
            }
            if (op == soContinue) {
                const bool report = OnFoundItem && SearchType != stFile && matches;
                if ((report || !SkipFolders.empty()) && !haveStat &&
                    fstatat(dirfd(dir.get()), name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                    st = {};
                if (!haveStat && skipped(st)) {
                    walk.unreadPart = true;
                    continue; // not entered (no sub-folders), still never reported
                }
                if (report) {
                    std::uint32_t attr = AttrOf(st, name, true);
                    if (subUnread)
                        attr |= kAttrUnreadPart;
                    OnFoundItem(*this, fiDir, walk.path, itemSize, PackLocalTime(st.st_mtim.tv_sec),
                                attr);
                }
                total += itemSize;
            }
        } else if (SearchType != stDir) {
            if (OnEnquiryOperation && matches)
                OnEnquiryOperation(*this, fiFile, walk.path, op);
            if (op == soAbort) {
                walk.aborted = true;
                break;
            }
            if (op == soContinue) {
                std::int64_t itemSize = st.st_size;
                foundStat_ = &st;
                if (OnFoundItem && matches)
                    OnFoundItem(*this, fiFile, walk.path, itemSize,
                                PackLocalTime(st.st_mtim.tv_sec), AttrOf(st, name, false));
                total += itemSize;
            }
        }
    }
    walk.path.resize(folderLen);
    --level_;
    return total;
}

} // namespace duplora
