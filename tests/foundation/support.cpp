#include "support.h"

#include <CoreFoundation/CoreFoundation.h>

#include <chrono>
#include <fstream>
#include <sstream>

#include <sys/wait.h>
#include <unistd.h>

namespace vxtest {

namespace {

// Set in child runs, whose HOME is chosen by their parent.
constexpr const char* kChildMark = "VX_FOUNDATION_TEST_CHILD";

// Built before the library's log sink (which opens the log under HOME) and
// destroyed after it. Never below the real home, even when run outside the
// test driver; the log makes only its own folder, not the ones above it.
struct PrivateHome {
    PrivateHome() {
        if (getenv(kChildMark) == nullptr && !home.path().empty()) {
            home.folder("Library/Logs");
            setenv("HOME", home.path().c_str(), 1);
        }
    }
    TempDir home;
};
__attribute__((init_priority(101))) PrivateHome privateHome;

} // namespace

TempDir::TempDir() : m_path(std::filesystem::temp_directory_path().string() + "/vxf-XXXXXX") {
    if (mkdtemp(m_path.data()) == nullptr)
        m_path.clear();
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

void TempDir::file(const std::string& rel, const std::string& bytes) const {
    writeFile(*this / rel, bytes);
}

void TempDir::make(std::initializer_list<const char*> paths) const {
    for (const std::string rel : paths) {
        folder(rel.substr(0, rel.rfind('/') + 1));
        if (!rel.ends_with('/'))
            file(rel);
    }
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string pathOfLength(std::string path, std::size_t length) {
    while (path.size() < length) {
        const std::size_t room = length - path.size() - 1; // one for the "/"
        path += "/" + std::string(std::min<std::size_t>(room, 100), 'd');
        if (room == 0)
            path.back() = 'd'; // never end on a bare "/"
    }
    return path;
}

std::string logFileUnder(const std::string& home) {
    return home + "/Library/Logs/VextraAudio/vextraaudio.log";
}

std::string readLog() {
    return readFile(logFileUnder(privateHome.home.path()));
}

int countLines(const std::string& text, const std::string& line) {
    int count = 0;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        count += l == line ? 1 : 0;
    return count;
}

bool runLoopUntil(const std::function<bool()>& done, double seconds) {
    using Clock = std::chrono::steady_clock;
    const auto until = Clock::now() + std::chrono::duration<double>(seconds);
    for (auto now = Clock::now(); !done() && now < until; now = Clock::now()) {
        const double left = std::chrono::duration<double>(until - now).count();
        CFRunLoopRunInMode(kCFRunLoopDefaultMode, left < 0.01 ? left : 0.01, false);
    }
    return done();
}

ChildRun runTestInChild(const std::string& testName, const std::optional<std::string>& home) {
    ChildRun run;
    TempDir out; // outside the HOME, which some tests want left empty
    const pid_t pid = fork();
    if (pid == 0) {
        setenv(kChildMark, "1", 1);
        home ? setenv("HOME", home->c_str(), 1) : unsetenv("HOME");
        if (freopen((out / "stdout.txt").c_str(), "w", stdout) == nullptr)
            _exit(126);
        const std::string filter = "--gtest_filter=" + testName;
        execl("/proc/self/exe", "child", filter.c_str(), "--gtest_also_run_disabled_tests",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        run.exitCode = WEXITSTATUS(status);
    run.stdOut = readFile(out / "stdout.txt");
    return run;
}

} // namespace vxtest
