#include "test_unit.h"

#include <aufw/AUEffectBase.h>
#include <aufw/AUPlugInDispatch.h>
#include <aufw/CAException.h>
#include <aufw/ComponentEntry.h>

#include <pthread.h>

#include <cerrno>
#include <cstring>
#include <thread>

using namespace testunit;

namespace {

Log gLog{};
UInt32 gFailurePoint = kFailNowhere;
UInt32 gFailureKind = kRaiseNothing;

void Note(char event) {
    const size_t n = std::strlen(gLog.events);
    if (n + 1 < sizeof gLog.events) {
        gLog.events[n] = event;
    }
}

void Raise(UInt32 kind) {
    if (kind == kRaiseCAXException) {
        throw CAXException("raised on request", kRaisedStatus);
    }
    if (kind == kRaiseZero) {
        throw static_cast<SInt32>(0);
    }
}

class TestKernel : public AUEffectKernel {
public:
    explicit TestKernel(AUEffectBase* inUnit) : AUEffectKernel(inUnit) {}

    void Process(const Float32* inSourceP, Float32* inDestP, UInt32 inFramesToProcess,
                 UInt32 inNumChannels, bool& ioSilence) override {
        const Float32 gain = GetParameter(kParamGain);
        const Float32 offset = GetParameter(kParamOffset);
        for (UInt32 i = 0; i < inFramesToProcess; ++i) {
            const Float32 out = inSourceP[i * inNumChannels] * gain + offset;
            inDestP[i * inNumChannels] = out;
            ioSilence = ioSilence && out == 0.0f;
        }
        if (GetChannel() == 0) {
            ++gLog.kernelCalls;
        }
    }
};

} // namespace

class VXTestUnit : public AUEffectBase {
public:
    explicit VXTestUnit(AudioComponentInstance inInstance) : AUEffectBase(inInstance, false) {
        gLog.instanceTypeAtConstruction = InstanceType();
        gLog.lockHeldInConstructor = VXTestUnitOpenLockHeld();
        if (gFailurePoint == kFailInConstructor) {
            Raise(gFailureKind);
        }
        SetParameter(kParamGain, 1.0f);
        SetParameter(kParamOffset, 0.0f);
        ++gLog.live;
        ++gLog.constructed;
        gLog.lastUnit = static_cast<AUBase*>(this);
        Note('C');
    }

    ~VXTestUnit() override {
        --gLog.live;
        Note('D');
    }

    void PostConstructor() override {
        AUEffectBase::PostConstructor();
        gLog.lockHeldInPostConstructor = VXTestUnitOpenLockHeld();
        if (gFailurePoint == kFailInPostConstructor) {
            Raise(gFailureKind);
        }
        Note('P');
    }

    void PreDestructor() override {
        Note('p');
        AUEffectBase::PreDestructor();
    }

    OSStatus Version() override { return kVersion; }

    OSStatus Reset(AudioUnitScope inScope, AudioUnitElement inElement) override {
        ++gLog.resetCalls;
        gLog.renderTimeAtReset = CurrentRenderTime().mSampleTime;
        return AUEffectBase::Reset(inScope, inElement);
    }

    AUEffectKernel* NewKernel() override { return new TestKernel(this); }

    OSStatus GetParameterInfo(AudioUnitScope inScope, AudioUnitParameterID inParameterID,
                              AudioUnitParameterInfo& outParameterInfo) override {
        if (inScope != kAudioUnitScope_Global || inParameterID > kParamOffset) {
            return kAudioUnitErr_InvalidParameter;
        }
        std::memset(&outParameterInfo, 0, sizeof outParameterInfo);
        const bool gain = inParameterID == kParamGain;
        std::strncpy(outParameterInfo.name, gain ? "Gain" : "Offset",
                     sizeof outParameterInfo.name - 1);
        outParameterInfo.cfNameString = gain ? CFSTR("Gain") : CFSTR("Offset");
        outParameterInfo.unit = kAudioUnitParameterUnit_Generic;
        outParameterInfo.minValue = gain ? 0.0f : -1.0f;
        outParameterInfo.maxValue = gain ? 2.0f : 1.0f;
        outParameterInfo.defaultValue = gain ? 1.0f : 0.0f;
        outParameterInfo.flags = kAudioUnitParameterFlag_HasCFNameString |
                                 kAudioUnitParameterFlag_IsReadable |
                                 kAudioUnitParameterFlag_IsWritable;
        return noErr;
    }

    OSStatus GetPropertyInfo(AudioUnitPropertyID inID, AudioUnitScope inScope,
                             AudioUnitElement inElement, UInt32& outDataSize,
                             Boolean& outWritable) override {
        if (inID != kRaiseProperty) {
            return AUEffectBase::GetPropertyInfo(inID, inScope, inElement, outDataSize,
                                                 outWritable);
        }
        outDataSize = sizeof(UInt32);
        outWritable = true;
        return inScope == kAudioUnitScope_Global ? OSStatus{noErr} : kAudioUnitErr_InvalidScope;
    }

    OSStatus GetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope,
                         AudioUnitElement inElement, void* outData) override {
        if (inID != kRaiseProperty || inScope != kAudioUnitScope_Global) {
            return AUEffectBase::GetProperty(inID, inScope, inElement, outData);
        }
        Raise(inElement);
        std::memcpy(outData, &mLastRaiseKind, sizeof mLastRaiseKind);
        return noErr;
    }

    OSStatus SetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope,
                         AudioUnitElement inElement, const void* inData,
                         UInt32 inDataSize) override {
        if (inID != kRaiseProperty) {
            return AUEffectBase::SetProperty(inID, inScope, inElement, inData, inDataSize);
        }
        ++gLog.setPropertyCalls;
        if (inScope != kAudioUnitScope_Global) {
            return kAudioUnitErr_InvalidScope;
        }
        if (inDataSize < sizeof mLastRaiseKind) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
        std::memcpy(&mLastRaiseKind, inData, sizeof mLastRaiseKind);
        Raise(mLastRaiseKind);
        return noErr;
    }

private:
    UInt32 mLastRaiseKind = kRaiseNothing;
};

AUDIOCOMPONENT_ENTRY(AUBaseFactory, VXTestUnit)

extern "C" {

__attribute__((visibility("default"))) Log* VXTestUnitGetLog() {
    return &gLog;
}

__attribute__((visibility("default"))) void VXTestUnitResetLog() {
    const int live = gLog.live;
    gLog = Log{};
    gLog.live = live;
}

__attribute__((visibility("default"))) void VXTestUnitSetOpenFailure(UInt32 point, UInt32 kind) {
    gFailurePoint = point;
    gFailureKind = kind;
}

__attribute__((visibility("default"))) int VXTestUnitOpenLockHeld() {
    int held = 0;
    std::thread([&held] {
        held = pthread_mutex_trylock(&detail::ComponentOpenMutex()) == EBUSY;
        if (!held) {
            pthread_mutex_unlock(&detail::ComponentOpenMutex());
        }
    }).join();
    return held;
}
}
