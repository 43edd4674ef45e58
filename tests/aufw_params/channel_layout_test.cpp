// Channel-layout records: creation, channel counts, equality and printing.
#include <aufw/CAAudioChannelLayout.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

// What CAShowAudioChannelLayout prints for a layout.
std::string Shown(const AudioChannelLayout* layout) {
    char* buffer = nullptr;
    size_t size = 0;
    FILE* stream = open_memstream(&buffer, &size);
    CAShowAudioChannelLayout(stream, layout);
    std::fclose(stream);
    std::string text(buffer, size);
    std::free(buffer);
    return text;
}

struct LayoutDeleter {
    void operator()(AudioChannelLayout* p) const { CAAudioChannelLayout::Destroy(p); }
};
using LayoutPtr = std::unique_ptr<AudioChannelLayout, LayoutDeleter>;

LayoutPtr Make(UInt32 descriptions, AudioChannelLayoutTag tag = 0) {
    LayoutPtr layout(CAAudioChannelLayout::Create(descriptions));
    layout->mChannelLayoutTag = tag;
    return layout;
}

const std::string kUnknown = "\t\tLabel=-1, Flags=0x0, [az=0.000000,el=0.000000,dist=0.000000]\n";

TEST(CAAudioChannelLayout, CreateMakesUnknownDescriptionsAndCountsChannels) {
    EXPECT_EQ(CAAudioChannelLayout::CalculateByteSize(0), 12u);
    EXPECT_EQ(CAAudioChannelLayout::CalculateByteSize(3), 72u);
    LayoutPtr layout(CAAudioChannelLayout::Create(3));
    EXPECT_EQ(layout->mChannelBitmap, 0u);
    EXPECT_EQ(Shown(layout.get()),
              "\tTag=0x0, Num Chan Descs=3\n" + kUnknown + kUnknown + kUnknown);
    EXPECT_EQ(Make(0)->mNumberChannelDescriptions, 0u);

    EXPECT_EQ(CAAudioChannelLayout::NumberChannels(*layout), 3u);
    layout->mChannelLayoutTag = kAudioChannelLayoutTag_UseChannelBitmap;
    layout->mChannelBitmap = 0x3F;
    EXPECT_EQ(CAAudioChannelLayout::NumberChannels(*layout), 6u);
    layout->mChannelBitmap = 0;
    EXPECT_EQ(CAAudioChannelLayout::NumberChannels(*layout), 0u);
    EXPECT_EQ(CAAudioChannelLayout::NumberChannels(*Make(5, kAudioChannelLayoutTag_Stereo)), 2u);
    EXPECT_EQ(CAAudioChannelLayout::NumberChannels(*Make(5, kAudioChannelLayoutTag_MPEG_5_1_A)),
              6u);
    EXPECT_EQ(
        CAAudioChannelLayout::NumberChannels(*Make(5, kAudioChannelLayoutTag_DiscreteInOrder | 11)),
        11u);
}

TEST(CAAudioChannelLayout, EqualityComparesSizeAndBytes) {
    LayoutPtr a = Make(2), b = Make(2);
    EXPECT_TRUE(*a == *b);
    EXPECT_FALSE(*a != *b);
    b->mChannelDescriptions[1].mCoordinates[2] = 1.0f;
    EXPECT_FALSE(*a == *b);
    EXPECT_TRUE(*a != *b);
    b->mChannelDescriptions[1].mCoordinates[2] = 0.0f;
    b->mChannelBitmap = 1;
    EXPECT_NE(*a, *b);
    // Same tag, different description counts: different sizes, unequal.
    LayoutPtr stereo2 = Make(2, kAudioChannelLayoutTag_Stereo);
    LayoutPtr stereo3 = Make(3, kAudioChannelLayoutTag_Stereo);
    EXPECT_FALSE(*stereo2 == *stereo3);
    EXPECT_FALSE(*stereo3 == *stereo2);
}

TEST(CAAudioChannelLayout, ShowPrintsTheLayout) {
    EXPECT_EQ(Shown(nullptr), "\tNULL layout\n");
    LayoutPtr layout = Make(2);
    layout->mChannelDescriptions[0].mChannelLabel = kAudioChannelLabel_Left;
    layout->mChannelDescriptions[1] = {
        kAudioChannelLabel_Right, kAudioChannelFlags_SphericalCoordinates, {30.0f, 0, 1.5f}};
    EXPECT_EQ(Shown(layout.get()),
              "\tTag=0x0, Num Chan Descs=2\n"
              "\t\tLabel=1, Flags=0x0, [az=0.000000,el=0.000000,dist=0.000000]\n"
              "\t\tLabel=2, Flags=0x2, [az=30.000000,el=0.000000,dist=1.500000]\n");
    layout->mChannelLayoutTag = kAudioChannelLayoutTag_UseChannelBitmap;
    layout->mChannelBitmap = 0x3F;
    EXPECT_EQ(Shown(layout.get()), "\tTag=0x10000, Using Bitmap:0x3F\n");
    EXPECT_EQ(Shown(Make(1, kAudioChannelLayoutTag_Stereo).get()),
              "\tTag=0x650002, Num Chan Descs=1\n" + kUnknown);
}

} // namespace
