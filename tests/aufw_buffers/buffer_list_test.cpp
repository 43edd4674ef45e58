// Buffer-list arithmetic, the three memory sources and the failure paths.
#include "aufw/AUBufferList.h"

#include <AudioUnit/AUComponent.h>

#include <rtcheck/rtcheck.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

CAStreamBasicDescription Float32(UInt32 channels, bool interleaved) {
    CAStreamBasicDescription f;
    f.mSampleRate = 44100;
    f.SetAUCanonical(channels, interleaved);
    return f;
}

// Runs fn and returns the bare status it raised, or 0 when nothing was raised.
template <typename Fn> OSStatus RaisedStatus(Fn&& fn) {
    try {
        fn();
    } catch (OSStatus status) {
        return status;
    }
    return 0;
}

uintptr_t Addr(const void* p) {
    return reinterpret_cast<uintptr_t>(p);
}

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
        EXPECT_EQ(list.GetPtrState(), UInt32(AUBufferList::kPtrsInvalid));
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
            // The whole stride is usable.
            std::memset(abl.mBuffers[i].mData, 0x5A, c.stride);
        }
        EXPECT_NO_THROW(list.PrepareBuffer(format, c.allocated));
    }
    EXPECT_EQ(AUBufferList::ListBytes(2), 40u);
}

TEST(AUBufferList, RejectionsLeaveTheListUntouched) {
    AUBufferList list;
    const auto stereo = Float32(2, false);
    list.Allocate(stereo, 1156);
    AudioBufferList& abl = list.PrepareBuffer(stereo, 512);
    void* const first = abl.mBuffers[0].mData;

    // Too many frames.
    EXPECT_EQ(RaisedStatus([&] { list.PrepareBuffer(stereo, 1157); }),
              kAudioUnitErr_TooManyFramesToProcess);
    // Too many channels for the list block.
    EXPECT_EQ(RaisedStatus([&] { list.PrepareBuffer(Float32(3, false), 100); }),
              kAudioUnitErr_FormatNotSupported);
    EXPECT_EQ(RaisedStatus([&] { list.PrepareNullBuffer(Float32(3, false), 100); }),
              kAudioUnitErr_FormatNotSupported);
    EXPECT_EQ(abl.mNumberBuffers, 2u);
    EXPECT_EQ(abl.mBuffers[0].mDataByteSize, 2048u);
    EXPECT_EQ(abl.mBuffers[0].mData, first);
    EXPECT_EQ(list.GetPtrState(), UInt32(AUBufferList::kPtrsToMyMemory));

    // A wider sample than the memory was sized for fails the final check,
    // after the entries are written, and the state stays as it was.
    CAStreamBasicDescription wide = stereo;
    wide.mBytesPerFrame = wide.mBytesPerPacket = 8;
    EXPECT_EQ(RaisedStatus([&] { list.PrepareBuffer(wide, 16); }),
              kAudioUnitErr_TooManyFramesToProcess);
    EXPECT_EQ(list.GetPtrState(), UInt32(AUBufferList::kPtrsToMyMemory));

    // The null list needs no memory, so any frame count goes.
    AudioBufferList& null = list.PrepareNullBuffer(stereo, 1157);
    EXPECT_EQ(list.GetPtrState(), UInt32(AUBufferList::kPtrsToExternalMemory));
    ASSERT_EQ(null.mNumberBuffers, 2u);
    EXPECT_EQ(null.mBuffers[0].mData, nullptr);
    EXPECT_EQ(null.mBuffers[1].mData, nullptr);
    EXPECT_EQ(null.mBuffers[1].mDataByteSize, 1157u * 4);
    EXPECT_EQ(null.mBuffers[1].mNumberChannels, 1u);

    // Never allocated: nothing to fill.
    AUBufferList empty;
    EXPECT_EQ(RaisedStatus([&] { empty.PrepareBuffer(stereo, 0); }),
              kAudioUnitErr_FormatNotSupported);
    EXPECT_EQ(RaisedStatus([&] { empty.PrepareNullBuffer(stereo, 16); }),
              kAudioUnitErr_FormatNotSupported);
    CAStreamBasicDescription noChannels = Float32(0, false);
    EXPECT_EQ(RaisedStatus([&] { empty.PrepareNullBuffer(noChannels, 16); }),
              kAudioUnitErr_FormatNotSupported);
}

