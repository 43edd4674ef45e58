// The reference delay's first-generation build, which every accepted
// processor runs. (That the other builds render alike is checked on
// emulated processors, in cpu_levels.)
#include "LoaderTestSupport.h"

#include <engine_api/IAudioPlugin.h>

#include <dlfcn.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

enum { kDelay, kFeedback, kHighCut, kMix, kOutput, kLookahead };

using Host = vxtest::TestHost;

// One engine: created, linked to the host, prepared and reset.
struct Engine {
    explicit Engine(Host& host)
        : module(dlopen(vxtest::engineBuild("audplg.dylib").c_str(), RTLD_NOW | RTLD_LOCAL)) {
        auto factory = reinterpret_cast<CreateAudioPluginInstanceFn>(
            module ? dlsym(module, "createAudioPluginInstance") : nullptr);
        e = factory ? factory() : nullptr;
        if (!e)
            return;
        e->ISetHostLink(&host);
        EXPECT_TRUE(e->ICreate());
        e->IPrepare();
        e->IReset();
    }
    ~Engine() {
        if (e)
            e->IDestroy();
        if (module)
            dlclose(module);
    }
    // Runs a signal through in blocks as a host with a mono input does: one
    // buffer for both inputs, processed in place into the left output.
    std::vector<float> run(std::vector<float> left, int block,
                           std::vector<float>* right = nullptr) {
        std::vector<float> other(left.size());
        for (size_t at = 0; at < left.size(); at += static_cast<size_t>(block)) {
            const int n = static_cast<int>(std::min(static_cast<size_t>(block), left.size() - at));
            float* in[2] = {left.data() + at, left.data() + at};
            float* out[2] = {left.data() + at, other.data() + at};
            e->IProcess(0, in, out, n);
        }
        if (right)
            *right = other;
        return left;
    }
    void* module;
    IAudioPlugin* e;
};

std::vector<float> impulse(size_t length, float height = 1.f) {
    std::vector<float> v(length, 0.f);
    v[0] = height;
    return v;
}

float peakOf(const std::vector<float>& v, size_t from, size_t to) {
    return *std::max_element(v.begin() + static_cast<long>(from),
                             v.begin() + static_cast<long>(to));
}

} // namespace

TEST(ReferenceEngine, DelaysFeedsBackDampsAndLooksAhead) {
    Host host;
    Engine e(host);
    ASSERT_NE(e.e, nullptr);
    ASSERT_EQ(host.latencies, std::vector<int>{0}) << "reported once prepared";
    e.e->ISetParam(kDelay, 10.f); // 480 samples at 48 kHz
    e.e->ISetParam(kFeedback, 0.f);
    e.e->ISetParam(kMix, 25.f);
    e.e->ISetParam(kOutput, -6.f);
    std::vector<float> right;
    const std::vector<float> left = e.run(impulse(2048), 100, &right);
    const float gain = std::pow(10.f, -6.f / 20.f);
    for (size_t i = 0; i < left.size(); ++i) {
        const float want = i == 0 ? 0.75f * gain : i == 480 ? 0.25f * gain : 0.f;
        ASSERT_NEAR(left[i], want, 1e-6f) << "sample " << i;
        ASSERT_NEAR(right[i], want, 1e-6f) << "sample " << i;
    }

    e.e->ISetParam(kMix, 100.f);
    e.e->IReset();
    e.e->ISetParam(kOutput, 0.f);
    e.e->ISetParam(kDelay, 5.f); // 240 samples
    e.e->ISetParam(kFeedback, 50.f);
    e.e->ISetParam(kHighCut, 20000.f);
    const std::vector<float> bright = e.run(impulse(1024), 64);
    EXPECT_NEAR(bright[240], 1.f, 1e-6f);
    const float second = peakOf(bright, 470, 500);
    EXPECT_GT(second, 0.3f);
    EXPECT_LT(second, 0.5f + 1e-6f);
    EXPECT_LT(peakOf(bright, 710, 760), second);
    e.e->IReset();
    e.e->ISetParam(kHighCut, 1000.f);
    EXPECT_LT(peakOf(e.run(impulse(1024), 64), 470, 500), second * 0.5f)
        << "repeats lose their highs";

    e.e->IReset();
    e.e->ISetParam(kFeedback, 0.f);
    e.e->ISetParam(kLookahead, 5.f);
    EXPECT_EQ(host.latencies.back(), 240) << "5 ms at 48 kHz";
    e.e->ISetParam(kLookahead, 5.f);
    EXPECT_EQ(host.latencies.size(), 2u) << "no report without a change";
    e.e->ISetParam(kMix, 0.f);
    const std::vector<float> delayed = e.run(impulse(600, 0.5f), 128);
    for (size_t i = 0; i < delayed.size(); ++i)
        ASSERT_NEAR(delayed[i], i == 240 ? 0.5f : 0.f, 1e-6f) << "sample " << i;
    // A burst far over full scale comes out limited, not silenced.
    e.e->IReset();
    std::vector<float> burst(4800, 0.f);
    for (size_t i = 1000; i < 1400; ++i)
        burst[i] = 3.f * std::sin(0.3f * static_cast<float>(i));
    float peak = 0.f;
    for (float v : e.run(burst, 256))
        peak = std::max(peak, std::fabs(v));
    EXPECT_LE(peak, 1.f + 1e-6f);
    EXPECT_GT(peak, 0.5f);
    host.rate = 96000.f;
    e.e->ISuspend();
    e.e->IPrepare();
    EXPECT_EQ(host.latencies.back(), 480) << "latency follows the sample rate";
}

