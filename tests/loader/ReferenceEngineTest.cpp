// Engine modules: the engine interface's binary layout, checked against an
// engine built as a separate module, and the reference delay's
// first-generation build, which every accepted processor runs. (That the
// other builds render alike is checked on emulated processors, in cpu_levels.)
#include "LoaderTestSupport.h"

#include <dlfcn.h>

#include <gmock/gmock.h>

#include <algorithm>
#include <cmath>

using ::testing::ElementsAre;
using ::testing::FloatEq;

namespace {

enum { kDelay, kFeedback, kHighCut, kMix, kOutput, kLookahead };

using Host = vxtest::TestHost;

// An engine of a module that stays open for the object's life.
struct Engine {
    explicit Engine(const vxtest::fs::path& path)
        : module(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)),
          e(reinterpret_cast<CreateAudioPluginInstanceFn>(symbol("createAudioPluginInstance"))()) {}
    // The reference engine, created, linked to the host, prepared and reset.
    explicit Engine(Host& host) : Engine(vxtest::engineBuild("audplg.dylib")) {
        e->ISetHostLink(&host);
        EXPECT_TRUE(e->ICreate());
        e->IPrepare();
        e->IReset();
    }
    ~Engine() {
        if (e)
            e->IDestroy();
        dlclose(module);
    }
    void* symbol(const char* name) { return module ? dlsym(module, name) : nullptr; }
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

template <typename R, typename... A> R callSlot(void* object, int slot, A... args) {
    void** table = *static_cast<void***>(object);
    return reinterpret_cast<R (*)(void*, A...)>(table[slot])(object, args...);
}

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
    ASSERT_EQ(host.latencies, std::vector<int>{0}) << "reported once prepared";
    auto set = [&](std::initializer_list<std::pair<int, float>> values) {
        for (auto [index, value] : values)
            e.e->ISetParam(index, value);
    };
    set({{kDelay, 10.f}, {kFeedback, 0.f}, {kMix, 25.f}, {kOutput, -6.f}}); // 480 samples
    std::vector<float> right;
    const std::vector<float> left = e.run(impulse(2048), 100, &right);
    const float gain = std::pow(10.f, -6.f / 20.f);
    for (size_t i = 0; i < left.size(); ++i) {
        const float want = i == 0 ? 0.75f * gain : i == 480 ? 0.25f * gain : 0.f;
        ASSERT_NEAR(left[i], want, 1e-6f) << "sample " << i;
        ASSERT_NEAR(right[i], want, 1e-6f) << "sample " << i;
    }

    e.e->IReset();
    set({{kMix, 100.f}, {kOutput, 0.f}, {kDelay, 5.f}, {kFeedback, 50.f}, {kHighCut, 20000.f}});
    const std::vector<float> bright = e.run(impulse(1024), 64); // repeats every 240 samples
    const float second = peakOf(bright, 470, 500);
    EXPECT_NEAR(bright[240], 1.f, 1e-6f);
    EXPECT_TRUE(second > 0.3f && second < 0.5f + 1e-6f && peakOf(bright, 710, 760) < second)
        << second;
    e.e->IReset();
    e.e->ISetParam(kHighCut, 1000.f);
    EXPECT_LT(peakOf(e.run(impulse(1024), 64), 470, 500), second * 0.5f)
        << "repeats lose their highs";

    e.e->IReset();
    set({{kFeedback, 0.f}, {kLookahead, 5.f}, {kLookahead, 5.f}, {kMix, 0.f}});
    EXPECT_EQ(host.latencies, (std::vector<int>{0, 240})) << "5 ms at 48 kHz, reported once";
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
    EXPECT_TRUE(peak <= 1.f + 1e-6f && peak > 0.5f) << peak;
    host.rate = 96000.f;
    e.e->ISuspend();
    e.e->IPrepare();
    EXPECT_EQ(host.latencies.back(), 480) << "latency follows the sample rate";
}

