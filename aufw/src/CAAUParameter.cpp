#include <aufw/CAAUParameter.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

// Whole-number conversions the way the processor's truncating conversion
// does them: toward zero, with anything out of range or NaN becoming the
// "integer indefinite" value instead of undefined behaviour.
constexpr SInt32 kIntegerIndefinite = std::numeric_limits<SInt32>::min();

SInt32 TruncateToSInt32(double value) noexcept {
    if (!(value > -2147483649.0 && value < 2147483648.0)) {
        return kIntegerIndefinite;
    }
    return static_cast<SInt32>(value);
}

// A value count narrowed into the 16-bit field: the low 16 bits of the
// truncated 32-bit number.
SInt16 TruncateToCount(Float32 value) noexcept {
    return static_cast<SInt16>(TruncateToSInt32(value));
}

SInt16 CountFromRange(const AudioUnitParameterInfo& info) noexcept {
    return TruncateToCount(info.maxValue + 1.0f - info.minValue);
}

// The information record's C name is not trusted to be terminated or to be
// valid UTF-8: stop at its end, and fall back to Latin-1 so that something
// readable always comes out.
CFStringRef CreateNameFromInfo(const AudioUnitParameterInfo& info) {
    const size_t length = strnlen(info.name, sizeof(info.name));
    const auto* bytes = reinterpret_cast<const UInt8*>(info.name);
    CFStringRef name = CFStringCreateWithBytes(nullptr, bytes, static_cast<CFIndex>(length),
                                               kCFStringEncodingUTF8, false);
    if (name == nullptr) {
        name = CFStringCreateWithBytes(nullptr, bytes, static_cast<CFIndex>(length),
                                       kCFStringEncodingISOLatin1, false);
    }
    return name;
}

const char* TagForUnit(AudioUnitParameterUnit unit) noexcept {
    switch (unit) {
    case kAudioUnitParameterUnit_Boolean:
        return "T/F";
    case kAudioUnitParameterUnit_Percent:
    case kAudioUnitParameterUnit_EqualPowerCrossfade:
        return "%";
    case kAudioUnitParameterUnit_Seconds:
        return "Secs";
    case kAudioUnitParameterUnit_SampleFrames:
        return "Samps";
    case kAudioUnitParameterUnit_Phase:
    case kAudioUnitParameterUnit_Degrees:
        return "Degr.";
    case kAudioUnitParameterUnit_Hertz:
        return "Hz";
    case kAudioUnitParameterUnit_Cents:
    case kAudioUnitParameterUnit_AbsoluteCents:
        return "Cents";
    case kAudioUnitParameterUnit_RelativeSemiTones:
        return "S-T";
    case kAudioUnitParameterUnit_MIDINoteNumber:
    case kAudioUnitParameterUnit_MIDIController:
        return "MIDI";
    case kAudioUnitParameterUnit_Decibels:
        return "dB";
    case kAudioUnitParameterUnit_LinearGain:
    case kAudioUnitParameterUnit_MixerFaderCurve1:
        return "Gain";
    case kAudioUnitParameterUnit_Pan:
        return "L/R";
    case kAudioUnitParameterUnit_Meters:
        return "Mtrs";
    case kAudioUnitParameterUnit_Octaves:
        return "8ve";
    case kAudioUnitParameterUnit_BPM:
        return "BPM";
    case kAudioUnitParameterUnit_Beats:
        return "Beats";
    case kAudioUnitParameterUnit_Milliseconds:
        return "msecs";
    case kAudioUnitParameterUnit_Ratio:
        return "Ratio";
    default:
        return nullptr;
    }
}

// Custom unit names pass through one buffer for all descriptions; they are
// built one at a time.
char sCustomUnitName[256];

CFStringRef CreateCustomUnitTag(CFStringRef unitName, bool releaseName) {
    CFIndex used = 0;
    if (unitName != nullptr) {
        // Whole characters only, and always room for the terminator.
        CFStringGetBytes(unitName, CFRangeMake(0, CFStringGetLength(unitName)),
                         kCFStringEncodingUTF8, 0, false, reinterpret_cast<UInt8*>(sCustomUnitName),
                         sizeof(sCustomUnitName) - 1, &used);
        if (releaseName) {
            CFRelease(unitName);
        }
    }
    sCustomUnitName[used] = '\0';
    return CFStringCreateWithCString(nullptr, sCustomUnitName, kCFStringEncodingUTF8);
}

