// The Audio Unit calls a host makes on a unit, the unit's component types,
// its error codes, the selectors that identify each call at the component's
// entry, and the callback types a host hands to a unit.
#pragma once

#include <VXExport.h>

#include <MacTypes.h>
#include <CoreAudio/CoreAudioTypes.h>
#include <AudioUnit/AudioComponent.h>

#ifdef __cplusplus
#define AU_TYPED_ENUM(type) enum : type
#else
#define AU_TYPED_ENUM(type) enum
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef AudioComponentInstance AudioUnit;

// Component types and the platform's own manufacturer code (four-character
// codes, written out).
enum {
    kAudioUnitType_Output = 0x61756F75,          // 'auou'
    kAudioUnitType_MusicDevice = 0x61756D75,     // 'aumu'
    kAudioUnitType_MusicEffect = 0x61756D66,     // 'aumf'
    kAudioUnitType_FormatConverter = 0x61756663, // 'aufc'
    kAudioUnitType_Effect = 0x61756678,          // 'aufx'
    kAudioUnitType_Mixer = 0x61756D78,           // 'aumx'
    kAudioUnitType_Panner = 0x6175706E,          // 'aupn'
    kAudioUnitType_Generator = 0x6175676E,       // 'augn'
    kAudioUnitType_OfflineEffect = 0x61756F6C,   // 'auol'
    kAudioUnitType_MIDIProcessor = 0x61756D69,   // 'aumi'
};
enum {
    kAudioUnitManufacturer_Apple = 0x6170706C, // 'appl'
};

typedef UInt32 AudioUnitPropertyID;
typedef UInt32 AudioUnitScope;
typedef UInt32 AudioUnitElement;
typedef UInt32 AudioUnitParameterID;
typedef Float32 AudioUnitParameterValue;

typedef UInt32 AudioUnitRenderActionFlags;
AU_TYPED_ENUM(UInt32){
    kAudioUnitRenderAction_PreRender = (1U << 2),
    kAudioUnitRenderAction_PostRender = (1U << 3),
    kAudioUnitRenderAction_OutputIsSilence = (1U << 4),
    kAudioOfflineUnitRenderAction_Preflight = (1U << 5),
    kAudioOfflineUnitRenderAction_Render = (1U << 6),
    kAudioOfflineUnitRenderAction_Complete = (1U << 7),
    kAudioUnitRenderAction_PostRenderError = (1U << 8),
    kAudioUnitRenderAction_DoNotCheckRenderArgs = (1U << 9),
};

// Audio Unit status codes.
enum {
    kAudioUnitErr_InvalidProperty = -10879,
    kAudioUnitErr_InvalidParameter = -10878,
    kAudioUnitErr_InvalidElement = -10877,
    kAudioUnitErr_NoConnection = -10876,
    kAudioUnitErr_FailedInitialization = -10875,
    kAudioUnitErr_TooManyFramesToProcess = -10874,
    kAudioUnitErr_InvalidFile = -10871,
    kAudioUnitErr_UnknownFileType = -10870,
    kAudioUnitErr_FileNotSpecified = -10869,
    kAudioUnitErr_FormatNotSupported = -10868,
    kAudioUnitErr_Uninitialized = -10867,
    kAudioUnitErr_InvalidScope = -10866,
    kAudioUnitErr_PropertyNotWritable = -10865,
    kAudioUnitErr_CannotDoInCurrentContext = -10863,
    kAudioUnitErr_InvalidPropertyValue = -10851,
    kAudioUnitErr_PropertyNotInUse = -10850,
    kAudioUnitErr_Initialized = -10849,
    kAudioUnitErr_InvalidOfflineRender = -10848,
    kAudioUnitErr_Unauthorized = -10847,
    kAudioUnitErr_MIDIOutputBufferFull = -66753,
    kAudioUnitErr_RenderTimeout = -66745,
    kAudioUnitErr_ExtensionNotFound = -66744,
    kAudioUnitErr_InvalidParameterValue = -66743,
    kAudioUnitErr_InvalidFilePath = -66742,
    kAudioUnitErr_MissingKey = -66741,
};

// A host's procedure that supplies input or is told about each render cycle.
typedef OSStatus (*AURenderCallback)(void* inRefCon, AudioUnitRenderActionFlags* ioActionFlags,
                                     const AudioTimeStamp* inTimeStamp, UInt32 inBusNumber,
                                     UInt32 inNumberFrames, AudioBufferList* ioData);

typedef void (*AudioUnitPropertyListenerProc)(void* inRefCon, AudioUnit inUnit,
                                              AudioUnitPropertyID inID, AudioUnitScope inScope,
                                              AudioUnitElement inElement);

typedef void (*AUInputSamplesInOutputCallback)(void* inRefCon,
                                               const AudioTimeStamp* inOutputTimeStamp,
                                               Float64 inInputSample, Float64 inNumberInputSamples);

