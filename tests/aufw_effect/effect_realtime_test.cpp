// Real-time safety by counting: once warm, a thousand render cycles of an
// effect with kernels, render notifications coming and going, and scheduled
// parameters every cycle make no heap allocation, free nothing and take no
// lock.
#include "TestEffect.h"

#include "RenderTestUnit.h" // UnitHolder

#include <rtcheck/rtcheck.h>

#include <gtest/gtest.h>

namespace {

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
        AudioUnitParameterEvent events[2]{};
        events[0].scope = kAudioUnitScope_Global;
        events[0].parameter = 0;
        events[0].eventType = kParameterEvent_Immediate;
        events[0].eventValues.immediate = {UInt32(n % 300), 0.5f + float(n % 3)};
        events[1].scope = kAudioUnitScope_Global;
        events[1].parameter = 1;
        events[1].eventType = kParameterEvent_Ramped;
        events[1].eventValues.ramp = {SInt32(n % 200) - 50, 128, 0.0f, 1.0f};
        failures += unit->ScheduleParameter(events, 2) != 0;
        // One notification leaves and comes back every cycle: its nodes
        // must be recycled.
        unit->RemoveRenderNotification(CountNotify, &cycling);
        unit->SetRenderNotification(CountNotify, &cycling);
        AudioUnitRenderActionFlags flags = 0;
        const AudioTimeStamp ts = SampleTime(t);
        t += 512;
        failures += unit->DoRender(flags, ts, 0, 512, out.list()) != 0;
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
