// The diagnostics log: where it goes, when it stays closed, and what a line
// looks like. Each run of the probe program stands for one load of the bundle.
#include "NSVextra/DbgSysOutput.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <set>
#include <sstream>
#include <vector>

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

extern char** environ;

namespace {

constexpr int kProbeOpen = 10;
constexpr int kProbeClosed = 11;

// The current environment with HOME replaced (or removed when `home` is empty).
std::vector<std::string> environmentWithHome(const std::optional<std::string>& home) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        if (std::strncmp(*e, "HOME=", 5) != 0)
            env.emplace_back(*e);
    }
    if (home)
        env.push_back("HOME=" + *home);
    return env;
}

// Runs the probe with the scenario and returns its exit status (-1 when it
// did not exit normally).
int runProbe(const std::optional<std::string>& home, const std::string& scenario,
             const std::string& extra = {}) {
    std::vector<std::string> env = environmentWithHome(home);
    std::vector<char*> envp;
    for (auto& entry : env)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    std::string program = VX_LOG_PROBE_PATH;
    std::string arg1 = scenario;
    std::string arg2 = extra;
    std::vector<char*> argv{program.data(), arg1.data()};
    if (!extra.empty())
        argv.push_back(arg2.data());
    argv.push_back(nullptr);

    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0)
        return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// A home folder with Library/Logs in place, as on a real machine.
struct FakeHome {
    TempDir dir;
    FakeHome() { std::filesystem::create_directories(dir / "Library/Logs"); }
    std::string home() const { return dir.path(); }
    std::string folder() const { return dir / "Library/Logs/VextraAudio"; }
    std::string file() const { return folder() + "/vextraaudio.log"; }
};

// Sets HOME for the lifetime of the object; in-process sinks read it when built.
class ScopedHome {
public:
    explicit ScopedHome(const char* home) {
        if (const char* old = getenv("HOME"))
            mOld = old;
        if (home)
            setenv("HOME", home, 1);
        else
            unsetenv("HOME");
    }
    ~ScopedHome() {
        if (mOld)
            setenv("HOME", mOld->c_str(), 1);
        else
            unsetenv("HOME");
    }

private:
    std::optional<std::string> mOld;
};

std::string digits(int count) {
    std::string s;
    for (int i = 0; i < count; ++i)
        s += static_cast<char>('0' + i % 10);
    return s;
}

TEST(LogLines, PlainAndErrorLinesAreFormattedLikePrintf) {
    FakeHome home;
    ASSERT_EQ(runProbe(home.home(), "lines"), kProbeOpen);
    EXPECT_EQ(readWholeFile(home.file()), "plain 42\nerror: bad thing\n");
}

TEST(LogLines, PercentAndBracesInMessagesAreNotInterpretedAgain) {
    FakeHome home;
    ASSERT_EQ(runProbe(home.home(), "special"), kProbeOpen);
    EXPECT_EQ(readWholeFile(home.file()), "100% {} {0} %d %s {:x}\nerror: {} and 5%\n");
}

TEST(LogLines, LongMessagesAreCutTo999Characters) {
    FakeHome home;
    ASSERT_EQ(runProbe(home.home(), "long"), kProbeOpen);
    std::string kept = digits(999);
    EXPECT_EQ(readWholeFile(home.file()), kept + "\n" + "error: " + kept + "\n");
}

TEST(LogLines, LeadingArgumentChangesNothing) {
    FakeHome home;
    ASSERT_EQ(runProbe(home.home(), "lead"), kProbeOpen);
    EXPECT_EQ(readWholeFile(home.file()), "same\nsame\nerror: err\nerror: err\n");
}

TEST(LogLines, LinesFromManyThreadsStayWhole) {
    FakeHome home;
    ASSERT_EQ(runProbe(home.home(), "threads"), kProbeOpen);
    std::istringstream in(readWholeFile(home.file()));
    std::string line;
    int count = 0;
    while (std::getline(in, line)) {
        ++count;
        ASSERT_EQ(line.size(), 202u) << line;
        int t = line[0] - '0';
        ASSERT_TRUE(t >= 0 && t < 4) << line;
        EXPECT_EQ(line.substr(1), ":" + std::string(200, static_cast<char>('a' + t)));
    }
    EXPECT_EQ(count, 4 * 250);
}

TEST(LogOpening, MissingLogFolderIsCreatedOwnerOnly) {
    FakeHome home;
    ASSERT_FALSE(std::filesystem::exists(home.folder()));
    ASSERT_EQ(runProbe(home.home(), "lines"), kProbeOpen);
    struct stat st {};
    ASSERT_EQ(stat(home.folder().c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    EXPECT_TRUE(std::filesystem::is_regular_file(home.file()));
}

TEST(LogOpening, EachLoadStartsTheFileAfresh) {
    FakeHome home;
    ASSERT_EQ(runProbe(home.home(), "lines"), kProbeOpen);
    ASSERT_EQ(runProbe(home.home(), "again"), kProbeOpen);
    EXPECT_EQ(readWholeFile(home.file()), "second load\n");
}

TEST(LogOpening, PlainFileInPlaceOfTheFolderLeavesTheLogClosed) {
    FakeHome home;
    writeWholeFile(home.folder(), "not a folder");
    // DBG_ERROR still answers true (the probe checks it) while nothing is written.
    EXPECT_EQ(runProbe(home.home(), "lines"), kProbeClosed);
    EXPECT_EQ(readWholeFile(home.folder()), "not a folder");
    EXPECT_FALSE(std::filesystem::exists(home.file()));
}

TEST(LogOpening, OnlyTheLastFolderIsCreated) {
    TempDir home; // no Library/Logs
    EXPECT_EQ(runProbe(home.path(), "lines"), kProbeClosed);
    EXPECT_TRUE(std::filesystem::is_empty(home.path()));
}

TEST(LogOpening, UnsetHomeLeavesTheLogClosed) {
    EXPECT_EQ(runProbe(std::nullopt, "lines"), kProbeClosed);
}

TEST(LogOpening, FailingFolderCreationIsLoggedAsFailed) {
    FakeHome home;
    writeWholeFile(home.dir / "blocker", "");
    ASSERT_EQ(runProbe(home.home(), "fullpath", home.dir / "blocker/sub"), kProbeOpen);
    EXPECT_EQ(readWholeFile(home.file()), "error: failed\n");
}

TEST(LogSink, OutputWritesTextExactlyAndExtraSinksTruncate) {
    FakeHome home;
    ScopedHome scoped(home.home().c_str());
    {
        NSVextra::DbgSysOutput sink;
        ASSERT_TRUE(sink.isOpen());
        sink.output("no newline added %d {}");
        sink.output("");
        sink.outputError("msg");
        EXPECT_EQ(readWholeFile(home.file()), "no newline added %d {}error: msg\n");
    }
    {
        NSVextra::DbgSysOutput sink;
        ASSERT_TRUE(sink.isOpen());
        EXPECT_EQ(readWholeFile(home.file()), "");
    }
}

TEST(LogSink, ClosedSinkDropsEverything) {
    ScopedHome scoped(nullptr);
    NSVextra::DbgSysOutput sink;
    EXPECT_FALSE(sink.isOpen());
    sink.output("dropped");
    sink.outputError("dropped");
    sink.output(nullptr);
}

} // namespace
