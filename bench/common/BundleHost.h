// The host's side of the plug-in benchmarks: the built bundle registered with
// the host runtime the way a host registers it, support folders with engine
// modules installed, and a unit set up for stereo rendering at 48 kHz with
// an input callback that copies the host's signal into the unit's buffers.
#pragma once

#include <AudioUnit/AudioUnit.h>

#include <filesystem>
#include <string>
#include <vector>

namespace vxbench {

namespace fs = std::filesystem;

// The bundle as the build laid it out.
fs::path builtBundle();

// The bundle's factory registered with the host runtime (once per process);
// null when the bundle cannot be loaded.
AudioComponent registeredComponent();

// A temporary support folder in effect (VEXTRA_SUPPORT_FOLDER) while the
// object lives; modules are installed as the first-generation build, which
// the plug-in loads on every processor when it is the only one installed.
class SupportFolder {
public:
    SupportFolder();
    ~SupportFolder();
    SupportFolder(const SupportFolder&) = delete;
    SupportFolder& operator=(const SupportFolder&) = delete;

    // Copies the module in; answers its installed path (empty on failure).
    fs::path install(const fs::path& module);
    // Makes this folder the one the plug-in looks in.
    void activate() const;

private:
    fs::path mRoot;
};

enum class Entry { Factory, ComponentManager };

// One open instance of the bundle.
class OpenUnit {
public:
    explicit OpenUnit(Entry entry);
    ~OpenUnit();
    OpenUnit(const OpenUnit&) = delete;
    OpenUnit& operator=(const OpenUnit&) = delete;

    OSStatus status() const { return mStatus; }
    AudioUnit get() const { return mUnit; }

private:
    OSStatus mStatus = -1;
    AudioUnit mUnit = nullptr;
};

// A unit ready to render stereo blocks of up to maxFrames frames at 48 kHz,
// its input fed from a fixed signal by copying, as a host feeds it.
class RenderRig {
public:
    RenderRig(Entry entry, UInt32 maxFrames);

    // Empty when the rig is ready; otherwise what failed.
    const std::string& error() const { return mError; }

    // One render call of `frames` frames into the rig's output planes.
    OSStatus render(UInt32 frames);

    float* outputPlane(int channel) { return mOut[channel].data(); }
    const float* inputSignal(int channel) const { return mSignal[channel].data(); }

private:
    static OSStatus provideInput(void* refCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*,
                                 UInt32, UInt32 frames, AudioBufferList* data);

    OpenUnit mUnit;
    std::string mError;
    Float64 mSampleTime = 0;
    std::vector<float> mSignal[2];
    std::vector<float> mOut[2];
};

} // namespace vxbench
