// A host that loads a component bundle itself and registers its factory.

#include "test_support.h"

#include <CoreFoundation/CoreFoundation.h>

#include <gtest/gtest.h>

using namespace hosttest;

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
