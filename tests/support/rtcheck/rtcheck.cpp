// The counting replacements. The counters are thread-local plain longs in the
// executable's static TLS, so touching them never allocates.
#include <rtcheck/rtcheck.h>

#include <atomic>
#include <cstddef>

#include <dlfcn.h>
#include <pthread.h>

// 1: a sanitizer whose hooks see every allocation; 2: the thread sanitizer,
// whose hooks leave the aligned ones out, so nothing is claimed.
#if defined(__SANITIZE_THREAD__)
#define RTCHECK_SANITIZER 2
#elif defined(__SANITIZE_ADDRESS__)
#define RTCHECK_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define RTCHECK_SANITIZER 2
#elif __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
#define RTCHECK_SANITIZER 1
#endif
#endif

namespace {

thread_local rtcheck::Counts tCounts;

inline void countAllocation() noexcept {
    ++tCounts.allocations;
}

inline void countFree(const volatile void* block) noexcept {
    tCounts.frees += block != nullptr;
}

[[maybe_unused]] inline void countLock() noexcept {
    ++tCounts.locks;
}

} // namespace

rtcheck::Counts rtcheck::totals() noexcept {
    return tCounts;
}

#if defined(RTCHECK_SANITIZER)

extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, size_t),
                                                         void (*)(const volatile void*));

namespace {
void onMalloc(const volatile void*, size_t) {
    countAllocation();
}
const bool gHooksInstalled = __sanitizer_install_malloc_and_free_hooks(onMalloc, countFree) != 0;
} // namespace

bool rtcheck::countsAllocations() noexcept {
    return RTCHECK_SANITIZER == 1 && gHooksInstalled;
}
bool rtcheck::countsLocks() noexcept {
    return false;
}

#else

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* block);

void* malloc(size_t size) {
    countAllocation();
    return __libc_malloc(size);
}

void* calloc(size_t count, size_t size) {
    countAllocation();
    return __libc_calloc(count, size);
}

// A resize counts as a new block and the release of the old one, as the
// sanitizer allocators report it.
void* realloc(void* block, size_t size) {
    countAllocation();
    countFree(block);
    return __libc_realloc(block, size);
}

void free(void* block) {
    countFree(block);
    __libc_free(block);
}

void* aligned_alloc(size_t alignment, size_t size) {
    countAllocation();
    return __libc_memalign(alignment, size);
}

} // extern "C"

bool rtcheck::countsAllocations() noexcept {
    return true;
}
bool rtcheck::countsLocks() noexcept {
    return true;
}

namespace {

using MutexProc = int (*)(pthread_mutex_t*);

// The C library's lock functions past this program's own. Resolved before
// main; the lazy path covers locks taken by earlier static constructors.
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
