// Carrying out an accepted plan: the host list in order, the mirror list
// from last to first, then the empty folders.

#include "sync/execute/Execution.h"

#include "sync/compare/MoveDetection.h"
#include "sync/execute/CopyPipeline.h"
#include "sync/execute/FileCopier.h"
#include "sync/fs/BelowRoot.h"
#include "sync/fs/FolderOps.h"
#include "sync/memory/Remember.h"
#include "sync/run/RunDisplay.h"
#include "sync/run/SyncRun.h"
#include "tasks/Helpers.h"
#include "tasks/TextTable.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unordered_map>
#include <vector>

namespace duplora {

namespace {

bool Stopped(const RunContext& run) {
    return run.State == RunState::Cancelled || run.State == RunState::ErrorLimit;
}

int Percent(std::int64_t part, std::int64_t whole) {
    if (whole <= 0)
        return 100; // a file that was empty at scan time and has grown since
    if (part <= 0)
        return 0;
    if (part >= whole)
        return 100;
    return static_cast<int>(part * 100 / whole);
}

// Text of message 65 + the action's display name (entries 20..23).
std::string Performing(TSyncOp op) {
    return Msg(65) + Msg(20 + static_cast<int>(op));
}

// What the scan saw where a host entry's copy to the mirror lands: the
// mirror twin, or nothing. A run told to take the mirror as empty (-C)
// scanned nothing there to hold the target to.
std::optional<ScanView> MirrorTwinView(const RunContext& run, const TFileEntry& host) {
    if (run.SkipMirrorScan)
        return std::nullopt;
    const int i = run.Plan.MirrorFiles.Find(host.RelPath);
    return i >= 0 ? ScanView::Of(run.Plan.MirrorFiles.Items(i)) : ScanView::Absent();
}

void BeforeOperation(RunContext& run, const TFileEntry& e, TSyncOp op) {
    if (run.BeforeFileOperation)
        run.BeforeFileOperation(e.RelPath, op);
}

// One failure of the run: counted, and kept with its path and reason.
void CountFailure(RunContext& run, const std::string& path, TSyncOp op, std::string error) {
    ++run.Plan.FailedCount;
    run.Failures.push_back({path, op, std::move(error)});
}

// One step of a copy on the display: the bytes done, the file's and the
// whole run's gauges and the totals.
void ShowCopyStep(RunContext& run, std::int64_t chunk, std::int64_t position, std::int64_t size) {
    SyncPlan& plan = run.Plan;
    plan.DoneBytes += chunk;
    ShowFileGauge(run, Percent(position, size));
    ShowTotalGauge(run, Percent(plan.DoneBytes, plan.TotalBytes));
    ShowTotals(run, MsgFill(51, ShortSizeText(plan.DoneBytes),
                            ShortSizeText(plan.TotalBytes - plan.DoneBytes)));
}

// A copy planned for one entry.
struct PlannedCopy {
    TSyncOp op = opNone;
    CopyRequest request;
    std::int64_t size = 0;  // the source's size at the scan
    int* counter = nullptr; // the plan's count of this kind of copy
};

// A copy's result line, and a failure counted and recorded with the path its
// result line names: the source when it could not be read or changed while
// read, else the target.
void CountCopy(RunContext& run, TSyncOp op, const std::string& source, const std::string& target,
               const std::string& targetRoot, int& counter, CopyOutcome outcome) {
    // A folder in the target's place that the scan saw there already is no
    // change since the scan: the target simply cannot be created.
    Below below;
    if (outcome.result == CopyResult::TargetChanged && SplitBelowRoot(target, targetRoot, below) &&
        (targetRoot == run.MirrorRoot ? run.Plan.MirrorHasFolder(below.rel)
                                      : run.Plan.HostHasFolder(below.rel)) &&
        IsFolder(target)) {
        outcome.result = CopyResult::TargetCreateFailed;
        outcome.messageLine = Msg(47) + target;
        outcome.error = std::strerror(EISDIR);
    }
    if (!outcome.messageLine.empty())
        run.Lines->Append(outcome.messageLine);
    if (outcome.result == CopyResult::Copied) {
        ++counter;
        return;
    }
    const bool sourceSide = outcome.result == CopyResult::SourceOpenFailed ||
                            outcome.result == CopyResult::SourceChanged;
    CountFailure(run, sourceSide ? source : target, op, outcome.error);
}

// Copies on the run's thread, showing each step as it goes.
void CopyFile(RunContext& run, const PlannedCopy& c) {
    ShowPath(run, c.request.source);
    ShowOperation(run, Performing(c.op));
    ShowFileGauge(run, 0);
    CopyHooks hooks;
    RunObserver& ui = run.ui();
    hooks.pump = [&ui] { ui.Pump(); };
    hooks.cancelRequested = [&run] { return run.State == RunState::Cancelled; };
    hooks.setAside = run.Aside.get();
    hooks.onChunk = [&run](std::int64_t chunk, std::int64_t position, std::int64_t size) {
        ShowCopyStep(run, chunk, position, size);
    };
    CountCopy(run, c.op, c.request.source, c.request.target, c.request.targetRoot, *c.counter,
              CopyOneFile(c.request, hooks));
}

bool DeleteFile(RunContext& run, bool hostSide, const TFileEntry& seen) {
    const std::string& root = hostSide ? run.HostRoot : run.MirrorRoot;
    const std::string path = JoinRoot(root, seen.RelPath);
    const ScanView view = ScanView::Of(seen);
    const DeleteOutcome outcome = DeleteOneFile(path, root, &view, run.Aside.get());
    if (!outcome.ok && !outcome.messageLine.empty())
        run.Lines->Append(outcome.messageLine);
    if (!outcome.ok)
        CountFailure(run, path, opDelete, outcome.error);
    else
        run.Plan.NoteRemoved(hostSide, seen.RelPath);
    return outcome.ok;
}

// A copy broken by the user's cancel also counts as a failure; the run still
// ends as cancelled ("User break the task!"), not as stopped by errors.
void CheckErrorLimit(RunContext& run) {
    const std::uint16_t limit = run.Task.max_errors();
    if (limit != 0 && run.Plan.FailedCount >= limit && run.State != RunState::Cancelled)
        run.State = RunState::ErrorLimit;
}

// Pending events are processed before every entry that has work; between
// entries without work only every 256th, so 100,000 unchanged files do not
// cost 100,000 trips through the event loop.
bool PumpBefore(RunContext& run, TSyncOp op, std::size_t& idle) {
    if (op == opToMirror || op == opToHost || op == opDelete) {
        run.ui().Pump();
        idle = 0;
        return true;
    }
    if (++idle % 256 == 0)
        run.ui().Pump();
    return false;
}

// The copies of one execution step: serial ones on the run's thread, those
// the measured rule picks (ChooseOverlap) overlapped by a CopyPipeline, which
// between local folders spreads them over different target folders. Results
// come in the plan's order either way.
class Copies {
public:
    explicit Copies(RunContext& run)
        : run_(run), hostType_(FileSystemTypeOf(run.HostRoot)),
          mirrorType_(FileSystemTypeOf(run.MirrorRoot)),
          hostRemote_(RemoteFileSystemType(hostType_)),
          mirrorRemote_(RemoteFileSystemType(mirrorType_)),
          toMirror_(ChooseOverlap(hostType_, mirrorType_)),
          toHost_(ChooseOverlap(mirrorType_, hostType_)),
          hostFd_(hostRemote_ ? Fd() : OpenRoot(run.HostRoot)),
          mirrorFd_(mirrorRemote_ ? Fd() : OpenRoot(run.MirrorRoot)),
          pipe_(Workers(), !hostRemote_ && !mirrorRemote_, [&run] { run.ui().Pump(); }) {}

