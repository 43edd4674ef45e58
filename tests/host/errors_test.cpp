// Every bad command line ends with one line on standard error, a non-zero
// status, and no output file.

#include "tool_runner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

using namespace hosttool;

TEST(HostErrors, BadCommandLinesAreRefusedWithOneLineAndNoOutput) {
    Sandbox box;
    writeWav(box.path("in.wav"), impulses(44100, 1000, {{10, 0.5f}}));
    std::ofstream(box.path("text.wav")) << "this is not audio\n";
    // A preset of another component, for a render and for loading.
    ASSERT_EQ(box.run({"preset", "save", "other.aupreset", "--component", bundle("HostTestWrong")})
                  .status,
              0);
    const std::vector<std::string> before = box.files();
    const std::string unit = bundle("HostTest"), out = box.path("out.wav");
    const std::vector<std::string> render = {"render", "--component", unit, "-o", out};
    const std::vector<std::string> in = {"render", "--component", unit, "-o", out, "-i", "in.wav"};
    struct Case {
        int status;
        const char* mentions;
        std::vector<std::string> args, more = {};
    };
    const Case cases[] = {
        {2, "unknown command", {"frobnicate"}},
        {2, "unknown option '--bogus'", render, {"--bogus"}},
        {2, "-o OUT.wav", {"render", "--component", unit, "-i", "in.wav"}},
        {1, "does not exist", render, {"-i", "missing.wav"}},
        {1, "cannot read", render, {"-i", "text.wav"}},
        {2, "unknown parameter 'Wobble'", in, {"--set", "Wobble=1"}},
        {2, "unknown parameter '77'", in, {"--set", "77=1"}},
        {2, "out of range", in, {"--set", "Gain=100"}},
        {2, "not a number", in, {"--set", "Gain=loud"}},
        {2, "--block", render, {"--block", "0"}},
        {2, "--channels", render, {"--channels", "3"}},
        {2, "--rate", render, {"--rate", "fast"}},
        {2, "--entry", render, {"--entry", "sideways"}},
        {2, "output format", {"render", "--component", unit, "-o", "out.mp3"}},
        {1, "does not exist", {"render", "--component", box.path("No.component"), "-o", out}},
        {1, "does not exist", render, {"--preset", "missing.aupreset"}},
        {1, "not a preset", render, {"--preset", "in.wav"}},
        {1, "not installed", {"info"}}, // none given, none installed in this home
        {2, "unknown preset action", {"preset", "twist", "x.aupreset"}},
        {1, "belongs to another component", in, {"--preset", "other.aupreset"}},
        {1,
         "belongs to another component",
         {"preset", "load", "other.aupreset", "--component", unit}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), c.more.begin(), c.more.end());
        const ToolResult r = box.run(args);
        SCOPED_TRACE(::testing::PrintToString(args) + "\n" + r.err);
        // Status, one line, its prefix, what it mentions, no file left behind.
        EXPECT_EQ(std::make_tuple(r.status, std::count(r.err.begin(), r.err.end(), '\n'),
                                  r.err.rfind("vxhost: error: ", 0), has(r.err, c.mentions),
                                  box.files()),
                  std::make_tuple(c.status, 1L, 0UL, true, before));
    }
}
