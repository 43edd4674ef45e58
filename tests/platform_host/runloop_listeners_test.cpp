// Listeners created with a run loop hear their events on that loop, only
// while it runs, with waiting value changes merged.

#include "call_checks.h"

#include <AudioToolbox/AudioToolbox.h>
#include <CoreFoundation/CoreFoundation.h>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace hosttest;

namespace {

struct Heard {
    AudioUnitEventType type;
    AudioUnitParameterValue value;
    std::thread::id thread;
};

void onEvent(void* ref, void*, const AudioUnitEvent* ev, UInt64, AudioUnitParameterValue v) {
    static_cast<std::vector<Heard>*>(ref)->push_back(
        {ev->mEventType, v, std::this_thread::get_id()});
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

constexpr AudioUnitEventType kSequence[] = {
    kAudioUnitEvent_BeginParameterChangeGesture, kAudioUnitEvent_ParameterValueChange,
    kAudioUnitEvent_ParameterValueChange, kAudioUnitEvent_EndParameterChangeGesture};

} // namespace

TEST(RunLoopListeners, EventsFromAnotherThreadArriveOnTheListenersLoop) {
    AudioComponentInstance unit = nullptr;
    ASSERT_EQ(AudioComponentInstanceNew(findFake(kSubtypeOne), &unit), 0);
    std::vector<Heard> heard;
    AUEventListenerRef listener = nullptr;
    ASSERT_EQ(AUEventListenerCreate(onEvent, &heard, CFRunLoopGetCurrent(), kCFRunLoopDefaultMode,
                                    0.01f, 0, &listener),
              0);
    for (AudioUnitEventType t :
         {kAudioUnitEvent_BeginParameterChangeGesture, kAudioUnitEvent_ParameterValueChange,
          kAudioUnitEvent_EndParameterChangeGesture}) {
        const AudioUnitEvent ev = parameterEvent(t, unit, 3);
        ASSERT_EQ(AUEventListenerAddEventType(listener, nullptr, &ev), 0);
    }

    std::thread notifier([&] {
        for (AudioUnitEventType t : kSequence) {
            const AudioUnitEvent ev = parameterEvent(t, unit, 3);
            EXPECT_EQ(AUEventListenerNotify(nullptr, nullptr, &ev), 0);
        }
    });
    notifier.join();
    EXPECT_TRUE(heard.empty()); // nothing until this thread runs its loop

    runUntil(heard, 3);
    CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.05, false); // nothing more comes
    ASSERT_EQ(heard.size(), 3u); // the two waiting value changes became one
    EXPECT_EQ(heard[0].type, kAudioUnitEvent_BeginParameterChangeGesture);
    EXPECT_EQ(heard[1].type, kAudioUnitEvent_ParameterValueChange);
    EXPECT_EQ(heard[2].type, kAudioUnitEvent_EndParameterChangeGesture);
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
