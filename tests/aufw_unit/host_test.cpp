// The TestUnit.component bundle opened through the platform's host runtime,
// either way a host can: its factory registered with AudioComponentRegister
// and opened with AudioComponentInstanceNew, or its Component Manager entry
// opened with the runtime's own call. Renders on both, and a sweep of bad
// property requests that must answer alike on both.
#include "test_unit.h"

#include <AudioUnit/AudioUnit.h>
#include <CoreFoundation/CoreFoundation.h>
#include <VextraHost/VXHostRuntime.h>
#include <rtcheck/rtcheck.h>

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using namespace testunit;

namespace {

constexpr AudioUnitScope kGlob = kAudioUnitScope_Global;

enum class Path { Factory, Manager };

// The bundle's binary, loaded as the runtime loads it: its log is the one the
// instances write.
template <typename F> F function(const char* name) {
    static void* module = dlopen(TEST_UNIT_BUNDLE "/Contents/MacOS/TestUnit", RTLD_NOW);
    return reinterpret_cast<F>(dlsym(module, name));
}

Log& unitLog() {
    return *function<GetLogFn>("VXTestUnitGetLog")();
}

// A new instance opened the given way, the factory registered as a host that
// registers components itself does; null (and a test failure) when it fails.
AudioUnit openUnit(Path path) {
    static const AudioComponentDescription d{kAudioUnitType_Effect, 0x56785455 /* 'VxTU' */,
                                             0x56785473 /* 'VxTs' */, 0, 0};
    static AudioComponent component =
        AudioComponentRegister(&d, CFSTR("Vextra Test: Test Unit"), 0x00020103,
                               function<AudioComponentFactoryFunction>("VXTestUnitFactory"));
    AudioUnit unit = nullptr;
    const OSStatus status =
        path == Path::Manager
            ? VXHostOpenComponentManagerInstance(TEST_UNIT_BUNDLE, "VXTestUnitEntry", &unit)
            : AudioComponentInstanceNew(component, &unit);
    EXPECT_EQ(status, 0) << "opening through the "
                         << (path == Path::Factory ? "factory" : "manager");
    return status == 0 ? unit : nullptr;
}

template <typename T> T property(AudioUnit unit, AudioUnitPropertyID id) {
    T value{};
    UInt32 size = sizeof(T);
    EXPECT_EQ(AudioUnitGetProperty(unit, id, kGlob, 0, &value, &size), 0) << id;
    return value;
}

// The input every render pulls: sample n of the cycle starting at sample
// time t is (t + n + 1) / 4096 on channel 0 and its negative on channel 1.
float inputSample(Float64 sampleTime, UInt32 n, UInt32 channel) {
    const float v = static_cast<float>((sampleTime + n + 1) / 4096.0);
    return channel == 0 ? v : -v;
}
OSStatus input(void*, AudioUnitRenderActionFlags*, const AudioTimeStamp* ts, UInt32, UInt32 frames,
               AudioBufferList* data) {
    for (UInt32 c = 0; c < data->mNumberBuffers && c < 2; ++c) {
        for (UInt32 n = 0; n < frames; ++n) {
            static_cast<float*>(data->mBuffers[c].mData)[n] = inputSample(ts->mSampleTime, n, c);
        }
    }
    return 0;
}

// A unit opened one way, fed by the input callback and initialized, with two
// non-interleaved output channels of 1157 frames.
class HostRender : public ::testing::TestWithParam<Path> {
protected:
    void SetUp() override {
        function<ResetLogFn>("VXTestUnitResetLog")();
        unit = openUnit(GetParam());
        ASSERT_NE(unit, nullptr);
        const AURenderCallbackStruct callback{input, nullptr};
        ASSERT_EQ(AudioUnitSetProperty(unit, kAudioUnitProperty_SetRenderCallback,
                                       kAudioUnitScope_Input, 0, &callback, sizeof callback),
                  0);
        ASSERT_EQ(AudioUnitInitialize(unit), 0);
    }
    void TearDown() override {
        if (unit != nullptr) {
            EXPECT_EQ(AudioComponentInstanceDispose(unit), 0);
        }
        EXPECT_EQ(unitLog().live, 0);
    }
    OSStatus render(Float64 sampleTime, UInt32 frames, UInt32 bus = 0,
                    AudioUnitRenderActionFlags* flags = nullptr) {
        AudioTimeStamp ts{};
        ts.mSampleTime = sampleTime;
        ts.mFlags = kAudioTimeStampSampleTimeValid;
        auto* list = reinterpret_cast<AudioBufferList*>(listBytes);
        list->mNumberBuffers = 2;
        for (UInt32 c = 0; c < 2; ++c) {
            list->mBuffers[c] = {1, static_cast<UInt32>(frames * sizeof(float)), out[c]};
        }
        return AudioUnitRender(unit, flags, &ts, bus, frames, list);
    }

