// Components found in the components folders or registered by a host, and
// instances opened through either entry: the calls they pass on, the
// services a unit reaches through the framework paths, and the close.
#include "fake_component.h"

#include <CoreFoundation/CoreFoundation.h>
#include <CoreServices/CoreServices.h>
#include <VextraHost/VXHostRuntime.h>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <rtcheck/rtcheck.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <tuple>

using namespace hosttest;

namespace {

// "name vVERSION" as the component reports them.
std::string nameAndVersion(AudioComponent c) {
    CFStringRef name = nullptr;
    char buffer[256] = "<none>";
    if (AudioComponentCopyName(c, &name) == 0 && name) {
        CFStringGetCString(name, buffer, sizeof buffer, kCFStringEncodingUTF8);
        CFRelease(name);
    }
    UInt32 version = 0;
    EXPECT_EQ(AudioComponentGetVersion(c, &version), 0);
    return std::string(buffer) + " v" + std::to_string(version);
}

OSStatus openManager(AudioComponentInstance* unit, const char* name = "Fake") {
    return VXHostOpenComponentManagerInstance(bundle(name).c_str(), "FakeEntry", unit);
}

OSType infoSubtype(void* component) {
    ComponentDescription cd{1, 1, 1, 1, 1};
    const OSErr err = GetComponentInfo(static_cast<Component>(component), &cd, 0, 0, 0);
    return err == 0 ? cd.componentSubType : OSType(err);
}

} // namespace

TEST(ComponentDiscovery, FindsDescribesAndSearchesWithWildcards) {
    AudioComponent one = findFake(kSubtypeOne), two = findFake(kSubtypeTwo);
    AudioComponentDescription d{};
    ASSERT_EQ(AudioComponentGetDescription(one, &d), 0);
    EXPECT_EQ(std::tie(d.componentType, d.componentSubType, d.componentManufacturer),
              std::make_tuple(kEffect, kSubtypeOne, kManufacturer));
    EXPECT_EQ(nameAndVersion(one), "Vextra Test: Fake v65538");
    EXPECT_EQ(nameAndVersion(two), "Vextra Test: Fake Two v1");
    const std::string expected = bundle();
    char path[1024];
    ASSERT_TRUE(VXHostGetComponentBundlePath(one, path, expected.size() + 1));
    EXPECT_EQ(std::string(path), expected);
    EXPECT_FALSE(VXHostGetComponentBundlePath(one, path, expected.size())); // no room for the end

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
    EXPECT_EQ(std::make_tuple(AudioComponentFindNext(nullptr, &effects), // in folder order
                              AudioComponentFindNext(one, &effects),
                              AudioComponentFindNext(two, &effects)),
              std::make_tuple(one, two, nullptr));

    // A rescan drops removed bundles but keeps handles valid.
    const std::string extra = bundle("Extra");
    std::filesystem::create_directories(extra + "/Contents/MacOS");
    std::filesystem::copy_file(expected + "/Contents/Info.plist", extra + "/Contents/Info.plist");
    VXHostRescanComponents();
    EXPECT_EQ(AudioComponentCount(&d), 2u);
    std::filesystem::remove_all(extra);
    VXHostRescanComponents();
    EXPECT_EQ(AudioComponentCount(&d), 1u);
    EXPECT_EQ(findFake(kSubtypeOne), one);

    int bogus = 0;
    CFStringRef name = nullptr;
    EXPECT_EQ(std::vector<OSStatus>({AudioComponentGetDescription((AudioComponent)&bogus, &d),
                                     AudioComponentGetDescription(one, nullptr),
                                     AudioComponentGetVersion(one, nullptr),
                                     AudioComponentCopyName(nullptr, &name),
                                     AudioComponentInstanceNew(one, nullptr)}),
              std::vector<OSStatus>(5, kAudio_ParamError));
}

