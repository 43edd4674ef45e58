// Reading a checked XML tree into property-list objects. Text split by
// comments, processing instructions or CDATA sections is joined; anything
// the format does not define is refused rather than dropped.
#include "cf/cf_collections.h"
#include "cf/cf_data.h"
#include "cf/cf_number.h"
#include "cf/cf_plist_xml.h"
#include "cf/cf_string.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include <fmt/format.h>

namespace vxplatform::plist {

namespace {

std::string_view trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

bool blank(const pugi::xml_node& node) {
    const char* text = node.value();
    return std::strspn(text, " \t\r\n") == std::strlen(text);
}

class Reader {
public:
    Reader(const Document& document, CFOptionFlags mutability)
        : mDocument(document), mMutability(mutability) {}

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
            for (const pugi::xml_node& child : node.children()) {
                if ((child.type() == pugi::node_pcdata && !blank(child)) ||
                    child.type() == pugi::node_element || child.type() == pugi::node_cdata) {
                    return fail(node, "<" + name + "/> must be empty");
                }
            }
            return name == "true" ? kCFBooleanTrue : kCFBooleanFalse;
        }
        std::string text;
        if (!textOf(node, text)) {
            return nullptr;
        }
        if (name == "string") {
            if (mMutability == kCFPropertyListMutableContainersAndLeaves) {
                return createMutableString(text);
            }
            return createString(text);
        }
        if (name == "integer") {
            return readInteger(node, trimmed(text));
        }
        if (name == "real") {
            return readReal(node, trimmed(text));
        }
        if (name == "data") {
            std::vector<UInt8> bytes;
            if (!base64Decode(text, bytes)) {
                return fail(node, "invalid base64 in <data>");
            }
            if (mMutability == kCFPropertyListMutableContainersAndLeaves) {
                CFMutableDataRef d = CFDataCreateMutable(nullptr, 0);
                CFDataAppendBytes(d, bytes.data(), static_cast<CFIndex>(bytes.size()));
                return d;
            }
            return createData(std::move(bytes));
        }
        if (name == "date") {
            const auto at = parseDate(text);
            return at ? CFDateCreate(nullptr, *at) : fail(node, "invalid date \"" + text + "\"");
        }
        return fail(node, "unknown element <" + name + ">");
    }

    CFPropertyListRef fail(const pugi::xml_node& node, const std::string& message) {
        if (mError.empty()) {
            mError = fmt::format("{} at line {}", message, mDocument.lineOf(node));
        }
        return nullptr;
    }
    const std::string& error() const { return mError; }

private:
    // The text of a leaf element, its pieces joined; references were checked
    // when the document was loaded.
    bool textOf(const pugi::xml_node& node, std::string& text) {
        std::string problem;
        size_t at = 0;
        for (const pugi::xml_node& child : node.children()) {
            switch (child.type()) {
            case pugi::node_pcdata:
                decodeReferences(child.value(), text, problem, at);
                break;
            case pugi::node_cdata:
                text += child.value();
                break;
            case pugi::node_element:
                fail(child, fmt::format("<{}> holds elements", node.name()));
                return false;
            default:
                break; // comments and processing instructions
            }
        }
        return true;
    }

