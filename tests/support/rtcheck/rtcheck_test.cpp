// The counters must see what they claim to see, or a clean count proves
// nothing: each kind of allocation and lock is made on purpose here.
#include <rtcheck/rtcheck.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include <pthread.h>

namespace {

// Keeps the optimizer from pairing and removing an allocation and its free.
template <typename T> T* launder(T* p) {
    asm volatile("" : "+r"(p)::"memory");
    return p;
}

TEST(RtCheck, CountsEveryAllocatorEntryOnTheCallingThread) {
    if (!rtcheck::countsAllocations()) {
        GTEST_SKIP() << "this build cannot count allocations";
    }
    rtcheck::Scope scope;
    void* a = launder(std::malloc(24));
    void* b = launder(std::calloc(3, 8));
    a = launder(std::realloc(a, 4096));
    void* c = launder(std::aligned_alloc(64, 128));
    void* d = nullptr;
    ASSERT_EQ(posix_memalign(&d, 32, 100), 0);
    std::free(a);
    std::free(b);
    std::free(c);
    std::free(d);
    std::free(nullptr); // not a free of anything
    rtcheck::Counts counts = scope.counts();
    EXPECT_EQ(counts.allocations, 5);
    EXPECT_EQ(counts.frees, 5); // the resize released the first block

    // Every form of operator new and delete is counted, once.
    scope.restart();
    auto* one = launder(new int(7));
    auto* many = launder(new double[16]);
    struct alignas(64) Wide {
        char bytes[64];
    };
    auto* wide = launder(new Wide);
    auto* quiet = launder(new (std::nothrow) long(3));
    delete one;
    delete[] many;
    delete wide;
    delete quiet;
    counts = scope.counts();
    EXPECT_EQ(counts.allocations, 4);
    EXPECT_EQ(counts.frees, 4);

    // So are allocations made inside a shared library: the C library's own
    // strdup reaches the replacement malloc.
    scope.restart();
    char* copy = launder(strdup("counted"));
    std::free(copy);
    EXPECT_EQ(scope.counts().allocations, 1);
}

TEST(RtCheck, CountsMutexLocksIncludingTheStandardOnes) {
    if (!rtcheck::countsLocks()) {
        GTEST_SKIP() << "this build cannot count locks";
    }
    pthread_mutex_t raw = PTHREAD_MUTEX_INITIALIZER;
    std::mutex standard;
    rtcheck::Scope scope;
    ASSERT_EQ(pthread_mutex_lock(&raw), 0);
    EXPECT_NE(pthread_mutex_trylock(&raw), 0); // a failed attempt still counts
    pthread_mutex_unlock(&raw);
    standard.lock();
    standard.unlock();
    { std::lock_guard<std::mutex> guard(standard); }
    EXPECT_TRUE(standard.try_lock());
    standard.unlock();
    EXPECT_EQ(scope.counts().locks, 5);
    EXPECT_EQ(scope.counts().allocations, 0);
    pthread_mutex_destroy(&raw);
}

TEST(RtCheck, CurrentThreadScopeIgnoresOtherThreadsButAllDoesNot) {
    if (!rtcheck::countsAllocations()) {
        GTEST_SKIP() << "this build cannot count allocations";
    }
    rtcheck::Scope mine(rtcheck::Threads::Current);
    // Thread creation itself allocates on this thread; count from after it.
    std::thread worker;
    long workerAllocations = 0;
    {
        std::mutex gate;
        gate.lock();
        worker = std::thread([&] {
            std::lock_guard<std::mutex> wait(gate);
            rtcheck::Scope theirs;
            for (int i = 0; i < 100; ++i) {
                std::unique_ptr<int> p(launder(new int(i)));
            }
            workerAllocations = theirs.counts().allocations;
        });
        mine.restart();
        rtcheck::Scope everyone(rtcheck::Threads::All);
        gate.unlock();
        worker.join();
        EXPECT_GE(everyone.counts().allocations, 100);
    }
    EXPECT_EQ(workerAllocations, 100);
    EXPECT_EQ(mine.counts().allocations, 0);
}

} // namespace
