// The reference engine behind the plug-in takes parameter values as the
// host sends them, unchecked: not-a-number, infinities, values far out of
// range. Whatever they are, the audio it puts out stays finite, set
// directly, in any combination, or reached through scheduled ramps.
#include "ParameterSupport.h"
#include "UnitHost.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

namespace {

using unithost::Component;
using unithost::Entry;

class HostileParameters : public ::testing::TestWithParam<Entry> {
protected:
    void SetUp() override {
        OSStatus status = 0;
        unit = unithost::open(Component::Plugin, GetParam(), &status);
        ASSERT_NE(unit, nullptr) << status;
        ASSERT_EQ(unithost::setFormats(unit, 44100, 2), 0);
        ASSERT_EQ(rig.attach(unit), 0);
        ASSERT_EQ(AudioUnitInitialize(unit), 0);
        params = unithost::globalParameters(unit);
        ASSERT_FALSE(params.empty());
    }
    void TearDown() override {
        if (unit) {
            EXPECT_EQ(unithost::close(unit), 0);
        }
    }
    // Renders blocks and fails on the first sample that is not finite.
    void renderFinite(UInt32 frames, int blocks, const std::string& what) {
        for (int b = 0; b < blocks; ++b) {
            ASSERT_EQ(rig.render(unit, frames), 0) << what;
            ASSERT_TRUE(rig.outputFinite(frames)) << what << ", block " << b;
        }
    }
    void setAll(float value) {
        for (const auto& p : params)
            AudioUnitSetParameter(unit, p.id, kAudioUnitScope_Global, 0, value, 0);
    }
    void setDefaults() {
        for (const auto& p : params)
            ASSERT_EQ(AudioUnitSetParameter(unit, p.id, kAudioUnitScope_Global, 0, p.def, 0), 0);
    }

    AudioUnit unit = nullptr;
    unithost::Rig rig;
    std::vector<unithost::ParameterRange> params;
};

TEST_P(HostileParameters, EachParameterAtEachHostileValueRendersFiniteAudio) {
    rig.inputLevel = 0.9f;
    for (const auto& p : params) {
        for (float v : unithost::hostileValues(p)) {
            const std::string what =
                "parameter " + std::to_string(p.id) + " = " + std::to_string(v);
            // The value reaches the engine; whatever it says, the call returns.
            AudioUnitSetParameter(unit, p.id, kAudioUnitScope_Global, 0, v, 0);
            AudioUnitParameterValue readBack = 0;
            AudioUnitGetParameter(unit, p.id, kAudioUnitScope_Global, 0, &readBack);
            renderFinite(512, 4, what);
            if (HasFatalFailure())
                return;
        }
        setDefaults();
        // Back at the defaults, the delay recovers: finite and not stuck.
        renderFinite(512, 8, "after parameter " + std::to_string(p.id));
    }
}

TEST_P(HostileParameters, AllParametersHostileTogetherRenderFiniteAudio) {
    using limits = std::numeric_limits<float>;
    for (float v :
         {limits::quiet_NaN(), limits::infinity(), -limits::infinity(), FLT_MAX, -FLT_MAX}) {
        setAll(v);
        renderFinite(1024, 4, "every parameter " + std::to_string(v));
        if (HasFatalFailure())
            return;
    }
    // Random mixtures of hostile and ordinary values, at random block sizes.
    std::mt19937 random(20240601);
    for (int round = 0; round < 300; ++round) {
        for (const auto& p : params) {
            const auto hostile = unithost::hostileValues(p);
            float v;
            switch (random() % 3) {
            case 0:
                v = hostile[random() % hostile.size()];
                break;
            case 1:
                v = std::uniform_real_distribution<float>(p.min, p.max)(random);
                break;
            default: {
                const uint32_t bits = static_cast<uint32_t>(random());
                std::memcpy(&v, &bits, sizeof v);
            }
            }
            AudioUnitSetParameter(unit, p.id, kAudioUnitScope_Global, 0, v, 0);
        }
        const UInt32 frames = 1 + random() % 1156;
        renderFinite(frames, 1, "round " + std::to_string(round));
        if (HasFatalFailure())
            return;
    }
}

TEST_P(HostileParameters, RampsTowardsHostileValuesRenderFiniteAudio) {
    using limits = std::numeric_limits<float>;
    const float targets[] = {limits::quiet_NaN(), limits::infinity(), -limits::infinity(), 1e30f};
    for (const auto& p : params) {
        for (float target : targets) {
            AudioUnitParameterEvent events[2]{};
            events[0].scope = kAudioUnitScope_Global;
            events[0].parameter = p.id;
            events[0].eventType = kParameterEvent_Ramped;
            events[0].eventValues.ramp = {0, 256, p.def, target};
            events[1].scope = kAudioUnitScope_Global;
            events[1].parameter = p.id;
            events[1].eventType = kParameterEvent_Immediate;
            events[1].eventValues.immediate = {384, target};
            AudioUnitScheduleParameters(unit, events, 2);
            renderFinite(512, 1,
                         "ramp of " + std::to_string(p.id) + " to " + std::to_string(target));
            if (HasFatalFailure())
                return;
            renderFinite(512, 2, "after the ramp");
        }
        setDefaults();
    }
}

TEST_P(HostileParameters, ExtremeRatesWithLongestDelayRenderFiniteAudio) {
    ASSERT_EQ(AudioUnitUninitialize(unit), 0);
    for (Float64 rate : {8000.0, 192000.0, 384000.0}) {
        ASSERT_EQ(AudioUnitUninitialize(unit), 0);
        ASSERT_EQ(unithost::setFormats(unit, rate, 2), 0) << rate;
        ASSERT_EQ(AudioUnitInitialize(unit), 0) << rate;
        for (const auto& p : params)
            AudioUnitSetParameter(unit, p.id, kAudioUnitScope_Global, 0, p.max, 0);
        renderFinite(1156, 8, "at " + std::to_string(rate) + " Hz, every parameter at its maximum");
        setAll(std::numeric_limits<float>::infinity());
        renderFinite(1156, 2, "at " + std::to_string(rate) + " Hz, every parameter infinite");
        if (HasFatalFailure())
            return;
        setDefaults();
    }
}

INSTANTIATE_TEST_SUITE_P(Entries, HostileParameters,
                         ::testing::Values(Entry::Factory, Entry::ComponentManager),
                         [](const auto& info) { return unithost::entryName(info.param); });

} // namespace
