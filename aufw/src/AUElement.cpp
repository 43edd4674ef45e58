#include <aufw/AUElement.h>

#include <bit>
#include <cstddef>
#include <utility>

namespace {

[[noreturn]] void ThrowInvalidParameter() {
    throw static_cast<OSStatus>(kAudioUnitErr_InvalidParameter);
}

void PutBigEndian32(UInt8* out, UInt32 value) noexcept {
    out[0] = static_cast<UInt8>(value >> 24);
    out[1] = static_cast<UInt8>(value >> 16);
    out[2] = static_cast<UInt8>(value >> 8);
    out[3] = static_cast<UInt8>(value);
}

UInt32 GetBigEndian32(const UInt8* in) noexcept {
    return (static_cast<UInt32>(in[0]) << 24) | (static_cast<UInt32>(in[1]) << 16) |
           (static_cast<UInt32>(in[2]) << 8) | static_cast<UInt32>(in[3]);
}

constexpr size_t kCountBytes = 4;
constexpr size_t kRecordBytes = 8;

} // namespace

AUElement::~AUElement() {
    if (mElementName != nullptr) {
        CFRelease(mElementName);
    }
}

UInt32 AUElement::GetNumberOfParameters() {
    return static_cast<UInt32>(mUseIndexedParameters ? mIndexedParameters.size()
                                                     : mParameters.size());
}

void AUElement::GetParameterList(AudioUnitParameterID* outList) {
    if (outList == nullptr) {
        return;
    }
    if (mUseIndexedParameters) {
        const auto n = static_cast<UInt32>(mIndexedParameters.size());
        for (UInt32 i = 0; i < n; ++i) {
            outList[i] = i;
        }
    } else {
        for (const auto& entry : mParameters) {
            *outList++ = entry.first;
        }
    }
}

void AUElement::UseIndexedParameters(UInt32 inNumberOfParameters) {
    mIndexedParameters.resize(inNumberOfParameters);
    mUseIndexedParameters = true;
}

bool AUElement::HasParameterID(AudioUnitParameterID paramID) const noexcept {
    if (mUseIndexedParameters) {
        return paramID < mIndexedParameters.size();
    }
    return mParameters.find(paramID) != mParameters.end();
}

ParameterMapEvent& AUElement::FindEvent(AudioUnitParameterID paramID) {
    return const_cast<ParameterMapEvent&>(std::as_const(*this).FindEvent(paramID));
}

const ParameterMapEvent& AUElement::FindEvent(AudioUnitParameterID paramID) const {
    if (mUseIndexedParameters) {
        if (paramID >= mIndexedParameters.size()) {
            ThrowInvalidParameter();
        }
        return mIndexedParameters[paramID];
    }
    const auto it = mParameters.find(paramID);
    if (it == mParameters.end()) {
        ThrowInvalidParameter();
    }
    return it->second;
}

ParameterMapEvent* AUElement::EventForWrite(AudioUnitParameterID paramID, bool okWhenInitialized) {
    if (mUseIndexedParameters) {
        if (paramID >= mIndexedParameters.size()) {
            ThrowInvalidParameter();
        }
        return &mIndexedParameters[paramID];
    }
    const auto it = mParameters.find(paramID);
    if (it != mParameters.end()) {
        return &it->second;
    }
    if (!okWhenInitialized && mAudioUnit != nullptr && mAudioUnit->IsInitialized()) {
        return nullptr;
    }
    return &mParameters.emplace(paramID, ParameterMapEvent()).first->second;
}

AudioUnitParameterValue AUElement::GetParameter(AudioUnitParameterID paramID) const {
    return FindEvent(paramID).GetValue();
}

AudioUnitParameterValue AUElement::GetEndValue(AudioUnitParameterID paramID) const {
    return FindEvent(paramID).GetEndValue();
}

void AUElement::SetParameter(AudioUnitParameterID paramID, AudioUnitParameterValue value,
                             bool okWhenInitialized) {
    if (ParameterMapEvent* event = EventForWrite(paramID, okWhenInitialized)) {
        event->SetValue(value);
    }
}

void AUElement::SetScheduledEvent(AudioUnitParameterID paramID,
                                  const AudioUnitParameterEvent& inEvent,
                                  UInt32 inSliceOffsetInBuffer, UInt32 inSliceDurationFrames,
                                  bool okWhenInitialized) {
    if (ParameterMapEvent* event = EventForWrite(paramID, okWhenInitialized)) {
        event->SetScheduledEvent(inEvent, inSliceOffsetInBuffer, inSliceDurationFrames);
    }
}

void AUElement::GetRampSliceStartEnd(AudioUnitParameterID paramID,
                                     AudioUnitParameterValue& outStartValue,
                                     AudioUnitParameterValue& outEndValue,
                                     AudioUnitParameterValue& outValuePerFrameDelta) const {
    FindEvent(paramID).GetRampSliceStartEnd(outStartValue, outEndValue, outValuePerFrameDelta);
}

void AUElement::SaveState(CFMutableDataRef data) {
    const UInt32 count = GetNumberOfParameters();
    UInt8 bytes[kRecordBytes];
    PutBigEndian32(bytes, count);
    CFDataAppendBytes(data, bytes, kCountBytes);

    auto appendRecord = [&](AudioUnitParameterID paramID, const ParameterMapEvent& event) {
        PutBigEndian32(bytes, paramID);
        PutBigEndian32(bytes + 4, std::bit_cast<UInt32>(event.GetValue()));
        CFDataAppendBytes(data, bytes, kRecordBytes);
    };
    if (mUseIndexedParameters) {
        for (UInt32 i = 0; i < count; ++i) {
            appendRecord(i, mIndexedParameters[i]);
        }
    } else {
        for (const auto& entry : mParameters) {
            appendRecord(entry.first, entry.second);
        }
    }
}

const UInt8* AUElement::RestoreState(const UInt8* state) {
    const UInt32 count = GetBigEndian32(state);
    const UInt8* pos = state + kCountBytes;
    for (UInt32 i = 0; i < count; ++i, pos += kRecordBytes) {
        SetParameter(GetBigEndian32(pos), std::bit_cast<Float32>(GetBigEndian32(pos + 4)), false);
    }
    return pos;
}

const UInt8* AUElement::RestoreState(const UInt8* state, const UInt8* end) {
    if (state == nullptr || end < state || static_cast<size_t>(end - state) < kCountBytes) {
        return nullptr;
    }
    const UInt32 count = GetBigEndian32(state);
    const size_t available = static_cast<size_t>(end - state) - kCountBytes;
    if (count > available / kRecordBytes) {
        return nullptr;
    }
    return RestoreState(state);
}

void AUElement::SetName(CFStringRef inName) {
    // Retain first: the new name may be the one already held.
    if (inName != nullptr) {
        CFRetain(inName);
    }
    if (mElementName != nullptr) {
        CFRelease(mElementName);
    }
    mElementName = inName;
}
