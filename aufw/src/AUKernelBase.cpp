// The kernel's defaults: a sample type the kernel was not written for is an
// error the host sees as unimplemented, never silently wrong audio.
#include <aufw/AUKernelBase.h>

#include <aufw/AUEffectBase.h>
#include <aufw/CAException.h>

void AUEffectKernel::Process(const Float32*, Float32*, UInt32, UInt32, bool&) {
    throw CAException(AUBase::kAUBaseUnimplemented);
}

void AUEffectKernel::Process(const SInt32*, SInt32*, UInt32, UInt32, bool&) {
    throw CAException(AUBase::kAUBaseUnimplemented);
}

void AUEffectKernel::Process(const SInt16*, SInt16*, UInt32, UInt32, bool&) {
    throw CAException(AUBase::kAUBaseUnimplemented);
}

Float64 AUEffectKernel::GetSampleRate() const {
    return mAudioUnit->GetSampleRate();
}

AudioUnitParameterValue AUEffectKernel::GetParameter(AudioUnitParameterID paramID) const {
    return mAudioUnit->GetParameter(paramID);
}
