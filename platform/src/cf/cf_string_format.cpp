// printf-style formatting for CFStringCreateWithFormat: each conversion is
// handed to the C library, except "%@" (a CF object's description) and the
// UTF-16 forms "%S" and "%C".
#include "cf/cf_string.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace vxplatform {

namespace {

enum class Length { kNone, kHH, kH, kL, kLL, kBigL, kZ, kT, kJ };

template <class T> void appendPrintf(std::string& out, const std::string& spec, T value) {
    char small[128];
    const int needed = std::snprintf(small, sizeof small, spec.c_str(), value);
    if (needed < 0) {
        return;
    }
    if (static_cast<size_t>(needed) < sizeof small) {
        out.append(small, static_cast<size_t>(needed));
        return;
    }
    std::vector<char> big(static_cast<size_t>(needed) + 1);
    std::snprintf(big.data(), big.size(), spec.c_str(), value);
    out.append(big.data(), static_cast<size_t>(needed));
}

// Pads a piece of already converted text to the field width.
void appendPadded(std::string& out, const std::string& text, int width, bool leftAlign) {
    // Width counts characters, not bytes.
    int chars = 0;
    for (unsigned char c : text) {
        chars += (c & 0xC0) != 0x80 ? 1 : 0;
    }
    const int pad = width > chars ? width - chars : 0;
    if (!leftAlign) {
        out.append(static_cast<size_t>(pad), ' ');
    }
    out += text;
    if (leftAlign) {
        out.append(static_cast<size_t>(pad), ' ');
    }
}

} // namespace

std::string formatString(const std::string& format, va_list arguments) {
    va_list args;
    va_copy(args, arguments);
    std::string out;
    const size_t n = format.size();
    size_t i = 0;
    while (i < n) {
        const char c = format[i];
        if (c != '%') {
            out += c;
            ++i;
            continue;
        }
        const size_t start = i++;
        if (i < n && format[i] == '%') {
            out += '%';
            ++i;
            continue;
        }
        std::string spec = "%";
        bool leftAlign = false;
        while (i < n && std::strchr("-+ #0'", format[i]) != nullptr) {
            leftAlign = leftAlign || format[i] == '-';
            if (format[i] != '\'') {
                spec += format[i];
            }
            ++i;
        }
        int width = -1;
        if (i < n && format[i] == '*') {
            width = va_arg(args, int);
            if (width < 0) {
                leftAlign = true;
                width = -width;
                spec += '-';
            }
            spec += std::to_string(width);
            ++i;
        } else {
            size_t digits = i;
            while (i < n && format[i] >= '0' && format[i] <= '9') {
                ++i;
            }
            if (i > digits) {
                width = std::atoi(format.substr(digits, i - digits).c_str());
                spec += format.substr(digits, i - digits);
            }
        }
        int precision = -1;
        if (i < n && format[i] == '.') {
            ++i;
            if (i < n && format[i] == '*') {
                precision = va_arg(args, int);
                ++i;
            } else {
                size_t digits = i;
                while (i < n && format[i] >= '0' && format[i] <= '9') {
                    ++i;
                }
                precision = std::atoi(format.substr(digits, i - digits).c_str());
            }
            if (precision >= 0) {
                spec += "." + std::to_string(precision);
            }
        }
        Length length = Length::kNone;
        if (i + 1 < n && format[i] == 'h' && format[i + 1] == 'h') {
            length = Length::kHH;
            i += 2;
        } else if (i + 1 < n && format[i] == 'l' && format[i + 1] == 'l') {
            length = Length::kLL;
            i += 2;
        } else if (i < n) {
            switch (format[i]) {
            case 'h':
                length = Length::kH;
                ++i;
                break;
            case 'l':
                length = Length::kL;
                ++i;
                break;
            case 'q':
                length = Length::kLL;
                ++i;
                break;
            case 'L':
                length = Length::kBigL;
                ++i;
                break;
            case 'z':
                length = Length::kZ;
                ++i;
                break;
            case 't':
                length = Length::kT;
                ++i;
                break;
            case 'j':
                length = Length::kJ;
                ++i;
                break;
            default:
                break;
            }
        }
        if (i >= n) {
            out += format.substr(start); // an incomplete conversion stays as text
            break;
        }
        const char conversion = format[i++];
        switch (conversion) {
        case 'd':
        case 'i':
            switch (length) {
            case Length::kLL:
            case Length::kJ:
                appendPrintf(out, spec + "lld", va_arg(args, long long));
                break;
            case Length::kL:
            case Length::kZ:
            case Length::kT:
                appendPrintf(out, spec + "ld", va_arg(args, long));
                break;
            case Length::kHH:
                appendPrintf(out, spec + "d", static_cast<signed char>(va_arg(args, int)));
                break;
            case Length::kH:
                appendPrintf(out, spec + "d", static_cast<short>(va_arg(args, int)));
                break;
            default:
                appendPrintf(out, spec + "d", va_arg(args, int));
                break;
            }
            break;
        case 'u':
        case 'o':
        case 'x':
        case 'X': {
            const std::string tail(1, conversion);
            switch (length) {
            case Length::kLL:
            case Length::kJ:
                appendPrintf(out, spec + "ll" + tail, va_arg(args, unsigned long long));
                break;
            case Length::kL:
            case Length::kZ:
            case Length::kT:
                appendPrintf(out, spec + "l" + tail, va_arg(args, unsigned long));
                break;
            case Length::kHH:
                appendPrintf(out, spec + tail,
                             static_cast<unsigned>(static_cast<unsigned char>(va_arg(args, int))));
                break;
            case Length::kH:
                appendPrintf(out, spec + tail,
                             static_cast<unsigned>(static_cast<unsigned short>(va_arg(args, int))));
                break;
            default:
                appendPrintf(out, spec + tail, va_arg(args, unsigned));
                break;
            }
            break;
        }
        case 'e':
        case 'E':
        case 'f':
        case 'F':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            if (length == Length::kBigL) {
                appendPrintf(out, spec + "L" + conversion, va_arg(args, long double));
            } else {
                appendPrintf(out, spec + conversion, va_arg(args, double));
            }
            break;
        case 'c':
            appendPrintf(out, spec + "c", va_arg(args, int));
            break;
        case 'C': {
            const auto unit = static_cast<char16_t>(va_arg(args, int));
            appendPadded(out, utf16ToUTF8(std::u16string_view(&unit, 1)), width, leftAlign);
            break;
        }
        case 's': {
            const char* text = va_arg(args, const char*);
            appendPrintf(out, spec + "s", text != nullptr ? text : "(null)");
            break;
        }
        case 'S': {
            const auto* text = va_arg(args, const char16_t*);
            std::string converted = "(null)";
            if (text != nullptr) {
                std::u16string_view view(text);
                if (precision >= 0 && static_cast<size_t>(precision) < view.size()) {
                    view = view.substr(0, static_cast<size_t>(precision));
                }
                converted = utf16ToUTF8(view);
            }
            appendPadded(out, converted, width, leftAlign);
            break;
        }
        case 'p':
            appendPrintf(out, spec + "p", va_arg(args, void*));
            break;
        case '@':
            appendPadded(out, formatted(va_arg(args, CFTypeRef)), width, leftAlign);
            break;
        default:
            // Unknown conversions are copied through rather than guessed at.
            out += format.substr(start, i - start);
            break;
        }
    }
    va_end(args);
    return out;
}

} // namespace vxplatform
