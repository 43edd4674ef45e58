#include "aufw/CAStreamBasicDescription.h"

const AudioStreamBasicDescription CAStreamBasicDescription::sEmpty = {0.0, 0, 0, 0, 0, 0, 0, 0, 0};

CAStreamBasicDescription::CAStreamBasicDescription(double inSampleRate, UInt32 inFormatID,
                                                   UInt32 inBytesPerPacket,
                                                   UInt32 inFramesPerPacket, UInt32 inBytesPerFrame,
                                                   UInt32 inChannelsPerFrame,
                                                   UInt32 inBitsPerChannel,
                                                   UInt32 inFormatFlags) noexcept {
    mSampleRate = inSampleRate;
    mFormatID = inFormatID;
    mBytesPerPacket = inBytesPerPacket;
    mFramesPerPacket = inFramesPerPacket;
    mBytesPerFrame = inBytesPerFrame;
    mChannelsPerFrame = inChannelsPerFrame;
    mBitsPerChannel = inBitsPerChannel;
    mFormatFlags = inFormatFlags;
    mReserved = 0;
}

void CAStreamBasicDescription::SetAUCanonical(UInt32 nChannels, bool interleaved) noexcept {
    mFormatID = kAudioFormatLinearPCM;
    mFormatFlags = interleaved ? UInt32(kAudioFormatFlagsCanonical)
                               : UInt32(kAudioFormatFlagsAudioUnitCanonical);
    mBitsPerChannel = 8 * sizeof(AudioUnitSampleType);
    mChannelsPerFrame = nChannels;
    mFramesPerPacket = 1;
    mBytesPerFrame = (interleaved ? nChannels : 1) * UInt32(sizeof(AudioUnitSampleType));
    mBytesPerPacket = mBytesPerFrame;
    mReserved = 0;
}

void CAStreamBasicDescription::ChangeNumberChannels(UInt32 nChannels, bool interleaved) noexcept {
    UInt32 wordSize = BytesPerSample();
    if (wordSize == 0) {
        wordSize = (mBitsPerChannel + 7) / 8;
    }
    mChannelsPerFrame = nChannels;
    mFramesPerPacket = 1;
    if (interleaved) {
        mBytesPerFrame = nChannels * wordSize;
        mFormatFlags &= ~UInt32(kAudioFormatFlagIsNonInterleaved);
    } else {
        mBytesPerFrame = wordSize;
        mFormatFlags |= kAudioFormatFlagIsNonInterleaved;
    }
    mBytesPerPacket = mBytesPerFrame;
}

void CAStreamBasicDescription::NormalizeLinearPCMFormat(
    AudioStreamBasicDescription& ioDescription) noexcept {
    NormalizeLinearPCMFormat(true, ioDescription);
}

void CAStreamBasicDescription::NormalizeLinearPCMFormat(
    bool inNativeEndian, AudioStreamBasicDescription& ioDescription) noexcept {
    // A non-mixable stream is passed through untouched: it must reach its
    // destination exactly as it is.
    if (ioDescription.mFormatID != kAudioFormatLinearPCM ||
        (ioDescription.mFormatFlags & kAudioFormatFlagIsNonMixable) != 0) {
        return;
    }
    ioDescription.mFormatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked;
    if (!inNativeEndian) {
        ioDescription.mFormatFlags |= kAudioFormatFlagIsBigEndian;
    }
    ioDescription.mBytesPerPacket = 4 * ioDescription.mChannelsPerFrame;
    ioDescription.mFramesPerPacket = 1;
    ioDescription.mBytesPerFrame = 4 * ioDescription.mChannelsPerFrame;
    ioDescription.mBitsPerChannel = 32;
}

void CAStreamBasicDescription::FillOutFormat(
    AudioStreamBasicDescription& ioDescription,
    const AudioStreamBasicDescription& inTemplateDescription) noexcept {
    auto fill = [](UInt32& field, UInt32 value) {
        if (field == 0) {
            field = value;
        }
    };
    if (ioDescription.mSampleRate == 0.0) {
        ioDescription.mSampleRate = inTemplateDescription.mSampleRate;
    }
    fill(ioDescription.mFormatID, inTemplateDescription.mFormatID);
    fill(ioDescription.mFormatFlags, inTemplateDescription.mFormatFlags);
    fill(ioDescription.mBytesPerPacket, inTemplateDescription.mBytesPerPacket);
    fill(ioDescription.mFramesPerPacket, inTemplateDescription.mFramesPerPacket);
    fill(ioDescription.mBytesPerFrame, inTemplateDescription.mBytesPerFrame);
    fill(ioDescription.mChannelsPerFrame, inTemplateDescription.mChannelsPerFrame);
    fill(ioDescription.mBitsPerChannel, inTemplateDescription.mBitsPerChannel);
}

bool CAStreamBasicDescription::IsEqual(const AudioStreamBasicDescription& other,
                                       bool interpretingWildcards) const noexcept {
    if (interpretingWildcards) {
        return *this == other;
    }
    // Everything but the reserved word, which is never compared.
    return std::memcmp(static_cast<const AudioStreamBasicDescription*>(this), &other,
                       offsetof(AudioStreamBasicDescription, mReserved)) == 0;
}

