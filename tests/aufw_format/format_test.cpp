// Stream formats: the compact text syntax (what each form yields, what each
// malformed form reports), the printed forms of formats and four-character
// codes, wildcard equality, preference ordering, normalisers and the
// plausibility check. (Arbitrary and over-long text, reflexivity and
// self-filling: fuzz_format_text.)
#include "aufw/CAStreamBasicDescription.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
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
        const auto r = Parse(a.text);
        const auto& d = r.desc;
        EXPECT_EQ(std::tuple(r.ok, r.err, d.mSampleRate, d.mFormatID, d.mFormatFlags,
                             d.mBitsPerChannel, d.mBytesPerFrame, d.mBytesPerPacket,
                             d.mFramesPerPacket, d.mChannelsPerFrame, d.mReserved),
                  std::tuple(true, "", a.rate, a.id, a.flags, a.bits, a.bytesPerFrame,
                             a.bytesPerPacket, a.framesPerPacket, a.channels, 0u))
            << a.text;
    }
    EXPECT_EQ(Parse("I8.24").desc.FractionBits(), 24u);
    EXPECT_EQ(Parse("I1.65").desc.FractionBits(), 65u & 0x3F);
}

TEST(FormatFromText, Rejected) {
    // An unreadable code fails silently.
    for (const char* text :
         {"", "a", "ab", "LE", "\\", "\\y123", "\\x", "\\x1", "\\xg1ab", "ab\\x", "abc\\x0"}) {
        const auto r = Parse(text);
        EXPECT_EQ(std::tuple(r.ok, r.err), std::tuple(false, "")) << text;
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
        const auto result = Parse(r.text);
        EXPECT_EQ(std::tuple(result.ok, result.err), std::tuple(false, r.first + kCommon(r.text)))
            << r.text;
    }
}

TEST(FormatFromText, UsageText) {
    EXPECT_STREQ(CAStreamBasicDescription::sTextParsingUsageString,
                 "format[@sample_rate_hz][/format_flags][#frames_per_packet][:LHbytesPerFrame]"
                 "[,channelsDI].\nFormat for PCM is [-][BE|LE]{F|I|UI}{bitdepth}; else a 4-char "
                 "format code (e.g. aac, alac).\n");
}

// The printed form of the format the text describes.
std::string AsString(const char* text) {
    char buf[256];
    return Parse(text).desc.AsString(buf, sizeof(buf));
}

TEST(FormatText, OSTypeStrings) {
    char buf[CAStreamBasicDescription::kOSTypeStringSize];
    const std::pair<OSType, const char*> rows[] = {
        {kAudioFormatLinearPCM, "'lpcm'"}, {1, "0x00000001"},
        {0x615C6263, "0x615C6263"},        {0xFFFFFFFF, "0xFFFFFFFF"},
        {kAudioFormatMPEG4AAC, "'aac '"},  {0x6D730011, "0x6D730011"}};
    for (const auto& [code, expected] : rows) {
        EXPECT_STREQ(CAStringForOSType(code, buf), expected); // 0x615C6263 is a\bc
    }
    EXPECT_EQ(CAStringForOSType(0, buf), buf);
}

