// The component base against the platform's component services: instance
// types, descriptions and instance storage, on the base test unit.
#include "base_test_unit.h"

#include <aufw/ComponentEntry.h>

#include <VextraHost/VXHostRuntime.h>

#include <cstdlib>

using namespace aufw_base_test;

namespace {

bool SameDescription(const AudioComponentDescription& a, const AudioComponentDescription& b) {
    return std::memcmp(&a, &b, sizeof(a)) == 0;
}

// The description a unit built directly for a handle, as the given entry
// would build it, finds.
AudioComponentDescription DescriptionFor(AudioComponentInstance instance,
                                         ComponentBase::EInstanceType type) {
    ComponentInstanceTypeScope scope(type);
    BaseTestUnit unit(instance);
    EXPECT_EQ(unit.InstanceType(), type);
    return unit.GetComponentDescription();
}

} // namespace

TEST(ComponentBase, DescriptionsAndStorageThroughBothServicePaths) {
    AudioComponentInstance instance = nullptr;
    {
        OpenUnit ac;
        instance = ac.instance;
        EXPECT_EQ(std::make_tuple(ac->InstanceType(), ac->GetComponentInstance()),
                  std::make_tuple(ComponentBase::kAudioComponentInstance, instance));
        EXPECT_TRUE(SameDescription(ac->GetComponentDescription(), kBaseTestDescription));
        // A Component Manager object asks GetComponentInfo with its handle.
        EXPECT_TRUE(SameDescription(DescriptionFor(instance, ComponentBase::kComponentMgrInstance),
                                    kBaseTestDescription));
        EXPECT_EQ(CMgr_GetComponentInstanceStorage(instance), nullptr);
        int object = 0;
        CMgr_SetComponentInstanceStorage(instance, reinterpret_cast<Handle>(&object));
        EXPECT_EQ(CMgr_GetComponentInstanceStorage(instance), reinterpret_cast<Handle>(&object));
    }
    // A closed instance keeps nothing.
    EXPECT_EQ(CMgr_GetComponentInstanceStorage(instance), nullptr);
    // Handles the services do not know give zeros on both paths.
    alignas(16) static long bogus[4];
    for (auto type :
         {ComponentBase::kAudioComponentInstance, ComponentBase::kComponentMgrInstance}) {
        EXPECT_TRUE(SameDescription(
            DescriptionFor(reinterpret_cast<AudioComponentInstance>(bogus), type), {}));
    }
}

// Runs in a fresh process (the services are resolved once per process):
// with the platform frameworks unavailable nothing is found, and nothing
// crashes.
TEST(ComponentBaseDeathTest, ServicesMissing) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto check = [] {
        VXPlatformSetFrameworksAvailable(false);
        OpenUnit ac;
        bool ok =
            SameDescription(ac->GetComponentDescription(), {}) &&
            SameDescription(DescriptionFor(ac.instance, ComponentBase::kComponentMgrInstance), {});
        int object = 0;
        CMgr_SetComponentInstanceStorage(ac.instance, reinterpret_cast<Handle>(&object));
        ok = ok && CMgr_GetComponentInstanceStorage(ac.instance) == nullptr &&
             ComponentBase::sGetComponentInstanceStorageProc == nullptr &&
             ComponentBase::sSetComponentInstanceStorageProc == nullptr &&
             ComponentBase::sGetComponentInfoProc == nullptr;
        // The services really are there once available: the storage call
        // above went nowhere.
        VXPlatformSetFrameworksAvailable(true);
        std::exit(ok && GetComponentInstanceStorage(ac.instance) == nullptr ? 0 : 1);
    };
    EXPECT_EXIT(check(), testing::ExitedWithCode(0), "");
}
