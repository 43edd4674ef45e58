// The per-channel processing kernel of an effect unit. An effect that
// processes every channel the same way makes one kernel per output channel
// (AUEffectBase::NewKernel) and lets the effect base run them; each kernel
// keeps the state of its own channel (filter memories, delay lines).
#pragma once

#include <AudioUnit/AudioUnit.h>
#include <MacTypes.h>

class AUEffectBase;

class AUEffectKernel {
public:
    explicit AUEffectKernel(AUEffectBase* inAudioUnit) noexcept : mAudioUnit(inAudioUnit) {}
    virtual ~AUEffectKernel() = default;

    AUEffectKernel(const AUEffectKernel&) = delete;
    AUEffectKernel& operator=(const AUEffectKernel&) = delete;

    // Clears the channel's processing state (the unit was reset).
    // CONTROL, EITHER, +RENDER: may run while Process runs; the kernel copes.
    virtual void Reset() {}

    // Processes inFramesToProcess samples from inSourceP into inDestP, stepping
    // inNumChannels samples from one frame to the next (1 for a buffer of its
    // own, the channel count for an interleaved buffer). ioSilence comes in
    // true when the input is silence; a kernel sets it false when its output
    // is not. A kernel implements the forms for the sample types its unit
    // accepts; the others raise kAUBaseUnimplemented (-4).
    // RENDER, INIT, +CONTROL +PARAM (Reset included); samples BORROWED.
    virtual void Process(const Float32* inSourceP, Float32* inDestP, UInt32 inFramesToProcess,
                         UInt32 inNumChannels, bool& ioSilence);
    // 32-bit signed samples with 24 fraction bits (8.24 fixed point).
    // RENDER, INIT, +CONTROL +PARAM; samples BORROWED.
    virtual void Process(const SInt32* inSourceP, SInt32* inDestP, UInt32 inFramesToProcess,
                         UInt32 inNumChannels, bool& ioSilence);
    // RENDER, INIT, +CONTROL +PARAM; samples BORROWED.
    virtual void Process(const SInt16* inSourceP, SInt16* inDestP, UInt32 inFramesToProcess,
                         UInt32 inNumChannels, bool& ioSilence);

    // The output channel this kernel serves, set by the unit.
    UInt32 GetChannel() const noexcept { return mChannel; }
    void SetChannel(UInt32 inChannel) noexcept { mChannel = inChannel; }

    AUEffectBase* GetAudioUnit() const noexcept { return mAudioUnit; }

protected:
    // Conveniences reading the unit: the sample rate of its output, and a
    // global parameter's current value.
    Float64 GetSampleRate() const;
    AudioUnitParameterValue GetParameter(AudioUnitParameterID paramID) const;

private:
    AUEffectBase* mAudioUnit;
    UInt32 mChannel = 0;
};
