// The reference delay engine through the built bundle: an impulse comes out
// once, at the set delay time and with the set gain, whatever the rate and
// however the host slices the blocks.
#include "PluginTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace plugtest;

namespace {

enum Param : AudioUnitParameterID {
    kDelayTime = 0, // milliseconds
    kFeedback,      // percent
    kHighCut,       // hertz
    kMix,           // percent wet
    kOutputGain,    // decibels
    kLookahead,     // milliseconds
};

class ReferenceEngine : public ::testing::TestWithParam<Entry> {
protected:
    SupportFolder support;
    void SetUp() override { support.install(referenceEngine()); }
};

} // namespace

TEST_P(ReferenceEngine, DescribesItsParametersThroughTheBridge) {
    Unit unit(GetParam());
    ASSERT_EQ(unit.openStatus(), noErr);
    UInt32 size = 0;
    ASSERT_EQ(AudioUnitGetPropertyInfo(unit, kAudioUnitProperty_ParameterList,
                                       kAudioUnitScope_Global, 0, &size, nullptr),
              noErr);
    ASSERT_EQ(size, 6 * sizeof(AudioUnitParameterID));
    AudioUnitParameterID ids[6] = {};
    ASSERT_EQ(AudioUnitGetProperty(unit, kAudioUnitProperty_ParameterList, kAudioUnitScope_Global,
                                   0, ids, &size),
              noErr);
    EXPECT_EQ(std::vector<AudioUnitParameterID>(ids, ids + 6),
              (std::vector<AudioUnitParameterID>{0, 1, 2, 3, 4, 5}));
    ASSERT_EQ(AudioUnitGetPropertyInfo(unit, kAudioUnitProperty_ParameterList,
                                       kAudioUnitScope_Input, 0, &size, nullptr),
              noErr);
    EXPECT_EQ(size, 0u) << "only the global scope has parameters";

    AudioUnitParameterInfo info{};
    info.clumpID = 77;
    ASSERT_EQ(AudioUnitGetProperty(unit, kAudioUnitProperty_ParameterInfo, kAudioUnitScope_Global,
                                   kDelayTime, &info, &(size = sizeof info)),
              noErr);
    EXPECT_EQ(info.flags, 0xE8000011u);
    EXPECT_EQ(info.unit, kAudioUnitParameterUnit_Generic);
    EXPECT_EQ(info.minValue, 1.0f);
    EXPECT_EQ(info.maxValue, 2000.0f);
    EXPECT_EQ(info.defaultValue, 350.0f);
    EXPECT_EQ(info.clumpID, 77u) << "left as the caller had it";
    ASSERT_NE(info.cfNameString, nullptr);
    char name[32] = {};
    CFStringGetCString(info.cfNameString, name, sizeof name, kCFStringEncodingUTF8);
    EXPECT_STREQ(name, "Delay Time");
    CFRelease(info.cfNameString);
    EXPECT_EQ(AudioUnitGetProperty(unit, kAudioUnitProperty_ParameterInfo, kAudioUnitScope_Input,
                                   kDelayTime, &info, &(size = sizeof info)),
              kAudioUnitErr_InvalidParameter);

    AudioUnitParameterValue value = 0;
    ASSERT_EQ(AudioUnitSetParameter(unit, kFeedback, kAudioUnitScope_Global, 0, 12.5f, 0), noErr);
    ASSERT_EQ(AudioUnitGetParameter(unit, kFeedback, kAudioUnitScope_Global, 0, &value), noErr);
    EXPECT_EQ(value, 12.5f);
    EXPECT_NE(AudioUnitGetParameter(unit, kFeedback, kAudioUnitScope_Global, 1, &value), noErr)
        << "another element is the base's, which has no such parameter";
}

TEST_P(ReferenceEngine, ImpulseComesOutAtTheDelayTimeWithTheSetGain) {
    constexpr float kDelayMs = 10.0f;
    constexpr float kGainDb = -6.0f;
    const float expectedGain = std::pow(10.0f, kGainDb / 20.0f);
    for (const Float64 rate : {44100.0, 48000.0}) {
        Unit unit(GetParam());
        ASSERT_EQ(unit.openStatus(), noErr);
        ASSERT_EQ(setFormat(unit, kAudioUnitScope_Input, rate, 2), noErr);
        ASSERT_EQ(setFormat(unit, kAudioUnitScope_Output, rate, 2), noErr);
        UInt32 maxFrames = 0;
        ASSERT_EQ(getProperty(unit.get(), kAudioUnitProperty_MaximumFramesPerSlice,
                              kAudioUnitScope_Global, 0, maxFrames),
                  noErr);
        const std::pair<Param, float> settings[] = {{kDelayTime, kDelayMs}, {kFeedback, 0.0f},
                                                    {kHighCut, 20000.0f},   {kMix, 100.0f},
                                                    {kOutputGain, kGainDb}, {kLookahead, 0.0f}};
        for (const auto& [id, v] : settings)
            ASSERT_EQ(AudioUnitSetParameter(unit, id, kAudioUnitScope_Global, 0, v, 0), noErr);
        ASSERT_EQ(AudioUnitInitialize(unit), noErr);
        Float64 latency = -1;
        ASSERT_EQ(
            getProperty(unit.get(), kAudioUnitProperty_Latency, kAudioUnitScope_Global, 0, latency),
            noErr);
        EXPECT_EQ(latency, 0.0) << "no look-ahead, no latency";

        InputSource input;
        ASSERT_EQ(input.attach(unit), noErr);
        const size_t delay = static_cast<size_t>(std::lround(kDelayMs * rate / 1000.0));
        const size_t total = delay + 300;
        Float64 sampleTime = 0;
        for (const UInt32 block : {1u, 2u, 31u, 64u, 100u, 512u, maxFrames}) {
            SCOPED_TRACE("rate " + std::to_string(rate) + ", block " + std::to_string(block));
            ASSERT_EQ(AudioUnitReset(unit, kAudioUnitScope_Global, 0), noErr);
            input.signal.assign(1, 1.0f);
            input.position = 0;
            std::vector<float> left(total + block), right(total + block);
            for (size_t done = 0; done < total; done += block) {
                ASSERT_EQ(
                    renderStereo(unit, sampleTime, block, left.data() + done, right.data() + done),
                    noErr);
                sampleTime += block;
            }
            for (size_t n = 0; n < total; ++n) {
                const float want = n == delay ? expectedGain : 0.0f;
                ASSERT_NEAR(left[n], want, 1e-5f) << "left sample " << n;
                ASSERT_NEAR(right[n], want, 1e-5f) << "right sample " << n;
            }
        }
    }
}

VX_BOTH_ENTRIES(ReferenceEngine);