TEST(AUBufferList, ZeroFramesGiveHeadersOnly) {
    AUBufferList list;
    const auto stereo = Float32(2, false);
    list.Allocate(stereo, 0);
    EXPECT_EQ(list.GetAllocatedStreams(), 2u);
    EXPECT_EQ(list.GetAllocatedBytes(), 0u);
    EXPECT_EQ(list.GetMemory(), nullptr);
    AudioBufferList& abl = list.PrepareBuffer(stereo, 0);
    EXPECT_EQ(abl.mNumberBuffers, 2u);
    EXPECT_EQ(abl.mBuffers[1].mData, nullptr);

    alignas(16) Byte host[64];
    list.UseExternalBuffer(stereo, AudioUnitExternalBuffer{host, sizeof(host)});
    EXPECT_FALSE(list.BufferIsExternal());
    EXPECT_EQ(list.GetMemory(), nullptr);
    EXPECT_EQ(list.GetAllocatedFrames(), 0u);
}

TEST(AUBufferList, MemoryNeverShrinksAndTheListBlockIsKept) {
    AUBufferList list;
    const auto stereo = Float32(2, false);
    list.Allocate(stereo, 1156);
    const Byte* memory = list.GetMemory();
    list.Allocate(stereo, 100);
    EXPECT_EQ(list.GetAllocatedBytes(), 9248u);
    EXPECT_EQ(list.GetAllocatedFrames(), 100u);
    EXPECT_EQ(list.GetMemory(), memory);
    EXPECT_EQ(RaisedStatus([&] { list.PrepareBuffer(stereo, 101); }),
              kAudioUnitErr_TooManyFramesToProcess);
    EXPECT_EQ(list.PrepareBuffer(stereo, 100).mBuffers[1].mDataByteSize, 400u);

    list.PrepareBuffer(stereo, 100);
    list.Deallocate();
    EXPECT_EQ(list.GetAllocatedStreams(), 0u);
    EXPECT_EQ(list.GetAllocatedFrames(), 0u);
    EXPECT_EQ(list.GetAllocatedBytes(), 0u);
    EXPECT_EQ(list.GetMemory(), nullptr);
    EXPECT_EQ(RaisedStatus([&] { list.GetBufferList(); }), -1);
    EXPECT_EQ(RaisedStatus([&] { list.PrepareBuffer(stereo, 1); }),
              kAudioUnitErr_TooManyFramesToProcess);
    // The kept list block is resized for the next allocation.
    list.Allocate(Float32(4, false), 16);
    EXPECT_EQ(list.PrepareBuffer(Float32(4, false), 16).mNumberBuffers, 4u);
}

