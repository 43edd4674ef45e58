// Run loops and timers, sysctlbyname against the compiler's own CPU check,
// and dispatch_once_f under contention.
#include <CoreFoundation/CoreFoundation.h>
#include <dispatch/dispatch.h>
#include <gtest/gtest.h>
#include <sys/sysctl.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>
#include <tuple>
#include <vector>

namespace {

using std::chrono::steady_clock;

struct Counter {
    std::atomic<int> fired{0};
    std::atomic<bool> validInside{false};
};

void countFire(CFRunLoopTimerRef, void* info) {
    static_cast<Counter*>(info)->fired++;
}

CFRunLoopTimerRef makeTimer(double delay, double interval, Counter* counter,
                            CFRunLoopTimerCallBack callout = countFire) {
    CFRunLoopTimerContext context = {0, counter, nullptr, nullptr, nullptr};
    return CFRunLoopTimerCreate(nullptr, CFAbsoluteTimeGetCurrent() + delay, interval, 0, 0,
                                callout, &context);
}

TEST(CFRunLoop, OneLoopPerThreadAndMainLoop) {
    // 2024-01-01T00:00:00Z is 725846400 seconds after the reference date.
    EXPECT_GT(CFAbsoluteTimeGetCurrent(), 725846400.0);
    CFRunLoopRef here = CFRunLoopGetCurrent(), other = nullptr, mainSeenThere = nullptr;
    std::thread([&] {
        other = CFRunLoopGetCurrent();
        mainSeenThere = CFRunLoopGetMain();
    }).join();
    EXPECT_NE(other, here);
    EXPECT_EQ(mainSeenThere, here); // the test runs on the process's main thread
}

TEST(CFRunLoop, TimersFireOnlyWhileTheLoopRunsInTheirModes) {
    Counter slow;
    CFRunLoopTimerRef timer = makeTimer(0.0, 0.01, &slow);
    CFRunLoopAddTimer(CFRunLoopGetCurrent(), timer, kCFRunLoopCommonModes);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(slow.fired, 0); // due long ago, but nobody runs the loop
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.1, false), kCFRunLoopRunTimedOut);
    const int afterRun = slow.fired;
    // At least two firings, and missed intervals are not replayed in a burst.
    EXPECT_GE(afterRun, 2);
    EXPECT_LE(afterRun, 12);
    EXPECT_EQ(CFRunLoopRunInMode(CFSTR("other-mode"), 0.05, false), kCFRunLoopRunFinished);
    EXPECT_EQ(slow.fired, afterRun);
    CFRunLoopTimerInvalidate(timer);
    EXPECT_FALSE(CFRunLoopContainsTimer(CFRunLoopGetCurrent(), timer, kCFRunLoopDefaultMode));
    CFRelease(timer);
    // Nothing left to run: the loop says so at once.
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 5.0, false), kCFRunLoopRunFinished);
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopCommonModes, 5.0, false), kCFRunLoopRunFinished);

    // A repeating timer that invalidates itself from inside its third callout
    // ends the run, as does a one-shot timer.
    Counter repeating;
    timer = makeTimer(0.0, 0.005, &repeating, [](CFRunLoopTimerRef self, void* info) {
        auto* counter = static_cast<Counter*>(info);
        if (++counter->fired == 3) {
            CFRunLoopTimerInvalidate(self);
            counter->validInside = CFRunLoopTimerIsValid(self);
        }
    });
    CFRunLoopAddTimer(CFRunLoopGetCurrent(), timer, kCFRunLoopCommonModes);
    CFRelease(timer); // the loop holds the only reference while it fires
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 1.0, false), kCFRunLoopRunFinished);
    EXPECT_EQ(repeating.fired, 3);
    EXPECT_FALSE(repeating.validInside);
    Counter once;
    timer = makeTimer(0.01, 0.0, &once);
    CFRunLoopAddTimer(CFRunLoopGetCurrent(), timer, kCFRunLoopDefaultMode);
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 2.0, false), kCFRunLoopRunFinished);
    EXPECT_EQ(once.fired, 1);
    EXPECT_FALSE(CFRunLoopTimerIsValid(timer));
    CFRelease(timer);
}

