// The component bundle the build lays out, read back through the platform's
// bundle interface the way a host reads it.
#include "LoaderTestSupport.h"

#include <CoreFoundation/CoreFoundation.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace vxtest;

namespace {

// Everything a test makes through these helpers, released when the test
// ends: the leak checker of the sanitizer builds reads every one.
class Made {
public:
    Made() = default;
    Made(const Made&) = delete;
    Made& operator=(const Made&) = delete;
    ~Made() {
        for (CFTypeRef ref : mRefs)
            CFRelease(ref);
    }
    template <typename Ref> Ref operator()(Ref ref) {
        if (ref)
            mRefs.push_back(ref);
        return ref;
    }

private:
    std::vector<CFTypeRef> mRefs;
};

CFStringRef cf(Made& made, const char* s) {
    return made(CFStringCreateWithCString(kCFAllocatorDefault, s, kCFStringEncodingUTF8));
}

std::string text(CFTypeRef value) {
    if (!value || CFGetTypeID(value) != CFStringGetTypeID())
        return "(not a string)";
    char buffer[512] = {};
    CFStringGetCString(static_cast<CFStringRef>(value), buffer, sizeof buffer,
                       kCFStringEncodingUTF8);
    return buffer;
}

CFBundleRef openBundle(Made& made, const fs::path& path) {
    CFURLRef url = made(CFURLCreateWithFileSystemPath(kCFAllocatorDefault, cf(made, path.c_str()),
                                                      kCFURLPOSIXPathStyle, true));
    return url ? made(CFBundleCreate(kCFAllocatorDefault, url)) : nullptr;
}

std::string path(Made& made, CFURLRef url) {
    return url ? text(made(CFURLCopyFileSystemPath(made(url), kCFURLPOSIXPathStyle))) : "(none)";
}

} // namespace

TEST(BundleLayout, PlugInBundleDescribesTheComponent) {
    Made made;
    const fs::path bundlePath = VX_BUNDLE_DIR;
    EXPECT_EQ(bundlePath.filename(), "VX-Delay.component");
    CFBundleRef bundle = openBundle(made, bundlePath);
    ASSERT_NE(bundle, nullptr);
    EXPECT_EQ(text(CFBundleGetIdentifier(bundle)), "com.vextra-audio.Delay");
    EXPECT_EQ(text(CFBundleGetValueForInfoDictionaryKey(bundle, kCFBundleExecutableKey)),
              "VX-Delay");
    EXPECT_EQ(text(CFBundleGetValueForInfoDictionaryKey(bundle, kCFBundleVersionKey)), "1.0.0");

    auto components = static_cast<CFArrayRef>(
        CFBundleGetValueForInfoDictionaryKey(bundle, cf(made, "AudioComponents")));
    ASSERT_NE(components, nullptr);
    ASSERT_EQ(CFGetTypeID(components), CFArrayGetTypeID());
    ASSERT_EQ(CFArrayGetCount(components), 1);
    auto entry = static_cast<CFDictionaryRef>(CFArrayGetValueAtIndex(components, 0));
    const char* fields[][2] = {{"type", "aufx"},
                               {"subtype", "Dlay"},
                               {"manufacturer", "Vxta"},
                               {"name", "Vextra-Audio: Delay"},
                               {"factoryFunction", "CAUPluginFactory"}};
    for (const auto& [key, value] : fields)
        EXPECT_EQ(text(CFDictionaryGetValue(entry, cf(made, key))), value) << key;
    SInt32 version = 0;
    auto v = static_cast<CFNumberRef>(CFDictionaryGetValue(entry, cf(made, "version")));
    ASSERT_NE(v, nullptr);
    ASSERT_TRUE(CFNumberGetValue(v, kCFNumberSInt32Type, &version));
    EXPECT_EQ(version, 0x10000) << "1.0.0";

    const std::string uiPath =
        path(made, CFBundleCopyResourceURL(bundle, cf(made, "AUPluginCocoaUI"), cf(made, "bundle"),
                                           nullptr));
    EXPECT_EQ(uiPath, (bundlePath / "Contents/Resources/AUPluginCocoaUI.bundle").string());
    EXPECT_TRUE(fs::is_regular_file(fs::path(uiPath) / "Contents/Info.plist"));
}

TEST(BundleLayout, MakeBundlePlacesTheModuleAsTheExecutable) {
    Made made;
    const fs::path binary = VX_TEST_DELAY_BUNDLE_BINARY;
    EXPECT_EQ(binary.filename(), "VX-Delay") << "no prefix or suffix";
    EXPECT_EQ(binary.parent_path().filename(), "MacOS");
    CFBundleRef bundle = openBundle(made, binary.parent_path().parent_path().parent_path());
    ASSERT_NE(bundle, nullptr);
    EXPECT_EQ(path(made, CFBundleCopyExecutableURL(bundle)), binary.string());
}
