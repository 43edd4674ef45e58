// What a process holds, for tests that look for slow leaks: open file
// descriptors, memory mappings, and heap bytes in use (as the sanitizer's
// allocator or the C library counts them).
#pragma once

#include <cstddef>

namespace unithost {

struct ProcessStats {
    int openFiles = 0;    // entries of /proc/self/fd
    int mappings = 0;     // lines of /proc/self/maps
    size_t heapBytes = 0; // allocated and not yet freed

    static ProcessStats now();
};

} // namespace unithost
