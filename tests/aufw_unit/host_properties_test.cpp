// Property requests made the way a host makes them, through the platform's
// Audio Unit calls, on the test unit opened either way.

#include "host_support.h"

#include <AudioUnit/AudioUnitProperties.h>

#include <gtest/gtest.h>

#include <cstring>

using namespace hosttest;
using namespace testunit;

namespace {

class HostProperties : public ::testing::TestWithParam<Path> {
protected:
    void SetUp() override {
        resetUnitLog();
        unit = openUnit(GetParam());
        ASSERT_NE(unit, nullptr);
    }
    void TearDown() override {
        if (unit != nullptr) {
            EXPECT_EQ(closeUnit(unit), 0);
        }
        EXPECT_EQ(unitLog().live, 0);
    }
    AudioUnit unit = nullptr;
};

constexpr AudioUnitScope kIn = kAudioUnitScope_Input;
constexpr AudioUnitScope kOut = kAudioUnitScope_Output;
constexpr AudioUnitScope kGlob = kAudioUnitScope_Global;
constexpr AudioUnitPropertyID kFormat = kAudioUnitProperty_StreamFormat;
constexpr AudioUnitPropertyID kLastRenderedSampleTime = 0x6C727374; // 'lrst'

} // namespace

TEST_P(HostProperties, AFreshUnitAnswersItsDefaults) {
    UInt32 maxFrames = 0;
    EXPECT_EQ(getProperty(unit, kAudioUnitProperty_MaximumFramesPerSlice, kGlob, 0, maxFrames), 0);
    EXPECT_EQ(maxFrames, 1156u);

    AUPreset preset{};
    ASSERT_EQ(getProperty(unit, kAudioUnitProperty_PresentPreset, kGlob, 0, preset), 0);
    EXPECT_EQ(preset.presetNumber, -1);
    ASSERT_NE(preset.presetName, nullptr);
    EXPECT_EQ(CFStringCompare(preset.presetName, CFSTR("Untitled"), 0), kCFCompareEqualTo);
    CFRelease(preset.presetName);

    OSStatus lastError = 1;
    EXPECT_EQ(getProperty(unit, kAudioUnitProperty_LastRenderError, kGlob, 0, lastError), 0);
    EXPECT_EQ(lastError, 0);

    Float64 sampleTime = 0;
    EXPECT_EQ(getProperty(unit, kLastRenderedSampleTime, kGlob, 0, sampleTime), 0);
    EXPECT_EQ(sampleTime, -1.0);

    AudioStreamBasicDescription format{};
    ASSERT_EQ(getProperty(unit, kFormat, kOut, 0, format), 0);
    EXPECT_EQ(format.mSampleRate, 44100.0);
    EXPECT_EQ(format.mChannelsPerFrame, 2u);
    EXPECT_EQ(format.mBitsPerChannel, 32u);

    UInt32 count = 0;
    EXPECT_EQ(getProperty(unit, kAudioUnitProperty_ElementCount, kIn, 0, count), 0);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(getProperty(unit, kAudioUnitProperty_ElementCount, kAudioUnitScope_Group, 0, count),
              0);
    EXPECT_EQ(count, 0u);

    AudioUnitParameterID ids[4] = {99, 99, 99, 99};
    UInt32 size = sizeof ids;
    EXPECT_EQ(AudioUnitGetProperty(unit, kAudioUnitProperty_ParameterList, kGlob, 0, ids, &size),
              0);
    ASSERT_EQ(size, 2 * sizeof(AudioUnitParameterID));
    EXPECT_EQ(ids[0], kParamGain);
    EXPECT_EQ(ids[1], kParamOffset);
    EXPECT_EQ(ids[2], 99u);

    AudioUnitParameterInfo info{};
    EXPECT_EQ(getProperty(unit, kAudioUnitProperty_ParameterInfo, kGlob, kParamGain, info), 0);
    EXPECT_STREQ(info.name, "Gain");
    EXPECT_EQ(info.maxValue, 2.0f);

    // No context name yet; removing none is still fine.
    CFStringRef name = nullptr;
    EXPECT_EQ(getProperty(unit, kAudioUnitProperty_ContextName, kGlob, 0, name),
              kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(AudioUnitSetProperty(unit, kAudioUnitProperty_ContextName, kGlob, 0, nullptr, 0), 0);

    // The unit's private properties.
    UInt64 echo = 0;
    EXPECT_EQ(getProperty(unit, kEchoProperty, kGlob, 0, echo), 0);
    EXPECT_EQ(echo, kEchoInitial);
}

TEST_P(HostProperties, StreamFormatSizeRulesAndUnchangedFormats) {
    ListenerCount heard;
    ASSERT_EQ(AudioUnitAddPropertyListener(unit, kFormat, ListenerCount::proc, &heard), 0);
    AudioStreamBasicDescription format{};
    ASSERT_EQ(getProperty(unit, kFormat, kOut, 0, format), 0);

    // The same format again: accepted, and nobody is told.
    EXPECT_EQ(setProperty(unit, kFormat, kOut, 0, format), 0);
    EXPECT_EQ(heard.calls, 0);

    // 36 bytes are enough (the reserved last word reads as 0).
    AudioStreamBasicDescription changed = format;
    changed.mSampleRate = 48000.0;
    changed.mReserved = 0xDEAD;
    EXPECT_EQ(setProperty(unit, kFormat, kOut, 0, changed, 36), 0);
    EXPECT_EQ(heard.calls, 1);
    AudioStreamBasicDescription back{};
    ASSERT_EQ(getProperty(unit, kFormat, kOut, 0, back), 0);
    EXPECT_EQ(back.mSampleRate, 48000.0);
    EXPECT_EQ(back.mReserved, 0u);
    Float64 rate = 0;
    EXPECT_EQ(getProperty(unit, kAudioUnitProperty_SampleRate, kOut, 0, rate), 0);
    EXPECT_EQ(rate, 48000.0);

    // 35 bytes are not.
    changed.mSampleRate = 96000.0;
    EXPECT_EQ(setProperty(unit, kFormat, kOut, 0, changed, 35), kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(heard.calls, 1);
    // A format the unit cannot take.
    changed.mBitsPerChannel = 16;
    EXPECT_EQ(setProperty(unit, kFormat, kOut, 0, changed), kAudioUnitErr_FormatNotSupported);
    ASSERT_EQ(getProperty(unit, kFormat, kOut, 0, back), 0);
    EXPECT_EQ(back.mSampleRate, 48000.0);
    EXPECT_EQ(back.mBitsPerChannel, 32u);
}

TEST_P(HostProperties, HostCallbacksPartlySetAreZeroFilled) {
    const auto setCallbacks = [&](AudioUnitScope scope, const void* data, UInt32 size) {
        return AudioUnitSetProperty(unit, kAudioUnitProperty_HostCallbacks, scope, 0, data, size);
    };
    ListenerCount heard;
    ASSERT_EQ(AudioUnitAddPropertyListener(unit, kAudioUnitProperty_HostCallbacks,
                                           ListenerCount::proc, &heard),
              0);
    unsigned char full[40];
    std::memset(full, 0xA5, sizeof full);
    ASSERT_EQ(setCallbacks(kGlob, full, sizeof full), 0);
    EXPECT_EQ(heard.calls, 1);

    unsigned char part[16];
    for (int i = 0; i < 16; ++i) {
        part[i] = static_cast<unsigned char>(i + 1);
    }
    ASSERT_EQ(setCallbacks(kGlob, part, sizeof part), 0);
    EXPECT_EQ(heard.calls, 2);
    unsigned char back[40];
    std::memset(back, 0xEE, sizeof back);
    UInt32 size = sizeof back;
    ASSERT_EQ(AudioUnitGetProperty(unit, kAudioUnitProperty_HostCallbacks, kGlob, 0, back, &size),
              0);
    EXPECT_EQ(size, 40u);
    EXPECT_EQ(std::memcmp(back, part, 16), 0);
    for (int i = 16; i < 40; ++i) {
        EXPECT_EQ(back[i], 0) << "byte " << i;
    }
    // The same bytes again change nothing and tell nobody.
    EXPECT_EQ(setCallbacks(kGlob, part, sizeof part), 0);
    EXPECT_EQ(heard.calls, 2);
    // Only the Global scope has them.
    EXPECT_EQ(setCallbacks(kIn, part, sizeof part), kAudioUnitErr_InvalidScope);
    // Removing clears them once.
    EXPECT_EQ(setCallbacks(kGlob, nullptr, 0), 0);
    EXPECT_EQ(heard.calls, 3);
    EXPECT_EQ(setCallbacks(kGlob, nullptr, 0), 0);
    EXPECT_EQ(heard.calls, 3);
}

TEST_P(HostProperties, WhatIsRefusedWhileInitializedAndWhileNot) {
    alignas(16) static float external[2048];
    AudioUnitExternalBuffer buffer{};
    buffer.buffer = reinterpret_cast<Byte*>(external);
    buffer.size = sizeof external;
    EXPECT_EQ(setProperty(unit, kAudioUnitProperty_SetExternalBuffer, kOut, 0, buffer),
              kAudioUnitErr_Uninitialized);
    const UInt32 one = 1;
    // This unit's element counts are fixed.
    EXPECT_EQ(setProperty(unit, kAudioUnitProperty_ElementCount, kIn, 0, one),
              kAudioUnitErr_PropertyNotWritable);
    UInt32 frames = 512;
    EXPECT_EQ(setProperty(unit, kAudioUnitProperty_MaximumFramesPerSlice, kGlob, 0, frames), 0);
    EXPECT_EQ(setProperty(unit, kAudioUnitProperty_ShouldAllocateBuffer, kOut, 0, one), 0);

    ASSERT_EQ(AudioUnitInitialize(unit), 0);
    EXPECT_EQ(AudioUnitInitialize(unit), 0); // again: nothing to do
    frames = 1024;
    EXPECT_EQ(setProperty(unit, kAudioUnitProperty_MaximumFramesPerSlice, kGlob, 0, frames),
              kAudioUnitErr_Initialized);
    EXPECT_EQ(setProperty(unit, kAudioUnitProperty_ShouldAllocateBuffer, kOut, 0, one),
              kAudioUnitErr_Initialized);
    EXPECT_EQ(setProperty(unit, kAudioUnitProperty_SetExternalBuffer, kOut, 0, buffer), 0);
    AudioStreamBasicDescription format{};
    ASSERT_EQ(getProperty(unit, kFormat, kOut, 0, format), 0);
    format.mSampleRate = 22050;
    EXPECT_EQ(setProperty(unit, kFormat, kOut, 0, format), kAudioUnitErr_PropertyNotWritable);
    Boolean writable = true;
    UInt32 size = 0;
    EXPECT_EQ(AudioUnitGetPropertyInfo(unit, kFormat, kOut, 0, &size, &writable), 0);
    EXPECT_FALSE(writable);

    ASSERT_EQ(AudioUnitUninitialize(unit), 0);
    EXPECT_EQ(setProperty(unit, kAudioUnitProperty_MaximumFramesPerSlice, kGlob, 0, frames), 0);
    UInt32 back = 0;
    EXPECT_EQ(getProperty(unit, kAudioUnitProperty_MaximumFramesPerSlice, kGlob, 0, back), 0);
    EXPECT_EQ(back, 1024u);
}

TEST_P(HostProperties, ScopeAndElementErrors) {
    UInt32 size = 0;
    Boolean writable = false;
    const auto infoOf = [&](AudioUnitPropertyID id, AudioUnitScope scope,
                            AudioUnitElement element) {
        return AudioUnitGetPropertyInfo(unit, id, scope, element, &size, &writable);
    };
    EXPECT_EQ(infoOf(kAudioUnitProperty_ElementName, kIn, 1), kAudioUnitErr_InvalidElement);
    EXPECT_EQ(infoOf(kAudioUnitProperty_ElementName, 5, 0), kAudioUnitErr_InvalidScope);
    EXPECT_EQ(infoOf(kFormat, kAudioUnitScope_Group, 0), kAudioUnitErr_InvalidElement);
    EXPECT_EQ(infoOf(kAudioUnitProperty_MaximumFramesPerSlice, kIn, 0), kAudioUnitErr_InvalidScope);
    EXPECT_EQ(infoOf(12345, kGlob, 0), kAudioUnitErr_InvalidProperty);
    AudioStreamBasicDescription format{};
    EXPECT_EQ(getProperty(unit, kFormat, 4, 0, format), kAudioUnitErr_InvalidScope);
    EXPECT_EQ(getProperty(unit, kFormat, kOut, 1, format), kAudioUnitErr_InvalidElement);

    AudioUnitParameterValue value = 0;
    EXPECT_EQ(AudioUnitGetParameter(unit, kParamGain, 9, 0, &value), kAudioUnitErr_InvalidScope);
    EXPECT_EQ(AudioUnitGetParameter(unit, kParamGain, kGlob, 3, &value),
              kAudioUnitErr_InvalidElement);
    EXPECT_EQ(AudioUnitGetParameter(unit, 77, kGlob, 0, &value), kAudioUnitErr_InvalidParameter);
    EXPECT_EQ(AudioUnitSetParameter(unit, kParamGain, 9, 0, 1.0f, 0), kAudioUnitErr_InvalidScope);
    AudioUnitParameterInfo info{};
    EXPECT_EQ(getProperty(unit, kAudioUnitProperty_ParameterInfo, kGlob, 77, info),
              kAudioUnitErr_InvalidParameter);
}

TEST_P(HostProperties, AShortBufferGetsTheFirstBytesAndKeepsItsSize) {
    const Float64 rate = 44100.0;
    unsigned char bytes[8];
    std::memset(bytes, 0xEE, sizeof bytes);
    UInt32 size = 4;
    ASSERT_EQ(AudioUnitGetProperty(unit, kAudioUnitProperty_SampleRate, kOut, 0, bytes, &size), 0);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(std::memcmp(bytes, &rate, 4), 0);
    EXPECT_EQ(bytes[4], 0xEE);

    size = 3;
    std::memset(bytes, 0xEE, sizeof bytes);
    ASSERT_EQ(AudioUnitGetProperty(unit, kEchoProperty, kGlob, 0, bytes, &size), 0);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(std::memcmp(bytes, &kEchoInitial, 3), 0);
    EXPECT_EQ(bytes[3], 0xEE);

    // The 40-byte stream format into 36 bytes.
    AudioStreamBasicDescription format{};
    unsigned char formatBytes[40];
    std::memset(formatBytes, 0xEE, sizeof formatBytes);
    size = 36;
    ASSERT_EQ(getProperty(unit, kFormat, kOut, 0, format), 0);
    ASSERT_EQ(AudioUnitGetProperty(unit, kFormat, kOut, 0, formatBytes, &size), 0);
    EXPECT_EQ(size, 36u);
    EXPECT_EQ(std::memcmp(formatBytes, &format, 36), 0);
    EXPECT_EQ(formatBytes[36], 0xEE);

    // Asking for the size alone.
    size = 0;
    EXPECT_EQ(AudioUnitGetProperty(unit, kFormat, kOut, 0, nullptr, &size), 0);
    EXPECT_EQ(size, 40u);
    // A buffer with a size of 0.
    size = 0;
    EXPECT_EQ(AudioUnitGetProperty(unit, kFormat, kOut, 0, formatBytes, &size), kAudio_ParamError);
}

TEST_P(HostProperties, DataWithSizeZeroIsRefusedBeforeTheUnit) {
    const UInt64 value = 5;
    const int before = unitLog().setPropertyCalls;
    EXPECT_EQ(AudioUnitSetProperty(unit, kEchoProperty, kGlob, 0, &value, 0), kAudio_ParamError);
    EXPECT_EQ(AudioUnitSetProperty(unit, kEchoProperty, kGlob, 0, nullptr, 8), kAudio_ParamError);
    EXPECT_EQ(unitLog().setPropertyCalls, before);
    UInt64 back = 0;
    EXPECT_EQ(getProperty(unit, kEchoProperty, kGlob, 0, back), 0);
    EXPECT_EQ(back, kEchoInitial);
    EXPECT_EQ(setProperty(unit, kEchoProperty, kGlob, 0, value), 0);
    EXPECT_EQ(unitLog().setPropertyCalls, before + 1);
    EXPECT_EQ(getProperty(unit, kEchoProperty, kGlob, 0, back), 0);
    EXPECT_EQ(back, 5u);
}

TEST_P(HostProperties, RaisedErrorsComeBackAsStatuses) {
    for (UInt32 kind = 0; kind < kRaiseKindCount; ++kind) {
        SCOPED_TRACE(kind);
        EXPECT_EQ(setProperty(unit, kRaiseProperty, kGlob, 0, kind), ExpectedStatus(kind));
        UInt32 back = 0xFFFF;
        UInt32 size = sizeof back;
        const OSStatus status =
            AudioUnitGetProperty(unit, kRaiseProperty, kGlob, kind, &back, &size);
        EXPECT_EQ(status, ExpectedStatus(kind));
        // A failed read answers a size of 0.
        EXPECT_EQ(size, status == 0 ? 4u : 0u);
    }
}

TEST_P(HostProperties, ListenersAreCalledInOrderAndRemovedByUserData) {
    std::vector<int> order;
    struct Tagged {
        std::vector<int>* order;
        int tag;
    } first{&order, 1}, second{&order, 2};
    const auto proc = [](void* ref, AudioUnit, AudioUnitPropertyID, AudioUnitScope,
                         AudioUnitElement) {
        auto* t = static_cast<Tagged*>(ref);
        t->order->push_back(t->tag);
    };
    ASSERT_EQ(AudioUnitAddPropertyListener(unit, kEchoProperty, proc, &first), 0);
    ASSERT_EQ(AudioUnitAddPropertyListener(unit, kEchoProperty, proc, &second), 0);
    const UInt64 value = 1;
    ASSERT_EQ(setProperty(unit, kEchoProperty, kGlob, 0, value), 0);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    ASSERT_EQ(AudioUnitRemovePropertyListenerWithUserData(unit, kEchoProperty, proc, &first), 0);
    order.clear();
    ASSERT_EQ(setProperty(unit, kEchoProperty, kGlob, 0, value), 0);
    EXPECT_EQ(order, (std::vector<int>{2}));
}

INSTANTIATE_TEST_SUITE_P(BothPaths, HostProperties, ::testing::Values(Path::Factory, Path::Manager),
                         [](const auto& info) { return std::string(pathName(info.param)); });
