// Scheduled parameters: immediate events applied when scheduled, every event
// kept for one cycle, and the cycle cut into slices at event boundaries with
// each slice seeing its part of the ramps.
#include "RenderTestUnit.h"

#include <gtest/gtest.h>

namespace {

AudioUnitParameterEvent Immediate(AudioUnitParameterID id, UInt32 offset, float value,
                                  AudioUnitElement element = 0) {
    AudioUnitParameterEvent e{kAudioUnitScope_Global, element, id, kParameterEvent_Immediate, {}};
    e.eventValues.immediate = {offset, value};
    return e;
}

AudioUnitParameterEvent Ramp(AudioUnitParameterID id, SInt32 offset, UInt32 duration, float from,
                             float to) {
    AudioUnitParameterEvent e{kAudioUnitScope_Global, 0, id, kParameterEvent_Ramped, {}};
    e.eventValues.ramp = {offset, duration, from, to};
    return e;
}

class ScheduledTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Map-mode parameters exist once set before initialization.
        unit->Globals0()->SetParameter(0, 0.0f);
        unit->Globals0()->SetParameter(1, 0.0f);
        ASSERT_EQ(unit->DoInitialize(), 0);
    }

    OSStatus RenderCycle(UInt32 frames) {
        TestBuffers out(2, frames);
        mTime += frames;
        return unit->RenderAt(mTime - frames, out, frames);
    }

    std::vector<std::pair<UInt32, UInt32>> SliceBounds() const {
        std::vector<std::pair<UInt32, UInt32>> bounds;
        for (const auto& s : unit->slices) {
            bounds.emplace_back(s.start, s.start + s.frames);
        }
        return bounds;
    }

    UnitHolder<RenderTestUnit> unit;
    Float64 mTime = 0;
};

using Bounds = std::vector<std::pair<UInt32, UInt32>>;

TEST_F(ScheduledTest, ThreeSlicesForAnImmediateAtZeroAndARampInTheMiddle) {
    const AudioUnitParameterEvent events[] = {Ramp(1, 100, 200, 0.0f, 1.0f),
                                              Immediate(0, 0, 0.25f)};
    ASSERT_EQ(unit->ScheduleParameter(events, 2), 0);
    // The immediate event is applied at once.
    AudioUnitParameterValue value = -1;
    ASSERT_EQ(unit->GetParameter(0, kAudioUnitScope_Global, 0, value), 0);
    EXPECT_EQ(value, 0.25f);
    EXPECT_TRUE(unit->HasScheduledParameterEvents());

    ASSERT_EQ(RenderCycle(512), 0);
    EXPECT_EQ(SliceBounds(), (Bounds{{0, 100}, {100, 300}, {300, 512}}));
    ASSERT_EQ(unit->slices.size(), 3u);
    for (const auto& s : unit->slices) {
        EXPECT_EQ(s.total, 512u);
        EXPECT_EQ(s.p0Start, 0.25f);
        EXPECT_EQ(s.p0End, 0.25f);
    }
    // Before the ramp the parameter holds its value; within it, the slice
    // covers the whole ramp.
    EXPECT_EQ(unit->slices[0].p1Start, 0.0f);
    EXPECT_EQ(unit->slices[0].p1End, 0.0f);
    EXPECT_FLOAT_EQ(unit->slices[1].p1Start, 0.0f);
    EXPECT_FLOAT_EQ(unit->slices[1].p1End, 1.0f);
    EXPECT_EQ(unit->userDataSeen, unit.unit);

    // The events lived for that one cycle.
    EXPECT_FALSE(unit->HasScheduledParameterEvents());
    unit->slices.clear();
    ASSERT_EQ(RenderCycle(512), 0);
    EXPECT_TRUE(unit->slices.empty());
}

