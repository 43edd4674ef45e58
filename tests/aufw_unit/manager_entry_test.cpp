// The Component Manager entry with the test unit in this process: open and
// close, the component-level requests, the can-do answers, the requests
// that differ from the factory path, short parameter blocks and the
// fast-dispatch procedures.

#include "entry_support.h"

#include <aufw/AUBase.h>

#include <AudioUnit/AudioUnitProperties.h>
#include <VextraHost/VXHostRuntime.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>
#include <vector>

using namespace entrytest;
using namespace testunit;

namespace {

constexpr AudioUnitScope kOut = kAudioUnitScope_Output;
constexpr AudioUnitScope kGlob = kAudioUnitScope_Global;

class ManagerEntry : public ::testing::Test {
protected:
    void SetUp() override {
        VXTestUnitResetLog();
        VXTestUnitSetOpenFailure(kFailNowhere, kRaiseNothing);
    }
    void TearDown() override {
        VXTestUnitSetOpenFailure(kFailNowhere, kRaiseNothing);
        EXPECT_EQ(unitLog().live, 0) << "a unit was left open";
    }

    void* open() {
        OSStatus status = -1;
        void* unit = cmOpen(madeUpInstance(7), &status);
        EXPECT_EQ(status, 0);
        EXPECT_NE(unit, nullptr);
        return unit;
    }
    void close(void* unit) { EXPECT_EQ(cm(unit, kComponentCloseSelect), 0); }
};

} // namespace

TEST_F(ManagerEntry, OpenConstructsUnderTheLockWithTheManagerInstanceTypeAndItsVersion) {
    const auto typeBefore = ComponentBase::sNewInstanceType;
    void* unit = open();
    EXPECT_EQ(unitLog().instanceTypeAtConstruction, ComponentBase::kComponentMgrInstance);
    EXPECT_EQ(static_cast<AUBase*>(unit)->InstanceType(), ComponentBase::kComponentMgrInstance);
    EXPECT_EQ(static_cast<AUBase*>(unit)->GetComponentInstance(), madeUpInstance(7));
    EXPECT_EQ(ComponentBase::sNewInstanceType, typeBefore);
    EXPECT_EQ(unitLog().openLockHeldDuringConstruction, 1);
    EXPECT_EQ(unitLog().openLockHeldDuringPostConstructor, 1);
    EXPECT_TRUE(static_cast<AUBase*>(unit)->ElementsCreated());
    EXPECT_EQ(cm(unit, kComponentVersionSelect), kVersion);
    close(unit);
}

TEST_F(ManagerEntry, CloseAnswers0AndDeletesAfterPreDestructor) {
    void* unit = open();
    ASSERT_EQ(cm(unit, kAudioUnitInitializeSelect), 0);
    EXPECT_TRUE(static_cast<AUBase*>(unit)->IsInitialized());
    EXPECT_EQ(cm(unit, kComponentCloseSelect), 0);
    EXPECT_EQ(unitLog().live, 0);
    ASSERT_EQ(unitLog().eventCount, 4);
    EXPECT_EQ(unitLog().events[2], kEventPreDestructor);
    EXPECT_EQ(unitLog().events[3], kEventDestructed);
}

TEST_F(ManagerEntry, CanDoAnswersForEverySelector) {
    void* unit = open();
    // 11, the older listener removal, is the one unit request this path
    // cannot do.
    const std::vector<SInt16> yes = {-1, -2, -3, -4, 1,  2,  3,  4,  5,
                                     6,  7,  9,  10, 14, 15, 16, 17, 18};
    for (SInt16 s = -12; s < 600; ++s) {
        const bool expected = std::find(yes.begin(), yes.end(), s) != yes.end();
        EXPECT_EQ(cm(unit, kComponentCanDoSelect, s), expected ? 1 : 0) << "selector " << s;
    }
    close(unit);
}

TEST_F(ManagerEntry, UnknownRequestsAnswerTheUnknownSelectorStatus) {
    void* unit = open();
    for (SInt16 s : {8, 11, 12, 13, 19, 20, 21, 257, 513, -5, -10, 0, 999}) {
        EXPECT_EQ(cm(unit, s, UInt32{0}, UInt32{0}, UInt32{0}), badComponentSelector)
            << "selector " << s;
    }
    close(unit);
}

TEST_F(ManagerEntry, EveryRequestWithoutAUnitAnswersParamErr) {
    for (SInt16 s : {-2, -3, -4, 1, 2, 3, 4, 5, 6, 7, 9, 10, 11, 14, 15, 16, 17, 18, 99}) {
        EXPECT_EQ(cm(nullptr, s, UInt32{0}, UInt32{0}, UInt32{0}, UInt32{0}, UInt32{0}), paramErr)
            << "selector " << s;
    }
    EXPECT_EQ(VXTestUnitEntry(nullptr, nullptr), paramErr);
}

