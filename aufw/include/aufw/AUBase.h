// The base class of every Audio Unit: its scopes and elements, life cycle,
// maximum slice size, render time, preset and context name, host callbacks
// and property listeners, and the property protocol every unit shares. The
// component entry calls the non-virtual Dispatch* operations and
// DoInitialize/DoCleanup/DoRender; a subclass customizes the unit through
// the virtual hooks.
//
// Errors deeper than the dispatchers are raised (a bare OSStatus or a
// CAXException); the component entry turns them into the call's result.
#pragma once

#include <aufw/AUElement.h>
#include <aufw/AUElementOwner.h>
#include <aufw/AUIOElement.h>
#include <aufw/AUScope.h>
#include <aufw/CAStreamBasicDescription.h>
#include <aufw/ComponentBase.h>
#include <aufw/PropertyListenerList.h>
#include <aufw/RelaxedValue.h>
#include <aufw/TThreadSafeList.h>

#include <AudioUnit/AudioUnit.h>
#include <CoreAudio/CoreAudioTypes.h>
#include <CoreFoundation/CoreFoundation.h>
#include <CoreServices/CoreServices.h>

#include <atomic>
#include <vector>

// Instrument-unit types; an effect never uses them, but the hooks exist on
// every unit.
using MusicDeviceInstrumentID = UInt32;
using MusicDeviceGroupID = UInt32;
using NoteInstanceID = UInt32;
struct MusicDeviceNoteParams;

class AUBase : public ComponentBase, public AUElementOwner {
public:
    // The slice size a unit starts with.
    static constexpr UInt32 kAUDefaultMaxFramesPerSlice = 1156;
    // The private property that answers the last rendered sample time.
    static constexpr AudioUnitPropertyID kAUBaseProperty_LastRenderedSampleTime =
        0x6C727374; // 'lrst'

    AUBase(AudioComponentInstance inInstance, UInt32 numInputElements, UInt32 numOutputElements,
           UInt32 numGroupElements = 0);
    ~AUBase() override;

    AUBase(const AUBase&) = delete;
    AUBase& operator=(const AUBase&) = delete;

    // ---------------------------------------------------------------------
    // Virtual operations, in slot order.

    void PostConstructor() override;
    void PreDestructor() override;
    // Version comes from ComponentBase.

    virtual void CreateExtendedElements() {}
    virtual OSStatus Initialize() { return 0; }
    virtual void Cleanup() {}
    virtual OSStatus Reset(AudioUnitScope inScope, AudioUnitElement inElement);

