// Installed components: found in the components folders the way the
// platform finds them (bundles whose Info.plist has an AudioComponents
// entry), or registered by a host that loaded the code itself.

#include "host_runtime.h"

#include <CoreFoundation/CoreFoundation.h>

#include <dlfcn.h>
#include <pugixml.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <system_error>
#include <vector>


namespace fs = std::filesystem;

namespace vxplatform {
namespace {

struct Components {
    std::mutex mutex;
    std::vector<std::unique_ptr<HostComponent>> records; // never shrinks
    bool scanned = false;
};

Components& components() {
    static Components* c = new Components; // outlives every static destructor
    return *c;
}

// --- Info.plist reading

pugi::xml_node valueForKey(const pugi::xml_node& dict, const char* key) {
    for (pugi::xml_node child = dict.first_child(); child; child = child.next_sibling()) {
        if (std::strcmp(child.name(), "key") == 0 && std::strcmp(child.child_value(), key) == 0) {
            return child.next_sibling();
        }
    }
    return {};
}

bool stringValue(const pugi::xml_node& node, std::string& out) {
    if (!node || std::strcmp(node.name(), "string") != 0)
        return false;
    out = node.child_value();
    return true;
}

// Four-character codes are written as four-character strings.
bool osTypeValue(const pugi::xml_node& node, OSType& out) {
    std::string text;
    if (!stringValue(node, text) || text.size() != 4)
        return false;
    out = 0;
    for (unsigned char c : text)
        out = (out << 8) | c;
    return true;
}

bool integerValue(const pugi::xml_node& node, UInt32& out) {
    if (!node)
        return false;
    const char* text = node.child_value();
    if (std::strcmp(node.name(), "integer") != 0 && std::strcmp(node.name(), "string") != 0)
        return false;
    char* end = nullptr;
    const long long v = std::strtoll(text, &end, 0);
    if (end == text || *end != '\0' || v < 0 || v > 0xFFFFFFFFLL)
        return false;
    out = static_cast<UInt32>(v);
    return true;
}

// Every AudioComponents entry of a bundle that names a full description.
std::vector<HostComponent> readComponentEntries(const std::string& bundlePath, bool firstOnly) {
    std::vector<HostComponent> entries;
    HostComponent base;
    base.bundlePath = bundlePath;
    pugi::xml_document doc;
    const std::string plist = bundlePath + "/Contents/Info.plist";
    if (!doc.load_file(plist.c_str()))
        return entries;
    const pugi::xml_node top = doc.child("plist").child("dict");
    if (!top)
        return entries;
    std::string executable;
    if (!stringValue(valueForKey(top, "CFBundleExecutable"), executable) || executable.empty())
        executable = fs::path(bundlePath).stem().string();
    base.executablePath = bundlePath + "/Contents/MacOS/" + executable;

    const pugi::xml_node list = valueForKey(top, "AudioComponents");
    if (!list || std::strcmp(list.name(), "array") != 0) {
        entries.push_back(base); // a bundle without component entries
        entries.back().searchable = false;
        return entries;
    }
    for (pugi::xml_node item = list.child("dict"); item; item = item.next_sibling("dict")) {
        HostComponent r = base;
        if (!osTypeValue(valueForKey(item, "type"), r.desc.componentType) ||
            !osTypeValue(valueForKey(item, "subtype"), r.desc.componentSubType) ||
            !osTypeValue(valueForKey(item, "manufacturer"), r.desc.componentManufacturer))
            continue;
        stringValue(valueForKey(item, "name"), r.name);
        integerValue(valueForKey(item, "version"), r.version);
        stringValue(valueForKey(item, "factoryFunction"), r.factoryName);
        entries.push_back(std::move(r));
        if (firstOnly)
            break;
    }
    return entries;
}

bool sameEntry(const HostComponent& a, const HostComponent& b) {
    return a.bundlePath == b.bundlePath && a.desc.componentType == b.desc.componentType &&
           a.desc.componentSubType == b.desc.componentSubType &&
           a.desc.componentManufacturer == b.desc.componentManufacturer;
}

std::vector<std::string> componentsFolders() {
    std::vector<std::string> folders;
    if (const char* home = std::getenv("HOME"); home && *home)
        folders.push_back(std::string(home) + "/Library/Audio/Plug-Ins/Components");
    folders.emplace_back("/Library/Audio/Plug-Ins/Components");
    return folders;
}

std::vector<std::string> bundlesIn(const std::string& folder) {
    std::vector<std::string> bundles;
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const fs::path& p = it->path();
        std::error_code dirEc;
        if (p.extension() == ".component" && fs::is_directory(p, dirEc))
            bundles.push_back(p.string());
    }
    std::sort(bundles.begin(), bundles.end());
    return bundles;
}

// Called with the lock held.
void scanLocked(Components& c) {
    std::vector<HostComponent> found;
    for (const std::string& folder : componentsFolders())
        for (const std::string& bundle : bundlesIn(folder))
            for (HostComponent& entry : readComponentEntries(bundle, false))
                if (entry.searchable)
                    found.push_back(std::move(entry));

    // Folder components that are gone drop out of searches; handles stay valid.
    for (auto& r : c.records)
        if (r->fromFolders && r->searchable) {
            const bool stillThere =
                std::any_of(found.begin(), found.end(), [&](auto& f) { return sameEntry(*r, f); });
            if (!stillThere)
                r->searchable = false;
        }
    for (HostComponent& f : found) {
        auto same = std::find_if(c.records.begin(), c.records.end(),
                                 [&](auto& r) { return r->fromFolders && sameEntry(*r, f); });
        if (same != c.records.end()) {
            (*same)->searchable = true;
            continue;
        }
        f.fromFolders = true;
        c.records.push_back(std::make_unique<HostComponent>(std::move(f)));
    }
    c.scanned = true;
}

bool matches(const HostComponent& r, const AudioComponentDescription* d) {
    if (!d)
        return true;
    if (d->componentType && d->componentType != r.desc.componentType)
        return false;
    if (d->componentSubType && d->componentSubType != r.desc.componentSubType)
        return false;
    if (d->componentManufacturer && d->componentManufacturer != r.desc.componentManufacturer)
        return false;
    return (r.desc.componentFlags & d->componentFlagsMask) ==
           (d->componentFlags & d->componentFlagsMask);
}

} // namespace

