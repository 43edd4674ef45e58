// Rendering an effect: pulling the input, kernels per channel, bypass,
// in-place processing, slices at scheduled parameters, the silence flag and
// tail count, the other sample types; and real-time safety by counting.
#include "TestEffect.h"

#include <rtcheck/rtcheck.h>

#include <gtest/gtest.h>

namespace {

class EffectRenderTest : public ::testing::Test {
protected:
    TestEffect& Start(bool inPlace) {
        unit = std::make_unique<UnitHolder<TestEffect>>(inPlace);
        source.Attach(**unit);
        EXPECT_EQ((*unit)->DoInitialize(), 0);
        return **unit;
    }
    // Renders the next cycle; returns the flags it left.
    AudioUnitRenderActionFlags Render(TestBuffers& out, UInt32 frames, OSStatus expected = 0) {
        AudioUnitRenderActionFlags flags = 0;
        EXPECT_EQ((*unit)->DoRender(flags, SampleTime(mTime), 0, frames, out.list()), expected);
        mTime += frames;
        return flags;
    }

    std::unique_ptr<UnitHolder<TestEffect>> unit;
    InputSource source;
    Float64 mTime = 0;
};

TEST_F(EffectRenderTest, KernelsProcessEachChannelFromTheInputOrInPlace) {
    TestEffect& effect = Start(false);
    effect.SetParameter(0, 0.5f);
    TestBuffers out(2, 64);
    Render(out, 64);
    EXPECT_EQ(source.pulls, 1);
    for (UInt32 ch = 0; ch < 2; ++ch) {
        for (UInt32 i = 0; i < 64; ++i) {
            ASSERT_EQ(out.samples(ch)[i], 0.5f * source.Value(ch, i)) << ch << "/" << i;
        }
    }
    ASSERT_EQ(effect.log.calls.size(), 2u);
    EXPECT_EQ(effect.log.calls[1].channel, 1u);
    EXPECT_EQ(effect.log.calls[0].stride, 1u);
    EXPECT_FALSE(effect.log.calls[0].inPlace);

    TestEffect& inPlace = Start(true);
    inPlace.SetParameter(0, 2.0f);
    Render(out, 32);
    ASSERT_EQ(inPlace.log.calls.size(), 2u);
    EXPECT_TRUE(inPlace.log.calls[0].inPlace);
    EXPECT_EQ(out.samples(1)[31], 2.0f * source.Value(1, 31));

    // When the host gives the output memory and the output does not
    // allocate, the kernels write into the host's memory instead.
    TestEffect& hosted = Start(true);
    hosted.DoCleanup();
    hosted.GetOutput(0)->SetWillAllocateBuffer(false);
    ASSERT_EQ(hosted.DoInitialize(), 0);
    Render(out, 32);
    ASSERT_EQ(hosted.log.calls.size(), 2u);
    EXPECT_FALSE(hosted.log.calls[0].inPlace);
    EXPECT_EQ(out.samples(0)[3], source.Value(0, 3));

    // Bypassed, the input is copied whether in place or not.
    for (bool place : {false, true}) {
        TestEffect& bypassed = Start(place);
        bypassed.SetParameter(0, 3.0f);
        bypassed.SetBypassEffect(true);
        TestBuffers out(2, 40);
        Render(out, 40);
        EXPECT_TRUE(bypassed.log.calls.empty());
        EXPECT_EQ(out.samples(0)[0], source.Value(0, 0)) << place;
        EXPECT_EQ(out.samples(1)[39], source.Value(1, 39)) << place;
    }
    // Without an input there is no connection.
    unit = std::make_unique<UnitHolder<TestEffect>>();
    ASSERT_EQ((*unit)->DoInitialize(), 0);
    Render(out, 16, kAudioUnitErr_NoConnection);
    EXPECT_EQ((*unit)->GetLastRenderError(), kAudioUnitErr_NoConnection);
}

TEST_F(EffectRenderTest, ScheduledParametersProcessInSlices) {
    TestEffect& effect = Start(false);
    const AudioUnitParameterEvent events[] = {Immediate(0, 0, 2.0f), Immediate(0, 100, 3.0f)};
    ASSERT_EQ(effect.ScheduleParameter(events, 2), 0);
    TestBuffers out(2, 256);
    Render(out, 256);
    // Two slices per channel.
    ASSERT_EQ(effect.log.calls.size(), 4u);
    EXPECT_EQ(effect.log.calls[0].frames, 100u);
    EXPECT_EQ(effect.log.calls[2].frames, 156u);
    for (UInt32 ch = 0; ch < 2; ++ch) {
        EXPECT_EQ(out.samples(ch)[0], 2.0f * source.Value(ch, 0));
        EXPECT_EQ(out.samples(ch)[99], 2.0f * source.Value(ch, 99));
        EXPECT_EQ(out.samples(ch)[100], 3.0f * source.Value(ch, 100));
        EXPECT_EQ(out.samples(ch)[255], 3.0f * source.Value(ch, 255));
    }
    // The element's buffers are back at the start of the block.
    const AudioBufferList& inList = effect.GetInput(0)->GetBufferList();
    EXPECT_EQ(inList.mBuffers[0].mData, effect.GetInput(0)->IOBuffer().GetMemory());
    EXPECT_EQ(inList.mBuffers[0].mDataByteSize, 256u * sizeof(float));
    // The next cycle is whole again, at the last value.
    effect.log.calls.clear();
    Render(out, 256);
    ASSERT_EQ(effect.log.calls.size(), 2u);
    EXPECT_EQ(out.samples(0)[10], 3.0f * source.Value(0, 10));
}

TEST_F(EffectRenderTest, SilenceTheTailCountAndLatency) {
    TestEffect& effect = Start(false);
    effect.tail = 0.5; // 22050 frames at 44100 Hz
    source.silent = true;
    TestBuffers out(2, 512);
    for (int block = 1; block <= 60; ++block) {
        effect.log.calls.clear();
        const bool silent = (Render(out, 512) & kAudioUnitRenderAction_OutputIsSilence) != 0;
        EXPECT_EQ(silent, block > 44) << block; // 44 blocks of 512 hold the tail
        ASSERT_EQ(effect.log.calls.size(), 2u);
        EXPECT_EQ(effect.log.calls[0].silenceIn, silent) << block;
    }
    // Sound restarts the count for the next silence.
    source.silent = false;
    EXPECT_EQ(Render(out, 512) & kAudioUnitRenderAction_OutputIsSilence, 0u);
    source.silent = true;
    effect.log.calls.clear();
    Render(out, 512);
    EXPECT_FALSE(effect.log.calls[0].silenceIn);
    EXPECT_EQ(effect.GetTailSamplesLeft(), 22050 - 512);

    // No tail means silence at once; latency counts toward the tail.
    TestEffect& other = Start(false);
    EXPECT_NE(Render(out, 512) & kAudioUnitRenderAction_OutputIsSilence, 0u);
    source.silent = false;
    Render(out, 512);
    other.latency = 0.01; // 441 frames: one block
    source.silent = true;
    EXPECT_EQ(Render(out, 512) & kAudioUnitRenderAction_OutputIsSilence, 0u);
    EXPECT_NE(Render(out, 512) & kAudioUnitRenderAction_OutputIsSilence, 0u);
}

// Processes caller buffers directly, without the render path.
OSStatus Process(TestEffect& unit, std::vector<AudioBuffer> in, std::vector<AudioBuffer> out,
                 UInt32 frames) {
    TestBuffers inList(UInt32(in.size()), 0), outList(UInt32(out.size()), 0);
    std::copy(in.begin(), in.end(), inList.list().mBuffers);
    std::copy(out.begin(), out.end(), outList.list().mBuffers);
    AudioUnitRenderActionFlags flags = 0;
    return unit.ProcessBufferLists(flags, inList.list(), outList.list(), frames);
}

TEST(EffectSampleTypes, SixteenBitInterleavedFixedPointAndMismatchedLayouts) {
    UnitHolder<TestEffect> s16, fixed, floats;
    s16->SetParameter(0, 2.0f);
    s16->SetFormats({44100, kAudioFormatLinearPCM, 4, 1, 4, 2, 16,
                     kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked},
                    {44100, kAudioFormatLinearPCM, 4, 1, 4, 2, 16,
                     kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked});
    const CAStreamBasicDescription f824(44100, kAudioFormatLinearPCM, 4, 1, 4, 2, 32,
                                        kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked |
                                            kAudioFormatFlagIsNonInterleaved |
                                            (24u << kLinearPCMFormatFlagsSampleFractionShift));
    fixed->SetFormats(f824, f824);
    for (TestEffect* unit : {s16.unit, fixed.unit, floats.unit}) {
        ASSERT_EQ(unit->DoInitialize(), 0);
    }
    SInt16 in[2 * 8], out[2 * 8] = {};
    for (int i = 0; i < 16; ++i) {
        in[i] = SInt16(i * 10 + 1);
    }
    ASSERT_EQ(Process(*s16, {{2, sizeof(in), in}}, {{2, sizeof(out), out}}, 8), 0);
    ASSERT_EQ(s16->log.calls.size(), 2u);
    EXPECT_EQ(s16->log.calls[1].type, 's');
    EXPECT_EQ(s16->log.calls[1].stride, 2u);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(out[i], SInt16(2 * in[i])) << i;
    }
    SInt32 a[4] = {1 << 24, 2 << 24, 3, 4}, b[4] = {5, 6, 7, 8}, oa[4] = {}, ob[4] = {};
    ASSERT_EQ(Process(*fixed, {{1, 16, a}, {1, 16, b}}, {{1, 16, oa}, {1, 16, ob}}, 4), 0);
    ASSERT_EQ(fixed->log.calls.size(), 2u);
    EXPECT_EQ(fixed->log.calls[1].type, 'i');
    EXPECT_EQ(oa[0], 1 << 24);
    EXPECT_EQ(ob[3], 8);

