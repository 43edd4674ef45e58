// The script writer's exact layout and the reader's grammar and failure rules.
#include "support.h"

#include "NSVextra/Settings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

using namespace NSVextra;
using vxtest::readFile;

namespace {

class SettingsScript : public vxtest::TempDirTest {
protected:
    // Writes `doc` to a file and returns the file's bytes.
    std::string written(Settings& doc) {
        doc.setFile(path("out.txt").c_str());
        EXPECT_TRUE(doc.commit());
        return readFile(path("out.txt"));
    }
};

} // namespace

TEST_F(SettingsScript, DocumentIsWrittenByteForByteAndReadsBack) {
    // Values added before groups, an empty group, a value never stored, a
    // line break after the eleventh element and one before the type name.
    Settings doc;
    ASSERT_TRUE(doc.addHeadGroup("Root"));
    ASSERT_TRUE(doc.addValue("/Root", "first"));
    int one = 1;
    ASSERT_TRUE(doc.storeValue("/Root", "first", Settings::kTypeInt, &one, 1));
    ASSERT_TRUE(doc.addGroup("/Root", "A"));
    ASSERT_TRUE(doc.addValue("/Root", "second"));
    ASSERT_TRUE(doc.addGroup("/Root", "Audio"));
    ASSERT_TRUE(doc.addGroup("/Root/Audio", "Inner"));
    int rate = 48000;
    float gains[3] = {1.0f, 0.5f, 0.25f};
    char name[] = "Main\0";
    int twelve[12];
    double eleven[11];
    for (int i = 0; i < 12; ++i)
        twelve[i] = i * 10 - 20;
    for (int i = 0; i < 11; ++i)
        eleven[i] = i + 0.5;
    struct Item {
        const char* name;
        int type;
        void* data;
        int elems;
    };
    for (const Item& v :
         {Item{"Rate", Settings::kTypeInt, &rate, 1}, Item{"Gains", Settings::kTypeFloat, gains, 3},
          Item{"Name", Settings::kTypeString, name, 1},
          Item{"Twelve", Settings::kTypeInt, twelve, 12},
          Item{"Eleven", Settings::kTypeDouble, eleven, 11}}) {
        ASSERT_TRUE(doc.addValue("/Root/Audio", v.name));
        ASSERT_TRUE(doc.storeValue("/Root/Audio", v.name, v.type, v.data, v.elems)) << v.name;
    }
    const std::string text = written(doc);
    EXPECT_EQ(text, "<Root>\n"
                    "\t<A>\n"
                    "\t</A>\n"
                    "\t<Audio>\n"
                    "\t\t<Inner>\n"
                    "\t\t</Inner>\n"
                    "\t\t<Rate: 48000, int>\n"
                    "\t\t<Gains[3]: 1.0, 0.5, 0.25, float>\n"
                    "\t\t<Name: \"Main\", string>\n"
                    "\t\t<Twelve[12]: -20, -10, 0, 10, 20, 30, 40, 50, 60, 70, 80, \n"
                    "\t\t90, int>\n"
                    "\t\t<Eleven[11]: 0.5, 1.5, 2.5, 3.5, 4.5, 5.5, 6.5, 7.5, 8.5, 9.5, 10.5\n"
                    "\t\t, double>\n"
                    "\t</Audio>\n"
                    "\t<first: 1, int>\n"
                    "\t<second: , string>\n"
                    "</Root>\n");
    EXPECT_FALSE(doc.isModified()); // a save clears it

    Settings back;
    ASSERT_TRUE(vxtest::parseText(back, text));
    EXPECT_STREQ(back.getNextSubGroup("/Root", true), "A");
    EXPECT_STREQ(back.getNextSubGroup("/Root", false), "Audio");
    EXPECT_EQ(back.getNextSubGroup("/Root", false), nullptr);
    std::vector<std::string> names;
    ASSERT_TRUE(back.listValSubkeys("/Root", names));
    EXPECT_EQ(names, (std::vector<std::string>{"first", "second"}));
    // The value written without elements reads back as an empty value.
    EXPECT_EQ(back.getValueElems("/Root", "second"), 0);
    EXPECT_EQ(back.getValueSizeBytes("/Root", "second"), 0);
    EXPECT_EQ(back.getValueType("/Root", "second"), Settings::kTypeString);
    EXPECT_TRUE(back.groupExists("/Root/Audio/Inner"));
    int readTwelve[12] = {};
    double readEleven[11] = {};
    ASSERT_EQ(back.getValueElems("/Root/Audio", "Twelve"), 12);
    ASSERT_TRUE(back.readValue("/Root/Audio", "Twelve", readTwelve));
    ASSERT_TRUE(back.readValue("/Root/Audio", "Eleven", readEleven));
    EXPECT_EQ(std::memcmp(readTwelve, twelve, sizeof twelve), 0);
    EXPECT_EQ(std::memcmp(readEleven, eleven, sizeof eleven), 0);
}

