// What stands around the root element of a property-list document, checked
// where pugixml is lenient: the XML declaration's version, encoding and
// standalone fields, the document type's syntax, and nothing but comments,
// processing instructions and white space besides.
#include "cf/cf_plist_xml.h"

#include <cstring>

#include <fmt/format.h>

namespace vxplatform::plist {

namespace {

bool isAlpha(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// version="1.n", then optionally encoding, then optionally standalone, in
// that order and nothing else; the fault, or nothing.
const char* declarationFault(const pugi::xml_node& declaration) {
    pugi::xml_attribute field = declaration.first_attribute();
    if (std::strcmp(field.name(), "version") != 0) {
        return "an XML declaration without a version";
    }
    const std::string_view version = field.value();
    if (version.size() < 3 || version.substr(0, 2) != "1." ||
        version.find_first_not_of("0123456789", 2) != std::string_view::npos) {
        return "an XML declaration whose version is not 1.x";
    }
    field = field.next_attribute();
    if (std::strcmp(field.name(), "encoding") == 0) {
        if (!isEncodingName(field.value())) {
            return "a malformed encoding name in the XML declaration";
        }
        field = field.next_attribute();
    }
    if (std::strcmp(field.name(), "standalone") == 0) {
        const std::string_view value = field.value();
        if (value != "yes" && value != "no") {
            return "an XML declaration with standalone neither yes nor no";
        }
        field = field.next_attribute();
    }
    return field ? "an XML declaration with fields out of order or unknown" : nullptr;
}

// A quoted literal at `at`; a public identifier allows fewer characters.
bool literal(std::string_view text, size_t& at, bool publicId) {
    if (at >= text.size() || (text[at] != '"' && text[at] != '\'')) {
        return false;
    }
    const char quote = text[at];
    const size_t end = text.find(quote, at + 1);
    if (end == std::string_view::npos) {
        return false;
    }
    for (size_t k = at + 1; publicId && k < end; ++k) {
        const char c = text[k];
        if (!isAlpha(c) && !isDigit(c) && !isSpace(c) && c != '\t' &&
            std::strchr("-'()+,./:=?;!*#@$_%", c) == nullptr) {
            return false;
        }
    }
    at = end + 1;
    return true;
}

bool spaces(std::string_view text, size_t& at) {
    const size_t start = at;
    while (at < text.size() && isSpace(text[at])) {
        ++at;
    }
    return at > start;
}

// <!DOCTYPE name [SYSTEM "uri" | PUBLIC "id" "uri"]> (an internal subset is
// refused before this is asked).
bool wellFormedDoctype(const Document& document, const pugi::xml_node& doctype) {
    const auto offset = static_cast<size_t>(doctype.offset_debug());
    if (offset == 0 || offset > document.text.size() || !isSpace(document.text[offset - 1])) {
        return false;
    }
    const std::string_view text = doctype.value();
    size_t at = 0;
    while (at < text.size() && !isSpace(text[at])) {
        ++at;
    }
    if (!isXMLName(text.substr(0, at))) {
        return false;
    }
    if (spaces(text, at) && at < text.size()) {
        const std::string_view keyword = text.substr(at, 6);
        at += 6;
        if (keyword == "SYSTEM") {
            if (!spaces(text, at) || !literal(text, at, false)) {
                return false;
            }
        } else if (keyword == "PUBLIC") {
            if (!spaces(text, at) || !literal(text, at, true) || !spaces(text, at) ||
                !literal(text, at, false)) {
                return false;
            }
        } else {
            return false;
        }
        spaces(text, at);
    }
    return at >= text.size();
}

// What stands around the root: the declaration first of all, at most one
// document type before the root, comments, processing instructions and
// white space. Sets document.root.
} // namespace

bool checkProlog(Document& document, std::string& message) {
    bool first = true;
    bool doctype = false;
    for (pugi::xml_node node : document.xml.children()) {
        const auto fail = [&](const std::string& what) {
            message = fmt::format("{} at line {}", what, document.lineOf(node));
            return false;
        };
        switch (node.type()) {
        case pugi::node_declaration:
            if (!first || document.text.rfind("<?xml", 0) != 0) {
                return fail("an XML declaration that is not at the start");
            }
            if (const char* fault = declarationFault(node)) {
                return fail(fault);
            }
            break;
        case pugi::node_doctype:
            if (doctype || document.root) {
                return fail("a document type that is not alone before the root");
            }
            // The platform's readers refuse entity declarations; so does this one,
            // and with them every internal subset trick.
            if (std::strchr(node.value(), '[') != nullptr) {
                return fail("a document type with declarations of its own");
            }
            if (!wellFormedDoctype(document, node)) {
                return fail("a malformed document type");
            }
            doctype = true;
            break;
        case pugi::node_element:
            if (document.root) {
                return fail("a second root element");
            }
            document.root = node;
            break;
        case pugi::node_pcdata:
        case pugi::node_cdata:
            if (std::strspn(node.value(), " \t\r\n") != std::strlen(node.value()) ||
                node.type() == pugi::node_cdata) {
                return fail(document.root ? "content after the root element"
                                          : "content before the root element");
            }
            break;
        default:
            break;
        }
        first = false;
    }
    if (!document.root) {
        message = fmt::format("no root element at line {}",
                              document.lineOf(static_cast<ptrdiff_t>(document.text.size())));
        return false;
    }
    return true;
}

} // namespace vxplatform::plist
