// The script writer's exact layout and the reader's grammar and failure rules.
#include "support.h"

#include <cmath>

using namespace NSVextra;

namespace {

// Reads `type` values named `name` of `doc`'s group /R.
template <typename T> std::vector<T> values(Settings& doc, const char* name) {
    std::vector<T> out(static_cast<size_t>(std::max(doc.getValueElems("/R", name), 0)));
    EXPECT_TRUE(doc.readValue("/R", name, out.data())) << name;
    return out;
}

} // namespace

TEST(SettingsScript, DocumentIsWrittenByteForByteAndReadsBack) {
    // An empty group, a value never stored, a line break after the eleventh
    // element and one before the type name.
    const std::string text =
        "<Root>\n\t<A>\n\t</A>\n\t<Audio>\n\t\t<Inner>\n\t\t</Inner>\n\t\t<Rate: 48000, int>\n"
        "\t\t<Hex[2]: 0x0, 0xabcdef, uint>\n\t\t<Gains[3]: 1.0, 0.5, 0.25, float>\n"
        "\t\t<Name: \"Main\", string>\n"
        "\t\t<Twelve[12]: -20, -10, 0, 10, 20, 30, 40, 50, 60, 70, 80, \n\t\t90, int>\n"
        "\t\t<Eleven[11]: 0.5, 1.5, 2.5, 3.5, 4.5, 5.5, 6.5, 7.5, 8.5, 9.5, 10.5\n\t\t, double>\n"
        "\t</Audio>\n\t<first: 1, int>\n\t<second: , string>\n</Root>\n";
    vxtest::TempDir dir;
    Settings doc;
    ASSERT_TRUE(vxtest::parseText(doc, text));
    doc.setFile((dir / "out.txt").c_str());
    int one = 2;
    ASSERT_TRUE(doc.storeValue("/Root", "first", Settings::kTypeInt, &one, 1) && doc.commit());
    EXPECT_FALSE(doc.isModified()); // a save clears it
    std::string again = text;
    again.replace(again.find("first: 1"), 8, "first: 2");
    EXPECT_EQ(vxtest::readFile(dir / "out.txt"), again);
}

TEST(SettingsReader, NumberTextsAndGrammarDetails) {
    Settings doc;
    ASSERT_TRUE(vxtest::parseText(doc, "junk before <R>\n"
                                       "\t<u[4]: 0xffffffff, ff, 1fz, 0x0, uint>\n"
                                       "\t<u64[2]: 18446744073709551615, 42.9, uint64>\n"
                                       "\t<f[4]: 0.1, -1.5, 2.5e1kHz, 1e-60, float>\n"
                                       "\t<d[5]: 0.333333, -0.0, 1.5.5, 1e-400, 7.25 , double>\n"
                                       "\t<i[4]: -2147483648, 12x, 1.5, -7 dB, int>\n"
                                       " text between items is ignored\n"
                                       "<s[2]: \"a, b\" ,\n  \"c\", string>\n"
                                       "<odd: 5, int >\n"
                                       "<Sub Group>\n<x: 1, int></Sub Group>\n"
                                       "</R> trailing <Other></Other>"));
    // Hexadecimal with or without its prefix; a number is read from the start
    // of its text; underflow is no error but (nearly) zero.
    EXPECT_EQ(values<uint32_t>(doc, "u"), (std::vector<uint32_t>{0xFFFFFFFF, 0xFF, 0x1F, 0}));
    EXPECT_EQ(values<uint64_t>(doc, "u64"), (std::vector<uint64_t>{18446744073709551615ull, 42}));
    EXPECT_EQ(values<float>(doc, "f"), (std::vector<float>{0.1f, -1.5f, 25.0f, 0.0f}));
    const std::vector<double> d = values<double>(doc, "d");
    EXPECT_EQ(d, (std::vector<double>{0.333333, 0.0, 1.5, 0.0, 7.25}));
    EXPECT_TRUE(d.size() == 5 && std::signbit(d[1]));
    EXPECT_EQ(values<int32_t>(doc, "i"), (std::vector<int32_t>{-2147483647 - 1, 12, 1, -7}));
    EXPECT_FALSE(doc.isModified());
    ASSERT_EQ(doc.getValueSizeBytes("/R", "s"), 8);
    EXPECT_EQ(std::string(static_cast<const char*>(doc.getValueBuf("/R", "s")), 8),
              std::string("a, b\0c\0\0", 8));
    // A type name with a trailing space is no type name: the value is a string.
    std::string s;
    ASSERT_TRUE(doc.readValString("/R", "odd", s));
    EXPECT_EQ(s + std::to_string(doc.getValueType("/R", "odd")),
              "5" + std::to_string(Settings::kTypeString));
    // Only the first top-level group is read.
    EXPECT_TRUE(doc.groupExists("/R/Sub Group") && doc.getHeadGroup()->next == nullptr);
}

