// Text forms of stream formats: printing and the compact parser.
#include "aufw/CAStreamBasicDescription.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>

const char* CAStreamBasicDescription::sTextParsingUsageString =
    "format[@sample_rate_hz][/format_flags][#frames_per_packet][:LHbytesPerFrame][,"
    "channelsDI].\n"
    "Format for PCM is [-][BE|LE]{F|I|UI}{bitdepth}; else a 4-char format code (e.g. aac, "
    "alac).\n";

char* CAStringForOSType(OSType t, char* writeLocation) {
    const unsigned char chars[4] = {
        static_cast<unsigned char>(t >> 24), static_cast<unsigned char>(t >> 16),
        static_cast<unsigned char>(t >> 8), static_cast<unsigned char>(t)};
    bool readable = true;
    for (unsigned char c : chars) {
        // A backslash would read as an escape in the text syntax.
        if (!std::isprint(c) || c == '\\') {
            readable = false;
        }
    }
    if (readable) {
        std::snprintf(writeLocation, CAStreamBasicDescription::kOSTypeStringSize, "'%c%c%c%c'",
                      chars[0], chars[1], chars[2], chars[3]);
    } else {
        std::snprintf(writeLocation, CAStreamBasicDescription::kOSTypeStringSize,
                      "0x%02X%02X%02X%02X", chars[0], chars[1], chars[2], chars[3]);
    }
    return writeLocation;
}

namespace {

// Appends printf-style pieces to a fixed buffer. Once a piece does not fit
// the writer stops for good, leaving the text up to that piece (cut at the
// buffer's end) terminated.
class PieceWriter {
public:
    PieceWriter(char* buf, size_t size) : mCursor(buf), mRemaining(static_cast<long>(size)) {}

    bool Done() const { return mRemaining <= 0; }

    __attribute__((format(printf, 2, 3))) void Append(const char* format, ...) {
        if (Done()) {
            return;
        }
        va_list args;
        va_start(args, format);
        const int written = std::vsnprintf(mCursor, static_cast<size_t>(mRemaining), format, args);
        va_end(args);
        if (written < 0 || written >= mRemaining) {
            mRemaining = 0;
            return;
        }
        mCursor += written;
        mRemaining -= written;
    }

private:
    char* mCursor;
    long mRemaining;
};

} // namespace

char* CAStreamBasicDescription::AsString(char* buf, size_t size) const noexcept {
    if (buf == nullptr || size == 0) {
        return buf;
    }
    buf[0] = '\0';
    PieceWriter out(buf, size);
    char formatID[kOSTypeStringSize];
    CAStringForOSType(mFormatID, formatID);
    out.Append("%2d ch, %6.0f Hz, %s (0x%08X) ", static_cast<int>(mChannelsPerFrame), mSampleRate,
               formatID, static_cast<unsigned>(mFormatFlags));
    if (out.Done()) {
        return buf;
    }

    if (mFormatID == kAudioFormatLinearPCM) {
        const UInt32 wordSize = BytesPerSample();
        const bool isFloat = (mFormatFlags & kAudioFormatFlagIsFloat) != 0;
        const char* endian = "";
        if (wordSize > 1) {
            endian =
                (mFormatFlags & kAudioFormatFlagIsBigEndian) ? " big-endian" : " little-endian";
        }
        const char* sign = "";
        if (!isFloat) {
            sign = (mFormatFlags & kAudioFormatFlagIsSignedInteger) ? " signed" : " unsigned";
        }
        const char* kind = isFloat ? "float" : "integer";
        char packing[32] = "";
        if (wordSize > 0 && PackednessIsSignificant()) {
            std::snprintf(packing, sizeof(packing),
                          (mFormatFlags & kAudioFormatFlagIsPacked) ? "packed in %d bytes"
                                                                    : "unpacked in %d bytes",
                          static_cast<int>(wordSize));
        }
        const char* align = "";
        if (wordSize > 0 && AlignmentIsSignificant()) {
            align =
                (mFormatFlags & kAudioFormatFlagIsAlignedHigh) ? " high-aligned" : " low-aligned";
        }
        const char* deinterleave =
            (mFormatFlags & kAudioFormatFlagIsNonInterleaved) ? ", deinterleaved" : "";
        const char* separator = (packing[0] != '\0' || align[0] != '\0') ? ", " : "";
        char bitDepth[32];
        const UInt32 fraction = FractionBits();
        if (fraction > 0) {
            // Subtracted unsigned: a parsed depth of 2^31 or more must not
            // overflow; the printed value is the same 32-bit one.
            std::snprintf(bitDepth, sizeof(bitDepth), "%d.%d",
                          static_cast<int>(mBitsPerChannel - fraction), static_cast<int>(fraction));
        } else {
            std::snprintf(bitDepth, sizeof(bitDepth), "%d", static_cast<int>(mBitsPerChannel));
        }
        out.Append("%s-bit%s%s %s%s%s%s%s", bitDepth, endian, sign, kind, separator, packing, align,
                   deinterleave);
    } else if (mFormatID == kAudioFormatAppleLossless) {
        int sourceBits = 0;
        switch (mFormatFlags) {
        case kAppleLosslessFormatFlag_16BitSourceData:
            sourceBits = 16;
            break;
        case kAppleLosslessFormatFlag_20BitSourceData:
            sourceBits = 20;
            break;
        case kAppleLosslessFormatFlag_24BitSourceData:
            sourceBits = 24;
            break;
        case kAppleLosslessFormatFlag_32BitSourceData:
            sourceBits = 32;
            break;
        default:
            break;
        }
        if (sourceBits != 0) {
            out.Append("from %d-bit source, ", sourceBits);
        } else {
            out.Append("from UNKNOWN source bit depth, ");
        }
        out.Append("%d frames/packet", static_cast<int>(mFramesPerPacket));
    } else {
        out.Append("%d bits/channel, %d bytes/packet, %d frames/packet, %d bytes/frame",
                   static_cast<int>(mBitsPerChannel), static_cast<int>(mBytesPerPacket),
                   static_cast<int>(mFramesPerPacket), static_cast<int>(mBytesPerFrame));
    }
    return buf;
}

