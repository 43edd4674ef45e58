// High-cut damping of the repeats: a one-pole low-pass per channel,
//
//   low[i] = low[i-1] + damp * (in[i] - low[i-1]),
//
// computed a block at a time in a form the compiler turns into vector code.
// Unrolled, with pole = 1 - damp,
//
//   low[i] = pole^(i+1) * low[-1] + sum over j <= i of pole^(i-j) * damp * in[j],
//
// and the sum is an inclusive scan: log2(n) passes, each adding to every
// value the partial sum one power-of-two span back weighted by the pole to
// that span. Every pass is an independent loop over the whole block, so a
// wider vector unit does proportionally more of it per instruction, where
// the recursion itself waits on each sample in turn whatever the build.
//
// The filter touches only storage of its own; nothing here allocates.
#pragma once

#include <cmath>
#include <cstring>
#include <limits>

namespace vxdelay {

class DampingFilter {
public:
    // Samples per call, at most.
    static constexpr int kMaxBlock = 64;

    void reset() { mStateL = mStateR = 0.f; }

    float stateL() const { return mStateL; }
    float stateR() const { return mStateR; }

    // Filters n samples (1 .. kMaxBlock) of both channels with the given
    // coefficient, in (0, 1]. The outputs must not overlap the inputs.
    void process(const float* inL, const float* inR, float* outL, float* outR, int n, float damp) {
        if (n < kScanFrom)
            processSerially(inL, inR, outL, outR, n, damp);
        else
            processAsScan(inL, inR, outL, outR, n, damp);
        // Denormal tails of the filter would cost more than they are worth.
        mStateL = std::fabs(outL[n - 1]) < 1e-20f ? 0.f : outL[n - 1];
        mStateR = std::fabs(outR[n - 1]) < 1e-20f ? 0.f : outR[n - 1];
    }

private:
    // Below this block length the passes cost more than the recursion.
    static constexpr int kScanFrom = 16;
    // The longest span a pass reaches back: it reads zeros there.
    static constexpr int kPad = kMaxBlock / 2;
    // Powers of the pole below this are taken as 0: their products would be
    // denormal, and their share of the output is far below anything audible.
    static constexpr float kNegligiblePower = 1e-30f;

    void processSerially(const float* inL, const float* inR, float* outL, float* outR, int n,
                         float damp) {
        float lowL = mStateL, lowR = mStateR;
        for (int i = 0; i < n; ++i) {
            lowL += damp * (inL[i] - lowL);
            lowR += damp * (inR[i] - lowR);
            outL[i] = lowL;
            outR[i] = lowR;
        }
    }

    template <int Span>
    static void scanPass(const float* __restrict inL, const float* __restrict inR,
                         float* __restrict outL, float* __restrict outR, float weight) {
        for (int i = 0; i < kMaxBlock; ++i) {
            outL[i] = inL[i] + weight * inL[i - Span];
            outR[i] = inR[i] + weight * inR[i - Span];
        }
    }

    void processAsScan(const float* __restrict inL, const float* __restrict inR,
                       float* __restrict outL, float* __restrict outR, int n, float damp) {
        preparePowers(damp);
        float* aL = mScan[0][0] + kPad;
        float* aR = mScan[0][1] + kPad;
        float* bL = mScan[1][0] + kPad;
        float* bR = mScan[1][1] + kPad;
        // The whole block takes part in every pass; the part past n is zero
        // and reaches no value before it.
        for (int i = 0; i < n; ++i) {
            aL[i] = damp * inL[i];
            aR[i] = damp * inR[i];
        }
        if (n < kMaxBlock) {
            const std::size_t rest = static_cast<std::size_t>(kMaxBlock - n) * sizeof(float);
            std::memset(aL + n, 0, rest);
            std::memset(aR + n, 0, rest);
        }
        // n >= kScanFrom, so the first four passes always run.
        scanPass<1>(aL, aR, bL, bR, mPowers[0]);
        scanPass<2>(bL, bR, aL, aR, mPowers[1]);
        scanPass<4>(aL, aR, bL, bR, mPowers[3]);
        scanPass<8>(bL, bR, aL, aR, mPowers[7]);
        const float* sumL = aL;
        const float* sumR = aR;
        if (n > 16) {
            scanPass<16>(aL, aR, bL, bR, mPowers[15]);
            sumL = bL;
            sumR = bR;
            if (n > 32) {
                scanPass<32>(bL, bR, aL, aR, mPowers[31]);
                sumL = aL;
                sumR = aR;
            }
        }
        const float startL = mStateL, startR = mStateR;
        const float* __restrict powers = mPowers;
        const float* __restrict fromL = sumL;
        const float* __restrict fromR = sumR;
        for (int i = 0; i < n; ++i) {
            outL[i] = fromL[i] + powers[i] * startL;
            outR[i] = fromR[i] + powers[i] * startR;
        }
    }

    // mPowers[i] = pole^(i+1), worked out again only when the coefficient
    // changes.
    void preparePowers(float damp) {
        if (damp == mPowersFor)
            return;
        mPowersFor = damp;
        // Doubling: the second half of each span is the first half times the
        // last power of the first.
        const float pole = 1.f - damp;
        mPowers[0] = pole < kNegligiblePower ? 0.f : pole;
        for (int span = 1; span < kMaxBlock; span *= 2) {
            const float last = mPowers[span - 1];
            for (int i = 0; i < span; ++i) {
                const float power = mPowers[i] * last;
                mPowers[span + i] = power < kNegligiblePower ? 0.f : power;
            }
        }
    }

    float mStateL = 0.f, mStateR = 0.f;
    float mPowersFor = std::numeric_limits<float>::quiet_NaN();
    alignas(64) float mPowers[kMaxBlock] = {};
    // Two scan buffers per channel, each with kPad zeros in front that no
    // pass writes.
    alignas(64) float mScan[2][2][kPad + kMaxBlock] = {};
};

} // namespace vxdelay
