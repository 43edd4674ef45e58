// The base class of every Audio Unit: its scopes and elements, life cycle,
// maximum slice size, render time, preset and context name, host callbacks
// and property listeners, and the property protocol every unit shares. The
// component entry calls the non-virtual Dispatch* operations and
// DoInitialize/DoCleanup/DoRender; a subclass customizes the unit through
// the virtual hooks.
//
// Errors deeper than the dispatchers are raised (a bare OSStatus or a
// CAXException); the component entry turns them into the call's result.
//
// The line above each hook and entry point gives its thread, state, overlap
// and pointer ownership in the tags of engine_api/Threads.h.
#pragma once

#include <aufw/AUElement.h>
#include <aufw/AUElementOwner.h>
#include <aufw/AUIOElement.h>
#include <aufw/AUScope.h>
#include <aufw/CAStreamBasicDescription.h>
#include <aufw/ComponentBase.h>
#include <aufw/HostCallbackRecord.h>
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

    void PostConstructor() override; // OPEN, UNINIT, ALONE; makes the elements.
    void PreDestructor() override;   // CLOSE, EITHER, ALONE; cleans up an initialized unit.
    // Version comes from ComponentBase.

    // OPEN (or CONTROL through ReallocateBuffers, once), UNINIT, ALONE.
    virtual void CreateExtendedElements() {}
    // CONTROL, UNINIT, +PARAM; a render call meanwhile is refused.
    virtual OSStatus Initialize() { return 0; }
    virtual void Cleanup() {} // CONTROL or CLOSE, INIT, +PARAM; no render call in flight.
    // CONTROL, EITHER, +RENDER: a host resets while the render thread renders.
    virtual OSStatus Reset(AudioUnitScope inScope, AudioUnitElement inElement);

    // CONTROL, EITHER, +RENDER; outputs BORROWED.
    virtual OSStatus GetPropertyInfo(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                     AudioUnitElement inElement, UInt32& outDataSize,
                                     Boolean& outWritable);
    // CONTROL, EITHER, +RENDER; outData BORROWED, sized by GetPropertyInfo; CF values RETAINED.
    virtual OSStatus GetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                 AudioUnitElement inElement, void* outData);
    // CONTROL, EITHER, +RENDER; inData BORROWED (the unit retains the CF objects it keeps).
    virtual OSStatus SetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                 AudioUnitElement inElement, const void* inData, UInt32 inDataSize);
    // CONTROL, EITHER, +RENDER.
    virtual OSStatus RemovePropertyValue(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                         AudioUnitElement inElement);

    // CONTROL, EITHER, +RENDER (announcements may walk meanwhile); proc KEPT until removed.
    virtual OSStatus AddPropertyListener(AudioUnitPropertyID inID,
                                         AudioUnitPropertyListenerProc inProc, void* inProcRefCon);
    // CONTROL, EITHER, +RENDER; a walk already under way may still call it once.
    virtual OSStatus RemovePropertyListener(AudioUnitPropertyID inID,
                                            AudioUnitPropertyListenerProc inProc,
                                            void* inProcRefCon, bool refConSpecified);

    // ANY, EITHER, +ANY (lock-free list); proc KEPT until a render applies its removal.
    virtual OSStatus SetRenderNotification(AURenderCallback inProc, void* inRefCon);
    // ANY, EITHER, +ANY; takes effect at the start of the next render call.
    virtual OSStatus RemoveRenderNotification(AURenderCallback inProc, void* inRefCon);

    // ANY, EITHER, +ANY: values are read whole.
    virtual OSStatus GetParameter(AudioUnitParameterID inID, AudioUnitScope inScope,
                                  AudioUnitElement inElement, AudioUnitParameterValue& outValue);
    // ANY, EITHER, +ANY: values are written whole.
    virtual OSStatus SetParameter(AudioUnitParameterID inID, AudioUnitScope inScope,
                                  AudioUnitElement inElement, AudioUnitParameterValue inValue,
                                  UInt32 inBufferOffsetInFrames);
    // RENDER or CONTROL, EITHER, +PARAM but never during a render call; events copied.
    virtual OSStatus ScheduleParameter(const AudioUnitParameterEvent* inParameterEvent,
                                       UInt32 inNumEvents);

    // RENDER, INIT, +CONTROL +PARAM; both lists and their samples BORROWED.
    virtual OSStatus ProcessBufferLists(AudioUnitRenderActionFlags& /*ioActionFlags*/,
                                        const AudioBufferList& /*inBuffer*/,
                                        AudioBufferList& /*outBuffer*/,
                                        UInt32 /*inFramesToProcess*/) {
        return kAUBaseUnimplemented;
    }
    // RENDER, INIT, +CONTROL +PARAM; every list BORROWED.
    virtual OSStatus ProcessMultipleBufferLists(AudioUnitRenderActionFlags& /*ioActionFlags*/,
                                                UInt32 /*inFramesToProcess*/,
                                                UInt32 /*inNumberInputBufferLists*/,
                                                const AudioBufferList** /*inInputBufferLists*/,
                                                UInt32 /*inNumberOutputBufferLists*/,
                                                AudioBufferList** /*ioOutputBufferLists*/) {
        return kAUBaseUnimplemented;
    }
    // RENDER, INIT, +CONTROL +PARAM; every pointer BORROWED.
    virtual OSStatus ComplexRender(AudioUnitRenderActionFlags& /*ioActionFlags*/,
                                   const AudioTimeStamp& /*inTimeStamp*/,
                                   UInt32 /*inOutputBusNumber*/, UInt32 /*inNumberOfPackets*/,
                                   UInt32* /*outNumberOfPackets*/,
                                   AudioStreamPacketDescription* /*outPacketDescriptions*/,
                                   AudioBufferList& /*ioData*/, void* /*outMetadata*/,
                                   UInt32* /*outMetadataByteSize*/) {
        return kAUBaseUnimplemented;
    }
    // RENDER, INIT, +CONTROL +PARAM.
    virtual OSStatus RenderBus(AudioUnitRenderActionFlags& ioActionFlags,
                               const AudioTimeStamp& inTimeStamp, UInt32 inBusNumber,
                               UInt32 inNumberFrames);
    // RENDER, INIT, +CONTROL +PARAM; renders into the output elements' lists.
    virtual OSStatus Render(AudioUnitRenderActionFlags& /*ioActionFlags*/,
                            const AudioTimeStamp& /*inTimeStamp*/, UInt32 /*inNumberFrames*/) {
        return 0;
    }

    // CONTROL, EITHER, +RENDER.
    virtual bool BusCountWritable(AudioUnitScope /*inScope*/) { return false; }
    // CONTROL, UNINIT (refused while INIT), +PARAM.
    virtual OSStatus SetBusCount(AudioUnitScope inScope, UInt32 inCount);
    // CONTROL, EITHER, not during a render call (PullInput reads it); record copied.
    virtual OSStatus SetConnection(const AudioUnitConnection& inConnection);
    // CONTROL, EITHER, not during a render call; proc KEPT until replaced.
    virtual OSStatus SetInputCallback(UInt32 inPropertyID, AudioUnitElement inElement,
                                      AURenderCallback inProc, void* inRefCon);

    // Writes the parameter IDs of the scope into outParameterList when it is
    // not null (room for outNumParameters entries, as a call without a list
    // reports).
    // CONTROL, EITHER, +RENDER; outParameterList BORROWED.
    virtual OSStatus GetParameterList(AudioUnitScope inScope,
                                      AudioUnitParameterID* outParameterList,
                                      UInt32& outNumParameters);
    // CONTROL, EITHER, +RENDER; CF strings in the info RETAINED when flagged so.
    virtual OSStatus GetParameterInfo(AudioUnitScope inScope, AudioUnitParameterID inParameterID,
                                      AudioUnitParameterInfo& outParameterInfo);
    // CONTROL, EITHER, +RENDER.
    virtual OSStatus GetParameterHistoryInfo(AudioUnitScope inScope,
                                             AudioUnitParameterID inParameterID,
                                             Float32& outUpdatesPerSecond,
                                             Float32& outHistoryDurationInSeconds);

    // The ClassInfo document: a new dictionary owned by the caller.
    // CONTROL, EITHER, +RENDER; *outData RETAINED.
    virtual OSStatus SaveState(CFPropertyListRef* outData);
    // CONTROL, EITHER, +RENDER; inData BORROWED.
    virtual OSStatus RestoreState(CFPropertyListRef inData);

    // outStrings null asks only whether the parameter has value strings.
    // CONTROL, EITHER, +RENDER; *outStrings RETAINED.
    virtual OSStatus GetParameterValueStrings(AudioUnitScope inScope,
                                              AudioUnitParameterID inParameterID,
                                              CFArrayRef* outStrings);
    // CONTROL, EITHER, +RENDER; *outClumpName RETAINED.
    virtual OSStatus CopyClumpName(AudioUnitScope inScope, UInt32 inClumpID,
                                   UInt32 inDesiredNameLength, CFStringRef* outClumpName);
    // outData null asks only whether the unit has factory presets.
    // CONTROL, EITHER, +RENDER; *outData RETAINED.
    virtual OSStatus GetPresets(CFArrayRef* outData) const;
    // CONTROL, EITHER, +RENDER; preset BORROWED.
    virtual OSStatus NewFactoryPresetSet(const AUPreset& inNewFactoryPreset);

    virtual int GetNumCustomUIComponents() { return 0; } // CONTROL, EITHER, +RENDER.
    // CONTROL, EITHER, +RENDER; array BORROWED, room for every entry.
    virtual void GetUIComponentDescs(AudioComponentDescription* /*inDescArray*/) {}
    // A location retained for the caller, or null.
    virtual CFURLRef CopyIconLocation() { return nullptr; } // CONTROL, EITHER, +RENDER; RETAINED.

    // ANY (RENDER: the effect's tail accounting), EITHER, +ANY.
    virtual Float64 GetLatency() { return 0.0; }
    // ANY (RENDER: the effect's tail accounting), EITHER, +ANY.
    virtual Float64 GetTailTime() { return 0.0; }
    virtual bool SupportsTail() { return false; } // CONTROL, EITHER, +RENDER.

    // CONTROL, EITHER, +RENDER.
    virtual bool StreamFormatWritable(AudioUnitScope inScope, AudioUnitElement inElement) = 0;
    // The supported channel configurations; *outInfo points into storage the
    // unit keeps. Returns the entry count.
    // CONTROL, EITHER, +RENDER; *outInfo VALID UNTIL the unit is closed.
    virtual UInt32 SupportedNumChannels(const AUChannelInfo** outInfo);
    // CONTROL, EITHER, +RENDER; format BORROWED.
    virtual bool ValidFormat(AudioUnitScope inScope, AudioUnitElement inElement,
                             const CAStreamBasicDescription& inNewFormat);
    // ANY, EITHER; VALID UNTIL that element's next format change.
    virtual const CAStreamBasicDescription& GetStreamFormat(AudioUnitScope inScope,
                                                            AudioUnitElement inElement);
    // CONTROL, as StreamFormatWritable allows (UNINIT for an effect), +PARAM.
    virtual OSStatus ChangeStreamFormat(AudioUnitScope inScope, AudioUnitElement inElement,
                                        const CAStreamBasicDescription& inPrevFormat,
                                        const CAStreamBasicDescription& inNewFormat);

    // Scopes beyond Group; none by default.
    // ANY, EITHER, +ANY; VALID UNTIL the unit is closed.
    virtual AUScope* GetScopeExtended(AudioUnitScope /*inScope*/) { return nullptr; }

    // ANY, EITHER, +ANY; listeners run synchronously on the caller's thread.
    virtual void PropertyChanged(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                 AudioUnitElement inElement);

    // OPEN or CONTROL, UNINIT, +PARAM; the scope takes the element.
    AUElement* CreateElement(AudioUnitScope inScope, AudioUnitElement inElement) override;

    // CONTROL, INIT, +RENDER; output units only.
    virtual OSStatus Start() { return kAUBaseUnimplemented; }
    // CONTROL, INIT, +RENDER; output units only.
    virtual OSStatus Stop() { return kAUBaseUnimplemented; }
    // CONTROL, EITHER, +RENDER; instrument units only.
    virtual OSStatus PrepareInstrument(MusicDeviceInstrumentID) { return kAUBaseUnimplemented; }
    // CONTROL, EITHER, +RENDER; instrument units only.
    virtual OSStatus ReleaseInstrument(MusicDeviceInstrumentID) { return kAUBaseUnimplemented; }
    // ANY, INIT, +ANY; MIDI units only.
    virtual OSStatus MIDIEvent(UInt32 /*inStatus*/, UInt32 /*inData1*/, UInt32 /*inData2*/,
                               UInt32 /*inOffsetSampleFrame*/) {
        return kAUBaseUnimplemented;
    }
    // ANY, INIT, +ANY; MIDI units only; inData BORROWED.
    virtual OSStatus SysEx(const UInt8* /*inData*/, UInt32 /*inLength*/) {
        return kAUBaseUnimplemented;
    }
    // ANY, INIT, +ANY; instrument units only; note parameters BORROWED.
    virtual OSStatus StartNote(MusicDeviceInstrumentID, MusicDeviceGroupID,
                               NoteInstanceID* /*outNoteInstanceID*/,
                               UInt32 /*inOffsetSampleFrame*/, const MusicDeviceNoteParams&) {
        return kAUBaseUnimplemented;
    }
    // ANY, INIT, +ANY; instrument units only.
    virtual OSStatus StopNote(MusicDeviceGroupID, NoteInstanceID, UInt32 /*inOffsetSampleFrame*/) {
        return kAUBaseUnimplemented;
    }

    virtual OSStatus ReallocateBuffers(); // CONTROL, EITHER, no render call in flight.
    // OPEN or CONTROL, UNINIT (the property is refused while INIT), +PARAM.
    virtual void SetMaxFramesPerSlice(UInt32 nFrames);
    virtual OSStatus CanSetMaxFrames() const; // CONTROL, EITHER, +RENDER.

    // Forwarded to the I/O element; see AUIOElement.
    // CONTROL, EITHER, +RENDER; outLayoutTags BORROWED.
    virtual UInt32 GetChannelLayoutTags(AudioUnitScope inScope, AudioUnitElement inElement,
                                        AudioChannelLayoutTag* outLayoutTags);
    // CONTROL, EITHER, +RENDER; outLayoutPtr BORROWED.
    virtual UInt32 GetAudioChannelLayout(AudioUnitScope inScope, AudioUnitElement inElement,
                                         AudioChannelLayout* outLayoutPtr, Boolean& outWritable);
    // CONTROL, EITHER, +RENDER; inLayout BORROWED (the element copies it).
    virtual OSStatus SetAudioChannelLayout(AudioUnitScope inScope, AudioUnitElement inElement,
                                           const AudioChannelLayout* inLayout);
    // CONTROL, EITHER, +RENDER.
    virtual OSStatus RemoveAudioChannelLayout(AudioUnitScope inScope, AudioUnitElement inElement);

    // RENDER, INIT, +CONTROL +PARAM; the list is the unit's, for this cycle.
    virtual OSStatus ProcessForScheduledParams(std::vector<AudioUnitParameterEvent>& inParamList,
                                               UInt32 inFramesToProcess, void* inUserData);
    // RENDER, INIT, +CONTROL +PARAM; inUserData BORROWED.
    virtual OSStatus ProcessScheduledSlice(void* /*inUserData*/, UInt32 /*inStartFrameInBuffer*/,
                                           UInt32 /*inSliceFramesToProcess*/,
                                           UInt32 /*inTotalBufferFrames*/) {
        return 0;
    }

    // ---------------------------------------------------------------------
    // Entry points the component entry calls.

    // CONTROL, EITHER, +PARAM; a render call is refused until the flag is published.
    OSStatus DoInitialize();
    void DoCleanup(); // CONTROL or CLOSE, EITHER, no render call in flight.

    // CONTROL, EITHER, +RENDER; outputs BORROWED.
    OSStatus DispatchGetPropertyInfo(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                     AudioUnitElement inElement, UInt32& outDataSize,
                                     Boolean& outWritable);
    // CONTROL, EITHER, +RENDER; outData BORROWED; CF values RETAINED.
    OSStatus DispatchGetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                 AudioUnitElement inElement, void* outData);
    // CONTROL, EITHER, +RENDER; inData BORROWED.
    OSStatus DispatchSetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                 AudioUnitElement inElement, const void* inData, UInt32 inDataSize);
    // CONTROL, EITHER, +RENDER.
    OSStatus DispatchRemovePropertyValue(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                         AudioUnitElement inElement);

    // The Component Manager entry for every selector but open.
    // The thread, state and overlap of the selector's own call; params BORROWED.
    static OSStatus ComponentEntryDispatch(ComponentParameters* params, AUBase* This);

    // =====================================================================
    // Render path. Implemented in AUBaseRender.cpp; this block is edited
    // together with that file. The virtual render hooks above
    // (SetRenderNotification, RemoveRenderNotification, ScheduleParameter,
    // RenderBus, ProcessForScheduledParams) live there too.

    // RENDER, INIT, +CONTROL +PARAM; ioData BORROWED; pointers handed back for null data are
    // VALID UNTIL the next render call.
    OSStatus DoRender(AudioUnitRenderActionFlags& ioActionFlags, const AudioTimeStamp& inTimeStamp,
                      UInt32 inBusNumber, UInt32 inNumberFrames, AudioBufferList& ioData);
    // RENDER, INIT, +CONTROL +PARAM; ioData BORROWED.
    OSStatus DoProcess(AudioUnitRenderActionFlags& ioActionFlags, const AudioTimeStamp& inTimeStamp,
                       UInt32 inFramesToProcess, AudioBufferList& ioData);
    // RENDER, INIT, +CONTROL +PARAM; every list BORROWED.
    OSStatus DoProcessMultiple(AudioUnitRenderActionFlags& ioActionFlags,
                               const AudioTimeStamp& inTimeStamp, UInt32 inFramesToProcess,
                               UInt32 inNumberInputBufferLists,
                               const AudioBufferList** inInputBufferLists,
                               UInt32 inNumberOutputBufferLists,
                               AudioBufferList** ioOutputBufferLists);

    // The parameter events scheduled for the current render cycle.
    // RENDER, or CONTROL through ScheduleParameter; never both at once.
    std::vector<AudioUnitParameterEvent>& GetParamEventList() noexcept { return mParamList; }
    bool HasScheduledParameterEvents() const noexcept { return !mParamList.empty(); }

