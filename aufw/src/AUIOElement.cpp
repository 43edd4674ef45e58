#include <aufw/AUIOElement.h>

#include <aufw/ComponentBase.h>

AUIOElement::AUIOElement(AUElementOwner* inAudioUnit) : AUElement(inAudioUnit) {
    mStreamFormat.mSampleRate = 44100.0;
    mStreamFormat.mFormatID = kAudioFormatLinearPCM;
    mStreamFormat.mFormatFlags = kAudioFormatFlagsAudioUnitCanonical;
    mStreamFormat.mBytesPerPacket = sizeof(AudioUnitSampleType);
    mStreamFormat.mFramesPerPacket = 1;
    mStreamFormat.mBytesPerFrame = sizeof(AudioUnitSampleType);
    mStreamFormat.mChannelsPerFrame = 2;
    mStreamFormat.mBitsPerChannel = 8 * sizeof(AudioUnitSampleType);
    mStreamFormat.mReserved = 0;
    mLayout = AUBufferList::LayoutOf(mStreamFormat);
}

OSStatus AUIOElement::SetStreamFormat(const CAStreamBasicDescription& inFormat) {
    mStreamFormat = inFormat;
    mLayout = AUBufferList::LayoutOf(mStreamFormat);
    return noErr;
}

void AUIOElement::AllocateBuffer(UInt32 inFramesToAllocate) {
    if (mAudioUnit == nullptr || !mAudioUnit->HasBegunInitializing()) {
        return;
    }
    const UInt32 frames =
        inFramesToAllocate != 0 ? inFramesToAllocate : mAudioUnit->GetMaxFramesPerSlice();
    mIOBuffer.Allocate(mStreamFormat, (mWillAllocate && NeedsBufferSpace()) ? frames : 0);
}

AudioUnitSampleType* AUIOElement::GetChannelData(UInt32 inChannel) const {
    const AudioBufferList& list = GetBufferList();
    if (mStreamFormat.IsInterleavedFormat()) {
        if (list.mNumberBuffers == 0 || inChannel >= list.mBuffers[0].mNumberChannels ||
            list.mBuffers[0].mData == nullptr) {
            return nullptr;
        }
        return static_cast<AudioUnitSampleType*>(list.mBuffers[0].mData) + inChannel;
    }
    if (inChannel >= list.mNumberBuffers) {
        return nullptr;
    }
    return static_cast<AudioUnitSampleType*>(list.mBuffers[inChannel].mData);
}

UInt32 AUIOElement::GetChannelLayoutTags(AudioChannelLayoutTag* /*outLayoutTags*/) {
    return 0;
}

UInt32 AUIOElement::GetAudioChannelLayout(AudioChannelLayout* /*outLayout*/, Boolean& outWritable) {
    outWritable = false;
    return 0;
}

OSStatus AUIOElement::SetAudioChannelLayout(const AudioChannelLayout& /*inLayout*/) {
    return kAudioUnitErr_InvalidProperty;
}

OSStatus AUIOElement::RemoveAudioChannelLayout() {
    return kAudioUnitErr_InvalidPropertyValue;
}

// ---------------------------------------------------------------------------

OSStatus AUInputElement::SetStreamFormat(const CAStreamBasicDescription& inFormat) {
    const OSStatus result = AUIOElement::SetStreamFormat(inFormat);
    if (result == noErr) {
        AllocateBuffer();
    }
    return result;
}

void AUInputElement::SetConnection(const AudioUnitConnection& inConnection) {
    if (inConnection.sourceAudioUnit == nullptr) {
        Disconnect();
        return;
    }
    // Forget the previous source's procedure before anything can render
    // through the new connection.
    mConnRenderProc = nullptr;
    mConnInstanceStorage = nullptr;
    mConnection = inConnection;
    mInputType.store(kFromConnection, std::memory_order_release);
    AllocateBuffer();

    AudioUnitRenderProc renderProc = nullptr;
    UInt32 size = sizeof(renderProc);
    const OSStatus result =
        AudioUnitGetProperty(inConnection.sourceAudioUnit, kAudioUnitProperty_FastDispatch,
                             kAudioUnitScope_Global, kAudioUnitRenderSelect, &renderProc, &size);
    if (result != noErr || renderProc == nullptr) {
        return;
    }
    // The procedure takes the source's own object; without it the procedure
    // cannot be called, and AudioUnitRender serves instead.
    void* storage = CMgr_GetComponentInstanceStorage(inConnection.sourceAudioUnit);
    if (storage == nullptr) {
        return;
    }
    mConnInstanceStorage = storage;
    mConnRenderProc = renderProc;
}

void AUInputElement::SetInputCallback(AURenderCallback inProc, void* inRefCon) {
    if (inProc == nullptr) {
        Disconnect();
        return;
    }
    mInputProc = inProc;
    mInputProcRefCon = inRefCon;
    mInputType.store(kFromCallback, std::memory_order_release);
    AllocateBuffer();
}

void AUInputElement::Disconnect() {
    mInputType.store(kNoInput, std::memory_order_release);
    mIOBuffer.Deallocate();
}

OSStatus AUInputElement::PullFromConnection(AudioUnitRenderActionFlags& ioActionFlags,
                                            const AudioTimeStamp& inTimeStamp, UInt32 nFrames,
                                            AudioBufferList& ioList) {
    if (mConnRenderProc != nullptr) {
        return mConnRenderProc(mConnInstanceStorage, &ioActionFlags, &inTimeStamp,
                               mConnection.sourceOutputNumber, nFrames, &ioList);
    }
    return AudioUnitRender(mConnection.sourceAudioUnit, &ioActionFlags, &inTimeStamp,
                           mConnection.sourceOutputNumber, nFrames, &ioList);
}

// ---------------------------------------------------------------------------

AUOutputElement::AUOutputElement(AUElementOwner* inAudioUnit) : AUIOElement(inAudioUnit) {
    AllocateBuffer();
}

OSStatus AUOutputElement::SetStreamFormat(const CAStreamBasicDescription& inFormat) {
    const OSStatus result = AUIOElement::SetStreamFormat(inFormat);
    if (result == noErr) {
        AllocateBuffer();
    }
    return result;
}
