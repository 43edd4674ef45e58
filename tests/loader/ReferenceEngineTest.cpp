// The reference delay, loaded from each of its builds the machine can run.
#include "LoaderTestSupport.h"

#include <engine_api/IAudioPlugin.h>
#include <rtcheck/rtcheck.h>

#include <dlfcn.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

using namespace vxtest;

namespace {

enum { kDelay, kFeedback, kHighCut, kMix, kOutput, kLookahead };

class Host : public IAudioHostLink {
public:
    float rate = 48000.f;
    std::vector<int> latencies;
    void IParamChanged(int) override {}
    int IGetRenderMode() override { return 0; }
    float IGetSampleRate() override { return rate; }
    int IGetBlockSize() override { return 0; }
    double IGetTempo() override { return 120.0; }
    double IGetHostSamplePosition() override { return 0.0; }
    bool IGetHostTransportPlaying() override { return false; }
    void ISetLatency(int samples) override { latencies.push_back(samples); }
    void IWindowSizeChanged() override {}
};

struct Build {
    const char* file;
    bool runnable;
};

std::vector<Build> runnableBuilds() {
    const Build all[] = {
        {"audplg.dylib", __builtin_cpu_supports("sse3") != 0},
        {"audplga.dylib", __builtin_cpu_supports("avx") != 0},
        {"audplga2.dylib", __builtin_cpu_supports("avx2") != 0},
        {"audplga5.dylib", __builtin_cpu_supports("avx512f") != 0},
    };
    std::vector<Build> out;
    for (const Build& b : all)
        if (b.runnable)
            out.push_back(b);
    return out;
}

// One ready engine: created, linked to the host, prepared and reset.
class Engine {
public:
    explicit Engine(const char* file, Host& host) {
        mHandle = dlopen(engineBuild(file).c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!mHandle)
            return;
        auto factory = reinterpret_cast<CreateAudioPluginInstanceFn>(
            dlsym(mHandle, "createAudioPluginInstance"));
        engine = factory ? factory() : nullptr;
        if (!engine)
            return;
        engine->ISetHostLink(&host);
        ready = engine->ICreate();
        engine->IPrepare();
        engine->IReset();
    }
    ~Engine() {
        if (engine)
            engine->IDestroy();
        if (mHandle)
            dlclose(mHandle);
    }
    IAudioPlugin* engine = nullptr;
    bool ready = false;

    // Runs a stereo signal through in blocks; left and right get the same input.
    std::vector<float> run(const std::vector<float>& input, int block,
                           std::vector<float>* right = nullptr) {
        std::vector<float> inL(input), inR(input), outL(input.size()), outR(input.size());
        for (size_t at = 0; at < input.size(); at += static_cast<size_t>(block)) {
            const int n =
                static_cast<int>(std::min<size_t>(static_cast<size_t>(block), input.size() - at));
            float* in[2] = {inL.data() + at, inR.data() + at};
            float* out[2] = {outL.data() + at, outR.data() + at};
            engine->IProcess(0, in, out, n);
        }
        if (right)
            *right = outR;
        return outL;
    }

private:
    void* mHandle = nullptr;
};

std::vector<float> impulse(size_t length, float height = 1.f) {
    std::vector<float> v(length, 0.f);
    v[0] = height;
    return v;
}

} // namespace

TEST(ReferenceEngine, ImpulseComesBackAtTheDelayTimeWithTheSetGain) {
    const auto builds = runnableBuilds();
    ASSERT_FALSE(builds.empty());
    for (const Build& b : builds) {
        Host host;
        Engine e(b.file, host);
        ASSERT_TRUE(e.ready) << b.file;
        e.engine->ISetParam(kDelay, 10.f); // 480 samples at 48 kHz
        e.engine->ISetParam(kFeedback, 0.f);
        e.engine->ISetParam(kMix, 100.f);
        e.engine->ISetParam(kOutput, -6.f);
        std::vector<float> right;
        const std::vector<float> left = e.run(impulse(2048), 100, &right);
        const float gain = std::pow(10.f, -6.f / 20.f);
        for (size_t i = 0; i < left.size(); ++i) {
            const float want = i == 480 ? gain : 0.f;
            ASSERT_NEAR(left[i], want, 1e-6f) << b.file << " sample " << i;
            ASSERT_NEAR(right[i], want, 1e-6f) << b.file << " sample " << i;
        }
    }
}

