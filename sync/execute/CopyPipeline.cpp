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

} // namespace

bool OnRemoteFileSystem(const std::string& path) {
    switch (FileSystemTypeOf(path)) {
    case 0x65735546UL: // fuse (GVfs, sshfs, ...)
    case 0xFF534D42UL: // cifs
    case 0xFE534D42UL: // smb2
    case 0x517BUL:     // smb
    case 0x6969UL:     // nfs
        return true;
    default:
        return false;
    }
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