TEST(ReferenceEngine, TailInfoAndStateBlock) {
    Host host;
    Engine e(host);
    const AudioPluginInfo* info = e.e->IGetInfo();
    EXPECT_EQ(std::tie(info->paramCount, info->supportsTail, info->fixedLatency),
              std::make_tuple(6u, true, -1));
    // One delay time without feedback; 0.5^10 is the first repeat below -60 dB,
    // eleven delay times in all; the look-ahead adds its own time.
    e.e->ISetParam(kDelay, 500.f);
    std::vector<float> tails;
    for (auto [index, value] : {std::pair{kFeedback, 0.f}, {kFeedback, 50.f}, {kLookahead, 4.f}}) {
        e.e->ISetParam(index, value);
        tails.push_back(e.e->IGetTailTime());
    }
    EXPECT_THAT(tails, ElementsAre(FloatEq(0.5f), FloatEq(5.5f), FloatEq(5.504f)));

    const std::vector<float> values = {725.f, 62.f, 4500.f, 80.f, -3.f, 2.f};
    auto params = [&] {
        std::vector<float> v;
        for (int i = 0; i < 6; ++i)
            v.push_back(e.e->IGetParam(i));
        return v;
    };
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
    EXPECT_EQ(params(), values);

    // Damaged blocks change nothing; out-of-range and non-numbers never get in.
    std::vector<unsigned char> foreign = saved;
    foreign[0] ^= 0xFF;
    e.e->ISetParam(0, 100.f);
    e.e->ILoadState(foreign.data(), size);
    e.e->ILoadState(saved.data(), size - 1);
    e.e->ILoadState(nullptr, size);
    e.e->ISetParam(1, 500.f);
    e.e->ISetParam(1, NAN);
    float lo = 1, hi = 0;
    e.e->IGetParamRange(99, &lo, &hi);
    const std::vector<float> now = params();
    EXPECT_EQ(std::tie(now[0], now[1], lo, hi), std::make_tuple(100.f, 95.f, 0.f, 0.f));
    EXPECT_STREQ(e.e->IGetParamName(-1), "");
}

TEST(EngineContract, EveryOperationSitsInItsSlot) {
    Engine engine(vxtest::testEngine("recording"));
    auto log = reinterpret_cast<const char* (*)()>(engine.symbol("vxRecordingLog"));
    void* e = std::exchange(engine.e, nullptr); // destroyed through its slot
    vxtest::TestHost link;
    float lo = -1.f, hi = -1.f;
    float left[4] = {1, 1, 1, 1}, right[4] = {1, 1, 1, 1}, outL[4], outR[4];
    float* io[2] = {left, right};
    float* out[2] = {outL, outR};

    for (int slot : {0, 1, 2, 3})
        callSlot<void>(e, slot, slot < 3 ? ("/p" + std::to_string(slot + 1)).c_str() : "/v");
    callSlot<void>(e, 46, 3);
    callSlot<void>(e, 45, static_cast<IAudioHostLink*>(&link));
    EXPECT_TRUE(callSlot<bool>(e, 4));
    callSlot<void>(e, 6); // reserved: present, does nothing
    // The parameter count leads the info record.
    EXPECT_EQ(*reinterpret_cast<const uint32_t*>(callSlot<const AudioPluginInfo*>(e, 7)), 3u);
    EXPECT_STREQ(callSlot<const char*>(e, 8, 1), "Beta");
    callSlot<void>(e, 16, 0, &lo, &hi);
    const float dflt = callSlot<float>(e, 18, 0);
    callSlot<void>(e, 20, 0, 0.25f);
    const float param = callSlot<float>(e, 21, 0);
    callSlot<void>(e, 31, 0, io, out, 4);
    for (int slot : {34, 35, 36, 38})
        callSlot<void>(e, slot);
    EXPECT_NE(callSlot<const void*>(e, 39), nullptr);
    const int stateSize = callSlot<int>(e, 40);
    callSlot<void>(e, 41, static_cast<const void*>(left), 16);
    EXPECT_EQ(std::tie(lo, hi, dflt, param, outL[3], stateSize),
              std::make_tuple(-1.f, 10.f, 0.5f, 0.25f, 0.5f, 6));
    EXPECT_EQ(callSlot<float>(e, 44), 1.5f);
    callSlot<void>(e, 5);

    EXPECT_EQ(std::string(log()),
              "construct\nISetProductFolder1 /p1\nISetProductFolder2 /p2\nISetProductFolder3 "
              "/p3\nISetVendorFolder /v\nISetISA 3\nISetHostLink link\nICreate\nIGetInfo\n"
              "IGetParamName 1\nIGetParamRange 0\nIGetParamDefault 0\nISetParam 0 0.25\nIGetParam "
              "0\nIProcess 0 4 stereo\nISuspend\nIReset\nIPrepare\nISaveState\nIGetStateData\n"
              "IGetStateSize\nILoadState 16\nIGetTailTime\nIDestroy\n");

    // The host link's operations, in their order.
    void* l = &link;
    callSlot<void>(l, 0, 3);
    EXPECT_EQ(std::make_tuple(callSlot<int>(l, 1), callSlot<float>(l, 2), callSlot<int>(l, 3),
                              callSlot<double>(l, 4), callSlot<double>(l, 5), callSlot<bool>(l, 6)),
              std::make_tuple(1, 48000.f, 3, 4.0, 5.0, true));
    callSlot<void>(l, 7, 256);
    callSlot<void>(l, 8);
    EXPECT_THAT(link.calls, ElementsAre("changed 3", "window"));
    EXPECT_EQ(link.latencies, std::vector<int>{256});
}
