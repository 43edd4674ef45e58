// Generated documents written and read back, and hostile input to the reader.
#include "support.h"

#include "NSVextra/Settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace NSVextra;
using vxtest::readFile;

namespace {

class Generator {
public:
    explicit Generator(unsigned seed) : m_rng(seed) {}

    // A random tree below `spec` (which must exist), `depth` levels deep at most.
    void fill(Settings& doc, const std::string& spec, int depth) {
        const int values = pick(0, 6);
        const int groups = depth > 0 ? pick(1, 3) : 0;
        // Values and groups are added in random order: the writer must still
        // put the groups first and the reader keep both lists in order.
        std::vector<bool> isGroup(static_cast<size_t>(values + groups), false);
        std::fill(isGroup.begin(), isGroup.begin() + groups, true);
        std::shuffle(isGroup.begin(), isGroup.end(), m_rng);
        for (const bool group : isGroup) {
            if (group) {
                const std::string name = groupName();
                ASSERT_TRUE(doc.addGroup(spec.c_str(), name.c_str())) << name;
                fill(doc, spec + "/" + name, depth - 1);
            } else {
                addValue(doc, spec);
            }
        }
    }

private:
    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(m_rng); }

    std::string text(int maxLen, const std::string& alphabet) {
        std::string s;
        const int len = pick(0, maxLen);
        for (int i = 0; i < len; ++i) {
            s += alphabet[static_cast<size_t>(pick(0, static_cast<int>(alphabet.size()) - 1))];
        }
        return s;
    }

    // Unique names, so that no group shares a name with an ancestor.
    std::string groupName() { return "G" + std::to_string(m_next++) + text(6, "ab _-.!"); }

    void addValue(Settings& doc, const std::string& spec) {
        const std::string name = "v" + std::to_string(m_next++) + text(5, "xy _.");
        ASSERT_TRUE(doc.addValue(spec.c_str(), name.c_str()));
        const int type = pick(0, 6); // 6: left empty, as addValue made it
        if (type == 6) {
            return;
        }
        const int elems = pick(0, 3) == 0 ? pick(11, Settings::kMaxElems) : pick(1, 4);
        std::vector<unsigned char> bytes;
        auto put = [&bytes](const void* p, size_t n) {
            const auto* b = static_cast<const unsigned char*>(p);
            bytes.insert(bytes.end(), b, b + n);
        };
        for (int i = 0; i < elems; ++i) {
            const unsigned long long bits =
                (static_cast<unsigned long long>(m_rng()) << 32) | m_rng();
            // Multiples of 1/64 have at most six decimals, so the fixed-point
            // text carries them exactly.
            const float f = static_cast<float>(pick(-100000, 100000)) / 64.0f;
            const double d = static_cast<double>(pick(-100000000, 100000000)) / 64.0;
            const std::string s = text(12, "abc XYZ 019,;:/[]{}()'&\t");
            if (type == Settings::kTypeFloat)
                put(&f, 4);
            else if (type == Settings::kTypeDouble)
                put(&d, 8);
            else if (type == Settings::kTypeString)
                put(s.c_str(), s.size() + 1);
            else // int, uint and uint64 take any bits
                put(&bits, type == Settings::kTypeUInt64 ? 8 : 4);
        }
        if (type == Settings::kTypeString) {
            bytes.push_back(0);
        }
        ASSERT_TRUE(doc.storeValue(spec.c_str(), name.c_str(), type, bytes.data(), elems));
    }

    std::mt19937 m_rng;
    int m_next = 0;
};

void expectSameGroups(const Settings::GroupNode* a, const Settings::GroupNode* b) {
    for (; a != nullptr && b != nullptr; a = a->next, b = b->next) {
        ASSERT_EQ(a->name, b->name);
        const Settings::PropNode* va = a->firstValue;
        const Settings::PropNode* vb = b->firstValue;
        for (; va != nullptr && vb != nullptr; va = va->next, vb = vb->next) {
            ASSERT_EQ(va->name, vb->name) << a->name;
            ASSERT_EQ(va->type, vb->type) << va->name;
            ASSERT_EQ(va->elems, vb->elems) << va->name;
            ASSERT_EQ(va->size, vb->size) << va->name;
            if (va->size > 0) {
                ASSERT_EQ(std::memcmp(va->data, vb->data, static_cast<size_t>(va->size)), 0)
                    << va->name;
            }
        }
        ASSERT_EQ(va, nullptr) << "value missing after reading " << a->name;
        ASSERT_EQ(vb, nullptr) << "extra value after reading " << a->name;
        expectSameGroups(a->firstChild, b->firstChild);
    }
    ASSERT_EQ(a, nullptr);
    ASSERT_EQ(b, nullptr);
}

