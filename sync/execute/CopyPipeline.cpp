#include "sync/execute/CopyPipeline.h"

#include "sync/fs/FolderOps.h"
#include "sync/plan/SortList.h"

#include <chrono>
#include <utility>

namespace duplora {

namespace {

// A copy under way when the run stops ends as a copy until it has moved this
// much.
constexpr std::int64_t kStopFrom = 1 << 20;

// Threads for copies to or from a share or FUSE: measured on a GVfs mount of
// a Samba share (2 cores), two or three overlapping copies take about three
// quarters of the time of one after the other, more gain nothing.
constexpr int kRemoteWorkers = 3;
// Threads for copies onto a local disk or tmpfs (see ChooseOverlap).
constexpr int kLocalWorkers = 2;

} // namespace

// Measured on two cores, initial copies timed against copies on the run's
// thread (bench/local_copy.sh; bench/RESULTS.md, 2026-12-09):
// - A share through GVfs or exFAT through FUSE, on either side: each call
//   waits for a daemon, so three copies under way take a third to two thirds
//   of the time for every size under 1 MiB. Larger files are moved on the
//   run's thread, their progress shown as they go.
// - ext4 and tmpfs as the target: two copies of different folders at once
//   (spread, see CopyPipeline) take 0.6x to 0.7x the time for every size
//   under 1 MiB when a core is free (0-16 KiB, 64, 256 KiB; files from 512
//   KiB gained before, when two copies of one folder went together), and
//   about the same time when the other core is busy; three workers gain less
//   than two, as the run's thread wants a core as well. Two copies of one
//   folder at once gained nothing on small files: both wait for the
//   folder's lock. The number of files does not matter.
// - File systems not measured (XFS, btrfs, vfat, ...) stay on the run's
//   thread.
OverlapRule ChooseOverlap(unsigned long sourceFsType, unsigned long targetFsType) {
    if (RemoteFileSystemType(sourceFsType) || RemoteFileSystemType(targetFsType))
        return {kRemoteWorkers, 0, kOverlapBelow};
    if (targetFsType == 0xEF53UL || targetFsType == 0x01021994UL) // ext2/3/4, tmpfs
        return {kLocalWorkers, 0, kOverlapBelow};
    return {};
}

CopyPipeline::CopyPipeline(int workers, bool spread, std::function<void()> pump)
    : workers_(static_cast<std::size_t>(workers < 1 ? 1 : workers)), spread_(spread),
      ahead_(spread ? kSpreadAhead : workers_ * 2),
      pool_(workers < 1 ? 1 : workers, std::move(pump)) {}

CopyPipeline::~CopyPipeline() {
    stopping_ = true; // the pool's destructor waits for the copies under way
}

bool CopyPipeline::Fits(std::string_view folder, std::string_view name, bool foldCase) const {
    const KeyEqual same{foldCase};
    for (const Handed& h : inFlight_) {
        const bool sameFolder = same(h.folder, folder);
        if (!sameFolder && !spread_)
            return false;
        if (sameFolder && same(h.name, name))
            return false;
    }
    return true;
}

void CopyPipeline::FinishReady() {
    pool_.FinishReady();
}

void CopyPipeline::WaitForRoom() {
    // Spread copies of small files take a few dozen microseconds each: the
    // run's thread wakes for a quarter of the window at a time.
    pool_.WaitBelow(ahead_, spread_ ? ahead_ / 4 : 1);
}

void CopyPipeline::Submit(CopyRequest request, std::string_view folder, std::string_view name,
                          std::int64_t size, bool foldCase, SetAside* setAside, Finish finish) {
    // What the worker writes and the run's thread reads after it is done.
    struct Done {
        CopyOutcome outcome;
        std::vector<CopiedChunk> steps;
    };
    auto done = std::make_shared<Done>();
    const std::uint64_t number = handed_++;
    inFlight_.push_back({number, std::string(folder), std::string(name)});
    // Spread small files: one copy per target folder at a time (folders
    // that differ only in case are one folder where case is ignored; two
    // folders with the same hash merely take turns).
    const std::size_t group = spread_ && size < kTurnsBelow ? (KeyHash{foldCase}(folder) | 1) : 0;
    pool_.Submit(
        [this, done, request = std::move(request), setAside] {
            // The hooks stay on the worker: no pump (the run's thread
            // pumps), the steps are kept for the run's thread to show. A
            // stopped run lets a small copy under way end as a copy: it is a
            // few round trips from done. One that has grown since the scan
            // stops between its steps like any large copy.
            CopyHooks hooks;
            std::int64_t moved = 0;
            hooks.cancelRequested = [this, &moved] {
                return moved >= kStopFrom && stopping_.load();
            };
            hooks.onChunk = [&done, &moved](std::int64_t chunk, std::int64_t position,
                                            std::int64_t size) {
                moved += chunk;
                done->steps.push_back({chunk, position, size});
            };
            hooks.setAside = setAside;
            done->outcome = CopyOneFile(request, hooks);
        },
        [this, done, number, finish = std::move(finish)] {
            while (!inFlight_.empty() && inFlight_.front().number <= number)
                inFlight_.pop_front(); // this copy and those dropped before it
            finish(done->outcome, done->steps);
        },
        group);
}

void CopyPipeline::Drain() {
    pool_.Drain();
}

void CopyPipeline::Stop() {
    pool_.DropWaiting();
    stopping_ = true;
    pool_.Drain();
    stopping_ = false;
    inFlight_.clear();
}

} // namespace duplora
