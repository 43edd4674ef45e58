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

void record(const char* format, ...) __attribute__((format(printf, 1, 2)));
void record(const char* format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    std::lock_guard<std::mutex> guard(gLogLock);
    gLog += line;
    gLog += '\n';
}

const char* text(const char* s) {
    return s ? s : "(null)";
}

class RecordingEngine final : public IAudioPlugin {
public:
    RecordingEngine() { record("construct"); }

    void ISetProductFolder1(const char* path) override {
        record("ISetProductFolder1 %s", text(path));
    }
    void ISetProductFolder2(const char* path) override {
        record("ISetProductFolder2 %s", text(path));
    }
    void ISetProductFolder3(const char* path) override {
        record("ISetProductFolder3 %s", text(path));
    }
    void ISetVendorFolder(const char* path) override { record("ISetVendorFolder %s", text(path)); }
    bool ICreate() override {
        record("ICreate");
        return VX_ICREATE_RESULT != 0;
    }
    void IDestroy() override {
        record("IDestroy");
        delete this;
    }
    const AudioPluginInfo* IGetInfo() override {
        record("IGetInfo");
        return &mInfo;
    }
    const char* IGetParamName(int index) override {
        record("IGetParamName %d", index);
        return index == 0 ? "Gain" : index == 1 ? "Pan" : "";
    }
    void IGetParamRange(int index, float* min, float* max) override {
        record("IGetParamRange %d", index);
        *min = 0.f, *max = 1.f;
    }
    float IGetParamDefault(int index) override {
        record("IGetParamDefault %d", index);
        return 0.5f;
    }
    void ISetParam(int index, float value) override {
        record("ISetParam %d %g", index, static_cast<double>(value));
        if (index >= 0 && index < 2)
            mValues[index] = value;
    }
    float IGetParam(int index) override {
        record("IGetParam %d", index);
        return index >= 0 && index < 2 ? mValues[index] : 0.f;
    }
    void IProcess(int reserved, float** in, float** out, int frames) override {
        record("IProcess %d %d %s", reserved, frames, in && in[0] == in[1] ? "mono" : "stereo");
        for (int c = 0; c < 2 && in && out; ++c)
            for (int i = 0; i < frames; ++i)
                out[c][i] = in[c][i] * mValues[0];
    }
    void ISuspend() override { record("ISuspend"); }
    void IReset() override { record("IReset"); }
    void IPrepare() override { record("IPrepare"); }
    void ISaveState() override { record("ISaveState"); }
    const void* IGetStateData() override {
        record("IGetStateData");
        return mValues;
    }
    int IGetStateSize() override {
        record("IGetStateSize");
        return static_cast<int>(sizeof mValues);
    }
    void ILoadState(const void*, int size) override { record("ILoadState %d", size); }
    float IGetTailTime() override {
        record("IGetTailTime");
        return 0.25f;
    }
    void ISetHostLink(IAudioHostLink* link) override {
        record("ISetHostLink %s", link ? "link" : "null");
    }
    void ISetISA(int candidateIndex) override { record("ISetISA %d", candidateIndex); }

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
