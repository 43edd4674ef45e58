// Wildcard equality, preference ordering, normalisers and the plausibility
// check of stream formats.
#include "aufw/CAStreamBasicDescription.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

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

TEST(FormatConstruction, FieldOrderAndReset) {
    CAStreamBasicDescription empty;
    EXPECT_EQ(std::memcmp(&empty, &CAStreamBasicDescription::sEmpty, sizeof(empty)), 0);
    EXPECT_EQ(empty.mSampleRate, 0.0);
    EXPECT_EQ(empty.mReserved, 0u);

    // Sample rate, format ID, bytes/packet, frames/packet, bytes/frame,
    // channels, bits, flags.
    CAStreamBasicDescription d(48000.0, 0x61626364, 2, 3, 4, 5, 6, 7);
    EXPECT_EQ(d.mSampleRate, 48000.0);
    EXPECT_EQ(d.mFormatID, 0x61626364u);
    EXPECT_EQ(d.mBytesPerPacket, 2u);
    EXPECT_EQ(d.mFramesPerPacket, 3u);
    EXPECT_EQ(d.mBytesPerFrame, 4u);
    EXPECT_EQ(d.mChannelsPerFrame, 5u);
    EXPECT_EQ(d.mBitsPerChannel, 6u);
    EXPECT_EQ(d.mFormatFlags, 7u);
    EXPECT_EQ(d.mReserved, 0u);

    AudioStreamBasicDescription raw = d;
    raw.mReserved = 9;
    CAStreamBasicDescription copy(raw);
    EXPECT_EQ(std::memcmp(&copy, &raw, sizeof(raw)), 0);

    CAStreamBasicDescription::ResetFormat(copy);
    EXPECT_EQ(std::memcmp(&copy, &CAStreamBasicDescription::sEmpty, sizeof(copy)), 0);
}

TEST(FormatConstruction, DerivedQuantities) {
    CAStreamBasicDescription ni;
    ni.SetAUCanonical(2, false);
    EXPECT_EQ(ni.mFormatFlags, 0x29u);
    EXPECT_EQ(ni.mBytesPerFrame, 4u);
    EXPECT_FALSE(ni.IsInterleavedFormat());
    EXPECT_EQ(ni.ChannelsPerStream(), 1u);
    EXPECT_EQ(ni.ChannelStreamCount(), 2u);
    EXPECT_EQ(ni.BytesPerSample(), 4u);
    EXPECT_FALSE(ni.PackednessIsSignificant());
    EXPECT_FALSE(ni.AlignmentIsSignificant());

    CAStreamBasicDescription il;
    il.SetAUCanonical(2, true);
    EXPECT_EQ(il.mFormatFlags, 0x9u);
    EXPECT_EQ(il.mBytesPerFrame, 8u);
    EXPECT_EQ(il.ChannelsPerStream(), 2u);
    EXPECT_EQ(il.ChannelStreamCount(), 1u);
    EXPECT_EQ(il.BytesPerSample(), 4u);

    il.ChangeNumberChannels(6, false);
    EXPECT_EQ(il.mChannelsPerFrame, 6u);
    EXPECT_EQ(il.mBytesPerFrame, 4u);
    EXPECT_EQ(il.mBytesPerPacket, 4u);
    EXPECT_FALSE(il.IsInterleavedFormat());
    il.ChangeNumberChannels(3, true);
    EXPECT_EQ(il.mBytesPerFrame, 12u);
    EXPECT_TRUE(il.IsInterleavedFormat());

    // The non-interleaved bit means nothing outside linear PCM.
    CAStreamBasicDescription aac(44100, kAudioFormatMPEG4AAC, 0, 1024, 0, 2, 0,
                                 kAudioFormatFlagIsNonInterleaved);
    EXPECT_TRUE(aac.IsInterleavedFormat());
    EXPECT_EQ(aac.ChannelStreamCount(), 1u);
    EXPECT_EQ(aac.BytesPerSample(), 0u);

    auto i20 = Pcm(0, 1, 20, kAudioFormatFlagIsSignedInteger, 3);
    EXPECT_TRUE(i20.PackednessIsSignificant());
    EXPECT_TRUE(i20.AlignmentIsSignificant());
    auto i12in16 = Pcm(0, 1, 12, kAudioFormatFlagIsSignedInteger, 2);
    EXPECT_TRUE(i12in16.AlignmentIsSignificant());
}

