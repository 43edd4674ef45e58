// The plug-in facing engines that fail to load or create: one alert, an
// instance that refuses to initialize, never a crash, and a working one once a
// good engine is back. (State blocks of awkward sizes and failing host
// callbacks are driven through the probe engine in the plug-in tests.)
#include "AlertRecorder.h"
#include "UnitHost.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
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
const fs::path kReference = fs::path(VX_ENGINE_DIR) / "audplg.dylib";

// Replaces the installed engine with a module (none when empty) or with the
// bytes. The old file is removed, never overwritten: a module that is still
// mapped keeps its bytes.
void install(const fs::path& module, const char* bytes = nullptr, size_t size = 0) {
    unithost::prepareSupportFolder();
    fs::remove(installed());
    if (bytes)
        std::ofstream(installed(), std::ios::binary).write(bytes, static_cast<long>(size));
    else if (!module.empty())
        fs::copy_file(module, installed());
}
void installBytes(const std::string& bytes) {
    install({}, bytes.data(), bytes.size());
}
void restoreReference() {
    install(kReference);
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
     [] {
         std::string head(4096, 0);
         std::ifstream(kReference, std::ios::binary).read(head.data(), 4096);
         installBytes(head);
     }},
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
    // The reason is given.
    EXPECT_GE(message.size(), fault.start.size() + fault.end.size() + !fault.end.empty());
    EXPECT_EQ(alerts.alerts[0].informative, "Vextra-Audio Delay");

    // Every request that needs the engine answers without reaching for one:
    // no parameters, no engine, no document, no latency, no tail.
    UInt32 size = 99;
    AudioUnitParameterValue value = 0;
    auto get = [unit](AudioUnitPropertyID id, auto& out) {
        UInt32 bytes = sizeof out;
        return AudioUnitGetProperty(unit, id, kAudioUnitScope_Global, 0, &out, &bytes);
    };
    AudioUnitParameterInfo info{};
    void* access[2] = {};
    CFPropertyListRef doc = nullptr;
    Float64 latency = -1, tail = -1;
    const std::vector<OSStatus> answers = {
        AudioUnitGetPropertyInfo(unit, kAudioUnitProperty_ParameterList, kAudioUnitScope_Global, 0,
                                 &size, nullptr),
        AudioUnitGetParameter(unit, 0, kAudioUnitScope_Global, 0, &value),
        AudioUnitSetParameter(unit, 0, kAudioUnitScope_Global, 0, 0.5f, 0),
        get(kAudioUnitProperty_ParameterInfo, info),
        get(0x1E3638DA, access),
        get(kAudioUnitProperty_ClassInfo, doc),
        get(kAudioUnitProperty_Latency, latency),
        get(kAudioUnitProperty_TailTime, tail),
        AudioUnitReset(unit, kAudioUnitScope_Global, 0)};
    EXPECT_EQ(answers,
              (std::vector<OSStatus>{
                  0, kAudioUnitErr_InvalidParameter, kAudioUnitErr_InvalidParameter,
                  kAudioUnitErr_InvalidParameter, kAudioUnitErr_FailedInitialization,
                  kAudioUnitErr_FailedInitialization, 0, kAudioUnitErr_InvalidProperty, 0}));
    EXPECT_EQ(std::tie(size, doc, latency), std::make_tuple(0u, nullptr, 0.0));
    ASSERT_EQ(unithost::setFormats(unit, 48000, 2), 0);
    unithost::Rig rig;
    ASSERT_EQ(rig.attach(unit), 0);
    // Refused, and stays so.
    EXPECT_EQ(std::vector<OSStatus>({AudioUnitInitialize(unit), AudioUnitInitialize(unit),
                                     rig.render(unit, 256), unithost::close(unit)}),
              std::vector<OSStatus>({kAudioUnitErr_FailedInitialization,
                                     kAudioUnitErr_FailedInitialization,
                                     kAudioUnitErr_Uninitialized, 0}));

    // A good engine back in place: the next instance works, without alert.
    restoreReference();
    unit = unithost::open(Component::Plugin, entry, &status);
    ASSERT_NE(unit, nullptr) << status;
    EXPECT_EQ(alerts.alerts.size(), 1u);
    ASSERT_EQ(unithost::setFormats(unit, 44100, 2), 0);
    ASSERT_EQ(rig.attach(unit), 0);
    EXPECT_EQ(std::vector<OSStatus>(
                  {AudioUnitInitialize(unit), rig.render(unit, 256), unithost::close(unit)}),
              std::vector<OSStatus>(3, 0));
}

INSTANTIATE_TEST_SUITE_P(AllFaults, EngineFaults,
                         ::testing::Combine(::testing::ValuesIn(kFaults),
                                            ::testing::Values(Entry::Factory,
                                                              Entry::ComponentManager)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    unithost::entryName(std::get<1>(info.param));
                         });

} // namespace