void CAStreamBasicDescription::GetSimpleName(const AudioStreamBasicDescription& inDescription,
                                             char* outName, UInt32 inMaxNameLength,
                                             bool inAbbreviate, bool inIncludeSampleRate) noexcept {
    // Every write is bounded by the caller's length: a name that does not fit
    // is cut, and the result is always terminated.
    if (outName == nullptr || inMaxNameLength == 0) {
        return;
    }
    outName[0] = '\0';
    size_t remaining = inMaxNameLength;
    if (inIncludeSampleRate) {
        const int written = std::snprintf(outName, remaining, "%.0f ", inDescription.mSampleRate);
        if (written < 0) {
            return;
        }
        const size_t used = std::min(static_cast<size_t>(written), remaining - 1);
        outName += used;
        remaining -= used;
        if (remaining <= 1) {
            return;
        }
    }

    const UInt32 formatID = inDescription.mFormatID;
    if (formatID == kAudioFormatAC3) {
        std::snprintf(outName, remaining, "%s", "AC-3");
        return;
    }
    if (formatID == kAudioFormat60958AC3) {
        std::snprintf(outName, remaining, "%s", "AC-3 for SPDIF");
        return;
    }
    if (formatID != kAudioFormatLinearPCM) {
        std::snprintf(outName, remaining, "%c%c%c%c", static_cast<char>(formatID >> 24),
                      static_cast<char>(formatID >> 16), static_cast<char>(formatID >> 8),
                      static_cast<char>(formatID));
        return;
    }

    const UInt32 flags = inDescription.mFormatFlags;
    const char* endian = (flags & kAudioFormatFlagIsBigEndian) ? "Big Endian" : nullptr;
    const char* kind = nullptr;
    if (flags & kAudioFormatFlagIsFloat) {
        kind = inAbbreviate ? "Float" : "Floating Point";
    } else if (flags & kAudioFormatFlagIsSignedInteger) {
        kind = inAbbreviate ? "SInt" : "Signed Integer";
    } else {
        kind = inAbbreviate ? "UInt" : "Unsigned Integer";
    }
    const char* packing = nullptr;
    if ((flags & kAudioFormatFlagIsPacked) == 0) {
        packing = (flags & kAudioFormatFlagIsAlignedHigh) ? "High" : "Low";
    }
    const char* mixability = (flags & kAudioFormatFlagIsNonMixable) ? "Unmixable" : "Mixable";
    const int channels = static_cast<int>(inDescription.mChannelsPerFrame);
    const int bits = static_cast<int>(inDescription.mBitsPerChannel);
    // Without channels the container width is unknown; it prints as 0.
    const int containerBits =
        channels > 0
            ? static_cast<int>(inDescription.mBytesPerFrame / inDescription.mChannelsPerFrame * 8)
            : 0;

    if (!inAbbreviate) {
        if (endian != nullptr) {
            if (packing == nullptr) {
                std::snprintf(outName, remaining, "%s %d Channel %d Bit %s %s", mixability,
                              channels, bits, endian, kind);
            } else {
                std::snprintf(outName, remaining,
                              "%s %d Channel %d Bit %s %s Aligned %s in %d Bits", mixability,
                              channels, bits, endian, kind, packing, containerBits);
            }
        } else if (packing == nullptr) {
            std::snprintf(outName, remaining, "%s %d Channel %d Bit %s", mixability, channels, bits,
                          kind);
        } else {
            std::snprintf(outName, remaining, "%s %d Channel %d Bit %s Aligned %s in %d Bits",
                          mixability, channels, bits, kind, packing, containerBits);
        }
    } else if (endian != nullptr) {
        if (packing != nullptr) {
            std::snprintf(outName, remaining, "%s %d Ch %s %s %s%d/%s%d", mixability, channels,
                          endian, packing, kind, bits, kind, containerBits);
        } else {
            std::snprintf(outName, remaining, "%s %d Ch %s %s%d", mixability, channels, endian,
                          kind, bits);
        }
    } else if (packing != nullptr) {
        std::snprintf(outName, remaining, "%s %d Ch %s %s%d/%s%d", mixability, channels, packing,
                      kind, bits, kind, containerBits);
    } else {
        std::snprintf(outName, remaining, "%s %d Ch %s%d", mixability, channels, kind, bits);
    }
}

