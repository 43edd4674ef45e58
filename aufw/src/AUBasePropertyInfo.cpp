// AUBase property dispatch, sizes and writability: what a host learns
// before it reads or writes a property.
#include <aufw/AUBase.h>

#include <aufw/CAAudioChannelLayout.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

bool IsGlobal(AudioUnitScope s) {
    return s == kAudioUnitScope_Global;
}

} // namespace

OSStatus AUBase::DispatchGetPropertyInfo(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                         AudioUnitElement inElement, UInt32& outDataSize,
                                         Boolean& outWritable) {
    bool validate = true;
    switch (inID) {
    case kAudioUnitProperty_ClassInfo:
        if (!IsGlobal(inScope)) {
            return kAudioUnitErr_InvalidScope;
        }
        outDataSize = sizeof(CFPropertyListRef);
        outWritable = true;
        break;

    case kAudioUnitProperty_MakeConnection:
        if (inScope != kAudioUnitScope_Global && inScope != kAudioUnitScope_Input) {
            return kAudioUnitErr_InvalidScope;
        }
        outDataSize = sizeof(AudioUnitConnection);
        outWritable = true;
        break;

    case kAudioUnitProperty_SampleRate:
        outDataSize = sizeof(Float64);
        outWritable = IsStreamFormatWritable(inScope, inElement);
        break;

    case kAudioUnitProperty_ParameterList: {
        UInt32 count = 0;
        const OSStatus result = GetParameterList(inScope, nullptr, count);
        outDataSize = count * static_cast<UInt32>(sizeof(AudioUnitParameterID));
        outWritable = false;
        return result;
    }

    case kAudioUnitProperty_ParameterInfo:
        outDataSize = sizeof(AudioUnitParameterInfo);
        outWritable = false;
        validate = false;
        break;

    case kAudioUnitProperty_FastDispatch:
        if (!IsGlobal(inScope)) {
            return kAudioUnitErr_InvalidScope;
        }
        outDataSize = sizeof(void*);
        outWritable = false;
        if (InstanceType() != kComponentMgrInstance) {
            return kAudioUnitErr_InvalidProperty;
        }
        validate = false;
        break;

    case kAudioUnitProperty_StreamFormat:
        outDataSize = sizeof(AudioStreamBasicDescription);
        outWritable = IsStreamFormatWritable(inScope, inElement);
        break;

    case kAudioUnitProperty_ElementCount:
        outDataSize = sizeof(UInt32);
        outWritable = BusCountWritable(inScope);
        validate = false;
        break;

    case kAudioUnitProperty_Latency:
        if (!IsGlobal(inScope)) {
            return kAudioUnitErr_InvalidScope;
        }
        outDataSize = sizeof(Float64);
        outWritable = false;
        break;

    case kAudioUnitProperty_SupportedNumChannels: {
        if (!IsGlobal(inScope)) {
            return kAudioUnitErr_InvalidScope;
        }
        const UInt32 entries = SupportedNumChannels(nullptr);
        outDataSize = entries * static_cast<UInt32>(sizeof(AUChannelInfo));
        outWritable = false;
        if (entries == 0) {
            return kAudioUnitErr_InvalidProperty;
        }
        break;
    }

    case kAudioUnitProperty_MaximumFramesPerSlice:
        if (!IsGlobal(inScope)) {
            return kAudioUnitErr_InvalidScope;
        }
        outDataSize = sizeof(UInt32);
        outWritable = true;
        break;

    case kAudioUnitProperty_ParameterValueStrings: {
        outDataSize = sizeof(CFArrayRef);
        outWritable = false;
        const OSStatus result = GetParameterValueStrings(inScope, inElement, nullptr);
        if (result != 0) {
            return result;
        }
        validate = false;
        break;
    }

    case kAudioUnitProperty_GetUIComponentList: {
        if (!IsGlobal(inScope)) {
            return kAudioUnitErr_InvalidScope;
        }
        const int count = GetNumCustomUIComponents();
        outDataSize = count > 0 ? static_cast<UInt32>(count) *
                                      static_cast<UInt32>(sizeof(AudioComponentDescription))
                                : 0;
        outWritable = false;
        if (count <= 0) {
            return kAudioUnitErr_InvalidProperty;
        }
        break;
    }

    case kAudioUnitProperty_AudioChannelLayout: {
        outWritable = false;
        outDataSize = GetAudioChannelLayout(inScope, inElement, nullptr, outWritable);
        if (outDataSize == 0) {
            return GetChannelLayoutTags(inScope, inElement, nullptr) != 0
                       ? kAudioUnitErr_InvalidPropertyValue
                       : kAudioUnitErr_InvalidProperty;
        }
        validate = false;
        break;
    }

    case kAudioUnitProperty_TailTime:
        if (!IsGlobal(inScope)) {
            return kAudioUnitErr_InvalidScope;
        }
        outDataSize = sizeof(Float64);
        outWritable = false;
        if (!SupportsTail()) {
            return kAudioUnitErr_InvalidProperty;
        }
        break;

    case kAudioUnitProperty_LastRenderError:
        if (!IsGlobal(inScope)) {
            return kAudioUnitErr_InvalidScope;
        }
        outDataSize = sizeof(OSStatus);
        outWritable = false;
        break;

    case kAudioUnitProperty_SetRenderCallback:
        if (inScope != kAudioUnitScope_Global && inScope != kAudioUnitScope_Input) {
            return kAudioUnitErr_InvalidScope;
        }
        outDataSize = sizeof(AURenderCallbackStruct);
        outWritable = true;
        break;

    case kAudioUnitProperty_FactoryPresets: {
        if (!IsGlobal(inScope)) {
            return kAudioUnitErr_InvalidScope;
        }
        outDataSize = sizeof(CFArrayRef);
        outWritable = false;
        const OSStatus result = GetPresets(nullptr);
        if (result != 0) {
            return result;
        }
        break;
    }

    case kAudioUnitProperty_ContextName:
        if (!IsGlobal(inScope)) {
            return kAudioUnitErr_InvalidScope;
        }
        outDataSize = sizeof(CFStringRef);
        outWritable = true;
        break;

    case kAudioUnitProperty_HostCallbacks:
        if (!IsGlobal(inScope)) {
            return kAudioUnitErr_InvalidScope;
        }
        outDataSize = sizeof(HostCallbackInfo);
        outWritable = true;
        break;

    case kAudioUnitProperty_ElementName:
        outDataSize = sizeof(CFStringRef);
        outWritable = true;
        break;

    case kAudioUnitProperty_SupportedChannelLayoutTags: {
        const UInt32 tags = GetChannelLayoutTags(inScope, inElement, nullptr);
        outDataSize = tags * static_cast<UInt32>(sizeof(AudioChannelLayoutTag));
        outWritable = false;
        if (tags == 0) {
            return kAudioUnitErr_InvalidProperty;
        }
        validate = false;
        break;
    }

    case kAudioUnitProperty_ParameterClumpName:
        outDataSize = sizeof(AudioUnitParameterNameInfo);
        outWritable = false;
        break;

    case kAudioUnitProperty_PresentPreset:
        if (!IsGlobal(inScope)) {
            return kAudioUnitErr_InvalidScope;
        }
        outDataSize = sizeof(AUPreset);
        outWritable = true;
        break;

    case kAudioUnitProperty_IconLocation: {
        if (!IsGlobal(inScope)) {
            return kAudioUnitErr_InvalidScope;
        }
        outDataSize = sizeof(CFURLRef);
        outWritable = false;
        CFURLRef location = CopyIconLocation();
        if (location == nullptr) {
            return kAudioUnitErr_InvalidProperty;
        }
        CFRelease(location);
        break;
    }

    case kAudioUnitProperty_ShouldAllocateBuffer:
        if (inScope != kAudioUnitScope_Input && inScope != kAudioUnitScope_Output) {
            return kAudioUnitErr_InvalidScope;
        }
        outDataSize = sizeof(UInt32);
        outWritable = true;
        break;

    case kAudioUnitProperty_ParameterHistoryInfo:
        outDataSize = sizeof(AudioUnitParameterHistoryInfo);
        outWritable = false;
        validate = false;
        break;

    case kAUBaseProperty_LastRenderedSampleTime:
        outDataSize = sizeof(Float64);
        outWritable = false;
        break;

    default:
        return GetPropertyInfo(inID, inScope, inElement, outDataSize, outWritable);
    }

    if (validate) {
        // An unknown extended scope raises; a missing element is an answer.
        if (GetScope(inScope).GetElement(inElement) == nullptr) {
            return kAudioUnitErr_InvalidElement;
        }
    }
    return 0;
}
