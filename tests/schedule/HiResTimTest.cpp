// The 20 ms timer with real threads: merged periods, one worker per enabling,
// nothing left running after it is gone.
#include "schedule/HiResTim.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

namespace duplora {
namespace {

using namespace std::chrono;

// Threads of this process. The first thread a process starts may bring a
// runtime's own helper thread with it (ThreadSanitizer's): one started and
// joined first keeps that out of the differences the tests look at.
std::size_t ThreadCount() {
    static const bool warm = [] {
        std::thread([] {}).join();
        return true;
    }();
    (void)warm;
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/task"))
        ++n;
    return n;
}

struct Recorder {
    std::mutex mutex;
    std::vector<steady_clock::time_point> calls;
    // Threads that ran the handler; counted by a thread-local mark, since a
    // new thread may be given the id of a joined one.
    std::atomic<int> workers{0};
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    milliseconds work{0};

    void Bind(THiResTimer& t) {
        t.OnTimer = [this](THiResTimer&) {
            if (inside.fetch_add(1) != 0)
                overlaps.fetch_add(1);
            {
                std::lock_guard lock(mutex);
                calls.push_back(steady_clock::now());
                thread_local bool seen = false;
                if (!seen) {
                    seen = true;
                    workers.fetch_add(1);
                }
            }
            std::this_thread::sleep_for(work);
            inside.fetch_sub(1);
        };
    }
    std::size_t Count() {
        std::lock_guard lock(mutex);
        return calls.size();
    }
};

TEST(HiResTimer, SlowHandlerIsCalledAtItsOwnPaceNeverTwiceAtOnce) {
    THiResTimer timer;
    timer.Interval = 20;
    timer.Resolution = 20;
    Recorder rec;
    rec.work = milliseconds(50);
    rec.Bind(timer);
    timer.SetEnabled(true);
    std::this_thread::sleep_for(milliseconds(1000));
    timer.SetEnabled(false);
    EXPECT_EQ(rec.overlaps.load(), 0);
    // About every 50 ms (a merged signal waits at most one period more):
    // 1000 ms gives 14 to 20 calls; queued periods would give 50.
    EXPECT_GE(rec.Count(), 10u);
    EXPECT_LE(rec.Count(), 21u);
    std::lock_guard lock(rec.mutex);
    for (std::size_t i = 1; i < rec.calls.size(); ++i)
        EXPECT_GE(rec.calls[i] - rec.calls[i - 1], milliseconds(49));
}

TEST(HiResTimer, EnablingTwiceKeepsOneWorkerAndReEnablingStartsANewOne) {
    const std::size_t before = ThreadCount();
    Recorder rec;
    {
        THiResTimer timer;
        timer.Interval = 10;
        rec.Bind(timer);
        timer.SetEnabled(true);
        timer.SetEnabled(true);
        EXPECT_EQ(ThreadCount(), before + 2); // one worker, one platform timer
        std::this_thread::sleep_for(milliseconds(100));
        timer.SetEnabled(false);
        EXPECT_EQ(ThreadCount(), before);
        ASSERT_EQ(rec.workers.load(), 1);

        timer.Interval = 30; // takes effect at the next enabling
        const std::size_t callsBefore = rec.Count();
        timer.SetEnabled(true);
        std::this_thread::sleep_for(milliseconds(300));
        EXPECT_EQ(rec.workers.load(), 2);
        EXPECT_LE(rec.Count() - callsBefore, 11u); // 10 at 30 ms, not 30 at 10 ms
        // Destroyed while enabled.
    }
    EXPECT_EQ(ThreadCount(), before);
}

class FailingTimer : public THiResTimer {
protected:
    bool CreatePlatformTimer(std::uint32_t) override { return false; }
};

TEST(HiResTimer, APlatformTimerThatCannotBeMadeLeavesNoWorker) {
    const std::size_t before = ThreadCount();
    FailingTimer timer;
    try {
        timer.SetEnabled(true);
        FAIL() << "no error";
    } catch (const EHiResTimer& e) {
        EXPECT_STREQ(e.what(), "Unable to create a timer");
    }
    EXPECT_FALSE(timer.Enabled());
    EXPECT_EQ(ThreadCount(), before);
}

} // namespace
} // namespace duplora
