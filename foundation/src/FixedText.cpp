#include "FixedText.h"

#include "NSVextra/StringUtils.h"

#include <cstdint>
#include <cstring>

#include <fmt/format.h>

namespace NSVextra {

namespace {

constexpr uint64_t kScale = 1000000; // six decimals

// The compilers this builds with have 128-bit integers; the marker keeps the
// pedantic warnings about the extension quiet.
__extension__ typedef unsigned __int128 Wide;

// The general formatter, for what the exact integer path does not cover
// (infinities, NaNs, magnitudes of 2^63 and more).
void appendGeneral(double value, std::string& out) {
    fmt::memory_buffer text;
    fmt::format_to(std::back_inserter(text), "{:#f}", value);
    std::string piece(text.data(), text.size());
    trimZeros(piece);
    out += piece;
}

} // namespace

void appendFixedTrimmed(double value, std::string& out) {
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    const bool negative = (bits >> 63) != 0;
    const int biased = static_cast<int>((bits >> 52) & 0x7FF);
    uint64_t mantissa = bits & ((1ULL << 52) - 1);
    if (biased == 0x7FF) {
        appendGeneral(value, out);
        return;
    }
    int exponent = -1074; // value = mantissa * 2^exponent
    if (biased != 0) {
        mantissa |= 1ULL << 52;
        exponent = biased - 1075;
    }

    // scaled = value * 10^6, rounded to the nearest integer, ties to even,
    // computed exactly: mantissa * 10^6 needs at most 73 bits.
    Wide scaled = 0;
    if (exponent >= 0) {
        if (exponent > 10) { // 2^53 * 2^10 = 2^63: beyond the integer path
            appendGeneral(value, out);
            return;
        }
        scaled = static_cast<Wide>(mantissa << exponent) * kScale;
    } else {
        const int shift = -exponent;
        const Wide product = static_cast<Wide>(mantissa) * kScale;
        // Below 2^73 / 2^75 = 1/4 the result rounds to zero.
        if (shift < 75) {
            Wide quotient = product >> shift;
            const Wide rest = product - (quotient << shift);
            const Wide half = static_cast<Wide>(1) << (shift - 1);
            if (rest > half || (rest == half && (quotient & 1) != 0)) {
                ++quotient;
            }
            scaled = quotient;
        }
    }

    const uint64_t whole = static_cast<uint64_t>(scaled / kScale);
    auto fraction = static_cast<uint32_t>(static_cast<uint64_t>(scaled % kScale));
    if (negative) {
        out += '-';
    }
    const fmt::format_int digits(whole);
    out.append(digits.data(), digits.size());
    // Six digits, then the trailing zeros dropped, keeping at least one.
    char text[8];
    text[0] = '.';
    for (int i = 6; i >= 1; --i) {
        text[i] = static_cast<char>('0' + fraction % 10);
        fraction /= 10;
    }
    int length = 7;
    while (length > 2 && text[length - 1] == '0') {
        --length;
    }
    out.append(text, static_cast<size_t>(length));
}

} // namespace NSVextra
