#include "sync/scan/ScanSides.h"

#include "platform/Ascii.h"
#include "platform/ThreadSignals.h"
#include "sync/execute/FileCopier.h"
#include "sync/fs/CaseProbe.h"
#include "sync/fs/FileTime.h"
#include "sync/fs/FolderOps.h"
#include "sync/run/RunContext.h"
#include "sync/run/RunDisplay.h"
#include "sync/setaside/Trash.h"
#include "sync/setaside/Versions.h"
#include "tasks/Helpers.h"
#include "tasks/TextTable.h"
#include "tasks/WildMask.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <system_error>
#include <unordered_map>

namespace duplora {

namespace {

std::string_view LastComponent(std::string_view path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

} // namespace

bool IsCopyTempName(std::string_view name) {
    constexpr std::size_t kTail = kTempMarker.size() + kTempRandomLength;
    if (name.size() < 1 + 1 + kTail || name.front() != '.')
        return false;
    const std::string_view tail = name.substr(name.size() - kTail);
    if (tail.substr(0, kTempMarker.size()) != kTempMarker)
        return false;
    for (char c : tail.substr(kTempMarker.size()))
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    return true;
}

bool IsRecycleFolderName(std::string_view name) {
    if (name.size() != 8)
        return false;
    const std::string up = AsciiUpper(name);
    return up == "RECYCLED" || up == "RECYCLER";
}

FolderFilter::FolderFilter(const TaskRecord& task, bool foldCase)
    : include_(task.only_include_folders()), fold_(foldCase) {
    for (const std::string& raw : SplitLines(task.folder_list())) {
        std::string line = raw;
        while (!line.empty() && line.back() == '/')
            line.pop_back();
        if (line.empty())
            continue; // an empty line names no folder
        if (line.front() != '/')
            line.insert(line.begin(), '/');
        lines_.insert(key(line) + '/');
    }
}

std::string FolderFilter::key(std::string_view rel) const {
    return fold_ ? AsciiUpper(rel) : std::string(rel);
}

TSearchOperation FolderFilter::Ask(std::string_view rel) const {
    const std::string r = key(rel) + '/';
    if (!include_)
        return lines_.count(r) != 0 ? soSkip : soContinue;
    // Include mode: go on when any leading part of R that ends at a '/' is a
    // listed line (R begins with that line).
    for (std::size_t i = 1; i < r.size(); ++i) {
        if (r[i] == '/' && lines_.count(r.substr(0, i + 1)) != 0)
            return soContinue;
    }
    return soSkip;
}

UnreadableFolders::UnreadableFolders(const std::vector<std::string>& folders, bool foldCase)
    : fold_(foldCase) {
    for (const std::string& f : folders)
        keys_.insert(key(f));
}

std::string UnreadableFolders::key(std::string_view rel) const {
    return fold_ ? AsciiUpper(rel) : std::string(rel);
}

bool UnreadableFolders::Covers(std::string_view rel) const {
    if (keys_.empty())
        return false;
    // Every folder above the file: "" (the root), "/a", "/a/b", ...
    for (std::size_t i = rel.find('/'); i != std::string_view::npos; i = rel.find('/', i + 1))
        if (keys_.count(key(rel.substr(0, i))) != 0)
            return true;
    return false;
}

std::vector<std::string> ListedFileNames(const TaskRecord& task) {
    std::vector<std::string> names;
    std::unordered_set<std::string> seen; // a list of 10,000 names stays linear
    for (const std::string& line : SplitLines(task.folder_list())) {
        if (line.empty() || line == "." || line == ".." || line.find('/') != std::string::npos)
            continue;
        if (seen.insert(line).second)
            names.push_back(line);
    }
    return names;
}

namespace {

// Files of a file-type task: root + '/' + each listed name that is a file
// (a link to a file counts).
void ReadListedFiles(RunContext& run, bool hostSide) {
    const std::string& root = hostSide ? run.HostRoot : run.MirrorRoot;
    const std::string base = (!root.empty() && root.back() == '/') ? root : root + '/';
    const TSyncOp mirrorOp = static_cast<TSyncOp>(run.Task.only_in_mirror_action());
    ResetLocalTimeCache();
    for (const std::string& name : ListedFileNames(run.Task)) {
        const std::string path = base + name;
        struct stat st;
        if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        TFileEntry e;
        const std::string rel = '/' + name;
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        e.Size = fd >= 0 ? static_cast<std::int64_t>(st.st_size) : -1;
        if (fd >= 0)
            close(fd);
        e.Age = PackLocalTime(st.st_mtim.tv_sec);
        e.TimeTag = TimeTagOf(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
        if (hostSide) {
            e.RelPath = run.Plan.StoreHostPath(rel);
            e.Op = opNone;
            run.Plan.HostFiles.push_back(e);
        } else {
            e.RelPath = run.Plan.StoreMirrorPath(rel);
            e.Op = mirrorOp;
            run.Plan.MirrorFiles.Append(e); // sorted once, before the comparison
        }
    }
}

// When the other root lies inside this one (a mirror kept in a sub-folder of
// the host, say), its path relative to this root. Scanning it as part of this
// side would make the other side's files look like files of this side: they
// would be copied into themselves run after run, or deleted as "only here".
std::string NestedRootRel(const std::string& root, const std::string& other) {
    char* a = realpath(root.c_str(), nullptr);
    char* b = realpath(other.c_str(), nullptr);
    std::string rel;
    if (a && b) {
        const std::string outer = std::string(a) == "/" ? std::string() : std::string(a);
        const std::string inner = b;
        if (inner.size() > outer.size() + 1 && inner.compare(0, outer.size(), outer) == 0 &&
            inner[outer.size()] == '/')
            rel = inner.substr(outer.size());
    }
    std::free(a);
    std::free(b);
    return rel;
}

// The other side's root, held open while this side is scanned: a file
// system that hands out inode numbers only while a folder is in use (FUSE)
// keeps the number it gave.
class OtherRootHold {
public:
    explicit OtherRootHold(const std::string& path)
        : fd_(open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)) {}
    ~OtherRootHold() {
        if (fd_ >= 0)
            close(fd_);
    }
    OtherRootHold(const OtherRootHold&) = delete;
    OtherRootHold& operator=(const OtherRootHold&) = delete;
    void AddTo(std::vector<FolderIdentity>& ids) const {
        struct stat st;
        if (fd_ >= 0 && fstat(fd_, &st) == 0)
            ids.push_back(
                {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)});
    }

private:
    int fd_;
};

// Threads that read folders ahead of a side's walk (ListingAhead.h): 4 on a
// network or FUSE file system (a share through GVfs, sshfs, exfat-fuse: the
// rule of RemoteFileSystemType), where each listing and each entry's
// stat waits for a server and more requests in flight keep it busy; none on
// a local disk, where a listing takes microseconds and threads only add work.
// DUPLORA_SCAN_AHEAD=N forces N threads (0: none; at most 16) for tests and
// measuring; read once per side's scan.
int ScanAheadThreads(const std::string& root) {
    constexpr int kRemoteThreads = 4;
    if (const char* forced = std::getenv("DUPLORA_SCAN_AHEAD"))
        return std::clamp(std::atoi(forced), 0, 16);
    return OnRemoteFileSystem(root) ? kRemoteThreads : 0;
}

// `stop` is null for a scan on the run's thread, which reads the run's state
// and shows its progress itself; a scan on a thread of its own reads only
// `stop` and leaves its newest folder in `progress` for the run's thread.
// `alongside` is the mirror's scan running while the host is scanned here:
// a cancel seen here is passed on to it.
void ScanFolderSide(RunContext& run, bool hostSide, const std::atomic<bool>* stop,
                    ScanProgressSlot* progress, MirrorScanThread* alongside) {
    const std::string& root = hostSide ? run.HostRoot : run.MirrorRoot;
    const std::string& other = hostSide ? run.MirrorRoot : run.HostRoot;
    // The other root inside this one is found by identity wherever the scan
    // meets it (a bind mount included), and by its spelling as well, folded
    // where this side folds case: a FUSE file system may give one folder a
    // different inode number per spelling.
    const OtherRootHold otherHold(other);
    const std::string otherRoot = NestedRootRel(root, other);
    // The versioning folder keeps what runs set aside and is never scanned:
    // found the same two ways (a relative one also by its spelling here).
    std::string versionsPath;
    bool versionsRelative = false;
    if (run.Task.on_delete() == DeleteMode::Versions && !run.Task.versions_folder().empty()) {
        const VersionsPlace place =
            ResolveVersionsFolder(run.Task.versions_folder(), run.HostRoot, run.MirrorRoot);
        versionsPath = hostSide ? place.Host : place.Mirror;
        versionsRelative = place.Relative;
    }
    const OtherRootHold versionsHold(versionsPath);
    // So is the home trash a Trash task puts files in (a volume's own trash
    // folders are left out by the scanner, whatever the mode).
    const bool trashMode = run.Task.on_delete() == DeleteMode::Trash;
    const OtherRootHold homeTrashHold(trashMode ? HomeTrashFolder() : std::string());
    // FoldCase set by a caller without the probes' answers (a share the run
    // connected after the probe) folds both sides.
    const bool ownFold = (hostSide ? run.HostFoldsCase : run.MirrorFoldsCase) ||
                         (run.FoldCase && !run.HostFoldsCase && !run.MirrorFoldsCase);
    // Item paths are root + '/' + relative part; the relative path keeps that
    // '/' (for the root "/" the item is "/name").
    const std::size_t relStart =
        (!root.empty() && root.back() == '/') ? root.size() - 1 : root.size();
    const std::string versionsRel =
        versionsRelative && versionsPath.size() > relStart ? versionsPath.substr(relStart) : "";
    const FolderFilter filter(run.Task, run.FoldCase);
    const TaskRecord& task = run.Task;
    const bool onlyMasks = task.only_masks_enabled();
    const bool ignoreMasks = task.ignore_masks_enabled();
    const bool deleteMasks = task.delete_masks_enabled();
    const TSyncOp mirrorOp = static_cast<TSyncOp>(task.only_in_mirror_action());
    SyncPlan& plan = run.Plan;
    RunObserver& ui = run.ui();
    // Scanned after the host, the mirror knows the host's unreadable folders
    // while its entries are built; scanned at the same time, it leaves them to
    // MarkBelowHostUnreadable.
    const UnreadableFolders hostUnread(
        hostSide || stop ? std::vector<std::string>() : plan.HostUnreadable, run.FoldCase);
    // What a scan on the run's thread reads in the run's state.
    const auto cancelled = [&] {
        return stop ? stop->load(std::memory_order_relaxed) : run.State == RunState::Cancelled;
    };
    const auto scanning = [&] {
        return stop ? !stop->load(std::memory_order_relaxed)
                    : run.State == RunState::ScanHost || run.State == RunState::ScanMirror;
    };

    TSearchDirW scanner;
    scanner.Root = root;
    otherHold.AddTo(scanner.SkipFolders);
    versionsHold.AddTo(scanner.SkipFolders);
    homeTrashHold.AddTo(scanner.SkipFolders);
    scanner.IntoSubDir = task.include_subfolders();
    scanner.ListAheadThreads = ScanAheadThreads(root);
    scanner.ReadTimeZone = stop == nullptr;
    scanner.OnProgress = [&](TSearchDirW&, const std::string& dir) {
        if (progress) {
            progress->Offer(dir);
            return;
        }
        ShowPath(run, dir);
        ui.Pump();
        if (alongside && run.State == RunState::Cancelled)
            alongside->Stop();
    };
    scanner.OnFolderError = [&](TSearchDirW&, const std::string& dir) {
        const std::string_view rel =
            dir.size() <= root.size() ? std::string_view() : std::string_view(dir).substr(relStart);
        (hostSide ? plan.HostUnreadable : plan.MirrorUnreadable).emplace_back(rel);
    };
    scanner.OnEnquiryOperation = [&](TSearchDirW&, TFoundItemType type, const std::string& item,
                                     TSearchOperation& op) {
        if (cancelled()) {
            scanner.StopListingAhead();
            op = soSkip;
            return;
        }
        if (type == fiFile)
            return;
        const std::string_view rel = std::string_view(item).substr(relStart);
        const bool isOther = !otherRoot.empty() &&
                             (ownFold ? CompareKeysFolded(rel, otherRoot) == 0 : rel == otherRoot);
        const bool isVersions =
            !versionsRel.empty() &&
            (ownFold ? CompareKeysFolded(rel, versionsRel) == 0 : rel == versionsRel);
        const std::string_view last = LastComponent(rel);
        if (IsRecycleFolderName(last) || isOther || isVersions)
            op = soSkip;
        else
            op = filter.Ask(rel);
    };
    scanner.OnFoundItem = [&](TSearchDirW&, TFoundItemType type, const std::string& item,
                              std::int64_t& size, std::int32_t age, std::uint32_t attr) {
        if (!scanning())
            return;
        const std::string_view rel = std::string_view(item).substr(relStart);
        if (type == fiDir) {
            FolderItem f;
            f.Path = hostSide ? plan.StoreHostPath(rel) : plan.StoreMirrorPath(rel);
            // A folder not read wholly may hold anything: never empty.
            f.Total = (attr & kAttrUnreadPart) ? -1 : size;
            f.OtherUnknown = hostUnread.Covers(rel);
            (hostSide ? plan.HostFolders : plan.MirrorFolders).push_back(f);
            return;
        }
        const std::string_view name = LastComponent(rel);
        if (IsCopyTempName(name)) {
            // Removed by the run when no copy holds it any more.
            (hostSide ? plan.HostTemporaries : plan.MirrorTemporaries)
                .push_back(hostSide ? plan.StoreHostPath(rel) : plan.StoreMirrorPath(rel));
            return;
        }
        if (IsCaseProbeName(name))
            return; // another run's probe, there for a moment
        if (onlyMasks && !MatchesAnyMask(name, run.OnlyMasks))
            return;
        if (ignoreMasks && MatchesAnyMask(name, run.IgnoreMasks))
            return;
        const bool del = deleteMasks && MatchesAnyMask(name, run.DeleteMasks);
        TFileEntry e;
        e.Size = size;
        e.Age = age;
        const struct stat& st = scanner.FoundStat();
        e.TimeTag = TimeTagOf(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
        if (hostSide) {
            e.RelPath = plan.StoreHostPath(rel);
            e.Op = del ? opDelete : opNone;
            plan.HostFiles.push_back(e);
        } else {
            e.RelPath = plan.StoreMirrorPath(rel);
            e.Op = del ? opDelete : hostUnread.Covers(rel) ? opNone : mirrorOp;
            plan.MirrorFiles.Append(e);
        }
    };
    scanner.Search();
    if (!hostSide)
        plan.MirrorFiles.Sort();
}

// A mirror scanned alongside the host could not know the host's unreadable
// folders: what lies below one of them is marked afterwards as the serial
// scan marks it (not created on the host, not copied there as "only in the
// mirror"; a delete mask still applies). O(depth) per mirror entry, and
// nothing at all when the host was read wholly.
void MarkBelowHostUnreadable(RunContext& run) {
    SyncPlan& plan = run.Plan;
    if (plan.HostUnreadable.empty())
        return;
    const UnreadableFolders hostUnread(plan.HostUnreadable, run.FoldCase);
    for (FolderItem& f : plan.MirrorFolders)
        f.OtherUnknown = hostUnread.Covers(f.Path);
    for (TFileEntry& e : plan.MirrorFiles) {
        if (hostUnread.Covers(e.RelPath) && !run.MaskedForDelete(e.RelPath))
            e.Op = opNone;
    }
}

} // namespace

void ScanHostSide(RunContext& run, MirrorScanThread* alongside) {
    if (run.Task.sync_type() == SyncType::File)
        ReadListedFiles(run, true);
    else
        ScanFolderSide(run, true, nullptr, nullptr, alongside);
}

void ScanMirrorSide(RunContext& run) {
    if (run.Task.sync_type() == SyncType::File)
        ReadListedFiles(run, false);
    else
        ScanFolderSide(run, false, nullptr, nullptr, nullptr);
}

bool ScanSidesAtOnce(const RunContext& run) {
    return run.Task.sync_type() != SyncType::File && !run.SkipMirrorScan && !run.SerialScan &&
           std::getenv("DUPLORA_SERIAL_SCAN") == nullptr;
}

void ScanProgressSlot::Offer(const std::string& dir) {
    if (!wanted_.load(std::memory_order_acquire))
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    path_ = dir;
    fresh_ = true;
    wanted_.store(false, std::memory_order_release);
}

bool ScanProgressSlot::Take(std::string& dir) {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool fresh = fresh_;
    if (fresh)
        dir.swap(path_);
    fresh_ = false;
    wanted_.store(true, std::memory_order_release);
    return fresh;
}

MirrorScanThread::MirrorScanThread(RunContext& run) : run_(run) {
    run_.Plan.ClearMirror();
    ResetLocalTimeCache(); // the time zone as it is now, read before the thread starts
    try {
        thread_ = std::thread([this] { Work(true); });
    } catch (const std::system_error&) {
        Work(false); // no thread to be had: the scan runs here, before the host's
    }
}

MirrorScanThread::~MirrorScanThread() {
    Stop();
    if (thread_.joinable())
        thread_.join();
}

void MirrorScanThread::Stop() {
    stop_.store(true, std::memory_order_relaxed);
}

void MirrorScanThread::Work(bool ownThread) {
    if (ownThread)
        BlockSignalsInThisThread();
    try {
        ScanFolderSide(run_, false, &stop_, &progress_, nullptr);
    } catch (...) {
        error_ = std::current_exception();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
    finished_.notify_all();
}

void MirrorScanThread::Finish() {
    constexpr std::chrono::milliseconds kPumpEvery{25};
    RunObserver& ui = run_.ui();
    std::string dir;
    std::unique_lock<std::mutex> lock(mutex_);
    while (!finished_.wait_for(lock, kPumpEvery, [this] { return done_; })) {
        lock.unlock();
        if (progress_.Take(dir))
            ShowPath(run_, dir);
        ui.Pump();
        if (run_.State == RunState::Cancelled)
            Stop();
        lock.lock();
    }
    lock.unlock();
    if (thread_.joinable())
        thread_.join();
    if (error_)
        std::rethrow_exception(error_);
    if (!stop_.load(std::memory_order_relaxed))
        MarkBelowHostUnreadable(run_);
}

} // namespace duplora
