// I/O elements: the default format, buffers that follow the format, the
// input type and the unit's life cycle, and pulling input from a host
// callback or from an upstream unit opened through the host runtime.
#include "FakeOwner.h"
#include "FakeSourceUnit.h"

#include <aufw/AUIOElement.h>

#include <gtest/gtest.h>
#include <rtcheck/rtcheck.h>

#include <cstdint>
#include <cstring>

namespace {

AudioTimeStamp TimeStamp(Float64 sampleTime) {
    AudioTimeStamp ts{};
    FillOutAudioTimeStampWithSampleTime(ts, sampleTime);
    return ts;
}

// The render path neither allocates nor locks; what the build can count is
// checked.
void ExpectRealTimeSafe(const rtcheck::Counts& counts) {
    if (rtcheck::countsAllocations()) {
        EXPECT_EQ(counts.allocations, 0) << "pulling input must not allocate";
        EXPECT_EQ(counts.frees, 0) << "pulling input must not free";
    }
    if (rtcheck::countsLocks()) {
        EXPECT_EQ(counts.locks, 0) << "pulling input must not lock";
    }
}

bool Aligned16(const void* p) {
    return (reinterpret_cast<std::uintptr_t>(p) & 15) == 0;
}

// What a host render callback saw, and what it answers.
struct CallbackProbe {
    int calls = 0;
    AudioUnitRenderActionFlags flags = 0;
    const AudioTimeStamp* timeStamp = nullptr;
    UInt32 bus = 0;
    UInt32 frames = 0;
    AudioBufferList* list = nullptr;
    OSStatus answer = noErr;
    AUInputElement* disconnectDuringCall = nullptr;
    float fill = 0.0f;
};

OSStatus ProbeCallback(void* refCon, AudioUnitRenderActionFlags* ioActionFlags,
                       const AudioTimeStamp* inTimeStamp, UInt32 inBusNumber, UInt32 inNumberFrames,
                       AudioBufferList* ioData) {
    auto* probe = static_cast<CallbackProbe*>(refCon);
    ++probe->calls;
    probe->flags = *ioActionFlags;
    probe->timeStamp = inTimeStamp;
    probe->bus = inBusNumber;
    probe->frames = inNumberFrames;
    probe->list = ioData;
    for (UInt32 b = 0; b < ioData->mNumberBuffers; ++b) {
        if (auto* samples = static_cast<float*>(ioData->mBuffers[b].mData)) {
            for (UInt32 i = 0; i < inNumberFrames; ++i) {
                samples[i] = probe->fill + static_cast<float>(b);
            }
        }
    }
    if (probe->disconnectDuringCall != nullptr) {
        probe->disconnectDuringCall->Disconnect();
    }
    return probe->answer;
}

} // namespace

TEST(AUIOElement, DefaultFormatIsStereoNonInterleavedFloat) {
    FakeOwner owner;
    AUOutputElement element(&owner);
    const CAStreamBasicDescription expected(44100, kAudioFormatLinearPCM, 4, 1, 4, 2, 32, 0x29);
    EXPECT_EQ(std::memcmp(&element.GetStreamFormat(), &expected, sizeof expected), 0);
    EXPECT_TRUE(element.WillAllocateBuffer());
    EXPECT_EQ(element.AsIOElement(), &element);

    // No channel layouts unless a subclass supports them.
    Boolean writable = true;
    EXPECT_EQ(element.GetChannelLayoutTags(nullptr), 0u);
    EXPECT_EQ(element.GetAudioChannelLayout(nullptr, writable), 0u);
    EXPECT_FALSE(writable);
    AudioChannelLayout layout{};
    EXPECT_EQ(element.SetAudioChannelLayout(layout), kAudioUnitErr_InvalidProperty);
    EXPECT_EQ(element.RemoveAudioChannelLayout(), kAudioUnitErr_InvalidPropertyValue);
}

