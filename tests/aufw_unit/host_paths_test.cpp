// The two ways of opening the test unit through the host runtime compared:
// the same requests give the same answers, the can-do answers agree but for
// the older listener removal, and a Component Manager instance's version and
// fast-dispatch procedures work end to end.

#include "host_support.h"

#include <AudioUnit/AudioUnitProperties.h>
#include <CoreServices/CoreServices.h>
#include <VextraHost/VXHostRuntime.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

using namespace hosttest;
using namespace testunit;

namespace {

constexpr AudioUnitScope kGlob = kAudioUnitScope_Global;

// One answer: the status, and the bytes a request handed back.
struct Answer {
    OSStatus status = 0;
    std::vector<unsigned char> bytes;
    bool operator==(const Answer&) const = default;
};

template <typename T> Answer answer(OSStatus status, const T& value) {
    Answer a{status, std::vector<unsigned char>(sizeof(T))};
    std::memcpy(a.bytes.data(), &value, sizeof(T));
    return a;
}

struct Request {
    std::string name;
    std::function<Answer(AudioUnit)> run;
};

template <typename T>
Request getRequest(std::string name, AudioUnitPropertyID id, AudioUnitScope scope,
                   AudioUnitElement element, UInt32 size = sizeof(T)) {
    return {name, [=](AudioUnit u) {
                T value{};
                UInt32 io = size;
                const OSStatus s = AudioUnitGetProperty(u, id, scope, element, &value, &io);
                Answer a = answer(s, value);
                a.bytes.push_back(static_cast<unsigned char>(io));
                return a;
            }};
}

template <typename T>
Request setRequest(std::string name, AudioUnitPropertyID id, AudioUnitScope scope,
                   AudioUnitElement element, T value, UInt32 size = sizeof(T)) {
    return {name, [=](AudioUnit u) {
                return Answer{AudioUnitSetProperty(u, id, scope, element, &value, size), {}};
            }};
}

Request statusRequest(std::string name, std::function<OSStatus(AudioUnit)> call) {
    return {name, [call](AudioUnit u) { return Answer{call(u), {}}; }};
}

Request renderRequest(std::string name, Float64 sampleTime, UInt32 frames, UInt32 bus = 0) {
    return {name, [=](AudioUnit u) {
                StereoBuffers out(frames > 0 ? frames : 1);
                const AudioTimeStamp ts = timeStamp(sampleTime);
                AudioUnitRenderActionFlags flags = 0;
                Answer a{AudioUnitRender(u, &flags, &ts, bus, frames, out.list()), {}};
                // What came out, as bytes of the first samples of each channel.
                for (int c = 0; c < 2; ++c) {
                    const auto* p = reinterpret_cast<const unsigned char*>(out.channel(c));
                    a.bytes.insert(a.bytes.end(), p, p + std::min<UInt32>(frames, 8) * 4);
                }
                a.bytes.push_back(static_cast<unsigned char>(flags & 0xFF));
                return a;
            }};
}

std::vector<Request> requestList(InputSource& source) {
    const AURenderCallbackStruct callback{InputSource::proc, &source};
    AudioStreamBasicDescription format{};
    format.mSampleRate = 48000;
    format.mFormatID = kAudioFormatLinearPCM;
    format.mFormatFlags = kAudioFormatFlagsNativeFloatPacked | kAudioFormatFlagIsNonInterleaved;
    format.mBytesPerPacket = 4;
    format.mFramesPerPacket = 1;
    format.mBytesPerFrame = 4;
    format.mChannelsPerFrame = 2;
    format.mBitsPerChannel = 32;
    AudioUnitParameterEvent ramp{};
    ramp.parameter = kParamGain;
    ramp.eventType = kParameterEvent_Ramped;
    ramp.eventValues.ramp = {64, 128, 0.5f, 1.0f};
    return {
        getRequest<UInt32>("max frames", kAudioUnitProperty_MaximumFramesPerSlice, 0, 0),
        getRequest<AudioStreamBasicDescription>("output format", kAudioUnitProperty_StreamFormat, 2,
                                                0),
        getRequest<AudioStreamBasicDescription>("global format", kAudioUnitProperty_StreamFormat, 0,
                                                0),
        getRequest<AudioStreamBasicDescription>("short format", kAudioUnitProperty_StreamFormat, 1,
                                                0, 12),
        getRequest<Float64>("rate of a missing element", kAudioUnitProperty_SampleRate, 1, 4),
        getRequest<UInt32>("element count bad scope", kAudioUnitProperty_ElementCount, 9, 0),
        getRequest<AudioUnitParameterID[4]>("parameter list", kAudioUnitProperty_ParameterList, 0,
                                            0),
        getRequest<Float64>("latency", kAudioUnitProperty_Latency, 0, 0),
        getRequest<Float64>("tail", kAudioUnitProperty_TailTime, 0, 0),
        getRequest<UInt32>("bypass", kAudioUnitProperty_BypassEffect, 0, 0),
        getRequest<UInt32>("in place", kAudioUnitProperty_InPlaceProcessing, 0, 0),
        getRequest<UInt32>("should allocate", kAudioUnitProperty_ShouldAllocateBuffer, 2, 0),
        getRequest<AUChannelInfo[4]>("channel table", kAudioUnitProperty_SupportedNumChannels, 0,
                                     0),
        getRequest<UInt64>("unknown", 4242, 0, 0),
        setRequest("format 36 bytes", kAudioUnitProperty_StreamFormat, 1, 0, format, 36),
        setRequest("format 35 bytes", kAudioUnitProperty_StreamFormat, 2, 0, format, 35),
        setRequest("format output", kAudioUnitProperty_StreamFormat, 2, 0, format),
        setRequest("format again", kAudioUnitProperty_StreamFormat, 2, 0, format),
        getRequest<Float64>("rate after", kAudioUnitProperty_SampleRate, 2, 0),
        setRequest("max frames 3 bytes", kAudioUnitProperty_MaximumFramesPerSlice, 0, 0,
                   UInt32{512}, 3),
        setRequest("max frames", kAudioUnitProperty_MaximumFramesPerSlice, 0, 0, UInt32{512}),
        setRequest("element count", kAudioUnitProperty_ElementCount, 1, 0, UInt32{2}),
        setRequest("bypass 2 bytes", kAudioUnitProperty_BypassEffect, 0, 0, UInt32{1}, 2),
        setRequest("render callback", kAudioUnitProperty_SetRenderCallback, 1, 0, callback),
        setRequest("render callback element 1", kAudioUnitProperty_SetRenderCallback, 1, 1,
                   callback),
        statusRequest("remove unknown",
                      [](AudioUnit u) { return AudioUnitSetProperty(u, 4242, 0, 0, nullptr, 0); }),
        statusRequest("set with size 0",
                      [](AudioUnit u) {
                          const UInt64 v = 3;
                          return AudioUnitSetProperty(u, kEchoProperty, 0, 0, &v, 0);
                      }),
        renderRequest("render uninitialized", 0, 64),
        statusRequest("initialize", [](AudioUnit u) { return AudioUnitInitialize(u); }),
        statusRequest("initialize again", [](AudioUnit u) { return AudioUnitInitialize(u); }),
        setRequest("max frames initialized", kAudioUnitProperty_MaximumFramesPerSlice, 0, 0,
                   UInt32{256}),
        setRequest("format initialized", kAudioUnitProperty_StreamFormat, 2, 0, format),
        statusRequest(
            "set gain",
            [](AudioUnit u) { return AudioUnitSetParameter(u, kParamGain, 0, 0, 0.75f, 0); }),
        statusRequest("set unknown parameter scope",
                      [](AudioUnit u) { return AudioUnitSetParameter(u, kParamGain, 7, 0, 1, 0); }),
        {"get gain",
         [](AudioUnit u) {
             AudioUnitParameterValue v = 0;
             return answer(AudioUnitGetParameter(u, kParamGain, 0, 0, &v), v);
         }},
        {"get unknown parameter",
         [](AudioUnit u) {
             AudioUnitParameterValue v = 0;
             return answer(AudioUnitGetParameter(u, 55, 0, 0, &v), v);
         }},
        renderRequest("render", 0, 64),
        renderRequest("render same time", 0, 64),
        renderRequest("render too many frames", 64, 513),
        renderRequest("render missing bus", 64, 64, 3),
        renderRequest("render zero frames", 64, 0),
        getRequest<OSStatus>("last render error", kAudioUnitProperty_LastRenderError, 0, 0),
        getRequest<OSStatus>("last render error again", kAudioUnitProperty_LastRenderError, 0, 0),
        statusRequest("schedule",
                      [ramp](AudioUnit u) { return AudioUnitScheduleParameters(u, &ramp, 1); }),
        renderRequest("render scheduled", 128, 256),
        statusRequest("reset", [](AudioUnit u) { return AudioUnitReset(u, 0, 0); }),
        renderRequest("render after reset", 128, 256),
        statusRequest("add null notify",
                      [](AudioUnit u) { return AudioUnitAddRenderNotify(u, nullptr, nullptr); }),
        statusRequest("remove absent notify",
                      [](AudioUnit u) {
                          return AudioUnitRemoveRenderNotify(
                              u, reinterpret_cast<AURenderCallback>(&InputSource::proc), nullptr);
                      }),
        setRequest("raise in set", kRaiseProperty, 0, 0, UInt32{kRaiseSInt16}),
        getRequest<UInt32>("raise in get", kRaiseProperty, 0, kRaiseCAXException),
        getRequest<UInt32>("private in wrong scope", kEchoProperty, 1, 0),
        statusRequest("uninitialize", [](AudioUnit u) { return AudioUnitUninitialize(u); }),
        renderRequest("render after uninitialize", 512, 64),
    };
}

} // namespace