TEST(CFRunLoop, ContextInfoIsRetainedAndReleasedAndRemovalKeepsTheTimerValid) {
    static std::atomic<int> retains{0}, releases{0};
    Counter counter;
    CFRunLoopTimerContext context = {0, &counter,
                                     [](const void* info) {
                                         retains++;
                                         return info;
                                     },
                                     [](const void*) { releases++; }, nullptr};
    CFRunLoopTimerRef timer =
        CFRunLoopTimerCreate(nullptr, CFAbsoluteTimeGetCurrent(), 0.01, 0, 0, countFire, &context);
    EXPECT_EQ(retains, 1);
    CFRunLoopAddTimer(CFRunLoopGetCurrent(), timer, kCFRunLoopDefaultMode);
    CFRunLoopRemoveTimer(CFRunLoopGetCurrent(), timer, kCFRunLoopDefaultMode);
    EXPECT_TRUE(CFRunLoopTimerIsValid(timer));
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.05, false), kCFRunLoopRunFinished);
    EXPECT_EQ(counter.fired, 0);
    EXPECT_EQ(CFGetRetainCount(timer), 1);
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
        CFRunLoopTimerRef timer = makeTimer(1000.0, 0.0, &counter);
        CFRunLoopAddTimer(CFRunLoopGetCurrent(), timer, kCFRunLoopDefaultMode);
        workerTimer = timer;
        workerLoop = CFRunLoopGetCurrent();
        result = CFRunLoopRunInMode(kCFRunLoopDefaultMode, 30.0, false);
        // Second run: ends when the other thread invalidates the only timer.
        result = result * 10 + CFRunLoopRunInMode(kCFRunLoopDefaultMode, 30.0, false);
    });
    while (workerLoop == nullptr || !CFRunLoopIsWaiting(workerLoop))
        std::this_thread::yield();
    CFRunLoopWakeUp(workerLoop); // wakes, finds nothing due, sleeps again
    CFRunLoopStop(workerLoop);
    while (!CFRunLoopIsWaiting(workerLoop) || result == 0)
        std::this_thread::yield();
    const auto start = steady_clock::now();
    CFRunLoopTimerInvalidate(workerTimer);
    worker.join();
    // Woken by the invalidation, not by its own 30 s limit.
    EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(result, kCFRunLoopRunStopped * 10 + kCFRunLoopRunFinished);
    EXPECT_EQ(counter.fired, 0);
    CFRelease(workerTimer);
}

TEST(CFRunLoop, SetNextFireDateFromAnotherThreadWakesTheLoop) {
    Counter counter;
    CFRunLoopTimerRef timer = makeTimer(1000.0, 0.0, &counter);
    CFRunLoopAddTimer(CFRunLoopGetCurrent(), timer, kCFRunLoopDefaultMode);
    std::thread mover([timer] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        CFRunLoopTimerSetNextFireDate(timer, CFAbsoluteTimeGetCurrent());
    });
    const auto start = steady_clock::now();
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 20.0, false), kCFRunLoopRunFinished);
    EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(10)); // not its own limit
    mover.join();
    EXPECT_EQ(counter.fired, 1);
    CFRelease(timer);
}

TEST(Sysctl, SseAnswersMatchTheProcessorAndErrorsAreExact) {
    __builtin_cpu_init();
    const int sse2 = __builtin_cpu_supports("sse2") ? 1 : 0;
    const int sse3 = __builtin_cpu_supports("sse3") ? 1 : 0;
    // The result, errno, the value (untouched on failure) and the size.
    const auto ask = [](const char* name, size_t size = sizeof(int), int* in = nullptr) {
        int value = -1;
        errno = 0;
        const int result = sysctlbyname(name, &value, &size, in, in ? sizeof(int) : 0);
        return std::tuple{result, errno, value, size};
    };
    int in = 0;
    EXPECT_EQ(ask("hw.optional.sse2"), std::tuple(0, 0, sse2, sizeof(int)));
    EXPECT_EQ(ask("hw.optional.sse3"), std::tuple(0, 0, sse3, sizeof(int)));
    EXPECT_EQ(ask("hw.optional.sse2", 2), std::tuple(-1, ENOMEM, -1, size_t{2}));
    EXPECT_EQ(ask("hw.optional.avx512f"), std::tuple(-1, ENOENT, -1, sizeof(int)));
    EXPECT_EQ(ask("hw.optional.sse3", sizeof(int), &in), std::tuple(-1, EPERM, -1, sizeof(int)));
}

TEST(DispatchOnce, RunsExactlyOnceAndEveryCallerSeesItFinished) {
    static dispatch_once_t predicate = 0;
    static std::atomic<int> runs{0};
    static std::atomic<bool> finished{false};
    std::atomic<int> sawUnfinished{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            dispatch_once_f(&predicate, &runs, [](void* context) {
                ++*static_cast<std::atomic<int>*>(context);
                // Hold the others back long enough for them to queue up.
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                finished = true;
            });
            if (!finished)
                sawUnfinished++;
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(sawUnfinished, 0);
}

} // namespace
