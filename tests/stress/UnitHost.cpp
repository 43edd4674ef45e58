#include "UnitHost.h"

#include <AppKit/NSAlert.h>
#include <VextraHost/VXHostRuntime.h>

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <stdexcept>

namespace unithost {

namespace fs = std::filesystem;

namespace {

struct ComponentInfo {
    const char *label, *bundle, *factory, *entry, *name;
    OSType subtype, manufacturer;
};

const ComponentInfo& info(Component c) {
    static const ComponentInfo infos[] = {
        {"TestUnit", VX_TEST_UNIT_BUNDLE, "VXTestUnitFactory", "VXTestUnitEntry",
         "Vextra Test: Test Unit", 0x56785455 /* VxTU */, 0x56785473 /* VxTs */},
        {"Plugin", VX_BUNDLE_DIR, "CAUPluginFactory", "CAUPluginEntry", "Vextra-Audio: Delay",
         0x446C6179 /* Dlay */, 0x56787461 /* Vxta */}};
    return infos[c == Component::Plugin];
}

struct SupportFolder {
    std::string path;
    ~SupportFolder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
} gSupport;

// The bundle's factory, registered once per process the way a host that loads
// bundles itself does it; the bundle stays loaded.
AudioComponent registered(Component c) {
    static std::mutex lock;
    static AudioComponent components[2] = {nullptr, nullptr};
    std::lock_guard<std::mutex> guard(lock);
    AudioComponent& slot = components[c == Component::Plugin];
    const ComponentInfo& ci = info(c);
    if (slot != nullptr)
        return slot;
    auto string = [](const char* s) {
        return CFStringCreateWithCString(nullptr, s, kCFStringEncodingUTF8);
    };
    CFURLRef url = CFURLCreateFromFileSystemRepresentation(
        nullptr, reinterpret_cast<const UInt8*>(ci.bundle), std::strlen(ci.bundle), true);
    CFBundleRef bundle = url ? CFBundleCreate(nullptr, url) : nullptr;
    CFStringRef factoryName = string(ci.factory), name = string(ci.name);
    auto factory = reinterpret_cast<AudioComponentFactoryFunction>(
        bundle ? CFBundleGetFunctionPointerForName(bundle, factoryName) : nullptr);
    const AudioComponentDescription d{kAudioUnitType_Effect, ci.subtype, ci.manufacturer, 0, 0};
    slot = factory ? AudioComponentRegister(&d, name, 0x10000, factory) : nullptr;
    for (CFTypeRef object : {CFTypeRef(url), CFTypeRef(factoryName), CFTypeRef(name)})
        if (object)
            CFRelease(object);
    return slot;
}

} // namespace

const char* componentName(Component c) {
    return info(c).label;
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

const std::string& supportFolder() {
    return gSupport.path;
}

void pinModules() {
    prepareSupportFolder();
    registered(Component::Plugin);
    registered(Component::TestUnit);
    const std::string engine = gSupport.path + "/Delay/audplg.dylib";
    if (dlopen(engine.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE) == nullptr)
        throw std::runtime_error(std::string("cannot pin the engine: ") + dlerror());
}

AudioUnit open(Component c, Entry e, OSStatus* outStatus) {
    if (c == Component::Plugin)
        prepareSupportFolder();
    return openAsConfigured(c, e, outStatus);
}

AudioUnit openAsConfigured(Component c, Entry e, OSStatus* outStatus) {
    AudioUnit unit = nullptr;
    AudioComponent component = e == Entry::Factory ? registered(c) : nullptr;
    OSStatus ignored, &status = outStatus ? *outStatus : ignored;
    status = e == Entry::ComponentManager
                 ? VXHostOpenComponentManagerInstance(info(c).bundle, info(c).entry, &unit)
                 : (component ? AudioComponentInstanceNew(component, &unit) : -43);
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
    const OSStatus s = AudioUnitSetProperty(unit, kAudioUnitProperty_StreamFormat,
                                            kAudioUnitScope_Input, 0, &in, sizeof in);
    return s != 0 ? s
                  : AudioUnitSetProperty(unit, kAudioUnitProperty_StreamFormat,
                                         kAudioUnitScope_Output, 0, &out, sizeof out);
}

OSStatus Rig::attach(AudioUnit unit) {
    const AURenderCallbackStruct cb = callback();
    return AudioUnitSetProperty(unit, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input,
                                0, &cb, sizeof cb);
}

OSStatus Rig::input(void* ref, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32,
                    UInt32 frames, AudioBufferList* data) {
    auto* self = static_cast<Rig*>(ref);
    if (self->inputAnswer != 0 || frames > kMaxFrames)
        return self->inputAnswer ? self->inputAnswer : -50;
    for (UInt32 b = 0; b < data->mNumberBuffers; ++b) {
        float* samples = self->mIn[b % 2].data();
        for (UInt32 i = 0; i < frames; ++i)
            samples[i] = 0.25f * static_cast<float>(std::sin(0.031 * (self->mPhase + i)));
        // Either side may own the buffers; the unit's own are filled.
        AudioBuffer& buffer = data->mBuffers[b];
        if (buffer.mData == nullptr)
            buffer.mData = samples;
        else if (buffer.mDataByteSize < frames * sizeof(float))
            return -50;
        else
            std::copy(samples, samples + frames, static_cast<float*>(buffer.mData));
        buffer.mDataByteSize = frames * sizeof(float);
    }
    self->mPhase += frames;
    return 0;
}

OSStatus Rig::render(AudioUnit unit, UInt32 frames) {
    frames = std::min(frames, kMaxFrames);
    struct {
        AudioBufferList list; // its one buffer and the second that follows
        AudioBuffer second;
    } out{{2, {{1, frames * 4, mOut[0].data()}}}, {1, frames * 4, mOut[1].data()}};
    AudioTimeStamp ts{};
    ts.mSampleTime = mSampleTime;
    ts.mFlags = kAudioTimeStampSampleTimeValid;
    AudioUnitRenderActionFlags flags = 0;
    mSampleTime += frames;
    return AudioUnitRender(unit, &flags, &ts, 0, frames, &out.list);
}

bool Rig::outputFinite(UInt32 frames) const {
    for (UInt32 i = 0; i < std::min(frames, kMaxFrames); ++i)
        if (!std::isfinite(mOut[0][i]) || !std::isfinite(mOut[1][i]))
            return false;
    return true;
}

} // namespace unithost
