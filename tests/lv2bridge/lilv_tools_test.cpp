// The exported bridge in front of hosts nobody on this project wrote: lilv's
// own tools list, describe and run VX-Delay from a bundle vxhost exported
// into a temporary LV2_PATH, with the plug-in and its engines installed in
// the sandbox's home the way the demo installs them.
#include "tool_runner.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

namespace fs = std::filesystem;
using namespace hosttool;

namespace {

constexpr const char* kStereo = "urn:vextra-audio:lv2-bridge:aufx:Dlay:Vxta";
constexpr const char* kMono = "urn:vextra-audio:lv2-bridge:aufx:Dlay:Vxta-mono";

// The plug-in bundle, its engines (or none) and an export of it on LV2_PATH.
void installAndExport(Sandbox& box, bool engines = true) {
    box.installPlugIn();
    box.setEnv("LV2_PATH", box.folder() + "/lv2");
    const ToolResult r = box.run({"export-lv2", "--out", box.path("lv2/VX-Delay.lv2")});
    ASSERT_EQ(r.status, 0) << r.err;
    if (!engines)
        fs::remove_all(box.path("support/Delay"));
}

} // namespace

TEST(LilvTools, ListAndDescribeTheExportWithTheUnitsRangesAndNoWarnings) {
    Sandbox box;
    installAndExport(box);
    const ToolResult ls = box.runProgram(LV2LS, {});
    ASSERT_EQ(ls.status, 0) << ls.err;
    EXPECT_EQ(ls.out, std::string(kStereo) + "\n" + kMono + "\n");
    EXPECT_EQ(ls.err, "");

    const ToolResult info = box.runProgram(LV2INFO, {kStereo});
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_EQ(info.err, "") << "lilv warned about the generated Turtle";
    // Each parameter with its symbol, name, range and default, as the unit
    // reports them (vxhost info shows the same table).
    const char* const expected[] = {
        "Name:              Vextra-Audio: Delay\n",
        "Has latency:       yes, reported by port 10",
        "http://lv2plug.in/ns/ext/state#interface",
        "Symbol:      in_2",
        "Symbol:      out_2",
        "Symbol:      delay_time\n\t\tName:        Delay Time\n\t\tMinimum:     1.000000\n"
        "\t\tMaximum:     2000.000000\n\t\tDefault:     350.000000",
        "Symbol:      feedback\n\t\tName:        Feedback\n\t\tMinimum:     0.000000\n"
        "\t\tMaximum:     95.000000\n\t\tDefault:     40.000000",
        "Symbol:      high_cut\n\t\tName:        High Cut\n\t\tMinimum:     1000.000000\n"
        "\t\tMaximum:     20000.000000\n\t\tDefault:     8000.000000",
        "Symbol:      mix\n\t\tName:        Mix\n\t\tMinimum:     0.000000\n"
        "\t\tMaximum:     100.000000\n\t\tDefault:     35.000000",
        "Symbol:      output_gain\n\t\tName:        Output Gain\n\t\tMinimum:     -24.000000\n"
        "\t\tMaximum:     12.000000\n\t\tDefault:     0.000000",
        "Symbol:      lookahead\n\t\tName:        Lookahead\n\t\tMinimum:     0.000000\n"
        "\t\tMaximum:     10.000000\n\t\tDefault:     0.000000",
        "Symbol:      latency",
        "Designation: http://lv2plug.in/ns/lv2core#enabled",
    };
    for (const char* part : expected)
        EXPECT_TRUE(has(info.out, part)) << "missing: " << part << "\n" << info.out;

    const ToolResult mono = box.runProgram(LV2INFO, {kMono});
    EXPECT_EQ(mono.err, "");
    EXPECT_TRUE(has(mono.out, "Symbol:      in_1\n\t\tName:        Input\n")) << mono.out;
    EXPECT_FALSE(has(mono.out, "in_2")) << mono.out;
}

