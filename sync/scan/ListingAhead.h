#pragma once
// Folder listings read ahead of a walk (TSearchDirW) on a slow file system: a
// share through GVfs, another FUSE or network file system, where every
// listing and every entry's stat waits for a server. While the walk works
// through one folder, a few threads already read the folders it will enter
// next, the next one to be entered first:
//
//   walk:     A ─ take A/b ─ b's entries ─ take A/b/x ─ ... ─ take A/c ─ ...
//   threads:  read A/b, A/c, A/d, then A/b/x, A/b/y, A/c/..., ...
//
// A folder's place in the walk is the path of entry indices from the root
// (the 3rd entry of the root's 2nd entry is {1, 2}); compared as sequences,
// places come in the walk's order. The walk takes a folder's listing when it
// enters the folder and reads the folder itself when none is ready; a folder
// whose reading met anything out of the ordinary (an open or a listing that
// failed, an entry that could not be looked at, a folder the walk skips by
// identity) is handed back unread, so the walk meets that itself, reports it
// as it always does, and the threads never change what a scan finds.

#include "sync/scan/SearchDirW.h"

#include <dirent.h>
#include <sys/stat.h>

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace duplora {

// Unknown: the entry exists but cannot be looked at (a folder that may be
// listed but not searched, mode r--, gives EACCES for every entry).
enum class EntryKind : std::uint8_t { File, Folder, Other, Unknown };

// What the entry `name` of `dirFd` (readdir type `type`) is for the walk,
// with its stat data for files. A link counts as what it points to, except
// that a link to a folder is passed over. Through CurrentFileIo().
EntryKind ClassifyEntry(int dirFd, const char* name, unsigned char type, struct stat& st);

// An open folder shared by its listing and the folders queued below it,
// which are opened relative to it; closed when the last one lets go.
using SharedDir = std::shared_ptr<DIR>;
SharedDir ShareDir(DIR* dir); // null for null

struct ListedEntry {
    std::uint32_t nameAt = 0; // offset of the name in FolderListing::names
    EntryKind kind = EntryKind::Other;
    struct stat st {}; // as ClassifyEntry left it
};

// A folder read whole, "." and ".." left out, in readdir order. About 170
// bytes per entry.
struct FolderListing {
    SharedDir dir;     // still open, for calls relative to it
    struct stat st {}; // the folder's own, when read ahead
    std::string names; // every name followed by '\0'
    std::vector<ListedEntry> entries;
    bool complete = true; // false: the listing failed part way

    const char* NameOf(const ListedEntry& e) const { return names.data() + e.nameAt; }
};

// Every entry of `dir`, classified.
FolderListing ReadFolder(SharedDir dir);

using WalkPlace = std::vector<std::uint32_t>;

class ListingAhead {
public:
    // Reads ahead with up to `threads` threads (fewer when no more can be
    // started); folders identified by `skip` are handed back.
    ListingAhead(int threads, std::vector<FolderIdentity> skip);
    // Stops and waits for the threads (each finishes the folder it reads);
    // every folder still held is closed.
    ~ListingAhead();
    ListingAhead(const ListingAhead&) = delete;
    ListingAhead& operator=(const ListingAhead&) = delete;

    // The walk read the folder at `place` (named `name`) itself: its
    // sub-folders are queued. Folders read ahead have theirs queued already.
    void Offer(const WalkPlace& place, std::string_view name, const FolderListing& listing);
    // The folder at `place` read ahead (waiting while a thread reads it), or
    // null: the walk reads it itself. Every folder before it is dropped.
    std::unique_ptr<FolderListing> Take(const WalkPlace& place);
    // The walk does not enter the folder at `place`: it and everything
    // before it or below it are dropped.
    void PassOver(WalkPlace place);
    // Nothing more is read ahead, nothing more handed out.
    void Stop();

private:
    struct Node {
        SharedDir parent; // while waiting to be read
        std::string name;
        enum { Waiting, Reading, Ready } state = Waiting;
        std::unique_ptr<FolderListing> listing; // Ready
    };
    using Nodes = std::map<WalkPlace, Node>;

    void Work();
    std::unique_ptr<FolderListing> readAhead(const SharedDir& parent,
                                             const std::string& name) const;
    void queue(const WalkPlace& place, std::string_view name, const FolderListing& listing);
    void dropBefore(const WalkPlace& place);
    Nodes::iterator firstWaiting();

    const std::vector<FolderIdentity> skip_;
    std::mutex mutex_;
    std::condition_variable wake_;  // the threads: work or room, or a stop
    std::condition_variable taken_; // the walk: a folder read
    Nodes nodes_;                   // the rest under mutex_
    int reading_ = 0;               // folders being read
    int ready_ = 0;                 // folders read, not yet taken
    std::size_t readyEntries_ = 0;  // their entries
    bool stop_ = false;
    std::vector<std::thread> threads_;
};

} // namespace duplora
