// Splitting texts into words, enclosed groups, integer lists and lines.
// Every parser appends to its output vector without clearing it first.
#pragma once

#include <string>
#include <vector>

namespace NSVextra {

// One enclosed group of a multi-list: the text between the enclosure bytes
// and the words it splits into.
struct MultStringItem {
    std::string text;
    std::vector<std::string> items;
};

// Words separated by runs of any byte of `separators` (leading, trailing and
// repeated separators produce no words). Each word loses its leading bytes
// that occur in `skip` and is appended even when that leaves it empty.
// Words are kept whole whatever their length.
void parseStringList(const std::string& text, const std::string& separators,
                     std::vector<std::string>& out, const std::string& skip);

// Groups opened by enclosure[0] and closed by enclosure[1] (no nesting); text
// outside groups is ignored; each group's text is split like parseStringList
// with the skip set " ". An enclosure of fewer than two bytes finds nothing.
void parseMultStringList(const std::string& text, const std::string& enclosure,
                         const std::string& separators, std::vector<MultStringItem>& out);

// Splits at the first opening and the first closing enclosure byte. True when
// both occur with the closing one not in front of the opening one (an
// enclosure of one byte twice finds both at the same place and encloses
// nothing); otherwise `before` receives the whole text, `enclosed` is left
// alone and the result is false.
bool parseEnclSubString(const std::string& text, const std::string& enclosure, std::string& before,
                        std::string& enclosed);

// Splits at the first occurrence of `separator`. An empty separator gives an
// empty `before` and the whole text as `after`. Not found: false, outputs
// unchanged.
bool parseSeparator(const std::string& text, const std::string& separator, std::string& before,
                    std::string& after);

// Comma-separated integers and inclusive ranges "low-high" ("1, 3-5,7" gives
// 1 3 4 5 7; "5-3" gives nothing; "x" gives 0). The second text is accepted
// for compatibility and ignored. A range spanning more than kMaxIntRange
// values is refused (appends nothing) rather than exhausting memory.
constexpr long long kMaxIntRange = 1000000;
void parseIntList(const std::string& text, const std::string& unused, std::vector<int>& out);

// Same parse copied into `out`. capacity -1 copies everything and returns the
// count; otherwise at most `capacity` values are copied and the result is
// min(count, capacity). A null `out` or a capacity below -1 copies nothing
// and returns 0.
int parseIntList(const std::string& text, const std::string& unused, int* out, int capacity);

// Lines split at each line feed (carriage returns are kept). The remainder
// after the last line feed is always appended, so "" gives one empty line.
void parseIntoLines(const std::string& text, std::vector<std::string>& out);

} // namespace NSVextra