TEST_F(ManagerEntry, ABlockTooShortForItsRequestIsRefused) {
    void* unit = open();
    Float64 rate = 0;
    UInt32 size = sizeof rate;
    Block b = makeBlock(kAudioUnitGetPropertySelect, nullptr, UInt32{kAudioUnitProperty_SampleRate},
                        kOut, UInt32{0}, static_cast<void*>(&rate), &size);
    b.paramSize = 4 * sizeof(long);
    EXPECT_EQ(VXTestUnitEntry(b.get(), static_cast<VXTestUnit*>(unit)), paramErr);
    b.paramSize = 5 * sizeof(long);
    EXPECT_EQ(VXTestUnitEntry(b.get(), static_cast<VXTestUnit*>(unit)), 0);
    EXPECT_EQ(rate, 44100.0);
    close(unit);
}

TEST_F(ManagerEntry, ResetClearsTheRenderTimeBeforeTheUnitsReset) {
    void* unit = open();
    AudioTimeStamp ts{};
    ts.mSampleTime = 2048;
    ts.mHostTime = 77;
    static_cast<AUBase*>(unit)->SetCurrentRenderTime(ts);
    EXPECT_EQ(cm(unit, kAudioUnitResetSelect, kGlob, UInt32{0}), 0);
    EXPECT_EQ(unitLog().resetCalls, 1);
    EXPECT_EQ(unitLog().renderTimeAtReset, -1.0);
    EXPECT_EQ(static_cast<AUBase*>(unit)->CurrentRenderTime().mHostTime, 0u);
    close(unit);
}

TEST_F(ManagerEntry, AFailedOpenAnswersTheStatusAndStoresNothing) {
    for (UInt32 point : {kFailInConstructor, kFailInPostConstructor}) {
        for (UInt32 kind = kRaiseCAXException; kind < kRaiseKindCount; ++kind) {
            SCOPED_TRACE(testing::Message() << "point " << point << " kind " << kind);
            VXTestUnitResetLog();
            VXTestUnitSetOpenFailure(point, kind);
            const auto typeBefore = ComponentBase::sNewInstanceType;
            OSStatus status = 0;
            EXPECT_EQ(cmOpen(madeUpInstance(8), &status), nullptr);
            const OSStatus expected = ExpectedStatus(kind) != 0
                                          ? ExpectedStatus(kind)
                                          : kAudioUnitErr_FailedInitialization;
            EXPECT_EQ(status, expected);
            EXPECT_EQ(unitLog().live, 0);
            EXPECT_EQ(ComponentBase::sNewInstanceType, typeBefore);
            std::thread other([] {
                EXPECT_EQ(pthread_mutex_trylock(&detail::ComponentOpenMutex()), 0);
                pthread_mutex_unlock(&detail::ComponentOpenMutex());
            });
            other.join();
        }
    }
}