// A host that loads a bundle itself and registers its factory, and factories
// that yield nothing.
TEST(ComponentDiscovery, HostRegisteredComponents) {
    void* module = dlopen((bundle() + "/Contents/MacOS/Fake").c_str(), RTLD_NOW);
    auto factory = reinterpret_cast<AudioComponentFactoryFunction>(dlsym(module, "FakeFactory"));
    ASSERT_NE(factory, nullptr);
    const AudioComponentDescription d{kEffect, 0x52656732 /* 'Reg2' */, kManufacturer, 0, 0};
    AudioComponent c = AudioComponentRegister(&d, CFSTR("Vextra Test: Registered"), 7, factory);
    EXPECT_EQ(AudioComponentFindNext(nullptr, &d), c);
    EXPECT_EQ(nameAndVersion(c), "Vextra Test: Registered v7");
    char path[64];
    EXPECT_FALSE(VXHostGetComponentBundlePath(c, path, sizeof path));
    AudioComponentInstance unit = nullptr;
    ASSERT_EQ(AudioComponentInstanceNew(c, &unit), 0);
    EXPECT_EQ(AudioComponentInstanceGetComponent(unit), c);
    // The unit asked for its own description at open and got the registered one.
    EXPECT_EQ(fakeLog()->openDescription.componentSubType, d.componentSubType);
    EXPECT_EQ(AudioComponentInstanceDispose(unit), 0);
    EXPECT_EQ(VXHostOpenComponentManagerInstanceOfComponent(c, "FakeEntry", &unit),
              kAudio_ParamError); // no bundle to open

    c = AudioComponentRegister(&d, nullptr, 0, [](const AudioComponentDescription*) {
        return static_cast<AudioComponentPlugInInterface*>(nullptr);
    });
    unit = reinterpret_cast<AudioComponentInstance>(0x1);
    EXPECT_EQ(AudioComponentInstanceNew(c, &unit), kAudioUnitErr_FailedInitialization);
    EXPECT_EQ(unit, nullptr);
    const AudioComponentDescription broken{kMusicDevice, kSubtypeBroken, kManufacturer, 0, 0};
    EXPECT_EQ(AudioComponentInstanceNew(AudioComponentFindNext(nullptr, &broken), &unit),
              kAudioUnitErr_FailedInitialization);
    EXPECT_EQ(std::make_tuple(AudioComponentRegister(nullptr, nullptr, 0, factory),
                              AudioComponentRegister(&d, nullptr, 0, nullptr)),
              std::make_tuple(nullptr, nullptr));
}

TEST(FactoryPath, OpensThroughTheFactoryAndServesEveryCall) {
    AudioComponent component = findFake(kSubtypeOne);
    AudioComponentInstance unit = nullptr;
    ASSERT_EQ(AudioComponentInstanceNew(component, &unit), 0);
    EXPECT_FALSE(VXHostInstanceUsesComponentManager(unit));
    fake::Log* log = fakeLog();
    // Open received the instance handle; render was looked up then, once.
    EXPECT_EQ(std::make_tuple(lastCall().selector, fake::at<AudioUnit>(lastCall().args, 0)),
              std::make_tuple(SInt16(kComponentOpenSelect), unit));
    const auto lookedUp = [&](int from, SInt16 selector) {
        return std::count(log->lookedUp + from, log->lookedUp + log->lookups, selector);
    };
    EXPECT_EQ(lookedUp(0, kAudioUnitRenderSelect), 1);
    const int lookupsBefore = log->lookups;
    checkEveryCall(unit, fake::Path::Factory);
    // Other calls look their method up by selector; render uses the one found at open.
    EXPECT_EQ(lookedUp(lookupsBefore, kAudioUnitRenderSelect), 0);
    EXPECT_EQ(lookedUp(lookupsBefore, kAudioUnitProcessSelect), 1);
    // The factory path serves the removal that ignores the user data.
    EXPECT_EQ(AudioUnitRemovePropertyListener(unit, fake::kFakeEchoProperty, noteProperty), 0);
    EXPECT_EQ(lastCall().selector, kAudioUnitRemovePropertyListenerSelect);
    EXPECT_TRUE(AudioComponentInstanceCanDo(unit, kAudioUnitRenderSelect));
    EXPECT_FALSE(AudioComponentInstanceCanDo(unit, kAudioUnitProcessSelect));
    int object = 0;

    ASSERT_EQ(AudioComponentInstanceDispose(unit), 0);
    EXPECT_EQ(std::make_tuple(lastCall().selector, lastCall().path),
              std::make_tuple(SInt16(kComponentCloseSelect), fake::Path::Factory));
    // Once closed, the handle answers without reaching a component.
    const int before = log->count;
    AudioUnitParameterValue value = 0;
    SetComponentInstanceStorage(unit, reinterpret_cast<Handle>(&object)); // ignored when closed
    EXPECT_EQ(
        (std::tuple{AudioUnitGetParameter(unit, 1, 0, 0, &value),
                    AudioComponentInstanceDispose(unit), AudioComponentInstanceGetComponent(unit),
                    AudioComponentInstanceCanDo(unit, kAudioUnitRenderSelect),
                    GetComponentInstanceStorage(unit), log->count}),
        std::make_tuple(badComponentInstance, badComponentInstance, nullptr, false, nullptr,
                        before));
    EXPECT_EQ(std::make_tuple(AudioUnitInitialize(nullptr), AudioComponentInstanceDispose(nullptr),
                              AudioUnitInitialize(reinterpret_cast<AudioUnit>(component))),
              std::make_tuple(kAudio_ParamError, kAudio_ParamError, badComponentInstance));
}

