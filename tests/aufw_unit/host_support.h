// Opening the TestUnit.component bundle through the platform's host runtime,
// either way a host can: its factory registered with AudioComponentRegister
// and opened with AudioComponentInstanceNew, or its Component Manager entry
// opened with the runtime's own call. Plus a render rig with an input callback.
#pragma once

#include "test_unit.h"

#include <AudioUnit/AudioUnit.h>
#include <AudioUnit/AudioUnitProperties.h>
#include <CoreFoundation/CoreFoundation.h>
#include <VextraHost/VXHostRuntime.h>

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

namespace hosttest {

enum class Path { Factory, Manager };

namespace detail {

struct LoadedBundle {
    AudioComponent component = nullptr;
    testunit::GetLogFn getLog = nullptr;
    testunit::ResetLogFn resetLog = nullptr;
};

// Loads the bundle the way a host that registers components itself does.
inline const LoadedBundle& loaded() {
    static LoadedBundle b;
    static std::once_flag once;
    std::call_once(once, [] {
        const std::string path = TEST_UNIT_BUNDLE;
        CFURLRef url = CFURLCreateFromFileSystemRepresentation(
            kCFAllocatorDefault, reinterpret_cast<const UInt8*>(path.c_str()),
            static_cast<CFIndex>(path.size()), true);
        CFBundleRef bundle = CFBundleCreate(kCFAllocatorDefault, url);
        CFRelease(url);
        const auto function = [bundle](const char* name) {
            CFStringRef cfName = CFStringCreateWithCString(nullptr, name, kCFStringEncodingUTF8);
            void* fn = bundle ? CFBundleGetFunctionPointerForName(bundle, cfName) : nullptr;
            CFRelease(cfName);
            return fn;
        };
        auto factory =
            reinterpret_cast<AudioComponentFactoryFunction>(function("VXTestUnitFactory"));
        b.getLog = reinterpret_cast<testunit::GetLogFn>(function("VXTestUnitGetLog"));
        b.resetLog = reinterpret_cast<testunit::ResetLogFn>(function("VXTestUnitResetLog"));
        const AudioComponentDescription d{kAudioUnitType_Effect, 0x56785455 /* 'VxTU' */,
                                          0x56785473 /* 'VxTs' */, 0, 0};
        if (factory != nullptr) {
            b.component =
                AudioComponentRegister(&d, CFSTR("Vextra Test: Test Unit"), 0x00020103, factory);
        }
    });
    return b;
}

} // namespace detail

// A new instance opened the given way; null (and a test failure) when the
// open fails.
inline AudioUnit openUnit(Path path) {
    AudioUnit unit = nullptr;
    AudioComponent component = detail::loaded().component; // the log comes from this module
    const OSStatus status =
        path == Path::Manager
            ? VXHostOpenComponentManagerInstance(TEST_UNIT_BUNDLE, "VXTestUnitEntry", &unit)
        : component ? AudioComponentInstanceNew(component, &unit)
                    : -1;
    EXPECT_EQ(status, 0) << "opening through the "
                         << (path == Path::Factory ? "factory" : "manager");
    return status == 0 ? unit : nullptr;
}

// The unit's log and controls, from the loaded bundle.
inline testunit::Log& unitLog() {
    static testunit::Log none{};
    return detail::loaded().getLog ? *detail::loaded().getLog() : none;
}

template <typename T>
OSStatus getProperty(AudioUnit unit, AudioUnitPropertyID id, AudioUnitScope scope,
                     AudioUnitElement element, T& value) {
    UInt32 size = sizeof(T);
    return AudioUnitGetProperty(unit, id, scope, element, &value, &size);
}

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

private:
    std::vector<float> mSamples[2];
    alignas(
        AudioBufferList) unsigned char mListBytes[sizeof(AudioBufferList) + sizeof(AudioBuffer)];
};

// The input every render pulls: sample n of the cycle starting at sample
// time t is (t + n + 1) / 4096 on channel 0 and its negative on channel 1.
struct InputSource {
    static OSStatus proc(void*, AudioUnitRenderActionFlags*, const AudioTimeStamp* ts, UInt32,
                         UInt32 frames, AudioBufferList* data) {
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
inline void prepareToRender(AudioUnit unit) {
    const AURenderCallbackStruct callback{InputSource::proc, nullptr};
    ASSERT_EQ(AudioUnitSetProperty(unit, kAudioUnitProperty_SetRenderCallback,
                                   kAudioUnitScope_Input, 0, &callback, sizeof callback),
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
