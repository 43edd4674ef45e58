// A small engine for the fault tests whose state block has a size the
// wrapper must cope with: VX_STATE_SIZE bytes (0, or a very large block, or
// a negative count). Audio passes through. What ILoadState receives is kept
// for the tests, which reach it through vxStateEngineLoads().
#include "StateEngineLoads.h"

#include <engine_api/IAudioPlugin.h>
#include <cstdlib>
#include <cstring>

#ifndef VX_STATE_SIZE
#define VX_STATE_SIZE 0
#endif

#define VX_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr int kStateSize = VX_STATE_SIZE;
StateEngineLoads gLoads;

class StateSizeEngine final : public IAudioPlugin {
public:
    void ISetProductFolder1(const char*) override {}
    void ISetProductFolder2(const char*) override {}
    void ISetProductFolder3(const char*) override {}
    void ISetVendorFolder(const char*) override {}
    bool ICreate() override { return true; }
    void IDestroy() override {
        std::free(mBlock);
        delete this;
    }
    const AudioPluginInfo* IGetInfo() override { return &mInfo; }
    const char* IGetParamName(int index) override { return index == 0 ? "Level" : "Tone"; }
    void IGetParamRange(int, float* min, float* max) override {
        if (min)
            *min = 0.f;
        if (max)
            *max = 1.f;
    }
    float IGetParamDefault(int) override { return 0.5f; }
    void ISetParam(int index, float value) override {
        if (index >= 0 && index < 2)
            mParams[index] = value;
    }
    float IGetParam(int index) override { return index >= 0 && index < 2 ? mParams[index] : 0.f; }
    void IProcess(int, float** in, float** out, int frames) override {
        for (int c = 0; c < 2; ++c)
            if (out[c] != in[c])
                std::memcpy(out[c], in[c], sizeof(float) * static_cast<size_t>(frames));
    }
    void ISuspend() override {}
    void IReset() override {}
    void IPrepare() override {}
    void ISaveState() override {
        if constexpr (kStateSize > 0) {
            if (mBlock == nullptr) {
                mBlock = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(kStateSize)));
                if (mBlock)
                    std::memset(mBlock, 0x5A, static_cast<size_t>(kStateSize));
            }
        }
    }
    const void* IGetStateData() override { return mBlock; }
    int IGetStateSize() override { return mBlock || kStateSize <= 0 ? kStateSize : 0; }
    void ILoadState(const void* data, int size) override {
        gLoads.lastSize = size;
        gLoads.lastDataNull = data == nullptr;
        gLoads.count.fetch_add(1);
    }
    float IGetTailTime() override { return 0.f; }
    void ISetHostLink(IAudioHostLink*) override {}
    void ISetISA(int) override {}

private:
    AudioPluginInfo mInfo{2, false, 0};
    float mParams[2] = {0.5f, 0.5f};
    unsigned char* mBlock = nullptr;
};

} // namespace

VX_EXPORT IAudioPlugin* createAudioPluginInstance() {
    return new StateSizeEngine;
}

VX_EXPORT StateEngineLoads* vxStateEngineLoads() {
    return &gLoads;
}
