// The writer's number texts must equal fmt's byte for byte ("{:#f}" with
// trailing zeros trimmed, "{:d}", "0x{:x}"); the reader's shortcuts must read
// what the standard conversion reads.
#include "support.h"

#include "NSVextra/StringUtils.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <random>

using NSVextra::Settings;

namespace {

std::string fixedTrimmed(double v) {
    std::string text = fmt::format("{:#f}", v);
    NSVextra::trimZeros(text);
    return text;
}

// Writes the values through one stored value, 49 at a time, and compares each
// element's text.
template <typename T> void expectTexts(int type, const std::vector<T>& values, auto want) {
    Settings doc;
    ASSERT_TRUE(doc.addHeadGroup("R") && doc.addValue("/R", "v"));
    int mismatches = 0;
    std::string text;
    for (std::size_t at = 0; at < values.size(); ++at) {
        const auto n = std::min<std::size_t>(Settings::kMaxElems, values.size() - at);
        if (at % Settings::kMaxElems == 0) {
            ASSERT_TRUE(doc.storeValue("/R", "v", type, const_cast<T*>(&values[at]), int(n)));
        }
        doc.composeElemStr(doc.getPropNodeBySpec("/R", "v"), int(at % Settings::kMaxElems), text);
        if (text != want(values[at]) && ++mismatches <= 10)
            ADD_FAILURE() << "element " << at << ": \"" << text << "\", not " << want(values[at]);
    }
    EXPECT_EQ(mismatches, 0);
}

// Whether `read` has the bits the standard conversion gives for `text`.
template <typename F> bool readsAsStandard(F read, const std::string& text) {
    F value{};
    std::from_chars(text.data() + (text[0] == '+' ? 1 : 0), text.data() + text.size(), value);
    return std::memcmp(&read, &value, sizeof(F)) == 0;
}

} // namespace

TEST(SettingsWriterNumbers, TextsAsTheGeneralFormatterWritesThem) {
    std::mt19937_64 rng(2024);
    using L = std::numeric_limits<double>;
    std::vector<double> d = {-0.0, 5e-7, -5e-7, 4.999999e-7, 1e300, 9.2233720368547758e18};
    d.insert(d.end(), {L::max(), L::denorm_min(), -L::infinity(), L::quiet_NaN()});
    std::vector<float> f = {-0.0f, 0.1f, 1e-7f, 3.4028235e38f, 1e-45f};
    std::vector<int32_t> ints = {INT32_MIN, INT32_MAX};
    std::vector<uint32_t> uints = {0xF, 0x10, 0xFFFFFFFF};
    std::vector<uint64_t> wide = {UINT64_MAX, 10000000000000000000ULL};
    // Any bit pattern; powers of ten where decimals matter; halfway between
    // six-decimal steps and its neighbours; magnitudes across 2^63.
    for (int i = 0; i < 40000; ++i) {
        const uint64_t bits = rng(), r = bits >> (rng() % 64);
        const double x = (static_cast<double>(bits % 100000000) + 0.5) / 1e6;
        const double mantissa = static_cast<double>((bits >> 11) | (1ULL << 52));
        d.insert(d.end(),
                 {std::bit_cast<double>(bits), (bits & 1 ? -1 : 1) * std::pow(10.0, x / 5 - 8), x,
                  std::nextafter(x, 0.0), std::nextafter(x, 1e9),
                  std::ldexp(mantissa, 9 + static_cast<int>(bits % 3)),
                  static_cast<double>(static_cast<int64_t>(r))});
        f.insert(f.end(),
                 {std::bit_cast<float>(static_cast<uint32_t>(bits)), float(x * 20 - 1000)});
        ints.push_back(static_cast<int32_t>(static_cast<uint32_t>(r)));
        uints.push_back(static_cast<uint32_t>(r));
        wide.push_back(r);
    }
    // Exact ties at the seventh decimal and their neighbours.
    for (int shift = 7; shift <= 20; ++shift) {
        for (int k = 1; k < 400; k += 2) {
            const double tie = std::ldexp(static_cast<double>(k), -shift);
            d.insert(d.end(), {tie, -tie, std::nextafter(tie, 0.0), std::nextafter(tie, 1.0)});
        }
    }
    expectTexts(Settings::kTypeDouble, d, fixedTrimmed);
    expectTexts(Settings::kTypeFloat, f, [](float v) { return fixedTrimmed(v); });
    expectTexts(Settings::kTypeInt, ints, [](int32_t v) { return fmt::format("{:d}", v); });
    expectTexts(Settings::kTypeUInt, uints, [](uint32_t v) { return fmt::format("0x{:x}", v); });
    expectTexts(Settings::kTypeUInt64, wide, [](uint64_t v) { return fmt::format("{:d}", v); });
}