    CFPropertyListRef readInteger(const pugi::xml_node& node, std::string_view text) {
        std::string_view digits = text;
        bool negative = false;
        if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) {
            negative = digits[0] == '-';
            digits.remove_prefix(1);
        }
        int base = 10;
        if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
            base = 16;
            digits.remove_prefix(2);
        }
        uint64_t magnitude = 0;
        const auto result =
            std::from_chars(digits.data(), digits.data() + digits.size(), magnitude, base);
        if (digits.empty() || result.ec == std::errc::invalid_argument ||
            result.ptr != digits.data() + digits.size()) {
            return fail(node, fmt::format("<integer> is not a number: \"{}\"", text));
        }
        const uint64_t limit = negative ? (uint64_t{1} << 63) : (uint64_t{1} << 63) - 1;
        if (result.ec == std::errc::result_out_of_range || magnitude > limit) {
            return fail(node, fmt::format("<integer> out of the 64-bit range: \"{}\"", text));
        }
        return createNumber(negative ? static_cast<int64_t>(0 - magnitude)
                                     : static_cast<int64_t>(magnitude));
    }

    CFPropertyListRef readReal(const pugi::xml_node& node, std::string_view text) {
        std::string lower;
        for (char c : text) {
            lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        std::string_view body = lower;
        const bool negative = !body.empty() && body[0] == '-';
        if (!body.empty() && (body[0] == '-' || body[0] == '+')) {
            body.remove_prefix(1);
        }
        const double sign = negative ? -1.0 : 1.0;
        if (body == "nan") {
            return createNumber(std::nan(""));
        }
        if (body == "inf" || body == "infinity") {
            return createNumber(sign * HUGE_VAL);
        }
        double value = 0;
        const auto result = std::from_chars(body.data(), body.data() + body.size(), value);
        // Only decimal digits, a point and an exponent: from_chars also knows
        // spellings of infinity and NaN, which are handled above.
        if (body.empty() || body.find_first_not_of("0123456789.e+-") != std::string_view::npos ||
            (body[0] != '.' && (body[0] < '0' || body[0] > '9')) ||
            result.ec == std::errc::invalid_argument || result.ptr != body.data() + body.size()) {
            return fail(node, fmt::format("<real> is not a number: \"{}\"", text));
        }
        if (result.ec == std::errc::result_out_of_range) {
            value = std::strtod(std::string(body).c_str(), nullptr); // keeps inf or 0
        }
        return createNumber(sign * value);
    }

    // Comments, processing instructions and white space may stand between
    // the elements of a container; text may not.
    bool onlyLayout(const pugi::xml_node& child, const pugi::xml_node& container) {
        if ((child.type() == pugi::node_pcdata && !blank(child)) ||
            (child.type() == pugi::node_cdata && child.value()[0] != '\0')) {
            fail(child, fmt::format("text inside <{}>", container.name()));
            return false;
        }
        return true;
    }

    CFPropertyListRef readArray(const pugi::xml_node& node, int depth) {
        CFMutableArrayRef array = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
        for (const pugi::xml_node& child : node.children()) {
            if (child.type() != pugi::node_element) {
                if (!onlyLayout(child, node)) {
                    CFRelease(array);
                    return nullptr;
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
        if (mMutability != kCFPropertyListImmutable) {
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
                if (!onlyLayout(child, node)) {
                    return abandon(nullptr);
                }
                continue;
            }
            const bool isKey = std::strcmp(child.name(), "key") == 0;
            if (key == nullptr) {
                if (!isKey) {
                    return abandon(fail(child, "expected <key> in <dict>"));
                }
                std::string text;
                if (!textOf(child, text)) {
                    return abandon(nullptr);
                }
                key = createString(text);
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
        if (mMutability != kCFPropertyListImmutable) {
            return dict;
        }
        CFDictionaryRef frozen = CFDictionaryCreateCopy(nullptr, dict);
        CFRelease(dict);
        return frozen;
    }

    const Document& mDocument;
    CFOptionFlags mMutability;
    std::string mError;
};

} // namespace

CFPropertyListRef readPlist(const Document& document, CFOptionFlags mutability,
                            std::string& message) {
    Reader reader(document, mutability);
    const pugi::xml_node root = document.root;
    pugi::xml_node value = root;
    if (std::strcmp(root.name(), "plist") == 0) {
        value = pugi::xml_node();
        for (const pugi::xml_node& child : root.children()) {
            if (child.type() != pugi::node_element) {
                if ((child.type() == pugi::node_pcdata && !blank(child)) ||
                    child.type() == pugi::node_cdata) {
                    reader.fail(child, "text around the object in <plist>");
                    message = reader.error();
                    return nullptr;
                }
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
            reader.fail(root, "empty <plist>");
            message = reader.error();
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
    }
    return plist;
}

} // namespace vxplatform::plist
