// Instances opened through the component's factory: open, every call by
// looked-up method, close, and what happens around them.

#include "call_checks.h"

#include <VextraHost/VXHostRuntime.h>

#include <gtest/gtest.h>

#include <rtcheck/rtcheck.h>

using namespace hosttest;

namespace {

bool lookedUp(const fake::Log* log, int from, SInt16 selector) {
    for (int i = from; i < log->lookups; ++i)
        if (log->lookedUp[i] == selector)
            return true;
    return false;
}

} // namespace

TEST(FactoryPath, OpensThroughTheFactoryAndServesEveryCall) {
    AudioComponent component = findFake(kSubtypeOne);
    AudioComponentInstance unit = nullptr;
    ASSERT_EQ(AudioComponentInstanceNew(component, &unit), 0);
    EXPECT_FALSE(VXHostInstanceUsesComponentManager(unit));
    fake::Log* log = fakeLog();
    ASSERT_NE(log, nullptr);
    // Open received the instance handle; render was looked up then, once.
    EXPECT_EQ(lastCall(log).selector, kComponentOpenSelect);
    EXPECT_EQ(slotValue<AudioComponentInstance>(lastCall(log).args[0]), unit);
    EXPECT_TRUE(lookedUp(log, 0, kAudioUnitRenderSelect));
    EXPECT_EQ(AudioComponentInstanceGetComponent(unit), component);

    const int lookupsBefore = log->lookups;
    checkEveryCall(unit, log, fake::Path::Factory);
    // Other calls look their method up by selector; render uses the one found at open.
    EXPECT_FALSE(lookedUp(log, lookupsBefore, kAudioUnitRenderSelect));
    EXPECT_TRUE(lookedUp(log, lookupsBefore, kAudioUnitProcessSelect));

    // The factory path serves the removal that ignores the user data.
    EXPECT_EQ(AudioUnitRemovePropertyListener(unit, fake::kFakeEchoProperty, noteProperty), 0);
    EXPECT_EQ(lastCall(log).selector, kAudioUnitRemovePropertyListenerSelect);
    EXPECT_TRUE(AudioComponentInstanceCanDo(unit, kAudioUnitRenderSelect));
    EXPECT_FALSE(AudioComponentInstanceCanDo(unit, kAudioUnitProcessSelect));

    ASSERT_EQ(AudioComponentInstanceDispose(unit), 0);
    EXPECT_EQ(lastCall(log).selector, kComponentCloseSelect);
    EXPECT_EQ(lastCall(log).path, fake::Path::Factory);
    // Once closed, the handle answers without reaching a component.
    const int before = log->count;
    AudioUnitParameterValue value = 0;
    UInt32 size = 4;
    EXPECT_EQ(AudioUnitInitialize(unit), badComponentInstance);
    EXPECT_EQ(AudioUnitGetParameter(unit, 1, 0, 0, &value), badComponentInstance);
    EXPECT_EQ(AudioUnitGetProperty(unit, 1, 0, 0, &value, &size), badComponentInstance);
    EXPECT_EQ(AudioComponentInstanceDispose(unit), badComponentInstance);
    EXPECT_EQ(AudioComponentInstanceGetComponent(unit), nullptr);
    EXPECT_FALSE(AudioComponentInstanceCanDo(unit, kAudioUnitRenderSelect));
    EXPECT_EQ(log->count, before);
}

