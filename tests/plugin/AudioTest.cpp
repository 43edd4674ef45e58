// Audio through the built bundle to the probe engine: which buffers reach
// the engine, the channel configurations, sample-rate changes, reset and
// tail.
#include "PluginTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

using namespace plugtest;
using ::testing::HasSubstr;

namespace {

class Audio : public ProbeUnit {
protected:
    static std::vector<float> ramp(size_t n) {
        std::vector<float> s(n);
        for (size_t i = 0; i < n; ++i)
            s[i] = 0.001f * static_cast<float>(i + 1);
        return s;
    }
};

} // namespace

TEST_P(Audio, EachInputChannelReachesTheEngineFromTheHostsOwnPlane) {
    // The host supplies the memory on both sides: its own input planes from
    // the render callback and its own output buffers in the render call.
    for (AudioUnitScope scope : {kAudioUnitScope_Input, kAudioUnitScope_Output})
        ASSERT_EQ(
            setProperty(unit.get(), kAudioUnitProperty_ShouldAllocateBuffer, scope, 0, UInt32(0)),
            noErr);
    for (const UInt32 channels : {1u, 2u}) {
        SCOPED_TRACE(channels == 1 ? "mono input" : "stereo input");
        ASSERT_EQ(AudioUnitUninitialize(unit), noErr);
        ASSERT_EQ(setFormat(unit, kAudioUnitScope_Input, 44100, channels), noErr);
        ASSERT_EQ(AudioUnitInitialize(unit), noErr);
        InputSource own(true);
        own.signal = ramp(kFrames);
        ASSERT_EQ(own.attach(unit), noErr);
        engine().gain = 0.5f;
        const int before = engine().processCalls;

        ASSERT_EQ(renderStereo(unit, 0, kFrames, left.data(), right.data()), noErr);
        ASSERT_EQ(engine().processCalls, before + 1);
        EXPECT_EQ(engine().lastReserved, 0);
        EXPECT_EQ(engine().lastFrames, static_cast<int>(kFrames));
        EXPECT_EQ(engine().lastIn[0], own.plane(0));
        EXPECT_EQ(engine().lastIn[1], own.plane(channels - 1))
            << "a mono input feeds both engine inputs, a stereo one each its own";
        EXPECT_EQ(engine().lastOut[0], left.data());
        EXPECT_EQ(engine().lastOut[1], right.data());
        EXPECT_FLOAT_EQ(left[9], 0.005f);
        EXPECT_FLOAT_EQ(right[9], 0.005f);
    }
}

TEST_P(Audio, StereoInPlaceByDefaultProcessesTheInputBuffersThemselves) {
    UInt32 inPlace = 0;
    ASSERT_EQ(getProperty(unit.get(), kAudioUnitProperty_InPlaceProcessing, kAudioUnitScope_Global,
                          0, inPlace),
              noErr);
    EXPECT_EQ(inPlace, 1u);
    ASSERT_EQ(AudioUnitInitialize(unit), noErr);
    input.signal = ramp(kFrames);
    ASSERT_EQ(input.attach(unit), noErr);
    engine().gain = 2.0f;

    ASSERT_EQ(renderStereo(unit, 0, kFrames, left.data(), right.data()), noErr);
    ASSERT_EQ(engine().processCalls, 1);
    EXPECT_EQ(engine().lastIn[0], engine().lastOut[0]);
    EXPECT_EQ(engine().lastIn[1], engine().lastOut[1]);
    EXPECT_NE(engine().lastIn[0], engine().lastIn[1]);
    EXPECT_FLOAT_EQ(left[99], 0.2f) << "the processed block reaches the host's buffers";
    EXPECT_FLOAT_EQ(right[0], 0.002f);
}

TEST_P(Audio, OneOutputBufferIsRefusedWithTheDebuggerMessageAndNothingProcessed) {
    // Mono in, processed in place into the unit's own output: the output list
    // becomes the one-buffer input list.
    ASSERT_EQ(setFormat(unit, kAudioUnitScope_Input, 44100, 1), noErr);
    ASSERT_EQ(AudioUnitInitialize(unit), noErr);
    input.signal = ramp(kFrames);
    ASSERT_EQ(input.attach(unit), noErr);
    engine().gain = 3.0f;

    ::testing::internal::CaptureStderr();
    EXPECT_EQ(renderStereo(unit, 0, kFrames, left.data(), right.data()), noErr);
    const std::string debugger = ::testing::internal::GetCapturedStderr();
    EXPECT_THAT(debugger, HasSubstr("-improper channel settings..."));
    EXPECT_EQ(engine().processCalls, 0);
    EXPECT_FLOAT_EQ(left[19], 0.02f) << "the block passes untouched";
}