TEST(ReferenceEngine, FeedbackRepeatsDecayAndDampingDarkensThem) {
    for (const Build& b : runnableBuilds()) {
        Host host;
        Engine e(b.file, host);
        e.engine->ISetParam(kDelay, 5.f); // 240 samples
        e.engine->ISetParam(kFeedback, 50.f);
        e.engine->ISetParam(kMix, 100.f);
        e.engine->ISetParam(kHighCut, 20000.f);
        const std::vector<float> bright = e.run(impulse(1024), 64);
        EXPECT_NEAR(bright[240], 1.f, 1e-6f) << b.file;
        const float second = *std::max_element(bright.begin() + 470, bright.begin() + 500);
        EXPECT_GT(second, 0.3f) << b.file;
        EXPECT_LT(second, 0.5f + 1e-6f) << b.file;
        const float third = *std::max_element(bright.begin() + 710, bright.begin() + 760);
        EXPECT_LT(third, second) << b.file;

        e.engine->IReset();
        e.engine->ISetParam(kHighCut, 1000.f);
        const std::vector<float> dark = e.run(impulse(1024), 64);
        const float darkSecond = *std::max_element(dark.begin() + 470, dark.begin() + 500);
        EXPECT_LT(darkSecond, second * 0.5f) << b.file << ": repeats lose their highs";
    }
}

TEST(ReferenceEngine, DryMixProcessesInPlaceAndMonoInput) {
    for (const Build& b : runnableBuilds()) {
        Host host;
        Engine e(b.file, host);
        e.engine->ISetParam(kMix, 0.f);
        e.engine->ISetParam(kOutput, 6.f);
        std::vector<float> buffer(256);
        for (size_t i = 0; i < buffer.size(); ++i)
            buffer[i] = std::sin(0.05f * static_cast<float>(i));
        const std::vector<float> original = buffer;
        std::vector<float> other(buffer.size());
        float* in[2] = {buffer.data(), buffer.data()}; // mono: one buffer for both inputs
        float* out[2] = {buffer.data(), other.data()}; // and processed in place
        e.engine->IProcess(0, in, out, 256);
        const float gain = std::pow(10.f, 6.f / 20.f);
        for (size_t i = 0; i < original.size(); ++i) {
            ASSERT_NEAR(buffer[i], original[i] * gain, 1e-5f) << b.file << " " << i;
            ASSERT_NEAR(other[i], original[i] * gain, 1e-5f) << b.file << " " << i;
        }
    }
}

TEST(ReferenceEngine, LookaheadReportsLatencyDelaysTheOutputAndHoldsTheCeiling) {
    for (const Build& b : runnableBuilds()) {
        Host host;
        Engine e(b.file, host);
        ASSERT_EQ(host.latencies, std::vector<int>{0}) << "reported once prepared";
        e.engine->ISetParam(kLookahead, 5.f);
        EXPECT_EQ(host.latencies.back(), 240) << "5 ms at 48 kHz";
        e.engine->ISetParam(kLookahead, 5.f);
        EXPECT_EQ(host.latencies.size(), 2u) << "no report without a change";
        e.engine->ISetParam(kMix, 0.f);
        const std::vector<float> delayed = e.run(impulse(600, 0.5f), 128);
        for (size_t i = 0; i < delayed.size(); ++i)
            ASSERT_NEAR(delayed[i], i == 240 ? 0.5f : 0.f, 1e-6f) << b.file << " " << i;

        // A burst far over full scale comes out limited, not silenced.
        e.engine->IReset();
        std::vector<float> burst(4800, 0.f);
        for (size_t i = 1000; i < 1400; ++i)
            burst[i] = 3.f * std::sin(0.3f * static_cast<float>(i));
        const std::vector<float> limited = e.run(burst, 256);
        float peak = 0.f;
        for (float v : limited)
            peak = std::max(peak, std::fabs(v));
        EXPECT_LE(peak, 1.f + 1e-6f) << b.file;
        EXPECT_GT(peak, 0.5f) << b.file;

        host.rate = 96000.f;
        e.engine->ISuspend();
        e.engine->IPrepare();
        EXPECT_EQ(host.latencies.back(), 480) << "latency follows the sample rate";
    }
}