TEST(FactoryPath, NullOrComponentHandlesAreNoInstance) {
    EXPECT_EQ(AudioUnitInitialize(nullptr), kAudio_ParamError);
    EXPECT_EQ(AudioUnitUninitialize(nullptr), kAudio_ParamError);
    EXPECT_EQ(AudioUnitGetPropertyInfo(nullptr, 0, 0, 0, nullptr, nullptr), kAudio_ParamError);
    EXPECT_EQ(AudioUnitSetProperty(nullptr, 0, 0, 0, nullptr, 0), kAudio_ParamError);
    EXPECT_EQ(AudioUnitSetParameter(nullptr, 0, 0, 0, 0, 0), kAudio_ParamError);
    EXPECT_EQ(AudioUnitRender(nullptr, nullptr, nullptr, 0, 0, nullptr), kAudio_ParamError);
    EXPECT_EQ(AudioUnitReset(nullptr, 0, 0), kAudio_ParamError);
    EXPECT_EQ(AudioUnitAddRenderNotify(nullptr, nullptr, nullptr), kAudio_ParamError);
    EXPECT_EQ(AudioUnitScheduleParameters(nullptr, nullptr, 0), kAudio_ParamError);
    EXPECT_EQ(AudioComponentInstanceDispose(nullptr), kAudio_ParamError);
    EXPECT_EQ(AudioUnitInitialize(reinterpret_cast<AudioUnit>(findFake(kSubtypeOne))),
              badComponentInstance);
}

// A component whose open fails answers its status, leaves no instance and is
// sent no close, whichever entry opened it.
class FailedOpen : public ::testing::TestWithParam<fake::Path> {
protected:
    OSStatus open(AudioComponentInstance* unit) {
        return GetParam() == fake::Path::Factory
                   ? AudioComponentInstanceNew(findFake(kSubtypeOne), unit)
                   : VXHostOpenComponentManagerInstance(bundle().c_str(), "FakeEntry", unit);
    }
};

TEST_P(FailedOpen, GivesItsStatusAndNoClose) {
    AudioComponentInstance first = nullptr;
    ASSERT_EQ(open(&first), 0); // module loaded
    setOpenFailure(-4242);
    AudioComponentInstance unit = reinterpret_cast<AudioComponentInstance>(0x10);
    EXPECT_EQ(open(&unit), -4242);
    setOpenFailure(0);
    EXPECT_EQ(unit, nullptr);
    EXPECT_EQ(lastCall(fakeLog()).selector, kComponentOpenSelect);
    EXPECT_EQ(AudioComponentInstanceDispose(first), 0);
}

INSTANTIATE_TEST_SUITE_P(ComponentEntries, FailedOpen,
                         ::testing::Values(fake::Path::Factory, fake::Path::Manager),
                         [](const auto& info) {
                             return info.param == fake::Path::Factory ? "Factory" : "Manager";
                         });

TEST(FactoryPath, RenderingThroughTheRuntimeAllocatesNothing) {
    AudioComponentInstance unit = nullptr;
    ASSERT_EQ(AudioComponentInstanceNew(findFake(kSubtypeOne), &unit), 0);
    AudioComponentInstance cm = nullptr;
    ASSERT_EQ(VXHostOpenComponentManagerInstance(bundle().c_str(), "FakeEntry", &cm), 0);
    float samples[64] = {};
    AudioBufferList list{1, {{1, sizeof samples, samples}}};
    AudioTimeStamp ts{};
    AudioUnitRenderActionFlags flags = 0;
    AudioUnitParameterValue value = 0;
    ASSERT_EQ(AudioUnitRender(unit, &flags, &ts, 0, 64, &list), 0);
    rtcheck::Scope scope;
    for (int i = 0; i < 1000; ++i) {
        ts.mSampleTime = 64.0 * i;
        ASSERT_EQ(AudioUnitRender(unit, &flags, &ts, 0, 64, &list), 0);
        ASSERT_EQ(AudioUnitRender(cm, &flags, &ts, 0, 64, &list), 0);
        ASSERT_EQ(AudioUnitGetParameter(unit, 3, 0, 0, &value), 0);
        ASSERT_EQ(AudioUnitGetParameter(cm, 3, 0, 0, &value), 0);
    }
    if (rtcheck::countsAllocations()) {
        EXPECT_EQ(scope.counts().allocations, 0);
    }
    EXPECT_EQ(AudioComponentInstanceDispose(cm), 0);
    EXPECT_EQ(AudioComponentInstanceDispose(unit), 0);
}