TEST(HostPaths, TheSameRequestsGetTheSameAnswers) {
    resetUnitLog();
    std::vector<Answer> answers[2];
    for (Path path : {Path::Factory, Path::Manager}) {
        InputSource source;
        AudioUnit unit = openUnit(path);
        ASSERT_NE(unit, nullptr);
        for (const Request& r : requestList(source)) {
            answers[static_cast<int>(path)].push_back(r.run(unit));
        }
        EXPECT_EQ(closeUnit(unit), 0);
    }
    const std::vector<Request> names = [] {
        InputSource unused;
        return requestList(unused);
    }();
    ASSERT_EQ(answers[0].size(), names.size());
    ASSERT_EQ(answers[1].size(), names.size());
    int rendered = 0;
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(answers[0][i].status, answers[1][i].status) << names[i].name;
        EXPECT_TRUE(answers[0][i].bytes == answers[1][i].bytes) << names[i].name;
        if (names[i].name.rfind("render", 0) == 0 && answers[0][i].status == 0) {
            ++rendered;
        }
    }
    // The list did reach the interesting places on both paths.
    EXPECT_GE(rendered, 4);
    EXPECT_EQ(unitLog().live, 0);
}

TEST(HostPaths, CanDoAnswersAgreeForEveryUnitRequest) {
    AudioUnit units[2] = {openUnit(Path::Factory), openUnit(Path::Manager)};
    ASSERT_NE(units[0], nullptr);
    ASSERT_NE(units[1], nullptr);
    // The older listener removal is the factory's alone.
    for (SInt16 s = 1; s < 600; ++s) {
        EXPECT_EQ(AudioComponentInstanceCanDo(units[0], s),
                  AudioComponentInstanceCanDo(units[1], s) ||
                      s == kAudioUnitRemovePropertyListenerSelect)
            << "selector " << s;
    }
    EXPECT_FALSE(AudioComponentInstanceCanDo(units[1], kAudioUnitRemovePropertyListenerSelect));
    EXPECT_TRUE(AudioComponentInstanceCanDo(units[1], kAudioUnitRenderSelect));
    EXPECT_FALSE(AudioComponentInstanceCanDo(units[1], 8));
    EXPECT_FALSE(AudioComponentInstanceCanDo(units[0], 13));
    EXPECT_EQ(closeUnit(units[0]), 0);
    EXPECT_EQ(closeUnit(units[1]), 0);
}

