// A host for the reliability tests and the fuzz targets: opens the built
// plug-in bundle or the framework's test unit through either entry point of
// the platform's host runtime, with the reference engine installed in a
// support folder of the process's own, and feeds and renders stereo float.
#pragma once

#include <AudioUnit/AudioUnit.h>
#include <CoreFoundation/CoreFoundation.h>

#include <string>
#include <vector>

namespace unithost {

enum class Component { TestUnit, Plugin };
enum class Entry { Factory, ComponentManager };

const char* componentName(Component c);
const char* entryName(Entry e);

// Installs the reference engine (first-generation build, which every
// accepted processor loads) in a support folder of this process, removed at
// exit, and puts it in effect through VEXTRA_SUPPORT_FOLDER. Idempotent.
void prepareSupportFolder();
const std::string& supportFolder();

// Loads both bundles and the engine for good, so that closing instances never
// unmaps the modules where a coverage-guided fuzzer keeps its counters.
void pinModules();

// Opens an instance; null with the status in *outStatus when it fails. The
// plug-in is opened with the support folder prepared, unless AsConfigured.
AudioUnit open(Component c, Entry e, OSStatus* outStatus = nullptr);
AudioUnit openAsConfigured(Component c, Entry e, OSStatus* outStatus = nullptr);
OSStatus close(AudioUnit unit);

// Deinterleaved 32-bit float.
AudioStreamBasicDescription floatFormat(Float64 rate, UInt32 channels);
// Input and output formats at the rate; the output always stereo.
OSStatus setFormats(AudioUnit unit, Float64 rate, UInt32 inputChannels);

// One unit's audio: an input callback on element 0 that delivers a sine (or
// answers inputAnswer) and stereo output planes in host memory.
class Rig {
public:
    static constexpr UInt32 kMaxFrames = 4096;

    OSStatus attach(AudioUnit unit);
    AURenderCallbackStruct callback() { return {input, this}; }
    // Renders frames (at most kMaxFrames) at the running sample time.
    OSStatus render(AudioUnit unit, UInt32 frames);
    // True when every output sample of the last render is finite.
    bool outputFinite(UInt32 frames) const;

    OSStatus inputAnswer = 0; // what the input callback answers

private:
    static OSStatus input(void* ref, AudioUnitRenderActionFlags* flags, const AudioTimeStamp* ts,
                          UInt32 bus, UInt32 frames, AudioBufferList* data);
    std::vector<float> mOut[2] = {std::vector<float>(kMaxFrames), std::vector<float>(kMaxFrames)};
    std::vector<float> mIn[2] = {std::vector<float>(kMaxFrames), std::vector<float>(kMaxFrames)};
    Float64 mSampleTime = 0;
    UInt64 mPhase = 0;
};

} // namespace unithost