TEST(AUIOElement, BuffersFollowTheLifeCycleAndTheFormat) {
    FakeOwner owner;
    AUOutputElement output(&owner);
    // Nothing is allocated before the unit begins initializing.
    output.AllocateBuffer();
    EXPECT_EQ(output.IOBuffer().GetAllocatedBytes(), 0u);
    EXPECT_EQ(RaisedStatus([&] { output.PrepareBuffer(1); }), kAudioUnitErr_TooManyFramesToProcess);

    owner.begunInitializing = true;
    output.AllocateBuffer();
    EXPECT_EQ(output.IOBuffer().GetAllocatedFrames(), 1156u);
    AudioBufferList& list = output.PrepareBuffer(512);
    ASSERT_EQ(list.mNumberBuffers, 2u);
    EXPECT_EQ(list.mBuffers[0].mDataByteSize, 2048u);
    EXPECT_EQ(static_cast<Byte*>(list.mBuffers[1].mData) -
                  static_cast<Byte*>(list.mBuffers[0].mData),
              4624);
    EXPECT_EQ(&output.GetBufferList(), &list);
    EXPECT_EQ(output.GetChannelData(1), list.mBuffers[1].mData);
    EXPECT_EQ(output.GetChannelData(2), nullptr);

    // An explicit frame count wins over the unit's slice size.
    output.AllocateBuffer(64);
    EXPECT_EQ(RaisedStatus([&] { output.PrepareBuffer(65); }),
              kAudioUnitErr_TooManyFramesToProcess);

    // A new format is allocated at once: interleaved stereo in one buffer.
    CAStreamBasicDescription interleaved = output.GetStreamFormat();
    interleaved.ChangeNumberChannels(2, true);
    EXPECT_EQ(output.SetStreamFormat(interleaved), noErr);
    EXPECT_EQ(output.GetStreamFormat().mBytesPerFrame, 8u);
    AudioBufferList& one = output.PrepareBuffer(1156);
    ASSERT_EQ(one.mNumberBuffers, 1u);
    EXPECT_EQ(one.mBuffers[0].mNumberChannels, 2u);
    EXPECT_EQ(one.mBuffers[0].mDataByteSize, 1156u * 8u);
    EXPECT_EQ(output.GetChannelData(1), static_cast<float*>(one.mBuffers[0].mData) + 1);

    // When the host supplies the memory only the stream headers are sized.
    // (The host says so before the unit initializes; memory never shrinks.)
    FakeOwner hostOwner;
    AUOutputElement hostMemory(&hostOwner);
    hostMemory.SetWillAllocateBuffer(false);
    hostOwner.begunInitializing = true;
    hostMemory.AllocateBuffer();
    EXPECT_EQ(hostMemory.IOBuffer().GetAllocatedBytes(), 0u);
    EXPECT_EQ(RaisedStatus([&] { hostMemory.PrepareBuffer(1); }),
              kAudioUnitErr_TooManyFramesToProcess);
    EXPECT_EQ(hostMemory.PrepareNullBuffer(256).mBuffers[1].mData, nullptr);

    // Deallocating forgets the memory.
    output.DeallocateBuffer();
    EXPECT_EQ(output.IOBuffer().GetAllocatedBytes(), 0u);
}

TEST(AUInputElement, InputTypesAndTheirBuffers) {
    FakeOwner owner;
    owner.begunInitializing = true;
    AUInputElement input(&owner);
    EXPECT_FALSE(input.IsActive());
    EXPECT_FALSE(input.NeedsBufferSpace());

    CallbackProbe probe;
    input.SetInputCallback(&ProbeCallback, &probe);
    EXPECT_TRUE(input.IsActive());
    EXPECT_TRUE(input.IsCallback());
    EXPECT_FALSE(input.HasConnection());
    EXPECT_TRUE(input.NeedsBufferSpace());
    EXPECT_EQ(input.GetInputProc(), &ProbeCallback);
    EXPECT_EQ(input.GetInputProcRefCon(), &probe);
    EXPECT_EQ(input.IOBuffer().GetAllocatedFrames(), 1156u);
    EXPECT_EQ(input.IOBuffer().GetAllocatedBytes(), 9248u);

    // Leaving for no input releases the memory.
    input.SetInputCallback(nullptr, &probe);
    EXPECT_FALSE(input.IsActive());
    EXPECT_EQ(input.IOBuffer().GetAllocatedBytes(), 0u);

    input.SetInputCallback(&ProbeCallback, &probe);
    input.Disconnect();
    EXPECT_EQ(input.GetInputType(), AUInputElement::kNoInput);
    EXPECT_EQ(input.IOBuffer().GetAllocatedBytes(), 0u);

    // Format changes re-size the buffer of an active input.
    input.SetInputCallback(&ProbeCallback, &probe);
    CAStreamBasicDescription mono = input.GetStreamFormat();
    mono.ChangeNumberChannels(1, false);
    EXPECT_EQ(input.SetStreamFormat(mono), noErr);
    EXPECT_EQ(input.PrepareBuffer(1156).mNumberBuffers, 1u);
}

TEST(AUInputElement, PullInputWithoutASourceTouchesNothing) {
    FakeOwner owner;
    owner.begunInitializing = true;
    AUInputElement input(&owner);
    AudioUnitRenderActionFlags flags = 0;
    const AudioTimeStamp ts = TimeStamp(0);
    EXPECT_EQ(input.PullInput(flags, ts, 0, 512), kAudioUnitErr_NoConnection);
    EXPECT_EQ(input.IOBuffer().GetPtrState(), static_cast<UInt32>(AUBufferList::kPtrsInvalid));
    EXPECT_EQ(input.IOBuffer().GetAllocatedStreams(), 0u);
}