    // Before anything else the run does to a file: the copies handed out end.
    // False when the run stopped meanwhile.
    bool Settle() {
        pipe_.Drain();
        return !Stopped(run_);
    }

    // Copies for entry `e` (its hook is called right before); false when
    // the run stopped before it could start.
    bool Copy(const TFileEntry& e, PlannedCopy c) {
        CopyRequest& r = c.request;
        const bool toMirror = r.targetRoot == run_.MirrorRoot;
        r.remoteTarget = toMirror ? mirrorRemote_ : hostRemote_;
        r.targetRootFd = (toMirror ? mirrorFd_ : hostFd_).get();
        r.sourceRootFd = (toMirror ? hostFd_ : mirrorFd_).get();
        Below below;
        if (!Overlapped(c, toMirror ? toMirror_ : toHost_) ||
            !SplitBelowRoot(r.target, r.targetRoot, below)) {
            if (!Settle())
                return false;
            BeforeOperation(run_, e, c.op);
            CopyFile(run_, c);
            CheckErrorLimit(run_);
            return true;
        }
        if (!pipe_.Fits(below.folderPart, below.name, run_.FoldCase))
            pipe_.Drain();
        pipe_.WaitForRoom();
        if (Stopped(run_))
            return false;
        BeforeOperation(run_, e, c.op);
        const std::string folder(below.folderPart);
        const std::string name(below.name);
        RunContext& run = run_;
        CopyPipeline::Finish finish =
            [&run, op = c.op, counter = c.counter, source = r.source, target = r.target,
             targetRoot = r.targetRoot](const CopyOutcome& outcome,
                                        const std::vector<CopiedChunk>& steps) {
                ShowPath(run, source);
                ShowOperation(run, Performing(op));
                ShowFileGauge(run, 0);
                for (const CopiedChunk& step : steps) {
                    ShowCopyStep(run, step.chunk, step.position, step.size);
                    run.ui().Pump();
                }
                CountCopy(run, op, source, target, targetRoot, *counter, outcome);
                CheckErrorLimit(run);
            };
        pipe_.Submit(std::move(r), folder, name, c.size, run.FoldCase, run.Aside.get(),
                     std::move(finish));
        pipe_.FinishReady();
        return true;
    }

