// Finding, loading and instantiating the engine module that suits the
// processor.
//
// Engine builds lie in the product's data folder, SUPPORT/<product>/, where
// SUPPORT is "/Library/Application Support/Vextra-Audio" or, when the
// environment variable VEXTRA_SUPPORT_FOLDER is set and not empty, its value.
// The product name is the plug-in bundle's file name without its extension
// and without its first three characters ("VX-Delay.component" -> "Delay").
//
// Decisions the loader makes on its own:
//  - When the plug-in bundle's path cannot be found (no loaded bundle with the
//    identifier, a path of 300 bytes or more, or non-ASCII characters), the
//    product name is empty and no module is searched: an engine from the bare
//    support folder would not be the product's. The user sees the "Failed to
//    find suitable audio plug-in module" alert. A bundle that is found but
//    whose name has three characters or fewer names the empty product, and
//    its modules are looked for in "SUPPORT/" itself.
//  - A library opened but then refused (no factory symbol, or a factory that
//    answers null) is closed again before the alert.
//  - A module file whose image is truncated is refused before the dynamic
//    loader maps it (mapping it would end the process); the load alert then
//    carries the reason instead of the loader's text.
#pragma once

#include <engine_api/IAudioPlugin.h>

#include <string>

// Identifier of the plug-in bundle that names the product.
extern const char* const kVXPluginBundleIdentifier;

// The support folder in effect (the environment override, or the system's).
const char* vxSupportFolder();

// Loads the best installed engine build, creates one engine and configures it
// (product folders, vendor folder, then the build index). On success writes
// the library handle to outModuleHandle; on failure shows one alert, answers
// null and leaves outModuleHandle untouched.
IAudioPlugin* newAudioPluginInstance(void** outModuleHandle);

// Module file name of candidate index 0 .. 3 ("audplg.dylib", "audplga.dylib",
// "audplga2.dylib", "audplga5.dylib"); false and name untouched otherwise.
bool makePlgLibNameByISA(int index, std::string& name);