TEST_P(Audio, ChannelConfigurationsAreMonoOrStereoInStereoOut) {
    AUChannelInfo table[4] = {};
    UInt32 size = sizeof table;
    ASSERT_EQ(AudioUnitGetProperty(unit, kAudioUnitProperty_SupportedNumChannels,
                                   kAudioUnitScope_Global, 0, table, &size),
              noErr);
    ASSERT_EQ(size, 2 * sizeof(AUChannelInfo));
    EXPECT_EQ(table[0].inChannels, 1);
    EXPECT_EQ(table[0].outChannels, 2);
    EXPECT_EQ(table[1].inChannels, 2);
    EXPECT_EQ(table[1].outChannels, 2);

    // A ready engine does not overrule the channel check.
    ASSERT_EQ(setFormat(unit, kAudioUnitScope_Output, 44100, 1), noErr);
    EXPECT_EQ(AudioUnitInitialize(unit), kAudioUnitErr_FormatNotSupported);
    ASSERT_EQ(setFormat(unit, kAudioUnitScope_Output, 44100, 2), noErr);
    ASSERT_EQ(setFormat(unit, kAudioUnitScope_Input, 44100, 3), noErr);
    EXPECT_EQ(AudioUnitInitialize(unit), kAudioUnitErr_FormatNotSupported);
    ASSERT_EQ(setFormat(unit, kAudioUnitScope_Input, 44100, 2), noErr);
    EXPECT_EQ(AudioUnitInitialize(unit), noErr);
}

namespace {
void countCall(void* refCon, AudioUnit, AudioUnitPropertyID, AudioUnitScope, AudioUnitElement) {
    ++*static_cast<int*>(refCon);
}
} // namespace

TEST_P(Audio, NewRateRestartsTheEngineOnceAndAnnouncesTheLatency) {
    int latencyChanges = 0;
    ASSERT_EQ(
        AudioUnitAddPropertyListener(unit, kAudioUnitProperty_Latency, countCall, &latencyChanges),
        noErr);
    ASSERT_EQ(engine().prepares, 1);
    ASSERT_EQ(engine().resets, 1);

    ASSERT_EQ(setFormat(unit, kAudioUnitScope_Input, 44100, 2), noErr);
    EXPECT_EQ(engine().suspends, 0) << "the rate it already has";

    ASSERT_EQ(setFormat(unit, kAudioUnitScope_Input, 48000, 2), noErr);
    EXPECT_EQ(engine().suspends, 1);
    EXPECT_EQ(engine().prepares, 2);
    EXPECT_EQ(engine().resets, 2);
    EXPECT_EQ(latencyChanges, 1);
    EXPECT_FLOAT_EQ(engine().link->IGetSampleRate(), 48000.0f);

    ASSERT_EQ(setFormat(unit, kAudioUnitScope_Output, 48000, 2), noErr);
    EXPECT_EQ(engine().suspends, 1) << "the output following to the same rate changes nothing";
    EXPECT_EQ(engine().prepares, 2);
    EXPECT_EQ(latencyChanges, 1);

    Float64 rate = 96000;
    ASSERT_EQ(
        setProperty(unit.get(), kAudioUnitProperty_SampleRate, kAudioUnitScope_Output, 0, rate),
        noErr);
    EXPECT_EQ(engine().suspends, 2);
    EXPECT_FLOAT_EQ(engine().link->IGetSampleRate(), 96000.0f);
}

TEST_P(Audio, ResetResetsTheEngineAndTailComesFromIt) {
    ASSERT_EQ(AudioUnitInitialize(unit), noErr);
    const int before = engine().resets;
    ASSERT_EQ(AudioUnitReset(unit, kAudioUnitScope_Global, 0), noErr);
    EXPECT_EQ(engine().resets, before + 1);

    Float64 tail = 0;
    ASSERT_EQ(getProperty(unit.get(), kAudioUnitProperty_TailTime, kAudioUnitScope_Global, 0, tail),
              noErr);
    EXPECT_DOUBLE_EQ(tail, 1.5);
    engine().info.supportsTail = false;
    EXPECT_EQ(getProperty(unit.get(), kAudioUnitProperty_TailTime, kAudioUnitScope_Global, 0, tail),
              kAudioUnitErr_InvalidProperty);
}

VX_BOTH_ENTRIES(Audio);
