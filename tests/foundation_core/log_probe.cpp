// Logs a few lines chosen by its first argument, through the library's static
// log sink, and reports in its exit status whether the sink was open.
#include "NSVextra/DbgSysOutput.h"
#include "NSVextra/Files.h"

#include <cstring>
#include <string>
#include <thread>
#include <vector>

using namespace NSVextra;

namespace {

constexpr int kExitOpen = 10;
constexpr int kExitClosed = 11;
constexpr int kExitBadResult = 2;
constexpr int kExitUsage = 3;

// 1500 characters cycling through the digits, so that the cut point can be
// read off the text.
std::string longMessage() {
    std::string s;
    for (int i = 0; i < 1500; ++i)
        s += static_cast<char>('0' + i % 10);
    return s;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return kExitUsage;
    std::string scenario = argv[1];
    bool allTrue = true;

    if (scenario == "lines") {
        _DBG_OUT(0, "plain %d", 42);
        allTrue &= DBG_ERROR(0, "bad %s", "thing");
    } else if (scenario == "special") {
        _DBG_OUT(0, "%s", "100% {} {0} %d %s {:x}");
        allTrue &= DBG_ERROR(0, "%s and %d%%", "{}", 5);
    } else if (scenario == "long") {
        std::string s = longMessage();
        _DBG_OUT(0, "%s", s.c_str());
        allTrue &= DBG_ERROR(0, "%s", s.c_str());
    } else if (scenario == "lead") {
        _DBG_OUT(0, "same");
        _DBG_OUT(1, "same");
        allTrue &= DBG_ERROR(0, "err");
        allTrue &= DBG_ERROR(1, "err");
    } else if (scenario == "again") {
        _DBG_OUT(0, "second load");
    } else if (scenario == "threads") {
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
    } else if (scenario == "fullpath" && argc > 2) {
        if (createFullPath(argv[2]))
            return kExitBadResult;
    } else {
        return kExitUsage;
    }
    if (!allTrue)
        return kExitBadResult;
    return dbgSysOut.isOpen() ? kExitOpen : kExitClosed;
}
