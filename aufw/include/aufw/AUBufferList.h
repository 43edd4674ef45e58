// The audio memory of one I/O element and the platform buffer list that
// points into it. The memory is the list's own, none at all (null data
// pointers for a source that renders into its own buffers), or a block
// handed in by the host.
#pragma once

#include "aufw/CAStreamBasicDescription.h"

#include <AudioUnit/AUComponent.h>
#include <AudioUnit/AudioUnitProperties.h>
#include <CoreAudio/CoreAudioTypes.h>

#include <cstdint>
#include <cstring>

class AUBufferList {
public:
    // What the prepared list points at.
    enum PtrState : UInt32 {
        kPtrsInvalid = 0,
        kPtrsToMyMemory = 1,
        kPtrsToExternalMemory = 2, // null data pointers or the caller's buffers
    };

    // How a format lays out in buffers: worked out once, when an element's
    // format is set, instead of on every render.
    struct Layout {
        UInt32 streams = 0;           // buffers the format needs
        UInt32 channelsPerBuffer = 0; // channels each of them holds
        UInt32 bytesPerFrame = 0;     // bytes one frame takes in a buffer
    };
    static Layout LayoutOf(const CAStreamBasicDescription& format) noexcept {
        return {format.ChannelStreamCount(), format.ChannelsPerStream(), format.mBytesPerFrame};
    }

    AUBufferList() = default;
    ~AUBufferList();
    AUBufferList(const AUBufferList&) = delete;
    AUBufferList& operator=(const AUBufferList&) = delete;

    // Sizes the list block and the memory for the format and frame count;
    // memory never shrinks here. Raises std::bad_alloc when a size overflows
    // or memory runs out. Leaves the list invalid until it is prepared.
    void Allocate(const CAStreamBasicDescription& format, UInt32 nFrames);
    // Frees the own memory (never the host's); keeps the list block for reuse.
    void Deallocate();

    // Render-time operations: they only fill the preallocated list header.
    // PrepareBuffer raises kAudioUnitErr_TooManyFramesToProcess when the
    // frames do not fit, both raise kAudioUnitErr_FormatNotSupported when the
    // format needs more buffers than the list holds.
    AudioBufferList& PrepareBuffer(const Layout& layout, UInt32 nFrames) {
        if (nFrames > mAllocatedFrames) {
            RaiseStatus(kAudioUnitErr_TooManyFramesToProcess);
        }
        // The fit of a layout is worked out once, on its first prepare after
        // the memory changed; a list that does not fit is never handed out,
        // so its entries need no check of their own.
        // A list of no streams always takes the full check.
        if (layout.bytesPerFrame != mFit.bytesPerFrame || layout.streams - 1u >= mFit.streams) {
            CheckFit(layout);
        }
        const UInt32 byteSize = nFrames * layout.bytesPerFrame;
        AudioBufferList& abl = *mPtrs;
        abl.mNumberBuffers = layout.streams;
        Byte* data = mMemory;
        const std::size_t step = mFit.step;
        AudioBuffer* buf = abl.mBuffers;
        if (layout.streams == 2) {
            // Stereo, spelled out, as in SetBufferList.
            buf[0] = AudioBuffer{layout.channelsPerBuffer, byteSize, data};
            buf[1] = AudioBuffer{layout.channelsPerBuffer, byteSize, data + step};
        } else {
            for (UInt32 i = 0; i < layout.streams; ++i, data += step) {
                buf[i] = AudioBuffer{layout.channelsPerBuffer, byteSize, data};
            }
        }
        mPtrState = kPtrsToMyMemory;
        return abl;
    }
    AudioBufferList& PrepareNullBuffer(const Layout& layout, UInt32 nFrames) {
        if (mPtrs == nullptr || layout.streams > mAllocatedStreams) {
            RaiseStatus(kAudioUnitErr_FormatNotSupported);
        }
        const UInt32 byteSize = nFrames * layout.bytesPerFrame;
        AudioBufferList& abl = *mPtrs;
        abl.mNumberBuffers = layout.streams;
        for (UInt32 i = 0; i < layout.streams; ++i) {
            AudioBuffer& buf = abl.mBuffers[i];
            buf.mNumberChannels = layout.channelsPerBuffer;
            buf.mDataByteSize = byteSize;
            buf.mData = nullptr;
        }
        mPtrState = kPtrsToExternalMemory;
        return abl;
    }
    AudioBufferList& PrepareBuffer(const CAStreamBasicDescription& format, UInt32 nFrames) {
        return PrepareBuffer(LayoutOf(format), nFrames);
    }
    AudioBufferList& PrepareNullBuffer(const CAStreamBasicDescription& format, UInt32 nFrames) {
        return PrepareNullBuffer(LayoutOf(format), nFrames);
    }

    // Lays the host's block under the list in place of the own memory when
    // it is large enough; otherwise does nothing. The block is used in equal
    // per-buffer shares rounded down to 16 bytes; its address must be
    // 16-byte aligned.
    void UseExternalBuffer(const CAStreamBasicDescription& format,
                           const AudioUnitExternalBuffer& buf);

