// sysctlbyname for the few settings the system reads, answered from CPUID.
#include <sys/sysctl.h>

#include <cerrno>
#include <cpuid.h>
#include <cstring>

namespace {

// CPUID leaf 1: SSE2 is EDX bit 26, SSE3 is ECX bit 0.
int cpuFeature(bool sse3) {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) {
        return 0;
    }
    return sse3 ? static_cast<int>(ecx & 1u) : static_cast<int>((edx >> 26) & 1u);
}

} // namespace

extern "C" int sysctlbyname(const char* name, void* oldp, size_t* oldlenp, void* newp,
                            size_t newlen) {
    if (name == nullptr) {
        errno = EINVAL;
        return -1;
    }
    int value = 0;
    if (std::strcmp(name, "hw.optional.sse2") == 0) {
        value = cpuFeature(false);
    } else if (std::strcmp(name, "hw.optional.sse3") == 0) {
        value = cpuFeature(true);
    } else {
        errno = ENOENT;
        return -1;
    }
    if (newp != nullptr || newlen != 0) {
        errno = EPERM; // these settings are read-only
        return -1;
    }
    if (oldlenp == nullptr) {
        if (oldp != nullptr) {
            errno = EINVAL;
            return -1;
        }
        return 0;
    }
    if (oldp == nullptr) {
        *oldlenp = sizeof value;
        return 0;
    }
    if (*oldlenp < sizeof value) {
        errno = ENOMEM;
        return -1;
    }
    std::memcpy(oldp, &value, sizeof value);
    *oldlenp = sizeof value;
    return 0;
}
