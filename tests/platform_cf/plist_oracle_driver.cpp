// The platform half of the property-list differential test (plist_oracle.py):
// reads documents and writes values through the public property-list API
// only, and prints each result in a token form that the Python half can
// build from plistlib's values too.
//
// Values as tokens, separated by single spaces:
//   s<UTF-16 code units, 4 hex digits each>   i<decimal>   f<16 hex digits of
//   the IEEE bits> (fnan for any NaN)   T   F   d<hex bytes>   t<16 hex digits
//   of the seconds since 2001 as a double>   a<n> followed by n values
//   D<n> followed by n key and value pairs (sorted by key token)
//
// stdin: records, one after another:
//   "R <length>\n" and that many bytes: read a document, write it back
//   "W <tokens>\n": build the value and write it
// stdout: one line per record:
//   read:  "OK <tokens> <hex of the document written back>" or "ERR <code> <message>"
//   write: "OK <hex of the document>" or "ERR <code> <message>"
#include <CoreFoundation/CoreFoundation.h>

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

std::string hex(const UInt8* bytes, size_t length) {
    std::string out;
    char buffer[3];
    for (size_t k = 0; k < length; ++k) {
        std::snprintf(buffer, sizeof buffer, "%02x", bytes[k]);
        out += buffer;
    }
    return out;
}

std::string bitsOf(double value) {
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    char buffer[20];
    std::snprintf(buffer, sizeof buffer, "%016" PRIx64, bits);
    return buffer;
}

