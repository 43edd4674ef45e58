#include "ProcessStats.h"

#include <dirent.h>
#include <malloc.h>

#include <fstream>
#include <string>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VX_SANITIZER_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VX_SANITIZER_ALLOCATOR 1
#endif
#endif

#ifdef VX_SANITIZER_ALLOCATOR
// The sanitizer runtimes' allocator statistics (declared here because not
// every compiler ships the header that declares them).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace unithost {

namespace {

int countOpenFiles() {
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr)
        return -1;
    int n = 0;
    while (dirent* e = readdir(dir))
        if (e->d_name[0] != '.')
            ++n;
    closedir(dir);
    return n - 1; // the listing's own descriptor
}

int countMappings() {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    int n = 0;
    while (std::getline(maps, line))
        ++n;
    return n;
}

size_t heapInUse() {
#ifdef VX_SANITIZER_ALLOCATOR
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

} // namespace

ProcessStats ProcessStats::now() {
    ProcessStats s;
    s.openFiles = countOpenFiles();
    s.mappings = countMappings();
    s.heapBytes = heapInUse();
    return s;
}

} // namespace unithost
