// The writer's number texts against the general formatter they must equal
// byte for byte: fmt's "{:#f}" with trailing zeros trimmed for floats and
// doubles, "{:d}" for integers, lowercase hexadecimal for "uint".
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

// Writes every value through a stored value of the given type, 49 at a time
// (the most one value holds), and compares each element's text.
template <typename T>
void expectTexts(int type, const std::vector<T>& values,
                 const std::function<std::string(T)>& want) {
    Settings doc;
    ASSERT_TRUE(doc.addHeadGroup("R") && doc.addValue("/R", "v"));
    int mismatches = 0;
    std::string text;
    for (std::size_t start = 0; start < values.size(); start += Settings::kMaxElems) {
        const int count =
            static_cast<int>(std::min<std::size_t>(Settings::kMaxElems, values.size() - start));
        ASSERT_TRUE(doc.storeValue("/R", "v", type, const_cast<T*>(&values[start]), count));
        for (int i = 0; i < count; ++i) {
            doc.composeElemStr(doc.getPropNodeBySpec("/R", "v"), i, text);
            if (text != want(values[start + i]) && ++mismatches <= 10)
                ADD_FAILURE() << "element " << start + i << ": written \"" << text
                              << "\", expected \"" << want(values[start + i]) << "\"";
        }
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

TEST(SettingsWriterNumbers, DoublesAndFloatsAsTheGeneralFormatterWritesThem) {
    std::mt19937_64 rng(2024);
    using L = std::numeric_limits<double>;
    std::vector<double> d;
    for (double x :
         {0.0, -0.0, 1.0, 0.1, 2.5, 5e-7, -5e-7, 4.999999e-7, 0.0078125, 1e-9, -1e-9, 1e300,
          L::max(), L::denorm_min(), -L::infinity(), L::quiet_NaN(), 9.2233720368547758e18})
        d.push_back(x);
    std::uniform_real_distribution<double> exponent(-8.0, 12.0);
    for (int i = 0; i < 40000; ++i) {
        const uint64_t bits = rng(); // any bit pattern: every exponent, NaNs, infinities
        d.push_back(std::bit_cast<double>(bits));
        d.push_back((bits & 1 ? -1 : 1) * std::pow(10.0, exponent(rng))); // where decimals matter
    }
    // Exact ties at the seventh decimal and their neighbours; halfway between
    // six-decimal steps; magnitudes across 2^63 where the whole part no
    // longer fits.
    for (int shift = 7; shift <= 20; ++shift) {
        for (int k = 1; k < 400; k += 2) {
            const double tie = std::ldexp(static_cast<double>(k), -shift);
            d.insert(d.end(), {tie, -tie, std::nextafter(tie, 0.0), std::nextafter(tie, 1.0)});
        }
    }
    for (int n = 0; n < 20000; ++n) {
        const double x = (static_cast<double>(rng() % 100000000) + 0.5) / 1e6;
        d.insert(d.end(), {x, std::nextafter(x, 0.0), std::nextafter(x, 1e9)});
        const double mantissa = static_cast<double>((rng() >> 11) | (1ULL << 52));
        d.push_back(std::ldexp(mantissa, 9 + static_cast<int>(rng() % 3)));
        d.push_back(static_cast<double>(static_cast<int64_t>(rng()) >> (rng() % 64)));
    }
    expectTexts<double>(Settings::kTypeDouble, d, fixedTrimmed);

    std::vector<float> f = {0.0f,  -0.0f,         0.1f,
                            1e-7f, 3.4028235e38f, std::numeric_limits<float>::denorm_min()};
    std::uniform_real_distribution<float> unit(-1000.0f, 1000.0f);
    for (int i = 0; i < 60000; ++i) {
        f.push_back(std::bit_cast<float>(static_cast<uint32_t>(rng())));
        f.push_back(unit(rng));
    }
    expectTexts<float>(Settings::kTypeFloat, f, [](float v) { return fixedTrimmed(v); });
}

TEST(SettingsWriterNumbers, IntegersAndHexAsTheGeneralFormatterWritesThem) {
    std::mt19937_64 rng(5);
    std::vector<int32_t> ints = {0, -1, INT32_MIN, INT32_MAX};
    std::vector<uint32_t> uints = {0, 0xF, 0x10, 0xFFFFFFFF};
    std::vector<uint64_t> wide = {0, UINT64_MAX, 10000000000000000000ULL};
    for (int i = 0; i < 5000; ++i) {
        const uint64_t r = rng() >> (rng() % 64);
        ints.push_back(static_cast<int32_t>(static_cast<uint32_t>(r)));
        uints.push_back(static_cast<uint32_t>(r));
        wide.push_back(r);
    }
    expectTexts<int32_t>(Settings::kTypeInt, ints,
                         [](int32_t v) { return fmt::format("{:d}", v); });
    expectTexts<uint32_t>(Settings::kTypeUInt, uints,
                          [](uint32_t v) { return fmt::format("0x{:x}", v); });
    expectTexts<uint64_t>(Settings::kTypeUInt64, wide,
                          [](uint64_t v) { return fmt::format("{:d}", v); });
}

// The reader's shortcuts: decimals read without the general conversion,
// separators found a block at a time, and the value list's remembered tail.

TEST(SettingsReaderFastPaths, DecimalsReadAsTheStandardConversionReadsThem) {
    // Texts of every shape the shortcut takes or must refuse: short and long
    // digit strings, many fraction digits, leading zeros, signs, exponents.
    std::vector<std::string> texts;
    std::istringstream fixed("0 -0 0.0 -0.0 1 +2.5 0.1 0.3 16777216 16777217 16777215.5 "
                             "9007199254740992 "
                             "9007199254740993 0.000001 1e3 12.5e-2 00012.500 3.4028235 "
                             "340282350000000000000000000000000000000.0 1.0000000000000000000001 "
                             "123456789012345678 "
                             "0.30000000000000004 4.35 8.875 0.00000000001 -123456.7890123");
    for (std::string text; fixed >> text;)
        texts.push_back(text);
    std::mt19937_64 rng(12345);
    for (int i = 0; i < 20000; ++i) {
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
        script += "<f" + std::to_string(i) + ": " + texts[i] + ", float>\n<d" + std::to_string(i) +
                  ": " + texts[i] + ", double>\n";
    Settings doc;
    ASSERT_TRUE(vxtest::parseText(doc, script + "</R>\n"));
    for (std::size_t i = 0; i < texts.size(); ++i) {
        float f = -1;
        double d = -1;
        ASSERT_TRUE(doc.readValue("/R", ("f" + std::to_string(i)).c_str(), &f)) << texts[i];
        ASSERT_TRUE(doc.readValue("/R", ("d" + std::to_string(i)).c_str(), &d)) << texts[i];
        ASSERT_TRUE(readsAsStandard(f, texts[i])) << texts[i] << " read as float " << f;
        ASSERT_TRUE(readsAsStandard(d, texts[i])) << texts[i] << " read as double " << d;
    }
}

TEST(SettingsReaderFastPaths, SeparatorsAndTagEndsAtEveryOffsetOfABlock) {
    // Texts, quoted strings, gaps and names of every length from 0 to 40, so
    // that each comma, quote, ":" and ">" falls at every position of a 16-byte
    // block, with commas inside the quotes that must not end an element.
    for (std::size_t pad = 0; pad <= 40; ++pad) {
        SCOPED_TRACE(pad);
        const std::string x(pad, 'x'), gap(pad, ' '), group(pad + 1, 'g');
        const std::string quoted = x + ", " + x, spec = "/" + x + "R", name = "s" + x;
        Settings doc;
        ASSERT_TRUE(vxtest::parseText(doc, "<" + x + "R>\n\t<" + name + "[2]: \"" + quoted +
                                               "\", \"" + x +
                                               "\", string>\n\t<n[2]: " + std::string(pad, '0') +
                                               "7, " + gap + "-3, int>\n</" + x + "R>\n"));
        ASSERT_EQ(doc.getValueSizeBytes(spec.c_str(), name.c_str()),
                  static_cast<int>(quoted.size() + pad + 3));
        EXPECT_EQ(std::string(static_cast<const char*>(doc.getValueBuf(spec.c_str(), name.c_str())),
                              quoted.size() + pad + 3),
                  quoted + '\0' + x + '\0' + '\0');
        int n[2] = {};
        ASSERT_TRUE(doc.readValue(spec.c_str(), "n", n));
        EXPECT_EQ(n[0] * 10 + n[1], 67);

        // Values and groups after gaps of every length; a ":" late in a long tag.
        Settings tags;
        ASSERT_TRUE(vxtest::parseText(tags, gap + "<R>" + gap + "<" + group + ">" + gap + "<v" +
                                                group + ": 5, int>" + gap + "</" + group + ">" +
                                                gap + "</R>" + gap));
        EXPECT_TRUE(tags.valueExists(("/R/" + group).c_str(), ("v" + group).c_str()));

        // A ">" before the next "<" ends the group's items there.
        Settings stray;
        ASSERT_TRUE(vxtest::parseText(stray, "<R>\n<a: 1, int>\n" + gap + "> <b: 2, int>\n</R>\n"));
        EXPECT_TRUE(stray.valueExists("/R", "a"));
        EXPECT_FALSE(stray.valueExists("/R", "b"));
    }
    // The text ends at every offset within a tag: the searches stop at the end.
    const std::string full =
        "<R>\n\t<Gains[3]: 1.0, 0.5, 0.25, float>\n\t<Name: \"Main\", string>\n";
    for (std::size_t cut = 1; cut <= full.size(); ++cut) {
        Settings doc;
        EXPECT_FALSE(vxtest::parseText(doc, full.substr(0, cut))) << "cut " << cut;
        EXPECT_EQ(doc.getHeadGroup(), nullptr);
    }
}

TEST(SettingsReaderFastPaths, ValuesKeepTheirOrderAcrossReloadsAndEdits) {
    // The reader remembers the value it appended last; releases and edits in
    // between must never let it append to a list that is gone.
    Settings doc;
    std::vector<std::string> names;
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(vxtest::parseText(doc, "<R>\n<A>\n<x: 1, int>\n<y: 2, "
                                           "int>\n</A>\n<B>\n<z: 3, int>\n</B>\n</R>\n"));
        ASSERT_TRUE(doc.addValue("/R/A", "w"));
        names.clear();
        ASSERT_TRUE(doc.listValSubkeys("/R/A", names) && doc.listValSubkeys("/R/B", names));
        EXPECT_EQ(names, (std::vector<std::string>{"x", "y", "w", "z"}));
        doc.releaseMemory();
    }
    ASSERT_TRUE(doc.addHeadGroup("Top"));
    char text[] = "v: 9, int>", more[] = "u: 8, int>";
    ASSERT_TRUE(doc.parseValue(text, 0, doc.getHeadGroup()));
    ASSERT_TRUE(doc.parseValue(more, 0, doc.getHeadGroup()));
    names.clear();
    ASSERT_TRUE(doc.listValSubkeys("/Top", names));
    EXPECT_EQ(names, (std::vector<std::string>{"v", "u"}));
}