    // The current list; raises -1 when it is not prepared.
    AudioBufferList& GetBufferList() const {
        if (mPtrState == kPtrsInvalid) {
            RaiseStatus(-1);
        }
        return *mPtrs;
    }
    // Makes the list describe the caller's buffers; raises -1 when the caller
    // has more buffers than the list holds. Mono and stereo are spelled out
    // inline: a header is a few words, fewer than a general copy's call.
    void SetBufferList(const AudioBufferList& abl) {
        const UInt32 buffers = abl.mNumberBuffers;
        // One or two buffers that fit: a block with room for streams exists.
        if (buffers - 1u < 2u && buffers <= mAllocatedStreams) {
            mPtrs->mNumberBuffers = buffers;
            mPtrs->mBuffers[0] = abl.mBuffers[0];
            if (buffers == 2) {
                mPtrs->mBuffers[1] = abl.mBuffers[1];
            }
            mPtrState = kPtrsToExternalMemory;
            return;
        }
        SetOtherBufferList(abl);
    }
    // Points the caller's entries into this list's memory; raises -1 when
    // the list is not prepared.
    void CopyBufferListTo(AudioBufferList& abl) const;
    // Copies the samples into the caller's buffers; the last buffer of this
    // list feeds any further destinations. Raises -1 when not prepared.
    void CopyBufferContentsTo(AudioBufferList& abl) const {
        if (mPtrState == kPtrsInvalid) {
            RaiseStatus(-1);
        }
        const UInt32 sources = mPtrs->mNumberBuffers;
        if (sources == 0) {
            return;
        }
        const AudioBuffer* const src = mPtrs->mBuffers;
        const UInt32 destinations = abl.mNumberBuffers;
        if (destinations == 2 && sources == 2) {
            // Stereo, spelled out: the loop costs more than the two copies'
            // bookkeeping.
            CopyBufferContents(src[0], abl.mBuffers[0]);
            CopyBufferContents(src[1], abl.mBuffers[1]);
            return;
        }
        for (UInt32 i = 0; i < destinations; ++i) {
            CopyBufferContents(src[i < sources ? i : sources - 1], abl.mBuffers[i]);
        }
    }
    void InvalidateBufferList() { mPtrState = kPtrsInvalid; }

    static void ZeroBuffer(AudioBufferList& abl);

    UInt32 GetPtrState() const { return mPtrState; }
    bool BufferIsExternal() const { return mExternalMemory; }
    UInt32 GetAllocatedStreams() const { return mAllocatedStreams; }
    UInt32 GetAllocatedFrames() const { return mAllocatedFrames; }
    UInt32 GetAllocatedBytes() const { return mAllocatedBytes; }
    const Byte* GetMemory() const { return mMemory; }

    // Bytes of a list header with n buffers.
    static constexpr size_t ListBytes(UInt32 nBuffers) {
        return offsetof(AudioBufferList, mBuffers) + size_t(nBuffers) * sizeof(AudioBuffer);
    }

private:
    // PrepareBuffer's checks of a layout against the list block and memory,
    // raising its errors; a layout that fits is remembered in mFit.
    void CheckFit(const Layout& layout);
    // SetBufferList for every other count, and its error.
    void SetOtherBufferList(const AudioBufferList& abl);
    // One buffer's samples; the destination's byte size is its capacity, so
    // nothing is written past it. A buffer that is its own source, or has no
    // data on either side, only takes the size.
    static void CopyBufferContents(const AudioBuffer& src, AudioBuffer& dst) {
        UInt32 bytes = src.mDataByteSize;
        if (dst.mData != nullptr && src.mData != nullptr && dst.mData != src.mData) {
            if (dst.mDataByteSize < bytes) {
                bytes = dst.mDataByteSize;
            }
            std::memmove(dst.mData, src.mData, bytes);
        }
        dst.mDataByteSize = bytes;
    }

    // Out of line and cold, so that the inline operations stay small.
    [[noreturn, gnu::cold, gnu::noinline]] static void RaiseStatus(OSStatus status);

    // The layout PrepareBuffer last found to fit the block and memory: its
    // bytes per frame (0: none), the most streams that fit, and the step from
    // one buffer's data to the next (0 without memory: every entry is null).
    // Forgotten whenever the block or the memory changes.
    struct Fit {
        UInt32 bytesPerFrame = 0;
        UInt32 streams = 0;
        std::size_t step = 0;
    } mFit;
    UInt32 mPtrState = kPtrsInvalid;
    bool mExternalMemory = false;
    AudioBufferList* mPtrs = nullptr;
    Byte* mMemory = nullptr;
    UInt32 mAllocatedStreams = 0;
    UInt32 mAllocatedFrames = 0;
    UInt32 mAllocatedBytes = 0;
    // The own block set aside while the host's block is in use: kept, not
    // freed, so that nothing leaks and a later Allocate can reuse it.
    Byte* mSpareMemory = nullptr;
};
