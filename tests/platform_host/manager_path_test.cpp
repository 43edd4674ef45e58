// Instances opened through the Component Manager entry: the parameter blocks
// the entry receives, the storage the component keeps, and the close.

#include "call_checks.h"

#include <CoreServices/CoreServices.h>
#include <VextraHost/VXHostRuntime.h>

#include <gtest/gtest.h>

using namespace hosttest;

TEST(ManagerPath, OpenPassesTheInstanceAndKeepsTheStoredObject) {
    AudioComponentInstance unit = nullptr;
    ASSERT_EQ(VXHostOpenComponentManagerInstance(bundle().c_str(), "FakeEntry", &unit), 0);
    EXPECT_TRUE(VXHostInstanceUsesComponentManager(unit));
    fake::Log* log = fakeLog();
    ASSERT_NE(log, nullptr);
    const fake::Call& open = lastCall(log);
    EXPECT_EQ(open.path, fake::Path::Manager);
    EXPECT_EQ(open.selector, kComponentOpenSelect);
    EXPECT_EQ(open.instance, unit); // slot 0
    EXPECT_EQ(open.argCount, 0);
    EXPECT_EQ(open.self, nullptr); // nothing stored before the open
    Handle storage = GetComponentInstanceStorage(unit);
    ASSERT_NE(storage, nullptr);

    // Every later request carries the stored object.
    checkEveryCall(unit, log, fake::Path::Manager);
    EXPECT_EQ(lastCall(log).self, storage);

    // The description comes from the bundle's first component entry.
    ComponentDescription cd{};
    ASSERT_EQ(GetComponentInfo(reinterpret_cast<Component>(unit), &cd, nullptr, nullptr, nullptr),
              0);
    EXPECT_EQ(cd.componentSubType, kSubtypeOne);
    EXPECT_EQ(AudioComponentInstanceGetComponent(unit), findFake(kSubtypeOne));

    EXPECT_TRUE(AudioComponentInstanceCanDo(unit, kAudioUnitRenderSelect));
    EXPECT_EQ(lastCall(log).selector, kComponentCanDoSelect);
    EXPECT_EQ(slotValue<SInt16>(lastCall(log).args[0]), kAudioUnitRenderSelect);
    EXPECT_FALSE(AudioComponentInstanceCanDo(unit, 8));

    // The older listener removal is the entry's to refuse.
    EXPECT_EQ(AudioUnitRemovePropertyListener(unit, fake::kFakeEchoProperty, noteProperty),
              badComponentSelector);

    ASSERT_EQ(AudioComponentInstanceDispose(unit), 0);
    EXPECT_EQ(lastCall(log).selector, kComponentCloseSelect);
    EXPECT_EQ(lastCall(log).self, storage);
    EXPECT_EQ(GetComponentInstanceStorage(unit), nullptr);
    EXPECT_EQ(AudioUnitInitialize(unit), badComponentInstance);

    // A component found by search opens the same way and keeps its description.
    ASSERT_EQ(
        VXHostOpenComponentManagerInstanceOfComponent(findFake(kSubtypeTwo), "FakeEntry", &unit),
        0);
    EXPECT_EQ(AudioComponentInstanceGetComponent(unit), findFake(kSubtypeTwo));
    EXPECT_EQ(AudioComponentInstanceDispose(unit), 0);
}

TEST(ManagerPath, BadBundlesEntriesAndArgumentsAnswerAStatus) {
    AudioComponentInstance unit = reinterpret_cast<AudioComponentInstance>(0x10);
    const std::string fake = bundle();
    EXPECT_EQ(VXHostOpenComponentManagerInstance(nullptr, "FakeEntry", &unit), kAudio_ParamError);
    EXPECT_EQ(unit, nullptr);
    EXPECT_EQ(VXHostOpenComponentManagerInstance(fake.c_str(), nullptr, &unit), kAudio_ParamError);
    EXPECT_EQ(VXHostOpenComponentManagerInstance(fake.c_str(), "FakeEntry", nullptr),
              kAudio_ParamError);
    EXPECT_EQ(VXHostOpenComponentManagerInstance((home() + "/Nowhere.component").c_str(),
                                                 "FakeEntry", &unit),
              fnfErr);
    EXPECT_EQ(VXHostOpenComponentManagerInstance(fake.c_str(), "NoSuchEntry", &unit),
              kAudioUnitErr_FailedInitialization);
    EXPECT_EQ(unit, nullptr);
    // Plain.component's executable is the fake too; it has no component entry.
    ASSERT_EQ(VXHostOpenComponentManagerInstance(bundle("Plain").c_str(), "FakeEntry", &unit), 0);
    ComponentDescription cd{1, 1, 1, 1, 1};
    EXPECT_EQ(GetComponentInfo(reinterpret_cast<Component>(unit), &cd, nullptr, nullptr, nullptr),
              0);
    EXPECT_EQ(cd.componentType, 0u);
    EXPECT_EQ(AudioComponentInstanceDispose(unit), 0);
    // A registered component without a bundle cannot be opened this way.
    EXPECT_EQ(VXHostOpenComponentManagerInstanceOfComponent(nullptr, "FakeEntry", &unit),
              kAudio_ParamError);
}
