// AUBase property dispatch: the properties every unit shares are answered
// here; everything else reaches the subclass through the virtual hooks.
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

OSStatus AUBase::DispatchSetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                     AudioUnitElement inElement, const void* inData,
                                     UInt32 inDataSize) {
    if (inData == nullptr) {
        return kAudio_ParamError;
    }
    switch (inID) {
    case kAudioUnitProperty_ClassInfo: {
        if (inDataSize != sizeof(CFPropertyListRef)) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
        if (!IsGlobal(inScope)) {
            return kAudioUnitErr_InvalidScope;
        }
        CFPropertyListRef document = nullptr;
        std::memcpy(&document, inData, sizeof(document));
        return RestoreState(document);
    }

    case kAudioUnitProperty_MakeConnection: {
        if (inDataSize < sizeof(AudioUnitConnection)) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
        AudioUnitConnection connection{};
        std::memcpy(&connection, inData, sizeof(connection));
        return SetConnection(connection);
    }

    case kAudioUnitProperty_SampleRate: {
        if (inDataSize != sizeof(Float64)) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
        if (GetScope(inScope).GetElement(inElement) == nullptr) {
            return kAudioUnitErr_InvalidElement;
        }
        const CAStreamBasicDescription current = GetStreamFormat(inScope, inElement);
        CAStreamBasicDescription requested = current;
        std::memcpy(&requested.mSampleRate, inData, sizeof(Float64));
        return ApplyStreamFormat(inScope, inElement, current, requested);
    }

    case kAudioUnitProperty_StreamFormat: {
        // The reserved last field may be left out.
        if (inDataSize < offsetof(AudioStreamBasicDescription, mReserved)) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
        if (GetScope(inScope).GetElement(inElement) == nullptr) {
            return kAudioUnitErr_InvalidElement;
        }
        CAStreamBasicDescription requested;
        std::memset(static_cast<AudioStreamBasicDescription*>(&requested), 0,
                    sizeof(AudioStreamBasicDescription));
        std::memcpy(static_cast<AudioStreamBasicDescription*>(&requested), inData,
                    std::min<size_t>(inDataSize, sizeof(AudioStreamBasicDescription)));
        const CAStreamBasicDescription current = GetStreamFormat(inScope, inElement);
        return ApplyStreamFormat(inScope, inElement, current, requested);
    }

    case kAudioUnitProperty_ElementCount: {
        if (inDataSize != sizeof(UInt32)) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
        if (!BusCountWritable(inScope)) {
            return kAudioUnitErr_PropertyNotWritable;
        }
        UInt32 count = 0;
        std::memcpy(&count, inData, sizeof(count));
        const OSStatus result = SetBusCount(inScope, count);
        if (result == 0) {
            PropertyChanged(inID, inScope, inElement);
        }
        return result;
    }

    case kAudioUnitProperty_MaximumFramesPerSlice: {
        if (inDataSize != sizeof(UInt32)) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
        const OSStatus result = CanSetMaxFrames();
        if (result != 0) {
            return result;
        }
        UInt32 frames = 0;
        std::memcpy(&frames, inData, sizeof(frames));
        SetMaxFramesPerSlice(frames);
        return 0;
    }

    case kAudioUnitProperty_SetExternalBuffer: {
        if (inDataSize < sizeof(AudioUnitExternalBuffer)) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
        if (!IsInitialized()) {
            return kAudioUnitErr_Uninitialized;
        }
        AudioUnitExternalBuffer buffer{};
        std::memcpy(&buffer, inData, sizeof(buffer));
        // A null block passes the alignment test but would leave the element
        // rendering through null data pointers.
        if (buffer.buffer == nullptr || (reinterpret_cast<uintptr_t>(buffer.buffer) & 0xF) != 0) {
            return kAudio_ParamError;
        }
        const AudioUnitScope scope =
            inScope == kAudioUnitScope_Input ? kAudioUnitScope_Input : kAudioUnitScope_Output;
        mScopes[scope].GetIOElement(inElement)->UseExternalBuffer(buffer);
        return 0;
    }

    case kAudioUnitProperty_AudioChannelLayout: {
        if (inDataSize < offsetof(AudioChannelLayout, mChannelDescriptions)) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
        const auto* layout = static_cast<const AudioChannelLayout*>(inData);
        if (inDataSize <
            CAAudioChannelLayout::CalculateByteSize(layout->mNumberChannelDescriptions)) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
        const OSStatus result = SetAudioChannelLayout(inScope, inElement, layout);
        if (result == 0) {
            PropertyChanged(inID, inScope, inElement);
        }
        return result;
    }

    case kAudioUnitProperty_SetRenderCallback: {
        if (inDataSize < sizeof(AURenderCallbackStruct)) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
        AURenderCallbackStruct callback{};
        std::memcpy(&callback, inData, sizeof(callback));
        return SetInputCallback(kAudioUnitProperty_SetRenderCallback, inElement, callback.inputProc,
                                callback.inputProcRefCon);
    }

    case kAudioUnitProperty_ContextName: {
        if (inDataSize != sizeof(CFStringRef)) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
        if (!IsGlobal(inScope)) {
            return kAudioUnitErr_InvalidScope;
        }
        CFStringRef name = nullptr;
        std::memcpy(&name, inData, sizeof(name));
        if (name != nullptr) {
            CFRetain(name);
        }
        if (mContextName != nullptr) {
            CFRelease(mContextName);
        }
        mContextName = name;
        PropertyChanged(inID, inScope, inElement);
        return 0;
    }

    case kAudioUnitProperty_HostCallbacks: {
        if (!IsGlobal(inScope)) {
            return kAudioUnitErr_InvalidScope;
        }
        HostCallbackInfo incoming{};
        std::memcpy(&incoming, inData, std::min<size_t>(inDataSize, sizeof(incoming)));
        const HostCallbackInfo current = mHostCallbackInfo.load();
        if (std::memcmp(&incoming, &current, sizeof(incoming)) != 0) {
            mHostCallbackInfo.store(incoming);
            PropertyChanged(inID, inScope, inElement);
        }
        return 0;
    }

    case kAudioUnitProperty_ElementName: {
        AUElement* element = GetScope(inScope).GetElement(inElement);
        if (element == nullptr) {
            return kAudioUnitErr_InvalidElement;
        }
        if (inDataSize != sizeof(CFStringRef)) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
        CFStringRef name = nullptr;
        std::memcpy(&name, inData, sizeof(name));
        element->SetName(name);
        PropertyChanged(inID, inScope, inElement);
        return 0;
    }

    case kAudioUnitProperty_PresentPreset: {
        if (inDataSize != sizeof(AUPreset)) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
        if (!IsGlobal(inScope)) {
            return kAudioUnitErr_InvalidScope;
        }
        AUPreset preset{};
        std::memcpy(&preset, inData, sizeof(preset));
        if (preset.presetNumber < 0) {
            if (preset.presetName == nullptr) {
                return kAudioUnitErr_InvalidPropertyValue;
            }
            SetAFactoryPresetAsCurrent(preset);
            PropertyChanged(inID, inScope, inElement);
            return 0;
        }
        const OSStatus result = NewFactoryPresetSet(preset);
        if (result != 0) {
            return result;
        }
        PropertyChanged(inID, inScope, inElement);
        return 0;
    }

    case kAudioUnitProperty_ShouldAllocateBuffer: {
        if (inScope != kAudioUnitScope_Input && inScope != kAudioUnitScope_Output) {
            return kAudioUnitErr_InvalidScope;
        }
        if (GetScope(inScope).GetElement(inElement) == nullptr) {
            return kAudioUnitErr_InvalidElement;
        }
        if (inDataSize != sizeof(UInt32)) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
        if (IsInitialized()) {
            return kAudioUnitErr_Initialized;
        }
        UInt32 flag = 0;
        std::memcpy(&flag, inData, sizeof(flag));
        GetIOElement(inScope, inElement)->SetWillAllocateBuffer(flag != 0);
        return 0;
    }

    default: {
        const OSStatus result = SetProperty(inID, inScope, inElement, inData, inDataSize);
        if (result == 0) {
            PropertyChanged(inID, inScope, inElement);
        }
        return result;
    }
    }
}

