// XML property lists, read with pugixml and written in the platform's layout
// (tab indentation, the plist DOCTYPE, sorted dictionary keys).
#include "cf/cf_collections.h"
#include "cf/cf_data.h"
#include "cf/cf_number.h"
#include "cf/cf_string.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <optional>

#include <fmt/format.h>
#include <pugixml.hpp>

using namespace vxcf;

namespace {

// Nesting beyond this is refused rather than risking the stack.
constexpr int kMaxDepth = 512;

const char kHeader[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                       "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                       "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                       "<plist version=\"1.0\">\n";

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

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

// Whitespace is skipped; anything else outside the alphabet, or padding in
// the wrong place, is an error.
bool base64Decode(std::string_view text, std::vector<UInt8>& out) {
    uint32_t accumulator = 0;
    int bits = 0;
    int padding = 0;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            continue;
        }
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
    // Leftover bits must be the zero fill of the last group, and padding at most two.
    return padding <= 2 && bits < 6 && (accumulator & ((1u << bits) - 1)) == 0;
}

std::string escapeXML(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
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
        default:
            out += c;
        }
    }
    return out;
}

std::string dateText(CFAbsoluteTime at) {
    const double unixTime = std::floor(at + kCFAbsoluteTimeIntervalSince1970);
    const auto seconds = static_cast<time_t>(unixTime);
    struct tm parts {};
    gmtime_r(&seconds, &parts);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return buffer;
}

std::optional<CFAbsoluteTime> parseDate(const std::string& text) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &year, &month, &day, &hour, &minute,
                    &second, &tail) != 7 ||
        tail != 'Z' || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 ||
        second > 60) {
        return std::nullopt;
    }
    struct tm parts {};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    return static_cast<double>(timegm(&parts)) - kCFAbsoluteTimeIntervalSince1970;
}

// ---- writing ----

class Writer {
public:
    bool write(CFTypeRef value, int depth) {
        if (depth > kMaxDepth) {
            return fail("nesting too deep");
        }
        const std::string indent(static_cast<size_t>(depth), '\t');
        const CFTypeID type = CFGetTypeID(value);
        if (type == CFStringGetTypeID()) {
            out_ += indent + "<string>" + escapeXML(toUTF8(static_cast<CFStringRef>(value))) +
                    "</string>\n";
        } else if (type == CFNumberGetTypeID()) {
            const Number* n = asNumber(value);
            out_ += indent + (n->isFloat() ? "<real>" : "<integer>") + n->text() +
                    (n->isFloat() ? "</real>\n" : "</integer>\n");
        } else if (type == CFBooleanGetTypeID()) {
            out_ += indent + (CFBooleanGetValue(static_cast<CFBooleanRef>(value)) ? "<true/>\n"
                                                                                  : "<false/>\n");
        } else if (type == CFDataGetTypeID()) {
            const Data* d = asData(value);
            const std::string encoded = base64Encode(d->bytes(), d->length());
            out_ += indent + "<data>\n";
            const size_t line = 68;
            for (size_t k = 0; k < encoded.size(); k += line) {
                out_ += indent + encoded.substr(k, line) + "\n";
            }
            out_ += indent + "</data>\n";
        } else if (type == CFDateGetTypeID()) {
            out_ += indent + "<date>" +
                    dateText(CFDateGetAbsoluteTime(static_cast<CFDateRef>(value))) + "</date>\n";
        } else if (type == CFArrayGetTypeID()) {
            const Array* a = asArray(value);
            if (a->count() == 0) {
                out_ += indent + "<array/>\n";
                return true;
            }
            out_ += indent + "<array>\n";
            for (const void* item : a->values()) {
                if (!write(item, depth + 1)) {
                    return false;
                }
            }
            out_ += indent + "</array>\n";
        } else if (type == CFDictionaryGetTypeID()) {
            const Dictionary* d = asDictionary(value);
            if (d->count() == 0) {
                out_ += indent + "<dict/>\n";
                return true;
            }
            out_ += indent + "<dict>\n";
            for (const auto& [key, item] : d->sortedEntries()) {
                if (asString(key) == nullptr) {
                    return fail("dictionary keys must be strings");
                }
                out_ += indent + "\t<key>" + escapeXML(toUTF8(static_cast<CFStringRef>(key))) +
                        "</key>\n";
                if (!write(item, depth + 1)) {
                    return false;
                }
            }
            out_ += indent + "</dict>\n";
        } else {
            return fail(value == nullptr
                            ? "null value"
                            : std::string("cannot store a ") + typeName(CFGetTypeID(value)));
        }
        return true;
    }

