// The test unit's two entries called directly in this process, as the
// platform would. What both must do alike is one test run on each entry;
// what only the Component Manager entry has follows.
#include "entry_support.h"

#include <aufw/AUBase.h>

#include <VextraHost/VXHostRuntime.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
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

    // Opens a unit; null when the open fails, with its status (a failure when
    // the caller does not ask for it).
    AUBase* open(OSStatus* outStatus = nullptr) {
        OSStatus status = -1;
        if (factory()) {
            mRecord = VXTestUnitFactory(nullptr);
            status = mRecord->Open(mRecord, madeUpInstance(1));
            mUnit = status == 0 ? reinterpret_cast<AudioComponentPlugInInstance*>(mRecord)->Unit()
                                : nullptr;
        } else {
            mUnit = static_cast<AUBase*>(cmOpen(1, &status));
        }
        EXPECT_TRUE(outStatus != nullptr || status == 0) << status;
        if (outStatus != nullptr) {
            *outStatus = status;
        }
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
    // {status, size, writable} of a property's information.
    std::tuple<OSStatus, UInt32, bool> info(AudioUnitPropertyID id, UInt32 element = 0) {
        UInt32 size = 0;
        Boolean writable = true;
        const OSStatus status =
            req(kAudioUnitGetPropertyInfoSelect, id, kGlob, element, &size, &writable);
        return {status, size, writable != 0};
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
    const UInt32 type =
        factory() ? ComponentBase::kAudioComponentInstance : ComponentBase::kComponentMgrInstance;
    const Log& log = unitLog();
    EXPECT_EQ(std::tie(log.instanceTypeAtConstruction, log.lockHeldInConstructor,
                       log.lockHeldInPostConstructor),
              (std::tuple{type, 1, 1}));
    EXPECT_EQ((std::tuple{UInt32{unit->InstanceType()}, unit->GetComponentInstance(),
                          ComponentBase::sNewInstanceType}),
              (std::tuple{type, madeUpInstance(1), typeBefore}));
    for (SInt16 selector :
         {kAudioUnitInitializeSelect, kAudioUnitUninitializeSelect, kAudioUnitInitializeSelect}) {
        ASSERT_EQ(req(selector), 0);
        EXPECT_EQ(unit->IsInitialized(), selector == kAudioUnitInitializeSelect);
    }
    close(); // cleans up the initialized unit
    EXPECT_STREQ(log.events, "CPpD");
}

TEST_P(EntryTest, AFailedOpenAnswersItsStatusAndLeavesNothingBehind) {
    const auto typeBefore = ComponentBase::sNewInstanceType;
    for (UInt32 point : {kFailInConstructor, kFailInPostConstructor}) {
        for (UInt32 kind : {kRaiseCAXException, kRaiseZero}) {
            SCOPED_TRACE(testing::Message() << "point " << point << " kind " << kind);
            VXTestUnitSetOpenFailure(point, kind);
            // A failed factory open frees its record (the sanitizer build
            // checks it is freed exactly once); a raised 0 still fails.
            OSStatus status = 0;
            EXPECT_EQ(open(&status), nullptr);
            EXPECT_EQ(status,
                      kind == kRaiseZero ? kAudioUnitErr_FailedInitialization : kRaisedStatus);
            EXPECT_EQ((std::tuple{unitLog().live, ComponentBase::sNewInstanceType,
                                  VXTestUnitOpenLockHeld()}),
                      (std::tuple{0, typeBefore, 0}));
        }
    }
}

// The answers of each group are one braced list, so the requests run in the
// order written and a count read between them is the count at that point.
TEST_P(EntryTest, RequestsReachTheUnitWithTheirArgumentsAndPointersAreChecked) {
    AUBase* unit = open();
    ASSERT_NE(unit, nullptr);
    const UInt32 kinds[] = {kRaiseNothing, kRaiseCAXException, kRaiseZero};
    AudioUnitParameterValue value = 0;
    const auto getGain = [&](AudioUnitScope scope, UInt32 element, AudioUnitParameterValue* out) {
        return req(kAudioUnitGetParameterSelect, UInt32{kParamGain}, scope, element, out);
    };
    const int calls = unitLog().setPropertyCalls;
    const auto raise = [&](const void* data, UInt32 size) {
        return setProp(kRaiseProperty, data, size);
    };
    // Writes need data and size together; neither half reaches the unit. No
    // data and no size removes the value; this unit has nothing to remove.
    EXPECT_EQ((std::vector<int>{raise(&kinds[0], 4), raise(&kinds[1], 4), raise(&kinds[2], 4),
                                getGain(7, 0, &value), getGain(kGlob, 3, &value),
                                getGain(kGlob, 0, nullptr),
                                req(kAudioUnitSetParameterSelect, UInt32{kParamGain}, kGlob,
                                    UInt32{0}, Float32{1.5f}, UInt32{0}),
                                getGain(kGlob, 0, &value), raise(&kinds[0], 0), raise(nullptr, 4),
                                unitLog().setPropertyCalls - calls, raise(&kinds[0], 4),
                                raise(nullptr, 0), unitLog().setPropertyCalls - calls,
                                setProp(kAudioUnitProperty_ContextName, nullptr, 0)}),
              (std::vector<int>{0, kRaisedStatus, 0, kAudioUnitErr_InvalidScope,
                                kAudioUnitErr_InvalidElement, paramErr, 0, 0, paramErr, paramErr, 3,
                                0, kAudioUnitErr_InvalidPropertyValue, 4, 0}));
    EXPECT_FLOAT_EQ(value, 1.5f);
    EXPECT_EQ(info(kAudioUnitProperty_LastRenderError), (std::tuple{0, 4u, false}));

    // Scheduling, with the interface version this unit has.
    EXPECT_EQ(unit->AudioUnitAPIVersion(), 2);
    AudioUnitParameterEvent event{};
    event.parameter = kParamOffset;
    event.eventType = kParameterEvent_Immediate;
    using Events = const AudioUnitParameterEvent*;
    const auto schedule = [&](Events events, UInt32 n) {
        return req(kAudioUnitScheduleParametersSelect, events, n);
    };
    EXPECT_EQ((std::vector<int>{schedule(&event, 1), unit->HasScheduledParameterEvents(),
                                schedule(nullptr, 1), schedule(nullptr, 0)}),
              (std::vector<int>{0, true, paramErr, 0}));

    // Listeners; the older removal without user data is the factory's alone.
    int heard = 0;
    AudioUnitPropertyListenerProc proc = [](void* ref, AudioUnit, AudioUnitPropertyID,
                                            AudioUnitScope,
                                            AudioUnitElement) { ++*static_cast<int*>(ref); };
    void* const ref = &heard;
    const auto add = [&](AudioUnitPropertyListenerProc p) {
        return req(kAudioUnitAddPropertyListenerSelect, UInt32{kRaiseProperty}, p, ref);
    };
    AURenderCallback note = [](void*, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32,
                               UInt32, AudioBufferList*) -> OSStatus { return 0; };
    EXPECT_EQ(
        (std::vector<int>{add(nullptr), add(proc), raise(&kinds[0], 4), heard,
                          req(kAudioUnitRemovePropertyListenerSelect, UInt32{kRaiseProperty}, proc),
                          factory() ? add(proc) : 0,
                          req(kAudioUnitRemovePropertyListenerWithUserDataSelect,
                              UInt32{kRaiseProperty}, proc, ref),
                          raise(&kinds[0], 4), heard,
                          req(kAudioUnitAddRenderNotifySelect, AURenderCallback{}, ref),
                          req(kAudioUnitAddRenderNotifySelect, note, ref),
                          req(kAudioUnitRemoveRenderNotifySelect, note, ref)}),
        (std::vector<int>{paramErr, 0, 0, 1, factory() ? 0 : badComponentSelector, 0, 0, 0, 1,
                          paramErr, 0, 0}));

    // Render: time stamp and list must be there; a missing flags word is
    // the entry's own zero, so this reaches the unit's check.
    AudioTimeStamp ts{};
    AudioBufferList list{};
    const auto render = [&](const AudioTimeStamp* t, AudioBufferList* l) {
        return req(kAudioUnitRenderSelect, static_cast<AudioUnitRenderActionFlags*>(nullptr), t,
                   UInt32{0}, UInt32{8}, l);
    };
    EXPECT_EQ((std::tuple{render(nullptr, &list), render(&ts, nullptr), render(&ts, &list)}),
              (std::tuple{paramErr, paramErr, kAudioUnitErr_Uninitialized}));

    // Only the Manager's reset clears the render time before the unit's Reset.
    ts.mSampleTime = 1024;
    ts.mHostTime = 77;
    unit->SetCurrentRenderTime(ts);
    EXPECT_EQ(req(kAudioUnitResetSelect, kGlob, UInt32{0}), 0);
    EXPECT_EQ((std::tuple{unitLog().resetCalls, unitLog().renderTimeAtReset,
                          unit->CurrentRenderTime().mHostTime}),
              (std::tuple{1, factory() ? 1024.0 : -1.0, UInt64{0}})); // the unit's own reset
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
    EXPECT_EQ(info(kAudioUnitProperty_FastDispatch, kAudioUnitRenderSelect),
              (std::tuple{served, UInt32{sizeof(void*)}, false}));
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
    AudioTimeStamp ts{};
    AudioBufferList list{};
    const OSStatus answers[] = {getParam(unit, kParamOffset, 9, 0, &value),
                                getParam(unit, 77, kGlob, 0, &value),
                                getParam(nullptr, kParamOffset, kGlob, 0, &value),
                                getParam(unit, kParamOffset, kGlob, 0, nullptr),
                                setParam(nullptr, kParamOffset, kGlob, 0, 0.0f, 0),
                                render(unit, nullptr, nullptr, 0, 8, &list),
                                render(unit, nullptr, &ts, 0, 8, nullptr),
                                render(unit, nullptr, &ts, 0, 8, &list),
                                render(nullptr, nullptr, &ts, 0, 8, &list)};
    EXPECT_EQ(std::vector<OSStatus>(std::begin(answers), std::end(answers)),
              (std::vector<OSStatus>{kAudioUnitErr_InvalidScope, kAudioUnitErr_InvalidParameter,
                                     paramErr, paramErr, paramErr, paramErr, paramErr,
                                     kAudioUnitErr_Uninitialized, paramErr}));
}

INSTANTIATE_TEST_SUITE_P(BothEntries, EntryTest, ::testing::Values(Entry::Factory, Entry::Manager),
                         [](const auto& info) {
                             return std::string(info.param == Entry::Factory ? "Factory"
                                                                             : "Manager");
                         });

// What only the factory entry has: the record's layout, the copy rule of
// property reads, and the methods of the other kinds of unit.
class FactoryPath : public EntryTest {
protected:
    OSStatus get(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element, void* data,
                 UInt32* size) {
        return req(kAudioUnitGetPropertySelect, id, scope, element, data, size);
    }
};
INSTANTIATE_TEST_SUITE_P(FactoryOnly, FactoryPath, ::testing::Values(Entry::Factory));

TEST_P(FactoryPath, RecordHoldsEightSlotsThenTheUnit) {
    ASSERT_NE(open(), nullptr);
    void* const* slots = reinterpret_cast<void* const*>(mRecord);
    EXPECT_EQ(std::vector<const void*>(slots, slots + 4),
              (std::vector<const void*>{reinterpret_cast<void*>(&AP_Open),
                                        reinterpret_cast<void*>(&AP_Close),
                                        reinterpret_cast<void*>(&AUBaseLookup::Lookup), nullptr}));
    EXPECT_EQ(unitLog().lastUnit, static_cast<const void*>(slots + 8));
    // Each factory call gives a record of its own; a never opened one is a plain block.
    AudioComponentPlugInInterface* other = VXTestUnitFactory(nullptr);
    EXPECT_NE(other, mRecord);
    std::free(other);
    // A missing record.
    const auto initialize = reinterpret_cast<OSStatus (*)(void*)>(AUBaseLookup::Lookup(1));
    EXPECT_EQ(
        (std::tuple{initialize(nullptr), AP_Close(nullptr), AP_Open(nullptr, madeUpInstance(1))}),
        (std::tuple{paramErr, paramErr, paramErr}));
}

TEST_P(FactoryPath, PropertyReadsFollowTheCopyRule) {
    ASSERT_NE(open(), nullptr);
    constexpr AudioUnitPropertyID kRate = kAudioUnitProperty_SampleRate;
    constexpr AudioUnitScope kOut = kAudioUnitScope_Output;
    // A read needs a size; information requests take missing out-pointers.
    Float64 rate = -1;
    EXPECT_EQ(get(kRate, kOut, 0, &rate, nullptr), paramErr);
    EXPECT_EQ(req(kAudioUnitGetPropertyInfoSelect, UInt32{kRate}, kOut, UInt32{0},
                  static_cast<UInt32*>(nullptr), static_cast<Boolean*>(nullptr)),
              0);
    // No data pointer: the size alone. A size of 0 with a buffer is refused.
    UInt32 size = 3;
    EXPECT_EQ((std::tuple{get(kRate, kOut, 0, nullptr, &size), size}), (std::tuple{0, 8u}));
    EXPECT_EQ(get(kRate, 9, 0, nullptr, &size), kAudioUnitErr_InvalidScope);
    size = 0;
    EXPECT_EQ((std::tuple{get(kRate, kOut, 0, &rate, &size), rate}), (std::tuple{paramErr, -1.0}));
    // A short buffer gets the first bytes and keeps its size; a long one gets
    // the whole value and the property's size; a misaligned one the value.
    const Float64 expected = 44100.0;
    alignas(8) unsigned char bytes[24];
    for (const auto& [offset, asked, told] :
         {(std::tuple{0u, 4u, 4u}), {0u, 12u, 8u}, {1u, 8u, 8u}, {1u, 12u, 8u}}) {
        std::memset(bytes, 0xEE, sizeof bytes);
        size = asked;
        EXPECT_EQ((std::tuple{get(kRate, kOut, 0, bytes + offset, &size), size,
                              std::memcmp(bytes + offset, &expected, told), bytes[offset + told]}),
                  (std::tuple{0, told, 0, 0xEE}))
            << asked;
    }
    // A failed read answers a size of 0.
    size = 4;
    UInt32 kind = 0;
    EXPECT_EQ((std::tuple{get(kRaiseProperty, kGlob, kRaiseCAXException, &kind, &size), size}),
              (std::tuple{kRaisedStatus, 0u}));

    // A short read of an object does not leak it; a whole read hands the
    // caller a reference of its own.
    CFStringRef name = CFStringCreateWithCString(nullptr, "context", kCFStringEncodingUTF8);
    ASSERT_EQ(setProp(kAudioUnitProperty_ContextName, &name, sizeof name), 0);
    const CFIndex held = CFGetRetainCount(name);
    size = 4;
    EXPECT_EQ(get(kAudioUnitProperty_ContextName, kGlob, 0, bytes, &size), 0);
    EXPECT_EQ((std::tuple{std::memcmp(bytes, &name, 4), CFGetRetainCount(name)}),
              (std::tuple{0, held}));
    CFStringRef back = nullptr;
    size = sizeof back;
    EXPECT_EQ(get(kAudioUnitProperty_ContextName, kGlob, 0, &back, &size), 0);
    EXPECT_EQ((std::tuple{back, CFGetRetainCount(name)}), (std::tuple{name, held + 1}));
    CFRelease(back);
    CFRelease(name);
}

TEST_P(FactoryPath, MethodsOfOtherKindsOfUnitCheckTheirArguments) {
    ASSERT_NE(open(), nullptr);
    auto call = [&](auto lookup, SInt16 selector, auto... args) {
        using Method = OSStatus (*)(void*, decltype(args)...);
        AudioComponentMethod m = lookup(selector);
        EXPECT_NE(m, nullptr) << selector;
        return m ? reinterpret_cast<Method>(m)(mRecord, args...) : badComponentSelector;
    };
    const UInt8 sysex[3] = {0xF0, 0x01, 0xF7};
    using Bytes = const UInt8*;
    NoteInstanceID note = 0;
    using NoteParams = const MusicDeviceNoteParams*;
    const auto startNote = [&](NoteInstanceID* id, NoteParams params) {
        return call(AUMusicLookup::Lookup, 261, UInt32{1}, UInt32{0}, id, UInt32{0}, params);
    };
    using Stamp = const AudioTimeStamp*;
    using List = AudioBufferList*;
    AudioTimeStamp ts{};
    AudioUnitRenderActionFlags flags = 0;
    UInt32 packets = 0;
    AudioBufferList list{};
    const auto complexRender = [&](Stamp t, List l) {
        return call(AUComplexOutputLookup::Lookup, 19, &flags, t, UInt32{0}, UInt32{1}, &packets,
                    static_cast<AudioStreamPacketDescription*>(nullptr), l,
                    static_cast<void*>(nullptr), static_cast<UInt32*>(nullptr));
    };
    AudioUnitRenderActionFlags noCheck = 0x200;
    const auto process = [&](AudioUnitRenderActionFlags* f, Stamp t, List l) {
        return call(AUBaseProcessLookup::Lookup, 20, f, t, UInt32{16}, l);
    };
    const AudioBufferList* inputs[1] = {&list};
    AudioBufferList* outputs[1] = {&list};
    const auto processMultiple = [&](Stamp t, const AudioBufferList** in, AudioBufferList** out) {
        return call(AUBaseProcessMultipleLookup::Lookup, 21, &flags, t, UInt32{16}, UInt32{1}, in,
                    UInt32{1}, out);
    };
    // The unit itself implements none of these. Missing pointers are refused
    // first, with or without the do-not-check flag; with them, the unit's own
    // checks answer.
    constexpr OSStatus kUnimplemented = AUBase::kAUBaseUnimplemented;
    EXPECT_EQ(
        (std::vector<OSStatus>{
            call(AUOutputLookup::Lookup, 513),
            call(AUMIDILookup::Lookup, 257, UInt32{0x90}, UInt32{60}, UInt32{100}, UInt32{0}),
            call(AUMusicLookup::Lookup, 262, UInt32{0}, UInt32{1}, UInt32{0}),
            call(AUMIDILookup::Lookup, 258, Bytes{}, UInt32{3}),
            call(AUMIDILookup::Lookup, 258, Bytes{sysex}, UInt32{3}), startNote(&note, nullptr),
            startNote(nullptr, reinterpret_cast<NoteParams>(sysex)),
            complexRender(nullptr, nullptr), complexRender(&ts, &list),
            process(&flags, nullptr, &list), process(&flags, &ts, nullptr),
            process(&noCheck, nullptr, &list), process(&noCheck, &ts, nullptr),
            process(nullptr, &ts, &list), processMultiple(&ts, nullptr, outputs),
            processMultiple(&ts, inputs, nullptr), processMultiple(nullptr, inputs, outputs),
            processMultiple(&ts, inputs, outputs)}),
        (std::vector<OSStatus>{kUnimplemented, kUnimplemented, kUnimplemented, paramErr,
                               kUnimplemented, paramErr, paramErr, paramErr, kUnimplemented,
                               paramErr, paramErr, paramErr, paramErr, kAudioUnitErr_Uninitialized,
                               paramErr, paramErr, paramErr, kAudioUnitErr_Uninitialized}));
}

TEST(ManagerEntry, VersionCanDoUnknownRequestsAndShortBlocks) {
    VXTestUnitResetLog();
    void* unit = cmOpen(7);
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
    // Without a unit or a block every request is refused.
    EXPECT_EQ(cm(nullptr, kAudioUnitInitializeSelect), paramErr);
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
            void* unit = cmOpen(9, &status);
            const bool ok = unit == nullptr && status == kAudioUnitErr_FailedInitialization &&
                            unitLog().live == 0 && unitLog().constructed == 1;
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}
