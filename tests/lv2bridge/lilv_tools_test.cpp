// The exported bridge in front of hosts nobody on this project wrote: lilv's
// own tools list, describe and run a bundle vxhost exported into a temporary
// LV2_PATH, with the plug-in and its engines installed in the sandbox's home.
#include "tool_runner.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

namespace fs = std::filesystem;
using namespace hosttool;

constexpr const char* kStereo = "urn:vextra-audio:lv2-bridge:aufx:Dlay:Vxta";
constexpr const char* kMono = "urn:vextra-audio:lv2-bridge:aufx:Dlay:Vxta-mono";

TEST(LilvTools, TheDelayIsListedDescribedAndRunAndFailsClearlyWithoutItsParts) {
    Sandbox box;
    box.installPlugIn();
    box.setEnv("LV2_PATH", box.folder() + "/lv2");
    ToolResult r = box.run({"export-lv2", "--out", box.path("lv2/VX-Delay.lv2")});
    ASSERT_EQ(r.status, 0) << r.err;
    r = box.runProgram(LV2LS, {});
    EXPECT_EQ(std::make_tuple(r.status, r.out, r.err),
              std::make_tuple(0, std::string(kStereo) + "\n" + kMono + "\n", ""));

    r = box.runProgram(LV2INFO, {kStereo});
    EXPECT_EQ(r.err, "") << "lilv warned about the generated Turtle";
    Missing expected = {"Name:              Vextra-Audio: Delay\n",
                        "Has latency:       yes, reported by port 10",
                        "http://lv2plug.in/ns/ext/state#interface",
                        "Symbol:      in_2",
                        "Symbol:      out_2",
                        "Symbol:      latency",
                        "Designation: http://lv2plug.in/ns/lv2core#enabled"};
    // Each parameter with its symbol, name, range and default, as the unit reports them.
    const char* const parameters[][5] = {{"delay_time", "Delay Time", "1", "2000", "350"},
                                         {"feedback", "Feedback", "0", "95", "40"},
                                         {"high_cut", "High Cut", "1000", "20000", "8000"},
                                         {"mix", "Mix", "0", "100", "35"},
                                         {"output_gain", "Output Gain", "-24", "12", "0"},
                                         {"lookahead", "Lookahead", "0", "10", "0"}};
    for (const auto& [symbol, name, min, max, def] : parameters)
        expected.push_back(std::string("Symbol:      ") + symbol + "\n\t\tName:        " + name +
                           "\n\t\tMinimum:     " + min + ".000000\n\t\tMaximum:     " + max +
                           ".000000\n\t\tDefault:     " + def + ".000000");
    std::erase_if(expected, [&](const std::string& part) { return has(r.out, part); });
    EXPECT_EQ(expected, Missing{}) << r.out;

    // Fully wet without feedback, the only repeat is the input itself, 250 ms later.
    const std::string in = box.path("in.wav"), lv2Out = box.path("lv2.wav"),
                      hostOut = box.path("vxhost.wav");
    writeWav(in, impulses(48000, 16000, {{100, 0.5f}}));
    r = box.runProgram(LV2APPLY, {"-i", in, "-o", lv2Out, "-c", "delay_time", "250", "-c",
                                  "feedback", "0", "-c", "mix", "100", kMono});
    ASSERT_EQ(r.status, 0) << r.err;
    const Audio delayed = readWav(lv2Out);
    ASSERT_EQ(std::make_pair(delayed.channels.size(), delayed.frames()),
              std::make_pair(2UL, 16000UL));
    for (const auto& channel : delayed.channels) // nothing dry at Mix 100
        EXPECT_TRUE(loudest(channel) == 12100 && std::fabs(channel[12100] - 0.5f) < 1e-3f &&
                    std::fabs(channel[100]) < 1e-6f);
    // A busier setting, with feedback, the filter, gain and the look-ahead
    // latency: lilv's rendering and vxhost's agree to float rounding.
    const char* const settings[][3] = {
        {"delay_time", "Delay Time", "20"},   {"feedback", "Feedback", "60"},
        {"high_cut", "High Cut", "5000"},     {"mix", "Mix", "50"},
        {"output_gain", "Output Gain", "-3"}, {"lookahead", "Lookahead", "2"}};
    std::vector<std::string> lv2Args = {"-i", in, "-o", lv2Out, kMono};
    std::vector<std::string> hostArgs = {"render", "--no-latency-compensation", "--tail", "0"};
    hostArgs.insert(hostArgs.end(), {"--channels", "1", "--quiet", "-i", in, "-o", hostOut});
    for (const auto& [symbol, name, value] : settings) {
        lv2Args.insert(lv2Args.end() - 1, {"-c", symbol, value});
        hostArgs.insert(hostArgs.end(), {"--set", std::string(name) + "=" + value});
    }
    ASSERT_EQ(box.runProgram(LV2APPLY, lv2Args).status, 0);
    ASSERT_EQ(box.run(hostArgs).status, 0);
    const Audio viaLilv = readWav(lv2Out), viaHost = readWav(hostOut);
    // vxhost renders on by the latency; lv2apply stops with the input.
    ASSERT_EQ(std::make_tuple(viaLilv.channels.size(), viaLilv.frames(), viaHost.frames() >= 16000),
              std::make_tuple(viaHost.channels.size(), 16000UL, true));
    double energy = 0;
    for (size_t c = 0; c < viaHost.channels.size(); ++c)
        for (size_t f = 0; f < viaLilv.frames(); ++f) {
            ASSERT_NEAR(viaLilv.channels[c][f], viaHost.channels[c][f], 1e-6f)
                << "channel " << c << " frame " << f;
            energy += viaHost.channels[c][f] * viaHost.channels[c][f];
        }
    EXPECT_GT(energy, 0.01) << "the comparison carried sound";

    // lv2apply 0.24 runs a plug-in it failed to instantiate and crashes, so
    // the failures are shown through lv2bench, which checks the instance.
    fs::remove_all(box.path("support/Delay"));
    r = box.runProgram(LV2BENCH, {"-n", "1024", kStereo});
    EXPECT_EQ(missing(r.err, {"vx-lv2-bridge: cannot open Vextra-Audio: Delay (aufx:Dlay:Vxta): "
                              "it showed an alert: ",
                              "Failed to instantiate"}),
              Missing{})
        << r.err;
    fs::remove_all(box.path("Library/Audio/Plug-Ins/Components/VX-Delay.component"));
    r = box.runProgram(LV2BENCH, {"-n", "1024", kStereo});
    EXPECT_EQ(missing(r.err, {"vx-lv2-bridge: cannot open aufx:Dlay:Vxta: no installed component "
                              "has the codes aufx:Dlay:Vxta",
                              "Failed to instantiate"}),
              Missing{})
        << r.err;
    EXPECT_EQ(r.signal, 0);
}

