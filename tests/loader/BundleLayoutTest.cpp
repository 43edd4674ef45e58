// The component bundle the build lays out, read back through the platform's
// bundle interface the way a host reads it, and the script that installs the
// engine builds beside it.
#include "LoaderTestSupport.h"

#include <CoreFoundation/CoreFoundation.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

using namespace vxtest;

namespace {

// Everything made here is released with the test: the sanitizer builds'
// leak checker reads every one.
struct Made {
    std::vector<std::unique_ptr<const void, void (*)(CFTypeRef)>> refs;
    template <typename Ref> Ref operator()(Ref ref) {
        if (ref)
            refs.emplace_back(ref, CFRelease);
        return ref;
    }
    CFStringRef operator()(const char* s) {
        return (*this)(CFStringCreateWithCString(nullptr, s, kCFStringEncodingUTF8));
    }
    // A string's text, a number in decimal, a URL's path.
    std::string text(CFTypeRef value) {
        char buffer[512] = "(not a string)";
        SInt64 number = 0;
        if (value && CFGetTypeID(value) == CFURLGetTypeID())
            return text((*this)(
                CFURLCopyFileSystemPath(static_cast<CFURLRef>(value), kCFURLPOSIXPathStyle)));
        if (value && CFGetTypeID(value) == CFNumberGetTypeID() &&
            CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberSInt64Type, &number))
            return std::to_string(number);
        if (value && CFGetTypeID(value) == CFStringGetTypeID())
            CFStringGetCString(static_cast<CFStringRef>(value), buffer, sizeof buffer,
                               kCFStringEncodingUTF8);
        return buffer;
    }
};

std::string contents(const fs::path& p) {
    std::ostringstream out;
    out << std::ifstream(p, std::ios::binary).rdbuf();
    return out.str();
}

} // namespace

TEST(BundleLayout, PlugInBundleDescribesTheComponent) {
    Made made;
    const std::string bundlePath = VX_BUNDLE_DIR;
    CFURLRef url = made(CFURLCreateWithFileSystemPath(nullptr, made(bundlePath.c_str()),
                                                      kCFURLPOSIXPathStyle, true));
    CFBundleRef bundle = made(CFBundleCreate(nullptr, url));
    ASSERT_NE(bundle, nullptr);
    auto components = static_cast<CFArrayRef>(
        CFBundleGetValueForInfoDictionaryKey(bundle, made("AudioComponents")));
    ASSERT_TRUE(components && CFGetTypeID(components) == CFArrayGetTypeID());
    ASSERT_EQ(CFArrayGetCount(components), 1);
    auto entry = static_cast<CFDictionaryRef>(CFArrayGetValueAtIndex(components, 0));
    std::string described = made.text(CFBundleGetIdentifier(bundle));
    for (CFStringRef key : {kCFBundleExecutableKey, kCFBundleVersionKey})
        described += " " + made.text(CFBundleGetValueForInfoDictionaryKey(bundle, key));
    for (const char* key :
         {"type", "subtype", "manufacturer", "name", "factoryFunction", "version"})
        described += "|" + made.text(CFDictionaryGetValue(entry, made(key)));
    // 65536 is version 1.0.0.
    EXPECT_EQ(described, "com.vextra-audio.Delay VX-Delay 1.0.0|aufx|Dlay|Vxta|Vextra-Audio: "
                         "Delay|CAUPluginFactory|65536");
    const std::string uiPath = made.text(
        made(CFBundleCopyResourceURL(bundle, made("AUPluginCocoaUI"), made("bundle"), nullptr)));
    EXPECT_EQ(uiPath, bundlePath + "/Contents/Resources/AUPluginCocoaUI.bundle");
    EXPECT_TRUE(fs::is_regular_file(uiPath + "/Contents/Info.plist"));
}

TEST(InstallEngines, LaysTheFourBuildsIntoTheProductFolderButNotOverAFile) {
    const auto run = [](const std::string& arguments, const std::string& environment = "") {
        return std::system((environment + " VX_ENGINE_DIR='" + engineBuild("").string() +
                            "' bash '" VX_SOURCE_DIR "/scripts/install-engines.sh' " + arguments +
                            " >/dev/null 2>&1")
                               .c_str());
    };
    TempDir tmp;
    const fs::path support = tmp.path() / "Application Support" / "Vextra-Audio";
    ASSERT_EQ(run("'" + support.string() + "'"), 0);
    for (const char* name : {"audplg.dylib", "audplga.dylib", "audplga2.dylib", "audplga5.dylib"})
        EXPECT_EQ(contents(support / "Delay" / name), contents(engineBuild(name))) << name;
    // Without an argument the relocated support folder is the destination.
    const fs::path relocated = tmp.path() / "relocated";
    ASSERT_EQ(run("", "VEXTRA_SUPPORT_FOLDER='" + relocated.string() + "'"), 0);
    EXPECT_TRUE(fs::is_regular_file(relocated / "Delay" / "audplga5.dylib"));
    writeTextFile(tmp.path() / "file", "x");
    EXPECT_NE(run("'" + (tmp.path() / "file").string() + "'"), 0);
}
