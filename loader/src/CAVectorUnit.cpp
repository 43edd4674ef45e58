#include "loader/CAVectorUnit.h"

#include <sys/sysctl.h>

SInt32 gCAVectorUnitType = -1;

namespace {

vxloader::SysctlByNameFn gSysctl = nullptr;

// A missing setting and a zero setting both count as "not present".
bool systemSettingOn(const char* name) {
    int32_t value = 0;
    size_t size = sizeof value;
    const int rc = gSysctl ? gSysctl(name, &value, &size, nullptr, 0)
                           : sysctlbyname(name, &value, &size, nullptr, 0);
    return rc == 0 && value != 0;
}

} // namespace

void vxloader::setSysctlByName(SysctlByNameFn fn) {
    gSysctl = fn;
}

SInt32 CAVectorUnit_Examine() {
    SInt32 type = kVecNone;
    if (systemSettingOn("hw.optional.sse3"))
        type = kVecSSE3;
    else if (systemSettingOn("hw.optional.sse2"))
        type = kVecSSE2;
    gCAVectorUnitType = type;
    return type;
}
