// The component services a unit reaches through the platform framework
// paths, and the switch that makes those frameworks missing.

#include "call_checks.h"

#include <CoreServices/CoreServices.h>
#include <VextraHost/VXHostRuntime.h>

#include <gtest/gtest.h>

#include <dlfcn.h>

using namespace hosttest;

namespace {

constexpr const char* kCoreServices =
    "/System/Library/Frameworks/CoreServices.framework/CoreServices";
constexpr const char* kAudioUnitFramework =
    "/System/Library/Frameworks/AudioUnit.framework/AudioUnit";

// Restores the frameworks whatever a test does.
struct FrameworksGuard {
    ~FrameworksGuard() { VXPlatformSetFrameworksAvailable(1); }
};

} // namespace

TEST(ComponentServices, FrameworkPathsResolveToThePlatformServices) {
    ASSERT_TRUE(VXPlatformFrameworksAvailable());
    void* cs = dlopen(kCoreServices, RTLD_LAZY);
    ASSERT_NE(cs, nullptr);
    EXPECT_EQ(dlsym(cs, "GetComponentInstanceStorage"),
              reinterpret_cast<void*>(&GetComponentInstanceStorage));
    EXPECT_EQ(dlsym(cs, "SetComponentInstanceStorage"),
              reinterpret_cast<void*>(&SetComponentInstanceStorage));
    EXPECT_EQ(dlsym(cs, "GetComponentInfo"), reinterpret_cast<void*>(&GetComponentInfo));
    void* au = dlopen(kAudioUnitFramework, RTLD_LAZY);
    ASSERT_NE(au, nullptr);
    EXPECT_EQ(dlsym(au, "AudioComponentInstanceGetComponent"),
              reinterpret_cast<void*>(&AudioComponentInstanceGetComponent));
    EXPECT_EQ(dlsym(au, "AudioComponentGetDescription"),
              reinterpret_cast<void*>(&AudioComponentGetDescription));
    EXPECT_EQ(dlclose(cs), 0);
    EXPECT_EQ(dlclose(au), 0);
    // Other paths go to the system loader as before.
    EXPECT_EQ(dlopen("/System/Library/Frameworks/Metal.framework/Metal", RTLD_LAZY), nullptr);
    EXPECT_EQ(dlopen("/System/Library/Frameworks/CoreServices.framework/Other", RTLD_LAZY),
              nullptr);
    void* libm = dlopen("libm.so.6", RTLD_LAZY);
    EXPECT_NE(libm, nullptr);
    if (libm)
        dlclose(libm);
}

TEST(ComponentServices, AUnitInsideABundleFindsTheServicesAtOpen) {
    AudioComponentInstance unit = nullptr;
    ASSERT_EQ(AudioComponentInstanceNew(findFake(kSubtypeTwo), &unit), 0);
    fake::Log* log = logOf(fakeBundle());
    EXPECT_EQ(log->servicesResolved, 1);
    EXPECT_EQ(log->descriptionResolved, 1);
    // The unit asked for its own description through the found functions.
    EXPECT_EQ(log->openDescription.componentType, kEffect);
    EXPECT_EQ(log->openDescription.componentSubType, kSubtypeTwo);
    EXPECT_EQ(log->openDescription.componentManufacturer, kManufacturer);
    EXPECT_EQ(AudioComponentInstanceDispose(unit), 0);
}

TEST(ComponentServices, InstanceStorageAndInfo) {
    AudioComponentInstance unit = nullptr;
    ASSERT_EQ(AudioComponentInstanceNew(findFake(kSubtypeOne), &unit), 0);
    EXPECT_EQ(GetComponentInstanceStorage(unit), nullptr); // factory units store nothing
    int object = 0;
    SetComponentInstanceStorage(unit, reinterpret_cast<Handle>(&object));
    EXPECT_EQ(GetComponentInstanceStorage(unit), reinterpret_cast<Handle>(&object));

    ComponentDescription cd{};
    EXPECT_EQ(GetComponentInfo(reinterpret_cast<Component>(unit), &cd, nullptr, nullptr, nullptr),
              0);
    EXPECT_EQ(cd.componentSubType, kSubtypeOne);
    cd = {};
    EXPECT_EQ(GetComponentInfo(reinterpret_cast<Component>(findFake(kSubtypeTwo)), &cd, nullptr,
                               nullptr, nullptr),
              0);
    EXPECT_EQ(cd.componentSubType, kSubtypeTwo);
    EXPECT_EQ(
        GetComponentInfo(reinterpret_cast<Component>(unit), nullptr, nullptr, nullptr, nullptr), 0);
    int bogus = 0;
    EXPECT_EQ(GetComponentInfo(reinterpret_cast<Component>(&bogus), &cd, nullptr, nullptr, nullptr),
              invalidComponentID);
    EXPECT_EQ(GetComponentInfo(nullptr, &cd, nullptr, nullptr, nullptr), invalidComponentID);
    EXPECT_EQ(AudioComponentInstanceGetComponent(reinterpret_cast<AudioComponentInstance>(&bogus)),
              nullptr);
    EXPECT_EQ(AudioComponentInstanceGetComponent(nullptr), nullptr);
    EXPECT_EQ(GetComponentInstanceStorage(nullptr), nullptr);
    SetComponentInstanceStorage(nullptr, reinterpret_cast<Handle>(&object)); // ignored

    ASSERT_EQ(AudioComponentInstanceDispose(unit), 0);
    EXPECT_EQ(GetComponentInstanceStorage(unit), nullptr);
    SetComponentInstanceStorage(unit, reinterpret_cast<Handle>(&object)); // ignored when closed
    EXPECT_EQ(GetComponentInstanceStorage(unit), nullptr);
}

TEST(ComponentServices, MissingFrameworksLeaveTheUnitWithoutServices) {
    FrameworksGuard guard;
    VXPlatformSetFrameworksAvailable(0);
    EXPECT_FALSE(VXPlatformFrameworksAvailable());
    EXPECT_EQ(dlopen(kCoreServices, RTLD_LAZY), nullptr);
    const char* why = dlerror();
    ASSERT_NE(why, nullptr);
    EXPECT_NE(std::string(why).find("CoreServices"), std::string::npos);
    EXPECT_EQ(dlopen(kAudioUnitFramework, RTLD_LAZY), nullptr);

    // A unit opened now finds nothing: through the entry, it cannot keep its
    // object, so later requests reach it without storage.
    AudioComponentInstance unit = nullptr;
    ASSERT_EQ(VXHostOpenComponentManagerInstance(fakeBundle().c_str(), "FakeEntry", &unit), 0);
    fake::Log* log = logOf(fakeBundle());
    EXPECT_EQ(log->servicesResolved, 0);
    EXPECT_EQ(log->descriptionResolved, 0);
    EXPECT_EQ(GetComponentInstanceStorage(unit), nullptr);
    EXPECT_EQ(AudioUnitInitialize(unit), kAudio_ParamError);
    EXPECT_EQ(AudioComponentInstanceDispose(unit), kAudio_ParamError);

    VXPlatformSetFrameworksAvailable(1);
    void* cs = dlopen(kCoreServices, RTLD_LAZY);
    EXPECT_NE(cs, nullptr);
    if (cs)
        dlclose(cs);
}
