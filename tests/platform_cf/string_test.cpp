// Strings, locales and number formatters, and property lists through the API.
// What documents are read and written, and how exactly, is the differential
// test's (plist_oracle.py).
#include "cf_test_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

using cftest::makeString;
using cftest::own;
using cftest::take;
using cftest::text;

TEST(CFString, EncodingsAreCheckedBothWays) {
    // A lone continuation byte, a truncated sequence and an overlong form.
    for (const char* bad : {"a\x80", "a\xC3", "\xC0\xAF"})
        EXPECT_EQ(makeString(bad), nullptr) << "invalid UTF-8 accepted";
    EXPECT_EQ(CFStringCreateWithCString(nullptr, "caf\xC3\xA9", kCFStringEncodingASCII), nullptr);
    EXPECT_EQ(CFStringGetLength(own(makeString("\xF0\x9F\x8E\xB5"))), 2); // two UTF-16 units
    // 0x8E is e-acute in MacRoman; 0xE9 is e-acute in Latin-1.
    const auto mac = own(CFStringCreateWithCString(nullptr, "\x8E", kCFStringEncodingMacRoman));
    const auto latin = own(CFStringCreateWithCString(nullptr, "\xE9", kCFStringEncodingISOLatin1));
    EXPECT_TRUE(CFEqual(mac, latin));
    char buffer[8];
    ASSERT_TRUE(CFStringGetCString(latin, buffer, sizeof buffer, kCFStringEncodingMacRoman));
    EXPECT_STREQ(buffer, "\x8E");
    const auto euro = own(makeString("\xE2\x82\xAC"));
    EXPECT_FALSE(CFStringGetCString(euro, buffer, sizeof buffer, kCFStringEncodingISOLatin1));
    ASSERT_TRUE(CFStringGetCString(euro, buffer, sizeof buffer, kCFStringEncodingWindowsLatin1));
    EXPECT_STREQ(buffer, "\x80");

    char small[5] = {'x', 'x', 'x', 'x', 'x'};
    EXPECT_TRUE(CFStringGetCString(CFSTR("hell"), small, 5, kCFStringEncodingASCII));
    EXPECT_FALSE(CFStringGetCString(CFSTR("hello"), small, 5, kCFStringEncodingASCII));
    EXPECT_EQ(small[0], '\0'); // never a partial, unterminated copy
    const auto accent = own(makeString("\xC3\xA9t\xC3\xA9"));
    EXPECT_FALSE(CFStringGetCString(accent, buffer, sizeof buffer, kCFStringEncodingASCII));
    EXPECT_FALSE(CFStringGetCString(accent, buffer, 5, kCFStringEncodingUTF8));
    EXPECT_EQ(CFStringGetCStringPtr(accent, kCFStringEncodingASCII), nullptr);

    // GetBytes stops at character boundaries, or substitutes the loss byte.
    const auto s = own(makeString("a\xC3\xA9z"));
    UInt8 out[8];
    CFIndex used = 0;
    EXPECT_EQ(CFStringGetBytes(s, CFRangeMake(0, 3), kCFStringEncodingASCII, 0, false, out,
                               sizeof out, &used),
              1);
    EXPECT_EQ(CFStringGetBytes(s, CFRangeMake(0, 3), kCFStringEncodingASCII, '?', false, out,
                               sizeof out, &used),
              3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), static_cast<size_t>(used)), "a?z");
    EXPECT_EQ(
        CFStringGetBytes(s, CFRangeMake(0, 3), kCFStringEncodingUTF8, 0, false, out, 2, &used),
        1); // the two-byte character does not fit after "a"
}

