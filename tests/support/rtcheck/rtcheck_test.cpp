// A clean count proves nothing unless the counters see what they claim: each
// kind of allocation and lock is made on purpose here, and must be counted.
#include <rtcheck/rtcheck.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>
#include <tuple>

#include <pthread.h>

namespace {

// Keeps the optimizer from pairing and removing an allocation and its free.
template <typename T> T* launder(T* p) {
    asm volatile("" : "+r"(p)::"memory");
    return p;
}

TEST(RtCheck, CountsEveryAllocatorEntryAndLockOfThisThreadOnly) {
    if (!rtcheck::countsAllocations())
        GTEST_SKIP() << "this build cannot count allocations";
    rtcheck::Scope scope;
    // The resize releases the first block; strdup allocates inside the C library.
    void* blocks[] = {launder(std::realloc(launder(std::malloc(24)), 4096)),
                      launder(std::calloc(3, 8)), launder(std::aligned_alloc(64, 128)), nullptr,
                      launder(strdup("counted"))};
    ASSERT_EQ(posix_memalign(&blocks[3], 32, 100), 0);
    for (void* block : blocks)
        std::free(block);
    std::free(nullptr); // not a free of anything
    // Every form of operator new and delete ends in the counted entries, once.
    delete launder(new int(7));
    delete[] launder(new double[16]);
    ::operator delete (launder(::operator new (64, std::align_val_t{64})), std::align_val_t{64});
    delete launder(new (std::nothrow) long(3));
    rtcheck::Counts counts = scope.counts();
    EXPECT_EQ(std::tie(counts.allocations, counts.frees), std::make_tuple(10L, 10L));

    if (rtcheck::countsLocks()) {
        pthread_mutex_t raw = PTHREAD_MUTEX_INITIALIZER;
        std::mutex standard;
        scope.restart();
        ASSERT_EQ(pthread_mutex_lock(&raw), 0);
        EXPECT_NE(pthread_mutex_trylock(&raw), 0); // a failed attempt still counts
        pthread_mutex_unlock(&raw);
        { std::lock_guard<std::mutex> guard(standard); }
        EXPECT_EQ(scope.counts().locks, 3);
    }

    // Another thread's allocation shows in Threads::All only (starting the
    // thread allocates on this one too).
    scope.restart();
    rtcheck::Scope everyone(rtcheck::Threads::All);
    std::thread([] { delete launder(new int(1)); }).join();
    EXPECT_GT(everyone.counts().allocations, scope.counts().allocations);
}

} // namespace
