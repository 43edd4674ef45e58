// A small effect on our Audio Unit framework for the host tool's tests: a gain
// and a delay, plus a latency of its own that a host has to compensate.
//
// Built four times: well-behaved, and with HOST_TEST_FAULT 1 (its latency
// property's info reports the wrong size), 2 (it crashes when asked to render at
// 96 kHz) or 3 (it never returns from a render at 96 kHz).

#include <aufw/AUEffectBase.h>
#include <aufw/AUPlugInDispatch.h>
#include <aufw/ComponentEntry.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include <unistd.h>

namespace {

enum : AudioUnitParameterID { kGain, kDelay, kLatency, kParamCount };
constexpr UInt32 kFlags = kAudioUnitParameterFlag_IsReadable | kAudioUnitParameterFlag_IsWritable;
const AudioUnitParameterInfo kParams[kParamCount] = {
    {"Gain", nullptr, 0, nullptr, kAudioUnitParameterUnit_Decibels, -24.f, 12.f, 0.f, kFlags},
    {"Delay", nullptr, 0, nullptr, kAudioUnitParameterUnit_Milliseconds, 0.f, 500.f, 10.f, kFlags},
    {"Latency", nullptr, 0, nullptr, kAudioUnitParameterUnit_SampleFrames, 0.f, 256.f, 0.f, kFlags},
};
constexpr AUChannelInfo kChannels[] = {{1, 2}, {2, 2}};

} // namespace

class VXHostTest : public AUEffectBase {
public:
    explicit VXHostTest(AudioComponentInstance instance) : AUEffectBase(instance, false) {
        for (AudioUnitParameterID id = 0; id < kParamCount; ++id)
            SetParameter(id, kParams[id].defaultValue);
    }

    OSStatus Initialize() override {
        const OSStatus status = AUEffectBase::Initialize();
        mLines.assign(2, std::vector<float>(size_t(0.5 * GetSampleRate()) + 258, 0.0f));
        mWrite = 0;
        return status;
    }
    OSStatus Reset(AudioUnitScope scope, AudioUnitElement element) override {
        for (auto& line : mLines)
            std::fill(line.begin(), line.end(), 0.0f);
        return AUEffectBase::Reset(scope, element);
    }
    OSStatus GetParameterInfo(AudioUnitScope scope, AudioUnitParameterID id,
                              AudioUnitParameterInfo& info) override {
        if (scope != kAudioUnitScope_Global || id >= kParamCount)
            return kAudioUnitErr_InvalidParameter;
        info = kParams[id];
        return noErr;
    }
    UInt32 SupportedNumChannels(const AUChannelInfo** info) override {
        if (info)
            *info = kChannels;
        return 2;
    }
    Float64 GetLatency() override { return GetParameter(kLatency) / GetSampleRate(); }
    Float64 GetTailTime() override { return GetParameter(kDelay) / 1000.0; }
    bool SupportsTail() override { return true; }

    OSStatus ProcessBufferLists(AudioUnitRenderActionFlags&, const AudioBufferList& in,
                                AudioBufferList& out, UInt32 frames) override {
        const Float64 rate = GetSampleRate();
        if (HOST_TEST_FAULT == 2 && rate == 96000.0)
            __builtin_trap();
        while (HOST_TEST_FAULT == 3 && rate == 96000.0)
            pause();
        const float gain = std::pow(10.0f, GetParameter(kGain) / 20.0f);
        const size_t length = mLines[0].size();
        const size_t delay =
            std::min(length - 1, size_t(std::lround(GetParameter(kDelay) * rate / 1000.0)) +
                                     size_t(std::lround(GetParameter(kLatency))));
        for (UInt32 c = 0; c < 2; ++c) {
            const auto* src =
                static_cast<const float*>(in.mBuffers[std::min(c, in.mNumberBuffers - 1)].mData);
            auto* dst = static_cast<float*>(out.mBuffers[c].mData);
            for (UInt32 n = 0, write = UInt32(mWrite); n < frames; ++n) {
                mLines[c][write] = src[n];
                dst[n] = gain * mLines[c][(write + length - delay) % length];
                write = UInt32((write + 1) % length);
            }
        }
        mWrite = (mWrite + frames) % length;
        return noErr;
    }

private:
    std::vector<std::vector<float>> mLines;
    size_t mWrite = 0;
};

namespace {

// With HOST_TEST_FAULT 1 the latency property's info claims 4 bytes; its value
// is a Float64 all the same.
struct FaultLookup {
    static OSStatus latencyInfo(void* self, AudioUnitPropertyID id, AudioUnitScope scope,
                                AudioUnitElement element, UInt32* size, Boolean* writable) {
        const auto info = reinterpret_cast<decltype(&latencyInfo)>(
            AUBaseLookup::Lookup(kAudioUnitGetPropertyInfoSelect));
        const OSStatus status = info(self, id, scope, element, size, writable);
        if (id == kAudioUnitProperty_Latency && size)
            *size = 4;
        return status;
    }
    static AudioComponentMethod Lookup(SInt16 selector) {
        if (HOST_TEST_FAULT == 1 && selector == kAudioUnitGetPropertyInfoSelect)
            return reinterpret_cast<AudioComponentMethod>(latencyInfo);
        return AUBaseLookup::Lookup(selector);
    }
};
template <class Unit> using Factory = APFactory<FaultLookup, Unit>;

} // namespace

AUDIOCOMPONENT_ENTRY(Factory, VXHostTest)