    virtual OSStatus GetPropertyInfo(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                     AudioUnitElement inElement, UInt32& outDataSize,
                                     Boolean& outWritable);
    virtual OSStatus GetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                 AudioUnitElement inElement, void* outData);
    virtual OSStatus SetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                 AudioUnitElement inElement, const void* inData, UInt32 inDataSize);
    virtual OSStatus RemovePropertyValue(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                         AudioUnitElement inElement);

    virtual OSStatus AddPropertyListener(AudioUnitPropertyID inID,
                                         AudioUnitPropertyListenerProc inProc, void* inProcRefCon);
    virtual OSStatus RemovePropertyListener(AudioUnitPropertyID inID,
                                            AudioUnitPropertyListenerProc inProc,
                                            void* inProcRefCon, bool refConSpecified);

    virtual OSStatus SetRenderNotification(AURenderCallback inProc, void* inRefCon);
    virtual OSStatus RemoveRenderNotification(AURenderCallback inProc, void* inRefCon);

    virtual OSStatus GetParameter(AudioUnitParameterID inID, AudioUnitScope inScope,
                                  AudioUnitElement inElement, AudioUnitParameterValue& outValue);
    virtual OSStatus SetParameter(AudioUnitParameterID inID, AudioUnitScope inScope,
                                  AudioUnitElement inElement, AudioUnitParameterValue inValue,
                                  UInt32 inBufferOffsetInFrames);
    virtual OSStatus ScheduleParameter(const AudioUnitParameterEvent* inParameterEvent,
                                       UInt32 inNumEvents);

    virtual OSStatus ProcessBufferLists(AudioUnitRenderActionFlags& /*ioActionFlags*/,
                                        const AudioBufferList& /*inBuffer*/,
                                        AudioBufferList& /*outBuffer*/,
                                        UInt32 /*inFramesToProcess*/) {
        return kAUBaseUnimplemented;
    }
    virtual OSStatus ProcessMultipleBufferLists(AudioUnitRenderActionFlags& /*ioActionFlags*/,
                                                UInt32 /*inFramesToProcess*/,
                                                UInt32 /*inNumberInputBufferLists*/,
                                                const AudioBufferList** /*inInputBufferLists*/,
                                                UInt32 /*inNumberOutputBufferLists*/,
                                                AudioBufferList** /*ioOutputBufferLists*/) {
        return kAUBaseUnimplemented;
    }
    virtual OSStatus ComplexRender(AudioUnitRenderActionFlags& /*ioActionFlags*/,
                                   const AudioTimeStamp& /*inTimeStamp*/,
                                   UInt32 /*inOutputBusNumber*/, UInt32 /*inNumberOfPackets*/,
                                   UInt32* /*outNumberOfPackets*/,
                                   AudioStreamPacketDescription* /*outPacketDescriptions*/,
                                   AudioBufferList& /*ioData*/, void* /*outMetadata*/,
                                   UInt32* /*outMetadataByteSize*/) {
        return kAUBaseUnimplemented;
    }
    virtual OSStatus RenderBus(AudioUnitRenderActionFlags& ioActionFlags,
                               const AudioTimeStamp& inTimeStamp, UInt32 inBusNumber,
                               UInt32 inNumberFrames);
    virtual OSStatus Render(AudioUnitRenderActionFlags& /*ioActionFlags*/,
                            const AudioTimeStamp& /*inTimeStamp*/, UInt32 /*inNumberFrames*/) {
        return 0;
    }

    virtual bool BusCountWritable(AudioUnitScope /*inScope*/) { return false; }
    virtual OSStatus SetBusCount(AudioUnitScope inScope, UInt32 inCount);
    virtual OSStatus SetConnection(const AudioUnitConnection& inConnection);
    virtual OSStatus SetInputCallback(UInt32 inPropertyID, AudioUnitElement inElement,
                                      AURenderCallback inProc, void* inRefCon);

    // Writes the parameter IDs of the scope into outParameterList when it is
    // not null (room for outNumParameters entries, as a call without a list
    // reports).
    virtual OSStatus GetParameterList(AudioUnitScope inScope,
                                      AudioUnitParameterID* outParameterList,
                                      UInt32& outNumParameters);
    virtual OSStatus GetParameterInfo(AudioUnitScope inScope, AudioUnitParameterID inParameterID,
                                      AudioUnitParameterInfo& outParameterInfo);
    virtual OSStatus GetParameterHistoryInfo(AudioUnitScope inScope,
                                             AudioUnitParameterID inParameterID,
                                             Float32& outUpdatesPerSecond,
                                             Float32& outHistoryDurationInSeconds);

    // The ClassInfo document: a new dictionary owned by the caller.
    virtual OSStatus SaveState(CFPropertyListRef* outData);
    virtual OSStatus RestoreState(CFPropertyListRef inData);

    // outStrings null asks only whether the parameter has value strings.
    virtual OSStatus GetParameterValueStrings(AudioUnitScope inScope,
                                              AudioUnitParameterID inParameterID,
                                              CFArrayRef* outStrings);
    virtual OSStatus CopyClumpName(AudioUnitScope inScope, UInt32 inClumpID,
                                   UInt32 inDesiredNameLength, CFStringRef* outClumpName);
    // outData null asks only whether the unit has factory presets.
    virtual OSStatus GetPresets(CFArrayRef* outData) const;
    virtual OSStatus NewFactoryPresetSet(const AUPreset& inNewFactoryPreset);

    virtual int GetNumCustomUIComponents() { return 0; }
    virtual void GetUIComponentDescs(AudioComponentDescription* /*inDescArray*/) {}
    // A location retained for the caller, or null.
    virtual CFURLRef CopyIconLocation() { return nullptr; }

    virtual Float64 GetLatency() { return 0.0; }
    virtual Float64 GetTailTime() { return 0.0; }
    virtual bool SupportsTail() { return false; }

    virtual bool StreamFormatWritable(AudioUnitScope inScope, AudioUnitElement inElement) = 0;
    // The supported channel configurations; *outInfo points into storage the
    // unit keeps. Returns the entry count.
    virtual UInt32 SupportedNumChannels(const AUChannelInfo** outInfo);
    virtual bool ValidFormat(AudioUnitScope inScope, AudioUnitElement inElement,
                             const CAStreamBasicDescription& inNewFormat);
    virtual const CAStreamBasicDescription& GetStreamFormat(AudioUnitScope inScope,
                                                            AudioUnitElement inElement);
    virtual OSStatus ChangeStreamFormat(AudioUnitScope inScope, AudioUnitElement inElement,
                                        const CAStreamBasicDescription& inPrevFormat,
                                        const CAStreamBasicDescription& inNewFormat);

    // Scopes beyond Group; none by default.
    virtual AUScope* GetScopeExtended(AudioUnitScope /*inScope*/) { return nullptr; }

    virtual void PropertyChanged(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                 AudioUnitElement inElement);

    AUElement* CreateElement(AudioUnitScope inScope, AudioUnitElement inElement) override;

    virtual OSStatus Start() { return kAUBaseUnimplemented; }
    virtual OSStatus Stop() { return kAUBaseUnimplemented; }
    virtual OSStatus PrepareInstrument(MusicDeviceInstrumentID) { return kAUBaseUnimplemented; }
    virtual OSStatus ReleaseInstrument(MusicDeviceInstrumentID) { return kAUBaseUnimplemented; }
    virtual OSStatus MIDIEvent(UInt32 /*inStatus*/, UInt32 /*inData1*/, UInt32 /*inData2*/,
                               UInt32 /*inOffsetSampleFrame*/) {
        return kAUBaseUnimplemented;
    }
    virtual OSStatus SysEx(const UInt8* /*inData*/, UInt32 /*inLength*/) {
        return kAUBaseUnimplemented;
    }
    virtual OSStatus StartNote(MusicDeviceInstrumentID, MusicDeviceGroupID,
                               NoteInstanceID* /*outNoteInstanceID*/,
                               UInt32 /*inOffsetSampleFrame*/, const MusicDeviceNoteParams&) {
        return kAUBaseUnimplemented;
    }
    virtual OSStatus StopNote(MusicDeviceGroupID, NoteInstanceID, UInt32 /*inOffsetSampleFrame*/) {
        return kAUBaseUnimplemented;
    }

    virtual OSStatus ReallocateBuffers();
    virtual void SetMaxFramesPerSlice(UInt32 nFrames);
    virtual OSStatus CanSetMaxFrames() const;

    // Forwarded to the I/O element; see AUIOElement.
    virtual UInt32 GetChannelLayoutTags(AudioUnitScope inScope, AudioUnitElement inElement,
                                        AudioChannelLayoutTag* outLayoutTags);
    virtual UInt32 GetAudioChannelLayout(AudioUnitScope inScope, AudioUnitElement inElement,
                                         AudioChannelLayout* outLayoutPtr, Boolean& outWritable);
    virtual OSStatus SetAudioChannelLayout(AudioUnitScope inScope, AudioUnitElement inElement,
                                           const AudioChannelLayout* inLayout);
    virtual OSStatus RemoveAudioChannelLayout(AudioUnitScope inScope, AudioUnitElement inElement);

    virtual OSStatus ProcessForScheduledParams(std::vector<AudioUnitParameterEvent>& inParamList,
                                               UInt32 inFramesToProcess, void* inUserData);
    virtual OSStatus ProcessScheduledSlice(void* /*inUserData*/, UInt32 /*inStartFrameInBuffer*/,
                                           UInt32 /*inSliceFramesToProcess*/,
                                           UInt32 /*inTotalBufferFrames*/) {
        return 0;
    }

    // ---------------------------------------------------------------------
    // Entry points the component entry calls.

    OSStatus DoInitialize();
    void DoCleanup();

    OSStatus DispatchGetPropertyInfo(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                     AudioUnitElement inElement, UInt32& outDataSize,
                                     Boolean& outWritable);
    OSStatus DispatchGetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                 AudioUnitElement inElement, void* outData);
    OSStatus DispatchSetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                 AudioUnitElement inElement, const void* inData, UInt32 inDataSize);
    OSStatus DispatchRemovePropertyValue(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                         AudioUnitElement inElement);

    // The Component Manager entry for every selector but open.
    static OSStatus ComponentEntryDispatch(ComponentParameters* params, AUBase* This);

    // =====================================================================
    // Render path. Implemented in AUBaseRender.cpp; this block is edited
    // together with that file. The virtual render hooks above
    // (SetRenderNotification, RemoveRenderNotification, ScheduleParameter,
    // RenderBus, ProcessForScheduledParams) live there too.

    OSStatus DoRender(AudioUnitRenderActionFlags& ioActionFlags, const AudioTimeStamp& inTimeStamp,
                      UInt32 inBusNumber, UInt32 inNumberFrames, AudioBufferList& ioData);
    OSStatus DoProcess(AudioUnitRenderActionFlags& ioActionFlags, const AudioTimeStamp& inTimeStamp,
                       UInt32 inFramesToProcess, AudioBufferList& ioData);
    OSStatus DoProcessMultiple(AudioUnitRenderActionFlags& ioActionFlags,
                               const AudioTimeStamp& inTimeStamp, UInt32 inFramesToProcess,
                               UInt32 inNumberInputBufferLists,
                               const AudioBufferList** inInputBufferLists,
                               UInt32 inNumberOutputBufferLists,
                               AudioBufferList** ioOutputBufferLists);

    // The parameter events scheduled for the current render cycle.
    std::vector<AudioUnitParameterEvent>& GetParamEventList() noexcept { return mParamList; }
    bool HasScheduledParameterEvents() const noexcept { return !mParamList.empty(); }

