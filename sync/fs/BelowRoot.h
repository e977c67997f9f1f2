#pragma once
// File operations below one root that work relative to folder descriptors:
// no component below the root is ever a link that gets followed, a folder
// swapped for a link after the scan stops the operation instead of leading it
// outside the root, and a path's length is limited only by the file system
// (the kernel refuses whole paths of 4,096 bytes and more, one component at a
// time it never does).
//
// Also the check that a file is still what the scan saw, made right before
// anything destroys it (a delete, a copy renamed over it, a move).

#include "sync/plan/FileEntry.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

struct stat;

namespace duplora {

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes now and reports the close's own result (delayed write errors).
    bool close();
    void reset();

private:
    int fd_ = -1;
};

// A path split into the root's folder, the folders below it and the name.
struct Below {
    std::string_view rel;        // below the root, starting with '/'
    std::string_view folderPart; // rel without its last component; may be empty
    std::string_view name;       // last component
    std::string_view folderPath; // the whole path without its last component
};

// True when `path` names something strictly below `root` without "." or ".."
// components, so no file operation can reach outside the root by its text.
bool SplitBelowRoot(const std::string& path, const std::string& root, Below& out);
// `out` views into `path`: a temporary path would leave it dangling.
bool SplitBelowRoot(std::string&& path, const std::string& root, Below& out) = delete;

// Opens (O_PATH) the folder `below` names the file of, so that every later
// call works relative to it. Missing folders (and a missing root) are created
// when `create` is set.
Fd OpenFolderBelow(const std::string& root, const Below& below, bool create);
// The same below a root already open as `rootFd` (an O_PATH folder): only the
// folders below the root are looked up, never the root's own path again.
// `root` (its path) is used when rootFd is -1.
Fd OpenFolderBelow(int rootFd, const std::string& root, const Below& below, bool create);
// Opens a root folder once for many operations below it (O_PATH; links on
// the root's own path are followed, as the user chose it): -1 when it
// cannot be opened, and the callers then go by its path.
Fd OpenRoot(const std::string& root);

// What the scan saw at a path: nothing, or a file of this size and time. A
// link to a file counts as the file (the scan follows it as well).
struct ScanView {
    bool present = false;
    std::int64_t size = 0;
    std::int32_t age = 0;
    std::uint32_t timeTag = 0; // TimeTagOf(); 0 = only `age` is known

    static ScanView Absent() { return {}; }
    static ScanView Of(const TFileEntry& e) { return {true, e.Size, e.Age, e.TimeTag}; }
};

enum class Recheck {
    Same,    // as the scan saw it (absent and still absent, or the same file)
    Gone,    // the scan saw a file that is not there any more
    Changed, // anything else: other contents, a new file, a folder instead
};

// Compares `name` in the folder `folderFd` with what the scan saw. Things the
// scan never lists (a link to a folder, a dangling link, a fifo) count as
// absent, as they did for the scan.
Recheck RecheckAgainstScan(int folderFd, const char* name, const ScanView& seen);
// The same for a file already looked at with fstatat (links followed).
bool MatchesScan(const struct stat& st, const ScanView& seen);

// Renames `from` in the folder `fromDir` to `to` in `toDir` only while `to`
// is free: atomically where the file system can refuse to replace
// (RENAME_NOREPLACE), else after a look (the window is that of one call).
// 0, or the error: EEXIST when `to` is taken.
int RenameIntoFree(int fromDir, const char* from, int toDir, const char* to);

enum class MoveResult {
    Moved,
    Changed,  // the file is not what the scan saw (or is a link now)
    Occupied, // something else stands at the new path
    Failed,   // a system call failed; errno tells why
};

// Renames root + fromRel to root + toRel (both below the root, starting with
// '/'), creating toRel's missing folders. The file must still be what the
// scan saw and a plain file (a link is never renamed in place of a file), and
// nothing may stand at the new path; it is never replaced. The one exception
// is the file itself under another spelling: a change of letter case only, on
// a file system that ignores case.
MoveResult RenameBelowRoot(const std::string& root, std::string_view fromRel,
                           std::string_view toRel, const ScanView& seenFrom);

} // namespace duplora
