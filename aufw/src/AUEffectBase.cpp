// AUEffectBase: channel configurations, kernels, bypass and in-place
// properties, the render routine with scheduled-parameter slices, silence and
// tail accounting.
#include <aufw/AUEffectBase.h>

#include <aufw/AUBufferList.h>
#include <aufw/CAException.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

[[noreturn]] void Raise(OSStatus err) {
    throw err;
}

// Whether a supported-channels entry accepts inputs/outputs channels.
bool ChannelInfoMatches(const AUChannelInfo& info, SInt16 inputs, SInt16 outputs) {
    const SInt16 in = info.inChannels;
    const SInt16 out = info.outChannels;
    if (in < 0 && out < 0) {
        // Wildcard pairs: (-1, -2) and (-2, -1) take any counts, (-1, -1)
        // any count that is the same on both sides; nothing else matches.
        if ((in == -1 && out == -2) || (in == -2 && out == -1)) {
            return true;
        }
        return in == -1 && out == -1 && inputs == outputs;
    }
    return (in == inputs || in == -1) && (out == outputs || out == -1);
}

// The sample type of a stream format, when it is one the kernels take.
AUEffectBase::ECommonPCMFormat ClassifyFormat(const CAStreamBasicDescription& f) {
    if (!f.IsLinearPCM() || f.mFramesPerPacket != 1 || f.mBytesPerPacket != f.mBytesPerFrame ||
        f.mBitsPerChannel / 8 > f.mBytesPerFrame || f.mChannelsPerFrame == 0) {
        return AUEffectBase::kPCMFormatOther;
    }
    UInt32 wordSize = f.mBytesPerFrame;
    if (f.IsInterleavedFormat()) {
        if (wordSize % f.mChannelsPerFrame != 0) {
            return AUEffectBase::kPCMFormatOther;
        }
        wordSize /= f.mChannelsPerFrame;
    }
    if ((f.mFormatFlags & kAudioFormatFlagIsBigEndian) != 0 || wordSize * 8 != f.mBitsPerChannel) {
        return AUEffectBase::kPCMFormatOther;
    }
    const UInt32 fractionBits = f.FractionBits();
    const bool isSigned = (f.mFormatFlags & kAudioFormatFlagIsSignedInteger) != 0;
    if ((f.mFormatFlags & kAudioFormatFlagIsFloat) != 0) {
        if (fractionBits == 0 && !isSigned && wordSize == 4) {
            return AUEffectBase::kPCMFormatFloat32;
        }
    } else if (isSigned) {
        if (fractionBits == 24 && wordSize == 4) {
            return AUEffectBase::kPCMFormatFixed824;
        }
        if (fractionBits == 0 && wordSize == 2) {
            return AUEffectBase::kPCMFormatInt16;
        }
    }
    return AUEffectBase::kPCMFormatOther;
}

// Typed sample pointer at a buffer's data plus inOffset samples.
template <typename T> T* Samples(const AudioBuffer& buffer, UInt32 inOffset) {
    return static_cast<T*>(buffer.mData) + inOffset;
}

} // namespace

AUEffectBase::AUEffectBase(AudioComponentInstance inInstance, bool inProcessesInPlace)
    : AUBase(inInstance, 1, 1), mProcessesInPlace(inProcessesInPlace) {}

AUEffectBase::~AUEffectBase() {
    DeleteKernels();
}

void AUEffectBase::DeleteKernels() noexcept {
    for (AUEffectKernel* kernel : mKernelList) {
        delete kernel;
    }
    mKernelList.clear();
}

Float64 AUEffectBase::GetSampleRate() {
    AUOutputElement* output = GetOutput(0);
    if (output == nullptr) {
        Raise(kAudioUnitErr_InvalidElement);
    }
    return output->GetStreamFormat().mSampleRate;
}

UInt32 AUEffectBase::GetNumberOfChannels() {
    AUOutputElement* output = GetOutput(0);
    if (output == nullptr) {
        Raise(kAudioUnitErr_InvalidElement);
    }
    return output->GetStreamFormat().NumberChannels();
}

