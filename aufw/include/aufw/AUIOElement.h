// Elements of the input and output scopes: a stream format, the audio
// buffer that goes with it, and (for inputs) where the input audio comes
// from: an upstream unit's output or a host render callback.
#pragma once

#include <aufw/AUBufferList.h>
#include <aufw/AUElement.h>
#include <aufw/CAStreamBasicDescription.h>

#include <AudioUnit/AudioUnit.h>

#include <atomic>

class AUIOElement : public AUElement {
public:
    // Starts with two channels of native 32-bit float at 44100 Hz, one
    // channel per buffer, and no buffer memory.
    explicit AUIOElement(AUElementOwner* inAudioUnit);

    AUIOElement* AsIOElement() override { return this; }

    // Copies the whole description and works out its buffer layout. Input
    // and output elements then resize their buffer to match.
    virtual OSStatus SetStreamFormat(const CAStreamBasicDescription& inFormat);
    const CAStreamBasicDescription& GetStreamFormat() const noexcept { return mStreamFormat; }
    // Buffers, channels per buffer and bytes per frame of the stream format.
    const AUBufferList::Layout& GetBufferLayout() const noexcept { return mLayout; }

    // Sizes the buffer for the stream format: inFramesToAllocate frames, or
    // the unit's maximum slice for 0. Only the stream headers are sized when
    // the host supplies the memory or the element needs none. Does nothing
    // before the unit begins initializing.
    virtual void AllocateBuffer(UInt32 inFramesToAllocate = 0);
    void DeallocateBuffer() { mIOBuffer.Deallocate(); }
    virtual bool NeedsBufferSpace() const = 0;

    // The host's kAudioUnitProperty_ShouldAllocateBuffer.
    bool WillAllocateBuffer() const noexcept { return mWillAllocate; }
    void SetWillAllocateBuffer(bool inFlag) noexcept { mWillAllocate = inFlag; }

    // Lays the buffer list over the element's memory for nFrames.
    AudioBufferList& PrepareBuffer(UInt32 nFrames) {
        return mIOBuffer.PrepareBuffer(mLayout, nFrames);
    }
    // The same list with null data pointers, for a source that supplies its
    // own memory.
    AudioBufferList& PrepareNullBuffer(UInt32 nFrames) {
        return mIOBuffer.PrepareNullBuffer(mLayout, nFrames);
    }
    void UseExternalBuffer(const AudioUnitExternalBuffer& inBuffer) {
        mIOBuffer.UseExternalBuffer(mStreamFormat, inBuffer);
    }
    AudioBufferList& GetBufferList() const { return mIOBuffer.GetBufferList(); }
    AUBufferList& IOBuffer() noexcept { return mIOBuffer; }
    const AUBufferList& IOBuffer() const noexcept { return mIOBuffer; }

    // The first sample of channel inChannel in the current buffer list: its
    // own buffer when non-interleaved, else the offset into the one buffer.
    // Null for a channel the list does not hold.
    AudioUnitSampleType* GetChannelData(UInt32 inChannel) const;
    UInt32 NumberChannels() const noexcept { return mStreamFormat.NumberChannels(); }

    // Channel layouts. An element that supports them overrides all four; by
    // default there are no tags, no layout, and setting or removing one fails.
    // GetChannelLayoutTags writes the tags when outLayoutTags is not null and
    // returns their count. GetAudioChannelLayout fills outLayout when it is not
    // null and returns the layout's byte size (0 for none).
    virtual UInt32 GetChannelLayoutTags(AudioChannelLayoutTag* outLayoutTags);
    virtual UInt32 GetAudioChannelLayout(AudioChannelLayout* outLayout, Boolean& outWritable);
    virtual OSStatus SetAudioChannelLayout(const AudioChannelLayout& inLayout);
    virtual OSStatus RemoveAudioChannelLayout();

protected:
    // Changed only through SetStreamFormat, which keeps mLayout with it.
    CAStreamBasicDescription mStreamFormat;
    AUBufferList::Layout mLayout;
    AUBufferList mIOBuffer;
    bool mWillAllocate = true;
};

