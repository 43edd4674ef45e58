// The render-time buffer operations must not allocate: counted by wrapping
// the C library's allocator for this test program. Sanitizer builds bring
// their own allocator, so the count is taken only in plain builds.
#include "aufw/AUBufferList.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void __libc_free(void* block);
}

namespace {
std::atomic<long> gAllocations{0};
}

extern "C" void* malloc(size_t size) {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}

extern "C" void* calloc(size_t count, size_t size) {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}

extern "C" void* realloc(void* block, size_t size) {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(block, size);
}

extern "C" void free(void* block) {
    __libc_free(block);
}

namespace {

TEST(AUBufferListRealTime, PreparingAllocatesNothing) {
    CAStreamBasicDescription format;
    format.SetAUCanonical(2, false);
    AUBufferList list;
    const long beforeAllocate = gAllocations.load();
    list.Allocate(format, 4096);
    // The counter is live: the allocation itself is seen.
    EXPECT_GT(gAllocations.load(), beforeAllocate);

    alignas(16) static Byte host[2 * 4096 * 4];
    const long before = gAllocations.load();
    for (UInt32 frames = 0; frames <= 4096; frames += 64) {
        AudioBufferList& abl = list.PrepareBuffer(format, frames);
        AUBufferList::ZeroBuffer(abl);
        list.CopyBufferContentsTo(abl);
        list.PrepareNullBuffer(format, frames);
        list.InvalidateBufferList();
    }
    list.UseExternalBuffer(format, AudioUnitExternalBuffer{host, sizeof(host)});
    list.PrepareBuffer(format, 4096);
    EXPECT_EQ(gAllocations.load(), before);
}

} // namespace

#endif
