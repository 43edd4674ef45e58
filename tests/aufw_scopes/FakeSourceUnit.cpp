#include "FakeSourceUnit.h"

#include <CoreServices/CoreServices.h>

#include <gtest/gtest.h>

#include <cstring>

namespace {

struct SourceObject {
    AudioComponentPlugInInterface plugIn; // first: the host passes its address
    FakeSourceUnit::State state;
};

bool gNextOffersFastRender = false;
SourceObject* gLastOpened = nullptr;

SourceObject* FromSelf(void* self) {
    return static_cast<SourceObject*>(self);
}

OSStatus Render(void* self, AudioUnitRenderActionFlags*, const AudioTimeStamp* inTimeStamp,
                UInt32 inBus, UInt32 inFrames, AudioBufferList* ioData) {
    FakeSourceUnit::State& s = FromSelf(self)->state;
    ++s.renderCalls;
    s.lastBus = inBus;
    s.lastFrames = inFrames;
    s.lastSampleTime = inTimeStamp->mSampleTime;
    if (s.renderAnswer != noErr) {
        return s.renderAnswer;
    }
    if (inFrames > FakeSourceUnit::kMaxFrames || ioData->mNumberBuffers > 2) {
        return kAudioUnitErr_TooManyFramesToProcess;
    }
    for (UInt32 b = 0; b < ioData->mNumberBuffers; ++b) {
        for (UInt32 i = 0; i < inFrames; ++i) {
            s.samples[b][i] = static_cast<float>(b) + static_cast<float>(i);
        }
        // Null pointers ask the source for its own memory.
        if (ioData->mBuffers[b].mData == nullptr) {
            ioData->mBuffers[b].mData = s.samples[b];
        } else {
            std::memcpy(ioData->mBuffers[b].mData, s.samples[b], inFrames * sizeof(float));
        }
        ioData->mBuffers[b].mDataByteSize = inFrames * sizeof(float);
    }
    return noErr;
}

// Called with the instance storage, which Open set to the object itself.
OSStatus FastRender(void* storage, AudioUnitRenderActionFlags* flags, const AudioTimeStamp* ts,
                    UInt32 inBus, UInt32 inFrames, AudioBufferList* ioData) {
    ++FromSelf(storage)->state.fastRenderCalls;
    return Render(storage, flags, ts, inBus, inFrames, ioData);
}

OSStatus GetProperty(void* self, AudioUnitPropertyID inID, AudioUnitScope inScope,
                     AudioUnitElement inElement, void* outData, UInt32* ioDataSize) {
    if (inID == kAudioUnitProperty_FastDispatch && inScope == kAudioUnitScope_Global &&
        inElement == kAudioUnitRenderSelect && FromSelf(self)->state.offerFastRender &&
        *ioDataSize == sizeof(AudioUnitRenderProc)) {
        *static_cast<AudioUnitRenderProc*>(outData) = &FastRender;
        return noErr;
    }
    return kAudioUnitErr_InvalidProperty;
}

OSStatus Open(void* self, AudioComponentInstance instance) {
    // As a unit opened through its Component Manager entry would, keep the
    // object with the instance for the fast procedure.
    SetComponentInstanceStorage(instance, reinterpret_cast<Handle>(self));
    gLastOpened = FromSelf(self);
    return noErr;
}

OSStatus Close(void* self) {
    delete FromSelf(self);
    return noErr;
}

AudioComponentMethod Lookup(SInt16 selector) {
    if (selector == kAudioUnitGetPropertySelect) {
        return reinterpret_cast<AudioComponentMethod>(&GetProperty);
    }
    return selector == kAudioUnitRenderSelect ? reinterpret_cast<AudioComponentMethod>(&Render)
                                              : nullptr;
}

AudioComponentPlugInInterface* Factory(const AudioComponentDescription*) {
    auto* object = new SourceObject{{&Open, &Close, &Lookup, nullptr}, {}};
    object->state.offerFastRender = gNextOffersFastRender;
    return &object->plugIn;
}

} // namespace

FakeSourceUnit::FakeSourceUnit(bool offerFastRender) {
    static const AudioComponent component = [] {
        AudioComponentDescription desc{kAudioUnitType_Generator, 0x54737263 /* 'Tsrc' */,
                                       0x56787461 /* 'Vxta' */, 0, 0};
        return AudioComponentRegister(&desc, CFSTR("Vextra-Audio: Test Source"), 1, &Factory);
    }();
    gNextOffersFastRender = offerFastRender;
    gLastOpened = nullptr;
    AudioComponentInstance instance = nullptr;
    EXPECT_EQ(AudioComponentInstanceNew(component, &instance), noErr);
    if (instance != nullptr && gLastOpened != nullptr) {
        mUnit = instance;
        mState = &gLastOpened->state;
    }
}

FakeSourceUnit::~FakeSourceUnit() {
    if (mUnit != nullptr) {
        AudioComponentInstanceDispose(mUnit);
    }
}