    AudioUnit unit = nullptr;
    float out[2][1157] = {};
    alignas(AudioBufferList) unsigned char listBytes[sizeof(AudioBufferList) + sizeof(AudioBuffer)];
};

// Values that hold references (handed out retained, or differing between
// instances): their bytes are not compared, only their sizes and statuses.
const std::set<AudioUnitPropertyID> kReferenceValues = {0, 4, 5, 16, 24, 25, 30, 34, 35, 36, 39};

// A whole read of these hands the caller a reference of its own, kept at
// this offset of the value.
const std::map<AudioUnitPropertyID, size_t> kHandedOut = {
    {kAudioUnitProperty_ClassInfo, 0},
    {kAudioUnitProperty_ParameterValueStrings, 0},
    {kAudioUnitProperty_FactoryPresets, 0},
    {kAudioUnitProperty_ContextName, 0},
    {kAudioUnitProperty_ElementName, 0},
    {kAudioUnitProperty_IconLocation, 0},
    {kAudioUnitProperty_PresentPreset, offsetof(AUPreset, presetName)},
    {kAudioUnitProperty_ParameterIDName, offsetof(AudioUnitParameterNameInfo, outName)},
    {kAudioUnitProperty_ParameterClumpName, offsetof(AudioUnitParameterNameInfo, outName)}};

// Asks a unit for one property, and sets and removes it, with short, exact
// and long buffers; writes the statuses, sizes and value bytes to `out`,
// checking that every request answers a status and never writes past the
// caller's buffer. Counts the reads and writes that succeeded.
void request(AudioUnit u, AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
             std::ostream& out, int counts[2]) {
    constexpr unsigned char kFill = 0xCD;
    constexpr size_t kGuard = 32;
    const std::string where = "id " + std::to_string(id) + " scope " + std::to_string(scope) +
                              " element " + std::to_string(element) + ": ";
    SCOPED_TRACE(where);
    // Information, with and without somewhere to put it, and the size alone.
    UInt32 size = 0xBADBAD, asked = 0xBADBAD;
    Boolean writable = 7;
    const OSStatus status = AudioUnitGetPropertyInfo(u, id, scope, element, &size, &writable);
    EXPECT_EQ(AudioUnitGetPropertyInfo(u, id, scope, element, nullptr, nullptr), status);
    EXPECT_EQ(AudioUnitGetProperty(u, id, scope, element, nullptr, &asked), status);
    const bool known = status == 0;
    EXPECT_TRUE(!known || asked == size);
    out << where << "info " << status << " " << (known ? size : 0) << " "
        << (known ? int(writable) : 0);
    std::vector<UInt32> sizes = {1, 4, 8, 64};
    if (known && size > 1 && size < 4096) {
        sizes = {1, size - 1, size, size + 13};
    }
    for (UInt32 asking : sizes) {
        // Property values are read through typed pointers: memory aligned as a host's would be.
        std::vector<unsigned char> storage(asking + kGuard + 16, kFill);
        unsigned char* buffer = storage.data() + (16 - uintptr_t(storage.data()) % 16) % 16;
        UInt32 io = asking;
        const OSStatus got = AudioUnitGetProperty(u, id, scope, element, buffer, &io);
        EXPECT_EQ(std::count(buffer + asking, buffer + asking + kGuard, kFill), kGuard)
            << "written past the buffer of " << asking;
        out << "; get " << asking << ": " << got << " " << io;
        if (got != 0) {
            EXPECT_TRUE(io == 0 || io == asking) << asking << ": size " << io;
        } else {
            ++counts[0];
            EXPECT_TRUE(known) << "read although its information failed";
            EXPECT_EQ(io, std::min(asking, size)) << asking;
            const auto handedOut = kHandedOut.find(id);
            if (asking >= size && handedOut != kHandedOut.end()) {
                CFTypeRef object = nullptr;
                std::memcpy(&object, buffer + handedOut->second, sizeof object);
                if (object != nullptr) {
                    CFRelease(object);
                }
            }
            for (UInt32 i = 0; i < io && kReferenceValues.count(id) == 0; ++i) {
                out << " " << int(buffer[i]);
            }
        }
        // Zero-filled: null references and procedures, zero counts.
        std::fill(storage.begin(), storage.end(), 0);
        const OSStatus set = AudioUnitSetProperty(u, id, scope, element, buffer, asking);
        counts[1] += set == 0 ? 1 : 0;
        out << "; set " << set;
    }
    // Missing data with a size, and data without one, never reach the unit.
    EXPECT_EQ(AudioUnitSetProperty(u, id, scope, element, nullptr, 4), kAudio_ParamError);
    EXPECT_EQ(AudioUnitSetProperty(u, id, scope, element, &size, 0), kAudio_ParamError);
    out << "; remove " << AudioUnitSetProperty(u, id, scope, element, nullptr, 0) << "\n";
}

} // namespace