// ---------------------------------------------------------------------------
// Life cycle

OSStatus AUEffectBase::Initialize() {
    const SInt16 inputChannels =
        SInt16(GetIOElement(kAudioUnitScope_Input, 0)->GetStreamFormat().NumberChannels());
    const SInt16 outputChannels =
        SInt16(GetIOElement(kAudioUnitScope_Output, 0)->GetStreamFormat().NumberChannels());

    const AUChannelInfo* configs = nullptr;
    const UInt32 numConfigs = SupportedNumChannels(&configs);
    if (numConfigs > 0 && configs != nullptr) {
        bool matched = false;
        for (UInt32 i = 0; i < numConfigs && !matched; ++i) {
            matched = ChannelInfoMatches(configs[i], inputChannels, outputChannels);
        }
        if (!matched) {
            return kAudioUnitErr_FormatNotSupported;
        }
    } else if (outputChannels != inputChannels || outputChannels == 0) {
        // Without a table, an effect maps each input channel to one output.
        return kAudioUnitErr_FormatNotSupported;
    }

    MaintainKernels();
    mMainOutput = GetOutput(0);
    mMainInput = GetInput(0);
    if (mMainOutput == nullptr || mMainInput == nullptr) {
        Raise(kAudioUnitErr_InvalidElement);
    }

    const CAStreamBasicDescription& format = GetStreamFormat(kAudioUnitScope_Output, 0);
    mCommonPCMFormat = ClassifyFormat(format);
    mBytesPerFrame = format.mBytesPerFrame;
    return noErr;
}

void AUEffectBase::Cleanup() {
    DeleteKernels();
    mMainOutput = nullptr;
    mMainInput = nullptr;
}

OSStatus AUEffectBase::Reset(AudioUnitScope inScope, AudioUnitElement inElement) {
    for (AUEffectKernel* kernel : mKernelList) {
        if (kernel != nullptr) {
            kernel->Reset();
        }
    }
    return AUBase::Reset(inScope, inElement);
}

void AUEffectBase::MaintainKernels() {
    const UInt32 channels = GetNumberOfChannels();
    if (mKernelList.size() < channels) {
        mKernelList.reserve(channels);
        while (mKernelList.size() < channels) {
            mKernelList.push_back(NewKernel());
        }
    } else {
        while (mKernelList.size() > channels) {
            delete mKernelList.back();
            mKernelList.pop_back();
        }
    }
    for (UInt32 i = 0; i < mKernelList.size(); ++i) {
        if (mKernelList[i] != nullptr) {
            mKernelList[i]->SetChannel(i);
        }
    }
}

bool AUEffectBase::StreamFormatWritable(AudioUnitScope /*inScope*/,
                                        AudioUnitElement /*inElement*/) {
    return !IsInitialized();
}

OSStatus AUEffectBase::ChangeStreamFormat(AudioUnitScope inScope, AudioUnitElement inElement,
                                          const CAStreamBasicDescription& inPrevFormat,
                                          const CAStreamBasicDescription& inNewFormat) {
    const OSStatus result =
        AUBase::ChangeStreamFormat(inScope, inElement, inPrevFormat, inNewFormat);
    if (result == noErr && mParamsDependOnSampleRate &&
        inPrevFormat.mSampleRate != inNewFormat.mSampleRate) {
        PropertyChanged(kAudioUnitProperty_ParameterList, kAudioUnitScope_Global, 0);
    }
    return result;
}

// ---------------------------------------------------------------------------
// Properties

OSStatus AUEffectBase::GetPropertyInfo(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                       AudioUnitElement inElement, UInt32& outDataSize,
                                       Boolean& outWritable) {
    if (inScope == kAudioUnitScope_Global &&
        (inID == kAudioUnitProperty_BypassEffect || inID == kAudioUnitProperty_InPlaceProcessing)) {
        outDataSize = sizeof(UInt32);
        outWritable = true;
        return noErr;
    }
    return AUBase::GetPropertyInfo(inID, inScope, inElement, outDataSize, outWritable);
}