TEST(AUBufferList, ExternalBlockFromTheHost) {
    AUBufferList list;
    const auto stereo = Float32(2, false);
    list.Allocate(stereo, 1156);
    const Byte* own = list.GetMemory();

    void* raw = nullptr;
    ASSERT_EQ(posix_memalign(&raw, 16, 10000), 0);
    Byte* host = static_cast<Byte*>(raw);

    // Too small: ignored.
    list.UseExternalBuffer(stereo, AudioUnitExternalBuffer{host, 9000});
    EXPECT_FALSE(list.BufferIsExternal());
    EXPECT_EQ(list.GetMemory(), own);
    EXPECT_EQ(list.GetAllocatedBytes(), 9248u);

    // Exactly as large as the own block: taken.
    list.UseExternalBuffer(stereo, AudioUnitExternalBuffer{host, 9248});
    EXPECT_TRUE(list.BufferIsExternal());
    EXPECT_EQ(list.GetMemory(), host);
    EXPECT_EQ(list.GetAllocatedBytes(), 9248u);

    list.UseExternalBuffer(stereo, AudioUnitExternalBuffer{host, 10000});
    EXPECT_TRUE(list.BufferIsExternal());
    EXPECT_EQ(list.GetMemory(), host);
    EXPECT_EQ(list.GetAllocatedBytes(), 9984u);
    EXPECT_EQ(list.GetAllocatedFrames(), 1248u);
    AudioBufferList& abl = list.PrepareBuffer(stereo, 1248);
    EXPECT_EQ(abl.mBuffers[0].mData, host);
    EXPECT_EQ(abl.mBuffers[1].mData, host + 4992);
    EXPECT_EQ(abl.mBuffers[1].mDataByteSize, 4992u);
    EXPECT_EQ(RaisedStatus([&] { list.PrepareBuffer(stereo, 1249); }),
              kAudioUnitErr_TooManyFramesToProcess);

    // Deallocate forgets the host's block without freeing it: it stays ours
    // to write and free (an address sanitizer run would report otherwise).
    list.Deallocate();
    EXPECT_FALSE(list.BufferIsExternal());
    EXPECT_EQ(list.GetMemory(), nullptr);
    std::memset(host, 0x11, 10000);
    std::free(host);
}

TEST(AUBufferList, EveryFrameOfAHostBlockCanBePrepared) {
    struct Case {
        UInt32 channels;
        bool interleaved;
        UInt32 blockSize;
        UInt32 expectedBytes;
    };
    for (const Case& c :
         {Case{2, false, 9248, 9248}, Case{1, true, 10007, 10000}, Case{3, false, 10000, 9984},
          Case{2, true, 4097, 4096}, Case{5, false, 65535, 65520}}) {
        SCOPED_TRACE(c.blockSize);
        const auto format = Float32(c.channels, c.interleaved);
        AUBufferList list;
        list.Allocate(format, 16);
        void* raw = nullptr;
        ASSERT_EQ(posix_memalign(&raw, 16, c.blockSize), 0);
        list.UseExternalBuffer(format,
                               AudioUnitExternalBuffer{static_cast<Byte*>(raw), c.blockSize});
        EXPECT_TRUE(list.BufferIsExternal());
        EXPECT_EQ(list.GetAllocatedBytes(), c.expectedBytes);
        AudioBufferList& abl = list.PrepareBuffer(format, list.GetAllocatedFrames());
        for (UInt32 i = 0; i < abl.mNumberBuffers; ++i) {
            EXPECT_LE(Addr(abl.mBuffers[i].mData) + abl.mBuffers[i].mDataByteSize,
                      Addr(raw) + c.blockSize);
            std::memset(abl.mBuffers[i].mData, 0x7F, abl.mBuffers[i].mDataByteSize);
        }
        list.Deallocate();
        std::free(raw);
    }
}

TEST(AUBufferList, GrowingPastTheHostBlockTakesFreshMemory) {
    AUBufferList list;
    const auto stereo = Float32(2, false);
    list.Allocate(stereo, 1156);
    alignas(16) Byte host[9984];
    std::memset(host, 0x33, sizeof(host));
    list.UseExternalBuffer(stereo, AudioUnitExternalBuffer{host, sizeof(host)});
    ASSERT_TRUE(list.BufferIsExternal());

    // Fits in the host's block: it stays.
    list.Allocate(stereo, 1000);
    EXPECT_TRUE(list.BufferIsExternal());
    EXPECT_EQ(list.GetMemory(), host);

    list.Allocate(stereo, 2000);
    EXPECT_FALSE(list.BufferIsExternal());
    EXPECT_NE(list.GetMemory(), host);
    EXPECT_EQ(list.GetAllocatedBytes(), 16000u);
    AudioBufferList& abl = list.PrepareBuffer(stereo, 2000);
    std::memset(abl.mBuffers[0].mData, 0, 8000);
    std::memset(abl.mBuffers[1].mData, 0, 8000);
    for (Byte b : host) {
        ASSERT_EQ(b, 0x33) << "the host's block was written";
    }
}

