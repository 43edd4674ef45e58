// The platform half of the property-list differential test: reads and writes
// through the public API only; plist_oracle.py describes the token and record
// forms ("R <length>\n<bytes>" reads and writes back, "W <tokens>\n" writes).
#include <CoreFoundation/CoreFoundation.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Each item as 2 * sizeof(T) hex digits, and back.
template <typename T> std::string hex(const T* items, size_t count) {
    std::string out;
    char buffer[20];
    for (size_t k = 0; k < count; ++k) {
        std::snprintf(buffer, sizeof buffer, "%0*llx", int(2 * sizeof(T)),
                      static_cast<unsigned long long>(items[k]));
        out += buffer;
    }
    return out;
}

template <typename T> std::vector<T> unhex(const std::string& digits) {
    std::vector<T> out;
    for (size_t k = 0; k + 2 * sizeof(T) <= digits.size(); k += 2 * sizeof(T))
        out.push_back(static_cast<T>(std::stoull(digits.substr(k, 2 * sizeof(T)), nullptr, 16)));
    return out;
}

std::string bits(double value) {
    const auto word = std::bit_cast<uint64_t>(value);
    return hex(&word, 1);
}

double fromBits(const std::string& digits) {
    return std::bit_cast<double>(unhex<uint64_t>(digits).at(0));
}

std::string tokens(CFTypeRef value) {
    const CFTypeID type = CFGetTypeID(value);
    if (type == CFStringGetTypeID()) {
        std::vector<UniChar> units(static_cast<size_t>(CFStringGetLength((CFStringRef)value)));
        CFStringGetCharacters((CFStringRef)value, CFRangeMake(0, CFIndex(units.size())),
                              units.data());
        return "s" + hex(units.data(), units.size());
    }
    if (type == CFNumberGetTypeID()) {
        double d = 0;
        int64_t i = 0;
        if (CFNumberIsFloatType((CFNumberRef)value)) {
            CFNumberGetValue((CFNumberRef)value, kCFNumberFloat64Type, &d);
            return d != d ? "fnan" : "f" + bits(d);
        }
        CFNumberGetValue((CFNumberRef)value, kCFNumberSInt64Type, &i);
        return "i" + std::to_string(i);
    }
    if (type == CFBooleanGetTypeID())
        return CFBooleanGetValue((CFBooleanRef)value) ? "T" : "F";
    if (type == CFDataGetTypeID())
        return "d" + hex(CFDataGetBytePtr((CFDataRef)value),
                         static_cast<size_t>(CFDataGetLength((CFDataRef)value)));
    if (type == CFDateGetTypeID())
        return "t" + bits(CFDateGetAbsoluteTime((CFDateRef)value));
    if (type == CFArrayGetTypeID()) {
        std::string out = "a" + std::to_string(CFArrayGetCount((CFArrayRef)value));
        for (CFIndex k = 0; k < CFArrayGetCount((CFArrayRef)value); ++k)
            out += " " + tokens(CFArrayGetValueAtIndex((CFArrayRef)value, k));
        return out;
    }
    if (type != CFDictionaryGetTypeID())
        return "?";
    const auto count = static_cast<size_t>(CFDictionaryGetCount((CFDictionaryRef)value));
    std::vector<const void*> keys(count), values(count);
    CFDictionaryGetKeysAndValues((CFDictionaryRef)value, keys.data(), values.data());
    std::vector<std::string> pairs;
    for (size_t k = 0; k < count; ++k)
        pairs.push_back(tokens(keys[k]) + " " + tokens(values[k]));
    std::sort(pairs.begin(), pairs.end()); // keys are unique, so this sorts by key
    std::string out = "D" + std::to_string(count);
    for (const std::string& pair : pairs)
        out += " " + pair;
    return out;
}