TEST(FormatText, AsString) {
    const std::pair<const char*, const char*> rows[] = {
        {"F32@44100,2D",
         " 2 ch,  44100 Hz, 'lpcm' (0x00000029) 32-bit little-endian float, deinterleaved"},
        {"I20@44100", " 1 ch,  44100 Hz, 'lpcm' (0x00000014) 20-bit little-endian "
                      "signed integer, unpacked in 3 bytes high-aligned"},
        {"BEI24@96000:L4,2", " 2 ch,  96000 Hz, 'lpcm' (0x00000006) 24-bit big-endian "
                             "signed integer, unpacked in 4 bytes low-aligned"},
        {"I8.24,2", " 2 ch,      0 Hz, 'lpcm' (0x00000C0C) 8.24-bit little-endian signed integer"},
        // Single-byte samples have no byte order.
        {"UI8@8000", " 1 ch,   8000 Hz, 'lpcm' (0x00000008) 8-bit unsigned integer"},
        // Twelve bits packed into two bytes: the packing shows, the alignment too.
        {"I12/1C", " 1 ch,      0 Hz, 'lpcm' (0x0000001C) 12-bit little-endian signed "
                   "integer, packed in 2 bytes high-aligned"},
        {"alac@44100/3#4096,2",
         " 2 ch,  44100 Hz, 'alac' (0x00000003) from 24-bit source, 4096 frames/packet"},
        {"alac@44100/7#4096,2", " 2 ch,  44100 Hz, 'alac' (0x00000007) from UNKNOWN "
                                "source bit depth, 4096 frames/packet"},
        {"aac@48000#1024,6", " 6 ch,  48000 Hz, 'aac ' (0x00000000) 0 bits/channel, 0 "
                             "bytes/packet, 1024 frames/packet, 0 bytes/frame"},
    };
    for (const auto& [text, expected] : rows) {
        EXPECT_EQ(AsString(text), expected);
    }
    char buf[300];
    EXPECT_STREQ(CAStreamBasicDescription(0, 1, 2, 3, 4, 5, 6, 7).AsString(buf, sizeof buf),
                 " 5 ch,      0 Hz, 0x00000001 (0x00000007) 6 bits/channel, 2 bytes/packet, 3 "
                 "frames/packet, 4 bytes/frame");

    // A short buffer stops at the last piece that fits, cut at its end.
    // (Termination and bounds at every size: fuzz_format_text.)
    const auto alac = Parse(rows[6].first).desc;
    const std::string full = rows[6].second;
    for (size_t size : {size_t(10), size_t(38), size_t(39), size_t(60), full.size()}) {
        EXPECT_EQ(alac.AsString(buf, size), buf);
        EXPECT_EQ(std::string(buf), full.substr(0, size - 1)) << size;
    }
    char untouched = '#';
    alac.AsString(&untouched, 0);
    EXPECT_EQ(untouched, '#');
}

TEST(FormatText, SimpleNames) {
    struct Row {
        const char* text;
        bool abbreviate, withRate;
        const char* expected;
    };
    const Row rows[] = {
        {"F32@44100,2D", false, false, "Mixable 2 Channel 32 Bit Floating Point"},
        {"F32@44100,2D", true, false, "Mixable 2 Ch Float32"},
        {"F32@44100,2D", true, true, "44100 Mixable 2 Ch Float32"},
        {"BEI24", false, false, "Mixable 1 Channel 24 Bit Big Endian Signed Integer"},
        {"BEI24", true, false, "Mixable 1 Ch Big Endian SInt24"},
        {"I20,2", false, false, "Mixable 2 Channel 20 Bit Signed Integer Aligned High in 24 Bits"},
        {"I20,2", true, false, "Mixable 2 Ch High SInt20/SInt24"},
        {"BEI20:L4", false, false,
         "Mixable 1 Channel 20 Bit Big Endian Signed Integer Aligned Low in 32 Bits"},
        {"BEI20:L4", true, false, "Mixable 1 Ch Big Endian Low SInt20/SInt32"},
        {"UI8/48,2", true, false, "Unmixable 2 Ch UInt8"},
        {"UI8/48,2", false, false, "Unmixable 2 Channel 8 Bit Unsigned Integer"},
        // No channels: the container width cannot be known and prints as 0.
        {"I20,0", true, false, "Mixable 0 Ch High SInt20/SInt0"},
        // Other formats are named, or printed as their code.
        {"ac-3@48000#1536,6", false, false, "AC-3"},
        {"ac-3@48000#1536,6", true, true, "48000 AC-3"},
        {"cac3@48000,6", false, false, "AC-3 for SPDIF"},
        {"aac@48000,6", false, false, "aac "},
        {"aac@48000,6", true, true, "48000 aac "},
    };
    char buf[128];
    for (const Row& r : rows) {
        const auto desc = Parse(r.text).desc;
        CAStreamBasicDescription::GetSimpleName(desc, buf, sizeof buf, r.abbreviate, r.withRate);
        EXPECT_STREQ(buf, r.expected) << r.text;
    }
    // A short name is cut to the given length. (Bounds: fuzz_format_text.)
    const auto canonical = Parse("F32@44100,2D").desc;
    for (const auto& [length, withRate, expected] : {std::tuple{8u, false, "Mixable"},
                                                     {4u, true, "441"},
                                                     {7u, true, "44100 "},
                                                     {9u, true, "44100 Mi"},
                                                     {1u, true, ""}}) {
        CAStreamBasicDescription::GetSimpleName(canonical, buf, length, true, withRate);
        EXPECT_STREQ(buf, expected) << length;
    }
    CAStreamBasicDescription::GetSimpleName(Parse("aac@48000,6").desc, buf, 3, false);
    EXPECT_STREQ(buf, "aa");
}

