// The render entry: request checks and error recording, one render per time
// stamp, where the audio goes, render notifications and the processor's
// floating-point mode.
#include "RenderTestUnit.h"

#include <aufw/CAException.h>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <new>

namespace {

struct ListenerLog {
    int lastRenderErrorCalls = 0;
};

void CountListener(void* inRefCon, AudioUnit, AudioUnitPropertyID inID, AudioUnitScope inScope,
                   AudioUnitElement inElement) {
    if (inID == kAudioUnitProperty_LastRenderError && inScope == kAudioUnitScope_Global &&
        inElement == 0) {
        ++static_cast<ListenerLog*>(inRefCon)->lastRenderErrorCalls;
    }
}

struct NotifyCall {
    int tag;
    AudioUnitRenderActionFlags flags;
    Float64 sampleTime;
    UInt32 bus;
    UInt32 frames;
    unsigned mxcsr;
};

struct NotifyLog {
    std::vector<NotifyCall> calls;
};

template <int Tag>
OSStatus Notify(void* inRefCon, AudioUnitRenderActionFlags* ioActionFlags,
                const AudioTimeStamp* inTimeStamp, UInt32 inBusNumber, UInt32 inNumberFrames,
                AudioBufferList*) {
    static_cast<NotifyLog*>(inRefCon)->calls.push_back(
        {Tag, *ioActionFlags, inTimeStamp->mSampleTime, inBusNumber, inNumberFrames, _mm_getcsr()});
    return 0;
}

class RenderTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(unit->DoInitialize(), 0); }

    OSStatus Render(Float64 t, TestBuffers& buffers, UInt32 frames, UInt32 bus = 0) {
        return unit->RenderAt(t, buffers, frames, bus);
    }

    UnitHolder<RenderTestUnit> unit;
};

TEST_F(RenderTest, TooManyFramesIsRecordedOnceAndAnnouncedOnce) {
    ListenerLog log;
    unit->AddPropertyListener(kAudioUnitProperty_LastRenderError, CountListener, &log);
    TestBuffers out(2, 1157);
    EXPECT_EQ(unit->GetMaxFramesPerSlice(), 1156u);
    EXPECT_EQ(Render(0, out, 1157), kAudioUnitErr_TooManyFramesToProcess);
    EXPECT_EQ(unit->GetLastRenderError(), kAudioUnitErr_TooManyFramesToProcess);
    EXPECT_EQ(log.lastRenderErrorCalls, 1);
    EXPECT_EQ(unit->renderCount, 0);

    // An unread error is not overwritten, and not announced again.
    EXPECT_EQ(Render(1157, out, 1157), kAudioUnitErr_TooManyFramesToProcess);
    TestBuffers wrongCount(1, 16);
    EXPECT_EQ(Render(2000, wrongCount, 16), -50);
    EXPECT_EQ(unit->GetLastRenderError(), kAudioUnitErr_TooManyFramesToProcess);
    EXPECT_EQ(log.lastRenderErrorCalls, 1);

    // The largest slice still renders.
    EXPECT_EQ(Render(3000, out, 1156), 0);
    EXPECT_EQ(unit->renderCount, 1);
}

TEST_F(RenderTest, RequestChecksAndTheirStatuses) {
    TestBuffers out(2, 64);
    // No such output bus.
    EXPECT_EQ(Render(0, out, 64, 1), kAudioUnitErr_InvalidElement);
    // The format wants one buffer per channel.
    TestBuffers three(3, 64);
    EXPECT_EQ(Render(0, three, 64), -50);
    // A buffer too small for the frames.
    TestBuffers small(2, 63);
    EXPECT_EQ(Render(0, small, 64), -50);
    EXPECT_EQ(unit->renderCount, 0);

    // A larger buffer is accepted and told exactly the bytes rendered.
    TestBuffers large(2, 100);
    EXPECT_EQ(Render(0, large, 64), 0);
    EXPECT_EQ(large.list().mBuffers[0].mDataByteSize, 64u * sizeof(float));
    EXPECT_EQ(large.list().mBuffers[1].mDataByteSize, 64u * sizeof(float));
    EXPECT_EQ(large.samples(1)[63], RenderTestUnit::Pattern(0, 1, 63));
    EXPECT_EQ(large.samples(1)[64], 0.0f); // nothing past the frames
}

