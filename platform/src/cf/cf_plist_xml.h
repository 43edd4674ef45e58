// The XML property-list format inside the platform library: the text forms
// of its values, loading a document into a checked XML tree, and the reader
// and writer that turn trees into objects and objects into text.
#pragma once

#include "cf/cf_runtime.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <pugixml.hpp>

namespace vxplatform::plist {

// Nesting beyond this is refused rather than risking the stack.
constexpr int kMaxDepth = 512;

// ---- value texts (cf_plist_text.cpp) ----

std::string base64Encode(const UInt8* bytes, CFIndex length);
// Whitespace is skipped; anything else outside the alphabet, or padding that
// is missing or in the wrong place, is an error.
bool base64Decode(std::string_view text, std::vector<UInt8>& out);
// "YYYY-MM-DDTHH:MM:SSZ" (whole seconds, rounded down); nothing when the
// time is not finite or its year lies outside 1 to 9999.
std::optional<std::string> dateText(CFAbsoluteTime at);
// YYYY-MM-DD[Thh[:mm[:ss]]]Z with every field in range; nothing otherwise.
std::optional<CFAbsoluteTime> parseDate(std::string_view text);
// The characters XML 1.0 allows in a document.
bool isXMLChar(char32_t c);
// A name as XML 1.0 (fifth edition) allows it for elements, attributes and
// processing-instruction targets.
bool isXMLName(std::string_view name);
// UTF-16 text as escaped UTF-8 element content; on failure `problem` names
// the character XML or UTF-8 cannot carry.
bool escapeText(std::u16string_view text, std::string& out, std::string& problem);
// Raw character data (or, with `attribute`, an attribute value) with its
// entity and character references replaced; on failure `problem` says what
// is wrong and `at` is its byte index.
bool decodeReferences(std::string_view raw, std::string& out, std::string& problem, size_t& at,
                      bool attribute = false);

// ---- documents (cf_plist_document.cpp) ----

// A parsed, well-formed document: its text as UTF-8 (line numbers refer
// to it) and the tree pugixml built from that text.
struct Document {
    std::string text;
    pugi::xml_document xml;
    pugi::xml_node root;

    int lineOf(ptrdiff_t offset) const;
    int lineOf(const pugi::xml_node& node) const { return lineOf(node.offset_debug()); }
};

// What stands around the root element (cf_plist_prolog.cpp): the
// declaration, the document type, and nothing but comments, processing
// instructions and white space. Sets document.root; false with a message.
bool checkProlog(Document& document, std::string& message);
// An encoding name as XML spells it (a letter, then letters, digits, ".",
// "_" or "-").
bool isEncodingName(std::string_view name);

// Transcodes the bytes to UTF-8 as their declaration says, parses them and
// checks what XML requires beyond pugixml's own checks. False with a message
// that says what and where.
bool loadDocument(const UInt8* bytes, size_t size, Document& document, std::string& message);

// ---- objects (cf_plist_reader.cpp, cf_plist_writer.cpp) ----

CFPropertyListRef readPlist(const Document& document, CFOptionFlags mutability,
                            std::string& message);
bool writePlist(CFPropertyListRef value, std::string& out, std::string& message);

} // namespace vxplatform::plist
