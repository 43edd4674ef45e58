// The string object and the encoding conversions behind CFString.
#pragma once

#include "cf/cf_runtime.h"

#include <string>

namespace vxplatform {

class String final : public Object {
public:
    String(std::u16string text, bool isMutable);

    bool isMutable() const { return mMutable; }
    const std::u16string& text() const { return mText; }
    // Only mutable strings change; the cached UTF-8 copy is dropped.
    std::u16string& editableText() { return mText; }

    // The text as UTF-8 when it is held that way (immutable strings only).
    const char* cachedUTF8() const { return mMutable ? nullptr : mUtf8.c_str(); }
    bool isASCII() const;

    bool equals(const Object& other) const override;
    CFHashCode hash() const override;
    std::string describe() const override;
    std::string formatted() const override;

private:
    std::u16string mText;
    std::string mUtf8;
    bool mMutable;
};

inline const String* asString(CFTypeRef cf) {
    return as<String>(cf, kTypeString);
}
// The whole text of a string, and whether a range lies inside it.
inline CFRange wholeRange(const String* s) {
    return CFRangeMake(0, s == nullptr ? 0 : static_cast<CFIndex>(s->text().size()));
}

inline bool validRange(const String* s, CFRange range) {
    return s != nullptr && range.location >= 0 && range.length >= 0 &&
           range.location + range.length <= static_cast<CFIndex>(s->text().size());
}

// Null unless cf is a mutable string.
String* asMutableString(CFTypeRef cf);

// Decodes bytes in an encoding; false when they are not valid in it.
bool decodeBytes(const UInt8* bytes, size_t length, CFStringEncoding encoding, std::u16string& out);
// Encodes text; false when some character is not representable (unless
// lossByte is non-zero, which then stands in for it).
bool encodeText(std::u16string_view text, CFStringEncoding encoding, UInt8 lossByte,
                std::string& out);
bool encodingSupported(CFStringEncoding encoding);

std::u16string utf8ToUTF16(std::string_view utf8, bool* ok);
std::string utf16ToUTF8(std::u16string_view text);

// printf-style formatting with "%@" for CF objects.
std::string formatString(const std::string& format, va_list arguments);

} // namespace vxplatform
