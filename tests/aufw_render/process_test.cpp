// In-place and multi-bus processing: the checks they make (and skip), their
// one-call-per-time-stamp rule, and which hook they reach.
#include "RenderTestUnit.h"

#include <gtest/gtest.h>

namespace {

TEST(DoProcess, ChecksTheRequestAgainstInputZero) {
    UnitHolder<RenderTestUnit> unit;
    TestBuffers io(2, 64);
    AudioUnitRenderActionFlags flags = 0;
    const AudioTimeStamp ts = SampleTime(0);
    EXPECT_EQ(unit->DoProcess(flags, ts, 64, io.list()), kAudioUnitErr_Uninitialized);
    EXPECT_EQ(unit->GetLastRenderError(), kAudioUnitErr_Uninitialized);
    ASSERT_EQ(unit->DoInitialize(), 0);
    EXPECT_EQ(unit->DoProcess(flags, ts, 2000, io.list()), kAudioUnitErr_TooManyFramesToProcess);
    TestBuffers one(1, 64);
    EXPECT_EQ(unit->DoProcess(flags, ts, 64, one.list()), -50);
    EXPECT_EQ(unit->processCount, 0);

    TestBuffers roomy(2, 100);
    const unsigned plain = _mm_getcsr() & ~kDenormalModes;
    OSStatus status = -1;
    EXPECT_EQ(
        RunUnderControlWord(plain, [&] { status = unit->DoProcess(flags, ts, 64, roomy.list()); }),
        plain);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(unit->mxcsrInside & kDenormalModes, kDenormalModes);
    EXPECT_EQ(unit->processCount, 1);
    // In place: the same list both ways, sized to the frames.
    EXPECT_EQ(unit->processIn, &roomy.list());
    EXPECT_EQ(unit->processOut, &roomy.list());
    EXPECT_EQ(roomy.list().mBuffers[1].mDataByteSize, 64u * sizeof(float));

    // The same time stamp again is not processed; a failure is recorded.
    EXPECT_EQ(unit->DoProcess(flags, ts, 64, roomy.list()), 0);
    EXPECT_EQ(unit->processCount, 1);
    unit->processStatus = -321;
    const AudioTimeStamp next = SampleTime(64);
    EXPECT_EQ(unit->DoProcess(flags, next, 64, roomy.list()), -321);
}

TEST(DoProcess, DoNotCheckSkipsEveryCheckEvenUninitialized) {
    UnitHolder<RenderTestUnit> unit;
    TestBuffers one(1, 8);
    AudioUnitRenderActionFlags flags = kAudioUnitRenderAction_DoNotCheckRenderArgs;
    const AudioTimeStamp ts = SampleTime(0);
    EXPECT_EQ(unit->DoProcess(flags, ts, 5000, one.list()), 0);
    EXPECT_EQ(unit->processCount, 1);
    EXPECT_EQ(unit->processFrames, 5000u);
    EXPECT_EQ(unit->GetLastRenderError(), 0);
}

TEST(DoProcessMultiple, NullPointerRules) {
    UnitHolder<RenderTestUnit> unit(2u, 2u);
    ASSERT_EQ(unit->DoInitialize(), 0);
    AudioUnitRenderActionFlags flags = 0;
    Float64 t = 0;
    auto call = [&](std::vector<const AudioBufferList*> in, std::vector<AudioBufferList*> out,
                    UInt32 frames = 32) {
        const AudioTimeStamp ts = SampleTime(t);
        t += frames;
        return unit->DoProcessMultiple(flags, ts, frames, UInt32(in.size()), in.data(),
                                       UInt32(out.size()), out.data());
    };

    TestBuffers in0(2, 32), in1(2, 32), out0(2, 32), out1(2, 32);
    TestBuffers nullIn(2, 32, 1, true), nullOut(2, 32, 1, true);

    // An input buffer without data is refused; an output one is accepted.
    EXPECT_EQ(call({&nullIn.list(), &in1.list()}, {&out0.list(), &out1.list()}), -50);
    EXPECT_EQ(unit->multipleCount, 0);
    EXPECT_EQ(call({&in0.list(), &in1.list()}, {&nullOut.list(), &out1.list()}), 0);
    EXPECT_EQ(unit->multipleCount, 1);
    EXPECT_EQ(unit->multipleInputs, 2u);
    EXPECT_EQ(unit->multipleOutputs, 2u);
    // Output sizes are set to the frames; input sizes are left as they are.
    TestBuffers bigIn(2, 64), bigOut(2, 64);
    EXPECT_EQ(call({&bigIn.list(), nullptr}, {&bigOut.list(), nullptr}), 0);
    EXPECT_EQ(bigIn.list().mBuffers[0].mDataByteSize, 64u * sizeof(float));
    EXPECT_EQ(bigOut.list().mBuffers[0].mDataByteSize, 32u * sizeof(float));

    // Absent lists are skipped by the checks.
    EXPECT_EQ(call({nullptr, &in1.list()}, {nullptr, &out1.list()}), 0);
    // A short buffer, a wrong count or a missing element are refused.
    TestBuffers shortIn(2, 16);
    EXPECT_EQ(call({&shortIn.list()}, {&out0.list()}), -50);
    TestBuffers threeOut(3, 32);
    EXPECT_EQ(call({&in0.list()}, {&threeOut.list()}), -50);
    EXPECT_EQ(call({&in0.list(), &in1.list(), &in0.list()}, {&out0.list()}),
              kAudioUnitErr_InvalidElement);
    EXPECT_EQ(call({&in0.list()}, {&out0.list(), &out1.list(), &out0.list()}),
              kAudioUnitErr_InvalidElement);

    // One list each way goes to ProcessBufferLists.
    const int before = unit->processCount;
    EXPECT_EQ(call({&in0.list()}, {&out1.list()}), 0);
    EXPECT_EQ(unit->processCount, before + 1);
    EXPECT_EQ(unit->processIn, &in0.list());
    EXPECT_EQ(unit->processOut, &out1.list());
    // ... and when either of them is absent there is nothing to process.
    EXPECT_EQ(call({nullptr}, {&out1.list()}), -50);
    // Arrays that are not there at all are refused whatever the flags.
    const AudioTimeStamp ts = SampleTime(t);
    AudioUnitRenderActionFlags skip = kAudioUnitRenderAction_DoNotCheckRenderArgs;
    EXPECT_EQ(unit->DoProcessMultiple(skip, ts, 32, 1, nullptr, 1, nullptr), -50);
}

TEST(DoProcessMultiple, DoNotCheckAndTheTimeStampRule) {
    UnitHolder<RenderTestUnit> unit(2u, 2u);
    TestBuffers nullIn(2, 32, 1, true), out0(2, 32);
    const AudioBufferList* in[] = {&nullIn.list(), nullptr};
    AudioBufferList* out[] = {&out0.list(), nullptr};
    AudioUnitRenderActionFlags flags = kAudioUnitRenderAction_DoNotCheckRenderArgs;
    const AudioTimeStamp ts = SampleTime(10);
    EXPECT_EQ(unit->DoProcessMultiple(flags, ts, 32, 2, in, 2, out), 0);
    EXPECT_EQ(unit->multipleCount, 1);
    EXPECT_EQ(unit->DoProcessMultiple(flags, ts, 32, 2, in, 2, out), 0);
    EXPECT_EQ(unit->multipleCount, 1);
}

} // namespace
