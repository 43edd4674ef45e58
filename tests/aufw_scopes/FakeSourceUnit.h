// A minimal upstream unit, registered with the host runtime and opened
// through its factory, that renders two channels of a known ramp into its
// own memory. It can offer a fast render procedure, as units opened through
// the Component Manager entry do, or leave the host to AudioUnitRender.
#pragma once

#include <AudioUnit/AudioUnit.h>

class FakeSourceUnit {
public:
    static constexpr UInt32 kMaxFrames = 1024;

    struct State {
        bool offerFastRender = false;
        int renderCalls = 0;
        int fastRenderCalls = 0;
        UInt32 lastBus = 0;
        UInt32 lastFrames = 0;
        Float64 lastSampleTime = -1;
        OSStatus renderAnswer = noErr;
        alignas(16) float samples[2][kMaxFrames] = {};
    };

    explicit FakeSourceUnit(bool offerFastRender);
    ~FakeSourceUnit();
    FakeSourceUnit(const FakeSourceUnit&) = delete;
    FakeSourceUnit& operator=(const FakeSourceUnit&) = delete;

    AudioUnit Unit() const { return mUnit; }
    const State& GetState() const { return *mState; }
    void SetRenderAnswer(OSStatus status) { mState->renderAnswer = status; }

private:
    AudioUnit mUnit = nullptr;
    State* mState = nullptr;
};