class SettingsRoundTrip : public vxtest::TempDirTest {};

} // namespace

TEST_F(SettingsRoundTrip, GeneratedDocumentsReadBackEqual) {
    for (unsigned seed = 1; seed <= 60; ++seed) {
        SCOPED_TRACE(seed);
        Settings doc;
        ASSERT_TRUE(doc.addHeadGroup("Root"));
        Generator(seed).fill(doc, "/Root", 4);
        // Every third document goes through a scrambled file.
        const std::string file = path(seed % 3 == 0 ? "doc.esf" : "doc.txt");
        doc.setFile(file.c_str());
        ASSERT_TRUE(doc.commit());

        Settings back;
        back.setFile(file.c_str());
        ASSERT_TRUE(back.loadFile());
        expectSameGroups(doc.getHeadGroup(), back.getHeadGroup());

        // Writing what was read gives the same bytes again.
        const std::string firstText = readFile(file);
        ASSERT_TRUE(back.commit());
        EXPECT_EQ(readFile(file), firstText);
    }
}

// Cuts of a valid nested script at every length fail cleanly (random damage
// is the settings fuzzers' business).
TEST_F(SettingsRoundTrip, TruncatedScriptsFail) {
    Settings source;
    source.addHeadGroup("Root");
    Generator(99).fill(source, "/Root", 3);
    source.setFile(path("s.txt").c_str());
    ASSERT_TRUE(source.commit());
    const std::string script = readFile(path("s.txt"));
    ASSERT_GT(script.size(), 100u);

    testing::internal::CaptureStdout(); // missing closing tags are reported there
    for (size_t len = 0; len <= script.size(); ++len) {
        Settings doc;
        const bool ok = vxtest::parseText(doc, script.substr(0, len));
        EXPECT_EQ(ok, doc.getHeadGroup() != nullptr);
        if (len < script.size() - 1) {
            EXPECT_FALSE(ok) << len; // the head group's closing tag is cut off
        }
    }
    testing::internal::GetCapturedStdout();
}

TEST(SettingsHostileInput, OverLongAndDeepInput) {
    // Names, counts, types and elements beyond their limits are refused.
    const std::string longGroup(Settings::kMaxGroupName + 1, 'g');
    const std::string items[] = {
        "<" + std::string(Settings::kMaxValueLabel + 1, 'n') + ": 1, int>",
        "<v[" + std::string(Settings::kMaxCountText + 1, '0') + "1]: 1, int>",
        "<v: 1, " + std::string(Settings::kMaxTypeText + 1, 't') + ">",
        "<v: \"" + std::string(Settings::kMaxElemText, 'e') + "\", string>",
        "<" + longGroup + "></" + longGroup + ">",
    };
    for (const std::string& item : items) {
        Settings doc;
        ASSERT_TRUE(vxtest::parseText(doc, "<R>" + item + "<ok: 1, int></R>"));
        EXPECT_FALSE(doc.valueExists("/R", "ok")) << item.substr(0, 20);
        EXPECT_EQ(doc.getHeadGroup()->firstChild, nullptr);
    }
    // Exactly at the limits is fine.
    Settings atLimit;
    const std::string element(Settings::kMaxElemText - 2, 'e');
    ASSERT_TRUE(vxtest::parseText(atLimit, "<R><v: \"" + element + "\", string></R>"));
    std::string read;
    ASSERT_TRUE(atLimit.readValString("/R", "v", read));
    EXPECT_EQ(read, element);

    // Deep nesting stops at the depth limit instead of exhausting the stack.
    std::string deep;
    const int levels = Settings::kMaxDepth + 50;
    for (int i = 0; i < levels; ++i) {
        deep += "<g" + std::to_string(i) + ">";
    }
    for (int i = levels - 1; i >= 0; --i) {
        deep += "</g" + std::to_string(i) + ">";
    }
    Settings doc;
    ASSERT_TRUE(vxtest::parseText(doc, deep));
    int depth = 0;
    for (Settings::GroupNode* g = doc.getHeadGroup(); g != nullptr; g = g->firstChild) {
        ++depth;
    }
    EXPECT_EQ(depth, Settings::kMaxDepth);

    // Very many siblings read in linear time and keep their order.
    std::string wide = "<R>";
    for (int i = 0; i < 20000; ++i) {
        wide += "<s" + std::to_string(i) + "></s" + std::to_string(i) + ">";
    }
    wide += "</R>";
    Settings many;
    ASSERT_TRUE(vxtest::parseText(many, wide));
    int count = 0;
    for (Settings::GroupNode* g = many.getHeadGroup()->firstChild; g != nullptr; g = g->next) {
        ASSERT_EQ(g->name, "s" + std::to_string(count));
        ++count;
    }
    EXPECT_EQ(count, 20000);
}