    // At the end of the step: what was handed out is finished (a stopped run
    // starts nothing more).
    void End() {
        if (Stopped(run_))
            pipe_.Stop();
        else
            pipe_.Drain();
    }

private:
    // A worker count set for the run (tests) overlaps every copy under
    // kOverlapBelow, whatever the file systems.
    int Workers() const {
        if (run_.CopyWorkers >= 0)
            return run_.CopyWorkers;
        return std::max(toMirror_.workers, toHost_.workers);
    }

    // A speed limit paces one copy at a time; a copy that may set the old
    // target aside stays on the run's thread with the set-aside.
    bool Overlapped(const PlannedCopy& c, const OverlapRule& rule) const {
        const OverlapRule r =
            run_.CopyWorkers >= 0 ? OverlapRule{run_.CopyWorkers, 0, kOverlapBelow} : rule;
        return r.workers > 0 && c.size >= r.from && c.size < r.below &&
               run_.Task.speed_limit() == 0 &&
               (!run_.Aside || (c.request.targetSeen && !c.request.targetSeen->present));
    }

    RunContext& run_;
    const unsigned long hostType_;
    const unsigned long mirrorType_;
    const bool hostRemote_;
    const bool mirrorRemote_;
    const OverlapRule toMirror_;
    const OverlapRule toHost_;
    // The local roots, open for the whole step, so that each copy looks up
    // only the folders below them; the copies end before these close.
    const Fd hostFd_;
    const Fd mirrorFd_;
    CopyPipeline pipe_;
};

// Announces a side's coming deletes to the trash (or versioning folder), in
// the order the loop below reaches them; Settle() after the loop clears what
// was prepared for files the loop did not delete.
void ExpectDelete(std::vector<std::string>& paths, const TFileEntry& e, const std::string& root) {
    if (e.Op == opDelete)
        paths.push_back(JoinRoot(root, e.RelPath));
}

struct SettleAside {
    RunContext& run;
    ~SettleAside() {
        if (run.Aside)
            run.Aside->Settle();
    }
};

// Whether the task's empty-folder action removes the folder `f` of one side
// when it is empty: any folder under Delete, a folder the other side lacks
// under the action that copies the other way.
bool RemovesWhenEmpty(const RunContext& run, bool hostSide, const FolderItem& f) {
    const SyncAction action = run.Task.empty_folder_action();
    if (action == SyncAction::Delete)
        return true;
    const SyncAction removes = hostSide ? SyncAction::MirrorToHost : SyncAction::HostToMirror;
    return action == removes && !f.OtherUnknown &&
           !(hostSide ? run.Plan.MirrorHasFolder(f.Path) : run.Plan.HostHasFolder(f.Path));
}

// A file that became a folder, or a folder that became a file, on the side
// the plan copies from: the plan removes what stands in the way on the other
// side (the file's delete; the deletes of everything in the folder) and puts
// the new entry in its place. Removing goes first, through the run's
// set-aside like any delete, so the copies (and moves) that follow find the
// place free; otherwise every copy below a new folder would fail, and only
// the next runs would get there.
class ClearTheWay {
public:
    explicit ClearTheWay(RunContext& run) : run_(run), plan_(run.Plan) {}

