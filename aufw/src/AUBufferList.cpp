#include "aufw/AUBufferList.h"

#include <AudioUnit/AUComponent.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// Like the BSD reallocf: a failed resize frees the old block, so a caller
// that only keeps the result never leaks it.
void* ReallocOrFree(void* block, size_t size) {
    void* resized = std::realloc(block, size);
    if (resized == nullptr) {
        std::free(block);
    }
    return resized;
}

UInt32 StreamCount(const CAStreamBasicDescription& format) {
    return format.ChannelStreamCount();
}

} // namespace

void AUBufferList::RaiseStatus(OSStatus status) {
    throw status;
}

void AUBufferList::CheckFit(const Layout& layout) {
    // Without a list block (never allocated) there is no header to fill.
    if (mPtrs == nullptr || layout.streams > mAllocatedStreams) {
        RaiseStatus(kAudioUnitErr_FormatNotSupported);
    }
    const uint64_t stride =
        (uint64_t(mAllocatedFrames) * layout.bytesPerFrame + 15) & ~uint64_t(15);
    if (uint64_t(layout.streams) * stride > mAllocatedBytes) {
        RaiseStatus(kAudioUnitErr_TooManyFramesToProcess);
    }
    const uint64_t fitting = stride == 0 ? mAllocatedStreams : mAllocatedBytes / stride;
    mFit = {layout.bytesPerFrame, UInt32(std::min<uint64_t>(fitting, mAllocatedStreams)),
            mMemory != nullptr ? std::size_t(stride) : 0};
}

void AUBufferList::SetOtherBufferList(const AudioBufferList& abl) {
    const UInt32 buffers = abl.mNumberBuffers;
    // Without a list block (never allocated) there is no header to fill.
    if (mPtrs == nullptr || buffers > mAllocatedStreams) {
        RaiseStatus(-1);
    }
    mPtrs->mNumberBuffers = buffers;
    for (UInt32 i = 0; i < buffers; ++i) {
        mPtrs->mBuffers[i] = abl.mBuffers[i];
    }
    mPtrState = kPtrsToExternalMemory;
}

AUBufferList::~AUBufferList() {
    Deallocate();
    std::free(mPtrs);
}

void AUBufferList::Allocate(const CAStreamBasicDescription& format, UInt32 nFrames) {
    mFit = {};
    // The memory may move below; nothing may keep pointing into it.
    mPtrState = kPtrsInvalid;

    const UInt32 streams = StreamCount(format);
    if (streams > mAllocatedStreams) {
        if (streams >= 0x10000000) {
            throw std::bad_alloc();
        }
        mPtrs = static_cast<AudioBufferList*>(ReallocOrFree(mPtrs, ListBytes(streams)));
        if (mPtrs == nullptr) {
            mAllocatedStreams = 0;
            throw std::bad_alloc();
        }
        mAllocatedStreams = streams;
    }

    const UInt32 bytesPerFrame = format.mBytesPerFrame;
    if (nFrames != 0 && bytesPerFrame != 0) {
        if (nFrames > (0x100000000ull - 16) / bytesPerFrame) {
            throw std::bad_alloc();
        }
        const UInt32 bytesPerStream = (nFrames * bytesPerFrame + 15) & ~UInt32(15);
        if (streams != 0 && bytesPerStream != 0 && streams > 0xFFFFFFFFu / bytesPerStream) {
            throw std::bad_alloc();
        }
        const UInt32 total = streams * bytesPerStream;
        if (total > mAllocatedBytes) {
            Byte* previous = mMemory;
            if (mExternalMemory) {
                // The host's block is never resized or freed; the own block
                // set aside for it becomes the starting point instead.
                mExternalMemory = false;
                previous = mSpareMemory;
                mSpareMemory = nullptr;
            }
            mMemory = static_cast<Byte*>(ReallocOrFree(previous, total));
            if (mMemory == nullptr) {
                mAllocatedBytes = 0;
                mAllocatedFrames = 0;
                throw std::bad_alloc();
            }
            mAllocatedBytes = total;
        }
    }

    mAllocatedFrames = nFrames;
    mPtrState = kPtrsInvalid;
}

void AUBufferList::Deallocate() {
    mFit = {};
    mAllocatedStreams = 0;
    mAllocatedFrames = 0;
    mAllocatedBytes = 0;
    if (mExternalMemory) {
        mExternalMemory = false;
    } else {
        std::free(mMemory);
    }
    std::free(mSpareMemory);
    mSpareMemory = nullptr;
    mMemory = nullptr;
    mPtrState = kPtrsInvalid;
}

void AUBufferList::UseExternalBuffer(const CAStreamBasicDescription& format,
                                     const AudioUnitExternalBuffer& buf) {
    // An element that needs no memory does not take the host's either.
    if (mMemory == nullptr) {
        return;
    }
    // Without a frame size the block cannot be divided into frames.
    const UInt32 streams = StreamCount(format);
    const uint64_t bytesPerFrameAllStreams = uint64_t(streams) * format.mBytesPerFrame;
    if (bytesPerFrameAllStreams == 0) {
        return;
    }
    // Each buffer starts on a 16-byte boundary, so the block is cut into
    // per-stream shares rounded down to 16 bytes: every frame counted here
    // can then be prepared (10000 bytes for two streams give 2 x 4992).
    const UInt32 alignedSize = streams * ((buf.size / streams) & ~UInt32(15));
    if (alignedSize < mAllocatedBytes) {
        return;
    }
    if (!mExternalMemory) {
        mSpareMemory = mMemory;
    }
    mFit = {};
    mMemory = buf.buffer;
    mAllocatedBytes = alignedSize;
    mAllocatedFrames = static_cast<UInt32>(alignedSize / bytesPerFrameAllStreams);
    mExternalMemory = true;
    mPtrState = kPtrsInvalid;
}

void AUBufferList::CopyBufferListTo(AudioBufferList& abl) const {
    if (mPtrState == kPtrsInvalid) {
        RaiseStatus(-1);
    }
    // The caller's list has room for its own count of entries; this list's
    // block has room for its allocated streams. Copy what both hold.
    const UInt32 callerBuffers = abl.mNumberBuffers;
    const UInt32 entries = std::min(callerBuffers, mAllocatedStreams);
    std::memcpy(&abl, mPtrs, ListBytes(entries));
    if (abl.mNumberBuffers > callerBuffers) {
        abl.mNumberBuffers = callerBuffers;
    }
}

void AUBufferList::ZeroBuffer(AudioBufferList& abl) {
    for (UInt32 i = 0; i < abl.mNumberBuffers; ++i) {
        AudioBuffer& buf = abl.mBuffers[i];
        if (buf.mData != nullptr) {
            std::memset(buf.mData, 0, buf.mDataByteSize);
        }
    }
}