void ensureScanned() {
    Components& c = components();
    std::lock_guard lock(c.mutex);
    if (!c.scanned)
        scanLocked(c);
}

HostComponent* findComponent(AudioComponent handle) {
    if (!handle)
        return nullptr;
    Components& c = components();
    std::lock_guard lock(c.mutex);
    for (auto& r : c.records)
        if (reinterpret_cast<AudioComponent>(r.get()) == handle)
            return r.get();
    return nullptr;
}

bool isRegisteredComponent(const void* handle) {
    return findComponent(static_cast<AudioComponent>(const_cast<void*>(handle))) != nullptr;
}

OSStatus resolveFactory(HostComponent* component) {
    Components& c = components();
    std::lock_guard lock(c.mutex);
    if (component->factory)
        return 0;
    if (component->executablePath.empty() || component->factoryName.empty())
        return kAudioUnitErr_FailedInitialization;
    // The component's code stays loaded for the life of the process, as the
    // platform keeps loaded bundles.
    void* library = dlopen(component->executablePath.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (!library) {
        const char* why = dlerror();
        std::fprintf(stderr, "AudioComponentInstanceNew: cannot load %s: %s\n",
                     component->executablePath.c_str(), why ? why : "unknown error");
        return fnfErr;
    }
    void* symbol = dlsym(library, component->factoryName.c_str());
    if (!symbol) {
        std::fprintf(stderr, "AudioComponentInstanceNew: %s has no factory function %s\n",
                     component->executablePath.c_str(), component->factoryName.c_str());
        return kAudioUnitErr_FailedInitialization;
    }
    component->factory = reinterpret_cast<AudioComponentFactoryFunction>(symbol);
    return 0;
}

bool readBundle(const std::string& bundlePath, HostComponent& out, bool needComponentEntry) {
    std::vector<HostComponent> entries = readComponentEntries(bundlePath, true);
    if (entries.empty())
        return false;
    if (needComponentEntry && !entries.front().searchable)
        return false;
    out = std::move(entries.front());
    return true;
}

HostComponent* adoptBundleComponent(const HostComponent& prototype) {
    Components& c = components();
    std::lock_guard lock(c.mutex);
    // The same bundle entry opened again, or one the folders scan found,
    // keeps one component.
    for (auto& r : c.records)
        if (!r->bundlePath.empty() && sameEntry(*r, prototype))
            return r.get();
    auto record = std::make_unique<HostComponent>(prototype);
    record->mark = kComponentMark;
    record->searchable = false;
    record->fromFolders = false;
    record->factory = nullptr;
    c.records.push_back(std::move(record));
    return c.records.back().get();
}

} // namespace vxplatform