TEST(FormatEquality, WildcardFields) {
    EXPECT_TRUE(Float32(0, 2) == Float32(44100, 2));
    EXPECT_FALSE(Float32(44100, 2) == Float32(48000, 2));

    auto anyFormat = Float32(44100, 2);
    anyFormat.mFormatID = 0;
    EXPECT_TRUE(anyFormat == Float32(44100, 2));
    CAStreamBasicDescription aac(44100, kAudioFormatMPEG4AAC, 0, 1024, 0, 2, 0, 0);
    EXPECT_FALSE(Float32(44100, 2) == aac);

    // Zero flags are a wildcard, so are zero sizes.
    auto noFlags = Float32(44100, 2);
    noFlags.mFormatFlags = 0;
    const auto int32 = Pcm(44100, 2, 32, 0xC, 8);
    EXPECT_TRUE(noFlags == int32);
    EXPECT_FALSE(Float32(44100, 2) == int32);
    auto anySize = Float32(44100, 2);
    anySize.mBytesPerFrame = 0;
    anySize.mBytesPerPacket = 0;
    EXPECT_TRUE(anySize == Float32(44100, 2));
    EXPECT_FALSE(Float32(44100, 2) == Float32(44100, 1));

    // The reserved word is never compared.
    auto reserved = Float32(44100, 2);
    reserved.mReserved = 77;
    EXPECT_TRUE(reserved == Float32(44100, 2));
    EXPECT_TRUE(reserved.IsEqual(Float32(44100, 2), false));
    EXPECT_FALSE(anySize.IsEqual(Float32(44100, 2), false));
    EXPECT_TRUE(anySize.IsEqual(Float32(44100, 2), true));
}

TEST(FormatEquality, LinearPCMFlagNormalisation) {
    const UInt32 F = kAudioFormatFlagIsFloat, BE = kAudioFormatFlagIsBigEndian,
                 S = kAudioFormatFlagIsSignedInteger, P = kAudioFormatFlagIsPacked,
                 AH = kAudioFormatFlagIsAlignedHigh, NI = kAudioFormatFlagIsNonInterleaved;

    // Alignment is meaningless when both are packed, not otherwise.
    EXPECT_TRUE(Pcm(0, 2, 16, S | P | AH, 4) == Pcm(0, 2, 16, S | P, 4));
    EXPECT_FALSE(Pcm(0, 2, 16, S | AH, 4) == Pcm(0, 2, 16, S, 4));
    EXPECT_FALSE(Pcm(0, 2, 16, S | P | AH, 4) == Pcm(0, 2, 16, S, 4));

    // Signedness is meaningless for two float formats.
    EXPECT_TRUE(Pcm(0, 2, 32, F | P | S, 8) == Pcm(0, 2, 32, F | P, 8));
    EXPECT_FALSE(Pcm(0, 2, 32, P | S, 8) == Pcm(0, 2, 32, P, 8));

    // Byte order is meaningless for packed samples of a byte or less.
    EXPECT_TRUE(Pcm(0, 2, 8, P | BE, 2) == Pcm(0, 2, 8, P, 2));
    EXPECT_FALSE(Pcm(0, 2, 8, BE | AH, 2) == Pcm(0, 2, 8, AH, 2));
    EXPECT_FALSE(Pcm(0, 2, 16, S | P | BE, 4) == Pcm(0, 2, 16, S | P, 4));

    // Interleaving is meaningless for one channel.
    EXPECT_TRUE(Pcm(0, 1, 32, F | P | NI, 4) == Pcm(0, 1, 32, F | P, 4));
    EXPECT_FALSE(Pcm(0, 2, 32, F | P | NI, 4) == Pcm(0, 2, 32, F | P, 4));

    // The all-clear marker is dropped before comparing PCM flags...
    EXPECT_TRUE(Pcm(0, 2, 32, F | P | kAudioFormatFlagsAreAllClear, 8) == Pcm(0, 2, 32, F | P, 8));
    // ...but other formats compare their raw flags.
    CAStreamBasicDescription a(0, kAudioFormatAppleLossless, 0, 4096, 0, 2, 0, 1);
    CAStreamBasicDescription b = a;
    b.mFormatFlags = 1 | kAudioFormatFlagsAreAllClear;
    EXPECT_FALSE(a == b);
    b.mFormatFlags = 2;
    EXPECT_FALSE(a == b);
    b.mFormatFlags = 1;
    EXPECT_TRUE(a == b);
}