TEST_F(RenderTest, OneTimeStampRendersOnce) {
    NotifyLog log;
    ASSERT_EQ(unit->SetRenderNotification(Notify<1>, &log), 0);
    TestBuffers out(2, 32);
    EXPECT_EQ(Render(512, out, 32), 0);
    EXPECT_EQ(unit->renderCount, 1);
    EXPECT_EQ(out.samples(0)[5], RenderTestUnit::Pattern(512, 0, 5));
    EXPECT_EQ(out.samples(1)[31], RenderTestUnit::Pattern(512, 1, 31));

    // The same sample time again: nothing rendered, the caller's buffers
    // keep what they hold, the notifications still run.
    out.fill(-7.0f);
    EXPECT_EQ(Render(512, out, 32), 0);
    EXPECT_EQ(unit->renderCount, 1);
    EXPECT_EQ(out.samples(0)[5], -7.0f);
    EXPECT_EQ(out.samples(1)[31], -7.0f);
    EXPECT_EQ(log.calls.size(), 4u);

    // A new time renders; a sample time that is not a number always does.
    EXPECT_EQ(Render(544, out, 32), 0);
    EXPECT_EQ(unit->renderCount, 2);
    const Float64 nan = std::numeric_limits<Float64>::quiet_NaN();
    EXPECT_EQ(Render(nan, out, 32), 0);
    EXPECT_EQ(Render(nan, out, 32), 0);
    EXPECT_EQ(unit->renderCount, 4);

    // A reset forgets the time, so the same stamp renders again.
    unit->Reset(kAudioUnitScope_Global, 0);
    EXPECT_EQ(Render(544, out, 32), 0);
    EXPECT_EQ(unit->renderCount, 5);
}

TEST_F(RenderTest, NullDataRendersIntoTheUnitsOwnMemory) {
    TestBuffers out(2, 64, 1, /*nullData=*/true);
    EXPECT_EQ(Render(0, out, 64), 0);
    const AudioBufferList& abl = out.list();
    ASSERT_NE(abl.mBuffers[0].mData, nullptr);
    ASSERT_NE(abl.mBuffers[1].mData, nullptr);
    EXPECT_EQ(abl.mBuffers[0].mDataByteSize, 64u * sizeof(float));
    EXPECT_EQ(static_cast<float*>(abl.mBuffers[1].mData)[10], RenderTestUnit::Pattern(0, 1, 10));
    // The pointers lead into the output element's own buffer.
    EXPECT_EQ(abl.mBuffers[0].mData, unit->GetOutput(0)->GetBufferList().mBuffers[0].mData);
}

