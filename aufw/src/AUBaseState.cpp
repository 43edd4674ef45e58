// The ClassInfo document: a unit's whole state as one property list that
// hosts keep in their own documents and preset files and hand back later.
#include <aufw/AUBase.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr AudioUnitScope kSavedScopes[] = {kAudioUnitScope_Global, kAudioUnitScope_Input,
                                           kAudioUnitScope_Output};
constexpr AudioUnitScope kNamedScopes[] = {kAudioUnitScope_Global, kAudioUnitScope_Input,
                                           kAudioUnitScope_Output, kAudioUnitScope_Group};

// A record's scope, element and parameter count precede its parameters.
constexpr size_t kRecordHeaderBytes = 8;
constexpr size_t kCountBytes = 4;
constexpr size_t kParameterBytes = 8;

void SetSInt32(CFMutableDictionaryRef dict, CFStringRef key, SInt32 value) {
    CFNumberRef number = CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &value);
    CFDictionarySetValue(dict, key, number);
    CFRelease(number);
}

void SetFloat32(CFMutableDictionaryRef dict, CFStringRef key, Float32 value) {
    CFNumberRef number = CFNumberCreate(kCFAllocatorDefault, kCFNumberFloatType, &value);
    CFDictionarySetValue(dict, key, number);
    CFRelease(number);
}

void AppendBigEndian32(CFMutableDataRef data, UInt32 value) {
    const UInt8 bytes[4] = {static_cast<UInt8>(value >> 24), static_cast<UInt8>(value >> 16),
                            static_cast<UInt8>(value >> 8), static_cast<UInt8>(value)};
    CFDataAppendBytes(data, bytes, sizeof(bytes));
}

UInt32 ReadBigEndian32(const UInt8* p) {
    return (UInt32{p[0]} << 24) | (UInt32{p[1]} << 16) | (UInt32{p[2]} << 8) | UInt32{p[3]};
}

bool IsOfType(const void* value, CFTypeID type) {
    return value != nullptr && CFGetTypeID(value) == type;
}

// The value of a number of the document, or false when the key is missing or
// its value is not a number.
bool GetSInt32(CFDictionaryRef dict, CFStringRef key, SInt32& out) {
    const void* value = CFDictionaryGetValue(dict, key);
    if (!IsOfType(value, CFNumberGetTypeID())) {
        return false;
    }
    // A value that does not fit (or is not whole) is not the number asked for.
    return CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberSInt32Type, &out);
}

CFStringRef CreateDecimalKey(UInt32 value) {
    char text[16];
    std::snprintf(text, sizeof(text), "%d", static_cast<int>(value));
    return CFStringCreateWithCString(kCFAllocatorDefault, text, kCFStringEncodingASCII);
}

} // namespace

