// Every bad command line ends with one line on standard error, a non-zero
// status, and no output file.

#include "tool_runner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

using namespace hosttool;

namespace {

void expectRefused(const Sandbox& box, const std::vector<std::string>& args, int status,
                   const std::string& mentions) {
    const std::vector<std::string> before = box.files();
    const ToolResult r = box.run(args);
    const std::string joined = ::testing::PrintToString(args);
    EXPECT_EQ(r.status, status) << joined << "\n" << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << joined << "\n" << r.err;
    EXPECT_EQ(r.err.rfind("vxhost: error: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(mentions), std::string::npos) << joined << "\n" << r.err;
    EXPECT_EQ(box.files(), before) << joined << ": no file may be left behind";
}

} // namespace

TEST(HostErrors, BadCommandLinesAreRefusedWithOneLineAndNoOutput) {
    Sandbox box;
    writeWav(box.path("in.wav"), impulses(44100, 1000, {{10, 0.5f}}));
    std::ofstream(box.path("text.wav")) << "this is not audio\n";
    const std::string component = bundle("HostTest");
    const std::string out = box.path("out.wav");
    auto render = [&](std::vector<std::string> extra) {
        std::vector<std::string> args = {"render", "--component", component, "-o", out};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    };

    expectRefused(box, {"frobnicate"}, 2, "unknown command");
    expectRefused(box, render({"--bogus"}), 2, "unknown option '--bogus'");
    expectRefused(box, {"render", "--component", component, "-i", box.path("in.wav")}, 2,
                  "-o OUT.wav");
    expectRefused(box, render({"-i", box.path("missing.wav")}), 1, "does not exist");
    expectRefused(box, render({"-i", box.path("text.wav")}), 1, "cannot read");
    expectRefused(box, render({"-i", box.path("in.wav"), "--set", "Wobble=1"}), 2,
                  "unknown parameter 'Wobble'");
    expectRefused(box, render({"-i", box.path("in.wav"), "--set", "77=1"}), 2,
                  "unknown parameter '77'");
    expectRefused(box, render({"-i", box.path("in.wav"), "--set", "Gain=100"}), 2, "out of range");
    expectRefused(box, render({"-i", box.path("in.wav"), "--set", "Gain=loud"}), 2, "not a number");
    expectRefused(box, render({"--block", "0"}), 2, "--block");
    expectRefused(box, render({"--channels", "3"}), 2, "--channels");
    expectRefused(box, render({"--rate", "fast"}), 2, "--rate");
    expectRefused(box, render({"--entry", "sideways"}), 2, "--entry");
    expectRefused(box, {"render", "--component", component, "-o", box.path("out.mp3")}, 2,
                  "output format");
    expectRefused(box, {"render", "--component", box.path("Nowhere.component"), "-o", out}, 1,
                  "does not exist");
    expectRefused(box, render({"--preset", box.path("missing.aupreset")}), 1, "does not exist");
    expectRefused(box, render({"--preset", box.path("in.wav")}), 1, "not a preset");
    // No component given and none installed in this home.
    expectRefused(box, {"info"}, 1, "not installed");
    expectRefused(box, {"preset", "twist", "x.aupreset"}, 2, "unknown preset action");

    // A preset of another component, for a render and for loading.
    const ToolResult saved =
        box.run({"preset", "save", "other.aupreset", "--component", bundle("HostTestWrong")});
    ASSERT_EQ(saved.status, 0) << saved.err;
    expectRefused(box, render({"-i", "in.wav", "--preset", "other.aupreset"}), 1,
                  "belongs to another component");
    expectRefused(box, {"preset", "load", "other.aupreset", "--component", component}, 1,
                  "belongs to another component");
}
