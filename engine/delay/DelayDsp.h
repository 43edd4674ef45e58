// Signal path of the reference delay: a stereo delay line with feedback and
// high-cut damping in the feedback path, a dry/wet mix with output gain, and
// an optional output limiter that looks ahead (and so adds latency).
//
// prepare() is the only place that allocates. process() touches nothing but
// the buffers prepared for it: no allocation, lock or system call.
#pragma once

#include "DampingFilter.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vxdelay {

// What process() moves towards; changes glide over one processing chunk.
struct DspTargets {
    int delaySamples = 1;        // 1 .. maxDelaySamples
    float feedback = 0.f;        // 0 .. < 1
    float dampCoefficient = 1.f; // one-pole coefficient of the damping filter, (0, 1]
    float dryGain = 1.f;
    float wetGain = 0.f;
    float outputGain = 1.f;
    int lookaheadSamples = 0; // 0 turns the limiter off
};

class DelayDsp {
public:
    // Samples processed per inner step; a chunk never exceeds the delay so a
    // chunk only reads what earlier chunks wrote.
    static constexpr int kChunk = 64;
    static_assert(kChunk <= DampingFilter::kMaxBlock);
    // The limiter keeps peaks at or below this level.
    static constexpr float kCeiling = 1.0f;

    // Sizes every buffer for the rate; clears the state.
    void prepare(double sampleRate, int maxDelaySamples, int maxLookaheadSamples);
    // Clears the delay line, filters and limiter; the next process() starts
    // at the targets without gliding.
    void reset();
    bool isPrepared() const { return !mLineL.empty(); }
    double sampleRate() const { return mSampleRate; }
    int maxDelaySamples() const { return mMaxDelay; }
    int maxLookaheadSamples() const { return mMaxLookahead; }

    void setTargets(const DspTargets& targets) { mTarget = targets; }

    // Inputs may be the same buffer (mono) and may alias the outputs.
    void process(const float* inL, const float* inR, float* outL, float* outR, int frames);

private:
    void processChunk(const float* inL, const float* inR, float* outL, float* outR, int n);
    void readDelayed(const std::vector<float>& line, int delay, float* out, int n) const;
    void writeLine(std::vector<float>& line, const float* in, int n);
    void limit(float* outL, float* outR, int n);
    void resetLimiter();

    double mSampleRate = 0.0;
    int mMaxDelay = 0;
    int mMaxLookahead = 0;

    std::vector<float> mLineL, mLineR;
    std::size_t mLineMask = 0;
    std::size_t mWritePos = 0;

    DspTargets mTarget;
    bool mSnap = true;
    int mDelay = 1;
    float mFeedback = 0.f, mDry = 1.f, mWet = 0.f, mOut = 1.f;
    DampingFilter mDamping;

    // Limiter: the output waits in a ring for the look-ahead time while a
    // sliding-window minimum of the needed gain runs ahead of it.
    int mLookahead = 0;
    std::vector<float> mHoldL, mHoldR;
    std::size_t mHoldMask = 0;
    std::vector<float> mQueueGain;
    std::vector<int64_t> mQueueTime;
    std::size_t mQueueMask = 0, mQueueHead = 0, mQueueTail = 0;
    int64_t mTime = 0;
    float mLimiterGain = 1.f;
    float mRelease = 0.f;
};

} // namespace vxdelay
