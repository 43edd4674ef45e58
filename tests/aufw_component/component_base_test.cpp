// The component base against the platform's component services: instance
// types, descriptions, instance storage and the component-level requests.
#include "aufw/ComponentBase.h"

#include <AudioUnit/AudioUnit.h>
#include <VextraHost/VXHostRuntime.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr AudioComponentDescription kTestDescription = {
    0x61756678 /* aufx */, 0x54657374 /* Test */, 0x56787461 /* Vxta */, 3, 1};

// Records what happened to it, so tests can see PreDestructor before delete.
struct Journal {
    int postConstructed = 0;
    int preDestructed = 0;
    int destroyed = 0;
    bool preDestructedBeforeDestroy = false;
};

class TestComponent : public ComponentBase {
public:
    TestComponent(AudioComponentInstance instance, Journal* journal, OSStatus version = 0)
        : ComponentBase(instance), mJournal(journal), mVersion(version) {}
    ~TestComponent() override {
        if (mJournal != nullptr) {
            ++mJournal->destroyed;
            mJournal->preDestructedBeforeDestroy = mJournal->preDestructed > 0;
        }
    }
    void PostConstructor() override {
        if (mJournal != nullptr) {
            ++mJournal->postConstructed;
        }
    }
    void PreDestructor() override {
        if (mJournal != nullptr) {
            ++mJournal->preDestructed;
        }
    }
    OSStatus Version() override { return mVersion != 0 ? mVersion : ComponentBase::Version(); }

private:
    Journal* mJournal;
    OSStatus mVersion;
};

// A minimal factory-style component whose open builds a TestComponent the
// way the entry layer does: with the instance type set around construction.
struct PlugInRecord {
    AudioComponentPlugInInterface interface;
    TestComponent* object;
    Journal journal;
};

PlugInRecord* gLastOpened = nullptr;

OSStatus TestOpen(void* self, AudioComponentInstance instance) {
    auto* record = static_cast<PlugInRecord*>(self);
    const auto saved = ComponentBase::sNewInstanceType;
    ComponentBase::sNewInstanceType = ComponentBase::kAudioComponentInstance;
    record->object = new TestComponent(instance, &record->journal);
    ComponentBase::sNewInstanceType = saved;
    record->object->PostConstructor();
    gLastOpened = record;
    return 0;
}

OSStatus TestClose(void* self) {
    auto* record = static_cast<PlugInRecord*>(self);
    record->object->PreDestructor();
    delete record->object;
    delete record;
    gLastOpened = nullptr;
    return 0;
}

AudioComponentMethod TestLookup(SInt16) {
    return nullptr;
}

AudioComponentPlugInInterface* TestFactory(const AudioComponentDescription*) {
    auto* record = new PlugInRecord{};
    record->interface = {TestOpen, TestClose, TestLookup, nullptr};
    return &record->interface;
}

AudioComponent RegisteredComponent() {
    static AudioComponent component =
        AudioComponentRegister(&kTestDescription, nullptr, 0x10000, TestFactory);
    return component;
}

// A request block with room for a few arguments after the instance slot.
struct Request {
    UInt8 flags = 0;
    UInt8 paramSize = 0;
    SInt16 what = 0;
    UInt32 padding = 0;
    long params[4] = {};

    ComponentParameters* get() { return reinterpret_cast<ComponentParameters*>(this); }
};
static_assert(offsetof(Request, params) == offsetof(ComponentParameters, params));

Request CanDo(SInt16 asked) {
    Request r;
    r.what = kComponentCanDoSelect;
    r.paramSize = sizeof(long);
    std::memcpy(&r.params[1], &asked, sizeof(asked));
    return r;
}

Request Plain(SInt16 what) {
    Request r;
    r.what = what;
    return r;
}

bool SameDescription(const AudioComponentDescription& a, const AudioComponentDescription& b) {
    return std::memcmp(&a, &b, sizeof(a)) == 0;
}

