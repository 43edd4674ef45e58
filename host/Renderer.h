// Driving a unit the way a host does: canonical formats on its input and
// output, a render callback that feeds it input, host callbacks for tempo and
// transport, and one AudioUnitRender per block.
#pragma once

#include <AudioUnit/AudioUnit.h>

#include <optional>
#include <vector>

namespace vxhost {

AudioStreamBasicDescription canonicalFormat(double rate, UInt32 channels);
// Sets canonical formats on input and output element 0; the first refusal's
// status, else 0.
OSStatus setCanonicalFormats(AudioUnit unit, double rate, UInt32 inChannels, UInt32 outChannels);

// The channel configurations the unit advertises; empty when it answers none.
std::vector<AUChannelInfo> channelConfigs(AudioUnit unit);
// Whether in -> out is allowed by the configurations (the platform's
// wildcards -1 and -2 understood); with no configurations, in == out.
bool channelsAllowed(const std::vector<AUChannelInfo>& configs, UInt32 in, UInt32 out);
// The output channel count for an input count: the preferred one when it is
// allowed, else the first allowed count from 1 to 8.
std::optional<UInt32> outputChannelsFor(const std::vector<AUChannelInfo>& configs, UInt32 in,
                                        UInt32 preferred);

struct RenderSetup {
    double rate = 44100.0;
    UInt32 block = 512;
    UInt32 inChannels = 2;
    UInt32 outChannels = 2;
    double tempo = 120.0;
    // The unit's maximum slice; 0 leaves the unit's own when it covers the block.
    UInt32 maxFramesPerSlice = 0;
};

class RenderSession {
public:
    RenderSession(AudioUnit unit, const RenderSetup& setup);
    RenderSession(const RenderSession&) = delete;
    RenderSession& operator=(const RenderSession&) = delete;
    ~RenderSession();

    // Formats, the maximum slice, the input callback and the host callbacks.
    // The first refusal's status; the unit must be uninitialized.
    OSStatus configure();
    OSStatus initialize();
    // Renders frames (at most the block size) from in (one buffer per input
    // channel, or null for silence) into out (one per output channel). The
    // unit's status; the sample time advances on success.
    OSStatus render(const float* const* in, UInt32 frames, float* const* out);
    void restartTime() { mSampleTime = 0; }
    Float64 sampleTime() const { return mSampleTime; }
    const RenderSetup& setup() const { return mSetup; }

    // The unit's latency in frames at the session's rate (rounded).
    long latencyFrames() const;
    // The unit's tail in seconds; 0 when it reports none.
    double tailSeconds() const;

private:
    static OSStatus inputProc(void* refCon, AudioUnitRenderActionFlags* flags,
                              const AudioTimeStamp* timeStamp, UInt32 bus, UInt32 frames,
                              AudioBufferList* data);
    static OSStatus beatAndTempo(void* userData, Float64* beat, Float64* tempo);
    static OSStatus transportState(void* userData, Boolean* playing, Boolean* changed,
                                   Float64* sample, Boolean* cycling, Float64* cycleStart,
                                   Float64* cycleEnd);

    AudioUnit mUnit;
    RenderSetup mSetup;
    Float64 mSampleTime = 0;
    const float* const* mInput = nullptr;
    std::vector<float> mSilence;
    std::vector<unsigned char> mOutputListStorage;
    bool mCallbackInstalled = false;
};

} // namespace vxhost
