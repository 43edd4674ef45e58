// Wildcard equality, preference ordering, normalisers and the plausibility
// check of stream formats. (Reflexivity and self-filling: fuzz_format_text.)
#include "aufw/CAStreamBasicDescription.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <tuple>

namespace {

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
// buffer layouts of aufw_buffers and in the printed forms of format_text.)
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
