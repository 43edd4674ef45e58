// List parsers and enumeration mapping, including hostile input.
#include "NSVextra/EnumStrings.h"
#include "NSVextra/ListParsers.h"

#include "support.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <string>
#include <vector>

using namespace NSVextra;
using Words = std::vector<std::string>;

TEST(ListParsers, StringListSkipsSeparatorRuns) {
    Words w;
    parseStringList(",,a, b,,c,", ",", w, " ");
    EXPECT_EQ(w, (Words{"a", "b", "c"}));

    Words appended{"keep"};
    parseStringList("x y", " ", appended, "");
    EXPECT_EQ(appended, (Words{"keep", "x", "y"})); // appends, never clears

    Words whole;
    parseStringList("  one two", "", whole, " ");
    EXPECT_EQ(whole, (Words{"one two"}));

    Words emptyAfterSkip;
    parseStringList("a,  ,b", ",", emptyAfterSkip, " ");
    EXPECT_EQ(emptyAfterSkip, (Words{"a", "", "b"}));

    Words none;
    parseStringList(",,,", ",", none, " ");
    EXPECT_TRUE(none.empty());
}

TEST(ListParsers, MultStringListReadsEnclosedGroups) {
    std::vector<MultStringItem> items;
    parseMultStringList("(a, b) x (c)", "()", ",", items);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].text, "a, b");
    EXPECT_EQ(items[0].items, (Words{"a", "b"}));
    EXPECT_EQ(items[1].text, "c");
    EXPECT_EQ(items[1].items, (Words{"c"}));

    std::vector<MultStringItem> none;
    parseMultStringList("a, b", "()", ",", none);
    EXPECT_TRUE(none.empty());
    parseMultStringList("x (", "()", ",", none);   // opener is the last byte
    parseMultStringList("(a, b", "()", ",", none); // never closed
    parseMultStringList("(a)", "(", ",", none);    // no closing byte given
    EXPECT_TRUE(none.empty());

    std::vector<MultStringItem> empty;
    parseMultStringList("()", "()", ",", empty);
    ASSERT_EQ(empty.size(), 1u);
    EXPECT_EQ(empty[0].text, "");
    EXPECT_TRUE(empty[0].items.empty());
}

TEST(ListParsers, EnclosureAndSeparatorSplits) {
    std::string before = "old";
    std::string inside = "old";
    EXPECT_TRUE(parseEnclSubString("name[3]", "[]", before, inside));
    EXPECT_EQ(before, "name");
    EXPECT_EQ(inside, "3");
    inside = "unchanged";
    EXPECT_FALSE(parseEnclSubString("name", "[]", before, inside));
    EXPECT_EQ(before, "name");
    EXPECT_EQ(inside, "unchanged");
    EXPECT_FALSE(parseEnclSubString("a]b[", "[]", before, inside)); // closed before opened
    EXPECT_EQ(before, "a]b[");
    // The same byte at both ends: the first of each is one place, so both
    // occur and the text between them is empty.
    inside = "unchanged";
    EXPECT_TRUE(parseEnclSubString("key \"v\" rest", "\"\"", before, inside));
    EXPECT_EQ(before, "key ");
    EXPECT_EQ(inside, "");

    std::string a = "x";
    std::string b = "y";
    EXPECT_TRUE(parseSeparator("k=v=w", "=", a, b));
    EXPECT_EQ(a, "k");
    EXPECT_EQ(b, "v=w");
    EXPECT_TRUE(parseSeparator("text", "", a, b));
    EXPECT_EQ(a, "");
    EXPECT_EQ(b, "text");
    a = "x";
    b = "y";
    EXPECT_FALSE(parseSeparator("text", ";", a, b));
    EXPECT_EQ(a, "x");
    EXPECT_EQ(b, "y");
}

TEST(ListParsers, IntListRangesAndOddWords) {
    std::vector<int> v;
    parseIntList("1, 3-5,7", "", v);
    EXPECT_EQ(v, (std::vector<int>{1, 3, 4, 5, 7}));

    v.clear();
    parseIntList("5-3", "", v);
    EXPECT_TRUE(v.empty());

    v.clear();
    parseIntList("-3", "", v); // a range from 0 to 3
    EXPECT_EQ(v, (std::vector<int>{0, 1, 2, 3}));

    v.clear();
    parseIntList("x, 12abc, +4", ";", v); // the second text changes nothing
    EXPECT_EQ(v, (std::vector<int>{0, 12, 4}));

    v.clear();
    parseIntList("99999999999999999999, -99999999999999999999-0", "", v);
    ASSERT_FALSE(v.empty());
    EXPECT_EQ(v.front(), INT_MAX); // saturates instead of wrapping

    v.clear();
    parseIntList("0-2147483647, 2147483646-2147483647", "", v);
    // The huge range is refused; the small one near the top does not overflow.
    EXPECT_EQ(v, (std::vector<int>{2147483646, 2147483647}));
}