TEST(FormatOrdering, RulesInPriorityOrder) {
    CAStreamBasicDescription aac(44100, kAudioFormatMPEG4AAC, 0, 1024, 0, 2, 0, 0);
    CAStreamBasicDescription alac(44100, kAudioFormatAppleLossless, 0, 4096, 0, 2, 0, 1);
    auto pcm = Float32(96000, 8);

    // 1. PCM first, then by code value, even against better later fields.
    EXPECT_TRUE(pcm < aac);
    EXPECT_FALSE(aac < pcm);
    EXPECT_TRUE(aac < alac); // 'aac ' < 'alac'
    EXPECT_FALSE(alac < aac);

    // 2. Mixable before non-mixable, even when the mixable one is float.
    auto nonMixableInt = Pcm(44100, 2, 16,
                             kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked |
                                 kAudioFormatFlagIsNonMixable,
                             4);
    EXPECT_TRUE(Float32(44100, 2) < nonMixableInt);
    EXPECT_FALSE(nonMixableInt < Float32(44100, 2));

    // 3. Integer before float, even with more bits.
    auto int32 = Pcm(44100, 2, 32, kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked, 8);
    auto float16 = Pcm(44100, 2, 16, kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked, 4);
    EXPECT_TRUE(int32 < float16);
    EXPECT_FALSE(float16 < int32);

    // 4. Fewer bits first, before rate and channels.
    auto int16 = Pcm(96000, 8, 16, kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked, 16);
    auto int24 = Pcm(8000, 1, 24, kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked, 3);
    EXPECT_TRUE(int16 < int24);
    EXPECT_FALSE(int24 < int16);

    // 5. Lower rate first, before channels.
    EXPECT_TRUE(Float32(44100, 8) < Float32(48000, 1));
    EXPECT_FALSE(Float32(48000, 1) < Float32(44100, 8));

    // 6. Fewer channels.
    EXPECT_TRUE(Float32(44100, 1) < Float32(44100, 2));
    EXPECT_FALSE(Float32(44100, 2) < Float32(44100, 1));

    // 7. Nothing separates them.
    EXPECT_FALSE(Float32(44100, 2) < Float32(44100, 2));

    // Zero fields are skipped rather than compared.
    auto anyRate = Float32(0, 1);
    EXPECT_FALSE(anyRate < Float32(44100, 1));
    EXPECT_FALSE(Float32(44100, 1) < anyRate);
    auto anyId = Float32(44100, 2);
    anyId.mFormatID = 0;
    EXPECT_FALSE(anyId < aac);
    EXPECT_TRUE(anyId < Float32(44100, 4)); // decided by channels

    // Sorting by preference.
    std::vector<CAStreamBasicDescription> formats = {alac,  Float32(48000, 2), aac,
                                                     int16, Float32(44100, 2), nonMixableInt};
    std::sort(formats.begin(), formats.end(), [](const auto& x, const auto& y) { return x < y; });
    EXPECT_EQ(formats[0].mBitsPerChannel, 16u); // int16
    EXPECT_EQ(formats[1].mSampleRate, 44100.0);
    EXPECT_EQ(formats[2].mSampleRate, 48000.0);
    EXPECT_EQ(formats[3].mFormatFlags & kAudioFormatFlagIsNonMixable,
              UInt32(kAudioFormatFlagIsNonMixable));
    EXPECT_EQ(formats[4].mFormatID, kAudioFormatMPEG4AAC);
    EXPECT_EQ(formats[5].mFormatID, kAudioFormatAppleLossless);
}

