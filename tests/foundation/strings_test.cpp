// C-string scanning, packed arrays and in-place standard-string edits.
#include "NSVextra/StringUtils.h"

#include "support.h"

using namespace NSVextra;

TEST(CStrings, MatchingAndScanning) {
    EXPECT_FALSE(strmatch(nullptr, "a"));
    EXPECT_FALSE(strmatch("a", nullptr));
    EXPECT_TRUE(strmatch("", ""));
    EXPECT_FALSE(strmatch("abc", "abcd"));
    EXPECT_TRUE(strmatchBuf("ab", "ax", 0)); // only the first bytes count
    EXPECT_FALSE(strmatchBuf("xb", "yb", 0));
    EXPECT_TRUE(strmatchBuf("abcX", "abcY", 3));
    EXPECT_FALSE(strmatchBuf("abcX", "abcY", 4));
    EXPECT_FALSE(strmatchBuf(nullptr, "a", 1));

    EXPECT_EQ(skipSpaces("   "), nullptr);
    const char* t = "  a";
    EXPECT_EQ(skipSpaces(t), t + 2);
    EXPECT_EQ(skipSpaces("\ta")[0], '\t'); // only 0x20 is a space here
    EXPECT_EQ(skipNonChars(" \t\r\n"), nullptr);
    const char* u = "\t\r\n x";
    EXPECT_EQ(skipNonChars(u), u + 4);
    EXPECT_EQ(skipNonChars(static_cast<const char*>(nullptr)), nullptr);

    const char* s = "abcdef";
    EXPECT_EQ(strNChr(s, s + 3, 'd'), s + 3); // the end is inclusive
    EXPECT_EQ(strNChr(s, s + 2, 'd'), nullptr);
    EXPECT_EQ(strNChr(s + 3, s + 1, 'a'), nullptr); // begin after end
    EXPECT_EQ(strNChr(s + 4, s + 6, 'x'), nullptr); // the terminator stops it

    const char* q = "a,\"b,c\",d";
    EXPECT_EQ(strChrNoSkipEncl(q, ',', '"'), q + 1);
    EXPECT_EQ(strChrNoSkipEncl(q + 2, ',', '"'), q + 7);
    EXPECT_EQ(strChrNoSkipEncl("\"a,b", ',', '"'), nullptr); // never closed
    EXPECT_EQ(strChrNoSkipEncl(q, '"', '"'), nullptr);
    EXPECT_EQ(strChrNoSkipEncl(q, '\0', '"'), nullptr);
}

TEST(CStrings, TrimmingAndCase) {
    char buf[] = "key=value";
    EXPECT_EQ(strTrimRight(buf, "="), buf + 3);
    EXPECT_STREQ(buf, "key");
    char other[] = "abc";
    EXPECT_EQ(strTrimRight(other, "x"), nullptr);
    EXPECT_STREQ(other, "abc");
    const char* s = "prefix-rest";
    EXPECT_EQ(strTrimLeft(s, "prefix-"), s + 7);
    EXPECT_EQ(strTrimLeft(s, "zz"), nullptr);
    EXPECT_EQ(strTrimLeft(s, "rest"),
              s + 4); // found anywhere, advanced by its length
    char mixed[] = "MiXeD 1";
    EXPECT_STREQ(strlwr(mixed), "mixed 1");
    EXPECT_STREQ(strupr(mixed), "MIXED 1");

    const std::pair<std::string, std::string> zeros[] = {
        {"1.500000", "1.5"}, {"2.000000", "2.0"}, {"1.0500", "1.05"}, {"1.0", "1.0"},
        {"10", "10"},        {"-0.000", "-0.0"},  {"1.", "1."},       {"", ""}};
    for (const auto& [in, want] : zeros) {
        std::string str = in;
        trimZeros(str);
        EXPECT_EQ(str, want) << in;
        std::vector<char> c(in.begin(), in.end());
        c.push_back('\0');
        trimZeros(c.data());
        EXPECT_STREQ(c.data(), want.c_str()) << in;
    }
}

TEST(PackedArrays, LengthPositionAndScanLimit) {
    EXPECT_EQ(getStrArrayLen("a\0"), 3);
    EXPECT_EQ(getStrArrayLen("\0"), 2);
    EXPECT_EQ(getStrArrayLen("ab\0c\0"), 6);
    EXPECT_EQ(getStrArrayLen(nullptr), 0);
    const char arr[] = "a\0bc\0";
    EXPECT_STREQ(getStrArrayPos(arr, 0), "a");
    EXPECT_STREQ(getStrArrayPos(arr, 1), "bc");
    EXPECT_STREQ(getStrArrayPos(arr, 5), "bc"); // beyond the end: the last one
    EXPECT_STREQ(getStrArrayPos("\0", 3), "");

    // "x\0x\0..." never has two zero bytes in a row: the scan gives up.
    std::vector<char> big(kMaxStrArrayScan + 10, 'x');
    for (size_t i = 1; i < big.size(); i += 2)
        big[i] = '\0';
    EXPECT_EQ(getStrArrayLen(big.data()), 0);
    const char* last = getStrArrayPos(big.data(), 1000000);
    EXPECT_TRUE(last != nullptr && last < big.data() + big.size());
}

TEST(StdStrings, EditsAndSearches) {
    const struct {
        std::string in;
        void (*edit)(std::string&);
        std::string want;
    } rows[] = {
        {" a b ", [](std::string& s) { trimSpaces(s, 0); }, "a b "},
        {" a b ", [](std::string& s) { trimSpaces(s, 1); }, "ab"},
        {"   ", [](std::string& s) { trimSpaces(s, 0); }, ""},
        {"a-b-c", [](std::string& s) { replaceChar(s, '-', '+'); }, "a+b+c"},
        {"x1y2x3", [](std::string& s) { skipChars(s, "xy"); }, "123"},
        {"xyxAxyB", [](std::string& s) { skipCharsLeft(s, "xy"); }, "AxyB"},
        {"AxyBxy", [](std::string& s) { skipCharsRight(s, "xy"); }, "AxyB"},
        {"....", [](std::string& s) { skipCharsRight(s, "."); }, ""},
        {"..a.b..", [](std::string& s) { skipCharsAtSides(s, "."); }, "a.b"},
        {"abcabc", [](std::string& s) { EXPECT_TRUE(findReplaceSubString(s, "b", "X")); },
         "aXcabc"},
        {"abc", [](std::string& s) { EXPECT_FALSE(findReplaceSubString(s, "zz", "Y")); }, "abc"},
        {"abc", [](std::string& s) { EXPECT_TRUE(findReplaceSubString(s, "", ">")); }, ">abc"},
    };
    for (const auto& row : rows) {
        std::string s = row.in;
        row.edit(s);
        EXPECT_EQ(s, row.want) << row.in;
    }
    EXPECT_EQ(find_any_char_of("hello", "lo"), 2);
    EXPECT_EQ(find_any_char_of("hello", "z"), -1);
    EXPECT_EQ(find_any_char_of("", "a"), -1);
    EXPECT_EQ(find_any_char_of("a", ""), -1);
    EXPECT_TRUE(findSubStringNoCase("Hello World", "WORLD"));
    EXPECT_FALSE(findSubStringNoCase("abc", "abcd"));
    EXPECT_TRUE(inStringList("b", {"a", "b"}));
    EXPECT_FALSE(inStringList("B", {"a", "b"}));
}
