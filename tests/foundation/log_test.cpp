// The diagnostics log: where it goes, when it stays closed, and what a line
// looks like. Each child run stands for one load of the bundle.
#include "NSVextra/DbgSysOutput.h"
#include "NSVextra/Files.h"

#include "support.h"

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <thread>
#include <vector>

#include <sys/stat.h>

using namespace NSVextra;
using vxtest::readFile;
using vxtest::runTestInChild;
using vxtest::TempDir;

namespace {

// `count` characters cycling through the digits, so that a cut point can be
// read off the text.
std::string digits(int count) {
    std::string s;
    for (int i = 0; i < count; ++i)
        s += static_cast<char>('0' + i % 10);
    return s;
}

// Child-only tests end by saying whether this load's sink was open.
void reportSink() {
    std::printf("sink %s\n", dbgSysOut.isOpen() ? "open" : "closed");
}

bool sinkWas(const vxtest::ChildRun& run, const char* state) {
    return run.exitCode == 0 && run.stdOut.find(std::string("sink ") + state) != std::string::npos;
}

// A home folder with Library/Logs in place, as on a real machine.
struct FakeHome {
    TempDir dir;
    FakeHome() { dir.folder("Library/Logs"); }
    std::string home() const { return dir.path(); }
    std::string folder() const { return dir / "Library/Logs/VextraAudio"; }
    std::string log() const { return readFile(vxtest::logFileUnder(home())); }
};

} // namespace

TEST(LogChild, DISABLED_Lines) {
    _DBG_OUT(0, "plain %d", 42);
    EXPECT_TRUE(DBG_ERROR(0, "bad %s", "thing")); // true whether or not the log is open
    reportSink();
}
TEST(LogChild, DISABLED_Special) {
    _DBG_OUT(0, "%s", "100% {} {0} %d %s {:x}");
    DBG_ERROR(0, "%s and %d%%", "{}", 5);
    reportSink();
}
TEST(LogChild, DISABLED_Long) {
    const std::string s = digits(1500);
    _DBG_OUT(0, "%s", s.c_str());
    DBG_ERROR(0, "%s", s.c_str());
}
TEST(LogChild, DISABLED_LeadingArgument) {
    _DBG_OUT(0, "same");
    _DBG_OUT(1, "same");
    EXPECT_TRUE(DBG_ERROR(0, "err"));
    EXPECT_TRUE(DBG_ERROR(1, "err"));
}
TEST(LogChild, DISABLED_Again) {
    _DBG_OUT(0, "second load");
}
TEST(LogChild, DISABLED_Threads) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            std::string body(200, static_cast<char>('a' + t));
            for (int i = 0; i < 250; ++i)
                _DBG_OUT(0, "%d:%s", t, body.c_str());
        });
    }
    for (auto& thread : threads)
        thread.join();
}
TEST(LogChild, DISABLED_FailedFolder) {
    const std::string blocker = std::string(getenv("HOME")) + "/blocker";
    vxtest::writeFile(blocker, "");
    EXPECT_FALSE(createFullPath(blocker + "/sub"));
}

TEST(LogLines, TextsAreExact) {
    const std::string kept = digits(999);
    const struct {
        const char* child;
        std::string log;
    } rows[] = {
        {"Lines", "plain 42\nerror: bad thing\n"},
        // Percent signs and braces in messages are not interpreted again.
        {"Special", "100% {} {0} %d %s {:x}\nerror: {} and 5%\n"},
        {"Long", kept + "\nerror: " + kept + "\n"}, // cut to 999 characters
        {"LeadingArgument", "same\nsame\nerror: err\nerror: err\n"},
        {"FailedFolder", "error: failed\n"},
    };
    for (const auto& row : rows) {
        const vxtest::ChildRun run = runTestInChild(std::string("LogChild.DISABLED_") + row.child);
        EXPECT_EQ(run.exitCode, 0) << row.child << "\n" << run.stdOut;
        EXPECT_EQ(run.log, row.log) << row.child;
    }
}

TEST(LogLines, LinesFromManyThreadsStayWhole) {
    std::istringstream in(runTestInChild("LogChild.DISABLED_Threads").log);
    int count = 0;
    for (std::string line; std::getline(in, line); ++count) {
        ASSERT_EQ(line.size(), 202u) << line;
        const int t = line[0] - '0';
        ASSERT_TRUE(t >= 0 && t < 4) << line;
        EXPECT_EQ(line.substr(1), ":" + std::string(200, static_cast<char>('a' + t)));
    }
    EXPECT_EQ(count, 4 * 250);
}

TEST(LogOpening, MissingLogFolderIsCreatedOwnerOnlyAndEachLoadStartsAfresh) {
    FakeHome home;
    ASSERT_TRUE(sinkWas(runTestInChild("LogChild.DISABLED_Lines", home.home()), "open"));
    struct stat st {};
    ASSERT_EQ(stat(home.folder().c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    EXPECT_EQ(home.log(), "plain 42\nerror: bad thing\n");
    runTestInChild("LogChild.DISABLED_Again", home.home());
    EXPECT_EQ(home.log(), "second load\n");
}

TEST(LogOpening, LogStaysClosedWithoutAPlaceForIt) {
    // A plain file in place of the log folder.
    FakeHome blocked;
    vxtest::writeFile(blocked.folder(), "not a folder");
    EXPECT_TRUE(sinkWas(runTestInChild("LogChild.DISABLED_Lines", blocked.home()), "closed"));
    EXPECT_EQ(readFile(blocked.folder()), "not a folder");
    // Only the last folder is made, never Library/Logs above it.
    TempDir bare;
    EXPECT_TRUE(sinkWas(runTestInChild("LogChild.DISABLED_Lines", bare.path()), "closed"));
    EXPECT_TRUE(std::filesystem::is_empty(bare.path()));
    // No HOME at all.
    EXPECT_TRUE(sinkWas(runTestInChild("LogChild.DISABLED_Lines", std::nullopt), "closed"));
}

TEST(LogSink, OutputWritesTextExactlyExtraSinksTruncateClosedSinksDrop) {
    FakeHome home;
    const std::string saved = getenv("HOME");
    setenv("HOME", home.home().c_str(), 1);
    {
        DbgSysOutput sink;
        ASSERT_TRUE(sink.isOpen());
        sink.output("no newline added %d {}");
        sink.output("");
        sink.outputError("msg");
        EXPECT_EQ(home.log(), "no newline added %d {}error: msg\n");
    }
    {
        DbgSysOutput sink;
        ASSERT_TRUE(sink.isOpen());
        EXPECT_EQ(home.log(), "");
    }
    unsetenv("HOME");
    {
        DbgSysOutput sink;
        EXPECT_FALSE(sink.isOpen());
        sink.output("dropped");
        sink.outputError("dropped");
        sink.output(nullptr);
    }
    setenv("HOME", saved.c_str(), 1);
}
