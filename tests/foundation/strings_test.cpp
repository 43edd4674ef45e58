// C-string scanning, packed arrays and in-place standard-string edits.
#include "NSVextra/StringUtils.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace NSVextra;

TEST(CStrings, MatchComparesWholeStrings) {
    EXPECT_FALSE(strmatch(nullptr, "a"));
    EXPECT_FALSE(strmatch("a", nullptr));
    EXPECT_FALSE(strmatch(nullptr, nullptr));
    EXPECT_TRUE(strmatch("", ""));
    EXPECT_TRUE(strmatch("abc", "abc"));
    EXPECT_FALSE(strmatch("abc", "abcd"));
    EXPECT_FALSE(strmatch("abc", "Abc"));

    EXPECT_TRUE(strmatchBuf("ab", "ax", 0)); // only the first bytes count
    EXPECT_TRUE(strmatchBuf("", "", 5));
    EXPECT_FALSE(strmatchBuf("", "x", 5));
    EXPECT_FALSE(strmatchBuf("xb", "yb", 2));
    EXPECT_TRUE(strmatchBuf("abcX", "abcY", 3));
    EXPECT_FALSE(strmatchBuf("abcX", "abcY", 4));
    EXPECT_FALSE(strmatchBuf(nullptr, "a", 1));
}

TEST(CStrings, SkipFunctionsStopAtTheTerminator) {
    EXPECT_EQ(skipSpaces("   "), nullptr);
    const char* t = "  a";
    EXPECT_EQ(skipSpaces(t), t + 2);
    EXPECT_EQ(skipSpaces("\ta")[0], '\t'); // only 0x20 is a space here
    EXPECT_EQ(skipNonChars(" \t\r\n"), nullptr);
    const char* u = "\t\n x";
    EXPECT_EQ(skipNonChars(u), u + 3);
    EXPECT_EQ(skipNonChars(""), nullptr);
    EXPECT_EQ(skipNonChars(static_cast<const char*>(nullptr)), nullptr);
}

TEST(CStrings, StrNChrSearchesAnInclusiveRange) {
    const char* s = "abcdef";
    EXPECT_EQ(strNChr(s, s + 3, 'd'), s + 3); // end is inclusive
    EXPECT_EQ(strNChr(s, s + 2, 'd'), nullptr);
    EXPECT_EQ(strNChr(s + 3, s + 1, 'a'), nullptr); // begin after end
    const char* shortText = "ab";
    // The terminator stops the search even when `end` lies beyond it.
    EXPECT_EQ(strNChr(shortText, shortText + 2, 'x'), nullptr);
}

TEST(CStrings, CommaOutsideQuotes) {
    const char* s = "a,\"b,c\",d";
    EXPECT_EQ(strChrNoSkipEncl(s, ',', '"'), s + 1);
    const char* quote = s + 2;
    EXPECT_EQ(strChrNoSkipEncl(quote, ',', '"'), s + 7);
    EXPECT_EQ(strChrNoSkipEncl("\"a,b", ',', '"'), nullptr); // never closed
    EXPECT_EQ(strChrNoSkipEncl(s, '"', '"'), nullptr);
    EXPECT_EQ(strChrNoSkipEncl(s, '\0', '"'), nullptr);
}

TEST(CStrings, TrimLeftAndRight) {
    char buf[] = "key=value";
    EXPECT_EQ(strTrimRight(buf, "="), buf + 3);
    EXPECT_STREQ(buf, "key");
    char other[] = "abc";
    EXPECT_EQ(strTrimRight(other, "x"), nullptr);
    EXPECT_STREQ(other, "abc");

    const char* s = "prefix-rest";
    EXPECT_EQ(strTrimLeft(s, "prefix-"), s + 7);
    EXPECT_EQ(strTrimLeft(s, "zz"), nullptr);
    // The part may occur anywhere; the text is still advanced by its length.
    EXPECT_EQ(strTrimLeft(s, "rest"), s + 4);

    char mixed[] = "MiXeD 1";
    EXPECT_STREQ(strlwr(mixed), "mixed 1");
    EXPECT_STREQ(strupr(mixed), "MIXED 1");
}

