// Settings document: the value texts of the script reader, numbers read
// exactly as the writer wrote them and strings checked for what the script
// cannot carry.
#include "SettingsValueParser.h"

#include "NSVextra/Settings.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace NSVextra::detail {

namespace {

// Element text without the white space that may stand before its comma
// (the writer breaks long values after an element).
void trimRight(const char*& end, const char* begin) {
    while (end > begin && isBlank(end[-1])) {
        --end;
    }
}

// An out-of-range text is an underflow (not an overflow) when its magnitude
// is below one: no non-zero digit before the point, or a negative exponent.
bool isUnderflowText(const char* begin, const char* end) {
    const char* e = begin;
    while (e < end && *e != 'e' && *e != 'E') {
        ++e;
    }
    if (e + 1 < end && e[1] == '-') {
        return true;
    }
    const char* p = begin;
    if (p < end && (*p == '-' || *p == '+')) {
        ++p;
    }
    for (; p < e && *p != '.'; ++p) {
        if (*p != '0') {
            return false;
        }
    }
    return true;
}

// Short plain decimals ("-12.375"), the bulk of what the writer writes, read
// without the general conversion: when the digits form an integer that the
// type holds exactly and the power of ten is exact too, one division gives
// the correctly rounded value, which is what the general conversion gives.
// Anything else (exponents, long digit strings, trailing text) is left to it.
template <typename F> struct DecimalLimits;
template <> struct DecimalLimits<float> {
    static constexpr uint64_t kMaxDigits = 1ULL << 24;
    static constexpr int kMaxScale = 10;
};
template <> struct DecimalLimits<double> {
    static constexpr uint64_t kMaxDigits = 1ULL << 53;
    static constexpr int kMaxScale = 22;
};

template <typename F> bool parsePlainDecimal(const char* begin, const char* end, F& out) {
    static constexpr F kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const char* p = begin;
    const bool negative = p < end && *p == '-';
    if (negative) {
        ++p;
    }
    uint64_t digits = 0;
    int count = 0;
    const char* whole = p;
    for (; p < end && *p >= '0' && *p <= '9'; ++p) {
        digits = digits * 10 + static_cast<uint64_t>(*p - '0');
        if (++count > 18) {
            return false;
        }
    }
    if (p == whole) {
        return false;
    }
    int scale = 0;
    if (p < end && *p == '.') {
        const char* fraction = ++p;
        for (; p < end && *p >= '0' && *p <= '9'; ++p) {
            digits = digits * 10 + static_cast<uint64_t>(*p - '0');
            if (++count > 18) {
                return false;
            }
        }
        scale = static_cast<int>(p - fraction);
        if (scale == 0) {
            return false;
        }
    }
    if (p != end || digits > DecimalLimits<F>::kMaxDigits || scale > DecimalLimits<F>::kMaxScale) {
        return false;
    }
    const F value = static_cast<F>(digits) / kPow10[scale];
    out = negative ? -value : value;
    return true;
}

// Numbers are read from the start of their text, as the standard
// conversions read them: what follows the number is ignored, while a text
// that does not start with a number, or one out of range, fails.
template <typename F> bool parseFloating(const char* begin, const char* end, F& out) {
    if (begin < end && *begin == '+') {
        ++begin;
    }
    if (parsePlainDecimal(begin, end, out)) {
        return true;
    }
    // from_chars, unlike strtod, does not depend on the host's locale.
    const auto r = std::from_chars(begin, end, out);
    if (r.ptr == begin) {
        return false;
    }
    end = r.ptr;
    if (r.ec == std::errc::result_out_of_range) {
        if (!isUnderflowText(begin, end)) {
            return false;
        }
        double wide = 0.0;
        const auto w = std::from_chars(begin, end, wide);
        if (w.ec == std::errc() && w.ptr == end) {
            out = static_cast<F>(wide);
        } else {
            out = (*begin == '-') ? static_cast<F>(-0.0) : static_cast<F>(0.0);
        }
        return true;
    }
    return r.ec == std::errc();
}

} // namespace

// Converts one element text into its slot of the value's block.
bool convertElement(int type, const char* begin, const char* end, unsigned char* slot) {
    trimRight(end, begin);
    switch (type) {
    case Settings::kTypeInt: {
        int32_t v = 0;
        if (!parseInteger(begin, end, 10, v, false)) {
            return false;
        }
        std::memcpy(slot, &v, sizeof v);
        return true;
    }
    case Settings::kTypeUInt: {
        if (end - begin >= 2 && begin[0] == '0' && (begin[1] == 'x' || begin[1] == 'X')) {
            begin += 2;
        }
        uint32_t v = 0;
        if (begin < end && (*begin == '+' || *begin == '-')) {
            return false;
        }
        if (!parseInteger(begin, end, 16, v, false)) {
            return false;
        }
        std::memcpy(slot, &v, sizeof v);
        return true;
    }
    case Settings::kTypeUInt64: {
        uint64_t v = 0;
        if (!parseInteger(begin, end, 10, v, false)) {
            return false;
        }
        std::memcpy(slot, &v, sizeof v);
        return true;
    }
    case Settings::kTypeFloat: {
        float v = 0;
        if (!parseFloating(begin, end, v)) {
            return false;
        }
        std::memcpy(slot, &v, sizeof v);
        return true;
    }
    case Settings::kTypeDouble: {
        double v = 0;
        if (!parseFloating(begin, end, v)) {
            return false;
        }
        std::memcpy(slot, &v, sizeof v);
        return true;
    }
    default:
        return false;
    }
}

// The string inside an element text: the text between its quotes, or the
// bare text when it is not quoted (as when an unknown type name turns a
// number into a string). Quotes inside, "<" and ">" are refused. Narrows
// [begin, end) to the string itself.
bool stringElement(const char*& begin, const char*& end) {
    trimRight(end, begin);
    if (begin < end && *begin == '"') {
        if (end - begin < 2 || end[-1] != '"') {
            return false;
        }
        ++begin;
        --end;
    }
    for (const char* p = begin; p < end; ++p) {
        if (*p == '"' || *p == '<' || *p == '>' || *p == '\0') {
            return false;
        }
    }
    return true;
}

// The type code of a type name given as a range (which holds no zero byte):
// exact matches only, anything else is a string.
int dataTypeOf(const char* begin, const char* end) {
    // Lengths of the names of the codes 0 to 4 ("int" ... "double").
    static constexpr size_t kNameLength[] = {3, 4, 6, 5, 6};
    const size_t length = static_cast<size_t>(end - begin);
    for (int code = Settings::kTypeInt; code < Settings::kTypeString; ++code) {
        if (kNameLength[code] == length &&
            std::memcmp(Settings::m_arDataTypeString[code], begin, length) == 0) {
            return code;
        }
    }
    return Settings::kTypeString;
}

} // namespace NSVextra::detail
