// An instance's life through both entry points of the built bundle: the
// three end states of construction, the exact order of the engine calls over
// a whole life, and the release of the engine before its module is closed.
#include "DlcloseSpy.h"
#include "PluginTestSupport.h"

#include <AudioUnit/AUCocoaUIView.h>
#include <CoreServices/CoreServices.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <sstream>

using namespace plugtest;
using ::testing::ElementsAreArray;
using ::testing::StartsWith;

namespace {

constexpr AudioUnitPropertyID kEngineAccess = 0x1E3638DA;
const char* const kCreateFailed =
    "Error in Audio Plugin ICreate(). Plug-In is not properly installed.";

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

// The closes of recording-engine modules since the spy was cleared.
std::vector<ModuleClose> engineCloses() {
    std::vector<ModuleClose> out;
    for (const ModuleClose& c : moduleCloses())
        if (c.recordingEngine)
            out.push_back(c);
    return out;
}

// The Component Manager's version request, sent to the bundle's entry with
// the unit object the Component Manager keeps for the instance.
OSStatus versionThroughEntry(AudioUnit unit, void* object) {
    void* bundle =
        dlopen(builtBundle().append("Contents/MacOS/VX-Delay").c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (bundle == nullptr)
        return -1;
    using EntryFn = OSStatus (*)(ComponentParameters*, void*);
    auto entry = reinterpret_cast<EntryFn>(dlsym(bundle, "CAUPluginEntry"));
    OSStatus result = -1;
    if (entry != nullptr) {
        ComponentParameters params{};
        params.what = kComponentVersionSelect;
        params.paramSize = 0;
        params.params[0] = reinterpret_cast<long>(unit);
        result = entry(&params, object);
    }
    dlclose(bundle);
    return result;
}

class Lifecycle : public ::testing::TestWithParam<Entry> {
protected:
    void SetUp() override { moduleCloses().clear(); }
};

} // namespace

TEST_P(Lifecycle, WithoutAnEngineModuleOpensAlertsOnceAndRefusesToInitialise) {
    SupportFolder support; // nothing installed
    AlertRecorder alerts;
    Unit unit(GetParam());
    ASSERT_EQ(unit.openStatus(), noErr) << "a missing engine never fails the host's open";
    ASSERT_EQ(alerts.alerts.size(), 1u);
    EXPECT_THAT(alerts.alerts[0].message,
                StartsWith("Failed to find suitable audio plug-in module for target cpu"));
    EXPECT_EQ(alerts.alerts[0].informative, "Vextra-Audio Delay");
    EXPECT_EQ(AudioUnitInitialize(unit), kAudioUnitErr_FailedInitialization);
    EXPECT_EQ(AudioUnitInitialize(unit), kAudioUnitErr_FailedInitialization) << "and stays so";

    // Every request that needs the engine answers without reaching for one.
    UInt32 size = 0;
    Boolean writable = false;
    EXPECT_EQ(AudioUnitGetPropertyInfo(unit, kAudioUnitProperty_ParameterList,
                                       kAudioUnitScope_Global, 0, &size, &writable),
              noErr);
    EXPECT_EQ(size, 0u) << "no engine, no parameters";
    AudioUnitParameterValue value = 0;
    EXPECT_EQ(AudioUnitGetParameter(unit, 0, kAudioUnitScope_Global, 0, &value),
              kAudioUnitErr_InvalidParameter);
    EXPECT_EQ(AudioUnitSetParameter(unit, 0, kAudioUnitScope_Global, 0, 1.0f, 0),
              kAudioUnitErr_InvalidParameter);
    AudioUnitParameterInfo info{};
    EXPECT_EQ(getProperty(unit, kAudioUnitProperty_ParameterInfo, kAudioUnitScope_Global, 0, info),
              kAudioUnitErr_InvalidParameter);
    void* access[2] = {};
    EXPECT_EQ(getProperty(unit, kEngineAccess, kAudioUnitScope_Global, 0, access),
              kAudioUnitErr_FailedInitialization);
    CFPropertyListRef document = nullptr;
    EXPECT_EQ(getProperty(unit, kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, document),
              kAudioUnitErr_FailedInitialization);
    EXPECT_EQ(document, nullptr);
    Float64 latency = -1;
    EXPECT_EQ(getProperty(unit, kAudioUnitProperty_Latency, kAudioUnitScope_Global, 0, latency),
              noErr);
    EXPECT_EQ(latency, 0.0);
    Float64 tail = -1;
    EXPECT_EQ(getProperty(unit, kAudioUnitProperty_TailTime, kAudioUnitScope_Global, 0, tail),
              kAudioUnitErr_InvalidProperty)
        << "no engine, no tail";
    EXPECT_EQ(setFormat(unit, kAudioUnitScope_Input, 48000, 2), noErr);
    EXPECT_EQ(AudioUnitReset(unit, kAudioUnitScope_Global, 0), noErr);
    float left[64], right[64];
    EXPECT_EQ(renderStereo(unit, 0, 64, left, right), kAudioUnitErr_Uninitialized);
    EXPECT_EQ(unit.close(), noErr);
    EXPECT_EQ(alerts.alerts.size(), 1u);
}

TEST_P(Lifecycle, EngineWhoseCreateFailsIsReportedKeptAndReleasedAtClose) {
    SupportFolder support;
    support.install(testEngine("createfails"));
    AlertRecorder alerts;
    {
        Unit unit(GetParam());
        ASSERT_EQ(unit.openStatus(), noErr);
        ASSERT_EQ(alerts.alerts.size(), 1u);
        EXPECT_EQ(alerts.alerts[0].message, kCreateFailed);
        EXPECT_EQ(alerts.alerts[0].informative, "Vextra-Audio Delay");
        EXPECT_EQ(AudioUnitInitialize(unit), kAudioUnitErr_FailedInitialization);
        AudioUnitParameterValue value = 0;
        EXPECT_EQ(AudioUnitGetParameter(unit, 0, kAudioUnitScope_Global, 0, &value),
                  kAudioUnitErr_InvalidParameter);
        EXPECT_EQ(AudioUnitReset(unit, kAudioUnitScope_Global, 0), noErr);
        ASSERT_EQ(unit.close(), noErr);
    }
    const auto closes = engineCloses();
    ASSERT_EQ(closes.size(), 1u) << "the module is closed once, at close";
    const auto calls = lines(closes[0].recordingLog);
    ASSERT_FALSE(calls.empty());
    // The engine was never prepared, reset or asked anything after the
    // failed create; it was released before its module was closed.
    const auto create = std::find(calls.begin(), calls.end(), "ICreate");
    ASSERT_NE(create, calls.end());
    EXPECT_THAT(std::vector<std::string>(create, calls.end()),
                ElementsAreArray({"ICreate", "IDestroy"}));
}

TEST_P(Lifecycle, RecordingEngineSeesAWholeLifeInOrder) {
    SupportFolder support;
    support.install(testEngine("recording"));
    AlertRecorder alerts;
    Unit unit(GetParam());
    ASSERT_EQ(unit.openStatus(), noErr);
    EXPECT_TRUE(alerts.alerts.empty());

    ASSERT_EQ(AudioUnitInitialize(unit), noErr);
    ASSERT_EQ(AudioUnitUninitialize(unit), noErr);
    ASSERT_EQ(setFormat(unit, kAudioUnitScope_Input, 48000, 2), noErr);
    ASSERT_EQ(setFormat(unit, kAudioUnitScope_Output, 48000, 2), noErr);
    ASSERT_EQ(AudioUnitInitialize(unit), noErr);

    InputSource input;
    input.signal.assign(512, 0.25f);
    ASSERT_EQ(input.attach(unit), noErr);
    std::vector<float> left(512), right(512);
    ASSERT_EQ(renderStereo(unit, 0, 512, left.data(), right.data()), noErr);
    EXPECT_FLOAT_EQ(left[100], 0.125f) << "the engine's gain of 0.5 was applied";

    AudioUnitParameterValue value = 0;
    ASSERT_EQ(AudioUnitGetParameter(unit, 0, kAudioUnitScope_Global, 0, &value), noErr);
    EXPECT_FLOAT_EQ(value, 0.5f);
    ASSERT_EQ(AudioUnitSetParameter(unit, 1, kAudioUnitScope_Global, 0, 0.25f, 0), noErr);
    ASSERT_EQ(AudioUnitReset(unit, kAudioUnitScope_Global, 0), noErr);

    CFPropertyListRef document = nullptr;
    ASSERT_EQ(getProperty(unit, kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, document),
              noErr);
    ASSERT_NE(document, nullptr);
    ASSERT_EQ(setProperty(unit, kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, document),
              noErr);
    CFRelease(document);
    ASSERT_EQ(unit.close(), noErr);

    const auto closes = engineCloses();
    ASSERT_EQ(closes.size(), 1u);
    const std::string folder = support.dataFolder().string();
    const std::vector<std::string> expected = {
        // Loading and creation.
        "construct", "ISetProductFolder1 " + folder, "ISetProductFolder2 " + folder,
        "ISetProductFolder3 " + folder, "ISetVendorFolder " + support.root().string(), "ISetISA 0",
        "ISetHostLink link", "ICreate", "IPrepare", "IReset",
        // 48000 Hz on the input; the output following changes nothing.
        "ISuspend", "IPrepare", "IReset",
        // One block of audio.
        "IProcess 0 512 stereo",
        // Parameters, reset, a document saved and restored.
        "IGetParam 0", "ISetParam 1 0.25", "IReset", "ISaveState", "IGetStateSize", "IGetStateData",
        "ILoadState 8",
        // Close: the engine goes, then its module.
        "IDestroy"};
    EXPECT_THAT(lines(closes[0].recordingLog), ElementsAreArray(expected));
}

TEST_P(Lifecycle, VersionAndEngineAccessOfAReadyInstance) {
    SupportFolder support;
    ProbeModule probe(support);
    Unit unit(GetParam());
    ASSERT_EQ(unit.openStatus(), noErr);
    EXPECT_EQ(probe.control().creates, 1);
    EXPECT_EQ(probe.control().prepares, 1);
    EXPECT_EQ(probe.control().resets, 1);
    ASSERT_NE(probe.control().link, nullptr) << "the engine was given its host link";

    void* first[2] = {};
    void* second[2] = {};
    ASSERT_EQ(getProperty(unit, kEngineAccess, kAudioUnitScope_Global, 0, first), noErr);
    ASSERT_EQ(getProperty(unit, kEngineAccess, kAudioUnitScope_Output, 3, second), noErr)
        << "scope and element do not matter";
    ASSERT_NE(first[0], nullptr);
    EXPECT_EQ(first[0], second[0]);
    EXPECT_EQ(first[1], second[1]);
    UInt32 size = 0;
    Boolean writable = true;
    ASSERT_EQ(
        AudioUnitGetPropertyInfo(unit, kEngineAccess, kAudioUnitScope_Global, 0, &size, &writable),
        noErr);
    EXPECT_EQ(size, 16u);
    EXPECT_FALSE(writable);

    if (GetParam() == Entry::ComponentManager) {
        EXPECT_EQ(versionThroughEntry(unit, first[1]), 0x10000);
    }
    EXPECT_EQ(unit.close(), noErr);
    EXPECT_EQ(probe.control().destroys, 1);
}

TEST_P(Lifecycle, EditorViewIsTheBundlesResourceWithItsFactoryClass) {
    SupportFolder support;
    AlertRecorder alerts; // the editor is located with or without an engine
    Unit unit(GetParam());
    ASSERT_EQ(unit.openStatus(), noErr);
    UInt32 size = 0;
    Boolean writable = true;
    ASSERT_EQ(AudioUnitGetPropertyInfo(unit, kAudioUnitProperty_CocoaUI, kAudioUnitScope_Global, 0,
                                       &size, &writable),
              noErr);
    EXPECT_EQ(size, sizeof(AudioUnitCocoaViewInfo));
    EXPECT_FALSE(writable);
    AudioUnitCocoaViewInfo view{};
    ASSERT_EQ(getProperty(unit.get(), kAudioUnitProperty_CocoaUI, kAudioUnitScope_Global, 0, view),
              noErr);
    ASSERT_NE(view.mCocoaAUViewBundleLocation, nullptr);
    ASSERT_NE(view.mCocoaAUViewClass[0], nullptr);
    CFStringRef path =
        CFURLCopyFileSystemPath(view.mCocoaAUViewBundleLocation, kCFURLPOSIXPathStyle);
    char text[1024] = {};
    CFStringGetCString(path, text, sizeof text, kCFStringEncodingUTF8);
    EXPECT_EQ(fs::path(text).lexically_normal(),
              (builtBundle() / "Contents/Resources/AUPluginCocoaUI.bundle").lexically_normal());
    char name[64] = {};
    CFStringGetCString(view.mCocoaAUViewClass[0], name, sizeof name, kCFStringEncodingUTF8);
    EXPECT_STREQ(name, "AmbrelAUPluginCocoaViewFactory");
    CFRelease(path);
    CFRelease(view.mCocoaAUViewBundleLocation);
    CFRelease(view.mCocoaAUViewClass[0]);
}

TEST_P(Lifecycle, ParametersAreTheEnginesWhateverTheirCount) {
    SupportFolder support;
    ProbeModule probe(support);
    Unit unit(GetParam());
    ASSERT_EQ(unit.openStatus(), noErr);
    AudioUnitParameterID ids[4] = {99, 99, 99, 99};
    UInt32 size = sizeof ids;
    ASSERT_EQ(AudioUnitGetProperty(unit, kAudioUnitProperty_ParameterList, kAudioUnitScope_Global,
                                   0, ids, &size),
              noErr);
    EXPECT_EQ(size, 3 * sizeof(AudioUnitParameterID));
    EXPECT_EQ(ids[2], 2u);
    EXPECT_EQ(ids[3], 99u);

    AudioUnitParameterInfo info{};
    size = sizeof info;
    ASSERT_EQ(AudioUnitGetProperty(unit, kAudioUnitProperty_ParameterInfo, kAudioUnitScope_Global,
                                   2, &info, &size),
              noErr);
    EXPECT_EQ(info.minValue, -3.0f);
    EXPECT_EQ(info.maxValue, 30.0f);
    EXPECT_EQ(info.defaultValue, 2.5f);
    EXPECT_EQ(info.flags, 0xE8000011u);
    CFRelease(info.cfNameString);

    ASSERT_EQ(AudioUnitSetParameter(unit, 1, kAudioUnitScope_Global, 0, -4.5f, 0), noErr);
    EXPECT_EQ(probe.control().params[1], -4.5f) << "passed on unchanged, not clamped";

    probe.control().info.paramCount = 0;
    ids[0] = 42;
    size = sizeof ids;
    ASSERT_EQ(AudioUnitGetProperty(unit, kAudioUnitProperty_ParameterList, kAudioUnitScope_Global,
                                   0, ids, &size),
              noErr);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(ids[0], 42u) << "an empty list leaves the caller's buffer alone";
}

TEST_P(Lifecycle, LoadedBundleHasOpenedItsLog) {
    SupportFolder support;
    AlertRecorder alerts;
    Unit unit(GetParam());
    ASSERT_EQ(unit.openStatus(), noErr);
    // Opened while the bundle's static objects were built, before any
    // instance existed.
    EXPECT_TRUE(fs::is_regular_file(testHome() / "Library/Logs/VextraAudio/vextraaudio.log"));
}

VX_BOTH_ENTRIES(Lifecycle);
