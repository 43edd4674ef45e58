// The built bundle through either entry, support folders with engines, and a
// host side that feeds the unit's input and renders its output.
#pragma once

#include "AlertRecorder.h"
#include "ProbeEngine.h"
#include "UnitHost.h"

#include <AudioUnit/AudioUnit.h>
#include <CoreFoundation/CoreFoundation.h>
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace plugtest {

namespace fs = std::filesystem;
using unithost::AlertRecorder;
using unithost::Entry;
using unithost::setFormats;

fs::path testHome(); // the HOME the program gives itself before the bundle loads

#define VX_BOTH_ENTRIES(Suite)                                                                     \
    INSTANTIATE_TEST_SUITE_P(                                                                      \
        BothEntries, Suite, ::testing::Values(Entry::Factory, Entry::ComponentManager),            \
        [](const auto& info) { return std::string(unithost::entryName(info.param)); })

// A support folder in effect for the object's life; modules go in as the
// first-generation build, which every accepted processor falls back to.
struct SupportFolder {
    fs::path root;
    SupportFolder();
    ~SupportFolder();
    fs::path dataFolder() const { return root / "Delay"; }
    fs::path install(const fs::path& module);
};

class Unit {
public:
    explicit Unit(Entry entry)
        : mUnit(unithost::openAsConfigured(unithost::Component::Plugin, entry, &mOpenStatus)) {}
    ~Unit() { close(); }
    OSStatus openStatus() const { return mOpenStatus; }
    operator AudioUnit() const { return mUnit; }
    OSStatus close() { return unithost::close(std::exchange(mUnit, nullptr)); }

private:
    OSStatus mOpenStatus = -1;
    AudioUnit mUnit = nullptr;
};

template <typename T>
OSStatus getProperty(AudioUnit unit, AudioUnitPropertyID id, T& value,
                     AudioUnitScope scope = kAudioUnitScope_Global, AudioUnitElement element = 0) {
    UInt32 size = sizeof(T);
    return AudioUnitGetProperty(unit, id, scope, element, &value, &size);
}
template <typename T>
OSStatus setProperty(AudioUnit unit, AudioUnitPropertyID id, const T& value,
                     AudioUnitScope scope = kAudioUnitScope_Global) {
    return AudioUnitSetProperty(unit, id, scope, 0, &value, sizeof(T));
}
inline OSStatus setFormat(AudioUnit unit, AudioUnitScope scope, Float64 rate, UInt32 channels) {
    return setProperty(unit, kAudioUnitProperty_StreamFormat, unithost::floatFormat(rate, channels),
                       scope);
}

// The host's side of the unit's input: the signal fed to every channel.
struct InputSource {
    OSStatus attach(AudioUnit unit) {
        return setProperty(unit, kAudioUnitProperty_SetRenderCallback,
                           AURenderCallbackStruct{Render, this}, kAudioUnitScope_Input);
    }
    static OSStatus Render(void* refCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32,
                           UInt32 frames, AudioBufferList* data);

    std::vector<float> signal; // sample n of the stream, 0 beyond its end
    size_t position = 0;       // next sample to deliver
    int calls = 0;
    OSStatus answer = noErr; // what the callback answers
};

// The host's clock as its callbacks report it (musical time stays null).
struct HostClock {
    Float64 tempo, sample;
    Boolean playing;
    OSStatus answer;

    static OSStatus BeatAndTempo(void* user, Float64* beat, Float64* tempo) {
        EXPECT_EQ(beat, nullptr) << "only the tempo is asked for";
        *tempo = static_cast<HostClock*>(user)->tempo;
        return static_cast<HostClock*>(user)->answer;
    }
    static OSStatus Transport(void* user, Boolean* playing, Boolean* changed, Float64* sample,
                              Boolean* cycling, Float64* cycleStart, Float64* cycleEnd) {
        EXPECT_TRUE(!changed && !cycling && !cycleStart && !cycleEnd)
            << "only playing and position are asked for";
        *playing = static_cast<HostClock*>(user)->playing;
        *sample = static_cast<HostClock*>(user)->sample;
        return static_cast<HostClock*>(user)->answer;
    }
};

OSStatus renderStereo(AudioUnit unit, Float64 sampleTime, UInt32 frames, float* left, float* right);

// An instance with the probe engine, opened by the test first to reach its
// control record, its input fed and its output rendered into host planes.
class ProbeUnit : public ::testing::TestWithParam<Entry> {
protected:
    static constexpr UInt32 kFrames = 256;
    SupportFolder support;
    void* module = dlopen(support.install(VX_PROBE_ENGINE).c_str(), RTLD_NOW | RTLD_LOCAL);
    ProbeControl& control = *reinterpret_cast<VxProbeControlFn>(dlsym(module, "vxProbeControl"))();
    Unit unit{GetParam()};
    InputSource input;
    std::vector<float> left = std::vector<float>(kFrames, -7.0f), right = left;
    Float64 sampleTime = 0;

    ~ProbeUnit() override { dlclose(module); }
    ProbeControl& engine() { return control; }
    IAudioHostLink& link() { return *engine().link; }
    void SetUp() override {
        ASSERT_EQ(unit.openStatus(), noErr);
        ASSERT_NE(engine().link, nullptr) << "the engine was given its host link";
    }
    void start() {
        ASSERT_EQ(AudioUnitInitialize(unit), noErr);
        ASSERT_EQ(input.attach(unit), noErr);
    }
    // One processing call; answers the host facts the engine read in it.
    const ProbeFacts& render() {
        const int before = engine().processCalls;
        EXPECT_EQ(renderStereo(unit, sampleTime, kFrames, left.data(), right.data()), noErr);
        sampleTime += kFrames;
        EXPECT_EQ(engine().processCalls, before + 1);
        return engine().lastFacts;
    }
};

} // namespace plugtest