TEST(ManagerPath, OpenPassesTheInstanceAndKeepsTheStoredObject) {
    AudioComponentInstance unit = nullptr;
    ASSERT_EQ(openManager(&unit), 0);
    EXPECT_TRUE(VXHostInstanceUsesComponentManager(unit));
    // Slot 0 carries the instance; nothing is stored before the open.
    const fake::Call& open = lastCall();
    EXPECT_EQ(std::make_tuple(open.path, open.selector, open.instance, open.argCount, open.self),
              std::make_tuple(fake::Path::Manager, SInt16(kComponentOpenSelect), unit, 0, nullptr));
    Handle storage = GetComponentInstanceStorage(unit);
    ASSERT_NE(storage, nullptr);
    checkEveryCall(unit, fake::Path::Manager);
    EXPECT_EQ(lastCall().self, storage); // every later request carries the stored object
    // The description comes from the bundle's first component entry.
    EXPECT_EQ(infoSubtype(unit), kSubtypeOne);
    EXPECT_EQ(AudioComponentInstanceGetComponent(unit), findFake(kSubtypeOne));
    EXPECT_TRUE(AudioComponentInstanceCanDo(unit, kAudioUnitRenderSelect));
    EXPECT_EQ(std::make_tuple(lastCall().selector, fake::at<SInt16>(lastCall().args, 0)),
              std::make_tuple(SInt16(kComponentCanDoSelect), SInt16(kAudioUnitRenderSelect)));
    EXPECT_FALSE(AudioComponentInstanceCanDo(unit, 8));
    // The older listener removal is the entry's to refuse.
    EXPECT_EQ(AudioUnitRemovePropertyListener(unit, fake::kFakeEchoProperty, noteProperty),
              badComponentSelector);
    ASSERT_EQ(AudioComponentInstanceDispose(unit), 0);
    EXPECT_EQ(std::make_tuple(lastCall().selector, lastCall().self), // close
              std::make_tuple(SInt16(kComponentCloseSelect), storage));
    EXPECT_EQ(GetComponentInstanceStorage(unit), nullptr);
    EXPECT_EQ(AudioUnitInitialize(unit), badComponentInstance);

    // A component found by search opens the same way; components answer for themselves.
    AudioComponent two = findFake(kSubtypeTwo);
    ASSERT_EQ(VXHostOpenComponentManagerInstanceOfComponent(two, "FakeEntry", &unit), 0);
    EXPECT_EQ(AudioComponentInstanceGetComponent(unit), two);
    EXPECT_EQ(AudioComponentInstanceDispose(unit), 0);
    int bogus = 0;
    EXPECT_EQ(std::make_tuple(infoSubtype(two), infoSubtype(&bogus)),
              std::make_tuple(kSubtypeTwo, OSType(invalidComponentID)));
}

