#include "FakeParameterUnit.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

namespace {

struct UnitObject {
    AudioComponentPlugInInterface plugIn; // first: the host passes its address
    FakeParameterUnit* fake;
};

FakeParameterUnit* gOpening = nullptr;

FakeParameterUnit& Fake(void* self) {
    return *static_cast<UnitObject*>(self)->fake;
}

FakeParameterUnit::Parameter* Find(FakeParameterUnit& fake, AudioUnitScope scope,
                                   AudioUnitParameterID id) {
    if (scope != kAudioUnitScope_Global) {
        return nullptr;
    }
    auto it = fake.parameters.find(id);
    return it == fake.parameters.end() ? nullptr : &it->second;
}

OSStatus GetProperty(void* self, AudioUnitPropertyID inID, AudioUnitScope inScope,
                     AudioUnitElement inElement, void* outData, UInt32* ioDataSize) {
    FakeParameterUnit& fake = Fake(self);
    switch (inID) {
    case kAudioUnitProperty_ParameterInfo: {
        FakeParameterUnit::Parameter* p = Find(fake, inScope, inElement);
        if (p == nullptr || p->refuseInfo) {
            return kAudioUnitErr_InvalidParameter;
        }
        if (*ioDataSize != sizeof(AudioUnitParameterInfo)) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
        AudioUnitParameterInfo info = p->info;
        // With the release flag the receiver owns one reference of each string.
        if ((info.flags & kAudioUnitParameterFlag_CFNameRelease) != 0) {
            if (info.cfNameString != nullptr) {
                CFRetain(info.cfNameString);
            }
            if (info.unitName != nullptr) {
                CFRetain(info.unitName);
            }
        }
        std::memcpy(outData, &info, sizeof(info));
        return noErr;
    }
    case kAudioUnitProperty_ParameterValueStrings: {
        FakeParameterUnit::Parameter* p = Find(fake, inScope, inElement);
        if (p == nullptr || p->valueStrings == nullptr) {
            return kAudioUnitErr_InvalidProperty;
        }
        if (*ioDataSize != sizeof(CFArrayRef)) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
        *static_cast<CFArrayRef*>(outData) = static_cast<CFArrayRef>(CFRetain(p->valueStrings));
        return noErr;
    }
    case kAudioUnitProperty_ParameterStringFromValue: {
        if (*ioDataSize != sizeof(AudioUnitParameterStringFromValue)) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
        auto* request = static_cast<AudioUnitParameterStringFromValue*>(outData);
        ++fake.requests.stringFromValue;
        fake.requests.stringFromValueElement = inElement;
        fake.requests.stringFromValueHadValue = request->inValue != nullptr;
        FakeParameterUnit::Parameter* p = Find(fake, inScope, request->inParamID);
        if (p == nullptr) {
            return kAudioUnitErr_InvalidParameter;
        }
        const float value = request->inValue != nullptr ? *request->inValue : p->value;
        char text[64];
        std::snprintf(text, sizeof(text), "unit says %.1f", static_cast<double>(value));
        request->outString = CFStringCreateWithCString(nullptr, text, kCFStringEncodingUTF8);
        return noErr;
    }
    case kAudioUnitProperty_ParameterValueFromString: {
        if (*ioDataSize != sizeof(AudioUnitParameterValueFromString)) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
        auto* request = static_cast<AudioUnitParameterValueFromString*>(outData);
        ++fake.requests.valueFromString;
        fake.requests.valueFromStringElement = inElement;
        char text[64] = {};
        if (request->inString == nullptr ||
            !CFStringGetCString(request->inString, text, sizeof(text), kCFStringEncodingUTF8) ||
            std::strcmp(text, "forty-two") != 0) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
        request->outValue = 42.0f;
        return noErr;
    }
    default:
        return kAudioUnitErr_InvalidProperty;
    }
}

OSStatus GetParameter(void* self, AudioUnitParameterID inID, AudioUnitScope inScope,
                      AudioUnitElement, AudioUnitParameterValue* outValue) {
    FakeParameterUnit& fake = Fake(self);
    if (fake.getParameterAnswer != noErr) {
        return fake.getParameterAnswer;
    }
    FakeParameterUnit::Parameter* p = Find(fake, inScope, inID);
    if (p == nullptr) {
        return kAudioUnitErr_InvalidParameter;
    }
    *outValue = p->value;
    return noErr;
}

OSStatus SetParameter(void* self, AudioUnitParameterID inID, AudioUnitScope inScope,
                      AudioUnitElement, AudioUnitParameterValue inValue, UInt32) {
    FakeParameterUnit& fake = Fake(self);
    FakeParameterUnit::Parameter* p = Find(fake, inScope, inID);
    if (p == nullptr) {
        return kAudioUnitErr_InvalidParameter;
    }
    ++fake.requests.setParameter;
    fake.requests.lastSetValue = inValue;
    p->value = inValue;
    return noErr;
}

OSStatus Open(void*, AudioComponentInstance) {
    return noErr;
}

OSStatus Close(void* self) {
    delete static_cast<UnitObject*>(self);
    return noErr;
}

AudioComponentMethod Lookup(SInt16 selector) {
    return selector == kAudioUnitGetPropertySelect
               ? reinterpret_cast<AudioComponentMethod>(&GetProperty)
           : selector == kAudioUnitGetParameterSelect
               ? reinterpret_cast<AudioComponentMethod>(&GetParameter)
           : selector == kAudioUnitSetParameterSelect
               ? reinterpret_cast<AudioComponentMethod>(&SetParameter)
               : nullptr;
}

AudioComponentPlugInInterface* Factory(const AudioComponentDescription*) {
    return &(new UnitObject{{&Open, &Close, &Lookup, nullptr}, gOpening})->plugIn;
}

} // namespace

FakeParameterUnit::FakeParameterUnit() {
    static const AudioComponent component = [] {
        AudioComponentDescription desc{kAudioUnitType_Effect, 0x54707276 /* 'Tprv' */,
                                       0x56787461 /* 'Vxta' */, 0, 0};
        return AudioComponentRegister(&desc, CFSTR("Vextra-Audio: Test Parameters"), 1, &Factory);
    }();
    gOpening = this;
    AudioComponentInstance instance = nullptr;
    EXPECT_EQ(AudioComponentInstanceNew(component, &instance), noErr);
    gOpening = nullptr;
    mUnit = instance;
}

FakeParameterUnit::~FakeParameterUnit() {
    if (mUnit != nullptr) {
        AudioComponentInstanceDispose(mUnit);
    }
    for (auto& entry : parameters) {
        if (entry.second.valueStrings != nullptr) {
            CFRelease(entry.second.valueStrings);
        }
    }
}

AudioUnitParameterInfo MakeInfo(const char* name, AudioUnitParameterUnit unit, Float32 minValue,
                                Float32 maxValue, Float32 defaultValue,
                                AudioUnitParameterOptions flags) {
    AudioUnitParameterInfo info{};
    std::snprintf(info.name, sizeof(info.name), "%s", name);
    info.unit = unit;
    info.minValue = minValue;
    info.maxValue = maxValue;
    info.defaultValue = defaultValue;
    info.flags = flags | kAudioUnitParameterFlag_IsReadable | kAudioUnitParameterFlag_IsWritable;
    return info;
}
