// Rendering an effect: pulling the input, kernels per channel, bypass,
// in-place processing, slices at scheduled parameters, the silence flag and
// the tail count, the other sample types; and real-time safety by counting:
// once warm, a thousand render cycles of an effect with kernels, render
// notifications coming and going, and scheduled parameters every cycle make
// no heap allocation, free nothing and take no lock.
#include "TestEffect.h"

#include <rtcheck/rtcheck.h>

#include <gtest/gtest.h>

namespace {

class EffectRenderTest : public ::testing::Test {
protected:
    void Start(bool inPlace) {
        unit.reset(new UnitHolder<TestEffect>(inPlace));
        source.Attach(**unit);
        ASSERT_EQ((*unit)->DoInitialize(), 0);
    }

    OSStatus Render(TestBuffers& out, UInt32 frames,
                    AudioUnitRenderActionFlags* outFlags = nullptr) {
        AudioUnitRenderActionFlags flags = 0;
        const AudioTimeStamp ts = SampleTime(mTime);
        mTime += frames;
        const OSStatus err = (*unit)->DoRender(flags, ts, 0, frames, out.list());
        if (outFlags != nullptr) {
            *outFlags = flags;
        }
        return err;
    }

    TestEffect& effect() { return **unit; }

    std::unique_ptr<UnitHolder<TestEffect>> unit;
    InputSource source;
    Float64 mTime = 0;
};

TEST_F(EffectRenderTest, KernelsProcessEachChannelFromTheInput) {
    Start(false);
    effect().SetParameter(0, 0.5f);
    TestBuffers out(2, 64);
    ASSERT_EQ(Render(out, 64), 0);
    EXPECT_EQ(source.pulls, 1);
    for (UInt32 ch = 0; ch < 2; ++ch) {
        for (UInt32 i = 0; i < 64; ++i) {
            ASSERT_EQ(out.samples(ch)[i], 0.5f * source.Value(ch, i)) << ch << "/" << i;
        }
    }
    ASSERT_EQ(effect().log.calls.size(), 2u);
    EXPECT_EQ(effect().log.calls[0].channel, 0u);
    EXPECT_EQ(effect().log.calls[1].channel, 1u);
    EXPECT_EQ(effect().log.calls[0].stride, 1u);
    EXPECT_FALSE(effect().log.calls[0].inPlace);
}

TEST_F(EffectRenderTest, InPlaceProcessesTheInputMemory) {
    Start(true);
    effect().SetParameter(0, 2.0f);
    TestBuffers out(2, 32);
    ASSERT_EQ(Render(out, 32), 0);
    ASSERT_EQ(effect().log.calls.size(), 2u);
    EXPECT_TRUE(effect().log.calls[0].inPlace);
    EXPECT_EQ(out.samples(1)[31], 2.0f * source.Value(1, 31));

    // When the host gives the output memory and the output does not
    // allocate, the kernels write into the host's memory instead.
    UnitHolder<TestEffect> hosted(true);
    InputSource src;
    src.Attach(*hosted);
    hosted->GetOutput(0)->SetWillAllocateBuffer(false);
    ASSERT_EQ(hosted->DoInitialize(), 0);
    AudioUnitRenderActionFlags flags = 0;
    const AudioTimeStamp ts = SampleTime(0);
    ASSERT_EQ(hosted->DoRender(flags, ts, 0, 32, out.list()), 0);
    ASSERT_EQ(hosted->log.calls.size(), 2u);
    EXPECT_FALSE(hosted->log.calls[0].inPlace);
    EXPECT_EQ(out.samples(0)[3], src.Value(0, 3));
}

TEST_F(EffectRenderTest, BypassCopiesTheInput) {
    for (bool inPlace : {false, true}) {
        Start(inPlace);
        effect().SetParameter(0, 3.0f);
        effect().SetBypassEffect(true);
        TestBuffers out(2, 40);
        ASSERT_EQ(Render(out, 40), 0) << inPlace;
        EXPECT_TRUE(effect().log.calls.empty());
        for (UInt32 ch = 0; ch < 2; ++ch) {
            EXPECT_EQ(out.samples(ch)[0], source.Value(ch, 0)) << inPlace;
            EXPECT_EQ(out.samples(ch)[39], source.Value(ch, 39)) << inPlace;
        }
    }
}

TEST_F(EffectRenderTest, WithoutInputThereIsNoConnection) {
    UnitHolder<TestEffect> lonely;
    ASSERT_EQ(lonely->DoInitialize(), 0);
    TestBuffers out(2, 16);
    AudioUnitRenderActionFlags flags = 0;
    const AudioTimeStamp ts = SampleTime(0);
    EXPECT_EQ(lonely->DoRender(flags, ts, 0, 16, out.list()), kAudioUnitErr_NoConnection);
    EXPECT_EQ(lonely->GetLastRenderError(), kAudioUnitErr_NoConnection);
}

TEST_F(EffectRenderTest, ScheduledParametersProcessInSlices) {
    Start(false);
    AudioUnitParameterEvent events[2]{};
    for (auto& e : events) {
        e.scope = kAudioUnitScope_Global;
        e.parameter = 0;
        e.eventType = kParameterEvent_Immediate;
    }
    events[0].eventValues.immediate = {0, 2.0f};
    events[1].eventValues.immediate = {100, 3.0f};
    ASSERT_EQ(effect().ScheduleParameter(events, 2), 0);

    TestBuffers out(2, 256);
    ASSERT_EQ(Render(out, 256), 0);
    // Two slices per channel.
    ASSERT_EQ(effect().log.calls.size(), 4u);
    EXPECT_EQ(effect().log.calls[0].frames, 100u);
    EXPECT_EQ(effect().log.calls[2].frames, 156u);
    for (UInt32 ch = 0; ch < 2; ++ch) {
        EXPECT_EQ(out.samples(ch)[0], 2.0f * source.Value(ch, 0));
        EXPECT_EQ(out.samples(ch)[99], 2.0f * source.Value(ch, 99));
        EXPECT_EQ(out.samples(ch)[100], 3.0f * source.Value(ch, 100));
        EXPECT_EQ(out.samples(ch)[255], 3.0f * source.Value(ch, 255));
    }
    // The element's buffers are back at the start of the block.
    const AudioBufferList& inList = effect().GetInput(0)->GetBufferList();
    EXPECT_EQ(inList.mBuffers[0].mData, effect().GetInput(0)->IOBuffer().GetMemory());
    EXPECT_EQ(inList.mBuffers[0].mDataByteSize, 256u * sizeof(float));

    // The next cycle is whole again, at the last value.
    effect().log.calls.clear();
    ASSERT_EQ(Render(out, 256), 0);
    ASSERT_EQ(effect().log.calls.size(), 2u);
    EXPECT_EQ(out.samples(0)[10], 3.0f * source.Value(0, 10));
}

TEST_F(EffectRenderTest, SilenceAndTheTailCount) {
    Start(false);
    effect().tail = 0.5; // 22050 frames at 44100 Hz
    source.silent = true;
    TestBuffers out(2, 512);
    int blocksTreatedAsSound = 0;
    int firstSilentBlock = 0;
    for (int block = 1; block <= 60; ++block) {
        effect().log.calls.clear();
        out.fill(9.0f);
        AudioUnitRenderActionFlags flags = 0;
        ASSERT_EQ(Render(out, 512, &flags), 0);
        ASSERT_EQ(effect().log.calls.size(), 2u);
        const bool kernelsToldSilence = effect().log.calls[0].silenceIn;
        const bool outputSilent = (flags & kAudioUnitRenderAction_OutputIsSilence) != 0;
        EXPECT_EQ(kernelsToldSilence, outputSilent) << block;
        if (!kernelsToldSilence) {
            ++blocksTreatedAsSound;
        } else if (firstSilentBlock == 0) {
            firstSilentBlock = block;
        }
        if (outputSilent) {
            // A silent output is zeroed for the host.
            EXPECT_EQ(out.samples(0)[0], 0.0f);
            EXPECT_EQ(out.samples(1)[511], 0.0f);
        }
    }
    EXPECT_EQ(blocksTreatedAsSound, 44);
    EXPECT_EQ(firstSilentBlock, 45);

    // Sound restarts the count for the next silence.
    source.silent = false;
    AudioUnitRenderActionFlags flags = 0;
    ASSERT_EQ(Render(out, 512, &flags), 0);
    EXPECT_EQ(flags & kAudioUnitRenderAction_OutputIsSilence, 0u);
    source.silent = true;
    effect().log.calls.clear();
    ASSERT_EQ(Render(out, 512, &flags), 0);
    EXPECT_FALSE(effect().log.calls[0].silenceIn);
    EXPECT_EQ(effect().GetTailSamplesLeft(), 22050 - 512);
}

TEST_F(EffectRenderTest, LatencyCountsTowardTheTailAndNoTailMeansSilenceAtOnce) {
    Start(false);
    source.silent = true;
    TestBuffers out(2, 512);
    AudioUnitRenderActionFlags flags = 0;
    ASSERT_EQ(Render(out, 512, &flags), 0);
    EXPECT_NE(flags & kAudioUnitRenderAction_OutputIsSilence, 0u);

    source.silent = false;
    ASSERT_EQ(Render(out, 512, &flags), 0);
    effect().latency = 0.01; // 441 frames: one block
    source.silent = true;
    ASSERT_EQ(Render(out, 512, &flags), 0);
    EXPECT_EQ(flags & kAudioUnitRenderAction_OutputIsSilence, 0u);
    ASSERT_EQ(Render(out, 512, &flags), 0);
    EXPECT_NE(flags & kAudioUnitRenderAction_OutputIsSilence, 0u);
}

TEST(EffectSampleTypes, SixteenBitInterleavedAndFixedPoint) {
    UnitHolder<TestEffect> unit;
    unit->SetParameter(0, 2.0f);
    CAStreamBasicDescription s16(44100, kAudioFormatLinearPCM, 4, 1, 4, 2, 16,
                                 kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked);
    unit->SetFormats(s16, s16);
    ASSERT_EQ(unit->DoInitialize(), 0);

    SInt16 in[2 * 8], out[2 * 8] = {};
    for (int i = 0; i < 16; ++i) {
        in[i] = SInt16(i * 10 + 1);
    }
    TestBuffers inList(1, 0), outList(1, 0);
    inList.list().mBuffers[0] = {2, sizeof(in), in};
    outList.list().mBuffers[0] = {2, sizeof(out), out};
    AudioUnitRenderActionFlags flags = 0;
    ASSERT_EQ(unit->ProcessBufferLists(flags, inList.list(), outList.list(), 8), 0);
    EXPECT_EQ(unit->log.int16Calls, 2);
    ASSERT_EQ(unit->log.calls.size(), 2u);
    EXPECT_EQ(unit->log.calls[1].stride, 2u);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(out[i], SInt16(2 * in[i])) << i;
    }