TEST(CStrings, TrimZerosKeepsOneDecimal) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"1.500000", "1.5"}, {"2.000000", "2.0"}, {"1.0500", "1.05"},    {"1.0", "1.0"}, {"3", "3"},
        {"10", "10"},        {"0.000000", "0.0"}, {"-0.000000", "-0.0"}, {"1.", "1."},   {"", ""}};
    for (const auto& [in, want] : cases) {
        std::string s = in;
        trimZeros(s);
        EXPECT_EQ(s, want) << in;
        std::vector<char> c(in.begin(), in.end());
        c.push_back('\0');
        trimZeros(c.data());
        EXPECT_STREQ(c.data(), want.c_str()) << in;
    }
}

TEST(PackedArrays, LengthAndPosition) {
    EXPECT_EQ(getStrArrayLen("a\0"), 3);
    EXPECT_EQ(getStrArrayLen("\0"), 2);
    EXPECT_EQ(getStrArrayLen("ab\0c\0"), 6);
    EXPECT_EQ(getStrArrayLen(nullptr), 0);

    const char arr[] = "a\0bc\0"; // a, bc, closing empty string
    EXPECT_STREQ(getStrArrayPos(arr, 0), "a");
    EXPECT_STREQ(getStrArrayPos(arr, 1), "bc");
    EXPECT_STREQ(getStrArrayPos(arr, 5), "bc"); // beyond the end: the last one
    EXPECT_STREQ(getStrArrayPos("\0", 3), "");
}

TEST(PackedArrays, UnterminatedArrayGivesUpAtTheScanLimit) {
    std::vector<char> big(kMaxStrArrayScan + 10, 'x');
    for (size_t i = 1; i < big.size(); i += 2) {
        big[i] = '\0'; // "x\0x\0..." never has two zero bytes in a row
    }
    big.back() = '\0';
    EXPECT_EQ(getStrArrayLen(big.data()), 0);
    // Stays inside the block however large the index.
    const char* last = getStrArrayPos(big.data(), 1000000);
    ASSERT_NE(last, nullptr);
    EXPECT_LT(last, big.data() + big.size());
}

TEST(StdStrings, SpacesCharsAndReplacement) {
    std::string s = " a b ";
    trimSpaces(s, 0);
    EXPECT_EQ(s, "a b ");
    s = " a b ";
    trimSpaces(s, 1);
    EXPECT_EQ(s, "ab");
    s = "   ";
    trimSpaces(s, 0);
    EXPECT_EQ(s, "");

    s = "a-b-c";
    replaceChar(s, '-', '+');
    EXPECT_EQ(s, "a+b+c");

    s = "x1y2x3";
    skipChars(s, "xy");
    EXPECT_EQ(s, "123");
    s = "xyxAxyB";
    skipCharsLeft(s, "xy");
    EXPECT_EQ(s, "AxyB");
    s = "AxyBxy";
    skipCharsRight(s, "xy");
    EXPECT_EQ(s, "AxyB");
    s = "..a.b..";
    skipCharsAtSides(s, ".");
    EXPECT_EQ(s, "a.b");
    s = "....";
    skipCharsRight(s, ".");
    EXPECT_EQ(s, "");

    s = "abcabc";
    EXPECT_TRUE(findReplaceSubString(s, "b", "X"));
    EXPECT_EQ(s, "aXcabc");
    EXPECT_FALSE(findReplaceSubString(s, "zz", "Y"));
    EXPECT_EQ(s, "aXcabc");
    EXPECT_TRUE(findReplaceSubString(s, "", ">"));
    EXPECT_EQ(s, ">aXcabc");
}

TEST(StdStrings, Searching) {
    EXPECT_EQ(find_any_char_of("hello", "lo"), 2);
    EXPECT_EQ(find_any_char_of("hello", "z"), -1);
    EXPECT_EQ(find_any_char_of("", "a"), -1);
    EXPECT_EQ(find_any_char_of("a", ""), -1);

    EXPECT_TRUE(findSubStringNoCase("Hello World", "WORLD"));
    EXPECT_TRUE(findSubStringNoCase("abc", ""));
    EXPECT_FALSE(findSubStringNoCase("abc", "abcd"));

    EXPECT_TRUE(inStringList("b", {"a", "b"}));
    EXPECT_FALSE(inStringList("B", {"a", "b"}));
    EXPECT_FALSE(inStringList("", {}));
}