namespace {

// The C library's digit classes depend on the locale and are undefined for
// negative chars; the syntax only knows ASCII.
bool IsDecimalDigit(char c) {
    return c >= '0' && c <= '9';
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// Reads a run of decimal digits; the value wraps instead of overflowing.
UInt32 ReadDecimal(const char*& p) {
    UInt32 value = 0;
    while (IsDecimalDigit(*p)) {
        value = value * 10 + static_cast<UInt32>(*p - '0');
        ++p;
    }
    return value;
}

// Reads the two characters after a "\x" as the C library's "%02X" would,
// but never looks beyond them (so never past the terminator).
bool ReadEscapedByte(const char* digits, unsigned char& outByte) {
    if (digits[0] == '\0' || digits[1] == '\0') {
        return false;
    }
    const char pair[3] = {digits[0], digits[1], '\0'};
    unsigned int value = 0;
    if (std::sscanf(pair, "%02X", &value) != 1) {
        return false;
    }
    outByte = static_cast<unsigned char>(value);
    return true;
}

// Reads a four-character code from the start of the text. A terminator as
// the fourth character, or a field introducer there, stands for a space and
// is left unread.
bool ReadFormatCode(const char*& p, UInt32& outCode) {
    unsigned char code[4] = {0, 0, 0, 0};
    for (int i = 0; i < 4; ++i) {
        if (*p == '\\') {
            if (p[1] != 'x' || !ReadEscapedByte(p + 2, code[i])) {
                return false;
            }
            p += 4;
        } else if (*p == '\0') {
            if (i < 3) {
                return false;
            }
            code[i] = ' ';
        } else if (i == 3 && (*p == '-' || *p == '@' || *p == '/' || *p == '#')) {
            code[i] = ' ';
        } else {
            code[i] = static_cast<unsigned char>(*p);
            ++p;
        }
    }
    outCode = (UInt32(code[0]) << 24) | (UInt32(code[1]) << 16) | (UInt32(code[2]) << 8) |
              UInt32(code[3]);
    return true;
}

bool ReportSyntaxError(const char* text) {
    std::fprintf(stderr, "Invalid format string: %s\n", text);
    std::fprintf(stderr, "Syntax of format strings is: \n");
    return false;
}

} // namespace

bool CAStreamBasicDescription::FromText(const char* inTextDesc,
                                        AudioStreamBasicDescription& outDesc) {
    ResetFormat(outDesc);
    if (inTextDesc == nullptr) {
        return false;
    }
    const char* p = inTextDesc;

    // Sample format of linear PCM: [-][BE|LE]{F|I|UI}.
    if (*p == '-') {
        ++p;
    }
    UInt32 pcmFlags = kAudioFormatFlagIsPacked | kAudioFormatFlagIsSignedInteger;
    if (p[0] == 'B' && p[1] == 'E') {
        pcmFlags |= kAudioFormatFlagIsBigEndian;
        p += 2;
    } else if (p[0] == 'L' && p[1] == 'E') {
        p += 2;
    }
    bool isPCM = false;
    if (*p == 'F') {
        pcmFlags = (pcmFlags & ~UInt32(kAudioFormatFlagIsSignedInteger)) | kAudioFormatFlagIsFloat;
        ++p;
        isPCM = true;
    } else {
        if (*p == 'U') {
            pcmFlags &= ~UInt32(kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsFloat);
            ++p;
        }
        if (*p == 'I') {
            ++p;
            isPCM = true;
        }
    }

    if (!isPCM) {
        p = inTextDesc;
        if (!ReadFormatCode(p, outDesc.mFormatID)) {
            return false;
        }
    } else {
        outDesc.mFormatID = kAudioFormatLinearPCM;
        outDesc.mFormatFlags = pcmFlags;
        outDesc.mFramesPerPacket = 1;
        outDesc.mChannelsPerFrame = 1;
        UInt32 bitDepth = ReadDecimal(p);
        if (*p == '.') {
            ++p;
            if (!IsDecimalDigit(*p)) {
                std::fprintf(stderr, "Expected fractional bits following '.'\n");
                return ReportSyntaxError(inTextDesc);
            }
            const UInt32 fractionBits = ReadDecimal(p);
            bitDepth += fractionBits;
            outDesc.mFormatFlags |= (fractionBits << kLinearPCMFormatFlagsSampleFractionShift) &
                                    kLinearPCMFormatFlagsSampleFractionMask;
        }
        outDesc.mBitsPerChannel = bitDepth;
        outDesc.mBytesPerFrame = outDesc.mBytesPerPacket = (bitDepth + 7) / 8;
        if (bitDepth % 8 != 0) {
            outDesc.mFormatFlags &= ~UInt32(kAudioFormatFlagIsPacked);
            outDesc.mFormatFlags |= kAudioFormatFlagIsAlignedHigh;
        }
    }

    if (*p == '@') {
        ++p;
        double rate = 0.0;
        while (IsDecimalDigit(*p)) {
            rate = rate * 10.0 + (*p - '0');
            ++p;
        }
        outDesc.mSampleRate = rate;
    }
    if (*p == '/') {
        ++p;
        UInt32 flags = 0;
        for (int digit = HexDigitValue(*p); digit >= 0; digit = HexDigitValue(*p)) {
            flags = (flags << 4) | static_cast<UInt32>(digit);
            ++p;
        }
        outDesc.mFormatFlags = flags;
    }
    if (*p == '#') {
        ++p;
        outDesc.mFramesPerPacket = ReadDecimal(p);
    }
    if (*p == ':') {
        ++p;
        outDesc.mFormatFlags &= ~UInt32(kAudioFormatFlagIsPacked);
        if (*p == 'H') {
            outDesc.mFormatFlags |= kAudioFormatFlagIsAlignedHigh;
        } else if (*p == 'L') {
            outDesc.mFormatFlags &= ~UInt32(kAudioFormatFlagIsAlignedHigh);
        } else {
            return ReportSyntaxError(inTextDesc);
        }
        ++p;
        outDesc.mBytesPerFrame = outDesc.mBytesPerPacket = ReadDecimal(p);
    }
    if (*p == ',') {
        ++p;
        outDesc.mChannelsPerFrame = ReadDecimal(p);
        if (*p == 'D') {
            if (outDesc.mFormatID != kAudioFormatLinearPCM) {
                std::fprintf(stderr, "non-interleaved flag invalid for non-PCM formats\n");
                return ReportSyntaxError(inTextDesc);
            }
            ++p;
            outDesc.mFormatFlags |= kAudioFormatFlagIsNonInterleaved;
        } else {
            if (*p == 'I') {
                ++p;
            }
            if (outDesc.mFormatID == kAudioFormatLinearPCM) {
                outDesc.mBytesPerFrame *= outDesc.mChannelsPerFrame;
                outDesc.mBytesPerPacket *= outDesc.mChannelsPerFrame;
            }
        }
    }
    if (*p != '\0') {
        std::fprintf(stderr, "extra characters at end of format string: %s\n", p);
        return ReportSyntaxError(inTextDesc);
    }
    return true;
}
