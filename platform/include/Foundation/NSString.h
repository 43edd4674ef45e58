// An immutable Unicode string held as UTF-8, with the path operations the
// file manager's callers use. Value semantics stand in for retain/release.
#pragma once

#include <VXExport.h>

#include <Foundation/NSObjCRuntime.h>

#include <string>
#include <utility>

class VX_EXPORT NSString {
public:
    NSString() = default;
    // -initWithUTF8String:. Bytes are kept as given, so names that a Linux
    // file system allows but that are not valid UTF-8 still round-trip; a
    // null pointer gives the empty string.
    explicit NSString(const char* utf8);
    explicit NSString(std::string utf8) : m_utf8(std::move(utf8)) {}

    static NSString stringWithUTF8String(const char* utf8) { return NSString(utf8); }

    // Joins with exactly one "/", folds repeated slashes and drops a trailing
    // one (the root "/" stays), like the platform's path-string methods.
    NSString stringByAppendingPathComponent(const NSString& component) const;
    // The part after the last "/", ignoring trailing slashes; "/" for the
    // root, the empty string for the empty string.
    NSString lastPathComponent() const;

    // Valid as long as this string lives.
    const char* UTF8String() const { return m_utf8.c_str(); }
    NSUInteger lengthOfUTF8() const { return m_utf8.size(); }
    BOOL isEqualToString(const NSString& other) const { return m_utf8 == other.m_utf8; }

private:
    std::string m_utf8;
};
