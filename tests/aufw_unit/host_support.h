// Opening the TestUnit.component bundle through the platform's host runtime,
// either way a host can: its factory registered with AudioComponentRegister
// and opened with AudioComponentInstanceNew, or its Component Manager entry
// opened with the runtime's own call. Plus small helpers for property calls
// and a render rig with an input callback.
#pragma once

#include "test_unit.h"

#include <AudioUnit/AudioUnit.h>
#include <CoreFoundation/CoreFoundation.h>

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

namespace hosttest {

enum class Path { Factory, Manager };

inline const char* pathName(Path p) {
    return p == Path::Factory ? "Factory" : "Manager";
}
inline void PrintTo(Path p, std::ostream* os) {
    *os << pathName(p);
}

// A new instance opened the given way; null (and a test failure) when the
// open fails. outStatus receives the open's status when given.
AudioUnit openUnit(Path path, OSStatus* outStatus = nullptr);
// Disposes of an instance; answers the status.
OSStatus closeUnit(AudioUnit unit);

// The unit's log and controls, from the loaded bundle.
testunit::Log& unitLog();
void resetUnitLog();

// Property helpers.
template <typename T>
OSStatus getProperty(AudioUnit unit, AudioUnitPropertyID id, AudioUnitScope scope,
                     AudioUnitElement element, T& value) {
    UInt32 size = sizeof(T);
    const OSStatus status = AudioUnitGetProperty(unit, id, scope, element, &value, &size);
    if (status == 0) {
        EXPECT_EQ(size, sizeof(T)) << "property " << id;
    }
    return status;
}

template <typename T>
OSStatus setProperty(AudioUnit unit, AudioUnitPropertyID id, AudioUnitScope scope,
                     AudioUnitElement element, const T& value, UInt32 size = sizeof(T)) {
    return AudioUnitSetProperty(unit, id, scope, element, &value, size);
}

// Counts the notifications of one property.
struct ListenerCount {
    int calls = 0;
    static void proc(void* ref, AudioUnit, AudioUnitPropertyID, AudioUnitScope, AudioUnitElement) {
        ++static_cast<ListenerCount*>(ref)->calls;
    }
};

// Two non-interleaved float channels of caller-owned buffers.
class StereoBuffers {
public:
    explicit StereoBuffers(UInt32 frames);
    AudioBufferList* list() { return reinterpret_cast<AudioBufferList*>(mListBytes); }
    float* channel(int c) { return mSamples[c].data(); }
    // Null data pointers: the unit is asked to provide the memory.
    void clearPointers();

private:
    std::vector<float> mSamples[2];
    alignas(
        AudioBufferList) unsigned char mListBytes[sizeof(AudioBufferList) + sizeof(AudioBuffer)];
};

// The input every render pulls: sample n of the cycle starting at sample
// time t is (t + n + 1) / 4096 on channel 0 and its negative on channel 1.
// The status the callback answers can be set.
struct InputSource {
    OSStatus answer = 0;
    int calls = 0;
    static OSStatus proc(void* ref, AudioUnitRenderActionFlags* flags, const AudioTimeStamp* ts,
                         UInt32 bus, UInt32 frames, AudioBufferList* data);
    static float sample(Float64 sampleTime, UInt32 n, int channel) {
        const float v = static_cast<float>((sampleTime + n + 1) / 4096.0);
        return channel == 0 ? v : -v;
    }
};

// Connects the input callback and initializes the unit.
void prepareToRender(AudioUnit unit, InputSource& source);

AudioTimeStamp timeStamp(Float64 sampleTime);

} // namespace hosttest
