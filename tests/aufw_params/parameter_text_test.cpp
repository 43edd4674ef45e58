// Values as text in the user's locale: how many fraction digits a
// parameter's range leaves, and reading numbers back.
#include "FakeParameterUnit.h"

#include <aufw/CAAUParameter.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

namespace {

// Takes ownership of a created string and returns its text.
std::string Consume(CFStringRef s) {
    std::string text = ToStd(s);
    if (s != nullptr) {
        CFRelease(s);
    }
    return text;
}

class ParameterTextTest : public testing::Test {
protected:
    void SetUp() override {
        UseLocale("en_US");
        ASSERT_NE(fake.Unit(), nullptr);
    }
    void TearDown() override { unsetenv("LC_ALL"); }

    static void UseLocale(const char* identifier) { setenv("LC_ALL", identifier, 1); }

    // A description of a parameter with the given unit, range and flags.
    CAAUParameter Describe(AudioUnitParameterUnit unit, Float32 minValue, Float32 maxValue,
                           AudioUnitParameterOptions flags = 0, Float32 defaultValue = 0) {
        const AudioUnitParameterID id = nextID++;
        fake.parameters[id].info = MakeInfo("P", unit, minValue, maxValue, defaultValue, flags);
        return CAAUParameter(fake.Unit(), id, kAudioUnitScope_Global, 0);
    }

    std::string Text(const CAAUParameter& p, double value, UInt32 minDigits = 1) {
        return Consume(CreateLocalizedStringForParameterValue(value, &p, 4, minDigits));
    }

    FakeParameterUnit fake;
    AudioUnitParameterID nextID = 0;
};

} // namespace

// The range decides the fraction digits (four significant ones in all);
// a frequency takes its own magnitude instead.
TEST_F(ParameterTextTest, FractionDigitsFollowTheRangeOrTheFrequency) {
    const AudioUnitParameterUnit generic = kAudioUnitParameterUnit_Generic;
    struct Row {
        AudioUnitParameterUnit unit;
        Float32 minValue, maxValue;
        AudioUnitParameterOptions flags;
        double value;
        UInt32 minDigits;
        const char* expected;
    };
    const Row rows[] = {
        // Range 1: three fraction digits, at least minDigits shown.
        {generic, 0, 1, 0, 0.123456, 1, "0.123"},
        {generic, 0, 1, 0, 0.5, 1, "0.5"},
        {generic, 0, 1, 0, 1.0, 1, "1.0"},
        {generic, 0, 1, 0, 1.0, 0, "1"},
        {generic, 0, 1, 0, 0.5, 3, "0.500"},
        // Range 100: one.
        {kAudioUnitParameterUnit_Percent, 0, 100, 0, 12.3456, 1, "12.3"},
        {kAudioUnitParameterUnit_Percent, 0, 100, 0, 100.0, 1, "100.0"},
        // Range 20000: none, so no minimum either.
        {generic, 0, 20000, 0, 1234.56, 1, "1,235"},
        {generic, 0, 20000, 0, 7.0, 1, "7"},
        // Range 0.5: the exponent is truncated toward zero, so three again.
        {generic, 0, 0.5f, 0, 0.123456, 1, "0.123"},
        // High resolution always shows four.
        {generic, 0, 20000, kAudioUnitParameterFlag_IsHighResolution, 1234.56789, 1, "1,234.5679"},
        // Hertz scales with the value; zero takes the smallest magnitude.
        {kAudioUnitParameterUnit_Hertz, 20, 20000, 0, 5.12345, 1, "5.123"},
        {kAudioUnitParameterUnit_Hertz, 20, 20000, 0, 440.0, 1, "440.0"},
        {kAudioUnitParameterUnit_Hertz, 20, 20000, 0, 20000.0, 1, "20,000"},
        {kAudioUnitParameterUnit_Hertz, 20, 20000, 0, 0.0, 1, "0.0"},
        // Degenerate ranges still give text.
        {generic, 0, std::nanf(""), 0, 0.5, 1, "0.5"},
        {generic, -INFINITY, INFINITY, 0, 2.5, 1, "2"},
    };
    for (const Row& r : rows) {
        const CAAUParameter p = Describe(r.unit, r.minValue, r.maxValue, r.flags);
        EXPECT_EQ(Text(p, r.value, r.minDigits), r.expected)
            << "unit " << r.unit << ", range " << r.minValue << ".." << r.maxValue << ", value "
            << r.value << ", min digits " << r.minDigits;
    }

    // The three-argument form asks for at least one fraction digit.
    const CAAUParameter unitRange = Describe(generic, 0, 1);
    EXPECT_EQ(Consume(CreateLocalizedStringForParameterValue(1.0, &unitRange, 4)), "1.0");
    EXPECT_EQ(CreateLocalizedStringForParameterValue(1.0, nullptr, 4), nullptr);
}

TEST_F(ParameterTextTest, ValueTextOfTheDescription) {
    // Cents show no fraction digits they do not need; other units at least one.
    const CAAUParameter cents = Describe(kAudioUnitParameterUnit_Cents, 0, 1);
    AudioUnitParameterValue one = 1.0f;
    EXPECT_EQ(Consume(cents.GetStringFromValueCopy(&one)), "1");
    const CAAUParameter absolute = Describe(kAudioUnitParameterUnit_AbsoluteCents, 0, 1);
    EXPECT_EQ(Consume(absolute.GetStringFromValueCopy(&one)), "1");
    const CAAUParameter gain = Describe(kAudioUnitParameterUnit_LinearGain, 0, 1);
    EXPECT_EQ(Consume(gain.GetStringFromValueCopy(&one)), "1.0");

    // Without a value, the unit's current value.
    const CAAUParameter level = Describe(kAudioUnitParameterUnit_Decibels, -96, 12);
    fake.parameters[level.mParameterID].value = -6.5f;
    EXPECT_EQ(Consume(level.GetStringFromValueCopy()), "-6.5");
}

TEST_F(ParameterTextTest, TextFollowsTheUsersLocale) {
    const CAAUParameter mix = Describe(kAudioUnitParameterUnit_Generic, 0, 1, 0, 0.75f);
    const CAAUParameter wide = Describe(kAudioUnitParameterUnit_Generic, 0, 20000, 0, 100);

    UseLocale("de_DE");
    EXPECT_EQ(Text(mix, 0.25), "0,25");
    EXPECT_EQ(Text(wide, 1234.56), "1.235");
    CFStringRef german = CFSTR("0,5");
    EXPECT_EQ(ValueForLocalizedParameterString(german, &mix), 0.5);
    EXPECT_EQ(mix.GetValueFromString(german), 0.5f);

    UseLocale("en_US");
    EXPECT_EQ(Text(mix, 0.25), "0.25");
    EXPECT_EQ(Text(wide, 1234.56), "1,235");
    EXPECT_EQ(ValueForLocalizedParameterString(CFSTR("0.5"), &mix), 0.5);
    EXPECT_EQ(ValueForLocalizedParameterString(CFSTR("-12.25"), &mix), -12.25);

    // Text that is no number gives the parameter's default.
    EXPECT_EQ(ValueForLocalizedParameterString(CFSTR("loud"), &mix), 0.75);
    EXPECT_EQ(ValueForLocalizedParameterString(CFSTR(""), &wide), 100.0);
    EXPECT_EQ(ValueForLocalizedParameterString(nullptr, &wide), 100.0);
    EXPECT_EQ(mix.GetValueFromString(CFSTR("loud")), 0.75f);
}