TEST_P(HostRender, ProcessesTheInputWithTheParametersAndRefusesTooManyFrames) {
    ASSERT_EQ(AudioUnitSetParameter(unit, kParamGain, kGlob, 0, 0.5f, 0), 0);
    ASSERT_EQ(AudioUnitSetParameter(unit, kParamOffset, kGlob, 0, 0.25f, 0), 0);
    ASSERT_EQ(render(4096, 512), 0);
    for (UInt32 n = 0; n < 512; n += 37) {
        for (UInt32 c = 0; c < 2; ++c) {
            EXPECT_FLOAT_EQ(out[c][n], inputSample(4096, n, c) * 0.5f + 0.25f) << c << " " << n;
        }
    }
    EXPECT_EQ(unitLog().kernelCalls, 1);
    EXPECT_EQ(property<Float64>(unit, 0x6C727374 /* 'lrst' */), 4096.0);
    // The error is recorded until it is read; the largest slice still renders.
    EXPECT_EQ(render(0, 1157), kAudioUnitErr_TooManyFramesToProcess);
    EXPECT_EQ(property<OSStatus>(unit, kAudioUnitProperty_LastRenderError),
              kAudioUnitErr_TooManyFramesToProcess);
    EXPECT_EQ(property<OSStatus>(unit, kAudioUnitProperty_LastRenderError), 0);
    EXPECT_EQ((std::tuple{render(0, 1156), render(2048, 64, 1), unitLog().kernelCalls}),
              (std::tuple{0, kAudioUnitErr_InvalidElement, 2}));
}