    UnitHolder<TestEffect> fixedUnit;
    CAStreamBasicDescription fixed(44100, kAudioFormatLinearPCM, 4, 1, 4, 2, 32,
                                   kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked |
                                       kAudioFormatFlagIsNonInterleaved |
                                       (24u << kLinearPCMFormatFlagsSampleFractionShift));
    fixedUnit->SetFormats(fixed, fixed);
    ASSERT_EQ(fixedUnit->DoInitialize(), 0);
    SInt32 a[4] = {1 << 24, 2 << 24, 3, 4}, b[4] = {5, 6, 7, 8};
    SInt32 oa[4] = {}, ob[4] = {};
    TestBuffers in2(2, 0), out2(2, 0);
    in2.list().mBuffers[0] = {1, sizeof(a), a};
    in2.list().mBuffers[1] = {1, sizeof(b), b};
    out2.list().mBuffers[0] = {1, sizeof(oa), oa};
    out2.list().mBuffers[1] = {1, sizeof(ob), ob};
    ASSERT_EQ(fixedUnit->ProcessBufferLists(flags, in2.list(), out2.list(), 4), 0);
    EXPECT_EQ(fixedUnit->log.int32Calls, 2);
    EXPECT_EQ(oa[0], 1 << 24);
    EXPECT_EQ(ob[3], 8);
}

