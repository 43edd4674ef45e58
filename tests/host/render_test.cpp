// Renders through the test unit (gain and delay, with an optional latency of
// its own) and checks the samples of the files vxhost writes.

#include "tool_runner.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace hosttool;

namespace {

// The frames of a file's non-zero samples, channel after channel; each must
// be the impulse of 0.5 at a gain of one half.
std::vector<size_t> hits(const Audio& audio) {
    std::vector<size_t> frames;
    for (const auto& channel : audio.channels)
        for (size_t f = 0; f < channel.size(); ++f)
            if (std::fabs(channel[f]) > 1e-7f) {
                EXPECT_NEAR(channel[f], 0.25f, 1e-4f) << "frame " << f;
                frames.push_back(f);
            }
    return frames;
}

// Impulses of 0.5 at frames 100 and 4700 of a 4800-frame mono file at 48 kHz,
// rendered with 20 ms of delay (960 frames) and a gain of one half.
class HostRender : public ::testing::Test {
protected:
    Sandbox box;
    void SetUp() override {
        writeWav(box.path("in.wav"), impulses(48000, 4800, {{100, 0.5f}, {4700, 0.5f}}));
    }
    // Renders to out.wav; answers the summary.
    std::string render(std::vector<std::string> extra = {}) {
        for (const char* a : {"--set", "Delay=20", "--set", "Gain=-6.0206", "-i", "in.wav", "-o",
                              "out.wav", "--component"})
            extra.push_back(a);
        extra.insert(extra.begin(), "render");
        extra.push_back(bundle("HostTest"));
        const ToolResult r = box.run(extra);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        return r.out;
    }
    Audio out() { return readWav(box.path("out.wav")); }
};

} // namespace

TEST_F(HostRender, ImpulseComesOutDelayedAndScaledWithTheTailIncluded) {
    const std::string summary = render();
    const Audio audio = out();
    EXPECT_EQ(audio.rate, 48000);
    ASSERT_EQ(audio.channels.size(), 2u) << "a mono input gives the unit's two outputs";
    // The delay is also the tail: the second impulse lands after the end of
    // the input and is still in the file.
    EXPECT_EQ(audio.frames(), 4800u + 960u);
    EXPECT_EQ(hits(audio), (std::vector<size_t>{1060, 5660, 1060, 5660}));
    EXPECT_EQ(missing(summary, {"4800 frames", "5760 frames", "peak", "real time"}), Missing{})
        << summary;
}

TEST_F(HostRender, LatencyIsCompensatedByDefaultAndKeptOnRequest) {
    std::string summary = render({"--set", "Latency=64"});
    EXPECT_TRUE(has(summary, "64 frames, compensated")) << summary;
    EXPECT_EQ(out().frames(), 5760u);
    EXPECT_EQ(hits(out()), (std::vector<size_t>{1060, 5660, 1060, 5660}))
        << "the unit's 64 frames of latency are removed";
    summary = render({"--set", "Latency=64", "--no-latency-compensation"});
    EXPECT_TRUE(has(summary, "not compensated")) << summary;
    EXPECT_EQ(out().frames(), 5760u + 64u);
    EXPECT_EQ(hits(out()), (std::vector<size_t>{1124, 5724, 1124, 5724}));
}

TEST_F(HostRender, TailBlockRateChannelsAndEntryOptions) {
    render({"--tail", "0"});
    EXPECT_EQ(out().frames(), 4800u);
    EXPECT_EQ(hits(out()), (std::vector<size_t>{1060, 1060})) << "only the first falls inside";
    render({"--tail", "0.5"});
    EXPECT_EQ(out().frames(), 4800u + 24000u);

    // Neither the block size nor the other options change the result.
    const std::string summary =
        render({"--block", "37", "--channels", "2", "--entry", "factory", "--tempo", "999"});
    EXPECT_EQ(hits(out()), (std::vector<size_t>{1060, 5660, 1060, 5660}));
    EXPECT_TRUE(has(summary, "via the factory entry")) << summary;

    // The same file taken as 96 kHz: 20 ms are now 1920 frames.
    render({"--rate", "96000"});
    EXPECT_EQ(out().rate, 96000);
    EXPECT_EQ(hits(out()).front(), 100u + 1920u);
}
