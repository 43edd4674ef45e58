// Ownership, text and value helpers the CoreFoundation tests share.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <string>

namespace cftest {

// An object the test owns, released when it goes out of scope.
template <typename Ref> class Owned {
public:
    explicit Owned(Ref ref) : mRef(ref) {}
    ~Owned() {
        if (mRef != nullptr)
            CFRelease(mRef);
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    operator Ref() const { return mRef; }
    Ref get() const { return mRef; }

private:
    Ref mRef;
};

template <typename Ref> Owned<Ref> own(Ref ref) {
    return Owned<Ref>(ref);
}

// The UTF-8 text of a string; "<none>" for a null or unconvertible one.
inline std::string text(CFStringRef s) {
    char buffer[1024];
    return s != nullptr && CFStringGetCString(s, buffer, sizeof buffer, kCFStringEncodingUTF8)
               ? buffer
               : "<none>";
}

// The same for a string the caller owns, which is released.
inline std::string take(CFStringRef s) {
    std::string result = text(s);
    if (s != nullptr)
        CFRelease(s);
    return result;
}

inline CFStringRef makeString(const char* utf8) {
    return CFStringCreateWithCString(nullptr, utf8, kCFStringEncodingUTF8);
}

inline CFNumberRef makeNumber(int value) {
    return CFNumberCreate(nullptr, kCFNumberIntType, &value);
}

} // namespace cftest
