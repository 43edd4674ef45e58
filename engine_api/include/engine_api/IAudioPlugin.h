// The contract between the plug-in wrapper and an engine module.
//
// The engine lives in a separately built dynamic library, so this header fixes
// the binary layout: the order of the virtual operations below is the order of
// the virtual table, and both sides must agree slot by slot. Slots the wrapper
// never calls are declared as reserved operations so that every named
// operation keeps its slot. Neither interface declares a virtual destructor,
// because a destructor would occupy the first slots; an engine is released
// with IDestroy, and the host link belongs to the wrapper.
//
// The comment line above each operation follows the legend of Threads.h.
#pragma once

#include <engine_api/Threads.h>

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
// Implemented by the wrapper; the engine may call it from ISetHostLink on
// until IDestroy is called, but not from inside IDestroy (the wrapper's part
// of the object is gone by then).
class IAudioHostLink {
public:
    // ANY but RENDER, READY, +ANY: takes the platform's listener lock, and
    // listeners without a run loop run on the calling thread.
    virtual void IParamChanged(int index) = 0;
    // ANY, READY, +ANY; wait-free (the answers below are whole-value reads).
    virtual int IGetRenderMode() = 0; // 1 while rendering offline, else 0
    // ANY, READY, +ANY; wait-free; changes only between ISuspend and IPrepare.
    virtual float IGetSampleRate() = 0;
    // ANY, READY, +ANY; always 0: IProcess takes whatever frame count it gets.
    virtual int IGetBlockSize() = 0;
    // ANY, READY, +ANY; wait-free; refreshed by RENDER before each IProcess.
    virtual double IGetTempo() = 0; // beats per minute
    // ANY, READY, +ANY; wait-free; refreshed by RENDER before each IProcess.
    virtual double IGetHostSamplePosition() = 0; // samples on the host timeline
    // ANY, READY, +ANY; wait-free; refreshed by RENDER before each IProcess.
    virtual bool IGetHostTransportPlaying() = 0;
    // ANY (IProcess included), READY, +ANY; property listeners run on the caller's thread.
    virtual void ISetLatency(int samples) = 0;
    // ANY (IProcess included), READY, +ANY; property listeners run on the caller's thread.
    virtual void IWindowSizeChanged() = 0;

protected:
    ~IAudioHostLink() = default;
};

class IAudioPlugin {
public:
    // Folders and configuration, all before ICreate, in this order.
    // OPEN, NEW, ALONE; path BORROWED.
    virtual void ISetProductFolder1(const char* path) = 0; // 0
    // OPEN, NEW, ALONE; path BORROWED.
    virtual void ISetProductFolder2(const char* path) = 0; // 1
    // OPEN, NEW, ALONE; path BORROWED.
    virtual void ISetProductFolder3(const char* path) = 0; // 2
    // OPEN, NEW, ALONE; path BORROWED.
    virtual void ISetVendorFolder(const char* path) = 0; // 3
    // OPEN, NEW, ALONE; true makes it READY; after false the wrapper calls only IDestroy.
    virtual bool ICreate() = 0; // 4
    // CLOSE, NEW or READY, ALONE; the last call: the engine releases itself.
    virtual void IDestroy() = 0; // 5
    virtual void IReserved6() {}
    // ANY (RENDER: tail accounting), READY, +ANY; VALID UNTIL IDestroy.
    virtual const AudioPluginInfo* IGetInfo() = 0; // 7
    // CONTROL, READY, EITHER, +RENDER; ASCII, VALID UNTIL the next IGetParamName.
    virtual const char* IGetParamName(int index) = 0; // 8
    virtual void IReserved9() {}
    virtual void IReserved10() {}
    virtual void IReserved11() {}
    virtual void IReserved12() {}
    virtual void IReserved13() {}
    virtual void IReserved14() {}
    virtual void IReserved15() {}
    // CONTROL, READY, EITHER, +RENDER; min and max BORROWED, both written.
    virtual void IGetParamRange(int index, float* min, float* max) = 0; // 16
    virtual void IReserved17() {}
    // CONTROL, READY, EITHER, +RENDER.
    virtual float IGetParamDefault(int index) = 0; // 18
    virtual void IReserved19() {}
    // ANY (RENDER: scheduled changes), READY, EITHER, +ANY: also while IProcess runs.
    virtual void ISetParam(int index, float value) = 0; // 20
    // ANY, READY, EITHER, +ANY: also while IProcess runs.
    virtual float IGetParam(int index) = 0; // 21
    virtual void IReserved22() {}
    virtual void IReserved23() {}
    virtual void IReserved24() {}
    virtual void IReserved25() {}
    virtual void IReserved26() {}
    virtual void IReserved27() {}
    virtual void IReserved28() {}
    virtual void IReserved29() {}
    virtual void IReserved30() {}
    // Fills both outputs; in[1] may be the same buffer as in[0] for mono
    // input, and out[i] the same as in[i] when the unit processes in place.
    // RENDER, READY, INIT, +CONTROL: ISetParam, IGetParam, IReset, ISaveState,
    // ILoadState and the getters may run meanwhile; arrays and samples BORROWED.
    virtual void IProcess(int reserved, float** in, float** out, int frames) = 0; // 31
    virtual void IReserved32() {}
    virtual void IReserved33() {}
    // CONTROL, READY, UNINIT, +PARAM; before a sample-rate change.
    virtual void ISuspend() = 0; // 34
    // OPEN or CONTROL, READY, EITHER, +RENDER: a host reset arrives mid-render.
    virtual void IReset() = 0; // 35, clears the processing state
    // OPEN or CONTROL, READY, UNINIT, +PARAM; after ICreate and each rate change.
    virtual void IPrepare() = 0; // 36
    virtual void IReserved37() {}
    // CONTROL, READY, EITHER, +RENDER; builds the block IGetStateData hands out.
    virtual void ISaveState() = 0; // 38
    // CONTROL, READY, EITHER, +RENDER; VALID UNTIL the next ISaveState, ILoadState or IDestroy.
    virtual const void* IGetStateData() = 0; // 39
    // CONTROL, READY, EITHER, +RENDER; bytes of the block the last ISaveState built.
    virtual int IGetStateSize() = 0; // 40
    // CONTROL, READY, EITHER, +RENDER; data BORROWED (size bytes, any content).
    virtual void ILoadState(const void* data, int size) = 0; // 41
    virtual void IReserved42() {}
    virtual void IReserved43() {}
    // ANY (RENDER: tail accounting), READY, EITHER, +ANY.
    virtual float IGetTailTime() = 0; // 44, seconds
    // OPEN, NEW, ALONE; link KEPT by the engine until IDestroy (the wrapper owns it).
    virtual void ISetHostLink(IAudioHostLink* link) = 0; // 45
    // OPEN, NEW, ALONE; after the folders.
    virtual void ISetISA(int candidateIndex) = 0; // 46, 0 .. 3

protected:
    ~IAudioPlugin() = default;
};

// Every engine module exports this factory; null means the engine could not
// be made.
// OPEN, ALONE; the engine returned is the wrapper's until it calls IDestroy.
extern "C" IAudioPlugin* createAudioPluginInstance();
typedef IAudioPlugin* (*CreateAudioPluginInstanceFn)();
