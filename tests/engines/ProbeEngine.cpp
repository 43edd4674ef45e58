#include "ProbeEngine.h"

#include <algorithm>
#include <new>

#define VX_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

ProbeControl gControl;

class ProbeEngine final : public IAudioPlugin {
public:
    void ISetProductFolder1(const char*) override {}
    void ISetProductFolder2(const char*) override {}
    void ISetProductFolder3(const char*) override {}
    void ISetVendorFolder(const char*) override {}
    bool ICreate() override {
        ++gControl.creates;
        return true;
    }
    void IDestroy() override {
        ++gControl.destroys;
        gControl.link = nullptr;
        delete this;
    }
    const AudioPluginInfo* IGetInfo() override { return &gControl.info; }
    const char* IGetParamName(int index) override {
        static const char* const names[] = {"Alpha", "Beta", "Gamma"};
        return index >= 0 && index < 3 ? names[index] : "?";
    }
    void IGetParamRange(int index, float* min, float* max) override {
        *min = -1.0f * static_cast<float>(index + 1);
        *max = 10.0f * static_cast<float>(index + 1);
    }
    float IGetParamDefault(int index) override { return 0.5f + static_cast<float>(index); }
    void ISetParam(int index, float value) override {
        if (index >= 0 && index < 3)
            gControl.params[index] = value;
    }
    float IGetParam(int index) override {
        return index >= 0 && index < 3 ? gControl.params[index] : -99.0f;
    }
    void IProcess(int reserved, float** in, float** out, int frames) override {
        ++gControl.processCalls;
        gControl.lastReserved = reserved;
        std::copy(in, in + 2, gControl.lastIn);
        std::copy(out, out + 2, gControl.lastOut);
        gControl.lastFrames = frames;
        if (IAudioHostLink* l = gControl.link)
            gControl.lastFacts = {
                l->IGetTempo(),      l->IGetHostSamplePosition(), l->IGetHostTransportPlaying(),
                l->IGetRenderMode(), l->IGetSampleRate(),         l->IGetBlockSize()};
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < frames; ++i)
                out[c][i] = in[c][i] * gControl.gain;
    }
    void ISuspend() override { ++gControl.suspends; }
    void IReset() override { ++gControl.resets; }
    void IPrepare() override { ++gControl.prepares; }
    void ISaveState() override {}
    const void* IGetStateData() override { return gControl.stateBlock.data(); }
    int IGetStateSize() override {
        return gControl.sizeGiven ? gControl.stateSize
                                  : static_cast<int>(gControl.stateBlock.size());
    }
    void ILoadState(const void* data, int size) override {
        ++gControl.loadCalls;
        const auto* bytes = static_cast<const uint8_t*>(data);
        gControl.loadedBlock.assign(bytes, bytes + size);
    }
    float IGetTailTime() override { return 1.5f; }
    void ISetHostLink(IAudioHostLink* link) override { gControl.link = link; }
    void ISetISA(int) override {}

private:
    ~ProbeEngine() = default;
};

} // namespace

VX_EXPORT IAudioPlugin* createAudioPluginInstance() {
    return new (std::nothrow) ProbeEngine();
}

VX_EXPORT ProbeControl* vxProbeControl() {
    return &gControl;
}
