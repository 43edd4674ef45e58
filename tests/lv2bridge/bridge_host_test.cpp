// The bridge driven in-process by a small LV2 host of the test's own, for what
// lilv's tools cannot show: counted real-time safety of run, the split of runs
// longer than the unit's maximum, the latency port in frames, and the state
// extension's round trip of the unit's ClassInfo document.
#include "tool_runner.h"

#include <rtcheck/rtcheck.h>

#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/options/options.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdlib.h>

#include <array>
#include <cmath>
#include <map>

using namespace hosttool;

namespace {

enum Port : uint32_t { kInL, kInR, kOutL, kOutR, kDelayTime, kFeedback, kHighCut, kMix };
constexpr uint32_t kLookahead = 9, kLatency = 10, kEnabled = 11, kPortCount = 12;

// URIDs for the bridge; only ever called outside run.
std::map<std::string, LV2_URID> gIds;
LV2_URID mapUri(LV2_URID_Map_Handle, const char* uri) {
    return gIds.emplace(uri, static_cast<LV2_URID>(gIds.size() + 1)).first->second;
}
LV2_URID_Map gMap{nullptr, mapUri};

// The stereo plug-in of an export, with the plug-in and its engines in a
// sandbox that is this process's home, set before the bridge (and with it the
// platform) loads.
const LV2_Descriptor* stereoPlugin() {
    static Sandbox box;
    static const LV2_Descriptor* plugin = [] {
        box.installPlugIn();
        setenv("HOME", box.folder().c_str(), 1);
        setenv("VEXTRA_SUPPORT_FOLDER", box.path("support").c_str(), 1);
        EXPECT_EQ(box.run({"export-lv2", "--out", box.path("VX-Delay.lv2")}).status, 0);
        void* library = dlopen(box.path("VX-Delay.lv2/vx-lv2-bridge.so").c_str(), RTLD_NOW);
        auto entry = reinterpret_cast<LV2_Lib_Descriptor_Function>(
            library ? dlsym(library, "lv2_lib_descriptor") : nullptr);
        const LV2_Lib_Descriptor* lib =
            entry ? entry(box.path("VX-Delay.lv2").c_str(), nullptr) : nullptr;
        return lib ? lib->get_plugin(lib->handle, 0) : nullptr;
    }();
    return plugin;
}

// The host's store for the one value the bridge saves.
struct Stored {
    std::string bytes;
    uint32_t type = 0;
    bool present = true;
};
LV2_State_Status store(LV2_State_Handle h, uint32_t, const void* value, size_t size, uint32_t type,
                       uint32_t) {
    *static_cast<Stored*>(h) = {std::string(static_cast<const char*>(value), size), type};
    return LV2_STATE_SUCCESS;
}
const void* retrieve(LV2_State_Handle h, uint32_t, size_t* size, uint32_t* type, uint32_t* flags) {
    const auto* stored = static_cast<Stored*>(h);
    std::tie(*size, *type, *flags) =
        std::make_tuple(stored->bytes.size(), stored->type, LV2_STATE_IS_POD);
    return stored->present ? stored->bytes.data() : nullptr;
}

// One instance of the stereo plug-in with its ports in the test's memory, activated.
struct Instance {
    // maxBlock 0 gives the bridge no options, so the unit's own maximum holds.
    explicit Instance(size_t frames, int32_t maxBlock = 0) : maxBlock(maxBlock) {
        LV2_Options_Option options[] = {
            {LV2_OPTIONS_INSTANCE, 0, mapUri(nullptr, LV2_BUF_SIZE__maxBlockLength),
             sizeof(int32_t), mapUri(nullptr, LV2_ATOM__Int), &this->maxBlock},
            {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr}};
        const LV2_Feature map{LV2_URID__map, &gMap}, optionsFeature{LV2_OPTIONS__options, options};
        const LV2_Feature* features[] = {&map, maxBlock ? &optionsFeature : nullptr, nullptr};
        handle = plugin ? plugin->instantiate(plugin, 48000, "", features) : nullptr;
        audio.fill(std::vector<float>(frames));
        for (uint32_t p = 0; handle && p < kPortCount; ++p)
            plugin->connect_port(handle, p, p < 4 ? audio[p].data() : &controls[p]);
        if (handle)
            plugin->activate(handle);
    }
    ~Instance() {
        if (handle)
            plugin->cleanup(handle);
    }
    void run(uint32_t frames) { plugin->run(handle, frames); }
    Stored save() const {
        Stored stored;
        EXPECT_EQ(state->save(handle, store, &stored, 0, nullptr), LV2_STATE_SUCCESS);
        return stored;
    }
    LV2_State_Status restore(Stored stored) {
        return state->restore(handle, retrieve, &stored, 0, nullptr);
    }

