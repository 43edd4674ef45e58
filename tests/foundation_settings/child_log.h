// Runs one test of the current binary in a child process whose HOME is a
// fresh temporary folder, so that the log file the child's static log sink
// opens can be read back whole, untouched by any other test.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

namespace vxtest {

struct ChildRun {
    int exitCode = -1;
    std::string log;    // the child's log file, empty when none was written
    std::string stdOut; // what the child printed on standard output
};

inline std::string readWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// `testName` is a full gtest name; child-only tests are named DISABLED_... so
// that they run only here.
inline ChildRun runTestInChild(const std::string& testName) {
    ChildRun run;
    char pattern[] = "/tmp/vx-childhome-XXXXXX";
    const char* home = mkdtemp(pattern);
    if (home == nullptr) {
        return run;
    }
    const std::filesystem::path homePath(home);
    std::filesystem::create_directories(homePath / "Library" / "Logs");
    const std::filesystem::path outPath = homePath / "stdout.txt";

    const pid_t pid = fork();
    if (pid == 0) {
        setenv("HOME", home, 1);
        if (freopen(outPath.c_str(), "w", stdout) == nullptr) {
            _exit(126);
        }
        const std::string filter = "--gtest_filter=" + testName;
        execl("/proc/self/exe", "child", filter.c_str(), "--gtest_also_run_disabled_tests",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
        run.exitCode = WEXITSTATUS(status);
    }
    run.log = readWholeFile(homePath / "Library" / "Logs" / "VextraAudio" / "vextraaudio.log");
    run.stdOut = readWholeFile(outPath);
    std::error_code ec;
    std::filesystem::remove_all(homePath, ec);
    return run;
}

} // namespace vxtest
