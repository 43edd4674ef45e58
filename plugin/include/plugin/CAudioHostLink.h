// The plug-in's side of the engine contract: it owns the engine instance and
// the module the engine came from, and is the host link the engine calls
// back through. The host facts themselves are answered by the plug-in class,
// which keeps them current.
#pragma once

#include <engine_api/IAudioPlugin.h>

class CAudioHostLink : public IAudioHostLink {
public:
    CAudioHostLink() = default;
    CAudioHostLink(const CAudioHostLink&) = delete;
    CAudioHostLink& operator=(const CAudioHostLink&) = delete;

    // Takes the engine and hands it this host link at once, so the engine
    // knows where to call back before anything else is asked of it.
    void setIAP(IAudioPlugin* inIAP);
    void setModuleHandle(void* inModuleHandle) { mModuleHandle = inModuleHandle; }
    IAudioPlugin* IAP() const { return mIAP; }
    void* moduleHandle() const { return mModuleHandle; }

protected:
    // Releases the engine (IDestroy) and only then closes its module: the
    // engine's code lives in that module. Not virtual: the link is never
    // destroyed through a pointer to it.
    ~CAudioHostLink();

private:
    IAudioPlugin* mIAP = nullptr;
    void* mModuleHandle = nullptr;
};