// Scheduled parameter changes.
typedef UInt32 AUParameterEventType;
enum {
    kParameterEvent_Immediate = 1,
    kParameterEvent_Ramped = 2,
};

typedef struct AudioUnitParameterEvent {
    AudioUnitScope scope;
    AudioUnitElement element;
    AudioUnitParameterID parameter;
    AUParameterEventType eventType;
    union {
        struct {
            SInt32 startBufferOffset;
            UInt32 durationInFrames;
            AudioUnitParameterValue startValue;
            AudioUnitParameterValue endValue;
        } ramp;
        struct {
            UInt32 bufferOffset;
            AudioUnitParameterValue value;
        } immediate;
    } eventValues;
} AudioUnitParameterEvent;

// Names one parameter or one property of one unit.
typedef struct AudioUnitParameter {
    AudioUnit mAudioUnit;
    AudioUnitParameterID mParameterID;
    AudioUnitScope mScope;
    AudioUnitElement mElement;
} AudioUnitParameter;

typedef struct AudioUnitProperty {
    AudioUnit mAudioUnit;
    AudioUnitPropertyID mPropertyID;
    AudioUnitScope mScope;
    AudioUnitElement mElement;
} AudioUnitProperty;

// Fast-dispatch procedures a unit may hand out; they take the unit's own
// instance storage instead of the instance handle.
typedef OSStatus (*AudioUnitGetParameterProc)(void* inComponentStorage, AudioUnitParameterID inID,
                                              AudioUnitScope inScope, AudioUnitElement inElement,
                                              AudioUnitParameterValue* outValue);
typedef OSStatus (*AudioUnitSetParameterProc)(void* inComponentStorage, AudioUnitParameterID inID,
                                              AudioUnitScope inScope, AudioUnitElement inElement,
                                              AudioUnitParameterValue inValue,
                                              UInt32 inBufferOffsetInFrames);
typedef OSStatus (*AudioUnitRenderProc)(void* inComponentStorage,
                                        AudioUnitRenderActionFlags* ioActionFlags,
                                        const AudioTimeStamp* inTimeStamp, UInt32 inOutputBusNumber,
                                        UInt32 inNumberFrames, AudioBufferList* ioData);

// Selectors of the calls, as a component's entry or lookup function sees them.
enum {
    kAudioUnitRange = 0x0000,
    kAudioUnitInitializeSelect = 0x0001,
    kAudioUnitUninitializeSelect = 0x0002,
    kAudioUnitGetPropertyInfoSelect = 0x0003,
    kAudioUnitGetPropertySelect = 0x0004,
    kAudioUnitSetPropertySelect = 0x0005,
    kAudioUnitGetParameterSelect = 0x0006,
    kAudioUnitSetParameterSelect = 0x0007,
    kAudioUnitResetSelect = 0x0009,
    kAudioUnitAddPropertyListenerSelect = 0x000A,
    kAudioUnitRemovePropertyListenerSelect = 0x000B,
    kAudioUnitRenderSelect = 0x000E,
    kAudioUnitAddRenderNotifySelect = 0x000F,
    kAudioUnitRemoveRenderNotifySelect = 0x0010,
    kAudioUnitScheduleParametersSelect = 0x0011,
    kAudioUnitRemovePropertyListenerWithUserDataSelect = 0x0012,
    kAudioUnitComplexRenderSelect = 0x0013,
    kAudioUnitProcessSelect = 0x0014,
    kAudioUnitProcessMultipleSelect = 0x0015,
};
enum {
    kMusicDeviceRange = 0x0100,
    kMusicDeviceMIDIEventSelect = 0x0101,
    kMusicDeviceSysExSelect = 0x0102,
    kMusicDevicePrepareInstrumentSelect = 0x0103,
    kMusicDeviceReleaseInstrumentSelect = 0x0104,
    kMusicDeviceStartNoteSelect = 0x0105,
    kMusicDeviceStopNoteSelect = 0x0106,
};
enum {
    kAudioOutputUnitRange = 0x0200,
    kAudioOutputUnitStartSelect = 0x0201,
    kAudioOutputUnitStopSelect = 0x0202,
};

// The calls. Each answers a status: 0 for success, -50 for a null unit, and
// badComponentInstance for a handle that is not an open instance; every
// other answer is the unit's own. The line above each call gives its thread,
// state, overlap and pointer ownership in the tags of engine_api/Threads.h.
// CONTROL, UNINIT (0 at once when INIT), +PARAM; a render call meanwhile is refused.
VX_EXPORT OSStatus AudioUnitInitialize(AudioUnit inUnit);
// CONTROL, EITHER, +PARAM; never while a render call of the unit is in flight.
VX_EXPORT OSStatus AudioUnitUninitialize(AudioUnit inUnit);

