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
    UInt32 id; // the parameter or property
    AudioUnitParameterValue value;
    std::thread::id thread;
};
using Log = std::vector<Heard>;

void onEvent(void* ref, void* object, const AudioUnitEvent* ev, UInt64, AudioUnitParameterValue v) {
    const bool property = ev->mEventType == kAudioUnitEvent_PropertyChange;
    static_cast<Log*>(ref)->push_back(
        {object, ev->mEventType,
         property ? ev->mArgument.mProperty.mPropertyID : ev->mArgument.mParameter.mParameterID, v,
         std::this_thread::get_id()});
}

void onParameter(void* ref, void* object, const AudioUnitParameter* p, AudioUnitParameterValue v) {
    static_cast<Log*>(ref)->push_back(
        {object, kAudioUnitEvent_ParameterValueChange, p->mParameterID, v, {}});
}

AudioUnitEvent parameterEvent(AudioUnitEventType type, AudioUnit unit, AudioUnitParameterID id) {
    AudioUnitEvent ev{};
    ev.mEventType = type;
    ev.mArgument.mParameter = {unit, id, kAudioUnitScope_Global, 0};
    return ev;
}

OSStatus notify(AudioUnitEventType type, AudioUnit unit, AudioUnitParameterID id) {
    const AudioUnitEvent ev = parameterEvent(type, unit, id);
    return AUEventListenerNotify(nullptr, nullptr, &ev);
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

// A gesture was heard whole, in order, each event once, with the unit's value.
void expectOneGesture(const Log& heard, void* object, float value) {
    ASSERT_EQ(heard.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(heard[i].type, kGesture[i]) << "event " << i;
        EXPECT_EQ(heard[i].object, object) << "event " << i;
        EXPECT_FLOAT_EQ(heard[i].value, value) << "event " << i;
    }
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
        if (unit) {
            EXPECT_EQ(AudioComponentInstanceDispose(unit), 0);
        }
    }
    AudioComponentInstance unit = nullptr;
    AUEventListenerRef listener = nullptr;
    Log heard;
};

} // namespace

TEST_F(Listeners, GestureAndValueEventsArriveInOrderWithTheUnitsValue) {
    int object = 0;
    listenToGestures(listener, &object, unit, 3);
    for (AudioUnitEventType t : kGesture)
        ASSERT_EQ(notify(t, unit, 3), 0);
    expectOneGesture(heard, &object, 1.5f); // read from the unit on delivery
    EXPECT_EQ(heard[0].id, 3u);
    // Other parameters and scopes are not heard.
    EXPECT_EQ(notify(kAudioUnitEvent_ParameterValueChange, unit, 4), 0);
    AudioUnitEvent other = parameterEvent(kAudioUnitEvent_ParameterValueChange, unit, 3);
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
    // The set reached the unit (listeners then read the value back).
    const fake::Log* log = fakeLog();
    int i = log->count - 1;
    while (i > 0 && log->calls[i].selector != kAudioUnitSetParameterSelect)
        --i;
    const fake::Call& set = log->calls[i];
    EXPECT_EQ(set.selector, kAudioUnitSetParameterSelect);
    EXPECT_FLOAT_EQ(slotValue<Float32>(set.args[3]), 0.625f);
    EXPECT_EQ(slotValue<UInt32>(set.args[4]), 12u);
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
    const AudioUnitEvent any = parameterEvent(kAudioUnitEvent_ParameterValueChange, unit,
                                              kAUParameterListener_AnyParameter);
    ASSERT_EQ(AUEventListenerAddEventType(listener, nullptr, &any), 0);
    Log values;
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
    EXPECT_EQ(heard[0].id, 7u);
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
    const fake::Log* log = fakeLog();
    EXPECT_EQ(lastCall(log).selector, kAudioUnitAddPropertyListenerSelect);
    const auto set = [&](AudioUnitScope scope) {
        const UInt32 value = 9;
        return AudioUnitSetProperty(unit, fake::kFakeEchoProperty, scope, 0, &value, sizeof value);
    };
    ASSERT_EQ(set(kAudioUnitScope_Global), 0);
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].type, kAudioUnitEvent_PropertyChange);
    EXPECT_EQ(heard[0].id, fake::kFakeEchoProperty);
    // Another scope of the same property was not asked for.
    ASSERT_EQ(set(kAudioUnitScope_Output), 0);
    EXPECT_EQ(heard.size(), 1u);

    ASSERT_EQ(AUListenerDispose(listener), 0);
    listener = nullptr;
    EXPECT_EQ(lastCall(log).selector, kAudioUnitRemovePropertyListenerWithUserDataSelect);
    ASSERT_EQ(set(kAudioUnitScope_Global), 0);
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
    ASSERT_EQ(AUEventListenerAddEventType(listener, nullptr, &ev), 0);
    ASSERT_EQ(AudioComponentInstanceDispose(unit), 0);
    ASSERT_EQ(notify(kAudioUnitEvent_ParameterValueChange, unit, 1), 0);
    unit = nullptr;
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_FLOAT_EQ(heard[0].value, 0.0f);
}

TEST(RunLoopListeners, EventsFromAnotherThreadArriveOnTheListenersLoop) {
    AudioComponentInstance unit = nullptr;
    ASSERT_EQ(AudioComponentInstanceNew(findFake(kSubtypeOne), &unit), 0);
    Log heard;
    AUEventListenerRef listener = nullptr;
    ASSERT_EQ(AUEventListenerCreate(onEvent, &heard, CFRunLoopGetCurrent(), kCFRunLoopDefaultMode,
                                    0.01f, 0, &listener),
              0);
    listenToGestures(listener, nullptr, unit, 3);

    // Two value changes in the gesture: waiting ones become one.
    std::thread([&] {
        for (AudioUnitEventType t : {kGesture[0], kGesture[1], kGesture[1], kGesture[2]})
            EXPECT_EQ(notify(t, unit, 3), 0);
    }).join();
    EXPECT_TRUE(heard.empty()); // nothing until this thread runs its loop

    for (int i = 0; i < 100 && heard.size() < 3; ++i)
        CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.02, true);
    CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.05, false); // nothing more comes
    expectOneGesture(heard, nullptr, 1.5f);
    for (const Heard& h : heard)
        EXPECT_EQ(h.thread, std::this_thread::get_id());

    // The unit may go before a waiting event is delivered: it reads 0.
    ASSERT_EQ(notify(kAudioUnitEvent_ParameterValueChange, unit, 3), 0);
    EXPECT_EQ(AudioComponentInstanceDispose(unit), 0);
    for (int i = 0; i < 100 && heard.size() < 4; ++i)
        CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.02, true);
    ASSERT_EQ(heard.size(), 4u);
    EXPECT_FLOAT_EQ(heard[3].value, 0.0f);
    // Disposed with events waiting: nothing is delivered.
    ASSERT_EQ(notify(kAudioUnitEvent_ParameterValueChange, unit, 3), 0);
    EXPECT_EQ(AUListenerDispose(listener), 0);
    CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.05, false);
    EXPECT_EQ(heard.size(), 4u);
}