    const LV2_Descriptor* plugin = stereoPlugin();
    const LV2_State_Interface* state = static_cast<const LV2_State_Interface*>(
        plugin ? plugin->extension_data(LV2_STATE__interface) : nullptr);
    int32_t maxBlock;
    LV2_Handle handle = nullptr;
    std::array<float, kPortCount> controls{0, 0, 0, 0, 350, 40, 8000, 35, 0, 0, 0, 1}; // enabled
    std::array<std::vector<float>, 4> audio;
};

} // namespace

TEST(BridgeRun, LongRunsAreSplitAndControlChangesAllocateNothingAndTakeNoLock) {
    constexpr uint32_t kRun = 3000; // more than the unit's own maximum
    Instance plugin(kRun);
    ASSERT_NE(plugin.handle, nullptr);
    // An impulse, dry after the 2 ms look-ahead in the first slice and 30 ms
    // (1440 frames) later wet in the second; nothing else.
    auto& c = plugin.controls;
    std::tie(c[kDelayTime], c[kFeedback], c[kMix], c[kLookahead]) = std::make_tuple(30, 0, 50, 2);
    plugin.audio[kInL][100] = plugin.audio[kInR][100] = 0.5f;
    plugin.run(kRun);
    // The latency port, then where each output sounds.
    std::vector<float> sounding = {c[kLatency]};
    for (Port out : {kOutL, kOutR})
        for (size_t f = 0; f < kRun; ++f)
            if (std::fabs(plugin.audio[out][f]) > 1e-3f)
                sounding.insert(sounding.end(), {float(f), std::round(plugin.audio[out][f] * 100)});
    // Dry, then wet, each at one quarter at Mix 50.
    EXPECT_EQ(sounding, (std::vector<float>{96, 196, 25, 1636, 25, 196, 25, 1636, 25}));

    for (size_t f = 0; f < kRun; ++f)
        plugin.audio[kInL][f] = plugin.audio[kInR][f] = 0.5f * std::sin(0.01f * f);
    for (int i = 0; i < 20; ++i)
        plugin.run(kRun);
    if (!rtcheck::countsAllocations())
        GTEST_SKIP() << "this build cannot count allocations";
    // The counters see inside the bridge: saving the state builds objects.
    rtcheck::Scope scope(rtcheck::Threads::Current);
    plugin.save();
    EXPECT_GT(scope.counts().allocations, 0);
    scope.restart();
    for (int i = 0; i < 200; ++i) {
        // Every control moves now and then, the bypass included.
        if (i % 10 == 0)
            std::tie(c[kDelayTime], c[kFeedback], c[kHighCut], c[kLookahead]) =
                i % 20 ? std::make_tuple(120, i % 90, 4000, 1)
                       : std::make_tuple(80, i % 90, 9000, 3);
        c[kEnabled] = i == 100 ? 0.0f : 1.0f;
        plugin.run(i % 2 ? kRun : 64);
    }
    const rtcheck::Counts counts = scope.counts();
    EXPECT_EQ(std::make_tuple(counts.allocations, counts.frees,
                              rtcheck::countsLocks() ? counts.locks : 0),
              std::make_tuple(0, 0, 0));
    EXPECT_GT(std::fabs(plugin.audio[kOutL][loudest(plugin.audio[kOutL])]), 0.01f)
        << "the runs carried sound";
}

TEST(BridgeState, SaveAndRestoreRoundTripTheClassInfoDocument) {
    Instance fresh(512, 512), changed(512, 512), restored(512, 512);
    ASSERT_NE(fresh.handle, nullptr);
    fresh.run(512);
    const Stored defaults = fresh.save();
    EXPECT_NE(defaults.bytes.find("<key>data</key>"), std::string::npos) << defaults.bytes;
    changed.controls[kFeedback] = 77;
    changed.controls[kDelayTime] = 500;
    changed.run(512);
    const Stored document = changed.save();
    EXPECT_NE(document.bytes, defaults.bytes) << "the saved document follows the controls";

    // Restored before the first run, as a host loading a session does.
    ASSERT_EQ(restored.restore(document), LV2_STATE_SUCCESS);
    EXPECT_EQ(restored.save().bytes, document.bytes);
    // A damaged, mistyped or missing entry is refused without harm. Braced,
    // so the calls run in the order written and the save comes last.
    EXPECT_EQ((std::tuple{restored.restore({"not a property list", document.type}),
                          restored.restore({document.bytes, mapUri(nullptr, LV2_ATOM__String)}),
                          restored.restore({document.bytes, document.type, false}),
                          restored.save().bytes}),
              std::make_tuple(LV2_STATE_ERR_UNKNOWN, LV2_STATE_ERR_BAD_TYPE,
                              LV2_STATE_ERR_NO_PROPERTY, document.bytes));
}
