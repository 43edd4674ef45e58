// The settings reader's value texts: numbers, strings and type names of one
// value tag, shared by the tag reader and the value parser.
#pragma once

#include <charconv>
#include <system_error>

namespace NSVextra::detail {

inline bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// `whole`: the text must be the number and nothing else.
template <typename I>
bool parseInteger(const char* begin, const char* end, int base, I& out, bool whole) {
    if (begin < end && *begin == '+') {
        ++begin;
    }
    const auto r = std::from_chars(begin, end, out, base);
    return r.ptr != begin && r.ec == std::errc() && (!whole || r.ptr == end);
}

// Converts one element text into its slot of the value's block.
bool convertElement(int type, const char* begin, const char* end, unsigned char* slot);
// The string inside an element text: the text between its quotes, or the
// bare text when it is not quoted. Narrows [begin, end) to the string.
bool stringElement(const char*& begin, const char*& end);
// The type code of a type name given as a range: exact matches only,
// anything else is a string.
int dataTypeOf(const char* begin, const char* end);

} // namespace NSVextra::detail
