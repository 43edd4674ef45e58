// Owner rules of CAMutex across threads.
#include "aufw/CAMutex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <utility>
#include <vector>

namespace {

// Try from another thread: {owned, took}; gives back what it took. The
// flag starts as the opposite of the expected answer so it must be written.
std::pair<bool, bool> TryElsewhere(CAMutex& mutex, bool expectTaken) {
    return std::async(std::launch::async,
                      [&] {
                          bool took = !expectTaken;
                          const bool owned = mutex.Try(took);
                          if (owned && took)
                              mutex.Unlock();
                          return std::make_pair(owned, took);
                      })
        .get();
}

const std::pair<bool, bool> kTaken{true, true};
const std::pair<bool, bool> kRefused{false, false};

TEST(CAMutexTest, HolderRelocksAndTriesWithoutTakingAndOthersAreRefused) {
    CAMutex mutex("test");
    EXPECT_STREQ(mutex.GetName(), "test");
    EXPECT_TRUE(mutex.IsFree());
    EXPECT_FALSE(mutex.IsOwnedByCurrentThread());

    bool took = false;
    EXPECT_TRUE(mutex.Try(took));
    EXPECT_TRUE(took);
    EXPECT_FALSE(mutex.IsFree());
    EXPECT_TRUE(mutex.IsOwnedByCurrentThread());
    EXPECT_FALSE(mutex.Lock()); // would deadlock if it took the POSIX mutex again
    took = true;
    EXPECT_TRUE(mutex.Try(took)); // the holder owns it but took nothing
    EXPECT_FALSE(took);
    EXPECT_EQ(TryElsewhere(mutex, false), kRefused);

    // An unlock by another thread leaves the owner holding it.
    std::async(std::launch::async, [&] {
        EXPECT_FALSE(mutex.IsOwnedByCurrentThread());
        mutex.Unlock();
    }).get();
    EXPECT_TRUE(mutex.IsOwnedByCurrentThread());
    EXPECT_EQ(TryElsewhere(mutex, false), kRefused);

    // One unlock frees it for real.
    mutex.Unlock();
    EXPECT_TRUE(mutex.IsFree());
    EXPECT_FALSE(mutex.IsOwnedByCurrentThread());
    EXPECT_EQ(TryElsewhere(mutex, true), kTaken);
}

TEST(CAMutexTest, LockWaitsForTheOwnerAndThenTakesOver) {
    CAMutex mutex("test");
    ASSERT_TRUE(mutex.Lock());
    std::atomic<bool> acquired{false};
    std::atomic<bool> sawItselfOwner{false};
    std::thread waiter([&] {
        EXPECT_TRUE(mutex.Lock());
        acquired = true;
        sawItselfOwner = mutex.IsOwnedByCurrentThread();
        mutex.Unlock();
    });
    // Give the waiter a moment to reach the lock call; it must be shut out.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(acquired.load());
    mutex.Unlock();
    waiter.join();
    EXPECT_TRUE(acquired.load());
    EXPECT_TRUE(sawItselfOwner.load());
    EXPECT_TRUE(mutex.IsFree());
}

TEST(CAMutexTest, UnlockerFreesTheMutexForItsScopeOnly) {
    CAMutex mutex("test");
    ASSERT_TRUE(mutex.Lock());
    {
        CAMutex::Unlocker unlocker(mutex);
        EXPECT_TRUE(mutex.IsFree());
        EXPECT_EQ(TryElsewhere(mutex, true), kTaken);
    }
    EXPECT_TRUE(mutex.IsOwnedByCurrentThread());
    mutex.Unlock();
    // On a mutex not held it takes nothing at the end.
    { CAMutex::Unlocker unlocker(mutex); }
    EXPECT_TRUE(mutex.IsFree());
}

TEST(CAMutexTest, ManyThreadsCountUnderTheLockWithoutLoss) {
    CAMutex mutex("counter");
    long counter = 0;
    constexpr int kThreads = 4;
    constexpr int kRounds = 5000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                const bool took = mutex.Lock();
                ++counter;
                if (took)
                    mutex.Unlock();
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(counter, static_cast<long>(kThreads) * kRounds);
    EXPECT_TRUE(mutex.IsFree());
}

} // namespace
