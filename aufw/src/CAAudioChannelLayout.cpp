#include <aufw/CAAudioChannelLayout.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>

AudioChannelLayout* CAAudioChannelLayout::Create(UInt32 inNumberChannelDescriptions) {
    // Never less than the declared record, so that its fields can be
    // addressed even when it holds no descriptions.
    const size_t size =
        std::max(CalculateByteSize(inNumberChannelDescriptions), sizeof(AudioChannelLayout));
    auto* layout = static_cast<AudioChannelLayout*>(std::calloc(1, size));
    if (layout == nullptr) {
        throw std::bad_alloc();
    }
    SetAllToUnknown(*layout, inNumberChannelDescriptions);
    return layout;
}

void CAAudioChannelLayout::Destroy(AudioChannelLayout* inLayout) noexcept {
    std::free(inLayout);
}

void CAAudioChannelLayout::SetAllToUnknown(AudioChannelLayout& outLayout,
                                           UInt32 inNumberChannelDescriptions) noexcept {
    outLayout.mChannelLayoutTag = kAudioChannelLayoutTag_UseChannelDescriptions;
    outLayout.mChannelBitmap = 0;
    outLayout.mNumberChannelDescriptions = inNumberChannelDescriptions;
    AudioChannelDescription* descriptions = outLayout.mChannelDescriptions;
    for (UInt32 i = 0; i < inNumberChannelDescriptions; ++i) {
        descriptions[i].mChannelLabel = kAudioChannelLabel_Unknown;
        descriptions[i].mChannelFlags = 0;
        descriptions[i].mCoordinates[0] = 0.0f;
        descriptions[i].mCoordinates[1] = 0.0f;
        descriptions[i].mCoordinates[2] = 0.0f;
    }
}

UInt32 CAAudioChannelLayout::NumberChannels(const AudioChannelLayout& inLayout) noexcept {
    switch (inLayout.mChannelLayoutTag) {
    case kAudioChannelLayoutTag_UseChannelDescriptions:
        return inLayout.mNumberChannelDescriptions;
    case kAudioChannelLayoutTag_UseChannelBitmap:
        return static_cast<UInt32>(std::popcount(inLayout.mChannelBitmap));
    default:
        return AudioChannelLayoutTag_GetNumberOfChannels(inLayout.mChannelLayoutTag);
    }
}

bool operator==(const AudioChannelLayout& x, const AudioChannelLayout& y) noexcept {
    const size_t size = CAAudioChannelLayout::CalculateByteSize(x.mNumberChannelDescriptions);
    if (size != CAAudioChannelLayout::CalculateByteSize(y.mNumberChannelDescriptions)) {
        return false;
    }
    return std::memcmp(&x, &y, size) == 0;
}

void CAShowAudioChannelLayout(FILE* file, const AudioChannelLayout* layout) {
    if (layout == nullptr) {
        std::fprintf(file, "\tNULL layout\n");
        return;
    }
    std::fprintf(file, "\tTag=0x%X, ", static_cast<unsigned>(layout->mChannelLayoutTag));
    if (layout->mChannelLayoutTag == kAudioChannelLayoutTag_UseChannelBitmap) {
        std::fprintf(file, "Using Bitmap:0x%X\n", static_cast<unsigned>(layout->mChannelBitmap));
        return;
    }
    std::fprintf(file, "Num Chan Descs=%d\n", static_cast<int>(layout->mNumberChannelDescriptions));
    const AudioChannelDescription* descriptions = layout->mChannelDescriptions;
    for (UInt32 i = 0; i < layout->mNumberChannelDescriptions; ++i) {
        const AudioChannelDescription& d = descriptions[i];
        std::fprintf(file, "\t\tLabel=%d, Flags=0x%X, ", static_cast<int>(d.mChannelLabel),
                     static_cast<unsigned>(d.mChannelFlags));
        std::fprintf(file, "[az=%f,el=%f,dist=%f]\n", static_cast<double>(d.mCoordinates[0]),
                     static_cast<double>(d.mCoordinates[1]),
                     static_cast<double>(d.mCoordinates[2]));
    }
}