TEST_F(ManagerEntry, RequestsReachTheUnitWithTheirArguments) {
    void* unit = open();
    auto* base = static_cast<AUBase*>(unit);
    EXPECT_EQ(cm(unit, kAudioUnitSetParameterSelect, UInt32{kParamGain}, kGlob, UInt32{0},
                 Float32{1.5f}, UInt32{0}),
              0);
    AudioUnitParameterValue value = 0;
    EXPECT_EQ(cm(unit, kAudioUnitGetParameterSelect, UInt32{kParamGain}, kGlob, UInt32{0}, &value),
              0);
    EXPECT_FLOAT_EQ(value, 1.5f);
    EXPECT_EQ(cm(unit, kAudioUnitGetParameterSelect, UInt32{kParamGain}, kGlob, UInt32{0},
                 static_cast<AudioUnitParameterValue*>(nullptr)),
              paramErr);

    UInt32 size = 0;
    Boolean writable = true;
    EXPECT_EQ(cm(unit, kAudioUnitGetPropertyInfoSelect, UInt32{kAudioUnitProperty_LastRenderError},
                 kGlob, UInt32{0}, &size, &writable),
              0);
    EXPECT_EQ(size, 4u);
    EXPECT_FALSE(writable);

    // Writes: the same rule as the factory path.
    const UInt64 echo = 99;
    EXPECT_EQ(cm(unit, kAudioUnitSetPropertySelect, UInt32{kEchoProperty}, kGlob, UInt32{0},
                 static_cast<const void*>(&echo), UInt32{0}),
              paramErr);
    EXPECT_EQ(unitLog().setPropertyCalls, 0);
    EXPECT_EQ(cm(unit, kAudioUnitSetPropertySelect, UInt32{kEchoProperty}, kGlob, UInt32{0},
                 static_cast<const void*>(&echo), UInt32{8}),
              0);
    EXPECT_EQ(unitLog().setPropertyCalls, 1);

    // Scheduling, with the interface version this unit has.
    EXPECT_EQ(base->AudioUnitAPIVersion(), 2);
    AudioUnitParameterEvent event{};
    event.scope = kGlob;
    event.parameter = kParamOffset;
    event.eventType = kParameterEvent_Immediate;
    event.eventValues.immediate.value = 0.25f;
    EXPECT_EQ(cm(unit, kAudioUnitScheduleParametersSelect,
                 static_cast<const AudioUnitParameterEvent*>(&event), UInt32{1}),
              0);
    EXPECT_TRUE(base->HasScheduledParameterEvents());
    EXPECT_EQ(cm(unit, kAudioUnitScheduleParametersSelect,
                 static_cast<const AudioUnitParameterEvent*>(nullptr), UInt32{1}),
              paramErr);

    // Listeners: only removal with user data exists on this path.
    int heard = 0;
    const auto listener = [](void* ref, AudioUnit, AudioUnitPropertyID, AudioUnitScope,
                             AudioUnitElement) { ++*static_cast<int*>(ref); };
    AudioUnitPropertyListenerProc proc = listener;
    EXPECT_EQ(cm(unit, kAudioUnitAddPropertyListenerSelect, UInt32{kEchoProperty}, proc,
                 static_cast<void*>(&heard)),
              0);
    EXPECT_EQ(cm(unit, kAudioUnitAddPropertyListenerSelect, UInt32{kEchoProperty},
                 static_cast<AudioUnitPropertyListenerProc>(nullptr), static_cast<void*>(&heard)),
              paramErr);
    EXPECT_EQ(cm(unit, kAudioUnitSetPropertySelect, UInt32{kEchoProperty}, kGlob, UInt32{0},
                 static_cast<const void*>(&echo), UInt32{8}),
              0);
    EXPECT_EQ(heard, 1);
    EXPECT_EQ(cm(unit, kAudioUnitRemovePropertyListenerSelect, UInt32{kEchoProperty}, proc),
              badComponentSelector);
    EXPECT_EQ(cm(unit, kAudioUnitRemovePropertyListenerWithUserDataSelect, UInt32{kEchoProperty},
                 proc, static_cast<void*>(&heard)),
              0);
    EXPECT_EQ(cm(unit, kAudioUnitSetPropertySelect, UInt32{kEchoProperty}, kGlob, UInt32{0},
                 static_cast<const void*>(&echo), UInt32{8}),
              0);
    EXPECT_EQ(heard, 1);

    // Render: the same pointer checks as the factory path.
    AudioTimeStamp ts{};
    AudioBufferList list{};
    EXPECT_EQ(cm(unit, kAudioUnitRenderSelect, static_cast<AudioUnitRenderActionFlags*>(nullptr),
                 static_cast<const AudioTimeStamp*>(nullptr), UInt32{0}, UInt32{8}, &list),
              paramErr);
    EXPECT_EQ(cm(unit, kAudioUnitRenderSelect, static_cast<AudioUnitRenderActionFlags*>(nullptr),
                 static_cast<const AudioTimeStamp*>(&ts), UInt32{0}, UInt32{8}, &list),
              kAudioUnitErr_Uninitialized);

    // Raised errors.
    for (UInt32 kind = 0; kind < kRaiseKindCount; ++kind) {
        EXPECT_EQ(cm(unit, kAudioUnitSetPropertySelect, UInt32{kRaiseProperty}, kGlob, UInt32{0},
                     static_cast<const void*>(&kind), UInt32{4}),
                  ExpectedStatus(kind))
            << kind;
    }
    close(unit);
}

TEST_F(ManagerEntry, FastDispatchProceduresTakeTheUnitDirectly) {
    void* unit = open();
    const auto procFor = [&](UInt32 selector) {
        void* proc = nullptr;
        UInt32 size = sizeof proc;
        EXPECT_EQ(cm(unit, kAudioUnitGetPropertySelect, UInt32{kAudioUnitProperty_FastDispatch},
                     kGlob, selector, static_cast<void*>(&proc), &size),
                  0);
        EXPECT_EQ(size, sizeof proc);
        return proc;
    };
    auto getParam =
        reinterpret_cast<AudioUnitGetParameterProc>(procFor(kAudioUnitGetParameterSelect));
    auto setParam =
        reinterpret_cast<AudioUnitSetParameterProc>(procFor(kAudioUnitSetParameterSelect));
    auto render = reinterpret_cast<AudioUnitRenderProc>(procFor(kAudioUnitRenderSelect));
    ASSERT_EQ(reinterpret_cast<void*>(getParam),
              reinterpret_cast<void*>(&CMgr_AudioUnitBaseGetParameter));
    ASSERT_EQ(reinterpret_cast<void*>(setParam),
              reinterpret_cast<void*>(&CMgr_AudioUnitBaseSetParameter));
    ASSERT_EQ(reinterpret_cast<void*>(render), reinterpret_cast<void*>(&CMgr_AudioUnitBaseRender));

    EXPECT_EQ(setParam(unit, kParamOffset, kGlob, 0, -0.5f, 0), 0);
    AudioUnitParameterValue value = 0;
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

    // Other elements are the unit's own question.
    void* proc = nullptr;
    UInt32 size = sizeof proc;
    EXPECT_EQ(cm(unit, kAudioUnitGetPropertySelect, UInt32{kAudioUnitProperty_FastDispatch}, kGlob,
                 UInt32{kAudioUnitResetSelect}, static_cast<void*>(&proc), &size),
              kAudioUnitErr_InvalidProperty);
    close(unit);
}

TEST(ManagerEntryServices, AnOpenFailsWhenTheUnitCannotBeStored) {
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