TEST(FormatNormalisers, LinearPCMBecomesInterleavedFloat) {
    auto int24 = Pcm(44100, 2, 24,
                     kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsAlignedHigh |
                         kAudioFormatFlagIsNonInterleaved,
                     4);
    auto native = int24;
    CAStreamBasicDescription::NormalizeLinearPCMFormat(native);
    EXPECT_EQ(native.mFormatFlags, 0x9u);
    EXPECT_EQ(native.mBytesPerFrame, 8u);
    EXPECT_EQ(native.mBytesPerPacket, 8u);
    EXPECT_EQ(native.mFramesPerPacket, 1u);
    EXPECT_EQ(native.mBitsPerChannel, 32u);
    EXPECT_EQ(native.mSampleRate, 44100.0);
    EXPECT_TRUE(native.IsInterleavedFormat());

    auto big = int24;
    CAStreamBasicDescription::NormalizeLinearPCMFormat(false, big);
    EXPECT_EQ(big.mFormatFlags, 0xBu);
    auto little = int24;
    CAStreamBasicDescription::NormalizeLinearPCMFormat(true, little);
    EXPECT_EQ(little.mFormatFlags, 0x9u);

    auto nonMixable = int24;
    nonMixable.mFormatFlags |= kAudioFormatFlagIsNonMixable;
    auto before = nonMixable;
    CAStreamBasicDescription::NormalizeLinearPCMFormat(nonMixable);
    EXPECT_EQ(std::memcmp(&before, &nonMixable, sizeof(before)), 0);

    CAStreamBasicDescription aac(44100, kAudioFormatMPEG4AAC, 0, 1024, 0, 2, 0, 0);
    auto aacBefore = aac;
    CAStreamBasicDescription::NormalizeLinearPCMFormat(aac);
    EXPECT_EQ(std::memcmp(&aacBefore, &aac, sizeof(aac)), 0);
}

TEST(FormatNormalisers, FillOutFormatTakesOnlyWildcards) {
    CAStreamBasicDescription partial;
    partial.mChannelsPerFrame = 1;
    partial.mFormatFlags = kAudioFormatFlagIsSignedInteger;
    partial.mReserved = 5;
    auto tmpl = Float32(48000, 2);
    tmpl.mReserved = 9;
    CAStreamBasicDescription::FillOutFormat(partial, tmpl);
    EXPECT_EQ(partial.mSampleRate, 48000.0);
    EXPECT_EQ(partial.mFormatID, kAudioFormatLinearPCM);
    EXPECT_EQ(partial.mFormatFlags, UInt32(kAudioFormatFlagIsSignedInteger));
    EXPECT_EQ(partial.mBytesPerPacket, 8u);
    EXPECT_EQ(partial.mFramesPerPacket, 1u);
    EXPECT_EQ(partial.mBytesPerFrame, 8u);
    EXPECT_EQ(partial.mChannelsPerFrame, 1u);
    EXPECT_EQ(partial.mBitsPerChannel, 32u);
    EXPECT_EQ(partial.mReserved, 5u);
}

TEST(FormatSanity, Bounds) {
    EXPECT_TRUE(SanityCheck(Float32(44100, 2)));
    EXPECT_TRUE(SanityCheck(Float32(0, 2)));
    EXPECT_TRUE(SanityCheck(Float32(2999999.0, 2)));
    EXPECT_FALSE(SanityCheck(Float32(3000000.0, 2)));
    EXPECT_FALSE(SanityCheck(Float32(-1.0, 2)));
    EXPECT_FALSE(SanityCheck(Float32(std::nan(""), 2)));

    EXPECT_TRUE(SanityCheck(Float32(44100, 1024)));
    EXPECT_FALSE(SanityCheck(Float32(44100, 1025)));
    auto bits = Float32(44100, 2);
    bits.mBitsPerChannel = 1025;
    EXPECT_FALSE(SanityCheck(bits));
    auto bytes = Float32(44100, 2);
    bytes.mBytesPerFrame = bytes.mBytesPerPacket = 1000000;
    EXPECT_FALSE(SanityCheck(bytes));
    bytes.mBytesPerFrame = bytes.mBytesPerPacket = 999999;
    EXPECT_TRUE(SanityCheck(bytes));
    auto frames = CAStreamBasicDescription(44100, kAudioFormatMPEG4AAC, 0, 1000000, 0, 2, 0, 0);
    EXPECT_FALSE(SanityCheck(frames));

    EXPECT_FALSE(SanityCheck(CAStreamBasicDescription::sEmpty));

    // Linear PCM must have one frame per packet of one frame's size.
    auto packet = Float32(44100, 2);
    packet.mBytesPerPacket = 16;
    EXPECT_FALSE(SanityCheck(packet));
    auto twoFrames = Float32(44100, 2);
    twoFrames.mFramesPerPacket = 2;
    EXPECT_FALSE(SanityCheck(twoFrames));
    // Encoded formats have packets of their own shape.
    EXPECT_TRUE(
        SanityCheck(CAStreamBasicDescription(44100, kAudioFormatMPEG4AAC, 0, 1024, 0, 2, 0, 0)));
}

} // namespace
