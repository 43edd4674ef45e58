// One LV2 plug-in instance: an Audio Unit instance opened through the
// platform's Audio Unit calls, with the LV2 ports handed to its render call.
#pragma once

#include "Lv2Bundle.h"

#include <AudioUnit/AudioUnit.h>

#include <lv2/core/lv2.h>
#include <lv2/log/logger.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

namespace vxlv2 {

class BridgeInstance {
public:
    static constexpr UInt32 kMaxChannels = 8;

    // Host thread (LV2 instantiation class), nothing else runs on the
    // instance. Opens the component at the rate; nothing, after a log line,
    // when it or its engine cannot be opened. features are the host's and
    // are only read during the call (the map and log are kept: LV2 keeps
    // them valid for the instance's life).
    static std::unique_ptr<BridgeInstance> create(const vxhost::Lv2BundleData& data,
                                                  const vxhost::Lv2Variant& variant, double rate,
                                                  const LV2_Feature* const* features);
    // Host thread (instantiation class): uninitialises and disposes the unit.
    ~BridgeInstance();
    BridgeInstance(const BridgeInstance&) = delete;
    BridgeInstance& operator=(const BridgeInstance&) = delete;

    // Audio thread or host thread, never during run: the host owns the
    // buffer until it connects another one or cleans up.
    void connect(uint32_t port, void* data);
    // Host thread (instantiation class): initialise and uninitialise the unit.
    void activate();
    void deactivate();
    // Audio thread (audio class), between activate and deactivate. No
    // allocation, lock, log or system call.
    void run(uint32_t frames);

    // Host thread, never concurrently with run or with each other: the
    // unit's ClassInfo document, as an XML property list, under one key.
    LV2_State_Status save(LV2_State_Store_Function store, LV2_State_Handle handle);
    LV2_State_Status restore(LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle);

private:
    BridgeInstance() = default;
    bool open(const vxhost::Lv2BundleData& data, const vxhost::Lv2Variant& variant, double rate);
    void forwardControls();
    void renderSlice(UInt32 offset, UInt32 frames);
    void silenceOutputs(UInt32 offset, UInt32 frames);

    // Render callback of the unit's input element 0: copies the current
    // slice of the input ports. Audio thread, inside AudioUnitRender.
    static OSStatus inputProc(void* refCon, AudioUnitRenderActionFlags* flags,
                              const AudioTimeStamp* timeStamp, UInt32 bus, UInt32 frames,
                              AudioBufferList* data);

    AudioUnit mUnit = nullptr;
    bool mActive = false;
    double mRate = 44100.0;
    UInt32 mMaxFrames = 0;
    Float64 mSampleTime = 0;
    UInt32 mInputs = 0, mOutputs = 0;
    UInt32 mSliceOffset = 0;

    std::vector<AudioUnitParameterID> mParameterIds;
    std::vector<Float32> mMinimum, mMaximum, mSent;
    std::vector<const float*> mParameterPorts;
    const float* mEnabledPort = nullptr;
    float mEnabledSent = 1.0f;
    float* mLatencyPort = nullptr;
    // The unit's latency in frames, asked again only after something that
    // may change it: a control, the bypass, a restored state, activation.
    float mLatencyFrames = 0.0f;
    bool mLatencyStale = true;
    std::array<const float*, kMaxChannels> mInputPorts{};
    std::array<float*, kMaxChannels> mOutputPorts{};

    // Stand-ins for unconnected ports and for a unit that asks for our memory.
    std::vector<float> mSilence, mScratchOut, mScratchIn;
    // An AudioBufferList with room for kMaxChannels buffers.
    std::vector<unsigned char> mOutputList;

    LV2_URID_Map* mMap = nullptr;
    LV2_Log_Logger mLogger{};
};

} // namespace vxlv2
