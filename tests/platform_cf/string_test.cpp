// Strings: encodings, C-string access, comparison, formatting, editing.
#include <CoreFoundation/CoreFoundation.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string utf8(CFStringRef s) {
    char buffer[512];
    return CFStringGetCString(s, buffer, sizeof buffer, kCFStringEncodingUTF8) ? buffer
                                                                               : "<failed>";
}

TEST(CFString, AsciiAndUtf8Creation) {
    EXPECT_EQ(CFStringCreateWithCString(nullptr, "caf\xC3\xA9", kCFStringEncodingASCII), nullptr);
    CFStringRef s = CFStringCreateWithCString(nullptr, "caf\xC3\xA9", kCFStringEncodingUTF8);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(CFStringGetLength(s), 4);
    EXPECT_EQ(CFStringGetCharacterAtIndex(s, 3), 0xE9);
    // Invalid UTF-8 (a lone continuation byte, a truncated sequence, an overlong form).
    EXPECT_EQ(CFStringCreateWithCString(nullptr, "a\x80", kCFStringEncodingUTF8), nullptr);
    EXPECT_EQ(CFStringCreateWithCString(nullptr, "a\xC3", kCFStringEncodingUTF8), nullptr);
    EXPECT_EQ(CFStringCreateWithCString(nullptr, "\xC0\xAF", kCFStringEncodingUTF8), nullptr);
    // Outside the basic plane: two UTF-16 units.
    CFStringRef emoji =
        CFStringCreateWithCString(nullptr, "\xF0\x9F\x8E\xB5", kCFStringEncodingUTF8);
    EXPECT_EQ(CFStringGetLength(emoji), 2);
    EXPECT_EQ(utf8(emoji), "\xF0\x9F\x8E\xB5");
    CFRelease(emoji);
    CFRelease(s);
}

TEST(CFString, LegacyEncodings) {
    // 0x8E is e-acute in MacRoman; 0xE9 is e-acute in Latin-1.
    CFStringRef mac = CFStringCreateWithCString(nullptr, "\x8E", kCFStringEncodingMacRoman);
    CFStringRef latin = CFStringCreateWithCString(nullptr, "\xE9", kCFStringEncodingISOLatin1);
    ASSERT_NE(mac, nullptr);
    ASSERT_NE(latin, nullptr);
    EXPECT_TRUE(CFEqual(mac, latin));
    char buffer[8];
    ASSERT_TRUE(CFStringGetCString(latin, buffer, sizeof buffer, kCFStringEncodingMacRoman));
    EXPECT_STREQ(buffer, "\x8E");
    CFStringRef euro = CFStringCreateWithCString(nullptr, "\xE2\x82\xAC", kCFStringEncodingUTF8);
    EXPECT_FALSE(CFStringGetCString(euro, buffer, sizeof buffer, kCFStringEncodingISOLatin1));
    ASSERT_TRUE(CFStringGetCString(euro, buffer, sizeof buffer, kCFStringEncodingWindowsLatin1));
    EXPECT_STREQ(buffer, "\x80");
    CFRelease(euro);
    CFRelease(mac);
    CFRelease(latin);
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

    CFStringRef accent =
        CFStringCreateWithCString(nullptr, "\xC3\xA9t\xC3\xA9", kCFStringEncodingUTF8);
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
    CFRelease(accent);
}

TEST(CFString, GetBytesStopsAtCharacterBoundaries) {
    CFStringRef s = CFStringCreateWithCString(nullptr, "a\xC3\xA9z", kCFStringEncodingUTF8);
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
    CFRelease(s);
}

