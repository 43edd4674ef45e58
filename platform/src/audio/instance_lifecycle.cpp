// Opening and closing instances, through a component's factory or through
// its Component Manager entry.

#include "unit_dispatch.h"

#include <dlfcn.h>

#include <cstdio>
#include <string>

using namespace vxplatform;

extern "C" VX_EXPORT OSStatus AudioComponentInstanceNew(AudioComponent inComponent,
                                                        AudioComponentInstance* outInstance) {
    if (!outInstance)
        return paramErr;
    *outInstance = nullptr;
    HostComponent* component = findComponent(inComponent);
    if (!component)
        return paramErr;
    if (OSStatus status = resolveFactory(component); status != 0)
        return status;
    AudioComponentPlugInInterface* plugIn = component->factory(&component->desc);
    if (!plugIn || !plugIn->Open || !plugIn->Close || !plugIn->Lookup)
        return kAudioUnitErr_FailedInitialization;
    HostInstance* r = newInstance(component);
    r->plugIn = plugIn;
    // A component whose Open fails releases its own record; Close is not sent.
    if (OSStatus status = plugIn->Open(plugIn, handleOf(r)); status != 0) {
        retireInstance(r);
        return status;
    }
    r->renderMethod = plugIn->Lookup(kAudioUnitRenderSelect);
    *outInstance = handleOf(r);
    return 0;
}

extern "C" VX_EXPORT OSStatus AudioComponentInstanceDispose(AudioComponentInstance inInstance) {
    HostInstance* r = liveInstance(inInstance);
    if (!r)
        return badInstanceStatus(inInstance);
    OSStatus status = 0;
    if (!r->plugIn)
        status = callEntry(r, kComponentCloseSelect);
    else
        status = r->plugIn->Close(r->plugIn);
    retireInstance(r);
    return status;
}

extern "C" VX_EXPORT Boolean AudioComponentInstanceCanDo(AudioComponentInstance inInstance,
                                                         SInt16 inSelectorID) {
    HostInstance* r = liveInstance(inInstance);
    if (!r)
        return 0;
    if (!r->plugIn)
        return callEntry(r, kComponentCanDoSelect, inSelectorID) != 0 ? 1 : 0;
    return r->plugIn->Lookup && r->plugIn->Lookup(inSelectorID) ? 1 : 0;
}

extern "C" VX_EXPORT Boolean VXHostInstanceUsesComponentManager(AudioComponentInstance inInstance) {
    HostInstance* r = liveInstance(inInstance);
    return r && !r->plugIn ? 1 : 0;
}

namespace {

OSStatus openThroughEntry(HostComponent* component, const char* entryName,
                          AudioComponentInstance* outInstance) {
    void* library = dlopen(component->executablePath.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (!library) {
        const char* why = dlerror();
        std::fprintf(stderr, "VXHostOpenComponentManagerInstance: cannot load %s: %s\n",
                     component->executablePath.c_str(), why ? why : "unknown error");
        return fnfErr;
    }
    void* symbol = dlsym(library, entryName);
    if (!symbol) {
        std::fprintf(stderr, "VXHostOpenComponentManagerInstance: %s has no entry %s\n",
                     component->executablePath.c_str(), entryName);
        dlclose(library);
        return kAudioUnitErr_FailedInitialization;
    }
    // The library stays loaded for the life of the process, like a bundle
    // the platform loaded.
    HostInstance* r = newInstance(component);
    r->entry = reinterpret_cast<ComponentRoutineUPP>(symbol);
    // The component stores its object during the open request; a failed open
    // cleans up after itself and gets no close request.
    if (OSStatus status = callEntry(r, kComponentOpenSelect); status != 0) {
        retireInstance(r);
        return status;
    }
    *outInstance = handleOf(r);
    return 0;
}

} // namespace

extern "C" VX_EXPORT OSStatus VXHostOpenComponentManagerInstance(
    const char* bundlePath, const char* entryName, AudioComponentInstance* outInstance) {
    if (!outInstance)
        return paramErr;
    *outInstance = nullptr;
    if (!bundlePath || !entryName || !*bundlePath || !*entryName)
        return paramErr;
    std::string path(bundlePath);
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    HostComponent prototype;
    if (!readBundle(path, prototype, false)) {
        std::fprintf(stderr, "VXHostOpenComponentManagerInstance: %s is not a readable bundle\n",
                     path.c_str());
        return fnfErr;
    }
    // An instance always belongs to a component, which gives its description.
    HostComponent* component = adoptBundleComponent(prototype);
    return openThroughEntry(component, entryName, outInstance);
}

extern "C" VX_EXPORT OSStatus VXHostOpenComponentManagerInstanceOfComponent(
    AudioComponent inComponent, const char* entryName, AudioComponentInstance* outInstance) {
    if (!outInstance)
        return paramErr;
    *outInstance = nullptr;
    HostComponent* component = findComponent(inComponent);
    if (!component || !entryName || !*entryName || component->executablePath.empty())
        return paramErr;
    return openThroughEntry(component, entryName, outInstance);
}
