// Components found in the components folders, searched with wildcards,
// described, named, and registered by a host itself.

#include "test_support.h"

#include <CoreFoundation/CoreFoundation.h>
#include <VextraHost/VXHostRuntime.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

using namespace hosttest;

namespace {

std::string nameOf(AudioComponent c) {
    CFStringRef name = nullptr;
    if (AudioComponentCopyName(c, &name) != 0 || !name)
        return "<none>";
    char buffer[256] = {};
    CFStringGetCString(name, buffer, sizeof buffer, kCFStringEncodingUTF8);
    CFRelease(name);
    return buffer;
}

int countMatches(const AudioComponentDescription& d) {
    int n = 0;
    for (AudioComponent c = AudioComponentFindNext(nullptr, &d); c;
         c = AudioComponentFindNext(c, &d))
        ++n;
    return n;
}

AudioComponentPlugInInterface* nullFactory(const AudioComponentDescription*) {
    return nullptr;
}

} // namespace

TEST(ComponentDiscovery, FindsBundleEntriesInTheHomeComponentsFolder) {
    AudioComponent one = findFake(kSubtypeOne);
    AudioComponent two = findFake(kSubtypeTwo);
    ASSERT_NE(one, nullptr);
    ASSERT_NE(two, nullptr);
    EXPECT_NE(one, two);

    AudioComponentDescription d{};
    ASSERT_EQ(AudioComponentGetDescription(one, &d), 0);
    EXPECT_EQ(d.componentType, kEffect);
    EXPECT_EQ(d.componentSubType, kSubtypeOne);
    EXPECT_EQ(d.componentManufacturer, kManufacturer);

    EXPECT_EQ(nameOf(one), "Vextra Test: Fake");
    EXPECT_EQ(nameOf(two), "Vextra Test: Fake Two");
    UInt32 version = 0;
    ASSERT_EQ(AudioComponentGetVersion(one, &version), 0);
    EXPECT_EQ(version, 65538u);

    char path[1024];
    ASSERT_TRUE(VXHostGetComponentBundlePath(one, path, sizeof path));
    EXPECT_EQ(std::string(path), fakeBundle());
    char tiny[8];
    EXPECT_FALSE(VXHostGetComponentBundlePath(one, tiny, sizeof tiny));
}

TEST(ComponentDiscovery, ZeroFieldsAreWildcards) {
    EXPECT_EQ(countMatches({0, 0, kManufacturer, 0, 0}), 3); // Fak1, Fak2, Brkn
    EXPECT_EQ(countMatches({kEffect, 0, kManufacturer, 0, 0}), 2);
    EXPECT_EQ(countMatches({kMusicDevice, 0, kManufacturer, 0, 0}), 1);
    EXPECT_EQ(countMatches({0, kSubtypeTwo, 0, 0, 0}), 1);
    EXPECT_EQ(countMatches({kEffect, kSubtypeOne, 0x4E6F6E65 /* 'None' */, 0, 0}), 0);
    EXPECT_EQ(AudioComponentCount(nullptr) >= 3, true);
    const AudioComponentDescription effects{kEffect, 0, kManufacturer, 0, 0};
    EXPECT_EQ(AudioComponentCount(&effects), 2u);

    // Search order is the folder order; the next of the last match is null.
    AudioComponent first = AudioComponentFindNext(nullptr, &effects);
    AudioComponent second = AudioComponentFindNext(first, &effects);
    EXPECT_EQ(first, findFake(kSubtypeOne));
    EXPECT_EQ(second, findFake(kSubtypeTwo));
    EXPECT_EQ(AudioComponentFindNext(second, &effects), nullptr);
}

TEST(ComponentDiscovery, BundlesWithoutComponentEntriesAreNotListed) {
    char path[1024];
    for (AudioComponent c = AudioComponentFindNext(nullptr, nullptr); c;
         c = AudioComponentFindNext(c, nullptr))
        if (VXHostGetComponentBundlePath(c, path, sizeof path)) {
            EXPECT_NE(std::string(path), plainBundle());
        }
}

TEST(ComponentDiscovery, RescanDropsRemovedBundlesButKeepsHandlesValid) {
    namespace fs = std::filesystem;
    const std::string extra = componentsFolder() + "/Extra.component";
    fs::create_directories(extra + "/Contents/MacOS");
    fs::copy_file(fakeBundle() + "/Contents/Info.plist", extra + "/Contents/Info.plist");
    VXHostRescanComponents();
    const AudioComponentDescription one{kEffect, kSubtypeOne, kManufacturer, 0, 0};
    EXPECT_EQ(AudioComponentCount(&one), 2u);

    fs::remove_all(extra);
    VXHostRescanComponents();
    EXPECT_EQ(AudioComponentCount(&one), 1u);
    EXPECT_EQ(findFake(kSubtypeOne), findFake(kSubtypeOne));
}

