// Conversions between UTF-16 text and the byte encodings CFString accepts.
// Single-byte legacy encodings go through ICU's converters.
#include "cf/cf_string.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <memory>

namespace vxplatform {

namespace {

struct ConverterCloser {
    void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

// The ICU name for encodings converted through ICU, else null.
const char* icuName(CFStringEncoding encoding) {
    switch (encoding) {
    case kCFStringEncodingMacRoman:
        return "macintosh";
    case kCFStringEncodingWindowsLatin1:
        return "windows-1252";
    case kCFStringEncodingNextStepLatin:
        return "macintosh";
    case kCFStringEncodingUTF16BE:
        return "UTF-16BE";
    case kCFStringEncodingUTF16LE:
        return "UTF-16LE";
    case kCFStringEncodingUTF32:
        return "UTF-32";
    case kCFStringEncodingUTF32BE:
        return "UTF-32BE";
    case kCFStringEncodingUTF32LE:
        return "UTF-32LE";
    default:
        return nullptr;
    }
}

Converter openStrict(const char* name, bool toUnicode) {
    UErrorCode status = U_ZERO_ERROR;
    Converter converter(ucnv_open(name, &status));
    if (U_FAILURE(status)) {
        return nullptr;
    }
    if (toUnicode) {
        ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                            &status);
    } else {
        ucnv_setFromUCallBack(converter.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                              &status);
    }
    return U_SUCCESS(status) ? std::move(converter) : nullptr;
}

bool decodeWithICU(const char* name, const UInt8* bytes, size_t length, std::u16string& out) {
    Converter converter = openStrict(name, true);
    if (!converter) {
        return false;
    }
    std::u16string result(length * 2 + 2, u'\0');
    UErrorCode status = U_ZERO_ERROR;
    const int32_t written =
        ucnv_toUChars(converter.get(), reinterpret_cast<UChar*>(result.data()),
                      static_cast<int32_t>(result.size()), reinterpret_cast<const char*>(bytes),
                      static_cast<int32_t>(length), &status);
    if (U_FAILURE(status)) {
        return false;
    }
    result.resize(static_cast<size_t>(written));
    out = std::move(result);
    return true;
}

// Encodes one code point (one or two UTF-16 units) through an ICU converter.
bool encodeUnitsWithICU(UConverter* converter, const char16_t* units, int32_t count,
                        std::string& out) {
    char buffer[16];
    UErrorCode status = U_ZERO_ERROR;
    ucnv_reset(converter);
    const int32_t written = ucnv_fromUChars(converter, buffer, sizeof buffer,
                                            reinterpret_cast<const UChar*>(units), count, &status);
    if (U_FAILURE(status) || written <= 0) {
        return false;
    }
    out.append(buffer, static_cast<size_t>(written));
    return true;
}

void appendUTF8(char32_t cp, std::string& out) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

} // namespace

std::u16string utf8ToUTF16(std::string_view utf8, bool* ok) {
    std::u16string out;
    out.reserve(utf8.size());
    size_t i = 0;
    const size_t n = utf8.size();
    bool valid = true;
    while (i < n) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        char32_t cp = 0;
        size_t extra = 0;
        char32_t minimum = 0;
        if (lead < 0x80) {
            cp = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            cp = lead & 0x1F;
            extra = 1;
            minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            cp = lead & 0x0F;
            extra = 2;
            minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            cp = lead & 0x07;
            extra = 3;
            minimum = 0x10000;
        } else {
            valid = false;
            break;
        }
        if (i + extra >= n) {
            valid = false;
            break;
        }
        for (size_t k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(utf8[i + k]);
            if ((next & 0xC0) != 0x80) {
                valid = false;
                break;
            }
            cp = (cp << 6) | (next & 0x3F);
        }
        if (!valid || cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            valid = false;
            break;
        }
        if (cp >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
        i += extra + 1;
    }
    if (ok != nullptr) {
        *ok = valid;
    }
    return valid ? out : std::u16string();
}

std::string utf16ToUTF8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (U16_IS_LEAD(cp) && i + 1 < text.size() && U16_IS_TRAIL(text[i + 1])) {
            cp = U16_GET_SUPPLEMENTARY(cp, text[i + 1]);
            ++i;
        } else if (U16_IS_SURROGATE(cp)) {
            cp = 0xFFFD; // a lone surrogate has no UTF-8 form
        }
        appendUTF8(cp, out);
    }
    return out;
}

