// Buffer-list arithmetic, the three memory sources and the failure paths.
#include "aufw/AUBufferList.h"

#include <AudioUnit/AUComponent.h>

#include <rtcheck/rtcheck.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr OSStatus kBadAlloc = -108; // what RaisedStatus answers for std::bad_alloc
constexpr OSStatus kTooMany = kAudioUnitErr_TooManyFramesToProcess;
constexpr OSStatus kFormat = kAudioUnitErr_FormatNotSupported;

CAStreamBasicDescription Float32(UInt32 channels, bool interleaved) {
    CAStreamBasicDescription f;
    f.mSampleRate = 44100;
    f.SetAUCanonical(channels, interleaved);
    return f;
}

template <typename Fn> OSStatus RaisedStatus(Fn&& fn) {
    try {
        fn();
    } catch (OSStatus status) {
        return status;
    } catch (const std::bad_alloc&) {
        return kBadAlloc;
    }
    return 0;
}

uintptr_t Addr(const void* p) {
    return reinterpret_cast<uintptr_t>(p);
}

// A caller's list with room for N entries.
template <size_t N> struct ListOf {
    UInt32 count;
    AudioBuffer buffers[N];
    AudioBufferList& operator*() { return *reinterpret_cast<AudioBufferList*>(this); }
};

TEST(AUBufferList, SizesAndLayouts) {
    // Each buffer starts on a 16-byte boundary: streams are laid a rounded
    // stride apart, sized for the allocated frames.
    struct Case {
        const char* format;
        UInt32 allocated, prepared;
        UInt32 streams, bytes, stride, byteSize, channelsPerBuffer;
    };
    for (const Case& c :
         {Case{"F32,2D", 1156, 512, 2, 9248, 4624, 2048, 1}, // 1156 x 4 -> 4624
          Case{"F32,2", 3, 3, 1, 32, 32, 24, 2},             // 24 rounded up
          Case{"I24,3D", 7, 7, 3, 96, 32, 21, 1}, Case{"F32,1", 4, 4, 1, 16, 16, 16, 1}}) {
        SCOPED_TRACE(c.format);
        CAStreamBasicDescription format;
        ASSERT_TRUE(CAStreamBasicDescription::FromText(c.format, format));
        AUBufferList list;
        list.Allocate(format, c.allocated);
        EXPECT_EQ(list.GetAllocatedStreams(), c.streams);
        EXPECT_EQ(list.GetAllocatedFrames(), c.allocated);
        EXPECT_EQ(list.GetAllocatedBytes(), c.bytes);
        EXPECT_EQ(list.GetPtrState(), UInt32(AUBufferList::kPtrsInvalid));
        EXPECT_EQ(RaisedStatus([&] { list.GetBufferList(); }), -1);

        AudioBufferList& abl = list.PrepareBuffer(format, c.prepared);
        EXPECT_EQ(list.GetPtrState(), UInt32(AUBufferList::kPtrsToMyMemory));
        EXPECT_EQ(&list.GetBufferList(), &abl);
        ASSERT_EQ(abl.mNumberBuffers, c.streams);
        for (UInt32 i = 0; i < c.streams; ++i) {
            EXPECT_EQ(abl.mBuffers[i].mNumberChannels, c.channelsPerBuffer);
            EXPECT_EQ(abl.mBuffers[i].mDataByteSize, c.byteSize);
            EXPECT_EQ(Addr(abl.mBuffers[i].mData) - Addr(list.GetMemory()), c.stride * i);
            std::memset(abl.mBuffers[i].mData, 0x5A,
                        c.stride); // the whole stride is usable
        }
        EXPECT_NO_THROW(list.PrepareBuffer(format, c.allocated));
    }
    EXPECT_EQ(AUBufferList::ListBytes(2), 40u);
}

