// In-place and multi-bus processing, and scheduled parameters: immediate
// events applied when scheduled, every event kept for one cycle, and the
// cycle cut into slices at event boundaries, each seeing its part of the
// ramps.
#include "RenderTestUnit.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

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

class ScheduledTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Map-mode parameters exist once set before initialization.
        unit->Globals0()->SetParameter(0, 0.0f);
        unit->Globals0()->SetParameter(1, 0.0f);
        ASSERT_EQ(unit->DoInitialize(), 0);
    }
    // Schedules the events, renders one cycle and returns its slices as
    // "start-end p0 from>to p1 from>to" (%g: six significant digits).
    std::string Cycle(std::vector<AudioUnitParameterEvent> events, UInt32 frames,
                      OSStatus expected = 0) {
        unit->slices.clear();
        EXPECT_EQ(unit->ScheduleParameter(events.data(), UInt32(events.size())), 0);
        TestBuffers out(2, frames);
        mTime += frames;
        EXPECT_EQ(unit->RenderAt(mTime - frames, out, frames), expected);
        std::string text;
        for (const auto& s : unit->slices) {
            char slice[96];
            std::snprintf(slice, sizeof slice, "%s%u-%u p0 %g>%g p1 %g>%g",
                          text.empty() ? "" : ", ", s.start, s.start + s.frames, s.p0Start, s.p0End,
                          s.p1Start, s.p1End);
            text += slice;
            EXPECT_EQ(s.total, frames);
        }
        return text;
    }

    UnitHolder<RenderTestUnit> unit;
    Float64 mTime = 0;
};

TEST_F(ScheduledTest, SlicesAtEveryBoundaryEachSeeingItsPartOfTheRamps) {
    // The immediate event is applied at once; the ramp cuts twice. Before
    // the ramp the parameter holds its value; within it, the slice covers
    // the whole ramp, and after it the ramp stays the parameter's event.
    const AudioUnitParameterEvent events[] = {Ramp(1, 100, 200, 0.0f, 1.0f),
                                              Immediate(0, 0, 0.25f)};
    ASSERT_EQ(unit->ScheduleParameter(events, 2), 0);
    EXPECT_EQ(unit->Globals0()->GetParameter(0), 0.25f);
    EXPECT_EQ(Cycle({}, 512), "0-100 p0 0.25>0.25 p1 0>0, 100-300 p0 0.25>0.25 p1 0>1, "
                              "300-512 p0 0.25>0.25 p1 0>1");
    EXPECT_EQ(unit->userDataSeen, unit.unit);
    // The events lived for that one cycle; without events there is one slice.
    EXPECT_EQ(Cycle({}, 512), "");
    std::vector<AudioUnitParameterEvent> none;
    ASSERT_EQ(unit->ProcessForScheduledParams(none, 256, nullptr), 0);
    ASSERT_EQ(unit->slices.size(), 1u);
    EXPECT_EQ(unit->slices[0].frames, 256u);

    // A ramp that began before the cycle ends inside it, half done at the
    // start; an immediate event beyond the cycle is applied when scheduled
    // but cuts nothing, and each slice takes the immediates up to its start.
    EXPECT_EQ(
        Cycle({Immediate(0, 200, 0.75f), Ramp(1, -64, 128, 0.0f, 1.0f), Immediate(0, 600, 0.9f)},
              256),
        "0-64 p0 0.9>0.9 p1 0.5>1, 64-200 p0 0.9>0.9 p1 0.5>1, 200-256 p0 0.75>0.75 p1 0.5>1");
    // Sorted by offset; later events win; a slice before any ramp of the
    // cycle still sees the last one.
    EXPECT_EQ(
        Cycle({Ramp(1, 300, 100, 1.0f, 0.0f), Ramp(1, 50, 50, 0.0f, 1.0f)}, 512),
        "0-50 p0 0.75>0.75 p1 0.5>1, 50-100 p0 0.75>0.75 p1 0>1, 100-300 p0 0.75>0.75 p1 0>1, "
        "300-400 p0 0.75>0.75 p1 1>0, 400-512 p0 0.75>0.75 p1 1>0");
}

TEST_F(ScheduledTest, FailuresMissingElementsAndUnknownScopes) {
    // A failing slice ends the cycle, which still ends normally.
    unit->failSliceNumber = 2;
    unit->sliceFailure = -9999;
    Cycle({Immediate(0, 128, 1.0f), Immediate(0, 256, 2.0f)}, 512, -9999);
    EXPECT_EQ(unit->slices.size(), 2u);
    EXPECT_EQ(unit->GetLastRenderError(), -9999);
    EXPECT_FALSE(unit->HasScheduledParameterEvents());
    unit->failSliceNumber = 0;

    // An event on a missing element is skipped, yet still cuts.
    AudioUnitParameterEvent event = Ramp(1, 10, 10, 0.0f, 1.0f);
    event.element = 5;
    EXPECT_EQ(Cycle({event}, 64), "0-10 p0 1>1 p1 0>0, 10-20 p0 1>1 p1 0>0, 20-64 p0 1>1 p1 0>0");
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
