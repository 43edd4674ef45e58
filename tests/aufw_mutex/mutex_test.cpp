// Owner rules of CAMutex across threads.
#include "aufw/CAMutex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <tuple>
#include <vector>

namespace {

// Try from another thread: {owned, took}; gives back what it took. The
// flag starts as the opposite of the expected answer so it must be written.
std::tuple<bool, bool> TryElsewhere(CAMutex& mutex, bool expectTaken) {
    return std::async(std::launch::async,
                      [&] {
                          bool took = !expectTaken;
                          const bool owned = mutex.Try(took);
                          if (owned && took)
                              mutex.Unlock();
                          return std::tuple{owned, took};
                      })
        .get();
}

TEST(CAMutexTest, OwnerRulesAndTheUnlocker) {
    CAMutex mutex("test");
    EXPECT_STREQ(mutex.GetName(), "test");
    bool took = false, tookAgain = true;
    // The holder owns it but takes nothing again; Lock would deadlock if it
    // took the POSIX mutex again.
    EXPECT_EQ((std::tuple{mutex.Try(took), took, mutex.IsOwnedByCurrentThread(), mutex.Lock(),
                          mutex.Try(tookAgain), tookAgain}),
              (std::tuple{true, true, true, false, true, false}));
    // An unlock by another thread leaves the owner holding it.
    std::async(std::launch::async, [&] { mutex.Unlock(); }).get();
    EXPECT_TRUE(mutex.IsOwnedByCurrentThread());
    EXPECT_EQ(TryElsewhere(mutex, false), (std::tuple{false, false}));
    {
        CAMutex::Unlocker unlocker(mutex);
        EXPECT_TRUE(mutex.IsFree());
        EXPECT_EQ(TryElsewhere(mutex, true), (std::tuple{true, true}));
    }
    EXPECT_TRUE(mutex.IsOwnedByCurrentThread());
    mutex.Unlock();
    EXPECT_TRUE(mutex.IsFree());
    // On a mutex not held the unlocker takes nothing at the end.
    { CAMutex::Unlocker unlocker(mutex); }
    EXPECT_EQ((std::tuple{mutex.IsFree(), TryElsewhere(mutex, true)}),
              (std::tuple{true, std::tuple{true, true}}));
}

TEST(CAMutexTest, ManyThreadsCountUnderTheLockWithoutLoss) {
    CAMutex mutex("counter");
    ASSERT_TRUE(mutex.Lock());
    std::atomic<bool> waiterIn{false};
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 5000; ++i) {
                const bool took = mutex.Lock();
                waiterIn = true;
                ++counter;
                if (took)
                    mutex.Unlock();
            }
        });
    }
    // The waiters are shut out while the owner holds it.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(waiterIn.load());
    mutex.Unlock();
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(counter, 4L * 5000);
    EXPECT_TRUE(mutex.IsFree());
}

} // namespace
