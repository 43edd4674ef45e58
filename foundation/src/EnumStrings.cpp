#include "NSVextra/EnumStrings.h"

#include "NSVextra/DbgSysOutput.h"
#include "NSVextra/StringUtils.h"

namespace NSVextra {

int strToEnum(const char* text, const char* name0, const char* name1, const char* name2,
              const char* name3, const char* name4, const char* name5, const char* name6,
              const char* name7) {
    const char* names[8] = {name0, name1, name2, name3, name4, name5, name6, name7};
    for (int i = 0; i < 8; ++i) {
        if (names[i] == nullptr) {
            return -1;
        }
        if (strmatch(text, names[i])) {
            return i;
        }
    }
    return -1;
}

int strToEnumEx(const char* text, const char* name0, int value0, const char* name1, int value1,
                const char* name2, int value2, const char* name3, int value3, const char* name4,
                int value4, const char* name5, int value5, const char* name6, int value6,
                const char* name7, int value7) {
    const char* names[8] = {name0, name1, name2, name3, name4, name5, name6, name7};
    const int values[8] = {value0, value1, value2, value3, value4, value5, value6, value7};
    for (int i = 0; i < 8; ++i) {
        if (names[i] == nullptr) {
            return -1;
        }
        if (strmatch(text, names[i])) {
            return values[i];
        }
    }
    return -1;
}

int strToEnumDef(const char* text, int def, const char* name0, const char* name1, const char* name2,
                 const char* name3, const char* name4, const char* name5, const char* name6,
                 const char* name7) {
    const int v = strToEnum(text, name0, name1, name2, name3, name4, name5, name6, name7);
    if (v == -1) {
        DBG_ERROR(0, "strToEnumDef(): [%s]", text != nullptr ? text : "");
        return def;
    }
    return v;
}

int strMapToEnumDef(const std::map<std::string, std::string>& map, const std::string& key, int def,
                    const char* name0, const char* name1, const char* name2, const char* name3,
                    const char* name4, const char* name5, const char* name6, const char* name7) {
    const auto it = map.find(key);
    if (it == map.end()) {
        return def;
    }
    const int v =
        strToEnum(it->second.c_str(), name0, name1, name2, name3, name4, name5, name6, name7);
    if (v == -1) {
        DBG_ERROR(0, "strToEnumDef(): [%s] = [%s]", key.c_str(), it->second.c_str());
        return def;
    }
    return v;
}

const char* enumToStrEx(int value, const char* name0, int value0, const char* name1, int value1,
                        const char* name2, int value2, const char* name3, int value3,
                        const char* name4, int value4, const char* name5, int value5,
                        const char* name6, int value6, const char* name7, int value7) {
    const char* names[8] = {name0, name1, name2, name3, name4, name5, name6, name7};
    const int values[8] = {value0, value1, value2, value3, value4, value5, value6, value7};
    for (int i = 0; i < 8; ++i) {
        if (names[i] == nullptr) {
            return nullptr;
        }
        if (values[i] == value) {
            return names[i];
        }
    }
    return nullptr;
}

} // namespace NSVextra
