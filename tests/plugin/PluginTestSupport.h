// What the plug-in tests share: the built bundle opened through either entry
// point, temporary support folders with engine modules installed, recorded
// alerts, property helpers, and a host side that feeds the unit's input and
// renders its output.
#pragma once

#include "AlertRecorder.h"
#include "ProbeEngine.h"
#include "UnitHost.h"

#include <AudioUnit/AudioUnit.h>
#include <CoreFoundation/CoreFoundation.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace plugtest {

namespace fs = std::filesystem;

// The home the test program gives itself (HOME), made before the bundle can
// be loaded.
fs::path testHome();

using unithost::AlertRecorder;
using unithost::Entry;
// The suite once through each entry point of the bundle.
#define VX_BOTH_ENTRIES(Suite)                                                                     \
    INSTANTIATE_TEST_SUITE_P(                                                                      \
        BothEntries, Suite, ::testing::Values(Entry::Factory, Entry::ComponentManager),            \
        [](const auto& info) { return std::string(unithost::entryName(info.param)); })

inline fs::path builtBundle() {
    return VX_BUNDLE_DIR;
}
inline fs::path referenceEngine() {
    return fs::path(VX_ENGINE_DIR) / "audplg.dylib";
}
inline fs::path testEngine(const std::string& stem) {
    return fs::path(VX_TEST_ENGINE_DIR) / (stem + ".dylib");
}

// A support folder of the test's own, in effect (VEXTRA_SUPPORT_FOLDER) for
// the object's life. Modules are installed as the first-generation build,
// which every processor the plug-in accepts falls back to, so the file the
// plug-in loads is known.
class SupportFolder {
public:
    SupportFolder();
    ~SupportFolder();
    SupportFolder(const SupportFolder&) = delete;
    SupportFolder& operator=(const SupportFolder&) = delete;

    const fs::path& root() const { return mRoot; }
    fs::path dataFolder() const { return mRoot / "Delay"; }
    // Copies the module into the data folder; returns its installed path.
    fs::path install(const fs::path& module);

private:
    fs::path mRoot;
};

// The probe engine installed in a support folder and opened by the test
// before the plug-in opens it, so the test reaches its control record and
// the image outlives the plug-in's close.
class ProbeModule {
public:
    explicit ProbeModule(SupportFolder& folder);
    ~ProbeModule();
    ProbeModule(const ProbeModule&) = delete;
    ProbeModule& operator=(const ProbeModule&) = delete;
    ProbeControl& control() { return *mControl; }

private:
    void* mHandle = nullptr;
    ProbeControl* mControl = nullptr;
};

// One open instance of the built bundle, disposed with the object.
class Unit {
public:
    explicit Unit(Entry entry)
        : mUnit(unithost::openAsConfigured(unithost::Component::Plugin, entry, &mOpenStatus)) {}
    ~Unit() { close(); }
    Unit(const Unit&) = delete;
    Unit& operator=(const Unit&) = delete;

    OSStatus openStatus() const { return mOpenStatus; }
    AudioUnit get() const { return mUnit; }
    operator AudioUnit() const { return mUnit; }
    // Disposes now; answers the dispose status.
    OSStatus close();

private:
    OSStatus mOpenStatus = -1;
    AudioUnit mUnit = nullptr;
};

template <typename T>
OSStatus getProperty(AudioUnit unit, AudioUnitPropertyID id, AudioUnitScope scope,
                     AudioUnitElement element, T& value) {
    UInt32 size = sizeof(T);
    return AudioUnitGetProperty(unit, id, scope, element, &value, &size);
}

template <typename T>
OSStatus setProperty(AudioUnit unit, AudioUnitPropertyID id, AudioUnitScope scope,
                     AudioUnitElement element, const T& value) {
    return AudioUnitSetProperty(unit, id, scope, element, &value, sizeof(T));
}

// Deinterleaved 32-bit float at the rate with the channel count.
OSStatus setFormat(AudioUnit unit, AudioUnitScope scope, Float64 rate, UInt32 channels);

// The host's side of the unit's input: a signal fed to every channel,
// either copied into the unit's buffers or, with ownPointers, handed over in
// the host's own planes.
class InputSource {
public:
    static constexpr UInt32 kMaxFrames = 8192;

    explicit InputSource(bool ownPointers = false);
    // Installs the render callback on input element 0.
    OSStatus attach(AudioUnit unit);

    std::vector<float> signal; // sample n of the stream, 0 beyond its end
    size_t position = 0;       // next sample to deliver
    int calls = 0;
    float* plane(UInt32 channel) { return mPlanes[channel].data(); }

private:
    static OSStatus Render(void* refCon, AudioUnitRenderActionFlags* flags,
                           const AudioTimeStamp* time, UInt32 bus, UInt32 frames,
                           AudioBufferList* data);
    bool mOwnPointers;
    std::vector<float> mPlanes[2];
};

// Renders frames into the two output planes (the host's memory) at the
// sample time.
OSStatus renderStereo(AudioUnit unit, Float64 sampleTime, UInt32 frames, float* left, float* right);

// One instance through the entry of the test's parameter with the probe
// engine, its input fed from the host and its output rendered into the
// host's planes.
class ProbeUnit : public ::testing::TestWithParam<Entry> {
protected:
    static constexpr UInt32 kFrames = 256;
    SupportFolder support;
    ProbeModule probe{support};
    Unit unit{GetParam()};
    InputSource input;
    std::vector<float> left = std::vector<float>(kFrames, -7.0f), right = left;
    Float64 sampleTime = 0;

    ProbeControl& engine() { return probe.control(); }
    IAudioHostLink& link() { return *engine().link; }
    void SetUp() override {
        ASSERT_EQ(unit.openStatus(), noErr);
        ASSERT_NE(engine().link, nullptr) << "the engine was given its host link";
    }
    // One processing call at the running sample time; answers the host facts
    // the engine read inside it.
    const ProbeFacts& render() {
        const int before = engine().processCalls;
        EXPECT_EQ(renderStereo(unit, sampleTime, kFrames, left.data(), right.data()), noErr);
        sampleTime += kFrames;
        EXPECT_EQ(engine().processCalls, before + 1);
        return engine().lastFacts;
    }
};

} // namespace plugtest
