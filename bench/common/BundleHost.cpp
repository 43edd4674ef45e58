#include "BundleHost.h"

#include <Renderer.h>

#include <AudioUnit/AudioUnitProperties.h>
#include <CoreFoundation/CoreFoundation.h>
#include <VextraHost/VXHostRuntime.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

#ifndef VX_BUNDLE_DIR
#error "the build names the bundle folder"
#endif

namespace vxbench {

namespace {

constexpr OSType kEffect = 0x61756678;       // 'aufx'
constexpr OSType kSubtype = 0x446c6179;      // 'Dlay'
constexpr OSType kManufacturer = 0x56787461; // 'Vxta'
constexpr Float64 kRate = 48000.0;

} // namespace

fs::path builtBundle() {
    return VX_BUNDLE_DIR;
}

AudioComponent registeredComponent() {
    static AudioComponent component = []() -> AudioComponent {
        const std::string path = builtBundle().string();
        CFURLRef url = CFURLCreateFromFileSystemRepresentation(
            kCFAllocatorDefault, reinterpret_cast<const UInt8*>(path.c_str()),
            static_cast<CFIndex>(path.size()), true);
        CFBundleRef bundle = url ? CFBundleCreate(kCFAllocatorDefault, url) : nullptr;
        if (url)
            CFRelease(url);
        if (!bundle)
            return nullptr;
        auto factory = reinterpret_cast<AudioComponentFactoryFunction>(
            CFBundleGetFunctionPointerForName(bundle, CFSTR("CAUPluginFactory")));
        if (!factory)
            return nullptr;
        const AudioComponentDescription d{kEffect, kSubtype, kManufacturer, 0, 0};
        // The bundle stays loaded for the process, as a host keeps it.
        return AudioComponentRegister(&d, CFSTR("Vextra-Audio: Delay"), 0x10000, factory);
    }();
    return component;
}

SupportFolder::SupportFolder() {
    static int counter = 0;
    mRoot = fs::temp_directory_path() /
            ("vxbench-support-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::error_code ec;
    fs::create_directories(mRoot / "Delay", ec);
    activate();
}

SupportFolder::~SupportFolder() {
    std::error_code ec;
    fs::remove_all(mRoot, ec);
}

fs::path SupportFolder::install(const fs::path& module) {
    const fs::path target = mRoot / "Delay" / "audplg.dylib";
    std::error_code ec;
    fs::copy_file(module, target, fs::copy_options::overwrite_existing, ec);
    return ec ? fs::path() : target;
}

void SupportFolder::activate() const {
    ::setenv("VEXTRA_SUPPORT_FOLDER", mRoot.c_str(), 1);
}

OpenUnit::OpenUnit(Entry entry) {
    if (entry == Entry::Factory) {
        AudioComponent component = registeredComponent();
        mStatus = component ? AudioComponentInstanceNew(component, &mUnit) : -43;
    } else {
        mStatus =
            VXHostOpenComponentManagerInstance(builtBundle().c_str(), "CAUPluginEntry", &mUnit);
    }
    if (mStatus != noErr)
        mUnit = nullptr;
}

OpenUnit::~OpenUnit() {
    if (mUnit)
        AudioComponentInstanceDispose(mUnit);
}

RenderRig::RenderRig(Entry entry, UInt32 maxFrames) : mUnit(entry) {
    for (int c = 0; c < 2; ++c) {
        mSignal[c].resize(maxFrames);
        mOut[c].assign(maxFrames, 0.f);
        for (UInt32 i = 0; i < maxFrames; ++i)
            mSignal[c][i] = 0.5f * std::sin(0.013f * static_cast<float>((c + 1) * i));
    }
    if (mUnit.status() != noErr) {
        mError = "the bundle did not open (status " + std::to_string(mUnit.status()) + ")";
        return;
    }
    AudioUnit unit = mUnit.get();
    const AURenderCallbackStruct callback{&RenderRig::provideInput, this};
    if (vxhost::setCanonicalFormats(unit, kRate, 2, 2) != noErr) {
        mError = "the unit refused 48 kHz stereo float";
        return;
    }
    if (AudioUnitSetProperty(unit, kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Global,
                             0, &maxFrames, sizeof maxFrames) != noErr) {
        mError = "the unit refused the block size";
        return;
    }
    if (AudioUnitSetProperty(unit, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0,
                             &callback, sizeof callback) != noErr) {
        mError = "the unit refused the input callback";
        return;
    }
    const OSStatus init = AudioUnitInitialize(unit);
    if (init != noErr)
        mError = "the unit did not initialise (status " + std::to_string(init) + ")";
}

OSStatus RenderRig::provideInput(void* refCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*,
                                 UInt32, UInt32 frames, AudioBufferList* data) {
    auto* self = static_cast<RenderRig*>(refCon);
    for (UInt32 b = 0; b < data->mNumberBuffers && b < 2; ++b) {
        AudioBuffer& buffer = data->mBuffers[b];
        if (!buffer.mData) {
            return kAudioUnitErr_NoConnection;
        }
        std::memcpy(buffer.mData, self->mSignal[b].data(), frames * sizeof(float));
    }
    return noErr;
}

OSStatus RenderRig::render(UInt32 frames) {
    struct {
        UInt32 count;
        AudioBuffer buffers[2];
    } list{2, {{1, frames * 4, mOut[0].data()}, {1, frames * 4, mOut[1].data()}}};
    AudioTimeStamp time{};
    time.mSampleTime = mSampleTime;
    time.mFlags = kAudioTimeStampSampleTimeValid;
    mSampleTime += frames;
    AudioUnitRenderActionFlags flags = 0;
    return AudioUnitRender(mUnit.get(), &flags, &time, 0, frames,
                           reinterpret_cast<AudioBufferList*>(&list));
}

} // namespace vxbench