OSStatus AUEffectBase::GetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                   AudioUnitElement inElement, void* outData) {
    if (inScope == kAudioUnitScope_Global) {
        UInt32 value = 0;
        switch (inID) {
        case kAudioUnitProperty_BypassEffect:
            value = ShouldBypassEffect() ? 1 : 0;
            break;
        case kAudioUnitProperty_InPlaceProcessing:
            value = mProcessesInPlace ? 1 : 0;
            break;
        default:
            return AUBase::GetProperty(inID, inScope, inElement, outData);
        }
        if (outData == nullptr) {
            return -50;
        }
        std::memcpy(outData, &value, sizeof(value));
        return noErr;
    }
    return AUBase::GetProperty(inID, inScope, inElement, outData);
}

OSStatus AUEffectBase::SetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                   AudioUnitElement inElement, const void* inData,
                                   UInt32 inDataSize) {
    if (inScope == kAudioUnitScope_Global) {
        switch (inID) {
        case kAudioUnitProperty_BypassEffect: {
            if (inDataSize < sizeof(UInt32) || inData == nullptr) {
                return kAudioUnitErr_InvalidPropertyValue;
            }
            UInt32 value = 0;
            std::memcpy(&value, inData, sizeof(value));
            const bool bypass = value != 0;
            if (bypass != ShouldBypassEffect()) {
                // Coming back from bypass, stale kernel state from before it
                // must not leak into the new audio.
                if (!bypass && IsInitialized()) {
                    Reset(kAudioUnitScope_Global, 0);
                }
                SetBypassEffect(bypass);
            }
            return noErr;
        }
        case kAudioUnitProperty_InPlaceProcessing: {
            if (inData == nullptr) {
                return -50;
            }
            // Any size is taken; a short value is read as far as it goes.
            UInt32 value = 0;
            std::memcpy(&value, inData, inDataSize < sizeof(value) ? inDataSize : sizeof(value));
            mProcessesInPlace = value != 0;
            return noErr;
        }
        default:
            break;
        }
    }
    return AUBase::SetProperty(inID, inScope, inElement, inData, inDataSize);
}

// ---------------------------------------------------------------------------
// Render

OSStatus AUEffectBase::Render(AudioUnitRenderActionFlags& ioActionFlags,
                              const AudioTimeStamp& inTimeStamp, UInt32 nFrames) {
    // While initialized the main input and output are elements 0 of their
    // scopes (element counts cannot change then); outside it they are looked
    // up.
    AUInputElement* input = mMainInput != nullptr ? mMainInput : GetInput(0);
    if (input == nullptr) {
        return kAudioUnitErr_NoConnection;
    }
    // An input without a source answers kAudioUnitErr_NoConnection itself.
    OSStatus result = input->PullInput(ioActionFlags, inTimeStamp, 0, nFrames);
    if (result != noErr) {
        return result;
    }
    AUOutputElement* output = mMainOutput != nullptr ? mMainOutput : GetOutput(0);
    if (output == nullptr) {
        return kAudioUnitErr_InvalidElement;
    }

    // Read once: a host thread may flip it, and one cycle must see one value.
    const bool inPlace = ProcessesInPlace();
    AudioBufferList& inputList = input->GetBufferList();
    if (inPlace && output->WillAllocateBuffer()) {
        output->IOBuffer().SetBufferList(inputList);
    }
    AudioBufferList& outputList = output->GetBufferList();
    if (!ShouldBypassEffect()) {
        if (!HasScheduledParameterEvents()) {
            if (inPlace) {
                // Nothing follows: in place, the silence flag leaves the
                // output as the processing left it.
                return ProcessBufferLists(ioActionFlags, inputList, outputList, nFrames);
            }
            result = ProcessBufferLists(ioActionFlags, inputList, outputList, nFrames);
        } else {
            ScheduledProcessParams params{&ioActionFlags, &inputList, &outputList};
            result = ProcessForScheduledParams(GetParamEventList(), nFrames, &params);
            // The slices walked the data pointers through the block; put
            // them back where the block starts.
            StepBufferList(inputList, nFrames, -1);
            StepBufferList(outputList, nFrames, -1);
        }
    } else if (!inPlace) {
        input->IOBuffer().CopyBufferContentsTo(outputList);
    }

    if ((ioActionFlags & kAudioUnitRenderAction_OutputIsSilence) != 0 && !inPlace) {
        AUBufferList::ZeroBuffer(outputList);
    }
    return result;
}

