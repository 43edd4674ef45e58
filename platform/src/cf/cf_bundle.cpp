// Bundles. A loaded shared object whose path lies inside
// NAME.EXT/Contents/MacOS/ belongs to the bundle NAME.EXT, whoever loaded it;
// bundles are kept once per folder for the life of the process.
#include "cf/cf_collections.h"
#include "cf/cf_string.h"
#include "cf/cf_url.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <link.h>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <fmt/format.h>

using namespace vxplatform;

namespace {

const char kMacOSMarker[] = "/Contents/MacOS/";

bool isFolder(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool isFile(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The canonical spelling of a path, so that one folder gives one bundle.
std::string canonical(const std::string& path) {
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) != nullptr) {
        return resolved;
    }
    std::string tidy = path;
    while (tidy.size() > 1 && tidy.back() == '/') {
        tidy.pop_back();
    }
    return tidy;
}

std::string lastComponent(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string executablePath() {
    char buffer[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) {
        return {};
    }
    buffer[length] = '\0';
    return buffer;
}

CFDictionaryRef readInfo(const std::string& plistPath) {
    CFDictionaryRef info = nullptr;
    if (FILE* file = std::fopen(plistPath.c_str(), "rb")) {
        std::vector<UInt8> bytes;
        UInt8 chunk[4096];
        size_t got = 0;
        while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
            bytes.insert(bytes.end(), chunk, chunk + got);
        }
        std::fclose(file);
        CFDataRef data = CFDataCreate(nullptr, bytes.data(), static_cast<CFIndex>(bytes.size()));
        CFPropertyListRef plist =
            CFPropertyListCreateWithData(nullptr, data, kCFPropertyListImmutable, nullptr, nullptr);
        CFRelease(data);
        if (plist != nullptr && CFGetTypeID(plist) == CFDictionaryGetTypeID()) {
            info = static_cast<CFDictionaryRef>(plist);
        } else if (plist != nullptr) {
            CFRelease(plist);
        }
    }
    if (info == nullptr) {
        info = CFDictionaryCreate(nullptr, nullptr, nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                  &kCFTypeDictionaryValueCallBacks);
    }
    return info;
}

class Bundle final : public Object {
public:
    // flatExecutable: for a plain program outside any bundle, its file name;
    // the folder then holds everything directly.
    Bundle(std::string path, std::string flatExecutable)
        : Object(kTypeBundle), mPath(std::move(path)), mFlatExecutable(std::move(flatExecutable)) {
        mContents =
            mFlatExecutable.empty() && isFolder(mPath + "/Contents") ? mPath + "/Contents" : mPath;
        mInfo = readInfo(mContents + "/Info.plist");
    }
    ~Bundle() override { CFRelease(mInfo); }

    const std::string& path() const { return mPath; }
    CFDictionaryRef info() const { return mInfo; }
    CFStringRef identifier() const {
        const void* value = CFDictionaryGetValue(mInfo, kCFBundleIdentifierKey);
        return asString(value) != nullptr ? static_cast<CFStringRef>(value) : nullptr;
    }
    bool hasContentsFolder() const { return mContents != mPath; }
    std::string resourcesPath() const {
        return hasContentsFolder() ? mContents + "/Resources" : mPath;
    }
    std::string supportPath() const { return mContents; }

    std::string executablePath() const {
        if (!mFlatExecutable.empty()) {
            return mPath + "/" + mFlatExecutable;
        }
        std::string name;
        const void* value = CFDictionaryGetValue(mInfo, kCFBundleExecutableKey);
        if (asString(value) != nullptr) {
            name = toUTF8(static_cast<CFStringRef>(value));
        } else {
            name = lastComponent(mPath);
            const size_t dot = name.rfind('.');
            if (dot != std::string::npos && dot > 0) {
                name.resize(dot);
            }
        }
        return (hasContentsFolder() ? mContents + "/MacOS/" : mPath + "/") + name;
    }

