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
    char buffer[256] = "<none>";
    if (AudioComponentCopyName(c, &name) == 0 && name) {
        CFStringGetCString(name, buffer, sizeof buffer, kCFStringEncodingUTF8);
        CFRelease(name);
    }
    return buffer;
}

UInt32 versionOf(AudioComponent c) {
    UInt32 version = 0;
    EXPECT_EQ(AudioComponentGetVersion(c, &version), 0);
    return version;
}

AudioComponentPlugInInterface* nullFactory(const AudioComponentDescription*) {
    return nullptr;
}

} // namespace

TEST(ComponentDiscovery, FindsBundleEntriesInTheHomeComponentsFolder) {
    AudioComponent one = findFake(kSubtypeOne);
    ASSERT_NE(one, nullptr);
    AudioComponentDescription d{};
    ASSERT_EQ(AudioComponentGetDescription(one, &d), 0);
    EXPECT_EQ(d.componentType, kEffect);
    EXPECT_EQ(d.componentSubType, kSubtypeOne);
    EXPECT_EQ(d.componentManufacturer, kManufacturer);
    EXPECT_EQ(nameOf(one), "Vextra Test: Fake");
    EXPECT_EQ(nameOf(findFake(kSubtypeTwo)), "Vextra Test: Fake Two");
    EXPECT_EQ(versionOf(one), 65538u);

    const std::string expected = bundle();
    char path[1024];
    ASSERT_TRUE(VXHostGetComponentBundlePath(one, path, expected.size() + 1));
    EXPECT_EQ(std::string(path), expected);
    EXPECT_FALSE(VXHostGetComponentBundlePath(one, path, expected.size())); // no room for the end
}

TEST(ComponentDiscovery, ZeroFieldsAreWildcardsAndSearchFollowsFolderOrder) {
    const struct {
        AudioComponentDescription d;
        UInt32 count;
    } rows[] = {{{0, 0, kManufacturer, 0, 0}, 3}, // Fak1, Fak2, Brkn; not Plain
                {{kEffect, 0, kManufacturer, 0, 0}, 2},
                {{kMusicDevice, 0, kManufacturer, 0, 0}, 1},
                {{0, kSubtypeTwo, 0, 0, 0}, 1},
                {{kEffect, kSubtypeOne, 0x4E6F6E65 /* 'None' */, 0, 0}, 0}};
    for (const auto& row : rows)
        EXPECT_EQ(AudioComponentCount(&row.d), row.count) << "row " << &row - rows;
    const AudioComponentDescription effects{kEffect, 0, kManufacturer, 0, 0};
    AudioComponent first = AudioComponentFindNext(nullptr, &effects);
    AudioComponent second = AudioComponentFindNext(first, &effects);
    EXPECT_EQ(first, findFake(kSubtypeOne));
    EXPECT_EQ(second, findFake(kSubtypeTwo));
    EXPECT_EQ(AudioComponentFindNext(second, &effects), nullptr);
}

TEST(ComponentDiscovery, RescanDropsRemovedBundlesButKeepsHandlesValid) {
    namespace fs = std::filesystem;
    const std::string extra = componentsFolder() + "/Extra.component";
    fs::create_directories(extra + "/Contents/MacOS");
    fs::copy_file(bundle() + "/Contents/Info.plist", extra + "/Contents/Info.plist");
    AudioComponent before = findFake(kSubtypeOne);
    VXHostRescanComponents();
    const AudioComponentDescription one{kEffect, kSubtypeOne, kManufacturer, 0, 0};
    EXPECT_EQ(AudioComponentCount(&one), 2u);
    fs::remove_all(extra);
    VXHostRescanComponents();
    EXPECT_EQ(AudioComponentCount(&one), 1u);
    EXPECT_EQ(findFake(kSubtypeOne), before);
}