OSStatus AUBase::ApplyStreamFormat(AudioUnitScope inScope, AudioUnitElement inElement,
                                   const CAStreamBasicDescription& inCurrent,
                                   const CAStreamBasicDescription& inRequested) {
    if (!ValidFormat(inScope, inElement, inRequested)) {
        return kAudioUnitErr_FormatNotSupported;
    }
    if (inCurrent.IsEqual(inRequested, false)) {
        return 0;
    }
    bool writable = false;
    switch (inScope) {
    case kAudioUnitScope_Global:
        writable = StreamFormatWritable(kAudioUnitScope_Output, 0);
        break;
    case kAudioUnitScope_Input: {
        AUInputElement* input = GetInput(inElement);
        writable = !(input != nullptr && input->HasConnection()) &&
                   StreamFormatWritable(kAudioUnitScope_Input, inElement);
        break;
    }
    case kAudioUnitScope_Output:
        writable = StreamFormatWritable(kAudioUnitScope_Output, inElement);
        break;
    default:
        writable = false;
        break;
    }
    if (!writable) {
        return kAudioUnitErr_PropertyNotWritable;
    }
    return ChangeStreamFormat(inScope, inElement, inCurrent, inRequested);
}

OSStatus AUBase::DispatchRemovePropertyValue(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                             AudioUnitElement inElement) {
    switch (inID) {
    case kAudioUnitProperty_HostCallbacks: {
        if (!IsGlobal(inScope)) {
            return kAudioUnitErr_InvalidScope;
        }
        static const HostCallbackInfo kZero{};
        const HostCallbackInfo current = mHostCallbackInfo.load();
        if (std::memcmp(&current, &kZero, sizeof(kZero)) == 0) {
            return 0;
        }
        mHostCallbackInfo.store(kZero);
        PropertyChanged(inID, inScope, inElement);
        return 0;
    }

    case kAudioUnitProperty_ContextName:
        if (mContextName != nullptr) {
            CFRelease(mContextName);
            mContextName = nullptr;
        }
        return 0;

    case kAudioUnitProperty_AudioChannelLayout: {
        const OSStatus result = RemoveAudioChannelLayout(inScope, inElement);
        if (result == 0) {
            PropertyChanged(inID, inScope, inElement);
        }
        return result;
    }

    default:
        return RemovePropertyValue(inID, inScope, inElement);
    }
}
