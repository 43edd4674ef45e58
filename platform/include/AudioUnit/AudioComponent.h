// Audio Components: finding installed components, describing them, and
// opening and closing their instances through the component's factory.
#pragma once

#include <VXExport.h>

#include <MacTypes.h>
#include <CoreFoundation/CoreFoundation.h>
#include <CoreServices/CoreServices.h>

#ifdef __cplusplus
extern "C" {
#endif

// Flags of a component description.
enum {
    kAudioComponentFlag_Unsearchable = 1,
    kAudioComponentFlag_SandboxSafe = 2,
    kAudioComponentFlag_IsV3AudioUnit = 4,
    kAudioComponentFlag_RequiresAsyncInstantiation = 8,
    kAudioComponentFlag_CanLoadInProcess = 0x10,
};

// Status codes of the component calls.
enum {
    kAudioComponentErr_InstanceTimedOut = -66754,
    kAudioComponentErr_DuplicateDescription = -66752,
    kAudioComponentErr_UnsupportedType = -66751,
    kAudioComponentErr_TooManyInstances = -66750,
    kAudioComponentErr_InstanceInvalidated = -66749,
    kAudioComponentErr_NotPermitted = -66748,
    kAudioComponentErr_InitializationTimedOut = -66747,
    kAudioComponentErr_InvalidFormat = -66746,
};

// Identifies a component. In a search, a field of 0 matches anything, and
// componentFlagsMask selects the flag bits that must equal componentFlags.
typedef struct AudioComponentDescription {
    OSType componentType;
    OSType componentSubType;
    OSType componentManufacturer;
    UInt32 componentFlags;
    UInt32 componentFlagsMask;
} AudioComponentDescription;

typedef struct OpaqueAudioComponent* AudioComponent;
typedef struct ComponentInstanceRecord* AudioComponentInstance;

// A method served by a component: the plug-in interface pointer first, then
// the call's own arguments.
typedef OSStatus (*AudioComponentMethod)(void* self, ...);

// What a component's factory hands back. The host passes the record's own
// address as the first argument of Open, Close and every looked-up method.
typedef struct AudioComponentPlugInInterface {
    OSStatus (*Open)(void* self, AudioComponentInstance mInstance);
    OSStatus (*Close)(void* self);
    AudioComponentMethod (*Lookup)(SInt16 selector);
    void* reserved;
} AudioComponentPlugInInterface;

typedef AudioComponentPlugInInterface* (*AudioComponentFactoryFunction)(
    const AudioComponentDescription* inDesc);

// The line above each call gives its thread, state, overlap and pointer
// ownership in the tags of engine_api/Threads.h. A component handle stays
// valid for the life of the process.

// The next component after inComponent (or the first, for null) that matches
// the description; null when there is none.
// ANY, +ANY; inDesc BORROWED.
VX_EXPORT AudioComponent AudioComponentFindNext(AudioComponent inComponent,
                                      const AudioComponentDescription* inDesc);
// ANY, +ANY; inDesc BORROWED.
VX_EXPORT UInt32 AudioComponentCount(const AudioComponentDescription* inDesc);

// The component's full name ("Manufacturer: Product"), retained for the caller.
// ANY, +ANY; *outName RETAINED.
VX_EXPORT OSStatus AudioComponentCopyName(AudioComponent inComponent, CFStringRef* outName);
// ANY, +ANY; outDesc BORROWED.
VX_EXPORT OSStatus AudioComponentGetDescription(AudioComponent inComponent,
                                      AudioComponentDescription* outDesc);
// ANY, +ANY; outVersion BORROWED.
VX_EXPORT OSStatus AudioComponentGetVersion(AudioComponent inComponent, UInt32* outVersion);

// OPEN (the caller's thread), +ANY on other instances; *outInstance VALID UNTIL its disposal.
VX_EXPORT OSStatus AudioComponentInstanceNew(AudioComponent inComponent, AudioComponentInstance* outInstance);
// CLOSE, EITHER, ALONE: no other call on the instance in flight or to come.
VX_EXPORT OSStatus AudioComponentInstanceDispose(AudioComponentInstance inInstance);
// ANY, EITHER, +ANY; null once the instance is disposed.
VX_EXPORT AudioComponent AudioComponentInstanceGetComponent(AudioComponentInstance inInstance);
// CONTROL, EITHER, +RENDER.
VX_EXPORT Boolean AudioComponentInstanceCanDo(AudioComponentInstance inInstance, SInt16 inSelectorID);

// Makes a component known to this process, for hosts that load a component's
// code themselves. The name is copied.
// ANY, +ANY; inDesc BORROWED, inName copied.
VX_EXPORT AudioComponent AudioComponentRegister(const AudioComponentDescription* inDesc, CFStringRef inName,
                                      UInt32 inVersion, AudioComponentFactoryFunction inFactory);

#ifdef __cplusplus
}
#endif
