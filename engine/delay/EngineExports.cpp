// What the module exports: the factory the wrapper looks up, and queries that
// tell which build of the engine this is.
#include "DelayEngine.h"

#include <new>

#ifndef VX_ENGINE_BUILD_NAME
#error "each engine build names its module file"
#endif

#define VX_EXPORT extern "C" __attribute__((visibility("default")))

VX_EXPORT IAudioPlugin* createAudioPluginInstance() {
    return new (std::nothrow) vxdelay::DelayEngine();
}

// The module file this build is installed as ("audplga5" for "audplga5.dylib").
VX_EXPORT const char* vxEngineBuildName() {
    return VX_ENGINE_BUILD_NAME;
}

// The instruction set this build was compiled for, from the compiler's own
// view of the target, so a build made with the wrong flags shows it.
VX_EXPORT const char* vxEngineInstructionSet() {
#if defined(__AVX512F__)
    return "AVX-512F";
#elif defined(__AVX2__)
    return "AVX2";
#elif defined(__AVX__)
    return "AVX";
#elif defined(__SSE3__)
    return "SSE3";
#else
    return "baseline";
#endif
}

// The candidate index the loader gave an engine of this module, -1 before
// any. Only engines made by this module's factory may be passed.
VX_EXPORT int vxEngineGivenISA(const IAudioPlugin* engine) {
    return engine ? static_cast<const vxdelay::DelayEngine*>(engine)->givenISA() : -1;
}