TEST(ComponentBase, InstanceTypeComesFromTheOpeningEntry) {
    const auto saved = ComponentBase::sNewInstanceType;
    ComponentBase::sNewInstanceType = ComponentBase::kComponentMgrInstance;
    TestComponent cm(nullptr, nullptr);
    ComponentBase::sNewInstanceType = ComponentBase::kAudioComponentInstance;
    TestComponent ac(nullptr, nullptr);
    ComponentBase::sNewInstanceType = saved;
    EXPECT_EQ(cm.InstanceType(), ComponentBase::kComponentMgrInstance);
    EXPECT_EQ(ac.InstanceType(), ComponentBase::kAudioComponentInstance);
    // Changing the process-wide value later does not touch built objects.
    EXPECT_EQ(cm.InstanceType(), ComponentBase::kComponentMgrInstance);
}

TEST(ComponentBase, DescriptionThroughBothServicePaths) {
    ASSERT_NE(RegisteredComponent(), nullptr);
    AudioComponentInstance instance = nullptr;
    ASSERT_EQ(AudioComponentInstanceNew(RegisteredComponent(), &instance), 0);
    ASSERT_NE(gLastOpened, nullptr);
    TestComponent* opened = gLastOpened->object;
    EXPECT_EQ(opened->GetComponentInstance(), instance);
    EXPECT_EQ(opened->InstanceType(), ComponentBase::kAudioComponentInstance);
    EXPECT_EQ(gLastOpened->journal.postConstructed, 1);
    EXPECT_TRUE(SameDescription(opened->GetComponentDescription(), kTestDescription));

    // A Component Manager object asks GetComponentInfo with its handle.
    const auto saved = ComponentBase::sNewInstanceType;
    ComponentBase::sNewInstanceType = ComponentBase::kComponentMgrInstance;
    TestComponent viaInfo(instance, nullptr);
    ComponentBase::sNewInstanceType = saved;
    EXPECT_TRUE(SameDescription(viaInfo.GetComponentDescription(), kTestDescription));

    // Handles the services do not know give zeros on both paths.
    alignas(16) static long bogus[4];
    auto* unknown = reinterpret_cast<AudioComponentInstance>(bogus);
    ComponentBase::sNewInstanceType = ComponentBase::kAudioComponentInstance;
    TestComponent unknownAC(unknown, nullptr);
    ComponentBase::sNewInstanceType = ComponentBase::kComponentMgrInstance;
    TestComponent unknownCM(unknown, nullptr);
    ComponentBase::sNewInstanceType = saved;
    EXPECT_TRUE(SameDescription(unknownAC.GetComponentDescription(), AudioComponentDescription{}));
    EXPECT_TRUE(SameDescription(unknownCM.GetComponentDescription(), AudioComponentDescription{}));

    EXPECT_EQ(AudioComponentInstanceDispose(instance), 0);
    EXPECT_EQ(gLastOpened, nullptr);
}

TEST(ComponentBase, InstanceStorage) {
    AudioComponentInstance instance = nullptr;
    ASSERT_EQ(AudioComponentInstanceNew(RegisteredComponent(), &instance), 0);
    EXPECT_EQ(CMgr_GetComponentInstanceStorage(instance), nullptr);
    int object = 0;
    CMgr_SetComponentInstanceStorage(instance, reinterpret_cast<Handle>(&object));
    EXPECT_EQ(CMgr_GetComponentInstanceStorage(instance), reinterpret_cast<Handle>(&object));
    CMgr_SetComponentInstanceStorage(instance, nullptr);
    EXPECT_EQ(CMgr_GetComponentInstanceStorage(instance), nullptr);
    EXPECT_EQ(AudioComponentInstanceDispose(instance), 0);
    // A closed instance keeps nothing.
    EXPECT_EQ(CMgr_GetComponentInstanceStorage(nullptr), nullptr);
}

TEST(ComponentBase, SelectorForCanDo) {
    auto canDoClose = CanDo(kComponentCloseSelect);
    EXPECT_EQ(ComponentBase::GetSelectorForCanDo(canDoClose.get()), kComponentCloseSelect);
    auto canDoRender = CanDo(14);
    EXPECT_EQ(ComponentBase::GetSelectorForCanDo(canDoRender.get()), 14);
    // Only the can-do request carries an asked selector.
    auto version = Plain(kComponentVersionSelect);
    version.params[1] = 14;
    EXPECT_EQ(ComponentBase::GetSelectorForCanDo(version.get()), 0);
    EXPECT_EQ(ComponentBase::GetSelectorForCanDo(nullptr), 0);
}

