#include "DelayDsp.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vxdelay {
namespace {

std::size_t powerOfTwoAtLeast(std::size_t n) {
    std::size_t p = 1;
    while (p < n)
        p <<= 1;
    return p;
}

// Mix stage: the loop the compiler turns into vector code for each build.
// Gains glide linearly from their old to their new value across the chunk.
void mixChunk(const float* __restrict dryL, const float* __restrict dryR,
              const float* __restrict wetL, const float* __restrict wetR, float* __restrict outL,
              float* __restrict outR, int n, float dry0, float dryStep, float wet0, float wetStep,
              float out0, float outStep) {
    for (int i = 0; i < n; ++i) {
        const float k = static_cast<float>(i + 1);
        const float dry = dry0 + dryStep * k;
        const float wet = wet0 + wetStep * k;
        const float out = out0 + outStep * k;
        outL[i] = (dryL[i] * dry + wetL[i] * wet) * out;
        outR[i] = (dryR[i] * dry + wetR[i] * wet) * out;
    }
}

void crossfade(float* __restrict from, const float* __restrict to, int n) {
    const float step = 1.f / static_cast<float>(n);
    for (int i = 0; i < n; ++i)
        from[i] += (to[i] - from[i]) * (step * static_cast<float>(i + 1));
}

// The new line contents: input plus the damped repeats at the feedback
// gain, which glides linearly across the chunk.
void feedbackChunk(const float* __restrict dryL, const float* __restrict dryR,
                   const float* __restrict lowL, const float* __restrict lowR,
                   float* __restrict toLineL, float* __restrict toLineR, int n, float fb0,
                   float fbStep) {
    for (int i = 0; i < n; ++i) {
        const float fb = fb0 + fbStep * static_cast<float>(i + 1);
        toLineL[i] = dryL[i] + fb * lowL[i];
        toLineR[i] = dryR[i] + fb * lowR[i];
    }
}

} // namespace

void DelayDsp::prepare(double sampleRate, int maxDelaySamples, int maxLookaheadSamples) {
    mSampleRate = sampleRate;
    mMaxDelay = std::max(1, maxDelaySamples);
    mMaxLookahead = std::max(0, maxLookaheadSamples);
    const std::size_t lineSize =
        powerOfTwoAtLeast(static_cast<std::size_t>(mMaxDelay) + kChunk + 1);
    mLineL.assign(lineSize, 0.f);
    mLineR.assign(lineSize, 0.f);
    mLineMask = lineSize - 1;
    const std::size_t holdSize = powerOfTwoAtLeast(static_cast<std::size_t>(mMaxLookahead) + 1);
    mHoldL.assign(holdSize, 0.f);
    mHoldR.assign(holdSize, 0.f);
    mHoldMask = holdSize - 1;
    const std::size_t queueSize = powerOfTwoAtLeast(static_cast<std::size_t>(mMaxLookahead) + 2);
    mQueueGain.assign(queueSize, 1.f);
    mQueueTime.assign(queueSize, 0);
    mQueueMask = queueSize - 1;
    // Gain recovers with a time constant of about 50 ms after a peak.
    mRelease = static_cast<float>(1.0 - std::exp(-1.0 / (0.05 * sampleRate)));
    reset();
}

void DelayDsp::reset() {
    std::fill(mLineL.begin(), mLineL.end(), 0.f);
    std::fill(mLineR.begin(), mLineR.end(), 0.f);
    mWritePos = 0;
    mDamping.reset();
    mSnap = true;
    resetLimiter();
}

void DelayDsp::resetLimiter() {
    std::fill(mHoldL.begin(), mHoldL.end(), 0.f);
    std::fill(mHoldR.begin(), mHoldR.end(), 0.f);
    mQueueHead = mQueueTail = 0;
    mTime = 0;
    mLimiterGain = 1.f;
}

void DelayDsp::readDelayed(const std::vector<float>& line, int delay, float* out, int n) const {
    const std::size_t start = (mWritePos - static_cast<std::size_t>(delay)) & mLineMask;
    const std::size_t first =
        std::min<std::size_t>(static_cast<std::size_t>(n), line.size() - start);
    std::memcpy(out, line.data() + start, first * sizeof(float));
    if (first < static_cast<std::size_t>(n))
        std::memcpy(out + first, line.data(),
                    (static_cast<std::size_t>(n) - first) * sizeof(float));
}

void DelayDsp::writeLine(std::vector<float>& line, const float* in, int n) {
    const std::size_t first =
        std::min<std::size_t>(static_cast<std::size_t>(n), line.size() - mWritePos);
    std::memcpy(line.data() + mWritePos, in, first * sizeof(float));
    if (first < static_cast<std::size_t>(n))
        std::memcpy(line.data(), in + first, (static_cast<std::size_t>(n) - first) * sizeof(float));
}