TEST(AUInputElement, PullInputFromAHostCallback) {
    FakeOwner owner;
    AUInputElement input(&owner);
    CallbackProbe probe;
    probe.fill = 0.5f;
    input.SetInputCallback(&ProbeCallback, &probe);

    AudioUnitRenderActionFlags flags = kAudioUnitRenderAction_PreRender;
    const AudioTimeStamp ts = TimeStamp(4096);
    // Before initialization there is no memory to pull into; the buffer's
    // error comes through and the callback is not called.
    EXPECT_EQ(RaisedStatus([&] { input.PullInput(flags, ts, 3, 256); }),
              kAudioUnitErr_TooManyFramesToProcess);
    EXPECT_EQ(probe.calls, 0);

    owner.begunInitializing = true;
    input.AllocateBuffer();
    probe.answer = 1234;
    rtcheck::Scope counting;
    const OSStatus status = input.PullInput(flags, ts, 3, 256);
    ExpectRealTimeSafe(counting.counts());
    EXPECT_EQ(status, 1234);
    EXPECT_EQ(probe.calls, 1);
    EXPECT_EQ(probe.flags, static_cast<UInt32>(kAudioUnitRenderAction_PreRender));
    EXPECT_EQ(probe.timeStamp, &ts);
    EXPECT_EQ(probe.bus, 3u);
    EXPECT_EQ(probe.frames, 256u);
    ASSERT_EQ(probe.list, &input.GetBufferList());
    ASSERT_EQ(probe.list->mNumberBuffers, 2u);
    EXPECT_TRUE(Aligned16(probe.list->mBuffers[0].mData));
    EXPECT_TRUE(Aligned16(probe.list->mBuffers[1].mData));
    EXPECT_EQ(probe.list->mBuffers[0].mDataByteSize, 1024u);
    EXPECT_EQ(input.GetChannelData(0)[255], 0.5f);
    EXPECT_EQ(input.GetChannelData(1)[0], 1.5f);

    // More frames than the unit's slice: raised before the callback runs.
    EXPECT_EQ(RaisedStatus([&] { input.PullInput(flags, ts, 3, 1157); }),
              kAudioUnitErr_TooManyFramesToProcess);
    EXPECT_EQ(probe.calls, 1);

    // A source that goes away during the pull leaves no input.
    probe.answer = noErr;
    probe.disconnectDuringCall = &input;
    EXPECT_EQ(input.PullInput(flags, ts, 3, 16), kAudioUnitErr_NoConnection);
    EXPECT_EQ(probe.calls, 2);
    EXPECT_EQ(input.PullInput(flags, ts, 3, 16), kAudioUnitErr_NoConnection);
    EXPECT_EQ(probe.calls, 2);

    // When the host supplies the memory the callback gets null pointers.
    probe.disconnectDuringCall = nullptr;
    input.SetWillAllocateBuffer(false);
    input.SetInputCallback(&ProbeCallback, &probe);
    EXPECT_EQ(input.PullInput(flags, ts, 0, 1157), noErr);
    EXPECT_EQ(probe.list->mBuffers[0].mData, nullptr);
    EXPECT_EQ(probe.list->mBuffers[0].mDataByteSize, 1157u * 4u);
}

TEST(AUInputElement, PullInputFromAnUpstreamUnit) {
    FakeOwner owner;
    owner.begunInitializing = true;
    AudioUnitRenderActionFlags flags = 0;
    const AudioTimeStamp ts = TimeStamp(512);

    for (const bool fast : {false, true}) {
        SCOPED_TRACE(fast ? "fast render procedure" : "AudioUnitRender");
        FakeSourceUnit source(fast);
        ASSERT_NE(source.Unit(), nullptr);

        AUInputElement input(&owner);
        AudioUnitConnection connection{source.Unit(), 2, 0};
        input.SetConnection(connection);
        EXPECT_TRUE(input.HasConnection());
        EXPECT_FALSE(input.NeedsBufferSpace());
        EXPECT_EQ(input.GetConnection().sourceOutputNumber, 2u);
        EXPECT_EQ(input.GetConnectionRenderProc() != nullptr, fast);
        // The source renders into its own memory: only headers here.
        EXPECT_EQ(input.IOBuffer().GetAllocatedBytes(), 0u);

        rtcheck::Scope counting;
        EXPECT_EQ(input.PullInput(flags, ts, 0, 128), noErr);
        ExpectRealTimeSafe(counting.counts());
        const FakeSourceUnit::State& state = source.GetState();
        EXPECT_EQ(state.renderCalls, 1);
        EXPECT_EQ(state.fastRenderCalls, fast ? 1 : 0);
        EXPECT_EQ(state.lastBus, 2u);
        EXPECT_EQ(state.lastFrames, 128u);
        EXPECT_EQ(state.lastSampleTime, 512.0);
        // The element's list now points at the source's samples.
        const AudioBufferList& list = input.GetBufferList();
        ASSERT_EQ(list.mNumberBuffers, 2u);
        EXPECT_EQ(list.mBuffers[1].mData, state.samples[1]);
        EXPECT_EQ(input.GetChannelData(1)[127], 1.0f + 127.0f);

        // The source's failure is the pull's result.
        source.SetRenderAnswer(-50);
        EXPECT_EQ(input.PullInput(flags, ts, 0, 128), -50);

        // A connection without a source unit disconnects.
        input.SetConnection(AudioUnitConnection{nullptr, 0, 0});
        EXPECT_FALSE(input.IsActive());
        EXPECT_EQ(input.PullInput(flags, ts, 0, 128), kAudioUnitErr_NoConnection);
        EXPECT_EQ(source.GetState().renderCalls, 2);
    }
}
