#include "fake_component.h"

#include <VextraHost/VXHostRuntime.h>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <tuple>
#include <vector>

namespace fs = std::filesystem;

namespace hosttest {
namespace {

const std::string& home() {
    static const std::string path = [] {
        std::string pattern = (fs::temp_directory_path() / "vx-host-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a temporary home");
        return pattern;
    }();
    return path;
}

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

// A function the fake module exports, once the runtime has loaded it.
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
    // The call succeeded, and the last call the unit saw was it, with these arguments.
    auto call = [&](OSStatus status, SInt16 selector, int argCount,
                    std::initializer_list<Arg> args = {}) {
        const fake::Call& c = lastCall(log);
        EXPECT_EQ(std::tie(status, c.path, c.selector, c.argCount, c.instance, c.paramSize),
                  std::make_tuple(0, path, selector, argCount, unit,
                                  UInt8(path == fake::Path::Manager ? 8 * argCount : 0)));
        std::vector<long> seen, want;
        for (const Arg& a : args) {
            seen.push_back(0);
            std::memcpy(&seen.back(), &c.args[seen.size() - 1], a.size);
            want.push_back(a.bits);
        }
        EXPECT_EQ(seen, want) << "selector " << selector;
    };
    const auto kEcho = fake::kFakeEchoProperty;
    call(AudioUnitInitialize(unit), kAudioUnitInitializeSelect, 0);
    call(AudioUnitUninitialize(unit), kAudioUnitUninitializeSelect, 0);
    UInt32 size = 0;
    Boolean writable = 0;
    call(AudioUnitGetPropertyInfo(unit, kEcho, 2, 3, &size, &writable),
         kAudioUnitGetPropertyInfoSelect, 5, {kEcho, 2u, 3u, &size, &writable});
    const unsigned char bytes[16] = {};
    call(AudioUnitSetProperty(unit, kEcho, 1, 7, bytes, sizeof bytes), kAudioUnitSetPropertySelect,
         5, {kEcho, 1u, 7u, static_cast<const void*>(bytes), 16u});
    unsigned char back[16] = {};
    call(AudioUnitGetProperty(unit, kEcho, 4, 5, back, &size), kAudioUnitGetPropertySelect, 5,
         {kEcho, 4u, 5u, static_cast<void*>(back), &size});
    AudioUnitParameterValue value = -1;
    call(AudioUnitGetParameter(unit, 6, 1, 2, &value), kAudioUnitGetParameterSelect, 4,
         {6u, 1u, 2u, &value});
    EXPECT_FLOAT_EQ(value, 3.0f);
    call(AudioUnitSetParameter(unit, 6, 1, 2, 0.75f, 64), kAudioUnitSetParameterSelect, 5,
         {6u, 1u, 2u, 0.75f, 64u});
    EXPECT_EQ(AudioUnitGetParameter(unit, 999, 0, 0, &value), kAudioUnitErr_InvalidParameter);
    const AudioUnitParameterEvent events[2] = {};
    call(AudioUnitScheduleParameters(unit, events, 2), kAudioUnitScheduleParametersSelect, 2,
         {static_cast<const AudioUnitParameterEvent*>(events), 2u});
    call(AudioUnitReset(unit, 2, 5), kAudioUnitResetSelect, 2, {2u, 5u});

    std::vector<AudioUnitPropertyID> heard;
    void* ref = &heard;
    call(AudioUnitAddPropertyListener(unit, kEcho, noteProperty, &heard),
         kAudioUnitAddPropertyListenerSelect, 3, {kEcho, &noteProperty, ref});
    EXPECT_EQ(AudioUnitSetProperty(unit, kEcho, 0, 0, bytes, 4), 0);
    EXPECT_EQ(heard, std::vector<AudioUnitPropertyID>{kEcho});
    call(AudioUnitRemovePropertyListenerWithUserData(unit, kEcho, noteProperty, &heard),
         kAudioUnitRemovePropertyListenerWithUserDataSelect, 3, {kEcho, &noteProperty, ref});
    call(AudioUnitAddRenderNotify(unit, noteRender, &heard), kAudioUnitAddRenderNotifySelect, 2,
         {&noteRender, ref});
    call(AudioUnitRemoveRenderNotify(unit, noteRender, &heard), kAudioUnitRemoveRenderNotifySelect,
         2, {&noteRender, ref});
    AudioBufferList list{1, {{1, sizeof back, back}}};
    AudioTimeStamp ts{};
    AudioUnitRenderActionFlags flags = 0;
    call(AudioUnitRender(unit, &flags, &ts, 3, 8, &list), kAudioUnitRenderSelect, 5,
         {&flags, &ts, 3u, 8u, &list});

    // Null arguments are refused before reaching the unit; an empty schedule and
    // missing flags are the unit's to handle; a call it does not serve is unknown.
    const int before = log->count;
    const std::vector<OSStatus> refused{AudioUnitGetProperty(unit, kEcho, 0, 0, back, nullptr),
                                        AudioUnitGetParameter(unit, 6, 0, 0, nullptr),
                                        AudioUnitScheduleParameters(unit, nullptr, 1),
                                        AudioUnitAddPropertyListener(unit, kEcho, nullptr, &heard),
                                        AudioUnitRender(unit, &flags, nullptr, 0, 8, &list),
                                        AudioUnitRender(unit, &flags, &ts, 0, 8, nullptr)};
    EXPECT_EQ(refused, std::vector<OSStatus>(6, kAudio_ParamError));
    EXPECT_EQ(log->count, before);
    EXPECT_EQ(std::make_tuple(AudioUnitScheduleParameters(unit, nullptr, 0),
                              AudioUnitRender(unit, nullptr, &ts, 0, 8, &list),
                              AudioUnitProcess(unit, &flags, &ts, 8, &list)),
              std::make_tuple(0, 0, badComponentSelector));
}

} // namespace hosttest
