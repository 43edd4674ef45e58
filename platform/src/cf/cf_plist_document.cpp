// Loading a property-list document: its bytes transcoded to UTF-8 as its
// byte-order mark or declaration says, parsed by pugixml, and checked for
// what XML requires and pugixml lets through (references, comments,
// attributes, what may stand around the root element).
#include "cf/cf_plist_xml.h"

#include <cstring>
#include <memory>

#include <fmt/format.h>
#include <unicode/ucnv.h>
#include <unicode/utf8.h>

namespace vxplatform::plist {

namespace {

// The whole document becomes nodes: comments, processing instructions and
// CDATA sections split text, and every piece is kept; as a fragment, text
// and elements around the root are kept too, for checkProlog to refuse. References are left
// in place and decoded by decodeReferences, which refuses what XML refuses.
constexpr unsigned kParseOptions = pugi::parse_cdata | pugi::parse_comments | pugi::parse_pi |
                                   pugi::parse_declaration | pugi::parse_doctype | pugi::parse_eol |
                                   pugi::parse_wconv_attribute | pugi::parse_ws_pcdata |
                                   pugi::parse_fragment;

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t k = 0; k < a.size(); ++k) {
        if (std::tolower(static_cast<unsigned char>(a[k])) !=
            std::tolower(static_cast<unsigned char>(b[k]))) {
            return false;
        }
    }
    return true;
}

bool transcode(const char* bytes, size_t size, const char* encoding, std::string& out) {
    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(encoding, &status);
    if (U_FAILURE(status)) {
        return false;
    }
    ucnv_setToUCallBack(converter, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    out.assign(size * 3 + 16, '\0');
    const int32_t length =
        ucnv_toAlgorithmic(UCNV_UTF8, converter, out.data(), static_cast<int32_t>(out.size()),
                           bytes, static_cast<int32_t>(size), &status);
    ucnv_close(converter);
    out.resize(U_SUCCESS(status) ? static_cast<size_t>(length) : 0);
    return U_SUCCESS(status);
}

// The encoding the declaration names, read by pugixml from the declaration
// alone; empty when there is none.
std::string declaredEncoding(const char* bytes, size_t size) {
    if (size < 6 || std::memcmp(bytes, "<?xml", 5) != 0) {
        return {};
    }
    const char* end = static_cast<const char*>(std::memchr(bytes, '>', size));
    pugi::xml_document declaration;
    if (end == nullptr || !declaration.load_buffer(bytes, static_cast<size_t>(end - bytes + 1),
                                                   pugi::parse_declaration | pugi::parse_fragment,
                                                   pugi::encoding_utf8)) {
        return {};
    }
    return declaration.first_child().attribute("encoding").value();
}

} // namespace

bool isEncodingName(std::string_view name) {
    if (name.empty() || !std::isalpha(static_cast<unsigned char>(name[0]))) {
        return false;
    }
    for (char c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_' && c != '-') {
            return false;
        }
    }
    return true;
}

namespace {

// The document as UTF-8 text, or a message.
bool toUTF8(const char* bytes, size_t size, std::string& text, std::string& message) {
    const auto starts = [&](const char* prefix, size_t length) {
        return size >= length && std::memcmp(bytes, prefix, length) == 0;
    };
    const bool bigEndian = starts("\xFE\xFF", 2) || starts("\0<\0?", 4) || starts("\0<\0p", 4);
    if (bigEndian || starts("\xFF\xFE", 2) || starts("<\0?\0", 4) || starts("<\0p\0", 4)) {
        if (!transcode(bytes, size, bigEndian ? "UTF-16BE" : "UTF-16LE", text)) {
            message = "the document is not valid UTF-16";
            return false;
        }
        if (text.rfind("\xEF\xBB\xBF", 0) == 0) {
            text.erase(0, 3); // the byte-order mark
        }
        const std::string encoding = declaredEncoding(text.data(), text.size());
        if (!encoding.empty() && !sameName(encoding.substr(0, 6), "UTF-16")) {
            message = "a UTF-16 document that declares another encoding";
            return false;
        }
        return true;
    }
    if (starts("\xEF\xBB\xBF", 3)) {
        bytes += 3;
        size -= 3;
    }
    const std::string encoding = declaredEncoding(bytes, size);
    if (!encoding.empty() && !isEncodingName(encoding)) {
        message = "a malformed encoding name in the XML declaration";
        return false;
    }
    if (encoding.empty() || sameName(encoding, "UTF-8") || sameName(encoding, "UTF8")) {
        text.assign(bytes, size);
        return true;
    }
    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(encoding.c_str(), &status);
    const bool singleByte = U_SUCCESS(status) && ucnv_getMaxCharSize(converter) == 1;
    if (converter != nullptr) {
        ucnv_close(converter);
    }
    if (U_FAILURE(status)) {
        message = fmt::format("the declared encoding \"{}\" is unknown", encoding);
        return false;
    }
    // Multi-byte encodings other than UTF-8 and UTF-16 can hide the markup's
    // own characters; property lists are not written in them.
    if (!singleByte) {
        message = fmt::format("the declared encoding \"{}\" is not supported", encoding);
        return false;
    }
    if (!transcode(bytes, size, encoding.c_str(), text)) {
        message = fmt::format("the document is not valid {}", encoding);
        return false;
    }
    return true;
}

// Valid UTF-8 of characters XML allows, or the offset of the first fault.
bool validCharacters(const std::string& text, size_t& at, std::string& message) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    for (int32_t k = 0; k < length;) {
        at = static_cast<size_t>(k);
        UChar32 c = 0;
        U8_NEXT(bytes, k, length, c);
        if (c < 0) {
            message = "bytes that are not UTF-8";
            return false;
        }
        if (!isXMLChar(static_cast<char32_t>(c))) {
            message = fmt::format("the character U+{:04X}, which XML does not allow",
                                  static_cast<uint32_t>(c));
            return false;
        }
    }
    return true;
}

