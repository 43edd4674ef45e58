// Settings document: the script reader.
#include "NSVextra/Settings.h"
#include "SettingsInternals.h"
#include "SettingsValueParser.h"

#include "NSVextra/Scrambler.h"
#include "NSVextra/StringUtils.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <emmintrin.h>

namespace NSVextra {

using detail::convertElement;
using detail::dataTypeOf;
using detail::isBlank;
using detail::parseInteger;
using detail::stringElement;

namespace {

// The first "," or double quote in [begin, end), or end. Sixteen bytes per
// step while whole steps fit before `end` (which lies inside the text), the
// rest byte by byte.
const char* commaOrQuote(const char* begin, const char* end) {
    const __m128i comma = _mm_set1_epi8(',');
    const __m128i quote = _mm_set1_epi8('"');
    const char* p = begin;
    for (; end - p >= 16; p += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const int mask = _mm_movemask_epi8(
            _mm_or_si128(_mm_cmpeq_epi8(bytes, comma), _mm_cmpeq_epi8(bytes, quote)));
        if (mask != 0) {
            return p + __builtin_ctz(static_cast<unsigned>(mask));
        }
    }
    for (; p < end; ++p) {
        if (*p == ',' || *p == '"') {
            return p;
        }
    }
    return end;
}

// The comma that ends an element, looked for only inside the value's own
// tag so that a stray quote cannot send the search through the whole text.
const char* commaOutsideQuotes(const char* begin, const char* end) {
    const char* p = begin;
    while (p < end) {
        p = commaOrQuote(p, end);
        if (p == end) {
            return nullptr;
        }
        if (*p == ',') {
            return p;
        }
        // A quoted stretch: commas inside it do not count.
        const void* close = std::memchr(p + 1, '"', static_cast<size_t>(end - p - 1));
        if (close == nullptr) {
            return nullptr;
        }
        p = static_cast<const char*>(close) + 1;
    }
    return nullptr;
}

// The first byte in [p, last] that is `a`, `b` or `c`, where `last` is a
// readable byte that is one of them (the text's terminating zero); sixteen
// bytes per step while whole steps fit.
const char* findFirstOf(const char* p, const char* last, char a, char b, char c) {
    const __m128i va = _mm_set1_epi8(a);
    const __m128i vb = _mm_set1_epi8(b);
    const __m128i vc = _mm_set1_epi8(c);
    for (; last - p >= 15; p += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i hits =
            _mm_or_si128(_mm_cmpeq_epi8(bytes, va),
                         _mm_or_si128(_mm_cmpeq_epi8(bytes, vb), _mm_cmpeq_epi8(bytes, vc)));
        const int mask = _mm_movemask_epi8(hits);
        if (mask != 0) {
            return p + __builtin_ctz(static_cast<unsigned>(mask));
        }
    }
    while (*p != a && *p != b && *p != c) {
        ++p;
    }
    return p;
}

// Steps over white space; null when the text ends first (as skipNonChars).
const char* skipBlanks(const char* p) {
    while (isBlank(*p)) {
        ++p;
    }
    return *p == '\0' ? nullptr : p;
}

} // namespace

// ---- reading ----

int Settings::parseDataType(const char* name) {
    for (int code = kTypeInt; code < kTypeString; ++code) {
        if (strmatch(name, m_arDataTypeString[code])) {
            return code;
        }
    }
    return kTypeString;
}

bool Settings::parseValue(char* text, int /*unused*/, GroupNode* group) {
    if (text == nullptr || group == nullptr) {
        return false;
    }
    // Everything the value owns lies inside its own tag: neither names nor
    // elements may hold ">", so the first one ends it.
    char* end = std::strchr(text, '>');
    if (end == nullptr) {
        return false;
    }
    char* colon = static_cast<char*>(std::memchr(text, ':', static_cast<size_t>(end - text)));
    return colon != nullptr && parseValueTag(text, end, colon, group);
}

bool Settings::parseValueTag(char* text, char* end, char* colon, GroupNode* group) {
    if (colon - text > kMaxValueLabel) {
        return false;
    }

    // Nothing is allocated until the whole value has been read: the name and
    // the elements are ranges of the text, the type name is matched in place.
    const char* nameEnd = colon;
    int count = 1;
    bool bracketed = false;
    if (const char* open =
            static_cast<const char*>(std::memchr(text, '[', static_cast<size_t>(colon - text)))) {
        const char* close = static_cast<const char*>(
            std::memchr(open + 1, ']', static_cast<size_t>(colon - open - 1)));
        if (close != nullptr) {
            if (close - open - 1 > kMaxCountText ||
                !parseInteger(open + 1, close, 10, count, true) || count < 0 || count > kMaxElems) {
                return false;
            }
            nameEnd = open;
            bracketed = true;
        }
    }

    // Elements: each one up to the next comma outside double quotes.
    const char* elemBegin[kMaxElems];
    const char* elemEnd[kMaxElems];
    const char* p = colon + 1;
    const char* first = skipBlanks(p);
    if (first == nullptr || first > end) {
        return false;
    }
    if (!bracketed && *first == ',') {
        // "<name: , type>": a value that holds no elements.
        count = 0;
    }
    for (int i = 0; i < count; ++i) {
        const char* b = skipBlanks(p);
        if (b == nullptr || b >= end) {
            return false;
        }
        const char* comma = commaOutsideQuotes(b, end);
        if (comma == nullptr || comma - b > kMaxElemText) {
            return false;
        }
        elemBegin[i] = b;
        elemEnd[i] = comma;
        p = comma + 1;
    }
    if (count == 0) {
        // Step over the lone comma of an empty value, if present.
        const char* b = skipBlanks(p);
        if (b != nullptr && b < end && *b == ',') {
            p = b + 1;
        }
    }
    const char* typeBegin = skipBlanks(p);
    if (typeBegin == nullptr || typeBegin > end || end - typeBegin > kMaxTypeText) {
        return false;
    }
    const int type = dataTypeOf(typeBegin, end);

    // Convert everything before anything is stored: a value either reads
    // whole or not at all.
    size_t size = 0;
    unsigned char* block = nullptr;
    if (type == kTypeString) {
        for (int i = 0; i < count; ++i) {
            if (!stringElement(elemBegin[i], elemEnd[i])) {
                return false;
            }
            size += static_cast<size_t>(elemEnd[i] - elemBegin[i]) + 1;
        }
        if (count > 0) {
            ++size; // the closing zero of the array
            block = static_cast<unsigned char*>(std::malloc(size));
            if (block == nullptr) {
                return false;
            }
            unsigned char* out = block;
            for (int i = 0; i < count; ++i) {
                const size_t length = static_cast<size_t>(elemEnd[i] - elemBegin[i]);
                std::memcpy(out, elemBegin[i], length);
                out += length;
                *out++ = '\0';
            }
            *out = '\0';
        }
    } else if (count > 0) {
        const size_t width = (type == kTypeUInt64 || type == kTypeDouble) ? 8 : 4;
        size = width * static_cast<size_t>(count);
        // Every element is written below, so the block needs no clearing.
        block = static_cast<unsigned char*>(std::malloc(size));
        if (block == nullptr) {
            return false;
        }
        for (int i = 0; i < count; ++i) {
            if (!convertElement(type, elemBegin[i], elemEnd[i],
                                block + width * static_cast<size_t>(i))) {
                std::free(block);
                return false;
            }
        }
    }

    auto* value = m_pInternals->valuePool.make();
    value->name.assign(text, static_cast<size_t>(nameEnd - text));
    value->elems = count;
    value->type = type;
    value->data = block;
    value->size = static_cast<int>(size);
    // Values of one group are read one after another: the last one appended
    // is remembered, so appending does not walk the whole list each time.
    PropNode** link = &group->firstValue;
    if (m_pInternals->parseValueGroup == group && m_pInternals->parseValueTail != nullptr) {
        link = &m_pInternals->parseValueTail->next;
    }
    while (*link != nullptr) {
        link = &(*link)->next;
    }
    *link = value;
    m_pInternals->parseValueGroup = group;
    m_pInternals->parseValueTail = value;
    return true;
}

char* Settings::parseTag(char* text, GroupNode* parent) {
    // A hint left by the enclosing group's loop: the last sub-group linked so
    // far. Taken here so that nested reads cannot see a stale one.
    GroupNode* tailHint = m_pParseCursor;
    m_pParseCursor = nullptr;
    if (text == nullptr) {
        return nullptr;
    }
    // The tag is the first "<" of the text and the first ">" after it; a ">"
    // in front of the "<" refuses it. A ":" inside makes it a value.
    char* lt = nullptr;
    char* gt = nullptr;
    char* colon = nullptr;
    if (m_pInternals->textEnd != nullptr && text >= m_pTextBuf && text <= m_pInternals->textEnd) {
        // Inside the loaded text, whose end is known: one pass each.
        const char* last = m_pInternals->textEnd;
        const char* q = findFirstOf(text, last, '<', '>', '\0');
        if (*q != '<') {
            return nullptr;
        }
        lt = const_cast<char*>(q);
        q = findFirstOf(q + 1, last, '>', ':', '\0');
        if (*q == ':') {
            colon = const_cast<char*>(q);
            q = findFirstOf(q + 1, last, '>', '\0', '\0');
        }
        if (*q != '>') {
            return nullptr;
        }
        gt = const_cast<char*>(q);
    } else {
        lt = std::strchr(text, '<');
        if (lt == nullptr || std::memchr(text, '>', static_cast<size_t>(lt - text)) != nullptr) {
            return nullptr;
        }
        gt = std::strchr(lt + 1, '>');
        if (gt == nullptr) {
            return nullptr;
        }
        colon = static_cast<char*>(std::memchr(lt + 1, ':', static_cast<size_t>(gt - lt - 1)));
    }
    if (gt < lt + 2) {
        return nullptr;
    }
    if (lt[1] == '/') {
        return gt + 1;
    }
    if (colon != nullptr) {
        // The tag's end and its first ":" are known already.
        return parent != nullptr && parseValueTag(lt + 1, gt, colon, parent) ? gt + 1 : nullptr;
    }

    const size_t nameLen = static_cast<size_t>(gt - lt - 1);
    if (nameLen > kMaxGroupName || std::memchr(lt + 1, '<', nameLen) != nullptr ||
        m_pInternals->parseDepth >= kMaxDepth) {
        return nullptr;
    }
    // The closing tag, "</" name ">", in a buffer sized for the longest name.
    char closing[kMaxGroupName + 4];
    closing[0] = '<';
    closing[1] = '/';
    std::memcpy(closing + 2, lt + 1, nameLen);
    closing[nameLen + 2] = '>';
    closing[nameLen + 3] = '\0';
    const size_t closingLen = nameLen + 3;
    char* closeStart = std::strstr(gt + 1, closing);
    if (closeStart == nullptr) {
        std::fputs("ERROR: Enclosing tag specifier missing\n", stdout);
        std::fflush(stdout);
        return nullptr;
    }

    auto* group = m_pInternals->groupPool.make();
    group->name.assign(lt + 1, nameLen);
    if (m_pGrpHeadNode == nullptr) {
        m_pGrpHeadNode = group;
    } else if (parent == nullptr) {
        // A second top-level group read into a document that has a tree:
        // kept as a sibling of the head group rather than lost.
        GroupNode* t = m_pGrpHeadNode;
        while (t->next != nullptr) {
            t = t->next;
        }
        t->next = group;
    }
    if (parent != nullptr) {
        if (parent->firstChild == nullptr) {
            parent->firstChild = group;
        } else {
            GroupNode* t = tailHint != nullptr ? tailHint : parent->firstChild;
            while (t->next != nullptr) {
                t = t->next;
            }
            t->next = group;
        }
    }

    ++m_pInternals->parseDepth;
    GroupNode* tail = nullptr;
    char* pos = gt + 1;
    while (true) {
        m_pParseCursor = tail;
        char* next = parseTag(pos, group);
        m_pParseCursor = nullptr;
        if (next == nullptr || next >= closeStart) {
            break;
        }
        pos = next;
        if (group->firstChild != nullptr) {
            tail = tail != nullptr ? tail : group->firstChild;
            while (tail->next != nullptr) {
                tail = tail->next;
            }
        }
    }
    --m_pInternals->parseDepth;
    return closeStart + closingLen;
}

bool Settings::parseText() {
    m_bModified = false;
    if (m_pTextBuf == nullptr) {
        return false;
    }
    // Read into an empty tree; the old one goes only once the new one stands.
    GroupNode* old = m_pGrpHeadNode;
    m_pGrpHeadNode = nullptr;
    m_pSubGroupCursor = nullptr;
    m_pParseCursor = nullptr;
    m_pInternals->parseDepth = 0;
    m_pInternals->forgetParseTail();
    m_pInternals->textEnd = m_pTextBuf + m_nTextSize;
    char* pos = m_pTextBuf;
    // Closing tags in front of the head group are skipped like other text.
    while (pos != nullptr && m_pGrpHeadNode == nullptr) {
        pos = parseTag(pos, nullptr);
    }
    m_pInternals->forgetParseTail();
    m_pInternals->textEnd = nullptr;
    if (m_pGrpHeadNode == nullptr) {
        m_pGrpHeadNode = old;
        return false;
    }
    if (old != nullptr) {
        releaseMemGrpNode(old);
        m_pInternals->groupPool.destroy(old);
    }
    return true;
}

bool Settings::parseScript() {
    return parseText();
}

} // namespace NSVextra