TEST(AUBufferList, RejectionsReallocationAndRelease) {
    AUBufferList list;
    const auto stereo = Float32(2, false), three = Float32(3, false);
    list.Allocate(stereo, 1156);
    AudioBufferList& abl = list.PrepareBuffer(stereo, 512);
    void* const first = abl.mBuffers[0].mData;
    // A wider sample than the memory was sized for fails the final check.
    CAStreamBasicDescription wide = stereo;
    wide.mBytesPerFrame = wide.mBytesPerPacket = 8;

    EXPECT_EQ(RaisedStatus([&] { list.PrepareBuffer(stereo, 1157); }), kTooMany);
    EXPECT_EQ(RaisedStatus([&] { list.PrepareBuffer(three, 100); }), kFormat);
    EXPECT_EQ(RaisedStatus([&] { list.PrepareNullBuffer(three, 100); }), kFormat);
    EXPECT_EQ(RaisedStatus([&] { list.PrepareBuffer(wide, 16); }), kTooMany);
    EXPECT_EQ(abl.mNumberBuffers, 2u);
    EXPECT_EQ(abl.mBuffers[0].mDataByteSize, 2048u);
    EXPECT_EQ(abl.mBuffers[0].mData, first);
    EXPECT_EQ(list.GetPtrState(), UInt32(AUBufferList::kPtrsToMyMemory));

    // The null list needs no memory, so any frame count goes.
    AudioBufferList& null = list.PrepareNullBuffer(stereo, 1157);
    EXPECT_EQ(list.GetPtrState(), UInt32(AUBufferList::kPtrsToExternalMemory));
    ASSERT_EQ(null.mNumberBuffers, 2u);
    EXPECT_EQ(null.mBuffers[0].mData, nullptr);
    EXPECT_EQ(null.mBuffers[1].mData, nullptr);
    EXPECT_EQ(null.mBuffers[1].mDataByteSize, 1157u * 4);
    EXPECT_EQ(null.mBuffers[1].mNumberChannels, 1u);

    // Memory never shrinks, and the list block outlives Deallocate.
    const Byte* memory = list.GetMemory();
    list.Allocate(stereo, 100);
    EXPECT_EQ(list.GetAllocatedBytes(), 9248u);
    EXPECT_EQ(list.GetAllocatedFrames(), 100u);
    EXPECT_EQ(list.GetMemory(), memory);
    EXPECT_EQ(RaisedStatus([&] { list.PrepareBuffer(stereo, 101); }), kTooMany);
    EXPECT_EQ(list.PrepareBuffer(stereo, 100).mBuffers[1].mDataByteSize, 400u);
    list.Deallocate();
    EXPECT_EQ(list.GetAllocatedStreams(), 0u);
    EXPECT_EQ(list.GetAllocatedFrames(), 0u);
    EXPECT_EQ(list.GetAllocatedBytes(), 0u);
    EXPECT_EQ(list.GetMemory(), nullptr);
    EXPECT_EQ(RaisedStatus([&] { list.GetBufferList(); }), -1);
    EXPECT_EQ(RaisedStatus([&] { list.PrepareBuffer(stereo, 1); }), kTooMany);
    list.Allocate(Float32(4, false), 16);
    EXPECT_EQ(list.PrepareBuffer(Float32(4, false), 16).mNumberBuffers, 4u);

    // Never allocated: nothing to fill; zero frames: headers only.
    AUBufferList empty;
    EXPECT_EQ(RaisedStatus([&] { empty.PrepareBuffer(stereo, 0); }), kFormat);
    EXPECT_EQ(RaisedStatus([&] { empty.PrepareNullBuffer(stereo, 16); }), kFormat);
    EXPECT_EQ(RaisedStatus([&] { empty.PrepareNullBuffer(Float32(0, false), 16); }), kFormat);
    empty.Allocate(stereo, 0);
    EXPECT_EQ(empty.GetAllocatedStreams(), 2u);
    EXPECT_EQ(empty.GetMemory(), nullptr);
    EXPECT_EQ(empty.PrepareBuffer(stereo, 0).mBuffers[1].mData, nullptr);
}