protected:
    // DoRender's second half, inlined into it: only DoRender may call it.
    OSStatus DoRenderBus(AudioUnitRenderActionFlags& ioActionFlags,
                         const AudioTimeStamp& inTimeStamp, UInt32 inBusNumber,
                         AUOutputElement* theOutput, UInt32 inNumberFrames,
                         AudioBufferList& ioData);
    // Keeps inErr as the last render error when none is waiting to be read,
    // and then announces it.
    void SetLastRenderError(OSStatus inErr);

    struct RenderCallback {
        AURenderCallback mRenderNotify = nullptr;
        void* mRenderNotifyRefCon = nullptr;
        bool operator==(const RenderCallback& other) const noexcept {
            return mRenderNotify == other.mRenderNotify &&
                   mRenderNotifyRefCon == other.mRenderNotifyRefCon;
        }
    };
    using RenderCallbackList = TThreadSafeList<RenderCallback>;

    RenderCallbackList& RenderCallbacks() noexcept { return mRenderCallbacks; }
    // Set by any thread that adds a notification, read by the render
    // thread: every access goes through an atomic view of the flag.
    bool RenderCallbacksTouched() const noexcept {
        return std::atomic_ref<bool>(const_cast<bool&>(mRenderCallbacksTouched))
            .load(std::memory_order_acquire);
    }
    void SetRenderCallbacksTouched() noexcept {
        std::atomic_ref<bool>(mRenderCallbacksTouched).store(true, std::memory_order_release);
    }

    // End of the render path.
    // =====================================================================

