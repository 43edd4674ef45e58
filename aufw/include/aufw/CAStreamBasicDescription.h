// The one stream-format record of the framework: the platform's 40-byte
// description with derived quantities, text forms, a parser, wildcard
// comparison and a plausibility check. It adds no fields and no virtual
// operations, so it converts to and from the platform record byte for byte.
#pragma once

#include <CoreAudio/CoreAudioTypes.h>

#include <cstddef>
#include <cstring>

// Writes a printable form of a four-character code into writeLocation,
// which must hold at least 11 bytes: 'abcd' between apostrophes when all
// four characters are printable and none is a backslash, otherwise "0x"
// and eight upper-case hex digits. Returns writeLocation.
char* CAStringForOSType(OSType t, char* writeLocation);

class CAStreamBasicDescription : public AudioStreamBasicDescription {
public:
    // Needed by CAStringForOSType's callers and by AsString users that want
    // a buffer that always fits the fixed part of the text.
    static constexpr size_t kOSTypeStringSize = 11;

    static const AudioStreamBasicDescription sEmpty;
    static const char* sTextParsingUsageString;

    CAStreamBasicDescription() noexcept { ResetFormat(*this); }
    CAStreamBasicDescription(const AudioStreamBasicDescription& desc) noexcept { SetFrom(desc); }
    CAStreamBasicDescription(double inSampleRate, UInt32 inFormatID, UInt32 inBytesPerPacket,
                             UInt32 inFramesPerPacket, UInt32 inBytesPerFrame,
                             UInt32 inChannelsPerFrame, UInt32 inBitsPerChannel,
                             UInt32 inFormatFlags) noexcept;

    CAStreamBasicDescription& operator=(const AudioStreamBasicDescription& desc) noexcept {
        SetFrom(desc);
        return *this;
    }

    void SetFrom(const AudioStreamBasicDescription& desc) noexcept {
        std::memcpy(static_cast<AudioStreamBasicDescription*>(this), &desc, sizeof(desc));
    }

    // The unit's canonical format: native 32-bit float, one buffer per
    // channel unless interleaved is asked for.
    void SetAUCanonical(UInt32 nChannels, bool interleaved) noexcept;
    // Keeps the sample format and recomputes the frame sizes for nChannels.
    void ChangeNumberChannels(UInt32 nChannels, bool interleaved) noexcept;

    // ---- derived quantities
    bool IsLinearPCM() const noexcept { return mFormatID == kAudioFormatLinearPCM; }
    // A non-PCM format always counts as interleaved.
    bool IsInterleavedFormat() const noexcept {
        return !IsLinearPCM() || (mFormatFlags & kAudioFormatFlagIsNonInterleaved) == 0;
    }
    UInt32 NumberChannels() const noexcept { return mChannelsPerFrame; }
    // Channels in each buffer.
    UInt32 ChannelsPerStream() const noexcept {
        return IsInterleavedFormat() ? mChannelsPerFrame : 1;
    }
    // Buffers the format needs.
    UInt32 ChannelStreamCount() const noexcept {
        return IsInterleavedFormat() ? 1 : mChannelsPerFrame;
    }
    // Size of one sample word in bytes, 0 when it cannot be derived.
    UInt32 BytesPerSample() const noexcept {
        const UInt32 perStream = ChannelsPerStream();
        return (mBytesPerFrame > 0 && perStream > 0) ? mBytesPerFrame / perStream : 0;
    }
    bool PackednessIsSignificant() const noexcept {
        return BytesPerSample() * 8 != mBitsPerChannel;
    }
    bool AlignmentIsSignificant() const noexcept {
        return PackednessIsSignificant() || (mBitsPerChannel & 7) != 0;
    }
    UInt32 FractionBits() const noexcept {
        return (mFormatFlags & kLinearPCMFormatFlagsSampleFractionMask) >>
               kLinearPCMFormatFlagsSampleFractionShift;
    }
    UInt32 FramesToBytes(UInt32 nFrames) const noexcept { return nFrames * mBytesPerFrame; }

    // ---- text
    // One-line technical description. size is the buffer's size; the text
    // stops at the last piece that fits. Returns buf.
    char* AsString(char* buf, size_t size) const noexcept;

    // Human-readable name, always terminated within maxNameLength bytes.
    static void GetSimpleName(const AudioStreamBasicDescription& inDescription, char* outName,
                              UInt32 inMaxNameLength, bool inAbbreviate,
                              bool inIncludeSampleRate = false) noexcept;

    // Parses the compact syntax of sTextParsingUsageString. Reports
    // syntax errors on standard error and returns false.
    static bool FromText(const char* inTextDesc, AudioStreamBasicDescription& outDesc);

    // ---- normalisers
    static void NormalizeLinearPCMFormat(AudioStreamBasicDescription& ioDescription) noexcept;
    static void NormalizeLinearPCMFormat(bool inNativeEndian,
                                         AudioStreamBasicDescription& ioDescription) noexcept;
    static void ResetFormat(AudioStreamBasicDescription& outDescription) noexcept {
        std::memset(&outDescription, 0, sizeof(outDescription));
    }
    // Fills every zero (wildcard) field of ioDescription from the template.
    static void FillOutFormat(AudioStreamBasicDescription& ioDescription,
                              const AudioStreamBasicDescription& inTemplateDescription) noexcept;

    // ---- comparison
    bool IsEqual(const AudioStreamBasicDescription& other,
                 bool interpretingWildcards = true) const noexcept;
};

// Wildcard equality: a zero field on either side matches anything.
bool operator==(const AudioStreamBasicDescription& x,
                const AudioStreamBasicDescription& y) noexcept;
// Preference order; zero fields are skipped.
bool operator<(const AudioStreamBasicDescription& x, const AudioStreamBasicDescription& y) noexcept;

bool SanityCheck(const AudioStreamBasicDescription& x) noexcept;

static_assert(sizeof(CAStreamBasicDescription) == sizeof(AudioStreamBasicDescription),
              "the wrapper adds no fields");