using namespace vxplatform;

extern "C" VX_EXPORT void VXHostRescanComponents(void) {
    Components& c = components();
    std::lock_guard lock(c.mutex);
    scanLocked(c);
}

extern "C" VX_EXPORT AudioComponent
AudioComponentFindNext(AudioComponent inComponent, const AudioComponentDescription* inDesc) {
    ensureScanned();
    Components& c = components();
    std::lock_guard lock(c.mutex);
    size_t start = 0;
    if (inComponent) {
        auto at = std::find_if(c.records.begin(), c.records.end(), [&](auto& r) {
            return reinterpret_cast<AudioComponent>(r.get()) == inComponent;
        });
        if (at == c.records.end())
            return nullptr;
        start = static_cast<size_t>(at - c.records.begin()) + 1;
    }
    for (size_t i = start; i < c.records.size(); ++i)
        if (c.records[i]->searchable && matches(*c.records[i], inDesc))
            return handleOf(c.records[i].get());
    return nullptr;
}

extern "C" VX_EXPORT UInt32 AudioComponentCount(const AudioComponentDescription* inDesc) {
    ensureScanned();
    Components& c = components();
    std::lock_guard lock(c.mutex);
    UInt32 n = 0;
    for (auto& r : c.records)
        if (r->searchable && matches(*r, inDesc))
            ++n;
    return n;
}

extern "C" VX_EXPORT OSStatus AudioComponentCopyName(AudioComponent inComponent,
                                                     CFStringRef* outName) {
    HostComponent* r = findComponent(inComponent);
    if (!r || !outName)
        return paramErr;
    *outName =
        CFStringCreateWithCString(kCFAllocatorDefault, r->name.c_str(), kCFStringEncodingUTF8);
    return *outName ? 0 : memFullErr;
}

extern "C" VX_EXPORT OSStatus AudioComponentGetDescription(AudioComponent inComponent,
                                                           AudioComponentDescription* outDesc) {
    HostComponent* r = findComponent(inComponent);
    if (!r || !outDesc)
        return paramErr;
    *outDesc = r->desc;
    return 0;
}

extern "C" VX_EXPORT OSStatus AudioComponentGetVersion(AudioComponent inComponent,
                                                       UInt32* outVersion) {
    HostComponent* r = findComponent(inComponent);
    if (!r || !outVersion)
        return paramErr;
    *outVersion = r->version;
    return 0;
}

extern "C" VX_EXPORT AudioComponent
AudioComponentRegister(const AudioComponentDescription* inDesc, CFStringRef inName,
                       UInt32 inVersion, AudioComponentFactoryFunction inFactory) {
    if (!inDesc || !inFactory)
        return nullptr;
    auto record = std::make_unique<HostComponent>();
    record->desc = *inDesc;
    record->version = inVersion;
    record->factory = inFactory;
    if (inName) {
        const CFIndex max =
            CFStringGetMaximumSizeForEncoding(CFStringGetLength(inName), kCFStringEncodingUTF8) + 1;
        std::string buffer(static_cast<size_t>(max > 0 ? max : 1), '\0');
        if (CFStringGetCString(inName, buffer.data(), max, kCFStringEncodingUTF8))
            record->name = buffer.c_str();
    }
    ensureScanned();
    Components& c = components();
    std::lock_guard lock(c.mutex);
    c.records.push_back(std::move(record));
    return handleOf(c.records.back().get());
}

extern "C" VX_EXPORT Boolean VXHostGetComponentBundlePath(AudioComponent inComponent, char* outPath,
                                                          UInt32 size) {
    HostComponent* r = findComponent(inComponent);
    if (!r || !outPath || r->bundlePath.empty() || r->bundlePath.size() + 1 > size)
        return 0;
    std::memcpy(outPath, r->bundlePath.c_str(), r->bundlePath.size() + 1);
    return 1;
}
