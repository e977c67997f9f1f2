#include "sync/compare/MoveDetection.h"

#include "platform/OrderedWorkers.h"

#include "sync/fs/BelowRoot.h"
#include "sync/fs/FileIo.h"
#include "sync/fs/FileTime.h"
#include "sync/fs/FolderOps.h"
#include "sync/memory/Remember.h"
#include "sync/plan/SortList.h"
#include "sync/run/RunContext.h"
#include "sync/run/RunDisplay.h"
#include "tasks/Helpers.h"
#include "tasks/TextTable.h"
#include "tasks/WildMask.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <unordered_set>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace duplora {

namespace {

// ---------------------------------------------------------------------------
// Pairing

struct Key {
    std::int64_t size;
    std::int64_t seconds;
    std::size_t pos; // in the caller's list
    bool operator<(const Key& o) const {
        return size != o.size         ? size < o.size
               : seconds != o.seconds ? seconds < o.seconds
                                      : pos < o.pos;
    }
};

std::vector<Key> SortedKeys(const std::vector<MoveCandidate>& list) {
    std::vector<Key> keys;
    keys.reserve(list.size());
    for (std::size_t i = 0; i < list.size(); ++i)
        keys.push_back({list[i].Size, AgeWallSeconds(list[i].Age), i});
    std::sort(keys.begin(), keys.end());
    return keys;
}

// Ages are whole seconds apart, so "difference < tolerance" is "difference
// <= the largest whole number below the tolerance". Tolerances are 0..99 s;
// the cap keeps the hour windows apart even for a corrupt stored value.
std::int64_t MaxDifference(double toleranceDays) {
    const double tol = toleranceDays * 86400.0;
    if (!(tol > 0))
        return 0;
    if (tol >= 1800)
        return 1799;
    return static_cast<std::int64_t>(std::ceil(tol)) - 1;
}

// How many of `keys` (sorted) have `size` and a time within one of the
// windows, capped at 2 (only "exactly one" matters); `only` is the position
// of the match when there is exactly one.
int CountMatches(const std::vector<Key>& keys, std::int64_t size, std::int64_t seconds,
                 std::int64_t maxD, bool hour, std::size_t& only) {
    const std::int64_t centres[3] = {seconds, seconds - 3600, seconds + 3600};
    int count = 0;
    for (int w = 0; w < (hour ? 3 : 1); ++w) {
        const Key lo{size, centres[w] - maxD, 0};
        const Key hi{size, centres[w] + maxD + 1, 0};
        const auto a = std::lower_bound(keys.begin(), keys.end(), lo);
        const auto b = std::lower_bound(a, keys.end(), hi);
        const auto n = b - a;
        if (n == 1)
            only = a->pos;
        count += static_cast<int>(std::min<std::ptrdiff_t>(n, 2));
        if (count >= 2)
            return 2;
    }
    return count;
}

// ---------------------------------------------------------------------------
// Files below a root, never through a link

Fd OpenFileBelow(const std::string& root, std::string_view rel) {
    // `below` views into the path: it must outlive every use of `below`.
    const std::string path = root + std::string(rel);
    Below below;
    if (!SplitBelowRoot(path, root, below))
        return Fd();
    Fd dir = OpenFolderBelow(root, below, false);
    if (!dir.valid())
        return Fd();
    const std::string name(below.name);
    return Fd(::openat(dir.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
}

// Reads exactly `len` bytes unless the file ends or fails first.
ssize_t ReadFull(const FileIoCalls& io, int fd, char* buf, std::size_t len) {
    std::size_t got = 0;
    while (got < len) {
        const ssize_t n = io.read(fd, buf + got, len - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

} // namespace

std::vector<std::pair<std::size_t, std::size_t>>
UniquePairs(const std::vector<MoveCandidate>& sources, const std::vector<MoveCandidate>& targets,
            double toleranceDays, bool ignoreHourDifference) {
    std::vector<std::pair<std::size_t, std::size_t>> pairs;
    if (sources.empty() || targets.empty())
        return pairs;
    const std::vector<Key> sourceKeys = SortedKeys(sources);
    const std::vector<Key> targetKeys = SortedKeys(targets);
    const std::int64_t maxD = MaxDifference(toleranceDays);
    for (const Key& s : sourceKeys) {
        std::size_t t = 0;
        if (CountMatches(targetKeys, s.size, s.seconds, maxD, ignoreHourDifference, t) != 1)
            continue;
        std::size_t back = 0;
        const MoveCandidate& target = targets[t];
        if (CountMatches(sourceKeys, target.Size, AgeWallSeconds(target.Age), maxD,
                         ignoreHourDifference, back) == 1 &&
            back == s.pos)
            pairs.emplace_back(s.pos, t);
    }
    std::sort(pairs.begin(), pairs.end());
    return pairs;
}

ContentResult CompareContents(const std::string& root1, std::string_view rel1,
                              const std::string& root2, std::string_view rel2,
                              std::int64_t expectedSize,
                              const std::function<bool(std::int64_t)>& onBytes) {
    Fd a = OpenFileBelow(root1, rel1);
    Fd b = OpenFileBelow(root2, rel2);
    struct stat sa {
    }, sb{};
    if (!a.valid() || !b.valid() || ::fstat(a.get(), &sa) != 0 || ::fstat(b.get(), &sb) != 0 ||
        !S_ISREG(sa.st_mode) || !S_ISREG(sb.st_mode))
        return ContentResult::Unreadable;
    if (sa.st_size != expectedSize || sb.st_size != expectedSize)
        return ContentResult::Different;
    ::posix_fadvise(a.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    ::posix_fadvise(b.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    // Both files' first steps are asked for at once, so the disk fetches the
    // two together instead of the second only after the first arrived (for
    // files of a few MiB that wait is most of the time); the kernel's own
    // read-ahead keeps both streams going after that.
    constexpr off_t kHead = 4 << 20;
    const off_t head = static_cast<off_t>(std::min<std::int64_t>(expectedSize, kHead));
    ::posix_fadvise(a.get(), 0, head, POSIX_FADV_WILLNEED);
    ::posix_fadvise(b.get(), 0, head, POSIX_FADV_WILLNEED);
    // 1 MiB a side: large enough that the calls cost nothing next to the
    // reads, small enough that a cancel is seen within a few milliseconds.
    constexpr std::size_t kStep = 1 << 20;
    const std::unique_ptr<char[]> bufA(new char[kStep]);
    const std::unique_ptr<char[]> bufB(new char[kStep]);
    const FileIoCalls& io = CurrentFileIo();
    std::int64_t done = 0;
    for (;;) {
        const ssize_t na = ReadFull(io, a.get(), bufA.get(), kStep);
        const ssize_t nb = ReadFull(io, b.get(), bufB.get(), kStep);
        if (na < 0 || nb < 0)
            return ContentResult::Unreadable;
        if (na != nb || std::memcmp(bufA.get(), bufB.get(), static_cast<std::size_t>(na)) != 0)
            return ContentResult::Different;
        done += na;
        if (na == 0)
            break;
        if (onBytes && !onBytes(na))
            return ContentResult::Cancelled;
    }
    // A file that grew while it was read is not the file the scan saw.
    return done == expectedSize ? ContentResult::Equal : ContentResult::Different;
}

namespace {

// One pair to compare: the two entries and their paths below the roots.
struct PairFiles {
    std::uint32_t host = 0, mirror = 0;
    std::string_view hostRel, mirrorRel;
    std::int64_t size = 0;
};

// How many pairs are compared at once. A disk answers several reads in
// flight faster than one after the other: on the virtual disk this was
// measured on, a renamed folder of 1 MiB files compared about twice as fast
// on four threads as on one. Each thread holds two 1 MiB buffers.
constexpr unsigned kCompareThreads = 4;

// Compares every pair of `jobs` on a few worker threads (OrderedWorkers),
// each taking the next pair in order. Only the calling thread talks to the
// display and the observer: while it waits it shows the oldest pair still
// being compared and the bytes compared so far, pumps the events, and
// passes a cancel on to the workers, which stop within one step. Returns a
// result per pair; the pairs never started are Cancelled.
std::vector<ContentResult> ComparePairs(RunContext& run, const std::vector<PairFiles>& jobs,
                                        bool onMirror) {
    std::vector<ContentResult> results(jobs.size(), ContentResult::Cancelled);
    if (jobs.empty() || run.State == RunState::Cancelled)
        return results;
    std::int64_t total = 0;
    for (const PairFiles& j : jobs)
        total += j.size;

    std::atomic<std::int64_t> done{0}; // bytes compared, over all pairs
    std::atomic<bool> stop{false};
    std::size_t oldest = 0; // the first pair not yet finished
    std::size_t shown = jobs.size();
    RunObserver& ui = run.ui();
    const auto show = [&] {
        if (oldest < jobs.size() && oldest != shown) {
            shown = oldest;
            const PairFiles& j = jobs[oldest];
            ShowPath(run, JoinRoot(onMirror ? run.HostRoot : run.MirrorRoot,
                                   onMirror ? j.hostRel : j.mirrorRel));
        }
        const std::int64_t bytes = done.load();
        ShowTotals(run, MsgFill(51, ShortSizeText(bytes), ShortSizeText(total - bytes)));
        ShowTotalGauge(run, total > 0
                                ? static_cast<int>(std::min<std::int64_t>(100, bytes * 100 / total))
                                : 100);
        ui.Pump();
        if (run.State == RunState::Cancelled)
            stop.store(true);
    };

    OrderedWorkers pool(static_cast<int>(std::min<std::size_t>(kCompareThreads, jobs.size())),
                        show);
    for (std::size_t k = 0; k < jobs.size(); ++k) {
        pool.Submit(
            [&, k] {
                if (stop.load())
                    return; // stays Cancelled
                const PairFiles& j = jobs[k];
                ContentResult r = ContentResult::Unreadable;
                try {
                    r = CompareContents(run.HostRoot, j.hostRel, run.MirrorRoot, j.mirrorRel,
                                        j.size, [&](std::int64_t n) {
                                            done += n;
                                            return !stop.load();
                                        });
                } catch (...) {
                    // No memory for the buffers: no move, the pair is copied and deleted.
                }
                results[k] = r;
            },
            [&, k] {
                oldest = k + 1;
                show();
            });
    }
    pool.Drain();
    return results;
}

} // namespace

namespace {

// The moves on one side: the mirror's files renamed (onMirror) or the host's.
void DetectMovesOn(RunContext& run, bool onMirror) {
    const TaskRecord& task = run.Task;
    SyncPlan& plan = run.Plan;
    const std::int64_t minSize = std::max<std::int64_t>(1, task.move_min_size());

    // The file copied in: only on its side (no twin), planned to be copied.
    // The file deleted: only on its side, deleted by the task's action, not
    // by the delete masks. A host file deleted by the masks keeps its mirror
    // twin's own operation, so those twins are set apart by path.
    std::vector<MoveCandidate> hostList, mirrorList;
    const TSyncOp hostOp = onMirror ? opToMirror : opDelete;
    const TSyncOp mirrorOp = onMirror ? opDelete : opToHost;
    for (std::size_t i = 0; i < plan.HostFiles.size(); ++i) {
        const TFileEntry& e = plan.HostFiles[i];
        if (e.Op == hostOp && e.Size >= minSize)
            hostList.push_back({static_cast<std::uint32_t>(i), e.Size, e.Age});
    }
    if (hostList.empty())
        return;
    const int mirrorCount = plan.MirrorFiles.Count();
    for (int i = 0; i < mirrorCount; ++i) {
        const TFileEntry& e = plan.MirrorFiles.Items(i);
        if (e.Op == mirrorOp && e.Size >= minSize)
            mirrorList.push_back({static_cast<std::uint32_t>(i), e.Size, e.Age});
    }
    if (mirrorList.empty())
        return;
    // Host entries kept out of the comparison by the delete masks: their
    // mirror twins were never set to opNone.
    std::unordered_set<std::string_view, KeyHash, KeyEqual> hostMasked(0, KeyHash{run.FoldCase},
                                                                       KeyEqual{run.FoldCase});
    if (task.delete_masks_enabled())
        for (const TFileEntry& e : plan.HostFiles)
            if (e.Op == opDelete && run.MaskedForDelete(e.RelPath))
                hostMasked.insert(e.RelPath);
    auto keep = [&](std::vector<MoveCandidate>& list, bool hostSide) {
        std::erase_if(list, [&](const MoveCandidate& c) {
            const TFileEntry& e = hostSide ? plan.HostFiles[c.Index]
                                           : plan.MirrorFiles.Items(static_cast<int>(c.Index));
            if (run.MaskedForDelete(e.RelPath))
                return true;
            return hostSide ? plan.MirrorFiles.Find(e.RelPath) >= 0
                            : hostMasked.count(e.RelPath) != 0;
        });
    };
    keep(hostList, true);
    keep(mirrorList, false);

    const std::vector<MoveCandidate>& sources = onMirror ? hostList : mirrorList;
    const std::vector<MoveCandidate>& targets = onMirror ? mirrorList : hostList;
    const auto pairs =
        UniquePairs(sources, targets, task.time_tolerance(), task.ignore_hour_difference());
    if (pairs.empty())
        return;

    // Both files of a pair, in the pairs' order.
    std::vector<PairFiles> jobs;
    jobs.reserve(pairs.size());
    for (const auto& [s, t] : pairs) {
        const std::uint32_t h = onMirror ? sources[s].Index : targets[t].Index;
        const std::uint32_t m = onMirror ? targets[t].Index : sources[s].Index;
        jobs.push_back({h, m, plan.HostFiles[h].RelPath,
                        plan.MirrorFiles.Items(static_cast<int>(m)).RelPath, sources[s].Size});
    }
    ShowStatus(run, Msg(223));
    const RunState state = run.State;
    const std::vector<ContentResult> results = ComparePairs(run, jobs, onMirror);
    for (std::size_t k = 0; k < jobs.size(); ++k)
        if (results[k] == ContentResult::Equal)
            plan.AddMove(jobs[k].host, jobs[k].mirror, onMirror);
    if (run.State == state) {
        ShowTotals(run, "");
        ShowTotalGauge(run, 0);
    }
}

} // namespace

void DetectMoves(RunContext& run) {
    const TaskRecord& task = run.Task;
    if (!task.detect_moves())
        return;
    // A task that remembers its last run also deletes what was deleted on
    // the other side since then: a file renamed there is a new file copied
    // in plus a remembered delete, which is a move as well.
    const bool remembered = HasMemory(run);
    const bool onMirror = task.only_in_host_action() == SyncAction::HostToMirror &&
                          (task.only_in_mirror_action() == SyncAction::Delete ||
                           (remembered && task.deleted_in_host_action() == SyncAction::Delete));
    const bool onHost = task.only_in_mirror_action() == SyncAction::MirrorToHost &&
                        (task.only_in_host_action() == SyncAction::Delete ||
                         (remembered && task.deleted_in_mirror_action() == SyncAction::Delete));
    if (onMirror)
        DetectMovesOn(run, true);
    if (onHost)
        DetectMovesOn(run, false);
}

bool MoveOneFile(const std::string& root, std::string_view fromRel, std::string_view toRel,
                 const ScanView& fromScanned, const std::string& modelRoot,
                 const ScanView& modelScanned, std::string& why) {
    // The views of `from`, `to` and `model` point into these paths.
    const std::string fromPath = root + std::string(fromRel);
    const std::string toPath = root + std::string(toRel);
    const std::string modelPath = modelRoot + std::string(toRel);
    Below from, to, model;
    if (root.empty() || !SplitBelowRoot(fromPath, root, from) ||
        !SplitBelowRoot(toPath, root, to) || !SplitBelowRoot(modelPath, modelRoot, model)) {
        why = "the path leaves the folder";
        return false;
    }
    // The other side's file is what the new path must end up holding.
    const Fd modelDir = OpenFolderBelow(modelRoot, model, false);
    const std::string modelName(model.name);
    if (!modelDir.valid() ||
        RecheckAgainstScan(modelDir.get(), modelName.c_str(), modelScanned) != Recheck::Same) {
        why = "the file it mirrors changed since the scan";
        return false;
    }
    switch (RenameBelowRoot(root, fromRel, toRel, fromScanned)) {
    case MoveResult::Moved:
        return true;
    case MoveResult::Changed:
        why = "it changed since the scan";
        return false;
    case MoveResult::Occupied:
        why = "the new path exists since the scan";
        return false;
    case MoveResult::Failed:
        why = errno == ENOENT ? "it changed since the scan" : std::strerror(errno);
        return false;
    }
    return false;
}

namespace {

bool Stopped(const RunContext& run) {
    return run.State == RunState::Cancelled || run.State == RunState::ErrorLimit;
}

} // namespace

void ExecuteMoves(RunContext& run) {
    SyncPlan& plan = run.Plan;
    for (const TMove& m : plan.Moves) {
        if (!plan.MoveLive(m))
            continue; // switched off in the preview: copied and deleted instead
        run.ui().Pump();
        if (Stopped(run))
            break;
        run.State = RunState::ExecHost;
        const std::string& root = m.OnMirror ? run.MirrorRoot : run.HostRoot;
        const std::string& modelRoot = m.OnMirror ? run.HostRoot : run.MirrorRoot;
        const TFileEntry& from = plan.MoveOld(m);
        const TFileEntry& to = plan.MoveNew(m);
        const std::string fromPath = JoinRoot(root, from.RelPath);
        ShowPath(run, fromPath);
        ShowOperation(run, Msg(65) + Msg(225));
        std::string why;
        if (MoveOneFile(root, from.RelPath, to.RelPath, ScanView::Of(from), modelRoot,
                        ScanView::Of(to), why)) {
            ++plan.MovedCount;
            plan.NoteRemoved(!m.OnMirror, from.RelPath);
        } else {
            ++plan.FailedCount;
            run.Lines->Append(Msg(224) + fromPath + " -> " + JoinRoot(root, to.RelPath) + " (" +
                              why + ")");
            run.Failures.push_back({fromPath, opMoveFrom, why});
        }
        const std::uint16_t limit = run.Task.max_errors();
        if (limit != 0 && plan.FailedCount >= limit && run.State != RunState::Cancelled)
            run.State = RunState::ErrorLimit;
    }
}

} // namespace duplora
