#include "platform/OrderedWorkers.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <system_error>

namespace duplora {

OrderedWorkers::OrderedWorkers(int threads, std::function<void()> pump)
    : most_(static_cast<std::size_t>(std::max(threads, 1))), pump_(std::move(pump)) {}

OrderedWorkers::~OrderedWorkers() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.erase(jobs_.begin() + static_cast<std::ptrdiff_t>(started_), jobs_.end());
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

void OrderedWorkers::Work() {
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
        job.work();
        lock.lock();
        job.done = true;
        finished_.notify_all();
    }
}

void OrderedWorkers::Submit(std::function<void()> work, std::function<void()> finish) {
    auto job = std::make_unique<Job>();
    job->work = std::move(work);
    job->finish = std::move(finish);
    std::unique_lock<std::mutex> lock(mutex_);
    // One thread per job in flight, up to the number asked for.
    if (threads_.size() < most_ && threads_.size() <= jobs_.size() && !StartThread() &&
        threads_.empty()) {
        // No worker at all: the job runs here, as it would without workers,
        // and counts as taken. Every job before it ran here too.
        lock.unlock();
        job->work();
        lock.lock();
        job->done = true;
        jobs_.push_back(std::move(job));
        ++started_;
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
        --started_; // a done job was taken, by a worker or here
        lock.unlock();
        job->finish();
        lock.lock();
    }
}

void OrderedWorkers::FinishReady() {
    std::unique_lock<std::mutex> lock(mutex_);
    FinishDone(lock);
}

void OrderedWorkers::WaitBelow(std::size_t most) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (FinishDone(lock); jobs_.size() >= most && !jobs_.empty(); FinishDone(lock)) {
        if (!finished_.wait_for(lock, kPumpEvery, [this] { return jobs_.front()->done; }) &&
            pump_) {
            lock.unlock();
            pump_();
            lock.lock();
        }
    }
}

std::size_t OrderedWorkers::DropWaiting() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t dropped = 0;
    while (jobs_.size() > started_) {
        jobs_.pop_back();
        ++dropped;
    }
    return dropped;
}

} // namespace duplora
