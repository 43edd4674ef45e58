// Parameter and event listeners: gestures, value changes, parameter sets that
// notify, property changes, who is left out, and delivery on a run loop.
#include "fake_component.h"

#include <AudioToolbox/AudioToolbox.h>
#include <CoreFoundation/CoreFoundation.h>

#include <gtest/gtest.h>

#include <thread>
#include <tuple>
#include <vector>

using namespace hosttest;

namespace {

struct Heard {
    void* object;
    AudioUnitEventType type;
    UInt32 id; // the parameter or property
    AudioUnitParameterValue value;
    std::thread::id thread;
    bool operator==(const Heard&) const = default;
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

void listenToGestures(AUEventListenerRef listener, void* object, AudioUnit unit) {
    for (AudioUnitEventType t : kGesture) {
        const AudioUnitEvent ev = event(t, unit, 3);
        ASSERT_EQ(AUEventListenerAddEventType(listener, object, &ev), 0);
    }
}

// A gesture on parameter 3, heard whole, in order, once, with the unit's value.
Log oneGesture(void* object, float value) {
    Log log;
    for (AudioUnitEventType t : kGesture)
        log.push_back({object, t, 3, value, std::this_thread::get_id()});
    return log;
}

} // namespace

TEST(Listeners, GesturesValueChangesParameterSetsAndPropertyChanges) {
    AudioComponentInstance unit = nullptr;
    ASSERT_EQ(AudioComponentInstanceNew(findFake(kSubtypeOne), &unit), 0);
    Log heard;
    AUEventListenerRef listener = nullptr;
    ASSERT_EQ(AUEventListenerCreate(onEvent, &heard, nullptr, nullptr, 0, 0, &listener), 0);
    int mine = 0, theirs = 0;
    listenToGestures(listener, &mine, unit);
    for (AudioUnitEventType t : kGesture)
        ASSERT_EQ(notify(t, unit, 3), 0);
    // Other parameters and scopes are not heard.
    EXPECT_EQ(notify(kAudioUnitEvent_ParameterValueChange, unit, 4), 0);
    EXPECT_EQ(notify(kAudioUnitEvent_ParameterValueChange, unit, 3, kAudioUnitScope_Output), 0);
    EXPECT_EQ(heard, oneGesture(&mine, 1.5f)); // the value is read from the unit on delivery

    // A set goes through the unit and notifies all but the sender's registration.
    heard.clear();
    listenToGestures(listener, &theirs, unit);
    const AudioUnitParameter p{unit, 3, kAudioUnitScope_Global, 0};
    ASSERT_EQ(AUParameterSet(listener, &mine, &p, 0.625f, 12), 0);
    const fake::Call& set = fakeLog()->calls[fakeLog()->count - 2]; // then read back
    EXPECT_EQ(std::make_tuple(set.selector, fake::at<Float32>(set.args, 3),
                              fake::at<UInt32>(set.args, 4)),
              std::make_tuple(SInt16(kAudioUnitSetParameterSelect), 0.625f, 12u));
    const AudioUnitParameter bad{unit, 999, kAudioUnitScope_Global, 0};
    EXPECT_EQ(AUParameterSet(nullptr, nullptr, &bad, 1.0f, 0), kAudioUnitErr_InvalidParameter);
    EXPECT_EQ(AUParameterSet(nullptr, nullptr, nullptr, 1.0f, 0), kAudio_ParamError);
    // A refused set notifies nobody.
    EXPECT_EQ(heard, Log({{&theirs, kGesture[1], 3, 0.625f, std::this_thread::get_id()}}));

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
    EXPECT_EQ(heard, Log({{nullptr, kGesture[1], 7, 0.5f, std::this_thread::get_id()}}));
    ASSERT_EQ(AUListenerRemoveParameter(plain, nullptr, &seven), 0);
    EXPECT_EQ(AUListenerRemoveParameter(plain, nullptr, &seven), kAudio_ParamError);
    ASSERT_EQ(AUParameterListenerNotify(nullptr, nullptr, &seven), 0);
    EXPECT_EQ(values, Log({{nullptr, kGesture[1], 7, 0.5f, {}}})); // not after the removal
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
    EXPECT_EQ(heard, Log({{nullptr, kAudioUnitEvent_PropertyChange, fake::kFakeEchoProperty, 0,
                           std::this_thread::get_id()}}));
    ASSERT_EQ(AUListenerDispose(listener), 0);
    EXPECT_EQ(lastCall().selector, kAudioUnitRemovePropertyListenerWithUserDataSelect);
    EXPECT_EQ(AudioComponentInstanceDispose(unit), 0);
}

TEST(Listeners, BadArgumentsAnswerAStatus) {
    AUEventListenerRef out = nullptr;
    Log heard;
    int notAListener = 0;
    const AudioUnitEvent unknown = event(17, nullptr, 1); // no such event type
    const AudioUnitEvent ev = event(kAudioUnitEvent_ParameterValueChange, nullptr, 1);
    const std::vector<OSStatus> refused{
        AUEventListenerCreate(nullptr, nullptr, nullptr, nullptr, 0, 0, &out),
        AUEventListenerCreate(onEvent, nullptr, nullptr, nullptr, 0, 0, nullptr),
        AUListenerCreate(nullptr, nullptr, nullptr, nullptr, 0, &out),
        AUEventListenerNotify(nullptr, nullptr, &unknown),
        AUEventListenerNotify(nullptr, nullptr, nullptr),
        AUEventListenerAddEventType((AUEventListenerRef)&notAListener, nullptr, &ev),
        AUListenerDispose(nullptr)};
    EXPECT_EQ(refused, std::vector<OSStatus>(7, kAudio_ParamError));
    ASSERT_EQ(AUEventListenerCreate(onEvent, &heard, nullptr, nullptr, 0, 0, &out), 0);
    EXPECT_EQ(std::vector<OSStatus>({AUEventListenerAddEventType(out, nullptr, nullptr),
                                     AUEventListenerAddEventType(out, nullptr, &unknown),
                                     AUEventListenerRemoveEventType(out, nullptr, &ev),
                                     AUListenerDispose(out)}),
              std::vector<OSStatus>({kAudio_ParamError, kAudio_ParamError, kAudio_ParamError, 0}));
}

TEST(RunLoopListeners, EventsFromAnotherThreadArriveOnTheListenersLoop) {
    AudioComponentInstance unit = nullptr;
    ASSERT_EQ(AudioComponentInstanceNew(findFake(kSubtypeOne), &unit), 0);
    Log heard;
    AUEventListenerRef listener = nullptr;
    ASSERT_EQ(AUEventListenerCreate(onEvent, &heard, CFRunLoopGetCurrent(), kCFRunLoopDefaultMode,
                                    0.01f, 0, &listener),
              0);
    listenToGestures(listener, nullptr, unit);
    const auto runUntil = [&](size_t count) {
        for (int i = 0; i < 100 && heard.size() < count; ++i)
            CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.02, true);
        CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.05, false); // nothing more comes
    };
    // Two value changes in the gesture: waiting ones become one.
    std::thread([&] {
        for (AudioUnitEventType t : {kGesture[0], kGesture[1], kGesture[1], kGesture[2]})
            EXPECT_EQ(notify(t, unit, 3), 0);
    }).join();
    EXPECT_TRUE(heard.empty()); // nothing until this thread runs its loop
    runUntil(3);
    Log expected = oneGesture(nullptr, 1.5f); // on this thread
    EXPECT_EQ(heard, expected);

    // The unit may go before a waiting event is delivered: it reads 0.
    ASSERT_EQ(notify(kAudioUnitEvent_ParameterValueChange, unit, 3), 0);
    EXPECT_EQ(AudioComponentInstanceDispose(unit), 0);
    runUntil(4);
    expected.push_back({nullptr, kGesture[1], 3, 0.0f, std::this_thread::get_id()});
    EXPECT_EQ(heard, expected);
    // Disposed with events waiting: nothing is delivered.
    ASSERT_EQ(notify(kAudioUnitEvent_ParameterValueChange, unit, 3), 0);
    EXPECT_EQ(AUListenerDispose(listener), 0);
    CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.05, false);
    EXPECT_EQ(heard, expected);
}
