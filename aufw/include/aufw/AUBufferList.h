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
        // Without a list block (never allocated) there is no header to fill.
        if (mPtrs == nullptr || layout.streams > mAllocatedStreams) {
            RaiseStatus(kAudioUnitErr_FormatNotSupported);
        }
        const std::uint64_t stride =
            (std::uint64_t(mAllocatedFrames) * layout.bytesPerFrame + 15) & ~std::uint64_t(15);
        // Checked before the header is touched: a list that does not fit is
        // never handed out, so its entries need no check of their own.
        if (std::uint64_t(layout.streams) * stride > mAllocatedBytes) {
            RaiseStatus(kAudioUnitErr_TooManyFramesToProcess);
        }
        const UInt32 byteSize = nFrames * layout.bytesPerFrame;
        AudioBufferList& abl = *mPtrs;
        abl.mNumberBuffers = layout.streams;
        // Without memory (no frames were allocated) every entry is null.
        Byte* data = mMemory;
        const std::size_t step = data != nullptr ? std::size_t(stride) : 0;
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
    // has more buffers than the list holds. Entry by entry: a header is a few
    // words, fewer than the call to a general copy costs.
    void SetBufferList(const AudioBufferList& abl) {
        const UInt32 buffers = abl.mNumberBuffers;
        if (mPtrs == nullptr || buffers > mAllocatedStreams) {
            RaiseStatus(-1);
        }
        mPtrs->mNumberBuffers = buffers;
        AudioBuffer* to = mPtrs->mBuffers;
        const AudioBuffer* from = abl.mBuffers;
        if (buffers <= 2) {
            // Mono and stereo, spelled out: as a loop the compiler turns the
            // copy back into a library call.
            if (buffers > 0) {
                to[0] = from[0];
            }
            if (buffers > 1) {
                to[1] = from[1];
            }
        } else {
            for (UInt32 i = 0; i < buffers; ++i) {
                to[i] = from[i];
            }
        }
        mPtrState = kPtrsToExternalMemory;
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
    // One buffer's samples; the destination's byte size is its capacity, so
    // nothing is written past it. A buffer that is its own source, or has no
    // data on either side, only takes the size.
    static void CopyBufferContents(const AudioBuffer& src, AudioBuffer& dst) {
        UInt32 bytes = src.mDataByteSize;
        if (dst.mData != src.mData && dst.mData != nullptr && src.mData != nullptr) {
            if (dst.mDataByteSize < bytes) {
                bytes = dst.mDataByteSize;
            }
            std::memmove(dst.mData, src.mData, bytes);
        }
        dst.mDataByteSize = bytes;
    }

    // Out of line and cold, so that the inline operations stay small.
    [[noreturn, gnu::cold, gnu::noinline]] static void RaiseStatus(OSStatus status);

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