TEST(CFString, CompareFindFormatEditAndValues) {
    const struct {
        CFStringRef a, b;
        CFStringCompareFlags options;
        CFComparisonResult expected;
    } rows[] = {
        {CFSTR("abc"), CFSTR("ABC"), 0, kCFCompareGreaterThan},
        {CFSTR("abc"), CFSTR("ABC"), kCFCompareCaseInsensitive, kCFCompareEqualTo},
        {CFSTR("ab"), CFSTR("abc"), 0, kCFCompareLessThan},
        {CFSTR("file9"), CFSTR("file10"), 0, kCFCompareGreaterThan},
        {CFSTR("file9"), CFSTR("file10"), kCFCompareNumerically, kCFCompareLessThan},
        {CFSTR("v007"), CFSTR("v7"), kCFCompareNumerically, kCFCompareEqualTo},
        {CFSTR("File2b"), CFSTR("file2A"), kCFCompareNumerically | kCFCompareCaseInsensitive,
         kCFCompareGreaterThan},
    };
    for (const auto& row : rows)
        EXPECT_EQ(CFStringCompare(row.a, row.b, row.options), row.expected)
            << text(row.a) << " vs " << text(row.b) << ", options " << row.options;
    EXPECT_EQ(CFStringFind(CFSTR("a.b.c"), CFSTR("."), kCFCompareBackwards).location, 3);
    EXPECT_EQ(CFStringFind(CFSTR("Hello"), CFSTR("LL"), kCFCompareCaseInsensitive).location, 2);

    const auto number = own(cftest::makeNumber(42));
    EXPECT_EQ(take(CFStringCreateWithFormat(
                  nullptr, nullptr, CFSTR("%d|%5.2f|%s|%@|%@|%x|%lld|%%|%-4d|"), -7, 3.14159,
                  "c-text", CFSTR("cf-text"), number.get(), 255u, 1LL << 40, 3)),
              "-7| 3.14|c-text|cf-text|42|ff|1099511627776|%|3   |");
    EXPECT_EQ(take(CFStringCreateWithFormat(nullptr, nullptr, CFSTR("[%@]"), nullptr)), "[(null)]");
    const UniChar wide[] = {0x48, 0xE9, 0};
    EXPECT_EQ(take(CFStringCreateWithFormat(nullptr, nullptr, CFSTR("%S"), wide)), "H\xC3\xA9");

    const auto m = own(CFStringCreateMutable(nullptr, 0));
    CFStringAppendCString(m, "abc", kCFStringEncodingASCII);
    CFStringAppend(m, m);
    const auto copy = own(CFStringCreateCopy(nullptr, m));
    CFStringDelete(m, CFRangeMake(0, 3));
    CFStringInsert(m, 0, CFSTR(">"));
    EXPECT_EQ(text(m), ">abc");
    EXPECT_EQ(text(copy), "abcabc"); // the copy is independent
    CFStringAppend(const_cast<CFMutableStringRef>(CFSTR("fixed")), CFSTR("!"));
    EXPECT_EQ(text(CFSTR("fixed")), "fixed"); // literals never change
    EXPECT_EQ(CFStringGetIntValue(CFSTR("  -123abc")), -123);
    EXPECT_EQ(CFStringGetIntValue(CFSTR("99999999999")), 2147483647);
}

CFNumberFormatterRef decimalFormatter(CFLocaleRef locale) {
    return CFNumberFormatterCreate(nullptr, locale, kCFNumberFormatterDecimalStyle);
}

std::string format(CFNumberFormatterRef formatter, double value) {
    return take(
        CFNumberFormatterCreateStringWithValue(nullptr, formatter, kCFNumberDoubleType, &value));
}

TEST(CFNumberFormatter, LocaleSpellingFractionDigitsAndParsing) {
    const auto de = own(decimalFormatter(own(CFLocaleCreate(nullptr, CFSTR("de_DE")))));
    const auto us = own(decimalFormatter(own(CFLocaleCreate(nullptr, CFSTR("en_US")))));
    EXPECT_EQ(format(de, 12345.25), "12.345,25");
    EXPECT_EQ(format(us, -12345.25), "-12,345.25");
    const auto setInt = [&](CFStringRef key, int value) {
        CFNumberFormatterSetProperty(us, key, own(cftest::makeNumber(value)));
    };
    setInt(kCFNumberFormatterMaxFractionDigits, 3);
    setInt(kCFNumberFormatterMinFractionDigits, 1);
    EXPECT_EQ(format(us, 0.123456), "0.123");
    EXPECT_EQ(format(us, 2.0), "2.0");
    setInt(kCFNumberFormatterMaxFractionDigits, 0);
    setInt(kCFNumberFormatterMinFractionDigits, 0);
    CFNumberFormatterSetProperty(us, kCFNumberFormatterUseGroupingSeparator, kCFBooleanFalse);
    EXPECT_EQ(format(us, 1234566.6), "1234567");

    const auto parse = [&](CFStringRef text, CFRange* range, double expected) {
        double value = -99;
        EXPECT_EQ(CFNumberFormatterGetValueFromString(de, text, range, kCFNumberDoubleType, &value),
                  !std::isnan(expected))
            << cftest::text(text);
        EXPECT_DOUBLE_EQ(std::isnan(expected) ? -99 : expected, value) << cftest::text(text);
    };
    parse(CFSTR("-1.234,5"), nullptr, -1234.5);
    // Trailing junk fails a whole-string parse but not a ranged one.
    parse(CFSTR("3,5 dB"), nullptr, NAN);
    CFRange range = CFRangeMake(0, 6);
    parse(CFSTR("3,5 dB"), &range, 3.5);
    EXPECT_EQ(range.length, 3);
}

