#include "aufw/ComponentBase.h"

#include <cstddef>
#include <cstring>
#include <dlfcn.h>

ComponentBase::EInstanceType ComponentBase::sNewInstanceType = ComponentBase::kComponentMgrInstance;

dispatch_once_t ComponentBase::sCSInitOnce = 0;
ComponentBase::GetComponentInstanceStorageProc ComponentBase::sGetComponentInstanceStorageProc =
    nullptr;
ComponentBase::SetComponentInstanceStorageProc ComponentBase::sSetComponentInstanceStorageProc =
    nullptr;
ComponentBase::GetComponentInfoProc ComponentBase::sGetComponentInfoProc = nullptr;

namespace {

using AudioComponentInstanceGetComponentProc = AudioComponent (*)(AudioComponentInstance);
using AudioComponentGetDescriptionProc = OSStatus (*)(AudioComponent, AudioComponentDescription*);

// Resolved on the first description request of an Audio Component instance.
// A plain flag is enough: instances are constructed one at a time under the
// entry layer's open lock.
bool sACProcsResolved = false;
AudioComponentInstanceGetComponentProc sAudioComponentInstanceGetComponentProc = nullptr;
AudioComponentGetDescriptionProc sAudioComponentGetDescriptionProc = nullptr;

template <typename Proc> Proc LookUp(void* library, const char* name) {
    return reinterpret_cast<Proc>(dlsym(library, name));
}

void ResolveAudioComponentProcs() {
    if (sACProcsResolved) {
        return;
    }
    sACProcsResolved = true;
    void* library = dlopen("/System/Library/Frameworks/AudioUnit.framework/AudioUnit", RTLD_LAZY);
    if (library == nullptr) {
        return;
    }
    sAudioComponentInstanceGetComponentProc = LookUp<AudioComponentInstanceGetComponentProc>(
        library, "AudioComponentInstanceGetComponent");
    if (sAudioComponentInstanceGetComponentProc != nullptr) {
        sAudioComponentGetDescriptionProc =
            LookUp<AudioComponentGetDescriptionProc>(library, "AudioComponentGetDescription");
    }
}

void EnsureComponentServices() {
    dispatch_once_f(&ComponentBase::sCSInitOnce, nullptr, ComponentBase::CSInitOnce);
}

} // namespace

void ComponentBase::CSInitOnce(void* /*context*/) {
    void* library =
        dlopen("/System/Library/Frameworks/CoreServices.framework/CoreServices", RTLD_LAZY);
    if (library == nullptr) {
        return;
    }
    sGetComponentInstanceStorageProc =
        LookUp<GetComponentInstanceStorageProc>(library, "GetComponentInstanceStorage");
    sGetComponentInfoProc = LookUp<GetComponentInfoProc>(library, "GetComponentInfo");
    sSetComponentInstanceStorageProc =
        LookUp<SetComponentInstanceStorageProc>(library, "SetComponentInstanceStorage");
}

ComponentBase::ComponentBase(AudioComponentInstance inInstance)
    : mComponentInstance(inInstance), mInstanceType(sNewInstanceType) {
    // Resolves the services while the open lock is held; the answer itself
    // is asked for again when needed.
    (void)GetComponentDescription();
}

ComponentBase::~ComponentBase() = default;

AudioComponentDescription ComponentBase::GetComponentDescription() const {
    if (mInstanceType == kAudioComponentInstance) {
        ResolveAudioComponentProcs();
        if (sAudioComponentInstanceGetComponentProc != nullptr &&
            sAudioComponentGetDescriptionProc != nullptr) {
            AudioComponentDescription desc{};
            AudioComponent component = sAudioComponentInstanceGetComponentProc(mComponentInstance);
            if (component == nullptr || sAudioComponentGetDescriptionProc(component, &desc) != 0) {
                return AudioComponentDescription{};
            }
            return desc;
        }
    }

    EnsureComponentServices();
    if (sGetComponentInfoProc == nullptr) {
        return AudioComponentDescription{};
    }
    ComponentDescription info{};
    // An instance handle stands for its component here, as on the platform.
    const OSErr err = sGetComponentInfoProc(reinterpret_cast<Component>(mComponentInstance), &info,
                                            nullptr, nullptr, nullptr);
    if (err != 0) {
        return AudioComponentDescription{};
    }
    AudioComponentDescription desc{};
    desc.componentType = info.componentType;
    desc.componentSubType = info.componentSubType;
    desc.componentManufacturer = info.componentManufacturer;
    desc.componentFlags = info.componentFlags;
    desc.componentFlagsMask = info.componentFlagsMask;
    return desc;
}

SInt16 ComponentBase::GetSelectorForCanDo(ComponentParameters* params) {
    if (params == nullptr || params->what != kComponentCanDoSelect) {
        return 0;
    }
    // Slot 0 holds the instance handle; the asked selector is the first
    // argument, at the start of the next slot. Read through the bytes: the
    // declared slot array has a single element.
    SInt16 selector = 0;
    const auto* slots = reinterpret_cast<const unsigned char*>(params) +
                        offsetof(ComponentParameters, params) + sizeof(long);
    std::memcpy(&selector, slots, sizeof(selector));
    return selector;
}

OSStatus ComponentBase::ComponentEntryDispatch(ComponentParameters* params, ComponentBase* This) {
    if (This == nullptr || params == nullptr) {
        return paramErr;
    }
    switch (params->what) {
    case kComponentVersionSelect:
        return This->Version();
    case kComponentCanDoSelect:
        switch (GetSelectorForCanDo(params)) {
        case kComponentOpenSelect:
        case kComponentCloseSelect:
        case kComponentCanDoSelect:
        case kComponentVersionSelect:
            return 1;
        default:
            return 0;
        }
    case kComponentCloseSelect:
        This->PreDestructor();
        delete This;
        return noErr;
    default:
        return badComponentSelector;
    }
}

Handle CMgr_GetComponentInstanceStorage(ComponentInstance aComponentInstance) {
    EnsureComponentServices();
    if (ComponentBase::sGetComponentInstanceStorageProc == nullptr) {
        return nullptr;
    }
    return ComponentBase::sGetComponentInstanceStorageProc(aComponentInstance);
}

void CMgr_SetComponentInstanceStorage(ComponentInstance aComponentInstance, Handle theStorage) {
    EnsureComponentServices();
    if (ComponentBase::sSetComponentInstanceStorageProc != nullptr) {
        ComponentBase::sSetComponentInstanceStorageProc(aComponentInstance, theStorage);
    }
}
