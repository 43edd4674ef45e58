// Ownership, text and value helpers the CoreFoundation tests share.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <string>

namespace cftest {

// An object the test owns, released when it goes out of scope.
template <typename Ref> struct Owned {
    Ref ref;
    ~Owned() {
        if (ref != nullptr)
            CFRelease(ref);
    }
    operator Ref() const { return ref; }
    Ref get() const { return ref; }
};

template <typename Ref> Owned<Ref> own(Ref ref) {
    return {ref};
}

// The UTF-8 text of a string; "<none>" for a null or unconvertible one.
inline std::string text(CFStringRef s) {
    char buffer[1024];
    return s && CFStringGetCString(s, buffer, sizeof buffer, kCFStringEncodingUTF8) ? buffer
                                                                                    : "<none>";
}

// The same for a string the caller owns, which is released.
inline std::string take(CFStringRef s) {
    return text(own(s));
}

inline CFStringRef makeString(const char* utf8) {
    return CFStringCreateWithCString(nullptr, utf8, kCFStringEncodingUTF8);
}

inline CFNumberRef makeNumber(int value) {
    return CFNumberCreate(nullptr, kCFNumberIntType, &value);
}

} // namespace cftest
