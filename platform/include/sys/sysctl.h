// System settings by name. Known names: "hw.optional.sse2" and
// "hw.optional.sse3" (32-bit int, 1 when the processor has the feature).
#pragma once

#include <VXExport.h>

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// Returns 0 on success; -1 with errno ENOENT for an unknown name, ENOMEM
// when *oldlenp is too small, EPERM for a write. With oldp null and oldlenp
// set, stores the size of the value.
VX_EXPORT int sysctlbyname(const char* name, void* oldp,
                                                        size_t* oldlenp, void* newp, size_t newlen);

#ifdef __cplusplus
}
#endif
