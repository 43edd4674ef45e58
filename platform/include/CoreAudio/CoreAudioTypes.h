// The audio data types shared by every audio interface of the platform:
// stream formats, buffers, time stamps and channel layouts.
#pragma once

#include <MacTypes.h>
#include <stddef.h>

// Constants get the width of the field they go into, so that flags combine
// without sign or enum-conversion surprises.
#ifdef __cplusplus
#define CA_TYPED_ENUM(type) enum : type
#else
#define CA_TYPED_ENUM(type) enum
#endif

#ifdef __cplusplus
extern "C" {
#endif

// ---------------------------------------------------------------------------
// General audio status codes

enum {
    kAudio_UnimplementedError = -4,
    kAudio_FileNotFoundError = -43,
    kAudio_FilePermissionError = -54,
    kAudio_TooManyFilesOpenError = -42,
    kAudio_BadFilePathError = 0x21707468, // '!pth'
    kAudio_ParamError = -50,
    kAudio_MemFullError = -108,
};

// ---------------------------------------------------------------------------
// Value ranges and translations

typedef struct AudioValueRange {
    Float64 mMinimum;
    Float64 mMaximum;
} AudioValueRange;

typedef struct AudioValueTranslation {
    void* mInputData;
    UInt32 mInputDataSize;
    void* mOutputData;
    UInt32 mOutputDataSize;
} AudioValueTranslation;

// ---------------------------------------------------------------------------
// Buffers

typedef struct AudioBuffer {
    UInt32 mNumberChannels;
    UInt32 mDataByteSize;
    void* mData;
} AudioBuffer;

// A variable-length record: mNumberBuffers buffers follow the count.
typedef struct AudioBufferList {
    UInt32 mNumberBuffers;
    AudioBuffer mBuffers[1];
} AudioBufferList;

// Sample types of the canonical formats: 32-bit float on this processor.
typedef Float32 AudioSampleType;
typedef Float32 AudioUnitSampleType;

// ---------------------------------------------------------------------------
// Stream formats

typedef UInt32 AudioFormatID;
typedef UInt32 AudioFormatFlags;

typedef struct AudioStreamBasicDescription {
    Float64 mSampleRate;
    AudioFormatID mFormatID;
    AudioFormatFlags mFormatFlags;
    UInt32 mBytesPerPacket;
    UInt32 mFramesPerPacket;
    UInt32 mBytesPerFrame;
    UInt32 mChannelsPerFrame;
    UInt32 mBitsPerChannel;
    UInt32 mReserved;
} AudioStreamBasicDescription;

#define kAudioStreamAnyRate 0.0

CA_TYPED_ENUM(AudioFormatID){
    kAudioFormatLinearPCM = 0x6C70636D,            // 'lpcm'
    kAudioFormatAC3 = 0x61632D33,                  // 'ac-3'
    kAudioFormat60958AC3 = 0x63616333,             // 'cac3'
    kAudioFormatAppleIMA4 = 0x696D6134,            // 'ima4'
    kAudioFormatMPEG4AAC = 0x61616320,             // 'aac '
    kAudioFormatMPEG4CELP = 0x63656C70,            // 'celp'
    kAudioFormatMPEG4HVXC = 0x68767863,            // 'hvxc'
    kAudioFormatMPEG4TwinVQ = 0x74777671,          // 'twvq'
    kAudioFormatMACE3 = 0x4D414333,                // 'MAC3'
    kAudioFormatMACE6 = 0x4D414336,                // 'MAC6'
    kAudioFormatULaw = 0x756C6177,                 // 'ulaw'
    kAudioFormatALaw = 0x616C6177,                 // 'alaw'
    kAudioFormatQDesign = 0x51444D43,              // 'QDMC'
    kAudioFormatQDesign2 = 0x51444D32,             // 'QDM2'
    kAudioFormatQUALCOMM = 0x51636C70,             // 'Qclp'
    kAudioFormatMPEGLayer1 = 0x2E6D7031,           // '.mp1'
    kAudioFormatMPEGLayer2 = 0x2E6D7032,           // '.mp2'
    kAudioFormatMPEGLayer3 = 0x2E6D7033,           // '.mp3'
    kAudioFormatTimeCode = 0x74696D65,             // 'time'
    kAudioFormatMIDIStream = 0x6D696469,           // 'midi'
    kAudioFormatParameterValueStream = 0x61707673, // 'apvs'
    kAudioFormatAppleLossless = 0x616C6163,        // 'alac'
    kAudioFormatMPEG4AAC_HE = 0x61616368,          // 'aach'
    kAudioFormatMPEG4AAC_LD = 0x6161636C,          // 'aacl'
    kAudioFormatMPEG4AAC_ELD = 0x61616365,         // 'aace'
    kAudioFormatMPEG4AAC_ELD_SBR = 0x61616366,     // 'aacf'
    kAudioFormatMPEG4AAC_ELD_V2 = 0x61616367,      // 'aacg'
    kAudioFormatMPEG4AAC_HE_V2 = 0x61616370,       // 'aacp'
    kAudioFormatMPEG4AAC_Spatial = 0x61616373,     // 'aacs'
    kAudioFormatAMR = 0x73616D72,                  // 'samr'
    kAudioFormatAMR_WB = 0x73617762,               // 'sawb'
    kAudioFormatAudible = 0x41554442,              // 'AUDB'
    kAudioFormatiLBC = 0x696C6263,                 // 'ilbc'
    kAudioFormatDVIIntelIMA = 0x6D730011,
    kAudioFormatMicrosoftGSM = 0x6D730031,
    kAudioFormatAES3 = 0x61657333,        // 'aes3'
    kAudioFormatEnhancedAC3 = 0x65632D33, // 'ec-3'
    kAudioFormatFLAC = 0x666C6163,        // 'flac'
    kAudioFormatOpus = 0x6F707573,        // 'opus'
};

CA_TYPED_ENUM(AudioFormatFlags){
    kAudioFormatFlagIsFloat = (1U << 0),
    kAudioFormatFlagIsBigEndian = (1U << 1),
    kAudioFormatFlagIsSignedInteger = (1U << 2),
    kAudioFormatFlagIsPacked = (1U << 3),
    kAudioFormatFlagIsAlignedHigh = (1U << 4),
    kAudioFormatFlagIsNonInterleaved = (1U << 5),
    kAudioFormatFlagIsNonMixable = (1U << 6),
    kAudioFormatFlagsAreAllClear = 0x80000000U,

    kLinearPCMFormatFlagIsFloat = kAudioFormatFlagIsFloat,
    kLinearPCMFormatFlagIsBigEndian = kAudioFormatFlagIsBigEndian,
    kLinearPCMFormatFlagIsSignedInteger = kAudioFormatFlagIsSignedInteger,
    kLinearPCMFormatFlagIsPacked = kAudioFormatFlagIsPacked,
    kLinearPCMFormatFlagIsAlignedHigh = kAudioFormatFlagIsAlignedHigh,
    kLinearPCMFormatFlagIsNonInterleaved = kAudioFormatFlagIsNonInterleaved,
    kLinearPCMFormatFlagIsNonMixable = kAudioFormatFlagIsNonMixable,
    kLinearPCMFormatFlagsSampleFractionShift = 7,
    kLinearPCMFormatFlagsSampleFractionMask = (0x3FU << kLinearPCMFormatFlagsSampleFractionShift),
    kLinearPCMFormatFlagsAreAllClear = kAudioFormatFlagsAreAllClear,

    kAppleLosslessFormatFlag_16BitSourceData = 1,
    kAppleLosslessFormatFlag_20BitSourceData = 2,
    kAppleLosslessFormatFlag_24BitSourceData = 3,
    kAppleLosslessFormatFlag_32BitSourceData = 4,

    // This processor is little-endian, so native byte order has no flag bit.
    kAudioFormatFlagsNativeEndian = 0,
    kAudioFormatFlagsCanonical = kAudioFormatFlagIsFloat | kAudioFormatFlagsNativeEndian |
                                 kAudioFormatFlagIsPacked,
    kAudioFormatFlagsAudioUnitCanonical = kAudioFormatFlagIsFloat | kAudioFormatFlagsNativeEndian |
                                          kAudioFormatFlagIsPacked |
                                          kAudioFormatFlagIsNonInterleaved,
    kAudioFormatFlagsNativeFloatPacked = kAudioFormatFlagIsFloat | kAudioFormatFlagsNativeEndian |
                                         kAudioFormatFlagIsPacked,
};

// Fractional bits of the fixed-point unit sample type (8.24).
enum { kAudioUnitSampleFractionBits = 24 };

typedef struct AudioStreamPacketDescription {
    SInt64 mStartOffset;
    UInt32 mVariableFramesInPacket;
    UInt32 mDataByteSize;
} AudioStreamPacketDescription;

typedef struct AudioClassDescription {
    OSType mType;
    OSType mSubType;
    OSType mManufacturer;
} AudioClassDescription;

// ---------------------------------------------------------------------------
// Time stamps

typedef UInt32 SMPTETimeType;
CA_TYPED_ENUM(SMPTETimeType){
    kSMPTETimeType24 = 0,       kSMPTETimeType25 = 1,   kSMPTETimeType30Drop = 2,
    kSMPTETimeType30 = 3,       kSMPTETimeType2997 = 4, kSMPTETimeType2997Drop = 5,
    kSMPTETimeType60 = 6,       kSMPTETimeType5994 = 7, kSMPTETimeType60Drop = 8,
    kSMPTETimeType5994Drop = 9, kSMPTETimeType50 = 10,  kSMPTETimeType2398 = 11,
};

typedef UInt32 SMPTETimeFlags;
CA_TYPED_ENUM(SMPTETimeFlags){
    kSMPTETimeUnknown = 0,
    kSMPTETimeValid = (1U << 0),
    kSMPTETimeRunning = (1U << 1),
};

typedef struct SMPTETime {
    SInt16 mSubframes;
    SInt16 mSubframeDivisor;
    UInt32 mCounter;
    SMPTETimeType mType;
    SMPTETimeFlags mFlags;
    SInt16 mHours;
    SInt16 mMinutes;
    SInt16 mSeconds;
    SInt16 mFrames;
} SMPTETime;

typedef UInt32 AudioTimeStampFlags;
CA_TYPED_ENUM(AudioTimeStampFlags){
    kAudioTimeStampNothingValid = 0,
    kAudioTimeStampSampleTimeValid = (1U << 0),
    kAudioTimeStampHostTimeValid = (1U << 1),
    kAudioTimeStampRateScalarValid = (1U << 2),
    kAudioTimeStampWordClockTimeValid = (1U << 3),
    kAudioTimeStampSMPTETimeValid = (1U << 4),
    kAudioTimeStampSampleHostTimeValid = kAudioTimeStampSampleTimeValid |
                                         kAudioTimeStampHostTimeValid,
};

typedef struct AudioTimeStamp {
    Float64 mSampleTime;
    UInt64 mHostTime;
    Float64 mRateScalar;
    UInt64 mWordClockTime;
    SMPTETime mSMPTETime;
    AudioTimeStampFlags mFlags;
    UInt32 mReserved;
} AudioTimeStamp;

// ---------------------------------------------------------------------------
// Channel layouts

typedef UInt32 AudioChannelLabel;
typedef UInt32 AudioChannelLayoutTag;
typedef UInt32 AudioChannelBitmap;
typedef UInt32 AudioChannelFlags;

CA_TYPED_ENUM(AudioChannelLabel){
    kAudioChannelLabel_Unknown = 0xFFFFFFFFU,
    kAudioChannelLabel_Unused = 0,
    kAudioChannelLabel_UseCoordinates = 100,
    kAudioChannelLabel_Left = 1,
    kAudioChannelLabel_Right = 2,
    kAudioChannelLabel_Center = 3,
    kAudioChannelLabel_LFEScreen = 4,
    kAudioChannelLabel_LeftSurround = 5,
    kAudioChannelLabel_RightSurround = 6,
    kAudioChannelLabel_LeftCenter = 7,
    kAudioChannelLabel_RightCenter = 8,
    kAudioChannelLabel_CenterSurround = 9,
    kAudioChannelLabel_LeftSurroundDirect = 10,
    kAudioChannelLabel_RightSurroundDirect = 11,
    kAudioChannelLabel_TopCenterSurround = 12,
    kAudioChannelLabel_VerticalHeightLeft = 13,
    kAudioChannelLabel_VerticalHeightCenter = 14,
    kAudioChannelLabel_VerticalHeightRight = 15,
    kAudioChannelLabel_TopBackLeft = 16,
    kAudioChannelLabel_TopBackCenter = 17,
    kAudioChannelLabel_TopBackRight = 18,
    kAudioChannelLabel_RearSurroundLeft = 33,
    kAudioChannelLabel_RearSurroundRight = 34,
    kAudioChannelLabel_LeftWide = 35,
    kAudioChannelLabel_RightWide = 36,
    kAudioChannelLabel_LFE2 = 37,
    kAudioChannelLabel_LeftTotal = 38,
    kAudioChannelLabel_RightTotal = 39,
    kAudioChannelLabel_HearingImpaired = 40,
    kAudioChannelLabel_Narration = 41,
    kAudioChannelLabel_Mono = 42,
    kAudioChannelLabel_DialogCentricMix = 43,
    kAudioChannelLabel_CenterSurroundDirect = 44,
    kAudioChannelLabel_Haptic = 45,
    kAudioChannelLabel_Ambisonic_W = 200,
    kAudioChannelLabel_Ambisonic_X = 201,
    kAudioChannelLabel_Ambisonic_Y = 202,
    kAudioChannelLabel_Ambisonic_Z = 203,
    kAudioChannelLabel_MS_Mid = 204,
    kAudioChannelLabel_MS_Side = 205,
    kAudioChannelLabel_XY_X = 206,
    kAudioChannelLabel_XY_Y = 207,
    kAudioChannelLabel_HeadphonesLeft = 301,
    kAudioChannelLabel_HeadphonesRight = 302,
    kAudioChannelLabel_ClickTrack = 304,
    kAudioChannelLabel_ForeignLanguage = 305,
    kAudioChannelLabel_Discrete = 400,
    kAudioChannelLabel_Discrete_0 = (1U << 16) | 0,
    kAudioChannelLabel_Discrete_1 = (1U << 16) | 1,
    kAudioChannelLabel_Discrete_2 = (1U << 16) | 2,
    kAudioChannelLabel_Discrete_3 = (1U << 16) | 3,
    kAudioChannelLabel_Discrete_65535 = (1U << 16) | 65535,
};

CA_TYPED_ENUM(AudioChannelBitmap){
    kAudioChannelBit_Left = (1U << 0),
    kAudioChannelBit_Right = (1U << 1),
    kAudioChannelBit_Center = (1U << 2),
    kAudioChannelBit_LFEScreen = (1U << 3),
    kAudioChannelBit_LeftSurround = (1U << 4),
    kAudioChannelBit_RightSurround = (1U << 5),
    kAudioChannelBit_LeftCenter = (1U << 6),
    kAudioChannelBit_RightCenter = (1U << 7),
    kAudioChannelBit_CenterSurround = (1U << 8),
    kAudioChannelBit_LeftSurroundDirect = (1U << 9),
    kAudioChannelBit_RightSurroundDirect = (1U << 10),
    kAudioChannelBit_TopCenterSurround = (1U << 11),
    kAudioChannelBit_VerticalHeightLeft = (1U << 12),
    kAudioChannelBit_VerticalHeightCenter = (1U << 13),
    kAudioChannelBit_VerticalHeightRight = (1U << 14),
    kAudioChannelBit_TopBackLeft = (1U << 15),
    kAudioChannelBit_TopBackCenter = (1U << 16),
    kAudioChannelBit_TopBackRight = (1U << 17),
};

CA_TYPED_ENUM(AudioChannelFlags){
    kAudioChannelFlags_AllOff = 0,
    kAudioChannelFlags_RectangularCoordinates = (1U << 0),
    kAudioChannelFlags_SphericalCoordinates = (1U << 1),
    kAudioChannelFlags_Meters = (1U << 2),
};

enum {
    kAudioChannelCoordinates_LeftRight = 0,
    kAudioChannelCoordinates_BackFront = 1,
    kAudioChannelCoordinates_DownUp = 2,
    kAudioChannelCoordinates_Azimuth = 0,
    kAudioChannelCoordinates_Elevation = 1,
    kAudioChannelCoordinates_Distance = 2,
};

// The low 16 bits of a layout tag carry its channel count.
#define AudioChannelLayoutTag_GetNumberOfChannels(layoutTag) ((UInt32)((layoutTag)&0x0000FFFF))

CA_TYPED_ENUM(AudioChannelLayoutTag){
    kAudioChannelLayoutTag_UseChannelDescriptions = (0U << 16) | 0,
    kAudioChannelLayoutTag_UseChannelBitmap = (1U << 16) | 0,
    kAudioChannelLayoutTag_Mono = (100U << 16) | 1,
    kAudioChannelLayoutTag_Stereo = (101U << 16) | 2,
    kAudioChannelLayoutTag_StereoHeadphones = (102U << 16) | 2,
    kAudioChannelLayoutTag_MatrixStereo = (103U << 16) | 2,
    kAudioChannelLayoutTag_MidSide = (104U << 16) | 2,
    kAudioChannelLayoutTag_XY = (105U << 16) | 2,
    kAudioChannelLayoutTag_Binaural = (106U << 16) | 2,
    kAudioChannelLayoutTag_Ambisonic_B_Format = (107U << 16) | 4,
    kAudioChannelLayoutTag_Quadraphonic = (108U << 16) | 4,
    kAudioChannelLayoutTag_Pentagonal = (109U << 16) | 5,
    kAudioChannelLayoutTag_Hexagonal = (110U << 16) | 6,
    kAudioChannelLayoutTag_Octagonal = (111U << 16) | 8,
    kAudioChannelLayoutTag_Cube = (112U << 16) | 8,
    kAudioChannelLayoutTag_MPEG_1_0 = kAudioChannelLayoutTag_Mono,
    kAudioChannelLayoutTag_MPEG_2_0 = kAudioChannelLayoutTag_Stereo,
    kAudioChannelLayoutTag_MPEG_3_0_A = (113U << 16) | 3,
    kAudioChannelLayoutTag_MPEG_3_0_B = (114U << 16) | 3,
    kAudioChannelLayoutTag_MPEG_4_0_A = (115U << 16) | 4,
    kAudioChannelLayoutTag_MPEG_4_0_B = (116U << 16) | 4,
    kAudioChannelLayoutTag_MPEG_5_0_A = (117U << 16) | 5,
    kAudioChannelLayoutTag_MPEG_5_0_B = (118U << 16) | 5,
    kAudioChannelLayoutTag_MPEG_5_0_C = (119U << 16) | 5,
    kAudioChannelLayoutTag_MPEG_5_0_D = (120U << 16) | 5,
    kAudioChannelLayoutTag_MPEG_5_1_A = (121U << 16) | 6,
    kAudioChannelLayoutTag_MPEG_5_1_B = (122U << 16) | 6,
    kAudioChannelLayoutTag_MPEG_5_1_C = (123U << 16) | 6,
    kAudioChannelLayoutTag_MPEG_5_1_D = (124U << 16) | 6,
    kAudioChannelLayoutTag_MPEG_6_1_A = (125U << 16) | 7,
    kAudioChannelLayoutTag_MPEG_7_1_A = (126U << 16) | 8,
    kAudioChannelLayoutTag_MPEG_7_1_B = (127U << 16) | 8,
    kAudioChannelLayoutTag_MPEG_7_1_C = (128U << 16) | 8,
    kAudioChannelLayoutTag_Emagic_Default_7_1 = (129U << 16) | 8,
    kAudioChannelLayoutTag_SMPTE_DTV = (130U << 16) | 8,
    kAudioChannelLayoutTag_ITU_1_0 = kAudioChannelLayoutTag_Mono,
    kAudioChannelLayoutTag_ITU_2_0 = kAudioChannelLayoutTag_Stereo,
    kAudioChannelLayoutTag_ITU_2_1 = (131U << 16) | 3,
    kAudioChannelLayoutTag_ITU_2_2 = (132U << 16) | 4,
    kAudioChannelLayoutTag_ITU_3_0 = kAudioChannelLayoutTag_MPEG_3_0_A,
    kAudioChannelLayoutTag_ITU_3_1 = kAudioChannelLayoutTag_MPEG_4_0_A,
    kAudioChannelLayoutTag_ITU_3_2 = kAudioChannelLayoutTag_MPEG_5_0_A,
    kAudioChannelLayoutTag_ITU_3_2_1 = kAudioChannelLayoutTag_MPEG_5_1_A,
    kAudioChannelLayoutTag_ITU_3_4_1 = kAudioChannelLayoutTag_MPEG_7_1_C,
    kAudioChannelLayoutTag_AudioUnit_4 = kAudioChannelLayoutTag_Quadraphonic,
    kAudioChannelLayoutTag_AudioUnit_5 = kAudioChannelLayoutTag_Pentagonal,
    kAudioChannelLayoutTag_AudioUnit_6 = kAudioChannelLayoutTag_Hexagonal,
    kAudioChannelLayoutTag_AudioUnit_8 = kAudioChannelLayoutTag_Octagonal,
    kAudioChannelLayoutTag_AudioUnit_5_0 = kAudioChannelLayoutTag_MPEG_5_0_B,
    kAudioChannelLayoutTag_AudioUnit_6_0 = (139U << 16) | 6,
    kAudioChannelLayoutTag_AudioUnit_7_0 = (140U << 16) | 7,
    kAudioChannelLayoutTag_AudioUnit_7_0_Front = (148U << 16) | 7,
    kAudioChannelLayoutTag_AudioUnit_5_1 = kAudioChannelLayoutTag_MPEG_5_1_A,
    kAudioChannelLayoutTag_AudioUnit_6_1 = kAudioChannelLayoutTag_MPEG_6_1_A,
    kAudioChannelLayoutTag_AudioUnit_7_1 = kAudioChannelLayoutTag_MPEG_7_1_C,
    kAudioChannelLayoutTag_AudioUnit_7_1_Front = kAudioChannelLayoutTag_MPEG_7_1_A,
    // Needs the channel count in the low 16 bits.
    kAudioChannelLayoutTag_DiscreteInOrder = (147U << 16) | 0,
    kAudioChannelLayoutTag_Unknown = 0xFFFF0000U,
};

typedef struct AudioChannelDescription {
    AudioChannelLabel mChannelLabel;
    AudioChannelFlags mChannelFlags;
    Float32 mCoordinates[3];
} AudioChannelDescription;

// A variable-length record: mNumberChannelDescriptions descriptions follow.
typedef struct AudioChannelLayout {
    AudioChannelLayoutTag mChannelLayoutTag;
    AudioChannelBitmap mChannelBitmap;
    UInt32 mNumberChannelDescriptions;
    AudioChannelDescription mChannelDescriptions[1];
} AudioChannelLayout;

#ifdef __cplusplus
} // extern "C"
#endif