TEST(LilvTools, AComponentExportsByPathWithItsOwnPortsClampedControlsAndBypass) {
    // The host tool's test unit: a gain and a delay, plus a parameter named
    // Latency, whose symbol must not take the latency port's.
    Sandbox box;
    box.setEnv("LV2_PATH", box.folder() + "/lv2");
    ToolResult r = box.run(
        {"export-lv2", "--component", bundle("HostTest"), "--out", box.path("lv2/test.lv2")});
    ASSERT_EQ(r.status, 0) << r.err;
    const char* uri = "urn:vextra-audio:lv2-bridge:aufx:HTst:VxTs";
    r = box.runProgram(LV2INFO, {uri});
    EXPECT_EQ(missing(r.out + r.err, {"Symbol:      latency_2\n\t\tName:        Latency",
                                      "Symbol:      latency\n\t\tName:        Latency",
                                      "Has latency:       yes, reported by port 7"}),
              Missing{})
        << r.out;
    writeWav(box.path("in.wav"), impulses(48000, 4000, {{100, 0.5f}}));
    for (const char* enabled : {"1", "0"}) {
        // The unit takes any latency; the bridge holds it to the 256 of its range.
        r = box.runProgram(LV2APPLY,
                           {"-i", box.path("in.wav"), "-o", box.path("out.wav"), "-c", "delay", "5",
                            "-c", "latency_2", "400", "-c", "enabled", enabled, uri});
        ASSERT_EQ(r.status, 0) << r.err;
        // 5 ms and the latency the unit reports; bypassed, the input.
        const Audio out = readWav(box.path("out.wav"));
        const size_t at = *enabled == '1' ? 100 + 240 + 256 : 100;
        EXPECT_EQ(std::make_pair(out.channels.size(), loudest(out.channels[0])),
                  std::make_pair(2UL, at))
            << "enabled " << enabled;
    }

    // Refused: unknown codes, a folder of other files, no --out. An earlier
    // export is replaced in place.
    r = box.run({"export-lv2", "--component", "aufx:Nope:VxTs", "--out", box.path("a")});
    EXPECT_EQ(
        std::make_tuple(r.status, r.err, fs::exists(box.path("a"))),
        std::make_tuple(1, "vxhost: error: no installed component has the codes aufx:Nope:VxTs\n",
                        false));
    fs::create_directories(box.path("music"));
    writeWav(box.path("music/keep.wav"), impulses(48000, 10, {}));
    r = box.run({"export-lv2", "--component", bundle("HostTest"), "--out", box.path("music")});
    EXPECT_TRUE(r.status == 1 && has(r.err, "holds other files")) << r.err;
    EXPECT_EQ(fs::directory_iterator(box.path("music"))->path().filename(), "keep.wav");
    EXPECT_EQ(box.run({"export-lv2", "--component", bundle("HostTest")}).status, 2);
    EXPECT_EQ(box.run({"export-lv2", "--component", bundle("HostTest"), "--out",
                       box.path("lv2/test.lv2")})
                  .status,
              0);
    EXPECT_EQ(
        std::distance(fs::directory_iterator(box.path("lv2/test.lv2")), fs::directory_iterator()),
        4);
}