void AUEffectBase::StepBufferList(AudioBufferList& ioList, UInt32 inFrames, int inDirection) const {
    // The size of one channel's share of a frame. For the one-channel
    // buffers of a non-interleaved format that is the bytes per frame; for
    // an interleaved format the bytes per frame hold every channel and are
    // divided among them, so a buffer steps by exactly the bytes it holds.
    const CAStreamBasicDescription& format =
        mMainOutput != nullptr ? mMainOutput->GetStreamFormat() : CAStreamBasicDescription();
    const UInt32 perStream = format.ChannelsPerStream();
    const UInt32 sampleBytes = perStream > 1 ? mBytesPerFrame / perStream : mBytesPerFrame;
    const UInt32 channelSize = inFrames * sampleBytes;
    for (UInt32 i = 0; i < ioList.mNumberBuffers; ++i) {
        AudioBuffer& buffer = ioList.mBuffers[i];
        const UInt32 bytes = buffer.mNumberChannels * channelSize;
        buffer.mDataByteSize = bytes;
        if (buffer.mData != nullptr && inDirection != 0) {
            Byte* data = static_cast<Byte*>(buffer.mData);
            buffer.mData = inDirection > 0 ? data + bytes : data - bytes;
        }
    }
}

OSStatus AUEffectBase::ProcessScheduledSlice(void* inUserData, UInt32 /*inStartFrameInBuffer*/,
                                             UInt32 inSliceFramesToProcess,
                                             UInt32 /*inTotalBufferFrames*/) {
    auto* params = static_cast<ScheduledProcessParams*>(inUserData);
    AudioBufferList& inputList = *params->inputBufferList;
    AudioBufferList& outputList = *params->outputBufferList;

    // Size the buffers to this slice, process it, then step past it.
    StepBufferList(inputList, inSliceFramesToProcess, 0);
    StepBufferList(outputList, inSliceFramesToProcess, 0);
    const OSStatus result =
        ProcessBufferLists(*params->actionFlags, inputList, outputList, inSliceFramesToProcess);
    StepBufferList(inputList, inSliceFramesToProcess, 1);
    StepBufferList(outputList, inSliceFramesToProcess, 1);
    return result;
}

OSStatus AUEffectBase::ProcessBufferLists(AudioUnitRenderActionFlags& ioActionFlags,
                                          const AudioBufferList& inBuffer,
                                          AudioBufferList& outBuffer, UInt32 inFramesToProcess) {
    switch (mCommonPCMFormat) {
    case kPCMFormatFloat32:
        ProcessBufferListsT<Float32>(ioActionFlags, inBuffer, outBuffer, inFramesToProcess);
        break;
    case kPCMFormatFixed824:
        ProcessBufferListsT<SInt32>(ioActionFlags, inBuffer, outBuffer, inFramesToProcess);
        break;
    case kPCMFormatInt16:
        ProcessBufferListsT<SInt16>(ioActionFlags, inBuffer, outBuffer, inFramesToProcess);
        break;
    default:
        throw CAException(kAUBaseUnimplemented);
    }
    return noErr;
}