TEST(ComponentBase, ComponentLevelDispatch) {
    Journal journal;
    auto* plain = new TestComponent(nullptr, &journal);
    auto* versioned = new TestComponent(nullptr, nullptr, 0x10000);

    auto version = Plain(kComponentVersionSelect);
    EXPECT_EQ(ComponentBase::ComponentEntryDispatch(version.get(), plain), 1);
    EXPECT_EQ(ComponentBase::ComponentEntryDispatch(version.get(), versioned), 0x10000);

    for (SInt16 asked : {kComponentOpenSelect, kComponentCloseSelect, kComponentCanDoSelect,
                         kComponentVersionSelect}) {
        auto request = CanDo(asked);
        EXPECT_EQ(ComponentBase::ComponentEntryDispatch(request.get(), plain), 1) << asked;
    }
    for (SInt16 asked : {SInt16(8), SInt16(1), SInt16(0), SInt16(-5), SInt16(513)}) {
        auto request = CanDo(asked);
        EXPECT_EQ(ComponentBase::ComponentEntryDispatch(request.get(), plain), 0) << asked;
    }

    for (SInt16 what :
         {SInt16(1), SInt16(8), SInt16(14), SInt16(-5), SInt16(kComponentOpenSelect)}) {
        auto request = Plain(what);
        EXPECT_EQ(ComponentBase::ComponentEntryDispatch(request.get(), plain), -2147450878) << what;
    }

    auto close = Plain(kComponentCloseSelect);
    EXPECT_EQ(ComponentBase::ComponentEntryDispatch(close.get(), nullptr), -50);
    EXPECT_EQ(ComponentBase::ComponentEntryDispatch(version.get(), nullptr), -50);
    EXPECT_EQ(ComponentBase::ComponentEntryDispatch(nullptr, plain), -50);

    EXPECT_EQ(ComponentBase::ComponentEntryDispatch(close.get(), plain), 0);
    EXPECT_EQ(journal.preDestructed, 1);
    EXPECT_EQ(journal.destroyed, 1);
    EXPECT_TRUE(journal.preDestructedBeforeDestroy);
    EXPECT_EQ(ComponentBase::ComponentEntryDispatch(close.get(), versioned), 0);
}

// Runs in a fresh process (the services are resolved once per process):
// with the platform frameworks unavailable nothing is found, and nothing
// crashes.
void CheckServicesMissing() {
    VXPlatformSetFrameworksAvailable(false);
    AudioComponentInstance instance = nullptr;
    if (AudioComponentInstanceNew(RegisteredComponent(), &instance) != 0 ||
        gLastOpened == nullptr) {
        std::fprintf(stderr, "could not open the test component\n");
        std::exit(2);
    }
    int failures = 0;
    if (!SameDescription(gLastOpened->object->GetComponentDescription(),
                         AudioComponentDescription{})) {
        std::fprintf(stderr, "Audio Component description not zero\n");
        ++failures;
    }
    const auto saved = ComponentBase::sNewInstanceType;
    ComponentBase::sNewInstanceType = ComponentBase::kComponentMgrInstance;
    TestComponent cm(instance, nullptr);
    ComponentBase::sNewInstanceType = saved;
    if (!SameDescription(cm.GetComponentDescription(), AudioComponentDescription{})) {
        std::fprintf(stderr, "Component Manager description not zero\n");
        ++failures;
    }
    int object = 0;
    CMgr_SetComponentInstanceStorage(instance, reinterpret_cast<Handle>(&object));
    if (CMgr_GetComponentInstanceStorage(instance) != nullptr) {
        std::fprintf(stderr, "storage found without the services\n");
        ++failures;
    }
    if (ComponentBase::sGetComponentInstanceStorageProc != nullptr ||
        ComponentBase::sSetComponentInstanceStorageProc != nullptr ||
        ComponentBase::sGetComponentInfoProc != nullptr) {
        std::fprintf(stderr, "services resolved although missing\n");
        ++failures;
    }
    // The services really are there once available: the storage call above
    // went nowhere.
    VXPlatformSetFrameworksAvailable(true);
    if (GetComponentInstanceStorage(instance) != nullptr) {
        std::fprintf(stderr, "storage reached the platform\n");
        ++failures;
    }
    AudioComponentInstanceDispose(instance);
    std::exit(failures == 0 ? 0 : 1);
}

TEST(ComponentBaseDeathTest, ServicesMissing) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(CheckServicesMissing(), testing::ExitedWithCode(0), "");
}

} // namespace
