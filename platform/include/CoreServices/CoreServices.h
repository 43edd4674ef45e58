// The Component Manager part of the platform's core services: component and
// instance handles, the parameter block that carries every request to a
// component's entry function, the component-level selectors and the calls a
// component uses to keep its own object with its instance.
#pragma once

#include <VXExport.h>

#include <MacTypes.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ComponentRecord {
    long data[1];
} ComponentRecord;
typedef ComponentRecord* Component;

// The same handle type as an Audio Component instance: a unit opened either
// way is reached through one kind of handle.
typedef struct ComponentInstanceRecord {
    long data[1];
} ComponentInstanceRecord;
typedef ComponentInstanceRecord* ComponentInstance;

typedef SInt32 ComponentResult;

typedef struct ComponentDescription {
    OSType componentType;
    OSType componentSubType;
    OSType componentManufacturer;
    UInt32 componentFlags;
    UInt32 componentFlagsMask;
} ComponentDescription;

// A request to a component's entry: the selector, then one 8-byte slot per
// argument. Slot 0 holds the instance handle, the request's own arguments
// follow in declaration order, each stored from the start of its slot.
// paramSize counts the bytes of those arguments (the handle excluded).
typedef struct ComponentParameters {
    UInt8 flags;
    UInt8 paramSize;
    SInt16 what;
    UInt32 padding;
    long params[1];
} ComponentParameters;

typedef ComponentResult (*ComponentRoutineProcPtr)(ComponentParameters* cp,
                                                   Handle componentStorage);
typedef ComponentRoutineProcPtr ComponentRoutineUPP;

enum {
    kComponentOpenSelect = -1,
    kComponentCloseSelect = -2,
    kComponentCanDoSelect = -3,
    kComponentVersionSelect = -4,
    kComponentRegisterSelect = -5,
    kComponentTargetSelect = -6,
    kComponentUnregisterSelect = -7,
    kComponentGetMPWorkFunctionSelect = -8,
    kComponentExecuteWiredActionSelect = -9,
    kComponentGetPublicResourceSelect = -10,
};

enum {
    kAnyComponentType = 0,
    kAnyComponentSubType = 0,
    kAnyComponentManufacturer = 0,
    kAnyComponentFlagsMask = 0,
};

// Component Manager status codes. The two "bad" codes do not fit an OSErr and
// come back as 32-bit component results.
enum {
    invalidComponentID = -3000,
    validInstancesExist = -3001,
    componentNotCaptured = -3002,
    componentDontRegister = -3003,
    unresolvedComponentDLLErr = -3004,
    retryComponentRegistrationErr = -3005,
};
#define badComponentInstance ((ComponentResult)0x80008001)
#define badComponentSelector ((ComponentResult)0x80008002)

// The object pointer a component keeps with one of its instances; null until
// the component stores one, and for handles that are not open instances.
// Tags of engine_api/Threads.h.
// ANY, EITHER, +ANY; the storage is the component's until the instance closes.
VX_EXPORT Handle GetComponentInstanceStorage(ComponentInstance aComponentInstance);
// OPEN, UNINIT, ALONE; theStorage KEPT until the instance closes.
VX_EXPORT void SetComponentInstanceStorage(ComponentInstance aComponentInstance, Handle theStorage);

// The description of a component. An instance handle may stand for its
// component, as on the platform. Name, info and icon handles are not filled
// in on this machine and are left untouched. Unknown handles answer
// invalidComponentID.
// ANY, +ANY; cd BORROWED.
VX_EXPORT OSErr GetComponentInfo(Component aComponent, ComponentDescription* cd, Handle componentName,
                       Handle componentInfo, Handle componentIcon);

#ifdef __cplusplus
}
#endif
