// vxhost against the real plug-in bundle and the engine builds, installed
// into a temporary home and support folder the way the demo installs them.

#include "tool_runner.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

namespace fs = std::filesystem;
using namespace hosttool;

namespace {
const char* const kBuilds[] = {"audplg.dylib", "audplga.dylib", "audplga2.dylib", "audplga5.dylib"};
} // namespace

TEST(HostWithPlugIn, InfoNamesTheEngineBuildTheUnitLoaded) {
    Sandbox box;
    box.installPlugIn();
    const ToolResult r = box.run({"info"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(missing(r.out, {"Vextra-Audio: Delay (aufx:Dlay:Vxta)", "product       Delay",
                              "Delay Time"}),
              Missing{})
        << r.out;
    EXPECT_TRUE(has(r.out, box.folder() + "/support/Delay/audplg")) << r.out;
    EXPECT_FALSE(has(r.out, "alert")) << r.out;

    // The Component Manager entry is named after the factory.
    const ToolResult cm = box.run({"info", "--entry", "cm", "--json"});
    ASSERT_EQ(cm.status, 0) << cm.err;
    EXPECT_EQ(missing(cm.out, {"\"entry\": \"cm\"", "\"function\": \"CAUPluginEntry\"",
                               "\"codes\": \"aufx:Dlay:Vxta\""}),
              Missing{})
        << cm.out;
}

TEST(HostWithPlugIn, RenderedImpulseIsTheDelayedInputWithLookaheadCompensated) {
    Sandbox box;
    box.installPlugIn();
    writeWav(box.path("in.wav"), impulses(48000, 2000, {{100, 0.5f}}));
    // Fully wet without feedback, the first repeat is the input itself, 250 ms later.
    const ToolResult r =
        box.run({"render", "-i", box.path("in.wav"), "-o", box.path("out.wav"), "--set",
                 "Delay Time=250", "--set", "Feedback=0", "--set", "Mix=100", "--set",
                 "Lookahead=5", "--tail", "0.3", "--entry", "cm", "--offline"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(missing(r.out, {"240 frames, compensated", "via the cm entry", "offline"}), Missing{})
        << r.out;
    const Audio out = readWav(box.path("out.wav"));
    ASSERT_EQ(out.channels.size(), 2u);
    ASSERT_EQ(out.frames(), 2000u + 14400u);
    for (const auto& channel : out.channels) {
        EXPECT_EQ(loudest(channel), 100u + 12000u);
        EXPECT_NEAR(channel[100 + 12000], 0.5f, 1e-3f);
    }
}

TEST(HostWithPlugIn, ValidatePassesTheBundleAndFailsItWithEachBrokenEngine) {
    for (const char* entry : {"factory", "cm"}) {
        Sandbox box;
        box.installPlugIn();
        const ToolResult r = box.run({"validate", "--quick", "--entry", entry});
        EXPECT_EQ(r.status, 0) << entry << "\n" << r.out << r.err;
        EXPECT_TRUE(has(r.out, "validate: PASSED")) << entry << "\n" << r.out;
    }
    for (const char* engine : {"nosymbol.dylib", "nullfactory.dylib", "createfails.dylib"}) {
        Sandbox box;
        box.installPlugIn(std::string(VX_TEST_ENGINE_DIR) + "/" + engine);
        const ToolResult r = box.run({"validate", "--quick"});
        EXPECT_EQ(r.status, 1) << engine << "\n" << r.out << r.err;
        EXPECT_EQ(missing(r.out, {"FAIL  open (cold)", "alert", "FAIL  initialize",
                                  "status -10875 (initialization failed)"}),
                  Missing{})
            << engine << "\n"
            << r.out;
        EXPECT_EQ(r.err, "") << "alerts are reported, not echoed";
    }
}

TEST(HostWithPlugIn, PresetRoundTripCarriesTheEngineState) {
    Sandbox box;
    box.installPlugIn();
    ToolResult r = box.run(
        {"preset", "save", box.path("p.aupreset"), "--set", "Feedback=77", "--entry", "cm"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = box.run({"preset", "show", box.path("p.aupreset")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(has(r.out, "Ambrel-Preset-Data-Key: data")) << r.out;
    r = box.run({"preset", "load", box.path("p.aupreset")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(has(r.out, "Feedback             77")) << r.out;
}

TEST(HostWithPlugIn, DemoScriptInstallsAndRendersTheDelayedSignal) {
    Sandbox box;
    box.setEnv("VX_BUILD_DIR", VX_BUILD_TREE);
    box.setEnv("VX_DEMO_DIR", box.folder() + "/demo");
    box.setEnv("VEXTRA_SUPPORT_FOLDER", "");
    const ToolResult r = box.runProgram("/bin/bash", {VX_DEMO_SCRIPT, "--no-build"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(fs::exists(box.folder() +
                           "/Library/Audio/Plug-Ins/Components/VX-Delay.component/Contents/MacOS/"
                           "VX-Delay"));
    for (const char* build : kBuilds)
        EXPECT_TRUE(
            fs::exists(box.folder() + "/Library/Application Support/Vextra-Audio/Delay/" + build));
    EXPECT_TRUE(has(r.out, "rendered through Vextra-Audio: Delay")) << r.out;
    for (const char* file : {"manifest.ttl", "plugin.ttl", "vx-lv2-bridge.so", "vx-bridge.txt"})
        EXPECT_TRUE(fs::exists(box.folder() + "/.lv2/VX-Delay.lv2/" + file)) << file;
    EXPECT_TRUE(has(r.out, "lv2ls")) << r.out;

    // The test signal's click at 0.1 s comes out dry and again 250 ms later,
    // with nothing in between: the tones only start at 0.5 s.
    const Audio dry = readWav(box.folder() + "/demo/demo-dry.wav");
    const Audio wet = readWav(box.folder() + "/demo/demo.wav");
    ASSERT_EQ(wet.rate, 48000);
    ASSERT_GT(wet.frames(), 96000u);
    EXPECT_NEAR(dry.channels[0][4800], 0.5f, 1e-6f);
    for (const auto& channel : wet.channels) {
        EXPECT_GT(std::fabs(channel[4800]), 0.1f);
        EXPECT_GT(std::fabs(channel[4800 + 12000]), 0.1f);
        for (size_t f = 0; f < 4800; ++f)
            ASSERT_EQ(channel[f], 0.0f) << f;
        for (size_t f = 4801; f < 4800 + 12000; ++f)
            ASSERT_LT(std::fabs(channel[f]), 1e-6f) << f;
    }
}
