// The reader's shortcuts against the general rules they stand in for: plain
// decimals against the standard conversion, the block-wise searches for tag
// ends, colons, commas and quotes against texts that put those characters
// at every offset of a block, and the node pool across loads and releases.
#include "support.h"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

using NSVextra::Settings;

namespace {

template <typename F> F standardConversion(const std::string& text) {
    F value{};
    const char* begin = text.data();
    if (!text.empty() && text[0] == '+')
        ++begin;
    std::from_chars(begin, text.data() + text.size(), value);
    return value;
}

template <typename F> bool sameBits(F a, F b) {
    return std::memcmp(&a, &b, sizeof(F)) == 0;
}

// Decimal texts of every shape the shortcut takes or must refuse: short and
// long digit strings, many fraction digits, leading zeros, signs, exponents.
std::vector<std::string> decimalTexts() {
    std::mt19937_64 rng(12345);
    std::vector<std::string> texts;
    std::istringstream fixed(
        "0 -0 0.0 -0.0 1 +2.5 0.1 0.2 0.3 16777216 16777217 16777215.5 9007199254740992 "
        "9007199254740993 0.000001 1e3 12.5e-2 00012.500 3.4028235 "
        "340282350000000000000000000000000000000.0 1.0000000000000000000001 123456789012345678 "
        "0.30000000000000004 4.35 8.875 0.00000000001 -123456.7890123");
    for (std::string text; fixed >> text;)
        texts.push_back(text);
    std::uniform_int_distribution<int> digit(0, 9);
    std::uniform_int_distribution<int> length(1, 20);
    for (int i = 0; i < 20000; ++i) {
        std::string text;
        if (rng() % 3 == 0)
            text += '-';
        const int whole = length(rng) % 12 + 1;
        for (int d = 0; d < whole; ++d)
            text += static_cast<char>('0' + digit(rng));
        if (rng() % 4 != 0) {
            text += '.';
            const int fraction = length(rng) % 14 + 1;
            for (int d = 0; d < fraction; ++d)
                text += static_cast<char>('0' + digit(rng));
        }
        texts.push_back(text);
    }
    return texts;
}

} // namespace

TEST(SettingsReaderFastPaths, DecimalsReadAsTheStandardConversionReadsThem) {
    const std::vector<std::string> texts = decimalTexts();
    // One value per text, as float and as double, in a single script.
    std::string script = "<Root>\n";
    for (std::size_t i = 0; i < texts.size(); ++i) {
        script += "<f" + std::to_string(i) + ": " + texts[i] + ", float>\n";
        script += "<d" + std::to_string(i) + ": " + texts[i] + ", double>\n";
    }
    script += "</Root>\n";
    Settings doc;
    ASSERT_TRUE(vxtest::parseText(doc, script));
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const std::string n = std::to_string(i);
        float f = -1;
        double d = -1;
        ASSERT_TRUE(doc.readValue("/Root", ("f" + n).c_str(), &f)) << texts[i];
        ASSERT_TRUE(doc.readValue("/Root", ("d" + n).c_str(), &d)) << texts[i];
        ASSERT_TRUE(sameBits(f, standardConversion<float>(texts[i])))
            << texts[i] << " read as float " << f;
        ASSERT_TRUE(sameBits(d, standardConversion<double>(texts[i])))
            << texts[i] << " read as double " << d;
    }
}

TEST(SettingsReaderFastPaths, TrailingTextAfterADecimalIsIgnoredAsBefore) {
    Settings doc;
    ASSERT_TRUE(vxtest::parseText(doc, "<Root>\n<a[3]: 2.5x, 7.25 , -1.5e1q, double>\n</Root>\n"));
    double v[3] = {};
    ASSERT_TRUE(doc.readValue("/Root", "a", v));
    EXPECT_EQ(v[0], 2.5);
    EXPECT_EQ(v[1], 7.25);
    EXPECT_EQ(v[2], -15.0);
}