bool encodingSupported(CFStringEncoding encoding) {
    switch (encoding) {
    case kCFStringEncodingASCII:
    case kCFStringEncodingNonLossyASCII:
    case kCFStringEncodingUTF8:
    case kCFStringEncodingISOLatin1:
    case kCFStringEncodingUTF16:
        return true;
    default:
        return icuName(encoding) != nullptr;
    }
}

bool decodeBytes(const UInt8* bytes, size_t length, CFStringEncoding encoding,
                 std::u16string& out) {
    if (bytes == nullptr && length > 0) {
        return false;
    }
    switch (encoding) {
    case kCFStringEncodingASCII:
    case kCFStringEncodingNonLossyASCII:
        out.clear();
        for (size_t i = 0; i < length; ++i) {
            if (bytes[i] >= 0x80) {
                return false;
            }
            out += static_cast<char16_t>(bytes[i]);
        }
        return true;
    case kCFStringEncodingISOLatin1:
        out.assign(bytes, bytes + length);
        return true;
    case kCFStringEncodingUTF8: {
        bool ok = false;
        std::string_view view(reinterpret_cast<const char*>(bytes), length);
        if (view.size() >= 3 && view.substr(0, 3) == "\xEF\xBB\xBF") {
            view.remove_prefix(3);
        }
        out = utf8ToUTF16(view, &ok);
        return ok;
    }
    case kCFStringEncodingUTF16: {
        // Byte order from a byte-order mark, else the machine's own.
        if (length % 2 != 0) {
            return false;
        }
        size_t start = 0;
        bool swap = false;
        if (length >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
            swap = true; // big-endian text on a little-endian machine
            start = 2;
        } else if (length >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
            start = 2;
        }
        out.clear();
        for (size_t i = start; i + 1 < length; i += 2) {
            const auto lo = static_cast<char16_t>(swap ? bytes[i + 1] : bytes[i]);
            const auto hi = static_cast<char16_t>(swap ? bytes[i] : bytes[i + 1]);
            out += static_cast<char16_t>(lo | (hi << 8));
        }
        return true;
    }
    default: {
        const char* name = icuName(encoding);
        return name != nullptr && decodeWithICU(name, bytes, length, out);
    }
    }
}

bool encodeText(std::u16string_view text, CFStringEncoding encoding, UInt8 lossByte,
                std::string& out) {
    out.clear();
    switch (encoding) {
    case kCFStringEncodingASCII:
    case kCFStringEncodingNonLossyASCII:
    case kCFStringEncodingISOLatin1: {
        const char16_t limit = encoding == kCFStringEncodingISOLatin1 ? 0x100 : 0x80;
        for (size_t i = 0; i < text.size(); ++i) {
            char16_t c = text[i];
            if (c >= limit) {
                if (lossByte == 0) {
                    return false;
                }
                out += static_cast<char>(lossByte);
                if (U16_IS_LEAD(c) && i + 1 < text.size() && U16_IS_TRAIL(text[i + 1])) {
                    ++i;
                }
                continue;
            }
            out += static_cast<char>(c);
        }
        return true;
    }
    case kCFStringEncodingUTF8:
        for (size_t i = 0; i < text.size(); ++i) {
            char32_t cp = text[i];
            if (U16_IS_LEAD(cp) && i + 1 < text.size() && U16_IS_TRAIL(text[i + 1])) {
                cp = U16_GET_SUPPLEMENTARY(cp, text[i + 1]);
                ++i;
            } else if (U16_IS_SURROGATE(cp)) {
                if (lossByte == 0) {
                    return false;
                }
                out += static_cast<char>(lossByte);
                continue;
            }
            appendUTF8(cp, out);
        }
        return true;
    case kCFStringEncodingUTF16:
        out.assign(reinterpret_cast<const char*>(text.data()), text.size() * 2);
        return true;
    default: {
        const char* name = icuName(encoding);
        if (name == nullptr) {
            return false;
        }
        Converter converter = openStrict(name, false);
        if (!converter) {
            return false;
        }
        for (size_t i = 0; i < text.size(); ++i) {
            int32_t count = 1;
            if (U16_IS_LEAD(text[i]) && i + 1 < text.size() && U16_IS_TRAIL(text[i + 1])) {
                count = 2;
            }
            if (!encodeUnitsWithICU(converter.get(), text.data() + i, count, out)) {
                if (lossByte == 0) {
                    return false;
                }
                out += static_cast<char>(lossByte);
            }
            i += static_cast<size_t>(count - 1);
        }
        return true;
    }
    }
}

} // namespace vxplatform
