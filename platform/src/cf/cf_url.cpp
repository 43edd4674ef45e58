#include "cf/cf_url.h"
#include "cf/cf_string.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <unistd.h>

#include <fmt/format.h>

namespace vxplatform {

namespace {

// Characters that file URLs carry unescaped.
bool unreserved(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::strchr("-._~/!$&'()*+,;=:@", c) != nullptr;
}

std::string percentEncode(const std::string& path) {
    std::string out;
    for (unsigned char c : path) {
        if (c != 0 && unreserved(c)) {
            out += static_cast<char>(c);
        } else {
            out += fmt::format("%{:02X}", c);
        }
    }
    return out;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool percentDecode(const std::string& text, std::string& out) {
    out.clear();
    for (size_t k = 0; k < text.size(); ++k) {
        if (text[k] != '%') {
            out += text[k];
            continue;
        }
        if (k + 2 >= text.size()) {
            return false;
        }
        const int hi = hexValue(text[k + 1]);
        const int lo = hexValue(text[k + 2]);
        if (hi < 0 || lo < 0) {
            return false;
        }
        out += static_cast<char>(hi * 16 + lo);
        k += 2;
    }
    return true;
}

// Drops repeated and trailing slashes; "" stays "".
std::string tidyPath(const std::string& path) {
    std::string out;
    for (char c : path) {
        if (c == '/' && !out.empty() && out.back() == '/') {
            continue;
        }
        out += c;
    }
    while (out.size() > 1 && out.back() == '/') {
        out.pop_back();
    }
    return out;
}

std::string workingFolder() {
    std::string buffer(4096, '\0');
    if (getcwd(buffer.data(), buffer.size()) == nullptr) {
        return "/";
    }
    buffer.resize(std::strlen(buffer.c_str()));
    return buffer;
}

std::string lastComponent(const std::string& path) {
    if (path == "/") {
        return path;
    }
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The position of the extension's dot in the last component, or npos.
size_t extensionDot(const std::string& path) {
    const size_t slash = path.rfind('/');
    const size_t start = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot <= start || dot + 1 == path.size()) {
        return std::string::npos;
    }
    return dot;
}

const URL* fileURL(CFURLRef url) {
    const URL* u = asURL(url);
    return u != nullptr && u->scheme() == "file" ? u : nullptr;
}

CFURLRef withPath(const URL& url, const std::string& path, bool isDirectory) {
    if (url.base() != nullptr && !path.empty() && path[0] != '/') {
        return handle<CFURLRef>(new URL("file", path, isDirectory, url.base()));
    }
    return createFileURL(path, isDirectory);
}

} // namespace

URL::URL(std::string scheme, std::string path, bool isDirectory, CFURLRef base)
    : Object(kTypeURL), mScheme(std::move(scheme)), mPath(std::move(path)), mDirectory(isDirectory),
      mBase(base) {
    if (mBase != nullptr) {
        CFRetain(mBase);
    }
    std::string text;
    if (mScheme != "file") {
        text = mPath;
    } else {
        const bool slash = mDirectory && mPath != "/" && !mPath.empty();
        text = percentEncode(mPath) + (slash ? "/" : "");
        if (mBase == nullptr) {
            text = "file://" + text;
        }
    }
    mString = createString(text);
    if (mString == nullptr) {
        mString = createString(std::string_view("")); // not UTF-8: still an object
    }
}

URL::~URL() {
    CFRelease(mString);
    if (mBase != nullptr) {
        CFRelease(mBase);
    }
}

std::string URL::absolutePath() const {
    if (mBase == nullptr || (!mPath.empty() && mPath[0] == '/')) {
        return mPath;
    }
    const URL* base = asURL(mBase);
    std::string root = base != nullptr ? base->absolutePath() : std::string("/");
    if (mPath.empty() || mPath == ".") {
        return root;
    }
    return root == "/" ? "/" + mPath : root + "/" + mPath;
}

bool URL::equals(const Object& other) const {
    const auto& o = static_cast<const URL&>(other);
    return mScheme == o.mScheme && mPath == o.mPath && mDirectory == o.mDirectory &&
           CFEqual(mBase, o.mBase);
}

CFHashCode URL::hash() const {
    return CFHash(mString);
}

std::string URL::describe() const {
    return formatted();
}

std::string URL::formatted() const {
    std::string text = toUTF8(mString);
    if (mBase != nullptr) {
        text += " -- " + vxplatform::formatted(mBase);
    }
    return text;
}

CFURLRef createFileURL(const std::string& rawPath, bool isDirectory) {
    const std::string path = tidyPath(rawPath);
    if (path.empty()) {
        return nullptr;
    }
    CFURLRef base = nullptr;
    if (path[0] != '/') {
        base = createFileURL(workingFolder(), true);
    }
    auto* url = new URL("file", path, isDirectory, base);
    if (base != nullptr) {
        CFRelease(base);
    }
    return handle<CFURLRef>(url);
}

} // namespace vxplatform

using namespace vxplatform;

CFTypeID CFURLGetTypeID(void) {
    return kTypeURL;
}

CFURLRef CFURLCreateWithFileSystemPath(CFAllocatorRef, CFStringRef filePath,
                                       CFURLPathStyle pathStyle, Boolean isDirectory) {
    if (asString(filePath) == nullptr || pathStyle != kCFURLPOSIXPathStyle) {
        return nullptr;
    }
    return createFileURL(toUTF8(filePath), isDirectory);
}

CFURLRef CFURLCreateFromFileSystemRepresentation(CFAllocatorRef, const UInt8* buffer,
                                                 CFIndex bufLen, Boolean isDirectory) {
    if (buffer == nullptr || bufLen <= 0) {
        return nullptr;
    }
    std::string path(reinterpret_cast<const char*>(buffer), static_cast<size_t>(bufLen));
    path.resize(std::strlen(path.c_str())); // a terminator inside the length ends the path
    return createFileURL(path, isDirectory);
}

CFURLRef CFURLCreateWithString(CFAllocatorRef, CFStringRef URLString, CFURLRef baseURL) {
    if (asString(URLString) == nullptr) {
        return nullptr;
    }
    const std::string text = toUTF8(URLString);
    const size_t colon = text.find(':');
    const size_t slash = text.find('/');
    const bool hasScheme =
        colon != std::string::npos && colon > 0 && (slash == std::string::npos || colon < slash);
    std::string path;
    if (!hasScheme) {
        const URL* base = fileURL(baseURL);
        if (base == nullptr || !percentDecode(text, path)) {
            return nullptr;
        }
        if (!path.empty() && path[0] != '/') {
            // A reference relative to the base: resolved against its folder.
            std::string root = base->absolutePath();
            if (!base->isDirectory()) {
                const size_t cut = root.rfind('/');
                root = cut == 0 || cut == std::string::npos ? "/" : root.substr(0, cut);
            }
            path = root == "/" ? "/" + path : root + "/" + path;
        }
        const bool isDirectory = !text.empty() && text.back() == '/';
        return createFileURL(path, isDirectory);
    }
    std::string scheme = text.substr(0, colon);
    for (char& c : scheme) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (scheme != "file") {
        return handle<CFURLRef>(new URL(scheme, text, false, nullptr));
    }
    std::string rest = text.substr(colon + 1);
    if (rest.rfind("//", 0) == 0) {
        rest = rest.substr(2);
        const size_t pathStart = rest.find('/');
        const std::string host = rest.substr(0, pathStart);
        if (!host.empty() && host != "localhost") {
            return nullptr;
        }
        rest = pathStart == std::string::npos ? "/" : rest.substr(pathStart);
    }
    if (!percentDecode(rest, path) || path.empty() || path[0] != '/') {
        return nullptr;
    }
    return createFileURL(path, rest.back() == '/');
}

CFURLRef CFURLCreateCopyAppendingPathComponent(CFAllocatorRef, CFURLRef url,
                                               CFStringRef pathComponent, Boolean isDirectory) {
    const URL* u = fileURL(url);
    if (u == nullptr || asString(pathComponent) == nullptr) {
        return nullptr;
    }
    const std::string component = toUTF8(pathComponent);
    const std::string path = u->path() == "/" ? "/" + component : u->path() + "/" + component;
    return withPath(*u, path, isDirectory);
}

CFURLRef CFURLCreateCopyDeletingLastPathComponent(CFAllocatorRef, CFURLRef url) {
    const URL* u = fileURL(url);
    if (u == nullptr) {
        return nullptr;
    }
    const std::string path = u->absolutePath();
    const size_t slash = path.rfind('/');
    if (path == "/" || slash == std::string::npos) {
        return createFileURL("/", true);
    }
    return createFileURL(slash == 0 ? "/" : path.substr(0, slash), true);
}

CFURLRef CFURLCreateCopyAppendingPathExtension(CFAllocatorRef, CFURLRef url,
                                               CFStringRef extension) {
    const URL* u = fileURL(url);
    if (u == nullptr || asString(extension) == nullptr || u->path() == "/") {
        return nullptr;
    }
    return withPath(*u, u->path() + "." + toUTF8(extension), u->isDirectory());
}

CFURLRef CFURLCreateCopyDeletingPathExtension(CFAllocatorRef, CFURLRef url) {
    const URL* u = fileURL(url);
    if (u == nullptr) {
        return nullptr;
    }
    const size_t dot = extensionDot(u->path());
    return withPath(*u, dot == std::string::npos ? u->path() : u->path().substr(0, dot),
                    u->isDirectory());
}

CFURLRef CFURLCopyAbsoluteURL(CFURLRef relativeURL) {
    const URL* u = asURL(relativeURL);
    if (u == nullptr) {
        return nullptr;
    }
    if (u->base() == nullptr) {
        CFRetain(relativeURL);
        return relativeURL;
    }
    return createFileURL(u->absolutePath(), u->isDirectory());
}

CFStringRef CFURLGetString(CFURLRef anURL) {
    const URL* u = asURL(anURL);
    return u == nullptr ? nullptr : u->string();
}

CFURLRef CFURLGetBaseURL(CFURLRef anURL) {
    const URL* u = asURL(anURL);
    return u == nullptr ? nullptr : u->base();
}

CFStringRef CFURLCopyFileSystemPath(CFURLRef anURL, CFURLPathStyle pathStyle) {
    const URL* u = fileURL(anURL);
    if (u == nullptr || pathStyle != kCFURLPOSIXPathStyle) {
        return nullptr;
    }
    return createString(u->path());
}

Boolean CFURLGetFileSystemRepresentation(CFURLRef url, Boolean resolveAgainstBase, UInt8* buffer,
                                         CFIndex maxBufLen) {
    const URL* u = fileURL(url);
    if (u == nullptr || buffer == nullptr || maxBufLen <= 0) {
        return false;
    }
    const std::string path = resolveAgainstBase ? u->absolutePath() : u->path();
    if (static_cast<CFIndex>(path.size()) + 1 > maxBufLen) {
        return false;
    }
    std::memcpy(buffer, path.c_str(), path.size() + 1);
    return true;
}

CFStringRef CFURLCopyPath(CFURLRef anURL) {
    const URL* u = fileURL(anURL);
    if (u == nullptr) {
        return nullptr;
    }
    const bool slash = u->isDirectory() && u->path() != "/";
    return createString(u->path() + (slash ? "/" : ""));
}

CFStringRef CFURLCopyScheme(CFURLRef anURL) {
    const URL* u = asURL(anURL);
    if (u == nullptr || (u->base() != nullptr)) {
        return nullptr;
    }
    return createString(u->scheme());
}

CFStringRef CFURLCopyLastPathComponent(CFURLRef url) {
    const URL* u = fileURL(url);
    return u == nullptr ? nullptr : createString(lastComponent(u->path()));
}

CFStringRef CFURLCopyPathExtension(CFURLRef url) {
    const URL* u = fileURL(url);
    if (u == nullptr) {
        return nullptr;
    }
    const size_t dot = extensionDot(u->path());
    return dot == std::string::npos ? nullptr : createString(u->path().substr(dot + 1));
}

Boolean CFURLHasDirectoryPath(CFURLRef anURL) {
    const URL* u = asURL(anURL);
    return u != nullptr && u->isDirectory();
}

Boolean CFURLResourceIsReachable(CFURLRef url, CFErrorRef* error) {
    const URL* u = fileURL(url);
    const bool reachable = u != nullptr && access(u->absolutePath().c_str(), F_OK) == 0;
    if (!reachable && error != nullptr) {
        *error = CFErrorCreate(nullptr, kCFErrorDomainPOSIX, ENOENT, nullptr);
    }
    return reachable;
}
