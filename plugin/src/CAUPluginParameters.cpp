// The parameter bridge: the engine owns every parameter of the global scope,
// element 0; the unit keeps no copies. Identifiers are the engine's parameter
// indexes and values are in the engine's own units, passed through unchanged.
//
// Without a ready engine the unit has no parameters: the global list is
// empty, and descriptions, reads and writes of global parameters answer
// kAudioUnitErr_InvalidParameter.
#include <plugin/CAUPlugin.h>

namespace {

// Readable, writable, element-meta, with a name string that the receiver
// releases, plus the lowest bit, which engines' hosts have always been given.
constexpr AudioUnitParameterOptions kEngineParameterFlags =
    kAudioUnitParameterFlag_IsReadable | kAudioUnitParameterFlag_IsWritable |
    kAudioUnitParameterFlag_IsElementMeta | kAudioUnitParameterFlag_HasCFNameString |
    kAudioUnitParameterFlag_CFNameRelease | 1U;
static_assert(kEngineParameterFlags == 0xE8000011U);

bool IsEngineParameter(AudioUnitScope inScope, AudioUnitElement inElement) {
    return inScope == kAudioUnitScope_Global && inElement == 0;
}

} // namespace

OSStatus CAUPlugin::GetParameterList(AudioUnitScope inScope, AudioUnitParameterID* outParameterList,
                                     UInt32& outNumParameters) {
    const AudioPluginInfo* info = mEngineReady ? IAP()->IGetInfo() : nullptr;
    if (inScope != kAudioUnitScope_Global) {
        return AUEffectBase::GetParameterList(inScope, outParameterList, outNumParameters);
    }
    outNumParameters = info != nullptr ? info->paramCount : 0;
    if (outParameterList != nullptr) {
        for (UInt32 i = 0; i < outNumParameters; ++i) {
            outParameterList[i] = i;
        }
    }
    return noErr;
}

OSStatus CAUPlugin::GetParameterInfo(AudioUnitScope inScope, AudioUnitParameterID inParameterID,
                                     AudioUnitParameterInfo& outParameterInfo) {
    if (inScope != kAudioUnitScope_Global || !mEngineReady) {
        return kAudioUnitErr_InvalidParameter;
    }
    outParameterInfo.flags = kEngineParameterFlags;

    IAudioPlugin* engine = IAP();
    const int index = static_cast<int>(inParameterID);
    const char* name = engine->IGetParamName(index);
    float minValue = 0.0f;
    float maxValue = 0.0f;
    engine->IGetParamRange(index, &minValue, &maxValue);
    const float defaultValue = engine->IGetParamDefault(index);

    outParameterInfo.cfNameString = CFStringCreateWithCString(
        kCFAllocatorDefault, name != nullptr ? name : "", kCFStringEncodingASCII);
    if (outParameterInfo.cfNameString == nullptr) {
        // A name that is not ASCII: the description still stands, nameless.
        outParameterInfo.flags &=
            ~(kAudioUnitParameterFlag_HasCFNameString | kAudioUnitParameterFlag_CFNameRelease);
    }
    outParameterInfo.unit = kAudioUnitParameterUnit_Generic;
    outParameterInfo.minValue = minValue;
    outParameterInfo.maxValue = maxValue;
    outParameterInfo.defaultValue = defaultValue;
    return noErr;
}

OSStatus CAUPlugin::GetParameter(AudioUnitParameterID inID, AudioUnitScope inScope,
                                 AudioUnitElement inElement, AudioUnitParameterValue& outValue) {
    if (!IsEngineParameter(inScope, inElement)) {
        return AUEffectBase::GetParameter(inID, inScope, inElement, outValue);
    }
    if (!mEngineReady) {
        return kAudioUnitErr_InvalidParameter;
    }
    outValue = IAP()->IGetParam(static_cast<int>(inID));
    return noErr;
}

OSStatus CAUPlugin::SetParameter(AudioUnitParameterID inID, AudioUnitScope inScope,
                                 AudioUnitElement inElement, AudioUnitParameterValue inValue,
                                 UInt32 inBufferOffsetInFrames) {
    if (!IsEngineParameter(inScope, inElement)) {
        return AUEffectBase::SetParameter(inID, inScope, inElement, inValue,
                                          inBufferOffsetInFrames);
    }
    if (!mEngineReady) {
        return kAudioUnitErr_InvalidParameter;
    }
    // The engine applies the value at once; it has no notion of a frame
    // offset inside the next slice.
    IAP()->ISetParam(static_cast<int>(inID), inValue);
    return noErr;
}

OSStatus CAUPlugin::GetParameterValueStrings(AudioUnitScope inScope,
                                             AudioUnitParameterID inParameterID,
                                             CFArrayRef* outStrings) {
    // No engine parameter is a list of named values.
    return AUEffectBase::GetParameterValueStrings(inScope, inParameterID, outStrings);
}
