// The process-wide diagnostics log of the NSVextra library.
//
// One plain text file, "$HOME/Library/Logs/VextraAudio/vextraaudio.log", opened
// (and truncated) while the bundle's static objects are constructed and closed
// when they are destroyed. Every failure worth knowing about in the library is
// written there as one line; nothing ever reads it back.
//
// Logging never fails loudly. When the log cannot be opened (HOME is not set,
// the log folder is missing and cannot be made, a plain file stands where the
// folder should be, or the file cannot be opened) the sink simply stays closed
// for the life of the process and every message is dropped.
//
// Static initialisation order: `dbgSysOut` is constructed with
// init_priority(VX_INIT_PRIORITY_LOG). Any other static object of the bundle
// that may log from its constructor (the timer registry) must use a larger
// number, VX_INIT_PRIORITY_TIMERS, so that it is built after the log and
// destroyed before it.
#pragma once

#include <cstdio>
#include <mutex>

#define VX_INIT_PRIORITY_LOG 200
#define VX_INIT_PRIORITY_TIMERS 210

namespace NSVextra {

class DbgSysOutput {
public:
    // Reads HOME and opens the log; see the file comment for when it stays closed.
    DbgSysOutput();
    ~DbgSysOutput();

    DbgSysOutput(const DbgSysOutput&) = delete;
    DbgSysOutput& operator=(const DbgSysOutput&) = delete;

    // Writes the text exactly as given and flushes; does nothing while closed.
    void output(const char* text);

    // Writes `message` as one error line ("error: " prefix); nothing while closed.
    void outputError(const char* message);

    bool isOpen() const { return m_pFile != nullptr; }

private:
    FILE* m_pFile;
    // Kept for callers that need to group several lines; the write paths do not
    // take it, since one line is one stdio call and stdio locks per stream.
    std::mutex m_mutex;
};

// The one log sink of the library.
extern DbgSysOutput dbgSysOut;

// Longest message kept by _DBG_OUT and DBG_ERROR; longer ones are cut.
constexpr int kDbgMaxMessageLength = 999;

// printf-style message written as one line to `dbgSysOut`. The leading int is
// accepted for the callers' sake and has no effect.
void _DBG_OUT(int, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Like _DBG_OUT, but the line is marked with "error: ". Always returns true so
// that it can stand in a condition or a return statement.
bool DBG_ERROR(int, const char* format, ...) __attribute__((format(printf, 2, 3)));

} // namespace NSVextra
