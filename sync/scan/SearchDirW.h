#pragma once
// TSearchDirW walks a folder tree and reports every file and folder through
// events; it knows nothing of tasks or plans. Folders are reported after
// their contents (post-order) with the byte total of the files below them.
//
// Links: a link to a folder is neither entered nor reported (no loops, no way
// out of the root); a link to a file counts as the file it points to; a
// dangling link, and anything that is neither file nor folder (fifo, socket,
// device), is passed over. Hidden = the name starts with '.'; read-only = the
// owner may not write.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace duplora {

enum TSearchDirType : std::uint8_t { stBoth = 0, stFile = 1, stDir = 2 };
enum TFoundItemType : std::uint8_t { fiDir = 0, fiFile = 1 };
enum TSearchOperation : std::uint8_t { soContinue = 0, soSkip = 1, soAbort = 2 };

constexpr std::uint32_t kAttrReadOnly = 0x01;
constexpr std::uint32_t kAttrHidden = 0x02;
constexpr std::uint32_t kAttrDirectory = 0x10;
// A folder that was not read wholly, itself or a folder below it (could not
// be read, or holds one of SkipFolders): its byte total is a lower bound, and
// it must not be taken for an empty folder.
constexpr std::uint32_t kAttrUnreadPart = 0x80000000u;

// A folder's identity, whatever path or bind mount leads to it.
struct FolderIdentity {
    std::uint64_t dev = 0;
    std::uint64_t ino = 0;
};

// Whether the folder `st` describes is one of `folders`.
bool IsOneOf(const std::vector<FolderIdentity>& folders, const struct stat& st);

class ListingAhead;
struct FolderListing;
class TSearchDirW;

// Item is the full path (root + '/' + relative part); it is a buffer reused
// for the next item, so copy what you keep.
using TFoundItemNotify =
    std::function<void(TSearchDirW& Sender, TFoundItemType ItemType, const std::string& Item,
                       std::int64_t& ItemSize, std::int32_t Age, std::uint32_t Attr)>;
using TAskOperation = std::function<void(TSearchDirW& Sender, TFoundItemType ItemType,
                                         const std::string& Item, TSearchOperation& Operation)>;
using TSearchingNotify = std::function<void(TSearchDirW& Sender, const std::string& Directory)>;
using TNotifyEvent = std::function<void(TSearchDirW& Sender)>;

class TSearchDirW {
public:
    std::string Root;
    bool IntoSubDir = false;
    TSearchDirType SearchType = stBoth;
    // Entries between two progress calls within a folder; 0 = only on entry.
    std::uint32_t ProgressInterval = 16;

    TAskOperation OnEnquiryOperation;
    TFoundItemNotify OnFoundItem;
    TNotifyEvent OnSearchEnd;
    TSearchingNotify OnProgress;
    // A folder that exists but could not be read, wholly or in part (no
    // permission, an I/O error, too many open files): Directory is its full
    // path, Root for the root itself. What it holds is missing from the scan,
    // which goes on as if the folder held nothing more; the folder and every
    // folder above it are reported with kAttrUnreadPart.
    TSearchingNotify OnFolderError;
    // Folders that are neither entered nor reported nor counted, recognised
    // by device and inode (another tree's root met inside this one, by any
    // spelling or through a bind mount). Costs no system call of its own:
    // every folder met is looked at anyway.
    std::vector<FolderIdentity> SkipFolders;
    // Leave out the trash folders at the top of a volume, whatever user they
    // belong to: "$top/.Trash-UID" and "$top/.Trash/UID" (UID all digits),
    // where $top is the root of a mounted file system met by the scan (the
    // root itself or a mount point below it). They hold what the desktop and
    // the trash of runs keep, never anything to synchronise. Folders of
    // those names anywhere else are ordinary folders. Skipped like
    // SkipFolders: the folder holding them is never taken for empty. Costs
    // two stat calls only when such a name is met.
    bool SkipVolumeTrash = true;
    // Search() starts by reading the time zone afresh (tzset), so a changed
    // TZ is seen. A scan on a second thread leaves that to the thread that
    // started it: tzset beside another thread's tzset is a race.
    bool ReadTimeZone = true;
    // Threads that read the folders the walk enters next while it works
    // through one (ListingAhead.h), for a file system where every call waits
    // for a server; 0 = none. Events, their order and what they report stay
    // those of the walk alone. Only with IntoSubDir.
    int ListAheadThreads = 0;

    // "*.*" matches every name; any other mask is matched against the name
    // (throws InvalidMask on the first name matched against an invalid one).
    void SetMask(const std::string& mask);
    const std::string& Mask() const { return mask_; }

    // -1 outside a search, 0 for the entries of Root, +1 per nested folder.
    int Level() const { return level_; }
    // Inside OnFoundItem for a file: its stat data (a link's target).
    const struct stat& FoundStat() const { return *foundStat_; }

    // Scans Root on the calling thread; returns the root's byte total, or 0
    // (and calls nothing) when Root is empty or not a folder. An exception
    // from an event handler passes out after every open folder is closed.
    std::int64_t Search();
    // From an event handler: the folders read ahead are dropped and no more
    // are read; the walk reads what it still enters itself.
    void StopListingAhead();

private:
    struct Walk;
    // The folder opened as `dirFd`, or `ready`, read ahead (dirFd unused).
    std::int64_t scanFolder(Walk& walk, int dirFd, std::unique_ptr<FolderListing> ready);
    // `folder`: the folder being read, with its trailing '/'.
    bool isVolumeTrash(int dirFd, const char* name, std::string_view folder) const;
    bool nameMatches(const char* name) const;

    std::string mask_ = "*.*";
    bool matchAll_ = true;
    int level_ = 0;
    std::uint32_t progressCounter_ = 0;
    const struct stat* foundStat_ = nullptr;
    ListingAhead* ahead_ = nullptr; // during Search, with ListAheadThreads
};

} // namespace duplora
