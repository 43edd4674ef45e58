// The diagnostics log: where it goes, when it stays closed, and what a line
// looks like. Each child run stands for one load of the bundle.
#include "NSVextra/DbgSysOutput.h"
#include "NSVextra/Files.h"

#include "support.h"

#include <cstdio>
#include <thread>

using namespace NSVextra;
using vxtest::readFile;
using vxtest::runTestInChild;
using vxtest::TempDir;

namespace {

// `count` characters cycling through the digits: a cut point reads off the
// text.
std::string digits(int count) {
    std::string s;
    for (int i = 0; i < count; ++i)
        s += static_cast<char>('0' + i % 10);
    return s;
}

// Whether the child ran and its sink was in `state`.
bool sinkWas(const vxtest::ChildRun& run, const std::string& state) {
    return run.exitCode == 0 && run.stdOut.find("sink " + state) != std::string::npos;
}

} // namespace

TEST(LogChild, DISABLED_Lines) {
    // Percent signs and braces in messages are not interpreted again; long
    // messages are cut to 999 characters.
    _DBG_OUT(0, "plain %d", 42);
    EXPECT_TRUE(DBG_ERROR(1, "bad %s", "thing")); // true whether or not the log is open
    dbgSysOut.output(nullptr);
    _DBG_OUT(1, "%s", "100% {} {0} %d %s {:x}");
    DBG_ERROR(0, "%s and %d%%", "{}", 5);
    const std::string s = digits(1500);
    _DBG_OUT(0, "%s", s.c_str());
    DBG_ERROR(0, "%s", s.c_str());
    // A path through the log file itself: logged.
    EXPECT_FALSE(dbgSysOut.isOpen() && createFullPath(vxtest::logFileUnder(getenv("HOME")) + "/x"));
    std::printf("sink %s\n", dbgSysOut.isOpen() ? "open" : "closed");
}
TEST(LogChild, DISABLED_Threads) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 250; ++i)
                _DBG_OUT(0, "%d:%s", t, std::string(200, static_cast<char>('a' + t)).c_str());
        });
    }
    for (auto& thread : threads)
        thread.join();
    const std::string log = readFile(vxtest::logFileUnder(getenv("HOME")));
    for (int t = 0; t < 4; ++t)
        EXPECT_EQ(vxtest::countLines(log, fmt::format("{}:{}", t, std::string(200, 'a' + t))), 250);
    EXPECT_EQ(log.size(), 4u * 250 * 203);
}

TEST(LogOpening, OwnerOnlyFolderFreshFileExactLinesAndNoLogWithoutAPlace) {
    TempDir home;
    home.folder("Library/Logs");
    const std::string kept = digits(999);
    for (int load = 0; load < 2; ++load) { // each load starts the file afresh
        ASSERT_TRUE(sinkWas(runTestInChild("LogChild.DISABLED_Lines", home.path()), "open"));
        EXPECT_EQ(readFile(vxtest::logFileUnder(home.path())),
                  "plain 42\nerror: bad thing\n100% {} {0} %d %s {:x}\nerror: {} and 5%\n" + kept +
                      "\nerror: " + kept + "\nerror: failed\n");
    }
    // Lines from many threads stay whole.
    EXPECT_EQ(runTestInChild("LogChild.DISABLED_Threads", home.path()).exitCode, 0);
    EXPECT_EQ(std::filesystem::status(home / "Library/Logs/VextraAudio").permissions(),
              std::filesystem::perms::owner_all);

    // A plain file in place of the log folder; a home without Library/Logs
    // (only the last folder is ever made); no HOME at all.
    TempDir blocked, bare;
    blocked.folder("Library/Logs");
    vxtest::writeFile(blocked / "Library/Logs/VextraAudio", "not a folder");
    for (const std::optional<std::string>& where :
         {std::optional(blocked.path()), std::optional(bare.path()), std::optional<std::string>()})
        EXPECT_TRUE(sinkWas(runTestInChild("LogChild.DISABLED_Lines", where), "closed"));
    EXPECT_EQ(readFile(blocked / "Library/Logs/VextraAudio"), "not a folder");
    EXPECT_TRUE(std::filesystem::is_empty(bare.path()));
}
