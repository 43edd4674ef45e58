// Parameter and event listeners: gestures, value changes, parameter sets that
// notify, property changes, who is left out of a notification, and listeners
// that hear their events on a run loop.

#include "call_checks.h"

#include <AudioToolbox/AudioToolbox.h>
#include <CoreFoundation/CoreFoundation.h>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace hosttest;

namespace {

struct Heard {
    void* object;
    AudioUnitEventType type;
    AudioUnitParameterID parameter;
    AudioUnitPropertyID property;
    AudioUnitParameterValue value;
    std::thread::id thread;
};

void onEvent(void* ref, void* object, const AudioUnitEvent* ev, UInt64, AudioUnitParameterValue v) {
    Heard h{object, ev->mEventType, 0, 0, v, std::this_thread::get_id()};
    if (ev->mEventType == kAudioUnitEvent_PropertyChange)
        h.property = ev->mArgument.mProperty.mPropertyID;
    else
        h.parameter = ev->mArgument.mParameter.mParameterID;
    static_cast<std::vector<Heard>*>(ref)->push_back(h);
}

void onParameter(void* ref, void* object, const AudioUnitParameter* p, AudioUnitParameterValue v) {
    static_cast<std::vector<Heard>*>(ref)->push_back(
        {object, kAudioUnitEvent_ParameterValueChange, p->mParameterID, 0, v, {}});
}

AudioUnitEvent parameterEvent(AudioUnitEventType type, AudioUnit unit, AudioUnitParameterID id) {
    AudioUnitEvent ev{};
    ev.mEventType = type;
    ev.mArgument.mParameter = {unit, id, kAudioUnitScope_Global, 0};
    return ev;
}

void runUntil(const std::vector<Heard>& heard, size_t count) {
    for (int i = 0; i < 100 && heard.size() < count; ++i)
        CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.02, true);
}

constexpr AudioUnitEventType kGesture[] = {kAudioUnitEvent_BeginParameterChangeGesture,
                                           kAudioUnitEvent_ParameterValueChange,
                                           kAudioUnitEvent_EndParameterChangeGesture};

void listenToGestures(AUEventListenerRef listener, void* object, AudioUnit unit,
                      AudioUnitParameterID id) {
    for (AudioUnitEventType t : kGesture) {
        const AudioUnitEvent ev = parameterEvent(t, unit, id);
        ASSERT_EQ(AUEventListenerAddEventType(listener, object, &ev), 0);
    }
}

// A gesture was heard whole, in order, each event once.
void expectOneGesture(const std::vector<Heard>& heard) {
    ASSERT_EQ(heard.size(), 3u);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(heard[i].type, kGesture[i]) << "event " << i;
}

class Listeners : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(AudioComponentInstanceNew(findFake(kSubtypeOne), &unit), 0);
        ASSERT_EQ(AUEventListenerCreate(onEvent, &heard, nullptr, nullptr, 0, 0, &listener), 0);
    }
    void TearDown() override {
        if (listener) {
            EXPECT_EQ(AUListenerDispose(listener), 0);
        }
        EXPECT_EQ(AudioComponentInstanceDispose(unit), 0);
    }
    AudioComponentInstance unit = nullptr;
    AUEventListenerRef listener = nullptr;
    std::vector<Heard> heard;
};

} // namespace

TEST_F(Listeners, GestureAndValueEventsArriveInOrderWithTheUnitsValue) {
    int object = 0;
    listenToGestures(listener, &object, unit, 3);
    for (AudioUnitEventType t : kGesture) {
        const AudioUnitEvent ev = parameterEvent(t, unit, 3);
        ASSERT_EQ(AUEventListenerNotify(nullptr, nullptr, &ev), 0);
    }
    expectOneGesture(heard);
    for (const Heard& h : heard) {
        EXPECT_EQ(h.object, &object);
        EXPECT_EQ(h.parameter, 3u);
        EXPECT_FLOAT_EQ(h.value, 1.5f); // read from the unit on delivery
    }
    // Other parameters, scopes and units are not heard.
    AudioUnitEvent other = parameterEvent(kAudioUnitEvent_ParameterValueChange, unit, 4);
    EXPECT_EQ(AUEventListenerNotify(nullptr, nullptr, &other), 0);
    other = parameterEvent(kAudioUnitEvent_ParameterValueChange, unit, 3);
    other.mArgument.mParameter.mScope = kAudioUnitScope_Output;
    EXPECT_EQ(AUEventListenerNotify(nullptr, nullptr, &other), 0);
    EXPECT_EQ(heard.size(), 3u);
}

