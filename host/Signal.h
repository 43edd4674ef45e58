// Level measurements of rendered audio, and the check for values a unit must
// never produce.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vxhost {

class LevelMeter {
public:
    void add(const float* samples, size_t count);
    float peak() const { return mPeak; }
    double rms() const;
    uint64_t count() const { return mCount; }

private:
    float mPeak = 0;
    double mSumSquares = 0;
    uint64_t mCount = 0;
};

// "-6.02 dBFS", or "-inf dBFS" for silence.
std::string dbfs(double linear);

struct BadSamples {
    size_t nan = 0;
    size_t infinite = 0;
    size_t denormal = 0;
    bool any() const { return nan || infinite || denormal; }
    void add(const float* samples, size_t count);
    std::string text() const;
};

} // namespace vxhost
