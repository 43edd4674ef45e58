#include <aufw/ParameterMapEvent.h>

void ParameterMapEvent::SetScheduledEvent(const AudioUnitParameterEvent& inEvent,
                                          UInt32 inSliceOffsetInBuffer,
                                          UInt32 inSliceDurationFrames) noexcept {
    mEventType = inEvent.eventType;
    mSliceDurationFrames = inSliceDurationFrames;
    if (inEvent.eventType == kParameterEvent_Immediate) {
        mValue1 = inEvent.eventValues.immediate.value;
        mValue2 = inEvent.eventValues.immediate.value;
        mDurationInFrames = inSliceDurationFrames;
        mBufferOffset = 0;
    } else {
        const auto& ramp = inEvent.eventValues.ramp;
        mDurationInFrames = ramp.durationInFrames;
        // Relative to the slice, so a ramp that began in an earlier slice has
        // a negative offset.
        mBufferOffset = static_cast<SInt32>(static_cast<SInt64>(ramp.startBufferOffset) -
                                            static_cast<SInt64>(inSliceOffsetInBuffer));
        mValue1 = ramp.startValue;
        mValue2 = ramp.endValue;
    }
}

void ParameterMapEvent::GetRampSliceStartEnd(
    AudioUnitParameterValue& outStartValue, AudioUnitParameterValue& outEndValue,
    AudioUnitParameterValue& outValuePerFrameDelta) const noexcept {
    // Each field is read once, so a value set meanwhile cannot make the
    // start and the end disagree within one answer.
    const AudioUnitParameterValue value1 = mValue1;
    const AudioUnitParameterValue value2 = mValue2;
    const UInt32 duration = mDurationInFrames;
    if (mEventType != kParameterEvent_Ramped) {
        outValuePerFrameDelta = 0.0f;
        outStartValue = value1;
        outEndValue = value1;
        return;
    }
    if (duration == 0) {
        // A ramp of no length has already arrived; dividing by its length
        // would hand infinities to the processing code.
        outValuePerFrameDelta = 0.0f;
        outStartValue = value2;
        outEndValue = value2;
        return;
    }
    outValuePerFrameDelta = (value2 - value1) / static_cast<Float32>(duration);
    outStartValue = value1 + outValuePerFrameDelta * -static_cast<Float32>(SInt32{mBufferOffset});
    outEndValue =
        outStartValue + outValuePerFrameDelta * static_cast<Float32>(UInt32{mSliceDurationFrames});
}