// The value the tokens describe, owned by the caller.
CFTypeRef build(std::istringstream& in) {
    std::string token;
    in >> token;
    const std::string rest = token.empty() ? "" : token.substr(1);
    switch (token.empty() ? ' ' : token[0]) {
    case 's': {
        const auto units = unhex<UniChar>(rest);
        return CFStringCreateWithCharacters(nullptr, units.data(), CFIndex(units.size()));
    }
    case 'i': {
        const int64_t value = std::stoll(rest);
        return CFNumberCreate(nullptr, kCFNumberSInt64Type, &value);
    }
    case 'f': {
        const double value = fromBits(rest);
        return CFNumberCreate(nullptr, kCFNumberFloat64Type, &value);
    }
    case 'T':
    case 'F':
        return CFRetain(token[0] == 'T' ? kCFBooleanTrue : kCFBooleanFalse);
    case 'd': {
        const auto bytes = unhex<UInt8>(rest);
        return CFDataCreate(nullptr, bytes.data(), CFIndex(bytes.size()));
    }
    case 't':
        return CFDateCreate(nullptr, fromBits(rest));
    case 'a':
    case 'D': { // n values, or n key and value pairs
        std::vector<CFTypeRef> items;
        for (long k = std::stol(rest) * (token[0] == 'D' ? 2 : 1); k > 0; --k)
            items.push_back(build(in));
        CFMutableArrayRef array = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
        CFMutableDictionaryRef dict = CFDictionaryCreateMutable(
            nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
        for (size_t k = 0; k < items.size(); k += token[0] == 'a' ? 1 : 2)
            token[0] == 'a' ? CFArrayAppendValue(array, items[k])
                            : CFDictionarySetValue(dict, items[k], items[k + 1]);
        for (CFTypeRef item : items)
            CFRelease(item);
        CFRelease(token[0] == 'a' ? (CFTypeRef)dict : array);
        return token[0] == 'a' ? (CFTypeRef)array : dict;
    }
    default:
        return nullptr;
    }
}

// "ERR <code> <description on one line>"; releases the error.
std::string errorLine(CFErrorRef error) {
    if (error == nullptr)
        return "ERR 0 (no error object)";
    char text[2048] = "(no description)";
    if (CFStringRef description = CFErrorCopyDescription(error)) {
        CFStringGetCString(description, text, sizeof text, kCFStringEncodingUTF8);
        CFRelease(description);
    }
    std::replace(text, text + std::strlen(text), '\n', ' ');
    const std::string line = "ERR " + std::to_string(CFErrorGetCode(error)) + " " + text;
    CFRelease(error);
    return line;
}

// "OK [<tokens> ]<hex of the document written>", or an "ERR" line; releases value.
std::string write(CFTypeRef value, bool withTokens) {
    if (value == nullptr)
        return "ERR 0 no value";
    CFErrorRef error = nullptr;
    CFDataRef data =
        CFPropertyListCreateData(nullptr, value, kCFPropertyListXMLFormat_v1_0, 0, &error);
    std::string line = data == nullptr ? errorLine(error)
                                       : "OK " + (withTokens ? tokens(value) + " " : "") +
                                             hex(CFDataGetBytePtr(data),
                                                 static_cast<size_t>(CFDataGetLength(data)));
    if (data != nullptr)
        CFRelease(data);
    CFRelease(value);
    return line;
}

} // namespace

int main() {
    std::string header;
    while (std::getline(std::cin, header)) {
        if (header.rfind("R ", 0) == 0) {
            std::string bytes(std::stoul(header.substr(2)), '\0');
            std::cin.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            CFDataRef data =
                CFDataCreate(nullptr, (const UInt8*)bytes.data(), CFIndex(bytes.size()));
            CFErrorRef error = nullptr;
            CFPropertyListRef plist = CFPropertyListCreateWithData(
                nullptr, data, kCFPropertyListImmutable, nullptr, &error);
            CFRelease(data);
            std::cout << (plist ? write(plist, true) : errorLine(error)) << std::endl;
        } else if (header.rfind("W ", 0) == 0) {
            std::istringstream in(header.substr(2));
            std::cout << write(build(in), false) << std::endl;
        } else if (!header.empty()) {
            return 2;
        }
    }
}
