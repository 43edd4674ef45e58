// VX-Delay in an LV2 host, side by side in one run:
// - the LV2 bridge's run (the whole Audio Unit stack with the reference
//   engine) against a native LV2 delay of the same kind from Debian,
//   mda-lv2's Delay, both loaded and run the way lv2bench runs a plug-in;
// - for information, the bridge's run against AudioUnitRender called
//   directly, which is what the bridge itself adds.
// Stereo at 48 kHz, blocks of 64 and 512 frames, each plug-in at its
// defaults.
#include "BundleHost.h"
#include "Figures.h"
#include "Lv2Bundle.h"

#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/options/options.h>
#include <lv2/urid/urid.h>

#include <benchmark/benchmark.h>

#include <dlfcn.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#ifndef VX_LV2_BRIDGE
#error "the build names the bridge library"
#endif
#ifndef VX_MDA_DELAY
#error "the build names mda-lv2's Delay binary"
#endif

using namespace vxbench;

namespace {

constexpr double kRate = 48000;
constexpr const char* kBridgeUri = "urn:vextra-audio:lv2-bridge:aufx:Dlay:Vxta";
constexpr const char* kMdaUri = "http://drobilla.net/plugins/mda/Delay";

// A bundle for the built VX-Delay (registered from the build tree by the
// bridge), made once per process.
fs::path bridgeBundle() {
    static const fs::path folder = [] {
        const fs::path f =
            fs::temp_directory_path() / ("vxbench-lv2-" + std::to_string(::getpid()));
        fs::create_directories(f);
        vxhost::Lv2BundleData data;
        data.codes = "aufx:Dlay:Vxta";
        data.componentPath = builtBundle().string();
        data.parameters = {0, 1, 2, 3, 4, 5};
        data.variants = {{kBridgeUri, 2, 2}};
        std::ofstream(f / vxhost::kLv2BundleDataFile) << vxhost::formatLv2BundleData(data);
        fs::copy_file(VX_LV2_BRIDGE, f / "vx-lv2-bridge.so", fs::copy_options::overwrite_existing);
        return f;
    }();
    return folder;
}

LV2_URID mapUri(LV2_URID_Map_Handle handle, const char* uri) {
    auto& ids = *static_cast<std::map<std::string, LV2_URID>*>(handle);
    return ids.emplace(uri, static_cast<LV2_URID>(ids.size() + 1)).first->second;
}

// One LV2 instance with stereo audio ports and its controls at their
// defaults, as lv2bench sets it up: URID map and the maximum block length
// offered, every port connected.
class Lv2Rig {
public:
    struct Layout {
        uint32_t ports, inL, inR, outL, outR;
        std::vector<std::pair<uint32_t, float>> controls;
    };

    Lv2Rig(const fs::path& binary, const fs::path& bundle, const char* uri, const Layout& layout,
           int32_t maxBlock)
        : mMaxBlock(maxBlock), mMap{&mIds, mapUri} {
        mLibrary = dlopen(binary.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!mLibrary) {
            mError = dlerror();
            return;
        }
        mDescriptor = find(bundle, uri);
        if (!mDescriptor) {
            mError = std::string("no descriptor for ") + uri;
            return;
        }
        const LV2_Options_Option options[] = {
            {LV2_OPTIONS_INSTANCE, 0, mapUri(&mIds, LV2_BUF_SIZE__maxBlockLength), sizeof(int32_t),
             mapUri(&mIds, LV2_ATOM__Int), &mMaxBlock},
            {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr}};
        const LV2_Feature mapFeature{LV2_URID__map, &mMap};
        const LV2_Feature optionsFeature{LV2_OPTIONS__options,
                                         const_cast<LV2_Options_Option*>(options)};
        const LV2_Feature* features[] = {&mapFeature, &optionsFeature, nullptr};
        mHandle = mDescriptor->instantiate(mDescriptor, kRate, bundle.c_str(), features);
        if (!mHandle) {
            mError = std::string("cannot instantiate ") + uri;
            return;
        }
        mControls.assign(layout.ports, 0.0f);
        for (const auto& [port, value] : layout.controls)
            mControls[port] = value;
        for (auto& b : mAudio)
            b.assign(static_cast<size_t>(maxBlock), 0.0f);
        for (size_t i = 0; i < mAudio[0].size(); ++i)
            mAudio[0][i] = mAudio[1][i] = 0.5f * std::sin(0.01f * static_cast<float>(i));
        const uint32_t audio[] = {layout.inL, layout.inR, layout.outL, layout.outR};
        for (uint32_t p = 0; p < layout.ports; ++p)
            mDescriptor->connect_port(mHandle, p, &mControls[p]);
        for (int i = 0; i < 4; ++i)
            mDescriptor->connect_port(mHandle, audio[i], mAudio[i].data());
        if (mDescriptor->activate) // optional in LV2
            mDescriptor->activate(mHandle);
    }
    ~Lv2Rig() {
        if (mHandle) {
            if (mDescriptor->deactivate)
                mDescriptor->deactivate(mHandle);
            mDescriptor->cleanup(mHandle);
        }
        if (mLib)
            mLib->cleanup(mLib->handle);
    }
    Lv2Rig(const Lv2Rig&) = delete;
    Lv2Rig& operator=(const Lv2Rig&) = delete;

