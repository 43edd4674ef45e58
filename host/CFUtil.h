// Small helpers around Core Foundation objects: an owning reference and the
// conversions the host needs.
#pragma once

#include <CoreFoundation/CoreFoundation.h>
#include <MacTypes.h>

#include <optional>
#include <string>
#include <utility>

namespace vxhost {

// Owns one reference to a Core Foundation object.
template <typename T> class CFRef {
public:
    CFRef() = default;
    explicit CFRef(T ref) : mRef(ref) {}
    CFRef(const CFRef&) = delete;
    CFRef& operator=(const CFRef&) = delete;
    CFRef(CFRef&& other) noexcept : mRef(std::exchange(other.mRef, nullptr)) {}
    CFRef& operator=(CFRef&& other) noexcept {
        if (this != &other) {
            reset();
            mRef = std::exchange(other.mRef, nullptr);
        }
        return *this;
    }
    ~CFRef() { reset(); }

    void reset(T ref = nullptr) {
        if (mRef)
            CFRelease(mRef);
        mRef = ref;
    }
    T get() const { return mRef; }
    T* receive() {
        reset();
        return &mRef;
    }
    explicit operator bool() const { return mRef != nullptr; }

private:
    T mRef = nullptr;
};

std::string toString(CFStringRef text);
CFRef<CFStringRef> makeString(const std::string& text);

// The value under key when it is of the expected type, else nothing.
std::optional<SInt64> dictInteger(CFDictionaryRef dict, const char* key);
std::optional<std::string> dictString(CFDictionaryRef dict, const char* key);
CFDataRef dictData(CFDictionaryRef dict, const char* key);

// "aufx" for 'aufx'; characters outside printable ASCII become '?'.
std::string fourCC(OSType code);
// Parses exactly four printable ASCII characters.
std::optional<OSType> parseFourCC(const std::string& text);

} // namespace vxhost
