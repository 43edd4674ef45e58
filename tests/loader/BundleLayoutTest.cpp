// The component bundle the build lays out, read back through the platform's
// bundle interface the way a host reads it.
#include "LoaderTestSupport.h"

#include <CoreFoundation/CoreFoundation.h>

#include <gtest/gtest.h>

#include <string>

using namespace vxtest;

namespace {

std::string text(CFTypeRef value) {
    if (!value || CFGetTypeID(value) != CFStringGetTypeID())
        return "(not a string)";
    char buffer[512] = {};
    CFStringGetCString(static_cast<CFStringRef>(value), buffer, sizeof buffer,
                       kCFStringEncodingUTF8);
    return buffer;
}

CFStringRef cf(const char* s) {
    return CFStringCreateWithCString(kCFAllocatorDefault, s, kCFStringEncodingUTF8);
}

CFBundleRef openBundle(const fs::path& path) {
    CFStringRef p = cf(path.c_str());
    CFURLRef url =
        CFURLCreateWithFileSystemPath(kCFAllocatorDefault, p, kCFURLPOSIXPathStyle, true);
    CFRelease(p);
    CFBundleRef bundle = url ? CFBundleCreate(kCFAllocatorDefault, url) : nullptr;
    if (url)
        CFRelease(url);
    return bundle;
}

std::string path(CFURLRef url) {
    if (!url)
        return "(none)";
    CFStringRef s = CFURLCopyFileSystemPath(url, kCFURLPOSIXPathStyle);
    std::string out = text(s);
    CFRelease(s);
    CFRelease(url);
    return out;
}

} // namespace

TEST(BundleLayout, PlugInBundleDescribesTheComponent) {
    const fs::path bundlePath = builtBundleInfoPlist().parent_path().parent_path();
    EXPECT_EQ(bundlePath.filename(), "VX-Delay.component");
    CFBundleRef bundle = openBundle(bundlePath);
    ASSERT_NE(bundle, nullptr);
    EXPECT_EQ(text(CFBundleGetIdentifier(bundle)), "com.vextra-audio.Delay");
    EXPECT_EQ(text(CFBundleGetValueForInfoDictionaryKey(bundle, kCFBundleExecutableKey)),
              "VX-Delay");
    EXPECT_EQ(text(CFBundleGetValueForInfoDictionaryKey(bundle, kCFBundleVersionKey)), "1.0.0");

    CFStringRef key = cf("AudioComponents");
    CFTypeRef components = CFBundleGetValueForInfoDictionaryKey(bundle, key);
    CFRelease(key);
    ASSERT_NE(components, nullptr);
    ASSERT_EQ(CFGetTypeID(components), CFArrayGetTypeID());
    ASSERT_EQ(CFArrayGetCount(static_cast<CFArrayRef>(components)), 1);
    auto entry = static_cast<CFDictionaryRef>(
        CFArrayGetValueAtIndex(static_cast<CFArrayRef>(components), 0));
    auto field = [&](const char* name) {
        CFStringRef k = cf(name);
        CFTypeRef v = CFDictionaryGetValue(entry, k);
        CFRelease(k);
        return v;
    };
    EXPECT_EQ(text(field("type")), "aufx");
    EXPECT_EQ(text(field("subtype")), "Dlay");
    EXPECT_EQ(text(field("manufacturer")), "Vxta");
    EXPECT_EQ(text(field("name")), "Vextra-Audio: Delay");
    EXPECT_EQ(text(field("factoryFunction")), "CAUPluginFactory");
    SInt32 version = 0;
    CFTypeRef v = field("version");
    ASSERT_NE(v, nullptr);
    ASSERT_TRUE(CFNumberGetValue(static_cast<CFNumberRef>(v), kCFNumberSInt32Type, &version));
    EXPECT_EQ(version, 0x10000) << "1.0.0";

    CFStringRef ui = cf("AUPluginCocoaUI");
    CFStringRef ext = cf("bundle");
    const std::string uiPath = path(CFBundleCopyResourceURL(bundle, ui, ext, nullptr));
    CFRelease(ui);
    CFRelease(ext);
    EXPECT_EQ(uiPath, (bundlePath / "Contents/Resources/AUPluginCocoaUI.bundle").string());
    EXPECT_TRUE(fs::is_regular_file(fs::path(uiPath) / "Contents/Info.plist"));
    CFRelease(bundle);
}

TEST(BundleLayout, MakeBundlePlacesTheModuleAsTheExecutable) {
    const fs::path binary = VX_TEST_DELAY_BUNDLE_BINARY;
    EXPECT_EQ(binary.filename(), "VX-Delay") << "no prefix or suffix";
    EXPECT_EQ(binary.parent_path().filename(), "MacOS");
    CFBundleRef bundle = openBundle(binary.parent_path().parent_path().parent_path());
    ASSERT_NE(bundle, nullptr);
    EXPECT_EQ(path(CFBundleCopyExecutableURL(bundle)), binary.string());
    CFRelease(bundle);
}
