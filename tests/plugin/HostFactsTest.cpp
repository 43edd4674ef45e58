// What the engine learns about its host through the host link, and what the
// engine tells the host through it: host callbacks, offline rendering,
// latency, parameter gestures and editor-size changes.
#include "PluginTestSupport.h"

#include <AudioToolbox/AudioUnitUtilities.h>

#include <gtest/gtest.h>

#include <vector>

using namespace plugtest;

namespace {

constexpr AudioUnitPropertyID kWindowSizeChanged = 0x10000;

// The host's musical clock as its callbacks report it.
struct HostClock {
    Float64 tempo = 97.5;
    Float64 sample = 12345.0;
    Boolean playing = true;
    OSStatus answer = noErr;
    int tempoCalls = 0;
    int transportCalls = 0;
    bool extraOutputsAsked = false;

    static OSStatus BeatAndTempo(void* user, Float64* beat, Float64* tempo) {
        auto* self = static_cast<HostClock*>(user);
        ++self->tempoCalls;
        self->extraOutputsAsked |= beat != nullptr;
        if (tempo)
            *tempo = self->tempo;
        return self->answer;
    }
    static OSStatus Transport(void* user, Boolean* playing, Boolean* changed, Float64* sample,
                              Boolean* cycling, Float64* cycleStart, Float64* cycleEnd) {
        auto* self = static_cast<HostClock*>(user);
        ++self->transportCalls;
        self->extraOutputsAsked |= changed || cycling || cycleStart || cycleEnd;
        if (playing)
            *playing = self->playing;
        if (sample)
            *sample = self->sample;
        return self->answer;
    }
    static OSStatus MusicalTime(void*, UInt32*, Float32*, UInt32*, Float64*) {
        ADD_FAILURE() << "the musical-time callback is never asked";
        return noErr;
    }
};

struct PropertyCalls {
    std::vector<AudioUnitScope> scopes;
    static void Record(void* refCon, AudioUnit, AudioUnitPropertyID, AudioUnitScope scope,
                       AudioUnitElement) {
        static_cast<PropertyCalls*>(refCon)->scopes.push_back(scope);
    }
};

struct Events {
    std::vector<std::pair<AudioUnitEventType, AudioUnitParameterID>> seen;
    static void Record(void* refCon, void*, const AudioUnitEvent* event, UInt64,
                       AudioUnitParameterValue) {
        static_cast<Events*>(refCon)->seen.emplace_back(event->mEventType,
                                                        event->mArgument.mParameter.mParameterID);
    }
};

class HostFacts : public ProbeUnit {
protected:
    void start() {
        ASSERT_EQ(AudioUnitInitialize(unit), noErr);
        ASSERT_EQ(input.attach(unit), noErr);
    }
    Float64 latency() {
        Float64 seconds = -1;
        EXPECT_EQ(
            getProperty(unit.get(), kAudioUnitProperty_Latency, kAudioUnitScope_Global, 0, seconds),
            noErr);
        return seconds;
    }
};

} // namespace

TEST_P(HostFacts, HostCallbacksAreAskedOnEveryProcessingCallAndFailuresKeepTheOldFacts) {
    const UInt32 maxFrames = 4096;
    ASSERT_EQ(setProperty(unit.get(), kAudioUnitProperty_MaximumFramesPerSlice,
                          kAudioUnitScope_Global, 0, maxFrames),
              noErr);
    start();
    // Without host callbacks the defaults stand.
    const ProbeFacts defaults = render();
    EXPECT_EQ(defaults.tempo, 120.0);
    EXPECT_EQ(defaults.position, 0.0);
    EXPECT_FALSE(defaults.playing);
    EXPECT_EQ(defaults.renderMode, 0);
    EXPECT_EQ(defaults.sampleRate, 44100.0f);
    EXPECT_EQ(defaults.blockSize, 0) << "no block size is reported, whatever the slice size";

    HostClock clock;
    HostCallbackInfo callbacks{&clock, HostClock::BeatAndTempo, HostClock::MusicalTime,
                               HostClock::Transport, nullptr};
    ASSERT_EQ(setProperty(unit.get(), kAudioUnitProperty_HostCallbacks, kAudioUnitScope_Global, 0,
                          callbacks),
              noErr);
    const ProbeFacts first = render();
    EXPECT_EQ(first.tempo, 97.5);
    EXPECT_EQ(first.position, 12345.0);
    EXPECT_TRUE(first.playing);
    EXPECT_FALSE(clock.extraOutputsAsked) << "only tempo, playing and position are asked for";

    clock.tempo = 140.0;
    clock.sample = 20000.0;
    clock.playing = false;
    const ProbeFacts second = render();
    EXPECT_EQ(second.tempo, 140.0);
    EXPECT_EQ(second.position, 20000.0);
    EXPECT_FALSE(second.playing);
    EXPECT_EQ(clock.tempoCalls, 2);
    EXPECT_EQ(clock.transportCalls, 2);

    // A host that cannot answer leaves what it last said.
    clock.answer = -1;
    clock.tempo = 60.0;
    clock.sample = 1.0;
    clock.playing = true;
    const ProbeFacts third = render();
    EXPECT_EQ(third.tempo, 140.0);
    EXPECT_EQ(third.position, 20000.0);
    EXPECT_FALSE(third.playing);
    EXPECT_EQ(clock.tempoCalls, 3);

    // Only the tempo callback installed: the transport facts stay.
    clock.answer = noErr;
    callbacks.transportStateProc = nullptr;
    ASSERT_EQ(setProperty(unit.get(), kAudioUnitProperty_HostCallbacks, kAudioUnitScope_Global, 0,
                          callbacks),
              noErr);
    const ProbeFacts fourth = render();
    EXPECT_EQ(fourth.tempo, 60.0);
    EXPECT_EQ(fourth.position, 20000.0);
    EXPECT_EQ(clock.transportCalls, 3);
}