TEST_P(HostRender, AThousandHostCyclesAllocateNothingAndLockNothing) {
    if (!rtcheck::countsAllocations()) {
        GTEST_SKIP() << "this build cannot count allocations";
    }
    static int notes = 0;
    notes = 0;
    ASSERT_EQ(AudioUnitAddRenderNotify(
                  unit,
                  [](void*, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32, UInt32,
                     AudioBufferList*) -> OSStatus { return ++notes, noErr; },
                  nullptr),
              0);
    AudioUnitParameterEvent events[2] = {
        {kGlob, 0, kParamGain, kParameterEvent_Immediate, {}},
        {kGlob, 0, kParamOffset, kParameterEvent_Ramped, {{32, 64, 0.0f, 0.5f}}}};
    events[0].eventValues.immediate.value = 0.5f;
    Float64 sampleTime = 0;
    const auto cycle = [&] {
        AudioUnitRenderActionFlags flags = 0;
        ASSERT_EQ(AudioUnitScheduleParameters(unit, events, 2), 0);
        ASSERT_EQ(render(sampleTime, 256, 0, &flags), 0);
        sampleTime += 256;
    };
    for (int i = 0; i < 8; ++i) {
        cycle(); // warm-up: the notification is taken in, buffers settle
    }
    const int notesBefore = notes;
    rtcheck::Scope scope;
    for (int i = 0; i < 1000; ++i) {
        cycle();
    }
    const rtcheck::Counts counts = scope.counts();
    EXPECT_EQ((std::tuple{counts.allocations, counts.frees}), (std::tuple{0, 0}));
    EXPECT_EQ(rtcheck::countsLocks() ? counts.locks : 0, 0);
    // The cycles did the work: notified, sliced at the ramp, and processed.
    EXPECT_EQ((std::tuple{notes - notesBefore, unitLog().kernelCalls}),
              (std::tuple{2000, 1008 * 3}));
    EXPECT_FLOAT_EQ(out[0][0], inputSample(sampleTime - 256, 0, 0) * 0.5f);
}

INSTANTIATE_TEST_SUITE_P(BothPaths, HostRender, ::testing::Values(Path::Factory, Path::Manager),
                         [](const auto& info) {
                             return std::string(info.param == Path::Factory ? "Factory"
                                                                            : "Manager");
                         });

// Every property ID from 0 to 70, the private ones and a few unknown ones, on
// every scope and on elements that exist and do not, uninitialized and
// initialized: each request answers alike on both paths.
TEST(HostPaths, EveryPropertyRequestAnswersAndBothPathsAgree) {
    std::vector<AudioUnitPropertyID> ids = {
        0x6C727374u /* 'lrst' */, kRaiseProperty, 0x10000u, 0x1E3638DAu, 1000u, 0xFFFFFFFFu};
    for (AudioUnitPropertyID id = 0; id <= 70; ++id) {
        ids.push_back(id);
    }
    for (bool initialized : {false, true}) {
        std::ostringstream transcripts[2];
        for (Path path : {Path::Factory, Path::Manager}) {
            AudioUnit u = openUnit(path);
            ASSERT_NE(u, nullptr);
            EXPECT_EQ(initialized ? AudioUnitInitialize(u) : 0, 0);
            int counts[2] = {0, 0};
            for (AudioUnitPropertyID id : ids) {
                for (AudioUnitScope scope : {0u, 1u, 2u, 3u, 4u, 9u, 0xFFFFFFFFu}) {
                    for (AudioUnitElement element : {0u, 1u, 0xFFFFFFFFu}) {
                        // Only Component Manager instances hand out fast-dispatch procedures.
                        if (id != kAudioUnitProperty_FastDispatch || scope != kGlob) {
                            request(u, id, scope, element, transcripts[int(path)], counts);
                        }
                    }
                }
            }
            // The sweep reached real values, not only refusals.
            EXPECT_GT(counts[0], 200) << initialized;
            EXPECT_GT(counts[1], 0) << initialized;
            EXPECT_EQ(AudioComponentInstanceDispose(u), 0);
        }
        EXPECT_EQ(transcripts[0].str(), transcripts[1].str()) << initialized;
        EXPECT_EQ(unitLog().live, 0);
    }
}
