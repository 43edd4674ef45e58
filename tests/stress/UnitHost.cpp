#include "UnitHost.h"

#include <AppKit/NSAlert.h>
#include <VextraHost/VXHostRuntime.h>

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <stdexcept>

namespace unithost {

namespace fs = std::filesystem;

namespace {

struct ComponentInfo {
    const char* bundle;
    const char* factory;
    const char* entry;
    OSType subtype;
    OSType manufacturer;
    const char* name;
};

ComponentInfo info(Component c) {
    if (c == Component::Plugin)
        return {VX_BUNDLE_DIR,         "CAUPluginFactory",    "CAUPluginEntry",
                0x446C6179 /* Dlay */, 0x56787461 /* Vxta */, "Vextra-Audio: Delay"};
    return {VX_TEST_UNIT_BUNDLE,   "VXTestUnitFactory",   "VXTestUnitEntry",
            0x56785455 /* VxTU */, 0x56785473 /* VxTs */, "Vextra Test: Test Unit"};
}

struct SupportFolder {
    std::string path;
    ~SupportFolder() {
        if (!path.empty()) {
            std::error_code ignored;
            fs::remove_all(path, ignored);
        }
    }
};

SupportFolder gSupport;

// The factory of a bundle, registered once per process the way a host that
// loads bundles itself does it; the bundle stays loaded.
AudioComponent registered(Component c) {
    static std::mutex lock;
    static AudioComponent components[2] = {nullptr, nullptr};
    std::lock_guard<std::mutex> guard(lock);
    AudioComponent& slot = components[c == Component::Plugin ? 1 : 0];
    if (slot != nullptr)
        return slot;
    const ComponentInfo ci = info(c);
    const std::string path = ci.bundle;
    CFURLRef url = CFURLCreateFromFileSystemRepresentation(
        nullptr, reinterpret_cast<const UInt8*>(path.data()), static_cast<CFIndex>(path.size()),
        true);
    CFBundleRef bundle = url ? CFBundleCreate(nullptr, url) : nullptr;
    if (url)
        CFRelease(url);
    if (bundle == nullptr)
        return nullptr;
    CFStringRef factoryName = CFStringCreateWithCString(nullptr, ci.factory, kCFStringEncodingUTF8);
    auto factory = reinterpret_cast<AudioComponentFactoryFunction>(
        CFBundleGetFunctionPointerForName(bundle, factoryName));
    CFRelease(factoryName);
    if (factory == nullptr)
        return nullptr;
    CFStringRef name = CFStringCreateWithCString(nullptr, ci.name, kCFStringEncodingUTF8);
    const AudioComponentDescription d{kAudioUnitType_Effect, ci.subtype, ci.manufacturer, 0, 0};
    slot = AudioComponentRegister(&d, name, 0x10000, factory);
    CFRelease(name);
    return slot;
}

} // namespace

const char* componentName(Component c) {
    return c == Component::Plugin ? "Plugin" : "TestUnit";
}

const char* entryName(Entry e) {
    return e == Entry::Factory ? "Factory" : "ComponentManager";
}

void prepareSupportFolder() {
    static std::once_flag once;
    std::call_once(once, [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vx-support-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("cannot make a support folder");
        gSupport.path = pattern;
        fs::create_directories(fs::path(pattern) / "Delay");
        fs::copy_file(fs::path(VX_ENGINE_DIR) / "audplg.dylib",
                      fs::path(pattern) / "Delay" / "audplg.dylib");
        setenv("VEXTRA_SUPPORT_FOLDER", pattern.c_str(), 1);
        // Alerts would only say what the tests arrange on purpose.
        VXAlertSetEchoToStandardError(0);
    });
}

void pinModules() {
    prepareSupportFolder();
    registered(Component::Plugin);
    registered(Component::TestUnit);
    const std::string engine = gSupport.path + "/Delay/audplg.dylib";
    if (dlopen(engine.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE) == nullptr)
        throw std::runtime_error(std::string("cannot pin the engine: ") + dlerror());
}

const std::string& supportFolder() {
    return gSupport.path;
}

AudioUnit open(Component c, Entry e, OSStatus* outStatus) {
    if (c == Component::Plugin)
        prepareSupportFolder();
    return openAsConfigured(c, e, outStatus);
}

AudioUnit openAsConfigured(Component c, Entry e, OSStatus* outStatus) {
    AudioUnit unit = nullptr;
    OSStatus status = -1;
    if (e == Entry::Factory) {
        AudioComponent component = registered(c);
        status = component ? AudioComponentInstanceNew(component, &unit) : -43;
    } else {
        const ComponentInfo ci = info(c);
        status = VXHostOpenComponentManagerInstance(ci.bundle, ci.entry, &unit);
    }
    if (outStatus)
        *outStatus = status;
    return status == 0 ? unit : nullptr;
}

OSStatus close(AudioUnit unit) {
    return unit ? AudioComponentInstanceDispose(unit) : 0;
}

AudioStreamBasicDescription floatFormat(Float64 rate, UInt32 channels) {
    const UInt32 flags =
        kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked | kAudioFormatFlagIsNonInterleaved;
    return {rate, kAudioFormatLinearPCM, flags, 4, 1, 4, channels, 32, 0};
}

OSStatus setFormats(AudioUnit unit, Float64 rate, UInt32 inputChannels) {
    const AudioStreamBasicDescription in = floatFormat(rate, inputChannels);
    const AudioStreamBasicDescription out = floatFormat(rate, 2);
    OSStatus s = AudioUnitSetProperty(unit, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input,
                                      0, &in, sizeof in);
    if (s != 0)
        return s;
    return AudioUnitSetProperty(unit, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0,
                                &out, sizeof out);
}

Rig::Rig() : mList(sizeof(AudioBufferList) + sizeof(AudioBuffer)) {
    for (int c = 0; c < 2; ++c) {
        mOut[c].assign(kMaxFrames, 0.0f);
        mIn[c].assign(kMaxFrames, 0.0f);
    }
}

OSStatus Rig::attach(AudioUnit unit) {
    const AURenderCallbackStruct cb = callback();
    return AudioUnitSetProperty(unit, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input,
                                0, &cb, sizeof cb);
}

OSStatus Rig::input(void* ref, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32,
                    UInt32 frames, AudioBufferList* data) {
    auto* self = static_cast<Rig*>(ref);
    if (self->inputAnswer != 0)
        return self->inputAnswer;
    if (frames > kMaxFrames)
        return -50;
    for (UInt32 b = 0; b < data->mNumberBuffers; ++b) {
        float* samples = self->mIn[b % 2].data();
        for (UInt32 i = 0; i < frames; ++i)
            samples[i] =
                self->inputLevel *
                static_cast<float>(std::sin(0.031 * static_cast<double>(self->mPhase + i)));
        // Either side may own the buffers; the unit's own are filled.
        if (data->mBuffers[b].mData == nullptr)
            data->mBuffers[b].mData = samples;
        else if (data->mBuffers[b].mDataByteSize < frames * sizeof(float))
            return -50;
        else
            std::copy(samples, samples + frames, static_cast<float*>(data->mBuffers[b].mData));
        data->mBuffers[b].mDataByteSize = frames * sizeof(float);
    }
    self->mPhase += frames;
    return 0;
}

OSStatus Rig::render(AudioUnit unit, UInt32 frames) {
    if (frames > kMaxFrames)
        frames = kMaxFrames;
    auto* list = reinterpret_cast<AudioBufferList*>(mList.data());
    list->mNumberBuffers = 2;
    for (int c = 0; c < 2; ++c)
        list->mBuffers[c] = {1, frames * static_cast<UInt32>(sizeof(float)), mOut[c].data()};
    AudioTimeStamp ts{};
    ts.mSampleTime = sampleTime;
    ts.mFlags = kAudioTimeStampSampleTimeValid;
    AudioUnitRenderActionFlags flags = 0;
    const OSStatus s = AudioUnitRender(unit, &flags, &ts, 0, frames, list);
    sampleTime += frames;
    return s;
}

bool Rig::outputFinite(UInt32 frames) const {
    for (int c = 0; c < 2; ++c)
        for (UInt32 i = 0; i < frames && i < kMaxFrames; ++i)
            if (!std::isfinite(mOut[c][i]))
                return false;
    return true;
}

} // namespace unithost