TEST(ListParsers, IntListIntoArrayRespectsCapacity) {
    int out[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
    EXPECT_EQ(parseIntList("1-5", "", out, 2), 2);
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[1], 2);
    EXPECT_EQ(out[2], -1); // nothing written past the capacity

    EXPECT_EQ(parseIntList("1-3", "", out, -1), 3);
    EXPECT_EQ(parseIntList("9", "", out, 5), 1);
    EXPECT_EQ(out[0], 9);
    EXPECT_EQ(parseIntList("1-3", "", out, 0), 0);
    EXPECT_EQ(parseIntList("1-3", "", nullptr, -1), 0);
    EXPECT_EQ(parseIntList("1-3", "", out, -7), 0);
}

TEST(ListParsers, Lines) {
    Words lines;
    parseIntoLines("a\nb", lines);
    EXPECT_EQ(lines, (Words{"a", "b"}));
    lines.clear();
    parseIntoLines("a\r\nb\n", lines);
    EXPECT_EQ(lines, (Words{"a\r", "b", ""}));
    lines.clear();
    parseIntoLines("", lines);
    EXPECT_EQ(lines, (Words{""}));
}

// Random bytes, including zeros and every separator, must neither crash nor
// produce anything but words made of the text's own bytes.
TEST(ListParsers, RandomInputStaysWellFormed) {
    std::mt19937 rng(1234);
    const std::string alphabet = "0123456789-, ()[]ab\n\r\t";
    for (int round = 0; round < 2000; ++round) {
        std::string text;
        const int len = static_cast<int>(rng() % 80);
        for (int i = 0; i < len; ++i) {
            text += (rng() % 10 == 0) ? static_cast<char>(rng() % 256)
                                      : alphabet[rng() % alphabet.size()];
        }
        Words words;
        parseStringList(text, ", ", words, " ");
        for (const auto& w : words) {
            EXPECT_LE(w.size(), text.size());
            EXPECT_EQ(w.find(','), std::string::npos);
        }
        std::vector<MultStringItem> items;
        parseMultStringList(text, "()", ",", items);
        for (const auto& item : items) {
            EXPECT_EQ(item.text.find(')'), std::string::npos);
        }
        std::vector<int> ints;
        parseIntList(text, "", ints);
        int arr[4] = {0, 0, 0, 0};
        const int n = parseIntList(text, "", arr, 3);
        EXPECT_LE(n, 3);
        EXPECT_EQ(arr[3], 0);
        Words lines;
        parseIntoLines(text, lines);
        EXPECT_GE(lines.size(), 1u);
    }
}

TEST(Enumerations, NamesToValuesAndBack) {
    EXPECT_EQ(strToEnum("two", "one", "two", nullptr), 1);
    EXPECT_EQ(strToEnum("six", "one", nullptr), -1);
    EXPECT_EQ(strToEnum("three", "one", nullptr, "three"), -1); // null ends the list
    EXPECT_EQ(strToEnum("h", "a", "b", "c", "d", "e", "f", "g", "h"), 7);
    EXPECT_EQ(strToEnum(nullptr, "a"), -1);

    EXPECT_EQ(strToEnumEx("mid", "low", 10, "mid", 20, "high", 30), 20);
    EXPECT_EQ(strToEnumEx("none", "low", 10, "mid", 20), -1);

    EXPECT_EQ(strToEnumDef("b", 42, "a", "b"), 1);
    EXPECT_EQ(strToEnumDef("zzz", 42, "a", "b"), 42);

    std::map<std::string, std::string> map{{"mode", "fast"}, {"bad", "odd"}};
    EXPECT_EQ(strMapToEnumDef(map, "mode", -5, "slow", "fast"), 1);
    EXPECT_EQ(strMapToEnumDef(map, "missing", -5, "slow", "fast"), -5);
    EXPECT_EQ(strMapToEnumDef(map, "bad", -5, "slow", "fast"), -5);

    EXPECT_STREQ(enumToStrEx(30, "low", 10, "mid", 20, "high", 30), "high");
    EXPECT_EQ(enumToStrEx(99, "low", 10, "mid", 20), nullptr);
    EXPECT_EQ(enumToStrEx(0, "low", 10, nullptr, 0, "x", 0), nullptr);
}

// Child-only: logs through the enumeration defaults. Its parent checks the
// log text below.
TEST(EnumerationsChild, DISABLED_LogUnknownNames) {
    std::map<std::string, std::string> map{{"mode", "odd"}};
    EXPECT_EQ(strToEnumDef("zzz", 3, "a", "b"), 3);
    EXPECT_EQ(strToEnumDef("a", 3, "a", "b"), 0);          // a known name logs nothing
    EXPECT_EQ(strMapToEnumDef(map, "missing", 4, "a"), 4); // a missing key logs nothing
    EXPECT_EQ(strMapToEnumDef(map, "mode", 5, "a"), 5);
}

TEST(Enumerations, UnknownNamesAreLoggedOnce) {
    const vxtest::ChildRun run =
        vxtest::runTestInChild("EnumerationsChild.DISABLED_LogUnknownNames");
    EXPECT_EQ(run.exitCode, 0) << run.stdOut;
    EXPECT_EQ(run.log, "error: strToEnumDef(): [zzz]\n"
                       "error: strToEnumDef(): [mode] = [odd]\n");
}
