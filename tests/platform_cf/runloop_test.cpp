// Run loops and timers: firing only while the loop runs, one-shot and
// repeating timers, invalidation from the callout and from other threads.
#include <CoreFoundation/CoreFoundation.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

struct Counter {
    std::atomic<int> fired{0};
    std::atomic<bool> validInside{false};
};

void countFire(CFRunLoopTimerRef, void* info) {
    static_cast<Counter*>(info)->fired++;
}

void countAndInvalidateAtThree(CFRunLoopTimerRef timer, void* info) {
    auto* counter = static_cast<Counter*>(info);
    if (++counter->fired == 3) {
        CFRunLoopTimerInvalidate(timer);
        counter->validInside = CFRunLoopTimerIsValid(timer);
    }
}

CFRunLoopTimerRef makeTimer(double delay, double interval, CFRunLoopTimerCallBack callout,
                            Counter* counter) {
    CFRunLoopTimerContext context = {0, counter, nullptr, nullptr, nullptr};
    return CFRunLoopTimerCreate(kCFAllocatorDefault, CFAbsoluteTimeGetCurrent() + delay, interval,
                                0, 0, callout, &context);
}

TEST(CFRunLoop, AbsoluteTimeCountsFrom2001) {
    // 2024-01-01T00:00:00Z is 725846400 seconds after the reference date.
    EXPECT_GT(CFAbsoluteTimeGetCurrent(), 725846400.0);
    EXPECT_DOUBLE_EQ(kCFAbsoluteTimeIntervalSince1970, 978307200.0);
}

TEST(CFRunLoop, OneLoopPerThreadAndMainLoop) {
    CFRunLoopRef here = CFRunLoopGetCurrent();
    EXPECT_EQ(CFRunLoopGetCurrent(), here);
    EXPECT_EQ(CFGetTypeID(here), CFRunLoopGetTypeID());
    CFRunLoopRef other = nullptr;
    CFRunLoopRef mainSeenThere = nullptr;
    std::thread([&] {
        other = CFRunLoopGetCurrent();
        mainSeenThere = CFRunLoopGetMain();
    }).join();
    EXPECT_NE(other, here);
    EXPECT_EQ(mainSeenThere, CFRunLoopGetMain());
    EXPECT_EQ(CFRunLoopGetMain(), here); // the test runs on the process's main thread
}

TEST(CFRunLoop, TimersFireOnlyWhileTheLoopRuns) {
    Counter counter;
    CFRunLoopTimerRef timer = makeTimer(0.0, 0.01, countFire, &counter);
    CFRunLoopAddTimer(CFRunLoopGetCurrent(), timer, kCFRunLoopCommonModes);
    EXPECT_TRUE(CFRunLoopContainsTimer(CFRunLoopGetCurrent(), timer, kCFRunLoopDefaultMode));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(counter.fired, 0); // due long ago, but nobody runs the loop
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.1, false), kCFRunLoopRunTimedOut);
    const int afterRun = counter.fired;
    EXPECT_GE(afterRun, 2);
    // Missed intervals are not replayed in a burst.
    EXPECT_LE(afterRun, 12);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(counter.fired, afterRun);
    // A mode the timer is not in does not fire it.
    EXPECT_EQ(CFRunLoopRunInMode(CFSTR("other-mode"), 0.05, false), kCFRunLoopRunFinished);
    EXPECT_EQ(counter.fired, afterRun);
    CFRunLoopTimerInvalidate(timer);
    EXPECT_FALSE(CFRunLoopTimerIsValid(timer));
    EXPECT_FALSE(CFRunLoopContainsTimer(CFRunLoopGetCurrent(), timer, kCFRunLoopDefaultMode));
    CFRelease(timer);
    // Nothing left to run: the loop says so at once.
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 5.0, false), kCFRunLoopRunFinished);
}

TEST(CFRunLoop, ZeroIntervalFiresOnceAndInvalidatesItself) {
    Counter counter;
    CFRunLoopTimerRef timer = makeTimer(0.01, 0.0, countFire, &counter);
    EXPECT_FALSE(CFRunLoopTimerDoesRepeat(timer));
    CFRunLoopAddTimer(CFRunLoopGetCurrent(), timer, kCFRunLoopDefaultMode);
    // Returns once the only timer is gone, well before the 2 s limit.
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 2.0, false), kCFRunLoopRunFinished);
    EXPECT_EQ(counter.fired, 1);
    EXPECT_FALSE(CFRunLoopTimerIsValid(timer));
    CFRelease(timer);
}

TEST(CFRunLoop, InvalidateFromInsideTheCalloutStopsTheTimer) {
    Counter counter;
    CFRunLoopTimerRef timer = makeTimer(0.0, 0.005, countAndInvalidateAtThree, &counter);
    CFRunLoopAddTimer(CFRunLoopGetCurrent(), timer, kCFRunLoopCommonModes);
    CFRelease(timer); // the loop holds the only reference while it fires
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 1.0, false), kCFRunLoopRunFinished);
    EXPECT_EQ(counter.fired, 3);
    EXPECT_FALSE(counter.validInside);
}

