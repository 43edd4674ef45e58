// C-string scanning, packed arrays, in-place standard-string edits, list
// parsers and enumeration mapping.
#include "NSVextra/EnumStrings.h"
#include "NSVextra/ListParsers.h"
#include "NSVextra/StringUtils.h"

#include "support.h"

#include <climits>

using namespace NSVextra;
using Words = std::vector<std::string>;
using Ints = std::vector<int>;

TEST(CStrings, MatchingAndScanning) {
    EXPECT_TRUE(strmatch("", "") && !strmatch(nullptr, "a") && !strmatch("a", nullptr));
    EXPECT_FALSE(strmatch("abc", "abcd"));
    EXPECT_TRUE(strmatchBuf("ab", "ax", 0)); // the first byte always counts
    EXPECT_FALSE(strmatchBuf("xb", "yb", 0) || strmatchBuf(nullptr, "a", 1));
    EXPECT_TRUE(strmatchBuf("abcX", "abcY", 3) && !strmatchBuf("abcX", "abcY", 4));

    const char* t = "\t\r\n x";
    EXPECT_EQ(skipSpaces(t + 3), t + 4);
    EXPECT_EQ(skipSpaces(t), t); // only 0x20 is a space here
    EXPECT_EQ(skipNonChars(t), t + 4);
    EXPECT_TRUE(skipSpaces("   ") == nullptr && skipNonChars(" \t\r\n") == nullptr);

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
}

TEST(CStrings, TrimmingAndCase) {
    char buf[] = "key=value";
    EXPECT_EQ(strTrimRight(buf, "="), buf + 3);
    EXPECT_STREQ(buf, "key");
    EXPECT_EQ(strTrimRight(buf, "x"), nullptr);
    const char* s = "prefix-rest";
    EXPECT_EQ(strTrimLeft(s, "prefix-"), s + 7);
    EXPECT_EQ(strTrimLeft(s, "zz"), nullptr);
    EXPECT_EQ(strTrimLeft(s, "rest"), s + 4); // found anywhere, advanced by its length
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
    for (auto [arr, len] : {std::pair{"a\0", 3}, {"\0", 2}, {"ab\0c\0", 6}, {nullptr, 0}})
        EXPECT_EQ(getStrArrayLen(arr), len) << len;
    const char arr[] = "a\0bc\0";
    EXPECT_STREQ(getStrArrayPos(arr, 0), "a");
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
    for (auto [text, any, at] :
         {std::tuple{"hello", "lo", 2}, {"hello", "z", -1}, {"", "a", -1}, {"a", "", -1}})
        EXPECT_EQ(find_any_char_of(text, any), at) << text << "/" << any;
    EXPECT_TRUE(findSubStringNoCase("Hello World", "WORLD") && !findSubStringNoCase("abc", "abcd"));
    EXPECT_TRUE(inStringList("b", {"a", "b"}) && !inStringList("B", {"a", "b"}));
}

TEST(ListParsers, StringListsAndGroups) {
    const struct {
        const char *text, *separators, *skip;
        Words want;
    } rows[] = {
        {",,a, b,,c,", ",", " ", {"a", "b", "c"}}, // separator runs are one
        {"  one two", "", " ", {"one two"}},
        {"a,  ,b", ",", " ", {"a", "", "b"}},
        {",,,", ",", " ", {}},
    };
    for (const auto& row : rows) {
        Words w{"kept"}; // appended to, never cleared
        parseStringList(row.text, row.separators, w, row.skip);
        Words want{"kept"};
        want.insert(want.end(), row.want.begin(), row.want.end());
        EXPECT_EQ(w, want) << row.text;
    }

    std::vector<MultStringItem> items;
    parseMultStringList("(a, b) x (c)", "()", ",", items);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].text, "a, b");
    EXPECT_EQ(items[0].items, (Words{"a", "b"}));
    EXPECT_EQ(items[1].items, (Words{"c"}));
    items.clear();
    for (const char* text : {"a, b", "x (", "(a, b", "()"}) // no group, opener last, never closed
        parseMultStringList(text, "()", ",", items);
    parseMultStringList("(a)", "(", ",", items); // no closing byte given
    ASSERT_EQ(items.size(), 1u);
    EXPECT_TRUE(items[0].text.empty() && items[0].items.empty());

    Words lines;
    parseIntoLines("a\r\nb\n", lines);
    EXPECT_EQ(lines, (Words{"a\r", "b", ""}));

    std::string before = "old", inside = "old";
    EXPECT_TRUE(parseEnclSubString("name[3]", "[]", before, inside));
    EXPECT_EQ(before + "|" + inside, "name|3");
    inside = "unchanged";
    EXPECT_FALSE(parseEnclSubString("a]b[", "[]", before, inside)); // closed before opened
    EXPECT_EQ(before + "|" + inside, "a]b[|unchanged");
    // The same byte at both ends: the first of each is one place.
    EXPECT_TRUE(parseEnclSubString("key \"v\" rest", "\"\"", before, inside));
    EXPECT_EQ(before + "|" + inside, "key |");

    std::string a = "x", b = "y";
    EXPECT_FALSE(parseSeparator("text", ";", a, b));
    EXPECT_EQ(a + "|" + b, "x|y");
    EXPECT_TRUE(parseSeparator("k=v=w", "=", a, b));
    EXPECT_EQ(a + "|" + b, "k|v=w");
    EXPECT_TRUE(parseSeparator("text", "", a, b));
    EXPECT_EQ(a + "|" + b, "|text");
}

