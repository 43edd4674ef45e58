// The compact stream-format text syntax: what each form yields, what each
// malformed form reports. (Arbitrary and over-long text: fuzz_format_text.)
#include "aufw/CAStreamBasicDescription.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

const std::string kCommon(const std::string& text) {
    return "Invalid format string: " + text + "\nSyntax of format strings is: \n";
}

struct ParseResult {
    bool ok;
    CAStreamBasicDescription desc;
    std::string err;
};

ParseResult Parse(const char* text) {
    ParseResult r{};
    // A poisoned starting value shows that the parser resets every field.
    std::memset(static_cast<AudioStreamBasicDescription*>(&r.desc), 0xA5, sizeof(r.desc));
    CaptureStderr();
    r.ok = CAStreamBasicDescription::FromText(text, r.desc);
    r.err = GetCapturedStderr();
    return r;
}

constexpr UInt32 kPCM = kAudioFormatLinearPCM;

// Every field of the result, so a row fails on any field the parser gets wrong.
struct Accepted {
    const char* text;
    double rate;
    UInt32 id, flags, bits, bytesPerFrame, bytesPerPacket, framesPerPacket, channels;
};

const Accepted kAccepted[] = {
    // PCM: float, integer depths, byte order, alignment and packing.
    {"F32@44100,2", 44100, kPCM, 0x9, 32, 8, 8, 1, 2},
    {"BEI24", 0, kPCM, 0xE, 24, 3, 3, 1, 1},
    {"I20", 0, kPCM, 0x14, 20, 3, 3, 1, 1}, // signed, aligned high, not packed
    {"I20:L4", 0, kPCM, 0x4, 20, 4, 4, 1, 1},
    {"I24:H4", 0, kPCM, 0x14, 24, 4, 4, 1, 1},
    {"LEI16", 0, kPCM, 0xC, 16, 2, 2, 1, 1},
    {"UI8", 0, kPCM, 0x8, 8, 1, 1, 1, 1}, // packed, unsigned
    {"-BEF64@96000", 96000, kPCM, 0xB, 64, 8, 8, 1, 1},
    // Fixed point: the fraction bits add to the depth and go into the flags;
    // one too large for its six-bit field stays inside the field.
    {"I8.24", 0, kPCM, 0xC0C, 32, 4, 4, 1, 1},
    {"I1.65", 0, kPCM, 0x94, 66, 9, 9, 1, 1},
    // Flags, frames and channel layouts.
    {"I16#4", 0, kPCM, 0xC, 16, 2, 2, 4, 1},
    {"F32/29,2D", 0, kPCM, 0x29, 32, 4, 4, 1, 2}, // one buffer per channel
    {"I16/aB", 0, kPCM, 0xAB, 16, 2, 2, 1, 1},
    {"I16,6I", 0, kPCM, 0xC, 16, 12, 12, 1, 6},
    {"F32@48000/9#1:L4,2", 48000, kPCM, 0x1, 32, 8, 8, 1, 2}, // ":L" clears packed
    // Missing digits read as zero.
    {"F32@", 0, kPCM, 0x9, 32, 4, 4, 1, 1},
    {"I16#,2", 0, kPCM, 0xC, 16, 4, 4, 0, 2},
    {"I16,", 0, kPCM, 0xC, 16, 0, 0, 1, 0},
    {"F", 0, kPCM, 0x9, 0, 0, 0, 1, 1},
    // Four-character codes; only PCM sizes follow the channels.
    {"aac", 0, kAudioFormatMPEG4AAC, 0, 0, 0, 0, 0, 0},
    {"aac@44100", 44100, kAudioFormatMPEG4AAC, 0, 0, 0, 0, 0, 0},
    {"aac @44100", 44100, kAudioFormatMPEG4AAC, 0, 0, 0, 0, 0, 0},
    {"alac,2", 0, kAudioFormatAppleLossless, 0, 0, 0, 0, 0, 2},
    {"ima4#64,1", 0, kAudioFormatAppleIMA4, 0, 0, 0, 0, 64, 1},
    {"ac-3/1", 0, kAudioFormatAC3, 1, 0, 0, 0, 0, 0},
    {"\\x01abc", 0, 0x01616263, 0, 0, 0, 0, 0, 0},
    {"\\x7f\\x00\\xFF\\x20", 0, 0x7F00FF20, 0, 0, 0, 0, 0, 0},
    {"\xC3\xA9xy", 0, 0xC3A97879, 0, 0, 0, 0, 0, 0},
    // A leading minus belongs to the code when the text is not PCM, and
    // letters that merely start like PCM fall back to a code.
    {"-abc", 0, 0x2D616263, 0, 0, 0, 0, 0, 0},
    {"BEEF", 0, 0x42454546, 0, 0, 0, 0, 0, 0},
    {"Uxyz", 0, 0x5578797A, 0, 0, 0, 0, 0, 0},
};

