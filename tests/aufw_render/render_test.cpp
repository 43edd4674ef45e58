// The render entry: request checks, errors, one render per time stamp, where
// the audio goes, notifications, the floating-point mode, elements and time.
#include "RenderTestUnit.h"

#include <aufw/CAException.h>

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <new>
#include <tuple>

namespace {

// Tag, flags, sample time, bus, frames and whether the denormal modes were on.
using NotifyCall = std::tuple<int, AudioUnitRenderActionFlags, Float64, UInt32, UInt32, bool>;

template <int Tag>
OSStatus Notify(void* inRefCon, AudioUnitRenderActionFlags* ioActionFlags,
                const AudioTimeStamp* inTimeStamp, UInt32 inBusNumber, UInt32 inNumberFrames,
                AudioBufferList*) {
    static_cast<std::vector<NotifyCall>*>(inRefCon)->emplace_back(
        Tag, *ioActionFlags, inTimeStamp->mSampleTime, inBusNumber, inNumberFrames,
        (_mm_getcsr() & kDenormalModes) == kDenormalModes);
    return 0;
}

class RenderTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(unit->DoInitialize(), 0); }
    OSStatus Render(Float64 t, TestBuffers& buffers, UInt32 frames, UInt32 bus = 0) {
        return unit->RenderAt(t, buffers, frames, bus);
    }

    UnitHolder<RenderTestUnit> unit;
    std::vector<NotifyCall> log;
};

TEST_F(RenderTest, RequestChecksAndTheLastErrorRecordedOnce) {
    TestBuffers out(2, 1157), three(3, 64), small(2, 63);
    EXPECT_EQ(unit->GetMaxFramesPerSlice(), 1156u);
    EXPECT_EQ(Render(0, out, 1157), kAudioUnitErr_TooManyFramesToProcess);
    EXPECT_EQ(unit->GetLastRenderError(), kAudioUnitErr_TooManyFramesToProcess);
    // An unread error is not overwritten.
    EXPECT_EQ(Render(0, out, 64, 1), kAudioUnitErr_InvalidElement);
    EXPECT_EQ(Render(0, three, 64), -50); // one buffer per channel
    EXPECT_EQ(Render(0, small, 64), -50); // too small for the frames
    EXPECT_EQ(std::make_pair(unit->GetLastRenderError(), unit->renderCount),
              std::make_pair(OSStatus(kAudioUnitErr_TooManyFramesToProcess), 0));
    // The largest slice renders; a larger buffer is told exactly the bytes.
    EXPECT_EQ(Render(3000, out, 1156), 0);
    EXPECT_EQ(std::make_tuple(out.list().mBuffers[1].mDataByteSize, out.samples(1)[1155],
                              out.samples(1)[1156], unit->renderCount),
              std::make_tuple(1156u * 4, RenderTestUnit::Pattern(3000, 1, 1155), 0.0f, 1));
}

TEST_F(RenderTest, OneTimeStampRendersOnce) {
    ASSERT_EQ(unit->SetRenderNotification(Notify<1>, &log), 0);
    TestBuffers out(2, 32);
    EXPECT_EQ(Render(512, out, 32), 0);
    EXPECT_EQ(out.samples(1)[31], RenderTestUnit::Pattern(512, 1, 31));
    // The same time again: nothing rendered, the caller's buffers keep what
    // they hold, the notifications still run.
    std::fill_n(out.samples(0), 32, -7.0f);
    EXPECT_EQ(Render(512, out, 32), 0);
    EXPECT_EQ(std::make_tuple(unit->renderCount, out.samples(0)[5], log.size()),
              std::make_tuple(1, -7.0f, 4u));

    // A new time renders; a sample time that is not a number always does.
    EXPECT_EQ(Render(544, out, 32), 0);
    const Float64 nan = std::numeric_limits<Float64>::quiet_NaN();
    EXPECT_EQ(Render(nan, out, 32), 0);
    EXPECT_EQ(Render(nan, out, 32), 0);
    EXPECT_EQ(unit->renderCount, 4);
    // A reset forgets the time.
    unit->Reset(kAudioUnitScope_Global, 0);
    EXPECT_EQ(Render(544, out, 32), 0);
    EXPECT_EQ(unit->renderCount, 5);
}

