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

TEST(CStrings, MatchingScanningTrimmingCaseAndPackedArrays) {
    EXPECT_TRUE(strmatch("", "") && !strmatch(nullptr, "a") && !strmatch("a", nullptr));
    EXPECT_FALSE(strmatch("abc", "abcd"));
    EXPECT_TRUE(strmatchBuf("ab", "ax", 0)); // the first byte always counts
    EXPECT_FALSE(strmatchBuf("xb", "yb", 0) || strmatchBuf(nullptr, "a", 1));
    EXPECT_TRUE(strmatchBuf("abcX", "abcY", 3) && !strmatchBuf("abcX", "abcY", 4));

    // Only 0x20 is a space for skipSpaces; the end is inclusive for strNChr,
    // which stops at the terminator and finds nothing when begin is after end.
    using Found = std::vector<const char*>;
    const char *t = "\t\r\n x", *s = "abcdef", *q = "a,\"b,c\",d";
    EXPECT_EQ((Found{skipSpaces(t + 3), skipSpaces(t), skipNonChars(t), skipSpaces("   "),
                     skipNonChars(" \t\r\n"), strNChr(s, s + 3, 'd'), strNChr(s, s + 2, 'd'),
                     strNChr(s + 3, s + 1, 'a'), strNChr(s + 4, s + 6, 'x'),
                     strChrNoSkipEncl(q, ',', '"'), strChrNoSkipEncl(q + 2, ',', '"'),
                     strChrNoSkipEncl("\"a,b", ',', '"'), strChrNoSkipEncl(q, '"', '"')}),
              (Found{t + 4, t, t + 4, nullptr, nullptr, s + 3, nullptr, nullptr, nullptr, q + 1,
                     q + 7, nullptr, nullptr}));

    char buf[] = "key=value";
    const char* p = "prefix-rest";
    EXPECT_EQ((Found{strTrimRight(buf, "="), strTrimRight(buf, "x"), strTrimLeft(p, "prefix-"),
                     strTrimLeft(p, "zz"), strTrimLeft(p, "rest")}), // found anywhere
              (Found{buf + 3, nullptr, p + 7, nullptr, p + 4}));
    char mixed[] = "MiXeD 1";
    const std::string lower = strlwr(mixed);
    EXPECT_EQ(std::string(buf) + "|" + lower + "|" + strupr(mixed), "key|mixed 1|MIXED 1");

    const std::pair<std::string, std::string> zeros[] = {
        {"1.500000", "1.5"}, {"2.000000", "2.0"}, {"1.0500", "1.05"}, {"1.0", "1.0"},
        {"10", "10"},        {"-0.000", "-0.0"},  {"1.", "1."},       {"", ""}};
    for (const auto& [in, want] : zeros) {
        std::string str = in;
        std::vector<char> c(in.c_str(), in.c_str() + in.size() + 1);
        trimZeros(str);
        trimZeros(c.data());
        EXPECT_EQ(str + "|" + c.data(), want + "|" + want) << in;
    }
    for (auto [arr, len] : {std::pair{"a\0", 3}, {"\0", 2}, {"ab\0c\0", 6}, {nullptr, 0}})
        EXPECT_EQ(getStrArrayLen(arr), len) << len;
    const char arr[] = "a\0bc\0"; // beyond the end: the last one
    EXPECT_EQ(std::string(getStrArrayPos(arr, 0)) + "|" + getStrArrayPos(arr, 5) + "|" +
                  getStrArrayPos("\0", 3),
              "a|bc|");

    // "x\0x\0..." never has two zero bytes in a row: the scan gives up.
    std::vector<char> big(kMaxStrArrayScan + 10, 'x');
    for (size_t i = 1; i < big.size(); i += 2)
        big[i] = '\0';
    const char* last = getStrArrayPos(big.data(), 1000000);
    EXPECT_TRUE(getStrArrayLen(big.data()) == 0 && last && last < big.data() + big.size());
}

TEST(StdStrings, EditsAndSearches) {
    using S = std::string&;
    auto edited = [](std::string s, void (*edit)(S)) { return edit(s), s; };
    EXPECT_EQ((Words{edited(" a b ", [](S s) { trimSpaces(s, 0); }),
                     edited(" a b ", [](S s) { trimSpaces(s, 1); }),
                     edited("   ", [](S s) { trimSpaces(s, 0); }),
                     edited("a-b-c", [](S s) { replaceChar(s, '-', '+'); }),
                     edited("x1y2x3", [](S s) { skipChars(s, "xy"); }),
                     edited("xyxAxyB", [](S s) { skipCharsLeft(s, "xy"); }),
                     edited("AxyBxy", [](S s) { skipCharsRight(s, "xy"); }),
                     edited("....", [](S s) { skipCharsRight(s, "."); }),
                     edited("..a.b..", [](S s) { skipCharsAtSides(s, "."); }),
                     edited("abcabc", [](S s) { EXPECT_TRUE(findReplaceSubString(s, "b", "X")); }),
                     edited("abc", [](S s) { EXPECT_FALSE(findReplaceSubString(s, "zz", "Y")); }),
                     edited("abc", [](S s) { EXPECT_TRUE(findReplaceSubString(s, "", ">")); })}),
              (Words{"a b ", "ab", "", "a+b+c", "123", "AxyB", "AxyB", "", "a.b", "aXcabc", "abc",
                     ">abc"}));
    for (auto [text, any, at] :
         {std::tuple{"hello", "lo", 2}, {"hello", "z", -1}, {"", "a", -1}, {"a", "", -1}})
        EXPECT_EQ(find_any_char_of(text, any), at) << text << "/" << any;
    EXPECT_TRUE(findSubStringNoCase("Hello World", "WORLD") && !findSubStringNoCase("abc", "abcd"));
    EXPECT_TRUE(inStringList("b", {"a", "b"}) && !inStringList("B", {"a", "b"}));
}

