// The text forms of property-list values: base64 data, dates, and character
// data with its escapes and references.
#include "cf/cf_plist_xml.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include <fmt/format.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

namespace vxplatform::plist {

namespace {

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar, and
// back; exact for every year the format carries.
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0);
}

unsigned daysInMonth(int64_t year, unsigned month) {
    static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// Exactly `width` ASCII digits at `text[at]`, moving `at` past them.
bool digits(std::string_view text, size_t& at, size_t width, unsigned& value) {
    if (at + width > text.size()) {
        return false;
    }
    value = 0;
    for (size_t k = 0; k < width; ++k) {
        const char c = text[at + k];
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    at += width;
    return true;
}

std::string codePoint(char32_t c) {
    return fmt::format("U+{:04X}", static_cast<uint32_t>(c));
}

} // namespace

std::string base64Encode(const UInt8* bytes, CFIndex length) {
    std::string out;
    out.reserve(static_cast<size_t>((length + 2) / 3 * 4));
    for (CFIndex k = 0; k < length; k += 3) {
        const uint32_t b0 = bytes[k];
        const uint32_t b1 = k + 1 < length ? bytes[k + 1] : 0;
        const uint32_t b2 = k + 2 < length ? bytes[k + 2] : 0;
        const uint32_t triple = (b0 << 16) | (b1 << 8) | b2;
        out += kBase64[(triple >> 18) & 63];
        out += kBase64[(triple >> 12) & 63];
        out += k + 1 < length ? kBase64[(triple >> 6) & 63] : '=';
        out += k + 2 < length ? kBase64[triple & 63] : '=';
    }
    return out;
}

bool base64Decode(std::string_view text, std::vector<UInt8>& out) {
    uint32_t accumulator = 0;
    int bits = 0;
    int padding = 0;
    size_t symbols = 0;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            continue;
        }
        ++symbols;
        if (c == '=') {
            ++padding;
            continue;
        }
        const char* found = c != '\0' ? std::strchr(kBase64, c) : nullptr;
        if (found == nullptr || padding > 0) {
            return false;
        }
        accumulator = (accumulator << 6) | static_cast<uint32_t>(found - kBase64);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<UInt8>((accumulator >> bits) & 0xFF));
        }
    }
    // Whole groups of four; leftover bits must be the zero fill of the last one.
    return symbols % 4 == 0 && padding <= 2 && bits < 6 && (accumulator & ((1u << bits) - 1)) == 0;
}

std::optional<std::string> dateText(CFAbsoluteTime at) {
    if (!std::isfinite(at)) {
        return std::nullopt;
    }
    const double unixTime = std::floor(at + kCFAbsoluteTimeIntervalSince1970);
    // Years 1 to 9999 lie well inside this; it keeps the conversion exact.
    if (std::fabs(unixTime) > 4e11) {
        return std::nullopt;
    }
    const auto seconds = static_cast<int64_t>(unixTime);
    const int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
    const int64_t inDay = seconds - days * 86400;
    int64_t year = 0;
    unsigned month = 0, day = 0;
    civilFromDays(days, year, month, day);
    if (year < 1 || year > 9999) {
        return std::nullopt;
    }
    return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}Z", year, month, day, inDay / 3600,
                       inDay / 60 % 60, inDay % 60);
}

std::optional<CFAbsoluteTime> parseDate(std::string_view text) {
    size_t at = 0;
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!digits(text, at, 4, year) || at >= text.size() || text[at++] != '-' ||
        !digits(text, at, 2, month) || at >= text.size() || text[at++] != '-' ||
        !digits(text, at, 2, day)) {
        return std::nullopt;
    }
    // Hours, minutes and seconds may be left off from the right.
    if (at < text.size() && text[at] == 'T') {
        ++at;
        if (!digits(text, at, 2, hour)) {
            return std::nullopt;
        }
        if (at < text.size() && text[at] == ':') {
            ++at;
            if (!digits(text, at, 2, minute)) {
                return std::nullopt;
            }
            if (at < text.size() && text[at] == ':') {
                ++at;
                if (!digits(text, at, 2, second)) {
                    return std::nullopt;
                }
            }
        }
    }
    if (at + 1 != text.size() || text[at] != 'Z' || year < 1 || month < 1 || month > 12 ||
        day < 1 || day > daysInMonth(year, month) || hour > 23 || minute > 59 || second > 59) {
        return std::nullopt;
    }
    const int64_t seconds =
        daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    return static_cast<double>(seconds) - kCFAbsoluteTimeIntervalSince1970;
}

