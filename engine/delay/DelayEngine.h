// The reference engine: a stereo delay behind the engine interface.
#pragma once

#include "DelayDsp.h"

#include <engine_api/IAudioPlugin.h>

#include <atomic>
#include <cstdint>
#include <string>

namespace vxdelay {

enum Param : int {
    kParamDelayTime = 0, // milliseconds
    kParamFeedback,      // percent
    kParamHighCut,       // hertz, damping of the repeats
    kParamMix,           // percent wet
    kParamOutputGain,    // decibels
    kParamLookahead,     // milliseconds; above 0 the output limiter runs
    kParamCount
};

struct ParamSpec {
    const char* name;
    float min;
    float max;
    float def;
};

const ParamSpec& paramSpec(int index);

// The state block: a tag, the format version and every parameter, stored in
// the machine's byte order.
struct StateBlock {
    char tag[4];            // "VXDL"
    uint32_t formatVersion; // kStateFormatVersion
    uint32_t paramCount;
    float values[kParamCount];
};
constexpr uint32_t kStateFormatVersion = 1;

class DelayEngine final : public IAudioPlugin {
public:
    DelayEngine();

    void ISetProductFolder1(const char* path) override;
    void ISetProductFolder2(const char* path) override;
    void ISetProductFolder3(const char* path) override;
    void ISetVendorFolder(const char* path) override;
    bool ICreate() override;
    void IDestroy() override;
    const AudioPluginInfo* IGetInfo() override;
    const char* IGetParamName(int index) override;
    void IGetParamRange(int index, float* min, float* max) override;
    float IGetParamDefault(int index) override;
    void ISetParam(int index, float value) override;
    float IGetParam(int index) override;
    void IProcess(int reserved, float** in, float** out, int frames) override;
    void ISuspend() override;
    void IReset() override;
    void IPrepare() override;
    void ISaveState() override;
    const void* IGetStateData() override;
    int IGetStateSize() override;
    void ILoadState(const void* data, int size) override;
    float IGetTailTime() override;
    void ISetHostLink(IAudioHostLink* link) override;
    void ISetISA(int candidateIndex) override;

    int givenISA() const { return mISA; }
    const std::string& productFolder() const { return mProductFolder; }
    const std::string& vendorFolder() const { return mVendorFolder; }

    // Latency of the look-ahead at the prepared rate, in samples.
    int latencySamples() const;

private:
    ~DelayEngine() = default;
    double preparedRate() const;
    void reportLatency();

    std::atomic<float> mValues[kParamCount];
    AudioPluginInfo mInfo{kParamCount, true, -1};
    StateBlock mState{};
    IAudioHostLink* mHost = nullptr;
    DelayDsp mDsp;
    std::string mProductFolder;
    std::string mVendorFolder;
    int mISA = -1;
    // Host control threads change these while the render thread processes:
    // the prepared rate (0 until prepared), the latency last reported, and a
    // reset that the next IProcess carries out so that it never runs in the
    // middle of a block.
    std::atomic<double> mPreparedRate{0.0};
    std::atomic<int> mReportedLatency{-1};
    std::atomic<bool> mResetPending{false};
};

} // namespace vxdelay
