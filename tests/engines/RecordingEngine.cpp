// A test engine that records every call it receives, in order, with its
// arguments, into a log shared by the whole process. Tests read it through
// vxRecordingLog() to see exactly what the wrapper asked for.
//
// Built with VX_ICREATE_RESULT=0 it also serves as the engine whose ICreate
// fails.
#include <engine_api/IAudioPlugin.h>

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

std::mutex gLogLock;
std::string gLog;

// Records the call and answers the value it is given.
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

class RecordingEngine final : public IAudioPlugin {
public:
    RecordingEngine() { record(0, "construct"); }

    void ISetProductFolder1(const char* p) override { record(0, "ISetProductFolder1 %s", text(p)); }
    void ISetProductFolder2(const char* p) override { record(0, "ISetProductFolder2 %s", text(p)); }
    void ISetProductFolder3(const char* p) override { record(0, "ISetProductFolder3 %s", text(p)); }
    void ISetVendorFolder(const char* p) override { record(0, "ISetVendorFolder %s", text(p)); }
    bool ICreate() override { return record(VX_ICREATE_RESULT != 0, "ICreate"); }
    void IDestroy() override {
        record(0, "IDestroy");
        delete this;
    }
    const AudioPluginInfo* IGetInfo() override { return record(&mInfo, "IGetInfo"); }
    const char* IGetParamName(int i) override {
        return record(i == 0 ? "Gain" : i == 1 ? "Pan" : "", "IGetParamName %d", i);
    }
    void IGetParamRange(int i, float* min, float* max) override {
        *min = 0.f, *max = record(1.f, "IGetParamRange %d", i);
    }
    float IGetParamDefault(int i) override { return record(0.5f, "IGetParamDefault %d", i); }
    void ISetParam(int index, float value) override {
        record(0, "ISetParam %d %g", index, static_cast<double>(value));
        if (index >= 0 && index < 2)
            mValues[index] = value;
    }
    float IGetParam(int i) override {
        return record(i >= 0 && i < 2 ? mValues[i] : 0.f, "IGetParam %d", i);
    }
    void IProcess(int reserved, float** in, float** out, int frames) override {
        record(0, "IProcess %d %d %s", reserved, frames, in && in[0] == in[1] ? "mono" : "stereo");
        for (int c = 0; c < 2 && in && out; ++c)
            for (int i = 0; i < frames; ++i)
                out[c][i] = in[c][i] * mValues[0];
    }
    void ISuspend() override { record(0, "ISuspend"); }
    void IReset() override { record(0, "IReset"); }
    void IPrepare() override { record(0, "IPrepare"); }
    void ISaveState() override { record(0, "ISaveState"); }
    const void* IGetStateData() override { return record<const void*>(mValues, "IGetStateData"); }
    int IGetStateSize() override { return record(int{sizeof mValues}, "IGetStateSize"); }
    void ILoadState(const void*, int size) override { record(0, "ILoadState %d", size); }
    float IGetTailTime() override { return record(0.25f, "IGetTailTime"); }
    void ISetHostLink(IAudioHostLink* link) override {
        record(0, "ISetHostLink %s", link ? "link" : "null");
    }
    void ISetISA(int candidateIndex) override { record(0, "ISetISA %d", candidateIndex); }

private:
    ~RecordingEngine() = default;
    AudioPluginInfo mInfo{2, true, 64};
    float mValues[2] = {0.5f, 0.5f};
};

} // namespace

VX_EXPORT IAudioPlugin* createAudioPluginInstance() {
    return new (std::nothrow) RecordingEngine();
}

// The calls recorded so far, one per line: "ISetISA 2". The text stays valid
// until the next call. (No thread-local copy: thread-local storage in a module
// that is unloaded while its thread lives on trips up the leak checker.)
VX_EXPORT const char* vxRecordingLog() {
    static std::string copy;
    std::lock_guard<std::mutex> guard(gLogLock);
    copy = gLog;
    return copy.c_str();
}

VX_EXPORT void vxRecordingLogClear() {
    std::lock_guard<std::mutex> guard(gLogLock);
    gLog.clear();
}