CAStreamBasicDescription Pcm(double rate, UInt32 channels, UInt32 bits, UInt32 flags,
                             UInt32 bytesPerFrame) {
    return CAStreamBasicDescription(rate, kAudioFormatLinearPCM, bytesPerFrame, 1, bytesPerFrame,
                                    channels, bits, flags);
}

CAStreamBasicDescription Float32(double rate, UInt32 channels) {
    return Pcm(rate, channels, 32, kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked,
               4 * channels);
}

CAStreamBasicDescription With(CAStreamBasicDescription d,
                              UInt32 AudioStreamBasicDescription::*field, UInt32 value) {
    d.*field = value;
    return d;
}

using D = AudioStreamBasicDescription;
const CAStreamBasicDescription kAac(44100, kAudioFormatMPEG4AAC, 0, 1024, 0, 2, 0, 0);

// (Stream counts, sample sizes and their significance also show in the
// buffer layouts of aufw_buffers and in the printed forms above.)
TEST(FormatConstruction, CopyResetAndChannelChanges) {
    AudioStreamBasicDescription raw = Float32(48000, 2);
    raw.mReserved = 9;
    CAStreamBasicDescription copy(raw);
    EXPECT_EQ(std::memcmp(&copy, &raw, sizeof(raw)), 0);
    CAStreamBasicDescription::ResetFormat(copy);
    EXPECT_EQ(std::memcmp(&copy, &CAStreamBasicDescription::sEmpty, sizeof(copy)), 0);
    EXPECT_EQ(CAStreamBasicDescription(1, 2, 3, 4, 5, 6, 7, 8).mReserved, 0u);

    CAStreamBasicDescription f;
    f.SetAUCanonical(2, true);
    f.ChangeNumberChannels(6, false);
    EXPECT_EQ(std::tuple(f.mFormatFlags, f.mBytesPerPacket, f.mBytesPerFrame),
              std::tuple(0x29u, 4u, 4u));
    f.ChangeNumberChannels(3, true);
    EXPECT_EQ(std::tuple(f.mFormatFlags, f.mBytesPerPacket, f.mBytesPerFrame),
              std::tuple(0x9u, 12u, 12u));
    // The non-interleaved bit means nothing outside linear PCM.
    const auto aac = With(kAac, &D::mFormatFlags, kAudioFormatFlagIsNonInterleaved);
    EXPECT_EQ(std::tuple(aac.IsInterleavedFormat(), aac.ChannelStreamCount(), aac.BytesPerSample()),
              std::tuple(true, 1u, 0u));
}

// One row per pair: the label says which rule it tests.
struct Pair {
    const char* label;
    CAStreamBasicDescription a, b;
    bool expected;
};

