// Scratch folders, whole files, the private HOME this program logs under, and
// one test of this program run in a child process with a HOME of its own.
#pragma once

#include "NSVextra/Settings.h"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace vxtest {

// A scratch folder that lives as long as the object, with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& rel) const { return m_path + "/" + rel; }
    void folder(const std::string& rel) const { std::filesystem::create_directories(*this / rel); }
    void file(const std::string& rel, const std::string& bytes = "x") const;
    // Folders (named with a trailing "/") and files holding "x", each with the
    // folders above it.
    void make(std::initializer_list<const char*> paths) const;

private:
    std::string m_path;
};

// A fixture owning one scratch folder; path() names a file in it.
class TempDirTest : public ::testing::Test {
protected:
    std::string path(const std::string& name) const { return tmp / name; }
    TempDir tmp;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
inline bool exists(const std::string& path) {
    return std::filesystem::exists(path);
}

// `path` extended to exactly `length` characters by folder names of at most
// 100 characters, short enough for any file system.
std::string pathOfLength(std::string path, std::size_t length);

// The log file a load of the library opens under `home`.
std::string logFileUnder(const std::string& home);
// The log of this program so far (under the private HOME made before it
// opened); how many times `line` is a whole line of `text`, or of what was
// logged after the log read `before`.
std::string readLog();
int countLines(const std::string& text, const std::string& line);
inline int loggedSince(const std::string& before, const std::string& line) {
    return countLines(readLog().substr(before.size()), line);
}

// Runs this thread's run loop until done() holds or `seconds` pass; answers
// done(). runLoopFor is for checks that something does NOT happen.
bool runLoopUntil(const std::function<bool()>& done, double seconds);
inline void runLoopFor(double seconds) {
    runLoopUntil([] { return false; }, seconds);
}

struct ChildRun {
    int exitCode = -1;
    std::string stdOut; // what the child printed on standard output
};

// Runs the test `testName` of this program (child-only tests are named
// DISABLED_... so that they run only here) with HOME set to `home`, or unset
// when there is none. Each run stands for one load of the bundle.
ChildRun runTestInChild(const std::string& testName, const std::optional<std::string>& home);

// Parses `script` as a document held in memory (no file, not scrambled).
inline bool parseText(NSVextra::Settings& doc, const std::string& script) {
    return doc.loadMemFile(reinterpret_cast<unsigned char*>(const_cast<char*>(script.data())),
                           script.size());
}

} // namespace vxtest