TEST(ListParsers, StringListsGroupsAndIntRanges) {
    const std::tuple<const char*, const char*, Words> rows[] = {
        {",,a, b,,c,", ",", {"a", "b", "c"}}, // separator runs are one
        {"  one two", "", {"one two"}},
        {"a,  ,b", ",", {"a", "", "b"}},
        {",,,", ",", {}},
    };
    for (const auto& [text, separators, want] : rows) {
        Words w{"kept"}; // appended to, never cleared
        parseStringList(text, separators, w, " ");
        EXPECT_EQ(Words(w.begin() + 1, w.end()), want) << text;
    }

    // Each group as "text:item|item;".
    auto groups = [](std::initializer_list<const char*> texts, const char* ends) {
        std::vector<MultStringItem> items;
        for (const char* text : texts)
            parseMultStringList(text, ends, ",", items);
        std::string out;
        for (const MultStringItem& item : items)
            out += fmt::format("{}:{};", item.text, fmt::join(item.items, "|"));
        return out;
    };
    EXPECT_EQ(groups({"(a, b) x (c)"}, "()"), "a, b:a|b;c:c;");
    // No group, opener last, never closed, empty; no closing byte given.
    EXPECT_EQ(groups({"a, b", "x (", "(a, b", "()"}, "()") + groups({"(a)"}, "("), ":;");

    Words lines;
    parseIntoLines("a\r\nb\n", lines);
    EXPECT_EQ(lines, (Words{"a\r", "b", ""}));

    // Each call's answer and both outputs. A text closed before it opens is
    // refused; the same byte at both ends: the first of each is one place.
    std::string out, a = "old", b = "old";
    auto encl = [&](const char* text, const char* ends) {
        out += fmt::format("{}:{}|{} ", parseEnclSubString(text, ends, a, b), a, b);
    };
    auto separ = [&](const char* text, const char* separator) {
        out += fmt::format("{}:{}|{} ", parseSeparator(text, separator, a, b), a, b);
    };
    encl("name[3]", "[]");
    encl("a]b[", "[]");
    separ("text", ";");
    separ("k=v=w", "=");
    separ("text", "");
    encl("key \"v\" rest", "\"\"");
    EXPECT_EQ(out, "true:name|3 false:a]b[|3 false:a]b[|3 true:k|v=w true:|text true:key | ");
    const std::pair<const char*, Ints> ranges[] = {
        {"1, 3-5,7", {1, 3, 4, 5, 7}},
        {"5-3", {}},
        {"-3", {0, 1, 2, 3}},
        {"x, 12abc, +4", {0, 12, 4}},
        {"99999999999999999999", {INT_MAX}}, // saturates instead of wrapping
        // A range one too long is refused; one near the top does not overflow.
        {"0-1000000, 2147483646-2147483647", {2147483646, 2147483647}},
    };
    for (const auto& [text, want] : ranges) {
        Ints v;
        parseIntList(text, ";", v); // the second text changes nothing
        EXPECT_EQ(v, want) << text;
    }
    Ints longest;
    parseIntList("0-999999", "", longest);
    EXPECT_EQ(longest.size(), 1000000u);
    int ints[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
    EXPECT_EQ(parseIntList("1-5", "", ints, 2), 2);
    EXPECT_EQ(Ints(ints, ints + 3), (Ints{1, 2, -1})); // nothing past the capacity
    for (auto [buffer, capacity, count] :
         {std::tuple{ints, -1, 3}, {ints, 0, 0}, {nullptr, -1, 0}, {ints, -7, 0}})
        EXPECT_EQ(parseIntList("1-3", "", buffer, capacity), count) << capacity;
}

TEST(Enumerations, NamesToValuesBackAndUnknownNamesLoggedOnce) {
    const std::string before = vxtest::readLog();
    std::map<std::string, std::string> map{{"mode", "odd"}, {"ok", "b"}};
    // A null ends a name list; a known name, or a missing key, logs nothing.
    EXPECT_EQ(
        (Ints{strToEnum("two", "one", "two", nullptr), strToEnum("three", "one", nullptr, "three"),
              strToEnum("h", "a", "b", "c", "d", "e", "f", "g", "h"), strToEnum(nullptr, "a"),
              strToEnumEx("mid", "low", 10, "mid", 20, "high", 30),
              strToEnumEx("none", "low", 10, "mid", 20), strToEnumDef("b", 42, "a", "b"),
              strToEnumDef("zzz", 3, "a", "b"), strToEnumDef("a", 3, "a", "b"),
              strMapToEnumDef(map, "missing", 4, "a"), strMapToEnumDef(map, "mode", 5, "a"),
              strMapToEnumDef(map, "ok", 5, "a", "b")}),
        (Ints{1, -1, 7, -1, 20, -1, 1, 3, 0, 4, 5, 1}));
    EXPECT_EQ(vxtest::readLog().substr(before.size()),
              "error: strToEnumDef(): [zzz]\nerror: strToEnumDef(): [mode] = [odd]\n");
    EXPECT_STREQ(enumToStrEx(30, "low", 10, "mid", 20, "high", 30), "high");
    EXPECT_FALSE(enumToStrEx(99, "low", 10, "mid", 20) ||
                 enumToStrEx(0, "low", 10, nullptr, 0, "x", 0));
}