TEST(AUBufferList, HostBlocksAreTakenWhenLargeEnoughAndNeverFreed) {
    AUBufferList list;
    const auto stereo = Float32(2, false);
    void* raw = nullptr;
    ASSERT_EQ(posix_memalign(&raw, 16, 10000), 0);
    Byte* host = static_cast<Byte*>(raw);

    // An element that needs no memory does not take the host's either.
    list.Allocate(stereo, 0);
    list.UseExternalBuffer(stereo, AudioUnitExternalBuffer{host, 10000});
    EXPECT_FALSE(list.BufferIsExternal());
    EXPECT_EQ(list.GetAllocatedFrames(), 0u);

    list.Allocate(stereo, 1156);
    const Byte* own = list.GetMemory();
    list.UseExternalBuffer(stereo, AudioUnitExternalBuffer{host, 9000}); // too small
    EXPECT_FALSE(list.BufferIsExternal());
    EXPECT_EQ(list.GetMemory(), own);
    EXPECT_EQ(list.GetAllocatedBytes(), 9248u);
    list.UseExternalBuffer(stereo, AudioUnitExternalBuffer{host, 9248}); // as large as the own
    EXPECT_TRUE(list.BufferIsExternal());
    EXPECT_EQ(list.GetMemory(), host);
    list.UseExternalBuffer(stereo, AudioUnitExternalBuffer{host, 10000});
    EXPECT_EQ(list.GetAllocatedBytes(), 9984u);
    EXPECT_EQ(list.GetAllocatedFrames(), 1248u);
    AudioBufferList& abl = list.PrepareBuffer(stereo, 1248);
    EXPECT_EQ(abl.mBuffers[0].mData, host);
    EXPECT_EQ(abl.mBuffers[1].mData, host + 4992);
    EXPECT_EQ(abl.mBuffers[1].mDataByteSize, 4992u);
    EXPECT_EQ(RaisedStatus([&] { list.PrepareBuffer(stereo, 1249); }), kTooMany);

    // Deallocate forgets the host's block without freeing it: it stays ours
    // to write and free (an address sanitizer run would report otherwise).
    list.Deallocate();
    EXPECT_FALSE(list.BufferIsExternal());
    EXPECT_EQ(list.GetMemory(), nullptr);
    std::memset(host, 0x33, 10000);

    // Growing within the host's block keeps it; past it takes fresh memory.
    list.Allocate(stereo, 1156);
    list.UseExternalBuffer(stereo, AudioUnitExternalBuffer{host, 10000});
    list.Allocate(stereo, 1000);
    EXPECT_EQ(list.GetMemory(), host);
    list.Allocate(stereo, 2000);
    EXPECT_FALSE(list.BufferIsExternal());
    EXPECT_NE(list.GetMemory(), host);
    EXPECT_EQ(list.GetAllocatedBytes(), 16000u);
    AudioBufferList& grown = list.PrepareBuffer(stereo, 2000);
    std::memset(grown.mBuffers[0].mData, 0, 8000);
    std::memset(grown.mBuffers[1].mData, 0, 8000);
    for (UInt32 i = 0; i < 10000; ++i) {
        ASSERT_EQ(host[i], 0x33) << "the host's block was written at " << i;
    }
    std::free(host);
}

TEST(AUBufferList, OverflowAndExhaustionRaiseTheAllocationFailure) {
    AUBufferList list;
    const auto stereo = Float32(2, true);
    list.Allocate(stereo, 16);
    const UInt32 bytes = list.GetAllocatedBytes();
    const Byte* memory = list.GetMemory();

    // frames x bytes per frame would wrap to a tiny size.
    EXPECT_EQ(RaisedStatus([&] { list.Allocate(stereo, 0x20000001); }), kBadAlloc);
    EXPECT_EQ(RaisedStatus([&] { list.Allocate(stereo, 0x1FFFFFFF); }), kBadAlloc);
    EXPECT_EQ(list.GetAllocatedBytes(), bytes);
    EXPECT_EQ(list.GetMemory(), memory);
    // The list block itself would wrap.
    EXPECT_EQ(RaisedStatus([&] { list.Allocate(Float32(0x10000000, false), 1); }), kBadAlloc);
    EXPECT_EQ(list.GetAllocatedStreams(), 1u);
    // streams x bytes per stream would wrap; the grown list block stays.
    EXPECT_EQ(RaisedStatus([&] { list.Allocate(Float32(0x1000, false), 0x40000); }), kBadAlloc);
    EXPECT_EQ(list.GetAllocatedStreams(), 0x1000u);
    EXPECT_EQ(list.GetAllocatedBytes(), bytes);
    EXPECT_EQ(list.GetMemory(), memory);
    // Nothing half-made is usable afterwards.
    EXPECT_EQ(RaisedStatus([&] { list.GetBufferList(); }), -1);
    EXPECT_NO_THROW(list.PrepareBuffer(stereo, 16));

#if !defined(__SANITIZE_ADDRESS__)
    // A child under a 1 GiB address-space limit cannot have a 3 GiB block.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit limit{rlim_t(1) << 30, rlim_t(1) << 30};
        const auto mono = Float32(1, true);
        AUBufferList small;
        small.Allocate(mono, 1024);
        const bool ok = setrlimit(RLIMIT_AS, &limit) == 0 &&
                        RaisedStatus([&] { small.Allocate(mono, 0x30000000); }) == kBadAlloc &&
                        small.GetAllocatedBytes() == 0 && small.GetMemory() == nullptr &&
                        RaisedStatus([&] { small.PrepareBuffer(mono, 1); }) != 0;
        small.Allocate(mono, 1024);
        small.PrepareBuffer(mono, 1024);
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
#endif
}

