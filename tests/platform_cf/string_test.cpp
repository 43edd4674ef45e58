// Strings: encodings, C-string access, comparison, formatting, editing.
#include "cf_test_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using cftest::makeString;
using cftest::own;
using cftest::take;
using cftest::text;

TEST(CFString, CreationChecksTheEncoding) {
    // Invalid UTF-8 (a lone continuation byte, a truncated sequence, an
    // overlong form) and non-ASCII bytes as ASCII are refused.
    for (const char* bad : {"a\x80", "a\xC3", "\xC0\xAF"})
        EXPECT_EQ(makeString(bad), nullptr) << "invalid UTF-8 accepted";
    EXPECT_EQ(CFStringCreateWithCString(nullptr, "caf\xC3\xA9", kCFStringEncodingASCII), nullptr);
    const auto s = own(makeString("caf\xC3\xA9"));
    EXPECT_EQ(CFStringGetLength(s), 4);
    EXPECT_EQ(CFStringGetCharacterAtIndex(s, 3), 0xE9);
    // Outside the basic plane: two UTF-16 units.
    const auto emoji = own(makeString("\xF0\x9F\x8E\xB5"));
    EXPECT_EQ(CFStringGetLength(emoji), 2);
    EXPECT_EQ(text(emoji), "\xF0\x9F\x8E\xB5");

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
}

TEST(CFString, GetCStringRefusesSmallBuffersAndUnrepresentableText) {
    char buffer[6];
    EXPECT_TRUE(CFStringGetCString(CFSTR("hello"), buffer, 6, kCFStringEncodingASCII));
    EXPECT_STREQ(buffer, "hello");
    char small[5] = {'x', 'x', 'x', 'x', 'x'};
    EXPECT_FALSE(CFStringGetCString(CFSTR("hello"), small, 5, kCFStringEncodingASCII));
    EXPECT_FALSE(CFStringGetCString(CFSTR("hello"), small, 0, kCFStringEncodingASCII));
    EXPECT_EQ(small[0], '\0'); // never a partial, unterminated copy

    const auto accent = own(makeString("\xC3\xA9t\xC3\xA9"));
    EXPECT_FALSE(CFStringGetCString(accent, buffer, sizeof buffer, kCFStringEncodingASCII));
    EXPECT_TRUE(CFStringGetCString(accent, buffer, 6, kCFStringEncodingUTF8));
    EXPECT_FALSE(CFStringGetCString(accent, buffer, 5, kCFStringEncodingUTF8));
    EXPECT_EQ(CFStringGetMaximumSizeForEncoding(CFStringGetLength(accent), kCFStringEncodingUTF8),
              9);
    EXPECT_EQ(CFStringGetCStringPtr(accent, kCFStringEncodingASCII), nullptr);

    // GetBytes stops at character boundaries, or substitutes the loss byte.
    const auto s = own(makeString("a\xC3\xA9z"));
    UInt8 out[8];
    CFIndex used = 0;
    EXPECT_EQ(CFStringGetBytes(s, CFRangeMake(0, 3), kCFStringEncodingASCII, 0, false, out,
                               sizeof out, &used),
              1);
    EXPECT_EQ(used, 1);
    EXPECT_EQ(CFStringGetBytes(s, CFRangeMake(0, 3), kCFStringEncodingASCII, '?', false, out,
                               sizeof out, &used),
              3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), static_cast<size_t>(used)), "a?z");
    EXPECT_EQ(
        CFStringGetBytes(s, CFRangeMake(0, 3), kCFStringEncodingUTF8, 0, false, out, 2, &used),
        1); // the two-byte character does not fit after "a"
    CFStringGetBytes(s, CFRangeMake(0, 3), kCFStringEncodingUTF8, 0, false, nullptr, 0, &used);
    EXPECT_EQ(used, 4);
}