    bool load(std::string* message) {
        std::lock_guard<std::mutex> lock(mMutex);
        if (mHandle != nullptr) {
            return true;
        }
        const std::string file = executablePath();
        if (!isFile(file)) {
            if (message != nullptr) {
                *message = "the bundle's executable is missing: " + file;
            }
            return false;
        }
        // The main program is already in the process: use the global handle.
        const bool isMain = !mFlatExecutable.empty() && canonical(file) == ::executablePath();
        mHandle = isMain ? dlopen(nullptr, RTLD_NOW) : dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (mHandle == nullptr) {
            if (message != nullptr) {
                const char* reason = dlerror();
                *message = reason != nullptr ? reason : "dlopen failed";
            }
            return false;
        }
        return true;
    }

    void unload() {
        std::lock_guard<std::mutex> lock(mMutex);
        if (mHandle != nullptr) {
            dlclose(mHandle);
            mHandle = nullptr;
        }
    }

    void* symbol(const std::string& name) {
        if (!load(nullptr)) {
            return nullptr;
        }
        std::lock_guard<std::mutex> lock(mMutex);
        return mHandle != nullptr ? dlsym(mHandle, name.c_str()) : nullptr;
    }

    bool loadedByUs() {
        std::lock_guard<std::mutex> lock(mMutex);
        return mHandle != nullptr;
    }

    std::string describe() const override {
        return fmt::format("CFBundle {} <{}> ({})", hexAddress(this), mPath,
                           mHandle != nullptr ? "executable, loaded" : "not loaded");
    }

private:
    std::string mPath;
    std::string mFlatExecutable;
    std::string mContents;
    CFDictionaryRef mInfo;
    std::mutex mMutex;
    void* mHandle = nullptr;
};

Bundle* asBundle(CFTypeRef cf) {
    return asMutable<Bundle>(cf, kTypeBundle);
}

// The process-wide table: one bundle per canonical folder. It holds one
// reference to each bundle for the life of the process.
struct Registry {
    std::mutex mutex;
    std::map<std::string, Bundle*> bundles;
    Bundle* main = nullptr;
    CFMutableArrayRef all = nullptr;
};

Registry& registry() {
    static auto* instance = new Registry;
    return *instance;
}

// Caller holds the registry lock.
Bundle* bundleAt(Registry& r, const std::string& folder, const std::string& flatExecutable) {
    const std::string key = canonical(folder);
    auto found = r.bundles.find(key);
    if (found != r.bundles.end()) {
        return found->second;
    }
    auto* bundle = new Bundle(key, flatExecutable);
    r.bundles.emplace(key, bundle);
    return bundle;
}

// The bundle folder a loaded file lies in, or "".
std::string bundleFolderOf(const std::string& file) {
    const size_t marker = file.rfind(kMacOSMarker);
    if (marker == std::string::npos || marker == 0) {
        return {};
    }
    return file.substr(0, marker);
}

std::vector<std::string> loadedObjects() {
    std::vector<std::string> files;
    dl_iterate_phdr(
        [](struct dl_phdr_info* info, size_t, void* context) {
            if (info->dlpi_name != nullptr && info->dlpi_name[0] != '\0') {
                static_cast<std::vector<std::string>*>(context)->emplace_back(info->dlpi_name);
            }
            return 0;
        },
        &files);
    const std::string self = executablePath();
    if (!self.empty()) {
        files.push_back(self);
    }
    return files;
}

// Caller holds the registry lock.
void scanLoadedBundles(Registry& r) {
    for (const std::string& file : loadedObjects()) {
        const std::string folder = bundleFolderOf(canonical(file));
        if (!folder.empty() && isFolder(folder)) {
            bundleAt(r, folder, {});
        }
    }
}

// Caller holds the registry lock.
Bundle* findByIdentifier(Registry& r, CFStringRef identifier) {
    for (const auto& [path, bundle] : r.bundles) {
        if (CFEqual(bundle->identifier(), identifier)) {
            return bundle;
        }
    }
    return nullptr;
}

CFURLRef urlIfExists(const std::string& path, bool isDirectory) {
    const bool exists = isDirectory ? isFolder(path) : access(path.c_str(), F_OK) == 0;
    return exists ? createFileURL(path, isDirectory) : nullptr;
}

} // namespace

