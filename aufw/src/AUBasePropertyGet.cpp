// AUBase property dispatch, reading: the properties every unit shares are
// answered here; everything else reaches the subclass through GetProperty.
#include <aufw/AUBase.h>

#include <aufw/CAAudioChannelLayout.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

OSStatus AUBase::DispatchGetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                     AudioUnitElement inElement, void* outData) {
    if (outData == nullptr) {
        return kAudio_ParamError;
    }
    switch (inID) {
    case kAudioUnitProperty_ClassInfo: {
        auto* out = static_cast<CFPropertyListRef*>(outData);
        *out = nullptr;
        return SaveState(out);
    }

    case kAudioUnitProperty_SampleRate: {
        const Float64 rate = GetStreamFormat(inScope, inElement).mSampleRate;
        std::memcpy(outData, &rate, sizeof(rate));
        return 0;
    }

    case kAudioUnitProperty_StreamFormat: {
        const AudioStreamBasicDescription& format = GetStreamFormat(inScope, inElement);
        std::memcpy(outData, &format, sizeof(AudioStreamBasicDescription));
        return 0;
    }

    case kAudioUnitProperty_ParameterList: {
        UInt32 count = 0;
        return GetParameterList(inScope, static_cast<AudioUnitParameterID*>(outData), count);
    }

    case kAudioUnitProperty_ParameterInfo:
        return GetParameterInfo(inScope, inElement, *static_cast<AudioUnitParameterInfo*>(outData));

    case kAudioUnitProperty_ParameterValueStrings:
        return GetParameterValueStrings(inScope, inElement, static_cast<CFArrayRef*>(outData));

    case kAudioUnitProperty_ParameterHistoryInfo: {
        auto* info = static_cast<AudioUnitParameterHistoryInfo*>(outData);
        return GetParameterHistoryInfo(inScope, inElement, info->updatesPerSecond,
                                       info->historyDurationInSeconds);
    }

    case kAudioUnitProperty_FastDispatch: {
        if (InstanceType() != kComponentMgrInstance) {
            return kAudioUnitErr_InvalidProperty;
        }
        void* proc = nullptr;
        switch (inElement) {
        case kAudioUnitRenderSelect:
            proc = reinterpret_cast<void*>(&CMgr_AudioUnitBaseRender);
            break;
        case kAudioUnitSetParameterSelect:
            proc = reinterpret_cast<void*>(&CMgr_AudioUnitBaseSetParameter);
            break;
        case kAudioUnitGetParameterSelect:
            proc = reinterpret_cast<void*>(&CMgr_AudioUnitBaseGetParameter);
            break;
        default:
            return GetProperty(inID, inScope, inElement, outData);
        }
        std::memcpy(outData, &proc, sizeof(proc));
        return 0;
    }

    case kAudioUnitProperty_ElementCount: {
        const UInt32 count = GetScope(inScope).GetNumberOfElements();
        std::memcpy(outData, &count, sizeof(count));
        return 0;
    }

    case kAudioUnitProperty_Latency: {
        const Float64 latency = GetLatency();
        std::memcpy(outData, &latency, sizeof(latency));
        return 0;
    }

    case kAudioUnitProperty_TailTime: {
        if (!SupportsTail()) {
            return kAudioUnitErr_InvalidProperty;
        }
        const Float64 tail = GetTailTime();
        std::memcpy(outData, &tail, sizeof(tail));
        return 0;
    }

    case kAudioUnitProperty_SupportedNumChannels: {
        const AUChannelInfo* infos = nullptr;
        const UInt32 entries = SupportedNumChannels(&infos);
        if (entries != 0 && infos != nullptr) {
            std::memcpy(outData, infos, entries * sizeof(AUChannelInfo));
        }
        return 0;
    }

    case kAudioUnitProperty_MaximumFramesPerSlice:
        std::memcpy(outData, &mMaxFramesPerSlice, sizeof(UInt32));
        return 0;

    case kAudioUnitProperty_GetUIComponentList:
        GetUIComponentDescs(static_cast<AudioComponentDescription*>(outData));
        return 0;

    case kAudioUnitProperty_AudioChannelLayout: {
        Boolean writable = false;
        const UInt32 size = GetAudioChannelLayout(
            inScope, inElement, static_cast<AudioChannelLayout*>(outData), writable);
        return size == 0 ? static_cast<OSStatus>(kAudioUnitErr_InvalidProperty) : 0;
    }

    case kAudioUnitProperty_SupportedChannelLayoutTags: {
        const UInt32 tags =
            GetChannelLayoutTags(inScope, inElement, static_cast<AudioChannelLayoutTag*>(outData));
        return tags == 0 ? static_cast<OSStatus>(kAudioUnitErr_InvalidProperty) : 0;
    }

    case kAudioUnitProperty_LastRenderError: {
        // Taken and cleared in one step: an error the render thread records
        // meanwhile stays for the next read instead of being wiped unseen.
        const OSStatus error = mLastRenderError.exchange(noErr);
        std::memcpy(outData, &error, sizeof error);
        return 0;
    }

    case kAudioUnitProperty_FactoryPresets: {
        auto* out = static_cast<CFArrayRef*>(outData);
        *out = nullptr;
        return GetPresets(out);
    }

    case kAudioUnitProperty_ContextName: {
        if (mContextName == nullptr) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
        CFStringRef name = static_cast<CFStringRef>(CFRetain(mContextName));
        std::memcpy(outData, &name, sizeof(name));
        return 0;
    }

    case kAudioUnitProperty_HostCallbacks: {
        const HostCallbackInfo info = mHostCallbackInfo.load();
        std::memcpy(outData, &info, sizeof(info));
        return 0;
    }

    case kAudioUnitProperty_ElementName: {
        CFStringRef name = SafeGetElement(inScope, inElement)->GetName();
        if (name == nullptr) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
        CFRetain(name);
        std::memcpy(outData, &name, sizeof(name));
        return 0;
    }

    case kAudioUnitProperty_ParameterClumpName: {
        auto* nameInfo = static_cast<AudioUnitParameterNameInfo*>(outData);
        if (nameInfo->inID == kAudioUnitClumpID_System) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
        const UInt32 desiredLength = static_cast<UInt32>(nameInfo->inDesiredLength);
        const OSStatus result =
            CopyClumpName(inScope, nameInfo->inID, desiredLength, &nameInfo->outName);
        if (result == kAudioUnitErr_InvalidProperty) {
            return GetProperty(inID, inScope, inElement, outData);
        }
        return result;
    }

    case kAudioUnitProperty_PresentPreset: {
        AUPreset preset = mCurrentPreset;
        if (preset.presetName != nullptr) {
            CFRetain(preset.presetName);
        }
        std::memcpy(outData, &preset, sizeof(preset));
        return 0;
    }

    case kAudioUnitProperty_IconLocation: {
        CFURLRef location = CopyIconLocation();
        if (location == nullptr) {
            return kAudioUnitErr_InvalidProperty;
        }
        std::memcpy(outData, &location, sizeof(location));
        return 0;
    }

    case kAudioUnitProperty_ShouldAllocateBuffer: {
        const UInt32 flag = GetIOElement(inScope, inElement)->WillAllocateBuffer() ? 1 : 0;
        std::memcpy(outData, &flag, sizeof(flag));
        return 0;
    }

    case kAUBaseProperty_LastRenderedSampleTime: {
        const Float64 sampleTime = mCurrentRenderTime.sampleTime();
        std::memcpy(outData, &sampleTime, sizeof(Float64));
        return 0;
    }

    default:
        return GetProperty(inID, inScope, inElement, outData);
    }
}