// A decimal-style formatter of the user's current locale.
CFNumberFormatterRef CreateCurrentDecimalFormatter() {
    CFLocaleRef locale = CFLocaleCopyCurrent();
    CFNumberFormatterRef formatter =
        CFNumberFormatterCreate(nullptr, locale, kCFNumberFormatterDecimalStyle);
    if (locale != nullptr) {
        CFRelease(locale);
    }
    return formatter;
}

void SetFormatterInt(CFNumberFormatterRef formatter, CFNumberFormatterKey key, int value) {
    CFNumberRef number = CFNumberCreate(nullptr, kCFNumberIntType, &value);
    if (number != nullptr) {
        CFNumberFormatterSetProperty(formatter, key, number);
        CFRelease(number);
    }
}

} // namespace

CAAUParameter::CAAUParameter() noexcept {
    Clear();
}

CAAUParameter::CAAUParameter(AudioUnit au, AudioUnitParameterID param, AudioUnitScope scope,
                             AudioUnitElement element) {
    Clear();
    Init(au, param, scope, element);
}

CAAUParameter::CAAUParameter(const AudioUnitParameter& a) {
    Clear();
    Init(a.mAudioUnit, a.mParameterID, a.mScope, a.mElement);
}

CAAUParameter::CAAUParameter(const CAAUParameter& a) : AudioUnitParameter(a) {
    Clear();
    *this = a;
}

CAAUParameter& CAAUParameter::operator=(const CAAUParameter& a) {
    if (this == &a) {
        return *this;
    }
    ReleaseHeld();
    static_cast<AudioUnitParameter&>(*this) = a;
    mParamInfo = a.mParamInfo;
    mParamName = a.mParamName;
    mParamTag = a.mParamTag;
    mNumIndexedParams = a.mNumIndexedParams;
    mNamedParams = a.mNamedParams;
    if (mParamName != nullptr) {
        CFRetain(mParamName);
    }
    if (mParamTag != nullptr) {
        CFRetain(mParamTag);
    }
    if (mNamedParams != nullptr) {
        CFRetain(mNamedParams);
    }
    return *this;
}

CAAUParameter::~CAAUParameter() {
    ReleaseHeld();
}

void CAAUParameter::Clear() noexcept {
    mAudioUnit = nullptr;
    mParameterID = 0;
    mScope = 0;
    mElement = 0;
    std::memset(&mParamInfo, 0, sizeof(mParamInfo));
    mParamName = nullptr;
    mParamTag = nullptr;
    mNumIndexedParams = 0;
    mNamedParams = nullptr;
}

void CAAUParameter::ReleaseHeld() noexcept {
    if (mParamName != nullptr) {
        CFRelease(mParamName);
        mParamName = nullptr;
    }
    if (mParamTag != nullptr) {
        CFRelease(mParamTag);
        mParamTag = nullptr;
    }
    if (mNamedParams != nullptr) {
        CFRelease(mNamedParams);
        mNamedParams = nullptr;
    }
}