void DelayDsp::process(const float* inL, const float* inR, float* outL, float* outR, int frames) {
    if (frames <= 0 || !outL || !outR)
        return;
    if (!isPrepared() || !inL || !inR) {
        std::memset(outL, 0, static_cast<std::size_t>(frames) * sizeof(float));
        std::memset(outR, 0, static_cast<std::size_t>(frames) * sizeof(float));
        return;
    }
    const int target = std::clamp(mTarget.delaySamples, 1, mMaxDelay);
    const int lookahead = std::clamp(mTarget.lookaheadSamples, 0, mMaxLookahead);
    if (mSnap) {
        mDelay = target;
        mFeedback = mTarget.feedback;
        mDry = mTarget.dryGain;
        mWet = mTarget.wetGain;
        mOut = mTarget.outputGain;
        mSnap = false;
    }
    if (lookahead != mLookahead) {
        // A new look-ahead time starts the limiter afresh; the held output
        // is dropped rather than replayed at the wrong offset.
        mLookahead = lookahead;
        resetLimiter();
    }
    int done = 0;
    while (done < frames) {
        const int n = std::min({frames - done, kChunk, mDelay, target});
        processChunk(inL + done, inR + done, outL + done, outR + done, n);
        done += n;
    }
}

void DelayDsp::processChunk(const float* inL, const float* inR, float* outL, float* outR, int n) {
    const std::size_t bytes = static_cast<std::size_t>(n) * sizeof(float);
    float dryL[kChunk], dryR[kChunk];
    // Inputs are copied first: the host may process in place.
    std::memcpy(dryL, inL, bytes);
    std::memcpy(dryR, inR, bytes);

    // The repeats are read where they lie in the line unless they wrap
    // around its end or fade over to a new tap.
    float wetBufL[kChunk], wetBufR[kChunk];
    const float* wetL = wetBufL;
    const float* wetR = wetBufR;
    const int target = std::clamp(mTarget.delaySamples, 1, mMaxDelay);
    const std::size_t readPos = (mWritePos - static_cast<std::size_t>(mDelay)) & mLineMask;
    if (target == mDelay && readPos + static_cast<std::size_t>(n) <= mLineL.size()) {
        wetL = mLineL.data() + readPos;
        wetR = mLineR.data() + readPos;
    } else {
        readDelayed(mLineL, mDelay, wetBufL, n);
        readDelayed(mLineR, mDelay, wetBufR, n);
    }
    if (target != mDelay) {
        // A new delay time fades over from the old tap instead of jumping.
        float newL[kChunk], newR[kChunk];
        readDelayed(mLineL, target, newL, n);
        readDelayed(mLineR, target, newR, n);
        crossfade(wetBufL, newL, n);
        crossfade(wetBufR, newR, n);
        mDelay = target;
    }

    // Feedback through the damping filter, written straight into the line
    // unless the chunk wraps around its end. A chunk is never longer than
    // the delay, so what is written here is not what was read above.
    const float inv = 1.f / static_cast<float>(n);
    float lowL[kChunk], lowR[kChunk];
    mDamping.process(wetL, wetR, lowL, lowR, n, mTarget.dampCoefficient);
    const bool wraps = mWritePos + static_cast<std::size_t>(n) > mLineL.size();
    float toLineL[kChunk], toLineR[kChunk];
    feedbackChunk(dryL, dryR, lowL, lowR, wraps ? toLineL : mLineL.data() + mWritePos,
                  wraps ? toLineR : mLineR.data() + mWritePos, n, mFeedback,
                  (mTarget.feedback - mFeedback) * inv);
    if (wraps) {
        writeLine(mLineL, toLineL, n);
        writeLine(mLineR, toLineR, n);
    }
    mFeedback = mTarget.feedback;
    mWritePos = (mWritePos + static_cast<std::size_t>(n)) & mLineMask;

    mixChunk(dryL, dryR, wetL, wetR, outL, outR, n, mDry, (mTarget.dryGain - mDry) * inv, mWet,
             (mTarget.wetGain - mWet) * inv, mOut, (mTarget.outputGain - mOut) * inv);
    mDry = mTarget.dryGain;
    mWet = mTarget.wetGain;
    mOut = mTarget.outputGain;

    if (mLookahead > 0)
        limit(outL, outR, n);
}

void DelayDsp::limit(float* outL, float* outR, int n) {
    const int64_t window = mLookahead;
    for (int i = 0; i < n; ++i) {
        const float l = outL[i], r = outR[i];
        mHoldL[static_cast<std::size_t>(mTime) & mHoldMask] = l;
        mHoldR[static_cast<std::size_t>(mTime) & mHoldMask] = r;
        const float peak = std::max(std::fabs(l), std::fabs(r));
        const float needed = peak > kCeiling ? kCeiling / peak : 1.f;
        // Sliding minimum of the needed gain over the samples still held.
        // A reset that lands while another thread processes can leave the
        // head past the tail; start the window afresh rather than walk the
        // whole index range.
        if (mQueueTail - mQueueHead > mQueueMask + 1)
            mQueueHead = mQueueTail;
        while (mQueueTail != mQueueHead && mQueueGain[(mQueueTail - 1) & mQueueMask] >= needed)
            --mQueueTail;
        mQueueGain[mQueueTail & mQueueMask] = needed;
        mQueueTime[mQueueTail & mQueueMask] = mTime;
        ++mQueueTail;
        while (mQueueHead + 1 < mQueueTail && mQueueTime[mQueueHead & mQueueMask] < mTime - window)
            ++mQueueHead;
        const float lowest = mQueueGain[mQueueHead & mQueueMask];
        mLimiterGain =
            lowest < mLimiterGain ? lowest : mLimiterGain + (lowest - mLimiterGain) * mRelease;
        const std::size_t out = static_cast<std::size_t>(mTime - window) & mHoldMask;
        outL[i] = mHoldL[out] * mLimiterGain;
        outR[i] = mHoldR[out] * mLimiterGain;
        ++mTime;
    }
}

} // namespace vxdelay
