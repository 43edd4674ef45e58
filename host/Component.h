// Finding a component (installed, or a bundle named on the command line) and
// opening instances of it through either of its entries.
#pragma once

#include <AudioUnit/AudioUnit.h>

#include <optional>
#include <string>
#include <vector>

namespace vxhost {

struct ComponentRef {
    AudioComponent component = nullptr;
    AudioComponentDescription desc{};
    std::string name;       // "Manufacturer: Product"
    UInt32 version = 0;     // 0xMMMMmmpp
    std::string bundlePath; // empty when the runtime knows none
    std::string factoryName;
    bool registeredByHost = false; // loaded from --component PATH
};

// The components the runtime finds in the components folders.
std::vector<ComponentRef> installedComponents();

// The component a command works on. spec is a bundle path ("X.component"),
// codes "TYPE:SUBTYPE:MANUFACTURER", or nothing for the default: the
// installed VX-Delay ('aufx' 'Dlay' 'Vxta').
ComponentRef resolveComponent(const std::optional<std::string>& spec);

enum class Entry { Factory, ComponentManager };
// "factory" or "cm"; a usage error for anything else.
Entry parseEntry(const std::optional<std::string>& text);
const char* entryName(Entry entry);

// The Component Manager entry of a component: its factory's name with
// "Factory" turned into "Entry" ("CAUPluginFactory" -> "CAUPluginEntry").
std::string managerEntryOf(const ComponentRef& ref);

std::string versionText(UInt32 version);
std::string codesText(const AudioComponentDescription& desc);

// One open instance, disposed with the object.
class Unit {
public:
    // Throws HostError when the component does not open.
    Unit(const ComponentRef& ref, Entry entry);
    Unit(const Unit&) = delete;
    Unit& operator=(const Unit&) = delete;
    ~Unit();

    AudioUnit get() const { return mUnit; }
    Entry entry() const { return mEntry; }
    // Shared libraries that opening the instance brought into the process,
    // besides the component's own binary.
    const std::vector<std::string>& modulesLoaded() const { return mModulesLoaded; }
    // Alerts the component showed while it opened.
    const std::vector<std::string>& alerts() const { return mAlerts; }
    // "; it showed an alert when it opened: ..." or nothing, for error lines.
    std::string alertSuffix() const;

private:
    AudioUnit mUnit = nullptr;
    Entry mEntry;
    std::vector<std::string> mModulesLoaded;
    std::vector<std::string> mAlerts;
};

// Opens an instance without throwing: the status and, on success, the unit.
OSStatus openInstance(const ComponentRef& ref, Entry entry, AudioUnit* outUnit);

} // namespace vxhost
