// Parameter descriptions built from a unit through the platform's Audio Unit
// calls: names, unit labels, indexed counts, named values, clamped setting
// and the ownership of the strings involved.
#include "FakeParameterUnit.h"

#include <aufw/CAAUParameter.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

namespace {

CFStringRef MakeString(const char* text) {
    return CFStringCreateWithCString(nullptr, text, kCFStringEncodingUTF8);
}

CFArrayRef MakeNames(std::initializer_list<const char*> names) {
    CFMutableArrayRef array = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
    for (const char* name : names) {
        CFStringRef s = MakeString(name);
        CFArrayAppendValue(array, s);
        CFRelease(s);
    }
    return array;
}

// The text a description gives for a value, released after reading.
std::string TextFor(const CAAUParameter& parameter, AudioUnitParameterValue value) {
    CFStringRef text = parameter.GetStringFromValueCopy(&value);
    std::string result = ToStd(text);
    if (text != nullptr) {
        CFRelease(text);
    }
    return result;
}

class CAAUParameterTest : public testing::Test {
protected:
    void SetUp() override {
        // Numbers come out in the user's locale; these tests read English.
        setenv("LC_ALL", "en_US.UTF-8", 1);
        ASSERT_NE(fake.Unit(), nullptr);
    }

    FakeParameterUnit fake;
};

} // namespace

TEST_F(CAAUParameterTest, RefusedInformationGivesAnEmptyDescription) {
    fake.parameters[9].refuseInfo = true;
    CAAUParameter parameter(fake.Unit(), 9, kAudioUnitScope_Global, 0);
    EXPECT_EQ(parameter.mAudioUnit, fake.Unit());
    EXPECT_EQ(parameter.mParameterID, 9u);
    EXPECT_EQ(ToStd(parameter.GetName()), "");
    EXPECT_EQ(parameter.ParamInfo().unit, 0u);
    EXPECT_EQ(parameter.ParamInfo().maxValue, 0.0f);
    EXPECT_EQ(parameter.ParamInfo().flags, 0u);
    EXPECT_EQ(parameter.GetParamTag(), nullptr);
    EXPECT_EQ(parameter.GetNumIndexedParams(), 0);

    // A default description holds nothing at all.
    CAAUParameter empty;
    EXPECT_EQ(empty.mAudioUnit, nullptr);
    EXPECT_EQ(empty.GetName(), nullptr);
    EXPECT_EQ(empty.GetParamTag(), nullptr);
    EXPECT_FALSE(empty.HasNamedParams());
}

TEST_F(CAAUParameterTest, UnitLabels) {
    const char* const expected[] = {nullptr, nullptr, "T/F",   "%",     "Secs", "Samps", "Degr.",
                                    nullptr, "Hz",    "Cents", "S-T",   "MIDI", "MIDI",  "dB",
                                    "Gain",  "Degr.", "%",     "Gain",  "L/R",  "Mtrs",  "Cents",
                                    "8ve",   "BPM",   "Beats", "msecs", "Ratio"};
    for (UInt32 unit = 0; unit < std::size(expected); ++unit) {
        fake.parameters[unit].info = MakeInfo("P", unit, 0, 10, 0);
    }
    fake.parameters[27].info = MakeInfo("P", 27, 0, 10, 0);
    fake.parameters[200].info = MakeInfo("P", 200, 0, 10, 0);

    for (UInt32 unit = 0; unit < std::size(expected); ++unit) {
        SCOPED_TRACE(unit);
        CAAUParameter parameter(fake.Unit(), unit, kAudioUnitScope_Global, 0);
        EXPECT_EQ(ToStd(parameter.GetParamTag()), expected[unit] ? expected[unit] : "<null>");
    }
    EXPECT_EQ(CAAUParameter(fake.Unit(), 27, kAudioUnitScope_Global, 0).GetParamTag(), nullptr);
    EXPECT_EQ(CAAUParameter(fake.Unit(), 200, kAudioUnitScope_Global, 0).GetParamTag(), nullptr);
}

