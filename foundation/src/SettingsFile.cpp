// Settings document: its file, loading from file or memory, saving.
#include "NSVextra/Settings.h"

#include "NSVextra/DbgSysOutput.h"
#include "NSVextra/Paths.h"
#include "NSVextra/Scrambler.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>

namespace NSVextra {

namespace {

// The scrambler works on signed 32-bit sizes; larger texts are refused the
// way a failed allocation is.
constexpr unsigned long long kMaxTextSize = static_cast<unsigned long long>(INT_MAX) - 1;

} // namespace

void Settings::setFile(const char* path) {
    if (path == nullptr) {
        return;
    }
    m_strFile = path;
    m_bScrambled = m_strFile.find(".esf") != std::string::npos;
}

void Settings::freeTextBuffer() {
    std::free(m_pTextBuf);
    m_pTextBuf = nullptr;
    m_nTextSize = 0;
}

bool Settings::fillTextBuffer(const unsigned char* data, unsigned long long size) {
    freeTextBuffer();
    if (data == nullptr) {
        size = 0;
    }
    if (size > kMaxTextSize) {
        return false;
    }
    // Every byte is copied over and the terminator set below, so the buffer
    // needs no clearing first.
    m_pTextBuf = static_cast<char*>(std::malloc(static_cast<size_t>(size) + 1));
    if (m_pTextBuf == nullptr) {
        return false;
    }
    if (size > 0) {
        std::memcpy(m_pTextBuf, data, static_cast<size_t>(size));
    }
    m_nTextSize = size;
    if (m_bScrambled) {
        decryptDataBuf(m_pTextBuf, static_cast<int>(m_nTextSize));
    }
    m_pTextBuf[m_nTextSize] = '\0';
    return true;
}

bool Settings::parseLoadedText() {
    m_bLoaded = parseText();
    // The tree keeps no reference into the text.
    freeTextBuffer();
    if (!m_bLoaded) {
        DBG_ERROR(0, "ERROR: failed to parse script: <%s>", m_strFile.c_str());
        return false;
    }
    return true;
}

bool Settings::loadFile() {
    const char* path = m_strFile.c_str();
    if (m_strFile.empty() || !fileExists(path)) {
        m_bLoaded = false;
        return false;
    }
    FILE* file = std::fopen(path, "rb");
    struct stat st {};
    if (file != nullptr && (fstat(fileno(file), &st) != 0 || S_ISDIR(st.st_mode))) {
        // A folder opens for reading on this system but holds no text.
        std::fclose(file);
        file = nullptr;
        errno = EISDIR;
    }
    if (file == nullptr) {
        const int err = errno;
        _DBG_OUT(0, "ERROR: failed to open file. error code = %i", err);
        _DBG_OUT(0, "<%s>", path);
        DBG_ERROR(0, "ERROR: failed to open file <%s> error code = %i", path, err);
        m_bLoaded = false;
        return false;
    }

    long end = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) {
        end = std::ftell(file);
    }
    std::fseek(file, 0, SEEK_SET);
    const unsigned long long size = end > 0 ? static_cast<unsigned long long>(end) : 0;

    freeTextBuffer();
    if (size <= kMaxTextSize) {
        m_pTextBuf = static_cast<char*>(std::calloc(1, static_cast<size_t>(size) + 1));
    }
    if (m_pTextBuf == nullptr) {
        std::fclose(file);
        DBG_ERROR(0, "failed to allocate memory buffer for the file <%s>", path);
        m_bLoaded = false;
        return false;
    }
    m_nTextSize = size > 0 ? std::fread(m_pTextBuf, 1, static_cast<size_t>(size), file) : 0;
    std::fclose(file);

    if (m_nTextSize == 0) {
        freeTextBuffer();
        DBG_ERROR(0, "ERROR: file is zero");
        m_bLoaded = false;
        return false;
    }
    if (m_bScrambled) {
        decryptDataBuf(m_pTextBuf, static_cast<int>(m_nTextSize));
    }
    m_pTextBuf[m_nTextSize] = '\0';
    return parseLoadedText();
}

bool Settings::loadMemFile(unsigned char* data, unsigned long long size) {
    const char* path = m_strFile.c_str();
    if (!fillTextBuffer(data, size)) {
        DBG_ERROR(0, "failed to allocate memory buffer for the file <%s>", path);
        DBG_ERROR(0, "ERROR: failed to load script from package: <%s>", path);
        m_bLoaded = false;
        return false;
    }
    return parseLoadedText();
}

bool Settings::loadScriptFromMem(unsigned char* data, unsigned long long size) {
    if (!fillTextBuffer(data, size)) {
        DBG_ERROR(0, "failed to allocate memory buffer for the file <%s>", m_strFile.c_str());
        return false;
    }
    return true;
}

bool Settings::commit() {
    m_bModified = false;
    if (m_pGrpHeadNode == nullptr) {
        DBG_ERROR(0, "m_pGrpHeadNode = null");
        return false;
    }
    return composeToScript();
}

} // namespace NSVextra
