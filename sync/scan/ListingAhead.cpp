#include "sync/scan/ListingAhead.h"

#include "platform/ThreadSignals.h"
#include "sync/fs/FileIo.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

namespace duplora {

namespace {

// Folders read and not yet taken: each holds a descriptor (64 stay far below
// the usual limit of 1,024 with both sides read ahead at once) and about 170
// bytes per entry (32,768 entries are about 5.5 MB). Measured on a GVfs mount
// of a Samba share, a listing costs a few milliseconds, so a walk that
// catches up with its threads does so only in folders of few entries, and 64
// of those stay ahead of it.
constexpr int kMaxListings = 64;
constexpr std::size_t kMaxEntries = 32768;

// A volume's trash (".Trash-UID", ".Trash/UID") is recognised by the walk,
// which then passes it over: nothing in or below such a name is read ahead.
bool TrashName(std::string_view name) {
    return name.substr(0, 6) == ".Trash";
}

} // namespace

EntryKind ClassifyEntry(int dirFd, const char* name, unsigned char type, struct stat& st) {
    const FileIoCalls& io = CurrentFileIo();
    if (type == DT_DIR)
        return EntryKind::Folder; // stat taken later, only when needed
    if (type == DT_REG || type == DT_UNKNOWN) {
        if (io.statAt(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) // ENOENT: vanished meanwhile
            return errno == ENOENT ? EntryKind::Other : EntryKind::Unknown;
        if (S_ISREG(st.st_mode))
            return EntryKind::File;
        if (S_ISDIR(st.st_mode))
            return EntryKind::Folder;
        if (!S_ISLNK(st.st_mode))
            return EntryKind::Other;
        type = DT_LNK;
    }
    if (type == DT_LNK) {
        if (io.statAt(dirFd, name, &st, 0) != 0)
            return EntryKind::Other; // dangling
        return S_ISREG(st.st_mode) ? EntryKind::File : EntryKind::Other;
    }
    return EntryKind::Other; // fifo, socket, device: nothing a copy could use
}

SharedDir ShareDir(DIR* dir) {
    return dir ? SharedDir(dir, closedir) : SharedDir();
}

FolderListing ReadFolder(SharedDir dir) {
    FolderListing listing;
    listing.dir = std::move(dir);
    const int fd = dirfd(listing.dir.get());
    for (;;) {
        errno = 0;
        const struct dirent* e = readdir(listing.dir.get());
        if (!e) {
            // The end, or an error part-way (EIO; a folder removed meanwhile
            // gives no error).
            listing.complete = errno == 0;
            return listing;
        }
        const char* name = e->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        ListedEntry entry;
        entry.nameAt = static_cast<std::uint32_t>(listing.names.size());
        entry.kind = ClassifyEntry(fd, name, e->d_type, entry.st);
        listing.names.append(name, std::strlen(name) + 1);
        listing.entries.push_back(entry);
    }
}

ListingAhead::ListingAhead(int threads, std::vector<FolderIdentity> skip) : skip_(std::move(skip)) {
    try {
        for (int i = 0; i < threads; ++i)
            threads_.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
        // Fewer threads, or none: the walk reads what they do not.
    }
}

ListingAhead::~ListingAhead() {
    Stop();
    for (std::thread& t : threads_)
        t.join();
}

void ListingAhead::Stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    nodes_.clear(); // a folder being read is let go when read
    ready_ = 0;
    readyEntries_ = 0;
    wake_.notify_all();
    taken_.notify_all();
}

void ListingAhead::Offer(const WalkPlace& place, std::string_view name,
                         const FolderListing& listing) {
    std::lock_guard<std::mutex> lock(mutex_);
    queue(place, name, listing);
    wake_.notify_all();
}

void ListingAhead::queue(const WalkPlace& place, std::string_view name,
                         const FolderListing& listing) {
    if (stop_ || TrashName(name))
        return;
    WalkPlace sub = place;
    sub.push_back(0);
    for (std::size_t i = 0; i < listing.entries.size(); ++i) {
        const ListedEntry& e = listing.entries[i];
        if (e.kind != EntryKind::Folder || TrashName(listing.NameOf(e)))
            continue;
        sub.back() = static_cast<std::uint32_t>(i);
        nodes_.emplace(sub, Node{listing.dir, listing.NameOf(e), Node::Waiting, nullptr});
    }
}

std::unique_ptr<FolderListing> ListingAhead::Take(const WalkPlace& place) {
    std::unique_lock<std::mutex> lock(mutex_);
    dropBefore(place);
    Nodes::iterator it;
    taken_.wait(lock, [&] {
        it = nodes_.find(place);
        return it == nodes_.end() || it->second.state != Node::Reading;
    });
    if (it == nodes_.end())
        return nullptr;
    std::unique_ptr<FolderListing> listing = std::move(it->second.listing);
    if (listing) {
        --ready_;
        readyEntries_ -= listing->entries.size();
    }
    nodes_.erase(it);
    wake_.notify_all();
    return listing;
}

void ListingAhead::PassOver(WalkPlace place) {
    ++place.back(); // the place right after it and all that lies below it
    std::lock_guard<std::mutex> lock(mutex_);
    dropBefore(place);
    wake_.notify_all();
}

void ListingAhead::dropBefore(const WalkPlace& place) {
    const Nodes::iterator end = nodes_.lower_bound(place);
    for (Nodes::iterator it = nodes_.begin(); it != end; ++it)
        if (it->second.listing) {
            --ready_;
            readyEntries_ -= it->second.listing->entries.size();
        }
    nodes_.erase(nodes_.begin(), end); // a folder being read is let go when read
}

ListingAhead::Nodes::iterator ListingAhead::firstWaiting() {
    // Passes over at most kMaxListings folders being read or read.
    return std::find_if(nodes_.begin(), nodes_.end(),
                        [](const Nodes::value_type& n) { return n.second.state == Node::Waiting; });
}

void ListingAhead::Work() {
    BlockSignalsInThisThread();
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        Nodes::iterator next = nodes_.end();
        wake_.wait(lock, [&] {
            if (stop_)
                return true;
            const bool room = reading_ + ready_ < kMaxListings && readyEntries_ < kMaxEntries;
            return room && (next = firstWaiting()) != nodes_.end();
        });
        if (stop_)
            return;
        const WalkPlace place = next->first;
        const SharedDir parent = std::move(next->second.parent);
        const std::string name = std::move(next->second.name);
        next->second.state = Node::Reading;
        ++reading_;
        lock.unlock();
        std::unique_ptr<FolderListing> listing;
        try {
            listing = readAhead(parent, name);
        } catch (const std::bad_alloc&) {
            // Handed back: the walk reads it and meets the shortage itself.
        }
        lock.lock();
        --reading_;
        const Nodes::iterator it = nodes_.find(place);
        if (it == nodes_.end())
            continue; // passed over meanwhile: dropped when `listing` goes
        if (listing) {
            queue(place, name, *listing);
            ++ready_;
            readyEntries_ += listing->entries.size();
            it->second.listing = std::move(listing);
            it->second.state = Node::Ready;
        } else {
            nodes_.erase(it);
        }
        taken_.notify_all();
        wake_.notify_all();
    }
}

std::unique_ptr<FolderListing> ListingAhead::readAhead(const SharedDir& parent,
                                                       const std::string& name) const {
    const int fd = CurrentFileIo().openDir(dirfd(parent.get()), name.c_str(),
                                           O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat st;
    const bool skipped = fstat(fd, &st) != 0 || IsOneOf(skip_, st);
    SharedDir dir = skipped ? SharedDir() : ShareDir(fdopendir(fd));
    if (!dir) {
        close(fd);
        return nullptr;
    }
    auto listing = std::make_unique<FolderListing>(ReadFolder(std::move(dir)));
    listing->st = st;
    const bool unknown =
        std::any_of(listing->entries.begin(), listing->entries.end(),
                    [](const ListedEntry& e) { return e.kind == EntryKind::Unknown; });
    if (!listing->complete || unknown)
        return nullptr;
    return listing;
}

} // namespace duplora