    // Files to be deleted (or moved) where the other side has a folder: one
    // lookup per folder of the other side, O(log n) each.
    void FilesInTheWay() {
        SyncPlan& plan = plan_;
        const SyncAction empty = run_.Task.empty_folder_action();
        if ((plan.MirrorDeleteCount > 0 || plan.MoveCount > 0) &&
            (plan.ToMirrorCount > 0 || plan.MoveCount > 0 || empty == SyncAction::HostToMirror)) {
            for (const FolderItem& f : plan.HostFolders) {
                const int i = plan.MirrorFiles.Find(f.Path);
                if (i >= 0 && !DeleteNow(false, plan.MirrorFiles.Items(i)))
                    return;
            }
        }
        if ((plan.HostDeleteCount > 0 || plan.MoveCount > 0) &&
            (plan.ToHostCount > 0 || plan.MoveCount > 0 || empty == SyncAction::MirrorToHost)) {
            std::unordered_map<std::string_view, std::uint32_t, KeyHash, KeyEqual> deletes(
                0, KeyHash{plan.FoldCase()}, KeyEqual{plan.FoldCase()});
            for (std::uint32_t i = 0; i < plan.HostFiles.size(); ++i)
                if (plan.HostFiles[i].Op == opDelete || plan.HostFiles[i].Op == opMoveFrom)
                    deletes.emplace(plan.HostFiles[i].RelPath, i);
            for (const FolderItem& f : plan.MirrorFolders) {
                const auto it = deletes.find(f.Path);
                if (it != deletes.end() && !DeleteNow(true, plan.HostFiles[it->second]))
                    return;
            }
        }
    }

    // Folders where a file is copied or moved to: one hash lookup per such
    // file. Everything planned for deletion (or moving away) below the
    // folder goes, then the folders, deepest first.
    void FoldersInTheWay() {
        SyncPlan& plan = plan_;
        if ((plan.ToMirrorCount > 0 || plan.MoveCount > 0) && !plan.MirrorFolders.empty())
            for (const TFileEntry& e : plan.HostFiles)
                if ((e.Op == opToMirror || e.Op == opMoveTo) && plan.MirrorHasFolder(e.RelPath) &&
                    !ClearFolder(false, e.RelPath))
                    return;
        if ((plan.ToHostCount > 0 || plan.MoveCount > 0) && !plan.HostFolders.empty())
            for (const TFileEntry& e : plan.MirrorFiles)
                if ((e.Op == opToHost || e.Op == opMoveTo) && plan.HostHasFolder(e.RelPath) &&
                    !ClearFolder(true, e.RelPath))
                    return;
    }

    // Folders that still held a file moving away: tried again after the moves.
    void Retry() {
        for (const auto& [hostSide, at] : pending_)
            RemoveFolders(hostSide, at);
        pending_.clear();
    }

private:
    // Deletes `e` now when the plan deletes it. A file the plan moves away
    // is deleted and copied instead (its move may lead below itself, a to
    // a/a, or into the folder being cleared): the move is dissolved first.
    bool DeleteNow(bool hostSide, TFileEntry& e) {
        if (e.Op == opMoveFrom)
            plan_.DissolveMove(plan_.MoveOf(e, hostSide));
        if (e.Op != opDelete)
            return true;
        run_.ui().Pump();
        if (Stopped(run_))
            return false;
        run_.State = RunState::ExecHost;
        BeforeOperation(run_, e, opDelete);
        ShowPath(run_, JoinRoot(hostSide ? run_.HostRoot : run_.MirrorRoot, e.RelPath));
        ShowOperation(run_, Performing(opDelete));
        if (DeleteFile(run_, hostSide, e))
            ++(hostSide ? plan_.DeletedInHost : plan_.DeletedInMirror);
        // Done, or failed and counted: the side's own loop passes it over.
        e.Op = opNone;
        CheckErrorLimit(run_);
        return !Stopped(run_);
    }

