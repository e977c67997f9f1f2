#pragma once
// Overlapping copies of small files to or from a share, where each copy
// waits for several round trips to the server (create, time, rename) while
// both ends sit idle, and onto ext4 or tmpfs (ChooseOverlap): a few worker
// threads run CopyOneFile at once. The run's thread hands the copies out and
// takes every result back in the order it handed them out: all a run shows,
// counts and writes to its lines happens there, as in a copy without workers.
//
// Only copies that cannot meet each other go together, none replacing a file
// through a set-aside. With a share or FUSE on either side: consecutive files
// of one target folder whose names differ (also without regard to case);
// anything else waits until the copies handed out are finished. Between local
// file systems ("spread"): the
// files of different target folders as well, and small files (under
// kTurnsBelow) one per folder at a time, since a folder's creates and renames
// wait for one lock in the kernel, which the copy of a small file spends most
// of its time holding or waiting for; those of one folder run in the plan's
// order. A copy creates the folders above its target that are missing,
// whichever copy gets there first.

#include "platform/OrderedWorkers.h"
#include "sync/execute/FileCopier.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace duplora {

// What one step of a copy reported: bytes moved, position, size.
struct CopiedChunk {
    std::int64_t chunk = 0;
    std::int64_t position = 0;
    std::int64_t size = 0;
};

// Files of this size and more are always copied on the run's thread, with
// their progress shown as they go.
inline constexpr std::int64_t kOverlapBelow = 1 << 20;

// Copies of smaller files into one local folder take turns (see above).
inline constexpr std::int64_t kTurnsBelow = 512 << 10;

// Which copies between two file systems (statfs types) overlap on worker
// threads: files of at least `from` and under `below` bytes (at the scan),
// with `workers` threads; none when `workers` is 0.
struct OverlapRule {
    int workers = 0;
    std::int64_t from = 0;
    std::int64_t below = 0;
    bool operator==(const OverlapRule&) const = default;
};
OverlapRule ChooseOverlap(unsigned long sourceFsType, unsigned long targetFsType);

class CopyPipeline {
public:
    // Runs on the run's thread with the copy's outcome and its steps.
    using Finish =
        std::function<void(const CopyOutcome& outcome, const std::vector<CopiedChunk>& steps)>;

    // `workers` threads (started with the first copy), at most twice as many
    // copies handed out at once, or kSpreadAhead when `spread`. `pump` keeps
    // the interface alive while the run's thread waits.
    CopyPipeline(int workers, bool spread, std::function<void()> pump);

    // Copies handed out at once when spread: enough to reach a few folders
    // ahead while the oldest is still being copied (folders of tens of
    // files). Copies done ahead of one that stops the run (its error limit)
    // happened and are counted, so this also bounds how far a run goes past
    // its limit.
    static constexpr std::size_t kSpreadAhead = 64;
    ~CopyPipeline(); // drops what was not started, waits for the rest; finishes nothing
    CopyPipeline(const CopyPipeline&) = delete;
    CopyPipeline& operator=(const CopyPipeline&) = delete;

    // Whether a copy into `folder` (below the target root) named `name` may
    // go beside the copies handed out; otherwise Drain() first.
    bool Fits(std::string_view folder, std::string_view name, bool foldCase) const;
    // Finishes the copies that are done, in order, and waits (pumping) until
    // there is room for one more.
    void WaitForRoom();
    // Hands out a copy. `setAside` is never used by a copy that goes here:
    // its target was absent at the scan, or there is none.
    // `size` is the source's size at the scan.
    void Submit(CopyRequest request, std::string_view folder, std::string_view name,
                std::int64_t size, bool foldCase, SetAside* setAside, Finish finish);
    // Finishes the copies that are done, in order, without waiting.
    void FinishReady();
    // Waits for all copies handed out and finishes each, in order.
    void Drain();
    // After a cancel or the error limit: copies not started are dropped
    // (they never happened), a running one ends (one that grew past 1 MiB
    // since the scan is told to stop between its steps); then as Drain().
    void Stop();

private:
    struct Handed {
        std::uint64_t number;
        std::string folder;
        std::string name;
    };

    const std::size_t workers_;
    const bool spread_;
    const std::size_t ahead_;
    // Set while Stop() drains: a copy under way that has moved 1 MiB stops
    // between its steps. Read by the workers, so it outlives them.
    std::atomic<bool> stopping_{false};
    // The folder and name of each copy in flight, oldest first; only the
    // run's thread touches it. A copy dropped by Stop() stays until a later
    // one finishes (or the pipeline is drained).
    std::deque<Handed> inFlight_;
    std::uint64_t handed_ = 0;
    OrderedWorkers pool_;
};

} // namespace duplora
