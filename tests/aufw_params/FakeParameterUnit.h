// A unit registered with the host runtime whose parameters a test describes
// field by field, so that parameter descriptions can be built against real
// Audio Unit calls. It records the requests it gets.
#pragma once

#include <AudioUnit/AudioUnit.h>
#include <CoreFoundation/CoreFoundation.h>

#include <map>
#include <string>

class FakeParameterUnit {
public:
    struct Parameter {
        AudioUnitParameterInfo info{};
        bool refuseInfo = false;
        // Handed out (retained for the caller) for kAudioUnitProperty_ParameterValueStrings.
        CFArrayRef valueStrings = nullptr;
        AudioUnitParameterValue value = 0.0f;
    };

    struct Requests {
        int stringFromValue = 0;
        AudioUnitElement stringFromValueElement = 0xFFFFFFFF;
        bool stringFromValueHadValue = false;
        int valueFromString = 0;
        AudioUnitElement valueFromStringElement = 0xFFFFFFFF;
        int setParameter = 0;
        AudioUnitParameterValue lastSetValue = 0.0f;
    };

    FakeParameterUnit();
    ~FakeParameterUnit();
    FakeParameterUnit(const FakeParameterUnit&) = delete;
    FakeParameterUnit& operator=(const FakeParameterUnit&) = delete;

    AudioUnit Unit() const { return mUnit; }
    // Parameters of the global scope, by ID.
    std::map<AudioUnitParameterID, Parameter> parameters;
    Requests requests;
    // When set, GetParameter answers this status instead of a value.
    OSStatus getParameterAnswer = noErr;

private:
    AudioUnit mUnit = nullptr;
};

// A parameter information record with the fields the tests vary.
AudioUnitParameterInfo MakeInfo(const char* name, AudioUnitParameterUnit unit, Float32 minValue,
                                Float32 maxValue, Float32 defaultValue,
                                AudioUnitParameterOptions flags = 0);

// The text of a string for comparing; "<null>" for none.
inline std::string ToStd(CFStringRef s) {
    if (s == nullptr) {
        return "<null>";
    }
    char buffer[256];
    if (!CFStringGetCString(s, buffer, sizeof(buffer), kCFStringEncodingUTF8)) {
        return "<unconvertible>";
    }
    return buffer;
}
