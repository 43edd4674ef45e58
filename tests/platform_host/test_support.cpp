#include "test_support.h"

#include <VextraHost/VXHostRuntime.h>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <vector>

namespace fs = std::filesystem;

namespace hosttest {
namespace {

std::string entry(const char* type, const char* subtype, const char* name, const char* version,
                  const char* factory) {
    return std::string("<dict><key>type</key><string>") + type +
           "</string><key>subtype</key><string>" + subtype +
           "</string><key>manufacturer</key><string>VxTs</string><key>name</key><string>" + name +
           "</string><key>version</key><integer>" + version +
           "</integer><key>factoryFunction</key><string>" + factory + "</string></dict>\n";
}

void install(const char* name, const std::string& components) {
    const std::string folder = bundle(name);
    fs::create_directories(folder + "/Contents/MacOS");
    std::ofstream(folder + "/Contents/Info.plist")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
        << "<key>CFBundleExecutable</key><string>" << name << "</string>\n"
        << "<key>CFBundleIdentifier</key><string>com.vextra-audio.test." << name << "</string>\n"
        << (components.empty() ? ""
                               : "<key>AudioComponents</key><array>\n" + components + "</array>\n")
        << "</dict>\n</plist>\n";
    fs::copy_file(FAKE_COMPONENT_BINARY, folder + "/Contents/MacOS/" + name,
                  fs::copy_options::overwrite_existing);
}

// Builds the temporary home before any test runs, and points HOME at it.
class HomeEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        install("Fake", entry("aufx", "Fak1", "Vextra Test: Fake", "65538", "FakeFactory") +
                            entry("aufx", "Fak2", "Vextra Test: Fake Two", "1", "FakeFactory"));
        install("Broken", entry("aumu", "Brkn", "Vextra Test: Broken", "3", "NoSuchFactory"));
        install("Plain", "");
        setenv("HOME", home().c_str(), 1);
        VXHostRescanComponents();
    }
    void TearDown() override { fs::remove_all(home()); }
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new HomeEnvironment);

// A function the fake module exports, when the runtime has loaded the module.
void* exported(const char* name) {
    void* module = dlopen((bundle() + "/Contents/MacOS/Fake").c_str(), RTLD_LAZY | RTLD_NOLOAD);
    void* fn = module ? dlsym(module, name) : nullptr;
    if (module)
        dlclose(module); // the runtime's own reference keeps it loaded
    return fn;
}

OSStatus noteRender(void*, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32, UInt32,
                    AudioBufferList*) {
    return 0;
}

// An argument as a call should carry it, compared over its own width.
struct Arg {
    template <typename T> Arg(T value) : size(sizeof value) { std::memcpy(&bits, &value, size); }
    long bits = 0;
    std::size_t size;
};

} // namespace

const std::string& home() {
    static const std::string path = [] {
        std::string pattern = (fs::temp_directory_path() / "vx-host-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a temporary home");
        return pattern;
    }();
    return path;
}

std::string bundle(const char* name) {
    return home() + "/Library/Audio/Plug-Ins/Components/" + name + ".component";
}

fake::Log* fakeLog() {
    auto get = reinterpret_cast<fake::Log* (*)()>(exported("FakeGetLog"));
    return get ? get() : nullptr;
}

void setOpenFailure(OSStatus status) {
    if (auto set = reinterpret_cast<void (*)(OSStatus)>(exported("FakeSetOpenFailure")))
        set(status);
}

AudioComponent findFake(OSType subtype) {
    AudioComponentDescription d{kEffect, subtype, kManufacturer, 0, 0};
    return AudioComponentFindNext(nullptr, &d);
}

void noteProperty(void* ref, AudioUnit, AudioUnitPropertyID id, AudioUnitScope, AudioUnitElement) {
    static_cast<std::vector<AudioUnitPropertyID>*>(ref)->push_back(id);
}