TEST_F(RenderTest, TheUnitsOwnMemoryAndTheCallersMemory) {
    TestBuffers out(2, 64, 1, /*nullData=*/true), nullOut(2, 64, 1, true), plain(2, 64);
    EXPECT_EQ(Render(0, out, 64), 0);
    EXPECT_EQ(out.list().mBuffers[0].mData, unit->GetOutput(0)->GetBufferList().mBuffers[0].mData);
    // Refused uninitialized, or when the host said it allocates.
    UnitHolder<RenderTestUnit> other;
    EXPECT_EQ(other->RenderAt(0, plain, 64), kAudioUnitErr_Uninitialized);
    OSStatus read = 0; // reading clears it, so the next error is kept
    ASSERT_EQ(other->DispatchGetProperty(kAudioUnitProperty_LastRenderError, kAudioUnitScope_Global,
                                         0, &read),
              0);
    EXPECT_EQ(read, kAudioUnitErr_Uninitialized);
    other->GetOutput(0)->SetWillAllocateBuffer(false);
    ASSERT_EQ(other->DoInitialize(), 0);
    EXPECT_EQ(other->RenderAt(0, nullOut, 64), kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(std::make_pair(other->GetLastRenderError(), other->renderCount),
              std::make_pair(OSStatus(kAudioUnitErr_InvalidPropertyValue), 0));
    EXPECT_EQ(other->RenderAt(0, plain, 64), 0);
    EXPECT_EQ(plain.samples(0)[3], RenderTestUnit::Pattern(0, 0, 3));

    // With several outputs the caller still gets the samples in its memory.
    UnitHolder<RenderTestUnit> two(1u, 2u);
    ASSERT_EQ(two->DoInitialize(), 0);
    ASSERT_EQ(two->RenderAt(256, plain, 64), 0);
    EXPECT_EQ(
        std::make_pair(plain.list().mBuffers[0].mData, plain.samples(1)[63]),
        std::make_pair(static_cast<void*>(plain.samples(0)), RenderTestUnit::Pattern(256, 1, 63)));
}

TEST_F(RenderTest, NotificationsBeforeAndAfterWithTheirFlags) {
    std::vector<NotifyCall> other;
    ASSERT_EQ(unit->SetRenderNotification(Notify<1>, &log), 0);
    ASSERT_EQ(unit->SetRenderNotification(Notify<1>, &log), 0); // the same again: once
    ASSERT_EQ(unit->SetRenderNotification(Notify<2>, &log), 0);
    EXPECT_EQ(unit->SetRenderNotification(nullptr, &log), -50);
    // Told apart by procedure and reference together.
    ASSERT_EQ(unit->SetRenderNotification(Notify<1>, &other), 0);
    ASSERT_EQ(unit->SetRenderNotification(Notify<2>, &other), 0);
    EXPECT_EQ(unit->RemoveRenderNotification(Notify<2>, &other), 0);

    TestBuffers out(2, 48);
    const AudioUnitRenderActionFlags callerFlags = kAudioOfflineUnitRenderAction_Render;
    AudioUnitRenderActionFlags flags = callerFlags;
    ASSERT_EQ(unit->DoRender(flags, SampleTime(96), 0, 48, out.list()), 0);
    const auto pre = callerFlags | kAudioUnitRenderAction_PreRender;
    const auto post = callerFlags | kAudioUnitRenderAction_PostRender;
    // In order of addition, pre-render first.
    EXPECT_EQ(log, (std::vector<NotifyCall>{{1, pre, 96.0, 0, 48, true},
                                            {2, pre, 96.0, 0, 48, true},
                                            {1, post, 96.0, 0, 48, true},
                                            {2, post, 96.0, 0, 48, true}}));
    // The notification flags are the unit's own words, not the caller's or
    // the renderer's.
    EXPECT_EQ(std::make_tuple(other.size(), flags, unit->flagsSeenByRender),
              std::make_tuple(2u, callerFlags, callerFlags));

    // A returned failure reaches the post-render notifications; a raised
    // one ends the call before them. Removal applies at the next render.
    log.clear();
    unit->renderStatus = -12345;
    flags = 0;
    EXPECT_EQ(unit->DoRender(flags, SampleTime(144), 0, 48, out.list()), -12345);
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(
        std::make_pair(std::get<1>(log[2]), unit->GetLastRenderError()),
        std::make_pair(kAudioUnitRenderAction_PostRender | kAudioUnitRenderAction_PostRenderError,
                       -12345));
    log.clear();
    unit->inside = [] { throw OSStatus(-4321); };
    EXPECT_EQ(unit->RemoveRenderNotification(Notify<1>, &log), 0);
    EXPECT_EQ(unit->DoRender(flags, SampleTime(192), 0, 48, out.list()), -4321);
    EXPECT_EQ(log,
              (std::vector<NotifyCall>{{2, kAudioUnitRenderAction_PreRender, 192, 0, 48, true}}));
}

// Whatever the outcome, the render and its notifications run with the
// denormal modes on, the caller gets its own control word back, and what the
// render raises becomes its status; only the first error is kept until read.
TEST_F(RenderTest, FlushToZeroForTheWholeCallAndRaisedErrorsBecomeStatuses) {
    const unsigned plain = _mm_getcsr() & ~(kDenormalModes | kRoundTowardZero);
    unit->SetRenderNotification(Notify<1>, &log);
    TestBuffers out(2, 32);
    const auto rounding = [] { _mm_setcsr(_mm_getcsr() | kRoundTowardZero); };
    const struct {
        const char* label;
        unsigned caller;
        std::function<void()> inside;
        OSStatus renderStatus, expected;
        size_t notifications; // none: the request (5000 frames) is refused
    } cases[] = {
        {"success", plain, nullptr, 0, 0, 2},
        {"modes already on", plain | kDenormalModes, rounding, 0, 0, 2},
        {"rounding changed inside", plain, rounding, 0, 0, 2},
        {"returned failure", plain, nullptr, -1, -1, 2},
        {"raised status", plain, [] { throw OSStatus(-2); }, 0, -2, 1},
        {"raised exception", plain, [] { throw CAXException("rendering", -77); }, 0, -77, 1},
        {"raised short", plain, [] { throw SInt16(-33); }, 0, -33, 1},
        {"out of memory", plain, [] { throw std::bad_alloc(); }, 0, -1, 1},
        {"raised success", plain, [] { throw OSStatus(0); }, 0, 0, 1},
        {"refused request", plain, nullptr, 0, kAudioUnitErr_TooManyFramesToProcess, 0}};
    Float64 t = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        log.clear();
        unit->mxcsrInside = 0;
        unit->inside = c.inside;
        unit->renderStatus = c.renderStatus;
        OSStatus status = 0;
        EXPECT_EQ(
            RunUnderControlWord(
                c.caller, [&] { status = Render(t += 32, out, c.notifications ? 32 : 5000); }),
            c.caller);
        EXPECT_EQ(
            std::make_tuple(status, unit->mxcsrInside & kDenormalModes, log.size()),
            std::make_tuple(c.expected, c.notifications ? kDenormalModes : 0u, c.notifications));
        for (const NotifyCall& call : log) {
            EXPECT_TRUE(std::get<5>(call));
        }
    }
    EXPECT_EQ(unit->GetLastRenderError(), -1);
}

