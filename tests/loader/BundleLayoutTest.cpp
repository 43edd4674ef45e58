// The component bundle the build lays out, read back through the platform's
// bundle interface the way a host reads them.
#include "LoaderTestSupport.h"

#include <CoreFoundation/CoreFoundation.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

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
    std::string text(CFTypeRef value) {
        char buffer[512] = "(not a string)";
        if (value && CFGetTypeID(value) == CFStringGetTypeID())
            CFStringGetCString(static_cast<CFStringRef>(value), buffer, sizeof buffer,
                               kCFStringEncodingUTF8);
        return buffer;
    }
    std::string path(CFURLRef url) {
        return url ? text((*this)(CFURLCopyFileSystemPath((*this)(url), kCFURLPOSIXPathStyle)))
                   : "(none)";
    }
    CFBundleRef bundle(const std::string& path) {
        CFURLRef url = (*this)(CFURLCreateWithFileSystemPath(nullptr, (*this)(path.c_str()),
                                                             kCFURLPOSIXPathStyle, true));
        return url ? (*this)(CFBundleCreate(nullptr, url)) : nullptr;
    }
};

} // namespace

TEST(BundleLayout, PlugInBundleDescribesTheComponent) {
    Made made;
    const std::string bundlePath = VX_BUNDLE_DIR;
    CFBundleRef bundle = made.bundle(bundlePath);
    ASSERT_NE(bundle, nullptr);
    EXPECT_EQ(made.text(CFBundleGetIdentifier(bundle)), "com.vextra-audio.Delay");
    EXPECT_EQ(made.text(CFBundleGetValueForInfoDictionaryKey(bundle, kCFBundleExecutableKey)),
              "VX-Delay");
    EXPECT_EQ(made.text(CFBundleGetValueForInfoDictionaryKey(bundle, kCFBundleVersionKey)),
              "1.0.0");
    auto components = static_cast<CFArrayRef>(
        CFBundleGetValueForInfoDictionaryKey(bundle, made("AudioComponents")));
    ASSERT_TRUE(components && CFGetTypeID(components) == CFArrayGetTypeID());
    ASSERT_EQ(CFArrayGetCount(components), 1);
    auto entry = static_cast<CFDictionaryRef>(CFArrayGetValueAtIndex(components, 0));
    const char* fields[][2] = {{"type", "aufx"},
                               {"subtype", "Dlay"},
                               {"manufacturer", "Vxta"},
                               {"name", "Vextra-Audio: Delay"},
                               {"factoryFunction", "CAUPluginFactory"}};
    for (const auto& [key, value] : fields)
        EXPECT_EQ(made.text(CFDictionaryGetValue(entry, made(key))), value) << key;
    SInt32 version = 0;
    auto v = static_cast<CFNumberRef>(CFDictionaryGetValue(entry, made("version")));
    ASSERT_TRUE(v && CFNumberGetValue(v, kCFNumberSInt32Type, &version));
    EXPECT_EQ(version, 0x10000) << "1.0.0";
    const std::string uiPath = made.path(
        CFBundleCopyResourceURL(bundle, made("AUPluginCocoaUI"), made("bundle"), nullptr));
    EXPECT_EQ(uiPath, bundlePath + "/Contents/Resources/AUPluginCocoaUI.bundle");
    EXPECT_TRUE(vxtest::fs::is_regular_file(uiPath + "/Contents/Info.plist"));
}