OSStatus AUBase::SaveState(CFPropertyListRef* outData) {
    if (outData == nullptr) {
        return kAudio_ParamError;
    }
    const AudioComponentDescription desc = GetComponentDescription();
    CFMutableDictionaryRef dict = CFDictionaryCreateMutable(
        kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);

    SetSInt32(dict, kVersionString, 0);
    SetSInt32(dict, kTypeString, static_cast<SInt32>(desc.componentType));
    SetSInt32(dict, kSubtypeString, static_cast<SInt32>(desc.componentSubType));
    SetSInt32(dict, kManufacturerString, static_cast<SInt32>(desc.componentManufacturer));

    CFMutableDataRef data = CFDataCreateMutable(kCFAllocatorDefault, 0);
    try {
        for (const AudioUnitScope scopeID : kSavedScopes) {
            AUScope& scope = mScopes[scopeID];
            for (UInt32 i = 0, n = scope.GetNumberOfElements(); i < n; ++i) {
                AUElement* element = scope.GetElement(i);
                if (element->GetNumberOfParameters() == 0) {
                    continue;
                }
                AppendBigEndian32(data, scopeID);
                AppendBigEndian32(data, i);
                element->SaveState(data);
            }
        }
    } catch (...) {
        CFRelease(data);
        CFRelease(dict);
        throw;
    }
    CFDictionarySetValue(dict, kDataString, data);
    CFRelease(data);

    CFDictionarySetValue(dict, kNameString,
                         mCurrentPreset.presetName != nullptr ? mCurrentPreset.presetName
                                                              : kUntitledString);

    // Room for a subclass that answers more than the 4 bytes asked for.
    alignas(8) UInt8 answer[64] = {};
    if (GetProperty(kAudioUnitProperty_RenderQuality, kAudioUnitScope_Global, 0, answer) == 0) {
        SInt32 quality = 0;
        std::memcpy(&quality, answer, sizeof(quality));
        SetSInt32(dict, kRenderQualityString, quality);
    }
    std::memset(answer, 0, sizeof(answer));
    if (GetProperty(kAudioUnitProperty_CPULoad, kAudioUnitScope_Global, 0, answer) == 0) {
        Float32 load = 0;
        std::memcpy(&load, answer, sizeof(load));
        SetFloat32(dict, kCPULoadString, load);
    }

    bool anyNamed = false;
    for (const AudioUnitScope scopeID : kNamedScopes) {
        anyNamed = anyNamed || mScopes[scopeID].HasElementWithName();
    }
    if (anyNamed) {
        CFMutableDictionaryRef names =
            CFDictionaryCreateMutable(kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks,
                                      &kCFTypeDictionaryValueCallBacks);
        for (const AudioUnitScope scopeID : kNamedScopes) {
            mScopes[scopeID].AddElementNamesToDict(names);
        }
        CFDictionarySetValue(dict, kElementNameString, names);
        CFRelease(names);
    }

    *outData = dict;
    return 0;
}

