// Engine modules that are broken in the ways the loader has to survive.
// VX_FAILURE selects the fault:
//   1: the module does not export the factory at all;
//   2: the factory exists and answers null.
#include <engine_api/IAudioPlugin.h>

#define VX_EXPORT extern "C" __attribute__((visibility("default")))

#if VX_FAILURE == 1
// A factory under the wrong name, as a mistyped export would leave it.
VX_EXPORT IAudioPlugin* createAudioPluginInstanc() {
    return nullptr;
}
#elif VX_FAILURE == 2
VX_EXPORT IAudioPlugin* createAudioPluginInstance() {
    return nullptr;
}
#else
#error "VX_FAILURE selects the fault of the module"
#endif