TEST(SettingsReaderFastPaths, DecimalsReadAsTheStandardConversionReadsThem) {
    std::vector<std::string> texts;
    std::istringstream fixed("0 -0.0 +2.5 0.3 16777217 16777215.5 9007199254740993 0.000001 "
                             "1e3 12.5e-2 00012.500 340282350000000000000000000000000000000.0 "
                             "1.0000000000000000000001 123456789012345678 0.30000000000000004");
    for (std::string text; fixed >> text;)
        texts.push_back(text);
    std::mt19937_64 rng(12345);
    for (int i = 0; i < 20000; ++i) { // digits, a point, more digits: every length
        std::string text = rng() % 3 == 0 ? "-" : "";
        for (int d = static_cast<int>(rng() % 12); d >= 0; --d)
            text += static_cast<char>('0' + rng() % 10);
        if (rng() % 4 != 0)
            text += '.';
        for (int d = text.back() == '.' ? static_cast<int>(rng() % 14) : -1; d >= 0; --d)
            text += static_cast<char>('0' + rng() % 10);
        texts.push_back(text);
    }
    std::string script = "<R>\n";
    for (std::size_t i = 0; i < texts.size(); ++i)
        script += fmt::format("<f{0}: {1}, float>\n<d{0}: {1}, double>\n", i, texts[i]);
    Settings doc;
    ASSERT_TRUE(vxtest::parseText(doc, script + "</R>\n"));
    for (std::size_t i = 0; i < texts.size(); ++i) {
        float f = -1;
        double d = -1;
        ASSERT_TRUE(doc.readValue("/R", ("f" + std::to_string(i)).c_str(), &f) &&
                    doc.readValue("/R", ("d" + std::to_string(i)).c_str(), &d) &&
                    readsAsStandard(f, texts[i]) && readsAsStandard(d, texts[i]))
            << texts[i];
    }
}

TEST(SettingsReaderFastPaths, SeparatorsTagEndsAndValueOrder) {
    // Each comma, quote, ":" and ">" falls at every position of a 16-byte
    // block, with commas inside the quotes that must not end an element.
    for (std::size_t pad = 0; pad <= 40; ++pad) {
        SCOPED_TRACE(pad);
        const std::string x(pad, 'x'), gap(pad, ' '), g(pad + 1, 'g'), quoted = x + ", " + x;
        const std::string spec = "/" + x + "R", name = "s" + x;
        Settings doc, stray;
        ASSERT_TRUE(vxtest::parseText(
            doc, fmt::format("{4}<{0}R>{4}<{1}[2]: \"{2}\", \"{0}\", "
                             "string>\n\t<n[2]: {3}7, {4}-3, "
                             "int>{4}<{5}>{4}<v{5}: 5, int>{4}</{5}>{4}</{0}R>{4}",
                             x, name, quoted, std::string(pad, '0'), gap, g)));
        const int size = doc.getValueSizeBytes(spec.c_str(), name.c_str());
        EXPECT_EQ(std::string(static_cast<const char*>(doc.getValueBuf(spec.c_str(), name.c_str())),
                              std::max(size, 0)),
                  quoted + '\0' + x + '\0' + '\0');
        int n[2] = {};
        EXPECT_TRUE(doc.readValue(spec.c_str(), "n", n) && n[0] == 7 && n[1] == -3);
        EXPECT_TRUE(doc.valueExists((spec + "/" + g).c_str(), ("v" + g).c_str()));
        // A ">" before the next "<" ends the group's items there.
        ASSERT_TRUE(vxtest::parseText(stray, "<R>\n<a: 1, int>\n" + gap + "> <b: 2, int>\n</R>\n"));
        EXPECT_TRUE(stray.valueExists("/R", "a") && !stray.valueExists("/R", "b"));
    }
    // The text ends at every offset within a tag: the searches stop at the end.
    const std::string full =
        "<R>\n\t<Gains[3]: 1.0, 0.5, 0.25, float>\n\t<Name: \"Main\", string>\n";
    for (std::size_t cut = 1; cut <= full.size(); ++cut) {
        Settings doc;
        EXPECT_TRUE(!vxtest::parseText(doc, full.substr(0, cut)) && !doc.getHeadGroup()) << cut;
    }
    // The reader remembers the value it appended last; releases and edits in
    // between must never let it append to a list that is gone.
    Settings doc;
    std::vector<std::string> names;
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(
            vxtest::parseText(doc, "<R><A><x: 1, int><y: 2, int></A><B><z: 3, int></B></R>") &&
            doc.addValue("/R/A", "w"));
        ASSERT_TRUE(doc.listValSubkeys("/R/A", names) && doc.listValSubkeys("/R/B", names));
        doc.releaseMemory();
    }
    ASSERT_TRUE(doc.addHeadGroup("Top"));
    char text[] = "v: 9, int>", more[] = "u: 8, int>";
    ASSERT_TRUE(doc.parseValue(text, 0, doc.getHeadGroup()) &&
                doc.parseValue(more, 0, doc.getHeadGroup()) && doc.listValSubkeys("/Top", names));
    EXPECT_EQ(fmt::format("{}", fmt::join(names, " ")), "x y w z x y w z x y w z v u");
}
