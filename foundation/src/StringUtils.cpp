#include "NSVextra/StringUtils.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace NSVextra {

bool strmatch(const char* a, const char* b) {
    if (a == nullptr || b == nullptr) {
        return false;
    }
    return std::strcmp(a, b) == 0;
}

bool strmatchBuf(const char* a, const char* b, int length) {
    if (a == nullptr || b == nullptr) {
        return false;
    }
    if (length <= 0) {
        return a[0] == b[0];
    }
    return std::strncmp(a, b, static_cast<size_t>(length)) == 0;
}

const char* skipSpaces(const char* s) {
    if (s == nullptr) {
        return nullptr;
    }
    while (*s == ' ') {
        ++s;
    }
    return *s == '\0' ? nullptr : s;
}

char* skipSpaces(char* s) {
    return const_cast<char*>(skipSpaces(static_cast<const char*>(s)));
}

const char* skipNonChars(const char* s) {
    if (s == nullptr) {
        return nullptr;
    }
    while (*s == '\t' || *s == '\n' || *s == '\r' || *s == ' ') {
        ++s;
    }
    return *s == '\0' ? nullptr : s;
}

char* skipNonChars(char* s) {
    return const_cast<char*>(skipNonChars(static_cast<const char*>(s)));
}

const char* strNChr(const char* begin, const char* end, char c) {
    if (begin == nullptr || end == nullptr || begin > end) {
        return nullptr;
    }
    for (const char* p = begin; p <= end && *p != '\0'; ++p) {
        if (*p == c) {
            return p;
        }
    }
    return nullptr;
}

char* strNChr(char* begin, char* end, char c) {
    return const_cast<char*>(strNChr(static_cast<const char*>(begin), end, c));
}

const char* strChrNoSkipEncl(const char* s, char c, char quote) {
    if (s == nullptr || c == quote || c == '\0') {
        return nullptr;
    }
    bool inside = false;
    for (; *s != '\0'; ++s) {
        if (*s == quote) {
            inside = !inside;
        } else if (!inside && *s == c) {
            return s;
        }
    }
    return nullptr;
}

char* strChrNoSkipEncl(char* s, char c, char quote) {
    return const_cast<char*>(strChrNoSkipEncl(static_cast<const char*>(s), c, quote));
}

char* strTrimRight(char* s, const char* part) {
    if (s == nullptr || part == nullptr) {
        return nullptr;
    }
    char* at = std::strstr(s, part);
    if (at != nullptr) {
        *at = '\0';
    }
    return at;
}

const char* strTrimLeft(const char* s, const char* part) {
    if (s == nullptr || part == nullptr || std::strstr(s, part) == nullptr) {
        return nullptr;
    }
    // The advance is bounded by the text's own length, so a part that occurs
    // further in never moves the result past the terminator.
    const size_t n = std::min(std::strlen(part), std::strlen(s));
    return s + n;
}

char* strTrimLeft(char* s, const char* part) {
    return const_cast<char*>(strTrimLeft(static_cast<const char*>(s), part));
}

char* strlwr(char* s) {
    if (s != nullptr) {
        for (char* p = s; *p != '\0'; ++p) {
            *p = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
        }
    }
    return s;
}

char* strupr(char* s) {
    if (s != nullptr) {
        for (char* p = s; *p != '\0'; ++p) {
            *p = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
        }
    }
    return s;
}

void trimZeros(char* s) {
    if (s == nullptr) {
        return;
    }
    char* point = std::strchr(s, '.');
    if (point == nullptr) {
        return;
    }
    size_t after = std::strlen(point + 1);
    while (after >= 2 && point[after] == '0') {
        point[after] = '\0';
        --after;
    }
}

void trimZeros(std::string& text) {
    const size_t point = text.find('.');
    if (point == std::string::npos) {
        return;
    }
    while (text.size() - point - 1 >= 2 && text.back() == '0') {
        text.pop_back();
    }
}

int getStrArrayLen(const char* array) {
    if (array == nullptr) {
        return 0;
    }
    for (int i = 1; i < kMaxStrArrayScan; ++i) {
        if (array[i - 1] == '\0' && array[i] == '\0') {
            return i + 1;
        }
    }
    return 0;
}

const char* getStrArrayPos(const char* array, int index) {
    if (array == nullptr) {
        return nullptr;
    }
    // Offsets stay below the scan limit, so no byte past it is ever read.
    const size_t limit = kMaxStrArrayScan;
    size_t off = 0;
    for (int i = 0; i < index; ++i) {
        if (array[off] == '\0') {
            break; // the empty array: its one (empty) string
        }
        size_t end = off;
        while (end < limit && array[end] != '\0') {
            ++end;
        }
        if (end + 1 >= limit || array[end + 1] == '\0') {
            break; // `off` is the last string (or the scan gave up)
        }
        off = end + 1;
    }
    return array + off;
}

void trimSpaces(std::string& text, int mode) {
    if (mode == 0) {
        skipCharsLeft(text, " ");
    } else {
        std::erase(text, ' ');
    }
}

void replaceChar(std::string& text, char from, char to) {
    std::replace(text.begin(), text.end(), from, to);
}

void skipChars(std::string& text, const std::string& set) {
    std::erase_if(text, [&set](char c) { return set.find(c) != std::string::npos; });
}

void skipCharsLeft(std::string& text, const std::string& set) {
    const size_t first = text.find_first_not_of(set);
    text.erase(0, first == std::string::npos ? text.size() : first);
}

void skipCharsRight(std::string& text, const std::string& set) {
    const size_t last = text.find_last_not_of(set);
    text.erase(last == std::string::npos ? 0 : last + 1);
}

void skipCharsAtSides(std::string& text, const std::string& set) {
    skipCharsLeft(text, set);
    skipCharsRight(text, set);
}

bool findReplaceSubString(std::string& text, const std::string& find,
                          const std::string& replacement) {
    const size_t at = text.find(find);
    if (at == std::string::npos) {
        return false;
    }
    text.replace(at, find.size(), replacement);
    return true;
}

int find_any_char_of(const std::string& text, const std::string& set) {
    if (text.empty() || set.empty()) {
        return -1;
    }
    const size_t at = text.find_first_of(set);
    return at == std::string::npos ? -1 : static_cast<int>(at);
}

bool findSubStringNoCase(const std::string& text, const std::string& part) {
    auto lower = [](std::string s) {
        for (char& c : s) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        return s;
    };
    return lower(text).find(lower(part)) != std::string::npos;
}

bool inStringList(const std::string& text, const std::vector<std::string>& list) {
    return std::find(list.begin(), list.end(), text) != list.end();
}

} // namespace NSVextra