    const std::string& error() const { return mError; }
    void run(uint32_t frames) { mDescriptor->run(mHandle, frames); }
    float out(size_t i) const { return mAudio[2][i]; }

private:
    const LV2_Descriptor* find(const fs::path& bundle, const char* uri) {
        if (auto lib = reinterpret_cast<LV2_Lib_Descriptor_Function>(
                dlsym(mLibrary, "lv2_lib_descriptor"))) {
            mLib = lib(bundle.c_str(), nullptr);
            for (uint32_t i = 0; mLib; ++i) {
                const LV2_Descriptor* d = mLib->get_plugin(mLib->handle, i);
                if (!d || std::strcmp(d->URI, uri) == 0)
                    return d;
            }
            return nullptr;
        }
        auto entry = reinterpret_cast<LV2_Descriptor_Function>(dlsym(mLibrary, "lv2_descriptor"));
        for (uint32_t i = 0; entry; ++i) {
            const LV2_Descriptor* d = entry(i);
            if (!d || std::strcmp(d->URI, uri) == 0)
                return d;
        }
        return nullptr;
    }

    int32_t mMaxBlock;
    std::map<std::string, LV2_URID> mIds;
    LV2_URID_Map mMap;
    void* mLibrary = nullptr;
    const LV2_Lib_Descriptor* mLib = nullptr;
    const LV2_Descriptor* mDescriptor = nullptr;
    LV2_Handle mHandle = nullptr;
    std::string mError;
    std::vector<float> mControls;
    std::vector<float> mAudio[4];
};

// The bridge's ports: audio in 0-1, out 2-3, the six parameters at their
// defaults, latency, enabled.
const Lv2Rig::Layout kBridgeLayout{
    12, 0, 1, 2, 3, {{4, 350}, {5, 40}, {6, 8000}, {7, 35}, {8, 0}, {9, 0}, {11, 1}}};
// mda Delay's: six controls at their defaults, then audio in 6-7, out 8-9.
const Lv2Rig::Layout kMdaLayout{
    10, 6, 7, 8, 9, {{0, 0.5f}, {1, 0.27f}, {2, 0.7f}, {3, 0.5f}, {4, 0.33f}, {5, 0.5f}}};

void RunLv2(benchmark::State& state, bool bridge) {
    const auto frames = static_cast<uint32_t>(state.range(0));
    SupportFolder support;
    if (bridge && support.install(VX_REFERENCE_ENGINE).empty()) {
        state.SkipWithError("could not install the engine");
        return;
    }
    Lv2Rig rig = bridge ? Lv2Rig(bridgeBundle() / "vx-lv2-bridge.so", bridgeBundle(), kBridgeUri,
                                 kBridgeLayout, static_cast<int32_t>(frames))
                        : Lv2Rig(VX_MDA_DELAY, fs::path(VX_MDA_DELAY).parent_path(), kMdaUri,
                                 kMdaLayout, static_cast<int32_t>(frames));
    if (!rig.error().empty()) {
        state.SkipWithError(rig.error().c_str());
        return;
    }
    for (int warm = 0; warm < 200; ++warm)
        rig.run(frames);
    for (auto _ : state) {
        rig.run(frames);
        benchmark::DoNotOptimize(rig.out(0));
    }
    state.SetItemsProcessed(state.iterations() * frames);
}

void RenderDirectly(benchmark::State& state) {
    const auto frames = static_cast<UInt32>(state.range(0));
    SupportFolder support;
    if (support.install(VX_REFERENCE_ENGINE).empty()) {
        state.SkipWithError("could not install the engine");
        return;
    }
    RenderRig rig(Entry::Factory, frames);
    if (!rig.error().empty()) {
        state.SkipWithError(rig.error().c_str());
        return;
    }
    for (int warm = 0; warm < 200; ++warm)
        rig.render(frames);
    for (auto _ : state) {
        if (rig.render(frames) != noErr) {
            state.SkipWithError("render failed");
            return;
        }
        benchmark::DoNotOptimize(rig.outputPlane(0)[0]);
    }
    state.SetItemsProcessed(state.iterations() * frames);
}

} // namespace

int main(int argc, char** argv) {
    benchmark::RegisterBenchmark("LV2/vx-bridge", RunLv2, true)->Arg(64)->Arg(512);
    benchmark::RegisterBenchmark("LV2/mda-delay", RunLv2, false)->Arg(64)->Arg(512);
    benchmark::RegisterBenchmark("Render/direct-au", RenderDirectly)->Arg(64)->Arg(512);
    Figures figures;
    for (const char* frames : {"64", "512"}) {
        const std::string n = frames;
        figures.add(Ratio{"LV2 run: VX-Delay bridge vs mda Delay, " + n + " frames",
                          "LV2/vx-bridge/" + n, "LV2/mda-delay/" + n, Goal::AtMost, 1.0});
        figures.add(Ratio{"LV2 run: bridge vs AudioUnitRender directly, " + n + " frames",
                          "LV2/vx-bridge/" + n, "Render/direct-au/" + n, Goal::Report, 0.0});
    }
    const int status = figures.run(argc, argv);
    std::error_code ignored;
    fs::remove_all(bridgeBundle(), ignored);
    return status;
}
