// Parameter and event listeners: how hosts, editors and units tell each other
// about parameter changes and gestures without polling.
//
// Delivery: a listener created with a run loop receives its notifications on
// that run loop, while the thread runs it; a listener created without one
// receives them synchronously on the notifying thread. Value changes for a
// parameter still waiting on a run loop are merged into one notification;
// gestures are never merged. The value handed to a listener is read from the
// unit when the notification is delivered (0 when the unit is gone).
//
// The line above each call gives its thread, state, overlap and pointer
// ownership in the tags of engine_api/Threads.h. None of them is for RENDER:
// they take the listener registry's lock and may allocate.
#pragma once

#include <VXExport.h>

#include <MacTypes.h>
#include <CoreFoundation/CoreFoundation.h>
#include <AudioUnit/AudioUnit.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct AUListenerBase* AUParameterListenerRef;
typedef AUParameterListenerRef AUEventListenerRef;

typedef UInt32 AudioUnitEventType;
enum {
    kAudioUnitEvent_ParameterValueChange = 0,
    kAudioUnitEvent_BeginParameterChangeGesture = 1,
    kAudioUnitEvent_EndParameterChangeGesture = 2,
    kAudioUnitEvent_PropertyChange = 3,
};

// A parameter event names an AudioUnitParameter, a property event an
// AudioUnitProperty.
typedef struct AudioUnitEvent {
    AudioUnitEventType mEventType;
    union {
        AudioUnitParameter mParameter;
        AudioUnitProperty mProperty;
    } mArgument;
} AudioUnitEvent;

// A parameter ID that stands for every parameter of the unit in a listener's
// registration.
AU_TYPED_ENUM(UInt32){
    kAUParameterListener_AnyParameter = 0xFFFFFFFFU,
};

typedef void (*AUParameterListenerProc)(void* inUserData, void* inObject,
                                        const AudioUnitParameter* inParameter,
                                        AudioUnitParameterValue inValue);
typedef void (*AUEventListenerProc)(void* inCallbackRefCon, void* inObject,
                                    const AudioUnitEvent* inEvent, UInt64 inEventHostTime,
                                    AudioUnitParameterValue inParameterValue);

// Parameter listeners: value changes only.
// CONTROL, +ANY; inRunLoop RETAINED by the listener; *outListener VALID UNTIL AUListenerDispose.
VX_EXPORT OSStatus AUListenerCreate(AUParameterListenerProc inProc, void* inUserData, CFRunLoopRef inRunLoop,
                          CFStringRef inRunLoopMode, Float32 inNotificationInterval,
                          AUParameterListenerRef* outListener);
// CONTROL, +ANY; no new call starts afterwards, one under way elsewhere may finish.
VX_EXPORT OSStatus AUListenerDispose(AUParameterListenerRef inListener);
// CONTROL, +ANY; inParameter copied, inObject KEPT and handed back to the procedure.
VX_EXPORT OSStatus AUListenerAddParameter(AUParameterListenerRef inListener, void* inObject,
                                const AudioUnitParameter* inParameter);
// CONTROL, +ANY; inParameter BORROWED.
VX_EXPORT OSStatus AUListenerRemoveParameter(AUParameterListenerRef inListener, void* inObject,
                                   const AudioUnitParameter* inParameter);

// Sets a parameter through AudioUnitSetParameter and then tells every
// listener of it except the sending listener/object pair.
// CONTROL (not RENDER), EITHER, +ANY; inParameter BORROWED.
VX_EXPORT OSStatus AUParameterSet(AUParameterListenerRef inSendingListener, void* inSendingObject,
                        const AudioUnitParameter* inParameter, AudioUnitParameterValue inValue,
                        UInt32 inBufferOffsetInFrames);
// CONTROL (not RENDER), +ANY; inParameter BORROWED.
VX_EXPORT OSStatus AUParameterListenerNotify(AUParameterListenerRef inSendingListener, void* inSendingObject,
                                   const AudioUnitParameter* inParameter);

// Event listeners: value changes, gestures and property changes.
// CONTROL, +ANY; inRunLoop RETAINED by the listener; *outListener VALID UNTIL AUListenerDispose.
VX_EXPORT OSStatus AUEventListenerCreate(AUEventListenerProc inProc, void* inUserData, CFRunLoopRef inRunLoop,
                               CFStringRef inRunLoopMode, Float32 inNotificationInterval,
                               Float32 inValueChangeGranularity, AUEventListenerRef* outListener);
// CONTROL, +ANY; inEvent copied, inObject KEPT and handed back to the procedure.
VX_EXPORT OSStatus AUEventListenerAddEventType(AUEventListenerRef inListener, void* inObject,
                                     const AudioUnitEvent* inEvent);
// CONTROL, +ANY; inEvent BORROWED.
VX_EXPORT OSStatus AUEventListenerRemoveEventType(AUEventListenerRef inListener, void* inObject,
                                        const AudioUnitEvent* inEvent);
// CONTROL (not RENDER), +ANY; inEvent BORROWED.
VX_EXPORT OSStatus AUEventListenerNotify(AUEventListenerRef inSendingListener, void* inSendingObject,
                               const AudioUnitEvent* inEvent);

#ifdef __cplusplus
}
#endif
