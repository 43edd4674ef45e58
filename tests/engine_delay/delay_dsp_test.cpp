// The delay's signal path against a sample-by-sample model of it: a delay
// line whose repeats pass through the damping filter and the feedback gain,
// mixed with the input and scaled by the output gain.
#include "DelayDsp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

using vxdelay::DelayDsp;
using vxdelay::DspTargets;

struct Model {
    std::vector<double> lineL, lineR;
    std::size_t pos = 0;
    double lowL = 0.0, lowR = 0.0;

    explicit Model(std::size_t length) : lineL(length, 0.0), lineR(length, 0.0) {}

    void step(const DspTargets& t, float inL, float inR, double& outL, double& outR) {
        const std::size_t n = lineL.size();
        const std::size_t read = (pos + n - static_cast<std::size_t>(t.delaySamples)) % n;
        const double wetL = lineL[read], wetR = lineR[read];
        lowL += t.dampCoefficient * (wetL - lowL);
        lowR += t.dampCoefficient * (wetR - lowR);
        lineL[pos] = inL + t.feedback * lowL;
        lineR[pos] = inR + t.feedback * lowR;
        pos = (pos + 1) % n;
        outL = (t.dryGain * inL + t.wetGain * wetL) * t.outputGain;
        outR = (t.dryGain * inR + t.wetGain * wetR) * t.outputGain;
    }
};

float signal(int channel, int i) {
    return 0.6f * std::sin(0.05f * static_cast<float>(i) * static_cast<float>(channel + 1)) +
           ((i % 97) == 0 ? 0.8f : 0.f);
}

TEST(DelayDsp, FollowsTheSampleModelForShortAndLongDelaysAndAnyBlockSizes) {
    // Blocks of every kind: single samples, shorter and longer than a chunk,
    // and a host's usual sizes.
    const int blockSizes[] = {1, 17, 64, 100, 512, 33, 250, 2, 3, 7};
    for (int delay : {1, 5, 63, 64, 65, 300}) {
        DelayDsp dsp;
        // A short line (512 samples) so that reads and writes wrap around
        // its end often, at ever other places within a chunk.
        dsp.prepare(48000.0, 300, 0);
        DspTargets t;
        t.delaySamples = delay;
        t.feedback = 0.7f;
        t.dampCoefficient = 0.6f;
        t.dryGain = 0.8f;
        t.wetGain = 0.5f;
        t.outputGain = 1.25f;
        dsp.setTargets(t);
        // The model's line only has to hold the delay.
        Model model(301);
        int t0 = 0;
        for (int round = 0; round < 12; ++round) {
            for (int frames : blockSizes) {
                std::vector<float> inL(frames), inR(frames), outL(frames), outR(frames);
                for (int i = 0; i < frames; ++i) {
                    inL[i] = signal(0, t0 + i);
                    inR[i] = signal(1, t0 + i);
                }
                dsp.process(inL.data(), inR.data(), outL.data(), outR.data(), frames);
                for (int i = 0; i < frames; ++i) {
                    double wantL = 0.0, wantR = 0.0;
                    model.step(t, inL[i], inR[i], wantL, wantR);
                    ASSERT_NEAR(outL[i], wantL, 1e-4 * (1.0 + std::fabs(wantL)))
                        << "delay " << delay << ", sample " << t0 + i;
                    ASSERT_NEAR(outR[i], wantR, 1e-4 * (1.0 + std::fabs(wantR)))
                        << "delay " << delay << ", sample " << t0 + i;
                }
                t0 += frames;
            }
        }
    }
}

TEST(DelayDsp, ProcessesInPlaceAsIntoSeparateBuffers) {
    DspTargets t;
    t.delaySamples = 70;
    t.feedback = 0.5f;
    t.dampCoefficient = 0.8f;
    t.dryGain = 0.5f;
    t.wetGain = 0.5f;
    DelayDsp separate, inPlace;
    separate.prepare(48000.0, 200, 0);
    inPlace.prepare(48000.0, 200, 0);
    separate.setTargets(t);
    inPlace.setTargets(t);
    for (int block = 0; block < 6; ++block) {
        std::vector<float> inL(128), inR(128), outL(128), outR(128);
        for (int i = 0; i < 128; ++i) {
            inL[i] = signal(0, block * 128 + i);
            inR[i] = signal(1, block * 128 + i);
        }
        separate.process(inL.data(), inR.data(), outL.data(), outR.data(), 128);
        inPlace.process(inL.data(), inR.data(), inL.data(), inR.data(), 128);
        ASSERT_EQ(inL, outL) << "block " << block;
        ASSERT_EQ(inR, outR) << "block " << block;
    }
}

} // namespace
