// Opening the TestUnit.component bundle through the platform's host runtime,
// either way a host can: its factory registered with AudioComponentRegister
// and opened with AudioComponentInstanceNew, or its Component Manager entry
// opened with the runtime's own call. Plus small helpers for property calls
// and a render rig with an input callback.
#pragma once

#include "test_unit.h"

#include <AudioUnit/AudioUnit.h>
#include <AudioUnit/AudioUnitProperties.h>
#include <CoreFoundation/CoreFoundation.h>
#include <VextraHost/VXHostRuntime.h>

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
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

namespace detail {

struct LoadedBundle {
    CFBundleRef bundle = nullptr;
    AudioComponent component = nullptr;
    testunit::GetLogFn getLog = nullptr;
    testunit::ResetLogFn resetLog = nullptr;
};

inline void* function(CFBundleRef bundle, const char* name) {
    CFStringRef cfName = CFStringCreateWithCString(nullptr, name, kCFStringEncodingUTF8);
    void* fn = CFBundleGetFunctionPointerForName(bundle, cfName);
    CFRelease(cfName);
    return fn;
}

// Loads the bundle the way a host that registers components itself does.
inline const LoadedBundle& loaded() {
    static LoadedBundle b;
    static std::once_flag once;
    std::call_once(once, [] {
        const std::string path = TEST_UNIT_BUNDLE;
        CFURLRef url = CFURLCreateFromFileSystemRepresentation(
            kCFAllocatorDefault, reinterpret_cast<const UInt8*>(path.c_str()),
            static_cast<CFIndex>(path.size()), true);
        b.bundle = CFBundleCreate(kCFAllocatorDefault, url);
        CFRelease(url);
        if (b.bundle == nullptr) {
            return;
        }
        auto factory = reinterpret_cast<AudioComponentFactoryFunction>(
            function(b.bundle, "VXTestUnitFactory"));
        b.getLog = reinterpret_cast<testunit::GetLogFn>(function(b.bundle, "VXTestUnitGetLog"));
        b.resetLog =
            reinterpret_cast<testunit::ResetLogFn>(function(b.bundle, "VXTestUnitResetLog"));
        if (factory == nullptr) {
            return;
        }
        const AudioComponentDescription d{kAudioUnitType_Effect, 0x56785455 /* 'VxTU' */,
                                          0x56785473 /* 'VxTs' */, 0, 0};
        b.component =
            AudioComponentRegister(&d, CFSTR("Vextra Test: Test Unit"), 0x00020103, factory);
    });
    return b;
}

} // namespace detail

// A new instance opened the given way; null (and a test failure) when the
// open fails. outStatus receives the open's status when given.
inline AudioUnit openUnit(Path path, OSStatus* outStatus = nullptr) {
    AudioUnit unit = nullptr;
    OSStatus status = -1;
    if (path == Path::Factory) {
        AudioComponent component = detail::loaded().component;
        EXPECT_NE(component, nullptr);
        status = component ? AudioComponentInstanceNew(component, &unit) : -1;
    } else {
        (void)detail::loaded(); // the log is read through the same loaded module
        status = VXHostOpenComponentManagerInstance(TEST_UNIT_BUNDLE, "VXTestUnitEntry", &unit);
    }
    if (outStatus != nullptr) {
        *outStatus = status;
    } else {
        EXPECT_EQ(status, 0) << "opening through the " << pathName(path) << " path";
    }
    return status == 0 ? unit : nullptr;
}

inline OSStatus closeUnit(AudioUnit unit) {
    return AudioComponentInstanceDispose(unit);
}

// The unit's log and controls, from the loaded bundle.
inline testunit::Log& unitLog() {
    static testunit::Log none{};
    return detail::loaded().getLog ? *detail::loaded().getLog() : none;
}

inline void resetUnitLog() {
    if (detail::loaded().resetLog) {
        detail::loaded().resetLog();
    }
}

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
    AudioBufferList* list() { return reinterpret_cast<AudioBufferList*>(mListBytes); }
    float* channel(int c) { return mSamples[c].data(); }
    explicit StereoBuffers(UInt32 frames) {
        list()->mNumberBuffers = 2;
        for (int c = 0; c < 2; ++c) {
            mSamples[c].assign(frames, 0.0f);
            list()->mBuffers[c] = {1, static_cast<UInt32>(frames * sizeof(float)),
                                   mSamples[c].data()};
        }
    }

    // Null data pointers: the unit is asked to provide the memory.
    void clearPointers() {
        for (int c = 0; c < 2; ++c) {
            list()->mBuffers[c].mData = nullptr;
        }
    }

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
    static OSStatus proc(void* ref, AudioUnitRenderActionFlags*, const AudioTimeStamp* ts, UInt32,
                         UInt32 frames, AudioBufferList* data) {
        auto* self = static_cast<InputSource*>(ref);
        ++self->calls;
        if (self->answer != 0) {
            return self->answer;
        }
        for (UInt32 c = 0; c < data->mNumberBuffers && c < 2; ++c) {
            auto* samples = static_cast<float*>(data->mBuffers[c].mData);
            for (UInt32 n = 0; n < frames; ++n) {
                samples[n] = sample(ts->mSampleTime, n, static_cast<int>(c));
            }
        }
        return 0;
    }
    static float sample(Float64 sampleTime, UInt32 n, int channel) {
        const float v = static_cast<float>((sampleTime + n + 1) / 4096.0);
        return channel == 0 ? v : -v;
    }
};

// Connects the input callback and initializes the unit.
inline void prepareToRender(AudioUnit unit, InputSource& source) {
    const AURenderCallbackStruct callback{InputSource::proc, &source};
    ASSERT_EQ(
        setProperty(unit, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0, callback),
        0);
    ASSERT_EQ(AudioUnitInitialize(unit), 0);
}

inline AudioTimeStamp timeStamp(Float64 sampleTime) {
    AudioTimeStamp ts{};
    ts.mSampleTime = sampleTime;
    ts.mFlags = kAudioTimeStampSampleTimeValid;
    return ts;
}

} // namespace hosttest