public:
    // ---------------------------------------------------------------------
    // Scopes and elements.

    // The unit's own scope for Global to Group, else GetScopeExtended;
    // raises kAudioUnitErr_InvalidScope when there is none.
    AUScope& GetScope(AudioUnitScope inScope);
    AUScope& Globals() noexcept { return mScopes[kAudioUnitScope_Global]; }
    AUScope& Inputs() noexcept { return mScopes[kAudioUnitScope_Input]; }
    AUScope& Outputs() noexcept { return mScopes[kAudioUnitScope_Output]; }
    AUScope& Groups() noexcept { return mScopes[kAudioUnitScope_Group]; }
    AUElement* Globals0() const noexcept { return mScopes[kAudioUnitScope_Global].GetElement(0); }

    // Null when the element is missing (the scope must exist).
    AUElement* GetElement(AudioUnitScope inScope, AudioUnitElement inElement) {
        return GetScope(inScope).GetElement(inElement);
    }
    // Raise kAudioUnitErr_InvalidElement when it is missing (or not I/O).
    AUElement* SafeGetElement(AudioUnitScope inScope, AudioUnitElement inElement) {
        return GetScope(inScope).SafeGetElement(inElement);
    }
    AUIOElement* GetIOElement(AudioUnitScope inScope, AudioUnitElement inElement) {
        return GetScope(inScope).GetIOElement(inElement);
    }
    // Null when missing.
    AUInputElement* GetInput(AudioUnitElement inElement);
    AUOutputElement* GetOutput(AudioUnitElement inElement);
    // Raises kAudioUnitErr_InvalidScope for Global with a count other than 1.
    void SetNumberOfElements(AudioUnitScope inScope, UInt32 numElements);

    // Creates the Input, Output and Group elements once.
    void CreateElements();

    // ---------------------------------------------------------------------
    // State and life cycle.

    bool IsInitialized() const override { return mInitialized.load(std::memory_order_acquire); }
    bool HasBegunInitializing() const override { return mHasBegunInitializing; }
    UInt32 GetMaxFramesPerSlice() const override { return mMaxFramesPerSlice; }
    bool ElementsCreated() const noexcept { return mElementsCreated; }
    bool BuffersAllocated() const noexcept { return mBuffersAllocated; }
    UInt8 AudioUnitAPIVersion() const noexcept { return mAudioUnitAPIVersion; }

    AudioTimeStamp CurrentRenderTime() const noexcept { return mCurrentRenderTime.load(); }
    void SetCurrentRenderTime(const AudioTimeStamp& inTime) noexcept {
        mCurrentRenderTime.store(inTime);
    }
    // Sample time -1 and every other field 0, so the next cycle renders.
    void ResetRenderTime() noexcept;

    OSStatus GetLastRenderError() const noexcept { return mLastRenderError; }

    // The current preset; the name is owned by the unit.
    AUPreset GetPresentPreset() const noexcept { return mCurrentPreset; }
    // Stores the preset, retaining its name and releasing the old one.
    void SetAFactoryPresetAsCurrent(const AUPreset& inPreset);
    CFStringRef GetContextName() const noexcept { return mContextName; }
    const HostCallbackInfo& GetHostCallbackInfo() const noexcept { return mHostCallbackInfo; }

    // True for 'lpcm' non-big-endian 32-bit float at one frame per packet,
    // one channel per buffer when there are several channels.
    static bool FormatIsCanonical(const CAStreamBasicDescription& inFormat);
    // Whether a host may set the stream format of this scope and element now.
    bool IsStreamFormatWritable(AudioUnitScope inScope, AudioUnitElement inElement);

    // The shared property-list keys of the ClassInfo document.
    static CFStringRef kUntitledString;
    static CFStringRef kVersionString;
    static CFStringRef kTypeString;
    static CFStringRef kSubtypeString;
    static CFStringRef kManufacturerString;
    static CFStringRef kDataString;
    static CFStringRef kNameString;
    static CFStringRef kRenderQualityString;
    static CFStringRef kCPULoadString;
    static CFStringRef kElementNameString;
    static CFStringRef kPartString;

    static constexpr OSStatus kAUBaseUnimplemented = -4; // the platform's unimpErr

