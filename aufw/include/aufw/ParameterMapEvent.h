// The stored state of one parameter of an element: its current value, or the
// part of a scheduled ramp that falls into the slice being rendered.
#pragma once

#include <AudioUnit/AudioUnit.h>
#include <aufw/RelaxedValue.h>

class ParameterMapEvent {
public:
    ParameterMapEvent() noexcept = default;

    // An immediate entry holding value.
    explicit ParameterMapEvent(AudioUnitParameterValue value) noexcept
        : mValue1(value), mValue2(value) {}

    // The entry that inEvent gives for a slice starting inSliceOffsetInBuffer
    // frames into the render buffer and lasting inSliceDurationFrames.
    ParameterMapEvent(const AudioUnitParameterEvent& inEvent, UInt32 inSliceOffsetInBuffer,
                      UInt32 inSliceDurationFrames) noexcept {
        SetScheduledEvent(inEvent, inSliceOffsetInBuffer, inSliceDurationFrames);
    }

    void SetScheduledEvent(const AudioUnitParameterEvent& inEvent, UInt32 inSliceOffsetInBuffer,
                           UInt32 inSliceDurationFrames) noexcept;

    // A plain value turns the entry immediate; offsets and durations stay as
    // they were, they mean nothing for an immediate value.
    void SetValue(AudioUnitParameterValue value) noexcept {
        mEventType = kParameterEvent_Immediate;
        mValue1 = value;
        mValue2 = value;
    }

    // Where the value stands at the start and end of the current slice and how
    // much it moves per frame in between.
    void GetRampSliceStartEnd(AudioUnitParameterValue& outStartValue,
                              AudioUnitParameterValue& outEndValue,
                              AudioUnitParameterValue& outValuePerFrameDelta) const noexcept;

    AUParameterEventType GetEventType() const noexcept { return mEventType; }
    SInt32 GetBufferOffset() const noexcept { return mBufferOffset; }
    UInt32 GetDurationInFrames() const noexcept { return mDurationInFrames; }
    UInt32 GetSliceDurationFrames() const noexcept { return mSliceDurationFrames; }
    // The current value, or the start of a ramp.
    AudioUnitParameterValue GetValue() const noexcept { return mValue1; }
    // The end of a ramp; equal to GetValue() for an immediate value.
    AudioUnitParameterValue GetEndValue() const noexcept { return mValue2; }

private:
    // Host control threads set values while the render thread reads them;
    // each field is read and written whole.
    RelaxedValue<AUParameterEventType> mEventType = kParameterEvent_Immediate;
    RelaxedValue<SInt32> mBufferOffset = 0;
    RelaxedValue<UInt32> mDurationInFrames = 0;
    RelaxedValue<AudioUnitParameterValue> mValue1 = 0.0f;
    RelaxedValue<AudioUnitParameterValue> mValue2 = 0.0f;
    RelaxedValue<UInt32> mSliceDurationFrames = 0;
};

static_assert(sizeof(ParameterMapEvent) == 24, "six 32-bit fields");