TEST(AUBufferList, SettingAndCopyingListsAndContents) {
    const auto stereo = Float32(2, false);
    float left[64] = {}, right[64] = {}, extra[64] = {};
    ListOf<3> callers{
        3, {{1, sizeof(left), left}, {1, sizeof(right), right}, {1, sizeof(extra), extra}}};
    AUBufferList list;
    EXPECT_EQ(RaisedStatus([&] { list.SetBufferList(*callers); }), -1);
    EXPECT_EQ(RaisedStatus([&] { list.CopyBufferListTo(*callers); }), -1);
    EXPECT_EQ(RaisedStatus([&] { list.CopyBufferContentsTo(*callers); }), -1);
    list.Allocate(stereo, 64);
    // More entries than allocated streams.
    EXPECT_EQ(RaisedStatus([&] { list.SetBufferList(*callers); }), -1);
    EXPECT_EQ(list.GetPtrState(), UInt32(AUBufferList::kPtrsInvalid));
    callers.count = 2;
    list.SetBufferList(*callers);
    EXPECT_EQ(list.GetPtrState(), UInt32(AUBufferList::kPtrsToExternalMemory));
    EXPECT_EQ(list.GetBufferList().mBuffers[0].mData, left);
    EXPECT_EQ(list.GetBufferList().mBuffers[1].mData, right);

    // Copying the list hands out this list's pointers, within the caller's room.
    AudioBufferList& prepared = list.PrepareBuffer(stereo, 32);
    ListOf<2> single{1, {}};
    list.CopyBufferListTo(*single);
    EXPECT_EQ(single.count, 1u);
    EXPECT_EQ(single.buffers[0].mData, prepared.mBuffers[0].mData);
    EXPECT_EQ(single.buffers[0].mDataByteSize, 128u);
    EXPECT_EQ(single.buffers[1].mData, nullptr) << "written past the caller's room";
    list.CopyBufferListTo(*callers);
    EXPECT_EQ(callers.buffers[1].mData, prepared.mBuffers[1].mData);
    EXPECT_EQ(callers.buffers[2].mData, extra) << "the third entry is beyond the copy";

    AudioBufferList& src = list.PrepareBuffer(stereo, 8);
    auto* l = static_cast<float*>(src.mBuffers[0].mData);
    auto* r = static_cast<float*>(src.mBuffers[1].mData);
    for (int i = 0; i < 8; ++i) {
        l[i] = float(i);
        r[i] = float(100 + i);
    }
    float a[8] = {}, b[8] = {}, c[8] = {}, shortDst[4] = {};
    ListOf<4> dst{4, {{1, sizeof(a), a}, {1, sizeof(b), b}, {1, sizeof(c), c}, {1, 16, shortDst}}};
    list.CopyBufferContentsTo(*dst);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(a[i], float(i));
        EXPECT_EQ(b[i], float(100 + i));
        EXPECT_EQ(c[i], float(100 + i)) << "the last source feeds further buffers";
        EXPECT_EQ(shortDst[i % 4], float(100 + i % 4));
    }
    EXPECT_EQ(dst.buffers[0].mDataByteSize, 32u);
    EXPECT_EQ(dst.buffers[2].mDataByteSize, 32u);
    EXPECT_EQ(dst.buffers[3].mDataByteSize, 16u) << "a smaller buffer is filled, not overrun";

    // The same memory on both sides only takes the size.
    AudioBufferList same{1, {{1, 4, src.mBuffers[0].mData}}};
    list.CopyBufferContentsTo(same);
    EXPECT_EQ(same.mBuffers[0].mDataByteSize, 32u);
    EXPECT_EQ(l[3], 3.0f);

    AUBufferList::ZeroBuffer(src);
    EXPECT_EQ(std::vector<float>(l, l + 8), std::vector<float>(8, 0.0f));
    EXPECT_EQ(std::vector<float>(r, r + 8), std::vector<float>(8, 0.0f));
    AudioBufferList nulls{1, {{1, 64, nullptr}}};
    AUBufferList::ZeroBuffer(nulls);
}

// The render-time operations only fill the preallocated list header.
TEST(AUBufferListRealTime, PreparingAllocatesNothing) {
    if (!rtcheck::countsAllocations()) {
        GTEST_SKIP() << "this build cannot count allocations";
    }
    const auto format = Float32(2, false);
    AUBufferList list;
    {
        // The counter is live: the allocation itself is seen.
        rtcheck::Scope allocating;
        list.Allocate(format, 4096);
        EXPECT_GT(allocating.counts().allocations, 0);
    }
    alignas(16) static Byte host[2 * 4096 * 4];
    rtcheck::Scope scope;
    for (UInt32 frames = 0; frames <= 4096; frames += 64) {
        AudioBufferList& abl = list.PrepareBuffer(format, frames);
        AUBufferList::ZeroBuffer(abl);
        list.CopyBufferContentsTo(abl);
        list.PrepareNullBuffer(format, frames);
        list.InvalidateBufferList();
    }
    list.UseExternalBuffer(format, AudioUnitExternalBuffer{host, sizeof(host)});
    list.PrepareBuffer(format, 4096);
    EXPECT_TRUE(scope.counts().isClean());
}

} // namespace
