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

// Restores the frameworks whatever a test does.
struct FrameworksGuard {
    ~FrameworksGuard() { VXPlatformSetFrameworksAvailable(1); }
};

} // namespace

TEST(ComponentServices, FrameworkPathsResolveToThePlatformServices) {
    void* cs = dlopen(kCoreServices, RTLD_LAZY);
    ASSERT_NE(cs, nullptr);
    EXPECT_EQ(dlsym(cs, "GetComponentInfo"), reinterpret_cast<void*>(&GetComponentInfo));
    EXPECT_EQ(dlclose(cs), 0);
    // Other paths go to the system loader as before.
    EXPECT_EQ(dlopen("/System/Library/Frameworks/Metal.framework/Metal", RTLD_LAZY), nullptr);
    EXPECT_EQ(dlopen("/System/Library/Frameworks/CoreServices.framework/Other", RTLD_LAZY),
              nullptr);
    void* libm = dlopen("libm.so.6", RTLD_LAZY);
    EXPECT_NE(libm, nullptr);
    if (libm)
        dlclose(libm);

    // A unit inside a bundle finds them at open, and its own description.
    AudioComponentInstance unit = nullptr;
    ASSERT_EQ(AudioComponentInstanceNew(findFake(kSubtypeTwo), &unit), 0);
    fake::Log* log = fakeLog();
    EXPECT_EQ(log->servicesResolved, 1);
    EXPECT_EQ(log->descriptionResolved, 1);
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

    // A component answers for itself too (an instance, on the entry's path).
    ComponentDescription cd{};
    EXPECT_EQ(GetComponentInfo(reinterpret_cast<Component>(findFake(kSubtypeTwo)), &cd, nullptr,
                               nullptr, nullptr),
              0);
    EXPECT_EQ(cd.componentSubType, kSubtypeTwo);
    int bogus = 0;
    EXPECT_EQ(GetComponentInfo(reinterpret_cast<Component>(&bogus), &cd, nullptr, nullptr, nullptr),
              invalidComponentID);
    EXPECT_EQ(AudioComponentInstanceGetComponent(reinterpret_cast<AudioComponentInstance>(&bogus)),
              nullptr);

    ASSERT_EQ(AudioComponentInstanceDispose(unit), 0);
    EXPECT_EQ(GetComponentInstanceStorage(unit), nullptr);
    SetComponentInstanceStorage(unit, reinterpret_cast<Handle>(&object)); // ignored when closed
    EXPECT_EQ(GetComponentInstanceStorage(unit), nullptr);
}

TEST(ComponentServices, MissingFrameworksLeaveTheUnitWithoutServices) {
    FrameworksGuard guard;
    VXPlatformSetFrameworksAvailable(0);
    EXPECT_EQ(dlopen(kCoreServices, RTLD_LAZY), nullptr);
    const char* why = dlerror();
    ASSERT_NE(why, nullptr);
    EXPECT_NE(std::string(why).find("CoreServices"), std::string::npos);

    // A unit opened now finds nothing: through the entry, it cannot keep its
    // object, so later requests reach it without storage.
    AudioComponentInstance unit = nullptr;
    ASSERT_EQ(VXHostOpenComponentManagerInstance(bundle().c_str(), "FakeEntry", &unit), 0);
    fake::Log* log = fakeLog();
    EXPECT_EQ(log->servicesResolved, 0);
    EXPECT_EQ(log->descriptionResolved, 0);
    EXPECT_EQ(AudioUnitInitialize(unit), kAudio_ParamError);
    EXPECT_EQ(AudioComponentInstanceDispose(unit), kAudio_ParamError);

    VXPlatformSetFrameworksAvailable(1);
    void* cs = dlopen(kCoreServices, RTLD_LAZY);
    EXPECT_NE(cs, nullptr);
    if (cs)
        dlclose(cs);
}
