// vxhost against the real plug-in bundle and the engine builds, installed
// into a temporary home and support folder the way the demo installs them.

#include "tool_runner.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

namespace fs = std::filesystem;
using namespace hosttool;

TEST(HostWithPlugIn, InfoRenderAndPresetsThroughBothEntries) {
    Sandbox box;
    box.installPlugIn();
    ToolResult r = box.run({"info"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(missing(r.out, {"Vextra-Audio: Delay (aufx:Dlay:Vxta)", "product       Delay",
                              box.folder() + "/support/Delay/audplg"}),
              Missing{})
        << r.out;
    EXPECT_FALSE(has(r.out, "alert")) << r.out;
    // The Component Manager entry is named after the factory. The engine's
    // parameters and the unit's channel configurations come through the bridge.
    r = box.run({"info", "--entry", "cm", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(missing(r.out, {"\"entry\": \"cm\"", "\"function\": \"CAUPluginEntry\"",
                              "\"codes\": \"aufx:Dlay:Vxta\"",
                              "\"name\": \"Delay Time\",\n      \"unit\": \"\",\n      \"min\": "
                              "1,\n      \"max\": 2000,\n      \"default\": 350,",
                              "\"in\": 1,\n      \"out\": 2\n    },\n    {\n      \"in\": 2,\n     "
                              " \"out\": 2\n    }\n  ]"}),
              Missing{})
        << r.out;

    // Fully wet without feedback, the first repeat is the input itself, 250 ms
    // later, however the blocks are cut.
    writeWav(box.path("in.wav"), impulses(48000, 2000, {{100, 0.5f}}));
    for (const char* entry : {"cm", "factory"}) {
        SCOPED_TRACE(entry);
        r = box.run({"render",         "-i",     "in.wav",     "-o",      "out.wav", "--set",
                     "Delay Time=250", "--set",  "Feedback=0", "--set",   "Mix=100", "--set",
                     "Lookahead=5",    "--tail", "0.3",        "--block", "37",      "--offline",
                     "--entry",        entry});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(missing(r.out, {"240 frames, compensated", "offline",
                                  std::string("via the ") + entry + " entry"}),
                  Missing{})
            << r.out;
        const Audio out = readWav(box.path("out.wav"));
        ASSERT_EQ(std::make_pair(out.channels.size(), out.frames()), std::make_pair(2UL, 16400UL));
        for (const auto& channel : out.channels)
            EXPECT_TRUE(loudest(channel) == 12100 && std::fabs(channel[12100] - 0.5f) < 1e-3f);
    }

    ASSERT_EQ(
        box.run({"preset", "save", "p.aupreset", "--set", "Feedback=77", "--entry", "cm"}).status,
        0);
    EXPECT_TRUE(has(box.run({"preset", "show", "p.aupreset"}).out, "Ambrel-Preset-Data-Key: data"));
    EXPECT_TRUE(has(box.run({"preset", "load", "p.aupreset"}).out, "Feedback             77"));
}

TEST(HostWithPlugIn, ValidatePassesTheBundleAndFailsItWithEachBrokenEngine) {
    for (const char* entry : {"factory", "cm"}) {
        Sandbox box;
        box.installPlugIn();
        const ToolResult r = box.run({"validate", "--quick", "--entry", entry});
        EXPECT_TRUE(r.status == 0 && has(r.out, "validate: PASSED")) << entry << "\n" << r.out;
    }
    for (const char* engine : {"nosymbol.dylib", "nullfactory.dylib", "createfails.dylib"}) {
        Sandbox box;
        box.installPlugIn(std::string(VX_TEST_ENGINE_DIR) + "/" + engine);
        const ToolResult r = box.run({"validate", "--quick"});
        // Alerts are reported, not echoed.
        EXPECT_EQ(std::make_tuple(r.status, r.err,
                                  missing(r.out, {"FAIL  open (cold)", "alert", "FAIL  initialize",
                                                  "status -10875 (initialization failed)"})),
                  std::make_tuple(1, "", Missing{}))
            << engine << "\n"
            << r.out;
    }
}

TEST(HostWithPlugIn, DemoScriptInstallsAndRendersTheDelayedSignal) {
    Sandbox box;
    box.setEnv("VX_BUILD_DIR", VX_BUILD_TREE);
    box.setEnv("VX_DEMO_DIR", box.folder() + "/demo");
    box.setEnv("VEXTRA_SUPPORT_FOLDER", "");
    const ToolResult r = box.runProgram("/bin/bash", {VX_DEMO_SCRIPT, "--no-build"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(missing(r.out, {"rendered through Vextra-Audio: Delay",
                              "input     built-in test signal: ", "lv2ls"}),
              Missing{})
        << r.out;
    for (const char* file :
         {"Library/Audio/Plug-Ins/Components/VX-Delay.component/Contents/MacOS/VX-Delay",
          "Library/Application Support/Vextra-Audio/Delay/audplg.dylib",
          "Library/Application Support/Vextra-Audio/Delay/audplga5.dylib",
          ".lv2/VX-Delay.lv2/manifest.ttl", ".lv2/VX-Delay.lv2/vx-lv2-bridge.so"})
        EXPECT_TRUE(fs::exists(box.path(file))) << file;

    // The test signal's click at 0.1 s comes out dry and again 250 ms later,
    // with nothing in between: the tones only start at 0.5 s.
    // The built-in test signal lasts two seconds.
    const Audio dry = readWav(box.path("demo/demo-dry.wav"));
    const Audio wet = readWav(box.path("demo/demo.wav"));
    ASSERT_EQ(std::make_tuple(wet.rate, wet.frames() > 96000, dry.frames(), dry.channels[0][4800]),
              std::make_tuple(48000, true, 96000UL, 0.5f));
    for (const auto& channel : wet.channels) {
        EXPECT_TRUE(std::fabs(channel[4800]) > 0.1f && std::fabs(channel[4800 + 12000]) > 0.1f);
        for (size_t f = 0; f < 4800 + 12000; ++f)
            ASSERT_LT(f == 4800 ? 0 : std::fabs(channel[f]), 1e-6f) << f;
    }
}
