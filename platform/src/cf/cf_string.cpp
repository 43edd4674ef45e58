#include "cf/cf_string.h"

#include <unicode/uchar.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstring>
#include <mutex>
#include <unordered_map>

namespace vxplatform {

String::String(std::u16string text, bool isMutable)
    : Object(kTypeString), mText(std::move(text)), mMutable(isMutable) {
    if (!mMutable) {
        mUtf8 = utf16ToUTF8(mText);
    }
}

bool String::isASCII() const {
    return std::all_of(mText.begin(), mText.end(), [](char16_t c) { return c < 0x80; });
}

bool String::equals(const Object& other) const {
    return mText == static_cast<const String&>(other).mText;
}

CFHashCode String::hash() const {
    // FNV-1a over the UTF-16 units, so equal strings hash alike.
    uint64_t h = 1469598103934665603ull;
    for (char16_t c : mText) {
        h = (h ^ c) * 1099511628211ull;
    }
    return static_cast<CFHashCode>(h);
}

std::string String::describe() const {
    return utf16ToUTF8(mText);
}
std::string String::formatted() const {
    return utf16ToUTF8(mText);
}

String* asMutableString(CFTypeRef cf) {
    auto* string = asMutable<String>(cf, kTypeString);
    return string != nullptr && string->isMutable() ? string : nullptr;
}

std::string toUTF8(CFStringRef string) {
    const String* s = asString(string);
    return s == nullptr ? std::string() : utf16ToUTF8(s->text());
}

CFStringRef createString(std::u16string text) {
    return handle<CFStringRef>(new String(std::move(text), false));
}

CFStringRef createString(std::string_view utf8) {
    bool ok = false;
    std::u16string text = utf8ToUTF16(utf8, &ok);
    return ok ? createString(std::move(text)) : nullptr;
}

CFMutableStringRef createMutableString(std::string_view utf8) {
    bool ok = false;
    std::u16string text = utf8ToUTF16(utf8, &ok);
    return ok ? handle<CFMutableStringRef>(new String(std::move(text), true)) : nullptr;
}

} // namespace vxplatform

using namespace vxplatform;

namespace {

std::string asciiDigitsFrom(const String* s) {
    std::string text;
    if (s == nullptr) {
        return text;
    }
    for (char16_t c : s->text()) {
        text += c < 0x80 ? static_cast<char>(c) : '\x7f';
    }
    return text;
}

} // namespace

CFStringRef __CFStringMakeConstantString(const char* cStr) {
    // Literals are interned forever: one object per distinct text.
    static std::mutex* mutex = new std::mutex;
    static auto* table = new std::unordered_map<std::string, const String*>;
    const std::string key = cStr != nullptr ? cStr : "";
    std::lock_guard<std::mutex> lock(*mutex);
    auto found = table->find(key);
    if (found != table->end()) {
        return handle<CFStringRef>(found->second);
    }
    bool ok = false;
    std::u16string text = utf8ToUTF16(key, &ok);
    if (!ok) {
        text.assign(key.begin(), key.end()); // not UTF-8: read as Latin-1
        for (char16_t& c : text) {
            c = static_cast<char16_t>(c & 0xFF);
        }
    }
    auto* string = new String(std::move(text), false);
    string->makeImmortal();
    table->emplace(key, string);
    return handle<CFStringRef>(string);
}

CFTypeID CFStringGetTypeID(void) {
    return kTypeString;
}

CFStringRef CFStringCreateWithBytes(CFAllocatorRef, const UInt8* bytes, CFIndex numBytes,
                                    CFStringEncoding encoding, Boolean isExternalRepresentation) {
    if (numBytes < 0 || (bytes == nullptr && numBytes > 0)) {
        return nullptr;
    }
    std::u16string text;
    (void)isExternalRepresentation; // byte-order marks are honoured either way
    if (!decodeBytes(bytes, static_cast<size_t>(numBytes), encoding, text)) {
        return nullptr;
    }
    return createString(std::move(text));
}

CFStringRef CFStringCreateWithCString(CFAllocatorRef alloc, const char* cStr,
                                      CFStringEncoding encoding) {
    if (cStr == nullptr) {
        return nullptr;
    }
    return CFStringCreateWithBytes(alloc, reinterpret_cast<const UInt8*>(cStr),
                                   static_cast<CFIndex>(std::strlen(cStr)), encoding, false);
}

CFStringRef CFStringCreateWithCStringNoCopy(CFAllocatorRef alloc, const char* cStr,
                                            CFStringEncoding encoding,
                                            CFAllocatorRef contentsDeallocator) {
    // The text is converted, so the caller's bytes are not needed afterwards.
    CFStringRef result = CFStringCreateWithCString(alloc, cStr, encoding);
    if (result != nullptr) {
        deallocateWith(contentsDeallocator, const_cast<char*>(cStr));
    }
    return result;
}

CFStringRef CFStringCreateWithCharacters(CFAllocatorRef, const UniChar* chars, CFIndex numChars) {
    if (numChars < 0 || (chars == nullptr && numChars > 0)) {
        return nullptr;
    }
    std::u16string text(static_cast<size_t>(numChars), u'\0');
    if (numChars > 0) {
        std::memcpy(text.data(), chars, static_cast<size_t>(numChars) * sizeof(UniChar));
    }
    return createString(std::move(text));
}

