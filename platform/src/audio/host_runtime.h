// The host runtime's records: installed components and open instances.
//
// Handles handed to callers are the addresses of these records. Records are
// never freed while the process runs: a disposed instance keeps its record
// with a dead mark, so a stale handle answers an error instead of touching
// freed memory, and the calls on the render path check a handle without a
// lock.
#pragma once

#include <AudioUnit/AudioUnit.h>
#include <CoreServices/CoreServices.h>

#include <atomic>
#include <cstdint>
#include <string>

namespace vxplatform {

constexpr uint32_t kComponentMark = 0x56584350;    // 'VXCP'
constexpr uint32_t kLiveInstanceMark = 0x56584930; // 'VXI0'
constexpr uint32_t kDeadInstanceMark = 0x56584944; // 'VXID'

struct HostComponent {
    uint32_t mark = kComponentMark;
    AudioComponentDescription desc{};
    std::string name;
    UInt32 version = 0;
    // Bundle-based components: where the code lives and what to call.
    std::string bundlePath;
    std::string executablePath;
    std::string factoryName;
    // Set at registration, or resolved when the first instance opens.
    AudioComponentFactoryFunction factory = nullptr;
    bool searchable = true;
    bool fromFolders = false;
};

struct HostInstance {
    std::atomic<uint32_t> mark{kLiveInstanceMark};
    HostComponent* component = nullptr;
    // The plug-in interface on the factory path, null on the Component
    // Manager path; this decides which path every call takes.
    AudioComponentPlugInInterface* plugIn = nullptr;
    // One word for what each path needs beside: the Component Manager entry,
    // or the plug-in's render method, looked up once when the instance
    // opened (render calls come on every cycle and skip the lookup; null
    // when the plug-in has none). Records are kept for the life of the
    // process, so they stay small.
    union {
        ComponentRoutineUPP entry = nullptr; // when plugIn is null
        AudioComponentMethod renderMethod;   // when plugIn is set
    };
    // The object pointer the component keeps with this instance.
    std::atomic<Handle> storage{nullptr};
};

// --- components (component_registry.cpp)

// Makes sure the components folders were looked through once.
void ensureScanned();
// The record behind a component handle, or null for anything else.
HostComponent* findComponent(AudioComponent handle);
// Loads a bundle component's code and resolves its factory; 0 or a status.
OSStatus resolveFactory(HostComponent* component);
// Reads a bundle's executable path and its first AudioComponents entry.
// False when the bundle has no readable Info.plist or no executable.
bool readBundle(const std::string& bundlePath, HostComponent& out, bool needComponentEntry);
// Adds a record for a bundle opened directly by the host (not searchable).
HostComponent* adoptBundleComponent(const HostComponent& prototype);

// --- instances (instance_registry.cpp)

HostInstance* newInstance(HostComponent* component);
// Marks the instance dead; the record stays allocated.
void retireInstance(HostInstance* instance);
// Lock-free check of a handle that callers pass as an open instance.
inline HostInstance* liveInstance(const void* handle) {
    if (!handle)
        return nullptr;
    auto* record = static_cast<HostInstance*>(const_cast<void*>(handle));
    return record->mark.load(std::memory_order_acquire) == kLiveInstanceMark ? record : nullptr;
}
// Checked against the registry, so any pointer value is safe to ask about.
bool isRegisteredLiveInstance(const void* handle);
bool isRegisteredComponent(const void* handle);

inline AudioComponentInstance handleOf(HostInstance* r) {
    return reinterpret_cast<AudioComponentInstance>(r);
}
inline AudioComponent handleOf(HostComponent* r) {
    return reinterpret_cast<AudioComponent>(r);
}

// Status of a call on a handle that is not an open instance.
inline OSStatus badInstanceStatus(const void* handle) {
    return handle ? static_cast<OSStatus>(badComponentInstance) : OSStatus(-50);
}

} // namespace vxplatform
