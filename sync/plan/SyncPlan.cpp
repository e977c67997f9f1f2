#include "sync/plan/SyncPlan.h"

namespace duplora {

void SyncPlan::SetFoldCase(bool fold) {
    foldCase_ = fold;
    MirrorFiles.FoldCase = fold;
    hostSet_ = FolderSet(0, KeyHash{fold}, KeyEqual{fold});
    mirrorSet_ = FolderSet(0, KeyHash{fold}, KeyEqual{fold});
    hostTaken_ = FolderSet(0, KeyHash{fold}, KeyEqual{fold});
    mirrorTaken_ = FolderSet(0, KeyHash{fold}, KeyEqual{fold});
    hostSetBuilt_ = mirrorSetBuilt_ = false;
}

// What pairs the two sides: it goes when either side is scanned again.
void SyncPlan::clearPairing() {
    Moves.clear();
    CaseCollisions.clear();
    moveIndex_.clear();
    remembered_.clear();
    RememberedSince = 0;
    KeepBothConflicts = false;
    MemoryNote.clear();
    RememberedCount = {};
}

void SyncPlan::ClearHost() {
    HostFiles.clear();
    HostFiles.shrink_to_fit();
    HostFolders.clear();
    HostFolders.shrink_to_fit();
    HostUnreadable.clear();
    HostTemporaries.clear();
    hostSet_.clear();
    hostSetBuilt_ = false;
    hostTaken_.clear();
    hostPaths_.Clear();
    clearPairing();
}

void SyncPlan::ClearMirror() {
    MirrorFiles.Clear();
    MirrorFolders.clear();
    MirrorFolders.shrink_to_fit();
    MirrorUnreadable.clear();
    MirrorTemporaries.clear();
    mirrorSet_.clear();
    mirrorSetBuilt_ = false;
    mirrorTaken_.clear();
    mirrorPaths_.Clear();
    clearPairing();
}

void SyncPlan::ClearResults() {
    CopiedToMirror = CopiedToHost = DeletedInHost = DeletedInMirror = MovedCount = FailedCount = 0;
    EmptyFoldersDone = 0;
    ConflictsKept = ConflictsSkipped = 0;
    hostTaken_.clear();
    mirrorTaken_.clear();
}

void SyncPlan::NoteRemoved(bool hostSide, std::string_view rel) {
    const std::size_t slash = rel.find_last_of('/');
    if (slash == 0 || slash == std::string_view::npos)
        return; // the root itself is never removed
    (hostSide ? hostTaken_ : mirrorTaken_).insert(rel.substr(0, slash));
}

bool SyncPlan::TookFrom(bool hostSide, std::string_view folder) const {
    const FolderSet& taken = hostSide ? hostTaken_ : mirrorTaken_;
    return !taken.empty() && taken.count(folder) != 0;
}

const SyncPlan::FolderSet& SyncPlan::folderSet(const std::vector<FolderItem>& items, FolderSet& set,
                                               bool& built) const {
    if (!built) {
        set.clear();
        set.reserve(items.size());
        for (const FolderItem& f : items)
            set.insert(f.Path);
        built = true;
    }
    return set;
}

bool SyncPlan::HostHasFolder(std::string_view path) const {
    return folderSet(HostFolders, hostSet_, hostSetBuilt_).count(path) != 0;
}

bool SyncPlan::MirrorHasFolder(std::string_view path) const {
    return folderSet(MirrorFolders, mirrorSet_, mirrorSetBuilt_).count(path) != 0;
}

std::int64_t SyncPlan::SourceSize(const TFileEntry& entry, bool inHostList) const {
    if (inHostList && (entry.Op == opToHost || entry.Op == opToHostOff)) {
        const int i = MirrorFiles.Find(entry.RelPath);
        return i >= 0 ? MirrorFiles.Items(i).Size : 0;
    }
    return entry.Size;
}

// The version a kept conflict copies back under its conflict name: the one
// the copy replaces.
std::int64_t SyncPlan::conflictCopySize(const TFileEntry& entry, bool inHostList) const {
    if (!KeepBothConflicts || !inHostList || RememberedOf(entry, true) != Remembered::ChangedOnBoth)
        return 0;
    if (entry.Op == opToHost)
        return entry.Size;
    const int twin = MirrorFiles.Find(entry.RelPath);
    return twin >= 0 ? MirrorFiles.Items(twin).Size : 0;
}

void SyncPlan::adjustCounters(const TFileEntry& entry, bool inHostList, int sign) {
    switch (entry.Op) {
    case opToMirror:
        // Only host entries are copied to the mirror.
        if (inHostList) {
            ToMirrorCount += sign;
            TotalBytes += sign * (entry.Size + conflictCopySize(entry, inHostList));
        }
        break;
    case opToHost:
        ToHostCount += sign;
        TotalBytes += sign * (SourceSize(entry, inHostList) + conflictCopySize(entry, inHostList));
        break;
    case opDelete:
        (inHostList ? HostDeleteCount : MirrorDeleteCount) += sign;
        break;
    case opMoveFrom:
        MoveCount += sign;
        break;
    default:
        break;
    }
}

void SyncPlan::SetOp(TFileEntry& entry, bool inHostList, TSyncOp op) {
    adjustCounters(entry, inHostList, -1);
    entry.Op = op;
    adjustCounters(entry, inHostList, +1);
}

void SyncPlan::Count(SyncAction emptyFolderAction) {
    ToMirrorCount = ToHostCount = HostDeleteCount = MirrorDeleteCount = EmptyFolderCount = 0;
    MoveCount = 0;
    TotalBytes = DoneBytes = 0;
    for (const TFileEntry& e : HostFiles)
        adjustCounters(e, true, +1);
    for (const TFileEntry& e : MirrorFiles)
        adjustCounters(e, false, +1);
    if (emptyFolderAction == SyncAction::Ignore)
        return;
    const bool del = emptyFolderAction == SyncAction::Delete;
    for (const FolderItem& f : HostFolders)
        if (f.Total == 0 && (del || (!f.OtherUnknown && !MirrorHasFolder(f.Path))))
            ++EmptyFolderCount;
    for (const FolderItem& f : MirrorFolders)
        if (f.Total == 0 && (del || (!f.OtherUnknown && !HostHasFolder(f.Path))))
            ++EmptyFolderCount;
}

std::int64_t SyncPlan::WorkCount() const {
    return static_cast<std::int64_t>(ToMirrorCount) + ToHostCount + HostDeleteCount +
           MirrorDeleteCount + EmptyFolderCount + MoveCount;
}

std::uint64_t SyncPlan::moveKey(const TFileEntry& entry, bool inHostList) const {
    // Entries live in two vectors that no longer change once the plan is
    // built, so an entry's place in its list names it.
    const TFileEntry* base =
        inHostList ? HostFiles.data() : (MirrorFiles.Count() ? &MirrorFiles.Items(0) : nullptr);
    const auto index = static_cast<std::uint64_t>(&entry - base);
    return (inHostList ? (std::uint64_t{1} << 32) : 0) | (index & 0xFFFFFFFFu);
}

void SyncPlan::AddMove(std::uint32_t hostIndex, std::uint32_t mirrorIndex, bool onMirror) {
    const auto k = static_cast<std::uint32_t>(Moves.size());
    Moves.push_back({hostIndex, mirrorIndex, onMirror});
    TFileEntry& host = HostFiles[hostIndex];
    TFileEntry& mirror = MirrorFiles.Items(static_cast<int>(mirrorIndex));
    moveIndex_[moveKey(host, true)] = k;
    moveIndex_[moveKey(mirror, false)] = k;
    SetOp(host, true, onMirror ? opMoveTo : opMoveFrom);
    SetOp(mirror, false, onMirror ? opMoveFrom : opMoveTo);
}

bool SyncPlan::MoveLive(const TMove& m) const {
    return MoveOld(m).Op == opMoveFrom && MoveNew(m).Op == opMoveTo;
}

void SyncPlan::SetRemembered(const TFileEntry& entry, bool inHostList, Remembered kind) {
    Remembered& slot = remembered_[moveKey(entry, inHostList)];
    if (slot != Remembered::None)
        --RememberedCount[static_cast<int>(slot)];
    slot = kind;
    ++RememberedCount[static_cast<int>(kind)];
}

Remembered SyncPlan::RememberedOf(const TFileEntry& entry, bool inHostList) const {
    if (remembered_.empty())
        return Remembered::None;
    const auto it = remembered_.find(moveKey(entry, inHostList));
    return it == remembered_.end() ? Remembered::None : it->second;
}

int SyncPlan::MoveOf(const TFileEntry& entry, bool inHostList) const {
    if (!IsMoveOp(entry.Op) || moveIndex_.empty())
        return -1;
    const auto it = moveIndex_.find(moveKey(entry, inHostList));
    if (it == moveIndex_.end() || !MoveLive(Moves[it->second]))
        return -1;
    return static_cast<int>(it->second);
}

TFileEntry& SyncPlan::MoveOld(const TMove& m) {
    return m.OnMirror ? MirrorFiles.Items(static_cast<int>(m.Mirror)) : HostFiles[m.Host];
}
TFileEntry& SyncPlan::MoveNew(const TMove& m) {
    return m.OnMirror ? HostFiles[m.Host] : MirrorFiles.Items(static_cast<int>(m.Mirror));
}
const TFileEntry& SyncPlan::MoveOld(const TMove& m) const {
    return m.OnMirror ? MirrorFiles.Items(static_cast<int>(m.Mirror)) : HostFiles[m.Host];
}
const TFileEntry& SyncPlan::MoveNew(const TMove& m) const {
    return m.OnMirror ? HostFiles[m.Host] : MirrorFiles.Items(static_cast<int>(m.Mirror));
}

void SyncPlan::DissolveMove(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= Moves.size())
        return;
    const TMove m = Moves[static_cast<std::size_t>(index)];
    if (!MoveLive(m))
        return;
    TFileEntry& host = HostFiles[m.Host];
    TFileEntry& mirror = MirrorFiles.Items(static_cast<int>(m.Mirror));
    SetOp(host, true, m.OnMirror ? opToMirror : opDelete);
    SetOp(mirror, false, m.OnMirror ? opDelete : opToHost);
}

} // namespace duplora
