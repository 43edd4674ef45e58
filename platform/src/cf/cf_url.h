// File URLs: a path plus whether it names a folder.
#pragma once

#include "cf/cf_runtime.h"

#include <string>

namespace vxcf {

class URL final : public Object {
public:
    // path: a POSIX path (relative paths have a base, the working folder) or,
    // for other schemes, the URL text.
    URL(std::string scheme, std::string path, bool isDirectory, CFURLRef base);
    ~URL() override;

    const std::string& scheme() const { return scheme_; }
    const std::string& path() const { return path_; }
    bool isDirectory() const { return directory_; }
    CFURLRef base() const { return base_; }
    CFStringRef string() const { return string_; }
    // The path made absolute against the base.
    std::string absolutePath() const;

    bool equals(const Object& other) const override;
    CFHashCode hash() const override;
    std::string describe() const override;
    std::string formatted() const override;

private:
    std::string scheme_;
    std::string path_;
    bool directory_;
    CFURLRef base_;
    CFStringRef string_;
};

inline const URL* asURL(CFTypeRef cf) {
    return as<URL>(cf, kTypeURL);
}

// A file URL for a POSIX path (relative to the working folder when not absolute).
CFURLRef createFileURL(const std::string& path, bool isDirectory);

} // namespace vxcf
