// The compact stream-format text syntax, as a user types it on a command
// line: any bytes, read as a zero-terminated text. Whatever parses must also
// print, name and compare without trouble.
#include "FuzzSupport.h"

#include <aufw/CAStreamBasicDescription.h>

#include <cmath>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    AudioStreamBasicDescription desc;
    std::memset(&desc, 0xA5, sizeof desc);
    const bool parsed = CAStreamBasicDescription::FromText(text.c_str(), desc);
    // The record is cleared first, whatever the outcome.
    FUZZ_CHECK(desc.mReserved == 0);
    if (!parsed)
        return 0;

    const CAStreamBasicDescription d(desc);
    // (The format ID may be 0: four "\x00" escapes spell it.)
    FUZZ_CHECK(!(d.mSampleRate < 0)); // digits only; a long run may reach infinity

    // Printing keeps within the buffer at every size.
    for (size_t bufSize : {size_t{1}, size_t{7}, size_t{40}, size_t{256}}) {
        std::string buf(bufSize + 16, '\x7f');
        d.AsString(buf.data(), bufSize);
        FUZZ_CHECK(std::memchr(buf.data(), '\0', bufSize) != nullptr);
        for (size_t i = bufSize; i < buf.size(); ++i)
            FUZZ_CHECK(buf[i] == '\x7f');
    }
    for (UInt32 nameSize : {8u, 32u, 128u}) {
        for (int abbreviate = 0; abbreviate < 2; ++abbreviate) {
            for (int withRate = 0; withRate < 2; ++withRate) {
                std::string name(nameSize + 16, '\x7f');
                CAStreamBasicDescription::GetSimpleName(d, name.data(), nameSize, abbreviate != 0,
                                                        withRate != 0);
                FUZZ_CHECK(std::memchr(name.data(), '\0', nameSize) != nullptr);
                for (size_t i = nameSize; i < name.size(); ++i)
                    FUZZ_CHECK(name[i] == '\x7f');
            }
        }
    }
    char code[11];
    CAStringForOSType(d.mFormatID, code);
    FUZZ_CHECK(std::strlen(code) == 6 || std::strlen(code) == 10);

    // Equality is reflexive, the preference order irreflexive, and a record
    // filled out from itself stays the same.
    FUZZ_CHECK(d == d);
    FUZZ_CHECK(d.IsEqual(d, false));
    FUZZ_CHECK(!(d < d));
    AudioStreamBasicDescription filled = desc;
    CAStreamBasicDescription::FillOutFormat(filled, desc);
    FUZZ_CHECK(std::memcmp(&filled, &desc, sizeof desc) == 0);
    (void)SanityCheck(d);

    AudioStreamBasicDescription normal = desc;
    CAStreamBasicDescription::NormalizeLinearPCMFormat(normal);
    if (d.IsLinearPCM() && (d.mFormatFlags & kAudioFormatFlagIsNonMixable) == 0) {
        FUZZ_CHECK(normal.mBitsPerChannel == 32);
        FUZZ_CHECK(normal.mBytesPerFrame == 4 * normal.mChannelsPerFrame);
    } else {
        FUZZ_CHECK(std::memcmp(&normal, &desc, sizeof desc) == 0);
    }
    return 0;
}
