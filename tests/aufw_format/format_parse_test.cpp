// The compact stream-format text syntax: what each form yields, what each
// malformed form reports, and that arbitrary bytes are handled safely.
#include "aufw/CAStreamBasicDescription.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

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

constexpr UInt32 Code(const char (&s)[5]) {
    return (UInt32(static_cast<unsigned char>(s[0])) << 24) |
           (UInt32(static_cast<unsigned char>(s[1])) << 16) |
           (UInt32(static_cast<unsigned char>(s[2])) << 8) |
           UInt32(static_cast<unsigned char>(s[3]));
}

TEST(FormatFromText, FloatStereoWithRate) {
    auto r = Parse("F32@44100,2");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.desc.mSampleRate, 44100.0);
    EXPECT_EQ(r.desc.mFormatID, kAudioFormatLinearPCM);
    EXPECT_EQ(r.desc.mFormatFlags, 0x9u);
    EXPECT_EQ(r.desc.mBitsPerChannel, 32u);
    EXPECT_EQ(r.desc.mChannelsPerFrame, 2u);
    EXPECT_EQ(r.desc.mBytesPerFrame, 8u);
    EXPECT_EQ(r.desc.mBytesPerPacket, 8u);
    EXPECT_EQ(r.desc.mFramesPerPacket, 1u);
    EXPECT_EQ(r.desc.mReserved, 0u);
    EXPECT_TRUE(r.desc.IsInterleavedFormat());
}

TEST(FormatFromText, IntegerDepthsByteOrderAndAlignment) {
    auto be24 = Parse("BEI24");
    ASSERT_TRUE(be24.ok);
    EXPECT_EQ(be24.desc.mFormatFlags, 0xEu);
    EXPECT_EQ(be24.desc.mBitsPerChannel, 24u);
    EXPECT_EQ(be24.desc.mBytesPerFrame, 3u);
    EXPECT_EQ(be24.desc.mChannelsPerFrame, 1u);

    auto i20 = Parse("I20");
    ASSERT_TRUE(i20.ok);
    EXPECT_EQ(i20.desc.mFormatFlags, 0x14u); // signed, aligned high, not packed
    EXPECT_EQ(i20.desc.mBytesPerFrame, 3u);
    EXPECT_EQ(i20.desc.mBytesPerPacket, 3u);

    auto low4 = Parse("I20:L4");
    ASSERT_TRUE(low4.ok);
    EXPECT_EQ(low4.desc.mFormatFlags, 0x4u);
    EXPECT_EQ(low4.desc.mBytesPerFrame, 4u);
    EXPECT_EQ(low4.desc.mBytesPerPacket, 4u);

    auto high4 = Parse("I24:H4");
    ASSERT_TRUE(high4.ok);
    EXPECT_EQ(high4.desc.mFormatFlags, 0x14u);
    EXPECT_EQ(high4.desc.mBytesPerFrame, 4u);

    auto le16 = Parse("LEI16");
    ASSERT_TRUE(le16.ok);
    EXPECT_EQ(le16.desc.mFormatFlags, 0xCu);
    EXPECT_EQ(le16.desc.mBytesPerFrame, 2u);

    auto u8 = Parse("UI8");
    ASSERT_TRUE(u8.ok);
    EXPECT_EQ(u8.desc.mFormatFlags, 0x8u); // packed, unsigned
    EXPECT_EQ(u8.desc.mBytesPerFrame, 1u);

    auto beFloat = Parse("-BEF64@96000");
    ASSERT_TRUE(beFloat.ok);
    EXPECT_EQ(beFloat.desc.mFormatFlags, 0xBu);
    EXPECT_EQ(beFloat.desc.mBytesPerFrame, 8u);
    EXPECT_EQ(beFloat.desc.mSampleRate, 96000.0);
}

TEST(FormatFromText, FixedPointFractionBits) {
    auto r = Parse("I8.24");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.desc.mBitsPerChannel, 32u);
    EXPECT_EQ(r.desc.mBytesPerFrame, 4u);
    EXPECT_EQ(r.desc.mFormatFlags, 0xC0Cu);
    EXPECT_EQ(r.desc.FractionBits(), 24u);

    // A fraction too large for its six-bit field stays inside the field.
    auto big = Parse("I1.65");
    ASSERT_TRUE(big.ok);
    EXPECT_EQ(big.desc.mFormatFlags & ~UInt32(kLinearPCMFormatFlagsSampleFractionMask),
              UInt32(kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsAlignedHigh));
    EXPECT_EQ(big.desc.FractionBits(), 65u & 0x3F);
}

