#include "NSVextra/ListParsers.h"

#include "NSVextra/StringUtils.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace NSVextra {

namespace {

// atoi-like, but saturating instead of undefined on overflow.
int toInt(const std::string& word) {
    errno = 0;
    const long v = std::strtol(word.c_str(), nullptr, 10);
    if (v > INT_MAX) {
        return INT_MAX;
    }
    if (v < INT_MIN) {
        return INT_MIN;
    }
    return static_cast<int>(v);
}

} // namespace

void parseStringList(const std::string& text, const std::string& separators,
                     std::vector<std::string>& out, const std::string& skip) {
    size_t p = 0;
    const size_t n = text.size();
    while (true) {
        while (p < n && separators.find(text[p]) != std::string::npos) {
            ++p;
        }
        if (p >= n) {
            return;
        }
        size_t end = separators.empty() ? n : text.find_first_of(separators, p);
        if (end == std::string::npos) {
            end = n;
        }
        std::string word = text.substr(p, end - p);
        skipCharsLeft(word, skip);
        out.push_back(std::move(word));
        p = end;
    }
}

void parseMultStringList(const std::string& text, const std::string& enclosure,
                         const std::string& separators, std::vector<MultStringItem>& out) {
    if (enclosure.size() < 2) {
        return;
    }
    const char open = enclosure[0];
    const char close = enclosure[1];
    size_t p = 0;
    while (p < text.size()) {
        const size_t o = text.find(open, p);
        if (o == std::string::npos || o + 1 >= text.size()) {
            return;
        }
        const size_t c = text.find(close, o + 1);
        if (c == std::string::npos) {
            return;
        }
        MultStringItem item;
        item.text = text.substr(o + 1, c - o - 1);
        parseStringList(item.text, separators, item.items, " ");
        out.push_back(std::move(item));
        p = c + 1;
    }
}

bool parseEnclSubString(const std::string& text, const std::string& enclosure, std::string& before,
                        std::string& enclosed) {
    if (enclosure.size() >= 2) {
        const size_t o = text.find(enclosure[0]);
        const size_t c = text.find(enclosure[1]);
        // With one byte as both ends the first of each is the same place and
        // nothing lies between them.
        if (o != std::string::npos && c != std::string::npos && c >= o) {
            enclosed = c > o ? text.substr(o + 1, c - o - 1) : std::string();
            before = text.substr(0, o);
            return true;
        }
    }
    before = text;
    return false;
}

bool parseSeparator(const std::string& text, const std::string& separator, std::string& before,
                    std::string& after) {
    if (separator.empty()) {
        before.clear();
        after = text;
        return true;
    }
    const size_t at = text.find(separator);
    if (at == std::string::npos) {
        return false;
    }
    // Copies first: `text` may alias one of the outputs.
    std::string front = text.substr(0, at);
    std::string back = text.substr(at + separator.size());
    before = std::move(front);
    after = std::move(back);
    return true;
}

void parseIntList(const std::string& text, const std::string& /*unused*/, std::vector<int>& out) {
    std::vector<std::string> words;
    parseStringList(text, ",", words, " ");
    for (const std::string& word : words) {
        if (word.find('-') != std::string::npos) {
            std::string lowText;
            std::string highText;
            parseSeparator(word, "-", lowText, highText);
            const long long low = toInt(lowText);
            const long long high = toInt(highText);
            if (low > high || high - low >= kMaxIntRange) {
                continue;
            }
            for (long long v = low; v <= high; ++v) {
                out.push_back(static_cast<int>(v));
            }
        } else {
            out.push_back(toInt(word));
        }
    }
}

int parseIntList(const std::string& text, const std::string& unused, int* out, int capacity) {
    if (out == nullptr || capacity < -1) {
        return 0;
    }
    std::vector<int> values;
    parseIntList(text, unused, values);
    const size_t count = values.size();
    size_t n = count;
    if (capacity != -1 && n > static_cast<size_t>(capacity)) {
        n = static_cast<size_t>(capacity);
    }
    for (size_t i = 0; i < n; ++i) {
        out[i] = values[i];
    }
    return static_cast<int>(n > INT_MAX ? INT_MAX : n);
}

void parseIntoLines(const std::string& text, std::vector<std::string>& out) {
    size_t p = 0;
    while (true) {
        const size_t lf = text.find('\n', p);
        if (lf == std::string::npos) {
            out.push_back(text.substr(p));
            return;
        }
        out.push_back(text.substr(p, lf - p));
        p = lf + 1;
    }
}

} // namespace NSVextra