protected:
    // RENDER, INIT, +CONTROL +PARAM. DoRender's second half, inlined into
    // it: only DoRender may call it.
    OSStatus DoRenderBus(AudioUnitRenderActionFlags& ioActionFlags,
                         const AudioTimeStamp& inTimeStamp, UInt32 inBusNumber,
                         AUOutputElement* theOutput, UInt32 inNumberFrames,
                         AudioBufferList& ioData);
    // Keeps inErr as the last render error when none is waiting to be read,
    // and then announces it.
    void SetLastRenderError(OSStatus inErr); // RENDER.

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

    // ANY, EITHER, +ANY: read and written whole.
    AudioTimeStamp CurrentRenderTime() const noexcept { return mCurrentRenderTime.load(); }
    void SetCurrentRenderTime(const AudioTimeStamp& inTime) noexcept {
        mCurrentRenderTime.store(inTime);
    }
    // Sample time -1 and every other field 0, so the next cycle renders.
    void ResetRenderTime() noexcept;

    // ANY, EITHER, +ANY.
    OSStatus GetLastRenderError() const noexcept { return mLastRenderError.load(); }

    // The current preset; the name is owned by the unit.
    // CONTROL; the name VALID UNTIL the next preset change (not retained).
    AUPreset GetPresentPreset() const noexcept { return mCurrentPreset; }
    // Stores the preset, retaining its name and releasing the old one.
    void SetAFactoryPresetAsCurrent(const AUPreset& inPreset);
    // CONTROL; VALID UNTIL the next ContextName change (not retained).
    CFStringRef GetContextName() const noexcept { return mContextName; }
    // ANY, EITHER, +ANY; a copy, whole (empty while a change is under way).
    HostCallbackInfo GetHostCallbackInfo() const noexcept { return mHostCallbackInfo.load(); }
    // ANY, EITHER, +ANY; false also while a first record is being set.
    bool HasHostCallbacks() const noexcept { return mHostCallbackInfo.hasProcedures(); }

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
    // Recorded by the render thread (the only one that stores an error, so
    // its check for a waiting one and its store need no single step), taken
    // and cleared at once by a control thread reading the property.
    std::atomic<OSStatus> mLastRenderError{0};
    AUPreset mCurrentPreset{};

    std::vector<AudioUnitParameterEvent> mParamList;
    PropertyListenerList mPropertyListeners;
    bool mBuffersAllocated = false;
    HostCallbackRecord mHostCallbackInfo;
    CFStringRef mContextName = nullptr;
};

