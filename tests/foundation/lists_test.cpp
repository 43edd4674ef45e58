// List parsers and enumeration mapping.
#include "NSVextra/EnumStrings.h"
#include "NSVextra/ListParsers.h"

#include "support.h"

#include <climits>

using namespace NSVextra;
using Words = std::vector<std::string>;
using Ints = std::vector<int>;

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
    for (const char* text : {"a, b", "x (", "(a, b"}) // no group, opener last, never closed
        parseMultStringList(text, "()", ",", items);
    parseMultStringList("(a)", "(", ",", items); // no closing byte given
    EXPECT_TRUE(items.empty());
    parseMultStringList("()", "()", ",", items);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].text, "");
    EXPECT_TRUE(items[0].items.empty());

    Words lines;
    parseIntoLines("a\r\nb\n", lines);
    EXPECT_EQ(lines, (Words{"a\r", "b", ""}));
    lines.clear();
    parseIntoLines("", lines);
    EXPECT_EQ(lines, (Words{""}));
}

TEST(ListParsers, EnclosureAndSeparatorSplits) {
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
    EXPECT_EQ(parseIntList("1-3", "", out, -1), 3);
    EXPECT_EQ(parseIntList("1-3", "", out, 0), 0);
    EXPECT_EQ(parseIntList("1-3", "", nullptr, -1), 0);
    EXPECT_EQ(parseIntList("1-3", "", out, -7), 0);
}

TEST(Enumerations, NamesToValuesAndBack) {
    EXPECT_EQ(strToEnum("two", "one", "two", nullptr), 1);
    EXPECT_EQ(strToEnum("three", "one", nullptr, "three"),
              -1); // null ends the list
    EXPECT_EQ(strToEnum("h", "a", "b", "c", "d", "e", "f", "g", "h"), 7);
    EXPECT_EQ(strToEnum(nullptr, "a"), -1);
    EXPECT_EQ(strToEnumEx("mid", "low", 10, "mid", 20, "high", 30), 20);
    EXPECT_EQ(strToEnumEx("none", "low", 10, "mid", 20), -1);
    EXPECT_EQ(strToEnumDef("b", 42, "a", "b"), 1);
    EXPECT_STREQ(enumToStrEx(30, "low", 10, "mid", 20, "high", 30), "high");
    EXPECT_EQ(enumToStrEx(99, "low", 10, "mid", 20), nullptr);
    EXPECT_EQ(enumToStrEx(0, "low", 10, nullptr, 0, "x", 0), nullptr);
}

// Child-only: its parent checks what it logged.
TEST(EnumerationsChild, DISABLED_LogUnknownNames) {
    std::map<std::string, std::string> map{{"mode", "odd"}, {"ok", "b"}};
    EXPECT_EQ(strToEnumDef("zzz", 3, "a", "b"), 3);
    EXPECT_EQ(strToEnumDef("a", 3, "a", "b"), 0); // a known name logs nothing
    EXPECT_EQ(strMapToEnumDef(map, "missing", 4, "a"),
              4); // nor does a missing key
    EXPECT_EQ(strMapToEnumDef(map, "mode", 5, "a"), 5);
    EXPECT_EQ(strMapToEnumDef(map, "ok", 5, "a", "b"), 1);
}

TEST(Enumerations, UnknownNamesAreLoggedOnce) {
    const auto run = vxtest::runTestInChild("EnumerationsChild.DISABLED_LogUnknownNames");
    EXPECT_EQ(run.exitCode, 0) << run.stdOut;
    EXPECT_EQ(run.log, "error: strToEnumDef(): [zzz]\nerror: strToEnumDef(): [mode] = [odd]\n");
}