#undef CA_TYPED_ENUM

// The records cross the plug-in boundary byte for byte, so their layout is
// part of the interface.
#ifdef __cplusplus
static_assert(sizeof(AudioStreamBasicDescription) == 40, "stream format record is 40 bytes");
static_assert(offsetof(AudioStreamBasicDescription, mReserved) == 36, "reserved word last");
static_assert(sizeof(AudioBuffer) == 16, "buffer record is 16 bytes");
static_assert(offsetof(AudioBufferList, mBuffers) == 8, "buffers follow the padded count");
static_assert(sizeof(AudioStreamPacketDescription) == 16, "packet record is 16 bytes");
static_assert(sizeof(SMPTETime) == 24, "SMPTE record is 24 bytes");
static_assert(sizeof(AudioTimeStamp) == 64, "time stamp record is 64 bytes");
static_assert(sizeof(AudioChannelDescription) == 20, "channel description is 20 bytes");
static_assert(offsetof(AudioChannelLayout, mChannelDescriptions) == 12, "descriptions follow");

// Byte counts of the variable-length records.
inline constexpr size_t AudioBufferListByteSize(UInt32 numberBuffers) {
    return offsetof(AudioBufferList, mBuffers) + numberBuffers * sizeof(AudioBuffer);
}

inline constexpr bool IsAudioFormatNativeEndian(const AudioStreamBasicDescription& f) {
    return (f.mFormatID == kAudioFormatLinearPCM) &&
           ((f.mFormatFlags & kAudioFormatFlagIsBigEndian) == kAudioFormatFlagsNativeEndian);
}

