#include "host_support.h"

#include <AudioUnit/AudioUnitProperties.h>
#include <VextraHost/VXHostRuntime.h>

#include <mutex>

namespace hosttest {
namespace {

struct LoadedBundle {
    CFBundleRef bundle = nullptr;
    AudioComponent component = nullptr;
    testunit::GetLogFn getLog = nullptr;
    testunit::ResetLogFn resetLog = nullptr;
};

void* function(CFBundleRef bundle, const char* name) {
    CFStringRef cfName = CFStringCreateWithCString(nullptr, name, kCFStringEncodingUTF8);
    void* fn = CFBundleGetFunctionPointerForName(bundle, cfName);
    CFRelease(cfName);
    return fn;
}

// Loads the bundle the way a host that registers components itself does.
const LoadedBundle& loaded() {
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

} // namespace

AudioUnit openUnit(Path path, OSStatus* outStatus) {
    AudioUnit unit = nullptr;
    OSStatus status = -1;
    if (path == Path::Factory) {
        AudioComponent component = loaded().component;
        EXPECT_NE(component, nullptr);
        status = component ? AudioComponentInstanceNew(component, &unit) : -1;
    } else {
        (void)loaded(); // the log is read through the same loaded module
        status = VXHostOpenComponentManagerInstance(TEST_UNIT_BUNDLE, "VXTestUnitEntry", &unit);
    }
    if (outStatus != nullptr) {
        *outStatus = status;
    } else {
        EXPECT_EQ(status, 0) << "opening through the " << pathName(path) << " path";
    }
    return status == 0 ? unit : nullptr;
}

OSStatus closeUnit(AudioUnit unit) {
    return AudioComponentInstanceDispose(unit);
}

testunit::Log& unitLog() {
    static testunit::Log none{};
    return loaded().getLog ? *loaded().getLog() : none;
}

void resetUnitLog() {
    if (loaded().resetLog) {
        loaded().resetLog();
    }
}

StereoBuffers::StereoBuffers(UInt32 frames) {
    list()->mNumberBuffers = 2;
    for (int c = 0; c < 2; ++c) {
        mSamples[c].assign(frames, 0.0f);
        list()->mBuffers[c] = {1, static_cast<UInt32>(frames * sizeof(float)), mSamples[c].data()};
    }
}

void StereoBuffers::clearPointers() {
    for (int c = 0; c < 2; ++c) {
        list()->mBuffers[c].mData = nullptr;
    }
}

OSStatus InputSource::proc(void* ref, AudioUnitRenderActionFlags*, const AudioTimeStamp* ts, UInt32,
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

void prepareToRender(AudioUnit unit, InputSource& source) {
    const AURenderCallbackStruct callback{InputSource::proc, &source};
    ASSERT_EQ(
        setProperty(unit, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0, callback),
        0);
    ASSERT_EQ(AudioUnitInitialize(unit), 0);
}

AudioTimeStamp timeStamp(Float64 sampleTime) {
    AudioTimeStamp ts{};
    ts.mSampleTime = sampleTime;
    ts.mFlags = kAudioTimeStampSampleTimeValid;
    return ts;
}

} // namespace hosttest
