// The unit's own properties (editor view, offline render, window-size
// announcement, engine access) and the engine's state block in preset
// documents.
//
// Without a ready engine: the engine-access property answers
// kAudioUnitErr_FailedInitialization, as there is no engine to hand out; the
// editor view is still located, so a host can show it and the editor learns
// of the failure through that property. Saving and restoring presets answer
// kAudioUnitErr_FailedInitialization and change nothing: a document without
// the engine's state would lose the sound, and one restored without an engine
// could not be applied whole.
#include <plugin/CAUPlugin.h>

#include <loader/AudioPluginLoader.h>

#include <AudioUnit/AUCocoaUIView.h>

#include <climits>
#include <cstring>

namespace {

// What the editor-view property holds: the location and one class name.
constexpr UInt32 kCocoaViewInfoSize = sizeof(AudioUnitCocoaViewInfo);
static_assert(kCocoaViewInfoSize == 16);
// The engine, then the unit.
constexpr UInt32 kEngineAccessSize = 2 * sizeof(void*);
// The window-size property announces; its value is only ever 1, one byte.
constexpr UInt32 kWindowSizeChangedSize = 1;

// The editor view bundle among the plug-in bundle's resources, retained for
// the caller; null when it cannot be found.
CFURLRef CopyCocoaViewBundleURL() {
    CFStringRef identifier = CFStringCreateWithCString(
        kCFAllocatorDefault, kVXPluginBundleIdentifier, kCFStringEncodingASCII);
    if (identifier == nullptr) {
        return nullptr;
    }
    CFBundleRef bundle = CFBundleGetBundleWithIdentifier(identifier);
    CFRelease(identifier);
    if (bundle == nullptr) {
        return nullptr;
    }
    CFStringRef name = CFStringCreateWithCString(
        kCFAllocatorDefault, CAUPlugin::kCocoaViewBundleName, kCFStringEncodingASCII);
    CFURLRef url = CFBundleCopyResourceURL(bundle, name, CFSTR("bundle"), nullptr);
    CFRelease(name);
    return url;
}

} // namespace

OSStatus CAUPlugin::GetPropertyInfo(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                    AudioUnitElement inElement, UInt32& outDataSize,
                                    Boolean& outWritable) {
    switch (inID) {
    case kAudioUnitProperty_TailTime:
        outDataSize = sizeof(Float64);
        outWritable = false;
        return noErr;
    case kAudioUnitProperty_CocoaUI:
        outDataSize = kCocoaViewInfoSize;
        outWritable = false;
        return noErr;
    case kAudioUnitProperty_OfflineRender:
        outDataSize = sizeof(UInt32);
        outWritable = true;
        return noErr;
    case kAudioUnitProperty_WindowSizeChanged:
        if (inScope != kAudioUnitScope_Global) {
            return kAudioUnitErr_InvalidScope;
        }
        outDataSize = kWindowSizeChangedSize;
        outWritable = false;
        return noErr;
    case kAudioUnitProperty_EngineAccess:
        if (!mEngineReady) {
            return kAudioUnitErr_FailedInitialization;
        }
        outDataSize = kEngineAccessSize;
        outWritable = false;
        return noErr;
    default:
        return AUEffectBase::GetPropertyInfo(inID, inScope, inElement, outDataSize, outWritable);
    }
}

OSStatus CAUPlugin::GetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                AudioUnitElement inElement, void* outData) {
    switch (inID) {
    case kAudioUnitProperty_CocoaUI: {
        CFURLRef url = CopyCocoaViewBundleURL();
        if (url == nullptr) {
            return fnfErr;
        }
        AudioUnitCocoaViewInfo info{};
        info.mCocoaAUViewBundleLocation = url;
        info.mCocoaAUViewClass[0] = CFStringCreateWithCString(
            kCFAllocatorDefault, kCocoaViewFactoryClass, kCFStringEncodingASCII);
        std::memcpy(outData, &info, sizeof info);
        return noErr;
    }
    case kAudioUnitProperty_OfflineRender: {
        const UInt32 value = mOfflineRender ? 1 : 0;
        std::memcpy(outData, &value, sizeof value);
        return noErr;
    }
    case kAudioUnitProperty_WindowSizeChanged:
        // Only as many bytes as the property's size promises the caller.
        *static_cast<UInt8*>(outData) = 1;
        return noErr;
    case kAudioUnitProperty_EngineAccess: {
        if (!mEngineReady) {
            return kAudioUnitErr_FailedInitialization;
        }
        void* const pointers[2] = {IAP(), this};
        std::memcpy(outData, pointers, sizeof pointers);
        return noErr;
    }
    default:
        return AUEffectBase::GetProperty(inID, inScope, inElement, outData);
    }
}

OSStatus CAUPlugin::SetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                AudioUnitElement inElement, const void* inData, UInt32 inDataSize) {
    if (inID == kAudioUnitProperty_OfflineRender && inScope == kAudioUnitScope_Global) {
        // The value is a 32-bit word; a shorter one is not read past its end.
        if (inDataSize < sizeof(UInt32)) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
        UInt32 value = 0;
        std::memcpy(&value, inData, sizeof value);
        mOfflineRender = value != 0;
        return noErr;
    }
    return AUEffectBase::SetProperty(inID, inScope, inElement, inData, inDataSize);
}

// ---------------------------------------------------------------------------
// Presets: the engine's state block rides in the unit's document, byte for
// byte, under the preset key.

OSStatus CAUPlugin::SaveState(CFPropertyListRef* outData) {
    if (!mEngineReady || mPresetKey == nullptr) {
        return kAudioUnitErr_FailedInitialization;
    }
    const OSStatus result = AUEffectBase::SaveState(outData);
    if (result != noErr) {
        return result;
    }
    CFMutableDataRef block = CFDataCreateMutable(kCFAllocatorDefault, 0);
    if (block == nullptr) {
        return memFullErr;
    }
    IAudioPlugin* engine = IAP();
    engine->ISaveState();
    const int size = engine->IGetStateSize();
    const void* bytes = engine->IGetStateData();
    if (size > 0 && bytes != nullptr) {
        CFDataAppendBytes(block, static_cast<const UInt8*>(bytes), size);
    }
    CFDictionarySetValue(static_cast<CFMutableDictionaryRef>(const_cast<void*>(*outData)),
                         mPresetKey, block);
    CFRelease(block);
    return noErr;
}

OSStatus CAUPlugin::RestoreState(CFPropertyListRef inData) {
    if (!mEngineReady || mPresetKey == nullptr) {
        return kAudioUnitErr_FailedInitialization;
    }
    const OSStatus result = AUEffectBase::RestoreState(inData);
    if (result != noErr) {
        return result;
    }
    // The base accepted the document, so it is a dictionary. Its engine
    // entry must be data; anything else is refused like a missing one.
    const void* entry = CFDictionaryGetValue(static_cast<CFDictionaryRef>(inData), mPresetKey);
    if (entry == nullptr || CFGetTypeID(entry) != CFDataGetTypeID()) {
        return kAudioUnitErr_InvalidPropertyValue;
    }
    CFDataRef block = static_cast<CFDataRef>(entry);
    const CFIndex length = CFDataGetLength(block);
    if (length > INT_MAX) {
        return kAudioUnitErr_InvalidPropertyValue;
    }
    IAP()->ILoadState(CFDataGetBytePtr(block), static_cast<int>(length));
    return noErr;
}
