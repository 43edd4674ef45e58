// An instance's life through both entry points of the built bundle: the
// exact order of the engine calls over a whole life, the release of the
// engine before its module is closed, and what a ready instance hands out.
// (An instance without an engine is the fault tests' part.)
#include "DlcloseSpy.h"
#include "PluginTestSupport.h"

#include <AudioUnit/AUCocoaUIView.h>
#include <CoreServices/CoreServices.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <sstream>

using namespace plugtest;
using ::testing::ElementsAreArray;

namespace {

constexpr AudioUnitPropertyID kEngineAccess = 0x1E3638DA;

// The call logs of the recording-engine modules closed since the spy was
// cleared, one call a line.
std::vector<std::vector<std::string>> closedEngineLogs() {
    std::vector<std::vector<std::string>> out;
    for (const ModuleClose& c : moduleCloses()) {
        if (!c.recordingEngine)
            continue;
        std::istringstream in(c.recordingLog);
        out.emplace_back();
        for (std::string line; std::getline(in, line);)
            out.back().push_back(line);
    }
    return out;
}

// The Component Manager's version request, sent to the bundle's entry with
// the unit object the Component Manager keeps for the instance.
OSStatus versionThroughEntry(AudioUnit unit, void* object) {
    void* bundle =
        dlopen(builtBundle().append("Contents/MacOS/VX-Delay").c_str(), RTLD_NOW | RTLD_NOLOAD);
    auto entry = bundle ? reinterpret_cast<OSStatus (*)(ComponentParameters*, void*)>(
                              dlsym(bundle, "CAUPluginEntry"))
                        : nullptr;
    ComponentParameters params{};
    params.what = kComponentVersionSelect;
    params.params[0] = reinterpret_cast<long>(unit);
    const OSStatus result = entry ? entry(&params, object) : -1;
    if (bundle)
        dlclose(bundle);
    return result;
}

class Lifecycle : public ::testing::TestWithParam<Entry> {
protected:
    void SetUp() override { moduleCloses().clear(); }
    SupportFolder support;
};

} // namespace

TEST_P(Lifecycle, EngineWhoseCreateFailsIsReleasedBeforeItsModuleAtClose) {
    support.install(testEngine("createfails"));
    AlertRecorder alerts;
    Unit unit(GetParam());
    ASSERT_EQ(unit.openStatus(), noErr);
    ASSERT_EQ(alerts.alerts.size(), 1u);
    EXPECT_EQ(AudioUnitInitialize(unit), kAudioUnitErr_FailedInitialization);
    ASSERT_EQ(unit.close(), noErr);
    const auto logs = closedEngineLogs();
    ASSERT_EQ(logs.size(), 1u) << "the module is closed once, at close";
    // Never prepared, reset or asked anything after the failed create.
    ASSERT_GE(logs[0].size(), 2u);
    EXPECT_THAT(std::vector<std::string>(logs[0].end() - 2, logs[0].end()),
                ElementsAreArray({"ICreate", "IDestroy"}));
}

TEST_P(Lifecycle, RecordingEngineSeesAWholeLifeInOrder) {
    support.install(testEngine("recording"));
    AlertRecorder alerts;
    Unit unit(GetParam());
    ASSERT_EQ(unit.openStatus(), noErr);
    EXPECT_TRUE(alerts.alerts.empty());
    // Opened while the bundle's static objects were built.
    EXPECT_TRUE(fs::is_regular_file(testHome() / "Library/Logs/VextraAudio/vextraaudio.log"));

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
    ASSERT_EQ(setProperty(unit, kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, document),
              noErr);
    CFRelease(document);
    ASSERT_EQ(unit.close(), noErr);

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
    const auto logs = closedEngineLogs();
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_THAT(logs[0], ElementsAreArray(expected));
}

TEST_P(Lifecycle, ReadyInstanceHandsOutItsEngineItsVersionAndTheEnginesParameters) {
    ProbeModule probe(support);
    Unit unit(GetParam());
    ASSERT_EQ(unit.openStatus(), noErr);
    EXPECT_EQ(probe.control().creates, 1);
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

    AudioUnitParameterID ids[4] = {99, 99, 99, 99};
    size = sizeof ids;
    ASSERT_EQ(AudioUnitGetProperty(unit, kAudioUnitProperty_ParameterList, kAudioUnitScope_Global,
                                   0, ids, &size),
              noErr);
    EXPECT_EQ(size, 3 * sizeof(AudioUnitParameterID));
    EXPECT_EQ(ids[2], 2u);
    EXPECT_EQ(ids[3], 99u);
    AudioUnitParameterInfo info{};
    ASSERT_EQ(getProperty(unit, kAudioUnitProperty_ParameterInfo, kAudioUnitScope_Global, 2, info),
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

    EXPECT_EQ(unit.close(), noErr);
    EXPECT_EQ(probe.control().destroys, 1);
}

TEST_P(Lifecycle, EditorViewIsTheBundlesResourceWithItsFactoryClassEvenWithoutAnEngine) {
    AlertRecorder alerts; // nothing installed
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
    ASSERT_TRUE(view.mCocoaAUViewBundleLocation && view.mCocoaAUViewClass[0]);
    CFStringRef path =
        CFURLCopyFileSystemPath(view.mCocoaAUViewBundleLocation, kCFURLPOSIXPathStyle);
    char text[1024] = {}, name[64] = {};
    CFStringGetCString(path, text, sizeof text, kCFStringEncodingUTF8);
    CFStringGetCString(view.mCocoaAUViewClass[0], name, sizeof name, kCFStringEncodingUTF8);
    EXPECT_EQ(fs::path(text).lexically_normal(),
              (builtBundle() / "Contents/Resources/AUPluginCocoaUI.bundle").lexically_normal());
    EXPECT_STREQ(name, "AmbrelAUPluginCocoaViewFactory");
    CFRelease(path);
    CFRelease(view.mCocoaAUViewBundleLocation);
    CFRelease(view.mCocoaAUViewClass[0]);
}

VX_BOTH_ENTRIES(Lifecycle);