TEST_F(CAAUParameterTest, NamesFromTheCStringOrTheCFString) {
    fake.parameters[0].info =
        MakeInfo("Feedback \xC3\xBC", kAudioUnitParameterUnit_Percent, 0, 100, 50);
    CAAUParameter plain(fake.Unit(), 0, kAudioUnitScope_Global, 0);
    EXPECT_EQ(ToStd(plain.GetName()), "Feedback \xC3\xBC");

    // A name that is no UTF-8 still comes out readable.
    fake.parameters[1].info = MakeInfo("Gr\xFC\xDF", kAudioUnitParameterUnit_Generic, 0, 1, 0);
    EXPECT_EQ(ToStd(CAAUParameter(fake.Unit(), 1, kAudioUnitScope_Global, 0).GetName()),
              "Gr\xC3\xBC\xC3\x9F");

    // A C name that fills the field without a terminator stops at its end.
    fake.parameters[2].info = MakeInfo("", kAudioUnitParameterUnit_Generic, 0, 1, 0);
    std::memset(fake.parameters[2].info.name, 'x', sizeof(fake.parameters[2].info.name));
    EXPECT_EQ(ToStd(CAAUParameter(fake.Unit(), 2, kAudioUnitScope_Global, 0).GetName()),
              std::string(52, 'x'));

    // A CF name the unit keeps: the description adds its own reference.
    CFStringRef kept = MakeString("Delay Time");
    fake.parameters[3].info = MakeInfo("ignored", kAudioUnitParameterUnit_Milliseconds, 1, 2000,
                                       250, kAudioUnitParameterFlag_HasCFNameString);
    fake.parameters[3].info.cfNameString = kept;
    {
        CAAUParameter parameter(fake.Unit(), 3, kAudioUnitScope_Global, 0);
        EXPECT_EQ(parameter.GetName(), kept);
        EXPECT_EQ(CFGetRetainCount(kept), 2);
        CAAUParameter copy(parameter);
        EXPECT_EQ(CFGetRetainCount(kept), 3);
    }
    EXPECT_EQ(CFGetRetainCount(kept), 1);

    // A CF name handed over with the release flag: the description keeps
    // the reference it was given and releases it at the end.
    fake.parameters[4].info =
        MakeInfo("ignored", kAudioUnitParameterUnit_Generic, 0, 1, 0,
                 kAudioUnitParameterFlag_HasCFNameString | kAudioUnitParameterFlag_CFNameRelease);
    fake.parameters[4].info.cfNameString = kept;
    {
        CAAUParameter parameter(fake.Unit(), 4, kAudioUnitScope_Global, 0);
        EXPECT_EQ(parameter.GetName(), kept);
        EXPECT_EQ(CFGetRetainCount(kept), 2);
    }
    EXPECT_EQ(CFGetRetainCount(kept), 1);
    CFRelease(kept);
}

TEST_F(CAAUParameterTest, CustomUnitNames) {
    CFStringRef unitName = MakeString("furlongs");
    fake.parameters[0].info = MakeInfo("Distance", kAudioUnitParameterUnit_CustomUnit, 0, 8, 1);
    fake.parameters[0].info.unitName = unitName;
    fake.parameters[1].info = MakeInfo("Distance", kAudioUnitParameterUnit_CustomUnit, 0, 8, 1,
                                       kAudioUnitParameterFlag_CFNameRelease);
    fake.parameters[1].info.unitName = unitName;
    {
        CAAUParameter kept(fake.Unit(), 0, kAudioUnitScope_Global, 0);
        EXPECT_EQ(ToStd(kept.GetParamTag()), "furlongs");
        EXPECT_NE(kept.GetParamTag(), unitName); // a tag of its own
        EXPECT_EQ(CFGetRetainCount(unitName), 1);

        // The reference handed over is released once the tag is made.
        CAAUParameter released(fake.Unit(), 1, kAudioUnitScope_Global, 0);
        EXPECT_EQ(ToStd(released.GetParamTag()), "furlongs");
        EXPECT_EQ(CFGetRetainCount(unitName), 1);
    }

    // A name longer than the shared buffer is cut, never overrun.
    CFStringRef longName = MakeString(std::string(400, 'u').c_str());
    fake.parameters[2].info = MakeInfo("Long", kAudioUnitParameterUnit_CustomUnit, 0, 1, 0);
    fake.parameters[2].info.unitName = longName;
    EXPECT_EQ(ToStd(CAAUParameter(fake.Unit(), 2, kAudioUnitScope_Global, 0).GetParamTag()),
              std::string(255, 'u'));
    CFRelease(longName);
    CFRelease(unitName);
}

