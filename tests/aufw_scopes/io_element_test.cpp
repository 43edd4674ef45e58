// I/O elements: the default format, buffers that follow the format, the
// input type and the unit's life cycle, and pulling input from a host
// callback or from an upstream unit opened through the host runtime.
#include "FakeOwner.h"

#include <aufw/AUIOElement.h>

#include <CoreServices/CoreServices.h>

#include <gtest/gtest.h>
#include <rtcheck/rtcheck.h>

#include <cstdint>
#include <cstring>

namespace {

constexpr OSStatus kTooMany = kAudioUnitErr_TooManyFramesToProcess;

// The render path neither allocates nor locks; what the build can count is
// checked.
void ExpectRealTimeSafe(const rtcheck::Counts& counts) {
    if (rtcheck::countsAllocations()) {
        EXPECT_EQ(counts.allocations + counts.frees, 0) << "pulling input must not allocate";
    }
    if (rtcheck::countsLocks()) {
        EXPECT_EQ(counts.locks, 0) << "pulling input must not lock";
    }
}

// An upstream source: a host render callback, or the render method of a
// minimal unit registered with the host runtime and opened through its
// factory. It writes a known ramp into the caller's buffers, or points null
// ones at its own samples. As a unit it can offer a fast render procedure,
// as units opened through the Component Manager entry do.
struct Source {
    AudioComponentPlugInInterface plugIn; // first: the host passes its address
    bool fast = false;
    int renderCalls = 0, fastRenderCalls = 0;
    AudioUnitRenderActionFlags flags = 0;
    const AudioTimeStamp* timeStamp = nullptr;
    Float64 sampleTime = -1;
    UInt32 bus = 0, frames = 0;
    AudioBufferList* list = nullptr;
    OSStatus answer = noErr;
    AUInputElement* disconnectDuringCall = nullptr;
    float samples[2][2048] = {};
};
bool gNextSourceIsFast = false;
Source* gLastOpened = nullptr;

OSStatus SourceRender(void* self, AudioUnitRenderActionFlags* flags, const AudioTimeStamp* ts,
                      UInt32 bus, UInt32 frames, AudioBufferList* ioData) {
    Source& s = *static_cast<Source*>(self);
    ++s.renderCalls;
    s.flags = *flags;
    s.timeStamp = ts;
    s.sampleTime = ts->mSampleTime;
    s.bus = bus;
    s.frames = frames;
    s.list = ioData;
    for (UInt32 b = 0; b < ioData->mNumberBuffers && b < 2 && frames <= 2048; ++b) {
        for (UInt32 i = 0; i < frames; ++i) {
            s.samples[b][i] = static_cast<float>(b + i);
        }
        AudioBuffer& buffer = ioData->mBuffers[b];
        if (buffer.mData == nullptr) {
            buffer = {1, frames * UInt32(sizeof(float)), s.samples[b]};
        } else {
            std::memcpy(buffer.mData, s.samples[b], frames * sizeof(float));
        }
    }
    if (s.disconnectDuringCall != nullptr) {
        s.disconnectDuringCall->Disconnect();
    }
    return s.answer;
}

// Called with the instance storage, which the source's open set to itself.
OSStatus SourceFastRender(void* storage, AudioUnitRenderActionFlags* flags,
                          const AudioTimeStamp* ts, UInt32 bus, UInt32 frames,
                          AudioBufferList* ioData) {
    ++static_cast<Source*>(storage)->fastRenderCalls;
    return SourceRender(storage, flags, ts, bus, frames, ioData);
}

OSStatus SourceGetProperty(void* self, AudioUnitPropertyID id, AudioUnitScope scope,
                           AudioUnitElement element, void* out, UInt32* size) {
    if (id != kAudioUnitProperty_FastDispatch || scope != kAudioUnitScope_Global ||
        element != kAudioUnitRenderSelect || !static_cast<Source*>(self)->fast ||
        *size != sizeof(AudioUnitRenderProc)) {
        return kAudioUnitErr_InvalidProperty;
    }
    *static_cast<AudioUnitRenderProc*>(out) = &SourceFastRender;
    return noErr;
}

AudioComponentMethod SourceLookup(SInt16 selector) {
    if (selector == kAudioUnitGetPropertySelect) {
        return reinterpret_cast<AudioComponentMethod>(&SourceGetProperty);
    }
    return selector == kAudioUnitRenderSelect
               ? reinterpret_cast<AudioComponentMethod>(&SourceRender)
               : nullptr;
}

OSStatus SourceOpen(void* self, AudioComponentInstance instance) {
    SetComponentInstanceStorage(instance, reinterpret_cast<Handle>(self));
    gLastOpened = static_cast<Source*>(self);
    return noErr;
}

OSStatus SourceClose(void* self) {
    delete static_cast<Source*>(self);
    return noErr;
}

AudioComponentPlugInInterface* SourceFactory(const AudioComponentDescription*) {
    auto* source = new Source{{&SourceOpen, &SourceClose, &SourceLookup, nullptr}};
    source->fast = gNextSourceIsFast;
    return &source->plugIn;
}

AudioUnit OpenSource(bool fast) {
    static const AudioComponent component = [] {
        AudioComponentDescription desc{kAudioUnitType_Generator, 0x54737263 /* 'Tsrc' */,
                                       0x56787461 /* 'Vxta' */, 0, 0};
        return AudioComponentRegister(&desc, CFSTR("Vextra-Audio: Test Source"), 1, &SourceFactory);
    }();
    gNextSourceIsFast = fast;
    AudioComponentInstance instance = nullptr;
    EXPECT_EQ(AudioComponentInstanceNew(component, &instance), noErr);
    return instance;
}

} // namespace