const CFStringRef kCFBundleInfoDictionaryVersionKey = CFSTR("CFBundleInfoDictionaryVersion");
const CFStringRef kCFBundleExecutableKey = CFSTR("CFBundleExecutable");
const CFStringRef kCFBundleIdentifierKey = CFSTR("CFBundleIdentifier");
const CFStringRef kCFBundleVersionKey = CFSTR("CFBundleVersion");
const CFStringRef kCFBundleDevelopmentRegionKey = CFSTR("CFBundleDevelopmentRegion");
const CFStringRef kCFBundleNameKey = CFSTR("CFBundleName");
const CFStringRef kCFBundleLocalizationsKey = CFSTR("CFBundleLocalizations");

CFTypeID CFBundleGetTypeID(void) {
    return kTypeBundle;
}

CFBundleRef CFBundleGetMainBundle(void) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (r.main == nullptr) {
        const std::string self = executablePath();
        const std::string folder = bundleFolderOf(self);
        if (!folder.empty()) {
            r.main = bundleAt(r, folder, {});
        } else {
            const size_t slash = self.rfind('/');
            const std::string dir =
                slash == std::string::npos || slash == 0 ? "/" : self.substr(0, slash);
            r.main = bundleAt(r, dir, lastComponent(self));
        }
    }
    return handle<CFBundleRef>(r.main);
}

CFBundleRef CFBundleGetBundleWithIdentifier(CFStringRef bundleID) {
    if (asString(bundleID) == nullptr) {
        return nullptr;
    }
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    Bundle* bundle = findByIdentifier(r, bundleID);
    if (bundle == nullptr) {
        // Something may have been loaded since the last look.
        scanLoadedBundles(r);
        bundle = findByIdentifier(r, bundleID);
    }
    return handle<CFBundleRef>(bundle);
}

CFArrayRef CFBundleGetAllBundles(void) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    scanLoadedBundles(r);
    if (r.all == nullptr) {
        r.all = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
    }
    CFArrayRemoveAllValues(r.all);
    for (const auto& [path, bundle] : r.bundles) {
        CFArrayAppendValue(r.all, handle<CFBundleRef>(bundle));
    }
    return r.all;
}

CFBundleRef CFBundleCreate(CFAllocatorRef, CFURLRef bundleURL) {
    const URL* url = asURL(bundleURL);
    if (url == nullptr || url->scheme() != "file") {
        return nullptr;
    }
    const std::string path = url->absolutePath();
    if (!isFolder(path)) {
        return nullptr;
    }
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    Bundle* bundle = bundleAt(r, path, {});
    bundle->retain();
    return handle<CFBundleRef>(bundle);
}

CFStringRef CFBundleGetIdentifier(CFBundleRef bundle) {
    const Bundle* b = asBundle(bundle);
    return b == nullptr ? nullptr : b->identifier();
}

UInt32 CFBundleGetVersionNumber(CFBundleRef bundle) {
    // "major.minor.bug" packed as the platform's numeric version: major in the
    // top byte (BCD), minor and bug in the next two nibbles, release stage 0x80.
    const auto* version =
        asString(CFBundleGetValueForInfoDictionaryKey(bundle, kCFBundleVersionKey));
    if (version == nullptr) {
        return 0;
    }
    unsigned major = 0, minor = 0, bug = 0;
    if (std::sscanf(version->formatted().c_str(), "%u.%u.%u", &major, &minor, &bug) < 1 ||
        major > 99 || minor > 9 || bug > 9) {
        return 0;
    }
    const unsigned bcdMajor = (major / 10) << 4 | (major % 10);
    return (bcdMajor << 24) | (minor << 20) | (bug << 16) | (0x80u << 8);
}

CFDictionaryRef CFBundleGetInfoDictionary(CFBundleRef bundle) {
    const Bundle* b = asBundle(bundle);
    return b == nullptr ? nullptr : b->info();
}

CFTypeRef CFBundleGetValueForInfoDictionaryKey(CFBundleRef bundle, CFStringRef key) {
    const Bundle* b = asBundle(bundle);
    return b == nullptr ? nullptr : CFDictionaryGetValue(b->info(), key);
}

