// Buffer-list arithmetic, the three memory sources and the failure paths.
#include "aufw/AUBufferList.h"

#include <AudioUnit/AUComponent.h>

#include <rtcheck/rtcheck.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <tuple>
#include <vector>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr OSStatus kBadAlloc = -108; // what RaisedStatus answers for std::bad_alloc
constexpr OSStatus kTooMany = kAudioUnitErr_TooManyFramesToProcess;
constexpr OSStatus kFormat = kAudioUnitErr_FormatNotSupported;
constexpr UInt32 kInvalid = AUBufferList::kPtrsInvalid, kMine = AUBufferList::kPtrsToMyMemory,
                 kExternal = AUBufferList::kPtrsToExternalMemory;

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

// What was allocated, in one value: streams, frames, bytes, and the memory.
using Allocation = std::tuple<UInt32, UInt32, UInt32, const void*>;
Allocation Allocated(const AUBufferList& l) {
    return {l.GetAllocatedStreams(), l.GetAllocatedFrames(), l.GetAllocatedBytes(), l.GetMemory()};
}

// One entry of a list: channels, byte size and data.
using Entry = std::tuple<UInt32, UInt32, const void*>;
Entry EntryOf(const AudioBuffer& b) {
    return {b.mNumberChannels, b.mDataByteSize, b.mData};
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
        UInt32 allocated, prepared, streams, bytes, stride, byteSize, channelsPerBuffer;
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
        const Byte* memory = list.GetMemory();
        EXPECT_EQ(Allocated(list), Allocation(c.streams, c.allocated, c.bytes, memory));
        EXPECT_EQ(list.GetPtrState(), kInvalid);
        EXPECT_EQ(RaisedStatus([&] { list.GetBufferList(); }), -1);

        AudioBufferList& abl = list.PrepareBuffer(format, c.prepared);
        EXPECT_EQ(std::tuple(list.GetPtrState(), &list.GetBufferList()), std::tuple(kMine, &abl));
        ASSERT_EQ(abl.mNumberBuffers, c.streams);
        for (UInt32 i = 0; i < c.streams; ++i) {
            EXPECT_EQ(EntryOf(abl.mBuffers[i]),
                      Entry(c.channelsPerBuffer, c.byteSize, memory + c.stride * i));
            std::memset(abl.mBuffers[i].mData, 0x5A, c.stride); // the whole stride is usable
        }
        EXPECT_NO_THROW(list.PrepareBuffer(format, c.allocated));
    }
}

TEST(AUBufferList, RejectionsReallocationAndRelease) {
    AUBufferList list;
    const auto stereo = Float32(2, false), three = Float32(3, false);
    list.Allocate(stereo, 1156);
    AudioBufferList& abl = list.PrepareBuffer(stereo, 512);
    const Entry first = EntryOf(abl.mBuffers[0]);
    EXPECT_EQ(std::get<1>(first), 2048u);
    // A wider sample than the memory was sized for fails the final check.
    CAStreamBasicDescription wide = stereo;
    wide.mBytesPerFrame = wide.mBytesPerPacket = 8;

    EXPECT_EQ(RaisedStatus([&] { list.PrepareBuffer(stereo, 1157); }), kTooMany);
    EXPECT_EQ(RaisedStatus([&] { list.PrepareBuffer(three, 100); }), kFormat);
    EXPECT_EQ(RaisedStatus([&] { list.PrepareNullBuffer(three, 100); }), kFormat);
    EXPECT_EQ(RaisedStatus([&] { list.PrepareBuffer(wide, 16); }), kTooMany);
    // Nothing refused changed the prepared list.
    EXPECT_EQ(std::tuple(abl.mNumberBuffers, EntryOf(abl.mBuffers[0]), list.GetPtrState()),
              std::tuple(2u, first, kMine));

    // The null list needs no memory, so any frame count goes.
    AudioBufferList& null = list.PrepareNullBuffer(stereo, 1157);
    EXPECT_EQ(std::tuple(list.GetPtrState(), null.mNumberBuffers, EntryOf(null.mBuffers[0]),
                         EntryOf(null.mBuffers[1])),
              std::tuple(kExternal, 2u, Entry(1, 1157 * 4, nullptr), Entry(1, 1157 * 4, nullptr)));

    // Memory never shrinks, and the list block outlives Deallocate.
    const Byte* memory = list.GetMemory();
    list.Allocate(stereo, 100);
    EXPECT_EQ(Allocated(list), Allocation(2, 100, 9248, memory));
    EXPECT_EQ(RaisedStatus([&] { list.PrepareBuffer(stereo, 101); }), kTooMany);
    EXPECT_EQ(list.PrepareBuffer(stereo, 100).mBuffers[1].mDataByteSize, 400u);
    list.Deallocate();
    EXPECT_EQ(Allocated(list), Allocation(0, 0, 0, nullptr));
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
    EXPECT_EQ(Allocated(empty), Allocation(2, 0, 0, nullptr));
    EXPECT_EQ(empty.PrepareBuffer(stereo, 0).mBuffers[1].mData, nullptr);
}

