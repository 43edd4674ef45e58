// Coarse classification of the vector unit, as the operating system reports it.
#pragma once

#include <MacTypes.h>

enum {
    kVecNone = 0,
    kVecSSE2 = 100,
    kVecSSE3 = 101,
};

// -1 until examined, then kVecSSE3, kVecSSE2 or kVecNone.
extern SInt32 gCAVectorUnitType;

// Asks the system again on every call, stores the answer and returns it.
SInt32 CAVectorUnit_Examine();

#include <cstddef>

namespace vxloader {
// Replaces the system-setting query of CAVectorUnit_Examine (sysctlbyname's
// signature); null restores the system's. For tests that simulate systems.
using SysctlByNameFn = int (*)(const char* name, void* oldp, size_t* oldlenp, void* newp,
                               size_t newlen);
void setSysctlByName(SysctlByNameFn fn);
} // namespace vxloader