    bool UnderFolder(std::string_view path, std::string_view prefix) const {
        return path.size() > prefix.size() &&
               plan_.MirrorFiles.Compare(prefix, path.substr(0, prefix.size())) == 0;
    }

    bool ClearFolder(bool hostSide, std::string_view folder) {
        SyncPlan& plan = plan_;
        const std::string prefix = std::string(folder) + '/';
        if (hostSide) {
            const std::vector<std::uint32_t>& sorted = SortedHost();
            auto it = std::lower_bound(
                sorted.begin(), sorted.end(), prefix, [&](std::uint32_t i, const std::string& key) {
                    return plan.MirrorFiles.Compare(plan.HostFiles[i].RelPath, key) < 0;
                });
            for (; it != sorted.end() && UnderFolder(plan.HostFiles[*it].RelPath, prefix); ++it)
                if (!DeleteNow(true, plan.HostFiles[*it]))
                    return false;
        } else {
            const int found = plan.MirrorFiles.Find(prefix);
            for (int i = found >= 0 ? found : ~found;
                 i < plan.MirrorFiles.Count() &&
                 UnderFolder(plan.MirrorFiles.Items(i).RelPath, prefix);
                 ++i)
                if (!DeleteNow(false, plan.MirrorFiles.Items(i)))
                    return false;
        }
        const auto& index = FolderIndex(hostSide);
        const auto at = index.find(folder);
        if (at != index.end() && !RemoveFolders(hostSide, at->second))
            pending_.emplace_back(hostSide, at->second);
        return true;
    }

    // Removes the folder at `at` in the side's folder list and those below
    // it, which the scan listed right before it, deepest first, as far as
    // the empty-folder action removes them. True when the folder is gone.
    bool RemoveFolders(bool hostSide, std::size_t at) {
        const std::vector<FolderItem>& items = hostSide ? plan_.HostFolders : plan_.MirrorFolders;
        const std::string& root = hostSide ? run_.HostRoot : run_.MirrorRoot;
        const std::string prefix = std::string(items[at].Path) + '/';
        std::size_t first = at;
        while (first > 0 && UnderFolder(items[first - 1].Path, prefix))
            --first;
        bool removed = false;
        for (std::size_t k = first; k <= at; ++k) {
            removed = RemovesWhenEmpty(run_, hostSide, items[k]) &&
                      RemoveEmptyFolderBelow(root, items[k].Path);
            if (removed) {
                ++plan_.EmptyFoldersDone;
                plan_.NoteRemoved(hostSide, items[k].Path);
            }
        }
        return removed;
    }

    // Host entries in the order of the mirror's list, made on first need.
    const std::vector<std::uint32_t>& SortedHost() {
        if (sortedHost_.empty() && !plan_.HostFiles.empty()) {
            sortedHost_.resize(plan_.HostFiles.size());
            for (std::uint32_t i = 0; i < sortedHost_.size(); ++i)
                sortedHost_[i] = i;
            std::sort(sortedHost_.begin(), sortedHost_.end(),
                      [&](std::uint32_t a, std::uint32_t b) {
                          return plan_.MirrorFiles.Compare(plan_.HostFiles[a].RelPath,
                                                           plan_.HostFiles[b].RelPath) < 0;
                      });
        }
        return sortedHost_;
    }

    using Index = std::unordered_map<std::string_view, std::size_t, KeyHash, KeyEqual>;
    const Index& FolderIndex(bool hostSide) {
        Index& index = hostSide ? hostFolders_ : mirrorFolders_;
        const std::vector<FolderItem>& items = hostSide ? plan_.HostFolders : plan_.MirrorFolders;
        if (index.empty() && !items.empty()) {
            index = Index(items.size(), KeyHash{plan_.FoldCase()}, KeyEqual{plan_.FoldCase()});
            for (std::size_t k = 0; k < items.size(); ++k)
                index.emplace(items[k].Path, k);
        }
        return index;
    }