TEST(SettingsReaderFastPaths, SeparatorsAndTagEndsAtEveryOffsetOfABlock) {
    // Element texts, quoted strings, gaps and names of every length from 0 to
    // 40, so that each comma, quote, ":" and ">" falls at every position of a
    // 16-byte block, with commas inside the quotes that must not end an element.
    for (int pad = 0; pad <= 40; ++pad) {
        const std::string filler(static_cast<std::size_t>(pad), 'x');
        const std::string quoted = filler + ", " + filler;
        std::string script = "<" + filler + "Root>\n";
        script += "\t<s" + filler + "[2]: \"" + quoted + "\", \"" + filler + "\", string>\n";
        script += "\t<n[2]: " + std::string(static_cast<std::size_t>(pad), '0') + "7, " +
                  std::string(static_cast<std::size_t>(pad), ' ') + "-3, int>\n";
        script += "</" + filler + "Root>\n";
        Settings doc;
        ASSERT_TRUE(vxtest::parseText(doc, script)) << "pad " << pad;
        const std::string spec = "/" + filler + "Root";
        const std::string name = "s" + filler;
        ASSERT_EQ(doc.getValueElems(spec.c_str(), name.c_str()), 2) << "pad " << pad;
        const char* data = static_cast<const char*>(doc.getValueBuf(spec.c_str(), name.c_str()));
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(std::string(data), quoted) << "pad " << pad;
        EXPECT_EQ(std::string(data + quoted.size() + 1), filler) << "pad " << pad;
        EXPECT_EQ(doc.getValueSizeBytes(spec.c_str(), name.c_str()),
                  static_cast<int>(quoted.size() + filler.size() + 3));
        int n[2] = {};
        ASSERT_TRUE(doc.readValue(spec.c_str(), "n", n)) << "pad " << pad;
        EXPECT_EQ(n[0], 7);
        EXPECT_EQ(n[1], -3);

        const std::string gap(static_cast<std::size_t>(pad), ' ');
        const std::string group(static_cast<std::size_t>(pad) + 1, 'g');
        // Values and groups after gaps of every length; a value whose ":"
        // comes late in a long tag.
        script = gap + "<Root>" + gap + "<" + group + ">" + gap + "<v" + group + ": 5, int>" + gap +
                 "</" + group + ">" + gap + "</Root>" + gap;
        Settings tags;
        ASSERT_TRUE(vxtest::parseText(tags, script)) << "pad " << pad;
        const std::string groupSpec = "/Root/" + group;
        int v = 0;
        ASSERT_TRUE(tags.readValue(groupSpec.c_str(), ("v" + group).c_str(), &v)) << "pad " << pad;
        EXPECT_EQ(v, 5);

        // A ">" before the first "<" of a group's next item ends the group's
        // items there; the items before it stay.
        std::string stray = "<Root>\n<a: 1, int>\n" + gap + "> <b: 2, int>\n</Root>\n";
        Settings other;
        ASSERT_TRUE(vxtest::parseText(other, stray)) << "pad " << pad;
        EXPECT_TRUE(other.valueExists("/Root", "a"));
        EXPECT_FALSE(other.valueExists("/Root", "b")) << "pad " << pad;
    }
}

TEST(SettingsReaderFastPaths, TextEndingInsideATagReadsNothingPastIt) {
    // The text ends at every offset within a tag: the block-wise searches
    // must stop at the end and the parse fail or keep only whole items.
    const std::string full =
        "<Root>\n\t<Gains[3]: 1.0, 0.5, 0.25, float>\n\t<Name: \"Main\", string>\n";
    for (std::size_t cut = 1; cut <= full.size(); ++cut) {
        Settings doc;
        EXPECT_FALSE(vxtest::parseText(doc, full.substr(0, cut))) << "cut " << cut;
        EXPECT_EQ(doc.getHeadGroup(), nullptr);
    }
}

TEST(SettingsReaderFastPaths, ValuesKeepTheirOrderAcrossReloadsAndEdits) {
    // The reader remembers the value it appended last; releases and edits in
    // between must never let it append to a list that is gone.
    const std::string script = "<Root>\n<A>\n<x: 1, int>\n<y: 2, int>\n</A>\n<B>\n<z: 3, int>\n"
                               "</B>\n</Root>\n";
    Settings doc;
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(vxtest::parseText(doc, script));
        ASSERT_TRUE(doc.addValue("/Root/A", "w"));
        std::vector<std::string> names;
        ASSERT_TRUE(doc.listValSubkeys("/Root/A", names));
        EXPECT_EQ(names, (std::vector<std::string>{"x", "y", "w"}));
        names.clear();
        ASSERT_TRUE(doc.listValSubkeys("/Root/B", names));
        EXPECT_EQ(names, (std::vector<std::string>{"z"}));
        doc.releaseMemory();
        EXPECT_EQ(doc.getHeadGroup(), nullptr);
    }
    // A value read into a group directly, after a tree was parsed and freed.
    ASSERT_TRUE(doc.addHeadGroup("Top"));
    char text[] = "v: 9, int>";
    ASSERT_TRUE(doc.parseValue(text, 0, doc.getHeadGroup()));
    char more[] = "u: 8, int>";
    ASSERT_TRUE(doc.parseValue(more, 0, doc.getHeadGroup()));
    std::vector<std::string> names;
    ASSERT_TRUE(doc.listValSubkeys("/Top", names));
    EXPECT_EQ(names, (std::vector<std::string>{"v", "u"}));
}