TEST(ComponentDiscovery, HostRegisteredComponentsAreSearchable) {
    const AudioComponentDescription d{kEffect, 0x52656731 /* 'Reg1' */, kManufacturer, 0, 0};
    AudioComponent c = AudioComponentRegister(&d, CFSTR("Vextra Test: Registered"), 7, nullFactory);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(AudioComponentFindNext(nullptr, &d), c);
    EXPECT_EQ(nameOf(c), "Vextra Test: Registered");
    UInt32 version = 0;
    EXPECT_EQ(AudioComponentGetVersion(c, &version), 0);
    EXPECT_EQ(version, 7u);
    char path[64];
    EXPECT_FALSE(VXHostGetComponentBundlePath(c, path, sizeof path));

    // A factory that yields nothing fails the open cleanly.
    AudioComponentInstance instance = reinterpret_cast<AudioComponentInstance>(0x1);
    EXPECT_EQ(AudioComponentInstanceNew(c, &instance), kAudioUnitErr_FailedInitialization);
    EXPECT_EQ(instance, nullptr);

    EXPECT_EQ(AudioComponentRegister(nullptr, nullptr, 0, nullFactory), nullptr);
    EXPECT_EQ(AudioComponentRegister(&d, nullptr, 0, nullptr), nullptr);
}

TEST(ComponentDiscovery, BadArgumentsAnswerAStatus) {
    AudioComponent one = findFake(kSubtypeOne);
    AudioComponentDescription d{};
    CFStringRef name = nullptr;
    EXPECT_EQ(AudioComponentGetDescription(nullptr, &d), kAudio_ParamError);
    EXPECT_EQ(AudioComponentGetDescription(one, nullptr), kAudio_ParamError);
    EXPECT_EQ(AudioComponentGetVersion(one, nullptr), kAudio_ParamError);
    EXPECT_EQ(AudioComponentCopyName(nullptr, &name), kAudio_ParamError);
    EXPECT_EQ(AudioComponentCopyName(one, nullptr), kAudio_ParamError);
    int notAComponent = 0;
    EXPECT_EQ(AudioComponentGetDescription(reinterpret_cast<AudioComponent>(&notAComponent), &d),
              kAudio_ParamError);
    EXPECT_EQ(AudioComponentFindNext(reinterpret_cast<AudioComponent>(&notAComponent), nullptr),
              nullptr);
}

TEST(ComponentDiscovery, AMissingFactoryFunctionFailsTheOpen) {
    const AudioComponentDescription d{kMusicDevice, kSubtypeBroken, kManufacturer, 0, 0};
    AudioComponent broken = AudioComponentFindNext(nullptr, &d);
    ASSERT_NE(broken, nullptr);
    AudioComponentInstance instance = nullptr;
    EXPECT_EQ(AudioComponentInstanceNew(broken, &instance), kAudioUnitErr_FailedInitialization);
    EXPECT_EQ(instance, nullptr);
    EXPECT_EQ(AudioComponentInstanceNew(broken, nullptr), kAudio_ParamError);
    EXPECT_EQ(AudioComponentInstanceNew(nullptr, &instance), kAudio_ParamError);
}

// A host that loads a component bundle itself and registers its factory.
TEST(HostRegisteredBundle, LoadedWithBundleCallsAndOpenedThroughTheRegisteredFactory) {
    const std::string path = fakeBundle();
    CFURLRef url = CFURLCreateFromFileSystemRepresentation(
        kCFAllocatorDefault, reinterpret_cast<const UInt8*>(path.c_str()),
        static_cast<CFIndex>(path.size()), true);
    ASSERT_NE(url, nullptr);
    CFBundleRef bundle = CFBundleCreate(kCFAllocatorDefault, url);
    CFRelease(url);
    ASSERT_NE(bundle, nullptr);
    auto factory = reinterpret_cast<AudioComponentFactoryFunction>(
        CFBundleGetFunctionPointerForName(bundle, CFSTR("FakeFactory")));
    ASSERT_NE(factory, nullptr);

    const AudioComponentDescription d{kEffect, 0x52656732 /* 'Reg2' */, kManufacturer, 0, 0};
    AudioComponent component =
        AudioComponentRegister(&d, CFSTR("Vextra Test: Loaded By Host"), 0x20000, factory);
    ASSERT_NE(component, nullptr);
    EXPECT_EQ(AudioComponentFindNext(nullptr, &d), component);

    AudioComponentInstance unit = nullptr;
    ASSERT_EQ(AudioComponentInstanceNew(component, &unit), 0);
    EXPECT_EQ(AudioComponentInstanceGetComponent(unit), component);
    // The unit asked for its own description at open and got the registered one.
    const fake::Log* log = logOf(path);
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(log->openDescription.componentSubType, d.componentSubType);
    AudioUnitParameterValue value = 0;
    EXPECT_EQ(AudioUnitGetParameter(unit, 4, 0, 0, &value), 0);
    EXPECT_FLOAT_EQ(value, 2.0f);
    EXPECT_EQ(AudioComponentInstanceDispose(unit), 0);
    CFRelease(bundle);
}
