// The diagnostics log sink and its two formatting entry points.
#include "NSVextra/DbgSysOutput.h"

#include <cstdarg>
#include <cstdlib>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

namespace NSVextra {

namespace {

constexpr const char* kLogFolderUnderHome = "/Library/Logs/VextraAudio";
constexpr const char* kLogFileName = "vextraaudio.log";

// Room for the longest kept message and its terminator.
constexpr int kMessageBufferSize = kDbgMaxMessageLength + 1;

bool isDirectory(const std::string& path) {
    struct stat st {};
    return access(path.c_str(), F_OK) == 0 && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// One stdio call per line: the stream's own lock keeps lines from different
// threads whole. The flush right after keeps the file complete should the
// host die.
void writeLine(FILE* file, const std::string& line) {
    if (!file)
        return;
    fwrite(line.data(), 1, line.size(), file);
    fflush(file);
}

// The printf-style message, cut to the buffer; an absent format is an empty
// message.
void formatMessage(char (&message)[kMessageBufferSize], const char* format, va_list args) {
    message[0] = '\0';
    if (format)
        vsnprintf(message, sizeof message, format, args);
}

} // namespace

DbgSysOutput::DbgSysOutput() : m_pFile(nullptr) {
    // Without HOME there is nowhere sensible to write; the log stays closed
    // rather than guessing a folder.
    const char* home = getenv("HOME");
    if (!home)
        return;

    std::string folder = std::string(home) + kLogFolderUnderHome;
    if (!isDirectory(folder)) {
        // Only the last component is made: a home without Library/Logs is not
        // ours to fill in.
        if (mkdir(folder.c_str(), 0700) != 0)
            return;
    }
    std::string file = folder + "/" + kLogFileName;
    m_pFile = fopen(file.c_str(), "w+");
}

DbgSysOutput::~DbgSysOutput() {
    if (m_pFile) {
        fclose(m_pFile);
        m_pFile = nullptr;
    }
}

void DbgSysOutput::output(const char* text) {
    if (!m_pFile || !text)
        return;
    fputs(text, m_pFile);
    fflush(m_pFile);
}

void DbgSysOutput::outputError(const char* message) {
    if (!m_pFile || !message)
        return;
    writeLine(m_pFile, fmt::format("error: {}\n", message));
}

// Constructed before any other static object of the bundle that may log.
__attribute__((init_priority(VX_INIT_PRIORITY_LOG))) DbgSysOutput dbgSysOut;

void _DBG_OUT(int, const char* format, ...) {
    char message[kMessageBufferSize];
    va_list args;
    va_start(args, format);
    formatMessage(message, format, args);
    va_end(args);
    // The message goes in as an argument, never as the format: braces and
    // percent signs in it are kept as they are.
    std::string line = fmt::format("{}\n", message);
    dbgSysOut.output(line.c_str());
}

bool DBG_ERROR(int, const char* format, ...) {
    char message[kMessageBufferSize];
    va_list args;
    va_start(args, format);
    formatMessage(message, format, args);
    va_end(args);
    dbgSysOut.outputError(message);
    return true;
}

} // namespace NSVextra
