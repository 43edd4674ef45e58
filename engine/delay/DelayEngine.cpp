#include "DelayEngine.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace vxdelay {
namespace {

constexpr ParamSpec kParams[kParamCount] = {
    {"Delay Time", 1.f, 2000.f, 350.f},    {"Feedback", 0.f, 95.f, 40.f},
    {"High Cut", 1000.f, 20000.f, 8000.f}, {"Mix", 0.f, 100.f, 35.f},
    {"Output Gain", -24.f, 12.f, 0.f},     {"Lookahead", 0.f, 10.f, 0.f},
};

constexpr double kFallbackRate = 44100.0;
constexpr double kMaxDelaySeconds = 2.0;
constexpr double kMaxLookaheadSeconds = 0.010;
// Echoes count as gone once they fall 60 dB.
constexpr double kTailFloor = 0.001;

bool validIndex(int index) {
    return index >= 0 && index < kParamCount;
}

int toSamples(double milliseconds, double rate) {
    return static_cast<int>(std::lround(milliseconds * rate / 1000.0));
}

} // namespace

const ParamSpec& paramSpec(int index) {
    return kParams[validIndex(index) ? index : 0];
}

DelayEngine::DelayEngine() {
    for (int i = 0; i < kParamCount; ++i)
        mValues[i].store(kParams[i].def, std::memory_order_relaxed);
}

void DelayEngine::ISetProductFolder1(const char* path) {
    mProductFolder = path ? path : "";
}
void DelayEngine::ISetProductFolder2(const char*) {}
void DelayEngine::ISetProductFolder3(const char*) {}
void DelayEngine::ISetVendorFolder(const char* path) {
    mVendorFolder = path ? path : "";
}
bool DelayEngine::ICreate() {
    return true;
}
void DelayEngine::IDestroy() {
    delete this;
}
const AudioPluginInfo* DelayEngine::IGetInfo() {
    return &mInfo;
}

const char* DelayEngine::IGetParamName(int index) {
    return validIndex(index) ? kParams[index].name : "";
}

void DelayEngine::IGetParamRange(int index, float* min, float* max) {
    const bool ok = validIndex(index);
    if (min)
        *min = ok ? kParams[index].min : 0.f;
    if (max)
        *max = ok ? kParams[index].max : 0.f;
}

float DelayEngine::IGetParamDefault(int index) {
    return validIndex(index) ? kParams[index].def : 0.f;
}

void DelayEngine::ISetParam(int index, float value) {
    if (!validIndex(index) || std::isnan(value))
        return;
    mValues[index].store(std::clamp(value, kParams[index].min, kParams[index].max),
                         std::memory_order_relaxed);
    if (index == kParamLookahead)
        reportLatency();
}

float DelayEngine::IGetParam(int index) {
    return validIndex(index) ? mValues[index].load(std::memory_order_relaxed) : 0.f;
}

double DelayEngine::preparedRate() const {
    const double rate = mPreparedRate.load(std::memory_order_relaxed);
    return rate > 0.0 ? rate : kFallbackRate;
}

int DelayEngine::latencySamples() const {
    return toSamples(mValues[kParamLookahead].load(std::memory_order_relaxed), preparedRate());
}

void DelayEngine::reportLatency() {
    if (mPreparedRate.load(std::memory_order_relaxed) <= 0.0 || !mHost)
        return;
    const int latency = latencySamples();
    // Two threads setting the look-ahead at once report each change once.
    if (mReportedLatency.exchange(latency, std::memory_order_relaxed) == latency)
        return;
    mHost->ISetLatency(latency);
}

