// File URLs and bundles found among the loaded shared objects.
#include "cf_test_text.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using cftest::own;
using cftest::take;
using cftest::text;

std::string pathOf(CFURLRef url) {
    return url ? take(CFURLCopyFileSystemPath(url, kCFURLPOSIXPathStyle)) : "<none>";
}

// The path of a URL the caller owns, which is released.
std::string takePath(CFURLRef url) {
    return pathOf(own(url));
}

CFURLRef fileURL(const std::string& path, bool isDirectory) {
    return CFURLCreateWithFileSystemPath(nullptr, own(cftest::makeString(path.c_str())),
                                         kCFURLPOSIXPathStyle, isDirectory);
}

TEST(CFURL, FileSystemPathsRoundTrip) {
    const auto dir = own(fileURL("/tmp/some folder/X.component/", true));
    EXPECT_EQ(text(CFURLGetString(dir)), "file:///tmp/some%20folder/X.component/");
    EXPECT_EQ(pathOf(dir), "/tmp/some folder/X.component");
    EXPECT_EQ(take(CFURLCopyLastPathComponent(dir)), "X.component");
    EXPECT_EQ(take(CFURLCopyPathExtension(dir)), "component");
    EXPECT_TRUE(CFURLHasDirectoryPath(dir));

    const auto contents =
        own(CFURLCreateCopyAppendingPathComponent(nullptr, dir, CFSTR("Contents"), true));
    const auto plist =
        own(CFURLCreateCopyAppendingPathComponent(nullptr, contents, CFSTR("Info.plist"), false));
    EXPECT_EQ(text(CFURLGetString(plist)),
              "file:///tmp/some%20folder/X.component/Contents/Info.plist");
    EXPECT_TRUE(CFEqual(own(CFURLCreateCopyDeletingLastPathComponent(nullptr, plist)), contents));
    UInt8 buffer[64];
    EXPECT_TRUE(CFURLGetFileSystemRepresentation(plist, true, buffer, sizeof buffer));
    EXPECT_STREQ(reinterpret_cast<char*>(buffer),
                 "/tmp/some folder/X.component/Contents/Info.plist");
    EXPECT_FALSE(CFURLGetFileSystemRepresentation(plist, true, buffer, 10));

    const char raw[] = "/usr/lib/x.so";
    EXPECT_EQ(takePath(CFURLCreateFromFileSystemRepresentation(
                  nullptr, reinterpret_cast<const UInt8*>(raw), sizeof raw - 1, false)),
              "/usr/lib/x.so");
    EXPECT_EQ(CFURLCopyPathExtension(own(fileURL("/a/b.d/noext", false))), nullptr);
    const auto parsed = own(CFURLCreateWithString(
        nullptr, CFSTR("file:///tmp/some%20folder/X.component/Contents/Info.plist"), nullptr));
    EXPECT_TRUE(CFEqual(parsed, plist));
    for (CFStringRef bad : {CFSTR("file:///bad%zzescape"), CFSTR("file:///bad%2zescape")})
        EXPECT_EQ(CFURLCreateWithString(nullptr, bad, nullptr), nullptr) << text(bad);
    const auto root = own(fileURL("/", true));
    EXPECT_EQ(pathOf(root), "/");
    EXPECT_EQ(text(CFURLGetString(root)), "file:///");
}

TEST(CFURL, RelativePathsResolveAgainstTheWorkingFolder) {
    const auto relative = own(fileURL("sub/file.txt", false));
    EXPECT_EQ(pathOf(relative), "sub/file.txt");
    ASSERT_NE(CFURLGetBaseURL(relative), nullptr);
    const std::string expected = fs::current_path().string() + "/sub/file.txt";
    UInt8 buffer[4096];
    ASSERT_TRUE(CFURLGetFileSystemRepresentation(relative, true, buffer, sizeof buffer));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer)), expected);
    const auto absolute = own(CFURLCopyAbsoluteURL(relative));
    EXPECT_EQ(CFURLGetBaseURL(absolute), nullptr);
    EXPECT_EQ(pathOf(absolute), expected);
}

class CFBundleTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/vx-cf-bundle-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
    }
    void TearDown() override { fs::remove_all(root_); }

    // NAME.component with Contents/Info.plist and the probe module as its executable.
    fs::path makeBundle(const std::string& name, const std::string& executable) {
        const fs::path bundle = root_ / (name + ".component");
        fs::create_directories(bundle / "Contents/MacOS");
        fs::create_directories(bundle / "Contents/Resources/Sub");
        fs::copy_file(VX_PROBE_MODULE, bundle / "Contents/MacOS" / executable);
        std::ofstream(bundle / "Contents/Resources/Sub/view.bundle.txt") << "x";
        std::ofstream(bundle / "Contents/Resources/AUPluginCocoaUI.bundle") << "y";
        std::ofstream(bundle / "Contents/Info.plist")
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
               "<key>CFBundleIdentifier</key><string>com.vextra-audio.test."
            << name << "</string>\n<key>CFBundleExecutable</key><string>" << executable
            << "</string>\n<key>CFBundleVersion</key><string>1.2.3</string>\n</dict>\n</plist>\n";
        return bundle;
    }

    fs::path root_;
};