    // An interleaved stereo input against two one-channel output buffers
    // cannot be stepped the same way: nothing is written. A mono input
    // against them feeds the first.
    float stereo[2 * 4] = {1, 2, 3, 4, 5, 6, 7, 8}, mono[4] = {1, 2, 3, 4}, o0[4] = {}, o1[4] = {};
    ASSERT_EQ(Process(*floats, {{2, 32, stereo}}, {{1, 16, o0}, {1, 16, o1}}, 4), 0);
    EXPECT_TRUE(floats->log.calls.empty());
    ASSERT_EQ(Process(*floats, {{1, 16, mono}}, {{1, 16, o0}, {1, 16, o1}}, 4), 0);
    ASSERT_EQ(floats->log.calls.size(), 1u);
    EXPECT_EQ(o0[3], 4.0f);
    EXPECT_EQ(o1[3], 0.0f);
}

OSStatus CountNotify(void* inRefCon, AudioUnitRenderActionFlags* ioActionFlags,
                     const AudioTimeStamp*, UInt32, UInt32, AudioBufferList*) {
    ++static_cast<long*>(inRefCon)[(*ioActionFlags & kAudioUnitRenderAction_PreRender) ? 0 : 1];
    return 0;
}

// Once warm, a thousand cycles with kernels, a notification leaving and
// coming back, and scheduled parameters every cycle allocate, free and lock
// nothing.
TEST_F(EffectRenderTest, WarmRenderCyclesAllocateNothingAndTakeNoLock) {
    if (!rtcheck::countsAllocations()) {
        GTEST_SKIP() << "this build cannot count allocations";
    }
    TestEffect& effect = Start(false);
    long steady[2] = {}, cycling[2] = {}; // pre- and post-render calls
    ASSERT_EQ(effect.SetRenderNotification(CountNotify, steady), 0);
    TestBuffers out(2, 512);
    auto cycle = [&](int n) {
        const AudioUnitParameterEvent events[] = {
            Immediate(0, UInt32(n % 300), 0.5f + float(n % 3)),
            Ramp(1, SInt32(n % 200) - 50, 128, 0.0f, 1.0f)};
        EXPECT_EQ(effect.ScheduleParameter(events, 2), 0);
        effect.RemoveRenderNotification(CountNotify, cycling); // its nodes are recycled
        effect.SetRenderNotification(CountNotify, cycling);
        Render(out, 512);
    };
    for (int n = 0; n < 16; ++n) {
        cycle(n);
    }
    const long callsBefore = effect.log.processCalls;
    rtcheck::Scope scope;
    for (int n = 0; n < 1000; ++n) {
        cycle(n);
    }
    const rtcheck::Counts counts = scope.counts();
    EXPECT_EQ(counts.allocations, 0);
    EXPECT_EQ(counts.frees, 0);
    if (rtcheck::countsLocks()) {
        EXPECT_EQ(counts.locks, 0);
    }
    // The work was done: kernels ran in slices, notifications around every cycle.
    EXPECT_GT(effect.log.processCalls - callsBefore, 2 * 1000);
    EXPECT_EQ(steady[0] + steady[1] + cycling[0], 3 * 1016);
    EXPECT_EQ(source.pulls, 1016);
}

} // namespace
