// Parameter and event listeners: gestures, value changes, parameter sets that
// notify, property changes, who is left out, and delivery on a run loop.
#include "test_support.h"

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
    static_cast<Log*>(ref)->push_back({object, ev->mEventType,
                                       ev->mEventType == kAudioUnitEvent_PropertyChange
                                           ? ev->mArgument.mProperty.mPropertyID
                                           : ev->mArgument.mParameter.mParameterID,
                                       v, std::this_thread::get_id()});
}

AudioUnitEvent event(AudioUnitEventType type, AudioUnit unit, AudioUnitParameterID id,
                     AudioUnitScope scope = kAudioUnitScope_Global) {
    AudioUnitEvent ev{};
    ev.mEventType = type;
    ev.mArgument.mParameter = {unit, id, scope, 0};
    return ev;
}

OSStatus notify(AudioUnitEventType type, AudioUnit unit, AudioUnitParameterID id,
                AudioUnitScope scope = kAudioUnitScope_Global) {
    const AudioUnitEvent ev = event(type, unit, id, scope);
    return AUEventListenerNotify(nullptr, nullptr, &ev);
}

constexpr AudioUnitEventType kGesture[] = {kAudioUnitEvent_BeginParameterChangeGesture,
                                           kAudioUnitEvent_ParameterValueChange,
                                           kAudioUnitEvent_EndParameterChangeGesture};

void listenToGestures(AUEventListenerRef listener, void* object, AudioUnit unit,
                      AudioUnitParameterID id) {
    for (AudioUnitEventType t : kGesture) {
        const AudioUnitEvent ev = event(t, unit, id);
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

} // namespace

TEST(Listeners, GesturesValueChangesParameterSetsAndPropertyChanges) {
    AudioComponentInstance unit = nullptr;
    ASSERT_EQ(AudioComponentInstanceNew(findFake(kSubtypeOne), &unit), 0);
    Log heard;
    AUEventListenerRef listener = nullptr;
    ASSERT_EQ(AUEventListenerCreate(onEvent, &heard, nullptr, nullptr, 0, 0, &listener), 0);
    int mine = 0, theirs = 0;
    listenToGestures(listener, &mine, unit, 3);
    for (AudioUnitEventType t : kGesture)
        ASSERT_EQ(notify(t, unit, 3), 0);
    expectOneGesture(heard, &mine, 1.5f); // read from the unit on delivery
    EXPECT_EQ(heard[0].id, 3u);
    // Other parameters and scopes are not heard.
    EXPECT_EQ(notify(kAudioUnitEvent_ParameterValueChange, unit, 4), 0);
    EXPECT_EQ(notify(kAudioUnitEvent_ParameterValueChange, unit, 3, kAudioUnitScope_Output), 0);
    ASSERT_EQ(heard.size(), 3u);

    // A set goes through the unit and notifies all but the sender's registration.
    heard.clear();
    listenToGestures(listener, &theirs, unit, 3);
    const AudioUnitParameter p{unit, 3, kAudioUnitScope_Global, 0};
    ASSERT_EQ(AUParameterSet(listener, &mine, &p, 0.625f, 12), 0);
    const fake::Call& set = fakeLog()->calls[fakeLog()->count - 2]; // then read back
    EXPECT_EQ(set.selector, kAudioUnitSetParameterSelect);
    EXPECT_FLOAT_EQ(slotValue<Float32>(set.args[3]), 0.625f);
    EXPECT_EQ(slotValue<UInt32>(set.args[4]), 12u);
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].object, &theirs);
    EXPECT_FLOAT_EQ(heard[0].value, 0.625f);
    const AudioUnitParameter bad{unit, 999, kAudioUnitScope_Global, 0};
    EXPECT_EQ(AUParameterSet(nullptr, nullptr, &bad, 1.0f, 0), kAudioUnitErr_InvalidParameter);
    EXPECT_EQ(AUParameterSet(nullptr, nullptr, nullptr, 1.0f, 0), kAudio_ParamError);
    EXPECT_EQ(heard.size(), 1u); // a refused set notifies nobody

    // Parameter listeners take value changes only; any-parameter registrations hear all.
    heard.clear();
    Log values;
    AUParameterListenerRef plain = nullptr;
    ASSERT_EQ(AUListenerCreate(
                  [](void* ref, void* object, const AudioUnitParameter* p, float v) {
                      static_cast<Log*>(ref)->push_back(
                          {object, kAudioUnitEvent_ParameterValueChange, p->mParameterID, v, {}});
                  },
                  &values, nullptr, nullptr, 0, &plain),
              0);
    const AudioUnitParameter seven{unit, 7, kAudioUnitScope_Global, 0};
    ASSERT_EQ(AUListenerAddParameter(plain, nullptr, &seven), 0);
    AudioUnitEvent ev = event(kAudioUnitEvent_BeginParameterChangeGesture, unit, 7);
    EXPECT_EQ(AUEventListenerAddEventType(plain, nullptr, &ev), kAudio_ParamError);
    ev = event(kAudioUnitEvent_ParameterValueChange, unit, kAUParameterListener_AnyParameter);
    ASSERT_EQ(AUEventListenerAddEventType(listener, nullptr, &ev), 0);
    ASSERT_EQ(AUParameterSet(nullptr, nullptr, &seven, 0.5f, 0), 0);
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].id, 7u);
    ASSERT_EQ(values.size(), 1u);
    EXPECT_FLOAT_EQ(values[0].value, 0.5f);
    ASSERT_EQ(AUListenerRemoveParameter(plain, nullptr, &seven), 0);
    EXPECT_EQ(AUListenerRemoveParameter(plain, nullptr, &seven), kAudio_ParamError);
    ASSERT_EQ(AUParameterListenerNotify(nullptr, nullptr, &seven), 0);
    EXPECT_EQ(values.size(), 1u);
    EXPECT_EQ(AUListenerDispose(plain), 0);
    EXPECT_EQ(AUListenerDispose(plain), kAudio_ParamError);

    // Property changes of the unit become events, for the scope asked for.
    heard.clear();
    ev.mEventType = kAudioUnitEvent_PropertyChange;
    ev.mArgument.mProperty = {unit, fake::kFakeEchoProperty, kAudioUnitScope_Global, 0};
    ASSERT_EQ(AUEventListenerAddEventType(listener, nullptr, &ev), 0);
    EXPECT_EQ(lastCall().selector, kAudioUnitAddPropertyListenerSelect);
    const UInt32 value = 9;
    for (AudioUnitScope scope : {kAudioUnitScope_Global, kAudioUnitScope_Output})
        ASSERT_EQ(AudioUnitSetProperty(unit, fake::kFakeEchoProperty, scope, 0, &value, 4), 0);
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].type, kAudioUnitEvent_PropertyChange);
    EXPECT_EQ(heard[0].id, fake::kFakeEchoProperty);
    ASSERT_EQ(AUListenerDispose(listener), 0);
    EXPECT_EQ(lastCall().selector, kAudioUnitRemovePropertyListenerWithUserDataSelect);
    EXPECT_EQ(AudioComponentInstanceDispose(unit), 0);
}

