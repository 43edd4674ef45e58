#include <aufw/ParameterMapEvent.h>

void ParameterMapEvent::SetScheduledEvent(const AudioUnitParameterEvent& inEvent,
                                          UInt32 inSliceOffsetInBuffer,
                                          UInt32 inSliceDurationFrames) noexcept {
    mEventType = inEvent.eventType;
    mSliceDurationFrames = inSliceDurationFrames;
    if (inEvent.eventType == kParameterEvent_Immediate) {
        mValue1 = inEvent.eventValues.immediate.value;
        mValue2 = mValue1;
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
    if (mEventType != kParameterEvent_Ramped) {
        outValuePerFrameDelta = 0.0f;
        outStartValue = mValue1;
        outEndValue = mValue1;
        return;
    }
    if (mDurationInFrames == 0) {
        // A ramp of no length has already arrived; dividing by its length
        // would hand infinities to the processing code.
        outValuePerFrameDelta = 0.0f;
        outStartValue = mValue2;
        outEndValue = mValue2;
        return;
    }
    outValuePerFrameDelta = (mValue2 - mValue1) / static_cast<Float32>(mDurationInFrames);
    outStartValue = mValue1 + outValuePerFrameDelta * -static_cast<Float32>(mBufferOffset);
    outEndValue =
        outStartValue + outValuePerFrameDelta * static_cast<Float32>(mSliceDurationFrames);
}
