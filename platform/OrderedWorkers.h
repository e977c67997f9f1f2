#pragma once
// A few worker threads that run jobs in the order they were handed out and
// finish each on the caller's thread in that same order. The copy workers
// for small files and the move detection's content compares both use it:
// the slow part (a copy's round trips to a share, reading two files) runs on
// the workers, while everything a run shows, counts and writes to its lines
// stays on the run's thread, as without workers.
//
//   Submit(work, finish) ──> [work on a worker] ──> done ──> finish on the caller
//                                 in order                    in order
//
// A job may name a group (a nonzero number): no two jobs of one group run at
// once, and a worker takes the oldest waiting job whose group is free, so the
// jobs of one group run in the order handed out while other groups' jobs
// overtake them (the copies of different folders go together, those of one
// folder one after the other).
//
// Threads are started with the jobs (a run with one job starts one thread)
// and joined by the destructor. While the caller waits it calls `pump` every
// 25 ms, so a window stays responsive and Cancel is seen.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace duplora {

class OrderedWorkers {
public:
    static constexpr std::chrono::milliseconds kPumpEvery{25};

    // At most `threads` (at least 1) threads; `pump` may be empty. Workers
    // block every signal, so Ctrl+C and stop requests reach the caller's
    // thread and never interrupt a worker's system call.
    OrderedWorkers(int threads, std::function<void()> pump);
    // Drops the jobs not started and waits for the running ones; finishes
    // nothing.
    ~OrderedWorkers();
    OrderedWorkers(const OrderedWorkers&) = delete;
    OrderedWorkers& operator=(const OrderedWorkers&) = delete;

    // Hands out a job: `work` runs on a worker, then `finish` on the caller's
    // thread when every job handed out before it has been finished. A thread
    // that cannot be started leaves the work to the ones running; with none
    // running, `work` runs at once on the caller's thread. `group` 0 runs
    // beside anything.
    void Submit(std::function<void()> work, std::function<void()> finish, std::size_t group = 0);
    // Jobs handed out and not yet finished.
    std::size_t InFlight() const;
    // Finishes the jobs that are done, in order, without waiting.
    void FinishReady();
    // Finishes in order and waits (pumping) until fewer than `most` jobs are
    // in flight. While it waits, it wakes when the oldest `batch` jobs are
    // done (or fewer, when fewer are in flight), not for every job: a caller
    // that keeps many quick jobs in flight then wakes once for a batch. Once
    // it has waited kPumpEvery, it waits for one job at a time.
    void WaitBelow(std::size_t most, std::size_t batch = 1);
    // Waits for every job handed out and finishes each, in order.
    void Drain() { WaitBelow(1); }
    // Jobs not started yet never run and are never finished; returns how
    // many were dropped.
    std::size_t DropWaiting();

private:
    struct Job {
        std::function<void()> work;
        std::function<void()> finish;
        std::size_t group = 0;
        bool started = false; // under mutex_
        bool done = false;    // under mutex_
    };

    void Work();
    Job* NextToTake() const;                             // under mutex_
    bool StartThread();                                  // under mutex_
    bool OldestDone(std::size_t count) const;            // under mutex_
    void FinishDone(std::unique_lock<std::mutex>& lock); // the done jobs at the front

    const std::size_t most_;
    std::function<void()> pump_;
    std::vector<std::thread> threads_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;     // a job to take, or quitting
    std::condition_variable finished_; // a job done
    // Jobs in the order handed out, until finished.
    std::deque<std::unique_ptr<Job>> jobs_;
    // The groups of the jobs running on workers (at most one per thread).
    std::vector<std::size_t> running_;
    // How many of the oldest jobs the caller waits to see done; 0: not waiting.
    std::size_t wantDone_ = 0;
    bool quit_ = false;
};

} // namespace duplora
