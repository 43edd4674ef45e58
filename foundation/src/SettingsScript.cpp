// Settings document: the script reader and writer.
#include "NSVextra/Settings.h"

#include "NSVextra/Scrambler.h"
#include "NSVextra/StringUtils.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string_view>

#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

namespace NSVextra {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Element text without the white space that may stand before its comma
// (the writer breaks long values after an element).
void trimRight(const char*& end, const char* begin) {
    while (end > begin && isBlank(end[-1])) {
        --end;
    }
}

// An out-of-range text is an underflow (not an overflow) when its magnitude
// is below one: no non-zero digit before the point, or a negative exponent.
bool isUnderflowText(const char* begin, const char* end) {
    const char* e = begin;
    while (e < end && *e != 'e' && *e != 'E') {
        ++e;
    }
    if (e + 1 < end && e[1] == '-') {
        return true;
    }
    const char* p = begin;
    if (p < end && (*p == '-' || *p == '+')) {
        ++p;
    }
    for (; p < e && *p != '.'; ++p) {
        if (*p != '0') {
            return false;
        }
    }
    return true;
}

// Numbers are read from the start of their text, as the standard
// conversions read them: what follows the number is ignored, while a text
// that does not start with a number, or one out of range, fails.
template <typename F> bool parseFloating(const char* begin, const char* end, F& out) {
    if (begin < end && *begin == '+') {
        ++begin;
    }
    // from_chars, unlike strtod, does not depend on the host's locale.
    const auto r = std::from_chars(begin, end, out);
    if (r.ptr == begin) {
        return false;
    }
    end = r.ptr;
    if (r.ec == std::errc::result_out_of_range) {
        if (!isUnderflowText(begin, end)) {
            return false;
        }
        double wide = 0.0;
        const auto w = std::from_chars(begin, end, wide);
        if (w.ec == std::errc() && w.ptr == end) {
            out = static_cast<F>(wide);
        } else {
            out = (*begin == '-') ? static_cast<F>(-0.0) : static_cast<F>(0.0);
        }
        return true;
    }
    return r.ec == std::errc();
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
bool convertElement(int type, const char* begin, const char* end, unsigned char* slot) {
    trimRight(end, begin);
    switch (type) {
    case Settings::kTypeInt: {
        int32_t v = 0;
        if (!parseInteger(begin, end, 10, v, false)) {
            return false;
        }
        std::memcpy(slot, &v, sizeof v);
        return true;
    }
    case Settings::kTypeUInt: {
        if (end - begin >= 2 && begin[0] == '0' && (begin[1] == 'x' || begin[1] == 'X')) {
            begin += 2;
        }
        uint32_t v = 0;
        if (begin < end && (*begin == '+' || *begin == '-')) {
            return false;
        }
        if (!parseInteger(begin, end, 16, v, false)) {
            return false;
        }
        std::memcpy(slot, &v, sizeof v);
        return true;
    }
    case Settings::kTypeUInt64: {
        uint64_t v = 0;
        if (!parseInteger(begin, end, 10, v, false)) {
            return false;
        }
        std::memcpy(slot, &v, sizeof v);
        return true;
    }
    case Settings::kTypeFloat: {
        float v = 0;
        if (!parseFloating(begin, end, v)) {
            return false;
        }
        std::memcpy(slot, &v, sizeof v);
        return true;
    }
    case Settings::kTypeDouble: {
        double v = 0;
        if (!parseFloating(begin, end, v)) {
            return false;
        }
        std::memcpy(slot, &v, sizeof v);
        return true;
    }
    default:
        return false;
    }
}

// The string inside an element text: the text between its quotes, or the
// bare text when it is not quoted (as when an unknown type name turns a
// number into a string). Quotes inside, "<" and ">" are refused.
bool stringElement(const char* begin, const char* end, std::string& out) {
    trimRight(end, begin);
    if (begin < end && *begin == '"') {
        if (end - begin < 2 || end[-1] != '"') {
            return false;
        }
        ++begin;
        --end;
    }
    for (const char* p = begin; p < end; ++p) {
        if (*p == '"' || *p == '<' || *p == '>' || *p == '\0') {
            return false;
        }
    }
    out.assign(begin, end);
    return true;
}

// The comma that ends an element, looked for only inside the value's own
// tag so that a stray quote cannot send the search through the whole text.
const char* commaOutsideQuotes(const char* begin, const char* end) {
    bool quoted = false;
    for (const char* p = begin; p < end; ++p) {
        if (*p == '"') {
            quoted = !quoted;
        } else if (!quoted && *p == ',') {
            return p;
        }
    }
    return nullptr;
}

std::atomic<unsigned> g_tempCounter{0};

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
    if (colon == nullptr || colon - text > kMaxValueLabel) {
        return false;
    }

    std::string name(text, colon);
    int count = 1;
    bool bracketed = false;
    const size_t open = name.find('[');
    if (open != std::string::npos) {
        const size_t close = name.find(']', open + 1);
        if (close != std::string::npos) {
            const char* cb = name.c_str() + open + 1;
            const char* ce = name.c_str() + close;
            if (ce - cb > kMaxCountText || !parseInteger(cb, ce, 10, count, true) || count < 0 ||
                count > kMaxElems) {
                return false;
            }
            name.erase(open);
            bracketed = true;
        }
    }

    // Elements: each one up to the next comma outside double quotes.
    std::vector<std::pair<const char*, const char*>> elems;
    const char* p = colon + 1;
    const char* first = skipNonChars(p);
    if (first == nullptr || first > end) {
        return false;
    }
    if (!bracketed && *first == ',') {
        // "<name: , type>": a value that holds no elements.
        count = 0;
    }
    for (int i = 0; i < count; ++i) {
        const char* b = skipNonChars(p);
        if (b == nullptr || b >= end) {
            return false;
        }
        const char* comma = commaOutsideQuotes(b, end);
        if (comma == nullptr || comma - b > kMaxElemText) {
            return false;
        }
        elems.emplace_back(b, comma);
        p = comma + 1;
    }
    if (count == 0) {
        // Step over the lone comma of an empty value, if present.
        const char* b = skipNonChars(p);
        if (b != nullptr && b < end && *b == ',') {
            p = b + 1;
        }
    }
    const char* typeBegin = skipNonChars(p);
    if (typeBegin == nullptr || typeBegin > end || end - typeBegin > kMaxTypeText) {
        return false;
    }
    const std::string typeName(typeBegin, static_cast<size_t>(end - typeBegin));
    const int type = parseDataType(typeName.c_str());

    // Convert everything before anything is stored: a value either reads
    // whole or not at all.
    size_t size = 0;
    unsigned char* block = nullptr;
    if (type == kTypeString) {
        std::string packed;
        std::string element;
        for (const auto& [b, e] : elems) {
            if (!stringElement(b, e, element)) {
                return false;
            }
            packed += element;
            packed += '\0';
        }
        if (count > 0) {
            packed += '\0';
            size = packed.size();
            block = static_cast<unsigned char*>(std::malloc(size));
            if (block == nullptr) {
                return false;
            }
            std::memcpy(block, packed.data(), size);
        }
    } else if (count > 0) {
        const size_t width = (type == kTypeUInt64 || type == kTypeDouble) ? 8 : 4;
        size = width * static_cast<size_t>(count);
        block = static_cast<unsigned char*>(std::calloc(1, size));
        if (block == nullptr) {
            return false;
        }
        for (int i = 0; i < count; ++i) {
            if (!convertElement(type, elems[static_cast<size_t>(i)].first,
                                elems[static_cast<size_t>(i)].second,
                                block + width * static_cast<size_t>(i))) {
                std::free(block);
                return false;
            }
        }
    }

    auto* value = new PropNode;
    value->name = std::move(name);
    value->elems = count;
    value->type = type;
    value->data = block;
    value->size = static_cast<int>(size);
    PropNode** link = &group->firstValue;
    while (*link != nullptr) {
        link = &(*link)->next;
    }
    *link = value;
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
    char* lt = std::strchr(text, '<');
    char* gt = std::strchr(text, '>');
    if (lt == nullptr || gt == nullptr || gt < lt + 2) {
        return nullptr;
    }
    if (lt[1] == '/') {
        return gt + 1;
    }
    if (std::memchr(lt + 1, ':', static_cast<size_t>(gt - lt - 1)) != nullptr) {
        return parseValue(lt + 1, 0, parent) ? gt + 1 : nullptr;
    }

    const size_t nameLen = static_cast<size_t>(gt - lt - 1);
    if (nameLen > kMaxGroupName || std::memchr(lt + 1, '<', nameLen) != nullptr ||
        m_nParseDepth >= kMaxDepth) {
        return nullptr;
    }
    std::string closing = "</";
    closing.append(lt + 1, nameLen);
    closing += '>';
    char* closeStart = std::strstr(gt + 1, closing.c_str());
    if (closeStart == nullptr) {
        std::fputs("ERROR: Enclosing tag specifier missing\n", stdout);
        std::fflush(stdout);
        return nullptr;
    }

    auto* group = new GroupNode;
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

    ++m_nParseDepth;
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
    --m_nParseDepth;
    return closeStart + closing.size();
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
    m_nParseDepth = 0;
    char* pos = m_pTextBuf;
    // Closing tags in front of the head group are skipped like other text.
    while (pos != nullptr && m_pGrpHeadNode == nullptr) {
        pos = parseTag(pos, nullptr);
    }
    if (m_pGrpHeadNode == nullptr) {
        m_pGrpHeadNode = old;
        return false;
    }
    if (old != nullptr) {
        releaseMemGrpNode(old);
        delete old;
    }
    return true;
}

bool Settings::parseScript() {
    return parseText();
}

// ---- writing ----

namespace {

// Appends one element's text in the writer's format. Everything is formatted
// straight into the script being composed: a temporary string per element
// would cost an allocation and a copy for each of them.
void appendElement(const Settings::PropNode* node, int index, std::string& out) {
    if (node == nullptr || index < 0 || index >= node->elems || node->data == nullptr) {
        return;
    }
    const auto* bytes = static_cast<const unsigned char*>(node->data);
    const size_t i = static_cast<size_t>(index);
    const size_t size = static_cast<size_t>(node->size);
    auto sink = std::back_inserter(out);
    // "{:#f}" (six decimals, point always present), then trailing zeros
    // trimmed down to one digit after the point, as trimZeros does.
    auto appendFixed = [&out](double v) {
        fmt::memory_buffer text;
        fmt::format_to(std::back_inserter(text), "{:#f}", v);
        std::string_view view(text.data(), text.size());
        const size_t point = view.find('.');
        if (point != std::string_view::npos) {
            while (view.size() - point - 1 >= 2 && view.back() == '0') {
                view.remove_suffix(1);
            }
        }
        out.append(view);
    };
    switch (node->type) {
    case Settings::kTypeInt: {
        int32_t v = 0;
        if ((i + 1) * 4 <= size) {
            std::memcpy(&v, bytes + i * 4, 4);
            fmt::format_to(sink, "{:d}", v);
        }
        break;
    }
    case Settings::kTypeUInt: {
        uint32_t v = 0;
        if ((i + 1) * 4 <= size) {
            std::memcpy(&v, bytes + i * 4, 4);
            fmt::format_to(sink, "0x{:x}", v);
        }
        break;
    }
    case Settings::kTypeUInt64: {
        uint64_t v = 0;
        if ((i + 1) * 8 <= size) {
            std::memcpy(&v, bytes + i * 8, 8);
            fmt::format_to(sink, "{:d}", v);
        }
        break;
    }
    case Settings::kTypeFloat: {
        float v = 0;
        if ((i + 1) * 4 <= size) {
            std::memcpy(&v, bytes + i * 4, 4);
            // fmt 9 gives the same "{:#f}" text as the C library's "%#f":
            // six decimals, point always present.
            appendFixed(static_cast<double>(v));
        }
        break;
    }
    case Settings::kTypeDouble: {
        double v = 0;
        if ((i + 1) * 8 <= size) {
            std::memcpy(&v, bytes + i * 8, 8);
            appendFixed(v);
        }
        break;
    }
    case Settings::kTypeString: {
        // Walk by position within the block: unlike a scan for the closing
        // double zero this also finds elements behind an empty one.
        const char* p = static_cast<const char*>(node->data);
        const char* limit = p + size;
        for (size_t k = 0; k < i && p < limit; ++k) {
            const void* z = std::memchr(p, '\0', static_cast<size_t>(limit - p));
            p = z != nullptr ? static_cast<const char*>(z) + 1 : limit;
        }
        if (p < limit) {
            const void* z = std::memchr(p, '\0', static_cast<size_t>(limit - p));
            const char* e = z != nullptr ? static_cast<const char*>(z) : limit;
            fmt::format_to(sink, "\"{}\"", std::string_view(p, static_cast<size_t>(e - p)));
        } else {
            out += "\"\"";
        }
        break;
    }
    default:
        break;
    }
}

} // namespace

void Settings::composeElemStr(PropNode* node, int index, std::string& out) {
    out.clear();
    appendElement(node, index, out);
}

bool Settings::composePropNodeToScript(PropNode* node, int depth) {
    if (node == nullptr) {
        return false;
    }
    const size_t tabs = static_cast<size_t>(depth > 0 ? depth : 0);
    auto sink = std::back_inserter(m_strScript);
    m_strScript.append(tabs, '\t');
    if (node->elems < 2) {
        fmt::format_to(sink, "<{}: ", node->name);
    } else {
        m_strScript += '<';
        fmt::format_to(sink, "{}[{}]", node->name, node->elems);
        m_strScript += ": ";
    }
    for (int i = 0; i < node->elems; ++i) {
        appendElement(node, i, m_strScript);
        if (i != node->elems - 1) {
            m_strScript += ", ";
        }
        if (i > 0 && i % 10 == 0) {
            m_strScript += '\n';
            m_strScript.append(tabs, '\t');
        }
    }
    const int type = node->type >= kTypeInt && node->type <= kTypeString ? node->type : kTypeString;
    fmt::format_to(sink, ", {}>\n", m_arDataTypeString[type]);
    return true;
}

bool Settings::composeGrpNodeToScript(GroupNode* node, int depth) {
    if (node == nullptr) {
        return false;
    }
    const size_t tabs = static_cast<size_t>(depth > 0 ? depth : 0);
    auto sink = std::back_inserter(m_strScript);
    for (GroupNode* g = node; g != nullptr; g = g->next) {
        m_strScript.append(tabs, '\t');
        fmt::format_to(sink, "<{}>\n", g->name);
        if (g->firstChild != nullptr) {
            composeGrpNodeToScript(g->firstChild, depth + 1);
        }
        for (PropNode* v = g->firstValue; v != nullptr; v = v->next) {
            composePropNodeToScript(v, depth + 1);
        }
        m_strScript.append(tabs, '\t');
        fmt::format_to(sink, "</{}>\n", g->name);
    }
    return true;
}

Settings::WriteResult Settings::writeScriptTo(const std::string& path) {
    m_outFile.open(path, std::ios::out | std::ios::trunc | std::ios::binary);
    if (!m_outFile.is_open()) {
        m_outFile.clear();
        return WriteResult::NotOpened;
    }
    m_outFile.write(m_strScript.data(), static_cast<std::streamsize>(m_strScript.size()));
    m_outFile.flush();
    const bool written = m_outFile.good();
    m_outFile.close();
    const bool closed = !m_outFile.fail();
    m_outFile.clear();
    return written && closed ? WriteResult::Done : WriteResult::Failed;
}

bool Settings::composeToScript() {
    if (m_strFile.empty()) {
        return false;
    }
    m_strScript.clear();
    const bool composed = composeGrpNodeToScript(m_pGrpHeadNode, 0);
    if (m_strScript.size() > static_cast<size_t>(INT_MAX)) {
        m_strScript.clear();
        return false;
    }
    if (m_bScrambled) {
        // The loader unscrambles any file whose path marks it as scrambled,
        // so such a file is always written scrambled.
        encryptDataBuf(m_strScript.data(), static_cast<int>(m_strScript.size()));
    }

    // Write beside the file and rename over it only when everything is on
    // disk: a failed save never leaves a half-written settings file. A link
    // is followed so that the file it points to is the one replaced.
    std::string target = m_strFile;
    struct stat st {};
    if (lstat(target.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = realpath(target.c_str(), nullptr)) {
            target = real;
            std::free(real);
        }
    }
    // A file that may not be written is not replaced either.
    if (access(target.c_str(), F_OK) == 0 && access(target.c_str(), W_OK) != 0) {
        m_strScript.clear();
        return false;
    }
    const std::string temp = fmt::format("{}.tmp-{}-{}", target, static_cast<long>(getpid()),
                                         g_tempCounter.fetch_add(1));
    const WriteResult toTemp = writeScriptTo(temp);
    if (toTemp == WriteResult::NotOpened) {
        // No file can be made beside it (a folder closed to new files, a
        // name with no room for the suffix): the file is written in place.
        const bool inPlace = writeScriptTo(target) == WriteResult::Done;
        m_strScript.clear();
        return inPlace && composed;
    }
    m_strScript.clear();
    if (toTemp != WriteResult::Done) {
        std::remove(temp.c_str());
        return false;
    }
    if (stat(target.c_str(), &st) == 0) {
        chmod(temp.c_str(), st.st_mode & 07777);
    }
    if (std::rename(temp.c_str(), target.c_str()) != 0) {
        std::remove(temp.c_str());
        return false;
    }
    return composed;
}

} // namespace NSVextra
