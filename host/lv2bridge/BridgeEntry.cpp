// The LV2 entry points of the bridge library. One binary serves every
// exported bundle: the bundle's data file names the component and the port
// layout of each plug-in, and the descriptors are made from it.
#include "BridgeInstance.h"

#include <lv2/core/lv2.h>
#include <lv2/state/state.h>

#include <dlfcn.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

namespace fs = std::filesystem;

namespace vxlv2 {

namespace {

struct Library;

// An LV2 descriptor that knows its bundle and its variant; the descriptor
// comes first, so the pointer the host hands back leads to the rest.
struct Plugin {
    LV2_Descriptor descriptor;
    const Library* library;
    size_t variant;
};

struct Library {
    LV2_Lib_Descriptor lib{};
    vxhost::Lv2BundleData data;
    std::vector<std::unique_ptr<Plugin>> plugins;
};

BridgeInstance* self(LV2_Handle handle) {
    return static_cast<BridgeInstance*>(handle);
}

// Host thread (instantiation class). The descriptor is the library's, valid
// until the library is cleaned up; the instance is the host's until cleanup.
LV2_Handle instantiate(const LV2_Descriptor* descriptor, double rate, const char*,
                       const LV2_Feature* const* features) {
    try {
        const auto* plugin = reinterpret_cast<const Plugin*>(descriptor);
        const vxhost::Lv2BundleData& data = plugin->library->data;
        return BridgeInstance::create(data, data.variants[plugin->variant], rate, features)
            .release();
    } catch (const std::exception&) {
        return nullptr;
    }
}

// Any host thread, not during run; data stays the host's.
void connectPort(LV2_Handle instance, uint32_t port, void* data) {
    self(instance)->connect(port, data);
}
// Host thread (instantiation class), nothing else on the instance.
void activate(LV2_Handle instance) {
    self(instance)->activate();
}
// Audio thread, between activate and deactivate: real-time safe.
void run(LV2_Handle instance, uint32_t frames) {
    self(instance)->run(frames);
}
// Host thread (instantiation class), nothing else on the instance.
void deactivate(LV2_Handle instance) {
    self(instance)->deactivate();
}
// Host thread (instantiation class); the handle is gone afterwards.
void cleanup(LV2_Handle instance) {
    delete self(instance);
}

// Host thread, not during run (the state extension's instantiation class).
LV2_State_Status saveState(LV2_Handle instance, LV2_State_Store_Function store,
                           LV2_State_Handle handle, uint32_t, const LV2_Feature* const*) {
    return self(instance)->save(store, handle);
}
LV2_State_Status restoreState(LV2_Handle instance, LV2_State_Retrieve_Function retrieve,
                              LV2_State_Handle handle, uint32_t, const LV2_Feature* const*) {
    return self(instance)->restore(retrieve, handle);
}

// Any thread; the answer is static and lives as long as the library.
const void* extensionData(const char* uri) {
    static const LV2_State_Interface state{saveState, restoreState};
    return std::strcmp(uri, LV2_STATE__interface) == 0 ? &state : nullptr;
}

// Host thread, with the library: frees what libraryFor made.
void cleanupLibrary(LV2_Lib_Handle handle) {
    delete static_cast<Library*>(handle);
}

// Host thread; the descriptor lives until cleanupLibrary.
const LV2_Descriptor* pluginAt(LV2_Lib_Handle handle, uint32_t index) {
    const auto* library = static_cast<const Library*>(handle);
    return index < library->plugins.size() ? &library->plugins[index]->descriptor : nullptr;
}

// The bundle's data file read into descriptors; nothing when it is missing
// or unreadable, which the host reports as a library that gives no plug-in.
Library* libraryFor(const char* bundlePath) {
    if (!bundlePath)
        return nullptr;
    std::ifstream in(fs::path(bundlePath) / vxhost::kLv2BundleDataFile, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    auto data = vxhost::parseLv2BundleData(text.str());
    if (!in || !data) {
        std::fprintf(stderr, "vx-lv2-bridge: %s has no readable %s; export the bundle again\n",
                     bundlePath, vxhost::kLv2BundleDataFile);
        return nullptr;
    }
    auto library = std::make_unique<Library>();
    library->data = std::move(*data);
    for (size_t v = 0; v < library->data.variants.size(); ++v) {
        auto plugin = std::make_unique<Plugin>();
        plugin->descriptor = LV2_Descriptor{library->data.variants[v].uri.c_str(),
                                            instantiate,
                                            connectPort,
                                            activate,
                                            run,
                                            deactivate,
                                            cleanup,
                                            extensionData};
        plugin->library = library.get();
        plugin->variant = v;
        library->plugins.push_back(std::move(plugin));
    }
    library->lib =
        LV2_Lib_Descriptor{library.get(), sizeof(LV2_Lib_Descriptor), cleanupLibrary, pluginAt};
    return library.release();
}

} // namespace

} // namespace vxlv2

// The LV2 discovery entry points keep the names every LV2 host looks up.
extern "C" {

// Host thread, when it loads the bundle. The answer is the host's until it
// calls its cleanup; bundlePath is read during the call only.
LV2_SYMBOL_EXPORT const LV2_Lib_Descriptor* lv2_lib_descriptor(const char* bundlePath,
                                                               const LV2_Feature* const*) {
    try {
        vxlv2::Library* library = vxlv2::libraryFor(bundlePath);
        return library ? &library->lib : nullptr;
    } catch (const std::exception&) {
        return nullptr;
    }
}

// Host thread. For hosts that only know the older entry: the bundle is the
// folder this copy of the library was loaded from, read once per process.
LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    static const vxlv2::Library* library = [] {
        Dl_info info{};
        if (!dladdr(reinterpret_cast<void*>(&lv2_descriptor), &info) || !info.dli_fname)
            return static_cast<vxlv2::Library*>(nullptr);
        try {
            return vxlv2::libraryFor(fs::path(info.dli_fname).parent_path().c_str());
        } catch (const std::exception&) {
            return static_cast<vxlv2::Library*>(nullptr);
        }
    }();
    return library ? vxlv2::pluginAt(const_cast<vxlv2::Library*>(library), index) : nullptr;
}
}