OSStatus AUBase::RestoreState(CFPropertyListRef inData) {
    if (!IsOfType(inData, CFDictionaryGetTypeID())) {
        return kAudioUnitErr_InvalidPropertyValue;
    }
    const auto dict = static_cast<CFDictionaryRef>(inData);
    if (CFDictionaryContainsKey(dict, kPartString)) {
        return kAudioUnitErr_InvalidPropertyValue;
    }
    const AudioComponentDescription desc = GetComponentDescription();
    SInt32 version = -1;
    SInt32 subtype = 0;
    SInt32 manufacturer = 0;
    if (!GetSInt32(dict, kVersionString, version) || version != 0 ||
        !GetSInt32(dict, kSubtypeString, subtype) ||
        subtype != static_cast<SInt32>(desc.componentSubType) ||
        !GetSInt32(dict, kManufacturerString, manufacturer) ||
        manufacturer != static_cast<SInt32>(desc.componentManufacturer)) {
        return kAudioUnitErr_InvalidPropertyValue;
    }

    // Everything whose type is wrong is refused here, before the unit changes.
    const void* dataValue = CFDictionaryGetValue(dict, kDataString);
    const void* nameValue = CFDictionaryGetValue(dict, kNameString);
    const void* qualityValue = CFDictionaryGetValue(dict, kRenderQualityString);
    const void* loadValue = CFDictionaryGetValue(dict, kCPULoadString);
    const void* namesValue = CFDictionaryGetValue(dict, kElementNameString);
    if ((dataValue != nullptr && !IsOfType(dataValue, CFDataGetTypeID())) ||
        (nameValue != nullptr && !IsOfType(nameValue, CFStringGetTypeID())) ||
        (qualityValue != nullptr && !IsOfType(qualityValue, CFNumberGetTypeID())) ||
        (loadValue != nullptr && !IsOfType(loadValue, CFNumberGetTypeID())) ||
        (namesValue != nullptr && !IsOfType(namesValue, CFDictionaryGetTypeID()))) {
        return kAudioUnitErr_InvalidPropertyValue;
    }

    if (dataValue != nullptr) {
        const auto data = static_cast<CFDataRef>(dataValue);
        const UInt8* const begin = CFDataGetBytePtr(data);
        const size_t length = static_cast<size_t>(CFDataGetLength(data));
        if (length != 0) {
            const UInt8* const end = begin + length;
            // Walk the records as the restore below will, up to where it
            // stops, so that a record that runs past the end is refused
            // before anything is applied.
            for (const UInt8* p = begin; p < end;) {
                const size_t left = static_cast<size_t>(end - p);
                if (left < kRecordHeaderBytes) {
                    return kAudioUnitErr_InvalidPropertyValue;
                }
                const AudioUnitScope scopeID = ReadBigEndian32(p);
                const AudioUnitElement elementID = ReadBigEndian32(p + 4);
                AUScope* scope = scopeID <= kAudioUnitScope_Group ? &mScopes[scopeID]
                                                                  : GetScopeExtended(scopeID);
                if (scope == nullptr || scope->GetElement(elementID) == nullptr) {
                    // The restore raises or stops here, before it would read
                    // this record's parameters: they need not be complete.
                    break;
                }
                if (left < kRecordHeaderBytes + kCountBytes) {
                    return kAudioUnitErr_InvalidPropertyValue;
                }
                const UInt64 count = ReadBigEndian32(p + kRecordHeaderBytes);
                const UInt64 recordBytes =
                    kRecordHeaderBytes + kCountBytes + count * kParameterBytes;
                if (recordBytes > left) {
                    return kAudioUnitErr_InvalidPropertyValue;
                }
                p += recordBytes;
            }

            for (const UInt8* p = begin; p < end;) {
                const AudioUnitScope scopeID = ReadBigEndian32(p);
                const AudioUnitElement elementID = ReadBigEndian32(p + 4);
                AUElement* element = GetScope(scopeID).GetElement(elementID);
                if (element == nullptr) {
                    break; // records for elements the unit lacks end the data
                }
                p = element->RestoreState(p + kRecordHeaderBytes, end);
                if (p == nullptr) {
                    break; // cannot happen after the walk above; never read past end
                }
            }
        }
    }

    CFStringRef newName =
        nameValue != nullptr ? static_cast<CFStringRef>(nameValue) : kUntitledString;
    CFRetain(newName);
    if (mCurrentPreset.presetName != nullptr) {
        CFRelease(mCurrentPreset.presetName);
    }
    mCurrentPreset.presetName = newName;
    mCurrentPreset.presetNumber = -1;
    PropertyChanged(kAudioUnitProperty_PresentPreset, kAudioUnitScope_Global, 0);

    if (qualityValue != nullptr) {
        UInt32 quality = 0;
        CFNumberGetValue(static_cast<CFNumberRef>(qualityValue), kCFNumberSInt32Type, &quality);
        if (SetProperty(kAudioUnitProperty_RenderQuality, kAudioUnitScope_Global, 0, &quality,
                        sizeof(quality)) == 0) {
            PropertyChanged(kAudioUnitProperty_RenderQuality, kAudioUnitScope_Global, 0);
        }
    }
    if (loadValue != nullptr) {
        Float32 load = 0;
        CFNumberGetValue(static_cast<CFNumberRef>(loadValue), kCFNumberFloatType, &load);
        if (SetProperty(kAudioUnitProperty_CPULoad, kAudioUnitScope_Global, 0, &load,
                        sizeof(load)) == 0) {
            PropertyChanged(kAudioUnitProperty_CPULoad, kAudioUnitScope_Global, 0);
        }
    }

    if (namesValue != nullptr) {
        const auto names = static_cast<CFDictionaryRef>(namesValue);
        for (const AudioUnitScope scopeID : kNamedScopes) {
            CFStringRef key = CreateDecimalKey(scopeID);
            const void* scopeNames = CFDictionaryGetValue(names, key);
            CFRelease(key);
            if (!IsOfType(scopeNames, CFDictionaryGetTypeID())) {
                continue;
            }
            if (mScopes[scopeID].RestoreElementNames(static_cast<CFDictionaryRef>(scopeNames))) {
                PropertyChanged(kAudioUnitProperty_ElementCount, scopeID, 0);
            }
        }
    }
    return 0;
}