TEST(CFRunLoop, ContextInfoIsRetainedAndReleased) {
    static std::atomic<int> retains{0};
    static std::atomic<int> releases{0};
    Counter counter;
    CFRunLoopTimerContext context = {0, &counter,
                                     [](const void* info) {
                                         retains++;
                                         return info;
                                     },
                                     [](const void*) { releases++; }, nullptr};
    CFRunLoopTimerRef timer =
        CFRunLoopTimerCreate(nullptr, CFAbsoluteTimeGetCurrent(), 0, 0, 0, countFire, &context);
    EXPECT_EQ(retains, 1);
    CFRunLoopTimerContext copy{};
    CFRunLoopTimerGetContext(timer, &copy);
    EXPECT_EQ(copy.info, &counter);
    CFRunLoopTimerInvalidate(timer);
    EXPECT_EQ(releases, 1);
    CFRelease(timer);
    EXPECT_EQ(releases, 1); // not twice
}

TEST(CFRunLoop, StopWakeAndInvalidateFromAnotherThread) {
    // A worker thread runs its own loop with a far-off timer.
    Counter counter;
    std::atomic<CFRunLoopRef> workerLoop{nullptr};
    std::atomic<CFRunLoopTimerRef> workerTimer{nullptr};
    std::atomic<int> result{0};
    std::thread worker([&] {
        CFRunLoopTimerRef timer = makeTimer(1000.0, 0.0, countFire, &counter);
        CFRunLoopAddTimer(CFRunLoopGetCurrent(), timer, kCFRunLoopDefaultMode);
        workerTimer = timer;
        workerLoop = CFRunLoopGetCurrent();
        result = CFRunLoopRunInMode(kCFRunLoopDefaultMode, 30.0, false);
        // Second run: ends when the other thread invalidates the only timer.
        result = result * 10 + CFRunLoopRunInMode(kCFRunLoopDefaultMode, 30.0, false);
    });
    while (workerLoop == nullptr) {
        std::this_thread::yield();
    }
    while (!CFRunLoopIsWaiting(workerLoop)) {
        std::this_thread::yield();
    }
    CFRunLoopWakeUp(workerLoop); // wakes, finds nothing due, sleeps again
    CFRunLoopStop(workerLoop);
    while (!CFRunLoopIsWaiting(workerLoop) || result == 0) {
        std::this_thread::yield();
    }
    const auto start = std::chrono::steady_clock::now();
    CFRunLoopTimerInvalidate(workerTimer);
    worker.join();
    // Woken by the invalidation, not by its own 30 s limit.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(result, kCFRunLoopRunStopped * 10 + kCFRunLoopRunFinished);
    EXPECT_EQ(counter.fired, 0);
    CFRelease(workerTimer);
}

TEST(CFRunLoop, SetNextFireDateFromAnotherThreadWakesTheLoop) {
    Counter counter;
    CFRunLoopTimerRef timer = makeTimer(1000.0, 0.0, countFire, &counter);
    CFRunLoopAddTimer(CFRunLoopGetCurrent(), timer, kCFRunLoopDefaultMode);
    std::thread mover([timer] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        CFRunLoopTimerSetNextFireDate(timer, CFAbsoluteTimeGetCurrent());
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 20.0, false), kCFRunLoopRunFinished);
    // Woken by the new date, not by its own 20 s limit.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    mover.join();
    EXPECT_EQ(counter.fired, 1);
    CFRelease(timer);
}

TEST(CFRunLoop, RemoveTimerDetachesWithoutInvalidating) {
    Counter counter;
    CFRunLoopTimerRef timer = makeTimer(0.0, 0.01, countFire, &counter);
    CFRunLoopRef loop = CFRunLoopGetCurrent();
    CFRunLoopAddTimer(loop, timer, kCFRunLoopDefaultMode);
    CFRunLoopRemoveTimer(loop, timer, kCFRunLoopDefaultMode);
    EXPECT_TRUE(CFRunLoopTimerIsValid(timer));
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.05, false), kCFRunLoopRunFinished);
    EXPECT_EQ(counter.fired, 0);
    EXPECT_EQ(CFGetRetainCount(timer), 1);
    CFRunLoopTimerInvalidate(timer);
    CFRelease(timer);
}

TEST(CFRunLoop, TimersAddedFromTheirCalloutFireOnTheSameThread) {
    // The pattern of a delayed save: each firing re-arms a new one-shot timer.
    struct Chain {
        int remaining = 3;
        std::vector<std::thread::id> threads;
    } chain;
    struct Arm {
        static void fire(CFRunLoopTimerRef, void* info) {
            auto* c = static_cast<Chain*>(info);
            c->threads.push_back(std::this_thread::get_id());
            if (--c->remaining > 0) {
                schedule(c);
            }
        }
        static void schedule(Chain* c) {
            CFRunLoopTimerContext context = {0, c, nullptr, nullptr, nullptr};
            CFRunLoopTimerRef next = CFRunLoopTimerCreate(
                nullptr, CFAbsoluteTimeGetCurrent() + 0.005, 0, 0, 0, fire, &context);
            CFRunLoopAddTimer(CFRunLoopGetCurrent(), next, kCFRunLoopCommonModes);
            CFRelease(next);
        }
    };
    std::thread worker([&] {
        Arm::schedule(&chain);
        CFRunLoopRunInMode(kCFRunLoopDefaultMode, 2.0, false);
    });
    const std::thread::id workerId = worker.get_id();
    worker.join();
    ASSERT_EQ(chain.threads.size(), 3u);
    for (const auto& id : chain.threads) {
        EXPECT_EQ(id, workerId);
    }
}

} // namespace
