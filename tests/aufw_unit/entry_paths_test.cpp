// The test unit's two entries called directly in this process, as the
// platform would: the factory record's looked-up methods and the Component
// Manager entry. What both must do alike is one test run on each entry;
// what only the Component Manager entry has follows.
#include "entry_support.h"

#include <aufw/AUBase.h>

#include <VextraHost/VXHostRuntime.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using namespace entrytest;
using namespace testunit;

namespace {

constexpr AudioUnitScope kGlob = kAudioUnitScope_Global;

enum class Entry { Factory, Manager };

// A unit opened through one entry, with requests sent the same way.
class EntryTest : public ::testing::TestWithParam<Entry> {
protected:
    void SetUp() override { VXTestUnitResetLog(); }
    void TearDown() override {
        if (mUnit != nullptr) {
            close();
        }
        VXTestUnitSetOpenFailure(kFailNowhere, kRaiseNothing);
        EXPECT_EQ(unitLog().live, 0) << "a unit was left open";
    }

    // Opens a unit; null when the open fails, with its status.
    AUBase* open(OSStatus& status) {
        if (factory()) {
            mRecord = VXTestUnitFactory(nullptr);
            status = mRecord->Open(mRecord, madeUpInstance(1));
            mUnit = status == 0 ? reinterpret_cast<AudioComponentPlugInInstance*>(mRecord)->Unit()
                                : nullptr;
        } else {
            mUnit = static_cast<AUBase*>(cmOpen(madeUpInstance(1), &status));
        }
        return mUnit;
    }
    AUBase* open() {
        OSStatus status = -1;
        open(status);
        EXPECT_EQ(status, 0);
        return mUnit;
    }
    void close() {
        EXPECT_EQ(factory() ? mRecord->Close(mRecord) : cm(mUnit, kComponentCloseSelect), 0);
        mUnit = nullptr;
    }
    template <typename... Args> OSStatus req(SInt16 selector, Args... args) {
        return factory() ? ac(mRecord, selector, args...) : cm(mUnit, selector, args...);
    }
    OSStatus setProp(AudioUnitPropertyID id, const void* data, UInt32 size) {
        return req(kAudioUnitSetPropertySelect, id, kGlob, UInt32{0}, data, size);
    }
    bool factory() const { return GetParam() == Entry::Factory; }

    AudioComponentPlugInInterface* mRecord = nullptr;
    AUBase* mUnit = nullptr;
};

} // namespace

TEST_P(EntryTest, OpenConstructsUnderTheLockAndCloseDestroysAfterPreDestructor) {
    const auto typeBefore = ComponentBase::sNewInstanceType;
    AUBase* unit = open();
    ASSERT_NE(unit, nullptr);
    const auto type =
        factory() ? ComponentBase::kAudioComponentInstance : ComponentBase::kComponentMgrInstance;
    EXPECT_EQ(unitLog().instanceTypeAtConstruction, type);
    EXPECT_EQ(unit->InstanceType(), type);
    EXPECT_EQ(unit->GetComponentInstance(), madeUpInstance(1));
    EXPECT_EQ(ComponentBase::sNewInstanceType, typeBefore);
    EXPECT_EQ(unitLog().openLockHeldDuringConstruction, 1);
    EXPECT_EQ(unitLog().openLockHeldDuringPostConstructor, 1);
    for (SInt16 selector :
         {kAudioUnitInitializeSelect, kAudioUnitUninitializeSelect, kAudioUnitInitializeSelect}) {
        ASSERT_EQ(req(selector), 0);
        EXPECT_EQ(unit->IsInitialized(), selector == kAudioUnitInitializeSelect);
    }
    close(); // cleans up the initialized unit
    const std::vector<LifeEvent> events(unitLog().events, unitLog().events + unitLog().eventCount);
    EXPECT_EQ(events, (std::vector<LifeEvent>{kEventConstructed, kEventPostConstructed,
                                              kEventPreDestructor, kEventDestructed}));
}