TEST(RenderOwnMemory, RefusedUninitializedOrWhenTheHostSaidItAllocates) {
    UnitHolder<RenderTestUnit> unit;
    TestBuffers nullOut(2, 64, 1, true), out(2, 64);
    EXPECT_EQ(unit->RenderAt(0, out, 64), kAudioUnitErr_Uninitialized);
    EXPECT_EQ(unit->GetLastRenderError(), kAudioUnitErr_Uninitialized);
    OSStatus read = 0; // reading clears it, so the next error is kept
    ASSERT_EQ(unit->DispatchGetProperty(kAudioUnitProperty_LastRenderError, kAudioUnitScope_Global,
                                        0, &read),
              0);
    unit->GetOutput(0)->SetWillAllocateBuffer(false);
    ASSERT_EQ(unit->DoInitialize(), 0);
    EXPECT_EQ(unit->RenderAt(0, nullOut, 64), kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(unit->GetLastRenderError(), kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(unit->renderCount, 0);
    // With memory of its own the host is served as usual.
    EXPECT_EQ(unit->RenderAt(0, out, 64), 0);
    EXPECT_EQ(out.samples(0)[3], RenderTestUnit::Pattern(0, 0, 3));
}

TEST(RenderSeveralOutputs, TheCallerGetsTheSamplesInItsOwnMemory) {
    // With more than one output, the caller still receives the samples in
    // its own memory.
    UnitHolder<RenderTestUnit> unit(1u, 2u);
    ASSERT_EQ(unit->DoInitialize(), 0);
    TestBuffers out(2, 64);
    ASSERT_EQ(unit->RenderAt(256, out, 64), 0);
    EXPECT_EQ(out.list().mBuffers[0].mData, out.samples(0));
    EXPECT_EQ(out.samples(0)[7], RenderTestUnit::Pattern(256, 0, 7));
    EXPECT_EQ(out.samples(1)[63], RenderTestUnit::Pattern(256, 1, 63));
}

TEST_F(RenderTest, NotificationsBeforeAndAfterWithTheirFlags) {
    NotifyLog log;
    ASSERT_EQ(unit->SetRenderNotification(Notify<1>, &log), 0);
    ASSERT_EQ(unit->SetRenderNotification(Notify<2>, &log), 0);
    EXPECT_EQ(unit->SetRenderNotification(nullptr, &log), -50);

    TestBuffers out(2, 48);
    const AudioUnitRenderActionFlags callerFlags = kAudioOfflineUnitRenderAction_Render;
    AudioUnitRenderActionFlags flags = callerFlags;
    const AudioTimeStamp ts = SampleTime(96);
    ASSERT_EQ(unit->DoRender(flags, ts, 0, 48, out.list()), 0);
    ASSERT_EQ(log.calls.size(), 4u);
    // In order of addition, pre-render first.
    EXPECT_EQ(log.calls[0].tag, 1);
    EXPECT_EQ(log.calls[1].tag, 2);
    EXPECT_EQ(log.calls[2].tag, 1);
    EXPECT_EQ(log.calls[3].tag, 2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(log.calls[i].flags, callerFlags | kAudioUnitRenderAction_PreRender);
        EXPECT_EQ(log.calls[i + 2].flags, callerFlags | kAudioUnitRenderAction_PostRender);
        EXPECT_EQ(log.calls[i].sampleTime, 96.0);
        EXPECT_EQ(log.calls[i].frames, 48u);
        EXPECT_EQ(log.calls[i].bus, 0u);
    }
    // The notification flags are the unit's own words, not the caller's or
    // the renderer's.
    EXPECT_EQ(flags, callerFlags);
    EXPECT_EQ(unit->flagsSeenByRender, callerFlags);

    // A returned failure reaches the post-render notifications.
    log.calls.clear();
    unit->renderStatus = -12345;
    flags = 0;
    const AudioTimeStamp ts2 = SampleTime(144);
    EXPECT_EQ(unit->DoRender(flags, ts2, 0, 48, out.list()), -12345);
    ASSERT_EQ(log.calls.size(), 4u);
    EXPECT_EQ(log.calls[2].flags,
              kAudioUnitRenderAction_PostRender | kAudioUnitRenderAction_PostRenderError);
    EXPECT_EQ(unit->GetLastRenderError(), -12345);

    // A raised failure ends the call before them.
    log.calls.clear();
    unit->renderStatus = 0;
    unit->throwStatus = -4321;
    const AudioTimeStamp ts3 = SampleTime(192);
    EXPECT_EQ(unit->DoRender(flags, ts3, 0, 48, out.list()), -4321);
    ASSERT_EQ(log.calls.size(), 2u);
    EXPECT_EQ(log.calls[1].flags, kAudioUnitRenderAction_PreRender);
}

// Entries are told apart by procedure and reference together; the list's
// own rules for batches are in thread_safe_list_test.
TEST_F(RenderTest, AddingAndRemovingTakesEffectAtTheNextRender) {
    NotifyLog log, other;
    TestBuffers out(2, 16);
    unit->SetRenderNotification(Notify<1>, &log);
    unit->SetRenderNotification(Notify<1>, &log);
    unit->SetRenderNotification(Notify<1>, &other);
    unit->SetRenderNotification(Notify<2>, &other);
    EXPECT_EQ(unit->RemoveRenderNotification(Notify<2>, &log), 0); // not there: harmless
    EXPECT_EQ(unit->RemoveRenderNotification(Notify<2>, &other), 0);
    EXPECT_EQ(Render(0, out, 16), 0);
    EXPECT_EQ(log.calls.size(), 2u);
    EXPECT_EQ(other.calls.size(), 2u);
    EXPECT_EQ(unit->RemoveRenderNotification(Notify<1>, &log), 0);
    EXPECT_EQ(Render(16, out, 16), 0);
    EXPECT_EQ(log.calls.size(), 2u);
    EXPECT_EQ(other.calls.size(), 4u);
}

// Whatever the outcome, the render and its notifications run with the
// denormal modes on, and the caller gets its own control word back: modes
// already on stay on, and a change made inside is undone.
TEST_F(RenderTest, FlushToZeroForTheWholeCallAndRestoredAfterwards) {
    const unsigned plain = _mm_getcsr() & ~(kDenormalModes | kRoundTowardZero);
    NotifyLog log;
    unit->SetRenderNotification(Notify<1>, &log);
    TestBuffers out(2, 32);
    struct Case {
        const char* label;
        unsigned caller;
        bool rounding;
        OSStatus renderStatus, throwStatus;
        UInt32 frames;
        OSStatus expected;
        size_t notifications;
    };
    Float64 t = 0;
    for (const Case& c : {Case{"success", plain, false, 0, 0, 32, 0, 2},
                          Case{"modes already on", plain | kDenormalModes, true, 0, 0, 32, 0, 2},
                          Case{"rounding changed inside", plain, true, 0, 0, 32, 0, 2},
                          Case{"returned failure", plain, false, -1, 0, 32, -1, 2},
                          Case{"raised failure", plain, false, 0, -2, 32, -2, 1},
                          Case{"refused request", plain, false, 0, 0, 5000,
                               kAudioUnitErr_TooManyFramesToProcess, 0}}) {
        log.calls.clear();
        unit->mxcsrInside = 0;
        unit->changeRounding = c.rounding;
        unit->renderStatus = c.renderStatus;
        unit->throwStatus = c.throwStatus;
        OSStatus status = 0;
        EXPECT_EQ(RunUnderControlWord(c.caller, [&] { status = Render(t, out, c.frames); }),
                  c.caller)
            << c.label;
        t += 32;
        EXPECT_EQ(status, c.expected) << c.label;
        if (c.notifications != 0) {
            EXPECT_EQ(unit->mxcsrInside & kDenormalModes, kDenormalModes) << c.label;
        }
        ASSERT_EQ(log.calls.size(), c.notifications) << c.label;
        for (const NotifyCall& call : log.calls) {
            EXPECT_EQ(call.mxcsr & kDenormalModes, kDenormalModes) << c.label;
        }
    }
}

TEST_F(RenderTest, RaisedErrorsBecomeStatuses) {
    TestBuffers out(2, 16);
    // A raised 0 is success.
    unit->throwStatus = 0;
    EXPECT_EQ(Render(0, out, 16), 0);

    struct ThrowingUnit : RenderTestUnit {
        int kind = 0;
        OSStatus Render(AudioUnitRenderActionFlags&, const AudioTimeStamp&, UInt32) override {
            switch (kind) {
            case 0:
                throw CAXException("rendering", -77);
            case 1:
                throw SInt16(-33);
            case 2:
                throw std::bad_alloc();
            default:
                throw OSStatus(0);
            }
        }
    };
    UnitHolder<ThrowingUnit> thrower;
    ASSERT_EQ(thrower->DoInitialize(), 0);
    AudioUnitRenderActionFlags flags = 0;
    const OSStatus expected[] = {-77, -33, -1, 0};
    for (int kind = 0; kind < 4; ++kind) {
        thrower->kind = kind;
        const AudioTimeStamp ts = SampleTime(16.0 * kind);
        EXPECT_EQ(thrower->DoRender(flags, ts, 0, 16, out.list()), expected[kind]) << kind;
    }
    // Only the first is kept until read.
    EXPECT_EQ(thrower->GetLastRenderError(), -77);
}

} // namespace
