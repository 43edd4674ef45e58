// The bridge driven in-process by a small LV2 host of the test's own, for
// what lilv's tools cannot show: counted real-time safety of run, the split
// of runs longer than the unit's maximum, the latency port, and the state
// extension's round trip of the unit's ClassInfo document.
#include "tool_runner.h"

#include <rtcheck/rtcheck.h>

#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/log/log.h>
#include <lv2/options/options.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdlib.h>

#include <array>
#include <cmath>
#include <cstdarg>
#include <fstream>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace hosttool;

namespace {

constexpr double kRate = 48000;
constexpr const char* kStereo = "urn:vextra-audio:lv2-bridge:aufx:Dlay:Vxta";
enum Port : uint32_t {
    kInL,
    kInR,
    kOutL,
    kOutR,
    kDelayTime,
    kFeedback,
    kHighCut,
    kMix,
    kGain,
    kLookahead,
    kLatency,
    kEnabled,
    kPortCount
};

// The plug-in, its engines and an export of it in a sandbox that is this
// process's home, set before the bridge (and with it the platform) loads.
struct Installation {
    Sandbox box;
    void* library = nullptr;
    const LV2_Lib_Descriptor* lib = nullptr;

    Installation() {
        box.installPlugIn();
        setenv("HOME", box.folder().c_str(), 1);
        setenv("VEXTRA_SUPPORT_FOLDER", box.path("support").c_str(), 1);
        const ToolResult r = box.run({"export-lv2", "--out", box.path("VX-Delay.lv2")});
        EXPECT_EQ(r.status, 0) << r.err;
        library = dlopen(box.path("VX-Delay.lv2/vx-lv2-bridge.so").c_str(), RTLD_NOW | RTLD_LOCAL);
        EXPECT_NE(library, nullptr) << dlerror();
        if (!library)
            return;
        auto entry =
            reinterpret_cast<LV2_Lib_Descriptor_Function>(dlsym(library, "lv2_lib_descriptor"));
        lib = entry ? entry(box.path("VX-Delay.lv2").c_str(), nullptr) : nullptr;
    }
    ~Installation() {
        if (lib)
            lib->cleanup(lib->handle);
    }
    const LV2_Descriptor* stereo() const {
        for (uint32_t i = 0; lib; ++i) {
            const LV2_Descriptor* d = lib->get_plugin(lib->handle, i);
            if (!d || std::string(d->URI) == kStereo)
                return d;
        }
        return nullptr;
    }
};

Installation& installation() {
    static Installation gInstallation;
    return gInstallation;
}

// URIDs for the bridge; only ever called outside run.
class UridMap {
public:
    UridMap() : mMap{this, &UridMap::map} {}
    LV2_URID_Map* get() { return &mMap; }
    LV2_URID id(const char* uri) { return map(this, uri); }

private:
    static LV2_URID map(LV2_URID_Map_Handle handle, const char* uri) {
        auto& ids = static_cast<UridMap*>(handle)->mIds;
        return ids.emplace(uri, static_cast<LV2_URID>(ids.size() + 1)).first->second;
    }
    std::map<std::string, LV2_URID> mIds;
    LV2_URID_Map mMap;
};

// One instance with its ports in the test's memory.
class Instance {
public:
    // maxBlock 0 gives the bridge no options, so the unit's own maximum holds.
    explicit Instance(UridMap& map, int32_t maxBlock = 0) : mMaxBlock(maxBlock) {
        mOptions[0] = {
            LV2_OPTIONS_INSTANCE,  0,         map.id(LV2_BUF_SIZE__maxBlockLength), sizeof(int32_t),
            map.id(LV2_ATOM__Int), &mMaxBlock};
        mOptions[1] = {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr};
        const LV2_Feature mapFeature{LV2_URID__map, map.get()};
        const LV2_Feature options{LV2_OPTIONS__options, mOptions.data()};
        const LV2_Feature* features[] = {&mapFeature, maxBlock ? &options : nullptr, nullptr};
        mDescriptor = installation().stereo();
        if (!mDescriptor)
            return;
        mHandle = mDescriptor->instantiate(mDescriptor, kRate, "", features);
        const float defaults[] = {350, 40, 8000, 35, 0, 0};
        std::copy(std::begin(defaults), std::end(defaults), mControls.begin() + kDelayTime);
        mControls[kEnabled] = 1;
    }
    ~Instance() {
        if (mHandle)
            mDescriptor->cleanup(mHandle);
    }
    bool ok() const { return mHandle != nullptr; }
    // Connects every port to buffers of frames samples and activates.
    void start(size_t frames) {
        for (auto& b : mAudio)
            b.assign(frames, 0.0f);
        for (uint32_t p = 0; p < kPortCount; ++p)
            mDescriptor->connect_port(mHandle, p,
                                      p < kDelayTime ? static_cast<void*>(mAudio[p].data())
                                                     : static_cast<void*>(&mControls[p]));
        mDescriptor->activate(mHandle);
    }
    void run(uint32_t frames) { mDescriptor->run(mHandle, frames); }
    float& control(Port p) { return mControls[p]; }
    std::vector<float>& audio(Port p) { return mAudio[p]; }
    const LV2_State_Interface* state() const {
        return static_cast<const LV2_State_Interface*>(
            mDescriptor->extension_data(LV2_STATE__interface));
    }
    LV2_Handle handle() const { return mHandle; }

private:
    int32_t mMaxBlock;
    std::array<LV2_Options_Option, 2> mOptions{};
    const LV2_Descriptor* mDescriptor = nullptr;
    LV2_Handle mHandle = nullptr;
    std::array<float, kPortCount> mControls{};
    std::array<std::vector<float>, 4> mAudio;
};

// A state store of the host's: key to bytes and type.
struct Store {
    std::map<uint32_t, std::pair<std::string, uint32_t>> values;
    static LV2_State_Status store(LV2_State_Handle h, uint32_t key, const void* value, size_t size,
                                  uint32_t type, uint32_t) {
        static_cast<Store*>(h)->values[key] = {std::string(static_cast<const char*>(value), size),
                                               type};
        return LV2_STATE_SUCCESS;
    }
    static const void* retrieve(LV2_State_Handle h, uint32_t key, size_t* size, uint32_t* type,
                                uint32_t* flags) {
        auto& values = static_cast<Store*>(h)->values;
        const auto it = values.find(key);
        if (it == values.end())
            return nullptr;
        *size = it->second.first.size();
        *type = it->second.second;
        *flags = LV2_STATE_IS_POD;
        return it->second.first.data();
    }
    // The one saved value's bytes.
    std::string only() const { return values.size() == 1 ? values.begin()->second.first : ""; }
};

Store saved(const Instance& instance) {
    Store store;
    EXPECT_EQ(instance.state()->save(instance.handle(), &Store::store, &store, 0, nullptr),
              LV2_STATE_SUCCESS);
    return store;
}

} // namespace

