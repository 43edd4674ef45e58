// Locales from the environment and ICU-backed number formatters.
#include "cf_test_text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace {

using cftest::own;
using cftest::take;

cftest::Owned<CFNumberFormatterRef> decimalFormatter(const char* identifier) {
    const auto locale = own(CFLocaleCreate(nullptr, own(cftest::makeString(identifier))));
    return own(CFNumberFormatterCreate(nullptr, locale, kCFNumberFormatterDecimalStyle));
}

void setInt(CFNumberFormatterRef formatter, CFStringRef key, int value) {
    CFNumberFormatterSetProperty(formatter, key, own(cftest::makeNumber(value)));
}

std::string format(CFNumberFormatterRef formatter, double value) {
    return take(
        CFNumberFormatterCreateStringWithValue(nullptr, formatter, kCFNumberDoubleType, &value));
}

// Restores an environment variable when the test ends.
struct EnvironmentGuard {
    explicit EnvironmentGuard(const char* variable) : name(variable) {
        const char* value = std::getenv(variable);
        old = value ? std::optional<std::string>(value) : std::nullopt;
    }
    ~EnvironmentGuard() { old ? setenv(name, old->c_str(), 1) : unsetenv(name); }
    const char* name;
    std::optional<std::string> old;
};

TEST(CFNumberFormatter, GermanAndAmericanDecimalSeparators) {
    const auto de = decimalFormatter("de_DE");
    const auto us = decimalFormatter("en_US");
    ASSERT_NE(de, nullptr);
    ASSERT_NE(us, nullptr);
    EXPECT_EQ(format(de, 0.5), "0,5");
    EXPECT_EQ(format(us, 0.5), "0.5");
    EXPECT_EQ(format(de, 12345.25), "12.345,25");
    EXPECT_EQ(format(us, -12345.25), "-12,345.25");
    int whole = 20000;
    EXPECT_EQ(take(CFNumberFormatterCreateStringWithValue(nullptr, us, kCFNumberIntType, &whole)),
              "20,000");
}

TEST(CFNumberFormatter, FractionDigitProperties) {
    const auto us = decimalFormatter("en_US");
    setInt(us, kCFNumberFormatterMaxFractionDigits, 3);
    setInt(us, kCFNumberFormatterMinFractionDigits, 1);
    EXPECT_EQ(format(us, 0.123456), "0.123");
    EXPECT_EQ(format(us, 2.0), "2.0");
    setInt(us, kCFNumberFormatterMaxFractionDigits, 0);
    setInt(us, kCFNumberFormatterMinFractionDigits, 0);
    EXPECT_EQ(format(us, 2.6), "3");
    const auto max = own(CFNumberFormatterCopyProperty(us, kCFNumberFormatterMaxFractionDigits));
    int value = -1;
    ASSERT_NE(max, nullptr);
    CFNumberGetValue(static_cast<CFNumberRef>(static_cast<CFTypeRef>(max)), kCFNumberIntType,
                     &value);
    EXPECT_EQ(value, 0);
    CFNumberFormatterSetProperty(us, kCFNumberFormatterUseGroupingSeparator, kCFBooleanFalse);
    EXPECT_EQ(format(us, 1234567.0), "1234567");
}

TEST(CFNumberFormatter, ParsesWholeStringsInTheLocalesSpelling) {
    const auto de = decimalFormatter("de_DE");
    double value = 0;
    EXPECT_TRUE(CFNumberFormatterGetValueFromString(de, CFSTR("0,25"), nullptr, kCFNumberDoubleType,
                                                    &value));
    EXPECT_DOUBLE_EQ(value, 0.25);
    EXPECT_TRUE(CFNumberFormatterGetValueFromString(de, CFSTR("-1.234,5"), nullptr,
                                                    kCFNumberDoubleType, &value));
    EXPECT_DOUBLE_EQ(value, -1234.5);
    // Trailing junk fails a whole-string parse but not a ranged one.
    value = 7;
    EXPECT_FALSE(CFNumberFormatterGetValueFromString(de, CFSTR("3,5 dB"), nullptr,
                                                     kCFNumberDoubleType, &value));
    CFRange range = CFRangeMake(0, 6);
    EXPECT_TRUE(CFNumberFormatterGetValueFromString(de, CFSTR("3,5 dB"), &range,
                                                    kCFNumberDoubleType, &value));
    EXPECT_DOUBLE_EQ(value, 3.5);
    EXPECT_EQ(range.length, 3);
    EXPECT_FALSE(CFNumberFormatterGetValueFromString(de, CFSTR("abc"), nullptr, kCFNumberDoubleType,
                                                     &value));
    EXPECT_FALSE(
        CFNumberFormatterGetValueFromString(de, CFSTR(""), nullptr, kCFNumberDoubleType, &value));
}

TEST(CFLocale, CurrentLocaleFollowsTheEnvironment) {
    EnvironmentGuard all("LC_ALL");
    EnvironmentGuard numeric("LC_NUMERIC");
    EnvironmentGuard lang("LANG");
    const auto identifier = [] {
        return cftest::text(CFLocaleGetIdentifier(own(CFLocaleCopyCurrent())));
    };
    const auto half = [] {
        const auto locale = own(CFLocaleCopyCurrent());
        return format(own(CFNumberFormatterCreate(nullptr, locale, kCFNumberFormatterDecimalStyle)),
                      0.5);
    };
    setenv("LC_ALL", "de_DE.UTF-8", 1);
    setenv("LANG", "en_US.UTF-8", 1);
    EXPECT_EQ(identifier(), "de_DE");
    const auto current = own(CFLocaleCopyCurrent());
    EXPECT_TRUE(CFEqual(CFLocaleGetValue(current, kCFLocaleDecimalSeparator), CFSTR(",")));
    EXPECT_TRUE(CFEqual(CFLocaleGetValue(current, kCFLocaleLanguageCode), CFSTR("de")));
    EXPECT_EQ(half(), "0,5");

    unsetenv("LC_ALL");
    setenv("LC_NUMERIC", "fr_FR.UTF-8", 1);
    EXPECT_EQ(identifier(), "fr_FR");

    unsetenv("LC_NUMERIC");
    EXPECT_EQ(identifier(), "en_US");

    setenv("LANG", "C", 1);
    EXPECT_EQ(half(), "0.5");
}

} // namespace
