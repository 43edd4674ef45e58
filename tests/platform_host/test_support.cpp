#include "test_support.h"

#include <VextraHost/VXHostRuntime.h>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

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
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(home(), ec);
    }
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new HomeEnvironment);

// A function the fake module exports, when the runtime has loaded the module.
template <typename Fn> Fn exported(const char* name) {
    void* module = dlopen((bundle() + "/Contents/MacOS/Fake").c_str(), RTLD_LAZY | RTLD_NOLOAD);
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

std::string bundle(const char* name) {
    return componentsFolder() + "/" + name + ".component";
}

fake::Log* fakeLog() {
    auto get = exported<fake::GetLogFn>("FakeGetLog");
    return get ? get() : nullptr;
}

void setOpenFailure(OSStatus status) {
    if (auto set = exported<fake::SetOpenFailureFn>("FakeSetOpenFailure"))
        set(status);
}

AudioComponent findFake(OSType subtype) {
    AudioComponentDescription d{kEffect, subtype, kManufacturer, 0, 0};
    return AudioComponentFindNext(nullptr, &d);
}

} // namespace hosttest