bool AUEffectBase::IsInputSilent(AudioUnitRenderActionFlags inActionFlags, UInt32 inFramesToProcess,
                                 Float64 inTailSeconds) {
    if ((inActionFlags & kAudioUnitRenderAction_OutputIsSilence) == 0) {
        mResetTailCount = true;
        return false;
    }
    if (mResetTailCount) {
        const double samples = GetSampleRate() * inTailSeconds;
        // Truncated toward zero; a tail longer than the counter can hold is
        // held at the largest count rather than wrapping.
        if (!(samples > 0.0)) {
            mTailSamplesLeft = 0;
        } else if (samples >= double(std::numeric_limits<SInt32>::max())) {
            mTailSamplesLeft = std::numeric_limits<SInt32>::max();
        } else {
            mTailSamplesLeft = SInt32(samples);
        }
        mResetTailCount = false;
    }
    if (mTailSamplesLeft > 0) {
        const SInt64 left = SInt64(mTailSamplesLeft) - SInt64(inFramesToProcess);
        mTailSamplesLeft = left < std::numeric_limits<SInt32>::min()
                               ? std::numeric_limits<SInt32>::min()
                               : SInt32(left);
        return false;
    }
    return true;
}

template <typename T>
void AUEffectBase::ProcessBufferListsT(AudioUnitRenderActionFlags& ioActionFlags,
                                       const AudioBufferList& inBuffer, AudioBufferList& outBuffer,
                                       UInt32 inFramesToProcess) {
    // Asked on every call: a unit may change its latency or tail at any time.
    const Float64 tailSeconds = GetLatency() + GetTailTime();
    const bool silentInput = IsInputSilent(ioActionFlags, inFramesToProcess, tailSeconds);
    ioActionFlags |= kAudioUnitRenderAction_OutputIsSilence;

    const UInt32 kernels = UInt32(mKernelList.size());
    if (inBuffer.mNumberBuffers == 1) {
        // One interleaved buffer: kernel i starts at sample i and steps by
        // the channel count. Kernels beyond the channels either side holds
        // have no samples to work on.
        const AudioBuffer& in = inBuffer.mBuffers[0];
        const UInt32 stride = in.mNumberChannels;
        if (outBuffer.mNumberBuffers == 0 || in.mData == nullptr ||
            outBuffer.mBuffers[0].mData == nullptr) {
            return;
        }
        const AudioBuffer& out = outBuffer.mBuffers[0];
        // The output must step the same way, or the kernel's writes would
        // not land in its channel (nor stay within the buffer).
        const bool sameLayout =
            outBuffer.mNumberBuffers == 1 ? out.mNumberChannels == stride : stride == 1;
        if (!sameLayout) {
            return;
        }
        for (UInt32 i = 0; i < kernels && i < stride; ++i) {
            AUEffectKernel* kernel = mKernelList[i];
            if (kernel == nullptr) {
                continue;
            }
            bool ioSilence = silentInput;
            kernel->Process(Samples<const T>(in, i), Samples<T>(out, i), inFramesToProcess, stride,
                            ioSilence);
            if (!ioSilence) {
                ioActionFlags &= ~kAudioUnitRenderAction_OutputIsSilence;
            }
        }
    } else {
        for (UInt32 i = 0; i < kernels; ++i) {
            AUEffectKernel* kernel = mKernelList[i];
            if (kernel == nullptr || i >= inBuffer.mNumberBuffers ||
                i >= outBuffer.mNumberBuffers || inBuffer.mBuffers[i].mData == nullptr ||
                outBuffer.mBuffers[i].mData == nullptr) {
                continue;
            }
            bool ioSilence = silentInput;
            kernel->Process(Samples<const T>(inBuffer.mBuffers[i], 0),
                            Samples<T>(outBuffer.mBuffers[i], 0), inFramesToProcess, 1, ioSilence);
            if (!ioSilence) {
                ioActionFlags &= ~kAudioUnitRenderAction_OutputIsSilence;
            }
        }
    }
}

template void AUEffectBase::ProcessBufferListsT<Float32>(AudioUnitRenderActionFlags&,
                                                         const AudioBufferList&, AudioBufferList&,
                                                         UInt32);
template void AUEffectBase::ProcessBufferListsT<SInt32>(AudioUnitRenderActionFlags&,
                                                        const AudioBufferList&, AudioBufferList&,
                                                        UInt32);
template void AUEffectBase::ProcessBufferListsT<SInt16>(AudioUnitRenderActionFlags&,
                                                        const AudioBufferList&, AudioBufferList&,
                                                        UInt32);
