// The component base against the platform's component services: instance
// types, descriptions and instance storage, on the base test unit.
#include "base_test_unit.h"

#include <aufw/ComponentEntry.h>

#include <VextraHost/VXHostRuntime.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>

using namespace aufw_base_test;

namespace {

bool SameDescription(const AudioComponentDescription& a, const AudioComponentDescription& b) {
    return std::memcmp(&a, &b, sizeof(a)) == 0;
}

// A unit built directly for a handle, as the given entry would build it.
std::unique_ptr<BaseTestUnit> Build(AudioComponentInstance instance,
                                    ComponentBase::EInstanceType type) {
    ComponentInstanceTypeScope scope(type);
    return std::make_unique<BaseTestUnit>(instance);
}

} // namespace

TEST(ComponentBase, InstanceTypeAndDescriptionThroughBothServicePaths) {
    OpenUnit ac;
    EXPECT_EQ(ac->InstanceType(), ComponentBase::kAudioComponentInstance);
    EXPECT_EQ(ac->GetComponentInstance(), ac.Instance());
    EXPECT_TRUE(SameDescription(ac->GetComponentDescription(), kBaseTestDescription));
    // A Component Manager object asks GetComponentInfo with its handle.
    auto cm = Build(ac.Instance(), ComponentBase::kComponentMgrInstance);
    EXPECT_EQ(cm->InstanceType(), ComponentBase::kComponentMgrInstance);
    EXPECT_TRUE(SameDescription(cm->GetComponentDescription(), kBaseTestDescription));

    // Handles the services do not know give zeros on both paths.
    alignas(16) static long bogus[4];
    auto* unknown = reinterpret_cast<AudioComponentInstance>(bogus);
    for (auto type :
         {ComponentBase::kAudioComponentInstance, ComponentBase::kComponentMgrInstance}) {
        EXPECT_TRUE(SameDescription(Build(unknown, type)->GetComponentDescription(),
                                    AudioComponentDescription{}))
            << type;
    }
}

TEST(ComponentBase, InstanceStorage) {
    AudioComponentInstance instance = nullptr;
    {
        OpenUnit unit;
        instance = unit.Instance();
        EXPECT_EQ(CMgr_GetComponentInstanceStorage(instance), nullptr);
        int object = 0;
        CMgr_SetComponentInstanceStorage(instance, reinterpret_cast<Handle>(&object));
        EXPECT_EQ(CMgr_GetComponentInstanceStorage(instance), reinterpret_cast<Handle>(&object));
    }
    // A closed instance keeps nothing.
    EXPECT_EQ(CMgr_GetComponentInstanceStorage(instance), nullptr);
}

// Runs in a fresh process (the services are resolved once per process):
// with the platform frameworks unavailable nothing is found, and nothing
// crashes.
TEST(ComponentBaseDeathTest, ServicesMissing) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto check = [] {
        VXPlatformSetFrameworksAvailable(false);
        bool ok = true;
        {
            OpenUnit ac;
            ok = ok && SameDescription(ac->GetComponentDescription(), AudioComponentDescription{});
            ok = ok && SameDescription(Build(ac.Instance(), ComponentBase::kComponentMgrInstance)
                                           ->GetComponentDescription(),
                                       AudioComponentDescription{});
            int object = 0;
            CMgr_SetComponentInstanceStorage(ac.Instance(), reinterpret_cast<Handle>(&object));
            ok = ok && CMgr_GetComponentInstanceStorage(ac.Instance()) == nullptr;
            ok = ok && ComponentBase::sGetComponentInstanceStorageProc == nullptr &&
                 ComponentBase::sSetComponentInstanceStorageProc == nullptr &&
                 ComponentBase::sGetComponentInfoProc == nullptr;
            // The services really are there once available: the storage call
            // above went nowhere.
            VXPlatformSetFrameworksAvailable(true);
            ok = ok && GetComponentInstanceStorage(ac.Instance()) == nullptr;
        }
        std::exit(ok ? 0 : 1);
    };
    EXPECT_EXIT(check(), testing::ExitedWithCode(0), "");
}
