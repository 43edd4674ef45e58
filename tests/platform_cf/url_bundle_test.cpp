// File URLs, and bundles found among the loaded shared objects.
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

// The path of a URL the caller owns, which is released.
std::string takePath(CFURLRef url) {
    return url ? take(CFURLCopyFileSystemPath(own(url), kCFURLPOSIXPathStyle)) : "<none>";
}

CFURLRef fileURL(const std::string& path, bool isDirectory) {
    return CFURLCreateWithFileSystemPath(nullptr, own(cftest::makeString(path.c_str())),
                                         kCFURLPOSIXPathStyle, isDirectory);
}

TEST(CFURL, FileSystemPathsRoundTripAndRelativeOnesResolve) {
    const auto dir = own(fileURL("/tmp/some folder/X.component/", true));
    EXPECT_EQ(text(CFURLGetString(dir)), "file:///tmp/some%20folder/X.component/");
    EXPECT_EQ(take(CFURLCopyLastPathComponent(dir)), "X.component");
    EXPECT_EQ(take(CFURLCopyPathExtension(dir)), "component");
    const auto plist = own(CFURLCreateCopyAppendingPathComponent(
        nullptr, own(CFURLCreateCopyAppendingPathComponent(nullptr, dir, CFSTR("Contents"), true)),
        CFSTR("Info.plist"), false));
    EXPECT_EQ(text(CFURLGetString(plist)),
              "file:///tmp/some%20folder/X.component/Contents/Info.plist");
    EXPECT_EQ(takePath(CFURLCreateCopyDeletingLastPathComponent(nullptr, plist)),
              "/tmp/some folder/X.component/Contents");
    UInt8 buffer[4096];
    EXPECT_TRUE(CFURLGetFileSystemRepresentation(plist, true, buffer, 49));
    EXPECT_STREQ(reinterpret_cast<char*>(buffer),
                 "/tmp/some folder/X.component/Contents/Info.plist");
    EXPECT_FALSE(CFURLGetFileSystemRepresentation(plist, true, buffer, 48)); // no room for the end
    EXPECT_EQ(CFURLCopyPathExtension(own(fileURL("/a/b.d/noext", false))), nullptr);
    EXPECT_TRUE(CFEqual(
        own(CFURLCreateWithString(
            nullptr, CFSTR("file:///tmp/some%20folder/X.component/Contents/Info.plist"), nullptr)),
        plist));
    for (CFStringRef bad : {CFSTR("file:///bad%zzescape"), CFSTR("file:///bad%2zescape")})
        EXPECT_EQ(CFURLCreateWithString(nullptr, bad, nullptr), nullptr) << text(bad);
    EXPECT_EQ(text(CFURLGetString(own(fileURL("/", true)))), "file:///");

    const auto relative = own(fileURL("sub/file.txt", false));
    const std::string expected = fs::current_path().string() + "/sub/file.txt";
    EXPECT_EQ(take(CFURLCopyFileSystemPath(relative, kCFURLPOSIXPathStyle)), "sub/file.txt");
    EXPECT_EQ(takePath(CFURLCopyAbsoluteURL(relative)), expected);
    ASSERT_TRUE(CFURLGetFileSystemRepresentation(relative, true, buffer, sizeof buffer));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer)), expected);
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
    EXPECT_TRUE(CFBundleIsExecutableLoaded(found));
    EXPECT_EQ(CFBundleGetVersionNumber(found), 0x01238000u);
    EXPECT_EQ(takePath(CFBundleCopyBundleURL(found)), bundle.string());
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

TEST_F(CFBundleTest, CreateLoadsTheExecutableOrFailsWithAnError) {
    const fs::path bundle = makeBundle("Loader", "LoaderBinary");
    const auto created = own(CFBundleCreate(nullptr, own(fileURL(bundle, true))));
    ASSERT_NE(created, nullptr);
    EXPECT_FALSE(CFBundleIsExecutableLoaded(created));
    EXPECT_EQ(takePath(CFBundleCopyExecutableURL(created)),
              (bundle / "Contents/MacOS/LoaderBinary").string());
    EXPECT_TRUE(CFEqual(CFBundleGetValueForInfoDictionaryKey(created, kCFBundleIdentifierKey),
                        CFSTR("com.vextra-audio.test.Loader")));
    EXPECT_EQ(CFBundleGetBundleWithIdentifier(CFSTR("com.vextra-audio.test.Loader")), created);
    auto answer = reinterpret_cast<int (*)()>(
        CFBundleGetFunctionPointerForName(created, CFSTR("vxProbeAnswer")));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 4711);
    EXPECT_EQ(CFBundleGetFunctionPointerForName(created, CFSTR("noSuchSymbol")), nullptr);
    CFBundleUnloadExecutable(created);
    EXPECT_EQ(CFBundleCreate(nullptr, own(fileURL(root_ / "Missing.component", true))), nullptr);

    const fs::path broken = makeBundle("Broken", "Broken");
    fs::remove(broken / "Contents/MacOS/Broken");
    const auto failing = own(CFBundleCreate(nullptr, own(fileURL(broken, true))));
    CFErrorRef error = nullptr;
    EXPECT_FALSE(CFBundleLoadExecutableAndReturnError(failing, &error));
    ASSERT_NE(error, nullptr);
    EXPECT_NE(take(CFErrorCopyDescription(own(error))).find("missing"), std::string::npos);
    EXPECT_EQ(CFBundleCopyExecutableURL(failing), nullptr);
    // The main bundle is the program's folder.
    EXPECT_EQ(fs::path(takePath(CFBundleCopyExecutableURL(CFBundleGetMainBundle()))),
              fs::canonical("/proc/self/exe"));
}

} // namespace
