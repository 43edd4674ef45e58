#include "test_unit.h"

#include <aufw/AUEffectBase.h>
#include <aufw/AUPlugInDispatch.h>
#include <aufw/CAException.h>
#include <aufw/ComponentEntry.h>

#include <pthread.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <stdexcept>
#include <thread>

using namespace testunit;

namespace {

Log gLog{};
UInt32 gFailurePoint = kFailNowhere;
UInt32 gFailureKind = kRaiseNothing;

void Note(LifeEvent event) {
    if (gLog.eventCount < kMaxEvents) {
        gLog.events[gLog.eventCount++] = event;
    }
}

void Raise(UInt32 kind) {
    switch (kind) {
    case kRaiseCAXException:
        throw CAXException("raised on request", kRaisedStatus);
    case kRaiseBadAlloc:
        throw std::bad_alloc();
    case kRaiseSInt16:
        throw static_cast<SInt16>(kRaisedSInt16);
    case kRaiseStdException:
        throw std::runtime_error("raised on request");
    case kRaiseZero:
        throw static_cast<SInt32>(0);
    default:
        break;
    }
}

// Whether the open lock is held by someone else than a fresh thread.
int OpenLockHeld() {
    int held = 0;
    std::thread probe([&held] {
        if (pthread_mutex_trylock(&detail::ComponentOpenMutex()) == EBUSY) {
            held = 1;
        } else {
            pthread_mutex_unlock(&detail::ComponentOpenMutex());
        }
    });
    probe.join();
    return held;
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
            if (out != 0.0f) {
                ioSilence = false;
            }
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
        gLog.openLockHeldDuringConstruction = OpenLockHeld();
        if (gFailurePoint == kFailInConstructor) {
            Raise(gFailureKind);
        }
        SetParameter(kParamGain, kDefaultGain);
        SetParameter(kParamOffset, 0.0f);
        ++gLog.live;
        ++gLog.constructed;
        gLog.lastUnit = static_cast<AUBase*>(this);
        Note(kEventConstructed);
    }

    ~VXTestUnit() override {
        --gLog.live;
        ++gLog.destructed;
        Note(kEventDestructed);
    }

    void PostConstructor() override {
        AUEffectBase::PostConstructor();
        gLog.openLockHeldDuringPostConstructor = OpenLockHeld();
        if (gFailurePoint == kFailInPostConstructor) {
            Raise(gFailureKind);
        }
        Note(kEventPostConstructed);
    }

    void PreDestructor() override {
        Note(kEventPreDestructor);
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
        if (inScope != kAudioUnitScope_Global ||
            (inParameterID != kParamGain && inParameterID != kParamOffset)) {
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
        outParameterInfo.defaultValue = gain ? kDefaultGain : 0.0f;
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
        if (inScope != kAudioUnitScope_Global) {
            return kAudioUnitErr_InvalidScope;
        }
        outDataSize = sizeof(UInt32);
        outWritable = true;
        return noErr;
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
}