protected:
    // Checks that the element exists in the scope, extended scopes included.
    // Raises kAudioUnitErr_InvalidScope or kAudioUnitErr_InvalidElement.
    void ValidateScopeAndElement(AudioUnitScope inScope, AudioUnitElement inElement);

private:
    static void InitializeClassStrings();
    // Validity, sameness and writability checks shared by the sample-rate
    // and stream-format properties, then ChangeStreamFormat.
    OSStatus ApplyStreamFormat(AudioUnitScope inScope, AudioUnitElement inElement,
                               const CAStreamBasicDescription& inCurrent,
                               const CAStreamBasicDescription& inRequested);

    bool mElementsCreated = false;
    std::atomic<bool> mInitialized{false};
    bool mHasBegunInitializing = false;
    UInt8 mAudioUnitAPIVersion = 2;
    UInt32 mInitNumInputEls;
    UInt32 mInitNumOutputEls;
    UInt32 mInitNumGroupEls;
    AUScope mScopes[4];

    RenderCallbackList mRenderCallbacks;
    bool mRenderCallbacksTouched = false;

    // Recorded by the render thread; a host control thread may reset it.
    RelaxedTimeStamp mCurrentRenderTime;
    // Output element 0, found once by DoInitialize before the initialized
    // flag is published: element counts cannot change while initialized, so
    // the render path takes it without a lookup. Null when there is none.
    std::atomic<AUOutputElement*> mRenderOutput{nullptr};
    UInt32 mMaxFramesPerSlice = 0;
    OSStatus mLastRenderError = 0;
    AUPreset mCurrentPreset{};

    std::vector<AudioUnitParameterEvent> mParamList;
    PropertyListenerList mPropertyListeners;
    bool mBuffersAllocated = false;
    HostCallbackInfo mHostCallbackInfo{};
    CFStringRef mContextName = nullptr;
};

// The fast-dispatch procedures a unit opened through the Component Manager
// hands out (kAudioUnitProperty_FastDispatch). They have the platform's
// procedure types; inComponentStorage is the unit object the Component
// Manager keeps for the instance. Implemented with the component entry.
OSStatus CMgr_AudioUnitBaseGetParameter(void* inComponentStorage, AudioUnitParameterID inID,
                                        AudioUnitScope inScope, AudioUnitElement inElement,
                                        AudioUnitParameterValue* outValue);
OSStatus CMgr_AudioUnitBaseSetParameter(void* inComponentStorage, AudioUnitParameterID inID,
                                        AudioUnitScope inScope, AudioUnitElement inElement,
                                        AudioUnitParameterValue inValue,
                                        UInt32 inBufferOffsetInFrames);
OSStatus CMgr_AudioUnitBaseRender(void* inComponentStorage,
                                  AudioUnitRenderActionFlags* ioActionFlags,
                                  const AudioTimeStamp* inTimeStamp, UInt32 inOutputBusNumber,
                                  UInt32 inNumberFrames, AudioBufferList* ioData);