TEST(HostPaths, ManagerVersionAndFastDispatch) {
    AudioUnit unit = openUnit(Path::Manager);
    ASSERT_NE(unit, nullptr);
    Handle storage = GetComponentInstanceStorage(unit);
    ASSERT_NE(storage, nullptr);
    struct {
        UInt8 flags = 0;
        UInt8 paramSize = 0;
        SInt16 what = kComponentVersionSelect;
        UInt32 padding = 0;
        long params[2] = {};
    } block;
    std::memcpy(&block.params[0], &unit, sizeof unit);
    EXPECT_EQ(callEntry(reinterpret_cast<ComponentParameters*>(&block), storage), kVersion);

    UInt32 size = 0;
    Boolean writable = true;
    EXPECT_EQ(AudioUnitGetPropertyInfo(unit, kAudioUnitProperty_FastDispatch, kGlob,
                                       kAudioUnitRenderSelect, &size, &writable),
              0);
    EXPECT_EQ(size, sizeof(void*));
    EXPECT_FALSE(writable);
    AudioUnitRenderProc render = nullptr;
    ASSERT_EQ(
        getProperty(unit, kAudioUnitProperty_FastDispatch, kGlob, kAudioUnitRenderSelect, render),
        0);
    AudioUnitSetParameterProc setParam = nullptr;
    ASSERT_EQ(getProperty(unit, kAudioUnitProperty_FastDispatch, kGlob,
                          kAudioUnitSetParameterSelect, setParam),
              0);
    ASSERT_NE(render, nullptr);
    ASSERT_NE(setParam, nullptr);
    InputSource source;
    prepareToRender(unit, source);
    EXPECT_EQ(setParam(storage, kParamGain, kGlob, 0, 2.0f, 0), 0);
    StereoBuffers out(32);
    const AudioTimeStamp ts = timeStamp(0);
    ASSERT_EQ(render(storage, nullptr, &ts, 0, 32, out.list()), 0);
    EXPECT_FLOAT_EQ(out.channel(0)[31], InputSource::sample(0, 31, 0) * 2.0f);
    EXPECT_EQ(closeUnit(unit), 0);

    // A factory instance has no fast dispatch.
    unit = openUnit(Path::Factory);
    ASSERT_NE(unit, nullptr);
    EXPECT_EQ(
        getProperty(unit, kAudioUnitProperty_FastDispatch, kGlob, kAudioUnitRenderSelect, render),
        kAudioUnitErr_InvalidProperty);
    EXPECT_EQ(AudioUnitGetPropertyInfo(unit, kAudioUnitProperty_FastDispatch, kGlob,
                                       kAudioUnitRenderSelect, &size, &writable),
              kAudioUnitErr_InvalidProperty);
    EXPECT_EQ(closeUnit(unit), 0);
}
