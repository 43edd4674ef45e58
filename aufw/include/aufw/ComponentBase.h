// The root of a unit's class tree and its link to the platform's component
// services: the instance handle, how the instance was opened, the
// component's description, the object pointer the Component Manager keeps
// for an instance, and the component-level requests no unit layer handles.
#pragma once

#include <AudioUnit/AudioComponent.h>
#include <CoreServices/CoreServices.h>
#include <MacTypes.h>
#include <dispatch/dispatch.h>

class ComponentBase {
public:
    enum EInstanceType : UInt32 {
        kComponentMgrInstance = 0,   // opened through the Component Manager entry
        kAudioComponentInstance = 1, // opened through the Audio Component factory
    };

    // Read by each constructor into the instance type. An entry sets it for
    // the length of one construction, then restores the previous value.
    static EInstanceType sNewInstanceType;

    explicit ComponentBase(AudioComponentInstance inInstance);
    virtual ~ComponentBase();
    ComponentBase(const ComponentBase&) = delete;
    ComponentBase& operator=(const ComponentBase&) = delete;

    // Tags of engine_api/Threads.h.
    // OPEN, UNINIT, ALONE; right after construction, inside the open lock.
    virtual void PostConstructor() {}
    // CLOSE, EITHER, ALONE; right before destruction.
    virtual void PreDestructor() {}
    // CONTROL, EITHER, +RENDER.
    virtual OSStatus Version() { return 0x00000001; }

    AudioComponentInstance GetComponentInstance() const { return mComponentInstance; }
    EInstanceType InstanceType() const { return mInstanceType; }

    // Type, subtype, manufacturer, flags and mask; all zero when the
    // component services cannot tell.
    AudioComponentDescription GetComponentDescription() const;

    // The asked selector of a can-do request, or 0 for any other request.
    static SInt16 GetSelectorForCanDo(ComponentParameters* params);

    // Open, close, version and can-do. Deletes the object on close.
    // OPEN, CLOSE or CONTROL as the selector says; params BORROWED.
    static OSStatus ComponentEntryDispatch(ComponentParameters* params, ComponentBase* This);

    // The Component Manager services, resolved by name on first use.
    static dispatch_once_t sCSInitOnce;
    static void CSInitOnce(void* context);

    using GetComponentInstanceStorageProc = Handle (*)(ComponentInstance);
    using SetComponentInstanceStorageProc = void (*)(ComponentInstance, Handle);
    using GetComponentInfoProc = OSErr (*)(Component, ComponentDescription*, Handle, Handle,
                                           Handle);
    static GetComponentInstanceStorageProc sGetComponentInstanceStorageProc;
    static SetComponentInstanceStorageProc sSetComponentInstanceStorageProc;
    static GetComponentInfoProc sGetComponentInfoProc;

private:
    AudioComponentInstance mComponentInstance;
    EInstanceType mInstanceType;
};

// The object pointer kept with a Component Manager instance; null when the
// service is missing.
// ANY, EITHER, +ANY; the object is the instance's until its close.
Handle CMgr_GetComponentInstanceStorage(ComponentInstance aComponentInstance);
// Stores it; does nothing when the service is missing.
// OPEN, UNINIT, ALONE; theStorage KEPT by the platform until the close.
void CMgr_SetComponentInstanceStorage(ComponentInstance aComponentInstance, Handle theStorage);