inline constexpr UInt32 CalculateLPCMFlags(UInt32 inValidBitsPerChannel,
                                           UInt32 inTotalBitsPerChannel, bool inIsFloat,
                                           bool inIsBigEndian, bool inIsNonInterleaved = false) {
    return (inIsFloat ? UInt32(kAudioFormatFlagIsFloat) : UInt32(kAudioFormatFlagIsSignedInteger)) |
           (inIsBigEndian ? UInt32(kAudioFormatFlagIsBigEndian) : 0U) |
           ((inValidBitsPerChannel == inTotalBitsPerChannel)
                ? UInt32(kAudioFormatFlagIsPacked)
                : UInt32(kAudioFormatFlagIsAlignedHigh)) |
           (inIsNonInterleaved ? UInt32(kAudioFormatFlagIsNonInterleaved) : 0U);
}

inline void FillOutASBDForLPCM(AudioStreamBasicDescription& outASBD, Float64 inSampleRate,
                               UInt32 inChannelsPerFrame, UInt32 inValidBitsPerChannel,
                               UInt32 inTotalBitsPerChannel, bool inIsFloat, bool inIsBigEndian,
                               bool inIsNonInterleaved = false) {
    outASBD.mSampleRate = inSampleRate;
    outASBD.mFormatID = kAudioFormatLinearPCM;
    outASBD.mFormatFlags = CalculateLPCMFlags(inValidBitsPerChannel, inTotalBitsPerChannel,
                                              inIsFloat, inIsBigEndian, inIsNonInterleaved);
    outASBD.mBytesPerPacket =
        (inIsNonInterleaved ? 1 : inChannelsPerFrame) * (inTotalBitsPerChannel / 8);
    outASBD.mFramesPerPacket = 1;
    outASBD.mBytesPerFrame =
        (inIsNonInterleaved ? 1 : inChannelsPerFrame) * (inTotalBitsPerChannel / 8);
    outASBD.mChannelsPerFrame = inChannelsPerFrame;
    outASBD.mBitsPerChannel = inValidBitsPerChannel;
    outASBD.mReserved = 0;
}

inline void FillOutAudioTimeStampWithSampleTime(AudioTimeStamp& outATS, Float64 inSampleTime) {
    outATS = AudioTimeStamp{};
    outATS.mSampleTime = inSampleTime;
    outATS.mFlags = kAudioTimeStampSampleTimeValid;
}

inline void FillOutAudioTimeStampWithHostTime(AudioTimeStamp& outATS, UInt64 inHostTime) {
    outATS = AudioTimeStamp{};
    outATS.mHostTime = inHostTime;
    outATS.mFlags = kAudioTimeStampHostTimeValid;
}

inline void FillOutAudioTimeStampWithSampleAndHostTime(AudioTimeStamp& outATS, Float64 inSampleTime,
                                                       UInt64 inHostTime) {
    outATS = AudioTimeStamp{};
    outATS.mSampleTime = inSampleTime;
    outATS.mHostTime = inHostTime;
    outATS.mFlags = kAudioTimeStampSampleHostTimeValid;
}
#endif
