// The writer's number texts against the general formatter they must equal
// byte for byte: fmt's "{:#f}" with trailing zeros trimmed for floats and
// doubles, "{:d}" for integers, lowercase hexadecimal for "uint".
#include "support.h"

#include "NSVextra/StringUtils.h"

#include <fmt/format.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

using NSVextra::Settings;

namespace {

std::string referenceFixed(double v) {
    std::string text = fmt::format("{:#f}", v);
    NSVextra::trimZeros(text);
    return text;
}

template <typename T> T fromBits(uint64_t bits) {
    T value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// Writes every value through a stored value of the given type, 49 at a time
// (the most one value holds), and compares each element's text.
template <typename T>
void expectTexts(int type, const std::vector<T>& values, std::string (*reference)(T),
                 const char* what) {
    Settings doc;
    ASSERT_TRUE(doc.addHeadGroup("Root"));
    ASSERT_TRUE(doc.addValue("/Root", "v"));
    int mismatches = 0;
    for (std::size_t start = 0; start < values.size(); start += Settings::kMaxElems) {
        const std::size_t count = std::min<std::size_t>(Settings::kMaxElems, values.size() - start);
        std::vector<T> chunk(values.begin() + static_cast<std::ptrdiff_t>(start),
                             values.begin() + static_cast<std::ptrdiff_t>(start + count));
        ASSERT_TRUE(doc.storeValue("/Root", "v", type, chunk.data(), static_cast<int>(count)));
        Settings::PropNode* node = doc.getPropNodeBySpec("/Root", "v");
        ASSERT_NE(node, nullptr);
        std::string text;
        for (std::size_t i = 0; i < count; ++i) {
            doc.composeElemStr(node, static_cast<int>(i), text);
            const std::string expected = reference(chunk[i]);
            if (text != expected && ++mismatches <= 10) {
                ADD_FAILURE() << what << " element " << start + i << ": written \"" << text
                              << "\", expected \"" << expected << "\"";
            }
        }
    }
    EXPECT_EQ(mismatches, 0) << what;
}

std::string referenceDouble(double v) {
    return referenceFixed(v);
}
std::string referenceFloat(float v) {
    return referenceFixed(static_cast<double>(v));
}

std::vector<double> doubleValues() {
    std::mt19937_64 rng(2024);
    using L = std::numeric_limits<double>;
    std::vector<double> v = {0.0,       -0.0,      1.0,  2.0,   -2.0,  0.1,
                             0.5,       1.5,       2.5,  5e-7,  -5e-7, 4.999999e-7,
                             0.0078125, 0.0234375, 1e-9, -1e-9, 1e300, -1e300};
    for (double x : {9.2233720368547748e18, 9.2233720368547758e18, 9.2233720368547779e18, L::max(),
                     L::min(), L::denorm_min(), -L::denorm_min(), L::infinity(), -L::infinity(),
                     L::quiet_NaN(), -L::quiet_NaN()})
        v.push_back(x);
    // Any bit pattern: every exponent, subnormals, NaNs and infinities.
    for (int i = 0; i < 40000; ++i)
        v.push_back(fromBits<double>(rng()));
    // Magnitudes where the six decimals matter: 1e-8 to 1e12.
    std::uniform_real_distribution<double> exponent(-8.0, 12.0);
    for (int i = 0; i < 40000; ++i) {
        const double x = std::pow(10.0, exponent(rng));
        v.push_back((rng() & 1) != 0 ? -x : x);
    }
    // Exact ties at the seventh decimal (k / 2^7 ... k / 2^20) and their
    // neighbours one unit in the last place away.
    for (int shift = 7; shift <= 20; ++shift) {
        for (int k = 1; k < 400; k += 2) {
            const double tie = std::ldexp(static_cast<double>(k), -shift);
            v.push_back(tie);
            v.push_back(-tie);
            v.push_back(std::nextafter(tie, 0.0));
            v.push_back(std::nextafter(tie, 1.0));
        }
    }
    // Halfway between six-decimal steps, as near as a double gets.
    for (int n = 0; n < 20000; ++n) {
        const double x = (static_cast<double>(rng() % 100000000) + 0.5) / 1e6;
        v.push_back(x);
        v.push_back(std::nextafter(x, 0.0));
        v.push_back(std::nextafter(x, 1e9));
    }
    // Integers of every size, and magnitudes from 2^61 to 2^64, across the
    // point where the whole part no longer fits 63 bits.
    for (int i = 0; i < 2000; ++i) {
        v.push_back(static_cast<double>(static_cast<int64_t>(rng()) >> (rng() % 64)));
        const double mantissa = static_cast<double>((rng() >> 11) | (1ULL << 52));
        v.push_back(std::ldexp(mantissa, 9 + static_cast<int>(rng() % 3)));
    }
    return v;
}

std::vector<float> floatValues() {
    std::mt19937 rng(99);
    using L = std::numeric_limits<float>;
    std::vector<float> v = {0.0f,          -0.0f,         2.0f,          0.25f,
                            0.1f,          1e-7f,         3.4028235e38f, L::denorm_min(),
                            L::infinity(), L::quiet_NaN()};
    for (int i = 0; i < 60000; ++i) {
        uint32_t bits = rng();
        float f;
        std::memcpy(&f, &bits, sizeof f);
        v.push_back(f);
    }
    std::uniform_real_distribution<float> unit(-1000.0f, 1000.0f);
    for (int i = 0; i < 40000; ++i)
        v.push_back(unit(rng));
    return v;
}

} // namespace

TEST(SettingsWriterNumbers, DoublesAsTheGeneralFormatterWritesThem) {
    expectTexts<double>(Settings::kTypeDouble, doubleValues(), referenceDouble, "double");
}

TEST(SettingsWriterNumbers, FloatsAsTheGeneralFormatterWritesThem) {
    expectTexts<float>(Settings::kTypeFloat, floatValues(), referenceFloat, "float");
}

TEST(SettingsWriterNumbers, IntegersAndHexAsTheGeneralFormatterWritesThem) {
    std::mt19937_64 rng(5);
    std::vector<int32_t> ints = {0, 1, -1, std::numeric_limits<int32_t>::min(),
                                 std::numeric_limits<int32_t>::max()};
    std::vector<uint32_t> uints = {0, 1, 0xF, 0x10, 0xDEADBEEF, 0xFFFFFFFF};
    std::vector<uint64_t> wide = {0, 1, std::numeric_limits<uint64_t>::max(),
                                  10000000000000000000ULL};
    for (int i = 0; i < 5000; ++i) {
        const uint64_t r = rng() >> (rng() % 64);
        ints.push_back(static_cast<int32_t>(static_cast<uint32_t>(r)));
        uints.push_back(static_cast<uint32_t>(r));
        wide.push_back(r);
    }
    expectTexts<int32_t>(
        Settings::kTypeInt, ints, [](int32_t v) { return fmt::format("{:d}", v); }, "int");
    expectTexts<uint32_t>(
        Settings::kTypeUInt, uints, [](uint32_t v) { return fmt::format("0x{:x}", v); }, "uint");
    expectTexts<uint64_t>(
        Settings::kTypeUInt64, wide, [](uint64_t v) { return fmt::format("{:d}", v); }, "uint64");
}