TEST(ComponentDiscovery, HostRegisteredComponentsAreSearchable) {
    const AudioComponentDescription d{kEffect, 0x52656731 /* 'Reg1' */, kManufacturer, 0, 0};
    AudioComponent c = AudioComponentRegister(&d, CFSTR("Vextra Test: Registered"), 7, nullFactory);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(AudioComponentFindNext(nullptr, &d), c);
    EXPECT_EQ(nameOf(c), "Vextra Test: Registered");
    EXPECT_EQ(versionOf(c), 7u);
    char path[64];
    EXPECT_FALSE(VXHostGetComponentBundlePath(c, path, sizeof path));

    // A factory that yields nothing, or none at all, fails the open cleanly.
    AudioComponentInstance instance = reinterpret_cast<AudioComponentInstance>(0x1);
    EXPECT_EQ(AudioComponentInstanceNew(c, &instance), kAudioUnitErr_FailedInitialization);
    EXPECT_EQ(instance, nullptr);
    const AudioComponentDescription brokenDesc{kMusicDevice, kSubtypeBroken, kManufacturer, 0, 0};
    AudioComponent broken = AudioComponentFindNext(nullptr, &brokenDesc);
    ASSERT_NE(broken, nullptr);
    EXPECT_EQ(AudioComponentInstanceNew(broken, &instance), kAudioUnitErr_FailedInitialization);
    EXPECT_EQ(instance, nullptr);

    EXPECT_EQ(AudioComponentRegister(nullptr, nullptr, 0, nullFactory), nullptr);
    EXPECT_EQ(AudioComponentRegister(&d, nullptr, 0, nullptr), nullptr);
}

TEST(ComponentDiscovery, BadArgumentsAnswerAStatus) {
    AudioComponent one = findFake(kSubtypeOne);
    AudioComponentDescription d{};
    CFStringRef name = nullptr;
    AudioComponentInstance instance = nullptr;
    EXPECT_EQ(AudioComponentGetDescription(nullptr, &d), kAudio_ParamError);
    EXPECT_EQ(AudioComponentGetDescription(one, nullptr), kAudio_ParamError);
    EXPECT_EQ(AudioComponentGetVersion(one, nullptr), kAudio_ParamError);
    EXPECT_EQ(AudioComponentCopyName(nullptr, &name), kAudio_ParamError);
    EXPECT_EQ(AudioComponentCopyName(one, nullptr), kAudio_ParamError);
    EXPECT_EQ(AudioComponentInstanceNew(one, nullptr), kAudio_ParamError);
    EXPECT_EQ(AudioComponentInstanceNew(nullptr, &instance), kAudio_ParamError);
    int notAComponent = 0;
    EXPECT_EQ(AudioComponentGetDescription(reinterpret_cast<AudioComponent>(&notAComponent), &d),
              kAudio_ParamError);
    EXPECT_EQ(AudioComponentFindNext(reinterpret_cast<AudioComponent>(&notAComponent), nullptr),
              nullptr);
}

// A host that loads a component bundle itself and registers its factory.
TEST(HostRegisteredBundle, LoadedWithBundleCallsAndOpenedThroughTheRegisteredFactory) {
    const std::string path = bundle();
    CFURLRef url = CFURLCreateFromFileSystemRepresentation(
        nullptr, reinterpret_cast<const UInt8*>(path.c_str()), static_cast<CFIndex>(path.size()),
        true);
    CFBundleRef cfBundle = CFBundleCreate(nullptr, url);
    CFRelease(url);
    ASSERT_NE(cfBundle, nullptr);
    auto factory = reinterpret_cast<AudioComponentFactoryFunction>(
        CFBundleGetFunctionPointerForName(cfBundle, CFSTR("FakeFactory")));
    ASSERT_NE(factory, nullptr);

    const AudioComponentDescription d{kEffect, 0x52656732 /* 'Reg2' */, kManufacturer, 0, 0};
    AudioComponent component =
        AudioComponentRegister(&d, CFSTR("Vextra Test: Loaded By Host"), 0x20000, factory);
    ASSERT_NE(component, nullptr);
    AudioComponentInstance unit = nullptr;
    ASSERT_EQ(AudioComponentInstanceNew(component, &unit), 0);
    EXPECT_EQ(AudioComponentInstanceGetComponent(unit), component);
    // The unit asked for its own description at open and got the registered one.
    EXPECT_EQ(fakeLog()->openDescription.componentSubType, d.componentSubType);
    AudioUnitParameterValue value = 0;
    EXPECT_EQ(AudioUnitGetParameter(unit, 4, 0, 0, &value), 0);
    EXPECT_FLOAT_EQ(value, 2.0f);
    EXPECT_EQ(AudioComponentInstanceDispose(unit), 0);
    CFRelease(cfBundle);
}
