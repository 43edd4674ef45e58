// The printed forms of stream formats and four-character codes.
#include "aufw/CAStreamBasicDescription.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>

namespace {

CAStreamBasicDescription FromText(const char* text) {
    CAStreamBasicDescription d;
    CAStreamBasicDescription::FromText(text, d); // the parse itself: format_parse_test
    return d;
}

std::string AsString(const CAStreamBasicDescription& d) {
    char buf[256];
    return d.AsString(buf, sizeof(buf));
}

std::string SimpleName(const AudioStreamBasicDescription& d, bool abbreviate,
                       bool withRate = false) {
    char buf[128];
    CAStreamBasicDescription::GetSimpleName(d, buf, sizeof(buf), abbreviate, withRate);
    return buf;
}

TEST(FormatText, OSTypeStrings) {
    char buf[CAStreamBasicDescription::kOSTypeStringSize];
    EXPECT_STREQ(CAStringForOSType(kAudioFormatLinearPCM, buf), "'lpcm'");
    EXPECT_STREQ(CAStringForOSType(1, buf), "0x00000001");
    EXPECT_STREQ(CAStringForOSType(0x615C6263, buf), "0x615C6263"); // a\bc
    EXPECT_STREQ(CAStringForOSType(0xFFFFFFFF, buf), "0xFFFFFFFF");
    EXPECT_STREQ(CAStringForOSType(kAudioFormatMPEG4AAC, buf), "'aac '");
    EXPECT_STREQ(CAStringForOSType(0x6D730011, buf), "0x6D730011");
    EXPECT_EQ(CAStringForOSType(0, buf), buf);
}

TEST(FormatText, AsString) {
    const auto alac = FromText("alac@44100/3#4096,2");
    const std::pair<CAStreamBasicDescription, const char*> rows[] = {
        {FromText("F32@44100,2D"),
         " 2 ch,  44100 Hz, 'lpcm' (0x00000029) 32-bit little-endian float, deinterleaved"},
        {FromText("I20@44100"), " 1 ch,  44100 Hz, 'lpcm' (0x00000014) 20-bit little-endian "
                                "signed integer, unpacked in 3 bytes high-aligned"},
        {FromText("BEI24@96000:L4,2"), " 2 ch,  96000 Hz, 'lpcm' (0x00000006) 24-bit big-endian "
                                       "signed integer, unpacked in 4 bytes low-aligned"},
        {FromText("I8.24,2"),
         " 2 ch,      0 Hz, 'lpcm' (0x00000C0C) 8.24-bit little-endian signed integer"},
        // Single-byte samples have no byte order.
        {FromText("UI8@8000"), " 1 ch,   8000 Hz, 'lpcm' (0x00000008) 8-bit unsigned integer"},
        // Twelve bits packed into two bytes: the packing shows, the alignment too.
        {FromText("I12/1C"), " 1 ch,      0 Hz, 'lpcm' (0x0000001C) 12-bit little-endian signed "
                             "integer, packed in 2 bytes high-aligned"},
        {alac, " 2 ch,  44100 Hz, 'alac' (0x00000003) from 24-bit source, 4096 frames/packet"},
        {FromText("alac@44100/7#4096,2"), " 2 ch,  44100 Hz, 'alac' (0x00000007) from UNKNOWN "
                                          "source bit depth, 4096 frames/packet"},
        {FromText("aac@48000#1024,6"), " 6 ch,  48000 Hz, 'aac ' (0x00000000) 0 bits/channel, 0 "
                                       "bytes/packet, 1024 frames/packet, 0 bytes/frame"},
        {CAStreamBasicDescription(0, 1, 2, 3, 4, 5, 6, 7),
         " 5 ch,      0 Hz, 0x00000001 (0x00000007) 6 bits/channel, 2 bytes/packet, 3 "
         "frames/packet, 4 bytes/frame"},
    };
    for (const auto& [desc, expected] : rows) {
        EXPECT_EQ(AsString(desc), expected);
    }

    // A short buffer stops at the last piece that fits, cut at its end.
    // (Termination and bounds at every size: fuzz_format_text.)
    const std::string full = rows[6].second;
    for (size_t size : {size_t(10), size_t(38), size_t(39), size_t(60), full.size()}) {
        char buf[300];
        EXPECT_EQ(alac.AsString(buf, size), buf);
        EXPECT_EQ(std::string(buf), full.substr(0, size - 1)) << size;
    }
    char untouched = '#';
    alac.AsString(&untouched, 0);
    EXPECT_EQ(untouched, '#');
}

TEST(FormatText, SimpleNames) {
    const auto canonical = FromText("F32@44100,2D"), be24 = FromText("BEI24"),
               i20 = FromText("I20,2"), be20low = FromText("BEI20:L4"),
               unmixable = FromText("UI8/48,2"), noChannels = FromText("I20,0"),
               ac3 = FromText("ac-3@48000#1536,6"), spdif = FromText("cac3@48000,6"),
               aac = FromText("aac@48000,6");
    struct Row {
        const CAStreamBasicDescription& desc;
        bool abbreviate, withRate;
        const char* expected;
    };
    const Row rows[] = {
        {canonical, false, false, "Mixable 2 Channel 32 Bit Floating Point"},
        {canonical, true, false, "Mixable 2 Ch Float32"},
        {canonical, true, true, "44100 Mixable 2 Ch Float32"},
        {be24, false, false, "Mixable 1 Channel 24 Bit Big Endian Signed Integer"},
        {be24, true, false, "Mixable 1 Ch Big Endian SInt24"},
        {i20, false, false, "Mixable 2 Channel 20 Bit Signed Integer Aligned High in 24 Bits"},
        {i20, true, false, "Mixable 2 Ch High SInt20/SInt24"},
        {be20low, false, false,
         "Mixable 1 Channel 20 Bit Big Endian Signed Integer Aligned Low in 32 Bits"},
        {be20low, true, false, "Mixable 1 Ch Big Endian Low SInt20/SInt32"},
        {unmixable, true, false, "Unmixable 2 Ch UInt8"},
        {unmixable, false, false, "Unmixable 2 Channel 8 Bit Unsigned Integer"},
        // No channels: the container width cannot be known and prints as 0.
        {noChannels, true, false, "Mixable 0 Ch High SInt20/SInt0"},
        // Other formats are named, or printed as their code.
        {ac3, false, false, "AC-3"},
        {ac3, true, true, "48000 AC-3"},
        {spdif, false, false, "AC-3 for SPDIF"},
        {aac, false, false, "aac "},
        {aac, true, true, "48000 aac "},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(SimpleName(r.desc, r.abbreviate, r.withRate), r.expected);
    }
    // A short name is cut to the given length. (Bounds: fuzz_format_text.)
    char buf[64];
    for (const auto& [length, withRate, expected] : {std::tuple{8u, false, "Mixable"},
                                                     {4u, true, "441"},
                                                     {7u, true, "44100 "},
                                                     {9u, true, "44100 Mi"},
                                                     {1u, true, ""}}) {
        CAStreamBasicDescription::GetSimpleName(canonical, buf, length, true, withRate);
        EXPECT_STREQ(buf, expected) << length;
    }
    CAStreamBasicDescription::GetSimpleName(aac, buf, 3, false);
    EXPECT_STREQ(buf, "aa");
}

} // namespace
