// The component base against the platform's component services: instance
// types, descriptions, instance storage and the component-level requests,
// on the base test unit.
#include "base_test_unit.h"

#include <VextraHost/VXHostRuntime.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace aufw_base_test;

namespace {

bool SameDescription(const AudioComponentDescription& a, const AudioComponentDescription& b) {
    return std::memcmp(&a, &b, sizeof(a)) == 0;
}

// A unit built directly for a handle, as the given entry would build it.
BaseTestUnit* Build(AudioComponentInstance instance, ComponentBase::EInstanceType type) {
    const auto saved = ComponentBase::sNewInstanceType;
    ComponentBase::sNewInstanceType = type;
    auto* unit = new BaseTestUnit(instance, {});
    ComponentBase::sNewInstanceType = saved;
    return unit;
}

// A request block with room for the asked selector after the instance slot.
struct Request {
    UInt8 flags = 0;
    UInt8 paramSize = 0;
    SInt16 what = 0;
    UInt32 padding = 0;
    long params[4] = {};

    Request(SInt16 inWhat, SInt16 asked = 0) : paramSize(sizeof(long)), what(inWhat) {
        std::memcpy(&params[1], &asked, sizeof(asked));
    }
    ComponentParameters* get() { return reinterpret_cast<ComponentParameters*>(this); }
};

} // namespace

TEST(ComponentBase, InstanceTypeAndDescriptionThroughBothServicePaths) {
    OpenUnit ac;
    EXPECT_EQ(ac->InstanceType(), ComponentBase::kAudioComponentInstance);
    EXPECT_EQ(ac->GetComponentInstance(), ac.Instance());
    EXPECT_TRUE(SameDescription(ac->GetComponentDescription(), kBaseTestDescription));
    // A Component Manager object asks GetComponentInfo with its handle.
    OpenUnit cm({}, true);
    EXPECT_EQ(cm->InstanceType(), ComponentBase::kComponentMgrInstance);
    EXPECT_TRUE(SameDescription(cm->GetComponentDescription(), kBaseTestDescription));

    // Handles the services do not know give zeros on both paths.
    alignas(16) static long bogus[4];
    auto* unknown = reinterpret_cast<AudioComponentInstance>(bogus);
    for (auto type :
         {ComponentBase::kAudioComponentInstance, ComponentBase::kComponentMgrInstance}) {
        BaseTestUnit* unit = Build(unknown, type);
        EXPECT_EQ(unit->InstanceType(), type);
        EXPECT_TRUE(SameDescription(unit->GetComponentDescription(), AudioComponentDescription{}));
        delete unit;
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
        CMgr_SetComponentInstanceStorage(instance, nullptr);
        EXPECT_EQ(CMgr_GetComponentInstanceStorage(instance), nullptr);
    }
    // A closed instance keeps nothing.
    EXPECT_EQ(CMgr_GetComponentInstanceStorage(instance), nullptr);
}

TEST(ComponentBase, ComponentLevelRequests) {
    EXPECT_EQ(ComponentBase::GetSelectorForCanDo(Request(kComponentCanDoSelect, 14).get()), 14);
    // Only the can-do request carries an asked selector.
    EXPECT_EQ(ComponentBase::GetSelectorForCanDo(Request(kComponentVersionSelect, 14).get()), 0);
    EXPECT_EQ(ComponentBase::GetSelectorForCanDo(nullptr), 0);

    BaseTestUnit* unit = Build(nullptr, ComponentBase::kComponentMgrInstance);
    unit->PostConstructor();
    const auto dispatch = [&](Request r) {
        return ComponentBase::ComponentEntryDispatch(r.get(), unit);
    };
    EXPECT_EQ(dispatch(Request(kComponentVersionSelect)), 1);
    for (SInt16 asked : {kComponentOpenSelect, kComponentCloseSelect, kComponentCanDoSelect,
                         kComponentVersionSelect}) {
        EXPECT_EQ(dispatch(Request(kComponentCanDoSelect, asked)), 1) << asked;
    }
    for (SInt16 asked : {SInt16(8), SInt16(1), SInt16(0), SInt16(-5), SInt16(513)}) {
        EXPECT_EQ(dispatch(Request(kComponentCanDoSelect, asked)), 0) << asked;
    }
    for (SInt16 what :
         {SInt16(1), SInt16(8), SInt16(14), SInt16(-5), SInt16(kComponentOpenSelect)}) {
        EXPECT_EQ(dispatch(Request(what)), badComponentSelector) << what;
    }
    EXPECT_EQ(ComponentBase::ComponentEntryDispatch(Request(kComponentCloseSelect).get(), nullptr),
              paramErr);
    EXPECT_EQ(ComponentBase::ComponentEntryDispatch(nullptr, unit), paramErr);
    // Close cleans up the initialized unit before deleting it.
    ASSERT_EQ(unit->DoInitialize(), 0);
    int cleanups = 0;
    unit->cleanupCounter = &cleanups;
    EXPECT_EQ(dispatch(Request(kComponentCloseSelect)), 0);
    EXPECT_EQ(cleanups, 1);
}

// Runs in a fresh process (the services are resolved once per process):
// with the platform frameworks unavailable nothing is found, and nothing
// crashes.
void CheckServicesMissing() {
    VXPlatformSetFrameworksAvailable(false);
    int failures = 0;
    const auto check = [&](bool ok, const char* what) {
        if (!ok) {
            std::fprintf(stderr, "%s\n", what);
            ++failures;
        }
    };
    {
        OpenUnit ac;
        check(SameDescription(ac->GetComponentDescription(), AudioComponentDescription{}),
              "Audio Component description not zero");
        BaseTestUnit* cm = Build(ac.Instance(), ComponentBase::kComponentMgrInstance);
        check(SameDescription(cm->GetComponentDescription(), AudioComponentDescription{}),
              "Component Manager description not zero");
        delete cm;
        int object = 0;
        CMgr_SetComponentInstanceStorage(ac.Instance(), reinterpret_cast<Handle>(&object));
        check(CMgr_GetComponentInstanceStorage(ac.Instance()) == nullptr,
              "storage found without the services");
        check(ComponentBase::sGetComponentInstanceStorageProc == nullptr &&
                  ComponentBase::sSetComponentInstanceStorageProc == nullptr &&
                  ComponentBase::sGetComponentInfoProc == nullptr,
              "services resolved although missing");
        // The services really are there once available: the storage call
        // above went nowhere.
        VXPlatformSetFrameworksAvailable(true);
        check(GetComponentInstanceStorage(ac.Instance()) == nullptr,
              "storage reached the platform");
    }
    std::exit(failures == 0 ? 0 : 1);
}

TEST(ComponentBaseDeathTest, ServicesMissing) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(CheckServicesMissing(), testing::ExitedWithCode(0), "");
}
