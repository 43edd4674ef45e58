// What the validation checks share: deterministic noise, buffers, a unit
// prepared for rendering, and the checks of each family, which
// ValidateChecks.cpp puts in order.
#pragma once

#include "Alerts.h"
#include "CFUtil.h"
#include "HostError.h"
#include "Parameters.h"
#include "Presets.h"
#include "Renderer.h"
#include "Signal.h"
#include "Validate.h"

#include <AudioUnit/AudioUnitProperties.h>

#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

namespace vxhost::validate {

constexpr double kColdOpenLimitMs = 5000.0;
constexpr double kWarmOpenLimitMs = 1000.0;

// Deterministic white noise, so that a failing render can be reproduced.
class Noise {
public:
    explicit Noise(uint32_t seed) : mState(seed ? seed : 1) {}
    float next() {
        mState ^= mState << 13;
        mState ^= mState >> 17;
        mState ^= mState << 5;
        return static_cast<float>(mState) / 4294967296.0f - 0.5f;
    }
    void fill(std::vector<std::vector<float>>& channels, size_t frames) {
        for (size_t f = 0; f < frames; ++f)
            for (auto& c : channels)
                c[f] = next();
    }

private:
    uint32_t mState;
};

struct Buffers {
    Buffers(UInt32 inChannels, UInt32 outChannels, size_t frames)
        : in(inChannels, std::vector<float>(frames, 0.0f)),
          out(outChannels, std::vector<float>(frames, 0.0f)) {
        for (auto& c : in)
            inPtr.push_back(c.data());
        for (auto& c : out)
            outPtr.push_back(c.data());
    }
    std::vector<std::vector<float>> in;
    std::vector<std::vector<float>> out;
    std::vector<const float*> inPtr;
    std::vector<float*> outPtr;
    // Output the unit leaves unwritten stays NaN and is caught as bad samples.
    void poisonOutput() {
        for (auto& c : out)
            std::fill(c.begin(), c.end(), std::numeric_limits<float>::quiet_NaN());
    }
};

inline std::string statusOf(OSStatus s) {
    return statusText(s);
}

// The channel counts the checks render with: the unit's stereo effect
// configuration when it has one, else the first it allows.
inline std::pair<UInt32, UInt32> renderChannels(AudioUnit unit) {
    const auto configs = channelConfigs(unit);
    for (UInt32 in : {2u, 1u})
        if (const auto out = outputChannelsFor(configs, in, 2))
            return {in, *out};
    return {2, 2};
}

inline UInt32 maxFramesOf(AudioUnit unit) {
    UInt32 frames = 0;
    UInt32 size = sizeof frames;
    check(AudioUnitGetProperty(unit, kAudioUnitProperty_MaximumFramesPerSlice,
                               kAudioUnitScope_Global, 0, &frames, &size),
          "reading MaximumFramesPerSlice");
    return frames;
}

// A unit set up and initialized for rendering.
struct Prepared {
    Prepared(const ComponentRef& ref, Entry entry, double rate, UInt32 block, UInt32 maxFrames = 0)
        : unit(ref, entry) {
        const auto [in, out] = renderChannels(unit.get());
        RenderSetup setup;
        setup.rate = rate;
        setup.block = block;
        setup.inChannels = in;
        setup.outChannels = out;
        setup.maxFramesPerSlice = maxFrames;
        session = std::make_unique<RenderSession>(unit.get(), setup);
        check(session->configure(), fmt::format("setting up {} Hz, {} in / {} out", rate, in, out));
        check(session->initialize(), "AudioUnitInitialize");
    }
    Unit unit;
    std::unique_ptr<RenderSession> session;
};

// Whether a value read back matches the one set, within the parameter's span.
inline bool closeEnough(Float32 a, Float32 b, const ParamInfo& p) {
    const double span = std::max(1e-6, static_cast<double>(p.max) - p.min);
    return std::fabs(static_cast<double>(a) - b) <= 1e-5 * span + 1e-6;
}

// Opening, properties, formats and channel configurations (ValidateFormats.cpp).
Outcome openTime(const ComponentRef& ref, Entry entry, bool cold);
Outcome requiredProperties(const ComponentRef& ref, Entry entry);
Outcome defaultFormats(const ComponentRef& ref, Entry entry);
Outcome initializeDefault(const ComponentRef& ref, Entry entry);
Outcome channelConfigurations(const ComponentRef& ref, Entry entry);
Outcome renderEveryConfiguration(const ComponentRef& ref, Entry entry);

// Parameters (ValidateParameters.cpp).
Outcome parameterInfo(const ComponentRef& ref, Entry entry);
Outcome parameterRoundTrips(const ComponentRef& ref, Entry entry);

// Rendering (ValidateRender.cpp).
Outcome renderGrid(const ComponentRef& ref, Entry entry, double rate, double seconds);
Outcome tooManyFrames(const ComponentRef& ref, Entry entry);
Outcome slicesWithChanges(const ComponentRef& ref, Entry entry, double seconds);
Outcome bypass(const ComponentRef& ref, Entry entry);
Outcome resetCheck(const ComponentRef& ref, Entry entry, double seconds);
Outcome stateSaveRestore(const ComponentRef& ref, Entry entry);

// Bad requests (ValidateRequests.cpp).
Outcome badArguments(const ComponentRef& ref, Entry entry);

} // namespace vxhost::validate