CFURLRef CFBundleCopyBundleURL(CFBundleRef bundle) {
    const Bundle* b = asBundle(bundle);
    return b == nullptr ? nullptr : createFileURL(b->path(), true);
}

CFURLRef CFBundleCopyExecutableURL(CFBundleRef bundle) {
    const Bundle* b = asBundle(bundle);
    return b == nullptr ? nullptr : urlIfExists(b->executablePath(), false);
}

CFURLRef CFBundleCopyResourcesDirectoryURL(CFBundleRef bundle) {
    const Bundle* b = asBundle(bundle);
    return b == nullptr ? nullptr : createFileURL(b->resourcesPath(), true);
}

CFURLRef CFBundleCopySupportFilesDirectoryURL(CFBundleRef bundle) {
    const Bundle* b = asBundle(bundle);
    return b == nullptr ? nullptr : createFileURL(b->supportPath(), true);
}

CFURLRef CFBundleCopyBuiltInPlugInsURL(CFBundleRef bundle) {
    const Bundle* b = asBundle(bundle);
    return b == nullptr ? nullptr : createFileURL(b->supportPath() + "/PlugIns", true);
}

CFURLRef CFBundleCopyResourceURL(CFBundleRef bundle, CFStringRef resourceName,
                                 CFStringRef resourceType, CFStringRef subDirName) {
    const Bundle* b = asBundle(bundle);
    if (b == nullptr || asString(resourceName) == nullptr) {
        return nullptr;
    }
    std::string file = toUTF8(resourceName);
    if (asString(resourceType) != nullptr && CFStringGetLength(resourceType) > 0) {
        std::string type = toUTF8(resourceType);
        file += (type[0] == '.' ? "" : ".") + type;
    }
    const std::string sub = asString(subDirName) != nullptr ? toUTF8(subDirName) + "/" : "";
    // Unlocalised resources first, then the base and English localisations.
    for (const char* folder : {"", "Base.lproj/", "en.lproj/", "English.lproj/"}) {
        const std::string path = b->resourcesPath() + "/" + folder + sub + file;
        if (access(path.c_str(), F_OK) == 0) {
            return createFileURL(path, isFolder(path));
        }
    }
    return nullptr;
}

Boolean CFBundleLoadExecutable(CFBundleRef bundle) {
    Bundle* b = asBundle(bundle);
    return b != nullptr && b->load(nullptr);
}

Boolean CFBundleLoadExecutableAndReturnError(CFBundleRef bundle, CFErrorRef* error) {
    Bundle* b = asBundle(bundle);
    std::string message = "not a bundle";
    if (b != nullptr && b->load(&message)) {
        return true;
    }
    if (error != nullptr) {
        CFStringRef text = createString(message);
        const void* keys[] = {kCFErrorDescriptionKey};
        const void* values[] = {text != nullptr ? text : CFSTR("cannot load the executable")};
        // 3587: the platform's "executable could not be loaded" code.
        *error = CFErrorCreateWithUserInfoKeysAndValues(nullptr, kCFErrorDomainCocoa, 3587, keys,
                                                        values, 1);
        if (text != nullptr) {
            CFRelease(text);
        }
    }
    return false;
}

Boolean CFBundleIsExecutableLoaded(CFBundleRef bundle) {
    Bundle* b = asBundle(bundle);
    if (b == nullptr) {
        return false;
    }
    if (b->loadedByUs()) {
        return true;
    }
    const std::string executable = canonical(b->executablePath());
    for (const std::string& file : loadedObjects()) {
        if (canonical(file) == executable) {
            return true;
        }
    }
    return false;
}

void CFBundleUnloadExecutable(CFBundleRef bundle) {
    if (Bundle* b = asBundle(bundle)) {
        b->unload();
    }
}

void* CFBundleGetFunctionPointerForName(CFBundleRef bundle, CFStringRef functionName) {
    Bundle* b = asBundle(bundle);
    if (b == nullptr || asString(functionName) == nullptr) {
        return nullptr;
    }
    return b->symbol(toUTF8(functionName));
}

void* CFBundleGetDataPointerForName(CFBundleRef bundle, CFStringRef symbolName) {
    return CFBundleGetFunctionPointerForName(bundle, symbolName);
}
