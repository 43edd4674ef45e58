// The contract between the plug-in wrapper and an engine module.
//
// The engine lives in a separately built dynamic library, so this header fixes
// the binary layout: the order of the virtual operations below is the order of
// the virtual table, and both sides must agree slot by slot. Slots the wrapper
// never calls are declared as reserved operations so that every named
// operation keeps its slot. Neither interface declares a virtual destructor,
// because a destructor would occupy the first slots; an engine is released
// with IDestroy, and the host link belongs to the wrapper.
#pragma once

#include <cstdint>

// What the wrapper reads about an engine. The parameter count comes first
// because the wrapper reads it before anything else; an engine may append
// fields of its own after the three below.
struct AudioPluginInfo {
    uint32_t paramCount;  // parameters are indexed 0 .. paramCount - 1
    bool supportsTail;    // answer of the tail query
    int32_t fixedLatency; // samples; -1: use what the engine reports through ISetLatency
};

// Host facts and notifications the engine reaches through the wrapper.
class IAudioHostLink {
public:
    virtual void IParamChanged(int index) = 0;
    virtual int IGetRenderMode() = 0; // 1 while rendering offline, else 0
    virtual float IGetSampleRate() = 0;
    virtual int IGetBlockSize() = 0;
    virtual double IGetTempo() = 0;              // beats per minute
    virtual double IGetHostSamplePosition() = 0; // samples on the host timeline
    virtual bool IGetHostTransportPlaying() = 0;
    virtual void ISetLatency(int samples) = 0;
    virtual void IWindowSizeChanged() = 0;

protected:
    ~IAudioHostLink() = default;
};

class IAudioPlugin {
public:
    // Folders and configuration, all before ICreate.
    virtual void ISetProductFolder1(const char* path) = 0; // 0
    virtual void ISetProductFolder2(const char* path) = 0; // 1
    virtual void ISetProductFolder3(const char* path) = 0; // 2
    virtual void ISetVendorFolder(const char* path) = 0;   // 3
    virtual bool ICreate() = 0;                            // 4
    // Releases the instance; nothing may be called afterwards.
    virtual void IDestroy() = 0; // 5
    virtual void IReserved6() {}
    virtual const AudioPluginInfo* IGetInfo() = 0;    // 7
    virtual const char* IGetParamName(int index) = 0; // 8, ASCII
    virtual void IReserved9() {}
    virtual void IReserved10() {}
    virtual void IReserved11() {}
    virtual void IReserved12() {}
    virtual void IReserved13() {}
    virtual void IReserved14() {}
    virtual void IReserved15() {}
    virtual void IGetParamRange(int index, float* min, float* max) = 0; // 16
    virtual void IReserved17() {}
    virtual float IGetParamDefault(int index) = 0; // 18
    virtual void IReserved19() {}
    virtual void ISetParam(int index, float value) = 0; // 20
    virtual float IGetParam(int index) = 0;             // 21
    virtual void IReserved22() {}
    virtual void IReserved23() {}
    virtual void IReserved24() {}
    virtual void IReserved25() {}
    virtual void IReserved26() {}
    virtual void IReserved27() {}
    virtual void IReserved28() {}
    virtual void IReserved29() {}
    virtual void IReserved30() {}
    // Fills both outputs; in[1] may be the same buffer as in[0] for mono input.
    // Runs on the render thread: no allocation, locks or system calls.
    virtual void IProcess(int reserved, float** in, float** out, int frames) = 0; // 31
    virtual void IReserved32() {}
    virtual void IReserved33() {}
    virtual void ISuspend() = 0; // 34, before a sample-rate change
    virtual void IReset() = 0;   // 35, clears the processing state
    virtual void IPrepare() = 0; // 36, after ICreate and after each rate change
    virtual void IReserved37() {}
    virtual void ISaveState() = 0;                           // 38, builds the state block
    virtual const void* IGetStateData() = 0;                 // 39
    virtual int IGetStateSize() = 0;                         // 40, bytes
    virtual void ILoadState(const void* data, int size) = 0; // 41
    virtual void IReserved42() {}
    virtual void IReserved43() {}
    virtual float IGetTailTime() = 0;                    // 44, seconds
    virtual void ISetHostLink(IAudioHostLink* link) = 0; // 45
    virtual void ISetISA(int candidateIndex) = 0;        // 46, 0 .. 3

protected:
    ~IAudioPlugin() = default;
};

// Every engine module exports this factory; null means the engine could not
// be made.
extern "C" IAudioPlugin* createAudioPluginInstance();
typedef IAudioPlugin* (*CreateAudioPluginInstanceFn)();
