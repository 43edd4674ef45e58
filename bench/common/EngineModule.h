// An engine module opened the way the wrapper opens one (the dynamic loader,
// then the exported factory), with a host link that answers fixed facts.
#pragma once

#include <engine_api/IAudioPlugin.h>

#include <string>

namespace vxbench {

// Fixed host facts: a rate and a block size, stopped transport.
class FixedHostLink final : public IAudioHostLink {
public:
    explicit FixedHostLink(float rate = 48000.f, int blockSize = 512)
        : mRate(rate), mBlockSize(blockSize) {}

    void IParamChanged(int) override {}
    int IGetRenderMode() override { return 0; }
    float IGetSampleRate() override { return mRate; }
    int IGetBlockSize() override { return mBlockSize; }
    double IGetTempo() override { return 120.0; }
    double IGetHostSamplePosition() override { return 0.0; }
    bool IGetHostTransportPlaying() override { return false; }
    void ISetLatency(int samples) override { latency = samples; }
    void IWindowSizeChanged() override {}

    int latency = -1;

private:
    float mRate;
    int mBlockSize;
};

class EngineModule {
public:
    EngineModule() = default;
    ~EngineModule() { close(); }
    EngineModule(const EngineModule&) = delete;
    EngineModule& operator=(const EngineModule&) = delete;

    // Loads the module file; false (with error() saying why) on failure.
    bool open(const std::string& path);
    void close();
    bool isOpen() const { return mHandle != nullptr; }
    const std::string& error() const { return mError; }

    // A new engine from the module's factory, or null.
    IAudioPlugin* create() const { return mFactory ? mFactory() : nullptr; }

    // create, then the wrapper's start-up calls: host link, ICreate,
    // IPrepare, IReset. Null when any of them fails.
    IAudioPlugin* createPrepared(IAudioHostLink* link) const;

private:
    void* mHandle = nullptr;
    CreateAudioPluginInstanceFn mFactory = nullptr;
    std::string mError;
};

} // namespace vxbench