TEST(CFString, CompareOptions) {
    EXPECT_EQ(CFStringCompare(CFSTR("abc"), CFSTR("abd"), 0), kCFCompareLessThan);
    EXPECT_EQ(CFStringCompare(CFSTR("abc"), CFSTR("ABC"), 0), kCFCompareGreaterThan);
    EXPECT_EQ(CFStringCompare(CFSTR("abc"), CFSTR("ABC"), kCFCompareCaseInsensitive),
              kCFCompareEqualTo);
    EXPECT_EQ(CFStringCompare(CFSTR("ab"), CFSTR("abc"), 0), kCFCompareLessThan);
    EXPECT_EQ(CFStringCompare(CFSTR("file9"), CFSTR("file10"), 0), kCFCompareGreaterThan);
    EXPECT_EQ(CFStringCompare(CFSTR("file9"), CFSTR("file10"), kCFCompareNumerically),
              kCFCompareLessThan);
    EXPECT_EQ(CFStringCompare(CFSTR("v007"), CFSTR("v7"), kCFCompareNumerically),
              kCFCompareEqualTo);
    EXPECT_EQ(CFStringCompare(CFSTR("File2b"), CFSTR("file2A"),
                              kCFCompareNumerically | kCFCompareCaseInsensitive),
              kCFCompareGreaterThan);
    EXPECT_TRUE(CFStringHasPrefix(CFSTR("prefix-rest"), CFSTR("prefix")));
    EXPECT_TRUE(CFStringHasSuffix(CFSTR("name.component"), CFSTR(".component")));
    CFRange r = CFStringFind(CFSTR("a.b.c"), CFSTR("."), kCFCompareBackwards);
    EXPECT_EQ(r.location, 3);
    r = CFStringFind(CFSTR("Hello"), CFSTR("LL"), kCFCompareCaseInsensitive);
    EXPECT_EQ(r.location, 2);
    EXPECT_EQ(CFStringFind(CFSTR("Hello"), CFSTR("LL"), 0).location, kCFNotFound);
}

TEST(CFString, FormatWithObjectsAndCTypes) {
    int n = 42;
    CFNumberRef number = CFNumberCreate(nullptr, kCFNumberIntType, &n);
    CFStringRef s =
        CFStringCreateWithFormat(nullptr, nullptr, CFSTR("%d|%5.2f|%s|%@|%@|%x|%lld|%%|%-4d|"), -7,
                                 3.14159, "c-text", CFSTR("cf-text"), number, 255u, 1LL << 40, 3);
    EXPECT_EQ(utf8(s), "-7| 3.14|c-text|cf-text|42|ff|1099511627776|%|3   |");
    CFRelease(s);
    CFStringRef nul = CFStringCreateWithFormat(nullptr, nullptr, CFSTR("[%@]"), nullptr);
    EXPECT_EQ(utf8(nul), "[(null)]");
    CFRelease(nul);
    const UniChar wide[] = {0x48, 0xE9, 0};
    CFStringRef w = CFStringCreateWithFormat(nullptr, nullptr, CFSTR("%S"), wide);
    EXPECT_EQ(utf8(w), "H\xC3\xA9");
    CFRelease(w);
    CFRelease(number);
}

TEST(CFString, MutableEditingAndCopies) {
    CFMutableStringRef m = CFStringCreateMutable(nullptr, 0);
    CFStringAppendCString(m, "abc", kCFStringEncodingASCII);
    CFStringAppend(m, CFSTR("def"));
    CFStringAppend(m, m);
    EXPECT_EQ(utf8(m), "abcdefabcdef");
    CFStringRef copy = CFStringCreateCopy(nullptr, m);
    CFStringDelete(m, CFRangeMake(0, 6));
    CFStringInsert(m, 0, CFSTR(">"));
    EXPECT_EQ(utf8(m), ">abcdef");
    EXPECT_EQ(utf8(copy), "abcdefabcdef"); // the copy is independent
    // A copy of an immutable string may be the same object, retained.
    CFStringRef again = CFStringCreateCopy(nullptr, copy);
    EXPECT_TRUE(CFEqual(again, copy));
    EXPECT_EQ(CFStringGetCStringPtr(m, kCFStringEncodingUTF8), nullptr);
    // Literals are never changed through the mutable interface.
    CFStringAppend(const_cast<CFMutableStringRef>(CFSTR("fixed")), CFSTR("!"));
    EXPECT_EQ(utf8(CFSTR("fixed")), "fixed");
    CFMutableStringRef spaced = CFStringCreateMutableCopy(nullptr, 0, CFSTR("  x y \n"));
    CFStringTrimWhitespace(spaced);
    EXPECT_EQ(utf8(spaced), "x y");
    CFRelease(spaced);
    CFRelease(again);
    CFRelease(copy);
    CFRelease(m);
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
    CFArrayRef parts = CFStringCreateArrayBySeparatingStrings(nullptr, CFSTR("a,,b"), CFSTR(","));
    ASSERT_EQ(CFArrayGetCount(parts), 3);
    EXPECT_TRUE(CFEqual(CFArrayGetValueAtIndex(parts, 1), CFSTR("")));
    CFStringRef joined = CFStringCreateByCombiningStrings(nullptr, parts, CFSTR("+"));
    EXPECT_EQ(utf8(joined), "a++b");
    CFRelease(joined);
    CFRelease(parts);
}

} // namespace
