// Presets saved from one instance come back in another, in a render too.

#include "tool_runner.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

using namespace hosttool;

TEST(HostPreset, SaveShowLoadRenderAndAwkwardNames) {
    Sandbox box;
    const std::string component = bundle("HostTest");
    ToolResult r = box.run({"preset", "save", "mine.aupreset", "--component", component, "--set",
                            "Gain=-3", "--set", "1=123", "--name", "My Echo"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::stringstream text;
    text << std::ifstream(box.path("mine.aupreset")).rdbuf();
    EXPECT_EQ(text.str().rfind("<?xml", 0), 0u) << "an XML property list";
    EXPECT_TRUE(has(text.str(), "<key>manufacturer</key>")) << text.str();
    r = box.run({"preset", "show", "mine.aupreset"});
    EXPECT_EQ(missing(r.out, {"My Echo", "aufx:HTst:VxTs", "123", "-3"}), Missing{}) << r.out;
    r = box.run({"preset", "load", "mine.aupreset", "--component", component});
    EXPECT_EQ(missing(r.out, {"\"My Echo\"", "-3.0 dB", "123.0 msecs"}), Missing{}) << r.out;

    // The preset's delay of 123 ms (5904 frames at 48 kHz) and gain reach a
    // render; a --set after --preset wins.
    writeWav(box.path("in.wav"), impulses(48000, 100, {{0, 1.0f}}));
    const float gain = std::pow(10.0f, -3.0f / 20.0f);
    r = box.run({"render", "--component", component, "--preset", "mine.aupreset", "-i", "in.wav",
                 "-o", "out.wav"});
    ASSERT_EQ(r.status, 0) << r.err;
    const Audio out = readWav(box.path("out.wav"));
    ASSERT_EQ(out.frames(), 100u + 5904u);
    EXPECT_NEAR(out.channels[1][5904], gain, 1e-5f);
    EXPECT_EQ(out.channels[1][5903], 0.0f);
    EXPECT_EQ(out.channels[1][0], 0.0f);
    r = box.run({"render", "--component", component, "--preset", "mine.aupreset", "--set",
                 "Delay=0", "-i", "in.wav", "-o", "out2.wav"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NEAR(readWav(box.path("out2.wav")).channels[0][0], gain, 1e-5f);

    // Names with control characters cannot be carried by XML: saving refuses
    // them and says why, and leaves no file. Every other name saves as a file
    // that an independent reader (Python's plistlib) loads with the name intact.
    const std::string reader = "import plistlib, sys\n"
                               "name = plistlib.load(open(sys.argv[1], 'rb'))['name']\n"
                               "sys.stdout.buffer.write(name.encode('utf-8'))\n";
    const std::string longName = std::string(300, 'x') + " \xE2\x9C\x93";
    for (const std::string& name : {std::string("caf\xC3\xA9 \xE4\xB8\xAD <&> \xF0\x9F\x8E\xB8"),
                                    longName, std::string("tab\there\r\nnew line")}) {
        const std::string preset = box.path("ok.aupreset");
        ToolResult r =
            box.run({"preset", "save", preset, "--component", bundle("HostTest"), "--name", name});
        ASSERT_EQ(r.status, 0) << r.err;
        r = box.runProgram(VX_PYTHON3, {"-c", reader, preset});
        ASSERT_EQ(r.status, 0) << r.err;
        // The carriage return survives: the writer escapes it, as XML would
        // otherwise read it as a line end.
        EXPECT_EQ(r.out, name) << r.out;
    }
    for (const std::string& name : {std::string("bell\x07"), std::string("\x1B[31mred")}) {
        const ToolResult r = box.run({"preset", "save", box.path("bad.aupreset"), "--component",
                                      bundle("HostTest"), "--name", name});
        EXPECT_NE(r.status, 0);
        EXPECT_EQ(missing(r.err, {"cannot be written", "XML 1.0 does not allow"}), Missing{})
            << r.err;
        EXPECT_FALSE(has(r.err, name)) << "the message itself stays printable";
    }
    EXPECT_EQ(box.files(), (std::vector<std::string>{"in.wav", "mine.aupreset", "ok.aupreset",
                                                     "out.wav", "out2.wav"}));
}
