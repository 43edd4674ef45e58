// A client's description of one parameter of an Audio Unit: its information
// record, a display name, a short unit label, the names of indexed values,
// and conversion between values and text in the user's locale.
#pragma once

#include <AudioToolbox/AudioUnitUtilities.h>
#include <AudioUnit/AudioUnit.h>
#include <CoreFoundation/CoreFoundation.h>

class CAAUParameter : public AudioUnitParameter {
public:
    CAAUParameter() noexcept;
    CAAUParameter(AudioUnit au, AudioUnitParameterID param, AudioUnitScope scope,
                  AudioUnitElement element);
    explicit CAAUParameter(const AudioUnitParameter& a);
    CAAUParameter(const CAAUParameter& a);
    CAAUParameter& operator=(const CAAUParameter& a);
    ~CAAUParameter();

    // The unit's current value; 0 when the unit does not answer.
    AudioUnitParameterValue GetValue() const;
    // Clamps inValue into the parameter's range and sets it through
    // AUParameterSet, which tells every listener except the sender.
    void SetValue(AUParameterListenerRef inListener, void* inObject,
                  AudioUnitParameterValue inValue) const;

    // Text for *value, or for the current value when value is null: the
    // value's name for an indexed parameter, the unit's own text when its
    // values have strings, else the number in the user's locale. The caller
    // releases the string.
    CFStringRef GetStringFromValueCopy(const AudioUnitParameterValue* value = nullptr) const;
    // The value that str stands for, the reverse of GetStringFromValueCopy;
    // the default value when the text is no number.
    AudioUnitParameterValue GetValueFromString(CFStringRef str) const;

    // Not retained for the caller.
    CFStringRef GetName() const noexcept { return mParamName; }
    // The short unit label ("Hz", "dB", ...); null for units without one.
    CFStringRef GetParamTag() const noexcept { return mParamTag; }
    const AudioUnitParameterInfo& ParamInfo() const noexcept { return mParamInfo; }

    bool ValuesHaveStrings() const noexcept {
        return (mParamInfo.flags & kAudioUnitParameterFlag_ValuesHaveStrings) != 0;
    }
    bool IsHighResolution() const noexcept {
        return (mParamInfo.flags & kAudioUnitParameterFlag_IsHighResolution) != 0;
    }
    // Indexed, boolean and MIDI parameters take whole-number values.
    bool IsIndexedParam() const noexcept {
        return mNumIndexedParams != 0 || mParamInfo.unit == kAudioUnitParameterUnit_Indexed ||
               mParamInfo.unit == kAudioUnitParameterUnit_Boolean;
    }
    SInt16 GetNumIndexedParams() const noexcept { return mNumIndexedParams; }
    bool HasNamedParams() const noexcept { return mNamedParams != nullptr; }
    // The names of an indexed parameter's values; null when the unit gave none.
    CFArrayRef GetNamedParams() const noexcept { return mNamedParams; }
    // The name of indexed value inIndex, null when there is none. Not retained.
    CFStringRef GetParamName(SInt32 inIndex) const noexcept;

protected:
    void Init(AudioUnit au, AudioUnitParameterID param, AudioUnitScope scope,
              AudioUnitElement element);

    AudioUnitParameterInfo mParamInfo;
    CFStringRef mParamName;
    CFStringRef mParamTag;
    SInt16 mNumIndexedParams;
    CFArrayRef mNamedParams;

private:
    void Clear() noexcept;
    void ReleaseHeld() noexcept;
};

// Formats value in the user's locale with as many fraction digits as the
// parameter's magnitude leaves of inDigits significant ones (4 always for a
// high-resolution parameter), at least inMinDigits of them. Null for a null
// parameter; the caller releases the string.
CFStringRef CreateLocalizedStringForParameterValue(double inParameterValue,
                                                   const CAAUParameter* inParameter,
                                                   UInt32 inDigits, UInt32 inMinDigits);
CFStringRef CreateLocalizedStringForParameterValue(double inParameterValue,
                                                   const CAAUParameter* inParameter,
                                                   UInt32 inDigits);

// Parses text in the user's locale; the parameter's default value when the
// text is no number.
double ValueForLocalizedParameterString(CFStringRef string, const CAAUParameter* inParameter);
