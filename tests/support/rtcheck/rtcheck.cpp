// The counting replacements. Every counter is a relaxed atomic (all
// threads) plus a thread-local plain counter (the calling thread); the
// thread-local block lives in the executable's static TLS, so touching it
// never allocates.
#include <rtcheck/rtcheck.h>

#include <atomic>
#include <cerrno>
#include <cstddef>

#include <dlfcn.h>
#include <pthread.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define RTCHECK_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) ||                         \
    __has_feature(memory_sanitizer)
#define RTCHECK_SANITIZER 1
#endif
#endif

// The thread sanitizer's allocator leaves aligned allocations out of its
// hooks, so a count there would miss some; it claims no count at all.
#if defined(__SANITIZE_THREAD__)
#define RTCHECK_PARTIAL_HOOKS 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define RTCHECK_PARTIAL_HOOKS 1
#endif
#endif

namespace {

std::atomic<long> gAllocations{0}, gFrees{0}, gLocks{0};
thread_local rtcheck::Counts tCounts;

inline void countAllocation() noexcept {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    ++tCounts.allocations;
}

inline void countFree(const volatile void* block) noexcept {
    if (block != nullptr) {
        gFrees.fetch_add(1, std::memory_order_relaxed);
        ++tCounts.frees;
    }
}

[[maybe_unused]] inline void countLock() noexcept {
    gLocks.fetch_add(1, std::memory_order_relaxed);
    ++tCounts.locks;
}

} // namespace

rtcheck::Counts rtcheck::totals(Threads which) noexcept {
    if (which == Threads::Current)
        return tCounts;
    return {gAllocations.load(std::memory_order_relaxed), gFrees.load(std::memory_order_relaxed),
            gLocks.load(std::memory_order_relaxed)};
}

#if defined(RTCHECK_SANITIZER)

// The sanitizer runtime owns malloc and the lock functions; its allocator
// calls these hooks for every block it hands out or takes back.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*mallocHook)(const volatile void*,
                                                                            size_t),
                                                         void (*freeHook)(const volatile void*));

namespace {
void onMalloc(const volatile void*, size_t) {
    countAllocation();
}
const bool gHooksInstalled = __sanitizer_install_malloc_and_free_hooks(onMalloc, countFree) != 0;
} // namespace

bool rtcheck::countsAllocations() noexcept {
#if defined(RTCHECK_PARTIAL_HOOKS)
    return false;
#else
    return gHooksInstalled;
#endif
}
bool rtcheck::countsLocks() noexcept {
    return false;
}

#else

// The C library's own entry points, which the replacements forward to.
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* block);
}

bool rtcheck::countsAllocations() noexcept {
    return true;
}
bool rtcheck::countsLocks() noexcept {
    return true;
}

// The C++ library's operator new and delete, every form, end in these
// functions, so they are counted without replacements of their own.
extern "C" {

void* malloc(size_t size) {
    countAllocation();
    return __libc_malloc(size);
}

void* calloc(size_t count, size_t size) {
    countAllocation();
    return __libc_calloc(count, size);
}

// A resize counts as a new block and, for an existing block, the release of
// the old one, as the sanitizer allocators report it too.
void* realloc(void* block, size_t size) {
    countAllocation();
    countFree(block);
    return __libc_realloc(block, size);
}

void free(void* block) {
    countFree(block);
    __libc_free(block);
}

void* memalign(size_t alignment, size_t size) {
    countAllocation();
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size) {
    countAllocation();
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** out, size_t alignment, size_t size) {
    if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0 || alignment == 0)
        return EINVAL;
    countAllocation();
    void* block = __libc_memalign(alignment, size);
    return block ? (*out = block, 0) : ENOMEM;
}

} // extern "C"

namespace {

using MutexProc = int (*)(pthread_mutex_t*);

// The C library's lock functions, looked up past this program's own
// definitions. Resolved before main; the lazy path covers locks taken by
// earlier static constructors.
std::atomic<MutexProc> gRealLock{nullptr};
std::atomic<MutexProc> gRealTryLock{nullptr};

MutexProc resolve(std::atomic<MutexProc>& slot, const char* name) noexcept {
    MutexProc proc = slot.load(std::memory_order_acquire);
    if (proc == nullptr) {
        proc = reinterpret_cast<MutexProc>(dlsym(RTLD_NEXT, name));
        slot.store(proc, std::memory_order_release);
    }
    return proc;
}

__attribute__((constructor(101))) void resolveLockFunctions() {
    resolve(gRealLock, "pthread_mutex_lock");
    resolve(gRealTryLock, "pthread_mutex_trylock");
}

} // namespace

extern "C" int pthread_mutex_lock(pthread_mutex_t* mutex) {
    countLock();
    return resolve(gRealLock, "pthread_mutex_lock")(mutex);
}

extern "C" int pthread_mutex_trylock(pthread_mutex_t* mutex) {
    countLock();
    return resolve(gRealTryLock, "pthread_mutex_trylock")(mutex);
}

#endif
