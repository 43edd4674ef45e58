// Units find the component services by opening the platform frameworks at
// their fixed paths. Those paths do not exist on this machine; the services
// live in this library. So this library answers dlopen itself: a framework
// path yields a handle to this very library (dlsym then finds the services
// by name), and every other path goes on to the C library's loader.
//
// The definition below takes the place of the C library's dlopen for every
// object of the process that binds it through the global scope. A sanitizer
// runtime that intercepts dlopen comes first in that scope; its interceptor
// forwards to the next definition, which is this one.

#include <VextraHost/VXHostRuntime.h>

#include <dlfcn.h>

#include <atomic>
#include <cstring>
#include <mutex>


namespace {

std::atomic<bool> gFrameworksAvailable{true};

using DlopenFn = void* (*)(const char*, int);

DlopenFn systemDlopen() {
    static DlopenFn fn = reinterpret_cast<DlopenFn>(dlsym(RTLD_NEXT, "dlopen"));
    return fn;
}

constexpr const char* kFrameworks[] = {"CoreServices", "AudioUnit", "AudioToolbox",
                                       "CoreFoundation", "CoreAudio"};
constexpr const char kFrameworkRoot[] = "/System/Library/Frameworks/";

bool matchesRest(const char* rest, const char* name) {
    // NAME, or Versions/A/NAME, or Versions/Current/NAME
    if (std::strcmp(rest, name) == 0)
        return true;
    for (const char* version : {"Versions/A/", "Versions/Current/"}) {
        const size_t n = std::strlen(version);
        if (std::strncmp(rest, version, n) == 0 && std::strcmp(rest + n, name) == 0)
            return true;
    }
    return false;
}

bool isFrameworkPath(const char* path) {
    const size_t rootLength = sizeof kFrameworkRoot - 1;
    if (std::strncmp(path, kFrameworkRoot, rootLength) != 0)
        return false;
    const char* rest = path + rootLength;
    for (const char* name : kFrameworks) {
        const size_t n = std::strlen(name);
        if (std::strncmp(rest, name, n) == 0 && std::strncmp(rest + n, ".framework/", 11) == 0 &&
            matchesRest(rest + n + 11, name))
            return true;
    }
    return false;
}

// The file name this library was loaded from, found through one of its own
// functions.
const char* ownLibraryPath() {
    static std::once_flag once;
    static char path[4096];
    std::call_once(once, [] {
        Dl_info info{};
        if (dladdr(reinterpret_cast<void*>(&VXPlatformFrameworksAvailable), &info) != 0 &&
            info.dli_fname && std::strlen(info.dli_fname) < sizeof path)
            std::strcpy(path, info.dli_fname);
    });
    return path;
}

} // namespace

extern "C" VX_EXPORT void* dlopen(const char* file, int mode) noexcept {
    DlopenFn next = systemDlopen();
    if (!next)
        return nullptr;
    if (file && gFrameworksAvailable.load(std::memory_order_acquire) && isFrameworkPath(file)) {
        const char* own = ownLibraryPath();
        if (own[0] != '\0') {
            // The library is loaded already; this only counts one more use
            // of it, so the caller's dlclose is balanced.
            void* handle = next(own, (mode & (RTLD_LAZY | RTLD_NOW)) | RTLD_NOLOAD);
            if (handle)
                return handle;
        }
    }
    // A missing framework fails here for real, with the loader's own message.
    return next(file, mode);
}

extern "C" VX_EXPORT void VXPlatformSetFrameworksAvailable(Boolean available) {
    gFrameworksAvailable.store(available != 0, std::memory_order_release);
}

extern "C" VX_EXPORT Boolean VXPlatformFrameworksAvailable(void) {
    return gFrameworksAvailable.load(std::memory_order_acquire) ? 1 : 0;
}