TEST(ReferenceEngine, TailFollowsTheFeedback) {
    Host host;
    Engine e(runnableBuilds().at(0).file, host);
    const AudioPluginInfo* info = e.engine->IGetInfo();
    EXPECT_EQ(info->paramCount, 6u);
    EXPECT_TRUE(info->supportsTail);
    EXPECT_EQ(info->fixedLatency, -1);
    e.engine->ISetParam(kDelay, 500.f);
    e.engine->ISetParam(kFeedback, 0.f);
    EXPECT_FLOAT_EQ(e.engine->IGetTailTime(), 0.5f);
    e.engine->ISetParam(kFeedback, 50.f);
    // 0.5^10 is the first repeat below -60 dB: eleven delay times in all.
    EXPECT_FLOAT_EQ(e.engine->IGetTailTime(), 5.5f);
    e.engine->ISetParam(kFeedback, 90.f);
    EXPECT_GT(e.engine->IGetTailTime(), 30.f);
}

TEST(ReferenceEngine, StateBlockRestoresEveryParameterAndRejectsForeignBlocks) {
    Host host;
    Engine e(runnableBuilds().at(0).file, host);
    const float values[] = {725.f, 62.f, 4500.f, 80.f, -3.f, 2.f};
    for (int i = 0; i < 6; ++i)
        e.engine->ISetParam(i, values[i]);
    e.engine->ISaveState();
    const int size = e.engine->IGetStateSize();
    const auto* data = static_cast<const unsigned char*>(e.engine->IGetStateData());
    std::vector<unsigned char> saved(data, data + size);
    ASSERT_GE(size, 8 + 6 * 4) << "a format version and all six parameters";

    for (int i = 0; i < 6; ++i)
        e.engine->ISetParam(i, e.engine->IGetParamDefault(i));
    e.engine->ILoadState(saved.data(), size);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(e.engine->IGetParam(i), values[i]) << e.engine->IGetParamName(i);

    std::vector<unsigned char> foreign = saved;
    foreign[0] ^= 0xFF;
    e.engine->ISetParam(0, 100.f);
    e.engine->ILoadState(foreign.data(), size);
    e.engine->ILoadState(saved.data(), size - 1);
    e.engine->ILoadState(nullptr, size);
    EXPECT_EQ(e.engine->IGetParam(0), 100.f) << "damaged blocks change nothing";

    // Out-of-range and non-numbers never get in.
    e.engine->ISetParam(1, 500.f);
    EXPECT_EQ(e.engine->IGetParam(1), 95.f);
    e.engine->ISetParam(1, NAN);
    EXPECT_EQ(e.engine->IGetParam(1), 95.f);
    float lo = 1, hi = 0;
    e.engine->IGetParamRange(99, &lo, &hi);
    EXPECT_EQ(lo, 0.f);
    EXPECT_EQ(hi, 0.f);
    EXPECT_STREQ(e.engine->IGetParamName(-1), "");
}

TEST(ReferenceEngine, ProcessingAllocatesAndLocksNothing) {
    if (!rtcheck::countsAllocations())
        GTEST_SKIP() << "this build cannot count allocations";
    for (const Build& b : runnableBuilds()) {
        Host host;
        Engine e(b.file, host);
        e.engine->ISetParam(kLookahead, 3.f);
        std::vector<float> inL(512, 0.25f), inR(512, -0.25f), outL(512), outR(512);
        float* in[2] = {inL.data(), inR.data()};
        float* out[2] = {outL.data(), outR.data()};
        rtcheck::Scope scope;
        for (int block = 0; block < 200; ++block) {
            // Parameter moves between blocks exercise the glides and the
            // delay crossfade too.
            e.engine->ISetParam(kDelay, 20.f + static_cast<float>(block % 7));
            e.engine->ISetParam(kMix, static_cast<float>(block % 100));
            e.engine->IProcess(0, in, out, 512);
        }
        const rtcheck::Counts counts = scope.counts();
        EXPECT_EQ(counts.allocations, 0) << b.file;
        EXPECT_EQ(counts.frees, 0) << b.file;
        if (rtcheck::countsLocks()) {
            EXPECT_EQ(counts.locks, 0) << b.file;
        }
    }
}