TEST(SettingsReader, UnreadableItemEndsItsGroupOnly) {
    Settings doc;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(vxtest::parseText(doc, "<Root>\n"
                                       "<A><kept: 1, int><big[50]: 1, int><lost: 2, int>"
                                       "<LostGroup></LostGroup></A>\n"
                                       "<B><kept: 3, int><n: abc, int><lost: 4, int></B>\n"
                                       "<C><kept: 5, int><Open><lost: 6, int></C>\n"
                                       "<D><kept: 7, int> stray > here <lost: 8, int></D>\n"
                                       "<after: 9, int>\n</Root>\n"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR: Enclosing tag specifier missing\n");
    for (const char* g : {"/Root/A", "/Root/B", "/Root/C", "/Root/D"})
        EXPECT_TRUE(doc.valueExists(g, "kept") && !doc.valueExists(g, "lost")) << g;
    EXPECT_FALSE(doc.valueExists("/Root/A", "big") || doc.groupExists("/Root/A/LostGroup") ||
                 doc.valueExists("/Root/B", "n") || doc.groupExists("/Root/C/Open"));
    EXPECT_TRUE(doc.valueExists("/Root", "after")); // parsing went on after each group
}

TEST(SettingsReader, UnreadableValuesEndTheirGroupsItemsBadDocumentsFail) {
    // Texts that are no numbers of their type, and names, counts, types and
    // elements beyond their limits.
    auto refused = [](const std::string& item) {
        Settings doc;
        ASSERT_TRUE(vxtest::parseText(doc, "<R>" + item + "<ok: 1, int></R>")) << item;
        EXPECT_TRUE(!(doc.valueExists("/R", "v") && doc.getValueElems("/R", "v") > 0) &&
                    !doc.valueExists("/R", "ok") && doc.getHeadGroup()->firstChild == nullptr)
            << item.substr(0, 30);
    };
    for (const char* item :
         {"<v: x12, int>", "<v: 2147483648, int>", "<v: 0x, uint>", "<v: -1, uint>",
          "<v: 0x100000000, uint>", "<v: -1, uint64>", "<v: .e1, double>", "<v: 1e999, double>",
          "<v: 1e39, float>", "<v: nope, float>", "<v: \"a\"b, string>", "<v: \"a, string>",
          "<v[2]: 1, int>", "<v[x]: 1, int>", "<v[-1]: 1, int>", "<v[2x]: 1, 2, int>",
          "<v: 1 int>"})
        refused(item);
    const std::string longGroup(Settings::kMaxGroupName + 1, 'g');
    refused("<" + longGroup + "></" + longGroup + ">");
    refused("<" + std::string(Settings::kMaxValueLabel + 1, 'n') + ": 1, int>");
    refused("<v[" + std::string(Settings::kMaxCountText + 1, '0') + "1]: 1, int>");
    refused("<v: 1, " + std::string(Settings::kMaxTypeText + 1, 't') + ">");
    refused("<v: \"" + std::string(Settings::kMaxElemText, 'e') + "\", string>");
    Settings doc;
    testing::internal::CaptureStdout();
    for (const char* bad :
         {"", "no tags at all", "</Root>", "<v: 1, int>", "<>", "<Root><a: 1, int>"})
        EXPECT_FALSE(vxtest::parseText(doc, bad)) << bad;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR: Enclosing tag specifier missing\n");
    EXPECT_TRUE(doc.getHeadGroup() == nullptr && !doc.isLoaded());
    // A failed load leaves a document's tree as it was; a good one replaces it.
    ASSERT_TRUE(vxtest::parseText(doc, "<Old><a: 1, int></Old>") && doc.isLoaded());
    EXPECT_TRUE(!vxtest::parseText(doc, "garbage") && doc.valueExists("/Old", "a"));
    EXPECT_TRUE(vxtest::parseText(doc, "<New></New>") && !doc.groupExists("/Old"));

    // A script buffer from memory parses later, and stays until the document
    // goes.
    std::string script = "<R><a: 7, int></R>";
    ASSERT_TRUE(
        doc.loadScriptFromMem(reinterpret_cast<unsigned char*>(script.data()), script.size()));
    EXPECT_FALSE(doc.groupExists("/R"));
    EXPECT_TRUE(doc.parseScript() && doc.valueExists("/R", "a"));
    doc.releaseMemory();
    EXPECT_EQ(doc.getHeadGroup(), nullptr);
    EXPECT_TRUE(doc.parseScript() && doc.valueExists("/R", "a"));
}

TEST(SettingsReader, InputAtTheLimitsDeepAndWide) {
    // Exactly at the limits is fine.
    const std::string element(Settings::kMaxElemText - 2, 'e');
    std::string most, read;
    for (int i = 1; i <= Settings::kMaxElems; ++i)
        most += std::to_string(i) + ", ";
    Settings atLimit;
    ASSERT_TRUE(vxtest::parseText(atLimit, "<R><v: \"" + element + "\", string><n[" +
                                               std::to_string(Settings::kMaxElems) + "]: " + most +
                                               "int></R>"));
    EXPECT_TRUE(atLimit.readValString("/R", "v", read) && read == element);
    EXPECT_EQ(atLimit.getValueElems("/R", "n"), Settings::kMaxElems);

    // Deep nesting stops at the depth limit instead of exhausting the stack;
    // very many siblings read in linear time and keep their order.
    std::string deep, wide = "<R>";
    for (int i = 0; i < Settings::kMaxDepth + 50; ++i)
        deep = "<g" + std::to_string(i) + ">" + deep + "</g" + std::to_string(i) + ">";
    for (int i = 0; i < 20000; ++i)
        wide += "<s" + std::to_string(i) + "></s" + std::to_string(i) + ">";
    Settings doc, many;
    ASSERT_TRUE(vxtest::parseText(doc, deep) && vxtest::parseText(many, wide + "</R>"));
    int depth = 0, count = 0;
    for (Settings::GroupNode* g = doc.getHeadGroup(); g != nullptr; g = g->firstChild)
        ++depth;
    for (Settings::GroupNode* g = many.getHeadGroup()->firstChild; g != nullptr; g = g->next)
        ASSERT_EQ(g->name, "s" + std::to_string(count++));
    EXPECT_EQ(depth * 100000 + count, Settings::kMaxDepth * 100000 + 20000);
}
