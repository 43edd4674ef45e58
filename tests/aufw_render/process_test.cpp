// In-place and multi-bus processing, and scheduled parameters: immediate
// events applied when scheduled, every event kept for one cycle, and the
// cycle cut into slices at event boundaries, each seeing its part of the
// ramps.
#include "RenderTestUnit.h"

#include <gtest/gtest.h>

namespace {

TEST(DoProcess, ChecksTheRequestAgainstInputZeroUnlessToldNotTo) {
    UnitHolder<RenderTestUnit> unit;
    TestBuffers io(2, 64), one(1, 64), roomy(2, 100);
    AudioUnitRenderActionFlags flags = kAudioUnitRenderAction_DoNotCheckRenderArgs;
    EXPECT_EQ(unit->DoProcess(flags, SampleTime(1e6), 5000, one.list()), 0);
    EXPECT_EQ(unit->processFrames, 5000u);
    EXPECT_EQ(unit->GetLastRenderError(), 0);
    flags = 0;
    EXPECT_EQ(unit->DoProcess(flags, SampleTime(0), 64, io.list()), kAudioUnitErr_Uninitialized);
    EXPECT_EQ(unit->GetLastRenderError(), kAudioUnitErr_Uninitialized);
    ASSERT_EQ(unit->DoInitialize(), 0);
    EXPECT_EQ(unit->DoProcess(flags, SampleTime(0), 2000, io.list()),
              kAudioUnitErr_TooManyFramesToProcess);
    EXPECT_EQ(unit->DoProcess(flags, SampleTime(0), 64, one.list()), -50);
    EXPECT_EQ(unit->processCount, 1);

    const unsigned plain = _mm_getcsr() & ~kDenormalModes;
    OSStatus status = -1;
    EXPECT_EQ(RunUnderControlWord(
                  plain, [&] { status = unit->DoProcess(flags, SampleTime(0), 64, roomy.list()); }),
              plain);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(unit->mxcsrInside & kDenormalModes, kDenormalModes);
    // In place: the same list both ways, sized to the frames.
    EXPECT_EQ(unit->processIn, &roomy.list());
    EXPECT_EQ(unit->processOut, &roomy.list());
    EXPECT_EQ(roomy.list().mBuffers[1].mDataByteSize, 64u * sizeof(float));
    // The same time stamp again is not processed; a failure is returned.
    EXPECT_EQ(unit->DoProcess(flags, SampleTime(0), 64, roomy.list()), 0);
    EXPECT_EQ(unit->processCount, 2);
    unit->processStatus = -321;
    EXPECT_EQ(unit->DoProcess(flags, SampleTime(64), 64, roomy.list()), -321);
}

TEST(DoProcessMultiple, ChecksNullListsAndWhichHookItReaches) {
    UnitHolder<RenderTestUnit> unit(2u, 2u);
    TestBuffers in0(2, 32), in1(2, 32), out0(2, 32), out1(2, 32), bigIn(2, 64), bigOut(2, 64);
    TestBuffers nullIn(2, 32, 1, true), nullOut(2, 32, 1, true), shortIn(2, 16), threeOut(3, 32);
    AudioUnitRenderActionFlags flags = kAudioUnitRenderAction_DoNotCheckRenderArgs;
    Float64 t = 0;
    auto call = [&](std::vector<const AudioBufferList*> in, std::vector<AudioBufferList*> out) {
        t += 32;
        return unit->DoProcessMultiple(flags, SampleTime(t), 32, UInt32(in.size()), in.data(),
                                       UInt32(out.size()), out.data());
    };
    // Unchecked, even uninitialized; one call per time stamp.
    EXPECT_EQ(call({&nullIn.list(), nullptr}, {&out0.list(), nullptr}), 0);
    t -= 32;
    EXPECT_EQ(call({&nullIn.list(), nullptr}, {&out0.list(), nullptr}), 0);
    EXPECT_EQ(unit->multipleCount, 1);
    // Arrays that are not there at all are refused whatever the flags.
    EXPECT_EQ(unit->DoProcessMultiple(flags, SampleTime(0), 32, 1, nullptr, 1, nullptr), -50);

    flags = 0;
    ASSERT_EQ(unit->DoInitialize(), 0);
    // An input buffer without data is refused; an output one is accepted.
    EXPECT_EQ(call({&nullIn.list(), &in1.list()}, {&out0.list(), &out1.list()}), -50);
    EXPECT_EQ(unit->multipleCount, 1);
    EXPECT_EQ(call({&in0.list(), &in1.list()}, {&nullOut.list(), &out1.list()}), 0);
    EXPECT_EQ(unit->multipleCount, 2);
    EXPECT_EQ(unit->multipleLists, (std::pair<UInt32, UInt32>{2, 2}));
    // Output sizes are set to the frames; input sizes are left as they are.
    EXPECT_EQ(call({&bigIn.list(), nullptr}, {&bigOut.list(), nullptr}), 0);
    EXPECT_EQ(bigIn.list().mBuffers[0].mDataByteSize, 64u * sizeof(float));
    EXPECT_EQ(bigOut.list().mBuffers[0].mDataByteSize, 32u * sizeof(float));
    // Absent lists are skipped by the checks; a short buffer, a wrong count
    // or a missing element are refused.
    EXPECT_EQ(call({nullptr, &in1.list()}, {nullptr, &out1.list()}), 0);
    EXPECT_EQ(call({&shortIn.list()}, {&out0.list()}), -50);
    EXPECT_EQ(call({&in0.list()}, {&threeOut.list()}), -50);
    EXPECT_EQ(call({&in0.list(), &in1.list(), &in0.list()}, {&out0.list()}),
              kAudioUnitErr_InvalidElement);
    EXPECT_EQ(call({&in0.list()}, {&out0.list(), &out1.list(), &out0.list()}),
              kAudioUnitErr_InvalidElement);

    // One list each way goes to ProcessBufferLists, and needs both.
    EXPECT_EQ(call({&in0.list()}, {&out1.list()}), 0);
    EXPECT_EQ(unit->processCount, 1);
    EXPECT_EQ(unit->processIn, &in0.list());
    EXPECT_EQ(unit->processOut, &out1.list());
    EXPECT_EQ(call({nullptr}, {&out1.list()}), -50);
    EXPECT_EQ(call({&in0.list()}, {&out0.list(), nullptr}), 0);
    EXPECT_EQ(unit->multipleLists, (std::pair<UInt32, UInt32>{1, 2}));
}

using Bounds = std::vector<std::pair<UInt32, UInt32>>;

class ScheduledTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Map-mode parameters exist once set before initialization.
        unit->Globals0()->SetParameter(0, 0.0f);
        unit->Globals0()->SetParameter(1, 0.0f);
        ASSERT_EQ(unit->DoInitialize(), 0);
    }
    // Schedules the events, renders one cycle and returns its slices.
    Bounds Cycle(std::vector<AudioUnitParameterEvent> events, UInt32 frames,
                 OSStatus expected = 0) {
        unit->slices.clear();
        EXPECT_EQ(unit->ScheduleParameter(events.data(), UInt32(events.size())), 0);
        TestBuffers out(2, frames);
        mTime += frames;
        EXPECT_EQ(unit->RenderAt(mTime - frames, out, frames), expected);
        Bounds bounds;
        for (const auto& s : unit->slices) {
            EXPECT_EQ(s.total, frames);
            bounds.emplace_back(s.start, s.start + s.frames);
        }
        return bounds;
    }
    const RenderTestUnit::Slice& Slice(size_t i) { return unit->slices.at(i); }

    UnitHolder<RenderTestUnit> unit;
    Float64 mTime = 0;
};

