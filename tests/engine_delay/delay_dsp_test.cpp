// The reference delay's signal path against sample-by-sample models: the
// damping filter's one-pole recursion, and a delay line whose repeats pass
// through that filter and the feedback gain, mixed with the input and scaled
// by the output gain. Both worked out in double precision.
#include "DelayDsp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

using vxdelay::DampingFilter;
using vxdelay::DelayDsp;
using vxdelay::DspTargets;

// A fixed pseudo-random signal with a large step and spikes in it, per channel.
float testSignal(int channel, int i) {
    uint32_t x = static_cast<uint32_t>(i) * 2654435761u + static_cast<uint32_t>(channel) * 97u;
    x ^= x >> 13;
    x *= 0x5bd1e995u;
    x ^= x >> 15;
    const float noise = static_cast<float>(x & 0xFFFF) / 32768.f - 1.f;
    return noise + ((i / 300) % 2 == 0 ? 0.f : (channel == 0 ? 4.f : -3.f));
}

TEST(DampingFilter, EveryBlockLengthFollowsTheRecursionAcrossBlocksAndCoefficientChanges) {
    // From no damping at all to a pole small enough that its powers vanish.
    for (float damp : {1.0f, 0.954f, 0.649f, 0.05f, 1e-4f}) {
        DampingFilter filter;
        double ref[2] = {0.0, 0.0};
        int t = 0;
        // Every length once, so the recursion, the scan and each of its pass
        // counts all run, then again under another coefficient every other block.
        for (int round = 0; round < 2; ++round) {
            for (int n = 1; n <= DampingFilter::kMaxBlock; ++n) {
                const float d = (round == 1 && n % 2 == 0) ? 0.3f : damp;
                float in[2][DampingFilter::kMaxBlock], out[2][DampingFilter::kMaxBlock];
                for (int c = 0; c < 2; ++c)
                    for (int i = 0; i < n; ++i)
                        in[c][i] = testSignal(c, t + i);
                filter.process(in[0], in[1], out[0], out[1], n, d);
                for (int c = 0; c < 2; ++c)
                    for (int i = 0; i < n; ++i) {
                        ref[c] += d * (in[c][i] - ref[c]);
                        ASSERT_NEAR(out[c][i], ref[c], 2e-5 * (1.0 + std::fabs(ref[c])))
                            << "coefficient " << d << ", block of " << n << ", sample " << i;
                    }
                EXPECT_EQ(filter.stateL(), out[0][n - 1]);
                EXPECT_EQ(filter.stateR(), out[1][n - 1]);
                t += n;
            }
        }
    }
}

TEST(DampingFilter, SilenceBringsTheStateToExactlyZeroAndResetClearsIt) {
    DampingFilter filter;
    float in[DampingFilter::kMaxBlock], outL[DampingFilter::kMaxBlock],
        outR[DampingFilter::kMaxBlock];
    std::fill(std::begin(in), std::end(in), 1.f);
    filter.process(in, in, outL, outR, 64, 0.01f);
    ASSERT_GT(filter.stateL(), 0.f);
    // A slow filter would decay through the denormal range for about 160
    // blocks before float arithmetic reached zero by itself; its tail is cut
    // off long before that.
    std::fill(std::begin(in), std::end(in), 0.f);
    for (int block = 0; block < 100 && filter.stateL() != 0.f; ++block)
        filter.process(in, in, outL, outR, 64, 0.01f);
    EXPECT_EQ(filter.stateL(), 0.f);
    EXPECT_EQ(filter.stateR(), 0.f);

    std::fill(std::begin(in), std::end(in), 1.f);
    filter.process(in, in, outL, outR, 20, 0.5f);
    filter.reset();
    EXPECT_EQ(filter.stateL(), 0.f);
    filter.process(in, in, outL, outR, 1, 0.5f);
    EXPECT_FLOAT_EQ(outL[0], 0.5f);
}

TEST(DelayDsp, FollowsTheSampleModelForShortAndLongDelaysAnyBlockSizesAndInPlace) {
    // Single samples, blocks shorter and longer than a chunk, a host's sizes.
    const int blockSizes[] = {1, 17, 64, 100, 512, 33, 250, 2, 3, 7};
    const DspTargets t{.delaySamples = 1,
                       .feedback = 0.7f,
                       .dampCoefficient = 0.6f,
                       .dryGain = 0.8f,
                       .wetGain = 0.5f,
                       .outputGain = 1.25f};
    for (int delay : {1, 5, 63, 64, 65, 300}) {
        DelayDsp dsp;
        // A short line (512 samples): reads and writes wrap around its end
        // often, at ever other places within a chunk.
        dsp.prepare(48000.0, 300, 0);
        DspTargets targets = t;
        targets.delaySamples = delay;
        dsp.setTargets(targets);
        std::vector<double> line[2] = {std::vector<double>(301), std::vector<double>(301)};
        double low[2] = {0.0, 0.0};
        size_t pos = 0;
        for (int round = 0, t0 = 0; round < 12; ++round) {
            for (int frames : blockSizes) {
                std::vector<float> in[2], out[2];
                for (int c = 0; c < 2; ++c) {
                    for (int i = 0; i < frames; ++i)
                        in[c].push_back(testSignal(c, t0 + i) * 0.2f);
                    out[c] = round % 2 ? in[c] : std::vector<float>(frames); // odd: in place
                }
                dsp.process(round % 2 ? out[0].data() : in[0].data(),
                            round % 2 ? out[1].data() : in[1].data(), out[0].data(), out[1].data(),
                            frames);
                for (int i = 0; i < frames; ++i, pos = (pos + 1) % 301) {
                    const size_t read = (pos + 301 - static_cast<size_t>(delay)) % 301;
                    for (int c = 0; c < 2; ++c) {
                        const double wet = line[c][read];
                        low[c] += t.dampCoefficient * (wet - low[c]);
                        line[c][pos] = in[c][i] + t.feedback * low[c];
                        const double want = (t.dryGain * in[c][i] + t.wetGain * wet) * t.outputGain;
                        ASSERT_NEAR(out[c][i], want, 1e-4 * (1.0 + std::fabs(want)))
                            << "delay " << delay << ", sample " << t0 + i;
                    }
                }
                t0 += frames;
            }
        }
    }
}

} // namespace