// The fast-dispatch procedures a unit opened through the Component Manager
// hands out (kAudioUnitProperty_FastDispatch). They have the platform's
// procedure types; inComponentStorage is the unit object the Component
// Manager keeps for the instance. Implemented with the component entry.
// ANY, EITHER, +ANY; outValue BORROWED.
OSStatus CMgr_AudioUnitBaseGetParameter(void* inComponentStorage, AudioUnitParameterID inID,
                                        AudioUnitScope inScope, AudioUnitElement inElement,
                                        AudioUnitParameterValue* outValue);
// ANY, EITHER, +ANY.
OSStatus CMgr_AudioUnitBaseSetParameter(void* inComponentStorage, AudioUnitParameterID inID,
                                        AudioUnitScope inScope, AudioUnitElement inElement,
                                        AudioUnitParameterValue inValue,
                                        UInt32 inBufferOffsetInFrames);
// RENDER, INIT, +CONTROL +PARAM; ioData BORROWED, as AudioUnitRender.
OSStatus CMgr_AudioUnitBaseRender(void* inComponentStorage,
                                  AudioUnitRenderActionFlags* ioActionFlags,
                                  const AudioTimeStamp* inTimeStamp, UInt32 inOutputBusNumber,
                                  UInt32 inNumberFrames, AudioBufferList* ioData);