TEST(AUBufferList, OverflowRaisesTheAllocationFailure) {
    AUBufferList list;
    const auto stereo = Float32(2, true);
    list.Allocate(stereo, 16);
    const UInt32 bytes = list.GetAllocatedBytes();
    const Byte* memory = list.GetMemory();

    // frames x bytes per frame would wrap to a tiny size.
    EXPECT_THROW(list.Allocate(stereo, 0x20000001), std::bad_alloc);
    EXPECT_THROW(list.Allocate(stereo, 0x1FFFFFFF), std::bad_alloc);
    EXPECT_EQ(list.GetAllocatedBytes(), bytes);
    EXPECT_EQ(list.GetMemory(), memory);

    // The list block itself would wrap.
    CAStreamBasicDescription many = Float32(0x10000000, false);
    EXPECT_THROW(list.Allocate(many, 1), std::bad_alloc);
    EXPECT_EQ(list.GetAllocatedStreams(), 1u);

    // streams x bytes per stream would wrap; the grown list block stays.
    CAStreamBasicDescription wide = Float32(0x1000, false);
    EXPECT_THROW(list.Allocate(wide, 0x40000), std::bad_alloc);
    EXPECT_EQ(list.GetAllocatedStreams(), 0x1000u);
    EXPECT_EQ(list.GetAllocatedBytes(), bytes);
    EXPECT_EQ(list.GetMemory(), memory);

    // Nothing half-made is usable afterwards.
    EXPECT_EQ(RaisedStatus([&] { list.GetBufferList(); }), -1);
    EXPECT_NO_THROW(list.PrepareBuffer(stereo, 16));
}

