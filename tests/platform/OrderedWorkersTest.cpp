// The worker pool of the copies and the move compares: whatever order the
// workers end in, the caller finishes the jobs in the order it handed them
// out, jobs dropped before they started never run, and jobs of one group
// never run at once while other groups' jobs overtake them.
#include "platform/OrderedWorkers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace duplora {
namespace {

TEST(OrderedWorkers, FinishesInHandedOutOrderWhateverOrderTheWorkEnds) {
    for (int threads : {1, 2, 4}) {
        SCOPED_TRACE(threads);
        std::vector<int> finished;
        int pumps = 0;
        OrderedWorkers pool(threads, [&] { ++pumps; });
        for (int i = 0; i < 12; ++i) {
            // The earlier jobs take longest, so later ones end first.
            pool.Submit([i] { std::this_thread::sleep_for(std::chrono::milliseconds(24 - 2 * i)); },
                        [&finished, i] { finished.push_back(i); });
            pool.WaitBelow(static_cast<std::size_t>(threads) * 2);
        }
        pool.Drain();
        EXPECT_EQ(pool.InFlight(), 0u);
        std::vector<int> expected;
        for (int i = 0; i < 12; ++i)
            expected.push_back(i);
        EXPECT_EQ(finished, expected);
    }
}

TEST(OrderedWorkers, DroppedJobsNeverRunAndTheRunningOneFinishes) {
    std::atomic<bool> taken{false}, release{false};
    std::atomic<int> ran{0};
    std::vector<int> finished;
    OrderedWorkers pool(1, {});
    pool.Submit(
        [&] {
            taken = true;
            while (!release.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ++ran;
        },
        [&] { finished.push_back(0); });
    while (!taken.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // The only worker is busy: these wait, and are dropped.
    for (int i = 1; i <= 3; ++i)
        pool.Submit([&] { ++ran; }, [&finished, i] { finished.push_back(i); });
    EXPECT_EQ(pool.DropWaiting(), 3u);
    release = true;
    pool.Drain();
    EXPECT_EQ(ran.load(), 1);
    EXPECT_EQ(finished, std::vector<int>{0});
}

TEST(OrderedWorkers, OneJobOfAGroupAtATimeWhileOtherGroupsOvertake) {
    std::atomic<bool> release{false}, secondRan{false}, otherRan{false};
    std::vector<int> finished;
    OrderedWorkers pool(2, {});
    pool.Submit(
        [&] {
            while (!release.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        },
        [&] { finished.push_back(0); }, 7);
    pool.Submit([&] { secondRan = true; }, [&] { finished.push_back(1); }, 7);
    pool.Submit([&] { otherRan = true; }, [&] { finished.push_back(2); }, 9);
    // The free worker passes over the second job of group 7 and takes group 9's.
    while (!otherRan.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_FALSE(secondRan.load());
    pool.FinishReady();
    EXPECT_TRUE(finished.empty()); // the first job is not done: nothing finishes
    release = true;
    pool.Drain();
    EXPECT_TRUE(secondRan.load());
    EXPECT_EQ(finished, (std::vector<int>{0, 1, 2}));
}

} // namespace
} // namespace duplora