TEST_F(CAAUParameterTest, IndexedAndMIDICounts) {
    fake.parameters[0].info = MakeInfo("Mode", kAudioUnitParameterUnit_Indexed, 0, 3, 0);
    fake.parameters[1].info = MakeInfo("Note", kAudioUnitParameterUnit_MIDINoteNumber, 0, 127, 60);
    fake.parameters[2].info = MakeInfo("CC", kAudioUnitParameterUnit_MIDIController, 1, 16, 1);
    fake.parameters[3].info = MakeInfo("Shape", kAudioUnitParameterUnit_Indexed, 0, 9, 0);
    fake.parameters[3].valueStrings = MakeNames({"Sine", "Square", "Saw"});
    fake.parameters[4].info = MakeInfo("Frac", kAudioUnitParameterUnit_Indexed, 0.5f, 2.9f, 1);
    fake.parameters[5].info = MakeInfo("Huge", kAudioUnitParameterUnit_Indexed, 0, 1e30f, 0);
    fake.parameters[6].info = MakeInfo("Gain", kAudioUnitParameterUnit_Decibels, -96, 12, 0);

    CAAUParameter mode(fake.Unit(), 0, kAudioUnitScope_Global, 0);
    EXPECT_EQ(mode.GetNumIndexedParams(), 4);
    EXPECT_FALSE(mode.HasNamedParams());
    EXPECT_EQ(mode.GetParamTag(), nullptr);
    EXPECT_TRUE(mode.IsIndexedParam());

    CAAUParameter note(fake.Unit(), 1, kAudioUnitScope_Global, 0);
    EXPECT_EQ(note.GetNumIndexedParams(), 128);
    EXPECT_EQ(ToStd(note.GetParamTag()), "MIDI");
    EXPECT_EQ(CAAUParameter(fake.Unit(), 2, kAudioUnitScope_Global, 0).GetNumIndexedParams(), 16);

    // Named values decide the count when the unit has them.
    CAAUParameter shape(fake.Unit(), 3, kAudioUnitScope_Global, 0);
    EXPECT_EQ(shape.GetNumIndexedParams(), 3);
    ASSERT_TRUE(shape.HasNamedParams());
    EXPECT_EQ(ToStd(shape.GetParamName(1)), "Square");
    EXPECT_EQ(shape.GetParamName(3), nullptr);
    EXPECT_EQ(shape.GetParamName(-1), nullptr);
    // The array handed out was retained for the description, which owns it.
    EXPECT_EQ(CFGetRetainCount(fake.parameters[3].valueStrings), 2);

    // max + 1 - min truncated toward zero; a count that does not fit gives 0.
    EXPECT_EQ(CAAUParameter(fake.Unit(), 4, kAudioUnitScope_Global, 0).GetNumIndexedParams(), 3);
    EXPECT_EQ(CAAUParameter(fake.Unit(), 5, kAudioUnitScope_Global, 0).GetNumIndexedParams(), 0);
    EXPECT_EQ(CAAUParameter(fake.Unit(), 6, kAudioUnitScope_Global, 0).GetNumIndexedParams(), 0);
}

TEST_F(CAAUParameterTest, IndexedValueText) {
    fake.parameters[0].info = MakeInfo("Shape", kAudioUnitParameterUnit_Indexed, 0, 9, 0);
    fake.parameters[0].valueStrings = MakeNames({"Sine", "Square", "Saw", "Noise"});
    fake.parameters[1].info = MakeInfo("Shape", kAudioUnitParameterUnit_Indexed, 1, 4, 1);
    fake.parameters[1].valueStrings = MakeNames({"Sine", "Square", "Saw", "Noise"});

    CAAUParameter shape(fake.Unit(), 0, kAudioUnitScope_Global, 0);
    EXPECT_EQ(TextFor(shape, 2.0f), "Saw");
    EXPECT_EQ(TextFor(shape, 3.9f), "Noise");
    // Past the names, or below them, the value comes out as a number.
    // (range 9: three fraction digits, at least one shown).
    EXPECT_EQ(TextFor(shape, 5.0f), "5.0");
    EXPECT_EQ(TextFor(shape, -1.0f), "-1.0");
    EXPECT_EQ(TextFor(shape, 4.0f), "4.0");
    // A value beyond any index is a number too, not undefined arithmetic.
    EXPECT_EQ(TextFor(shape, 3e9f), "3,000,000,000.0");

    // The index counts from the minimum's whole part.
    CAAUParameter offset(fake.Unit(), 1, kAudioUnitScope_Global, 0);
    EXPECT_EQ(TextFor(offset, 1.0f), "Saw");

    // Without a value the unit's current one is used.
    fake.parameters[0].value = 1.0f;
    CFStringRef current = shape.GetStringFromValueCopy();
    EXPECT_EQ(ToStd(current), "Square");
    CFRelease(current);
}

