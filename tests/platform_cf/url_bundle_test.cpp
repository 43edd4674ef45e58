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

using cftest::text;

std::string pathOf(CFURLRef url) {
    return url == nullptr ? "<none>"
                          : cftest::take(CFURLCopyFileSystemPath(url, kCFURLPOSIXPathStyle));
}

// The path of a URL the caller owns, which is released.
std::string takePath(CFURLRef url) {
    std::string path = pathOf(url);
    if (url != nullptr)
        CFRelease(url);
    return path;
}

CFURLRef fileURL(const char* path, bool isDirectory) {
    CFStringRef s = cftest::makeString(path);
    CFURLRef url = CFURLCreateWithFileSystemPath(nullptr, s, kCFURLPOSIXPathStyle, isDirectory);
    CFRelease(s);
    return url;
}

TEST(CFURL, FileSystemPathsRoundTrip) {
    const auto dir = cftest::own(fileURL("/tmp/some folder/X.component/", true));
    EXPECT_EQ(text(CFURLGetString(dir)), "file:///tmp/some%20folder/X.component/");
    EXPECT_EQ(pathOf(dir), "/tmp/some folder/X.component");
    EXPECT_EQ(cftest::take(CFURLCopyLastPathComponent(dir)), "X.component");
    EXPECT_EQ(cftest::take(CFURLCopyPathExtension(dir)), "component");
    EXPECT_TRUE(CFURLHasDirectoryPath(dir));

    const auto file =
        cftest::own(CFURLCreateCopyAppendingPathComponent(nullptr, dir, CFSTR("Contents"), true));
    const auto plist = cftest::own(
        CFURLCreateCopyAppendingPathComponent(nullptr, file, CFSTR("Info.plist"), false));
    EXPECT_EQ(pathOf(plist), "/tmp/some folder/X.component/Contents/Info.plist");
    EXPECT_EQ(text(CFURLGetString(plist)),
              "file:///tmp/some%20folder/X.component/Contents/Info.plist");
    const auto parent = cftest::own(CFURLCreateCopyDeletingLastPathComponent(nullptr, plist));
    EXPECT_TRUE(CFEqual(parent, file));

    UInt8 buffer[64];
    EXPECT_TRUE(CFURLGetFileSystemRepresentation(plist, true, buffer, sizeof buffer));
    EXPECT_STREQ(reinterpret_cast<char*>(buffer),
                 "/tmp/some folder/X.component/Contents/Info.plist");
    UInt8 small[10];
    EXPECT_FALSE(CFURLGetFileSystemRepresentation(plist, true, small, sizeof small));

    const char raw[] = "/usr/lib/x.so";
    const auto fromRep = cftest::own(CFURLCreateFromFileSystemRepresentation(
        nullptr, reinterpret_cast<const UInt8*>(raw), sizeof raw - 1, false));
    EXPECT_EQ(pathOf(fromRep), "/usr/lib/x.so");
    const auto noExtension = cftest::own(fileURL("/a/b.d/noext", false));
    EXPECT_EQ(CFURLCopyPathExtension(noExtension), nullptr);

    const auto parsed = cftest::own(CFURLCreateWithString(
        nullptr, CFSTR("file:///tmp/some%20folder/X.component/Contents/Info.plist"), nullptr));
    EXPECT_TRUE(CFEqual(parsed, plist));
    EXPECT_EQ(CFURLCreateWithString(nullptr, CFSTR("file:///bad%zzescape"), nullptr), nullptr);
    const auto root = cftest::own(fileURL("/", true));
    EXPECT_EQ(pathOf(root), "/");
    EXPECT_EQ(text(CFURLGetString(root)), "file:///");
}

TEST(CFURL, RelativePathsResolveAgainstTheWorkingFolder) {
    const auto relative = cftest::own(fileURL("sub/file.txt", false));
    EXPECT_EQ(pathOf(relative), "sub/file.txt");
    ASSERT_NE(CFURLGetBaseURL(relative), nullptr);
    UInt8 buffer[4096];
    ASSERT_TRUE(CFURLGetFileSystemRepresentation(relative, true, buffer, sizeof buffer));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer)),
              fs::current_path().string() + "/sub/file.txt");
    const auto absolute = cftest::own(CFURLCopyAbsoluteURL(relative));
    EXPECT_EQ(CFURLGetBaseURL(absolute), nullptr);
    EXPECT_EQ(pathOf(absolute), fs::current_path().string() + "/sub/file.txt");
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
    fs::path makeBundle(const std::string& name, const std::string& identifier,
                        const std::string& executable) {
        const fs::path bundle = root_ / (name + ".component");
        fs::create_directories(bundle / "Contents" / "MacOS");
        fs::create_directories(bundle / "Contents" / "Resources" / "Sub");
        fs::copy_file(VX_PROBE_MODULE, bundle / "Contents" / "MacOS" / executable);
        std::ofstream(bundle / "Contents" / "Resources" / "Sub" / "view.bundle.txt") << "x";
        std::ofstream(bundle / "Contents" / "Resources" / "AUPluginCocoaUI.bundle") << "y";
        std::ofstream plist(bundle / "Contents" / "Info.plist");
        plist << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                 "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                 "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                 "<plist version=\"1.0\">\n<dict>\n"
                 "\t<key>CFBundleIdentifier</key>\n\t<string>"
              << identifier
              << "</string>\n"
                 "\t<key>CFBundleExecutable</key>\n\t<string>"
              << executable
              << "</string>\n"
                 "\t<key>CFBundleVersion</key>\n\t<string>1.2.3</string>\n"
                 "</dict>\n</plist>\n";
        return bundle;
    }

    fs::path root_;
};