TEST(Listeners, BadArgumentsAnswerAStatus) {
    AUEventListenerRef out = nullptr;
    EXPECT_EQ(AUEventListenerCreate(nullptr, nullptr, nullptr, nullptr, 0, 0, &out),
              kAudio_ParamError);
    EXPECT_EQ(AUEventListenerCreate(onEvent, nullptr, nullptr, nullptr, 0, 0, nullptr),
              kAudio_ParamError);
    EXPECT_EQ(AUListenerCreate(nullptr, nullptr, nullptr, nullptr, 0, &out), kAudio_ParamError);
    Log heard;
    ASSERT_EQ(AUEventListenerCreate(onEvent, &heard, nullptr, nullptr, 0, 0, &out), 0);
    EXPECT_EQ(AUEventListenerAddEventType(out, nullptr, nullptr), kAudio_ParamError);
    AudioUnitEvent ev = event(17, nullptr, 1); // no such event type
    EXPECT_EQ(AUEventListenerAddEventType(out, nullptr, &ev), kAudio_ParamError);
    EXPECT_EQ(AUEventListenerNotify(nullptr, nullptr, &ev), kAudio_ParamError);
    EXPECT_EQ(AUEventListenerNotify(nullptr, nullptr, nullptr), kAudio_ParamError);
    int notAListener = 0;
    ev = event(kAudioUnitEvent_ParameterValueChange, nullptr, 1);
    EXPECT_EQ(AUEventListenerAddEventType(reinterpret_cast<AUEventListenerRef>(&notAListener),
                                          nullptr, &ev),
              kAudio_ParamError);
    EXPECT_EQ(AUListenerDispose(nullptr), kAudio_ParamError);
    EXPECT_EQ(AUEventListenerRemoveEventType(out, nullptr, &ev), kAudio_ParamError);
    EXPECT_EQ(AUListenerDispose(out), 0);
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