TEST(ReferenceEngine, TailInfoAndStateBlock) {
    Host host;
    Engine e(host);
    ASSERT_NE(e.e, nullptr);
    const AudioPluginInfo* info = e.e->IGetInfo();
    EXPECT_EQ(info->paramCount, 6u);
    EXPECT_TRUE(info->supportsTail);
    EXPECT_EQ(info->fixedLatency, -1);
    e.e->ISetParam(kDelay, 500.f);
    e.e->ISetParam(kFeedback, 0.f);
    EXPECT_FLOAT_EQ(e.e->IGetTailTime(), 0.5f);
    e.e->ISetParam(kFeedback, 50.f);
    // 0.5^10 is the first repeat below -60 dB: eleven delay times in all.
    EXPECT_FLOAT_EQ(e.e->IGetTailTime(), 5.5f);
    e.e->ISetParam(kLookahead, 4.f);
    EXPECT_FLOAT_EQ(e.e->IGetTailTime(), 5.504f) << "the look-ahead adds its own time";

    const float values[] = {725.f, 62.f, 4500.f, 80.f, -3.f, 2.f};
    for (int i = 0; i < 6; ++i)
        e.e->ISetParam(i, values[i]);
    e.e->ISaveState();
    const int size = e.e->IGetStateSize();
    const auto* data = static_cast<const unsigned char*>(e.e->IGetStateData());
    const std::vector<unsigned char> saved(data, data + size);
    ASSERT_GE(size, 8 + 6 * 4) << "a format version and all six parameters";
    for (int i = 0; i < 6; ++i)
        e.e->ISetParam(i, e.e->IGetParamDefault(i));
    e.e->ILoadState(saved.data(), size);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(e.e->IGetParam(i), values[i]) << e.e->IGetParamName(i);

    std::vector<unsigned char> foreign = saved;
    foreign[0] ^= 0xFF;
    e.e->ISetParam(0, 100.f);
    e.e->ILoadState(foreign.data(), size);
    e.e->ILoadState(saved.data(), size - 1);
    e.e->ILoadState(nullptr, size);
    EXPECT_EQ(e.e->IGetParam(0), 100.f) << "damaged blocks change nothing";

    // Out-of-range and non-numbers never get in.
    e.e->ISetParam(1, 500.f);
    EXPECT_EQ(e.e->IGetParam(1), 95.f);
    e.e->ISetParam(1, NAN);
    EXPECT_EQ(e.e->IGetParam(1), 95.f);
    float lo = 1, hi = 0;
    e.e->IGetParamRange(99, &lo, &hi);
    EXPECT_EQ(lo, 0.f);
    EXPECT_EQ(hi, 0.f);
    EXPECT_STREQ(e.e->IGetParamName(-1), "");
}
