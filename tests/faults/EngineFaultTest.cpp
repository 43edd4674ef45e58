// The plug-in facing engines that fail to load or create, state blocks of
// awkward sizes and a host whose callbacks fail: one alert, an instance that
// refuses to initialize, never a crash, and a working one once a good engine
// is back.
#include "AlertRecorder.h"
#include "ProbeEngine.h"
#include "UnitHost.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

namespace fs = std::filesystem;
using unithost::Component;
using unithost::Entry;

fs::path installed() {
    return fs::path(unithost::supportFolder()) / "Delay" / "audplg.dylib";
}
fs::path testEngine(const char* stem) {
    return fs::path(VX_TEST_ENGINE_DIR) / (std::string(stem) + ".dylib");
}

// Replaces the installed engine with a module or with bytes. The old file is
// removed, never overwritten: a module that is still mapped keeps its bytes.
void install(const fs::path& module, const std::string* bytes = nullptr) {
    unithost::prepareSupportFolder();
    std::error_code ignored;
    fs::remove_all(installed(), ignored);
    if (bytes)
        std::ofstream(installed(), std::ios::binary) << *bytes;
    else if (!module.empty())
        fs::copy_file(module, installed());
}
void installBytes(const std::string& bytes) {
    install({}, &bytes);
}
void restoreReference() {
    install(fs::path(VX_ENGINE_DIR) / "audplg.dylib");
}
std::string referenceBytes() {
    std::ifstream in(fs::path(VX_ENGINE_DIR) / "audplg.dylib", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The alert's text, or its start and end around the reason.
struct EngineFault {
    const char* name;
    std::string start, end;
    void (*arrange)();
};

const std::string kLoadFailed = "Failed to load audio plug-in module (error code = ";
const std::string kNotInstalled = "). Plug-In is not properly installed.";

const EngineFault kFaults[] = {
    {"NoModule", "Failed to find suitable audio plug-in module for target cpu (CPU ISA = ",
     "). Plug-In will not load.", [] { install({}); }},
    {"NoFactorySymbol", "Failed to get entry point in audio plug-in module (error code = ",
     kNotInstalled, [] { install(testEngine("nosymbol")); }},
    {"FactoryReturnsNull",
     "Failed to create Audio Plugin instance. Plug-In is not properly installed.", "",
     [] { install(testEngine("nullfactory")); }},
    {"CreateFails", "Error in Audio Plugin ICreate(). Plug-In is not properly installed.", "",
     [] { install(testEngine("createfails")); }},
    {"NotALibrary", kLoadFailed, kNotInstalled,
     [] { installBytes("#!/bin/sh\necho this is not a library\n"); }},
    {"TruncatedLibrary", kLoadFailed, kNotInstalled,
     [] { installBytes(referenceBytes().substr(0, 4096)); }},
    {"EmptyFile", kLoadFailed, kNotInstalled, [] { installBytes(""); }},
};

class EngineFaults : public ::testing::TestWithParam<std::tuple<EngineFault, Entry>> {
protected:
    void TearDown() override { restoreReference(); }
};

TEST_P(EngineFaults, OneAlertAnInstanceThatRefusesToInitializeAndNoCrash) {
    const auto [fault, entry] = GetParam();
    fault.arrange();
    unithost::AlertRecorder alerts;
    OSStatus status = 0;
    AudioUnit unit = unithost::open(Component::Plugin, entry, &status);
    ASSERT_NE(unit, nullptr) << "the instance exists without an engine: " << status;
    ASSERT_EQ(alerts.alerts.size(), 1u);
    const std::string& message = alerts.alerts[0].message;
    EXPECT_TRUE(message.starts_with(fault.start) && message.ends_with(fault.end)) << message;
    EXPECT_GE(message.size(), fault.start.size() + fault.end.size() + !fault.end.empty())
        << "the reason is given";
    EXPECT_EQ(alerts.alerts[0].informative, "Vextra-Audio Delay");

    // Every request that needs the engine answers without reaching for one.
    UInt32 size = 99;
    Boolean writable = false;
    EXPECT_EQ(AudioUnitGetPropertyInfo(unit, kAudioUnitProperty_ParameterList,
                                       kAudioUnitScope_Global, 0, &size, &writable),
              0);
    EXPECT_EQ(size, 0u) << "no engine, no parameters";
    AudioUnitParameterValue value = 0;
    EXPECT_EQ(AudioUnitGetParameter(unit, 0, kAudioUnitScope_Global, 0, &value),
              kAudioUnitErr_InvalidParameter);
    EXPECT_EQ(AudioUnitSetParameter(unit, 0, kAudioUnitScope_Global, 0, 0.5f, 0),
              kAudioUnitErr_InvalidParameter);
    auto get = [unit](AudioUnitPropertyID id, void* out, UInt32 bytes) {
        return AudioUnitGetProperty(unit, id, kAudioUnitScope_Global, 0, out, &bytes);
    };
    AudioUnitParameterInfo info{};
    EXPECT_EQ(get(kAudioUnitProperty_ParameterInfo, &info, sizeof info),
              kAudioUnitErr_InvalidParameter);
    void* access[2] = {};
    EXPECT_EQ(get(0x1E3638DA, access, sizeof access), kAudioUnitErr_FailedInitialization);
    CFPropertyListRef doc = nullptr;
    EXPECT_EQ(get(kAudioUnitProperty_ClassInfo, &doc, sizeof doc),
              kAudioUnitErr_FailedInitialization);
    EXPECT_EQ(doc, nullptr);
    Float64 seconds = -1;
    EXPECT_EQ(get(kAudioUnitProperty_Latency, &seconds, sizeof seconds), 0);
    EXPECT_EQ(seconds, 0.0);
    EXPECT_EQ(get(kAudioUnitProperty_TailTime, &seconds, sizeof seconds),
              kAudioUnitErr_InvalidProperty)
        << "no engine, no tail";
    EXPECT_EQ(AudioUnitReset(unit, kAudioUnitScope_Global, 0), 0);
    ASSERT_EQ(unithost::setFormats(unit, 48000, 2), 0);
    unithost::Rig rig;
    ASSERT_EQ(rig.attach(unit), 0);
    EXPECT_EQ(AudioUnitInitialize(unit), kAudioUnitErr_FailedInitialization);
    EXPECT_EQ(AudioUnitInitialize(unit), kAudioUnitErr_FailedInitialization) << "and stays so";
    EXPECT_EQ(rig.render(unit, 256), kAudioUnitErr_Uninitialized);
    EXPECT_EQ(unithost::close(unit), 0);

    // A good engine back in place: the next instance works, without alert.
    restoreReference();
    unit = unithost::open(Component::Plugin, entry, &status);
    ASSERT_NE(unit, nullptr) << status;
    EXPECT_EQ(alerts.alerts.size(), 1u);
    ASSERT_EQ(unithost::setFormats(unit, 44100, 2), 0);
    ASSERT_EQ(rig.attach(unit), 0);
    EXPECT_EQ(AudioUnitInitialize(unit), 0);
    EXPECT_EQ(rig.render(unit, 256), 0);
    EXPECT_EQ(unithost::close(unit), 0);
}

INSTANTIATE_TEST_SUITE_P(AllFaults, EngineFaults,
                         ::testing::Combine(::testing::ValuesIn(kFaults),
                                            ::testing::Values(Entry::Factory,
                                                              Entry::ComponentManager)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    unithost::entryName(std::get<1>(info.param));
                         });

// An instance of the installed engine, initialized and rendering.
struct Running {
    explicit Running(Entry entry) : unit(unithost::open(Component::Plugin, entry, &status)) {
        if (unit && (unithost::setFormats(unit, 44100, 2) != 0 || rig.attach(unit) != 0 ||
                     AudioUnitInitialize(unit) != 0 || rig.render(unit, 512) != 0))
            status = -1;
    }
    ~Running() { EXPECT_EQ(unithost::close(unit), 0); }
    OSStatus status = 0;
    unithost::Rig rig;
    AudioUnit unit;
};

class StateSizes : public ::testing::TestWithParam<int> {
protected:
    void TearDown() override { restoreReference(); }
};

TEST_P(StateSizes, SaveAndRestoreCarryTheBlockOrRefuseCleanly) {
    const int declared = GetParam();
    install(testEngine("probe"));
    // Hold the module ourselves to set the block and see what the engine got.
    void* module = dlopen(installed().c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    auto control = reinterpret_cast<VxProbeControlFn>(dlsym(module, "vxProbeControl"));
    ASSERT_NE(control, nullptr);
    ProbeControl& probe = *control();
    probe.stateBlock.assign(static_cast<size_t>(std::max(declared, 0)), 0x5A);
    probe.sizeGiven = true;
    probe.stateSize = declared;

    for (Entry entry : {Entry::Factory, Entry::ComponentManager}) {
        Running run(entry);
        ASSERT_EQ(run.status, 0);
        CFPropertyListRef doc = nullptr;
        UInt32 docSize = sizeof doc;
        ASSERT_EQ(AudioUnitGetProperty(run.unit, kAudioUnitProperty_ClassInfo,
                                       kAudioUnitScope_Global, 0, &doc, &docSize),
                  0);
        auto block = static_cast<CFDataRef>(CFDictionaryGetValue(static_cast<CFDictionaryRef>(doc),
                                                                 CFSTR("Ambrel-Preset-Data-Key")));
        ASSERT_NE(block, nullptr);
        const CFIndex length = CFDataGetLength(block);
        EXPECT_EQ(length, std::max(declared, 0)) << "a negative size saves an empty block";
        if (declared > 0) {
            EXPECT_EQ(CFDataGetBytePtr(block)[0], 0x5A);
            EXPECT_EQ(CFDataGetBytePtr(block)[length - 1], 0x5A);
        }
        const int before = probe.loadCalls;
        probe.loadedBlock.assign(3, 1);
        EXPECT_EQ(AudioUnitSetProperty(run.unit, kAudioUnitProperty_ClassInfo,
                                       kAudioUnitScope_Global, 0, &doc, sizeof doc),
                  0);
        EXPECT_EQ(probe.loadCalls, before + 1);
        EXPECT_EQ(probe.loadedBlock.size(), static_cast<size_t>(length));
        CFRelease(doc);
        EXPECT_EQ(run.rig.render(run.unit, 512), 0);
    }
    dlclose(module);
}

INSTANTIATE_TEST_SUITE_P(Sizes, StateSizes, ::testing::Values(0, 1, 64 << 20, -5),
                         [](const auto& info) {
                             return info.param < 0 ? std::string("negative")
                                                   : std::to_string(info.param);
                         });

// Every callback of the host record, whatever its arguments, answers `answer`.
struct FailingHost {
    OSStatus answer = -1;
    int calls = 0;
    template <typename... Args> static OSStatus fail(void* user, Args...) {
        auto* h = static_cast<FailingHost*>(user);
        ++h->calls;
        return h->answer;
    }
};

class HostFailures : public ::testing::TestWithParam<Entry> {};

TEST_P(HostFailures, FailingInputIsReportedAndFailingCallbacksLeaveRenderingIntact) {
    restoreReference();
    Running run(GetParam());
    ASSERT_EQ(run.status, 0);
    auto lastRenderError = [&run] {
        OSStatus last = 1;
        UInt32 size = sizeof last;
        EXPECT_EQ(AudioUnitGetProperty(run.unit, kAudioUnitProperty_LastRenderError,
                                       kAudioUnitScope_Global, 0, &last, &size),
                  0);
        return last;
    };
    run.rig.inputAnswer = -10863;
    EXPECT_EQ(run.rig.render(run.unit, 512), -10863);
    EXPECT_EQ(run.rig.render(run.unit, 512), -10863);
    EXPECT_EQ(lastRenderError(), -10863);
    run.rig.inputAnswer = 0;
    for (int block = 0; block < 4; ++block) {
        ASSERT_EQ(run.rig.render(run.unit, 512), 0);
        ASSERT_TRUE(run.rig.outputFinite(512));
    }
    EXPECT_EQ(lastRenderError(), 0) << "reading the error cleared it";

    FailingHost host;
    HostCallbackInfo info{
        &host, FailingHost::fail<Float64*, Float64*>,
        FailingHost::fail<UInt32*, Float32*, UInt32*, Float64*>,
        FailingHost::fail<Boolean*, Boolean*, Float64*, Boolean*, Float64*, Float64*>,
        FailingHost::fail<Boolean*, Boolean*, Boolean*, Float64*, Boolean*, Float64*, Float64*>};
    ASSERT_EQ(AudioUnitSetProperty(run.unit, kAudioUnitProperty_HostCallbacks,
                                   kAudioUnitScope_Global, 0, &info, sizeof info),
              0);
    for (OSStatus answer : {-1, -50, -10863, 1}) {
        host.answer = answer;
        for (int block = 0; block < 8; ++block) {
            ASSERT_EQ(run.rig.render(run.unit, 512), 0) << "callbacks answering " << answer;
            ASSERT_TRUE(run.rig.outputFinite(512));
        }
    }
    EXPECT_GT(host.calls, 0) << "the plug-in asks the host for its facts while rendering";
}

INSTANTIATE_TEST_SUITE_P(Entries, HostFailures,
                         ::testing::Values(Entry::Factory, Entry::ComponentManager),
                         [](const auto& info) { return unithost::entryName(info.param); });

} // namespace
