// sysctlbyname against the compiler's own CPU check, and dispatch_once_f
// under contention.
#include <dispatch/dispatch.h>
#include <gtest/gtest.h>
#include <sys/sysctl.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

namespace {

TEST(Sysctl, SseAnswersMatchTheProcessorAndErrorsAreExact) {
    __builtin_cpu_init();
    const struct {
        const char* name;
        int expected;
    } cases[] = {{"hw.optional.sse2", __builtin_cpu_supports("sse2") ? 1 : 0},
                 {"hw.optional.sse3", __builtin_cpu_supports("sse3") ? 1 : 0}};
    for (const auto& c : cases) {
        int value = -1;
        size_t size = sizeof value;
        ASSERT_EQ(sysctlbyname(c.name, &value, &size, nullptr, 0), 0) << c.name;
        EXPECT_EQ(value, c.expected) << c.name;
        EXPECT_EQ(size, sizeof value);
    }
    size_t size = 0;
    EXPECT_EQ(sysctlbyname("hw.optional.sse3", nullptr, &size, nullptr, 0), 0);
    EXPECT_EQ(size, sizeof(int));

    const auto fails = [](const char* name, void* out, size_t size, void* in, int expected) {
        errno = 0;
        EXPECT_EQ(sysctlbyname(name, out, &size, in, in ? sizeof(int) : 0), -1) << name;
        EXPECT_EQ(errno, expected) << name;
    };
    char small[2] = {'x', 'x'};
    fails("hw.optional.sse2", small, sizeof small, nullptr, ENOMEM);
    EXPECT_EQ(small[0], 'x'); // nothing written into a short buffer
    int value = 0;
    fails("hw.optional.avx512f", &value, sizeof value, nullptr, ENOENT);
    fails("hw.optional.sse3", &value, sizeof value, &value, EPERM);
}

TEST(DispatchOnce, RunsExactlyOnceAndEveryCallerSeesItFinished) {
    static dispatch_once_t predicate = 0;
    static std::atomic<int> runs{0};
    static std::atomic<bool> finished{false};
    std::atomic<int> sawUnfinished{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            dispatch_once_f(&predicate, nullptr, [](void*) {
                runs++;
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

    // The context reaches the function; the block form runs once too.
    dispatch_once_t other = 0;
    int target = 0;
    dispatch_once_f(&other, &target, [](void* context) { *static_cast<int*>(context) = 5; });
    dispatch_once_f(&other, &target, [](void* context) { *static_cast<int*>(context) = 6; });
    EXPECT_EQ(target, 5);
    dispatch_once_t third = 0;
    int calls = 0;
    for (int k = 0; k < 3; ++k)
        dispatch_once(&third, [&] { ++calls; });
    EXPECT_EQ(calls, 1);
}

} // namespace
