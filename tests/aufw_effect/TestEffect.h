// A small effect on AUEffectBase: one gain kernel per channel (gain =
// global parameter 0), a configurable channel table, latency and tail, and
// an input a test fills through the host render callback.
#pragma once

#include "RenderTestUnit.h"

#include <aufw/AUEffectBase.h>

#include <vector>

struct KernelLog {
    int created = 0, destroyed = 0, resets = 0, processCalls = 0;
    struct Call {
        UInt32 channel;
        bool silenceIn;
        UInt32 frames, stride;
        char type; // f(loat), i(nt32) or s(hort)
        bool inPlace;
    };
    std::vector<Call> calls; // while there is capacity: the render path must not allocate
};

class GainKernel : public AUEffectKernel {
public:
    GainKernel(AUEffectBase* unit, KernelLog& log) : AUEffectKernel(unit), mLog(log) {
        ++mLog.created;
    }
    ~GainKernel() override { ++mLog.destroyed; }
    void Reset() override { ++mLog.resets; }
    void Process(const Float32* src, Float32* dst, UInt32 n, UInt32 stride,
                 bool& silence) override {
        Run(src, dst, n, stride, silence, 'f');
    }
    void Process(const SInt32* src, SInt32* dst, UInt32 n, UInt32 stride, bool& silence) override {
        Run(src, dst, n, stride, silence, 'i');
    }
    void Process(const SInt16* src, SInt16* dst, UInt32 n, UInt32 stride, bool& silence) override {
        Run(src, dst, n, stride, silence, 's');
    }

private:
    // ioSilence is handed back unchanged: silence in, silence out.
    template <typename T>
    void Run(const T* src, T* dst, UInt32 n, UInt32 stride, bool& silence, char type) {
        ++mLog.processCalls;
        if (mLog.calls.size() < mLog.calls.capacity()) {
            mLog.calls.push_back(
                {GetChannel(), silence, n, stride, type, static_cast<const void*>(src) == dst});
        }
        const float gain = GetParameter(0);
        for (UInt32 i = 0; i < n; ++i) {
            dst[i * stride] = T(float(src[i * stride]) * gain);
        }
    }

    KernelLog& mLog;
};

class TestEffect : public AUEffectBase {
public:
    explicit TestEffect(bool inPlace = false, bool withKernels = true)
        : AUEffectBase(nullptr, inPlace), mWithKernels(withKernels) {
        Globals0()->SetParameter(0, 1.0f); // the gain
        Globals0()->SetParameter(1, 0.0f);
        log.calls.reserve(4096);
    }

    AUEffectKernel* NewKernel() override {
        return mWithKernels ? new GainKernel(this, log) : nullptr;
    }
    UInt32 SupportedNumChannels(const AUChannelInfo** outInfo) override {
        if (outInfo != nullptr) {
            *outInfo = channelTable.empty() ? nullptr : channelTable.data();
        }
        return UInt32(channelTable.size());
    }
    OSStatus Reset(AudioUnitScope inScope, AudioUnitElement inElement) override {
        ++unitResets; // kernels are gone while uninitialized
        return AUEffectBase::Reset(inScope, inElement);
    }
    Float64 GetLatency() override { return latency; }
    Float64 GetTailTime() override { return tail; }

    // Sets both elements' formats without the property checks.
    void SetFormats(const CAStreamBasicDescription& in, const CAStreamBasicDescription& out) {
        GetInput(0)->SetStreamFormat(in);
        GetOutput(0)->SetStreamFormat(out);
    }

    KernelLog log;
    int unitResets = 0;
    std::vector<AUChannelInfo> channelTable;
    Float64 latency = 0.0, tail = 0.0;

private:
    bool mWithKernels;
};

// The host side of the input: writes base + frame + 100 x buffer into float
// buffers, or marks the input as silence.
struct InputSource {
    bool silent = false;
    float base = 1.0f;
    int pulls = 0;

    static OSStatus Render(void* inRefCon, AudioUnitRenderActionFlags* ioActionFlags,
                           const AudioTimeStamp*, UInt32, UInt32, AudioBufferList* ioData) {
        auto* self = static_cast<InputSource*>(inRefCon);
        ++self->pulls;
        for (UInt32 b = 0; b < ioData->mNumberBuffers; ++b) {
            auto* samples = static_cast<float*>(ioData->mBuffers[b].mData);
            for (UInt32 i = 0; i < ioData->mBuffers[b].mDataByteSize / sizeof(float); ++i) {
                samples[i] = self->silent ? 0.0f : self->Value(b, i);
            }
        }
        if (self->silent) {
            *ioActionFlags |= kAudioUnitRenderAction_OutputIsSilence;
        }
        return 0;
    }
    float Value(UInt32 buffer, UInt32 index) const {
        return base + float(index) + 100.0f * float(buffer);
    }
    void Attach(AUBase& unit) {
        unit.SetInputCallback(kAudioUnitProperty_SetRenderCallback, 0, Render, this);
    }
};
