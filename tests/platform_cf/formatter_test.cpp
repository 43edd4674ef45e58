// Locales from the environment and ICU-backed number formatters.
#include "cf_test_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

using cftest::own;
using cftest::take;

CFNumberFormatterRef decimalFormatter(CFLocaleRef locale) {
    return CFNumberFormatterCreate(nullptr, locale, kCFNumberFormatterDecimalStyle);
}

CFNumberFormatterRef decimalFormatter(const char* identifier) {
    return decimalFormatter(own(CFLocaleCreate(nullptr, own(cftest::makeString(identifier)))));
}

std::string format(CFNumberFormatterRef formatter, double value) {
    return take(
        CFNumberFormatterCreateStringWithValue(nullptr, formatter, kCFNumberDoubleType, &value));
}

// Restores an environment variable when the test ends.
struct EnvironmentGuard {
    explicit EnvironmentGuard(const char* variable) : name(variable) {
        if (const char* value = std::getenv(variable))
            old = value;
    }
    ~EnvironmentGuard() { old ? setenv(name, old->c_str(), 1) : unsetenv(name); }
    const char* name;
    std::optional<std::string> old;
};

TEST(CFNumberFormatter, LocaleSeparatorsAndFractionDigits) {
    const auto de = own(decimalFormatter("de_DE"));
    const auto us = own(decimalFormatter("en_US"));
    EXPECT_EQ(format(de, 12345.25), "12.345,25");
    EXPECT_EQ(format(us, -12345.25), "-12,345.25");
    int whole = 20000;
    EXPECT_EQ(take(CFNumberFormatterCreateStringWithValue(nullptr, us, kCFNumberIntType, &whole)),
              "20,000");

    const auto setInt = [&](CFStringRef key, int value) {
        CFNumberFormatterSetProperty(us, key, own(cftest::makeNumber(value)));
    };
    setInt(kCFNumberFormatterMaxFractionDigits, 3);
    setInt(kCFNumberFormatterMinFractionDigits, 1);
    EXPECT_EQ(format(us, 0.123456), "0.123");
    EXPECT_EQ(format(us, 2.0), "2.0");
    setInt(kCFNumberFormatterMaxFractionDigits, 0);
    setInt(kCFNumberFormatterMinFractionDigits, 0);
    EXPECT_EQ(format(us, 2.6), "3");
    const auto max = own(CFNumberFormatterCopyProperty(us, kCFNumberFormatterMaxFractionDigits));
    int value = -1;
    ASSERT_NE(max, nullptr);
    CFNumberGetValue(static_cast<CFNumberRef>(max.get()), kCFNumberIntType, &value);
    EXPECT_EQ(value, 0);
    CFNumberFormatterSetProperty(us, kCFNumberFormatterUseGroupingSeparator, kCFBooleanFalse);
    EXPECT_EQ(format(us, 1234567.0), "1234567");
}

TEST(CFNumberFormatter, ParsesWholeStringsInTheLocalesSpelling) {
    const auto de = own(decimalFormatter("de_DE"));
    const auto parse = [&](CFStringRef text, CFRange* range, double expected) {
        double value = -99;
        const bool ok =
            CFNumberFormatterGetValueFromString(de, text, range, kCFNumberDoubleType, &value);
        EXPECT_EQ(ok, !std::isnan(expected)) << cftest::text(text);
        if (ok) {
            EXPECT_DOUBLE_EQ(value, expected) << cftest::text(text);
        }
    };
    parse(CFSTR("0,25"), nullptr, 0.25);
    parse(CFSTR("-1.234,5"), nullptr, -1234.5);
    // Trailing junk fails a whole-string parse but not a ranged one.
    parse(CFSTR("3,5 dB"), nullptr, NAN);
    CFRange range = CFRangeMake(0, 6);
    parse(CFSTR("3,5 dB"), &range, 3.5);
    EXPECT_EQ(range.length, 3);
    parse(CFSTR("abc"), nullptr, NAN);
    parse(CFSTR(""), nullptr, NAN);
}

TEST(CFLocale, CurrentLocaleFollowsTheEnvironment) {
    EnvironmentGuard all("LC_ALL"), numeric("LC_NUMERIC"), lang("LANG");
    const auto identifier = [] {
        return cftest::text(CFLocaleGetIdentifier(own(CFLocaleCopyCurrent())));
    };
    setenv("LC_ALL", "de_DE.UTF-8", 1);
    setenv("LC_NUMERIC", "fr_FR.UTF-8", 1);
    setenv("LANG", "en_US.UTF-8", 1);
    EXPECT_EQ(identifier(), "de_DE");
    const auto current = own(CFLocaleCopyCurrent());
    EXPECT_TRUE(CFEqual(CFLocaleGetValue(current, kCFLocaleDecimalSeparator), CFSTR(",")));
    EXPECT_TRUE(CFEqual(CFLocaleGetValue(current, kCFLocaleLanguageCode), CFSTR("de")));
    EXPECT_EQ(format(own(decimalFormatter(current)), 0.5), "0,5");

    unsetenv("LC_ALL");
    EXPECT_EQ(identifier(), "fr_FR");
    unsetenv("LC_NUMERIC");
    EXPECT_EQ(identifier(), "en_US");
    setenv("LANG", "C", 1);
    EXPECT_EQ(format(own(decimalFormatter(own(CFLocaleCopyCurrent()))), 0.5), "0.5");
}

} // namespace
