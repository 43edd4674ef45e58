// The test engine. Every call it receives is logged in order with its
// arguments (vxRecordingLog), and its behaviour and what it was handed are in
// the control record (vxProbeControl). Built with VX_ICREATE_RESULT=0 it is the
// engine whose ICreate fails; with VX_FAILURE it is a broken module instead:
//   1: the factory is not exported at all;  2: the factory answers null.
#include "ProbeEngine.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <new>
#include <string>

#ifndef VX_ICREATE_RESULT
#define VX_ICREATE_RESULT 1
#endif

#define VX_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

ProbeControl gControl;
std::mutex gLogLock;
std::string gLog;

// Logs the call and answers the value it is given.
template <typename T = int> T record(T answer, const char* format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    std::lock_guard<std::mutex> guard(gLogLock);
    gLog += line;
    gLog += '\n';
    return answer;
}

const char* text(const char* s) {
    return s ? s : "(null)";
}
bool valid(int index) {
    return index >= 0 && index < 3;
}

class ProbeEngine final : public IAudioPlugin {
public:
    ProbeEngine() { record(0, "construct"); }
    void ISetProductFolder1(const char* p) override { record(0, "ISetProductFolder1 %s", text(p)); }
    void ISetProductFolder2(const char* p) override { record(0, "ISetProductFolder2 %s", text(p)); }
    void ISetProductFolder3(const char* p) override { record(0, "ISetProductFolder3 %s", text(p)); }
    void ISetVendorFolder(const char* p) override { record(0, "ISetVendorFolder %s", text(p)); }
    bool ICreate() override { return record(++gControl.creates && VX_ICREATE_RESULT, "ICreate"); }
    void IDestroy() override {
        gControl.link = record(nullptr, "IDestroy");
        ++gControl.destroys;
        delete this;
    }
    const AudioPluginInfo* IGetInfo() override { return record(&gControl.info, "IGetInfo"); }
    const char* IGetParamName(int i) override {
        static const char* const names[] = {"Alpha", "Beta", "Gamma"};
        return record(valid(i) ? names[i] : "", "IGetParamName %d", i);
    }
    void IGetParamRange(int i, float* min, float* max) override {
        *min = -1.0f * static_cast<float>(i + 1);
        *max = record(10.0f * static_cast<float>(i + 1), "IGetParamRange %d", i);
    }
    float IGetParamDefault(int i) override {
        return record(0.5f + static_cast<float>(i), "IGetParamDefault %d", i);
    }
    void ISetParam(int i, float value) override {
        if (record(valid(i), "ISetParam %d %g", i, static_cast<double>(value)))
            gControl.params[i] = value;
    }
    float IGetParam(int i) override {
        return record(valid(i) ? gControl.params[i] : -99.0f, "IGetParam %d", i);
    }
    void IProcess(int reserved, float** in, float** out, int frames) override {
        record(++gControl.processCalls, "IProcess %d %d %s", reserved, frames,
               in[0] == in[1] ? "mono" : "stereo");
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
    void ISuspend() override { record(++gControl.suspends, "ISuspend"); }
    void IReset() override { record(++gControl.resets, "IReset"); }
    void IPrepare() override { record(++gControl.prepares, "IPrepare"); }
    void ISaveState() override { record(0, "ISaveState"); }
    const void* IGetStateData() override {
        return record<const void*>(gControl.stateBlock.data(), "IGetStateData");
    }
    int IGetStateSize() override {
        return record(gControl.sizeGiven ? gControl.stateSize
                                         : static_cast<int>(gControl.stateBlock.size()),
                      "IGetStateSize");
    }
    void ILoadState(const void* data, int size) override {
        record(++gControl.loadCalls, "ILoadState %d", size);
        const auto* bytes = static_cast<const uint8_t*>(data);
        gControl.loadedBlock.assign(bytes, bytes + size);
    }
    float IGetTailTime() override { return record(1.5f, "IGetTailTime"); }
    void ISetHostLink(IAudioHostLink* link) override {
        gControl.link = record(link, "ISetHostLink %s", link ? "link" : "null");
    }
    void ISetISA(int candidateIndex) override { record(0, "ISetISA %d", candidateIndex); }

private:
    ~ProbeEngine() = default;
};

} // namespace

#if VX_FAILURE == 1
// A factory under the wrong name, as a mistyped export would leave it.
VX_EXPORT IAudioPlugin* createAudioPluginInstanc() {
    return nullptr;
}
#elif VX_FAILURE == 2
VX_EXPORT IAudioPlugin* createAudioPluginInstance() {
    return nullptr;
}
#else
VX_EXPORT IAudioPlugin* createAudioPluginInstance() {
    return new (std::nothrow) ProbeEngine();
}
#endif

VX_EXPORT ProbeControl* vxProbeControl() {
    return &gControl;
}

// The calls logged so far, one per line: "ISetISA 2". The text stays valid
// until the next call. (No thread-local copy: thread-local storage in a module
// that is unloaded while its thread lives on trips up the leak checker.)
VX_EXPORT const char* vxRecordingLog() {
    static std::string copy;
    std::lock_guard<std::mutex> guard(gLogLock);
    copy = gLog;
    return copy.c_str();
}