TEST(EffectSampleTypes, MismatchedLayoutsAreNotProcessedPastTheBuffers) {
    // An interleaved stereo input against two one-channel output buffers
    // cannot be stepped the same way: nothing is written.
    UnitHolder<TestEffect> unit;
    ASSERT_EQ(unit->DoInitialize(), 0);
    float in[2 * 4] = {1, 2, 3, 4, 5, 6, 7, 8};
    float o0[4] = {}, o1[4] = {};
    TestBuffers inList(1, 0), outList(2, 0);
    inList.list().mBuffers[0] = {2, sizeof(in), in};
    outList.list().mBuffers[0] = {1, sizeof(o0), o0};
    outList.list().mBuffers[1] = {1, sizeof(o1), o1};
    AudioUnitRenderActionFlags flags = 0;
    ASSERT_EQ(unit->ProcessBufferLists(flags, inList.list(), outList.list(), 4), 0);
    EXPECT_TRUE(unit->log.calls.empty());

    // A mono input against them feeds the first.
    float mono[4] = {1, 2, 3, 4};
    inList.list().mBuffers[0] = {1, sizeof(mono), mono};
    ASSERT_EQ(unit->ProcessBufferLists(flags, inList.list(), outList.list(), 4), 0);
    ASSERT_EQ(unit->log.calls.size(), 1u);
    EXPECT_EQ(o0[3], 4.0f);
    EXPECT_EQ(o1[3], 0.0f);
}