TEST(BridgeRun, LongRunsAreSplitAndControlChangesAllocateNothingAndTakeNoLock) {
    UridMap map;
    Instance plugin(map); // no host maximum: runs of 3000 exceed the unit's own
    ASSERT_TRUE(plugin.ok());
    constexpr uint32_t kRun = 3000;
    plugin.start(kRun);
    // An impulse 30 ms (1440 frames, more than one slice) late, fully wet.
    plugin.control(kDelayTime) = 30;
    plugin.control(kFeedback) = 0;
    plugin.control(kMix) = 100;
    plugin.control(kLookahead) = 2;
    plugin.audio(kInL)[100] = plugin.audio(kInR)[100] = 0.5f;
    plugin.run(kRun);
    for (Port out : {kOutL, kOutR}) {
        EXPECT_EQ(loudest(plugin.audio(out)), 100u + 1440u + 96u) << "delay plus 2 ms look-ahead";
        EXPECT_NEAR(plugin.audio(out)[100 + 1440 + 96], 0.5f, 1e-3f);
    }
    EXPECT_EQ(plugin.control(kLatency), 96.0f);

    for (size_t f = 0; f < kRun; ++f)
        plugin.audio(kInL)[f] = plugin.audio(kInR)[f] = 0.5f * std::sin(0.01f * f);
    for (int i = 0; i < 20; ++i)
        plugin.run(kRun);
    if (!rtcheck::countsAllocations())
        GTEST_SKIP() << "this build cannot count allocations";
    {
        // The counters see inside the bridge: saving the state builds objects.
        rtcheck::Scope control(rtcheck::Threads::Current);
        saved(plugin);
        EXPECT_GT(control.counts().allocations, 0);
    }
    rtcheck::Scope scope(rtcheck::Threads::Current);
    for (int i = 0; i < 200; ++i) {
        // Every control moves now and then, the bypass included.
        if (i % 10 == 0) {
            plugin.control(kDelayTime) = i % 20 ? 120.0f : 80.0f;
            plugin.control(kFeedback) = static_cast<float>(i % 90);
            plugin.control(kHighCut) = i % 20 ? 4000.0f : 9000.0f;
            plugin.control(kLookahead) = i % 20 ? 1.0f : 3.0f;
        }
        plugin.control(kEnabled) = i == 100 ? 0.0f : 1.0f;
        plugin.run(i % 2 ? kRun : 64);
    }
    const rtcheck::Counts counts = scope.counts();
    EXPECT_EQ(counts.allocations, 0);
    EXPECT_EQ(counts.frees, 0);
    if (rtcheck::countsLocks()) {
        EXPECT_EQ(counts.locks, 0);
    }
    float peak = 0;
    for (float s : plugin.audio(kOutL))
        peak = std::max(peak, std::fabs(s));
    EXPECT_GT(peak, 0.01f) << "the runs carried sound";
}