// CONTROL, EITHER, +RENDER; outDataSize and outWritable BORROWED, either may be null.
VX_EXPORT OSStatus AudioUnitGetPropertyInfo(AudioUnit inUnit, AudioUnitPropertyID inID,
                                  AudioUnitScope inScope, AudioUnitElement inElement,
                                  UInt32* outDataSize, Boolean* outWritable);
// CONTROL, EITHER, +RENDER; outData BORROWED (*ioDataSize bytes); CF values in it RETAINED.
VX_EXPORT OSStatus AudioUnitGetProperty(AudioUnit inUnit, AudioUnitPropertyID inID, AudioUnitScope inScope,
                              AudioUnitElement inElement, void* outData, UInt32* ioDataSize);
// CONTROL, EITHER, +RENDER (connections, input callbacks: not during a render); inData BORROWED.
VX_EXPORT OSStatus AudioUnitSetProperty(AudioUnit inUnit, AudioUnitPropertyID inID, AudioUnitScope inScope,
                              AudioUnitElement inElement, const void* inData, UInt32 inDataSize);

// CONTROL, EITHER, +RENDER; inProc KEPT until removed or disposal, called on the announcing thread.
VX_EXPORT OSStatus AudioUnitAddPropertyListener(AudioUnit inUnit, AudioUnitPropertyID inID,
                                      AudioUnitPropertyListenerProc inProc, void* inProcUserData);
// The older removal that ignores the user data.
// CONTROL, EITHER, +RENDER; a walk already under way may call the procedure once more.
VX_EXPORT OSStatus AudioUnitRemovePropertyListener(AudioUnit inUnit, AudioUnitPropertyID inID,
                                         AudioUnitPropertyListenerProc inProc);
// CONTROL, EITHER, +RENDER; a walk already under way may call the procedure once more.
VX_EXPORT OSStatus AudioUnitRemovePropertyListenerWithUserData(AudioUnit inUnit, AudioUnitPropertyID inID,
                                                     AudioUnitPropertyListenerProc inProc,
                                                     void* inProcUserData);

// ANY, EITHER, +ANY; inProc KEPT until removed, called on RENDER before and after each render.
VX_EXPORT OSStatus AudioUnitAddRenderNotify(AudioUnit inUnit, AURenderCallback inProc, void* inProcUserData);
// ANY, EITHER, +ANY; takes effect at the start of the unit's next render call.
VX_EXPORT OSStatus AudioUnitRemoveRenderNotify(AudioUnit inUnit, AURenderCallback inProc,
                                     void* inProcUserData);

// ANY, EITHER, +ANY; outValue BORROWED.
VX_EXPORT OSStatus AudioUnitGetParameter(AudioUnit inUnit, AudioUnitParameterID inID, AudioUnitScope inScope,
                               AudioUnitElement inElement, AudioUnitParameterValue* outValue);
// ANY, EITHER, +ANY.
VX_EXPORT OSStatus AudioUnitSetParameter(AudioUnit inUnit, AudioUnitParameterID inID, AudioUnitScope inScope,
                               AudioUnitElement inElement, AudioUnitParameterValue inValue,
                               UInt32 inBufferOffsetInFrames);
// RENDER (before the render call) or CONTROL, EITHER, never during a render call; events copied.
VX_EXPORT OSStatus AudioUnitScheduleParameters(AudioUnit inUnit,
                                     const AudioUnitParameterEvent* inParameterEvent,
                                     UInt32 inNumParamEvents);

// RENDER, INIT, +CONTROL +PARAM; ioData BORROWED; null data comes back VALID UNTIL the next render.
VX_EXPORT OSStatus AudioUnitRender(AudioUnit inUnit, AudioUnitRenderActionFlags* ioActionFlags,
                         const AudioTimeStamp* inTimeStamp, UInt32 inOutputBusNumber,
                         UInt32 inNumberFrames, AudioBufferList* ioData);
// RENDER, INIT, +CONTROL +PARAM; ioData BORROWED, processed in place.
VX_EXPORT OSStatus AudioUnitProcess(AudioUnit inUnit, AudioUnitRenderActionFlags* ioActionFlags,
                          const AudioTimeStamp* inTimeStamp, UInt32 inNumberFrames,
                          AudioBufferList* ioData);
// RENDER, INIT, +CONTROL +PARAM; every list BORROWED.
VX_EXPORT OSStatus AudioUnitProcessMultiple(AudioUnit inUnit, AudioUnitRenderActionFlags* ioActionFlags,
                                  const AudioTimeStamp* inTimeStamp, UInt32 inNumberFrames,
                                  UInt32 inNumberInputBufferLists,
                                  const AudioBufferList** inInputBufferLists,
                                  UInt32 inNumberOutputBufferLists,
                                  AudioBufferList** ioOutputBufferLists);

// CONTROL, EITHER, +RENDER: the unit clears its state while it may be rendering.
VX_EXPORT OSStatus AudioUnitReset(AudioUnit inUnit, AudioUnitScope inScope, AudioUnitElement inElement);

#ifdef __cplusplus
}
#endif