class AUInputElement : public AUIOElement {
public:
    enum EInputType : UInt32 { kNoInput = 0, kFromConnection = 1, kFromCallback = 2 };

    explicit AUInputElement(AUElementOwner* inAudioUnit) : AUIOElement(inAudioUnit) {}

    OSStatus SetStreamFormat(const CAStreamBasicDescription& inFormat) override;
    // Only audio from a callback needs memory of the element's own; an
    // upstream unit renders into its own buffers.
    bool NeedsBufferSpace() const override { return IsCallback(); }

    // Takes input from an upstream unit's output. A connection without a
    // source unit disconnects. The source's fast render procedure is used
    // when it offers one, else every pull goes through AudioUnitRender.
    void SetConnection(const AudioUnitConnection& inConnection);
    // Takes input from a host procedure; a null procedure disconnects.
    void SetInputCallback(AURenderCallback inProc, void* inRefCon);
    // No input; the buffer memory is released.
    void Disconnect();

    // Fills the element's buffer with nFrames of input for inTimeStamp and
    // returns the source's status; kAudioUnitErr_NoConnection without a
    // source (also when the source goes away during the pull). inElement is
    // the number the callback is told. Buffer errors are raised.
    // Render thread, initialized unit; the callee may run anything. Inline:
    // the effect's render calls it on every cycle.
    OSStatus PullInput(AudioUnitRenderActionFlags& ioActionFlags, const AudioTimeStamp& inTimeStamp,
                       AudioUnitElement inElement, UInt32 nFrames) {
        const EInputType inputType = GetInputType();
        if (inputType == kNoInput) {
            return kAudioUnitErr_NoConnection;
        }
        AudioBufferList& list = (inputType == kFromConnection || !WillAllocateBuffer())
                                    ? PrepareNullBuffer(nFrames)
                                    : PrepareBuffer(nFrames);
        OSStatus result;
        if (inputType == kFromCallback) {
            result = mInputProc(mInputProcRefCon, &ioActionFlags, &inTimeStamp, inElement, nFrames,
                                &list);
        } else {
            result = PullFromConnection(ioActionFlags, inTimeStamp, nFrames, list);
        }
        if (GetInputType() == kNoInput) {
            return kAudioUnitErr_NoConnection;
        }
        return result;
    }

    EInputType GetInputType() const noexcept { return mInputType.load(std::memory_order_acquire); }
    bool IsActive() const noexcept { return GetInputType() != kNoInput; }
    bool HasConnection() const noexcept { return GetInputType() == kFromConnection; }
    bool IsCallback() const noexcept { return GetInputType() == kFromCallback; }
    const AudioUnitConnection& GetConnection() const noexcept { return mConnection; }
    AURenderCallback GetInputProc() const noexcept { return mInputProc; }
    void* GetInputProcRefCon() const noexcept { return mInputProcRefCon; }
    // The source's fast render procedure, null when it offered none.
    AudioUnitRenderProc GetConnectionRenderProc() const noexcept { return mConnRenderProc; }

private:
    // The upstream unit renders into the list: through its fast procedure
    // when it offered one, else through AudioUnitRender.
    OSStatus PullFromConnection(AudioUnitRenderActionFlags& ioActionFlags,
                                const AudioTimeStamp& inTimeStamp, UInt32 nFrames,
                                AudioBufferList& ioList);

    std::atomic<EInputType> mInputType{kNoInput};
    AURenderCallback mInputProc = nullptr;
    void* mInputProcRefCon = nullptr;
    AudioUnitConnection mConnection{};
    AudioUnitRenderProc mConnRenderProc = nullptr;
    void* mConnInstanceStorage = nullptr;
};

class AUOutputElement : public AUIOElement {
public:
    explicit AUOutputElement(AUElementOwner* inAudioUnit);

    OSStatus SetStreamFormat(const CAStreamBasicDescription& inFormat) override;
    bool NeedsBufferSpace() const override { return true; }
};
