#pragma once
// The operation plan of one run: the files and folders of both sides, what
// will be done with each file, and the counters derived from that.

#include "sync/plan/FileEntry.h"
#include "sync/plan/SortList.h"
#include "sync/scan/PathArena.h"
#include "tasks/TaskRecord.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace duplora {

// A folder met by the scan, after its contents. Total is the byte total of
// the files below it; 0 marks an empty folder (nothing, or only empty files),
// -1 a folder that could not be read wholly (never empty: it may hold files).
struct FolderItem {
    std::string_view Path; // relative to the root, starting with '/'
    std::int64_t Total = 0;
    // Below a folder of the other side that could not be read: whether the
    // other side has it is unknown, so it is neither created there nor
    // removed here as "only on this side" (the Delete action still applies).
    bool OtherUnknown = false;
};

// A file found renamed or moved: one host entry and one mirror entry, one of
// which is only in its side and planned to be copied to the other, the
// other planned to be deleted on its side. The run renames the file to be
// deleted to the path of the one to be copied, within its own root.
struct TMove {
    std::uint32_t Host = 0;   // index into HostFiles
    std::uint32_t Mirror = 0; // index into MirrorFiles (sorted; stable after planning)
    bool OnMirror = true;     // the mirror's file is renamed; false: the host's
};

// Why an entry has its operation when the task remembers its last run; None
// for every entry the comparison without memory decided (and for every
// entry of a task without the option).
enum class Remembered : std::uint8_t {
    None = 0,
    DeletedInHost = 1,          // mirror entry: gone from the host, unchanged in the mirror
    DeletedInMirror = 2,        // host entry: gone from the mirror, unchanged in the host
    ChangedOnBoth = 3,          // host entry of a pair: both changed, and differently
    ChangedDeletedInMirror = 4, // host entry: changed in the host, gone from the mirror
    ChangedDeletedInHost = 5,   // mirror entry: changed in the mirror, gone from the host
};
inline constexpr int kRememberedKinds = 6;

class SyncPlan {
public:
    // Host files in scan order (never sorted); mirror files sorted by RelPath.
    std::vector<TFileEntry> HostFiles;
    TSortList MirrorFiles;
    std::vector<FolderItem> HostFolders;
    std::vector<FolderItem> MirrorFolders;
    // Folders of each side that could not be read (paths below the root, ""
    // for the root itself). What they hold is unknown, so files of the other
    // side below them are neither deleted nor copied over as "only on one
    // side": an unreadable host folder must not empty the mirror's twin.
    std::vector<std::string> HostUnreadable;
    std::vector<std::string> MirrorUnreadable;
    // Temporary files of copies found by the scan (paths below the root):
    // never part of the plan; the run removes those no copy holds any more.
    std::vector<std::string_view> HostTemporaries;
    std::vector<std::string_view> MirrorTemporaries;

    // Derived by Count() (and kept in step by SetOp()).
    std::int32_t ToMirrorCount = 0;
    std::int32_t ToHostCount = 0;
    std::int32_t HostDeleteCount = 0;
    std::int32_t MirrorDeleteCount = 0;
    std::int32_t EmptyFolderCount = 0;
    std::int32_t MoveCount = 0;  // entries with opMoveFrom (one per move)
    std::int64_t TotalBytes = 0; // source sizes of all planned copies (moves copy nothing)
    std::int64_t DoneBytes = 0;  // bytes copied so far

    // Every move the pairing found, in the order they run. A move whose two
    // entries no longer carry opMoveFrom/opMoveTo was switched off (dissolved
    // into its copy and delete) and is passed over.
    std::vector<TMove> Moves;

    // Groups of names (full paths) left alone because they differ only in
    // letter case on a side that ignores case; each is one failure line of
    // the run, and `duplora-cli plan` shows them too.
    std::vector<std::vector<std::string>> CaseCollisions;

    // The last run as remembered: when it ended (0: this run has no memory,
    // because the task does not keep one or its record was missing or not
    // usable) and how many entries of each kind the comparison found.
    std::int64_t RememberedSince = 0;
    std::string MemoryNote; // the result line that says why there is no memory, or ""
    std::array<std::int32_t, kRememberedKinds> RememberedCount{};
    // Files changed on both sides are kept in both versions: such a copy
    // also copies the other version, under its conflict name, the other way,
    // and TotalBytes counts both.
    bool KeepBothConflicts = false;

