// One numbered element of a unit's scope: its parameters and its name.
//
// Parameters live in one of two stores. Units with a fixed, dense set of
// parameters call UseIndexedParameters and address them by index; everything
// else keeps them in a map that grows as parameters are first set. Lookups
// raise kAudioUnitErr_InvalidParameter (as a bare OSStatus) for parameters
// that are not there.
#pragma once

#include <aufw/AUElementOwner.h>
#include <aufw/ParameterMapEvent.h>

#include <AudioUnit/AudioUnit.h>
#include <CoreFoundation/CoreFoundation.h>

#include <map>
#include <vector>

class AUIOElement;

class AUElement {
public:
    explicit AUElement(AUElementOwner* inAudioUnit) noexcept : mAudioUnit(inAudioUnit) {}
    virtual ~AUElement();

    AUElement(const AUElement&) = delete;
    AUElement& operator=(const AUElement&) = delete;

    // Tags of engine_api/Threads.h.
    // CONTROL, EITHER, +RENDER; grows only while UNINIT.
    virtual UInt32 GetNumberOfParameters();
    // Writes the IDs in use into outList, which has room for
    // GetNumberOfParameters() entries: 0 to n-1 when indexed, else the map's
    // IDs in ascending order.
    // CONTROL, EITHER, +RENDER; outList BORROWED.
    virtual void GetParameterList(AudioUnitParameterID* outList);
    // Switches to the indexed store with inNumberOfParameters entries. New
    // entries are 0; surplus ones are dropped. The map is no longer consulted.
    // OPEN or CONTROL, UNINIT, ALONE: the store is replaced.
    virtual void UseIndexedParameters(UInt32 inNumberOfParameters);
    // This element as an I/O element, or null when it is not one.
    // ANY, EITHER, +ANY; VALID UNTIL the element's scope shrinks or the unit closes.
    virtual AUIOElement* AsIOElement() { return nullptr; }

    AUElementOwner* GetAudioUnit() const noexcept { return mAudioUnit; }
    bool UsesIndexedParameters() const noexcept { return mUseIndexedParameters; }
    bool HasParameterID(AudioUnitParameterID paramID) const noexcept;

    // The current value (a ramp's start value).
    AudioUnitParameterValue GetParameter(AudioUnitParameterID paramID) const;
    // A ramp's end value; the current value when the parameter is not ramping.
    AudioUnitParameterValue GetEndValue(AudioUnitParameterID paramID) const;

    // Sets a value. An unknown map parameter is created, except on an
    // initialized unit when okWhenInitialized is false: then the call is
    // ignored, so a running unit never grows parameters a host made up.
    void SetParameter(AudioUnitParameterID paramID, AudioUnitParameterValue value,
                      bool okWhenInitialized = false);

    // Stores what inEvent means for the slice that starts
    // inSliceOffsetInBuffer frames into the render buffer. Unknown IDs are
    // treated as in SetParameter.
    void SetScheduledEvent(AudioUnitParameterID paramID, const AudioUnitParameterEvent& inEvent,
                           UInt32 inSliceOffsetInBuffer, UInt32 inSliceDurationFrames,
                           bool okWhenInitialized = false);

    void GetRampSliceStartEnd(AudioUnitParameterID paramID, AudioUnitParameterValue& outStartValue,
                              AudioUnitParameterValue& outEndValue,
                              AudioUnitParameterValue& outValuePerFrameDelta) const;

    // Appends the parameter block of the state document: a big-endian count,
    // then one big-endian {ID, IEEE single} pair per parameter.
    void SaveState(CFMutableDataRef data);
    // Applies a parameter block through SetParameter(ID, value, false) and
    // returns the position just past it. Trusts the block to be complete.
    const UInt8* RestoreState(const UInt8* state);
    // The same for a block that must lie within [state, end): a block that
    // would run past end applies nothing and returns null.
    const UInt8* RestoreState(const UInt8* state, const UInt8* end);

    // The element's name, retained by the element; null when it has none.
    CFStringRef GetName() const noexcept { return mElementName; }
    // Releases the old name and retains the new one; null clears it.
    void SetName(CFStringRef inName);
    bool HasName() const noexcept { return mElementName != nullptr; }

protected:
    AUElementOwner* mAudioUnit;

private:
    ParameterMapEvent& FindEvent(AudioUnitParameterID paramID);
    const ParameterMapEvent& FindEvent(AudioUnitParameterID paramID) const;
    // The entry to write to, created in the map when allowed; null when the
    // write is to be ignored.
    ParameterMapEvent* EventForWrite(AudioUnitParameterID paramID, bool okWhenInitialized);

    std::map<AudioUnitParameterID, ParameterMapEvent> mParameters;
    bool mUseIndexedParameters = false;
    std::vector<ParameterMapEvent> mIndexedParameters;
    CFStringRef mElementName = nullptr;
};
