// The processing bridge: audio blocks to the engine, the channel
// configurations it takes, sample-rate changes, reset, latency and tail.
//
// Without a ready engine the unit never initialises, so it never renders; a
// processing call that reaches it anyway answers kAudioUnitErr_Uninitialized
// and leaves the output alone. Format changes are kept (they are the unit's
// own bookkeeping), reset resets the unit only, and latency and tail are 0.
#include <plugin/CAUPlugin.h>

#include <MacTypes.h>

#include <cmath>

namespace {

// Mono or stereo in, always stereo out.
constexpr AUChannelInfo kChannelConfigurations[] = {{1, 2}, {2, 2}};
constexpr UInt32 kChannelConfigurationCount =
    sizeof kChannelConfigurations / sizeof kChannelConfigurations[0];

// "-improper channel settings..." as the debugger's length-prefixed string.
constexpr unsigned char kImproperChannelsMessage[] = "\x1D-improper channel settings...";
static_assert(sizeof kImproperChannelsMessage - 2 == 0x1D);

} // namespace

// Out of line: inlined, its registers and stack would be saved and restored
// on every slice, also for the many hosts that set no callbacks.
[[gnu::noinline]] void CAUPlugin::RefreshHostFacts() {
    // A whole copy: the host may replace its callbacks while this renders.
    const HostCallbackInfo host = GetHostCallbackInfo();
    if (host.beatAndTempoProc != nullptr) {
        Float64 tempo = 0.0;
        if (host.beatAndTempoProc(host.hostUserData, nullptr, &tempo) == noErr) {
            mTempo = tempo;
        }
    }
    if (host.transportStateProc != nullptr) {
        Boolean isPlaying = false;
        Float64 sampleInTimeLine = 0.0;
        if (host.transportStateProc(host.hostUserData, &isPlaying, nullptr, &sampleInTimeLine,
                                    nullptr, nullptr, nullptr) == noErr) {
            mSamplePosition = sampleInTimeLine;
            mTransportPlaying = isPlaying != 0;
        }
    }
}

OSStatus CAUPlugin::ProcessBufferLists(AudioUnitRenderActionFlags& /*ioActionFlags*/,
                                       const AudioBufferList& inBuffer, AudioBufferList& outBuffer,
                                       UInt32 inFramesToProcess) {
    if (outBuffer.mNumberBuffers != 2 ||
        (inBuffer.mNumberBuffers != 1 && inBuffer.mNumberBuffers != 2)) {
        DebugStr(kImproperChannelsMessage);
        return noErr;
    }
    if (!mEngineReady) {
        return kAudioUnitErr_Uninitialized;
    }
    if (HasHostCallbacks()) {
        RefreshHostFacts();
    }

    // A mono input feeds both engine inputs. The pointers live on the stack:
    // nothing here allocates.
    float* in[2] = {static_cast<float*>(inBuffer.mBuffers[0].mData),
                    static_cast<float*>(inBuffer.mBuffers[inBuffer.mNumberBuffers - 1].mData)};
    float* out[2] = {static_cast<float*>(outBuffer.mBuffers[0].mData),
                     static_cast<float*>(outBuffer.mBuffers[1].mData)};
    IAP()->IProcess(0, in, out, static_cast<int>(inFramesToProcess));
    return noErr;
}

UInt32 CAUPlugin::SupportedNumChannels(const AUChannelInfo** outInfo) {
    if (outInfo != nullptr) {
        *outInfo = kChannelConfigurations;
    }
    return kChannelConfigurationCount;
}

OSStatus CAUPlugin::ChangeStreamFormat(AudioUnitScope inScope, AudioUnitElement inElement,
                                       const CAStreamBasicDescription& inPrevFormat,
                                       const CAStreamBasicDescription& inNewFormat) {
    // Whichever element first brings a new rate restarts the engine at it;
    // the other element following to the same rate changes nothing. A rate
    // that is not a number never equals the current one.
    if (!(inNewFormat.mSampleRate == static_cast<Float64>(mSampleRate))) {
        IAudioPlugin* engine = mEngineReady ? IAP() : nullptr;
        if (engine != nullptr) {
            engine->ISuspend();
        }
        mSampleRate = static_cast<Float32>(inNewFormat.mSampleRate);
        if (engine != nullptr) {
            engine->IPrepare();
            // The engine's latency in seconds follows the rate.
            PropertyChanged(kAudioUnitProperty_Latency, kAudioUnitScope_Global, 0);
            engine->IReset();
        }
    }
    return AUEffectBase::ChangeStreamFormat(inScope, inElement, inPrevFormat, inNewFormat);
}

OSStatus CAUPlugin::Reset(AudioUnitScope inScope, AudioUnitElement inElement) {
    if (mEngineReady) {
        IAP()->IReset();
    }
    // The effect base would reset its kernels; this unit has none, and the
    // engine was reset above.
    return AUBase::Reset(inScope, inElement);
}

bool CAUPlugin::SupportsTail() {
    const AudioPluginInfo* info = mEngineReady ? IAP()->IGetInfo() : nullptr;
    return info != nullptr && info->supportsTail;
}

Float64 CAUPlugin::GetTailTime() {
    return mEngineReady ? static_cast<Float64>(IAP()->IGetTailTime()) : 0.0;
}

Float64 CAUPlugin::GetLatency() {
    const AudioPluginInfo* info = mEngineReady ? IAP()->IGetInfo() : nullptr;
    const Float32 rate = mSampleRate;
    if (info == nullptr || !(rate > 0.0f)) {
        return 0.0;
    }
    SInt32 samples = info->fixedLatency;
    if (samples == -1) {
        samples = mLatencySamples;
    }
    return static_cast<Float64>(samples) / static_cast<Float64>(rate);
}