TEST_F(ScheduledTest, OneSliceWithoutEventsAndCutsAtEveryBoundary) {
    std::vector<AudioUnitParameterEvent> none;
    ASSERT_EQ(unit->ProcessForScheduledParams(none, 256, nullptr), 0);
    EXPECT_EQ(SliceBounds(), (Bounds{{0, 256}}));

    // A ramp that began before the cycle ends inside it; an immediate event
    // later on starts a slice; an event beyond the cycle changes nothing.
    unit->slices.clear();
    const AudioUnitParameterEvent events[] = {
        Immediate(0, 200, 0.75f), Ramp(1, -64, 128, 0.0f, 1.0f), Immediate(0, 600, 0.9f)};
    ASSERT_EQ(unit->ScheduleParameter(events, 3), 0);
    ASSERT_EQ(RenderCycle(256), 0);
    EXPECT_EQ(SliceBounds(), (Bounds{{0, 64}, {64, 200}, {200, 256}}));
    // The ramp is half done when the cycle starts.
    EXPECT_FLOAT_EQ(unit->slices[0].p1Start, 0.5f);
    EXPECT_FLOAT_EQ(unit->slices[0].p1End, 1.0f);
    // The later immediate value takes over from its slice on (it was set
    // at scheduling time, so the slices before it see it too).
    EXPECT_EQ(unit->slices[2].p0Start, 0.75f);
}

TEST_F(ScheduledTest, EventsAreSortedByOffsetAndLaterOnesWin) {
    // Out of order, and two values for one parameter in one slice.
    const AudioUnitParameterEvent events[] = {Ramp(1, 300, 100, 1.0f, 0.0f),
                                              Ramp(1, 50, 50, 0.0f, 1.0f)};
    ASSERT_EQ(unit->ScheduleParameter(events, 2), 0);
    ASSERT_EQ(RenderCycle(512), 0);
    EXPECT_EQ(SliceBounds(), (Bounds{{0, 50}, {50, 100}, {100, 300}, {300, 400}, {400, 512}}));
    EXPECT_FLOAT_EQ(unit->slices[1].p1Start, 0.0f);
    EXPECT_FLOAT_EQ(unit->slices[1].p1End, 1.0f);
    EXPECT_FLOAT_EQ(unit->slices[3].p1Start, 1.0f);
    EXPECT_FLOAT_EQ(unit->slices[3].p1End, 0.0f);
}

TEST_F(ScheduledTest, AFailingSliceEndsTheCycle) {
    const AudioUnitParameterEvent events[] = {Immediate(0, 128, 1.0f), Immediate(0, 256, 2.0f)};
    ASSERT_EQ(unit->ScheduleParameter(events, 2), 0);
    unit->failSliceNumber = 2;
    unit->sliceFailure = -9999;
    EXPECT_EQ(RenderCycle(512), -9999);
    EXPECT_EQ(unit->slices.size(), 2u);
    EXPECT_EQ(unit->GetLastRenderError(), -9999);
    // A returned failure still ends the cycle normally.
    EXPECT_FALSE(unit->HasScheduledParameterEvents());
}

TEST_F(ScheduledTest, ElementsThatAreMissingAreSkippedAndUnknownScopesRaise) {
    const AudioUnitParameterEvent missing[] = {Ramp(1, 10, 10, 0.0f, 1.0f)};
    AudioUnitParameterEvent onMissingElement = missing[0];
    onMissingElement.element = 5;
    ASSERT_EQ(unit->ScheduleParameter(&onMissingElement, 1), 0);
    EXPECT_EQ(RenderCycle(64), 0);
    EXPECT_EQ(SliceBounds(), (Bounds{{0, 10}, {10, 20}, {20, 64}}));

    // A scope the unit does not have ends the render with its error; the
    // events stay, as the cycle did not complete.
    AudioUnitParameterEvent onBadScope = missing[0];
    onBadScope.scope = 9;
    ASSERT_EQ(unit->ScheduleParameter(&onBadScope, 1), 0);
    EXPECT_EQ(RenderCycle(64), kAudioUnitErr_InvalidScope);
    EXPECT_EQ(unit->GetLastRenderError(), kAudioUnitErr_InvalidScope);
    EXPECT_TRUE(unit->HasScheduledParameterEvents());

    // Scheduling an immediate value for a missing element raises at once.
    const AudioUnitParameterEvent bad = Immediate(0, 0, 1.0f, 3);
    EXPECT_THROW(unit->ScheduleParameter(&bad, 1), OSStatus);
    EXPECT_EQ(unit->ScheduleParameter(nullptr, 1), -50);
    EXPECT_EQ(unit->ScheduleParameter(nullptr, 0), 0);
}

} // namespace