// Element 0 of either I/O scope of a derived class; element 1 a plain
// element, which is no I/O element at all.
class DerivedElementsUnit : public RenderTestUnit {
public:
    struct Input : AUInputElement {
        using AUInputElement::AUInputElement;
    };
    struct Output : AUOutputElement {
        using AUOutputElement::AUOutputElement;
    };
    DerivedElementsUnit() : RenderTestUnit(2, 2) {}
    AUElement* CreateElement(AudioUnitScope inScope, AudioUnitElement inElement) override {
        const bool io = inScope == kAudioUnitScope_Input || inScope == kAudioUnitScope_Output;
        if (io && inElement == 1) {
            return new AUElement(this);
        } else if (io) {
            return inScope == kAudioUnitScope_Input ? static_cast<AUElement*>(new Input(this))
                                                    : new Output(this);
        }
        return RenderTestUnit::CreateElement(inScope, inElement);
    }
};

TEST(RenderPath, ElementLookupsAnswerTheirClassDerivedClassesAndNothingElse) {
    UnitHolder<DerivedElementsUnit> derived;
    EXPECT_EQ(static_cast<AUElement*>(derived->GetInput(0)), derived->Inputs().GetElement(0));
    EXPECT_EQ(static_cast<AUElement*>(derived->GetOutput(0)), derived->Outputs().GetElement(0));
    EXPECT_TRUE(derived->GetInput(1) == nullptr && derived->GetOutput(1) == nullptr);
}

TEST(RenderPath, RenderFollowsTheOutputElementOfTheCurrentInitialization) {
    UnitHolder<RenderTestUnit> unit;
    ASSERT_EQ(unit->DoInitialize(), 0);
    TestBuffers stereo(2, 32), single(1, 32);
    // The rendered time stamp is kept whole, the reserved word too.
    AudioTimeStamp ts;
    std::memset(&ts, 0xA5, sizeof ts);
    ts.mSampleTime = 4096;
    AudioUnitRenderActionFlags flags = 0;
    ASSERT_EQ(unit->DoRender(flags, ts, 0, 32, stereo.list()), 0);
    const AudioTimeStamp kept = unit->CurrentRenderTime();
    EXPECT_EQ(std::memcmp(&kept, &ts, sizeof ts), 0);
    unit->ResetRenderTime();
    const AudioTimeStamp reset = unit->CurrentRenderTime();
    EXPECT_EQ(std::tie(reset.mSampleTime, reset.mHostTime, reset.mReserved),
              std::make_tuple(-1.0, 0ull, 0u));

    // An element replaced while uninitialized is the one used next.
    unit->DoCleanup();
    unit->SetNumberOfElements(kAudioUnitScope_Output, 0);
    unit->SetNumberOfElements(kAudioUnitScope_Output, 1);
    CAStreamBasicDescription mono = unit->GetOutput(0)->GetStreamFormat();
    mono.ChangeNumberChannels(1, false);
    ASSERT_EQ(unit->GetOutput(0)->SetStreamFormat(mono), 0);
    ASSERT_EQ(unit->DoInitialize(), 0);
    EXPECT_EQ(unit->RenderAt(32, stereo, 32), -50);
    ASSERT_EQ(unit->RenderAt(64, single, 32), 0);
    EXPECT_EQ(single.samples(0)[5], RenderTestUnit::Pattern(64, 0, 5));
    // Without output elements the render finds none.
    unit->DoCleanup();
    unit->SetNumberOfElements(kAudioUnitScope_Output, 0);
    ASSERT_EQ(unit->DoInitialize(), 0);
    EXPECT_EQ(unit->RenderAt(96, single, 32), kAudioUnitErr_InvalidElement);
}

} // namespace