TEST(SettingsReader, NumberTextsReadBackByType) {
    // The writer's texts for the edges of each type (its digits are checked
    // against the general formatter elsewhere) read back to the same values.
    Settings back;
    ASSERT_TRUE(vxtest::parseText(back, "<R>\n"
                                        "\t<u[3]: 0x0, 0xabcdef, 0xffffffff, uint>\n"
                                        "\t<u64[2]: 0, 18446744073709551615, uint64>\n"
                                        "\t<f[3]: 2.0, 0.1, -1.5, float>\n"
                                        "\t<d: 0.333333, double>\n"
                                        "\t<tiny[2]: 0.0, -0.0, double>\n"
                                        "\t<neg: -2147483648, int>\n"
                                        "</R>\n"));
    unsigned int u[3] = {};
    unsigned long long u64[2] = {};
    float f[3] = {};
    double d = 0, tiny[2] = {1, 1};
    int neg = 0;
    ASSERT_TRUE(back.readValue("/R", "u", u));
    ASSERT_TRUE(back.readValue("/R", "u64", u64));
    ASSERT_TRUE(back.readValue("/R", "f", f));
    ASSERT_TRUE(back.readValue("/R", "d", &d));
    ASSERT_TRUE(back.readValue("/R", "tiny", tiny));
    ASSERT_TRUE(back.readValue("/R", "neg", &neg));
    EXPECT_EQ(u[1], 0xABCDEFu);
    EXPECT_EQ(u[2], 0xFFFFFFFFu);
    EXPECT_EQ(u64[1], 18446744073709551615ull);
    EXPECT_EQ(f[1], 0.1f);
    EXPECT_EQ(f[2], -1.5f);
    EXPECT_DOUBLE_EQ(d, 0.333333);
    EXPECT_EQ(tiny[0], 0.0);
    EXPECT_TRUE(std::signbit(tiny[1]));
    EXPECT_EQ(neg, -2147483647 - 1);
}

TEST(SettingsReader, GrammarDetails) {
    Settings doc;
    const std::string script = "junk before <Root>\n"
                               " text between items is ignored\n"
                               "<s[2]: \"a, b\" ,\n  \"c\", string>\n"
                               "<odd: 5, int >\n"
                               "<h: ff, uint>\n"
                               "<sp: 1 , int>\n"
                               "<Sub Group>\n<x: 1, int></Sub Group>\n"
                               "</Root> trailing <Other></Other>";
    ASSERT_TRUE(vxtest::parseText(doc, script));
    EXPECT_FALSE(doc.isModified());

    std::string s;
    ASSERT_TRUE(doc.readValString("/Root", "s", s));
    EXPECT_EQ(s, "a, b");
    ASSERT_EQ(doc.getValueSizeBytes("/Root", "s"), 8); // "a, b\0c\0\0"
    const char* packed = static_cast<const char*>(doc.getValueBuf("/Root", "s"));
    EXPECT_STREQ(packed + 5, "c");

    // A type name with a trailing space is no type name: the value is a string.
    EXPECT_EQ(doc.getValueType("/Root", "odd"), Settings::kTypeString);
    ASSERT_TRUE(doc.readValString("/Root", "odd", s));
    EXPECT_EQ(s, "5");

    unsigned int h = 0;
    ASSERT_TRUE(doc.readValue("/Root", "h", &h));
    EXPECT_EQ(h, 0xFFu); // hexadecimal without the prefix
    int sp = 0;
    ASSERT_TRUE(doc.readValue("/Root", "sp", &sp));
    EXPECT_EQ(sp, 1);

    EXPECT_TRUE(doc.groupExists("/Root/Sub Group"));
    EXPECT_FALSE(doc.groupExists("/Other")); // only the first top-level group is read
    EXPECT_EQ(doc.getHeadGroup()->next, nullptr);
}