struct NotifyCounter {
    long pre = 0;
    long post = 0;
};

OSStatus CountNotify(void* inRefCon, AudioUnitRenderActionFlags* ioActionFlags,
                     const AudioTimeStamp*, UInt32, UInt32, AudioBufferList*) {
    auto* c = static_cast<NotifyCounter*>(inRefCon);
    if ((*ioActionFlags & kAudioUnitRenderAction_PreRender) != 0) {
        ++c->pre;
    } else {
        ++c->post;
    }
    return 0;
}

TEST(EffectRealTime, RenderCyclesAllocateNothingAndTakeNoLock) {
    if (!rtcheck::countsAllocations()) {
        GTEST_SKIP() << "this build cannot count allocations";
    }
    UnitHolder<TestEffect> unit;
    InputSource source;
    source.Attach(*unit);
    unit->Globals0()->SetParameter(1, 0.0f);
    ASSERT_EQ(unit->DoInitialize(), 0);

    NotifyCounter steady, cycling;
    ASSERT_EQ(unit->SetRenderNotification(CountNotify, &steady), 0);
    ASSERT_EQ(unit->SetRenderNotification(CountNotify, &cycling), 0);

    TestBuffers out(2, 512);
    Float64 t = 0;
    long failures = 0;
    auto cycle = [&](int n) {
        AudioUnitParameterEvent events[2] = {
            {kAudioUnitScope_Global, 0, 0, kParameterEvent_Immediate, {}},
            {kAudioUnitScope_Global, 0, 1, kParameterEvent_Ramped, {}}};
        events[0].eventValues.immediate = {UInt32(n % 300), 0.5f + float(n % 3)};
        events[1].eventValues.ramp = {SInt32(n % 200) - 50, 128, 0.0f, 1.0f};
        failures += unit->ScheduleParameter(events, 2) != 0;
        // One notification leaves and comes back every cycle: its nodes
        // must be recycled.
        unit->RemoveRenderNotification(CountNotify, &cycling);
        unit->SetRenderNotification(CountNotify, &cycling);
        AudioUnitRenderActionFlags flags = 0;
        failures += unit->DoRender(flags, SampleTime(t), 0, 512, out.list()) != 0;
        t += 512;
    };

    for (int n = 0; n < 16; ++n) {
        cycle(n);
    }
    const long callsBefore = unit->log.floatCalls;

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
    EXPECT_EQ(failures, 0);
    // The work was really done: kernels ran in slices, every notification
    // was called around every cycle.
    EXPECT_GT(unit->log.floatCalls - callsBefore, 2 * 1000);
    EXPECT_EQ(steady.pre, 1016);
    EXPECT_EQ(steady.post, 1016);
    EXPECT_EQ(cycling.pre, 1016);
    EXPECT_EQ(source.pulls, 1016);
}

} // namespace
