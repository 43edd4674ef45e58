// The base class of an effect unit with one input element and one output
// element: channel-configuration checks at initialization, optional
// per-channel kernels, the bypass and in-place-processing properties, a
// render routine that pulls the input and processes it whole or in slices
// around scheduled parameter changes, and the silence flag with tail-time
// accounting.
#pragma once

#include <aufw/AUBase.h>
#include <aufw/AUKernelBase.h>
#include <aufw/RelaxedValue.h>

#include <AudioUnit/AudioUnit.h>

#include <vector>

class AUEffectBase : public AUBase {
public:
    // The output stream's sample type, as the kernels see it.
    enum ECommonPCMFormat : UInt32 {
        kPCMFormatOther = 0,
        kPCMFormatFloat32 = 1,
        kPCMFormatInt16 = 2,
        kPCMFormatFixed824 = 3,
    };

    // What ProcessForScheduledParams hands to each slice.
    struct ScheduledProcessParams {
        AudioUnitRenderActionFlags* actionFlags;
        AudioBufferList* inputBufferList;
        AudioBufferList* outputBufferList;
    };

    AUEffectBase(AudioComponentInstance inInstance, bool inProcessesInPlace = true);
    ~AUEffectBase() override;

    // ---------------------------------------------------------------------
    // AUBase operations this class overrides.

    OSStatus Initialize() override;
    void Cleanup() override;
    OSStatus Reset(AudioUnitScope inScope, AudioUnitElement inElement) override;

    OSStatus GetPropertyInfo(AudioUnitPropertyID inID, AudioUnitScope inScope,
                             AudioUnitElement inElement, UInt32& outDataSize,
                             Boolean& outWritable) override;
    OSStatus GetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope,
                         AudioUnitElement inElement, void* outData) override;
    OSStatus SetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope,
                         AudioUnitElement inElement, const void* inData,
                         UInt32 inDataSize) override;

    OSStatus ProcessBufferLists(AudioUnitRenderActionFlags& ioActionFlags,
                                const AudioBufferList& inBuffer, AudioBufferList& outBuffer,
                                UInt32 inFramesToProcess) override;
    OSStatus Render(AudioUnitRenderActionFlags& ioActionFlags, const AudioTimeStamp& inTimeStamp,
                    UInt32 inNumberFrames) override;

    bool StreamFormatWritable(AudioUnitScope inScope, AudioUnitElement inElement) override;
    OSStatus ChangeStreamFormat(AudioUnitScope inScope, AudioUnitElement inElement,
                                const CAStreamBasicDescription& inPrevFormat,
                                const CAStreamBasicDescription& inNewFormat) override;

    OSStatus ProcessScheduledSlice(void* inUserData, UInt32 inStartFrameInBuffer,
                                   UInt32 inSliceFramesToProcess,
                                   UInt32 inTotalBufferFrames) override;

    // ---------------------------------------------------------------------
    // Operations this class adds, in slot order.

    // A new kernel for one channel, or null for a unit that processes its
    // buffers itself.
    // CONTROL, UNINIT (from Initialize), +PARAM; the unit owns the kernel.
    virtual AUEffectKernel* NewKernel() { return nullptr; }
    // ANY (RENDER reads it every cycle), EITHER, +ANY: read and written whole.
    virtual bool ShouldBypassEffect() { return mBypassEffect; }
    // CONTROL, EITHER, +RENDER: written whole.
    virtual void SetBypassEffect(bool inFlag) { mBypassEffect = inFlag; }

    // ---------------------------------------------------------------------

    // One kernel slot per output channel: new slots from NewKernel, surplus
    // ones deleted from the end; then each kernel learns its channel.
    void MaintainKernels();

    // The sample rate and channel count of output element 0; both raise
    // kAudioUnitErr_InvalidElement when it does not exist.
    Float64 GetSampleRate();
    UInt32 GetNumberOfChannels();

    // A global parameter's current value; raises
    // kAudioUnitErr_InvalidParameter for one the unit does not have.
    AudioUnitParameterValue GetParameter(AudioUnitParameterID paramID) {
        return Globals0()->GetParameter(paramID);
    }
    void SetParameter(AudioUnitParameterID paramID, AudioUnitParameterValue value) {
        Globals0()->SetParameter(paramID, value);
    }
    using AUBase::GetParameter;
    using AUBase::SetParameter;

    // The per-type processing that ProcessBufferLists picks from the output
    // format: runs every kernel over its channel and keeps the silence flag.
    template <typename T>
    void ProcessBufferListsT(AudioUnitRenderActionFlags& ioActionFlags,
                             const AudioBufferList& inBuffer, AudioBufferList& outBuffer,
                             UInt32 inFramesToProcess);

    bool ProcessesInPlace() const noexcept { return mProcessesInPlace; }
    void SetProcessesInPlace(bool inProcessesInPlace) noexcept {
        mProcessesInPlace = inProcessesInPlace;
    }
    // When set, a sample-rate change announces a new parameter list.
    void SetParamHasSampleRateDependency(bool inFlag) noexcept {
        mParamsDependOnSampleRate = inFlag;
    }
    bool GetParamHasSampleRateDependency() const noexcept { return mParamsDependOnSampleRate; }

    ECommonPCMFormat GetCommonPCMFormat() const noexcept { return mCommonPCMFormat; }
    UInt32 GetBytesPerFrame() const noexcept { return mBytesPerFrame; }
    AUInputElement* GetMainInput() const noexcept { return mMainInput; }
    AUOutputElement* GetMainOutput() const noexcept { return mMainOutput; }
    const std::vector<AUEffectKernel*>& GetKernelList() const noexcept { return mKernelList; }
    SInt32 GetTailSamplesLeft() const noexcept { return mTailSamplesLeft; }

protected:
    // Decides whether this block's input counts as silence: a silent input
    // still counts as sound until the latency and tail that followed the
    // last sound have been rendered (inTailSeconds: latency plus tail time).
    bool IsInputSilent(AudioUnitRenderActionFlags inActionFlags, UInt32 inFramesToProcess,
                       Float64 inTailSeconds);

private:
    void DeleteKernels() noexcept;
    // Sets every buffer's size to inFrames of audio and moves its data
    // pointer forward (inDirection 1) or back (-1) by that much; 0 only sets
    // the sizes.
    void StepBufferList(AudioBufferList& ioList, UInt32 inFrames, int inDirection) const;

    std::vector<AUEffectKernel*> mKernelList;
    // Set by host control threads while the render thread reads them.
    RelaxedValue<bool> mBypassEffect = false;
    bool mParamsDependOnSampleRate = false;
    RelaxedValue<bool> mProcessesInPlace;
    SInt32 mTailSamplesLeft = 0;
    bool mResetTailCount = true;
    AUOutputElement* mMainOutput = nullptr;
    AUInputElement* mMainInput = nullptr;
    ECommonPCMFormat mCommonPCMFormat = kPCMFormatOther;
    UInt32 mBytesPerFrame = 0;
};