TEST(SettingsReader, UnreadableItemEndsItsGroupOnly) {
    Settings doc;
    const std::string script = "<Root>\n"
                               "\t<A>\n"
                               "\t\t<kept: 1, int>\n"
                               "\t\t<big[50]: 1, int>\n" // more than 49 elements
                               "\t\t<lost: 2, int>\n"
                               "\t\t<LostGroup>\n\t\t</LostGroup>\n"
                               "\t</A>\n"
                               "\t<B>\n"
                               "\t\t<kept: 3, int>\n"
                               "\t\t<n: abc, int>\n" // not a number
                               "\t\t<lost: 4, int>\n"
                               "\t</B>\n"
                               "\t<C>\n"
                               "\t\t<kept: 5, int>\n"
                               "\t\t<Open>\n" // never closed
                               "\t\t<lost: 6, int>\n"
                               "\t</C>\n"
                               "\t<D>\n"
                               "\t\t<kept: 7, int>\n"
                               "\t\tstray > here\n"
                               "\t\t<lost: 8, int>\n"
                               "\t</D>\n"
                               "\t<after: 9, int>\n"
                               "</Root>\n";
    testing::internal::CaptureStdout();
    ASSERT_TRUE(vxtest::parseText(doc, script));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "ERROR: Enclosing tag specifier missing\n"); // from <Open> only

    for (const char* g : {"/Root/A", "/Root/B", "/Root/C", "/Root/D"}) {
        EXPECT_TRUE(doc.valueExists(g, "kept")) << g;
        EXPECT_FALSE(doc.valueExists(g, "lost")) << g;
    }
    EXPECT_FALSE(doc.valueExists("/Root/A", "big"));
    EXPECT_FALSE(doc.groupExists("/Root/A/LostGroup"));
    EXPECT_FALSE(doc.valueExists("/Root/B", "n"));
    EXPECT_FALSE(doc.groupExists("/Root/C/Open"));
    int after = 0;
    ASSERT_TRUE(doc.readValue("/Root", "after", &after)); // parsing went on after each group
    EXPECT_EQ(after, 9);
}

