// Parameter descriptions built from a unit through the platform's Audio Unit
// calls: names, unit labels, indexed counts, named values, values as text in
// the user's locale, clamped setting and the ownership of the strings.
#include <aufw/CAAUParameter.h>

#include <AudioUnit/AudioUnit.h>
#include <CoreFoundation/CoreFoundation.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <tuple>

namespace {

// A unit registered with the host runtime whose global parameters a test
// describes field by field; it counts the requests it gets.
struct FakeUnit {
    struct Parameter {
        AudioUnitParameterInfo info{};
        CFArrayRef valueStrings = nullptr; // handed out retained
        AudioUnitParameterValue value = 0.0f;
    };
    std::map<AudioUnitParameterID, Parameter> parameters;
    int stringRequests = 0, valueRequests = 0, sets = 0;
    bool stringRequestHadValue = false;
    OSStatus getParameterAnswer = noErr; // instead of a value when set
    AudioUnit unit = nullptr;

    Parameter* Find(AudioUnitScope scope, AudioUnitParameterID id) {
        auto it = parameters.find(id);
        return scope != kAudioUnitScope_Global || it == parameters.end() ? nullptr : &it->second;
    }
};
FakeUnit* gFake = nullptr; // the running test's

OSStatus GetProperty(void*, AudioUnitPropertyID inID, AudioUnitScope inScope,
                     AudioUnitElement inElement, void* outData, UInt32*) {
    FakeUnit::Parameter* p = gFake->Find(inScope, inElement);
    if (inID == kAudioUnitProperty_ParameterInfo && p != nullptr) {
        // With the release flag the receiver owns one reference of each string.
        for (CFStringRef s : {p->info.cfNameString, p->info.unitName}) {
            if (s != nullptr && (p->info.flags & kAudioUnitParameterFlag_CFNameRelease) != 0) {
                CFRetain(s);
            }
        }
        std::memcpy(outData, &p->info, sizeof(p->info));
    } else if (inID == kAudioUnitProperty_ParameterValueStrings && p != nullptr &&
               p->valueStrings != nullptr) {
        *static_cast<CFArrayRef*>(outData) = static_cast<CFArrayRef>(CFRetain(p->valueStrings));
    } else if (inID == kAudioUnitProperty_ParameterStringFromValue && inElement == 0) {
        auto* request = static_cast<AudioUnitParameterStringFromValue*>(outData);
        ++gFake->stringRequests;
        gFake->stringRequestHadValue = request->inValue != nullptr;
        p = gFake->Find(inScope, request->inParamID);
        char text[64];
        std::snprintf(text, sizeof(text), "unit says %.1f",
                      double(request->inValue != nullptr ? *request->inValue : p->value));
        request->outString = CFStringCreateWithCString(nullptr, text, kCFStringEncodingUTF8);
    } else if (inID == kAudioUnitProperty_ParameterValueFromString && inElement == 0) {
        auto* request = static_cast<AudioUnitParameterValueFromString*>(outData);
        ++gFake->valueRequests;
        if (CFStringCompare(request->inString, CFSTR("forty-two"), 0) != kCFCompareEqualTo) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
        request->outValue = 42.0f;
    } else {
        return kAudioUnitErr_InvalidProperty;
    }
    return noErr;
}

OSStatus GetParameter(void*, AudioUnitParameterID inID, AudioUnitScope inScope, AudioUnitElement,
                      AudioUnitParameterValue* outValue) {
    FakeUnit::Parameter* p = gFake->Find(inScope, inID);
    if (gFake->getParameterAnswer == noErr && p != nullptr) {
        *outValue = p->value;
    }
    return p == nullptr ? kAudioUnitErr_InvalidParameter : gFake->getParameterAnswer;
}

OSStatus SetParameter(void*, AudioUnitParameterID inID, AudioUnitScope inScope, AudioUnitElement,
                      AudioUnitParameterValue inValue, UInt32) {
    FakeUnit::Parameter* p = gFake->Find(inScope, inID);
    if (p == nullptr) {
        return kAudioUnitErr_InvalidParameter;
    }
    ++gFake->sets;
    p->value = inValue;
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
    static AudioComponentPlugInInterface plugIn{
        [](void*, AudioComponentInstance) -> OSStatus { return noErr; },
        [](void*) -> OSStatus { return noErr; }, &Lookup, nullptr};
    return &plugIn;
}

// The text of a string, released after reading; "<null>" for none.
std::string Take(CFStringRef s, bool release = true) {
    char buffer[512] = "<null>";
    if (s != nullptr && !CFStringGetCString(s, buffer, sizeof(buffer), kCFStringEncodingUTF8)) {
        std::strcpy(buffer, "<unconvertible>");
    }
    if (s != nullptr && release) {
        CFRelease(s);
    }
    return buffer;
}
std::string Text(CFStringRef s) {
    return Take(s, false);
}

CFArrayRef MakeNames(std::initializer_list<const char*> names) {
    CFMutableArrayRef array = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
    for (const char* name : names) {
        CFStringRef s = CFStringCreateWithCString(nullptr, name, kCFStringEncodingUTF8);
        CFArrayAppendValue(array, s);
        CFRelease(s);
    }
    return array;
}

class CAAUParameterTest : public testing::Test {
protected:
    void SetUp() override {
        static const AudioComponent component = [] {
            AudioComponentDescription desc{kAudioUnitType_Effect, 0x54707276 /* 'Tprv' */,
                                           0x56787461 /* 'Vxta' */, 0, 0};
            return AudioComponentRegister(&desc, CFSTR("Vextra-Audio: Test Parameters"), 1,
                                          &Factory);
        }();
        gFake = &fake;
        ASSERT_EQ(AudioComponentInstanceNew(component, &fake.unit), noErr);
        UseLocale("en_US"); // numbers come out in the user's locale
    }
    void TearDown() override {
        AudioComponentInstanceDispose(fake.unit);
        for (auto& entry : fake.parameters) {
            if (entry.second.valueStrings != nullptr) {
                CFRelease(entry.second.valueStrings);
            }
        }
        unsetenv("LC_ALL");
    }
    static void UseLocale(const char* identifier) { setenv("LC_ALL", identifier, 1); }

