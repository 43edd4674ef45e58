// The plug-in facing engines that fail: every way a module can fail to load
// or to create an engine, engines whose state block is empty, huge or of a
// negative size, and a host whose callbacks fail. The plug-in reports each
// failure the documented way (one alert, an instance that refuses to
// initialize), never crashes, and works again once a good engine is back.
#include "AlertRecorder.h"
#include "ParameterSupport.h"
#include "StateEngineLoads.h"
#include "UnitHost.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <atomic>
#include <filesystem>
#include <iterator>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using unithost::Component;
using unithost::Entry;

fs::path installed() {
    return fs::path(unithost::supportFolder()) / "Delay" / "audplg.dylib";
}

// Replaces the installed engine. The old file is removed first, never
// overwritten, since a module that is still mapped must keep its bytes.
void install(const fs::path& module) {
    unithost::prepareSupportFolder();
    std::error_code ignored;
    fs::remove_all(installed(), ignored);
    if (!module.empty())
        fs::copy_file(module, installed());
}

void installBytes(const std::string& bytes) {
    install({});
    std::ofstream(installed(), std::ios::binary) << bytes;
}

void restoreReference() {
    install(fs::path(VX_ENGINE_DIR) / "audplg.dylib");
}

struct EngineFault {
    const char* name;
    const char* alert; // part of the alert's text
    void (*arrange)();
};