TEST(SettingsReader, NumberTextsThatAreNotNumbersFailTheValue) {
    const char* bad[] = {"<v: x12, int>",
                         "<v: 2147483648, int>",
                         "<v: 0x, uint>",
                         "<v: -1, uint>",
                         "<v: 0x100000000, uint>",
                         "<v: -1, uint64>",
                         "<v: .e1, double>",
                         "<v: 1e999, double>",
                         "<v: 1e39, float>",
                         "<v: nope, float>",
                         "<v: \"a\"b, string>",
                         "<v: \"a, string>",
                         "<v[2]: 1, int>",
                         "<v[x]: 1, int>",
                         "<v[-1]: 1, int>",
                         "<v[2x]: 1, 2, int>",
                         "<v: 1 int>"};
    for (const char* item : bad) {
        Settings doc;
        const std::string script = std::string("<R>") + item + "<ok: 1, int></R>";
        ASSERT_TRUE(vxtest::parseText(doc, script)) << item;
        EXPECT_FALSE(doc.valueExists("/R", "v") && doc.getValueElems("/R", "v") > 0) << item;
        EXPECT_FALSE(doc.valueExists("/R", "ok")) << item; // the group's items ended there
    }
    // A number is read from the start of its text; what follows it is not
    // part of it.
    {
        Settings doc;
        ASSERT_TRUE(vxtest::parseText(doc, "<R><i[3]: 12x, 1.5, -7 dB, int><u: 1fz, uint>"
                                           "<q: 42.9, uint64><d: 1.5.5, double>"
                                           "<f: 2.5e1kHz, float></R>"));
        int32_t i[3] = {};
        uint32_t u = 0;
        uint64_t q = 0;
        double d = 0;
        float f = 0;
        ASSERT_TRUE(doc.readValue("/R", "i", i));
        ASSERT_TRUE(doc.readValue("/R", "u", &u));
        ASSERT_TRUE(doc.readValue("/R", "q", &q));
        ASSERT_TRUE(doc.readValue("/R", "d", &d));
        ASSERT_TRUE(doc.readValue("/R", "f", &f));
        EXPECT_EQ(i[0], 12);
        EXPECT_EQ(i[1], 1);
        EXPECT_EQ(i[2], -7);
        EXPECT_EQ(u, 0x1Fu);
        EXPECT_EQ(q, 42u);
        EXPECT_EQ(d, 1.5);
        EXPECT_EQ(f, 25.0f);
    }
    // Underflow is not an error: the value is simply (nearly) zero.
    Settings doc;
    ASSERT_TRUE(vxtest::parseText(doc, "<R><v: 1e-60, float><w: 1e-400, double></R>"));
    float v = 1;
    double w = 1;
    ASSERT_TRUE(doc.readValue("/R", "v", &v));
    ASSERT_TRUE(doc.readValue("/R", "w", &w));
    EXPECT_EQ(v, 0.0f);
    EXPECT_EQ(w, 0.0);
}

TEST(SettingsReader, DocumentFailures) {
    Settings doc;
    EXPECT_FALSE(vxtest::parseText(doc, ""));
    EXPECT_FALSE(vxtest::parseText(doc, "no tags at all"));
    EXPECT_FALSE(vxtest::parseText(doc, "</Root>"));     // a closing tag is no head group
    EXPECT_FALSE(vxtest::parseText(doc, "<v: 1, int>")); // a value before any group
    EXPECT_FALSE(vxtest::parseText(doc, "<>"));
    testing::internal::CaptureStdout();
    EXPECT_FALSE(vxtest::parseText(doc, "<Root><a: 1, int>"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR: Enclosing tag specifier missing\n");
    EXPECT_EQ(doc.getHeadGroup(), nullptr);
    EXPECT_FALSE(doc.isLoaded());

    // A failed load leaves a document's tree as it was; a good one replaces it.
    ASSERT_TRUE(vxtest::parseText(doc, "<Old><a: 1, int></Old>"));
    EXPECT_TRUE(doc.isLoaded());
    EXPECT_FALSE(vxtest::parseText(doc, "garbage"));
    EXPECT_TRUE(doc.valueExists("/Old", "a"));
    ASSERT_TRUE(vxtest::parseText(doc, "<New></New>"));
    EXPECT_FALSE(doc.groupExists("/Old"));
    EXPECT_TRUE(doc.groupExists("/New"));
}

TEST(SettingsReader, ScriptBufferFromMemoryParsesLater) {
    Settings doc;
    std::string script = "<R><a: 7, int></R>";
    ASSERT_TRUE(
        doc.loadScriptFromMem(reinterpret_cast<unsigned char*>(script.data()), script.size()));
    EXPECT_FALSE(doc.groupExists("/R"));
    ASSERT_TRUE(doc.parseScript());
    EXPECT_TRUE(doc.valueExists("/R", "a"));
    doc.releaseMemory();
    EXPECT_EQ(doc.getHeadGroup(), nullptr);
    ASSERT_TRUE(doc.parseScript()); // the buffer stays until the document goes
    EXPECT_TRUE(doc.valueExists("/R", "a"));
}