CFStringRef CFStringCreateCopy(CFAllocatorRef, CFStringRef theString) {
    const String* s = asString(theString);
    if (s == nullptr) {
        return nullptr;
    }
    if (!s->isMutable()) {
        // An immutable string is its own copy.
        CFRetain(theString);
        return theString;
    }
    return createString(s->text());
}

CFStringRef CFStringCreateWithSubstring(CFAllocatorRef, CFStringRef str, CFRange range) {
    const String* s = asString(str);
    if (!validRange(s, range)) {
        return nullptr;
    }
    return createString(
        s->text().substr(static_cast<size_t>(range.location), static_cast<size_t>(range.length)));
}

CFStringRef CFStringCreateWithFormatAndArguments(CFAllocatorRef, CFDictionaryRef,
                                                 CFStringRef format, va_list arguments) {
    if (asString(format) == nullptr) {
        return nullptr;
    }
    return createString(formatString(toUTF8(format), arguments));
}

CFStringRef CFStringCreateWithFormat(CFAllocatorRef alloc, CFDictionaryRef formatOptions,
                                     CFStringRef format, ...) {
    va_list arguments;
    va_start(arguments, format);
    CFStringRef result =
        CFStringCreateWithFormatAndArguments(alloc, formatOptions, format, arguments);
    va_end(arguments);
    return result;
}

CFMutableStringRef CFStringCreateMutable(CFAllocatorRef, CFIndex) {
    return handle<CFMutableStringRef>(new String(std::u16string(), true));
}

CFMutableStringRef CFStringCreateMutableCopy(CFAllocatorRef, CFIndex, CFStringRef theString) {
    const String* s = asString(theString);
    return handle<CFMutableStringRef>(
        new String(s != nullptr ? s->text() : std::u16string(), true));
}

CFArrayRef CFStringCreateArrayBySeparatingStrings(CFAllocatorRef, CFStringRef theString,
                                                  CFStringRef separatorString) {
    const String* s = asString(theString);
    const String* sep = asString(separatorString);
    if (s == nullptr || sep == nullptr) {
        return nullptr;
    }
    CFMutableArrayRef parts = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
    const std::u16string& text = s->text();
    const std::u16string& separator = sep->text();
    size_t begin = 0;
    while (true) {
        size_t end = separator.empty() ? std::u16string::npos : text.find(separator, begin);
        CFStringRef part = createString(
            text.substr(begin, end == std::u16string::npos ? std::u16string::npos : end - begin));
        CFArrayAppendValue(parts, part);
        CFRelease(part);
        if (end == std::u16string::npos) {
            break;
        }
        begin = end + separator.size();
    }
    CFArrayRef result = CFArrayCreateCopy(nullptr, parts);
    CFRelease(parts);
    return result;
}

CFStringRef CFStringCreateByCombiningStrings(CFAllocatorRef, CFArrayRef theArray,
                                             CFStringRef separatorString) {
    const String* sep = asString(separatorString);
    std::u16string text;
    const CFIndex count = CFArrayGetCount(theArray);
    for (CFIndex k = 0; k < count; ++k) {
        if (k > 0 && sep != nullptr) {
            text += sep->text();
        }
        if (const String* part = asString(CFArrayGetValueAtIndex(theArray, k))) {
            text += part->text();
        }
    }
    return createString(std::move(text));
}

CFIndex CFStringGetLength(CFStringRef theString) {
    const String* s = asString(theString);
    return s == nullptr ? 0 : static_cast<CFIndex>(s->text().size());
}

UniChar CFStringGetCharacterAtIndex(CFStringRef theString, CFIndex idx) {
    const String* s = asString(theString);
    if (s == nullptr || idx < 0 || idx >= static_cast<CFIndex>(s->text().size())) {
        return 0;
    }
    return s->text()[static_cast<size_t>(idx)];
}

void CFStringGetCharacters(CFStringRef theString, CFRange range, UniChar* buffer) {
    const String* s = asString(theString);
    if (buffer == nullptr || !validRange(s, range)) {
        return;
    }
    std::memcpy(buffer, s->text().data() + range.location,
                static_cast<size_t>(range.length) * sizeof(UniChar));
}

Boolean CFStringGetCString(CFStringRef theString, char* buffer, CFIndex bufferSize,
                           CFStringEncoding encoding) {
    const String* s = asString(theString);
    if (buffer == nullptr || bufferSize <= 0) {
        return false;
    }
    std::string bytes;
    if (s == nullptr || !encodeText(s->text(), encoding, 0, bytes) ||
        static_cast<CFIndex>(bytes.size()) + 1 > bufferSize) {
        buffer[0] = '\0';
        return false;
    }
    std::memcpy(buffer, bytes.data(), bytes.size());
    buffer[bytes.size()] = '\0';
    return true;
}