    RunContext& run_;
    SyncPlan& plan_;
    std::vector<std::uint32_t> sortedHost_;
    Index hostFolders_;
    Index mirrorFolders_;
    std::vector<std::pair<bool, std::size_t>> pending_;
};

// A path below a root that nothing occupies (not even a dangling link).
bool Free(const std::string& root, const std::string& rel) {
    struct stat st {};
    return ::lstat(JoinRoot(root, rel).c_str(), &st) != 0 && errno == ENOENT;
}

// Files changed on both sides since the last run. Keeping both: the
// version the plan would replace is renamed beside itself to its conflict
// name, then the other version is copied to its place and the renamed one to
// the other side, so each side ends with both. The user's choice in the
// preview decides which version keeps the name. Left alone: one line each.
void SettleConflicts(RunContext& run) {
    SyncPlan& plan = run.Plan;
    if (plan.RememberedSince == 0 ||
        plan.RememberedCount[static_cast<int>(Remembered::ChangedOnBoth)] == 0)
        return;
    const ConflictAction action = run.Task.conflict_action();
    const std::time_t when = run.now();
    for (TFileEntry& e : plan.HostFiles) {
        if (plan.RememberedOf(e, true) != Remembered::ChangedOnBoth)
            continue;
        if (e.Op == opNone) {
            if (action == ConflictAction::Skip) {
                run.Lines->Append(Msg(280) + JoinRoot(run.HostRoot, e.RelPath));
                ++plan.ConflictsSkipped;
            }
            continue;
        }
        if (action != ConflictAction::KeepBoth || (e.Op != opToMirror && e.Op != opToHost))
            continue;
        const int twin = plan.MirrorFiles.Find(e.RelPath);
        if (twin < 0)
            continue;
        run.ui().Pump();
        if (Stopped(run))
            break;
        run.State = RunState::ExecHost;
        const TFileEntry& m = plan.MirrorFiles.Items(twin);
        const bool hostWins = e.Op == opToMirror;
        const std::string& winnerRoot = hostWins ? run.HostRoot : run.MirrorRoot;
        const std::string& loserRoot = hostWins ? run.MirrorRoot : run.HostRoot;
        const TFileEntry& loser = hostWins ? m : e;
        const std::string rel(e.RelPath);
        const std::size_t slash = rel.find_last_of('/');
        std::string conflictRel;
        for (int attempt = 1; attempt < 1000; ++attempt) {
            conflictRel =
                rel.substr(0, slash + 1) +
                ConflictName(std::string_view(rel).substr(slash + 1), when, !hostWins, attempt);
            if (Free(run.HostRoot, conflictRel) && Free(run.MirrorRoot, conflictRel))
                break;
        }
        const std::string loserPath = JoinRoot(loserRoot, rel);
        ShowPath(run, loserPath);
        ShowOperation(run, Msg(65) + Msg(225));
        const MoveResult renamed =
            RenameBelowRoot(loserRoot, rel, conflictRel, ScanView::Of(loser));
        const TSyncOp winnerOp = e.Op;
        e.Op = opNone; // settled here, whatever happens: never copied over the other version
        if (renamed != MoveResult::Moved) {
            const std::string why = renamed == MoveResult::Failed ? std::strerror(errno)
                                    : renamed == MoveResult::Occupied
                                        ? "the new path exists since the scan"
                                        : "it changed since the scan";
            run.Lines->Append(Msg(224) + loserPath + " -> " + JoinRoot(loserRoot, conflictRel) +
                              " (" + why + ")");
            CountFailure(run, loserPath, opMoveFrom, why);
            CheckErrorLimit(run);
            continue;
        }
        NoteSettled(run, conflictRel);
        const std::int32_t limit = run.Task.speed_limit();
        const std::int64_t winnerSize = hostWins ? e.Size : m.Size;
        CopyFile(run, {winnerOp,
                       {JoinRoot(winnerRoot, rel), loserPath, loserRoot, limit, winnerRoot,
                        ScanView::Absent()},
                       winnerSize,
                       hostWins ? &plan.CopiedToMirror : &plan.CopiedToHost});
        CopyFile(run, {hostWins ? opToHost : opToMirror,
                       {JoinRoot(loserRoot, conflictRel), JoinRoot(winnerRoot, conflictRel),
                        winnerRoot, limit, loserRoot, ScanView::Absent()},
                       loser.Size,
                       hostWins ? &plan.CopiedToHost : &plan.CopiedToMirror});
        run.Lines->Append(Msg(279) + loserPath + " -> " + JoinRoot(loserRoot, conflictRel));
        ++plan.ConflictsKept;
        CheckErrorLimit(run);
    }
}

} // namespace

void StepSyncMain(RunContext& run) {
    SyncPlan& plan = run.Plan;
    run.ui().StartAnimation();
    // What stands in the way of a copy or move goes first; then the moves:
    // they must come before the other deletes of their side, and a renamed
    // file is then already in place when the copies start.
    ClearTheWay way(run);
    way.FilesInTheWay();
    way.FoldersInTheWay();
    ExecuteMoves(run);
    way.Retry();
    SettleConflicts(run);
    if (run.Aside) {
        std::vector<std::string> paths;
        for (const TFileEntry& e : plan.HostFiles)
            ExpectDelete(paths, e, run.HostRoot);
        run.Aside->Expect(std::move(paths));
    }
    const SettleAside settle{run};
    Copies copies(run);
    std::size_t idle = 0;
    for (TFileEntry& e : plan.HostFiles) {
        const bool work = PumpBefore(run, e.Op, idle);
        if (Stopped(run))
            break;
        // Every entry, with work or not, puts the run in state 3: a cancel
        // from here on is one made during execution and shows the result.
        run.State = RunState::ExecHost;
        if (!work)
            continue;
        std::string host = JoinRoot(run.HostRoot, e.RelPath);
        std::string mirror = JoinRoot(run.MirrorRoot, e.RelPath);
        const std::int32_t limit = run.Task.speed_limit();
        if (e.Op == opToMirror) {
            if (!copies.Copy(e, {opToMirror,
                                 {std::move(host), std::move(mirror), run.MirrorRoot, limit,
                                  run.HostRoot, MirrorTwinView(run, e)},
                                 e.Size,
                                 &plan.CopiedToMirror}))
                break;
            continue;
        }
        if (e.Op == opToHost) {
            const int twin = plan.MirrorFiles.Find(e.RelPath);
            const std::int64_t size = twin >= 0 ? plan.MirrorFiles.Items(twin).Size : 0;
            if (!copies.Copy(e, {opToHost,
                                 {std::move(mirror), std::move(host), run.HostRoot, limit,
                                  run.MirrorRoot, ScanView::Of(e)},
                                 size,
                                 &plan.CopiedToHost}))
                break;
            continue;
        }
        if (e.Op != opDelete)
            continue;
        if (!copies.Settle())
            break;
        BeforeOperation(run, e, e.Op);
        ShowPath(run, host);
        ShowOperation(run, Performing(opDelete));
        if (DeleteFile(run, true, e))
            ++plan.DeletedInHost;
        CheckErrorLimit(run);
    }
    copies.End();
}

void StepSyncMirror(RunContext& run) {
    SyncPlan& plan = run.Plan;
    if (run.Aside) {
        std::vector<std::string> paths;
        for (int i = plan.MirrorFiles.Count() - 1; i >= 0; --i)
            ExpectDelete(paths, plan.MirrorFiles.Items(i), run.MirrorRoot);
        run.Aside->Expect(std::move(paths));
    }
    const SettleAside settle{run};
    Copies copies(run);
    std::size_t idle = 0;
    for (int i = plan.MirrorFiles.Count() - 1; i >= 0; --i) {
        TFileEntry& e = plan.MirrorFiles.Items(i);
        const bool work = PumpBefore(run, e.Op, idle);
        if (Stopped(run))
            break;
        run.State = RunState::ExecMirror;
        if (!work || e.Op == opToMirror)
            continue; // a mirror file is never copied to the mirror
        std::string host = JoinRoot(run.HostRoot, e.RelPath);
        std::string mirror = JoinRoot(run.MirrorRoot, e.RelPath);
        if (e.Op == opToHost) {
            // A mirror entry with work has no host twin (a pair is handled
            // from the host side): the host file is new.
            if (!copies.Copy(e, {opToHost,
                                 {std::move(mirror), std::move(host), run.HostRoot,
                                  run.Task.speed_limit(), run.MirrorRoot, ScanView::Absent()},
                                 e.Size,
                                 &plan.CopiedToHost}))
                break;
            continue;
        }
        if (!copies.Settle())
            break;
        ShowPath(run, mirror);
        ShowOperation(run, Performing(e.Op));
        BeforeOperation(run, e, e.Op);
        if (DeleteFile(run, false, e))
            ++plan.DeletedInMirror;
        CheckErrorLimit(run);
    }
    copies.End();
}

// Temporary files of copies whose process died (a crash, kill -9) would stay
// for ever, hidden from every plan; any run that scanned them removes them,
// whether or not it has other work, and says so. One that a running copy
// (another process) still holds stays.
void RemoveLeftoverTemporaries(RunContext& run) {
    const SyncPlan& plan = run.Plan;
    for (int side = 0; side < 2; ++side) {
        const std::string& root = side == 0 ? run.HostRoot : run.MirrorRoot;
        for (std::string_view rel : side == 0 ? plan.HostTemporaries : plan.MirrorTemporaries)
            if (RemoveLeftoverTemporary(root, rel) == LeftoverResult::Removed)
                run.Lines->Append(Msg(237) + JoinRoot(root, rel));
    }
}

// Empty folders. Folders come after their contents, so a chain of empty
// folders is removed inner first. Folder operations are neither in the result
// lines nor logged, and their failures are silent; the run report counts them.
//
// A folder that held files at the scan but that this run emptied (its files
// deleted or moved away, its sub-folders removed) goes as well, when the
// empty-folder action would remove it were it empty: a folder only on one
// side, or any folder under Delete. Whatever still holds anything (an
// ignored file, a failed delete) stays, as removing never takes more than an
// empty folder.
void SyncEmptyFolders(RunContext& run) {
    const SyncAction action = run.Task.empty_folder_action();
    if (action == SyncAction::Ignore)
        return;
    SyncPlan& plan = run.Plan;
    ShowStatus(run, Msg(66));
    for (int side = 0; side < 2; ++side) {
        const bool hostSide = side == 0;
        const auto& items = hostSide ? plan.HostFolders : plan.MirrorFolders;
        const std::string& own = hostSide ? run.HostRoot : run.MirrorRoot;
        const std::string& other = hostSide ? run.MirrorRoot : run.HostRoot;
        // The action that creates the folder on the other side when it is
        // missing there (the opposite one removes it on this side).
        const SyncAction creates = hostSide ? SyncAction::HostToMirror : SyncAction::MirrorToHost;
        for (const FolderItem& f : items) {
            const bool emptied = f.Total > 0 && plan.TookFrom(hostSide, f.Path);
            if (f.Total != 0 && !emptied)
                continue;
            run.ui().Pump();
            if (Stopped(run))
                return;
            run.State = RunState::ExecMirror;
            const std::string path = JoinRoot(own, f.Path);
            if (RemovesWhenEmpty(run, hostSide, f)) {
                ShowOperation(run, Performing(opDelete));
                ShowPath(run, path);
                if (RemoveEmptyFolderBelow(own, f.Path)) {
                    ++plan.EmptyFoldersDone;
                    plan.NoteRemoved(hostSide, f.Path);
                }
            } else if (action == creates && !emptied && !f.OtherUnknown &&
                       !(hostSide ? plan.MirrorHasFolder(f.Path) : plan.HostHasFolder(f.Path))) {
                ShowOperation(run, Performing(hostSide ? opToMirror : opToHost));
                ShowPath(run, path);
                plan.EmptyFoldersDone += CreateFolderBelow(other, f.Path);
            }
        }
    }
}

} // namespace duplora