TEST_F(Listeners, ParameterSetGoesThroughTheUnitAndNotifiesOthers) {
    int mine = 0, theirs = 0;
    listenToGestures(listener, &mine, unit, 5);
    listenToGestures(listener, &theirs, unit, 5);
    const AudioUnitParameter p{unit, 5, kAudioUnitScope_Global, 0};
    ASSERT_EQ(AUParameterSet(listener, &mine, &p, 0.625f, 12), 0);
    const fake::Log* log = logOf(fakeBundle());
    const fake::Call* set = nullptr;
    for (int i = log->count - 1; i >= 0 && !set; --i)
        if (log->calls[i].selector == kAudioUnitSetParameterSelect)
            set = &log->calls[i];
    ASSERT_NE(set, nullptr);
    EXPECT_FLOAT_EQ(slotValue<Float32>(set->args[3]), 0.625f);
    EXPECT_EQ(slotValue<UInt32>(set->args[4]), 12u);
    // The sender's own registration is left out.
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].object, &theirs);
    EXPECT_EQ(heard[0].type, kAudioUnitEvent_ParameterValueChange);
    EXPECT_FLOAT_EQ(heard[0].value, 0.625f);

    // A refused set notifies nobody.
    const AudioUnitParameter bad{unit, 999, kAudioUnitScope_Global, 0};
    EXPECT_EQ(AUParameterSet(nullptr, nullptr, &bad, 1.0f, 0), kAudioUnitErr_InvalidParameter);
    EXPECT_EQ(AUParameterSet(nullptr, nullptr, nullptr, 1.0f, 0), kAudio_ParamError);
    EXPECT_EQ(heard.size(), 1u);
}

TEST_F(Listeners, AnyParameterRegistrationsAndParameterListeners) {
    int object = 0;
    const AudioUnitEvent any = parameterEvent(kAudioUnitEvent_ParameterValueChange, unit,
                                              kAUParameterListener_AnyParameter);
    ASSERT_EQ(AUEventListenerAddEventType(listener, &object, &any), 0);
    std::vector<Heard> values;
    AUParameterListenerRef plain = nullptr;
    ASSERT_EQ(AUListenerCreate(onParameter, &values, nullptr, nullptr, 0, &plain), 0);
    const AudioUnitParameter p{unit, 7, kAudioUnitScope_Global, 0};
    ASSERT_EQ(AUListenerAddParameter(plain, nullptr, &p), 0);
    // Parameter listeners take value changes only.
    const AudioUnitEvent gesture =
        parameterEvent(kAudioUnitEvent_BeginParameterChangeGesture, unit, 7);
    EXPECT_EQ(AUEventListenerAddEventType(plain, nullptr, &gesture), kAudio_ParamError);

    ASSERT_EQ(AUParameterSet(nullptr, nullptr, &p, 0.5f, 0), 0);
    ASSERT_EQ(AUEventListenerNotify(nullptr, nullptr, &gesture), 0);
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].parameter, 7u);
    ASSERT_EQ(values.size(), 1u);
    EXPECT_FLOAT_EQ(values[0].value, 0.5f);

    ASSERT_EQ(AUListenerRemoveParameter(plain, nullptr, &p), 0);
    EXPECT_EQ(AUListenerRemoveParameter(plain, nullptr, &p), kAudio_ParamError);
    ASSERT_EQ(AUParameterListenerNotify(nullptr, nullptr, &p), 0);
    EXPECT_EQ(values.size(), 1u);
    EXPECT_EQ(heard.size(), 2u);
    EXPECT_EQ(AUListenerDispose(plain), 0);
    EXPECT_EQ(AUListenerDispose(plain), kAudio_ParamError);
}

TEST_F(Listeners, PropertyChangesOfTheUnitBecomeEvents) {
    AudioUnitEvent ev{};
    ev.mEventType = kAudioUnitEvent_PropertyChange;
    ev.mArgument.mProperty = {unit, fake::kFakeEchoProperty, kAudioUnitScope_Global, 0};
    ASSERT_EQ(AUEventListenerAddEventType(listener, nullptr, &ev), 0);
    const fake::Log* log = logOf(fakeBundle());
    EXPECT_EQ(lastCall(log).selector, kAudioUnitAddPropertyListenerSelect);

    const UInt32 value = 9;
    ASSERT_EQ(AudioUnitSetProperty(unit, fake::kFakeEchoProperty, kAudioUnitScope_Global, 0, &value,
                                   sizeof value),
              0);
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].type, kAudioUnitEvent_PropertyChange);
    EXPECT_EQ(heard[0].property, fake::kFakeEchoProperty);
    // Another scope of the same property was not asked for.
    ASSERT_EQ(AudioUnitSetProperty(unit, fake::kFakeEchoProperty, kAudioUnitScope_Output, 0, &value,
                                   sizeof value),
              0);
    EXPECT_EQ(heard.size(), 1u);

    ASSERT_EQ(AUListenerDispose(listener), 0);
    listener = nullptr;
    EXPECT_EQ(lastCall(log).selector, kAudioUnitRemovePropertyListenerWithUserDataSelect);
    ASSERT_EQ(AudioUnitSetProperty(unit, fake::kFakeEchoProperty, kAudioUnitScope_Global, 0, &value,
                                   sizeof value),
              0);
    EXPECT_EQ(heard.size(), 1u);
}

