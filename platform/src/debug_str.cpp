#include <MacTypes.h>

#include <cstdio>

extern "C" void DebugStr(ConstStr255Param debuggerMsg) {
    if (debuggerMsg == nullptr) {
        return;
    }
    // A Pascal string: the first byte is the length.
    const unsigned length = debuggerMsg[0];
    std::fprintf(stderr, "DebugStr: %.*s\n", static_cast<int>(length),
                 reinterpret_cast<const char*>(debuggerMsg + 1));
}
