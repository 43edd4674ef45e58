// File URLs: a path plus whether it names a folder.
#pragma once

#include "cf/cf_runtime.h"

#include <string>

namespace vxplatform {

class URL final : public Object {
public:
    // path: a POSIX path (relative paths have a base, the working folder) or,
    // for other schemes, the URL text.
    URL(std::string scheme, std::string path, bool isDirectory, CFURLRef base);
    ~URL() override;

    const std::string& scheme() const { return mScheme; }
    const std::string& path() const { return mPath; }
    bool isDirectory() const { return mDirectory; }
    CFURLRef base() const { return mBase; }
    CFStringRef string() const { return mString; }
    // The path made absolute against the base.
    std::string absolutePath() const;

    bool equals(const Object& other) const override;
    CFHashCode hash() const override;
    std::string describe() const override;
    std::string formatted() const override;

private:
    std::string mScheme;
    std::string mPath;
    bool mDirectory;
    CFURLRef mBase;
    CFStringRef mString;
};

inline const URL* asURL(CFTypeRef cf) {
    return as<URL>(cf, kTypeURL);
}

// A file URL for a POSIX path (relative to the working folder when not absolute).
CFURLRef createFileURL(const std::string& path, bool isDirectory);

} // namespace vxplatform
