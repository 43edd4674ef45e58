// Audio Unit properties: scopes, property identifiers and the records that
// travel as property values.
#pragma once

#include <MacTypes.h>
#include <CoreFoundation/CoreFoundation.h>
#include <CoreAudio/CoreAudioTypes.h>
#include <AudioUnit/AUComponent.h>

#ifdef __cplusplus
extern "C" {
#endif

// Scopes.
enum {
    kAudioUnitScope_Global = 0,
    kAudioUnitScope_Input = 1,
    kAudioUnitScope_Output = 2,
    kAudioUnitScope_Group = 3,
    kAudioUnitScope_Part = 4,
    kAudioUnitScope_Note = 5,
    kAudioUnitScope_Layer = 6,
    kAudioUnitScope_LayerItem = 7,
};

// Property identifiers, with the type of the value in a comment.
enum {
    kAudioUnitProperty_ClassInfo = 0,        // CFPropertyListRef
    kAudioUnitProperty_MakeConnection = 1,   // AudioUnitConnection
    kAudioUnitProperty_SampleRate = 2,       // Float64
    kAudioUnitProperty_ParameterList = 3,    // AudioUnitParameterID[]
    kAudioUnitProperty_ParameterInfo = 4,    // AudioUnitParameterInfo
    kAudioUnitProperty_FastDispatch = 5,     // procedure pointer
    kAudioUnitProperty_CPULoad = 6,          // Float64
    kAudioUnitProperty_SetInputCallback = 7, // no longer used
    kAudioUnitProperty_StreamFormat = 8,     // AudioStreamBasicDescription
    kAudioUnitProperty_SRCAlgorithm = 9,     // OSType
    kAudioUnitProperty_ReverbRoomType = 10,  // UInt32
    kAudioUnitProperty_ElementCount = 11,    // UInt32
    kAudioUnitProperty_BusCount = kAudioUnitProperty_ElementCount,
    kAudioUnitProperty_Latency = 12,                    // Float64 seconds
    kAudioUnitProperty_SupportedNumChannels = 13,       // AUChannelInfo[]
    kAudioUnitProperty_MaximumFramesPerSlice = 14,      // UInt32
    kAudioUnitProperty_SetExternalBuffer = 15,          // AudioUnitExternalBuffer
    kAudioUnitProperty_ParameterValueStrings = 16,      // CFArrayRef
    kAudioUnitProperty_MIDIControlMapping = 17,         // no longer used
    kAudioUnitProperty_GetUIComponentList = 18,         // AudioComponentDescription[]
    kAudioUnitProperty_AudioChannelLayout = 19,         // AudioChannelLayout
    kAudioUnitProperty_TailTime = 20,                   // Float64 seconds
    kAudioUnitProperty_BypassEffect = 21,               // UInt32
    kAudioUnitProperty_LastRenderError = 22,            // OSStatus
    kAudioUnitProperty_SetRenderCallback = 23,          // AURenderCallbackStruct
    kAudioUnitProperty_FactoryPresets = 24,             // CFArrayRef of AUPreset
    kAudioUnitProperty_ContextName = 25,                // CFStringRef
    kAudioUnitProperty_RenderQuality = 26,              // UInt32
    kAudioUnitProperty_HostCallbacks = 27,              // HostCallbackInfo
    kAudioUnitProperty_CurrentPreset = 28,              // no longer used
    kAudioUnitProperty_InPlaceProcessing = 29,          // UInt32
    kAudioUnitProperty_ElementName = 30,                // CFStringRef
    kAudioUnitProperty_CocoaUI = 31,                    // AudioUnitCocoaViewInfo
    kAudioUnitProperty_SupportedChannelLayoutTags = 32, // AudioChannelLayoutTag[]
    kAudioUnitProperty_ParameterStringFromValue = 33,   // AudioUnitParameterStringFromValue
    kAudioUnitProperty_ParameterValueName = kAudioUnitProperty_ParameterStringFromValue,
    kAudioUnitProperty_ParameterIDName = 34,          // AudioUnitParameterNameInfo
    kAudioUnitProperty_ParameterClumpName = 35,       // AudioUnitParameterNameInfo
    kAudioUnitProperty_PresentPreset = 36,            // AUPreset
    kAudioUnitProperty_OfflineRender = 37,            // UInt32
    kAudioUnitProperty_ParameterValueFromString = 38, // AudioUnitParameterValueFromString
    kAudioUnitProperty_IconLocation = 39,             // CFURLRef
    kAudioUnitProperty_PresentationLatency = 40,      // Float64 seconds
    kAudioUnitProperty_AllParameterMIDIMappings = 41,
    kAudioUnitProperty_AddParameterMIDIMapping = 42,
    kAudioUnitProperty_RemoveParameterMIDIMapping = 43,
    kAudioUnitProperty_HotMapParameterMIDIMapping = 44,
    kAudioUnitProperty_DependentParameters = 45,    // AUDependentParameter[]
    kAudioUnitProperty_AUHostIdentifier = 46,       // AUHostVersionIdentifier
    kAudioUnitProperty_MIDIOutputCallbackInfo = 47, // CFArrayRef
    kAudioUnitProperty_MIDIOutputCallback = 48,
    kAudioUnitProperty_InputSamplesInOutput = 49,  // AUInputSamplesInOutputCallbackStruct
    kAudioUnitProperty_ClassInfoFromDocument = 50, // CFPropertyListRef
    kAudioUnitProperty_ShouldAllocateBuffer = 51,  // UInt32
    kAudioUnitProperty_FrequencyResponse = 52,     // AudioUnitFrequencyResponseBin[]
    kAudioUnitProperty_ParameterHistoryInfo = 53,  // AudioUnitParameterHistoryInfo
    kAudioUnitProperty_NickName = 54,              // CFStringRef
    kAudioUnitProperty_RequestViewController = 56,
    kAudioUnitProperty_ParametersForOverview = 57,
    kAudioUnitProperty_SupportsMPE = 58, // UInt32
    kAudioUnitProperty_RenderContextObserver = 60,
    kAudioUnitProperty_LastRenderSampleTime = 61, // Float64
    kAudioUnitProperty_LoadedOutOfProcess = 62,   // UInt32
};

// Private properties of this family of units.
enum {
    // The sample time of the last rendered cycle, Float64 ('lrst').
    kAUBaseProperty_LastRenderedSampleTime = 0x6C727374,
    // Announced when the editor view's size changed; reads as the number 1.
    kVXProperty_WindowSizeChanged = 0x10000,
    // Two pointers: the unit's engine, then the unit object itself.
    kVXProperty_EngineAccess = 0x1E3638DA,
};

// Render quality.
enum {
    kRenderQuality_Max = 127,
    kRenderQuality_High = 96,
    kRenderQuality_Medium = 64,
    kRenderQuality_Low = 32,
    kRenderQuality_Min = 0,
};

typedef struct AudioUnitConnection {
    AudioUnit sourceAudioUnit;
    UInt32 sourceOutputNumber;
    UInt32 destInputNumber;
} AudioUnitConnection;

typedef struct AURenderCallbackStruct {
    AURenderCallback inputProc;
    void* inputProcRefCon;
} AURenderCallbackStruct;

// One supported channel configuration; -1 and -2 are the platform's
// wildcards for "any count" and "any count, same on both sides".
typedef struct AUChannelInfo {
    SInt16 inChannels;
    SInt16 outChannels;
} AUChannelInfo;

typedef struct AUPreset {
    SInt32 presetNumber;
    CFStringRef presetName;
} AUPreset;

typedef struct AudioUnitExternalBuffer {
    Byte* buffer;
    UInt32 size;
} AudioUnitExternalBuffer;

// Host callbacks: the host's answers about its musical time and transport.
typedef OSStatus (*HostCallback_GetBeatAndTempo)(void* inHostUserData, Float64* outCurrentBeat,
                                                 Float64* outCurrentTempo);
typedef OSStatus (*HostCallback_GetMusicalTimeLocation)(void* inHostUserData,
                                                        UInt32* outDeltaSampleOffsetToNextBeat,
                                                        Float32* outTimeSig_Numerator,
                                                        UInt32* outTimeSig_Denominator,
                                                        Float64* outCurrentMeasureDownBeat);
typedef OSStatus (*HostCallback_GetTransportState)(void* inHostUserData, Boolean* outIsPlaying,
                                                   Boolean* outTransportStateChanged,
                                                   Float64* outCurrentSampleInTimeLine,
                                                   Boolean* outIsCycling,
                                                   Float64* outCycleStartBeat,
                                                   Float64* outCycleEndBeat);
typedef OSStatus (*HostCallback_GetTransportState2)(
    void* inHostUserData, Boolean* outIsPlaying, Boolean* outIsRecording,
    Boolean* outTransportStateChanged, Float64* outCurrentSampleInTimeLine, Boolean* outIsCycling,
    Float64* outCycleStartBeat, Float64* outCycleEndBeat);

typedef struct HostCallbackInfo {
    void* hostUserData;
    HostCallback_GetBeatAndTempo beatAndTempoProc;
    HostCallback_GetMusicalTimeLocation musicalTimeLocationProc;
    HostCallback_GetTransportState transportStateProc;
    HostCallback_GetTransportState2 transportStateProc2;
} HostCallbackInfo;

// Parameter descriptions.
typedef UInt32 AudioUnitParameterUnit;
enum {
    kAudioUnitParameterUnit_Generic = 0,
    kAudioUnitParameterUnit_Indexed = 1,
    kAudioUnitParameterUnit_Boolean = 2,
    kAudioUnitParameterUnit_Percent = 3,
    kAudioUnitParameterUnit_Seconds = 4,
    kAudioUnitParameterUnit_SampleFrames = 5,
    kAudioUnitParameterUnit_Phase = 6,
    kAudioUnitParameterUnit_Rate = 7,
    kAudioUnitParameterUnit_Hertz = 8,
    kAudioUnitParameterUnit_Cents = 9,
    kAudioUnitParameterUnit_RelativeSemiTones = 10,
    kAudioUnitParameterUnit_MIDINoteNumber = 11,
    kAudioUnitParameterUnit_MIDIController = 12,
    kAudioUnitParameterUnit_Decibels = 13,
    kAudioUnitParameterUnit_LinearGain = 14,
    kAudioUnitParameterUnit_Degrees = 15,
    kAudioUnitParameterUnit_EqualPowerCrossfade = 16,
    kAudioUnitParameterUnit_MixerFaderCurve1 = 17,
    kAudioUnitParameterUnit_Pan = 18,
    kAudioUnitParameterUnit_Meters = 19,
    kAudioUnitParameterUnit_AbsoluteCents = 20,
    kAudioUnitParameterUnit_Octaves = 21,
    kAudioUnitParameterUnit_BPM = 22,
    kAudioUnitParameterUnit_Beats = 23,
    kAudioUnitParameterUnit_Milliseconds = 24,
    kAudioUnitParameterUnit_Ratio = 25,
    kAudioUnitParameterUnit_CustomUnit = 26,
    kAudioUnitParameterUnit_MIDI2Controller = 27,
};

typedef UInt32 AudioUnitParameterOptions;
AU_TYPED_ENUM(UInt32){
    kAudioUnitParameterFlag_CFNameRelease = (1U << 4),
    kAudioUnitParameterFlag_OmitFromPresets = (1U << 13),
    kAudioUnitParameterFlag_PlotHistory = (1U << 14),
    kAudioUnitParameterFlag_MeterReadOnly = (1U << 15),
    kAudioUnitParameterFlag_DisplayMask = (7U << 16) | (1U << 22),
    kAudioUnitParameterFlag_DisplaySquareRoot = (1U << 16),
    kAudioUnitParameterFlag_DisplaySquared = (2U << 16),
    kAudioUnitParameterFlag_DisplayCubed = (3U << 16),
    kAudioUnitParameterFlag_DisplayCubeRoot = (4U << 16),
    kAudioUnitParameterFlag_DisplayExponential = (5U << 16),
    kAudioUnitParameterFlag_HasClump = (1U << 20),
    kAudioUnitParameterFlag_ValuesHaveStrings = (1U << 21),
    kAudioUnitParameterFlag_DisplayLogarithmic = (1U << 22),
    kAudioUnitParameterFlag_IsHighResolution = (1U << 23),
    kAudioUnitParameterFlag_NonRealTime = (1U << 24),
    kAudioUnitParameterFlag_CanRamp = (1U << 25),
    kAudioUnitParameterFlag_ExpertMode = (1U << 26),
    kAudioUnitParameterFlag_HasCFNameString = (1U << 27),
    kAudioUnitParameterFlag_IsGlobalMeta = (1U << 28),
    kAudioUnitParameterFlag_IsElementMeta = (1U << 29),
    kAudioUnitParameterFlag_IsReadable = (1U << 30),
    kAudioUnitParameterFlag_IsWritable = (1U << 31),
};

// 104 bytes on this platform.
typedef struct AudioUnitParameterInfo {
    char name[52];
    CFStringRef unitName;
    UInt32 clumpID;
    CFStringRef cfNameString;
    AudioUnitParameterUnit unit;
    AudioUnitParameterValue minValue;
    AudioUnitParameterValue maxValue;
    AudioUnitParameterValue defaultValue;
    AudioUnitParameterOptions flags;
} AudioUnitParameterInfo;

enum {
    kAudioUnitClumpID_System = 0,
};
enum {
    kAudioUnitParameterName_Full = -1,
};

// A name request for a parameter or a clump: the caller fills the ID and the
// length it wants; the unit answers a string retained for the caller.
typedef struct AudioUnitParameterNameInfo {
    AudioUnitParameterID inID;
    SInt32 inDesiredLength;
    CFStringRef outName;
} AudioUnitParameterNameInfo;
typedef AudioUnitParameterNameInfo AudioUnitParameterIDName;

typedef struct AudioUnitParameterStringFromValue {
    AudioUnitParameterID inParamID;
    const AudioUnitParameterValue* inValue;
    CFStringRef outString;
} AudioUnitParameterStringFromValue;
typedef AudioUnitParameterStringFromValue AudioUnitParameterValueName;

typedef struct AudioUnitParameterValueFromString {
    AudioUnitParameterID inParamID;
    CFStringRef inString;
    AudioUnitParameterValue outValue;
} AudioUnitParameterValueFromString;

typedef struct AudioUnitParameterHistoryInfo {
    Float32 updatesPerSecond;
    Float32 historyDurationInSeconds;
} AudioUnitParameterHistoryInfo;

typedef struct AUDependentParameter {
    AudioUnitScope mScope;
    AudioUnitParameterID mParameterID;
} AUDependentParameter;

enum {
    kNumberOfResponseFrequencies = 1024,
};
typedef struct AudioUnitFrequencyResponseBin {
    Float64 mFrequency;
    Float64 mMagnitude;
} AudioUnitFrequencyResponseBin;

typedef struct AUHostVersionIdentifier {
    CFStringRef hostName;
    UInt32 hostVersion;
} AUHostVersionIdentifier;

typedef struct AUInputSamplesInOutputCallbackStruct {
    AUInputSamplesInOutputCallback inputToOutputCallback;
    void* userData;
} AUInputSamplesInOutputCallbackStruct;

#ifdef __cplusplus
}
#endif
