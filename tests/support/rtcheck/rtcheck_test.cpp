// A clean count proves nothing unless the counters see what they claim:
// each kind of allocation and lock is made on purpose here.
#include <rtcheck/rtcheck.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include <pthread.h>

// Keeps the optimizer from pairing and removing an allocation and its free.
template <typename T> T* launder(T* p) {
    asm volatile("" : "+r"(p)::"memory");
    return p;
}

TEST(RtCheck, CountsEveryAllocatorEntryAndLockOnTheCallingThreadOnly) {
    if (!rtcheck::countsAllocations())
        GTEST_SKIP() << "this build cannot count allocations";
    const rtcheck::Scope scope;
    void* a = launder(std::realloc(launder(std::malloc(24)), 4096)); // the resize frees one
    for (void* block : {a, launder(std::calloc(3, 8)), launder(std::aligned_alloc(64, 128)),
                        launder(static_cast<void*>(strdup("made inside the C library")))})
        std::free(block);
    std::free(nullptr); // not a free of anything
    // Every form of operator new and delete, once each.
    struct alignas(64) Wide {
        char bytes[64];
    };
    delete launder(new int(7));
    delete[] launder(new double[16]);
    delete launder(new Wide);
    delete launder(new (std::nothrow) long(3));
    EXPECT_EQ(scope.counts().allocations, 9);
    EXPECT_EQ(scope.counts().frees, 9);

    // Another thread's allocations are its own.
    long workerAllocations = 0;
    std::thread worker([&] {
        const rtcheck::Scope theirs;
        for (int i = 0; i < 100; ++i)
            delete launder(new int(i));
        workerAllocations = theirs.counts().allocations;
    });
    const rtcheck::Scope mine; // after the thread's own creation
    worker.join();
    EXPECT_EQ(workerAllocations, 100);
    EXPECT_EQ(mine.counts().allocations, 0);
    if (!rtcheck::countsLocks())
        return;

    pthread_mutex_t raw = PTHREAD_MUTEX_INITIALIZER;
    std::mutex standard;
    const rtcheck::Scope locks;
    ASSERT_EQ(pthread_mutex_lock(&raw), 0);
    EXPECT_NE(pthread_mutex_trylock(&raw), 0); // a failed attempt still counts
    pthread_mutex_unlock(&raw);
    { std::lock_guard<std::mutex> guard(standard); }
    EXPECT_TRUE(standard.try_lock());
    standard.unlock();
    EXPECT_EQ(locks.counts().locks, 4);
    EXPECT_EQ(locks.counts().allocations, 0);
}
