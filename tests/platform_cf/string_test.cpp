// Strings: encodings, C-string access, comparison, formatting, editing.
#include "cf_test_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using cftest::makeString;
using cftest::text;

TEST(CFString, AsciiAndUtf8Creation) {
    EXPECT_EQ(CFStringCreateWithCString(nullptr, "caf\xC3\xA9", kCFStringEncodingASCII), nullptr);
    const auto s = cftest::own(makeString("caf\xC3\xA9"));
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(CFStringGetLength(s), 4);
    EXPECT_EQ(CFStringGetCharacterAtIndex(s, 3), 0xE9);
    // Invalid UTF-8 (a lone continuation byte, a truncated sequence, an overlong form).
    EXPECT_EQ(makeString("a\x80"), nullptr);
    EXPECT_EQ(makeString("a\xC3"), nullptr);
    EXPECT_EQ(makeString("\xC0\xAF"), nullptr);
    // Outside the basic plane: two UTF-16 units.
    const auto emoji = cftest::own(makeString("\xF0\x9F\x8E\xB5"));
    EXPECT_EQ(CFStringGetLength(emoji), 2);
    EXPECT_EQ(text(emoji), "\xF0\x9F\x8E\xB5");
}

TEST(CFString, LegacyEncodings) {
    // 0x8E is e-acute in MacRoman; 0xE9 is e-acute in Latin-1.
    const auto mac =
        cftest::own(CFStringCreateWithCString(nullptr, "\x8E", kCFStringEncodingMacRoman));
    const auto latin =
        cftest::own(CFStringCreateWithCString(nullptr, "\xE9", kCFStringEncodingISOLatin1));
    ASSERT_NE(mac, nullptr);
    ASSERT_NE(latin, nullptr);
    EXPECT_TRUE(CFEqual(mac, latin));
    char buffer[8];
    ASSERT_TRUE(CFStringGetCString(latin, buffer, sizeof buffer, kCFStringEncodingMacRoman));
    EXPECT_STREQ(buffer, "\x8E");
    const auto euro = cftest::own(makeString("\xE2\x82\xAC"));
    EXPECT_FALSE(CFStringGetCString(euro, buffer, sizeof buffer, kCFStringEncodingISOLatin1));
    ASSERT_TRUE(CFStringGetCString(euro, buffer, sizeof buffer, kCFStringEncodingWindowsLatin1));
    EXPECT_STREQ(buffer, "\x80");
}

TEST(CFString, GetCStringRefusesSmallBuffersAndUnrepresentableText) {
    CFStringRef s = CFSTR("hello");
    char buffer[6];
    EXPECT_TRUE(CFStringGetCString(s, buffer, 6, kCFStringEncodingASCII));
    EXPECT_STREQ(buffer, "hello");
    char small[5] = {'x', 'x', 'x', 'x', 'x'};
    EXPECT_FALSE(CFStringGetCString(s, small, 5, kCFStringEncodingASCII));
    EXPECT_FALSE(CFStringGetCString(s, small, 0, kCFStringEncodingASCII));
    EXPECT_EQ(small[0], '\0'); // never a partial, unterminated copy

    const auto accent = cftest::own(makeString("\xC3\xA9t\xC3\xA9"));
    EXPECT_FALSE(CFStringGetCString(accent, buffer, sizeof buffer, kCFStringEncodingASCII));
    char exact[6];
    EXPECT_TRUE(CFStringGetCString(accent, exact, 6, kCFStringEncodingUTF8));
    EXPECT_FALSE(CFStringGetCString(accent, exact, 5, kCFStringEncodingUTF8));
    EXPECT_EQ(CFStringGetMaximumSizeForEncoding(CFStringGetLength(accent), kCFStringEncodingUTF8),
              9);
    EXPECT_EQ(CFStringGetCStringPtr(accent, kCFStringEncodingASCII), nullptr);
    const char* ptr = CFStringGetCStringPtr(s, kCFStringEncodingASCII);
    if (ptr != nullptr) {
        EXPECT_STREQ(ptr, "hello");
    }
}

TEST(CFString, GetBytesStopsAtCharacterBoundaries) {
    const auto s = cftest::own(makeString("a\xC3\xA9z"));
    UInt8 out[8];
    CFIndex used = 0;
    CFIndex done = CFStringGetBytes(s, CFRangeMake(0, 3), kCFStringEncodingASCII, 0, false, out,
                                    sizeof out, &used);
    EXPECT_EQ(done, 1);
    EXPECT_EQ(used, 1);
    done = CFStringGetBytes(s, CFRangeMake(0, 3), kCFStringEncodingASCII, '?', false, out,
                            sizeof out, &used);
    EXPECT_EQ(done, 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), static_cast<size_t>(used)), "a?z");
    done = CFStringGetBytes(s, CFRangeMake(0, 3), kCFStringEncodingUTF8, 0, false, out, 2, &used);
    EXPECT_EQ(done, 1); // the two-byte character does not fit after "a"
    done =
        CFStringGetBytes(s, CFRangeMake(0, 3), kCFStringEncodingUTF8, 0, false, nullptr, 0, &used);
    EXPECT_EQ(used, 4);
}

