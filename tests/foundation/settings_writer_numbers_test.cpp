// The writer's number texts against the general formatter they must equal
// byte for byte: fmt's "{:#f}" with trailing zeros trimmed for floats and
// doubles, "{:d}" for integers, lowercase hexadecimal for "uint".
#include "support.h"

#include "NSVextra/StringUtils.h"

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