namespace {

bool MatchesWildcard(UInt32 x, UInt32 y) {
    return x == 0 || y == 0 || x == y;
}

// Removes the flag differences that do not change how samples are read.
void NormalizeFlagsForComparison(const AudioStreamBasicDescription& x,
                                 const AudioStreamBasicDescription& y, UInt32& xFlags,
                                 UInt32& yFlags) {
    xFlags = x.mFormatFlags & ~UInt32(kAudioFormatFlagsAreAllClear);
    yFlags = y.mFormatFlags & ~UInt32(kAudioFormatFlagsAreAllClear);
    const bool xPacked = (xFlags & kAudioFormatFlagIsPacked) != 0;
    const bool yPacked = (yFlags & kAudioFormatFlagIsPacked) != 0;
    if (xPacked && yPacked) {
        xFlags &= ~UInt32(kAudioFormatFlagIsAlignedHigh);
        yFlags &= ~UInt32(kAudioFormatFlagIsAlignedHigh);
    }
    if ((xFlags & kAudioFormatFlagIsFloat) != 0 && (yFlags & kAudioFormatFlagIsFloat) != 0) {
        xFlags &= ~UInt32(kAudioFormatFlagIsSignedInteger);
        yFlags &= ~UInt32(kAudioFormatFlagIsSignedInteger);
    }
    // Byte order means nothing for single-byte samples.
    if (xPacked && x.mBitsPerChannel <= 8) {
        xFlags &= ~UInt32(kAudioFormatFlagIsBigEndian);
    }
    if (yPacked && y.mBitsPerChannel <= 8) {
        yFlags &= ~UInt32(kAudioFormatFlagIsBigEndian);
    }
    // Interleaving means nothing for one channel.
    if (x.mChannelsPerFrame == 1 && y.mChannelsPerFrame == 1) {
        xFlags &= ~UInt32(kAudioFormatFlagIsNonInterleaved);
        yFlags &= ~UInt32(kAudioFormatFlagIsNonInterleaved);
    }
}

} // namespace

bool operator==(const AudioStreamBasicDescription& x,
                const AudioStreamBasicDescription& y) noexcept {
    if (x.mSampleRate != 0.0 && y.mSampleRate != 0.0 && x.mSampleRate != y.mSampleRate) {
        return false;
    }
    if (!MatchesWildcard(x.mFormatID, y.mFormatID)) {
        return false;
    }
    if (x.mFormatID != 0 && y.mFormatID != 0 && x.mFormatFlags != 0 && y.mFormatFlags != 0) {
        if (x.mFormatID == kAudioFormatLinearPCM) {
            UInt32 xFlags = 0;
            UInt32 yFlags = 0;
            NormalizeFlagsForComparison(x, y, xFlags, yFlags);
            if (xFlags != yFlags) {
                return false;
            }
        } else if (x.mFormatFlags != y.mFormatFlags) {
            return false;
        }
    }
    return MatchesWildcard(x.mBytesPerPacket, y.mBytesPerPacket) &&
           MatchesWildcard(x.mFramesPerPacket, y.mFramesPerPacket) &&
           MatchesWildcard(x.mBytesPerFrame, y.mBytesPerFrame) &&
           MatchesWildcard(x.mChannelsPerFrame, y.mChannelsPerFrame) &&
           MatchesWildcard(x.mBitsPerChannel, y.mBitsPerChannel);
}

bool operator<(const AudioStreamBasicDescription& x,
               const AudioStreamBasicDescription& y) noexcept {
    if (x.mFormatID != 0 && y.mFormatID != 0 && x.mFormatID != y.mFormatID) {
        // Linear PCM is preferred over every encoded format.
        if (x.mFormatID == kAudioFormatLinearPCM) {
            return true;
        }
        if (y.mFormatID == kAudioFormatLinearPCM) {
            return false;
        }
        return x.mFormatID < y.mFormatID;
    }
    const bool bothPCM =
        x.mFormatID == kAudioFormatLinearPCM && y.mFormatID == kAudioFormatLinearPCM;
    if (bothPCM) {
        const bool xMixable = (x.mFormatFlags & kAudioFormatFlagIsNonMixable) == 0;
        const bool yMixable = (y.mFormatFlags & kAudioFormatFlagIsNonMixable) == 0;
        if (xMixable != yMixable) {
            return xMixable;
        }
        const bool xFloat = (x.mFormatFlags & kAudioFormatFlagIsFloat) != 0;
        const bool yFloat = (y.mFormatFlags & kAudioFormatFlagIsFloat) != 0;
        if (xFloat != yFloat) {
            return yFloat;
        }
    }
    if (x.mBitsPerChannel != 0 && y.mBitsPerChannel != 0 &&
        x.mBitsPerChannel != y.mBitsPerChannel) {
        return x.mBitsPerChannel < y.mBitsPerChannel;
    }
    if (x.mSampleRate != 0.0 && y.mSampleRate != 0.0 && x.mSampleRate != y.mSampleRate) {
        return x.mSampleRate < y.mSampleRate;
    }
    if (x.mChannelsPerFrame != 0 && y.mChannelsPerFrame != 0 &&
        x.mChannelsPerFrame != y.mChannelsPerFrame) {
        return x.mChannelsPerFrame < y.mChannelsPerFrame;
    }
    return false;
}

bool SanityCheck(const AudioStreamBasicDescription& x) noexcept {
    // Written so that a NaN sample rate fails too.
    if (!(x.mSampleRate >= 0.0 && x.mSampleRate < 3000000.0)) {
        return false;
    }
    if (x.mBytesPerPacket > 999999 || x.mFramesPerPacket > 999999 || x.mBytesPerFrame > 999999) {
        return false;
    }
    if (x.mChannelsPerFrame > 1024 || x.mBitsPerChannel > 1024) {
        return false;
    }
    if (x.mFormatID == 0) {
        return false;
    }
    if (x.mFormatID != kAudioFormatLinearPCM) {
        return true;
    }
    return x.mBytesPerPacket == x.mBytesPerFrame && x.mFramesPerPacket == 1;
}
