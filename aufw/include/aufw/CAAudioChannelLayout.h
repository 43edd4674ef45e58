// Channel-layout records: creating, sizing, comparing, counting and printing
// the platform's variable-length AudioChannelLayout.
#pragma once

#include <CoreAudio/CoreAudioTypes.h>

#include <cstddef>
#include <cstdio>

struct CAAudioChannelLayout {
    // Bytes of a record with inNumberChannelDescriptions descriptions.
    static constexpr size_t CalculateByteSize(UInt32 inNumberChannelDescriptions) noexcept {
        return offsetof(AudioChannelLayout, mChannelDescriptions) +
               size_t{inNumberChannelDescriptions} * sizeof(AudioChannelDescription);
    }

    // A new zeroed record whose descriptions are all unknown; free it with
    // Destroy. Raises std::bad_alloc when memory is exhausted.
    static AudioChannelLayout* Create(UInt32 inNumberChannelDescriptions);
    static void Destroy(AudioChannelLayout* inLayout) noexcept;
    // Tag and bitmap 0 (the descriptions apply), the count set, and every
    // description labelled unknown with no flags and zero coordinates. The
    // record must have room for that many descriptions.
    static void SetAllToUnknown(AudioChannelLayout& outLayout,
                                UInt32 inNumberChannelDescriptions) noexcept;
    // Channels the layout describes: set bits of the bitmap, the count in a
    // tag's low 16 bits, or the number of descriptions.
    static UInt32 NumberChannels(const AudioChannelLayout& inLayout) noexcept;
};

// Equal when the records have the same size and the same bytes.
bool operator==(const AudioChannelLayout& x, const AudioChannelLayout& y) noexcept;
inline bool operator!=(const AudioChannelLayout& x, const AudioChannelLayout& y) noexcept {
    return !(x == y);
}

// Prints the layout for diagnostics; null prints "\tNULL layout".
void CAShowAudioChannelLayout(FILE* file, const AudioChannelLayout* layout);