// Checks every node for what pugixml accepts and XML does not.
class Checker : public pugi::xml_tree_walker {
public:
    explicit Checker(const Document& document) : mDocument(document) {}

    bool for_each(pugi::xml_node& node) override {
        const auto fail = [&](const std::string& what, ptrdiff_t offset) {
            mMessage = fmt::format("{} at line {}", what, mDocument.lineOf(offset));
            return false;
        };
        std::string scratch, problem;
        size_t at = 0;
        switch (node.type()) {
        case pugi::node_pcdata:
            if (!decodeReferences(node.value(), scratch, problem, at)) {
                return fail(problem, node.offset_debug() + static_cast<ptrdiff_t>(at));
            }
            break;
        case pugi::node_comment: {
            const std::string_view text = node.value();
            if (text.find("--") != std::string_view::npos ||
                (!text.empty() && text.back() == '-')) {
                return fail("\"--\" inside a comment", node.offset_debug());
            }
            break;
        }
        case pugi::node_declaration:
            return fail("an XML declaration that is not at the start", node.offset_debug());
        case pugi::node_pi:
            if (!isXMLName(node.name())) {
                return fail("a processing instruction without a valid target", node.offset_debug());
            }
            if (sameName(node.name(), "xml")) {
                return fail("an XML declaration that is not at the start", node.offset_debug());
            }
            break;
        case pugi::node_doctype:
            return fail("a document type that is not before the root", node.offset_debug());
        case pugi::node_element:
            if (!isXMLName(node.name())) {
                return fail("an element name XML does not allow", node.offset_debug());
            }
            for (const pugi::xml_attribute& attribute : node.attributes()) {
                if (!isXMLName(attribute.name())) {
                    return fail("an attribute name XML does not allow", node.offset_debug());
                }
                for (pugi::xml_attribute other = attribute.next_attribute(); other;
                     other = other.next_attribute()) {
                    if (std::strcmp(attribute.name(), other.name()) == 0) {
                        return fail(fmt::format("a duplicated attribute \"{}\"", other.name()),
                                    node.offset_debug());
                    }
                }
                const std::string_view value = attribute.value();
                if (value.find('<') != std::string_view::npos) {
                    return fail("\"<\" in an attribute value", node.offset_debug());
                }
                if (!decodeReferences(value, scratch, problem, at, true)) {
                    return fail(problem, node.offset_debug());
                }
            }
            break;
        default:
            break;
        }
        return true;
    }

    const std::string& message() const { return mMessage; }

private:
    const Document& mDocument;
    std::string mMessage;
};

} // namespace

int Document::lineOf(ptrdiff_t offset) const {
    int line = 1;
    for (ptrdiff_t k = 0; k < offset && static_cast<size_t>(k) < text.size(); ++k) {
        line += text[static_cast<size_t>(k)] == '\n' ? 1 : 0;
    }
    return line;
}

bool loadDocument(const UInt8* bytes, size_t size, Document& document, std::string& message) {
    const char* chars = reinterpret_cast<const char*>(bytes);
    if (size >= 6 && std::memcmp(chars, "bplist", 6) == 0) {
        message = "a binary property list, which is not supported, at line 1";
        return false;
    }
    if (!toUTF8(chars, size, document.text, message)) {
        message += " at line 1";
        return false;
    }
    size_t at = 0;
    if (!validCharacters(document.text, at, message)) {
        message += fmt::format(" at line {}", document.lineOf(static_cast<ptrdiff_t>(at)));
        return false;
    }
    const pugi::xml_parse_result result = document.xml.load_buffer(
        document.text.data(), document.text.size(), kParseOptions, pugi::encoding_utf8);
    if (!result) {
        message = fmt::format("XML error: {} at line {}", result.description(),
                              document.lineOf(result.offset));
        return false;
    }
    if (!checkProlog(document, message)) {
        return false;
    }
    Checker checker(document);
    for (pugi::xml_node node : document.xml.children()) {
        const auto type = node.type();
        if ((type == pugi::node_comment || type == pugi::node_pi || type == pugi::node_element) &&
            !checker.for_each(node)) {
            message = checker.message();
            return false;
        }
    }
    if (!document.root.traverse(checker)) {
        message = checker.message();
        return false;
    }
    return true;
}

} // namespace vxplatform::plist