TEST(LilvTools, ApplyDelaysAnImpulseByTheSetTimeAndMatchesVxhostSampleForSample) {
    Sandbox box;
    installAndExport(box);
    writeWav(box.path("in.wav"), impulses(48000, 16000, {{100, 0.5f}}));
    // Fully wet without feedback, the only repeat is the input itself, 250 ms later.
    ToolResult r = box.runProgram(LV2APPLY, {"-i", box.path("in.wav"), "-o", box.path("lv2.wav"),
                                             "-c", "delay_time", "250", "-c", "feedback", "0", "-c",
                                             "mix", "100", kMono});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.signal, 0);
    const Audio delayed = readWav(box.path("lv2.wav"));
    ASSERT_EQ(delayed.channels.size(), 2u);
    ASSERT_EQ(delayed.frames(), 16000u);
    for (const auto& channel : delayed.channels) {
        EXPECT_EQ(loudest(channel), 100u + 12000u);
        EXPECT_NEAR(channel[12100], 0.5f, 1e-3f);
        EXPECT_LT(std::fabs(channel[100]), 1e-6f) << "nothing dry at Mix 100";
    }

    // A busier setting, with feedback, the filter, gain and the look-ahead
    // latency: lilv's rendering and vxhost's agree to float rounding.
    const char* const settings[][3] = {
        {"delay_time", "Delay Time", "20"},   {"feedback", "Feedback", "60"},
        {"high_cut", "High Cut", "5000"},     {"mix", "Mix", "50"},
        {"output_gain", "Output Gain", "-3"}, {"lookahead", "Lookahead", "2"}};
    const std::string in = box.path("in.wav"), lv2Out = box.path("lv2.wav"),
                      hostOut = box.path("vxhost.wav");
    std::vector<std::string> lv2Args = {"-i", in, "-o", lv2Out};
    std::vector<std::string> hostArgs = {"render",     "--no-latency-compensation",
                                         "--tail",     "0",
                                         "--channels", "1",
                                         "--quiet",    "-i",
                                         in,           "-o",
                                         hostOut};
    for (const auto& [symbol, name, value] : settings) {
        lv2Args.insert(lv2Args.end(), {"-c", symbol, value});
        hostArgs.insert(hostArgs.end(), {"--set", std::string(name) + "=" + value});
    }
    lv2Args.push_back(kMono);
    r = box.runProgram(LV2APPLY, lv2Args);
    ASSERT_EQ(r.status, 0) << r.err;
    r = box.run(hostArgs);
    ASSERT_EQ(r.status, 0) << r.err;
    const Audio viaLilv = readWav(lv2Out), viaHost = readWav(hostOut);
    ASSERT_EQ(viaLilv.channels.size(), viaHost.channels.size());
    // vxhost renders on by the latency; lv2apply stops with the input.
    ASSERT_EQ(viaLilv.frames(), 16000u);
    ASSERT_GE(viaHost.frames(), viaLilv.frames());
    double energy = 0;
    for (size_t c = 0; c < viaHost.channels.size(); ++c)
        for (size_t f = 0; f < viaLilv.frames(); ++f) {
            ASSERT_NEAR(viaLilv.channels[c][f], viaHost.channels[c][f], 1e-6f)
                << "channel " << c << " frame " << f;
            energy += viaHost.channels[c][f] * viaHost.channels[c][f];
        }
    EXPECT_GT(energy, 0.01) << "the comparison carried sound";
}

