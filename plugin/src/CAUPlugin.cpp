// The plug-in unit's life: construction in its three end states,
// initialisation, destruction, and the host link the engine calls back
// through.
#include <plugin/CAUPlugin.h>

#include <loader/AudioPluginLoader.h>
#include <loader/MsgBox.h>

#include <AudioToolbox/AudioUnitUtilities.h>

CAUPlugin::CAUPlugin(AudioComponentInstance inInstance) : AUEffectBase(inInstance, true) {
    void* moduleHandle = nullptr;
    IAudioPlugin* engine = newAudioPluginInstance(&moduleHandle);
    if (engine == nullptr) {
        // The loader has shown the reason; the instance lives on without an
        // engine and refuses to initialise.
        return;
    }
    setIAP(engine);
    setModuleHandle(moduleHandle);

    if (!engine->ICreate()) {
        NSVextra::SHOW_MSG_BOX(
            "Error in Audio Plugin ICreate(). Plug-In is not properly installed.", 0);
        return;
    }

    mPresetKey =
        CFStringCreateWithCString(kCFAllocatorDefault, kPresetDataKey, kCFStringEncodingASCII);
    CreateElements();
    mOfflineRender = false;

    engine->IPrepare();
    engine->IReset();
    mEngineReady = true;
}

CAUPlugin::~CAUPlugin() {
    if (mPresetKey != nullptr) {
        CFRelease(mPresetKey);
        mPresetKey = nullptr;
    }
    // The host link's destructor runs next and releases the engine and its
    // module, before the effect base is torn down.
}

OSStatus CAUPlugin::Initialize() {
    const OSStatus result = AUEffectBase::Initialize();
    if (result != noErr) {
        return result;
    }
    return mEngineReady ? noErr : static_cast<OSStatus>(kAudioUnitErr_FailedInitialization);
}

// ---------------------------------------------------------------------------
// Host link. Only a created engine holds the link, so these run in the ready
// state alone.

void CAUPlugin::IParamChanged(int index) {
    // A gesture of its own around the change, so that a host records it as
    // one edit, as it would a user's.
    AudioUnitEvent event{};
    event.mArgument.mParameter.mAudioUnit = GetComponentInstance();
    event.mArgument.mParameter.mParameterID = static_cast<AudioUnitParameterID>(index);
    event.mArgument.mParameter.mScope = kAudioUnitScope_Global;
    event.mArgument.mParameter.mElement = 0;
    for (const AudioUnitEventType type :
         {kAudioUnitEvent_BeginParameterChangeGesture, kAudioUnitEvent_ParameterValueChange,
          kAudioUnitEvent_EndParameterChangeGesture}) {
        event.mEventType = type;
        AUEventListenerNotify(nullptr, nullptr, &event);
    }
}

int CAUPlugin::IGetRenderMode() {
    return mOfflineRender ? 1 : 0;
}

float CAUPlugin::IGetSampleRate() {
    return mSampleRate;
}

int CAUPlugin::IGetBlockSize() {
    // The slice size varies from call to call; engines size themselves for
    // whatever IProcess hands them.
    return 0;
}

double CAUPlugin::IGetTempo() {
    return mTempo;
}

double CAUPlugin::IGetHostSamplePosition() {
    return mSamplePosition;
}

bool CAUPlugin::IGetHostTransportPlaying() {
    return mTransportPlaying;
}

void CAUPlugin::ISetLatency(int samples) {
    mLatencySamples = samples;
    PropertyChanged(kAudioUnitProperty_Latency, kAudioUnitScope_Global, 0);
}

void CAUPlugin::IWindowSizeChanged() {
    PropertyChanged(kAudioUnitProperty_WindowSizeChanged, kAudioUnitScope_Global, 0);
}
