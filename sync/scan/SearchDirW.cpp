#include "sync/scan/SearchDirW.h"

#include "sync/fs/FileIo.h"
#include "sync/fs/FileTime.h"
#include "sync/scan/ListingAhead.h"
#include "tasks/WildMask.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
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

} // namespace

struct TSearchDirW::Walk {
    std::string path; // the folder being scanned, then + '/' + entry name
    WalkPlace place;  // with read-ahead: the folder's place, then + the entry's index
    bool aborted = false;
    bool unreadPart = false; // the folder being scanned, or one below it, was not read wholly
};

bool IsOneOf(const std::vector<FolderIdentity>& folders, const struct stat& st) {
    for (const FolderIdentity& id : folders)
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
    std::optional<ListingAhead> ahead;
    if (ListAheadThreads > 0 && IntoSubDir)
        ahead_ = &ahead.emplace(ListAheadThreads, SkipFolders);
    std::int64_t total = 0;
    try {
        total = scanFolder(walk, rootFd, nullptr);
    } catch (...) {
        level_ = -1;
        ahead_ = nullptr;
        throw;
    }
    level_ = -1;
    ahead_ = nullptr;
    ahead.reset();
    if (OnSearchEnd)
        OnSearchEnd(*this);
    return total;
}

void TSearchDirW::StopListingAhead() {
    if (ahead_)
        ahead_->Stop();
}

std::int64_t TSearchDirW::scanFolder(Walk& walk, int dirFd,
                                     std::unique_ptr<FolderListing> listing) {
    DirHandle stream; // without read-ahead: the folder read entry by entry
    if (!listing) {
        stream.reset(fdopendir(dirFd));
        if (!stream) {
            close(dirFd);
            walk.unreadPart = true;
            if (OnFolderError)
                OnFolderError(*this, walk.path);
            return 0;
        }
    }
    if (OnProgress) {
        OnProgress(*this, walk.path);
        progressCounter_ = 0;
    }
    if (ahead_ && stream) {
        // Read whole, so that the threads read its sub-folders meanwhile.
        listing = std::make_unique<FolderListing>(ReadFolder(ShareDir(stream.release())));
        ahead_->Offer(walk.place, std::string_view(walk.path).substr(walk.path.rfind('/') + 1),
                      *listing);
    }
    const int fd = listing ? dirfd(listing->dir.get()) : dirfd(stream.get());
    ++level_;
    const std::size_t folderLen = walk.path.size();
    const std::size_t depth = walk.place.size();
    if (walk.path.empty() || walk.path.back() != '/')
        walk.path.push_back('/');
    const std::size_t baseLen = walk.path.size();

    std::int64_t total = 0;
    bool first = true;
    bool unreadableReported = false;
    std::uint32_t next = 0; // the next entry of `listing`
    for (;;) {
        const char* name = nullptr;
        unsigned char type = DT_UNKNOWN;
        bool failed = false;
        if (listing) {
            if (next < listing->entries.size())
                name = listing->NameOf(listing->entries[next]);
            else
                failed = !listing->complete;
        } else {
            errno = 0;
            if (const struct dirent* e = readdir(stream.get())) {
                name = e->d_name;
                type = e->d_type;
            } else {
                // An error part-way (EIO; a folder removed meanwhile gives
                // no error).
                failed = errno != 0;
            }
        }
        if (!name) {
            if (failed) {
                walk.unreadPart = true;
                if (OnFolderError)
                    OnFolderError(*this, walk.path.substr(0, folderLen));
            }
            break;
        }
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        if (!first && OnProgress && ProgressInterval != 0) {
            progressCounter_ = (progressCounter_ + 1) % ProgressInterval;
            if (progressCounter_ == 0)
                OnProgress(*this, walk.path.substr(0, folderLen));
        }
        first = false;

        struct stat st;
        EntryKind kind;
        if (listing) {
            const ListedEntry& e = listing->entries[next++];
            kind = e.kind;
            st = e.st;
        } else {
            kind = ClassifyEntry(fd, name, type, st);
        }
        if (kind == EntryKind::Unknown)
            walk.unreadPart = true;
        if (kind == EntryKind::Unknown && !unreadableReported && OnFolderError) {
            // Once per folder: an entry of it is missing from the scan.
            unreadableReported = true;
            OnFolderError(*this, walk.path.substr(0, folderLen));
        }
        if (kind == EntryKind::Other || kind == EntryKind::Unknown)
            continue;
        walk.path.resize(baseLen);
        walk.path.append(name);
        const bool matches = nameMatches(name);
        TSearchOperation op = soContinue;

        // Only names that start with '.' or a digit can be a volume's trash.
        if (kind == EntryKind::Folder && SkipVolumeTrash && name[0] <= '9' &&
            isVolumeTrash(fd, name, std::string_view(walk.path).substr(0, baseLen))) {
            walk.unreadPart = true; // as for SkipFolders: the folder is not empty
            continue;
        }
        if (kind == EntryKind::Folder) {
            std::int64_t itemSize = 0;
            if (OnEnquiryOperation && matches)
                OnEnquiryOperation(*this, fiDir, walk.path, op);
            const bool enter = IntoSubDir && op == soContinue;
            std::unique_ptr<FolderListing> ready;
            if (ahead_) {
                walk.place.resize(depth);
                walk.place.push_back(next - 1);
                if (enter)
                    ready = ahead_->Take(walk.place);
                else
                    ahead_->PassOver(walk.place);
            }
            bool haveStat = false;
            bool subUnread = false;
            if (enter) {
                int sub = -1; // a folder read ahead comes open, with its stat data
                if (ready) {
                    st = ready->st;
                    haveStat = true;
                } else {
                    sub = CurrentFileIo().openDir(fd, name,
                                                  O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                    haveStat = sub >= 0 && fstat(sub, &st) == 0;
                }
                if (ready || sub >= 0) {
                    if (haveStat && IsOneOf(SkipFolders, st)) { // never one read ahead: handed back
                        // The folder holding it is not empty, whatever else it holds.
                        walk.unreadPart = true;
                        if (sub >= 0)
                            close(sub);
                        continue;
                    }
                    const bool outerUnread = walk.unreadPart;
                    walk.unreadPart = false;
                    itemSize = scanFolder(walk, sub, std::move(ready));
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
                    fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                    st = {};
                if (!haveStat && IsOneOf(SkipFolders, st)) {
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
    walk.place.resize(depth);
    --level_;
    return total;
}

} // namespace duplora