TEST(FormatFromText, AcceptedForms) {
    for (const Accepted& a : kAccepted) {
        SCOPED_TRACE(a.text);
        const auto r = Parse(a.text);
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.err, "");
        const auto& d = r.desc;
        EXPECT_EQ(std::tuple(d.mSampleRate, d.mFormatID, d.mFormatFlags, d.mBitsPerChannel,
                             d.mBytesPerFrame, d.mBytesPerPacket, d.mFramesPerPacket,
                             d.mChannelsPerFrame, d.mReserved),
                  std::tuple(a.rate, a.id, a.flags, a.bits, a.bytesPerFrame, a.bytesPerPacket,
                             a.framesPerPacket, a.channels, 0u));
    }
    EXPECT_EQ(Parse("I8.24").desc.FractionBits(), 24u);
    EXPECT_EQ(Parse("I1.65").desc.FractionBits(), 65u & 0x3F);
    EXPECT_TRUE(Parse("F32@44100,2").desc.IsInterleavedFormat());
    EXPECT_FALSE(Parse("F32/29,2D").desc.IsInterleavedFormat());
}

TEST(FormatFromText, Rejected) {
    // An unreadable code fails silently.
    for (const char* text :
         {"", "a", "ab", "LE", "\\", "\\y123", "\\x", "\\x1", "\\xg1ab", "ab\\x", "abc\\x0"}) {
        SCOPED_TRACE(text);
        auto r = Parse(text);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.err, "");
    }
    EXPECT_FALSE(
        CAStreamBasicDescription::FromText(nullptr, *std::make_unique<CAStreamBasicDescription>()));

    // Everything else names the problem, then prints the two common lines.
    const std::string extra = "extra characters at end of format string: ";
    struct Reported {
        const char* text;
        std::string first;
    };
    const Reported reported[] = {
        {"aac,2", extra + "2\n"},
        {"alac,2D", "non-interleaved flag invalid for non-PCM formats\n"},
        {"F32x", extra + "x\n"},
        {"I16.x", "Expected fractional bits following '.'\n"},
        {"I16:X2", ""},
        // Fields come in one fixed order, each once.
        {"F32,2@44100", extra + "@44100\n"},
        {"F32@1@2", extra + "@2\n"},
        // A byte of 0x80 or above is never a digit.
        {"I16,\xB2", extra + "\xB2\n"},
        {"I\xB1\xB6", extra + "\xB1\xB6\n"},
    };
    for (const Reported& r : reported) {
        SCOPED_TRACE(r.text);
        const auto result = Parse(r.text);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.err, r.first + kCommon(r.text));
    }
}

TEST(FormatFromText, UsageText) {
    EXPECT_STREQ(CAStreamBasicDescription::sTextParsingUsageString,
                 "format[@sample_rate_hz][/format_flags][#frames_per_packet][:LHbytesPerFrame]"
                 "[,channelsDI].\nFormat for PCM is [-][BE|LE]{F|I|UI}{bitdepth}; else a 4-char "
                 "format code (e.g. aac, alac).\n");
    // Parsing never prints it.
    EXPECT_EQ(Parse("F32x").err.find("Format for PCM"), std::string::npos);
}

} // namespace