TEST_P(HostFacts, OfflineRenderPropertyIsWhatTheEngineReadsBack) {
    start();
    const UInt32 two = 2;
    ASSERT_EQ(
        setProperty(unit.get(), kAudioUnitProperty_OfflineRender, kAudioUnitScope_Global, 0, two),
        noErr);
    EXPECT_EQ(render().renderMode, 1);
    UInt32 value = 99;
    ASSERT_EQ(
        getProperty(unit.get(), kAudioUnitProperty_OfflineRender, kAudioUnitScope_Global, 0, value),
        noErr);
    EXPECT_EQ(value, 1u);

    const UInt32 zero = 0;
    ASSERT_EQ(
        setProperty(unit.get(), kAudioUnitProperty_OfflineRender, kAudioUnitScope_Global, 0, zero),
        noErr);
    EXPECT_EQ(render().renderMode, 0);
    const UInt16 shortValue = 1;
    EXPECT_EQ(setProperty(unit.get(), kAudioUnitProperty_OfflineRender, kAudioUnitScope_Global, 0,
                          shortValue),
              kAudioUnitErr_InvalidPropertyValue)
        << "a value shorter than its word is not read past its end";
    EXPECT_EQ(link().IGetRenderMode(), 0);
}

TEST_P(HostFacts, LatencyComesFromTheFixedValueOrWhatTheEngineReports) {
    ASSERT_EQ(setFormat(unit, kAudioUnitScope_Input, 48000, 2), noErr);
    ASSERT_EQ(setFormat(unit, kAudioUnitScope_Output, 48000, 2), noErr);
    EXPECT_DOUBLE_EQ(latency(), 512.0 / 48000.0) << "the engine's fixed latency";

    PropertyCalls calls;
    ASSERT_EQ(AudioUnitAddPropertyListener(unit, kAudioUnitProperty_Latency, PropertyCalls::Record,
                                           &calls),
              noErr);
    engine().info.fixedLatency = -1;
    EXPECT_EQ(latency(), 0.0) << "nothing reported yet";
    link().ISetLatency(256);
    ASSERT_EQ(calls.scopes.size(), 1u);
    EXPECT_EQ(calls.scopes[0], kAudioUnitScope_Global);
    EXPECT_DOUBLE_EQ(latency(), 256.0 / 48000.0);
    link().ISetLatency(512);
    EXPECT_DOUBLE_EQ(latency(), 512.0 / 48000.0);
    EXPECT_EQ(calls.scopes.size(), 2u);

    engine().info.fixedLatency = 100;
    EXPECT_DOUBLE_EQ(latency(), 100.0 / 48000.0) << "a fixed latency wins over a reported one";
}

TEST_P(HostFacts, ParameterChangedInsideTheEngineIsOneGestureForListeners) {
    Events events;
    AUEventListenerRef listener = nullptr;
    ASSERT_EQ(
        AUEventListenerCreate(Events::Record, &events, nullptr, nullptr, 0.0f, 0.0f, &listener),
        noErr);
    for (AudioUnitParameterID id : {2u, 3u}) {
        for (AudioUnitEventType type :
             {kAudioUnitEvent_BeginParameterChangeGesture, kAudioUnitEvent_ParameterValueChange,
              kAudioUnitEvent_EndParameterChangeGesture}) {
            AudioUnitEvent event{};
            event.mEventType = type;
            event.mArgument.mParameter = {unit.get(), id, kAudioUnitScope_Global, 0};
            ASSERT_EQ(AUEventListenerAddEventType(listener, nullptr, &event), noErr);
        }
    }
    link().IParamChanged(3);
    using Seen = std::pair<AudioUnitEventType, AudioUnitParameterID>;
    const std::vector<Seen> expected = {{kAudioUnitEvent_BeginParameterChangeGesture, 3},
                                        {kAudioUnitEvent_ParameterValueChange, 3},
                                        {kAudioUnitEvent_EndParameterChangeGesture, 3}};
    EXPECT_EQ(events.seen, expected);
    AUListenerDispose(listener);
}

TEST_P(HostFacts, EditorSizeChangesAreAnnouncedOnTheGlobalScope) {
    PropertyCalls calls;
    ASSERT_EQ(AudioUnitAddPropertyListener(unit, kWindowSizeChanged, PropertyCalls::Record, &calls),
              noErr);
    link().IWindowSizeChanged();
    ASSERT_EQ(calls.scopes.size(), 1u);
    EXPECT_EQ(calls.scopes[0], kAudioUnitScope_Global);

    UInt32 size = 0;
    Boolean writable = true;
    ASSERT_EQ(AudioUnitGetPropertyInfo(unit, kWindowSizeChanged, kAudioUnitScope_Global, 0, &size,
                                       &writable),
              noErr);
    EXPECT_EQ(size, 1u);
    EXPECT_FALSE(writable);
    UInt8 value[4] = {0, 0xEE, 0xEE, 0xEE};
    UInt32 asked = 1;
    ASSERT_EQ(
        AudioUnitGetProperty(unit, kWindowSizeChanged, kAudioUnitScope_Global, 0, value, &asked),
        noErr);
    EXPECT_EQ(value[0], 1);
    EXPECT_EQ(value[1], 0xEE) << "nothing written past the property's size";
    EXPECT_EQ(AudioUnitGetPropertyInfo(unit, kWindowSizeChanged, kAudioUnitScope_Output, 0, &size,
                                       &writable),
              kAudioUnitErr_InvalidScope);
}

VX_BOTH_ENTRIES(HostFacts);
