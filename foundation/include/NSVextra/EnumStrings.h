// Mapping words to enumeration values and back. Up to eight names are given
// as arguments; the first null name ends the list.
#pragma once

#include <map>
#include <string>

namespace NSVextra {

// Index (0..7) of the first name equal to `text`; -1 when none matches.
int strToEnum(const char* text, const char* name0 = nullptr, const char* name1 = nullptr,
              const char* name2 = nullptr, const char* name3 = nullptr, const char* name4 = nullptr,
              const char* name5 = nullptr, const char* name6 = nullptr,
              const char* name7 = nullptr);

// Value paired with the first name equal to `text`; -1 when none matches.
int strToEnumEx(const char* text, const char* name0, int value0, const char* name1 = nullptr,
                int value1 = 0, const char* name2 = nullptr, int value2 = 0,
                const char* name3 = nullptr, int value3 = 0, const char* name4 = nullptr,
                int value4 = 0, const char* name5 = nullptr, int value5 = 0,
                const char* name6 = nullptr, int value6 = 0, const char* name7 = nullptr,
                int value7 = 0);

// strToEnum, but an unknown text is logged as an error and gives `def`.
int strToEnumDef(const char* text, int def, const char* name0 = nullptr,
                 const char* name1 = nullptr, const char* name2 = nullptr,
                 const char* name3 = nullptr, const char* name4 = nullptr,
                 const char* name5 = nullptr, const char* name6 = nullptr,
                 const char* name7 = nullptr);

// strToEnumDef on map[key]. A missing key gives `def` silently; a value that
// matches no name is logged with its key and gives `def`.
int strMapToEnumDef(const std::map<std::string, std::string>& map, const std::string& key, int def,
                    const char* name0 = nullptr, const char* name1 = nullptr,
                    const char* name2 = nullptr, const char* name3 = nullptr,
                    const char* name4 = nullptr, const char* name5 = nullptr,
                    const char* name6 = nullptr, const char* name7 = nullptr);

// Name of the first pair whose value equals `value`; null when none does.
const char* enumToStrEx(int value, const char* name0, int value0, const char* name1 = nullptr,
                        int value1 = 0, const char* name2 = nullptr, int value2 = 0,
                        const char* name3 = nullptr, int value3 = 0, const char* name4 = nullptr,
                        int value4 = 0, const char* name5 = nullptr, int value5 = 0,
                        const char* name6 = nullptr, int value6 = 0, const char* name7 = nullptr,
                        int value7 = 0);

} // namespace NSVextra
