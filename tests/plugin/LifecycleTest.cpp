// An instance's life through both entry points of the built bundle: the
// exact order of the engine calls over a whole life, the release of the
// engine before its module is closed, and the editor view it names.
// (An instance without an engine is the fault tests' part.)
#include "PluginTestSupport.h"

#include <AudioUnit/AUCocoaUIView.h>

#include <gmock/gmock.h>

#include <dlfcn.h>

using namespace plugtest;
using ::testing::EndsWith;

namespace {

// The call logs of the recording engines whose modules were closed since the
// last clear, as of their close.
std::vector<std::string>& closedLogs() {
    // Never destroyed: libraries may still close modules while the program exits.
    static auto* logs = new std::vector<std::string>;
    return *logs;
}

// The one recording engine closed since the last clear, one call a line.
std::string closedEngineLog() {
    EXPECT_EQ(closedLogs().size(), 1u) << "the module is closed once, at close";
    return closedLogs().empty() ? "" : closedLogs().back();
}

class Lifecycle : public ::testing::TestWithParam<Entry> {
protected:
    void SetUp() override { closedLogs().clear(); }
    SupportFolder support;
};

} // namespace

// Exported from the test program, so that the bundle's own close calls reach
// it first. A recording engine's log is read through the still-open handle.
extern "C" int dlclose(void* handle) {
    using CloseFn = int (*)(void*);
    static const CloseFn next = reinterpret_cast<CloseFn>(dlsym(RTLD_NEXT, "dlclose"));
    using LogFn = const char* (*)();
    if (auto log = reinterpret_cast<LogFn>(dlsym(handle, "vxRecordingLog")))
        closedLogs().push_back(log());
    return next(handle);
}

TEST_P(Lifecycle, EngineWhoseCreateFailsIsReleasedBeforeItsModuleAndTheEditorViewIsNamed) {
    support.install(fs::path(VX_TEST_ENGINE_DIR) / "createfails.dylib");
    AlertRecorder alerts;
    Unit unit(GetParam());
    ASSERT_EQ(unit.openStatus(), noErr);
    EXPECT_EQ(alerts.alerts.size(), 1u);
    // The editor view is named even without a ready engine.
    AudioUnitCocoaViewInfo view{};
    ASSERT_EQ(getProperty(unit, kAudioUnitProperty_CocoaUI, view), noErr);
    ASSERT_TRUE(view.mCocoaAUViewBundleLocation && view.mCocoaAUViewClass[0]);
    CFStringRef path =
        CFURLCopyFileSystemPath(view.mCocoaAUViewBundleLocation, kCFURLPOSIXPathStyle);
    char text[1024] = {}, name[64] = {};
    CFStringGetCString(path, text, sizeof text, kCFStringEncodingUTF8);
    CFStringGetCString(view.mCocoaAUViewClass[0], name, sizeof name, kCFStringEncodingUTF8);
    for (CFTypeRef made : {CFTypeRef(path), CFTypeRef(view.mCocoaAUViewBundleLocation),
                           CFTypeRef(view.mCocoaAUViewClass[0])})
        CFRelease(made);
    EXPECT_EQ(
        std::make_tuple(fs::path(text).lexically_normal(), std::string(name)),
        std::make_tuple((fs::path(VX_BUNDLE_DIR) / "Contents/Resources/AUPluginCocoaUI.bundle")
                            .lexically_normal(),
                        "AmbrelAUPluginCocoaViewFactory"));
    ASSERT_EQ(unit.close(), noErr);
    // Never prepared, reset or asked anything after the failed create.
    EXPECT_THAT(closedEngineLog(), EndsWith("\nICreate\nIDestroy\n"));
}

TEST_P(Lifecycle, RecordingEngineSeesAWholeLifeInOrder) {
    support.install(fs::path(VX_TEST_ENGINE_DIR) / "recording.dylib");
    AlertRecorder alerts;
    Unit unit(GetParam());
    ASSERT_EQ(unit.openStatus(), noErr);
    EXPECT_TRUE(alerts.alerts.empty());
    // Opened while the bundle's static objects were built.
    EXPECT_TRUE(fs::is_regular_file(testHome() / "Library/Logs/VextraAudio/vextraaudio.log"));

    ASSERT_EQ(AudioUnitInitialize(unit), noErr);
    ASSERT_EQ(AudioUnitUninitialize(unit), noErr);
    ASSERT_EQ(setFormats(unit, 48000, 2), noErr);
    ASSERT_EQ(AudioUnitInitialize(unit), noErr);
    InputSource input;
    input.signal.assign(512, 0.25f);
    ASSERT_EQ(input.attach(unit), noErr);
    std::vector<float> left(512), right(512);
    ASSERT_EQ(renderStereo(unit, 0, 512, left.data(), right.data()), noErr);
    AudioUnitParameterValue value = 0;
    ASSERT_EQ(AudioUnitGetParameter(unit, 0, kAudioUnitScope_Global, 0, &value), noErr);
    // The engine's gain of 0.5 was applied; its first parameter is 0.1.
    EXPECT_EQ(std::tie(left[100], value), std::make_tuple(0.125f, 0.1f));
    ASSERT_EQ(AudioUnitSetParameter(unit, 1, kAudioUnitScope_Global, 0, 0.25f, 0), noErr);
    ASSERT_EQ(AudioUnitReset(unit, kAudioUnitScope_Global, 0), noErr);
    CFPropertyListRef document = nullptr;
    ASSERT_EQ(getProperty(unit, kAudioUnitProperty_ClassInfo, document), noErr);
    ASSERT_EQ(setProperty(unit, kAudioUnitProperty_ClassInfo, document), noErr);
    CFRelease(document);
    ASSERT_EQ(unit.close(), noErr);

    // Loading and creation; 48000 Hz on the input (the output following changes
    // nothing); one block; parameters, reset, a document saved and restored;
    // at close the engine goes, then its module.
    EXPECT_EQ(
        closedEngineLog(),
        "construct\nISetProductFolder1 " + support.dataFolder().string() + "\nISetProductFolder2 " +
            support.dataFolder().string() + "\nISetProductFolder3 " +
            support.dataFolder().string() + "\nISetVendorFolder " + support.root.string() +
            "\nISetISA 0\nISetHostLink link\nICreate\nIPrepare\nIReset\nISuspend\nIPrepare\n"
            "IReset\nIProcess 0 512 stereo\nIGetParam 0\nISetParam 1 0.25\nIReset\nISaveState\n"
            "IGetStateSize\nIGetStateData\nILoadState 6\nIDestroy\n");
}

VX_BOTH_ENTRIES(Lifecycle);