TEST(FormatFromText, FlagsFramesAndChannelLayouts) {
    auto frames = Parse("I16#4");
    ASSERT_TRUE(frames.ok);
    EXPECT_EQ(frames.desc.mFramesPerPacket, 4u);

    auto flags = Parse("F32/29,2D");
    ASSERT_TRUE(flags.ok);
    EXPECT_EQ(flags.desc.mFormatFlags, 0x29u);
    EXPECT_EQ(flags.desc.mBytesPerFrame, 4u); // one buffer per channel
    EXPECT_FALSE(flags.desc.IsInterleavedFormat());

    auto hexCase = Parse("I16/aB");
    ASSERT_TRUE(hexCase.ok);
    EXPECT_EQ(hexCase.desc.mFormatFlags, 0xABu);

    auto interleaved = Parse("I16,6I");
    ASSERT_TRUE(interleaved.ok);
    EXPECT_EQ(interleaved.desc.mChannelsPerFrame, 6u);
    EXPECT_EQ(interleaved.desc.mBytesPerFrame, 12u);
    EXPECT_EQ(interleaved.desc.mBytesPerPacket, 12u);

    auto all = Parse("F32@48000/9#1:L4,2");
    ASSERT_TRUE(all.ok);
    EXPECT_EQ(all.desc.mSampleRate, 48000.0);
    EXPECT_EQ(all.desc.mFormatFlags, 0x1u); // "/9" then ":L" clears packed
    EXPECT_EQ(all.desc.mBytesPerFrame, 8u);
}

TEST(FormatFromText, FourCharacterCodes) {
    for (const char* text : {"aac", "aac@44100", "aac @44100"}) {
        SCOPED_TRACE(text);
        auto r = Parse(text);
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.desc.mFormatID, Code("aac "));
        EXPECT_EQ(r.desc.mFormatID, kAudioFormatMPEG4AAC);
        EXPECT_EQ(r.desc.mFormatFlags, 0u);
        EXPECT_EQ(r.desc.mChannelsPerFrame, 0u);
    }
    EXPECT_EQ(Parse("aac").desc.mSampleRate, 0.0);
    EXPECT_EQ(Parse("aac@44100").desc.mSampleRate, 44100.0);
    EXPECT_EQ(Parse("aac @44100").desc.mSampleRate, 44100.0);

    auto alac = Parse("alac,2");
    ASSERT_TRUE(alac.ok);
    EXPECT_EQ(alac.desc.mFormatID, kAudioFormatAppleLossless);
    EXPECT_EQ(alac.desc.mChannelsPerFrame, 2u);
    EXPECT_EQ(alac.desc.mBytesPerFrame, 0u); // only PCM sizes follow the channels

    auto ima = Parse("ima4#64,1");
    ASSERT_TRUE(ima.ok);
    EXPECT_EQ(ima.desc.mFormatID, kAudioFormatAppleIMA4);
    EXPECT_EQ(ima.desc.mFramesPerPacket, 64u);

    auto escaped = Parse("\\x01abc");
    ASSERT_TRUE(escaped.ok);
    EXPECT_EQ(escaped.desc.mFormatID, 0x01616263u);

    auto allEscaped = Parse("\\x7f\\x00\\xFF\\x20");
    ASSERT_TRUE(allEscaped.ok);
    EXPECT_EQ(allEscaped.desc.mFormatID, 0x7F00FF20u);

    // A leading minus belongs to the code when the text is not PCM.
    auto minus = Parse("-abc");
    ASSERT_TRUE(minus.ok);
    EXPECT_EQ(minus.desc.mFormatID, Code("-abc"));

    // Letters that merely start like PCM fall back to a code.
    auto beef = Parse("BEEF");
    ASSERT_TRUE(beef.ok);
    EXPECT_EQ(beef.desc.mFormatID, Code("BEEF"));
    auto uxyz = Parse("Uxyz");
    ASSERT_TRUE(uxyz.ok);
    EXPECT_EQ(uxyz.desc.mFormatID, Code("Uxyz"));

    auto ac3flags = Parse("ac-3/1");
    ASSERT_TRUE(ac3flags.ok);
    EXPECT_EQ(ac3flags.desc.mFormatID, kAudioFormatAC3);
    EXPECT_EQ(ac3flags.desc.mFormatFlags, 1u);

    auto highBytes = Parse("\xC3\xA9xy");
    ASSERT_TRUE(highBytes.ok);
    EXPECT_EQ(highBytes.desc.mFormatID, 0xC3A97879u);
}

TEST(FormatFromText, SilentFailuresOfTheCode) {
    for (const char* text :
         {"", "a", "ab", "LE", "\\", "\\y123", "\\x", "\\x1", "\\xg1ab", "ab\\x", "abc\\x0"}) {
        SCOPED_TRACE(text);
        auto r = Parse(text);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.err, "");
    }
    EXPECT_FALSE(
        CAStreamBasicDescription::FromText(nullptr, *std::make_unique<CAStreamBasicDescription>()));
}

