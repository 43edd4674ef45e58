// The audio memory of one I/O element and the platform buffer list that
// points into it. The memory is the list's own, none at all (null data
// pointers for a source that renders into its own buffers), or a block
// handed in by the host.
#pragma once

#include "aufw/CAStreamBasicDescription.h"

#include <AudioUnit/AudioUnitProperties.h>
#include <CoreAudio/CoreAudioTypes.h>

class AUBufferList {
public:
    // What the prepared list points at.
    enum PtrState : UInt32 {
        kPtrsInvalid = 0,
        kPtrsToMyMemory = 1,
        kPtrsToExternalMemory = 2, // null data pointers or the caller's buffers
    };

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
    AudioBufferList& PrepareBuffer(const CAStreamBasicDescription& format, UInt32 nFrames);
    AudioBufferList& PrepareNullBuffer(const CAStreamBasicDescription& format, UInt32 nFrames);

    // Lays the host's block under the list in place of the own memory when
    // it is large enough; otherwise does nothing. The block is used in equal
    // per-buffer shares rounded down to 16 bytes; its address must be
    // 16-byte aligned.
    void UseExternalBuffer(const CAStreamBasicDescription& format,
                           const AudioUnitExternalBuffer& buf);

    // The current list; raises -1 when it is not prepared.
    AudioBufferList& GetBufferList() const;
    // Makes the list describe the caller's buffers; raises -1 when the caller
    // has more buffers than the list holds.
    void SetBufferList(const AudioBufferList& abl);
    // Points the caller's entries into this list's memory; raises -1 when
    // the list is not prepared.
    void CopyBufferListTo(AudioBufferList& abl) const;
    // Copies the samples into the caller's buffers; the last buffer of this
    // list feeds any further destinations. Raises -1 when not prepared.
    void CopyBufferContentsTo(AudioBufferList& abl) const;
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
