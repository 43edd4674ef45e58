#include "test_support.h"

#include <VextraHost/VXHostRuntime.h>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace hosttest {
namespace {

std::string plist(const std::string& executable, const std::string& components) {
    std::string text = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>CFBundleExecutable</key>
	<string>)" + executable +
                       R"(</string>
	<key>CFBundleIdentifier</key>
	<string>com.vextra-audio.test.)" +
                       executable + R"(</string>
)";
    if (!components.empty())
        text += "\t<key>AudioComponents</key>\n\t<array>\n" + components + "\t</array>\n";
    return text + "</dict>\n</plist>\n";
}

std::string entry(const char* type, const char* subtype, const char* name, const char* version,
                  const char* factory) {
    return std::string("\t\t<dict>\n\t\t\t<key>type</key><string>") + type +
           "</string>\n\t\t\t<key>subtype</key><string>" + subtype +
           "</string>\n\t\t\t<key>manufacturer</key><string>VxTs</string>\n"
           "\t\t\t<key>name</key><string>" +
           name + "</string>\n\t\t\t<key>version</key><integer>" + version +
           "</integer>\n\t\t\t<key>factoryFunction</key><string>" + factory +
           "</string>\n\t\t</dict>\n";
}

void install(const std::string& bundle, const std::string& executable,
             const std::string& components) {
    fs::create_directories(bundle + "/Contents/MacOS");
    std::ofstream(bundle + "/Contents/Info.plist") << plist(executable, components);
    fs::copy_file(FAKE_COMPONENT_BINARY, bundle + "/Contents/MacOS/" + executable,
                  fs::copy_options::overwrite_existing);
}

// Builds the temporary home before any test runs, and points HOME at it.
class HomeEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        install(fakeBundle(), "Fake",
                entry("aufx", "Fak1", "Vextra Test: Fake", "65538", "FakeFactory") +
                    entry("aufx", "Fak2", "Vextra Test: Fake Two", "1", "FakeFactory"));
        install(brokenBundle(), "Broken",
                entry("aumu", "Brkn", "Vextra Test: Broken", "3", "NoSuchFactory"));
        install(plainBundle(), "Plain", "");
        setenv("HOME", home().c_str(), 1);
        VXHostRescanComponents();
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(home(), ec);
    }
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new HomeEnvironment);

// A function the fake module exports, when the runtime has loaded the module.
template <typename Fn> Fn exported(const std::string& bundle, const char* name) {
    const std::string executable = bundle + "/Contents/MacOS/" + fs::path(bundle).stem().string();
    void* module = dlopen(executable.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (!module)
        return nullptr;
    auto fn = reinterpret_cast<Fn>(dlsym(module, name));
    dlclose(module); // the runtime's own reference keeps it loaded
    return fn;
}

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

std::string componentsFolder() {
    return home() + "/Library/Audio/Plug-Ins/Components";
}
std::string fakeBundle() {
    return componentsFolder() + "/Fake.component";
}
std::string brokenBundle() {
    return componentsFolder() + "/Broken.component";
}
std::string plainBundle() {
    return componentsFolder() + "/Plain.component";
}

fake::Log* logOf(const std::string& bundle) {
    auto get = exported<fake::GetLogFn>(bundle, "FakeGetLog");
    return get ? get() : nullptr;
}

void setOpenFailure(const std::string& bundle, OSStatus status) {
    if (auto set = exported<fake::SetOpenFailureFn>(bundle, "FakeSetOpenFailure"))
        set(status);
}

AudioComponent findFake(OSType subtype) {
    AudioComponentDescription d{kEffect, subtype, kManufacturer, 0, 0};
    return AudioComponentFindNext(nullptr, &d);
}

} // namespace hosttest