TEST_F(CFBundleTest, FindsABundleLoadedByDlopenWhoeverLoadedIt) {
    const fs::path bundle = makeBundle("Found", "Found");
    CFStringRef identifier = CFSTR("com.vextra-audio.test.Found");
    EXPECT_EQ(CFBundleGetBundleWithIdentifier(identifier), nullptr); // not loaded yet

    void* module = dlopen((bundle / "Contents/MacOS/Found").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    CFBundleRef found = CFBundleGetBundleWithIdentifier(identifier);
    ASSERT_NE(found, nullptr);
    EXPECT_TRUE(CFEqual(CFBundleGetIdentifier(found), identifier));
    EXPECT_TRUE(CFBundleIsExecutableLoaded(found));
    EXPECT_EQ(CFBundleGetVersionNumber(found), 0x01238000u);
    EXPECT_EQ(takePath(CFBundleCopyBundleURL(found)), bundle.string());
    EXPECT_EQ(takePath(CFBundleCopyResourcesDirectoryURL(found)),
              (bundle / "Contents/Resources").string());
    EXPECT_EQ(takePath(CFBundleCopyResourceURL(found, CFSTR("AUPluginCocoaUI"), CFSTR("bundle"),
                                               nullptr)),
              (bundle / "Contents/Resources/AUPluginCocoaUI.bundle").string());
    EXPECT_EQ(
        takePath(CFBundleCopyResourceURL(found, CFSTR("view.bundle"), CFSTR("txt"), CFSTR("Sub"))),
        (bundle / "Contents/Resources/Sub/view.bundle.txt").string());
    EXPECT_EQ(CFBundleCopyResourceURL(found, CFSTR("missing"), CFSTR("txt"), nullptr), nullptr);

    // One bundle per folder: creating it by URL gives the same object, retained.
    CFBundleRef created = CFBundleCreate(nullptr, own(fileURL(bundle, true)));
    EXPECT_EQ(created, found);
    CFRelease(created);
    dlclose(module);
}

TEST_F(CFBundleTest, CreateLoadsTheExecutableAndResolvesFunctions) {
    const fs::path bundle = makeBundle("Loader", "LoaderBinary");
    const auto created = own(CFBundleCreate(nullptr, own(fileURL(bundle, true))));
    ASSERT_NE(created, nullptr);
    EXPECT_FALSE(CFBundleIsExecutableLoaded(created));
    EXPECT_EQ(takePath(CFBundleCopyExecutableURL(created)),
              (bundle / "Contents/MacOS/LoaderBinary").string());
    EXPECT_TRUE(CFEqual(CFBundleGetValueForInfoDictionaryKey(created, kCFBundleIdentifierKey),
                        CFSTR("com.vextra-audio.test.Loader")));
    // Created bundles are found by identifier too.
    EXPECT_EQ(CFBundleGetBundleWithIdentifier(CFSTR("com.vextra-audio.test.Loader")), created);

    auto answer = reinterpret_cast<int (*)()>(
        CFBundleGetFunctionPointerForName(created, CFSTR("vxProbeAnswer")));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 4711);
    EXPECT_TRUE(CFBundleIsExecutableLoaded(created));
    EXPECT_EQ(CFBundleGetFunctionPointerForName(created, CFSTR("noSuchSymbol")), nullptr);
    CFBundleUnloadExecutable(created);
    EXPECT_EQ(CFBundleCreate(nullptr, own(fileURL(root_ / "Missing.component", true))), nullptr);
}

TEST_F(CFBundleTest, MissingExecutableFailsToLoadWithAnError) {
    const fs::path bundle = makeBundle("Broken", "Broken");
    fs::remove(bundle / "Contents/MacOS/Broken");
    const auto created = own(CFBundleCreate(nullptr, own(fileURL(bundle, true))));
    CFErrorRef error = nullptr;
    EXPECT_FALSE(CFBundleLoadExecutableAndReturnError(created, &error));
    ASSERT_NE(error, nullptr);
    EXPECT_NE(take(CFErrorCopyDescription(own(error))).find("missing"), std::string::npos);
    EXPECT_EQ(CFBundleGetFunctionPointerForName(created, CFSTR("vxProbeAnswer")), nullptr);
    EXPECT_EQ(CFBundleCopyExecutableURL(created), nullptr);
}

TEST(CFBundle, MainBundleIsTheProgramsFolder) {
    CFBundleRef main = CFBundleGetMainBundle();
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(fs::path(takePath(CFBundleCopyExecutableURL(main))), fs::canonical("/proc/self/exe"));
}

} // namespace