TEST(AUIOElement, DefaultFormatAndBuffersThatFollowTheLifeCycleAndTheFormat) {
    FakeOwner owner;
    AUOutputElement output(&owner);
    const CAStreamBasicDescription expected(44100, kAudioFormatLinearPCM, 4, 1, 4, 2, 32, 0x29);
    EXPECT_EQ(std::memcmp(&output.GetStreamFormat(), &expected, sizeof expected), 0);
    EXPECT_TRUE(output.WillAllocateBuffer());
    // Nothing is allocated before the unit begins initializing.
    output.AllocateBuffer();
    EXPECT_EQ(RaisedStatus([&] { output.PrepareBuffer(1); }), kTooMany);
    owner.begunInitializing = true;
    output.AllocateBuffer();
    EXPECT_EQ(output.IOBuffer().GetAllocatedFrames(), 1156u);
    AudioBufferList& list = output.PrepareBuffer(512);
    ASSERT_EQ(list.mNumberBuffers, 2u);
    EXPECT_EQ(list.mBuffers[0].mDataByteSize, 2048u);
    EXPECT_EQ(&output.GetBufferList(), &list);
    EXPECT_EQ(output.GetChannelData(1), list.mBuffers[1].mData);
    EXPECT_EQ(output.GetChannelData(2), nullptr);
    // An explicit frame count wins over the unit's slice size.
    output.AllocateBuffer(64);
    EXPECT_EQ(RaisedStatus([&] { output.PrepareBuffer(65); }), kTooMany);

    // A new format is allocated at once: interleaved stereo in one buffer.
    CAStreamBasicDescription interleaved = output.GetStreamFormat();
    interleaved.ChangeNumberChannels(2, true);
    EXPECT_EQ(output.SetStreamFormat(interleaved), noErr);
    AudioBufferList& one = output.PrepareBuffer(1156);
    ASSERT_EQ(one.mNumberBuffers, 1u);
    EXPECT_EQ(one.mBuffers[0].mDataByteSize, 1156u * 8u);
    EXPECT_EQ(output.GetChannelData(1), static_cast<float*>(one.mBuffers[0].mData) + 1);
    output.DeallocateBuffer();
    EXPECT_EQ(output.IOBuffer().GetAllocatedBytes(), 0u);
}

