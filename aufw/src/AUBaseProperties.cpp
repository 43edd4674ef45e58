// AUBase property dispatch, writing and removing: the properties every unit
// shares are handled here; everything else reaches the subclass through
// SetProperty and RemovePropertyValue.
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