void checkEveryCall(AudioUnit unit, fake::Path path) {
    const fake::Log* log = fakeLog();
    // The last call the unit saw, its count of arguments and those given.
    auto expectCall = [&](SInt16 selector, int argCount, std::initializer_list<Arg> args = {}) {
        ASSERT_GT(log->count, 0);
        const fake::Call& c = lastCall(log);
        EXPECT_EQ(c.path, path);
        EXPECT_EQ(c.selector, selector);
        EXPECT_EQ(c.argCount, argCount);
        EXPECT_EQ(c.instance, unit);
        EXPECT_EQ(c.paramSize, path == fake::Path::Manager ? 8 * argCount : 0);
        int i = 0;
        for (const Arg& a : args) {
            long seen = 0;
            std::memcpy(&seen, &c.args[i], a.size);
            EXPECT_EQ(seen, a.bits) << "selector " << selector << ", argument " << i;
            ++i;
        }
    };
    const auto kEcho = fake::kFakeEchoProperty;
    EXPECT_EQ(AudioUnitInitialize(unit), 0);
    expectCall(kAudioUnitInitializeSelect, 0);
    EXPECT_EQ(AudioUnitUninitialize(unit), 0);
    expectCall(kAudioUnitUninitializeSelect, 0);
    UInt32 size = 0;
    Boolean writable = 0;
    EXPECT_EQ(AudioUnitGetPropertyInfo(unit, kEcho, 2, 3, &size, &writable), 0);
    expectCall(kAudioUnitGetPropertyInfoSelect, 5, {kEcho, 2u, 3u, &size, &writable});
    EXPECT_EQ(AudioUnitGetPropertyInfo(unit, 12345, 0, 0, &size, &writable),
              kAudioUnitErr_InvalidProperty);
    const unsigned char bytes[16] = {};
    EXPECT_EQ(AudioUnitSetProperty(unit, kEcho, 1, 7, bytes, sizeof bytes), 0);
    expectCall(kAudioUnitSetPropertySelect, 5,
               {kEcho, 1u, 7u, static_cast<const void*>(bytes), 16u});
    unsigned char back[16] = {};
    EXPECT_EQ(AudioUnitGetProperty(unit, kEcho, 4, 5, back, &size), 0);
    expectCall(kAudioUnitGetPropertySelect, 5, {kEcho, 4u, 5u, static_cast<void*>(back), &size});

    AudioUnitParameterValue value = -1;
    EXPECT_EQ(AudioUnitGetParameter(unit, 6, 1, 2, &value), 0);
    expectCall(kAudioUnitGetParameterSelect, 4, {6u, 1u, 2u, &value});
    EXPECT_FLOAT_EQ(value, 3.0f);
    EXPECT_EQ(AudioUnitSetParameter(unit, 6, 1, 2, 0.75f, 64), 0);
    expectCall(kAudioUnitSetParameterSelect, 5, {6u, 1u, 2u, 0.75f, 64u});
    EXPECT_EQ(AudioUnitGetParameter(unit, 999, 0, 0, &value), kAudioUnitErr_InvalidParameter);
    const AudioUnitParameterEvent events[2] = {};
    EXPECT_EQ(AudioUnitScheduleParameters(unit, events, 2), 0);
    expectCall(kAudioUnitScheduleParametersSelect, 2,
               {static_cast<const AudioUnitParameterEvent*>(events), 2u});
    EXPECT_EQ(AudioUnitReset(unit, 2, 5), 0);
    expectCall(kAudioUnitResetSelect, 2, {2u, 5u});

    std::vector<AudioUnitPropertyID> heard;
    EXPECT_EQ(AudioUnitAddPropertyListener(unit, kEcho, noteProperty, &heard), 0);
    expectCall(kAudioUnitAddPropertyListenerSelect, 3,
               {kEcho, &noteProperty, static_cast<void*>(&heard)});
    EXPECT_EQ(AudioUnitSetProperty(unit, kEcho, 0, 0, bytes, 4), 0);
    EXPECT_EQ(heard, std::vector<AudioUnitPropertyID>{kEcho});
    EXPECT_EQ(AudioUnitRemovePropertyListenerWithUserData(unit, kEcho, noteProperty, &heard), 0);
    expectCall(kAudioUnitRemovePropertyListenerWithUserDataSelect, 3,
               {kEcho, &noteProperty, static_cast<void*>(&heard)});
    EXPECT_EQ(AudioUnitAddRenderNotify(unit, noteRender, &heard), 0);
    expectCall(kAudioUnitAddRenderNotifySelect, 2, {&noteRender, static_cast<void*>(&heard)});
    EXPECT_EQ(AudioUnitRemoveRenderNotify(unit, noteRender, &heard), 0);
    expectCall(kAudioUnitRemoveRenderNotifySelect, 2, {&noteRender, static_cast<void*>(&heard)});
    AudioBufferList list{1, {{1, sizeof back, back}}};
    AudioTimeStamp ts{};
    AudioUnitRenderActionFlags flags = 0;
    EXPECT_EQ(AudioUnitRender(unit, &flags, &ts, 3, 8, &list), 0);
    expectCall(kAudioUnitRenderSelect, 5, {&flags, &ts, 3u, 8u, &list});

    // Null arguments are refused before reaching the unit.
    const int before = log->count;
    EXPECT_EQ(AudioUnitGetProperty(unit, kEcho, 0, 0, back, nullptr), kAudio_ParamError);
    EXPECT_EQ(AudioUnitGetParameter(unit, 6, 0, 0, nullptr), kAudio_ParamError);
    EXPECT_EQ(AudioUnitScheduleParameters(unit, nullptr, 1), kAudio_ParamError);
    EXPECT_EQ(AudioUnitAddPropertyListener(unit, kEcho, nullptr, &heard), kAudio_ParamError);
    EXPECT_EQ(AudioUnitRender(unit, &flags, nullptr, 0, 8, &list), kAudio_ParamError);
    EXPECT_EQ(AudioUnitRender(unit, &flags, &ts, 0, 8, nullptr), kAudio_ParamError);
    EXPECT_EQ(log->count, before);
    EXPECT_EQ(AudioUnitScheduleParameters(unit, nullptr, 0), 0);
    EXPECT_EQ(AudioUnitRender(unit, nullptr, &ts, 0, 8, &list), 0); // the unit's to handle
    // A call the unit does not serve answers the unknown-selector status.
    EXPECT_EQ(AudioUnitProcess(unit, &flags, &ts, 8, &list), badComponentSelector);
}

} // namespace hosttest
