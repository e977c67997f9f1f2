#include "sync/execute/CopyPipeline.h"

#include "sync/fs/FolderOps.h"
#include "sync/plan/SortList.h"

#include <chrono>
#include <utility>

#include <pthread.h>
#include <signal.h>

namespace duplora {

namespace {

// How long the run's thread waits for a copy before it lets the interface
// process its events again.
constexpr auto kPumpEvery = std::chrono::milliseconds(25);
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
    : workers_(workers < 1 ? 1 : workers), pump_(pump ? std::move(pump) : [] {}) {}

CopyPipeline::~CopyPipeline() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.erase(jobs_.begin() + static_cast<std::ptrdiff_t>(started_), jobs_.end());
        stopping_ = true;
        quit_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_)
        t.join();
}

bool CopyPipeline::Fits(std::string_view folder, std::string_view name, bool foldCase) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& job : jobs_) {
        if (job->folder != folder)
            return false;
        if (foldCase ? CompareKeysFolded(job->name, name) == 0 : job->name == name)
            return false;
    }
    return true;
}

void CopyPipeline::Work() {
    // Signals (Ctrl+C, a stop request) go to the run's thread, as without
    // workers, and never interrupt a worker's call halfway.
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return quit_ || started_ < jobs_.size(); });
        if (started_ >= jobs_.size())
            return; // quitting with nothing left to take
        Job& job = *jobs_[started_++];
        lock.unlock();
        // The hooks stay on this thread: no pump (the run's thread pumps),
        // the steps are kept for the run's thread to show.
        // A stopped run lets a small copy under way end as a copy: it is a
        // few round trips from done. One that has grown since the scan stops
        // between its steps like any large copy.
        CopyHooks hooks;
        std::int64_t moved = 0;
        hooks.cancelRequested = [this, &moved] { return moved >= kStopFrom && stopping_.load(); };
        hooks.onChunk = [&job, &moved](std::int64_t chunk, std::int64_t position,
                                       std::int64_t size) {
            moved += chunk;
            job.steps.push_back({chunk, position, size});
        };
        hooks.setAside = job.setAside;
        CopyOutcome outcome = CopyOneFile(job.request, hooks);
        lock.lock();
        job.outcome = std::move(outcome);
        job.done = true;
        finished_.notify_all();
    }
}

void CopyPipeline::FinishFront(std::unique_lock<std::mutex>& lock) {
    std::unique_ptr<Job> job = std::move(jobs_.front());
    jobs_.pop_front();
    --started_;
    lock.unlock();
    job->finish(job->outcome, job->steps);
    lock.lock();
}

void CopyPipeline::FinishReady() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!jobs_.empty() && jobs_.front()->done)
        FinishFront(lock);
}

void CopyPipeline::WaitForRoom() {
    const std::size_t most = static_cast<std::size_t>(workers_) * 2;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        while (!jobs_.empty() && jobs_.front()->done)
            FinishFront(lock);
        if (jobs_.size() < most)
            return;
        if (!finished_.wait_for(lock, kPumpEvery, [this] { return jobs_.front()->done; })) {
            lock.unlock();
            pump_();
            lock.lock();
        }
    }
}

void CopyPipeline::Submit(CopyRequest request, std::string_view folder, std::string_view name,
                          SetAside* setAside, Finish finish) {
    auto job = std::make_unique<Job>();
    job->request = std::move(request);
    job->folder = folder;
    job->name = name;
    job->setAside = setAside;
    job->finish = std::move(finish);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back(std::move(job));
        // One thread per copy handed out, up to the number asked for: a run
        // with a single small copy starts one.
        if (threads_.size() < static_cast<std::size_t>(workers_) && threads_.size() < jobs_.size())
            threads_.emplace_back([this] { Work(); });
    }
    wake_.notify_one();
}

void CopyPipeline::Drain() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!jobs_.empty()) {
        if (jobs_.front()->done) {
            FinishFront(lock);
        } else if (!finished_.wait_for(lock, kPumpEvery, [this] { return jobs_.front()->done; })) {
            lock.unlock();
            pump_();
            lock.lock();
        }
    }
}

void CopyPipeline::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.erase(jobs_.begin() + static_cast<std::ptrdiff_t>(started_), jobs_.end());
        stopping_ = true;
    }
    Drain();
    stopping_ = false;
}

} // namespace duplora
