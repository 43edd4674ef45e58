// Real-time safety by counting: how many heap allocations, frees and mutex
// locks a stretch of code makes. Linking the vx_rtcheck library replaces the
// C allocator entry points (where every form of operator new and delete
// ends) and pthread_mutex_lock/trylock of the whole test program (shared
// libraries included) with counting forwards to the C library.
//
//     rtcheck::Scope scope;            // counts this thread from here on
//     renderOneCycle();
//     EXPECT_EQ(scope.counts().allocations, 0);
//
// Under the address or thread sanitizer the sanitizer owns those entry
// points. The address sanitizer's allocator hooks then count allocations;
// the thread sanitizer's miss the aligned ones, so there nothing is claimed.
// Locks are not counted under either. Tests ask countsAllocations() and
// countsLocks() and skip what the build cannot count.
#pragma once

namespace rtcheck {

struct Counts {
    long allocations = 0; // malloc, calloc, realloc, the aligned forms, operator new
    long frees = 0;       // free, operator delete and realloc of a non-null block
    long locks = 0;       // pthread_mutex_lock and pthread_mutex_trylock, std::mutex included

    friend Counts operator-(const Counts& a, const Counts& b) noexcept {
        return {a.allocations - b.allocations, a.frees - b.frees, a.locks - b.locks};
    }
    bool isClean() const noexcept { return allocations == 0 && frees == 0 && locks == 0; }
};

// Which threads a count covers.
enum class Threads {
    Current, // only the thread that asks
    All,     // every thread of the process
};

// True when this build sees every allocation (and every lock).
bool countsAllocations() noexcept;
bool countsLocks() noexcept;

// Everything counted so far, since the program started.
Counts totals(Threads which) noexcept;

// Counts from its construction to each counts() call.
class Scope {
public:
    explicit Scope(Threads which = Threads::Current) noexcept
        : mWhich(which), mStart(totals(which)) {}
    Counts counts() const noexcept { return totals(mWhich) - mStart; }
    // Starts counting afresh from here.
    void restart() noexcept { mStart = totals(mWhich); }

private:
    Threads mWhich;
    Counts mStart;
};

} // namespace rtcheck
