#include "DlcloseSpy.h"

#include <dlfcn.h>

namespace plugtest {

std::vector<ModuleClose>& moduleCloses() {
    // Never destroyed: libraries may still close modules while the program
    // exits.
    static auto* closes = new std::vector<ModuleClose>;
    return *closes;
}

} // namespace plugtest

// Exported from the test program, so the plug-in bundle's own close calls
// reach it first.
extern "C" int dlclose(void* handle) {
    using CloseFn = int (*)(void*);
    static const CloseFn next = reinterpret_cast<CloseFn>(dlsym(RTLD_NEXT, "dlclose"));
    plugtest::ModuleClose close;
    close.handle = handle;
    // The system's declaration promises a handle; the test never closes a
    // null one, and the plug-in must not either.
    using LogFn = const char* (*)();
    if (auto log = reinterpret_cast<LogFn>(dlsym(handle, "vxRecordingLog"))) {
        close.recordingEngine = true;
        close.recordingLog = log();
    }
    plugtest::moduleCloses().push_back(close);
    return next(handle);
}