TEST(CFString, CompareAndFind) {
    const struct {
        CFStringRef a, b;
        CFStringCompareFlags options;
        CFComparisonResult expected;
    } rows[] = {
        {CFSTR("abc"), CFSTR("abd"), 0, kCFCompareLessThan},
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
    EXPECT_TRUE(CFStringHasPrefix(CFSTR("prefix-rest"), CFSTR("prefix")));
    EXPECT_TRUE(CFStringHasSuffix(CFSTR("name.component"), CFSTR(".component")));
    EXPECT_EQ(CFStringFind(CFSTR("a.b.c"), CFSTR("."), kCFCompareBackwards).location, 3);
    EXPECT_EQ(CFStringFind(CFSTR("Hello"), CFSTR("LL"), kCFCompareCaseInsensitive).location, 2);
    EXPECT_EQ(CFStringFind(CFSTR("Hello"), CFSTR("LL"), 0).location, kCFNotFound);
}

TEST(CFString, FormatWithObjectsAndCTypes) {
    const auto number = own(cftest::makeNumber(42));
    EXPECT_EQ(take(CFStringCreateWithFormat(
                  nullptr, nullptr, CFSTR("%d|%5.2f|%s|%@|%@|%x|%lld|%%|%-4d|"), -7, 3.14159,
                  "c-text", CFSTR("cf-text"), number.get(), 255u, 1LL << 40, 3)),
              "-7| 3.14|c-text|cf-text|42|ff|1099511627776|%|3   |");
    EXPECT_EQ(take(CFStringCreateWithFormat(nullptr, nullptr, CFSTR("[%@]"), nullptr)), "[(null)]");
    const UniChar wide[] = {0x48, 0xE9, 0};
    EXPECT_EQ(take(CFStringCreateWithFormat(nullptr, nullptr, CFSTR("%S"), wide)), "H\xC3\xA9");
}

TEST(CFString, MutableEditingCopiesAndValues) {
    const auto m = own(CFStringCreateMutable(nullptr, 0));
    CFStringAppendCString(m, "abc", kCFStringEncodingASCII);
    CFStringAppend(m, CFSTR("def"));
    CFStringAppend(m, m);
    const auto copy = own(CFStringCreateCopy(nullptr, m));
    CFStringDelete(m, CFRangeMake(0, 6));
    CFStringInsert(m, 0, CFSTR(">"));
    EXPECT_EQ(text(m), ">abcdef");
    EXPECT_EQ(text(copy), "abcdefabcdef"); // the copy is independent
    // Literals are never changed through the mutable interface.
    CFStringAppend(const_cast<CFMutableStringRef>(CFSTR("fixed")), CFSTR("!"));
    EXPECT_EQ(text(CFSTR("fixed")), "fixed");
    const auto spaced = own(CFStringCreateMutableCopy(nullptr, 0, CFSTR("  x y \n")));
    CFStringTrimWhitespace(spaced);
    EXPECT_EQ(text(spaced), "x y");

    EXPECT_EQ(CFStringGetIntValue(CFSTR("  -123abc")), -123);
    EXPECT_EQ(CFStringGetIntValue(CFSTR("x")), 0);
    EXPECT_EQ(CFStringGetIntValue(CFSTR("99999999999")), 2147483647);
    EXPECT_DOUBLE_EQ(CFStringGetDoubleValue(CFSTR("2.5e3")), 2500.0);
    EXPECT_DOUBLE_EQ(CFStringGetDoubleValue(CFSTR(" -0.125")), -0.125);
    EXPECT_DOUBLE_EQ(CFStringGetDoubleValue(CFSTR("junk")), 0.0);

    const auto parts =
        own(CFStringCreateArrayBySeparatingStrings(nullptr, CFSTR("a,,b"), CFSTR(",")));
    ASSERT_EQ(CFArrayGetCount(parts), 3);
    EXPECT_EQ(take(CFStringCreateByCombiningStrings(nullptr, parts, CFSTR("+"))), "a++b");
}

} // namespace