TEST(CFLocale, CurrentLocaleFollowsTheEnvironment) {
    std::optional<std::string> saved[3];
    const char* names[] = {"LC_ALL", "LC_NUMERIC", "LANG"};
    for (int k = 0; k < 3; ++k)
        if (const char* value = std::getenv(names[k]))
            saved[k] = value;
    const auto identifier = [] { return text(CFLocaleGetIdentifier(own(CFLocaleCopyCurrent()))); };
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
    for (int k = 0; k < 3; ++k)
        saved[k] ? setenv(names[k], saved[k]->c_str(), 1) : unsetenv(names[k]);
}

CFDataRef document(const char* body) {
    const std::string text = std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist "
                                         "version=\"1.0\">") +
                             body + "</plist>\n";
    return CFDataCreate(nullptr, reinterpret_cast<const UInt8*>(text.data()),
                        static_cast<CFIndex>(text.size()));
}

TEST(CFPropertyList, ReadMutabilityFormatAndValidity) {
    const auto body = "<array><string>s</string><data>AQID</data></array>";
    CFPropertyListFormat format = 0;
    const auto fixed = own(CFPropertyListCreateWithData(
        nullptr, own(document(body)), kCFPropertyListImmutable, &format, nullptr));
    EXPECT_EQ(format, kCFPropertyListXMLFormat_v1_0);
    CFArrayAppendValue((CFMutableArrayRef)fixed.get(), kCFBooleanTrue);
    EXPECT_EQ(CFArrayGetCount((CFArrayRef)fixed.get()), 2); // read containers are immutable
    const auto plist = own(CFPropertyListCreateWithData(
        nullptr, own(document(body)), kCFPropertyListMutableContainersAndLeaves, nullptr, nullptr));
    auto array = (CFMutableArrayRef)plist.get();
    CFArrayAppendValue(array, kCFBooleanTrue);
    EXPECT_EQ(CFArrayGetCount(array), 3);
    CFStringAppend((CFMutableStringRef)CFArrayGetValueAtIndex(array, 0), CFSTR("+"));
    EXPECT_TRUE(CFEqual(CFArrayGetValueAtIndex(array, 0), CFSTR("s+")));
    CFDataAppendBytes((CFMutableDataRef)CFArrayGetValueAtIndex(array, 1), (const UInt8*)"x", 1);
    EXPECT_EQ(CFDataGetLength((CFDataRef)CFArrayGetValueAtIndex(array, 1)), 4);

    CFStringRef error = nullptr;
    EXPECT_EQ(
        CFPropertyListCreateFromXMLData(nullptr, own(document("<integer>x</integer>")), 0, &error),
        nullptr);
    EXPECT_NE(take(error).find("at line"), std::string::npos);
    // Non-string keys are not property lists.
    const auto one = own(cftest::makeNumber(1));
    const void* key = one;
    EXPECT_FALSE(CFPropertyListIsValid(
        own(CFDictionaryCreate(nullptr, &key, &key, 1, &kCFTypeDictionaryKeyCallBacks,
                               &kCFTypeDictionaryValueCallBacks)),
        kCFPropertyListXMLFormat_v1_0));
}

} // namespace
