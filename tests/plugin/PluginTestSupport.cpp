#include "PluginTestSupport.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <stdexcept>

namespace plugtest {

namespace {

// The bundle opens its log under HOME when it is loaded. The tests give it a
// home of their own, with the folders above the log's, before anything can
// load it.
struct TestHome {
    fs::path path;
    TestHome() {
        std::random_device random;
        path = fs::temp_directory_path() /
               ("vx-plugin-home-" + std::to_string(getpid()) + "-" + std::to_string(random()));
        fs::create_directories(path / "Library" / "Logs");
        setenv("HOME", path.c_str(), 1);
    }
    ~TestHome() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};
const TestHome gTestHome;

} // namespace

fs::path testHome() {
    return gTestHome.path;
}

SupportFolder::SupportFolder() {
    std::random_device random;
    mRoot = fs::temp_directory_path() /
            ("vx-plugin-test-" + std::to_string(getpid()) + "-" + std::to_string(random()));
    fs::create_directories(mRoot);
    setenv("VEXTRA_SUPPORT_FOLDER", mRoot.c_str(), 1);
}

SupportFolder::~SupportFolder() {
    unsetenv("VEXTRA_SUPPORT_FOLDER");
    std::error_code ignored;
    fs::remove_all(mRoot, ignored);
}

fs::path SupportFolder::install(const fs::path& module) {
    fs::create_directories(dataFolder());
    const fs::path target = dataFolder() / "audplg.dylib";
    fs::copy_file(module, target, fs::copy_options::overwrite_existing);
    return target;
}

ProbeModule::ProbeModule(SupportFolder& folder) {
    const fs::path path = folder.install(VX_PROBE_ENGINE);
    mHandle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (mHandle == nullptr)
        throw std::runtime_error(std::string("probe engine: ") + dlerror());
    auto fn = reinterpret_cast<VxProbeControlFn>(dlsym(mHandle, "vxProbeControl"));
    if (fn == nullptr)
        throw std::runtime_error("probe engine without vxProbeControl");
    mControl = fn();
}

ProbeModule::~ProbeModule() {
    if (mHandle != nullptr)
        dlclose(mHandle);
}

OSStatus Unit::close() {
    if (mUnit == nullptr)
        return noErr;
    const OSStatus status = AudioComponentInstanceDispose(mUnit);
    mUnit = nullptr;
    return status;
}

OSStatus setFormat(AudioUnit unit, AudioUnitScope scope, Float64 rate, UInt32 channels) {
    return setProperty(unit, kAudioUnitProperty_StreamFormat, scope, 0,
                       unithost::floatFormat(rate, channels));
}

InputSource::InputSource(bool ownPointers) : mOwnPointers(ownPointers) {
    for (auto& plane : mPlanes)
        plane.assign(kMaxFrames, 0.0f);
}

OSStatus InputSource::attach(AudioUnit unit) {
    const AURenderCallbackStruct callback{Render, this};
    return setProperty(unit, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0,
                       callback);
}

OSStatus InputSource::Render(void* refCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*,
                             UInt32, UInt32 frames, AudioBufferList* data) {
    auto* self = static_cast<InputSource*>(refCon);
    ++self->calls;
    if (frames > kMaxFrames || data->mNumberBuffers > 2)
        return kAudioUnitErr_TooManyFramesToProcess;
    for (UInt32 b = 0; b < data->mNumberBuffers; ++b) {
        AudioBuffer& buffer = data->mBuffers[b];
        if (self->mOwnPointers) {
            buffer.mData = self->mPlanes[b].data();
            buffer.mDataByteSize = frames * sizeof(float);
        }
        auto* samples = static_cast<float*>(buffer.mData);
        for (UInt32 i = 0; i < frames; ++i) {
            const size_t n = self->position + i;
            samples[i] = n < self->signal.size() ? self->signal[n] : 0.0f;
        }
    }
    self->position += frames;
    return noErr;
}

OSStatus renderStereo(AudioUnit unit, Float64 sampleTime, UInt32 frames, float* left,
                      float* right) {
    struct {
        UInt32 count;
        AudioBuffer buffers[2];
    } list{2, {{1, frames * 4, left}, {1, frames * 4, right}}};
    AudioTimeStamp time{};
    time.mSampleTime = sampleTime;
    time.mFlags = kAudioTimeStampSampleTimeValid;
    AudioUnitRenderActionFlags flags = 0;
    return AudioUnitRender(unit, &flags, &time, 0, frames,
                           reinterpret_cast<AudioBufferList*>(&list));
}

} // namespace plugtest
