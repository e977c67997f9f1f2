#include "platform/OrderedWorkers.h"

#include "platform/ThreadSignals.h"

#include <algorithm>
#include <system_error>

namespace duplora {

OrderedWorkers::OrderedWorkers(int threads, std::function<void()> pump)
    : most_(static_cast<std::size_t>(std::max(threads, 1))), pump_(std::move(pump)) {}

OrderedWorkers::~OrderedWorkers() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::erase_if(jobs_, [](const std::unique_ptr<Job>& job) { return !job->started; });
        quit_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_)
        t.join();
}

bool OrderedWorkers::StartThread() {
    try {
        threads_.emplace_back([this] { Work(); });
        return true;
    } catch (const std::system_error&) {
        return false; // no more threads to be had
    }
}

// The oldest job not started whose group no running job has. The caller
// keeps a few jobs in flight, so this looks at a few.
OrderedWorkers::Job* OrderedWorkers::NextToTake() const {
    for (const std::unique_ptr<Job>& job : jobs_)
        if (!job->started && (job->group == 0 || std::find(running_.begin(), running_.end(),
                                                           job->group) == running_.end()))
            return job.get();
    return nullptr;
}

void OrderedWorkers::Work() {
    BlockSignalsInThisThread();
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        Job* job = nullptr;
        wake_.wait(lock, [this, &job] { return (job = NextToTake()) != nullptr || quit_; });
        if (job == nullptr)
            return; // quitting with nothing left to take
        job->started = true;
        if (job->group != 0)
            running_.push_back(job->group);
        lock.unlock();
        job->work();
        lock.lock();
        job->done = true;
        if (job->group != 0) {
            running_.erase(std::find(running_.begin(), running_.end(), job->group));
            wake_.notify_all(); // a job of that group may wait
        }
        if (wantDone_ != 0 && OldestDone(wantDone_))
            finished_.notify_all();
    }
}

void OrderedWorkers::Submit(std::function<void()> work, std::function<void()> finish,
                            std::size_t group) {
    auto job = std::make_unique<Job>();
    job->work = std::move(work);
    job->finish = std::move(finish);
    job->group = group;
    std::unique_lock<std::mutex> lock(mutex_);
    // One thread per job in flight, up to the number asked for.
    if (threads_.size() < most_ && threads_.size() <= jobs_.size() && !StartThread() &&
        threads_.empty()) {
        // No worker at all: the job runs here, as it would without workers,
        // and counts as taken. Every job before it ran here too.
        lock.unlock();
        job->work();
        lock.lock();
        job->started = job->done = true;
        jobs_.push_back(std::move(job));
        return;
    }
    jobs_.push_back(std::move(job));
    lock.unlock();
    wake_.notify_one();
}

std::size_t OrderedWorkers::InFlight() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return jobs_.size();
}

void OrderedWorkers::FinishDone(std::unique_lock<std::mutex>& lock) {
    while (!jobs_.empty() && jobs_.front()->done) {
        std::unique_ptr<Job> job = std::move(jobs_.front());
        jobs_.pop_front();
        lock.unlock();
        job->finish();
        lock.lock();
    }
}

void OrderedWorkers::FinishReady() {
    std::unique_lock<std::mutex> lock(mutex_);
    FinishDone(lock);
}

bool OrderedWorkers::OldestDone(std::size_t count) const {
    for (std::size_t i = 0; i < count && i < jobs_.size(); ++i)
        if (!jobs_[i]->done)
            return false;
    return true;
}

void OrderedWorkers::WaitBelow(std::size_t most, std::size_t batch) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (FinishDone(lock); jobs_.size() >= most && !jobs_.empty(); FinishDone(lock)) {
        wantDone_ = std::max<std::size_t>(batch, 1);
        const bool done =
            finished_.wait_for(lock, kPumpEvery, [this] { return OldestDone(wantDone_); });
        wantDone_ = 0;
        if (!done) {
            // Slow jobs: from now on the oldest one is waited for, so that
            // what `pump` sees (a cancel) reaches the caller after one job.
            batch = 1;
            if (pump_) {
                lock.unlock();
                pump_();
                lock.lock();
            }
        }
    }
}

std::size_t OrderedWorkers::DropWaiting() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::erase_if(jobs_, [](const std::unique_ptr<Job>& job) { return !job->started; });
}

} // namespace duplora
