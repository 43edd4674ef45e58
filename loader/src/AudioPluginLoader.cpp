#include "loader/AudioPluginLoader.h"

#include "loader/ModulePath.h"
#include "loader/MsgBox.h"
#include "loader/instrset.h"

#include <NSVextra/Paths.h>

#if defined(__linux__)
#include <VXDynamicLoader.h>
#endif

#include <dlfcn.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifndef VX_PLUGIN_BUNDLE_IDENTIFIER
#error "the loader is built with the plug-in bundle's identifier"
#endif

const char* const kVXPluginBundleIdentifier = VX_PLUGIN_BUNDLE_IDENTIFIER;

namespace {

constexpr const char* kSystemSupportFolder = "/Library/Application Support/Vextra-Audio";

// Paths and messages are built in buffers of this size; longer results are cut.
constexpr std::size_t kTextSize = 500;

constexpr const char* kModuleNames[] = {"audplg.dylib", "audplga.dylib", "audplga2.dylib",
                                        "audplga5.dylib"};

struct CandidateList {
    int indexes[4];
    int count;
};

// Best build first; every build the processor can run follows in order.
CandidateList candidatesForLevel(int level) {
    if (level >= 3 && level <= 6)
        return {{0}, 1};
    if (level == 7)
        return {{1, 0}, 2};
    if (level == 8)
        return {{2, 1, 0}, 3};
    if (level >= 9 && level <= 11)
        return {{3, 2, 1, 0}, 4};
    return {{}, 0};
}

// Formats into one of the fixed text buffers; longer results are cut there
// by design.
void formatInto(char* buffer, const char* format, ...) __attribute__((format(printf, 2, 3)));
void formatInto(char* buffer, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, kTextSize, format, args);
    va_end(args);
}

void showLoadFailure(char* message, const char* reason) {
    formatInto(message,
               "Failed to load audio plug-in module (error code = %s). Plug-In is not properly "
               "installed.",
               reason);
    NSVextra::SHOW_MSG_BOX(message, 0);
}

} // namespace

const char* vxSupportFolder() {
    const char* relocated = std::getenv("VEXTRA_SUPPORT_FOLDER");
    return relocated && relocated[0] ? relocated : kSystemSupportFolder;
}

bool makePlgLibNameByISA(int index, std::string& name) {
    if (index < 0 || index > 3)
        return false;
    name = kModuleNames[index];
    return true;
}

IAudioPlugin* newAudioPluginInstance(void** outModuleHandle) {
    char bundlePath[kTextSize] = {};
    char bundleName[kTextSize] = {};
    char productName[kTextSize] = {};
    char caption[kTextSize] = {};
    char supportFolder[kTextSize] = {};
    char dataFolder[kTextSize] = {};
    char message[kTextSize] = {};

    // Without a bundle path the name stays empty (see the header).
    NSVextra::getModulePath(kVXPluginBundleIdentifier, bundlePath);
    if (bundlePath[0])
        NSVextra::getFileNameAndFolderFromPath(bundlePath, bundleName, nullptr);
    if (std::strlen(bundleName) >= 3)
        formatInto(productName, "%s", bundleName + 3);

    formatInto(caption, "Vextra-Audio %s", productName);
    NSVextra::SET_MSG_BOX_CAPTION(caption);

    formatInto(supportFolder, "%s", vxSupportFolder());
    formatInto(dataFolder, "%s/%s", supportFolder, productName);

    const int level = instrset_detect();
    if (level < 3) {
        formatInto(message, "Target CPU is not supported (CPU ISA = %i). Plug-In will not load.",
                   level);
        NSVextra::SHOW_MSG_BOX(message, 0);
        return nullptr;
    }

    // Only an unknown bundle path stops the search; a bundle whose name is
    // too short for a product is searched for under the empty name.
    const CandidateList candidates =
        bundlePath[0] ? candidatesForLevel(level) : CandidateList{{}, 0};
    for (int i = 0; i < candidates.count; ++i) {
        const int isa = candidates.indexes[i];
        std::string moduleName;
        makePlgLibNameByISA(isa, moduleName);
        std::string modulePath = dataFolder;
        modulePath += "/";
        modulePath += moduleName;
        if (!NSVextra::fileExists(modulePath))
            continue;

            // The first installed build decides; a broken best build is reported
            // rather than silently replaced by a slower one.
#if defined(__linux__)
        char imageError[kTextSize] = {};
        if (!VXCheckLoadableImage(modulePath.c_str(), imageError, sizeof imageError)) {
            showLoadFailure(message, imageError);
            return nullptr;
        }
#endif
        void* handle = dlopen(modulePath.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* error = dlerror();
            showLoadFailure(message, error ? error : "unknown");
            return nullptr;
        }
        dlerror();
        void* symbol = dlsym(handle, "createAudioPluginInstance");
        if (!symbol) {
            const char* error = dlerror();
            formatInto(message,
                       "Failed to get entry point in audio plug-in module (error code = %s). "
                       "Plug-In is not properly installed.",
                       error ? error : "unknown");
            dlclose(handle);
            NSVextra::SHOW_MSG_BOX(message, 0);
            return nullptr;
        }
        const auto factory = reinterpret_cast<CreateAudioPluginInstanceFn>(symbol);
        IAudioPlugin* engine = factory();
        if (!engine) {
            dlclose(handle);
            NSVextra::SHOW_MSG_BOX(
                "Failed to create Audio Plugin instance. Plug-In is not properly installed.", 0);
            return nullptr;
        }
        engine->ISetProductFolder1(dataFolder);
        engine->ISetProductFolder2(dataFolder);
        engine->ISetProductFolder3(dataFolder);
        engine->ISetVendorFolder(supportFolder);
        engine->ISetISA(isa);
        *outModuleHandle = handle;
        return engine;
    }

    formatInto(message,
               "Failed to find suitable audio plug-in module for target cpu (CPU ISA = %i). "
               "Plug-In will not load.",
               level);
    NSVextra::SHOW_MSG_BOX(message, 0);
    return nullptr;
}
