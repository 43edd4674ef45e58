// Open instances and the component services a unit calls on its own
// instance: the storage it keeps with it, and its component's description.

#include "host_runtime.h"

#include <memory>
#include <mutex>
#include <unordered_set>
#include <vector>


namespace vxplatform {
namespace {

struct Instances {
    std::mutex mutex;
    std::vector<std::unique_ptr<HostInstance>> records; // live and retired
    std::unordered_set<const void*> live;
};

Instances& instances() {
    static Instances* i = new Instances; // outlives every static destructor
    return *i;
}

} // namespace

HostInstance* newInstance(HostComponent* component) {
    auto record = std::make_unique<HostInstance>();
    record->component = component;
    Instances& in = instances();
    std::lock_guard lock(in.mutex);
    in.records.push_back(std::move(record));
    HostInstance* r = in.records.back().get();
    in.live.insert(r);
    return r;
}

void retireInstance(HostInstance* instance) {
    Instances& in = instances();
    std::lock_guard lock(in.mutex);
    instance->mark.store(kDeadInstanceMark, std::memory_order_release);
    instance->storage.store(nullptr, std::memory_order_release);
    in.live.erase(instance);
}

bool isRegisteredLiveInstance(const void* handle) {
    if (!handle)
        return false;
    Instances& in = instances();
    std::lock_guard lock(in.mutex);
    return in.live.count(handle) != 0;
}

} // namespace vxplatform

using namespace vxplatform;

extern "C" VX_EXPORT Handle GetComponentInstanceStorage(ComponentInstance aComponentInstance) {
    HostInstance* r = liveInstance(aComponentInstance);
    return r ? r->storage.load(std::memory_order_acquire) : nullptr;
}

extern "C" VX_EXPORT void SetComponentInstanceStorage(ComponentInstance aComponentInstance,
                                                      Handle theStorage) {
    if (HostInstance* r = liveInstance(aComponentInstance))
        r->storage.store(theStorage, std::memory_order_release);
}

extern "C" VX_EXPORT OSErr GetComponentInfo(Component aComponent, ComponentDescription* cd,
                                            Handle /*componentName*/, Handle /*componentInfo*/,
                                            Handle /*componentIcon*/) {
    const HostComponent* component = nullptr;
    if (isRegisteredLiveInstance(aComponent))
        component = reinterpret_cast<HostInstance*>(aComponent)->component;
    else
        component = findComponent(reinterpret_cast<AudioComponent>(aComponent));
    if (!component)
        return invalidComponentID;
    if (cd) {
        cd->componentType = component->desc.componentType;
        cd->componentSubType = component->desc.componentSubType;
        cd->componentManufacturer = component->desc.componentManufacturer;
        cd->componentFlags = component->desc.componentFlags;
        cd->componentFlagsMask = component->desc.componentFlagsMask;
    }
    return 0;
}

extern "C" VX_EXPORT AudioComponent
AudioComponentInstanceGetComponent(AudioComponentInstance inInstance) {
    if (!isRegisteredLiveInstance(inInstance))
        return nullptr;
    return handleOf(reinterpret_cast<HostInstance*>(inInstance)->component);
}