void CAAUParameter::Init(AudioUnit au, AudioUnitParameterID param, AudioUnitScope scope,
                         AudioUnitElement element) {
    mAudioUnit = au;
    mParameterID = param;
    mScope = scope;
    mElement = element;

    UInt32 size = sizeof(mParamInfo);
    const OSStatus err = AudioUnitGetProperty(au, kAudioUnitProperty_ParameterInfo, scope, param,
                                              &mParamInfo, &size);
    if (err != noErr) {
        std::memset(&mParamInfo, 0, sizeof(mParamInfo));
    }
    const bool releaseStrings = (mParamInfo.flags & kAudioUnitParameterFlag_CFNameRelease) != 0;

    if (err == noErr && (mParamInfo.flags & kAudioUnitParameterFlag_HasCFNameString) != 0 &&
        mParamInfo.cfNameString != nullptr) {
        // With the release flag the unit handed over its reference; keep it.
        mParamName = mParamInfo.cfNameString;
        if (!releaseStrings) {
            CFRetain(mParamName);
        }
    } else {
        if (releaseStrings && mParamInfo.cfNameString != nullptr) {
            CFRelease(mParamInfo.cfNameString);
            mParamInfo.cfNameString = nullptr;
        }
        mParamName = CreateNameFromInfo(mParamInfo);
    }

    switch (mParamInfo.unit) {
    case kAudioUnitParameterUnit_Indexed: {
        CFArrayRef names = nullptr;
        UInt32 namesSize = sizeof(names);
        if (AudioUnitGetProperty(au, kAudioUnitProperty_ParameterValueStrings, scope, param, &names,
                                 &namesSize) == noErr &&
            names != nullptr) {
            if (CFGetTypeID(names) == CFArrayGetTypeID()) {
                mNamedParams = names;
            } else {
                CFRelease(names);
            }
        }
        if (mNamedParams != nullptr) {
            const CFIndex count = CFArrayGetCount(mNamedParams);
            mNumIndexedParams = static_cast<SInt16>(count > std::numeric_limits<SInt16>::max()
                                                        ? std::numeric_limits<SInt16>::max()
                                                        : count);
        } else {
            mNumIndexedParams = CountFromRange(mParamInfo);
        }
        break;
    }
    case kAudioUnitParameterUnit_MIDINoteNumber:
    case kAudioUnitParameterUnit_MIDIController:
        mNumIndexedParams = CountFromRange(mParamInfo);
        mParamTag =
            CFStringCreateWithCString(nullptr, TagForUnit(mParamInfo.unit), kCFStringEncodingUTF8);
        break;
    case kAudioUnitParameterUnit_CustomUnit:
        mParamTag = CreateCustomUnitTag(mParamInfo.unitName, releaseStrings);
        if (releaseStrings) {
            // Released above; the record must not keep a dangling pointer.
            mParamInfo.unitName = nullptr;
        }
        break;
    default:
        if (const char* tag = TagForUnit(mParamInfo.unit)) {
            mParamTag = CFStringCreateWithCString(nullptr, tag, kCFStringEncodingUTF8);
        }
        break;
    }
}

AudioUnitParameterValue CAAUParameter::GetValue() const {
    AudioUnitParameterValue value = 0.0f;
    if (AudioUnitGetParameter(mAudioUnit, mParameterID, mScope, mElement, &value) != noErr) {
        return 0.0f;
    }
    return value;
}

void CAAUParameter::SetValue(AUParameterListenerRef inListener, void* inObject,
                             AudioUnitParameterValue inValue) const {
    AudioUnitParameterValue value = inValue;
    if (std::isnan(value)) {
        // No range holds NaN; the default is the one value known to be sane.
        value = mParamInfo.defaultValue;
    }
    if (value > mParamInfo.maxValue) {
        value = mParamInfo.maxValue;
    }
    if (value < mParamInfo.minValue) {
        value = mParamInfo.minValue;
    }
    AUParameterSet(inListener, inObject, this, value, 0);
}

CFStringRef CAAUParameter::GetParamName(SInt32 inIndex) const noexcept {
    if (mNamedParams == nullptr || inIndex < 0 || inIndex >= CFArrayGetCount(mNamedParams)) {
        return nullptr;
    }
    return static_cast<CFStringRef>(CFArrayGetValueAtIndex(mNamedParams, inIndex));
}

CFStringRef CAAUParameter::GetStringFromValueCopy(const AudioUnitParameterValue* value) const {
    if (mNumIndexedParams != 0 && mNamedParams != nullptr) {
        const AudioUnitParameterValue v = value != nullptr ? *value : GetValue();
        const SInt32 base = TruncateToSInt32(mParamInfo.minValue);
        const SInt32 offset = TruncateToSInt32(v);
        if (base != kIntegerIndefinite && offset != kIntegerIndefinite) {
            const SInt64 index = SInt64{base} + SInt64{offset};
            if (index >= 0 && index < CFArrayGetCount(mNamedParams)) {
                if (CFTypeRef name = CFArrayGetValueAtIndex(mNamedParams, index)) {
                    return static_cast<CFStringRef>(CFRetain(name));
                }
            }
        }
    } else if (ValuesHaveStrings()) {
        AudioUnitParameterStringFromValue request{};
        request.inParamID = mParameterID;
        request.inValue = value;
        request.outString = nullptr;
        UInt32 size = sizeof(request);
        if (AudioUnitGetProperty(mAudioUnit, kAudioUnitProperty_ParameterStringFromValue, mScope, 0,
                                 &request, &size) == noErr &&
            request.outString != nullptr) {
            return request.outString;
        }
    }

    const AudioUnitParameterValue v = value != nullptr ? *value : GetValue();
    const bool cents = mParamInfo.unit == kAudioUnitParameterUnit_Cents ||
                       mParamInfo.unit == kAudioUnitParameterUnit_AbsoluteCents;
    return CreateLocalizedStringForParameterValue(v, this, 4, cents ? 0 : 1);
}