    const std::string& text() const { return out_; }
    const std::string& error() const { return error_; }

private:
    bool fail(std::string message) {
        error_ = std::move(message);
        return false;
    }
    std::string out_;
    std::string error_;
};

// ---- reading ----

class Reader {
public:
    Reader(const char* begin, size_t size, CFOptionFlags mutability)
        : begin_(begin), size_(size), mutability_(mutability) {}

    CFPropertyListRef read(const pugi::xml_node& node, int depth) {
        if (depth > kMaxDepth) {
            return fail(node, "nesting too deep");
        }
        const std::string name = node.name();
        if (name == "dict") {
            return readDict(node, depth);
        }
        if (name == "array") {
            return readArray(node, depth);
        }
        if (name == "true" || name == "false") {
            if (node.first_child()) {
                return fail(node, "<" + name + "/> must be empty");
            }
            return name == "true" ? kCFBooleanTrue : kCFBooleanFalse;
        }
        if (!onlyText(node)) {
            return fail(node, "<" + name + "> holds elements");
        }
        const std::string text = node.text().get();
        if (name == "string") {
            if (mutability_ == kCFPropertyListMutableContainersAndLeaves) {
                CFMutableStringRef s = createMutableString(text);
                return s != nullptr ? s : fail(node, "string is not UTF-8");
            }
            CFStringRef s = createString(text);
            return s != nullptr ? s : fail(node, "string is not UTF-8");
        }
        if (name == "integer") {
            return readInteger(node, trim(text));
        }
        if (name == "real") {
            return readReal(node, trim(text));
        }
        if (name == "data") {
            std::vector<UInt8> bytes;
            if (!base64Decode(text, bytes)) {
                return fail(node, "invalid base64 in <data>");
            }
            if (mutability_ == kCFPropertyListMutableContainersAndLeaves) {
                CFMutableDataRef d = CFDataCreateMutable(nullptr, 0);
                CFDataAppendBytes(d, bytes.data(), static_cast<CFIndex>(bytes.size()));
                return d;
            }
            return createData(std::move(bytes));
        }
        if (name == "date") {
            const auto at = parseDate(trim(text));
            return at ? CFDateCreate(nullptr, *at) : fail(node, "invalid date");
        }
        return fail(node, "unknown element <" + name + ">");
    }

    CFPropertyListRef fail(const pugi::xml_node& node, const std::string& message) {
        if (error_.empty()) {
            error_ = message + " at line " + std::to_string(lineOf(node.offset_debug()));
        }
        return nullptr;
    }
    void setError(std::string message) { error_ = std::move(message); }
    const std::string& error() const { return error_; }
    int lineOf(ptrdiff_t offset) const {
        int line = 1;
        for (ptrdiff_t k = 0; k < offset && static_cast<size_t>(k) < size_; ++k) {
            line += begin_[k] == '\n' ? 1 : 0;
        }
        return line;
    }

private:
    static std::string trim(const std::string& text) {
        const size_t first = text.find_first_not_of(" \t\r\n");
        if (first == std::string::npos) {
            return "";
        }
        return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
    }

    static bool onlyText(const pugi::xml_node& node) {
        for (const pugi::xml_node& child : node.children()) {
            if (child.type() == pugi::node_element) {
                return false;
            }
        }
        return true;
    }