    // Results of the run, zeroed when a run begins.
    std::int32_t CopiedToMirror = 0;
    std::int32_t CopiedToHost = 0;
    std::int32_t DeletedInHost = 0;
    std::int32_t DeletedInMirror = 0;
    std::int32_t MovedCount = 0;
    std::int32_t FailedCount = 0;
    std::int32_t EmptyFoldersDone = 0; // empty folders created or removed (not in the result lines)
    std::int32_t ConflictsKept = 0;    // both versions kept: one renamed, both on both sides
    std::int32_t ConflictsSkipped = 0; // left alone and reported

    // Folders a run took something out of (a file deleted or moved away, a
    // folder removed). When everything below a folder the task removes
    // when empty is gone, the run removes it too, in the same run, although
    // the scan saw it holding files. O(1) per removal.
    void NoteRemoved(bool hostSide, std::string_view rel);
    bool TookFrom(bool hostSide, std::string_view folder) const;

    // Chooses the key comparison for paths (both sides, folder lookups).
    void SetFoldCase(bool fold);
    bool FoldCase() const { return foldCase_; }

    void ClearHost();
    void ClearMirror();
    void ClearResults();

    // Copies a path into the side's storage; the view lives until that side
    // is cleared.
    std::string_view StoreHostPath(std::string_view path) { return hostPaths_.Store(path); }
    std::string_view StoreMirrorPath(std::string_view path) { return mirrorPaths_.Store(path); }

    // Recomputes the four counters, EmptyFolderCount and TotalBytes from the
    // Op values; DoneBytes becomes 0.
    void Count(SyncAction emptyFolderAction);
    // Sum of the five counters that mean work.
    std::int64_t WorkCount() const;

    // Folder lookup, under the same comparison as MirrorFiles, in O(1).
    bool HostHasFolder(std::string_view path) const;
    bool MirrorHasFolder(std::string_view path) const;

    // Size of the source file of a planned copy of `entry`: its own size, or
    // for a host entry copied to the host, the mirror twin's size (0 if gone).
    std::int64_t SourceSize(const TFileEntry& entry, bool inHostList) const;
    // Changes one entry's Op and keeps the four counters and TotalBytes in
    // step (the preview switches operations off and on with this).
    void SetOp(TFileEntry& entry, bool inHostList, TSyncOp op);

    // Records a move of the pair and gives both entries their move ops.
    void AddMove(std::uint32_t hostIndex, std::uint32_t mirrorIndex, bool onMirror);
    // Index into Moves of the live move an entry belongs to, or -1. O(1).
    int MoveOf(const TFileEntry& entry, bool inHostList) const;
    bool MoveLive(const TMove& m) const;
    // The entry that is renamed (old path) and the one whose path it takes.
    TFileEntry& MoveOld(const TMove& m);
    TFileEntry& MoveNew(const TMove& m);
    const TFileEntry& MoveOld(const TMove& m) const;
    const TFileEntry& MoveNew(const TMove& m) const;
    // The remembered kind of an entry (O(1); entries keep their places once
    // the plan is built). Setting a kind also counts it in RememberedCount.
    void SetRemembered(const TFileEntry& entry, bool inHostList, Remembered kind);
    Remembered RememberedOf(const TFileEntry& entry, bool inHostList) const;

    // Switching a move off: both entries get back the copy and the delete the
    // move replaced, as ordinary operations with their counters.
    void DissolveMove(int index);

private:
    using FolderSet = std::unordered_set<std::string_view, KeyHash, KeyEqual>;
    const FolderSet& folderSet(const std::vector<FolderItem>& items, FolderSet& set,
                               bool& built) const;
    void clearPairing();
    void adjustCounters(const TFileEntry& entry, bool inHostList, int sign);
    std::int64_t conflictCopySize(const TFileEntry& entry, bool inHostList) const;

    std::uint64_t moveKey(const TFileEntry& entry, bool inHostList) const;

    bool foldCase_ = false;
    // (side, entry index) -> index into Moves; filled only for moves.
    std::unordered_map<std::uint64_t, std::uint32_t> moveIndex_;
    // (side, entry index) -> kind; filled only for remembered entries.
    std::unordered_map<std::uint64_t, Remembered> remembered_;
    PathArena hostPaths_;
    PathArena mirrorPaths_;
    mutable FolderSet hostSet_{0, KeyHash{}, KeyEqual{}};
    mutable FolderSet mirrorSet_{0, KeyHash{}, KeyEqual{}};
    mutable bool hostSetBuilt_ = false;
    mutable bool mirrorSetBuilt_ = false;
    FolderSet hostTaken_{0, KeyHash{}, KeyEqual{}};
    FolderSet mirrorTaken_{0, KeyHash{}, KeyEqual{}};
};

} // namespace duplora
