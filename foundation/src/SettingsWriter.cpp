// Settings document: the script writer.
#include "NSVextra/Settings.h"
#include "SettingsInternals.h"

#include "FixedText.h"
#include "NSVextra/Scrambler.h"

#include <atomic>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

namespace NSVextra {

namespace {

std::atomic<unsigned> g_tempCounter{0};

void appendDecimal(uint64_t value, std::string& out) {
    const fmt::format_int digits(value);
    out.append(digits.data(), digits.size());
}

void appendDecimal(int32_t value, std::string& out) {
    const fmt::format_int digits(value);
    out.append(digits.data(), digits.size());
}

// "0x" and lowercase hexadecimal digits without leading zeros ("0x0").
void appendHex(uint32_t value, std::string& out) {
    static constexpr char kDigits[] = "0123456789abcdef";
    char text[10];
    char* p = text + sizeof text;
    do {
        *--p = kDigits[value & 0xF];
        value >>= 4;
    } while (value != 0);
    *--p = 'x';
    *--p = '0';
    out.append(p, static_cast<size_t>(text + sizeof text - p));
}

// Appends one element's text in the writer's format. Everything is written
// straight into the script being composed: a temporary string per element
// would cost an allocation and a copy for each of them, and the general
// formatter's parsing of its format string costs more than the text itself.
void appendElement(const Settings::PropNode* node, int index, std::string& out) {
    if (node == nullptr || index < 0 || index >= node->elems || node->data == nullptr) {
        return;
    }
    const auto* bytes = static_cast<const unsigned char*>(node->data);
    const size_t i = static_cast<size_t>(index);
    const size_t size = static_cast<size_t>(node->size);
    switch (node->type) {
    case Settings::kTypeInt: {
        int32_t v = 0;
        if ((i + 1) * 4 <= size) {
            std::memcpy(&v, bytes + i * 4, 4);
            appendDecimal(v, out);
        }
        break;
    }
    case Settings::kTypeUInt: {
        uint32_t v = 0;
        if ((i + 1) * 4 <= size) {
            std::memcpy(&v, bytes + i * 4, 4);
            appendHex(v, out);
        }
        break;
    }
    case Settings::kTypeUInt64: {
        uint64_t v = 0;
        if ((i + 1) * 8 <= size) {
            std::memcpy(&v, bytes + i * 8, 8);
            appendDecimal(v, out);
        }
        break;
    }
    case Settings::kTypeFloat: {
        float v = 0;
        if ((i + 1) * 4 <= size) {
            std::memcpy(&v, bytes + i * 4, 4);
            appendFixedTrimmed(static_cast<double>(v), out);
        }
        break;
    }
    case Settings::kTypeDouble: {
        double v = 0;
        if ((i + 1) * 8 <= size) {
            std::memcpy(&v, bytes + i * 8, 8);
            appendFixedTrimmed(v, out);
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
        out += '"';
        if (p < limit) {
            const void* z = std::memchr(p, '\0', static_cast<size_t>(limit - p));
            const char* e = z != nullptr ? static_cast<const char*>(z) : limit;
            out.append(p, static_cast<size_t>(e - p));
        }
        out += '"';
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
    std::string& out = m_pInternals->script;
    const size_t tabs = static_cast<size_t>(depth > 0 ? depth : 0);
    out.append(tabs, '\t');
    out += '<';
    out += node->name;
    if (node->elems >= 2) {
        out += '[';
        appendDecimal(static_cast<int32_t>(node->elems), out);
        out += ']';
    }
    out += ": ";
    for (int i = 0; i < node->elems; ++i) {
        appendElement(node, i, out);
        if (i != node->elems - 1) {
            out += ", ";
        }
        if (i > 0 && i % 10 == 0) {
            out += '\n';
            out.append(tabs, '\t');
        }
    }
    const int type = node->type >= kTypeInt && node->type <= kTypeString ? node->type : kTypeString;
    out += ", ";
    out += m_arDataTypeString[type];
    out += ">\n";
    return true;
}

bool Settings::composeGrpNodeToScript(GroupNode* node, int depth) {
    if (node == nullptr) {
        return false;
    }
    std::string& out = m_pInternals->script;
    const size_t tabs = static_cast<size_t>(depth > 0 ? depth : 0);
    for (GroupNode* g = node; g != nullptr; g = g->next) {
        out.append(tabs, '\t');
        out += '<';
        out += g->name;
        out += ">\n";
        if (g->firstChild != nullptr) {
            composeGrpNodeToScript(g->firstChild, depth + 1);
        }
        for (PropNode* v = g->firstValue; v != nullptr; v = v->next) {
            composePropNodeToScript(v, depth + 1);
        }
        out.append(tabs, '\t');
        out += "</";
        out += g->name;
        out += ">\n";
    }
    return true;
}

Settings::WriteResult Settings::writeScriptTo(const std::string& path) {
    m_outFile.open(path, std::ios::out | std::ios::trunc | std::ios::binary);
    if (!m_outFile.is_open()) {
        m_outFile.clear();
        return WriteResult::NotOpened;
    }
    m_outFile.write(m_pInternals->script.data(),
                    static_cast<std::streamsize>(m_pInternals->script.size()));
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
    m_pInternals->script.clear();
    const bool composed = composeGrpNodeToScript(m_pGrpHeadNode, 0);
    if (m_pInternals->script.size() > static_cast<size_t>(INT_MAX)) {
        m_pInternals->script.clear();
        return false;
    }
    if (m_bScrambled) {
        // The loader unscrambles any file whose path marks it as scrambled,
        // so such a file is always written scrambled.
        encryptDataBuf(m_pInternals->script.data(), static_cast<int>(m_pInternals->script.size()));
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
        m_pInternals->script.clear();
        return false;
    }
    const std::string temp = fmt::format("{}.tmp-{}-{}", target, static_cast<long>(getpid()),
                                         g_tempCounter.fetch_add(1));
    const WriteResult toTemp = writeScriptTo(temp);
    if (toTemp == WriteResult::NotOpened) {
        // No file can be made beside it (a folder closed to new files, a
        // name with no room for the suffix): the file is written in place.
        const bool inPlace = writeScriptTo(target) == WriteResult::Done;
        m_pInternals->script.clear();
        return inPlace && composed;
    }
    m_pInternals->script.clear();
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