TEST(BridgeState, SaveAndRestoreRoundTripTheEngineStateBlock) {
    UridMap map;
    Instance fresh(map, 512);
    ASSERT_TRUE(fresh.ok());
    fresh.start(512);
    fresh.run(512);
    const std::string defaults = saved(fresh).only();
    EXPECT_NE(defaults.find("<key>data</key>"), std::string::npos) << defaults;

    Instance changed(map, 512);
    changed.start(512);
    changed.control(kFeedback) = 77;
    changed.control(kDelayTime) = 500;
    changed.run(512);
    const Store store = saved(changed);
    ASSERT_NE(store.only(), "");
    EXPECT_NE(store.only(), defaults) << "the saved document follows the controls";

    // Restored before the first run, as a host loading a session does.
    Instance restored(map, 512);
    ASSERT_EQ(restored.state()->restore(restored.handle(), &Store::retrieve,
                                        const_cast<Store*>(&store), 0, nullptr),
              LV2_STATE_SUCCESS);
    EXPECT_EQ(saved(restored).only(), store.only());

    // A foreign or damaged entry is refused without harm.
    Store damaged = store;
    damaged.values.begin()->second.first = "not a property list";
    EXPECT_NE(restored.state()->restore(restored.handle(), &Store::retrieve, &damaged, 0, nullptr),
              LV2_STATE_SUCCESS);
    Store empty;
    EXPECT_EQ(restored.state()->restore(restored.handle(), &Store::retrieve, &empty, 0, nullptr),
              LV2_STATE_ERR_NO_PROPERTY);
    EXPECT_EQ(saved(restored).only(), store.only());
}

namespace {

// The host's log: every line with its type (the bridge's logger only
// ever calls vprintf).
struct Log {
    std::vector<std::pair<LV2_URID, std::string>> lines;
    static int vprintf(LV2_Log_Handle h, LV2_URID type, const char* format, va_list args) {
        char text[1024];
        const int n = std::vsnprintf(text, sizeof text, format, args);
        static_cast<Log*>(h)->lines.emplace_back(type, text);
        return n;
    }
};

} // namespace

TEST(BridgeInstantiate, AMissingComponentFailsWithAnErrorInTheHostsLog) {
    Installation& installed = installation();
    ASSERT_NE(installed.library, nullptr);
    // A bundle whose data names a component nobody installed.
    const std::string bundle = installed.box.path("Missing.lv2");
    fs::create_directories(bundle);
    std::ofstream(bundle + "/vx-bridge.txt")
        << "component aufx:Nope:VxTs\nparameters\nplugin 2 2 urn:test:missing\n";
    auto entry = reinterpret_cast<LV2_Lib_Descriptor_Function>(
        dlsym(installed.library, "lv2_lib_descriptor"));
    ASSERT_NE(entry, nullptr);
    const LV2_Lib_Descriptor* lib = entry(bundle.c_str(), nullptr);
    ASSERT_NE(lib, nullptr);
    const LV2_Descriptor* plugin = lib->get_plugin(lib->handle, 0);
    ASSERT_NE(plugin, nullptr);
    EXPECT_STREQ(plugin->URI, "urn:test:missing");
    EXPECT_EQ(lib->get_plugin(lib->handle, 1), nullptr);

    UridMap map;
    Log log;
    LV2_Log_Log logFeature{&log, nullptr, &Log::vprintf};
    const LV2_Feature mapFeature{LV2_URID__map, map.get()};
    const LV2_Feature logEntry{LV2_LOG__log, &logFeature};
    const LV2_Feature* features[] = {&mapFeature, &logEntry, nullptr};
    EXPECT_EQ(plugin->instantiate(plugin, kRate, bundle.c_str(), features), nullptr);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0].first, map.id(LV2_LOG__Error));
    EXPECT_EQ(log.lines[0].second, "vx-lv2-bridge: cannot open aufx:Nope:VxTs: no installed "
                                   "component has the codes aufx:Nope:VxTs\n");
    lib->cleanup(lib->handle);

    // A bundle without its data file gives the host no plug-in.
    fs::remove(bundle + "/vx-bridge.txt");
    EXPECT_EQ(entry(bundle.c_str(), nullptr), nullptr);
}