TEST(ManagerPath, BadBundlesEntriesArgumentsAndFailedOpens) {
    AudioComponentInstance unit = reinterpret_cast<AudioComponentInstance>(0x10);
    EXPECT_EQ(VXHostOpenComponentManagerInstance(nullptr, "FakeEntry", &unit), kAudio_ParamError);
    EXPECT_EQ(unit, nullptr);
    EXPECT_EQ(
        std::make_tuple(openManager(nullptr), openManager(&unit, "Nowhere"),
                        VXHostOpenComponentManagerInstance(bundle().c_str(), "NoSuchEntry", &unit)),
        std::make_tuple(kAudio_ParamError, fnfErr, kAudioUnitErr_FailedInitialization));
    // Plain.component's executable is the fake too; it has no component entry.
    ASSERT_EQ(openManager(&unit, "Plain"), 0);
    ComponentDescription cd{1, 1, 1, 1, 1};
    EXPECT_EQ(GetComponentInfo(reinterpret_cast<Component>(unit), &cd, 0, 0, 0), 0);
    EXPECT_EQ(cd.componentType, 0u);
    EXPECT_EQ(AudioComponentInstanceDispose(unit), 0);

    // A component whose open fails answers its status, leaves no instance and
    // is sent no close, whichever entry opened it.
    for (const bool manager : {false, true}) {
        SCOPED_TRACE(manager ? "Component Manager entry" : "factory");
        const auto open = [&](AudioComponentInstance* out) {
            return manager ? openManager(out)
                           : AudioComponentInstanceNew(findFake(kSubtypeOne), out);
        };
        AudioComponentInstance first = nullptr;
        ASSERT_EQ(open(&first), 0); // module loaded
        setOpenFailure(-4242);
        unit = reinterpret_cast<AudioComponentInstance>(0x10);
        EXPECT_EQ(open(&unit), -4242);
        setOpenFailure(0);
        EXPECT_EQ(std::make_tuple(unit, lastCall().selector),
                  std::make_tuple(nullptr, SInt16(kComponentOpenSelect)));
        EXPECT_EQ(AudioComponentInstanceDispose(first), 0);
    }
}

TEST(ComponentServices, FrameworkPathsAndTheSwitchThatMakesThemMissing) {
    const char* coreServices = "/System/Library/Frameworks/CoreServices.framework/CoreServices";
    void* cs = dlopen(coreServices, RTLD_LAZY);
    ASSERT_NE(cs, nullptr);
    EXPECT_EQ(dlsym(cs, "GetComponentInfo"), reinterpret_cast<void*>(&GetComponentInfo));
    dlclose(cs);
    // Other paths go to the system loader as before.
    EXPECT_EQ(dlopen("/System/Library/Frameworks/CoreServices.framework/Other", RTLD_LAZY),
              nullptr);
    // Made missing, a unit opened through the entry finds nothing and cannot
    // keep its object, so later requests reach it without storage.
    VXPlatformSetFrameworksAvailable(0);
    const bool refused = dlopen(coreServices, RTLD_LAZY) == nullptr;
    const std::string why = refused ? dlerror() : "";
    AudioComponentInstance unit = nullptr;
    const OSStatus opened = openManager(&unit);
    const AudioComponentDescription& found = fakeLog()->openDescription;
    const auto results = std::tuple{refused, opened, found.componentSubType,
                                    AudioUnitInitialize(unit), AudioComponentInstanceDispose(unit)};
    VXPlatformSetFrameworksAvailable(1);
    EXPECT_EQ(results, std::make_tuple(true, 0, 0u, kAudio_ParamError, kAudio_ParamError));
    EXPECT_NE(why.find("CoreServices"), std::string::npos);
}

TEST(FactoryPath, RenderingThroughTheRuntimeAllocatesNothing) {
    AudioComponentInstance unit = nullptr, cm = nullptr;
    ASSERT_EQ(AudioComponentInstanceNew(findFake(kSubtypeOne), &unit), 0);
    ASSERT_EQ(openManager(&cm), 0);
    float samples[64] = {};
    AudioBufferList list{1, {{1, sizeof samples, samples}}};
    AudioTimeStamp ts{};
    AudioUnitRenderActionFlags flags = 0;
    AudioUnitParameterValue value = 0;
    ASSERT_EQ(AudioUnitRender(unit, &flags, &ts, 0, 64, &list), 0);
    rtcheck::Scope scope;
    for (int i = 0; i < 1000; ++i) {
        ts.mSampleTime = 64.0 * i;
        for (AudioUnit u : {unit, cm}) {
            ASSERT_EQ(AudioUnitRender(u, &flags, &ts, 0, 64, &list), 0);
            ASSERT_EQ(AudioUnitGetParameter(u, 3, 0, 0, &value), 0);
        }
    }
    if (rtcheck::countsAllocations()) {
        EXPECT_EQ(scope.counts().allocations, 0);
    }
    EXPECT_EQ(AudioComponentInstanceDispose(cm), 0);
    EXPECT_EQ(AudioComponentInstanceDispose(unit), 0);
}
