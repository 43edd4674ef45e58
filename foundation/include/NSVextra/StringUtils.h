// C-string scanning, in-place editing of standard strings and packed string
// arrays. Characters are bytes; comparisons are case-sensitive unless a name
// says otherwise. Nothing here allocates except where a std::string is edited.
#pragma once

#include <string>
#include <vector>

namespace NSVextra {

// Both non-null, same length, same bytes.
bool strmatch(const char* a, const char* b);

// Compares at most `length` bytes. With length 0 (or less) only the first
// bytes are compared; otherwise the buffers must agree up to `length` bytes
// or up to a terminator they share, whichever comes first. Null gives false.
bool strmatchBuf(const char* a, const char* b, int length);

// First byte that is not a space (0x20); null when that byte is the terminator.
const char* skipSpaces(const char* s);
char* skipSpaces(char* s);

// First byte that is not tab, line feed, carriage return or space; null at
// the terminator.
const char* skipNonChars(const char* s);
char* skipNonChars(char* s);

// First `c` in [begin, end] (both inclusive), never looking past a terminator;
// null when begin lies after end or there is no such byte.
const char* strNChr(const char* begin, const char* end, char c);
char* strNChr(char* begin, char* end, char c);

// First `c` that lies outside quotes; every `quote` byte toggles between
// outside and inside. Null at the terminator, and whenever `c` is the quote
// byte or the terminator itself.
const char* strChrNoSkipEncl(const char* s, char c, char quote);
char* strChrNoSkipEncl(char* s, char c, char quote);

// Cuts `s` at the first occurrence of `part` and returns that position, or
// null (with `s` unchanged) when `part` does not occur.
char* strTrimRight(char* s, const char* part);

// `s` advanced by the length of `part` when `part` occurs anywhere in `s`;
// otherwise null.
const char* strTrimLeft(const char* s, const char* part);
char* strTrimLeft(char* s, const char* part);

// In-place case conversion; returns `s`.
char* strlwr(char* s);
char* strupr(char* s);

// Drops trailing zeros behind the decimal point, always keeping the first
// digit after it: 1.500000 -> 1.5, 2.000000 -> 2.0; texts without a point
// are left alone.
void trimZeros(char* s);
void trimZeros(std::string& text);

// Packed string arrays: zero-terminated strings one after another, closed by
// an empty string. Scans give up after kMaxStrArrayScan bytes.
constexpr int kMaxStrArrayScan = 100000;

// Byte length including both closing zero bytes ("a\0\0" -> 3, "\0\0" -> 2);
// 0 for a null pointer or an array not closed within the scan limit.
int getStrArrayLen(const char* array);

// The string with zero-based `index`; the last string when the array is
// shorter. Null for a null array.
const char* getStrArrayPos(const char* array, int index);

// mode 0 removes leading spaces, any other mode removes every space.
void trimSpaces(std::string& text, int mode);
void replaceChar(std::string& text, char from, char to);
// Removes every byte that occurs in `set`.
void skipChars(std::string& text, const std::string& set);
// Removes the leading run of bytes that occur in `set`.
void skipCharsLeft(std::string& text, const std::string& set);
// Removes the trailing run of bytes that occur in `set`.
void skipCharsRight(std::string& text, const std::string& set);
// Both runs: leading and trailing.
void skipCharsAtSides(std::string& text, const std::string& set);

// Replaces the first occurrence only; false (text unchanged) when `find`
// does not occur. An empty `find` matches at the start.
bool findReplaceSubString(std::string& text, const std::string& find,
                          const std::string& replacement);
// Index of the first byte of `text` found in `set`; -1 when none or either is empty.
int find_any_char_of(const std::string& text, const std::string& set);
// Case-insensitive containment; an empty part always occurs.
bool findSubStringNoCase(const std::string& text, const std::string& part);
bool inStringList(const std::string& text, const std::vector<std::string>& list);

} // namespace NSVextra
