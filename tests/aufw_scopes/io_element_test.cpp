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
#include <tuple>

namespace {

constexpr OSStatus kTooMany = kAudioUnitErr_TooManyFramesToProcess;

// The render path neither allocates nor locks; what the build can count is
// checked.
void ExpectRealTimeSafe(const rtcheck::Counts& c) {
    EXPECT_TRUE(!rtcheck::countsAllocations() || c.allocations + c.frees == 0)
        << "pulling input must not allocate";
    EXPECT_TRUE(!rtcheck::countsLocks() || c.locks == 0) << "pulling input must not lock";
}

// What a source was last asked for: flags, sample time, bus, frames, list.
using Call = std::tuple<UInt32, Float64, UInt32, UInt32, AudioBufferList*>;

// An upstream source: a host render callback, or the render method of a
// minimal unit registered with the host runtime and opened through its
// factory. It writes a known ramp into the caller's buffers, or points null
// ones at its own samples. As a unit it can offer a fast render procedure,
// as units opened through the Component Manager entry do.
struct Source {
    AudioComponentPlugInInterface plugIn; // first: the host passes its address
    bool fast = false;
    int renderCalls = 0, fastRenderCalls = 0;
    Call call{};
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
    s.call = {*flags, ts->mSampleTime, bus, frames, ioData};
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

OSStatus SourceGetProperty(void* self, AudioUnitPropertyID id, AudioUnitScope scope,
                           AudioUnitElement element, void* out, UInt32* size) {
    if (id != kAudioUnitProperty_FastDispatch || scope != kAudioUnitScope_Global ||
        element != kAudioUnitRenderSelect || !static_cast<Source*>(self)->fast ||
        *size != sizeof(AudioUnitRenderProc)) {
        return kAudioUnitErr_InvalidProperty;
    }
    // Called with the instance storage, which the source's open set to itself.
    *static_cast<AudioUnitRenderProc*>(out) = [](void* storage, AudioUnitRenderActionFlags* flags,
                                                 const AudioTimeStamp* ts, UInt32 bus,
                                                 UInt32 frames, AudioBufferList* ioData) {
        ++static_cast<Source*>(storage)->fastRenderCalls;
        return SourceRender(storage, flags, ts, bus, frames, ioData);
    };
    return noErr;
}

AudioComponentMethod SourceLookup(SInt16 selector) {
    return selector == kAudioUnitGetPropertySelect
               ? reinterpret_cast<AudioComponentMethod>(&SourceGetProperty)
           : selector == kAudioUnitRenderSelect
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
    // Nothing is allocated before the unit begins initializing.
    output.AllocateBuffer();
    EXPECT_EQ(RaisedStatus([&] { output.PrepareBuffer(1); }), kTooMany);
    owner.begunInitializing = true;
    output.AllocateBuffer();
    EXPECT_EQ(output.IOBuffer().GetAllocatedFrames(), 1156u);
    AudioBufferList& list = output.PrepareBuffer(512);
    EXPECT_EQ(std::tuple(&output.GetBufferList(), list.mNumberBuffers,
                         list.mBuffers[0].mDataByteSize, output.GetChannelData(1),
                         output.GetChannelData(2)),
              std::tuple(&list, 2u, 2048u, list.mBuffers[1].mData, nullptr));
    // An explicit frame count wins over the unit's slice size.
    output.AllocateBuffer(64);
    EXPECT_EQ(RaisedStatus([&] { output.PrepareBuffer(65); }), kTooMany);

    // A new format is allocated at once: interleaved stereo in one buffer.
    CAStreamBasicDescription interleaved = output.GetStreamFormat();
    interleaved.ChangeNumberChannels(2, true);
    EXPECT_EQ(output.SetStreamFormat(interleaved), noErr);
    AudioBufferList& one = output.PrepareBuffer(1156);
    auto* samples = static_cast<float*>(one.mBuffers[0].mData);
    EXPECT_EQ(std::tuple(one.mNumberBuffers, one.mBuffers[0].mDataByteSize,
                         output.GetChannelData(1), output.GetChannelData(2)),
              std::tuple(1u, 1156u * 8u, samples + 1, nullptr));
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
    EXPECT_EQ(std::tuple(input.IsCallback(), input.NeedsBufferSpace(), input.GetInputProcRefCon()),
              std::tuple(true, true, &probe));
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
    EXPECT_EQ(probe.call,
              Call(kAudioUnitRenderAction_PreRender, 4096, 3, 256, &input.GetBufferList()));
    const AudioBufferList& pulled = input.GetBufferList();
    ASSERT_EQ(pulled.mNumberBuffers, 2u);
    for (const AudioBuffer& buffer : {pulled.mBuffers[0], pulled.mBuffers[1]}) {
        EXPECT_EQ(
            std::tuple(reinterpret_cast<std::uintptr_t>(buffer.mData) % 16, buffer.mDataByteSize),
            std::tuple(0u, 1024u));
    }
    EXPECT_EQ(std::tuple(input.GetChannelData(0)[255], input.GetChannelData(1)[0]),
              std::tuple(255.0f, 1.0f));
    // More frames than the unit's slice: raised before the callback runs.
    EXPECT_EQ(RaisedStatus([&] { input.PullInput(flags, ts, 3, 1157); }), kTooMany);
    EXPECT_EQ(probe.renderCalls, 1);

    // Format changes re-size the buffer of an active input.
    CAStreamBasicDescription wider = input.GetStreamFormat();
    wider.ChangeNumberChannels(3, false);
    EXPECT_EQ(input.SetStreamFormat(wider), noErr);
    EXPECT_EQ(input.PrepareBuffer(1156).mNumberBuffers, 3u);
    // Leaving for no input releases the memory.
    input.SetInputCallback(nullptr, &probe);
    EXPECT_EQ(std::tuple(input.IsActive(), input.IOBuffer().GetAllocatedBytes()),
              std::tuple(false, 0u));

    // A source that goes away during the pull leaves no input.
    input.SetInputCallback(&SourceRender, &probe);
    probe.answer = noErr;
    probe.disconnectDuringCall = &input;
    EXPECT_EQ(input.PullInput(flags, ts, 3, 16), kAudioUnitErr_NoConnection);
    EXPECT_EQ(std::tuple(input.GetInputType(), input.IOBuffer().GetAllocatedBytes()),
              std::tuple(AUInputElement::kNoInput, 0u));
    EXPECT_EQ(input.PullInput(flags, ts, 3, 16), kAudioUnitErr_NoConnection);
    EXPECT_EQ(probe.renderCalls, 2);

    // When the host supplies the memory the callback gets null pointers
    // (which this one points at its own samples).
    probe.disconnectDuringCall = nullptr;
    input.SetWillAllocateBuffer(false);
    input.SetInputCallback(&SourceRender, &probe);
    EXPECT_EQ(input.PullInput(flags, ts, 0, 1157), noErr);
    const AudioBuffer& first = std::get<4>(probe.call)->mBuffers[0];
    EXPECT_EQ(std::tuple(first.mData, first.mDataByteSize),
              std::tuple(probe.samples[0], 1157u * 4u));
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
        // The source renders into its own memory: only headers here.
        EXPECT_EQ(std::tuple(input.HasConnection(), input.GetConnection().sourceOutputNumber,
                             input.GetConnectionRenderProc() != nullptr,
                             input.IOBuffer().GetAllocatedBytes()),
                  std::tuple(true, 2u, fast, 0u));

        rtcheck::Scope counting;
        EXPECT_EQ(input.PullInput(flags, ts, 0, 128), noErr);
        ExpectRealTimeSafe(counting.counts());
        const auto& [callFlags, sampleTime, bus, frames, list] = source.call;
        EXPECT_EQ(std::tuple(source.renderCalls, source.fastRenderCalls, callFlags, sampleTime, bus,
                             frames),
                  std::tuple(1, fast ? 1 : 0, 0u, 512.0, 2u, 128u));
        // The element's list now points at the source's samples.
        EXPECT_EQ(std::tuple(input.GetBufferList().mBuffers[1].mData, input.GetChannelData(1)[127]),
                  std::tuple(source.samples[1], 1.0f + 127.0f));

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
