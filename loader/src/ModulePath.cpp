#include "loader/ModulePath.h"

#include <CoreFoundation/CoreFoundation.h>

#include <cstring>

namespace NSVextra {

bool getModulePath(const char* bundleIdentifier, char* outPath) {
    if (!bundleIdentifier || !outPath)
        return false;
    CFStringRef identifier =
        CFStringCreateWithCString(kCFAllocatorDefault, bundleIdentifier, kCFStringEncodingASCII);
    if (!identifier)
        return false;
    CFBundleRef bundle = CFBundleGetBundleWithIdentifier(identifier);
    CFRelease(identifier);
    if (!bundle)
        return false;
    CFURLRef url = CFBundleCopyBundleURL(bundle);
    if (!url)
        return false;
    CFStringRef path = CFURLCopyFileSystemPath(url, kCFURLPOSIXPathStyle);
    CFRelease(url);
    if (!path)
        return false;
    // Converted aside first: a conversion that fails half way must not leave
    // a partial path behind for the caller.
    char converted[kModulePathSize] = {};
    const bool ok = CFStringGetCString(path, converted, sizeof converted, kCFStringEncodingASCII);
    CFRelease(path);
    if (!ok)
        return false;
    std::memcpy(outPath, converted, std::strlen(converted) + 1);
    return true;
}

} // namespace NSVextra