std::string referenceBytes() {
    std::ifstream in(fs::path(VX_ENGINE_DIR) / "audplg.dylib", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const EngineFault kFaults[] = {
    {"NoModule", "Failed to find suitable audio plug-in module for target cpu",
     [] { install({}); }},
    {"NoFactorySymbol", "Failed to get entry point in audio plug-in module",
     [] { install(fs::path(VX_TEST_ENGINE_DIR) / "nosymbol.dylib"); }},
    {"FactoryReturnsNull",
     "Failed to create Audio Plugin instance. Plug-In is not properly installed.",
     [] { install(fs::path(VX_TEST_ENGINE_DIR) / "nullfactory.dylib"); }},
    {"CreateFails", "Error in Audio Plugin ICreate(). Plug-In is not properly installed.",
     [] { install(fs::path(VX_TEST_ENGINE_DIR) / "createfails.dylib"); }},
    {"NotALibrary", "Failed to load audio plug-in module (error code =",
     [] { installBytes("#!/bin/sh\necho this is not a library\n"); }},
    {"TruncatedLibrary", "Failed to load audio plug-in module (error code =",
     [] { installBytes(referenceBytes().substr(0, 4096)); }},
    {"EmptyFile", "Failed to load audio plug-in module (error code =", [] { installBytes(""); }},
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
    EXPECT_NE(alerts.alerts[0].message.find(fault.alert), std::string::npos)
        << alerts.alerts[0].message;

    ASSERT_EQ(unithost::setFormats(unit, 44100, 2), 0);
    unithost::Rig rig;
    ASSERT_EQ(rig.attach(unit), 0);
    EXPECT_EQ(AudioUnitInitialize(unit), -10875);
    EXPECT_NE(rig.render(unit, 256), 0);

    // What a host asks of any instance gets an answer, not a crash.
    UInt32 size = 0;
    Boolean writable = false;
    AudioUnitGetPropertyInfo(unit, kAudioUnitProperty_ParameterList, kAudioUnitScope_Global, 0,
                             &size, &writable);
    (void)unithost::globalParameters(unit);
    AudioUnitSetParameter(unit, 0, kAudioUnitScope_Global, 0, 0.5f, 0);
    Float64 seconds = 0;
    UInt32 secondsSize = sizeof seconds;
    AudioUnitGetProperty(unit, kAudioUnitProperty_Latency, kAudioUnitScope_Global, 0, &seconds,
                         &secondsSize);
    secondsSize = sizeof seconds;
    AudioUnitGetProperty(unit, kAudioUnitProperty_TailTime, kAudioUnitScope_Global, 0, &seconds,
                         &secondsSize);
    CFPropertyListRef doc = nullptr;
    UInt32 docSize = sizeof doc;
    if (AudioUnitGetProperty(unit, kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, &doc,
                             &docSize) == 0 &&
        doc != nullptr) {
        AudioUnitSetProperty(unit, kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, &doc,
                             sizeof doc);
        CFRelease(doc);
    }
    AudioUnitReset(unit, kAudioUnitScope_Global, 0);
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

// ---------------------------------------------------------------------------
// State blocks of awkward sizes.

class StateSizes : public ::testing::TestWithParam<std::tuple<const char*, int>> {
protected:
    void TearDown() override { restoreReference(); }
};

TEST_P(StateSizes, SaveAndRestoreCarryTheBlockOrRefuseCleanly) {
    const auto [stem, declared] = GetParam();
    install(fs::path(VX_STATE_ENGINE_DIR) / (std::string(stem) + ".dylib"));
    // Hold the module ourselves to read what the engine was given.
    void* module = dlopen(installed().c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    auto loads = reinterpret_cast<StateEngineLoadsFn>(dlsym(module, "vxStateEngineLoads"));
    ASSERT_NE(loads, nullptr);
    StateEngineLoads* record = loads();

    for (Entry entry : {Entry::Factory, Entry::ComponentManager}) {
        OSStatus status = 0;
        AudioUnit unit = unithost::open(Component::Plugin, entry, &status);
        ASSERT_NE(unit, nullptr) << status;
        unithost::Rig rig;
        ASSERT_EQ(unithost::setFormats(unit, 44100, 2), 0);
        ASSERT_EQ(rig.attach(unit), 0);
        ASSERT_EQ(AudioUnitInitialize(unit), 0);
        ASSERT_EQ(rig.render(unit, 512), 0);

        CFPropertyListRef doc = nullptr;
        UInt32 docSize = sizeof doc;
        const OSStatus saved = AudioUnitGetProperty(unit, kAudioUnitProperty_ClassInfo,
                                                    kAudioUnitScope_Global, 0, &doc, &docSize);
        if (declared >= 0) {
            ASSERT_EQ(saved, 0);
        }
        if (saved == 0) {
            ASSERT_NE(doc, nullptr);
            auto block = static_cast<CFDataRef>(CFDictionaryGetValue(
                static_cast<CFDictionaryRef>(doc), CFSTR("Ambrel-Preset-Data-Key")));
            ASSERT_NE(block, nullptr);
            const CFIndex length = CFDataGetLength(block);
            EXPECT_EQ(length, declared > 0 ? declared : 0);
            if (declared > 0) {
                EXPECT_EQ(CFDataGetBytePtr(block)[0], 0x5A);
                EXPECT_EQ(CFDataGetBytePtr(block)[length - 1], 0x5A);
            }
            const int before = record->count.load();
            EXPECT_EQ(AudioUnitSetProperty(unit, kAudioUnitProperty_ClassInfo,
                                           kAudioUnitScope_Global, 0, &doc, sizeof doc),
                      0);
            EXPECT_EQ(record->count.load(), before + 1);
            EXPECT_EQ(record->lastSize.load(), static_cast<int>(length));
            CFRelease(doc);
        }
        EXPECT_EQ(rig.render(unit, 512), 0);
        EXPECT_EQ(unithost::close(unit), 0);
    }
    dlclose(module);
}

INSTANTIATE_TEST_SUITE_P(Sizes, StateSizes,
                         ::testing::Values(std::make_tuple("state-zero", 0),
                                           std::make_tuple("state-huge", 64 << 20),
                                           std::make_tuple("state-negative", -5)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param)).substr(6);
                         });

// ---------------------------------------------------------------------------
// A host whose callbacks fail.

struct FailingHost {
    OSStatus answer = -1;
    int calls = 0;

    // Every callback of the host record, whatever its arguments.
    template <typename... Args> static OSStatus fail(void* user, Args...) {
        auto* h = static_cast<FailingHost*>(user);
        ++h->calls;
        return h->answer;
    }
};

class HostFailures : public ::testing::TestWithParam<Entry> {
protected:
    AudioUnit unit = nullptr;
    unithost::Rig rig;

    void SetUp() override {
        restoreReference();
        OSStatus status = 0;
        unit = unithost::open(Component::Plugin, GetParam(), &status);
        ASSERT_NE(unit, nullptr) << status;
        ASSERT_EQ(unithost::setFormats(unit, 44100, 2), 0);
        ASSERT_EQ(rig.attach(unit), 0);
    }
    void TearDown() override {
        if (unit) {
            EXPECT_EQ(unithost::close(unit), 0);
        }
    }
    OSStatus lastRenderError() {
        OSStatus last = 1;
        UInt32 size = sizeof last;
        EXPECT_EQ(AudioUnitGetProperty(unit, kAudioUnitProperty_LastRenderError,
                                       kAudioUnitScope_Global, 0, &last, &size),
                  0);
        return last;
    }
};

TEST_P(HostFailures, FailingHostCallbacksLeaveRenderingIntact) {
    FailingHost host;
    HostCallbackInfo info{
        &host, FailingHost::fail<Float64*, Float64*>,
        FailingHost::fail<UInt32*, Float32*, UInt32*, Float64*>,
        FailingHost::fail<Boolean*, Boolean*, Float64*, Boolean*, Float64*, Float64*>,
        FailingHost::fail<Boolean*, Boolean*, Boolean*, Float64*, Boolean*, Float64*, Float64*>};
    ASSERT_EQ(AudioUnitSetProperty(unit, kAudioUnitProperty_HostCallbacks, kAudioUnitScope_Global,
                                   0, &info, sizeof info),
              0);
    ASSERT_EQ(AudioUnitInitialize(unit), 0);
    for (OSStatus answer : {-1, -50, -10863, 1}) {
        host.answer = answer;
        for (int block = 0; block < 8; ++block) {
            ASSERT_EQ(rig.render(unit, 512), 0) << "callbacks answering " << answer;
            ASSERT_TRUE(rig.outputFinite(512));
        }
    }
    EXPECT_GT(host.calls, 0) << "the plug-in asks the host for its facts while rendering";
}

TEST_P(HostFailures, FailingInputIsReportedAndRenderingRecovers) {
    ASSERT_EQ(AudioUnitInitialize(unit), 0);
    ASSERT_EQ(rig.render(unit, 512), 0);
    rig.inputAnswer = -10863;
    EXPECT_EQ(rig.render(unit, 512), -10863);
    EXPECT_EQ(rig.render(unit, 512), -10863);
    EXPECT_EQ(lastRenderError(), -10863);
    rig.inputAnswer = 0;
    for (int block = 0; block < 4; ++block) {
        ASSERT_EQ(rig.render(unit, 512), 0);
        ASSERT_TRUE(rig.outputFinite(512));
    }
    EXPECT_EQ(lastRenderError(), 0) << "reading the error cleared it";
}

INSTANTIATE_TEST_SUITE_P(Entries, HostFailures,
                         ::testing::Values(Entry::Factory, Entry::ComponentManager),
                         [](const auto& info) { return unithost::entryName(info.param); });

} // namespace
