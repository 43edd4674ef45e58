// Real-time safety of rendering through the built bundle with the reference
// engine, by counting: once warmed up, a render makes no heap allocation and
// takes no lock, with the host's callbacks asked on every call.
#include "PluginTestSupport.h"

#include <rtcheck/rtcheck.h>

#include <algorithm>
#include <cmath>

using namespace plugtest;
using Realtime = ::testing::TestWithParam<Entry>;
constexpr UInt32 kBlock = 512;

TEST_P(Realtime, RenderingAfterWarmUpAllocatesNothingAndTakesNoLock) {
    if (!rtcheck::countsAllocations())
        GTEST_SKIP() << "this build cannot count allocations";
    SupportFolder support;
    support.install(fs::path(VX_ENGINE_DIR) / "audplg.dylib");
    Unit unit(GetParam());
    ASSERT_EQ(unit.openStatus(), noErr);
    ASSERT_EQ(setFormats(unit, 48000, 2), noErr);
    Float64 sampleTime = 0;
    HostClock clock{128.0, 0.0, true, noErr};
    const HostCallbackInfo callbacks{&clock, HostClock::BeatAndTempo, nullptr, HostClock::Transport,
                                     nullptr};
    ASSERT_EQ(setProperty(unit, kAudioUnitProperty_HostCallbacks, callbacks), noErr);
    // Feedback, damping, mix and the look-ahead limiter all at work.
    const float settings[] = {7.0f, 60.0f, 5000.0f, 50.0f, 3.0f, 2.0f};
    for (AudioUnitParameterID id = 0; id < 6; ++id)
        ASSERT_EQ(AudioUnitSetParameter(unit, id, kAudioUnitScope_Global, 0, settings[id], 0),
                  noErr);
    ASSERT_EQ(AudioUnitInitialize(unit), noErr);

    InputSource input;
    input.signal.resize(300 * kBlock);
    for (size_t i = 0; i < input.signal.size(); ++i)
        input.signal[i] = 0.8f * std::sin(0.013f * static_cast<float>(i));
    ASSERT_EQ(input.attach(unit), noErr);
    std::vector<float> left(kBlock), right(kBlock);
    auto render = [&](int blocks) {
        bool ok = true;
        for (int b = 0; b < blocks; ++b, sampleTime += kBlock)
            ok &= renderStereo(unit, sampleTime, kBlock, left.data(), right.data()) == noErr;
        return ok;
    };
    ASSERT_TRUE(render(20));
    {
        // The counters see what the bundle does: saving a preset builds objects.
        rtcheck::Scope control(rtcheck::Threads::Current);
        CFPropertyListRef document = nullptr;
        ASSERT_EQ(getProperty(unit, kAudioUnitProperty_ClassInfo, document), noErr);
        CFRelease(document);
        EXPECT_GT(control.counts().allocations, 0);
    }
    rtcheck::Scope scope(rtcheck::Threads::Current);
    const bool rendered = render(200);
    const rtcheck::Counts counts = scope.counts();
    ASSERT_TRUE(rendered);
    // Locks are counted where the build can count them.
    EXPECT_EQ(std::make_tuple(counts.allocations, counts.frees,
                              rtcheck::countsLocks() ? counts.locks : 0, input.calls),
              std::make_tuple(0, 0, 0, 220));
    EXPECT_GT(*std::max_element(left.begin(), left.end()), 0.01f) << "the blocks carried sound";
}

VX_BOTH_ENTRIES(Realtime);
