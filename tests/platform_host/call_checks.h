// Runs the same battery of Audio Unit calls on an instance opened either way
// and reports the calls the fake component recorded.
#pragma once

#include "test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <vector>

namespace hosttest {

template <typename T> T slotValue(long slot) {
    T value;
    std::memcpy(&value, &slot, sizeof value);
    return value;
}

inline const fake::Call& lastCall(const fake::Log* log) {
    return log->calls[log->count - 1];
}

// An argument as a call should carry it, compared over its own width.
struct Arg {
    template <typename T> Arg(T value) : size(sizeof value) { std::memcpy(&bits, &value, size); }
    long bits = 0;
    std::size_t size;
};

inline OSStatus noteRender(void* ref, AudioUnitRenderActionFlags* flags, const AudioTimeStamp*,
                           UInt32, UInt32, AudioBufferList*) {
    static_cast<std::vector<AudioUnitRenderActionFlags>*>(ref)->push_back(*flags);
    return 0;
}

inline void noteProperty(void* ref, AudioUnit, AudioUnitPropertyID id, AudioUnitScope,
                         AudioUnitElement) {
    static_cast<std::vector<AudioUnitPropertyID>*>(ref)->push_back(id);
}

// Checks that every call arrives with its arguments intact, in order, and
// that the unit's answers come back. `path` tells how the fake saw the call.
inline void checkEveryCall(AudioUnit unit, const fake::Log* log, fake::Path path) {
    // The last call the unit saw, its count of arguments and those given.
    auto expectCall = [&](SInt16 selector, int argCount, std::initializer_list<Arg> args = {}) {
        ASSERT_GT(log->count, 0);
        const fake::Call& c = lastCall(log);
        EXPECT_EQ(c.path, path);
        EXPECT_EQ(c.selector, selector);
        EXPECT_EQ(c.argCount, argCount);
        EXPECT_EQ(c.instance, unit);
        if (path == fake::Path::Manager) {
            EXPECT_EQ(c.paramSize, 8 * argCount);
        }
        int i = 0;
        for (const Arg& a : args) {
            long seen = 0;
            std::memcpy(&seen, &c.args[i], a.size);
            EXPECT_EQ(seen, a.bits) << "selector " << selector << ", argument " << i;
            ++i;
        }
    };
    const auto kEcho = fake::kFakeEchoProperty;

    EXPECT_EQ(AudioUnitInitialize(unit), 0);
    expectCall(kAudioUnitInitializeSelect, 0);
    EXPECT_EQ(AudioUnitUninitialize(unit), 0);
    expectCall(kAudioUnitUninitializeSelect, 0);

    UInt32 size = 0;
    Boolean writable = 0;
    EXPECT_EQ(AudioUnitGetPropertyInfo(unit, kEcho, 2, 3, &size, &writable), 0);
    expectCall(kAudioUnitGetPropertyInfoSelect, 5, {kEcho, 2u, 3u, &size, &writable});
    EXPECT_EQ(size, 16u);
    EXPECT_EQ(writable, 1);
    EXPECT_EQ(AudioUnitGetPropertyInfo(unit, 12345, 0, 0, &size, &writable),
              kAudioUnitErr_InvalidProperty);

    const unsigned char bytes[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    EXPECT_EQ(AudioUnitSetProperty(unit, kEcho, 1, 7, bytes, sizeof bytes), 0);
    expectCall(kAudioUnitSetPropertySelect, 5,
               {kEcho, 1u, 7u, static_cast<const void*>(bytes), 16u});
    unsigned char back[16] = {};
    size = 4; // a short buffer gets the first bytes only
    EXPECT_EQ(AudioUnitGetProperty(unit, kEcho, 0, 0, back, &size), 0);
    expectCall(kAudioUnitGetPropertySelect, 5, {kEcho, 0u, 0u, static_cast<void*>(back), &size});
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(std::memcmp(back, bytes, 4), 0);
    EXPECT_EQ(back[4], 0);
    const int before = log->count;
    EXPECT_EQ(AudioUnitGetProperty(unit, kEcho, 0, 0, back, nullptr), kAudio_ParamError);
    EXPECT_EQ(log->count, before); // refused before reaching the unit

    AudioUnitParameterValue value = -1;
    EXPECT_EQ(AudioUnitGetParameter(unit, 6, 0, 0, &value), 0);
    expectCall(kAudioUnitGetParameterSelect, 4, {6u, 0u, 0u, &value});
    EXPECT_FLOAT_EQ(value, 3.0f);
    EXPECT_EQ(AudioUnitSetParameter(unit, 6, 1, 2, 0.75f, 64), 0);
    expectCall(kAudioUnitSetParameterSelect, 5, {6u, 1u, 2u, 0.75f, 64u});
    EXPECT_EQ(AudioUnitGetParameter(unit, 999, 0, 0, &value), kAudioUnitErr_InvalidParameter);
    EXPECT_EQ(AudioUnitGetParameter(unit, 6, 0, 0, nullptr), kAudio_ParamError);

    AudioUnitParameterEvent events[2] = {};
    events[0].parameter = 8;
    events[0].eventType = kParameterEvent_Immediate;
    events[0].eventValues.immediate.value = 0.125f;
    EXPECT_EQ(AudioUnitScheduleParameters(unit, events, 2), 0);
    expectCall(kAudioUnitScheduleParametersSelect, 2,
               {static_cast<const AudioUnitParameterEvent*>(events), 2u});
    EXPECT_EQ(AudioUnitGetParameter(unit, 8, 0, 0, &value), 0);
    EXPECT_FLOAT_EQ(value, 0.125f);
    EXPECT_EQ(AudioUnitScheduleParameters(unit, nullptr, 1), kAudio_ParamError);
    EXPECT_EQ(AudioUnitScheduleParameters(unit, nullptr, 0), 0);

    EXPECT_EQ(AudioUnitReset(unit, 2, 5), 0);
    expectCall(kAudioUnitResetSelect, 2, {2u, 5u});

    std::vector<AudioUnitPropertyID> heard;
    EXPECT_EQ(AudioUnitAddPropertyListener(unit, kEcho, noteProperty, &heard), 0);
    expectCall(kAudioUnitAddPropertyListenerSelect, 3,
               {kEcho, &noteProperty, static_cast<void*>(&heard)});
    EXPECT_EQ(AudioUnitAddPropertyListener(unit, kEcho, nullptr, &heard), kAudio_ParamError);
    EXPECT_EQ(AudioUnitSetProperty(unit, kEcho, 0, 0, bytes, 4), 0);
    EXPECT_EQ(heard.size(), 1u);
    EXPECT_EQ(AudioUnitRemovePropertyListenerWithUserData(unit, kEcho, noteProperty, &heard), 0);
    expectCall(kAudioUnitRemovePropertyListenerWithUserDataSelect, 3,
               {kEcho, &noteProperty, static_cast<void*>(&heard)});

    std::vector<AudioUnitRenderActionFlags> notes;
    EXPECT_EQ(AudioUnitAddRenderNotify(unit, noteRender, &notes), 0);
    expectCall(kAudioUnitAddRenderNotifySelect, 2, {&noteRender, static_cast<void*>(&notes)});
    float samples[2][8] = {};
    alignas(AudioBufferList) unsigned char listBytes[sizeof(AudioBufferList) + sizeof(AudioBuffer)];
    auto* list = reinterpret_cast<AudioBufferList*>(listBytes);
    list->mNumberBuffers = 2;
    for (int b = 0; b < 2; ++b)
        list->mBuffers[b] = {1, sizeof samples[b], samples[b]};
    AudioTimeStamp ts{};
    AudioUnitRenderActionFlags flags = 0;
    EXPECT_EQ(AudioUnitRender(unit, &flags, &ts, 3, 8, list), 0);
    expectCall(kAudioUnitRenderSelect, 5, {&flags, &ts, 3u, 8u, list});
    EXPECT_FLOAT_EQ(samples[1][7], fake::kRenderedValue);
    EXPECT_EQ(notes, (std::vector<AudioUnitRenderActionFlags>{kAudioUnitRenderAction_PreRender,
                                                              kAudioUnitRenderAction_PostRender}));
    EXPECT_EQ(AudioUnitRender(unit, nullptr, &ts, 0, 8, list), 0); // the unit's to handle
    const int beforeRender = log->count;
    EXPECT_EQ(AudioUnitRender(unit, &flags, nullptr, 0, 8, list), kAudio_ParamError);
    EXPECT_EQ(AudioUnitRender(unit, &flags, &ts, 0, 8, nullptr), kAudio_ParamError);
    EXPECT_EQ(log->count, beforeRender); // refused before reaching the unit
    EXPECT_EQ(AudioUnitRemoveRenderNotify(unit, noteRender, &notes), 0);
    expectCall(kAudioUnitRemoveRenderNotifySelect, 2, {&noteRender, static_cast<void*>(&notes)});

    // A call the unit does not serve answers the unknown-selector status.
    EXPECT_EQ(AudioUnitProcess(unit, &flags, &ts, 8, list), badComponentSelector);
}

} // namespace hosttest