bool isXMLChar(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

bool isXMLName(std::string_view name) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(name.data());
    const auto length = static_cast<int32_t>(name.size());
    for (int32_t k = 0; k < length;) {
        const bool first = k == 0;
        UChar32 c = 0;
        U8_NEXT(bytes, k, length, c);
        const bool start =
            c == ':' || c == '_' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
            (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
            (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) || c == 0x200C ||
            c == 0x200D || (c >= 0x2070 && c <= 0x218F) || (c >= 0x2C00 && c <= 0x2FEF) ||
            (c >= 0x3001 && c <= 0xD7FF) || (c >= 0xF900 && c <= 0xFDCF) ||
            (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
        const bool inner = c == '-' || c == '.' || (c >= '0' && c <= '9') || c == 0xB7 ||
                           (c >= 0x300 && c <= 0x36F) || c == 0x203F || c == 0x2040;
        if (!start && (first || !inner)) {
            return false;
        }
    }
    return length > 0;
}

bool escapeText(std::u16string_view text, std::string& out, std::string& problem) {
    for (size_t k = 0; k < text.size();) {
        UChar32 c = 0;
        const size_t start = k;
        U16_NEXT(text.data(), k, text.size(), c);
        if (U_IS_SURROGATE(c)) {
            problem = fmt::format("a lone surrogate {} at position {}, which UTF-8 cannot carry",
                                  codePoint(static_cast<char32_t>(c)), start);
            return false;
        }
        if (!isXMLChar(static_cast<char32_t>(c))) {
            problem = fmt::format("{} at position {}, a character XML 1.0 does not allow",
                                  codePoint(static_cast<char32_t>(c)), start);
            return false;
        }
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '\r':
            out += "&#13;"; // survives the reader's line-end normalisation
            break;
        default: {
            char buffer[4];
            size_t length = 0;
            U8_APPEND_UNSAFE(buffer, length, c);
            out.append(buffer, length);
        }
        }
    }
    return true;
}

bool decodeReferences(std::string_view raw, std::string& out, std::string& problem, size_t& at,
                      bool attribute) {
    static const std::pair<std::string_view, char> kEntities[] = {
        {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"apos", '\''}, {"quot", '"'}};
    for (size_t k = 0; k < raw.size(); ++k) {
        if (raw[k] == ']' && !attribute && raw.substr(k, 3) == "]]>") {
            at = k;
            problem = "\"]]>\" in text (write \"]]&gt;\")";
            return false;
        }
        if (raw[k] != '&') {
            out += raw[k];
            continue;
        }
        const size_t end = raw.find(';', k);
        const std::string_view name =
            raw.substr(k + 1, end == std::string_view::npos ? 0 : end - k - 1);
        at = k;
        if (end == std::string_view::npos || name.empty() ||
            name.find_first_of(" \t\r\n&<") != std::string_view::npos) {
            problem = "a bare \"&\" (write \"&amp;\")";
            return false;
        }
        if (name[0] == '#') {
            const bool hex = name.size() > 1 && name[1] == 'x';
            const std::string_view number = name.substr(hex ? 2 : 1);
            uint32_t value = 0;
            const auto result =
                std::from_chars(number.data(), number.data() + number.size(), value, hex ? 16 : 10);
            if (number.empty() || result.ec != std::errc() ||
                result.ptr != number.data() + number.size() || !isXMLChar(value)) {
                problem = fmt::format("the character reference \"&{};\" names no character XML "
                                      "allows",
                                      name);
                return false;
            }
            char buffer[4];
            size_t length = 0;
            U8_APPEND_UNSAFE(buffer, length, static_cast<UChar32>(value));
            out.append(buffer, length);
        } else {
            bool known = false;
            for (const auto& [entity, replacement] : kEntities) {
                if (name == entity) {
                    out += replacement;
                    known = true;
                }
            }
            if (!known) {
                problem = fmt::format("an undefined entity \"&{};\"", name);
                return false;
            }
        }
        k = end;
    }
    return true;
}

} // namespace vxplatform::plist
