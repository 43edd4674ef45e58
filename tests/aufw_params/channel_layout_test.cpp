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

LayoutPtr Make(UInt32 descriptions) {
    return LayoutPtr(CAAudioChannelLayout::Create(descriptions));
}

} // namespace

TEST(CAAudioChannelLayout, CreateMakesUnknownDescriptions) {
    EXPECT_EQ(CAAudioChannelLayout::CalculateByteSize(0), 12u);
    EXPECT_EQ(CAAudioChannelLayout::CalculateByteSize(3), 72u);

    LayoutPtr layout = Make(3);
    ASSERT_NE(layout, nullptr);
    EXPECT_EQ(layout->mChannelLayoutTag, 0u);
    EXPECT_EQ(layout->mChannelBitmap, 0u);
    EXPECT_EQ(layout->mNumberChannelDescriptions, 3u);
    const AudioChannelDescription* d = layout->mChannelDescriptions;
    for (UInt32 i = 0; i < 3; ++i) {
        EXPECT_EQ(d[i].mChannelLabel, 0xFFFFFFFFu);
        EXPECT_EQ(d[i].mChannelFlags, 0u);
        EXPECT_EQ(d[i].mCoordinates[0], 0.0f);
        EXPECT_EQ(d[i].mCoordinates[2], 0.0f);
    }

    LayoutPtr none = Make(0);
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(none->mNumberChannelDescriptions, 0u);
}

TEST(CAAudioChannelLayout, NumberChannels) {
    LayoutPtr layout = Make(5);
    EXPECT_EQ(CAAudioChannelLayout::NumberChannels(*layout), 5u);

    layout->mChannelLayoutTag = kAudioChannelLayoutTag_UseChannelBitmap;
    layout->mChannelBitmap = 0x3F;
    EXPECT_EQ(CAAudioChannelLayout::NumberChannels(*layout), 6u);
    layout->mChannelBitmap = 0;
    EXPECT_EQ(CAAudioChannelLayout::NumberChannels(*layout), 0u);

    layout->mChannelLayoutTag = kAudioChannelLayoutTag_Stereo;
    EXPECT_EQ(CAAudioChannelLayout::NumberChannels(*layout), 2u);
    layout->mChannelLayoutTag = kAudioChannelLayoutTag_MPEG_5_1_A;
    EXPECT_EQ(CAAudioChannelLayout::NumberChannels(*layout), 6u);
    layout->mChannelLayoutTag = kAudioChannelLayoutTag_DiscreteInOrder | 11;
    EXPECT_EQ(CAAudioChannelLayout::NumberChannels(*layout), 11u);
}

TEST(CAAudioChannelLayout, EqualityComparesSizeAndBytes) {
    LayoutPtr a = Make(2);
    LayoutPtr b = Make(2);
    EXPECT_TRUE(*a == *b);
    EXPECT_FALSE(*a != *b);

    b->mChannelDescriptions[1].mCoordinates[2] = 1.0f;
    EXPECT_FALSE(*a == *b);
    EXPECT_TRUE(*a != *b);
    b->mChannelDescriptions[1].mCoordinates[2] = 0.0f;
    b->mChannelBitmap = 1;
    EXPECT_NE(*a, *b);

    // Same tag, different description counts: different sizes, unequal.
    LayoutPtr stereo2 = Make(2);
    LayoutPtr stereo3 = Make(3);
    stereo2->mChannelLayoutTag = kAudioChannelLayoutTag_Stereo;
    stereo3->mChannelLayoutTag = kAudioChannelLayoutTag_Stereo;
    EXPECT_FALSE(*stereo2 == *stereo3);
    EXPECT_FALSE(*stereo3 == *stereo2);
}

TEST(CAAudioChannelLayout, ShowPrintsTheLayout) {
    EXPECT_EQ(Shown(nullptr), "\tNULL layout\n");

    LayoutPtr layout = Make(2);
    layout->mChannelDescriptions[0].mChannelLabel = kAudioChannelLabel_Left;
    layout->mChannelDescriptions[1].mChannelLabel = kAudioChannelLabel_Right;
    layout->mChannelDescriptions[1].mChannelFlags = kAudioChannelFlags_SphericalCoordinates;
    layout->mChannelDescriptions[1].mCoordinates[0] = 30.0f;
    layout->mChannelDescriptions[1].mCoordinates[2] = 1.5f;
    EXPECT_EQ(Shown(layout.get()),
              "\tTag=0x0, Num Chan Descs=2\n"
              "\t\tLabel=1, Flags=0x0, [az=0.000000,el=0.000000,dist=0.000000]\n"
              "\t\tLabel=2, Flags=0x2, [az=30.000000,el=0.000000,dist=1.500000]\n");

    layout->mChannelLayoutTag = kAudioChannelLayoutTag_UseChannelBitmap;
    layout->mChannelBitmap = 0x3F;
    EXPECT_EQ(Shown(layout.get()), "\tTag=0x10000, Using Bitmap:0x3F\n");

    LayoutPtr unknown = Make(1);
    unknown->mChannelLayoutTag = kAudioChannelLayoutTag_Stereo;
    EXPECT_EQ(Shown(unknown.get()),
              "\tTag=0x650002, Num Chan Descs=1\n"
              "\t\tLabel=-1, Flags=0x0, [az=0.000000,el=0.000000,dist=0.000000]\n");
}
