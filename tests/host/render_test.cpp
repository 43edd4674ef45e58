// Renders through the test unit (gain and delay, with an optional latency of
// its own) and checks the samples of the files vxhost writes.

#include "tool_runner.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace hosttool;

// Impulses of 0.5 at frames 100 and 4700 of a 4800-frame mono file at 48 kHz,
// rendered with 20 ms of delay (960 frames) and a gain of one half.
TEST(HostRender, DelayGainTailLatencyAndOptionsShowInTheSamples) {
    Sandbox box;
    writeWav(box.path("in.wav"), impulses(48000, 4800, {{100, 0.5f}, {4700, 0.5f}}));
    std::string summary;
    // Renders to out.wav; answers the file's length, rate and the frames of its
    // non-zero samples, channel after channel, each the impulse at half gain.
    auto render = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"render", "--set", "Delay=20", "--set", "Gain=-6.0206", "-i",
                                   "in.wav", "-o", "out.wav", "--component", bundle("HostTest")});
        const ToolResult r = box.run(args);
        EXPECT_EQ(std::make_pair(r.status, r.err), std::make_pair(0, std::string()));
        summary = r.out;
        const Audio out = readWav(box.path("out.wav"));
        std::vector<size_t> hits = {out.frames(), size_t(out.rate)};
        for (const auto& channel : out.channels)
            for (size_t f = 0; f < channel.size(); ++f)
                if (std::fabs(channel[f]) > 1e-7f) {
                    EXPECT_NEAR(channel[f], 0.25f, 1e-4f) << "frame " << f;
                    hits.push_back(f);
                }
        return hits;
    };
    using Hits = std::vector<size_t>;
    // A mono input gives the unit's two outputs. The delay is also the tail:
    // the second impulse lands after the end of the input and is still in the file.
    EXPECT_EQ(render({}), (Hits{4800 + 960, 48000, 1060, 5660, 1060, 5660}));
    EXPECT_EQ(missing(summary, {"4800 frames", "5760 frames", "peak", "real time"}), Missing{})
        << summary;
    // The unit's 64 frames of latency are removed, unless asked not to.
    EXPECT_EQ(render({"--set", "Latency=64"}), (Hits{5760, 48000, 1060, 5660, 1060, 5660}));
    EXPECT_TRUE(has(summary, "64 frames, compensated")) << summary;
    EXPECT_EQ(render({"--set", "Latency=64", "--no-latency-compensation"}),
              (Hits{5760 + 64, 48000, 1124, 5724, 1124, 5724}));
    EXPECT_TRUE(has(summary, "not compensated")) << summary;

    // Only the first impulse falls inside no tail.
    EXPECT_EQ(render({"--tail", "0"}), (Hits{4800, 48000, 1060, 1060}));
    EXPECT_EQ(render({"--tail", "0.5"}), (Hits{4800 + 24000, 48000, 1060, 5660, 1060, 5660}));
    // Neither the block size nor the other options change the result.
    EXPECT_EQ(render({"--block", "37", "--channels", "2", "--entry", "factory", "--tempo", "999"}),
              (Hits{5760, 48000, 1060, 5660, 1060, 5660}));
    EXPECT_TRUE(has(summary, "via the factory entry")) << summary;
    // The same file taken as 96 kHz: 20 ms are now 1920 frames.
    EXPECT_EQ(render({"--rate", "96000"}), (Hits{4800 + 1920, 96000, 2020, 6620, 2020, 6620}));
}
