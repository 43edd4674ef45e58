// A host for the reliability tests and the fuzz targets: opens the built
// plug-in bundle or the framework's test unit through the platform's host
// runtime, either entry point, with the reference engine installed in a
// support folder of the process's own; sets stereo float formats; feeds
// the input from a callback and renders into host buffers.
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
// accepted processor can load) in a support folder of this process and puts
// it in effect through VEXTRA_SUPPORT_FOLDER. Idempotent; the folder is
// removed at exit. Call before the first open of the plug-in.
void prepareSupportFolder();
const std::string& supportFolder();

// Loads both bundles and the installed engine for good, so that closing
// instances never unmaps their code. For coverage-guided fuzzing, whose
// counters live in those modules; the stress tests leave loading and
// unloading to the components.
void pinModules();

// Opens an instance; null with the status in *outStatus when it fails.
AudioUnit open(Component c, Entry e, OSStatus* outStatus = nullptr);
// The same, with the support folder left as the caller put it in effect.
AudioUnit openAsConfigured(Component c, Entry e, OSStatus* outStatus = nullptr);
OSStatus close(AudioUnit unit);

// Deinterleaved 32-bit float.
AudioStreamBasicDescription floatFormat(Float64 rate, UInt32 channels);
// Input and output formats at the rate; the output always stereo.
OSStatus setFormats(AudioUnit unit, Float64 rate, UInt32 inputChannels);

// The host side of one unit's audio: an input callback that delivers a
// fixed test signal (or a constant) and stereo output planes in host memory.
class Rig {
public:
    static constexpr UInt32 kMaxFrames = 4096;

    Rig();
    // Installs the input callback on input element 0.
    OSStatus attach(AudioUnit unit);
    AURenderCallbackStruct callback() { return {input, this}; }
    // Renders frames (at most kMaxFrames) at the running sample time.
    OSStatus render(AudioUnit unit, UInt32 frames);
    // True when every output sample of the last render is finite.
    bool outputFinite(UInt32 frames) const;

    float inputLevel = 0.25f; // sine amplitude fed to the input
    OSStatus inputAnswer = 0; // what the input callback answers
    Float64 sampleTime = 0;

private:
    static OSStatus input(void* ref, AudioUnitRenderActionFlags* flags, const AudioTimeStamp* ts,
                          UInt32 bus, UInt32 frames, AudioBufferList* data);
    std::vector<float> mOut[2];
    std::vector<float> mIn[2];
    std::vector<unsigned char> mList; // room for a two-buffer list
    UInt64 mPhase = 0;
};

} // namespace unithost