    // Describes parameter `id` with the fields the tests vary.
    CAAUParameter Describe(AudioUnitParameterID id, AudioUnitParameterUnit unit, Float32 minValue,
                           Float32 maxValue, AudioUnitParameterOptions flags = 0,
                           Float32 defaultValue = 0, const char* name = "P") {
        AudioUnitParameterInfo& info = fake.parameters[id].info;
        std::snprintf(info.name, sizeof(info.name), "%s", name);
        info.unit = unit;
        info.minValue = minValue;
        info.maxValue = maxValue;
        info.defaultValue = defaultValue;
        info.flags =
            flags | kAudioUnitParameterFlag_IsReadable | kAudioUnitParameterFlag_IsWritable;
        return Open(id);
    }
    CAAUParameter Open(AudioUnitParameterID id) {
        return CAAUParameter(fake.unit, id, kAudioUnitScope_Global, 0);
    }
    static std::string TextFor(const CAAUParameter& parameter, AudioUnitParameterValue value) {
        return Take(parameter.GetStringFromValueCopy(&value));
    }

    FakeUnit fake;
};

TEST_F(CAAUParameterTest, RefusedInformationGivesAnEmptyDescriptionAndUnitLabels) {
    const CAAUParameter missing = Open(9), empty; // the latter holds nothing at all
    EXPECT_EQ(std::make_tuple(Text(missing.GetName()), missing.ParamInfo().flags,
                              Text(missing.GetParamTag()), missing.GetNumIndexedParams()),
              std::make_tuple("", 0u, "<null>", 0));
    EXPECT_EQ(
        std::make_tuple(Text(empty.GetName()), Text(empty.GetParamTag()), empty.HasNamedParams()),
        std::make_tuple("<null>", "<null>", false));

    std::string labels;                        // 26, the custom unit, has no name here
    for (UInt32 unit = 0; unit < 29; ++unit) { // and 200, which is no unit
        labels += Text(Describe(unit, unit < 28 ? unit : 200, 0, 10).GetParamTag()) + "|";
    }
    EXPECT_EQ(labels, "<null>|<null>|T/F|%|Secs|Samps|Degr.|<null>|Hz|Cents|S-T|MIDI|MIDI|dB|Gain|"
                      "Degr.|%|Gain|L/R|Mtrs|Cents|8ve|BPM|Beats|msecs|Ratio||<null>|<null>|");
}

TEST_F(CAAUParameterTest, NamesFromTheCStringOrTheCFString) {
    const auto gen = kAudioUnitParameterUnit_Generic;
    EXPECT_EQ(Text(Describe(0, gen, 0, 1, 0, 0, "Feedback \xC3\xBC").GetName()),
              "Feedback \xC3\xBC");
    // A name that is no UTF-8 still comes out readable.
    EXPECT_EQ(Text(Describe(1, gen, 0, 1, 0, 0, "Gr\xFC\xDF").GetName()), "Gr\xC3\xBC\xC3\x9F");
    // A C name that fills the field without a terminator stops at its end.
    Describe(2, gen, 0, 1);
    std::memset(fake.parameters[2].info.name, 'x', sizeof(fake.parameters[2].info.name));
    EXPECT_EQ(Text(Open(2).GetName()), std::string(52, 'x'));

    // A CF name the unit keeps: the description adds its own reference; one
    // handed over with the release flag is kept and released at the end.
    CFStringRef kept = CFStringCreateWithCString(nullptr, "Delay Time", kCFStringEncodingUTF8);
    Describe(3, gen, 0, 1, kAudioUnitParameterFlag_HasCFNameString);
    Describe(4, gen, 0, 1,
             kAudioUnitParameterFlag_HasCFNameString | kAudioUnitParameterFlag_CFNameRelease);
    fake.parameters[3].info.cfNameString = fake.parameters[4].info.cfNameString = kept;
    {
        CAAUParameter parameter = Open(3);
        EXPECT_EQ(parameter.GetName(), kept);
        EXPECT_EQ(CFGetRetainCount(kept), 2);
        CAAUParameter copy(parameter);
        EXPECT_EQ(CFGetRetainCount(kept), 3);
        CAAUParameter handedOver = Open(4);
        EXPECT_EQ(handedOver.GetName(), kept);
        EXPECT_EQ(CFGetRetainCount(kept), 4);
    }
    EXPECT_EQ(CFGetRetainCount(kept), 1);
    CFRelease(kept);
}

TEST_F(CAAUParameterTest, CustomUnitNames) {
    CFStringRef unitName = CFStringCreateWithCString(nullptr, "furlongs", kCFStringEncodingUTF8);
    Describe(0, kAudioUnitParameterUnit_CustomUnit, 0, 8);
    Describe(1, kAudioUnitParameterUnit_CustomUnit, 0, 8, kAudioUnitParameterFlag_CFNameRelease);
    fake.parameters[0].info.unitName = fake.parameters[1].info.unitName = unitName;
    {
        const CAAUParameter kept = Open(0);
        EXPECT_EQ(Text(kept.GetParamTag()), "furlongs");
        EXPECT_NE(kept.GetParamTag(), unitName); // a tag of its own
        EXPECT_EQ(CFGetRetainCount(unitName), 1);
        // The reference handed over is released once the tag is made.
        EXPECT_EQ(Text(Open(1).GetParamTag()), "furlongs");
        EXPECT_EQ(CFGetRetainCount(unitName), 1);
    }
    CFRelease(unitName);
    // A name longer than the shared buffer is cut, never overrun.
    CFStringRef longName =
        CFStringCreateWithCString(nullptr, std::string(400, 'u').c_str(), kCFStringEncodingUTF8);
    Describe(2, kAudioUnitParameterUnit_CustomUnit, 0, 1);
    fake.parameters[2].info.unitName = longName;
    EXPECT_EQ(Text(Open(2).GetParamTag()), std::string(255, 'u'));
    CFRelease(longName);
}

TEST_F(CAAUParameterTest, IndexedAndMIDICounts) {
    const auto indexed = kAudioUnitParameterUnit_Indexed;
    const CAAUParameter mode = Describe(0, indexed, 0, 3);
    EXPECT_EQ(mode.GetNumIndexedParams(), 4);
    EXPECT_FALSE(mode.HasNamedParams());
    EXPECT_EQ(mode.GetParamTag(), nullptr);
    EXPECT_TRUE(mode.IsIndexedParam());
    const CAAUParameter note = Describe(1, kAudioUnitParameterUnit_MIDINoteNumber, 0, 127);
    EXPECT_EQ(note.GetNumIndexedParams(), 128);
    EXPECT_EQ(Text(note.GetParamTag()), "MIDI");
    EXPECT_EQ(Describe(2, kAudioUnitParameterUnit_MIDIController, 1, 16).GetNumIndexedParams(), 16);
    // max + 1 - min truncated toward zero; a count that does not fit gives 0.
    EXPECT_EQ(Describe(4, indexed, 0.5f, 2.9f).GetNumIndexedParams(), 3);
    EXPECT_EQ(Describe(5, indexed, 0, 1e30f).GetNumIndexedParams(), 0);
    EXPECT_EQ(Describe(6, kAudioUnitParameterUnit_Decibels, -96, 12).GetNumIndexedParams(), 0);

    // Named values decide the count when the unit has them, and give the
    // text; the index counts from the minimum's whole part.
    fake.parameters[3].valueStrings = MakeNames({"Sine", "Square", "Saw", "Noise"});
    fake.parameters[7].valueStrings = MakeNames({"Sine", "Square", "Saw", "Noise"});
    const CAAUParameter shape = Describe(3, indexed, 0, 9);
    EXPECT_EQ(shape.GetNumIndexedParams(), 4);
    ASSERT_TRUE(shape.HasNamedParams());
    EXPECT_EQ(Text(shape.GetParamName(1)), "Square");
    EXPECT_EQ(shape.GetParamName(4), nullptr);
    EXPECT_EQ(shape.GetParamName(-1), nullptr);
    EXPECT_EQ(CFGetRetainCount(fake.parameters[3].valueStrings), 2); // the description's own
    EXPECT_EQ(TextFor(shape, 2.0f), "Saw");
    EXPECT_EQ(TextFor(shape, 3.9f), "Noise");
    // Past the names, below them or beyond any index: a number (range 9:
    // three fraction digits, at least one shown).
    EXPECT_EQ(TextFor(shape, 4.0f), "4.0");
    EXPECT_EQ(TextFor(shape, -1.0f), "-1.0");
    EXPECT_EQ(TextFor(shape, 3e9f), "3,000,000,000.0");
    EXPECT_EQ(TextFor(Describe(7, indexed, 1, 4), 1.0f), "Saw");
    // Without a value the unit's current one is used.
    fake.parameters[3].value = 1.0f;
    EXPECT_EQ(Take(shape.GetStringFromValueCopy()), "Square");
}

TEST_F(CAAUParameterTest, UnitsThatConvertTheirOwnValues) {
    const CAAUParameter parameter = Describe(5, kAudioUnitParameterUnit_Generic, 0, 10,
                                             kAudioUnitParameterFlag_ValuesHaveStrings);
    fake.parameters[5].value = 7.0f;
    EXPECT_TRUE(parameter.ValuesHaveStrings());
    EXPECT_EQ(TextFor(parameter, 2.5f), "unit says 2.5");
    EXPECT_TRUE(fake.stringRequestHadValue);
    // No value: the unit is asked about its current one.
    EXPECT_EQ(Take(parameter.GetStringFromValueCopy()), "unit says 7.0");
    EXPECT_FALSE(fake.stringRequestHadValue);
    EXPECT_EQ(fake.stringRequests, 2);

    EXPECT_EQ(parameter.GetValueFromString(CFSTR("forty-two")), 42.0f);
    // Text the unit does not know falls back to reading a number.
    EXPECT_EQ(parameter.GetValueFromString(CFSTR("3.25")), 3.25f);
    EXPECT_EQ(fake.valueRequests, 2);
}

TEST_F(CAAUParameterTest, SetValueClampsIntoTheRange) {
    const CAAUParameter mix = Describe(0, kAudioUnitParameterUnit_Generic, 0, 1, 0, 0.25f);
    const std::pair<float, float> cases[] = {
        {2.0f, 1.0f}, {-3.0f, 0.0f}, {0.6f, 0.6f}, {std::nanf(""), 0.25f}};
    for (const auto& [in, out] : cases) {
        mix.SetValue(nullptr, nullptr, in);
        EXPECT_EQ(mix.GetValue(), out) << in;
    }
    EXPECT_EQ(fake.sets, 4);
    // A unit that does not answer reads as 0.
    fake.getParameterAnswer = kAudioUnitErr_Uninitialized;
    EXPECT_EQ(mix.GetValue(), 0.0f);
}

// Copies share their strings by reference; assigning over a description
// releases what it held.
TEST_F(CAAUParameterTest, CopiesShareTheirStringsByReference) {
    fake.parameters[0].valueStrings = MakeNames({"A", "B", "C"});
    const CAAUParameter shape = Describe(0, kAudioUnitParameterUnit_Indexed, 0, 2, 0, 0, "Shape");
    const CAAUParameter cutoff =
        Describe(1, kAudioUnitParameterUnit_Hertz, 20, 20000, 0, 1000, "Cutoff");
    CFTypeRef held[] = {shape.GetName(), shape.GetNamedParams(), cutoff.GetParamTag()};
    CFIndex counts[3];
    for (int i = 0; i < 3; ++i) {
        counts[i] = CFGetRetainCount(held[i]);
    }
    {
        CAAUParameter copy(shape);
        EXPECT_EQ(copy.GetName(), shape.GetName());
        EXPECT_EQ(copy.GetNumIndexedParams(), 3);
        EXPECT_EQ(CFGetRetainCount(held[0]), counts[0] + 1);
        EXPECT_EQ(CFGetRetainCount(held[1]), counts[1] + 1);
        copy = cutoff;
        EXPECT_EQ(CFGetRetainCount(held[0]), counts[0]);
        EXPECT_EQ(CFGetRetainCount(held[1]), counts[1]);
        EXPECT_EQ(CFGetRetainCount(held[2]), counts[2] + 1);
        EXPECT_EQ(copy.mParameterID, 1u);
        EXPECT_FALSE(copy.HasNamedParams());
        CAAUParameter& self = copy;
        copy = self;
        EXPECT_EQ(CFGetRetainCount(held[2]), counts[2] + 1);
        EXPECT_EQ(Text(copy.GetParamTag()), "Hz");
    }
    EXPECT_EQ(CFGetRetainCount(held[2]), counts[2]);
    // From the platform record.
    const CAAUParameter fromRecord(AudioUnitParameter{fake.unit, 1, kAudioUnitScope_Global, 0});
    EXPECT_EQ(Text(fromRecord.GetName()), "Cutoff");
    EXPECT_EQ(fromRecord.ParamInfo().maxValue, 20000.0f);
}

// The range decides the fraction digits (four significant ones in all); a
// frequency takes its own magnitude instead.
TEST_F(CAAUParameterTest, FractionDigitsFollowTheRangeOrTheFrequency) {
    const AudioUnitParameterUnit generic = kAudioUnitParameterUnit_Generic;
    const AudioUnitParameterUnit hertz = kAudioUnitParameterUnit_Hertz;
    const struct Row {
        AudioUnitParameterUnit unit;
        Float32 minValue, maxValue;
        AudioUnitParameterOptions flags;
        double value;
        UInt32 minDigits;
        const char* expected;
    } rows[] = {
        // Range 1: three fraction digits, at least minDigits shown.
        {generic, 0, 1, 0, 0.123456, 1, "0.123"},
        {generic, 0, 1, 0, 0.5, 1, "0.5"},
        {generic, 0, 1, 0, 1.0, 0, "1"},
        {generic, 0, 1, 0, 0.5, 3, "0.500"},
        // Range 100: one. Range 20000: none, so no minimum either.
        {kAudioUnitParameterUnit_Percent, 0, 100, 0, 12.3456, 1, "12.3"},
        {generic, 0, 20000, 0, 1234.56, 1, "1,235"},
        {generic, 0, 20000, 0, 7.0, 1, "7"},
        // Range 0.5: the exponent is truncated toward zero, so three again.
        {generic, 0, 0.5f, 0, 0.123456, 1, "0.123"},
        // High resolution always shows four.
        {generic, 0, 20000, kAudioUnitParameterFlag_IsHighResolution, 1234.56789, 1, "1,234.5679"},
        // Hertz scales with the value; zero takes the smallest magnitude.
        {hertz, 20, 20000, 0, 5.12345, 1, "5.123"},
        {hertz, 20, 20000, 0, 440.0, 1, "440.0"},
        {hertz, 20, 20000, 0, 20000.0, 1, "20,000"},
        {hertz, 20, 20000, 0, 0.0, 1, "0.0"},
        // Degenerate ranges still give text.
        {generic, 0, std::nanf(""), 0, 0.5, 1, "0.5"},
        {generic, -INFINITY, INFINITY, 0, 2.5, 1, "2"},
    };
    AudioUnitParameterID id = 0;
    for (const Row& r : rows) {
        const CAAUParameter p = Describe(id++, r.unit, r.minValue, r.maxValue, r.flags);
        EXPECT_EQ(Take(CreateLocalizedStringForParameterValue(r.value, &p, 4, r.minDigits)),
                  r.expected)
            << "unit " << r.unit << ", range " << r.minValue << ".." << r.maxValue << ", value "
            << r.value << ", min digits " << r.minDigits;
    }
    // The three-argument form asks for at least one fraction digit.
    const CAAUParameter unitRange = Describe(id++, generic, 0, 1);
    EXPECT_EQ(Take(CreateLocalizedStringForParameterValue(1.0, &unitRange, 4)), "1.0");
    EXPECT_EQ(CreateLocalizedStringForParameterValue(1.0, nullptr, 4), nullptr);

    // A description's own text: cents show no fraction digits they do not
    // need, other units at least one.
    EXPECT_EQ(TextFor(Describe(id++, kAudioUnitParameterUnit_Cents, 0, 1), 1.0f), "1");
    EXPECT_EQ(TextFor(Describe(id++, kAudioUnitParameterUnit_AbsoluteCents, 0, 1), 1.0f), "1");
    EXPECT_EQ(TextFor(Describe(id++, kAudioUnitParameterUnit_LinearGain, 0, 1), 1.0f), "1.0");
    const CAAUParameter level = Describe(id, kAudioUnitParameterUnit_Decibels, -96, 12);
    fake.parameters[id].value = -6.5f;
    EXPECT_EQ(Take(level.GetStringFromValueCopy()), "-6.5");
}

TEST_F(CAAUParameterTest, TextFollowsTheUsersLocale) {
    const CAAUParameter mix = Describe(0, kAudioUnitParameterUnit_Generic, 0, 1, 0, 0.75f);
    const CAAUParameter wide = Describe(1, kAudioUnitParameterUnit_Generic, 0, 20000, 0, 100);
    const auto text = [](const CAAUParameter& p, double value) {
        return Take(CreateLocalizedStringForParameterValue(value, &p, 4, 1));
    };
    UseLocale("de_DE");
    EXPECT_EQ(text(mix, 0.25), "0,25");
    EXPECT_EQ(text(wide, 1234.56), "1.235");
    EXPECT_EQ(ValueForLocalizedParameterString(CFSTR("0,5"), &mix), 0.5);
    EXPECT_EQ(mix.GetValueFromString(CFSTR("0,5")), 0.5f);

    UseLocale("en_US");
    EXPECT_EQ(text(mix, 0.25), "0.25");
    EXPECT_EQ(text(wide, 1234.56), "1,235");
    EXPECT_EQ(ValueForLocalizedParameterString(CFSTR("0.5"), &mix), 0.5);
    EXPECT_EQ(ValueForLocalizedParameterString(CFSTR("-12.25"), &mix), -12.25);
    // Text that is no number gives the parameter's default.
    EXPECT_EQ(ValueForLocalizedParameterString(CFSTR("loud"), &mix), 0.75);
    EXPECT_EQ(ValueForLocalizedParameterString(CFSTR(""), &wide), 100.0);
    EXPECT_EQ(ValueForLocalizedParameterString(nullptr, &wide), 100.0);
    EXPECT_EQ(mix.GetValueFromString(CFSTR("loud")), 0.75f);
}

} // namespace
