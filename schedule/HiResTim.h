#pragma once
// THiResTimer: calls OnTimer every Interval milliseconds on a worker thread of
// its own, apart from any event loop.
//
//   platform-timer thread            worker thread (TTimerThread)
//   sleep to deadline k*Interval     wait for the event
//   signal the auto-reset event ───> OnTimer(*this)
//
// The platform thread sleeps to absolute steady-clock deadlines, so the period
// does not drift with the time each wake-up takes. The event holds at most one
// signal: periods that pass while OnTimer still runs merge into one further
// call, so the handler never runs twice at once and calls are dropped rather
// than queued under load. Neither thread polls or allocates per period.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace duplora {

class EHiResTimer : public std::runtime_error {
public:
    EHiResTimer() : std::runtime_error("Unable to create a timer") {}
};

class THiResTimer {
public:
    THiResTimer() = default;
    THiResTimer(const THiResTimer&) = delete;
    THiResTimer& operator=(const THiResTimer&) = delete;
    // Disables the timer first: no thread of it outlives it.
    virtual ~THiResTimer();

    bool Enabled() const { return enabled_; }
    // True starts a new worker and a new platform timer with the current
    // Interval and Resolution; false stops and joins both. Setting the value
    // it has does nothing. Throws EHiResTimer when the platform timer cannot
    // be made; the worker started for it is stopped and joined again and
    // Enabled stays false. Called from the interface thread, never from
    // OnTimer.
    void SetEnabled(bool on);

    // Plain values: a change takes effect at the next enabling.
    std::uint32_t Interval = 100;   // ms
    std::uint32_t Resolution = 100; // ms; the steady clock is finer than any value
    // Called on the worker thread. Must touch window objects only by posting
    // to them or by reading plain values.
    std::function<void(THiResTimer& sender)> OnTimer;

protected:
    // Starts the platform timer thread; false when it cannot be made. Tests
    // override it to see the failure path.
    virtual bool CreatePlatformTimer(std::uint32_t interval);

private:
    struct Event {
        std::mutex mutex;
        std::condition_variable cv;
        bool signalled = false;
        bool stop = false;
    };
    void WorkerLoop();
    void PlatformLoop(std::uint32_t interval);
    void StopThreads();

    bool enabled_ = false;
    Event event_;    // platform thread -> worker
    Event platform_; // interface thread -> platform thread (its stop flag)
    std::thread worker_;
    std::thread platformThread_;
};

} // namespace duplora
