#include "Component.h"

#include "Alerts.h"
#include "CFUtil.h"
#include "HostError.h"

#include <CoreFoundation/CoreFoundation.h>
#include <VextraHost/VXHostRuntime.h>
#include <mach-o/dyld.h>

#include <fmt/format.h>

#include <algorithm>
#include <filesystem>
#include <set>

namespace fs = std::filesystem;

namespace vxhost {

namespace {

constexpr AudioComponentDescription kDefaultComponent{0x61756678 /* aufx */, 0x446C6179 /* Dlay */,
                                                      0x56787461 /* Vxta */, 0, 0};

ComponentRef describe(AudioComponent component) {
    ComponentRef ref;
    ref.component = component;
    AudioComponentGetDescription(component, &ref.desc);
    CFRef<CFStringRef> name;
    if (AudioComponentCopyName(component, name.receive()) == 0)
        ref.name = toString(name.get());
    AudioComponentGetVersion(component, &ref.version);
    char path[4096];
    if (VXHostGetComponentBundlePath(component, path, sizeof path))
        ref.bundlePath = path;
    return ref;
}

std::string canonical(const std::string& path) {
    std::error_code ec;
    fs::path p = fs::weakly_canonical(fs::absolute(path, ec), ec);
    std::string text = ec ? path : p.string();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

// The bundle's first AudioComponents entry, as the runtime would read it.
CFDictionaryRef firstComponentEntry(CFBundleRef bundle) {
    CFTypeRef list = CFBundleGetValueForInfoDictionaryKey(bundle, CFSTR("AudioComponents"));
    if (!list || CFGetTypeID(list) != CFArrayGetTypeID() ||
        CFArrayGetCount(static_cast<CFArrayRef>(list)) < 1)
        return nullptr;
    CFTypeRef first = CFArrayGetValueAtIndex(static_cast<CFArrayRef>(list), 0);
    if (!first || CFGetTypeID(first) != CFDictionaryGetTypeID())
        return nullptr;
    return static_cast<CFDictionaryRef>(first);
}

std::string factoryOf(const std::string& bundlePath) {
    CFRef<CFURLRef> url(CFURLCreateFromFileSystemRepresentation(
        kCFAllocatorDefault, reinterpret_cast<const UInt8*>(bundlePath.c_str()),
        static_cast<CFIndex>(bundlePath.size()), true));
    if (!url)
        return {};
    CFRef<CFBundleRef> bundle(CFBundleCreate(kCFAllocatorDefault, url.get()));
    if (!bundle)
        return {};
    return dictString(firstComponentEntry(bundle.get()), "factoryFunction").value_or("");
}

ComponentRef registerBundle(const std::string& bundlePath) {
    std::error_code ec;
    if (!fs::is_directory(bundlePath, ec))
        throw HostError(fmt::format("component bundle '{}' does not exist", bundlePath));
    CFRef<CFURLRef> url(CFURLCreateFromFileSystemRepresentation(
        kCFAllocatorDefault, reinterpret_cast<const UInt8*>(bundlePath.c_str()),
        static_cast<CFIndex>(bundlePath.size()), true));
    CFRef<CFBundleRef> bundle(url ? CFBundleCreate(kCFAllocatorDefault, url.get()) : nullptr);
    if (!bundle)
        throw HostError(fmt::format("'{}' is not a bundle", bundlePath));
    CFDictionaryRef entry = firstComponentEntry(bundle.get());
    if (!entry)
        throw HostError(fmt::format("'{}' declares no audio component (no AudioComponents entry "
                                    "in Contents/Info.plist)",
                                    bundlePath));
    const auto type = parseFourCC(dictString(entry, "type").value_or(""));
    const auto subtype = parseFourCC(dictString(entry, "subtype").value_or(""));
    const auto manufacturer = parseFourCC(dictString(entry, "manufacturer").value_or(""));
    const auto factory = dictString(entry, "factoryFunction");
    if (!type || !subtype || !manufacturer || !factory || factory->empty())
        throw HostError(fmt::format(
            "'{}': its AudioComponents entry lacks type, subtype, manufacturer or factoryFunction",
            bundlePath));
    auto function = reinterpret_cast<AudioComponentFactoryFunction>(
        CFBundleGetFunctionPointerForName(bundle.get(), makeString(*factory).get()));
    if (!function)
        throw HostError(fmt::format("'{}': cannot load its binary or find its factory '{}'",
                                    bundlePath, *factory));
    const AudioComponentDescription desc{*type, *subtype, *manufacturer, 0, 0};
    const std::string name = dictString(entry, "name").value_or(fs::path(bundlePath).stem());
    const auto version = dictInteger(entry, "version").value_or(0);
    AudioComponent component = AudioComponentRegister(&desc, makeString(name).get(),
                                                      static_cast<UInt32>(version), function);
    if (!component)
        throw HostError(
            fmt::format("'{}': the runtime refused to register its component", bundlePath));
    ComponentRef ref = describe(component);
    ref.bundlePath = bundlePath;
    ref.factoryName = *factory;
    ref.registeredByHost = true;
    // The bundle stays loaded for the life of the process, as the factory lives in it.
    CFRetain(bundle.get());
    return ref;
}

std::optional<AudioComponentDescription> parseCodes(const std::string& spec) {
    if (spec.size() != 14 || spec[4] != ':' || spec[9] != ':')
        return std::nullopt;
    const auto t = parseFourCC(spec.substr(0, 4));
    const auto s = parseFourCC(spec.substr(5, 4));
    const auto m = parseFourCC(spec.substr(10, 4));
    if (!t || !s || !m)
        return std::nullopt;
    return AudioComponentDescription{*t, *s, *m, 0, 0};
}

std::set<std::string> loadedImages() {
    std::set<std::string> images;
    const uint32_t count = _dyld_image_count();
    for (uint32_t i = 0; i < count; ++i)
        if (const char* name = _dyld_get_image_name(i); name && name[0])
            images.insert(name);
    return images;
}

} // namespace

std::vector<ComponentRef> installedComponents() {
    std::vector<ComponentRef> list;
    const AudioComponentDescription any{};
    for (AudioComponent c = AudioComponentFindNext(nullptr, &any); c;
         c = AudioComponentFindNext(c, &any))
        list.push_back(describe(c));
    return list;
}

ComponentRef resolveComponent(const std::optional<std::string>& spec) {
    if (!spec) {
        AudioComponent c = AudioComponentFindNext(nullptr, &kDefaultComponent);
        if (!c)
            throw HostError("VX-Delay (aufx:Dlay:Vxta) is not installed in "
                            "$HOME/Library/Audio/Plug-Ins/Components or /Library/Audio/Plug-Ins/"
                            "Components; install it with scripts/demo.sh or name a bundle with "
                            "--component PATH");
        ComponentRef ref = describe(c);
        ref.factoryName = factoryOf(ref.bundlePath);
        return ref;
    }
    if (const auto codes = parseCodes(*spec)) {
        AudioComponent c = AudioComponentFindNext(nullptr, &*codes);
        if (!c)
            throw HostError(fmt::format("no installed component has the codes {}", *spec));
        ComponentRef ref = describe(c);
        ref.factoryName = factoryOf(ref.bundlePath);
        return ref;
    }
    // A bundle that is also installed is used as installed, so it is not
    // registered a second time.
    const std::string wanted = canonical(*spec);
    for (ComponentRef& ref : installedComponents())
        if (!ref.bundlePath.empty() && canonical(ref.bundlePath) == wanted) {
            ref.factoryName = factoryOf(ref.bundlePath);
            return ref;
        }
    return registerBundle(wanted);
}

Entry parseEntry(const std::optional<std::string>& text) {
    if (!text || *text == "factory")
        return Entry::Factory;
    if (*text == "cm")
        return Entry::ComponentManager;
    throw UsageError(fmt::format("--entry must be 'factory' or 'cm', not '{}'", *text));
}

const char* entryName(Entry entry) {
    return entry == Entry::Factory ? "factory" : "cm";
}

std::string managerEntryOf(const ComponentRef& ref) {
    std::string name = ref.factoryName;
    const std::string suffix = "Factory";
    if (name.size() > suffix.size() &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
        return name.substr(0, name.size() - suffix.size()) + "Entry";
    return name + "Entry";
}

std::string versionText(UInt32 version) {
    return fmt::format("{}.{}.{}", version >> 16, (version >> 8) & 0xFF, version & 0xFF);
}

std::string codesText(const AudioComponentDescription& desc) {
    return fmt::format("{}:{}:{}", fourCC(desc.componentType), fourCC(desc.componentSubType),
                       fourCC(desc.componentManufacturer));
}

OSStatus openInstance(const ComponentRef& ref, Entry entry, AudioUnit* outUnit) {
    *outUnit = nullptr;
    if (entry == Entry::Factory)
        return AudioComponentInstanceNew(ref.component, outUnit);
    if (ref.bundlePath.empty())
        return kAudio_ParamError;
    return VXHostOpenComponentManagerInstance(ref.bundlePath.c_str(), managerEntryOf(ref).c_str(),
                                              outUnit);
}

Unit::Unit(const ComponentRef& ref, Entry entry) : mEntry(entry) {
    const std::set<std::string> before = loadedImages();
    takeAlerts();
    const OSStatus status = openInstance(ref, entry, &mUnit);
    mAlerts = takeAlerts();
    if (status != 0 || !mUnit)
        throw HostError(fmt::format("cannot open {} through its {} entry: status {}{}", ref.name,
                                    entry == Entry::Factory ? "factory" : "Component Manager",
                                    statusText(status), alertSuffix()));
    const std::string ownBinaryFolder = ref.bundlePath + "/Contents/MacOS/";
    for (const std::string& image : loadedImages())
        if (!before.count(image) && image.rfind(ownBinaryFolder, 0) != 0)
            mModulesLoaded.push_back(image);
}

std::string Unit::alertSuffix() const {
    if (mAlerts.empty())
        return {};
    return "; it showed an alert when it opened: " + mAlerts.front();
}

Unit::~Unit() {
    if (mUnit)
        AudioComponentInstanceDispose(mUnit);
}

} // namespace vxhost