TEST(CFString, CompareOptions) {
    struct Row {
        CFStringRef a, b;
        CFStringCompareFlags options;
        CFComparisonResult expected;
    };
    const Row rows[] = {
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
    for (const Row& row : rows) {
        SCOPED_TRACE(text(row.a) + " vs " + text(row.b));
        EXPECT_EQ(CFStringCompare(row.a, row.b, row.options), row.expected);
    }
    EXPECT_TRUE(CFStringHasPrefix(CFSTR("prefix-rest"), CFSTR("prefix")));
    EXPECT_TRUE(CFStringHasSuffix(CFSTR("name.component"), CFSTR(".component")));
    CFRange r = CFStringFind(CFSTR("a.b.c"), CFSTR("."), kCFCompareBackwards);
    EXPECT_EQ(r.location, 3);
    r = CFStringFind(CFSTR("Hello"), CFSTR("LL"), kCFCompareCaseInsensitive);
    EXPECT_EQ(r.location, 2);
    EXPECT_EQ(CFStringFind(CFSTR("Hello"), CFSTR("LL"), 0).location, kCFNotFound);
}

TEST(CFString, FormatWithObjectsAndCTypes) {
    const auto number = cftest::own(cftest::makeNumber(42));
    const auto s = cftest::own(CFStringCreateWithFormat(
        nullptr, nullptr, CFSTR("%d|%5.2f|%s|%@|%@|%x|%lld|%%|%-4d|"), -7, 3.14159, "c-text",
        CFSTR("cf-text"), number.get(), 255u, 1LL << 40, 3));
    EXPECT_EQ(text(s), "-7| 3.14|c-text|cf-text|42|ff|1099511627776|%|3   |");
    EXPECT_EQ(cftest::take(CFStringCreateWithFormat(nullptr, nullptr, CFSTR("[%@]"), nullptr)),
              "[(null)]");
    const UniChar wide[] = {0x48, 0xE9, 0};
    EXPECT_EQ(cftest::take(CFStringCreateWithFormat(nullptr, nullptr, CFSTR("%S"), wide)),
              "H\xC3\xA9");
}

TEST(CFString, MutableEditingAndCopies) {
    const auto m = cftest::own(CFStringCreateMutable(nullptr, 0));
    CFStringAppendCString(m, "abc", kCFStringEncodingASCII);
    CFStringAppend(m, CFSTR("def"));
    CFStringAppend(m, m);
    EXPECT_EQ(text(m), "abcdefabcdef");
    const auto copy = cftest::own(CFStringCreateCopy(nullptr, m));
    CFStringDelete(m, CFRangeMake(0, 6));
    CFStringInsert(m, 0, CFSTR(">"));
    EXPECT_EQ(text(m), ">abcdef");
    EXPECT_EQ(text(copy), "abcdefabcdef"); // the copy is independent
    // A copy of an immutable string may be the same object, retained.
    const auto again = cftest::own(CFStringCreateCopy(nullptr, copy));
    EXPECT_TRUE(CFEqual(again, copy));
    EXPECT_EQ(CFStringGetCStringPtr(m, kCFStringEncodingUTF8), nullptr);
    // Literals are never changed through the mutable interface.
    CFStringAppend(const_cast<CFMutableStringRef>(CFSTR("fixed")), CFSTR("!"));
    EXPECT_EQ(text(CFSTR("fixed")), "fixed");
    const auto spaced = cftest::own(CFStringCreateMutableCopy(nullptr, 0, CFSTR("  x y \n")));
    CFStringTrimWhitespace(spaced);
    EXPECT_EQ(text(spaced), "x y");
}

TEST(CFString, NumericValues) {
    EXPECT_EQ(CFStringGetIntValue(CFSTR("  -123abc")), -123);
    EXPECT_EQ(CFStringGetIntValue(CFSTR("x")), 0);
    EXPECT_EQ(CFStringGetIntValue(CFSTR("99999999999")), 2147483647);
    EXPECT_DOUBLE_EQ(CFStringGetDoubleValue(CFSTR("2.5e3")), 2500.0);
    EXPECT_DOUBLE_EQ(CFStringGetDoubleValue(CFSTR(" -0.125")), -0.125);
    EXPECT_DOUBLE_EQ(CFStringGetDoubleValue(CFSTR("junk")), 0.0);
}

TEST(CFString, SplitAndJoin) {
    const auto parts =
        cftest::own(CFStringCreateArrayBySeparatingStrings(nullptr, CFSTR("a,,b"), CFSTR(",")));
    ASSERT_EQ(CFArrayGetCount(parts), 3);
    EXPECT_TRUE(CFEqual(CFArrayGetValueAtIndex(parts, 1), CFSTR("")));
    EXPECT_EQ(cftest::take(CFStringCreateByCombiningStrings(nullptr, parts, CFSTR("+"))), "a++b");
}

} // namespace