TEST(AUBufferList, HostBlocksAreTakenWhenLargeEnoughAndNeverFreed) {
    AUBufferList list;
    const auto stereo = Float32(2, false);
    void* raw = nullptr;
    ASSERT_EQ(posix_memalign(&raw, 16, 10000), 0);
    Byte* host = static_cast<Byte*>(raw);
    auto offer = [&](UInt32 size) { list.UseExternalBuffer(stereo, {host, size}); };

    // An element that needs no memory does not take the host's either.
    list.Allocate(stereo, 0);
    offer(10000);
    EXPECT_EQ(std::tuple(list.BufferIsExternal(), Allocated(list)),
              std::tuple(false, Allocation(2, 0, 0, nullptr)));

    list.Allocate(stereo, 1156);
    const Byte* own = list.GetMemory();
    offer(9000); // too small
    EXPECT_EQ(std::tuple(list.BufferIsExternal(), Allocated(list)),
              std::tuple(false, Allocation(2, 1156, 9248, own)));
    offer(9248); // as large as the own
    EXPECT_EQ(std::tuple(list.BufferIsExternal(), list.GetMemory()), std::tuple(true, host));
    offer(10000);
    EXPECT_EQ(Allocated(list), Allocation(2, 1248, 9984, host));
    AudioBufferList& abl = list.PrepareBuffer(stereo, 1248);
    EXPECT_EQ(std::tuple(EntryOf(abl.mBuffers[0]), EntryOf(abl.mBuffers[1])),
              std::tuple(Entry(1, 4992, host), Entry(1, 4992, host + 4992)));
    EXPECT_EQ(RaisedStatus([&] { list.PrepareBuffer(stereo, 1249); }), kTooMany);

    // Deallocate forgets the host's block without freeing it: it stays ours
    // to write and free (an address sanitizer run would report otherwise).
    list.Deallocate();
    EXPECT_EQ(std::tuple(list.BufferIsExternal(), list.GetMemory()), std::tuple(false, nullptr));
    std::memset(host, 0x33, 10000);

    // Growing within the host's block keeps it; past it takes fresh memory.
    list.Allocate(stereo, 1156);
    offer(10000);
    list.Allocate(stereo, 1000);
    EXPECT_EQ(list.GetMemory(), host);
    list.Allocate(stereo, 2000);
    EXPECT_FALSE(list.BufferIsExternal());
    EXPECT_NE(list.GetMemory(), host);
    EXPECT_EQ(list.GetAllocatedBytes(), 16000u);
    AudioBufferList& grown = list.PrepareBuffer(stereo, 2000);
    std::memset(grown.mBuffers[0].mData, 0, 8000);
    std::memset(grown.mBuffers[1].mData, 0, 8000);
    EXPECT_EQ(std::vector<Byte>(host, host + 10000), std::vector<Byte>(10000, 0x33))
        << "the host's block was written";
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
    EXPECT_EQ(Allocated(list), Allocation(1, 16, bytes, memory));
    // The list block itself would wrap.
    EXPECT_EQ(RaisedStatus([&] { list.Allocate(Float32(0x10000000, false), 1); }), kBadAlloc);
    EXPECT_EQ(list.GetAllocatedStreams(), 1u);
    // streams x bytes per stream would wrap; the grown list block stays.
    EXPECT_EQ(RaisedStatus([&] { list.Allocate(Float32(0x1000, false), 0x40000); }), kBadAlloc);
    EXPECT_EQ(Allocated(list), Allocation(0x1000, 16, bytes, memory));
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
    EXPECT_EQ(list.GetPtrState(), kInvalid);
    callers.count = 2;
    list.SetBufferList(*callers);
    const AudioBufferList& set = list.GetBufferList();
    EXPECT_EQ(std::tuple(list.GetPtrState(), set.mBuffers[0].mData, set.mBuffers[1].mData),
              std::tuple(kExternal, left, right));

    // Copying the list hands out this list's pointers, within the caller's room.
    AudioBufferList& prepared = list.PrepareBuffer(stereo, 32);
    ListOf<2> single{1, {}};
    list.CopyBufferListTo(*single);
    EXPECT_EQ(std::tuple(single.count, EntryOf(single.buffers[0]), single.buffers[1].mData),
              std::tuple(1u, Entry(1, 128, prepared.mBuffers[0].mData), nullptr))
        << "nothing may be written past the caller's room";
    list.CopyBufferListTo(*callers);
    EXPECT_EQ(callers.buffers[1].mData, prepared.mBuffers[1].mData);
    EXPECT_EQ(callers.buffers[2].mData, extra) << "the third entry is beyond the copy";

    AudioBufferList& src = list.PrepareBuffer(stereo, 8);
    auto* l = static_cast<float*>(src.mBuffers[0].mData);
    auto* r = static_cast<float*>(src.mBuffers[1].mData);
    const std::vector<float> ramp{0, 1, 2, 3, 4, 5, 6, 7},
        right8{100, 101, 102, 103, 104, 105, 106, 107};
    std::memcpy(l, ramp.data(), 32);
    std::memcpy(r, right8.data(), 32);
    float a[8] = {}, b[8] = {}, c[8] = {}, shortDst[4] = {};
    ListOf<4> dst{4, {{1, sizeof(a), a}, {1, sizeof(b), b}, {1, sizeof(c), c}, {1, 16, shortDst}}};
    list.CopyBufferContentsTo(*dst);
    EXPECT_EQ(std::vector(a, a + 8), ramp);
    EXPECT_EQ(std::vector(b, b + 8), right8);
    EXPECT_EQ(std::vector(c, c + 8), right8) << "the last source feeds further buffers";
    // A smaller buffer is filled, not overrun.
    EXPECT_EQ(std::vector(shortDst, shortDst + 4), std::vector(right8.begin(), right8.begin() + 4));
    EXPECT_EQ(std::tuple(dst.buffers[0].mDataByteSize, dst.buffers[2].mDataByteSize,
                         dst.buffers[3].mDataByteSize),
              std::tuple(32u, 32u, 16u));

    // The same memory on both sides only takes the size.
    AudioBufferList same{1, {{1, 4, src.mBuffers[0].mData}}};
    list.CopyBufferContentsTo(same);
    EXPECT_EQ(std::tuple(same.mBuffers[0].mDataByteSize, l[3]), std::tuple(32u, 3.0f));

    AUBufferList::ZeroBuffer(src);
    EXPECT_EQ(std::vector(l, l + 8), std::vector<float>(8, 0.0f));
    EXPECT_EQ(std::vector(r, r + 8), std::vector<float>(8, 0.0f));
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