TEST(FormatFromText, ReportedFailures) {
    auto commaCode = Parse("aac,2");
    EXPECT_FALSE(commaCode.ok);
    EXPECT_EQ(commaCode.err, "extra characters at end of format string: 2\n" + kCommon("aac,2"));

    auto alac = Parse("alac,2D");
    EXPECT_FALSE(alac.ok);
    EXPECT_EQ(alac.err, "non-interleaved flag invalid for non-PCM formats\n" + kCommon("alac,2D"));

    auto extra = Parse("F32x");
    EXPECT_FALSE(extra.ok);
    EXPECT_EQ(extra.err, "extra characters at end of format string: x\n" + kCommon("F32x"));

    auto fraction = Parse("I16.x");
    EXPECT_FALSE(fraction.ok);
    EXPECT_EQ(fraction.err, "Expected fractional bits following '.'\n" + kCommon("I16.x"));
    EXPECT_EQ(Parse("I16.").err, "Expected fractional bits following '.'\n" + kCommon("I16."));

    auto alignment = Parse("I16:X2");
    EXPECT_FALSE(alignment.ok);
    EXPECT_EQ(alignment.err, kCommon("I16:X2"));
    EXPECT_EQ(Parse("I16:").err, kCommon("I16:"));

    // Fields come in one fixed order, each once.
    auto order = Parse("F32,2@44100");
    EXPECT_FALSE(order.ok);
    EXPECT_EQ(order.err,
              "extra characters at end of format string: @44100\n" + kCommon("F32,2@44100"));
    EXPECT_FALSE(Parse("F32@1@2").ok);

    // A byte of 0x80 or above is never a digit.
    const char* high = "F32@44\xB1"
                       "00";
    auto highDigit = Parse(high);
    EXPECT_FALSE(highDigit.ok);
    EXPECT_EQ(highDigit.err, std::string("extra characters at end of format string: \xB1") +
                                 "00\n" + kCommon(high));
    EXPECT_FALSE(Parse("I16,\xB2").ok);
    EXPECT_FALSE(Parse("I\xB1\xB6").ok);
}

TEST(FormatFromText, MissingDigitsReadAsZero) {
    auto rate = Parse("F32@");
    ASSERT_TRUE(rate.ok);
    EXPECT_EQ(rate.desc.mSampleRate, 0.0);

    auto frames = Parse("I16#,2");
    ASSERT_TRUE(frames.ok);
    EXPECT_EQ(frames.desc.mFramesPerPacket, 0u);
    EXPECT_EQ(frames.desc.mChannelsPerFrame, 2u);

    auto channels = Parse("I16,");
    ASSERT_TRUE(channels.ok);
    EXPECT_EQ(channels.desc.mChannelsPerFrame, 0u);
    EXPECT_EQ(channels.desc.mBytesPerFrame, 0u);

    auto depth = Parse("F");
    ASSERT_TRUE(depth.ok);
    EXPECT_EQ(depth.desc.mBitsPerChannel, 0u);
    EXPECT_EQ(depth.desc.mBytesPerFrame, 0u);
}

TEST(FormatFromText, OverLongText) {
    // Digits far beyond any field width wrap without reading past the text.
    std::string digits = "I" + std::string(5000, '9');
    auto r = Parse(digits.c_str());
    EXPECT_TRUE(r.ok);

    std::string rate = "F32@" + std::string(400, '9');
    auto rr = Parse(rate.c_str());
    ASSERT_TRUE(rr.ok);
    EXPECT_GT(rr.desc.mSampleRate, 1e300);
    EXPECT_FALSE(SanityCheck(rr.desc));

    std::string tail = "aac@44100" + std::string(100000, 'z');
    auto tr = Parse(tail.c_str());
    EXPECT_FALSE(tr.ok);
    EXPECT_EQ(tr.err, "extra characters at end of format string: " + std::string(100000, 'z') +
                          "\n" + kCommon(tail));
}

// Random texts in heap blocks of exactly their own size: an address
// sanitizer run catches any read past the terminator.
TEST(FormatFromText, RandomBytesSweep) {
    uint64_t state = 0x9E3779B97F4A7C15ull;
    auto next = [&state]() {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(state >> 33);
    };
    // A biased alphabet reaches deep into the grammar; raw bytes cover the rest.
    const std::string grammar = "-BELFUI0123456789.@/#:HL,DIx\\aAfF";
    int accepted = 0;
    int rejected = 0;
    for (int round = 0; round < 20000; ++round) {
        const size_t length = next() % 24;
        auto text = std::make_unique<char[]>(length + 1);
        for (size_t i = 0; i < length; ++i) {
            char c = 0;
            if (next() % 4 == 0) {
                c = static_cast<char>(1 + next() % 255);
            } else {
                c = grammar[next() % grammar.size()];
            }
            text[i] = c;
        }
        text[length] = '\0';
        CAStreamBasicDescription desc;
        CaptureStderr();
        const bool ok = CAStreamBasicDescription::FromText(text.get(), desc);
        const std::string err = GetCapturedStderr();
        if (ok) {
            ++accepted;
            EXPECT_EQ(err, "") << text.get();
            EXPECT_NE(desc.mFormatID, 0u) << text.get();
            EXPECT_EQ(desc.mReserved, 0u);
        } else {
            ++rejected;
            // A reported failure always ends with the two common lines.
            if (!err.empty()) {
                EXPECT_NE(err.find("Invalid format string: " + std::string(text.get()) +
                                   "\nSyntax of format strings is: \n"),
                          std::string::npos)
                    << text.get();
            }
        }
    }
    // The sweep must exercise both outcomes to mean anything.
    EXPECT_GT(accepted, 1000);
    EXPECT_GT(rejected, 1000);
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
