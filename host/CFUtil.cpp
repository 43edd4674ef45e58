#include "CFUtil.h"

#include <vector>

namespace vxhost {

std::string toString(CFStringRef text) {
    if (!text)
        return {};
    if (const char* direct = CFStringGetCStringPtr(text, kCFStringEncodingUTF8))
        return direct;
    const CFIndex size =
        CFStringGetMaximumSizeForEncoding(CFStringGetLength(text), kCFStringEncodingUTF8) + 1;
    std::vector<char> buffer(static_cast<size_t>(size));
    if (!CFStringGetCString(text, buffer.data(), size, kCFStringEncodingUTF8))
        return {};
    return buffer.data();
}

CFRef<CFStringRef> makeString(const std::string& text) {
    return CFRef<CFStringRef>(
        CFStringCreateWithCString(kCFAllocatorDefault, text.c_str(), kCFStringEncodingUTF8));
}

namespace {
CFTypeRef lookup(CFDictionaryRef dict, const char* key) {
    if (!dict)
        return nullptr;
    return CFDictionaryGetValue(dict, __CFStringMakeConstantString(key));
}
} // namespace

std::optional<SInt64> dictInteger(CFDictionaryRef dict, const char* key) {
    CFTypeRef value = lookup(dict, key);
    SInt64 number = 0;
    if (!value || CFGetTypeID(value) != CFNumberGetTypeID() ||
        !CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberSInt64Type, &number))
        return std::nullopt;
    return number;
}

std::optional<std::string> dictString(CFDictionaryRef dict, const char* key) {
    CFTypeRef value = lookup(dict, key);
    if (!value || CFGetTypeID(value) != CFStringGetTypeID())
        return std::nullopt;
    return toString(static_cast<CFStringRef>(value));
}

CFDataRef dictData(CFDictionaryRef dict, const char* key) {
    CFTypeRef value = lookup(dict, key);
    if (!value || CFGetTypeID(value) != CFDataGetTypeID())
        return nullptr;
    return static_cast<CFDataRef>(value);
}

std::string fourCC(OSType code) {
    std::string text(4, '?');
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>((code >> (24 - 8 * i)) & 0xFF);
        if (c >= 0x20 && c < 0x7F)
            text[static_cast<size_t>(i)] = c;
    }
    return text;
}

std::optional<OSType> parseFourCC(const std::string& text) {
    if (text.size() != 4)
        return std::nullopt;
    OSType code = 0;
    for (char c : text) {
        if (c < 0x20 || c >= 0x7F)
            return std::nullopt;
        code = (code << 8) | static_cast<unsigned char>(c);
    }
    return code;
}

} // namespace vxhost