void DelayEngine::IProcess(int, float** in, float** out, int frames) {
    if (!in || !out)
        return;
    const double rate = preparedRate();
    auto value = [this](int i) { return mValues[i].load(std::memory_order_relaxed); };
    DspTargets t;
    t.delaySamples = std::max(1, toSamples(value(kParamDelayTime), rate));
    t.feedback = value(kParamFeedback) / 100.f;
    const double cutoff = std::min<double>(value(kParamHighCut), 0.49 * rate);
    t.dampCoefficient = static_cast<float>(1.0 - std::exp(-2.0 * std::numbers::pi * cutoff / rate));
    const float mix = value(kParamMix) / 100.f;
    t.dryGain = 1.f - mix;
    t.wetGain = mix;
    t.outputGain = std::pow(10.f, value(kParamOutputGain) / 20.f);
    t.lookaheadSamples = toSamples(value(kParamLookahead), rate);
    mDsp.setTargets(t);
    if (mResetPending.load(std::memory_order_relaxed) &&
        mResetPending.exchange(false, std::memory_order_acquire))
        mDsp.reset();
    mDsp.process(in[0], in[1], out[0], out[1], frames);
}

void DelayEngine::ISuspend() {}

void DelayEngine::IReset() {
    // The host may reset from a control thread while audio is processed; the
    // delay line is cleared at the start of the next block instead.
    mResetPending.store(true, std::memory_order_release);
}

void DelayEngine::IPrepare() {
    double rate = mHost ? static_cast<double>(mHost->IGetSampleRate()) : 0.0;
    if (!(rate >= 1000.0 && rate <= 1536000.0))
        rate = kFallbackRate;
    mDsp.prepare(rate, static_cast<int>(std::ceil(kMaxDelaySeconds * rate)),
                 static_cast<int>(std::ceil(kMaxLookaheadSeconds * rate)));
    // Preparing clears the state, so a reset still waiting is done.
    mResetPending.store(false, std::memory_order_relaxed);
    mPreparedRate.store(rate, std::memory_order_relaxed);
    mReportedLatency.store(-1, std::memory_order_relaxed);
    reportLatency();
}

void DelayEngine::ISaveState() {
    std::memcpy(mState.tag, "VXDL", 4);
    mState.formatVersion = kStateFormatVersion;
    mState.paramCount = kParamCount;
    for (int i = 0; i < kParamCount; ++i)
        mState.values[i] = mValues[i].load(std::memory_order_relaxed);
}

const void* DelayEngine::IGetStateData() {
    return &mState;
}

int DelayEngine::IGetStateSize() {
    return static_cast<int>(sizeof mState);
}

void DelayEngine::ILoadState(const void* data, int size) {
    // A block from another engine, a damaged block or a format this build
    // does not know leaves the current settings as they are.
    StateBlock block{};
    if (!data || size != static_cast<int>(sizeof block))
        return;
    std::memcpy(&block, data, sizeof block);
    if (std::memcmp(block.tag, "VXDL", 4) != 0 || block.formatVersion != kStateFormatVersion ||
        block.paramCount != kParamCount)
        return;
    for (int i = 0; i < kParamCount; ++i)
        ISetParam(i, std::isfinite(block.values[i]) ? block.values[i] : kParams[i].def);
}

float DelayEngine::IGetTailTime() {
    const double delay = mValues[kParamDelayTime].load(std::memory_order_relaxed) / 1000.0;
    const double lookahead = mValues[kParamLookahead].load(std::memory_order_relaxed) / 1000.0;
    const double feedback = mValues[kParamFeedback].load(std::memory_order_relaxed) / 100.0;
    // One echo without feedback; with feedback, every repeat until the
    // echoes have decayed below the floor (damping only shortens this).
    double repeats = 1.0;
    if (feedback > 0.0)
        repeats += std::ceil(std::log(kTailFloor) / std::log(feedback));
    return static_cast<float>(delay * repeats + lookahead);
}

void DelayEngine::ISetHostLink(IAudioHostLink* link) {
    mHost = link;
}

void DelayEngine::ISetISA(int candidateIndex) {
    mISA = candidateIndex;
}

} // namespace vxdelay