TEST_P(EntryTest, AFailedOpenAnswersItsStatusAndLeavesNothingBehind) {
    const auto typeBefore = ComponentBase::sNewInstanceType;
    for (UInt32 point : {kFailInConstructor, kFailInPostConstructor}) {
        for (UInt32 kind = kRaiseCAXException; kind < kRaiseKindCount; ++kind) {
            SCOPED_TRACE(testing::Message() << "point " << point << " kind " << kind);
            VXTestUnitSetOpenFailure(point, kind);
            // A failed factory open frees its record (the sanitizer build
            // checks it is freed exactly once); a raised 0 still fails.
            OSStatus status = 0;
            EXPECT_EQ(open(status), nullptr);
            EXPECT_EQ(status, ExpectedStatus(kind) != 0 ? ExpectedStatus(kind)
                                                        : kAudioUnitErr_FailedInitialization);
            EXPECT_EQ(unitLog().live, 0);
            EXPECT_EQ(ComponentBase::sNewInstanceType, typeBefore);
            std::thread([] {
                EXPECT_EQ(pthread_mutex_trylock(&detail::ComponentOpenMutex()), 0);
                pthread_mutex_unlock(&detail::ComponentOpenMutex());
            }).join();
        }
    }
}

TEST_P(EntryTest, RequestsReachTheUnitWithTheirArgumentsAndPointersAreChecked) {
    AUBase* unit = open();
    ASSERT_NE(unit, nullptr);
    for (UInt32 kind = 0; kind < kRaiseKindCount; ++kind) {
        EXPECT_EQ(setProp(kRaiseProperty, &kind, sizeof kind), ExpectedStatus(kind)) << kind;
    }
    AudioUnitParameterValue value = 0;
    const auto getGain = [&](AudioUnitScope scope, UInt32 element, AudioUnitParameterValue* out) {
        return req(kAudioUnitGetParameterSelect, UInt32{kParamGain}, scope, element, out);
    };
    EXPECT_EQ(getGain(7, 0, &value), kAudioUnitErr_InvalidScope);
    EXPECT_EQ(getGain(kGlob, 3, &value), kAudioUnitErr_InvalidElement);
    EXPECT_EQ(getGain(kGlob, 0, nullptr), paramErr);
    EXPECT_EQ(req(kAudioUnitSetParameterSelect, UInt32{kParamGain}, kGlob, UInt32{0}, Float32{1.5f},
                  UInt32{0}),
              0);
    EXPECT_EQ(getGain(kGlob, 0, &value), 0);
    EXPECT_FLOAT_EQ(value, 1.5f);
    UInt32 size = 0;
    Boolean writable = true;
    EXPECT_EQ(req(kAudioUnitGetPropertyInfoSelect, UInt32{kAudioUnitProperty_LastRenderError},
                  kGlob, UInt32{0}, &size, &writable),
              0);
    EXPECT_EQ(size, 4u);
    EXPECT_FALSE(writable);

    // Writes need data and size together; neither half reaches the unit.
    const UInt32 none = kRaiseNothing;
    const int calls = unitLog().setPropertyCalls;
    EXPECT_EQ(setProp(kRaiseProperty, &none, 0), paramErr);
    EXPECT_EQ(setProp(kRaiseProperty, nullptr, 4), paramErr);
    EXPECT_EQ(unitLog().setPropertyCalls, calls);
    EXPECT_EQ(setProp(kRaiseProperty, &none, 4), 0);
    // No data and no size removes the value; this unit has nothing to remove.
    EXPECT_EQ(setProp(kRaiseProperty, nullptr, 0), kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(unitLog().setPropertyCalls, calls + 1);
    EXPECT_EQ(setProp(kAudioUnitProperty_ContextName, nullptr, 0), 0);

    // Scheduling, with the interface version this unit has.
    EXPECT_EQ(unit->AudioUnitAPIVersion(), 2);
    AudioUnitParameterEvent event{};
    event.parameter = kParamOffset;
    event.eventType = kParameterEvent_Immediate;
    using Events = const AudioUnitParameterEvent*;
    EXPECT_EQ(req(kAudioUnitScheduleParametersSelect, static_cast<Events>(&event), UInt32{1}), 0);
    EXPECT_TRUE(unit->HasScheduledParameterEvents());
    EXPECT_EQ(req(kAudioUnitScheduleParametersSelect, Events{}, UInt32{1}), paramErr);
    EXPECT_EQ(req(kAudioUnitScheduleParametersSelect, Events{}, UInt32{0}), 0);

    // Listeners; the older removal without user data is the factory's alone.
    int heard = 0;
    AudioUnitPropertyListenerProc proc = [](void* ref, AudioUnit, AudioUnitPropertyID,
                                            AudioUnitScope,
                                            AudioUnitElement) { ++*static_cast<int*>(ref); };
    void* const ref = &heard;
    const auto add = [&](AudioUnitPropertyListenerProc p) {
        return req(kAudioUnitAddPropertyListenerSelect, UInt32{kRaiseProperty}, p, ref);
    };
    EXPECT_EQ(add(nullptr), paramErr);
    ASSERT_EQ(add(proc), 0);
    ASSERT_EQ(setProp(kRaiseProperty, &none, 4), 0);
    EXPECT_EQ(heard, 1);
    EXPECT_EQ(req(kAudioUnitRemovePropertyListenerSelect, UInt32{kRaiseProperty}, proc),
              factory() ? 0 : badComponentSelector);
    if (factory()) {
        ASSERT_EQ(add(proc), 0);
    }
    EXPECT_EQ(
        req(kAudioUnitRemovePropertyListenerWithUserDataSelect, UInt32{kRaiseProperty}, proc, ref),
        0);
    ASSERT_EQ(setProp(kRaiseProperty, &none, 4), 0);
    EXPECT_EQ(heard, 1);
    AURenderCallback note = [](void*, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32,
                               UInt32, AudioBufferList*) -> OSStatus { return 0; };
    EXPECT_EQ(req(kAudioUnitAddRenderNotifySelect, AURenderCallback{}, ref), paramErr);
    EXPECT_EQ(req(kAudioUnitAddRenderNotifySelect, note, ref), 0);
    EXPECT_EQ(req(kAudioUnitRemoveRenderNotifySelect, note, ref), 0);

    // Render: time stamp and list must be there; a missing flags word is
    // the entry's own zero, so this reaches the unit's check.
    AudioTimeStamp ts{};
    AudioBufferList list{};
    const auto render = [&](const AudioTimeStamp* t, AudioBufferList* l) {
        return req(kAudioUnitRenderSelect, static_cast<AudioUnitRenderActionFlags*>(nullptr), t,
                   UInt32{0}, UInt32{8}, l);
    };
    EXPECT_EQ(render(nullptr, &list), paramErr);
    EXPECT_EQ(render(&ts, nullptr), paramErr);
    EXPECT_EQ(render(&ts, &list), kAudioUnitErr_Uninitialized);

    // Only the Manager's reset clears the render time before the unit's Reset.
    ts.mSampleTime = 1024;
    ts.mHostTime = 77;
    unit->SetCurrentRenderTime(ts);
    EXPECT_EQ(req(kAudioUnitResetSelect, kGlob, UInt32{0}), 0);
    EXPECT_EQ(unitLog().resetCalls, 1);
    EXPECT_EQ(unitLog().renderTimeAtReset, factory() ? 1024.0 : -1.0);
    EXPECT_EQ(unit->CurrentRenderTime().mHostTime, 0u); // the unit's own reset
}

TEST_P(EntryTest, OnlyManagerInstancesHandOutFastDispatchProcedures) {
    ASSERT_NE(open(), nullptr);
    const auto procFor = [&](UInt32 selector, OSStatus expected) {
        void* proc = nullptr;
        UInt32 size = sizeof proc;
        EXPECT_EQ(req(kAudioUnitGetPropertySelect, UInt32{kAudioUnitProperty_FastDispatch}, kGlob,
                      selector, static_cast<void*>(&proc), &size),
                  expected)
            << selector;
        return proc;
    };
    const OSStatus served = factory() ? kAudioUnitErr_InvalidProperty : 0;
    UInt32 size = 0;
    Boolean writable = true;
    EXPECT_EQ(req(kAudioUnitGetPropertyInfoSelect, UInt32{kAudioUnitProperty_FastDispatch}, kGlob,
                  UInt32{kAudioUnitRenderSelect}, &size, &writable),
              served);
    EXPECT_EQ(size, sizeof(void*));
    EXPECT_FALSE(writable);
    auto getParam =
        reinterpret_cast<AudioUnitGetParameterProc>(procFor(kAudioUnitGetParameterSelect, served));
    auto setParam =
        reinterpret_cast<AudioUnitSetParameterProc>(procFor(kAudioUnitSetParameterSelect, served));
    auto render = reinterpret_cast<AudioUnitRenderProc>(procFor(kAudioUnitRenderSelect, served));
    // Other elements are the unit's own question.
    EXPECT_EQ(procFor(kAudioUnitResetSelect, kAudioUnitErr_InvalidProperty), nullptr);
    if (factory()) {
        EXPECT_EQ(render, nullptr);
        return;
    }
    // The procedures are the entry's own, called with the unit object.
    ASSERT_TRUE(getParam != nullptr && setParam != nullptr && render != nullptr);
    void* unit = mUnit;
    AudioUnitParameterValue value = 0;
    EXPECT_EQ(setParam(unit, kParamOffset, kGlob, 0, -0.5f, 0), 0);
    EXPECT_EQ(getParam(unit, kParamOffset, kGlob, 0, &value), 0);
    EXPECT_FLOAT_EQ(value, -0.5f);
    EXPECT_EQ(getParam(unit, kParamOffset, 9, 0, &value), kAudioUnitErr_InvalidScope);
    EXPECT_EQ(getParam(unit, 77, kGlob, 0, &value), kAudioUnitErr_InvalidParameter);
    EXPECT_EQ(getParam(nullptr, kParamOffset, kGlob, 0, &value), paramErr);
    EXPECT_EQ(getParam(unit, kParamOffset, kGlob, 0, nullptr), paramErr);
    EXPECT_EQ(setParam(nullptr, kParamOffset, kGlob, 0, 0.0f, 0), paramErr);
    AudioTimeStamp ts{};
    AudioBufferList list{};
    EXPECT_EQ(render(unit, nullptr, nullptr, 0, 8, &list), paramErr);
    EXPECT_EQ(render(unit, nullptr, &ts, 0, 8, nullptr), paramErr);
    EXPECT_EQ(render(unit, nullptr, &ts, 0, 8, &list), kAudioUnitErr_Uninitialized);
    EXPECT_EQ(render(nullptr, nullptr, &ts, 0, 8, &list), paramErr);
}

INSTANTIATE_TEST_SUITE_P(BothEntries, EntryTest, ::testing::Values(Entry::Factory, Entry::Manager),
                         [](const auto& info) {
                             return std::string(info.param == Entry::Factory ? "Factory"
                                                                             : "Manager");
                         });

TEST(ManagerEntry, VersionCanDoUnknownRequestsAndShortBlocks) {
    VXTestUnitResetLog();
    void* unit = cmOpen(madeUpInstance(7));
    ASSERT_NE(unit, nullptr);
    EXPECT_EQ(cm(unit, kComponentVersionSelect), kVersion);
    // 11, the older listener removal, is the one unit request this entry
    // cannot do.
    const std::vector<SInt16> yes = {-1, -2, -3, -4, 1,  2,  3,  4,  5,
                                     6,  7,  9,  10, 14, 15, 16, 17, 18};
    for (SInt16 s = -12; s < 600; ++s) {
        const bool expected = std::find(yes.begin(), yes.end(), s) != yes.end();
        EXPECT_EQ(cm(unit, kComponentCanDoSelect, s), expected ? 1 : 0) << "selector " << s;
    }
    for (SInt16 s : {8, 11, 12, 13, 19, 20, 21, 257, 513, -5, -10, 0, 999}) {
        EXPECT_EQ(cm(unit, s, UInt32{0}, UInt32{0}, UInt32{0}), badComponentSelector) << s;
    }
    // Without a unit every request is refused.
    for (SInt16 s : {-2, -3, -4, 1, 2, 3, 4, 5, 6, 7, 9, 10, 11, 14, 15, 16, 17, 18, 99}) {
        EXPECT_EQ(cm(nullptr, s, UInt32{0}, UInt32{0}, UInt32{0}, UInt32{0}, UInt32{0}), paramErr)
            << "selector " << s;
    }
    EXPECT_EQ(VXTestUnitEntry(nullptr, nullptr), paramErr);
    // A block too short for its request.
    Float64 rate = 0;
    UInt32 size = sizeof rate;
    Block b = makeBlock(kAudioUnitGetPropertySelect, nullptr, UInt32{kAudioUnitProperty_SampleRate},
                        kAudioUnitScope_Output, UInt32{0}, static_cast<void*>(&rate), &size);
    b.paramSize = 4 * sizeof(long);
    EXPECT_EQ(VXTestUnitEntry(b.get(), static_cast<VXTestUnit*>(unit)), paramErr);
    b.paramSize = 5 * sizeof(long);
    EXPECT_EQ(VXTestUnitEntry(b.get(), static_cast<VXTestUnit*>(unit)), 0);
    EXPECT_EQ(rate, 44100.0);
    EXPECT_EQ(cm(unit, kComponentCloseSelect), 0);
    EXPECT_EQ(unitLog().live, 0);
}

TEST(ManagerEntry, AnOpenFailsWhenTheUnitCannotBeStored) {
    // Run in a fresh process, where the platform's services are resolved for
    // the first time while the frameworks are unavailable.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            VXPlatformSetFrameworksAvailable(false);
            VXTestUnitResetLog();
            OSStatus status = 0;
            void* unit = cmOpen(madeUpInstance(9), &status);
            const bool ok = unit == nullptr && status == kAudioUnitErr_FailedInitialization &&
                            unitLog().live == 0 && unitLog().constructed == 1;
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}
