// The block-wise damping filter against the one-pole recursion it stands
// for, worked out sample by sample in double precision.
#include "DampingFilter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

using vxdelay::DampingFilter;

// A fixed pseudo-random signal with a large step in it, per channel.
float testSignal(int channel, int i) {
    uint32_t x = static_cast<uint32_t>(i) * 2654435761u + static_cast<uint32_t>(channel) * 97u;
    x ^= x >> 13;
    x *= 0x5bd1e995u;
    x ^= x >> 15;
    const float noise = static_cast<float>(x & 0xFFFF) / 32768.f - 1.f;
    return noise + ((i / 300) % 2 == 0 ? 0.f : (channel == 0 ? 4.f : -3.f));
}

TEST(DampingFilter, EveryBlockLengthFollowsTheRecursionAcrossBlocksAndCoefficientChanges) {
    // From no damping at all to a very low cut-off, including a pole small
    // enough that its higher powers vanish.
    const float coefficients[] = {1.0f, 0.954f, 0.649f, 0.05f, 1e-4f};
    for (float damp : coefficients) {
        DampingFilter filter;
        double refL = 0.0, refR = 0.0;
        int t = 0;
        // Every length once, so the recursion, the scan and each of its
        // pass counts all run, then the same lengths again under another
        // coefficient every other block.
        for (int round = 0; round < 2; ++round) {
            for (int n = 1; n <= DampingFilter::kMaxBlock; ++n) {
                const float d = (round == 1 && n % 2 == 0) ? 0.3f : damp;
                float inL[DampingFilter::kMaxBlock], inR[DampingFilter::kMaxBlock];
                float outL[DampingFilter::kMaxBlock], outR[DampingFilter::kMaxBlock];
                for (int i = 0; i < n; ++i) {
                    inL[i] = testSignal(0, t + i);
                    inR[i] = testSignal(1, t + i);
                }
                filter.process(inL, inR, outL, outR, n, d);
                for (int i = 0; i < n; ++i) {
                    refL += d * (inL[i] - refL);
                    refR += d * (inR[i] - refR);
                    ASSERT_NEAR(outL[i], refL, 2e-5 * (1.0 + std::fabs(refL)))
                        << "coefficient " << d << ", block of " << n << ", sample " << i;
                    ASSERT_NEAR(outR[i], refR, 2e-5 * (1.0 + std::fabs(refR)))
                        << "coefficient " << d << ", block of " << n << ", sample " << i;
                }
                EXPECT_EQ(filter.stateL(), outL[n - 1]);
                EXPECT_EQ(filter.stateR(), outR[n - 1]);
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

} // namespace