TEST(LilvTools, InstantiatingWithoutTheComponentOrItsEnginesFailsWithOneClearLine) {
    // lv2apply 0.24 runs a plug-in it failed to instantiate and crashes, so
    // the failure is shown through lv2bench, which checks the instance.
    {
        Sandbox box;
        installAndExport(box, false);
        const ToolResult r = box.runProgram(LV2BENCH, {"-n", "1024", kStereo});
        EXPECT_EQ(r.signal, 0);
        EXPECT_EQ(missing(r.err, {"vx-lv2-bridge: cannot open Vextra-Audio: Delay (aufx:Dlay:Vxta)",
                                  "alert", "Failed to instantiate"}),
                  Missing{})
            << r.err;
    }
    {
        Sandbox box;
        installAndExport(box);
        fs::remove_all(box.folder() + "/Library/Audio/Plug-Ins/Components/VX-Delay.component");
        const ToolResult r = box.runProgram(LV2BENCH, {"-n", "1024", kStereo});
        EXPECT_EQ(r.signal, 0);
        EXPECT_EQ(missing(r.err, {"vx-lv2-bridge: cannot open aufx:Dlay:Vxta: no installed "
                                  "component has the codes aufx:Dlay:Vxta",
                                  "Failed to instantiate"}),
                  Missing{})
            << r.err;
    }
}

TEST(LilvTools, ABundleNamedByPathIsServedWithItsOwnPortsAndBypass) {
    // The host tool's test unit: a gain and a delay, plus a parameter named
    // Latency, whose symbol must not take the latency port's.
    Sandbox box;
    box.setEnv("LV2_PATH", box.folder() + "/lv2");
    const ToolResult r = box.run(
        {"export-lv2", "--component", bundle("HostTest"), "--out", box.path("lv2/test.lv2")});
    ASSERT_EQ(r.status, 0) << r.err;
    const char* uri = "urn:vextra-audio:lv2-bridge:aufx:HTst:VxTs";
    const ToolResult info = box.runProgram(LV2INFO, {uri});
    EXPECT_EQ(info.err, "");
    EXPECT_EQ(missing(info.out, {"Symbol:      latency_2\n\t\tName:        Latency",
                                 "Symbol:      latency\n\t\tName:        Latency",
                                 "Has latency:       yes, reported by port 7"}),
              Missing{})
        << info.out;

    writeWav(box.path("in.wav"), impulses(48000, 4000, {{100, 0.5f}}));
    for (const char* enabled : {"1", "0"}) {
        const ToolResult run = box.runProgram(
            LV2APPLY, {"-i", box.path("in.wav"), "-o", box.path("out.wav"), "-c", "delay", "5",
                       "-c", "latency_2", "64", "-c", "enabled", enabled, uri});
        ASSERT_EQ(run.status, 0) << run.err;
        const Audio out = readWav(box.path("out.wav"));
        ASSERT_EQ(out.channels.size(), 2u);
        // 5 ms and the 64 samples the unit reports as latency; bypassed, the input.
        EXPECT_EQ(loudest(out.channels[0]), std::string(enabled) == "1" ? 100u + 240u + 64u : 100u)
            << "enabled " << enabled;
    }
}

TEST(LilvTools, ExportRefusesUnknownComponentsAndFoldersOfOtherFiles) {
    Sandbox box;
    ToolResult r = box.run({"export-lv2", "--component", "aufx:Nope:VxTs", "--out", box.path("a")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "vxhost: error: no installed component has the codes aufx:Nope:VxTs\n");
    EXPECT_FALSE(fs::exists(box.path("a")));

    fs::create_directories(box.path("music"));
    writeWav(box.path("music/keep.wav"), impulses(48000, 10, {}));
    r = box.run({"export-lv2", "--component", bundle("HostTest"), "--out", box.path("music")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has(r.err, "holds other files")) << r.err;
    EXPECT_EQ(fs::directory_iterator(box.path("music"))->path().filename(), "keep.wav");

    r = box.run({"export-lv2", "--component", bundle("HostTest")});
    EXPECT_EQ(r.status, 2) << "--out is required";
    // An earlier export is replaced in place.
    for (int i = 0; i < 2; ++i) {
        r = box.run({"export-lv2", "--component", bundle("HostTest"), "--out", box.path("b")});
        EXPECT_EQ(r.status, 0) << r.err;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(box.path("b")), fs::directory_iterator()), 4);
}
