#include "schedule/HiResTim.h"

#include <chrono>
#include <system_error>

namespace duplora {

THiResTimer::~THiResTimer() {
    SetEnabled(false);
}

void THiResTimer::SetEnabled(bool on) {
    if (on == enabled_)
        return;
    if (!on) {
        StopThreads();
        enabled_ = false;
        return;
    }
    {
        std::lock_guard lock(event_.mutex);
        event_.signalled = false;
        event_.stop = false;
    }
    try {
        worker_ = std::thread(&THiResTimer::WorkerLoop, this);
    } catch (const std::system_error&) {
        throw EHiResTimer();
    }
    bool created = false;
    try {
        created = CreatePlatformTimer(Interval);
    } catch (const std::system_error&) {
        created = false;
    }
    if (!created) {
        StopThreads();
        throw EHiResTimer();
    }
    enabled_ = true;
}

bool THiResTimer::CreatePlatformTimer(std::uint32_t interval) {
    {
        std::lock_guard lock(platform_.mutex);
        platform_.stop = false;
    }
    platformThread_ = std::thread(&THiResTimer::PlatformLoop, this, interval);
    return true;
}

void THiResTimer::StopThreads() {
    {
        std::lock_guard lock(platform_.mutex);
        platform_.stop = true;
    }
    platform_.cv.notify_all();
    if (platformThread_.joinable())
        platformThread_.join();
    {
        std::lock_guard lock(event_.mutex);
        event_.stop = true;
    }
    event_.cv.notify_all();
    if (worker_.joinable())
        worker_.join();
}

void THiResTimer::PlatformLoop(std::uint32_t interval) {
    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::milliseconds(interval == 0 ? 1 : interval);
    auto deadline = Clock::now() + period;
    std::unique_lock lock(platform_.mutex);
    for (;;) {
        if (platform_.cv.wait_until(lock, deadline, [this] { return platform_.stop; }))
            return;
        {
            std::lock_guard signal(event_.mutex);
            event_.signalled = true;
        }
        event_.cv.notify_one();
        deadline += period;
        // After a long stall (a suspended machine) the missed periods are not
        // fired one after another: the next one counts from now.
        const auto now = Clock::now();
        if (deadline < now)
            deadline = now + period;
    }
}

void THiResTimer::WorkerLoop() {
    for (;;) {
        {
            std::unique_lock lock(event_.mutex);
            event_.cv.wait(lock, [this] { return event_.signalled || event_.stop; });
            if (event_.stop)
                return;
            event_.signalled = false; // auto-reset: one wait takes the signal
        }
        if (OnTimer)
            OnTimer(*this);
    }
}

} // namespace duplora