TEST_F(ScheduledTest, SlicesAtEveryBoundaryEachSeeingItsPartOfTheRamps) {
    // The immediate event is applied at once; the ramp cuts twice.
    const AudioUnitParameterEvent events[] = {Ramp(1, 100, 200, 0.0f, 1.0f),
                                              Immediate(0, 0, 0.25f)};
    ASSERT_EQ(unit->ScheduleParameter(events, 2), 0);
    EXPECT_EQ(unit->Globals0()->GetParameter(0), 0.25f);
    EXPECT_EQ(Cycle({}, 512), (Bounds{{0, 100}, {100, 300}, {300, 512}}));
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(Slice(i).p0Start, 0.25f);
        EXPECT_EQ(Slice(i).p0End, 0.25f);
    }
    // Before the ramp the parameter holds its value; within it, the slice
    // covers the whole ramp.
    EXPECT_EQ(Slice(0).p1End, 0.0f);
    EXPECT_FLOAT_EQ(Slice(1).p1Start, 0.0f);
    EXPECT_FLOAT_EQ(Slice(1).p1End, 1.0f);
    EXPECT_EQ(unit->userDataSeen, unit.unit);
    // The events lived for that one cycle; without events there is one slice.
    EXPECT_EQ(Cycle({}, 512), Bounds{});
    std::vector<AudioUnitParameterEvent> none;
    ASSERT_EQ(unit->ProcessForScheduledParams(none, 256, nullptr), 0);
    EXPECT_EQ(unit->slices.size(), 1u);
    EXPECT_EQ(Slice(0).frames, 256u);

    // A ramp that began before the cycle ends inside it, half done at the
    // start; an event beyond the cycle changes nothing.
    EXPECT_EQ(
        Cycle({Immediate(0, 200, 0.75f), Ramp(1, -64, 128, 0.0f, 1.0f), Immediate(0, 600, 0.9f)},
              256),
        (Bounds{{0, 64}, {64, 200}, {200, 256}}));
    EXPECT_FLOAT_EQ(Slice(0).p1Start, 0.5f);
    EXPECT_FLOAT_EQ(Slice(0).p1End, 1.0f);

    // Sorted by offset; later events win.
    EXPECT_EQ(Cycle({Ramp(1, 300, 100, 1.0f, 0.0f), Ramp(1, 50, 50, 0.0f, 1.0f)}, 512),
              (Bounds{{0, 50}, {50, 100}, {100, 300}, {300, 400}, {400, 512}}));
    EXPECT_FLOAT_EQ(Slice(1).p1Start, 0.0f);
    EXPECT_FLOAT_EQ(Slice(1).p1End, 1.0f);
    EXPECT_FLOAT_EQ(Slice(3).p1Start, 1.0f);
    EXPECT_FLOAT_EQ(Slice(3).p1End, 0.0f);
}

