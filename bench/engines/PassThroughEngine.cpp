// An engine that copies its inputs to its outputs and does nothing else: with
// it, what a render costs is what the wrapper and the host runtime add.
#include <engine_api/IAudioPlugin.h>

#include <cstring>
#include <new>

namespace {

class PassThroughEngine final : public IAudioPlugin {
public:
    void ISetProductFolder1(const char*) override {}
    void ISetProductFolder2(const char*) override {}
    void ISetProductFolder3(const char*) override {}
    void ISetVendorFolder(const char*) override {}
    bool ICreate() override { return true; }
    void IDestroy() override { delete this; }
    const AudioPluginInfo* IGetInfo() override { return &mInfo; }
    const char* IGetParamName(int) override { return ""; }
    void IGetParamRange(int, float* min, float* max) override {
        if (min)
            *min = 0.f;
        if (max)
            *max = 0.f;
    }
    float IGetParamDefault(int) override { return 0.f; }
    void ISetParam(int, float) override {}
    float IGetParam(int) override { return 0.f; }
    void IProcess(int, float** in, float** out, int frames) override {
        if (!in || !out || frames <= 0)
            return;
        const std::size_t bytes = static_cast<std::size_t>(frames) * sizeof(float);
        for (int c = 0; c < 2; ++c) {
            if (out[c] && in[c] && out[c] != in[c])
                std::memcpy(out[c], in[c], bytes);
        }
    }
    void ISuspend() override {}
    void IReset() override {}
    void IPrepare() override {}
    void ISaveState() override {}
    const void* IGetStateData() override { return &mState; }
    int IGetStateSize() override { return static_cast<int>(sizeof mState); }
    void ILoadState(const void*, int) override {}
    float IGetTailTime() override { return 0.f; }
    void ISetHostLink(IAudioHostLink*) override {}
    void ISetISA(int) override {}

private:
    ~PassThroughEngine() = default;

    AudioPluginInfo mInfo{0, false, 0};
    int mState = 0;
};

} // namespace

extern "C" __attribute__((visibility("default"))) IAudioPlugin* createAudioPluginInstance() {
    return new (std::nothrow) PassThroughEngine();
}