AudioUnitParameterValue CAAUParameter::GetValueFromString(CFStringRef str) const {
    if (ValuesHaveStrings()) {
        AudioUnitParameterValueFromString request{};
        request.inParamID = mParameterID;
        request.inString = str;
        request.outValue = 0.0f;
        UInt32 size = sizeof(request);
        if (AudioUnitGetProperty(mAudioUnit, kAudioUnitProperty_ParameterValueFromString, mScope, 0,
                                 &request, &size) == noErr) {
            return request.outValue;
        }
    }
    return static_cast<AudioUnitParameterValue>(ValueForLocalizedParameterString(str, this));
}

CFStringRef CreateLocalizedStringForParameterValue(double inParameterValue,
                                                   const CAAUParameter* inParameter,
                                                   UInt32 inDigits, UInt32 inMinDigits) {
    if (inParameter == nullptr) {
        return nullptr;
    }
    const AudioUnitParameterInfo& info = inParameter->ParamInfo();

    const Float32 magnitude = info.unit == kAudioUnitParameterUnit_Hertz
                                  ? static_cast<Float32>(inParameterValue)
                                  : info.maxValue - info.minValue;
    constexpr Float32 kSmallest = 0.000001f;
    const Float32 bounded =
        (std::isnan(magnitude) || magnitude < kSmallest) ? kSmallest : magnitude;
    // A float's decimal exponent stays within +-39, also for an infinite range.
    const double exponent = std::fmin(std::log10(static_cast<double>(bounded)), 39.0);
    const int power = static_cast<int>(std::trunc(exponent));

    int fractionDigits = static_cast<int>(inDigits) - (power + 1);
    if (fractionDigits < 0) {
        fractionDigits = 0;
    }
    if (inParameter->IsHighResolution()) {
        fractionDigits = 4;
    }

    CFNumberFormatterRef formatter = CreateCurrentDecimalFormatter();
    if (formatter == nullptr) {
        return nullptr;
    }
    SetFormatterInt(formatter, kCFNumberFormatterMaxFractionDigits, fractionDigits);
    SetFormatterInt(formatter, kCFNumberFormatterMinFractionDigits,
                    fractionDigits > 0 ? static_cast<int>(inMinDigits) : 0);
    CFStringRef text = CFNumberFormatterCreateStringWithValue(
        nullptr, formatter, kCFNumberFloat64Type, &inParameterValue);
    CFRelease(formatter);
    return text;
}

CFStringRef CreateLocalizedStringForParameterValue(double inParameterValue,
                                                   const CAAUParameter* inParameter,
                                                   UInt32 inDigits) {
    return CreateLocalizedStringForParameterValue(inParameterValue, inParameter, inDigits, 1);
}

double ValueForLocalizedParameterString(CFStringRef string, const CAAUParameter* inParameter) {
    const double fallback =
        inParameter != nullptr ? static_cast<double>(inParameter->ParamInfo().defaultValue) : 0.0;
    if (string == nullptr) {
        return fallback;
    }
    CFNumberFormatterRef formatter = CreateCurrentDecimalFormatter();
    if (formatter == nullptr) {
        return fallback;
    }
    CFRange range = CFRangeMake(0, CFStringGetLength(string));
    double value = 0.0;
    const bool parsed = CFNumberFormatterGetValueFromString(formatter, string, &range,
                                                            kCFNumberFloat64Type, &value);
    CFRelease(formatter);
    return parsed ? value : fallback;
}