double doubleOf(const std::string& hexBits) {
    const uint64_t bits = std::stoull(hexBits, nullptr, 16);
    double value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

std::string tokens(CFTypeRef value) {
    const CFTypeID type = CFGetTypeID(value);
    if (type == CFStringGetTypeID()) {
        auto s = static_cast<CFStringRef>(value);
        std::vector<UniChar> units(static_cast<size_t>(CFStringGetLength(s)));
        CFStringGetCharacters(s, CFRangeMake(0, static_cast<CFIndex>(units.size())), units.data());
        std::string out = "s";
        char buffer[8];
        for (UniChar u : units) {
            std::snprintf(buffer, sizeof buffer, "%04x", static_cast<unsigned>(u));
            out += buffer;
        }
        return out;
    }
    if (type == CFNumberGetTypeID()) {
        auto n = static_cast<CFNumberRef>(value);
        if (CFNumberIsFloatType(n)) {
            double d = 0;
            CFNumberGetValue(n, kCFNumberFloat64Type, &d);
            return d != d ? "fnan" : "f" + bitsOf(d);
        }
        int64_t i = 0;
        CFNumberGetValue(n, kCFNumberSInt64Type, &i);
        return "i" + std::to_string(i);
    }
    if (type == CFBooleanGetTypeID())
        return CFBooleanGetValue(static_cast<CFBooleanRef>(value)) ? "T" : "F";
    if (type == CFDataGetTypeID()) {
        auto d = static_cast<CFDataRef>(value);
        return "d" + hex(CFDataGetBytePtr(d), static_cast<size_t>(CFDataGetLength(d)));
    }
    if (type == CFDateGetTypeID())
        return "t" + bitsOf(CFDateGetAbsoluteTime(static_cast<CFDateRef>(value)));
    if (type == CFArrayGetTypeID()) {
        auto a = static_cast<CFArrayRef>(value);
        std::string out = "a" + std::to_string(CFArrayGetCount(a));
        for (CFIndex k = 0; k < CFArrayGetCount(a); ++k)
            out += " " + tokens(CFArrayGetValueAtIndex(a, k));
        return out;
    }
    if (type == CFDictionaryGetTypeID()) {
        auto d = static_cast<CFDictionaryRef>(value);
        const auto count = static_cast<size_t>(CFDictionaryGetCount(d));
        std::vector<const void*> keys(count), values(count);
        CFDictionaryGetKeysAndValues(d, keys.data(), values.data());
        std::vector<std::pair<std::string, std::string>> pairs;
        for (size_t k = 0; k < count; ++k)
            pairs.emplace_back(tokens(keys[k]), tokens(values[k]));
        std::sort(pairs.begin(), pairs.end());
        std::string out = "D" + std::to_string(count);
        for (const auto& [key, item] : pairs)
            out += " " + key + " " + item;
        return out;
    }
    return "?";
}

// Appends the value it builds, then releases it.
template <typename Add> void adding(CFTypeRef value, Add add) {
    add(value);
    CFRelease(value);
}

// Builds the value the tokens describe; the caller owns it.
CFTypeRef build(std::istringstream& in) {
    std::string token;
    in >> token;
    if (token.empty())
        return nullptr;
    const std::string rest = token.substr(1);
    switch (token[0]) {
    case 's': {
        std::vector<UniChar> units;
        for (size_t k = 0; k + 4 <= rest.size(); k += 4)
            units.push_back(static_cast<UniChar>(std::stoul(rest.substr(k, 4), nullptr, 16)));
        return CFStringCreateWithCharacters(nullptr, units.data(),
                                            static_cast<CFIndex>(units.size()));
    }
    case 'i': {
        const int64_t value = std::stoll(rest);
        return CFNumberCreate(nullptr, kCFNumberSInt64Type, &value);
    }
    case 'f': {
        const double value = doubleOf(rest);
        return CFNumberCreate(nullptr, kCFNumberFloat64Type, &value);
    }
    case 'T':
    case 'F':
        return CFRetain(token[0] == 'T' ? kCFBooleanTrue : kCFBooleanFalse);
    case 'd': {
        std::vector<UInt8> bytes;
        for (size_t k = 0; k + 2 <= rest.size(); k += 2)
            bytes.push_back(static_cast<UInt8>(std::stoul(rest.substr(k, 2), nullptr, 16)));
        return CFDataCreate(nullptr, bytes.data(), static_cast<CFIndex>(bytes.size()));
    }
    case 't':
        return CFDateCreate(nullptr, doubleOf(rest));
    case 'a': {
        CFMutableArrayRef array = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
        for (long k = std::stol(rest); k > 0; --k)
            adding(build(in), [&](CFTypeRef item) { CFArrayAppendValue(array, item); });
        return array;
    }
    case 'D': {
        CFMutableDictionaryRef dict = CFDictionaryCreateMutable(
            nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
        for (long k = std::stol(rest); k > 0; --k)
            adding(build(in), [&](CFTypeRef key) {
                adding(build(in), [&](CFTypeRef item) { CFDictionarySetValue(dict, key, item); });
            });
        return dict;
    }
    default:
        return nullptr;
    }
}

// "ERR <code> <description>" for a failed call, and releases the error.
std::string errorLine(CFErrorRef error) {
    if (error == nullptr)
        return "ERR 0 (no error object)";
    CFStringRef description = CFErrorCopyDescription(error);
    char buffer[2048] = "(no description)";
    if (description != nullptr) {
        CFStringGetCString(description, buffer, sizeof buffer, kCFStringEncodingUTF8);
        CFRelease(description);
    }
    std::string text = buffer;
    std::replace(text.begin(), text.end(), '\n', ' ');
    const std::string line = "ERR " + std::to_string(CFErrorGetCode(error)) + " " + text;
    CFRelease(error);
    return line;
}

// "OK <hex of the document written>" for a value, or an "ERR" line.
std::string written(CFTypeRef value) {
    CFErrorRef error = nullptr;
    CFDataRef data =
        CFPropertyListCreateData(nullptr, value, kCFPropertyListXMLFormat_v1_0, 0, &error);
    if (data == nullptr)
        return errorLine(error);
    const std::string line =
        "OK " + hex(CFDataGetBytePtr(data), static_cast<size_t>(CFDataGetLength(data)));
    CFRelease(data);
    return line;
}

std::string readRecord(const std::string& bytes) {
    CFDataRef data = CFDataCreate(nullptr, reinterpret_cast<const UInt8*>(bytes.data()),
                                  static_cast<CFIndex>(bytes.size()));
    CFErrorRef error = nullptr;
    CFPropertyListRef plist =
        CFPropertyListCreateWithData(nullptr, data, kCFPropertyListImmutable, nullptr, &error);
    CFRelease(data);
    if (plist == nullptr)
        return errorLine(error);
    const std::string document = written(plist);
    const std::string line = document.rfind("OK ", 0) == 0
                                 ? "OK " + tokens(plist) + " " + document.substr(3)
                                 : "ERR 0 read but not written: " + document;
    CFRelease(plist);
    return line;
}

std::string writeRecord(const std::string& words) {
    std::istringstream in(words);
    CFTypeRef value = build(in);
    if (value == nullptr)
        return "ERR 0 bad value tokens";
    const std::string line = written(value);
    CFRelease(value);
    return line;
}

} // namespace

int main() {
    std::ios::sync_with_stdio(false);
    std::string header;
    while (std::getline(std::cin, header)) {
        if (header.rfind("R ", 0) == 0) {
            std::string bytes(std::stoul(header.substr(2)), '\0');
            std::cin.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            std::cout << readRecord(bytes) << '\n';
        } else if (header.rfind("W ", 0) == 0) {
            std::cout << writeRecord(header.substr(2)) << '\n';
        } else if (!header.empty()) {
            std::cerr << "plist_oracle_driver: unknown record " << header << '\n';
            return 2;
        }
        std::cout.flush();
    }
    return 0;
}
