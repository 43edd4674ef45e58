// Renders through the test unit (gain and delay, with an optional latency of
// its own) and checks the samples of the files vxhost writes.

#include "tool_runner.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace hosttool;

namespace {

struct Hit {
    size_t channel;
    size_t frame;
    float value;
};

std::vector<Hit> nonZero(const Audio& audio) {
    std::vector<Hit> hits;
    for (size_t c = 0; c < audio.channels.size(); ++c)
        for (size_t f = 0; f < audio.frames(); ++f)
            if (std::fabs(audio.channels[c][f]) > 1e-7f)
                hits.push_back({c, f, audio.channels[c][f]});
    return hits;
}

// Impulses of 0.5 at frames 100 and 4700 of a 4800-frame mono file at 48 kHz,
// rendered with 20 ms of delay and a gain of one half.
class HostRender : public ::testing::Test {
protected:
    Sandbox box;
    const std::string in = box.path("impulse.wav");

    void SetUp() override { writeWav(in, impulses(48000, 4800, {{100, 0.5f}, {4700, 0.5f}})); }
    ToolResult render(const std::string& out, const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args = {"render",   "--component", bundle("HostTest"), "-i",
                                         in,         "-o",          box.path(out),      "--set",
                                         "Delay=20", "--set",       "Gain=-6.0206"};
        args.insert(args.end(), extra.begin(), extra.end());
        return box.run(args);
    }
};

} // namespace

TEST_F(HostRender, ImpulseComesOutDelayedAndScaledWithTheTailIncluded) {
    const ToolResult r = render("out.wav");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");

    const Audio out = readWav(box.path("out.wav"));
    EXPECT_EQ(out.rate, 48000);
    ASSERT_EQ(out.channels.size(), 2u) << "a mono input gives the unit's two outputs";
    // 20 ms at 48 kHz is 960 frames of delay and of tail: the second impulse
    // lands after the end of the input and is still in the file.
    ASSERT_EQ(out.frames(), 4800u + 960u);
    const std::vector<Hit> hits = nonZero(out);
    ASSERT_EQ(hits.size(), 4u);
    for (size_t c = 0; c < 2; ++c) {
        EXPECT_EQ(hits[2 * c].channel, c);
        EXPECT_EQ(hits[2 * c].frame, 1060u);
        EXPECT_NEAR(hits[2 * c].value, 0.25f, 1e-4f);
        EXPECT_EQ(hits[2 * c + 1].frame, 5660u);
        EXPECT_NEAR(hits[2 * c + 1].value, 0.25f, 1e-4f);
    }
    // The summary tells what happened.
    EXPECT_EQ(missing(r.out, {"4800 frames", "5760 frames", "peak", "real time"}), Missing{})
        << r.out;
}

TEST_F(HostRender, LatencyIsCompensatedByDefaultAndKeptOnRequest) {
    ToolResult r = render("compensated.wav", {"--set", "Latency=64"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("64 frames, compensated"), std::string::npos) << r.out;
    Audio out = readWav(box.path("compensated.wav"));
    ASSERT_EQ(out.frames(), 5760u);
    std::vector<Hit> hits = nonZero(out);
    ASSERT_FALSE(hits.empty());
    EXPECT_EQ(hits.front().frame, 1060u) << "the unit's 64 frames of latency are removed";
    EXPECT_EQ(hits.back().frame, 5660u);

    r = render("raw.wav", {"--set", "Latency=64", "--no-latency-compensation"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("not compensated"), std::string::npos) << r.out;
    out = readWav(box.path("raw.wav"));
    ASSERT_EQ(out.frames(), 5760u + 64u);
    hits = nonZero(out);
    ASSERT_FALSE(hits.empty());
    EXPECT_EQ(hits.front().frame, 1124u);
    EXPECT_EQ(hits.back().frame, 5724u);
}

TEST_F(HostRender, TailOptionReplacesTheReportedTail) {
    ToolResult r = render("short.wav", {"--tail", "0"});
    ASSERT_EQ(r.status, 0) << r.err;
    Audio out = readWav(box.path("short.wav"));
    EXPECT_EQ(out.frames(), 4800u);
    EXPECT_EQ(nonZero(out).size(), 2u) << "only the first impulse falls inside the input";

    r = render("long.wav", {"--tail", "0.5"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readWav(box.path("long.wav")).frames(), 4800u + 24000u);
}

TEST_F(HostRender, BlockSizeRateAndChannelsDoNotChangeTheResult) {
    ToolResult r = render(
        "odd.wav", {"--block", "37", "--channels", "2", "--entry", "factory", "--tempo", "999"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<Hit> hits = nonZero(readWav(box.path("odd.wav")));
    ASSERT_EQ(hits.size(), 4u);
    EXPECT_EQ(hits[0].frame, 1060u);
    EXPECT_EQ(hits[1].frame, 5660u);
    EXPECT_TRUE(has(r.out, "via the factory entry")) << r.out;

    // The same file taken as 96 kHz: 20 ms are now 1920 frames.
    r = render("fast.wav", {"--rate", "96000"});
    ASSERT_EQ(r.status, 0) << r.err;
    const Audio fast = readWav(box.path("fast.wav"));
    EXPECT_EQ(fast.rate, 96000);
    ASSERT_FALSE(nonZero(fast).empty());
    EXPECT_EQ(nonZero(fast).front().frame, 100u + 1920u);
}

TEST_F(HostRender, WithoutAnInputTheTestSignalIsRendered) {
    const ToolResult r = box.run({"render", "--component", bundle("HostTest"), "-o",
                                  box.path("signal.wav"), "--set", "Delay=0", "--rate", "48000"});
    ASSERT_EQ(r.status, 0) << r.err;
    const Audio out = readWav(box.path("signal.wav"));
    ASSERT_EQ(out.frames(), 96000u) << "two seconds, no tail with no delay";
    // The click of the test signal at 0.1 s passes with unit gain.
    EXPECT_NEAR(out.channels[0][4800], 0.5f, 1e-6f);
    EXPECT_NE(r.out.find("built-in test signal"), std::string::npos);
}
