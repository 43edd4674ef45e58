// Real-time safety of rendering through the built bundle with the reference
// engine, by counting: once warmed up, a render makes no heap allocation and
// takes no lock, with the host's callbacks asked on every call.
#include "PluginTestSupport.h"

#include <rtcheck/rtcheck.h>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace plugtest;

namespace {

constexpr UInt32 kBlock = 512;

OSStatus tempo(void*, Float64*, Float64* outTempo) {
    *outTempo = 128.0;
    return noErr;
}

OSStatus transport(void* user, Boolean* playing, Boolean*, Float64* sample, Boolean*, Float64*,
                   Float64*) {
    *playing = true;
    *sample = *static_cast<Float64*>(user);
    return noErr;
}

class Realtime : public ::testing::TestWithParam<Entry> {};

} // namespace

TEST_P(Realtime, RenderingAfterWarmUpAllocatesNothingAndTakesNoLock) {
    if (!rtcheck::countsAllocations())
        GTEST_SKIP() << "this build cannot count allocations";
    SupportFolder support;
    support.install(referenceEngine());
    Unit unit(GetParam());
    ASSERT_EQ(unit.openStatus(), noErr);
    ASSERT_EQ(setFormat(unit, kAudioUnitScope_Input, 48000, 2), noErr);
    ASSERT_EQ(setFormat(unit, kAudioUnitScope_Output, 48000, 2), noErr);
    Float64 sampleTime = 0;
    const HostCallbackInfo callbacks{&sampleTime, tempo, nullptr, transport, nullptr};
    ASSERT_EQ(setProperty(unit.get(), kAudioUnitProperty_HostCallbacks, kAudioUnitScope_Global, 0,
                          callbacks),
              noErr);
    // Feedback, damping, mix and the look-ahead limiter all at work.
    const std::pair<AudioUnitParameterID, float> settings[] = {{0, 7.0f},  {1, 60.0f}, {2, 5000.0f},
                                                               {3, 50.0f}, {4, 3.0f},  {5, 2.0f}};
    for (const auto& [id, v] : settings)
        ASSERT_EQ(AudioUnitSetParameter(unit, id, kAudioUnitScope_Global, 0, v, 0), noErr);
    ASSERT_EQ(AudioUnitInitialize(unit), noErr);

    InputSource input;
    input.signal.resize(300 * kBlock);
    for (size_t i = 0; i < input.signal.size(); ++i)
        input.signal[i] = 0.8f * std::sin(0.013f * static_cast<float>(i));
    ASSERT_EQ(input.attach(unit), noErr);
    std::vector<float> left(kBlock), right(kBlock);
    auto render = [&](int blocks) {
        for (int b = 0; b < blocks; ++b) {
            if (renderStereo(unit, sampleTime, kBlock, left.data(), right.data()) != noErr)
                return false;
            sampleTime += kBlock;
        }
        return true;
    };
    ASSERT_TRUE(render(20));

    // The counters see what the bundle does: saving a preset builds objects.
    {
        rtcheck::Scope control(rtcheck::Threads::Current);
        CFPropertyListRef document = nullptr;
        ASSERT_EQ(getProperty(unit.get(), kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0,
                              document),
                  noErr);
        CFRelease(document);
        EXPECT_GT(control.counts().allocations, 0);
    }

    rtcheck::Scope scope(rtcheck::Threads::Current);
    const bool rendered = render(200);
    const rtcheck::Counts counts = scope.counts();
    ASSERT_TRUE(rendered);
    EXPECT_EQ(counts.allocations, 0);
    EXPECT_EQ(counts.frees, 0);
    if (rtcheck::countsLocks()) {
        EXPECT_EQ(counts.locks, 0);
    }
    EXPECT_EQ(input.calls, 220);
    float peak = 0;
    for (float s : left)
        peak = std::max(peak, std::fabs(s));
    EXPECT_GT(peak, 0.01f) << "the blocks carried sound";
}

VX_BOTH_ENTRIES(Realtime);