TEST_F(CFBundleTest, FindsABundleLoadedByDlopenWhoeverLoadedIt) {
    const fs::path bundle = makeBundle("Found", "com.vextra-audio.test.found", "Found");
    CFStringRef identifier = CFSTR("com.vextra-audio.test.found");
    EXPECT_EQ(CFBundleGetBundleWithIdentifier(identifier), nullptr); // not loaded yet

    void* module = dlopen((bundle / "Contents/MacOS/Found").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    CFBundleRef found = CFBundleGetBundleWithIdentifier(identifier);
    ASSERT_NE(found, nullptr);
    EXPECT_TRUE(CFEqual(CFBundleGetIdentifier(found), identifier));
    EXPECT_TRUE(CFBundleIsExecutableLoaded(found));
    EXPECT_EQ(CFBundleGetVersionNumber(found), 0x01230000u | 0x8000u);

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
    CFURLRef bundleURL = fileURL(bundle.c_str(), true);
    CFBundleRef created = CFBundleCreate(nullptr, bundleURL);
    EXPECT_EQ(created, found);
    CFRelease(created);
    CFRelease(bundleURL);
    dlclose(module);
}

TEST_F(CFBundleTest, CreateLoadsTheExecutableAndResolvesFunctions) {
    const fs::path bundle = makeBundle("Loader", "com.vextra-audio.test.loader", "LoaderBinary");
    CFURLRef url = fileURL(bundle.c_str(), true);
    CFBundleRef created = CFBundleCreate(nullptr, url);
    ASSERT_NE(created, nullptr);
    EXPECT_FALSE(CFBundleIsExecutableLoaded(created));
    EXPECT_EQ(takePath(CFBundleCopyExecutableURL(created)),
              (bundle / "Contents/MacOS/LoaderBinary").string());
    EXPECT_TRUE(CFEqual(CFBundleGetValueForInfoDictionaryKey(created, kCFBundleIdentifierKey),
                        CFSTR("com.vextra-audio.test.loader")));
    // Created bundles are found by identifier too.
    EXPECT_EQ(CFBundleGetBundleWithIdentifier(CFSTR("com.vextra-audio.test.loader")), created);

    using Answer = int (*)();
    auto answer = reinterpret_cast<Answer>(
        CFBundleGetFunctionPointerForName(created, CFSTR("vxProbeAnswer")));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 4711);
    EXPECT_TRUE(CFBundleIsExecutableLoaded(created));
    EXPECT_EQ(CFBundleGetFunctionPointerForName(created, CFSTR("noSuchSymbol")), nullptr);
    CFBundleUnloadExecutable(created);
    CFRelease(created);
    CFRelease(url);

    CFURLRef missing = fileURL((root_ / "Missing.component").c_str(), true);
    EXPECT_EQ(CFBundleCreate(nullptr, missing), nullptr);
    CFRelease(missing);
}

TEST_F(CFBundleTest, MissingExecutableFailsToLoadWithAnError) {
    const fs::path bundle = makeBundle("Broken", "com.vextra-audio.test.broken", "Broken");
    fs::remove(bundle / "Contents/MacOS/Broken");
    CFURLRef url = fileURL(bundle.c_str(), true);
    CFBundleRef created = CFBundleCreate(nullptr, url);
    CFErrorRef error = nullptr;
    EXPECT_FALSE(CFBundleLoadExecutableAndReturnError(created, &error));
    ASSERT_NE(error, nullptr);
    EXPECT_NE(cftest::take(CFErrorCopyDescription(error)).find("missing"), std::string::npos);
    CFRelease(error);
    EXPECT_EQ(CFBundleGetFunctionPointerForName(created, CFSTR("vxProbeAnswer")), nullptr);
    EXPECT_EQ(CFBundleCopyExecutableURL(created), nullptr);
    CFRelease(created);
    CFRelease(url);
}

TEST(CFBundle, MainBundleIsTheProgramsFolder) {
    CFBundleRef main = CFBundleGetMainBundle();
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(CFBundleGetMainBundle(), main);
    CFURLRef executable = CFBundleCopyExecutableURL(main);
    ASSERT_NE(executable, nullptr);
    EXPECT_EQ(fs::path(pathOf(executable)), fs::canonical("/proc/self/exe"));
    CFRelease(executable);
}

} // namespace