TEST_F(Listeners, BadArgumentsAnswerAStatus) {
    AUEventListenerRef out = nullptr;
    EXPECT_EQ(AUEventListenerCreate(nullptr, nullptr, nullptr, nullptr, 0, 0, &out),
              kAudio_ParamError);
    EXPECT_EQ(AUEventListenerCreate(onEvent, nullptr, nullptr, nullptr, 0, 0, nullptr),
              kAudio_ParamError);
    EXPECT_EQ(AUListenerCreate(nullptr, nullptr, nullptr, nullptr, 0, &out), kAudio_ParamError);
    EXPECT_EQ(AUEventListenerAddEventType(listener, nullptr, nullptr), kAudio_ParamError);
    AudioUnitEvent ev = parameterEvent(17, unit, 1); // no such event type
    EXPECT_EQ(AUEventListenerAddEventType(listener, nullptr, &ev), kAudio_ParamError);
    EXPECT_EQ(AUEventListenerNotify(nullptr, nullptr, &ev), kAudio_ParamError);
    EXPECT_EQ(AUEventListenerNotify(nullptr, nullptr, nullptr), kAudio_ParamError);
    int notAListener = 0;
    ev = parameterEvent(kAudioUnitEvent_ParameterValueChange, unit, 1);
    EXPECT_EQ(AUEventListenerAddEventType(reinterpret_cast<AUEventListenerRef>(&notAListener),
                                          nullptr, &ev),
              kAudio_ParamError);
    EXPECT_EQ(AUListenerDispose(nullptr), kAudio_ParamError);
    EXPECT_EQ(AUEventListenerRemoveEventType(listener, nullptr, &ev), kAudio_ParamError);
    // Events about a unit that is not open still reach listeners, with value 0.
    int fakeUnit = 0;
    ev = parameterEvent(kAudioUnitEvent_ParameterValueChange,
                        reinterpret_cast<AudioUnit>(&fakeUnit), 2);
    ASSERT_EQ(AUEventListenerAddEventType(listener, nullptr, &ev), 0);
    ASSERT_EQ(AUEventListenerNotify(nullptr, nullptr, &ev), 0);
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_FLOAT_EQ(heard[0].value, 0.0f);
}

TEST(RunLoopListeners, EventsFromAnotherThreadArriveOnTheListenersLoop) {
    AudioComponentInstance unit = nullptr;
    ASSERT_EQ(AudioComponentInstanceNew(findFake(kSubtypeOne), &unit), 0);
    std::vector<Heard> heard;
    AUEventListenerRef listener = nullptr;
    ASSERT_EQ(AUEventListenerCreate(onEvent, &heard, CFRunLoopGetCurrent(), kCFRunLoopDefaultMode,
                                    0.01f, 0, &listener),
              0);
    listenToGestures(listener, nullptr, unit, 3);

    // Two value changes in the gesture: waiting ones become one.
    std::thread notifier([&] {
        for (AudioUnitEventType t : {kGesture[0], kGesture[1], kGesture[1], kGesture[2]}) {
            const AudioUnitEvent ev = parameterEvent(t, unit, 3);
            EXPECT_EQ(AUEventListenerNotify(nullptr, nullptr, &ev), 0);
        }
    });
    notifier.join();
    EXPECT_TRUE(heard.empty()); // nothing until this thread runs its loop

    runUntil(heard, 3);
    CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.05, false); // nothing more comes
    expectOneGesture(heard);
    for (const Heard& h : heard) {
        EXPECT_EQ(h.thread, std::this_thread::get_id());
        EXPECT_FLOAT_EQ(h.value, 1.5f);
    }

    EXPECT_EQ(AUListenerDispose(listener), 0);
    EXPECT_EQ(AudioComponentInstanceDispose(unit), 0);
}

TEST(RunLoopListeners, DisposingWithEventsWaitingDeliversNothing) {
    AudioComponentInstance unit = nullptr;
    ASSERT_EQ(AudioComponentInstanceNew(findFake(kSubtypeOne), &unit), 0);
    std::vector<Heard> heard;
    AUEventListenerRef listener = nullptr;
    ASSERT_EQ(
        AUEventListenerCreate(onEvent, &heard, CFRunLoopGetCurrent(), nullptr, 0, 0, &listener), 0);
    const AudioUnitEvent ev = parameterEvent(kAudioUnitEvent_ParameterValueChange, unit, 2);
    ASSERT_EQ(AUEventListenerAddEventType(listener, nullptr, &ev), 0);
    ASSERT_EQ(AUEventListenerNotify(nullptr, nullptr, &ev), 0);
    ASSERT_EQ(AUListenerDispose(listener), 0);
    CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.05, false);
    EXPECT_TRUE(heard.empty());
    // The unit may go before a listener's waiting events are delivered.
    std::vector<Heard> late;
    ASSERT_EQ(
        AUEventListenerCreate(onEvent, &late, CFRunLoopGetCurrent(), nullptr, 0, 0, &listener), 0);
    ASSERT_EQ(AUEventListenerAddEventType(listener, nullptr, &ev), 0);
    ASSERT_EQ(AUEventListenerNotify(nullptr, nullptr, &ev), 0);
    ASSERT_EQ(AudioComponentInstanceDispose(unit), 0);
    runUntil(late, 1);
    ASSERT_EQ(late.size(), 1u);
    EXPECT_FLOAT_EQ(late[0].value, 0.0f);
    EXPECT_EQ(AUListenerDispose(listener), 0);
}