TEST(FormatEquality, WildcardsAndFlagNormalisation) {
    const UInt32 F = kAudioFormatFlagIsFloat, BE = kAudioFormatFlagIsBigEndian,
                 S = kAudioFormatFlagIsSignedInteger, P = kAudioFormatFlagIsPacked,
                 AH = kAudioFormatFlagIsAlignedHigh, NI = kAudioFormatFlagIsNonInterleaved;
    const auto st = Float32(44100, 2);
    auto anySize = With(With(st, &D::mBytesPerFrame, 0), &D::mBytesPerPacket, 0);
    const CAStreamBasicDescription alac(0, kAudioFormatAppleLossless, 0, 4096, 0, 2, 0, 1);
    const Pair pairs[] = {
        {"zero rate is a wildcard", Float32(0, 2), st, true},
        {"rates differ", st, Float32(48000, 2), false},
        {"zero format ID is a wildcard", With(st, &D::mFormatID, 0), st, true},
        {"format IDs differ", st, kAac, false},
        {"zero flags are a wildcard", With(st, &D::mFormatFlags, 0), Pcm(44100, 2, 32, 0xC, 8),
         true},
        {"float against integer", st, Pcm(44100, 2, 32, 0xC, 8), false},
        {"zero sizes are a wildcard", anySize, st, true},
        {"channels differ", st, Float32(44100, 1), false},
        {"reserved word ignored", With(st, &D::mReserved, 77), st, true},
        // Alignment is meaningless when both are packed, not otherwise.
        {"packed alignment", Pcm(0, 2, 16, S | P | AH, 4), Pcm(0, 2, 16, S | P, 4), true},
        {"unpacked alignment", Pcm(0, 2, 16, S | AH, 4), Pcm(0, 2, 16, S, 4), false},
        {"one packed", Pcm(0, 2, 16, S | P | AH, 4), Pcm(0, 2, 16, S, 4), false},
        // Signedness is meaningless for two float formats.
        {"float signedness", Pcm(0, 2, 32, F | P | S, 8), Pcm(0, 2, 32, F | P, 8), true},
        {"integer signedness", Pcm(0, 2, 32, P | S, 8), Pcm(0, 2, 32, P, 8), false},
        // Byte order is meaningless for packed samples of a byte or less.
        {"packed byte order of 8 bits", Pcm(0, 2, 8, P | BE, 2), Pcm(0, 2, 8, P, 2), true},
        {"unpacked byte order of 8 bits", Pcm(0, 2, 8, BE | AH, 2), Pcm(0, 2, 8, AH, 2), false},
        {"byte order of 16 bits", Pcm(0, 2, 16, S | P | BE, 4), Pcm(0, 2, 16, S | P, 4), false},
        // Interleaving is meaningless for one channel.
        {"mono interleaving", Pcm(0, 1, 32, F | P | NI, 4), Pcm(0, 1, 32, F | P, 4), true},
        {"stereo interleaving", Pcm(0, 2, 32, F | P | NI, 4), Pcm(0, 2, 32, F | P, 4), false},
        // The all-clear marker is dropped before comparing PCM flags, but
        // other formats compare their raw flags.
        {"PCM all-clear", Pcm(0, 2, 32, F | P | kAudioFormatFlagsAreAllClear, 8),
         Pcm(0, 2, 32, F | P, 8), true},
        {"other all-clear", alac, With(alac, &D::mFormatFlags, 1 | kAudioFormatFlagsAreAllClear),
         false},
        {"other flags differ", alac, With(alac, &D::mFormatFlags, 2), false},
        {"other flags equal", alac, With(alac, &D::mFormatFlags, 1), true},
    };
    for (const Pair& p : pairs) {
        EXPECT_EQ(p.a == p.b, p.expected) << p.label;
    }
    EXPECT_TRUE(With(st, &D::mReserved, 77).IsEqual(st, false));
    EXPECT_FALSE(anySize.IsEqual(st, false));
    EXPECT_TRUE(anySize.IsEqual(st, true));
}