TEST(ListParsers, IntListsWithRanges) {
    const std::pair<const char*, Ints> rows[] = {
        {"1, 3-5,7", {1, 3, 4, 5, 7}},
        {"5-3", {}},
        {"-3", {0, 1, 2, 3}},
        {"x, 12abc, +4", {0, 12, 4}},
        {"99999999999999999999", {INT_MAX}}, // saturates instead of wrapping
        // A range one too long is refused; one near the top does not overflow.
        {"0-1000000, 2147483646-2147483647", {2147483646, 2147483647}},
    };
    for (const auto& [text, want] : rows) {
        Ints v;
        parseIntList(text, ";", v); // the second text changes nothing
        EXPECT_EQ(v, want) << text;
    }
    Ints longest;
    parseIntList("0-999999", "", longest);
    EXPECT_EQ(longest.size(), 1000000u);
    int out[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
    EXPECT_EQ(parseIntList("1-5", "", out, 2), 2);
    EXPECT_EQ(Ints(out, out + 3), (Ints{1, 2, -1})); // nothing past the capacity
    for (auto [buffer, capacity, count] :
         {std::tuple{out, -1, 3}, {out, 0, 0}, {nullptr, -1, 0}, {out, -7, 0}})
        EXPECT_EQ(parseIntList("1-3", "", buffer, capacity), count) << capacity;
}

TEST(Enumerations, NamesToValuesAndBack) {
    EXPECT_EQ(strToEnum("two", "one", "two", nullptr), 1);
    EXPECT_EQ(strToEnum("three", "one", nullptr, "three"), -1); // null ends the list
    EXPECT_EQ(strToEnum("h", "a", "b", "c", "d", "e", "f", "g", "h"), 7);
    EXPECT_EQ(strToEnum(nullptr, "a"), -1);
    EXPECT_EQ(strToEnumEx("mid", "low", 10, "mid", 20, "high", 30), 20);
    EXPECT_EQ(strToEnumEx("none", "low", 10, "mid", 20), -1);
    EXPECT_EQ(strToEnumDef("b", 42, "a", "b"), 1);
    EXPECT_STREQ(enumToStrEx(30, "low", 10, "mid", 20, "high", 30), "high");
    EXPECT_EQ(enumToStrEx(99, "low", 10, "mid", 20), nullptr);
    EXPECT_EQ(enumToStrEx(0, "low", 10, nullptr, 0, "x", 0), nullptr);
}

TEST(Enumerations, UnknownNamesAreLoggedOnce) {
    const std::string before = vxtest::readLog();
    std::map<std::string, std::string> map{{"mode", "odd"}, {"ok", "b"}};
    EXPECT_EQ(strToEnumDef("zzz", 3, "a", "b"), 3);
    EXPECT_EQ(strToEnumDef("a", 3, "a", "b"), 0);          // a known name logs nothing
    EXPECT_EQ(strMapToEnumDef(map, "missing", 4, "a"), 4); // nor does a missing key
    EXPECT_EQ(strMapToEnumDef(map, "mode", 5, "a"), 5);
    EXPECT_EQ(strMapToEnumDef(map, "ok", 5, "a", "b"), 1);
    EXPECT_EQ(vxtest::readLog().substr(before.size()),
              "error: strToEnumDef(): [zzz]\nerror: strToEnumDef(): [mode] = [odd]\n");
}