TEST(AUInputElement, InputTypesAndPullingFromAHostCallback) {
    FakeOwner owner;
    AUInputElement input(&owner);
    AudioUnitRenderActionFlags flags = kAudioUnitRenderAction_PreRender;
    AudioTimeStamp ts{};
    FillOutAudioTimeStampWithSampleTime(ts, 4096);
    EXPECT_EQ(input.PullInput(flags, ts, 0, 512), kAudioUnitErr_NoConnection);
    EXPECT_EQ(input.IOBuffer().GetAllocatedStreams(), 0u);
    EXPECT_FALSE(input.NeedsBufferSpace());

    Source probe;
    input.SetInputCallback(&SourceRender, &probe);
    EXPECT_TRUE(input.IsCallback());
    EXPECT_TRUE(input.NeedsBufferSpace());
    EXPECT_EQ(input.GetInputProcRefCon(), &probe);
    // Before initialization there is no memory to pull into; the buffer's
    // error comes through and the callback is not called.
    EXPECT_EQ(RaisedStatus([&] { input.PullInput(flags, ts, 3, 256); }), kTooMany);
    EXPECT_EQ(probe.renderCalls, 0);

    owner.begunInitializing = true;
    input.SetInputCallback(&SourceRender, &probe);
    EXPECT_EQ(input.IOBuffer().GetAllocatedBytes(), 9248u);
    probe.answer = 1234;
    rtcheck::Scope counting;
    EXPECT_EQ(input.PullInput(flags, ts, 3, 256), 1234);
    ExpectRealTimeSafe(counting.counts());
    EXPECT_EQ(probe.renderCalls, 1);
    EXPECT_EQ(probe.flags, static_cast<UInt32>(kAudioUnitRenderAction_PreRender));
    EXPECT_EQ(probe.timeStamp, &ts);
    EXPECT_EQ(probe.bus, 3u);
    EXPECT_EQ(probe.frames, 256u);
    ASSERT_EQ(probe.list, &input.GetBufferList());
    ASSERT_EQ(probe.list->mNumberBuffers, 2u);
    for (const AudioBuffer& buffer : {probe.list->mBuffers[0], probe.list->mBuffers[1]}) {
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(buffer.mData) % 16, 0u);
        EXPECT_EQ(buffer.mDataByteSize, 1024u);
    }
    EXPECT_EQ(input.GetChannelData(0)[255], 255.0f);
    EXPECT_EQ(input.GetChannelData(1)[0], 1.0f);
    // More frames than the unit's slice: raised before the callback runs.
    EXPECT_EQ(RaisedStatus([&] { input.PullInput(flags, ts, 3, 1157); }), kTooMany);
    EXPECT_EQ(probe.renderCalls, 1);

    // Format changes re-size the buffer of an active input.
    CAStreamBasicDescription mono = input.GetStreamFormat();
    mono.ChangeNumberChannels(1, false);
    EXPECT_EQ(input.SetStreamFormat(mono), noErr);
    EXPECT_EQ(input.PrepareBuffer(1156).mNumberBuffers, 1u);
    // Leaving for no input releases the memory.
    input.SetInputCallback(nullptr, &probe);
    EXPECT_FALSE(input.IsActive());
    EXPECT_EQ(input.IOBuffer().GetAllocatedBytes(), 0u);

    // A source that goes away during the pull leaves no input.
    input.SetInputCallback(&SourceRender, &probe);
    probe.answer = noErr;
    probe.disconnectDuringCall = &input;
    EXPECT_EQ(input.PullInput(flags, ts, 3, 16), kAudioUnitErr_NoConnection);
    EXPECT_EQ(input.GetInputType(), AUInputElement::kNoInput);
    EXPECT_EQ(input.IOBuffer().GetAllocatedBytes(), 0u);
    EXPECT_EQ(input.PullInput(flags, ts, 3, 16), kAudioUnitErr_NoConnection);
    EXPECT_EQ(probe.renderCalls, 2);

    // When the host supplies the memory the callback gets null pointers
    // (which this one points at its own samples).
    probe.disconnectDuringCall = nullptr;
    input.SetWillAllocateBuffer(false);
    input.SetInputCallback(&SourceRender, &probe);
    EXPECT_EQ(input.PullInput(flags, ts, 0, 1157), noErr);
    EXPECT_EQ(probe.list->mBuffers[0].mData, probe.samples[0]);
    EXPECT_EQ(probe.list->mBuffers[0].mDataByteSize, 1157u * 4u);
}

TEST(AUInputElement, PullInputFromAnUpstreamUnit) {
    FakeOwner owner;
    owner.begunInitializing = true;
    AudioUnitRenderActionFlags flags = 0;
    AudioTimeStamp ts{};
    FillOutAudioTimeStampWithSampleTime(ts, 512);

    for (const bool fast : {false, true}) {
        SCOPED_TRACE(fast ? "fast render procedure" : "AudioUnitRender");
        AudioUnit unit = OpenSource(fast);
        ASSERT_NE(unit, nullptr);
        Source& source = *gLastOpened;
        AUInputElement input(&owner);
        input.SetConnection(AudioUnitConnection{unit, 2, 0});
        EXPECT_TRUE(input.HasConnection());
        EXPECT_EQ(input.GetConnection().sourceOutputNumber, 2u);
        EXPECT_EQ(input.GetConnectionRenderProc() != nullptr, fast);
        // The source renders into its own memory: only headers here.
        EXPECT_EQ(input.IOBuffer().GetAllocatedBytes(), 0u);

        rtcheck::Scope counting;
        EXPECT_EQ(input.PullInput(flags, ts, 0, 128), noErr);
        ExpectRealTimeSafe(counting.counts());
        EXPECT_EQ(source.renderCalls, 1);
        EXPECT_EQ(source.fastRenderCalls, fast ? 1 : 0);
        EXPECT_EQ(source.bus, 2u);
        EXPECT_EQ(source.frames, 128u);
        EXPECT_EQ(source.sampleTime, 512.0);
        // The element's list now points at the source's samples.
        EXPECT_EQ(input.GetBufferList().mBuffers[1].mData, source.samples[1]);
        EXPECT_EQ(input.GetChannelData(1)[127], 1.0f + 127.0f);

        // The source's failure is the pull's result.
        source.answer = -50;
        EXPECT_EQ(input.PullInput(flags, ts, 0, 128), -50);
        // A connection without a source unit disconnects.
        input.SetConnection(AudioUnitConnection{nullptr, 0, 0});
        EXPECT_FALSE(input.IsActive());
        EXPECT_EQ(input.PullInput(flags, ts, 0, 128), kAudioUnitErr_NoConnection);
        EXPECT_EQ(source.renderCalls, 2);
        AudioComponentInstanceDispose(unit);
    }
}
