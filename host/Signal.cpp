#include "Signal.h"

#include <fmt/format.h>

#include <cmath>

namespace vxhost {

void LevelMeter::add(const float* samples, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const float a = std::fabs(samples[i]);
        if (a > mPeak)
            mPeak = a;
        mSumSquares += static_cast<double>(samples[i]) * samples[i];
    }
    mCount += count;
}

double LevelMeter::rms() const {
    return mCount ? std::sqrt(mSumSquares / static_cast<double>(mCount)) : 0.0;
}

std::string dbfs(double linear) {
    if (!(linear > 0.0))
        return "-inf dBFS";
    return fmt::format("{:.2f} dBFS", 20.0 * std::log10(linear));
}

void BadSamples::add(const float* samples, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        switch (std::fpclassify(samples[i])) {
        case FP_NAN:
            ++nan;
            break;
        case FP_INFINITE:
            ++infinite;
            break;
        case FP_SUBNORMAL:
            ++denormal;
            break;
        default:
            break;
        }
    }
}

std::string BadSamples::text() const {
    return fmt::format("{} NaN, {} infinite, {} denormal samples", nan, infinite, denormal);
}

} // namespace vxhost
