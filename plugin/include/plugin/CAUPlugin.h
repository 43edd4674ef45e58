// The plug-in's Audio Unit: an effect with one input and one output whose
// parameters, audio, formats, latency, tail, presets and editor all belong to
// an engine loaded from a separate module. The unit forwards the host's
// requests to the engine and answers the engine's questions about the host.
//
// An instance ends construction in one of three states: ready (engine loaded
// and created), no engine (the module could not be loaded), or engine not
// created (its ICreate failed). The user has seen an alert in the last two;
// the host learns of them when Initialize answers
// kAudioUnitErr_FailedInitialization. Until then every request that needs the
// engine answers a status without touching it; each operation documents its
// answer.
#pragma once

#include <plugin/CAudioHostLink.h>
#include <engine_api/IAudioPlugin.h>

#include <aufw/AUEffectBase.h>
#include <aufw/RelaxedValue.h>

#include <AudioUnit/AudioUnit.h>
#include <CoreFoundation/CoreFoundation.h>

class CAUPlugin : public AUEffectBase, public CAudioHostLink {
public:
    // Private property handing the editor the engine and this object, as two
    // pointers in that order.
    static constexpr AudioUnitPropertyID kAudioUnitProperty_EngineAccess = 0x1E3638DA;
    // Announced when the engine's editor changed its size.
    static constexpr AudioUnitPropertyID kAudioUnitProperty_WindowSizeChanged = 0x10000;
    // The key of the engine's state block in preset documents.
    static constexpr const char* kPresetDataKey = "Ambrel-Preset-Data-Key";
    // The editor view: a resource bundle of the plug-in bundle, and the view
    // factory class in it.
    static constexpr const char* kCocoaViewBundleName = "AUPluginCocoaUI";
    static constexpr const char* kCocoaViewFactoryClass = "AmbrelAUPluginCocoaViewFactory";
    static constexpr OSStatus kVersion = 0x10000; // 1.0.0

    explicit CAUPlugin(AudioComponentInstance inInstance);
    ~CAUPlugin() override;

    // ---------------------------------------------------------------------
    // Overrides, in the effect base's slot order.

    OSStatus Version() override { return kVersion; }
    OSStatus Initialize() override;
    OSStatus Reset(AudioUnitScope inScope, AudioUnitElement inElement) override;
    OSStatus GetPropertyInfo(AudioUnitPropertyID inID, AudioUnitScope inScope,
                             AudioUnitElement inElement, UInt32& outDataSize,
                             Boolean& outWritable) override;
    OSStatus GetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope,
                         AudioUnitElement inElement, void* outData) override;
    OSStatus SetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope,
                         AudioUnitElement inElement, const void* inData,
                         UInt32 inDataSize) override;
    OSStatus GetParameter(AudioUnitParameterID inID, AudioUnitScope inScope,
                          AudioUnitElement inElement, AudioUnitParameterValue& outValue) override;
    OSStatus SetParameter(AudioUnitParameterID inID, AudioUnitScope inScope,
                          AudioUnitElement inElement, AudioUnitParameterValue inValue,
                          UInt32 inBufferOffsetInFrames) override;
    OSStatus ProcessBufferLists(AudioUnitRenderActionFlags& ioActionFlags,
                                const AudioBufferList& inBuffer, AudioBufferList& outBuffer,
                                UInt32 inFramesToProcess) override;
    OSStatus GetParameterList(AudioUnitScope inScope, AudioUnitParameterID* outParameterList,
                              UInt32& outNumParameters) override;
    OSStatus GetParameterInfo(AudioUnitScope inScope, AudioUnitParameterID inParameterID,
                              AudioUnitParameterInfo& outParameterInfo) override;
    OSStatus SaveState(CFPropertyListRef* outData) override;
    OSStatus RestoreState(CFPropertyListRef inData) override;
    OSStatus GetParameterValueStrings(AudioUnitScope inScope, AudioUnitParameterID inParameterID,
                                      CFArrayRef* outStrings) override;
    Float64 GetLatency() override;
    Float64 GetTailTime() override;
    bool SupportsTail() override;
    UInt32 SupportedNumChannels(const AUChannelInfo** outInfo) override;
    OSStatus ChangeStreamFormat(AudioUnitScope inScope, AudioUnitElement inElement,
                                const CAStreamBasicDescription& inPrevFormat,
                                const CAStreamBasicDescription& inNewFormat) override;

    // The effect base's one-argument forms stay reachable.
    using AUEffectBase::GetParameter;
    using AUEffectBase::SetParameter;

    // ---------------------------------------------------------------------
    // The host link, in the engine contract's order.

    void IParamChanged(int index) override;
    int IGetRenderMode() override;
    float IGetSampleRate() override;
    int IGetBlockSize() override;
    double IGetTempo() override;
    double IGetHostSamplePosition() override;
    bool IGetHostTransportPlaying() override;
    void ISetLatency(int samples) override;
    void IWindowSizeChanged() override;

    // ---------------------------------------------------------------------

    bool EngineReady() const noexcept { return mEngineReady; }

private:
    // Asks the host's callbacks for tempo, timeline position and transport;
    // a callback that fails leaves the previous answer in place. Render
    // thread, only when the host has set a callback.
    void RefreshHostFacts();

    CFStringRef mPresetKey = nullptr;
    // Host facts: written by the render thread (tempo, position, transport),
    // by host control threads (rate, offline) and by the engine from any
    // thread (latency), read by the engine on its own; each is read and
    // written whole.
    RelaxedValue<bool> mOfflineRender = false;
    RelaxedValue<Float32> mSampleRate = 44100.0f;
    RelaxedValue<Float64> mTempo = 120.0;
    RelaxedValue<Float64> mSamplePosition = 0.0;
    RelaxedValue<bool> mTransportPlaying = false;
    RelaxedValue<SInt32> mLatencySamples = 0;
    bool mEngineReady = false;
};