TEST_F(ScheduledTest, FailuresMissingElementsAndUnknownScopes) {
    // A failing slice ends the cycle, which still ends normally.
    unit->failSliceNumber = 2;
    unit->sliceFailure = -9999;
    EXPECT_EQ(Cycle({Immediate(0, 128, 1.0f), Immediate(0, 256, 2.0f)}, 512, -9999).size(), 2u);
    EXPECT_EQ(unit->GetLastRenderError(), -9999);
    EXPECT_FALSE(unit->HasScheduledParameterEvents());
    unit->failSliceNumber = 0;

    // An event on a missing element is skipped, yet still cuts.
    AudioUnitParameterEvent event = Ramp(1, 10, 10, 0.0f, 1.0f);
    event.element = 5;
    EXPECT_EQ(Cycle({event}, 64), (Bounds{{0, 10}, {10, 20}, {20, 64}}));
    // A scope the unit does not have ends the render with its error; the
    // events stay, as the cycle did not complete.
    event.scope = 9;
    Cycle({event}, 64, kAudioUnitErr_InvalidScope);
    EXPECT_TRUE(unit->HasScheduledParameterEvents());

    // Scheduling an immediate value for a missing element raises at once.
    const AudioUnitParameterEvent bad = Immediate(0, 0, 1.0f, 3);
    EXPECT_THROW(unit->ScheduleParameter(&bad, 1), OSStatus);
    EXPECT_EQ(unit->ScheduleParameter(nullptr, 1), -50);
    EXPECT_EQ(unit->ScheduleParameter(nullptr, 0), 0);
}

} // namespace