TEST(FormatOrdering, RulesInPriorityOrder) {
    const UInt32 SP = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
    const CAStreamBasicDescription alac(44100, kAudioFormatAppleLossless, 0, 4096, 0, 2, 0, 1);
    const auto nonMixableInt = Pcm(44100, 2, 16, SP | kAudioFormatFlagIsNonMixable, 4);
    const auto anyId = With(Float32(44100, 2), &D::mFormatID, 0);
    // Each row: a is preferred to b (a < b true, b < a false) unless both
    // are expected false.
    const Pair rules[] = {
        {"PCM first, whatever its later fields", Float32(96000, 8), kAac, true},
        {"then by code value", kAac, alac, true},
        {"mixable before non-mixable, even float", Float32(44100, 2), nonMixableInt, true},
        {"integer before float, even with more bits", Pcm(44100, 2, 32, SP, 8),
         Pcm(44100, 2, 16, kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked, 4), true},
        {"fewer bits before rate and channels", Pcm(96000, 8, 16, SP, 16), Pcm(8000, 1, 24, SP, 3),
         true},
        {"lower rate before channels", Float32(44100, 8), Float32(48000, 1), true},
        {"fewer channels", Float32(44100, 1), Float32(44100, 2), true},
        {"nothing separates them", Float32(44100, 2), Float32(44100, 2), false},
        // Zero fields are skipped rather than compared.
        {"zero rate", Float32(0, 1), Float32(44100, 1), false},
        {"zero ID against a code", anyId, kAac, false},
    };
    for (const Pair& r : rules) {
        EXPECT_EQ(r.a < r.b, r.expected) << r.label;
        EXPECT_FALSE(r.b < r.a) << r.label << " (reversed)";
    }
    EXPECT_TRUE(anyId < Float32(44100, 4)); // decided by channels
}

TEST(FormatNormalisers, InterleavedFloatAndWildcardFilling) {
    // (Bit depth, frame size and what is left alone: fuzz_format_text.)
    const auto int24 = Pcm(44100, 2, 24,
                           kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsAlignedHigh |
                               kAudioFormatFlagIsNonInterleaved,
                           4);
    auto native = int24, big = int24;
    CAStreamBasicDescription::NormalizeLinearPCMFormat(native);
    CAStreamBasicDescription::NormalizeLinearPCMFormat(false, big);
    const CAStreamBasicDescription normal = Pcm(44100, 2, 32, 0x9, 8);
    EXPECT_EQ(std::memcmp(&native, &normal, sizeof normal), 0);
    EXPECT_EQ(big.mFormatFlags, 0xBu);

    CAStreamBasicDescription partial;
    partial.mChannelsPerFrame = 1;
    partial.mFormatFlags = kAudioFormatFlagIsSignedInteger;
    partial.mReserved = 5;
    CAStreamBasicDescription::FillOutFormat(partial, With(Float32(48000, 2), &D::mReserved, 9));
    const CAStreamBasicDescription filled(48000, kAudioFormatLinearPCM, 8, 1, 8, 1, 32,
                                          kAudioFormatFlagIsSignedInteger);
    EXPECT_EQ(std::memcmp(&partial, &filled, offsetof(D, mReserved)), 0);
    EXPECT_EQ(partial.mReserved, 5u);
}

TEST(FormatSanity, Bounds) {
    const auto st = Float32(44100, 2);
    auto bytes = [&](UInt32 n) {
        return With(With(st, &D::mBytesPerFrame, n), &D::mBytesPerPacket, n);
    };
    struct Row {
        const char* label;
        CAStreamBasicDescription d;
        bool sane;
    };
    const Row rows[] = {
        {"plain", st, true},
        {"zero rate", Float32(0, 2), true},
        {"highest rate", Float32(2999999.0, 2), true},
        {"rate too high", Float32(3000000.0, 2), false},
        {"negative rate", Float32(-1.0, 2), false},
        {"NaN rate", Float32(std::nan(""), 2), false},
        {"most channels", Float32(44100, 1024), true},
        {"too many channels", Float32(44100, 1025), false},
        {"too many bits", With(st, &D::mBitsPerChannel, 1025), false},
        {"largest frame", bytes(999999), true},
        {"frame too large", bytes(1000000), false},
        {"packet of too many frames", With(kAac, &D::mFramesPerPacket, 1000000), false},
        {"empty", CAStreamBasicDescription::sEmpty, false},
        // Linear PCM must have one frame per packet of one frame's size;
        // encoded formats have packets of their own shape.
        {"PCM packet of two frames' bytes", With(st, &D::mBytesPerPacket, 16), false},
        {"PCM packet of two frames", With(st, &D::mFramesPerPacket, 2), false},
        {"encoded packet", kAac, true},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(SanityCheck(r.d), r.sane) << r.label;
    }
}

} // namespace
