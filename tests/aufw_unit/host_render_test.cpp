// Rendering through AudioUnitRender on the test unit opened either way: the
// processed audio, the frame limit and its recorded error, and a thousand
// cycles with notifications and scheduled parameters that allocate and lock
// nothing.
#include "host_support.h"

#include <rtcheck/rtcheck.h>

using namespace hosttest;
using namespace testunit;

namespace {

constexpr AudioUnitScope kGlob = kAudioUnitScope_Global;

class HostRender : public ::testing::TestWithParam<Path> {
protected:
    void SetUp() override {
        detail::loaded().resetLog();
        unit = openUnit(GetParam());
        ASSERT_NE(unit, nullptr);
        prepareToRender(unit);
    }
    void TearDown() override {
        if (unit != nullptr) {
            EXPECT_EQ(AudioComponentInstanceDispose(unit), 0);
        }
        EXPECT_EQ(unitLog().live, 0);
    }
    OSStatus render(Float64 sampleTime, StereoBuffers& buffers, UInt32 frames, UInt32 bus = 0) {
        const AudioTimeStamp ts = timeStamp(sampleTime);
        return AudioUnitRender(unit, nullptr, &ts, bus, frames, buffers.list());
    }

    AudioUnit unit = nullptr;
};

} // namespace

TEST_P(HostRender, ProcessesTheInputWithTheParameters) {
    ASSERT_EQ(AudioUnitSetParameter(unit, kParamGain, kGlob, 0, 0.5f, 0), 0);
    ASSERT_EQ(AudioUnitSetParameter(unit, kParamOffset, kGlob, 0, 0.25f, 0), 0);
    StereoBuffers out(512);
    ASSERT_EQ(render(4096, out, 512), 0);
    for (UInt32 n = 0; n < 512; n += 37) {
        EXPECT_FLOAT_EQ(out.channel(0)[n], InputSource::sample(4096, n, 0) * 0.5f + 0.25f) << n;
        EXPECT_FLOAT_EQ(out.channel(1)[n], InputSource::sample(4096, n, 1) * 0.5f + 0.25f) << n;
    }
    EXPECT_EQ(unitLog().kernelCalls, 1);
    Float64 last = 0;
    EXPECT_EQ(getProperty(unit, 0x6C727374 /* 'lrst' */, kGlob, 0, last), 0);
    EXPECT_EQ(last, 4096.0);
}

TEST_P(HostRender, TooManyFramesAreRefusedAndRecordedOnce) {
    int heard = 0;
    ASSERT_EQ(AudioUnitAddPropertyListener(
                  unit, kAudioUnitProperty_LastRenderError,
                  [](void* ref, AudioUnit, AudioUnitPropertyID, AudioUnitScope, AudioUnitElement) {
                      ++*static_cast<int*>(ref);
                  },
                  &heard),
              0);
    StereoBuffers out(1157);
    for (int i = 0; i < 2; ++i) { // the first error has not been read yet
        EXPECT_EQ(render(0, out, 1157), kAudioUnitErr_TooManyFramesToProcess);
    }
    EXPECT_EQ(heard, 1);
    OSStatus last = 0;
    EXPECT_EQ(getProperty(unit, kAudioUnitProperty_LastRenderError, kGlob, 0, last), 0);
    EXPECT_EQ(last, kAudioUnitErr_TooManyFramesToProcess);
    EXPECT_EQ(getProperty(unit, kAudioUnitProperty_LastRenderError, kGlob, 0, last), 0);
    EXPECT_EQ(last, 0); // reading it cleared it
    EXPECT_EQ(render(0, out, 1157), kAudioUnitErr_TooManyFramesToProcess);
    EXPECT_EQ(heard, 2);
    EXPECT_EQ(unitLog().kernelCalls, 0);
    EXPECT_EQ(render(0, out, 1156), 0); // the largest slice still renders
    EXPECT_EQ(render(2048, out, 64, 1), kAudioUnitErr_InvalidElement);
}

TEST_P(HostRender, AThousandHostCyclesAllocateNothingAndLockNothing) {
    if (!rtcheck::countsAllocations()) {
        GTEST_SKIP() << "this build cannot count allocations";
    }
    static int notes = 0;
    notes = 0;
    ASSERT_EQ(AudioUnitAddRenderNotify(
                  unit,
                  [](void*, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32, UInt32,
                     AudioBufferList*) -> OSStatus {
                      ++notes;
                      return noErr;
                  },
                  nullptr),
              0);
    AudioUnitParameterEvent events[2] = {};
    events[0].parameter = kParamGain;
    events[0].eventType = kParameterEvent_Immediate;
    events[0].eventValues.immediate.value = 0.5f;
    events[1].parameter = kParamOffset;
    events[1].eventType = kParameterEvent_Ramped;
    events[1].eventValues.ramp = {32, 64, 0.0f, 0.5f};
    StereoBuffers out(256);
    Float64 sampleTime = 0;
    const auto cycle = [&] {
        AudioUnitRenderActionFlags flags = 0;
        ASSERT_EQ(AudioUnitScheduleParameters(unit, events, 2), 0);
        const AudioTimeStamp ts = timeStamp(sampleTime);
        ASSERT_EQ(AudioUnitRender(unit, &flags, &ts, 0, 256, out.list()), 0);
        sampleTime += 256;
    };
    for (int i = 0; i < 8; ++i) {
        cycle(); // warm-up: the notification is taken in, buffers settle
    }
    const int notesBefore = notes;
    rtcheck::Scope scope;
    for (int i = 0; i < 1000; ++i) {
        cycle();
    }
    const rtcheck::Counts counts = scope.counts();
    EXPECT_EQ(counts.allocations, 0);
    EXPECT_EQ(counts.frees, 0);
    if (rtcheck::countsLocks()) {
        EXPECT_EQ(counts.locks, 0);
    }
    // The cycles did the work: notified, sliced at the ramp, and processed.
    EXPECT_EQ(notes - notesBefore, 2000);
    EXPECT_EQ(unitLog().kernelCalls, 1008 * 3);
    EXPECT_FLOAT_EQ(out.channel(0)[0], InputSource::sample(sampleTime - 256, 0, 0) * 0.5f);
}

INSTANTIATE_TEST_SUITE_P(BothPaths, HostRender, ::testing::Values(Path::Factory, Path::Manager),
                         [](const auto& info) {
                             return std::string(info.param == Path::Factory ? "Factory"
                                                                            : "Manager");
                         });
