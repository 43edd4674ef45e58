// Real-time safety by counting the heap allocations, frees and mutex locks of
// the calling thread. Linking vx_rtcheck replaces the C allocator entry points
// (where every operator new and delete ends) and the pthread lock functions of
// the whole program, shared libraries included. Under a sanitizer its runtime
// owns those: the address sanitizer's hooks still count allocations, the
// thread sanitizer's miss aligned ones, and neither counts locks; tests ask
// countsAllocations() and countsLocks() first.
#pragma once

namespace rtcheck {

struct Counts {
    long allocations = 0; // malloc, calloc, realloc, aligned_alloc, operator new
    long frees = 0;       // free, operator delete and realloc of a non-null block
    long locks = 0;       // pthread_mutex_lock and _trylock, std::mutex included

    bool isClean() const noexcept { return allocations == 0 && frees == 0 && locks == 0; }
};

enum class Threads { Current }; // only the calling thread's are counted

bool countsAllocations() noexcept;
bool countsLocks() noexcept;
Counts totals() noexcept; // the calling thread's, since it started

// Counts from its construction to each counts() call.
class Scope {
public:
    explicit Scope(Threads = Threads::Current) noexcept : mStart(totals()) {}
    Counts counts() const noexcept {
        const Counts now = totals();
        return {now.allocations - mStart.allocations, now.frees - mStart.frees,
                now.locks - mStart.locks};
    }

private:
    Counts mStart;
};

} // namespace rtcheck