    CFPropertyListRef readInteger(const pugi::xml_node& node, const std::string& text) {
        int64_t value = 0;
        std::string digits = text;
        bool negative = false;
        if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) {
            negative = digits[0] == '-';
            digits.erase(0, 1);
        }
        int base = 10;
        if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
            base = 16;
            digits.erase(0, 2);
        }
        uint64_t magnitude = 0;
        const auto result =
            std::from_chars(digits.data(), digits.data() + digits.size(), magnitude, base);
        if (digits.empty() || result.ec == std::errc::invalid_argument ||
            result.ptr != digits.data() + digits.size()) {
            return fail(node, "<integer> is not a number: \"" + text + "\"");
        }
        const uint64_t limit = negative ? (uint64_t{1} << 63) : (uint64_t{1} << 63) - 1;
        if (result.ec == std::errc::result_out_of_range || magnitude > limit) {
            return fail(node, "<integer> out of the 64-bit range: \"" + text + "\"");
        }
        value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
        return createNumber(value);
    }

    CFPropertyListRef readReal(const pugi::xml_node& node, const std::string& text) {
        std::string lower;
        for (char c : text) {
            lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        if (lower == "nan") {
            return createNumber(std::nan(""));
        }
        if (lower == "inf" || lower == "+inf" || lower == "infinity" || lower == "+infinity") {
            return createNumber(HUGE_VAL);
        }
        if (lower == "-inf" || lower == "-infinity") {
            return createNumber(-HUGE_VAL);
        }
        std::string_view view = text;
        if (!view.empty() && view[0] == '+') {
            view.remove_prefix(1);
        }
        double value = 0;
        const auto result = std::from_chars(view.data(), view.data() + view.size(), value);
        if (view.empty() || result.ec == std::errc::invalid_argument ||
            result.ptr != view.data() + view.size()) {
            return fail(node, "<real> is not a number: \"" + text + "\"");
        }
        if (result.ec == std::errc::result_out_of_range) {
            value = std::strtod(std::string(view).c_str(), nullptr); // keeps inf or 0
        }
        return createNumber(value);
    }

    CFPropertyListRef readArray(const pugi::xml_node& node, int depth) {
        CFMutableArrayRef array = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
        for (const pugi::xml_node& child : node.children()) {
            if (child.type() != pugi::node_element) {
                if (!whitespace(child)) {
                    CFRelease(array);
                    return fail(node, "text inside <array>");
                }
                continue;
            }
            CFPropertyListRef item = read(child, depth + 1);
            if (item == nullptr) {
                CFRelease(array);
                return nullptr;
            }
            CFArrayAppendValue(array, item);
            CFRelease(item);
        }
        if (mutability_ != kCFPropertyListImmutable) {
            return array;
        }
        CFArrayRef frozen = CFArrayCreateCopy(nullptr, array);
        CFRelease(array);
        return frozen;
    }

    CFPropertyListRef readDict(const pugi::xml_node& node, int depth) {
        CFMutableDictionaryRef dict = CFDictionaryCreateMutable(
            nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
        CFStringRef key = nullptr;
        pugi::xml_node keyNode;
        const auto abandon = [&](CFPropertyListRef result) {
            if (key != nullptr) {
                CFRelease(key);
            }
            CFRelease(dict);
            return result;
        };
        for (const pugi::xml_node& child : node.children()) {
            if (child.type() != pugi::node_element) {
                if (!whitespace(child)) {
                    return abandon(fail(node, "text inside <dict>"));
                }
                continue;
            }
            const bool isKey = std::strcmp(child.name(), "key") == 0;
            if (key == nullptr) {
                if (!isKey || !onlyText(child)) {
                    return abandon(fail(child, "expected <key> in <dict>"));
                }
                key = createString(std::string(child.text().get()));
                if (key == nullptr) {
                    return abandon(fail(child, "key is not UTF-8"));
                }
                keyNode = child;
                continue;
            }
            if (isKey) {
                return abandon(fail(child, "<key> without a value"));
            }
            CFPropertyListRef value = read(child, depth + 1);
            if (value == nullptr) {
                return abandon(nullptr);
            }
            CFDictionarySetValue(dict, key, value);
            CFRelease(value);
            CFRelease(key);
            key = nullptr;
        }
        if (key != nullptr) {
            return abandon(fail(keyNode, "<key> without a value"));
        }
        if (mutability_ != kCFPropertyListImmutable) {
            return dict;
        }
        CFDictionaryRef frozen = CFDictionaryCreateCopy(nullptr, dict);
        CFRelease(dict);
        return frozen;
    }

    static bool whitespace(const pugi::xml_node& node) {
        if (node.type() == pugi::node_comment) {
            return true;
        }
        const char* text = node.value();
        return std::strspn(text, " \t\r\n") == std::strlen(text);
    }

    const char* begin_;
    size_t size_;
    CFOptionFlags mutability_;
    std::string error_;
};

CFErrorRef makeError(CFIndex code, const std::string& message) {
    CFStringRef text = createString(message);
    if (text == nullptr) {
        text = createString(std::string_view("malformed property list"));
    }
    const void* keys[] = {kCFErrorDescriptionKey};
    const void* values[] = {text};
    CFErrorRef error =
        CFErrorCreateWithUserInfoKeysAndValues(nullptr, kCFErrorDomainCocoa, code, keys, values, 1);
    CFRelease(text);
    return error;
}

CFPropertyListRef parse(CFDataRef data, CFOptionFlags options, CFPropertyListFormat* format,
                        std::string& message) {
    const Data* d = asData(data);
    if (d == nullptr) {
        message = "no data";
        return nullptr;
    }
    const char* bytes = reinterpret_cast<const char*>(d->bytes());
    const auto size = static_cast<size_t>(d->length());
    if (size >= 6 && std::memcmp(bytes, "bplist", 6) == 0) {
        message = "binary property lists are not supported";
        return nullptr;
    }
    pugi::xml_document document;
    // No line-end or whitespace rewriting: string values come back byte for byte.
    const unsigned parseOptions =
        (pugi::parse_default & ~pugi::parse_eol) | pugi::parse_ws_pcdata_single;
    const pugi::xml_parse_result result =
        document.load_buffer(bytes, size, parseOptions, pugi::encoding_utf8);
    Reader reader(bytes, size, options & 3);
    if (!result) {
        message = std::string("XML error: ") + result.description() + " at line " +
                  std::to_string(reader.lineOf(result.offset));
        return nullptr;
    }
    pugi::xml_node root = document.document_element();
    if (!root) {
        message = "no root element";
        return nullptr;
    }
    pugi::xml_node value = root;
    if (std::strcmp(root.name(), "plist") == 0) {
        value = pugi::xml_node();
        for (const pugi::xml_node& child : root.children()) {
            if (child.type() != pugi::node_element) {
                continue;
            }
            if (value) {
                reader.fail(child, "a plist holds exactly one object");
                message = reader.error();
                return nullptr;
            }
            value = child;
        }
        if (!value) {
            message = "empty <plist>";
            return nullptr;
        }
    } else if (std::strcmp(root.name(), "dict") != 0 && std::strcmp(root.name(), "array") != 0) {
        reader.fail(root, std::string("root element <") + root.name() + "> is not <plist>");
        message = reader.error();
        return nullptr;
    }
    CFPropertyListRef plist = reader.read(value, 0);
    if (plist == nullptr) {
        message = reader.error();
        return nullptr;
    }
    if (format != nullptr) {
        *format = kCFPropertyListXMLFormat_v1_0;
    }
    return plist;
}

bool isValid(CFTypeRef value, int depth) {
    if (value == nullptr || depth > kMaxDepth) {
        return false;
    }
    const CFTypeID type = CFGetTypeID(value);
    if (type == CFStringGetTypeID() || type == CFNumberGetTypeID() ||
        type == CFBooleanGetTypeID() || type == CFDataGetTypeID() || type == CFDateGetTypeID()) {
        return true;
    }
    if (type == CFArrayGetTypeID()) {
        for (const void* item : asArray(value)->values()) {
            if (!isValid(item, depth + 1)) {
                return false;
            }
        }
        return true;
    }
    if (type == CFDictionaryGetTypeID()) {
        bool valid = true;
        asDictionary(value)->forEach([&](const void* key, const void* item) {
            valid = valid && asString(key) != nullptr && isValid(item, depth + 1);
        });
        return valid;
    }
    return false;
}

CFPropertyListRef deepCopy(CFTypeRef value, CFOptionFlags mutability, int depth) {
    if (value == nullptr || depth > kMaxDepth) {
        return nullptr;
    }
    const CFTypeID type = CFGetTypeID(value);
    const bool leaves = mutability == kCFPropertyListMutableContainersAndLeaves;
    if (type == CFStringGetTypeID()) {
        auto s = static_cast<CFStringRef>(value);
        return leaves ? CFStringCreateMutableCopy(nullptr, 0, s) : CFStringCreateCopy(nullptr, s);
    }
    if (type == CFDataGetTypeID()) {
        auto d = static_cast<CFDataRef>(value);
        return leaves ? CFDataCreateMutableCopy(nullptr, 0, d) : CFDataCreateCopy(nullptr, d);
    }
    if (type == CFArrayGetTypeID()) {
        CFMutableArrayRef copy = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
        for (const void* item : asArray(value)->values()) {
            CFPropertyListRef inner = deepCopy(item, mutability, depth + 1);
            if (inner == nullptr) {
                CFRelease(copy);
                return nullptr;
            }
            CFArrayAppendValue(copy, inner);
            CFRelease(inner);
        }
        if (mutability != kCFPropertyListImmutable) {
            return copy;
        }
        CFArrayRef frozen = CFArrayCreateCopy(nullptr, copy);
        CFRelease(copy);
        return frozen;
    }
    if (type == CFDictionaryGetTypeID()) {
        CFMutableDictionaryRef copy = CFDictionaryCreateMutable(
            nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
        bool ok = true;
        asDictionary(value)->forEach([&](const void* key, const void* item) {
            CFPropertyListRef inner = ok ? deepCopy(item, mutability, depth + 1) : nullptr;
            if (inner == nullptr || asString(key) == nullptr) {
                ok = false;
            } else {
                CFStringRef keyCopy = CFStringCreateCopy(nullptr, static_cast<CFStringRef>(key));
                CFDictionarySetValue(copy, keyCopy, inner);
                CFRelease(keyCopy);
            }
            if (inner != nullptr) {
                CFRelease(inner);
            }
        });
        if (!ok) {
            CFRelease(copy);
            return nullptr;
        }
        if (mutability != kCFPropertyListImmutable) {
            return copy;
        }
        CFDictionaryRef frozen = CFDictionaryCreateCopy(nullptr, copy);
        CFRelease(copy);
        return frozen;
    }
    if (isValid(value, depth)) {
        return CFRetain(value); // numbers, booleans and dates never change
    }
    return nullptr;
}

} // namespace

Boolean CFPropertyListIsValid(CFPropertyListRef plist, CFPropertyListFormat format) {
    if (format != kCFPropertyListXMLFormat_v1_0 && format != kCFPropertyListBinaryFormat_v1_0) {
        return false;
    }
    return isValid(plist, 0);
}

CFDataRef CFPropertyListCreateData(CFAllocatorRef, CFPropertyListRef propertyList,
                                   CFPropertyListFormat format, CFOptionFlags, CFErrorRef* error) {
    if (error != nullptr) {
        *error = nullptr;
    }
    if (format != kCFPropertyListXMLFormat_v1_0) {
        if (error != nullptr) {
            *error = makeError(kCFPropertyListWriteStreamError,
                               "only the XML property-list format can be written");
        }
        return nullptr;
    }
    Writer writer;
    if (!writer.write(propertyList, 0)) {
        if (error != nullptr) {
            *error = makeError(kCFPropertyListWriteStreamError,
                               "property list invalid for format: " + writer.error());
        }
        return nullptr;
    }
    const std::string text = kHeader + writer.text() + "</plist>\n";
    return createData(std::vector<UInt8>(text.begin(), text.end()));
}

CFPropertyListRef CFPropertyListCreateWithData(CFAllocatorRef, CFDataRef data,
                                               CFOptionFlags options, CFPropertyListFormat* format,
                                               CFErrorRef* error) {
    if (error != nullptr) {
        *error = nullptr;
    }
    std::string message;
    CFPropertyListRef plist = parse(data, options, format, message);
    if (plist == nullptr && error != nullptr) {
        *error = makeError(kCFPropertyListReadCorruptError, message);
    }
    return plist;
}

CFPropertyListRef CFPropertyListCreateDeepCopy(CFAllocatorRef, CFPropertyListRef propertyList,
                                               CFOptionFlags mutabilityOption) {
    return deepCopy(propertyList, mutabilityOption & 3, 0);
}

CFDataRef CFPropertyListCreateXMLData(CFAllocatorRef allocator, CFPropertyListRef propertyList) {
    return CFPropertyListCreateData(allocator, propertyList, kCFPropertyListXMLFormat_v1_0, 0,
                                    nullptr);
}

CFPropertyListRef CFPropertyListCreateFromXMLData(CFAllocatorRef, CFDataRef xmlData,
                                                  CFOptionFlags mutabilityOption,
                                                  CFStringRef* errorString) {
    if (errorString != nullptr) {
        *errorString = nullptr;
    }
    std::string message;
    CFPropertyListRef plist = parse(xmlData, mutabilityOption, nullptr, message);
    if (plist == nullptr && errorString != nullptr) {
        *errorString = createString(message);
    }
    return plist;
}
