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
// Threads and smallest file for copies onto a local disk (see ChooseOverlap).
constexpr int kDiskWorkers = 2;
constexpr std::int64_t kDiskOverlapFrom = 512 << 10;

} // namespace

bool RemoteFileSystemType(unsigned long type) {
    switch (type) {
    case 0x65735546UL: // fuse (GVfs, sshfs, exfat-fuse, ...)
    case 0xFF534D42UL: // cifs
    case 0xFE534D42UL: // smb2
    case 0x517BUL:     // smb
    case 0x6969UL:     // nfs
        return true;
    default:
        return false;
    }
}

bool OnRemoteFileSystem(const std::string& path) {
    return RemoteFileSystemType(FileSystemTypeOf(path));
}

// Measured on two cores, initial copies timed against copies on the run's
// thread (bench/local_copy.sh; bench/RESULTS.md, 2026-12-09):
// - A share through GVfs or exFAT through FUSE, on either side: each call
//   waits for a daemon, so three copies under way take a third to two thirds
//   of the time for every size under 1 MiB. Larger files are moved on the
//   run's thread, their progress shown as they go.
// - ext4: small files gain nothing (0-16 KiB: 1.0x to 1.35x the serial time;
//   the copies of one folder all wait for the folder's lock; 64 and 256 KiB:
//   no steady gain), but files from 512 KiB wait for the page cache and the
//   disk, which two copies overlap (512 KiB to 1000 KiB: 0.3x to 0.7x, in
//   every series). The number of files does not matter: 200 gained as much.
// - tmpfs: no wait to overlap, no steady gain at any size (0.7x to 1.6x from
//   one series to the next). File systems not measured (XFS, btrfs, vfat,
//   ...) stay on the run's thread as well.
OverlapRule ChooseOverlap(unsigned long sourceFsType, unsigned long targetFsType) {
    if (RemoteFileSystemType(sourceFsType) || RemoteFileSystemType(targetFsType))
        return {kRemoteWorkers, 0, kOverlapBelow};
    if (targetFsType == 0xEF53UL) // ext2, ext3, ext4
        return {kDiskWorkers, kDiskOverlapFrom, kOverlapBelow};
    return {};
}

CopyPipeline::CopyPipeline(int workers, std::function<void()> pump)
    : workers_(static_cast<std::size_t>(workers < 1 ? 1 : workers)),
      pool_(workers < 1 ? 1 : workers, std::move(pump)) {}

CopyPipeline::~CopyPipeline() {
    stopping_ = true; // the pool's destructor waits for the copies under way
}

bool CopyPipeline::Fits(std::string_view folder, std::string_view name, bool foldCase) const {
    for (const auto& [f, n] : inFlight_) {
        if (f != folder)
            return false;
        if (foldCase ? CompareKeysFolded(n, name) == 0 : n == name)
            return false;
    }
    return true;
}

void CopyPipeline::FinishReady() {
    pool_.FinishReady();
}

void CopyPipeline::WaitForRoom() {
    pool_.WaitBelow(workers_ * 2);
}

void CopyPipeline::Submit(CopyRequest request, std::string_view folder, std::string_view name,
                          SetAside* setAside, Finish finish) {
    // What the worker writes and the run's thread reads after it is done.
    struct Done {
        CopyOutcome outcome;
        std::vector<CopiedChunk> steps;
    };
    auto done = std::make_shared<Done>();
    inFlight_.emplace_back(folder, name);
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
        [this, done, finish = std::move(finish)] {
            inFlight_.pop_front();
            finish(done->outcome, done->steps);
        });
}

void CopyPipeline::Drain() {
    pool_.Drain();
}

void CopyPipeline::Stop() {
    for (std::size_t n = pool_.DropWaiting(); n > 0; --n)
        inFlight_.pop_back();
    stopping_ = true;
    pool_.Drain();
    stopping_ = false;
}

} // namespace duplora