const char* CFStringGetCStringPtr(CFStringRef theString, CFStringEncoding encoding) {
    const String* s = asString(theString);
    if (s == nullptr || s->isMutable()) {
        return nullptr;
    }
    if (encoding == kCFStringEncodingUTF8) {
        return s->cachedUTF8();
    }
    const bool asciiCompatible =
        encoding == kCFStringEncodingASCII || encoding == kCFStringEncodingMacRoman ||
        encoding == kCFStringEncodingISOLatin1 || encoding == kCFStringEncodingWindowsLatin1;
    return asciiCompatible && s->isASCII() ? s->cachedUTF8() : nullptr;
}

CFIndex CFStringGetBytes(CFStringRef theString, CFRange range, CFStringEncoding encoding,
                         UInt8 lossByte, Boolean isExternalRepresentation, UInt8* buffer,
                         CFIndex maxBufLen, CFIndex* usedBufLen) {
    const String* s = asString(theString);
    CFIndex used = 0;
    CFIndex converted = 0;
    if (validRange(s, range)) {
        std::string bom;
        if (isExternalRepresentation && encoding == kCFStringEncodingUTF16) {
            bom = "\xFF\xFE";
        }
        if (buffer == nullptr || static_cast<CFIndex>(bom.size()) <= maxBufLen) {
            if (buffer != nullptr) {
                std::memcpy(buffer, bom.data(), bom.size());
            }
            used = static_cast<CFIndex>(bom.size());
        }
        // Character by character, so that a full buffer or an unconvertible
        // character ends the conversion at a character boundary.
        const std::u16string& text = s->text();
        CFIndex k = range.location;
        const CFIndex end = range.location + range.length;
        std::string piece;
        while (k < end) {
            CFIndex units = 1;
            if (U16_IS_LEAD(text[static_cast<size_t>(k)]) && k + 1 < end &&
                U16_IS_TRAIL(text[static_cast<size_t>(k + 1)])) {
                units = 2;
            }
            if (!encodeText(std::u16string_view(text).substr(static_cast<size_t>(k),
                                                             static_cast<size_t>(units)),
                            encoding, lossByte, piece)) {
                break;
            }
            const auto size = static_cast<CFIndex>(piece.size());
            if (buffer != nullptr) {
                if (used + size > maxBufLen) {
                    break;
                }
                std::memcpy(buffer + used, piece.data(), piece.size());
            }
            used += size;
            k += units;
        }
        converted = k - range.location;
    }
    if (usedBufLen != nullptr) {
        *usedBufLen = used;
    }
    return converted;
}

CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding encoding) {
    switch (encoding) {
    case kCFStringEncodingUTF8:
        return length * 3;
    case kCFStringEncodingUTF16:
    case kCFStringEncodingUTF16BE:
    case kCFStringEncodingUTF16LE:
        return length * 2;
    case kCFStringEncodingUTF32:
    case kCFStringEncodingUTF32BE:
    case kCFStringEncodingUTF32LE:
        return length * 4;
    case kCFStringEncodingNonLossyASCII:
        return length * 6;
    default:
        return length;
    }
}

CFIndex CFStringGetMaximumSizeOfFileSystemRepresentation(CFStringRef string) {
    return CFStringGetMaximumSizeForEncoding(CFStringGetLength(string), kCFStringEncodingUTF8) + 1;
}

Boolean CFStringGetFileSystemRepresentation(CFStringRef string, char* buffer, CFIndex maxBufLen) {
    return CFStringGetCString(string, buffer, maxBufLen, kCFStringEncodingUTF8);
}

SInt32 CFStringGetIntValue(CFStringRef str) {
    const std::string text = asciiDigitsFrom(asString(str));
    size_t k = 0;
    while (k < text.size() && (text[k] == ' ' || text[k] == '\t' || text[k] == '\n')) {
        ++k;
    }
    bool negative = false;
    if (k < text.size() && (text[k] == '+' || text[k] == '-')) {
        negative = text[k] == '-';
        ++k;
    }
    long long value = 0;
    while (k < text.size() && text[k] >= '0' && text[k] <= '9') {
        value = value * 10 + (text[k] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) {
            return negative ? INT_MIN : INT_MAX;
        }
        ++k;
    }
    if (negative) {
        value = -value;
    }
    return static_cast<SInt32>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

double CFStringGetDoubleValue(CFStringRef str) {
    // Always the "." decimal point, whatever the C locale says.
    const std::string text = asciiDigitsFrom(asString(str));
    size_t k = 0;
    while (k < text.size() && (text[k] == ' ' || text[k] == '\t' || text[k] == '\n')) {
        ++k;
    }
    bool negative = false;
    if (k < text.size() && (text[k] == '+' || text[k] == '-')) {
        negative = text[k] == '-';
        ++k;
    }
    double value = 0.0;
    const auto result = std::from_chars(text.data() + k, text.data() + text.size(), value,
                                        std::chars_format::general);
    if (result.ec == std::errc::invalid_argument) {
        return 0.0;
    }
    return negative ? -value : value;
}

CFStringEncoding CFStringGetSystemEncoding(void) {
    return kCFStringEncodingMacRoman;
}

Boolean CFStringIsEncodingAvailable(CFStringEncoding encoding) {
    return encodingSupported(encoding);
}