#if !defined(__SANITIZE_ADDRESS__)
TEST(AUBufferList, ExhaustedMemoryRaisesTheAllocationFailure) {
    // In a child process with a small address-space limit, a 3 GiB block
    // cannot be had.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        rlimit limit{};
        limit.rlim_cur = limit.rlim_max = rlim_t(1) << 30;
        if (setrlimit(RLIMIT_AS, &limit) != 0) {
            _exit(10);
        }
        AUBufferList list;
        const auto mono = Float32(1, true);
        list.Allocate(mono, 1024);
        try {
            list.Allocate(mono, 0x30000000);
            _exit(11);
        } catch (const std::bad_alloc&) {
        }
        if (list.GetAllocatedBytes() != 0 || list.GetMemory() != nullptr) {
            _exit(12);
        }
        try {
            list.PrepareBuffer(mono, 1);
            _exit(13);
        } catch (OSStatus) {
        }
        list.Allocate(mono, 1024);
        list.PrepareBuffer(mono, 1024);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
#endif

TEST(AUBufferList, SettingAndCopyingLists) {
    AUBufferList list;
    const auto stereo = Float32(2, false);
    EXPECT_EQ(RaisedStatus([&] {
                  AudioBufferList one{1, {{1, 4, nullptr}}};
                  list.SetBufferList(one);
              }),
              -1);
    list.Allocate(stereo, 64);

    float left[64] = {};
    float right[64] = {};
    float extra[64] = {};
    struct {
        AudioBufferList abl;
        AudioBuffer more[2];
    } callers{};
    callers.abl.mNumberBuffers = 3;
    callers.abl.mBuffers[0] = {1, sizeof(left), left};
    callers.more[0] = {1, sizeof(right), right};
    callers.more[1] = {1, sizeof(extra), extra};
    EXPECT_EQ(RaisedStatus([&] { list.SetBufferList(callers.abl); }), -1);
    EXPECT_EQ(list.GetPtrState(), UInt32(AUBufferList::kPtrsInvalid));

    callers.abl.mNumberBuffers = 2;
    list.SetBufferList(callers.abl);
    EXPECT_EQ(list.GetPtrState(), UInt32(AUBufferList::kPtrsToExternalMemory));
    EXPECT_EQ(list.GetBufferList().mBuffers[0].mData, left);
    EXPECT_EQ(list.GetBufferList().mBuffers[1].mData, right);

    // Copying the list hands out this list's pointers, within the caller's room.
    AUBufferList source;
    EXPECT_EQ(RaisedStatus([&] { source.CopyBufferListTo(callers.abl); }), -1);
    source.Allocate(stereo, 64);
    AudioBufferList& prepared = source.PrepareBuffer(stereo, 32);
    struct {
        AudioBufferList abl;
        UInt32 guard[4];
    } single{};
    single.abl.mNumberBuffers = 1;
    std::memset(single.guard, 0xEE, sizeof(single.guard));
    source.CopyBufferListTo(single.abl);
    EXPECT_EQ(single.abl.mNumberBuffers, 1u);
    EXPECT_EQ(single.abl.mBuffers[0].mData, prepared.mBuffers[0].mData);
    EXPECT_EQ(single.abl.mBuffers[0].mDataByteSize, 128u);
    for (UInt32 g : single.guard) {
        EXPECT_EQ(g, 0xEEEEEEEEu);
    }
    callers.abl.mNumberBuffers = 2;
    source.CopyBufferListTo(callers.abl);
    EXPECT_EQ(callers.more[0].mData, prepared.mBuffers[1].mData);
    EXPECT_EQ(callers.more[1].mData, extra) << "the third entry is beyond the copy";
}

TEST(AUBufferList, CopyingAndZeroingContents) {
    AUBufferList source;
    const auto stereo = Float32(2, false);
    EXPECT_EQ(RaisedStatus([&] {
                  AudioBufferList none{0, {}};
                  source.CopyBufferContentsTo(none);
              }),
              -1);
    source.Allocate(stereo, 8);
    AudioBufferList& src = source.PrepareBuffer(stereo, 8);
    auto* l = static_cast<float*>(src.mBuffers[0].mData);
    auto* r = static_cast<float*>(src.mBuffers[1].mData);
    for (int i = 0; i < 8; ++i) {
        l[i] = float(i);
        r[i] = float(100 + i);
    }

    float a[8] = {};
    float b[8] = {};
    float c[8] = {};
    float shortDst[4] = {};
    struct {
        AudioBufferList abl;
        AudioBuffer more[3];
    } dst{};
    dst.abl.mNumberBuffers = 4;
    dst.abl.mBuffers[0] = {1, sizeof(a), a};
    dst.more[0] = {1, sizeof(b), b};
    dst.more[1] = {1, sizeof(c), c};
    dst.more[2] = {1, sizeof(shortDst), shortDst};
    source.CopyBufferContentsTo(dst.abl);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(a[i], float(i));
        EXPECT_EQ(b[i], float(100 + i));
        EXPECT_EQ(c[i], float(100 + i)) << "the last source feeds further buffers";
    }
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(shortDst[i], float(100 + i));
    }
    EXPECT_EQ(dst.abl.mBuffers[0].mDataByteSize, 32u);
    EXPECT_EQ(dst.more[1].mDataByteSize, 32u);
    EXPECT_EQ(dst.more[2].mDataByteSize, 16u) << "a smaller buffer is filled, not overrun";

    // The same memory on both sides only takes the size.
    AudioBufferList same{1, {{1, 4, src.mBuffers[0].mData}}};
    source.CopyBufferContentsTo(same);
    EXPECT_EQ(same.mBuffers[0].mDataByteSize, 32u);
    EXPECT_EQ(l[3], 3.0f);

    AUBufferList::ZeroBuffer(src);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(l[i], 0.0f);
        EXPECT_EQ(r[i], 0.0f);
    }
    AudioBufferList nulls{1, {{1, 64, nullptr}}};
    AUBufferList::ZeroBuffer(nulls);
}

} // namespace

namespace {

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