TEST_F(CAAUParameterTest, UnitsThatConvertTheirOwnValues) {
    fake.parameters[5].info = MakeInfo("Mode", kAudioUnitParameterUnit_Generic, 0, 10, 0,
                                       kAudioUnitParameterFlag_ValuesHaveStrings);
    fake.parameters[5].value = 7.0f;
    CAAUParameter parameter(fake.Unit(), 5, kAudioUnitScope_Global, 0);
    EXPECT_TRUE(parameter.ValuesHaveStrings());

    EXPECT_EQ(TextFor(parameter, 2.5f), "unit says 2.5");
    EXPECT_EQ(fake.requests.stringFromValue, 1);
    EXPECT_EQ(fake.requests.stringFromValueElement, 0u);
    EXPECT_TRUE(fake.requests.stringFromValueHadValue);

    // No value: the unit is asked about its current one.
    CFStringRef current = parameter.GetStringFromValueCopy();
    EXPECT_EQ(ToStd(current), "unit says 7.0");
    CFRelease(current);
    EXPECT_FALSE(fake.requests.stringFromValueHadValue);

    CFStringRef words = MakeString("forty-two");
    EXPECT_EQ(parameter.GetValueFromString(words), 42.0f);
    EXPECT_EQ(fake.requests.valueFromStringElement, 0u);
    CFRelease(words);
    // Text the unit does not know falls back to reading a number.
    CFStringRef number = MakeString("3.25");
    EXPECT_EQ(parameter.GetValueFromString(number), 3.25f);
    EXPECT_EQ(fake.requests.valueFromString, 2);
    CFRelease(number);
}

TEST_F(CAAUParameterTest, SetValueClampsIntoTheRange) {
    fake.parameters[0].info = MakeInfo("Mix", kAudioUnitParameterUnit_Generic, 0, 1, 0.25f);
    CAAUParameter mix(fake.Unit(), 0, kAudioUnitScope_Global, 0);

    mix.SetValue(nullptr, nullptr, 2.0f);
    EXPECT_EQ(fake.requests.lastSetValue, 1.0f);
    EXPECT_EQ(mix.GetValue(), 1.0f);
    mix.SetValue(nullptr, nullptr, -3.0f);
    EXPECT_EQ(fake.requests.lastSetValue, 0.0f);
    mix.SetValue(nullptr, nullptr, 0.6f);
    EXPECT_EQ(fake.requests.lastSetValue, 0.6f);
    mix.SetValue(nullptr, nullptr, std::nanf(""));
    EXPECT_EQ(fake.requests.lastSetValue, 0.25f);
    EXPECT_EQ(fake.requests.setParameter, 4);

    // A unit that does not answer reads as 0.
    fake.getParameterAnswer = kAudioUnitErr_Uninitialized;
    EXPECT_EQ(mix.GetValue(), 0.0f);
}

// Copies share their strings by reference; assigning over a description
// releases what it held. (Copying a CF name: NamesFromTheCStringOrTheCFString.)
TEST_F(CAAUParameterTest, CopiesShareTheirStringsByReference) {
    fake.parameters[0].info = MakeInfo("Shape", kAudioUnitParameterUnit_Indexed, 0, 2, 0);
    fake.parameters[0].valueStrings = MakeNames({"A", "B", "C"});
    fake.parameters[1].info = MakeInfo("Cutoff", kAudioUnitParameterUnit_Hertz, 20, 20000, 1000);

    CAAUParameter shape(fake.Unit(), 0, kAudioUnitScope_Global, 0);
    CAAUParameter cutoff(fake.Unit(), 1, kAudioUnitScope_Global, 0);
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
        EXPECT_EQ(ToStd(copy.GetParamTag()), "Hz");
    }
    EXPECT_EQ(CFGetRetainCount(held[2]), counts[2]);

    // From the platform record.
    const CAAUParameter fromRecord(AudioUnitParameter{fake.Unit(), 1, kAudioUnitScope_Global, 0});
    EXPECT_EQ(ToStd(fromRecord.GetName()), "Cutoff");
    EXPECT_EQ(fromRecord.ParamInfo().maxValue, 20000.0f);
}
