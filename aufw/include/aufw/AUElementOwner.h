// What scopes and elements need from the unit that owns them. The unit base
// class implements it; keeping it this small lets scopes and elements live
// (and be tested) without a whole unit behind them.
#pragma once

#include <AudioUnit/AudioUnit.h>

class AUElement;

class AUElementOwner {
public:
    // True once the unit is initialized; new map parameters are then refused
    // unless a caller explicitly allows them.
    // ANY, EITHER, +ANY (engine_api/Threads.h tags): published with a barrier.
    virtual bool IsInitialized() const = 0;
    // True from the start of initialization on: I/O buffers hold memory only
    // from then.
    // CONTROL, EITHER, +PARAM.
    virtual bool HasBegunInitializing() const = 0;
    // The frame count that a buffer allocation of 0 frames stands for.
    // ANY, EITHER, +ANY; changes only while UNINIT.
    virtual UInt32 GetMaxFramesPerSlice() const = 0;
    // Makes the element numbered inElement of scope inScope; the scope takes
    // ownership. Raises kAudioUnitErr_InvalidScope for a scope the unit does
    // not have.
    // OPEN or CONTROL, UNINIT, +PARAM.
    virtual AUElement* CreateElement(AudioUnitScope inScope, AudioUnitElement inElement) = 0;

protected:
    AUElementOwner() = default;
    AUElementOwner(const AUElementOwner&) = default;
    AUElementOwner& operator=(const AUElementOwner&) = default;
    // Units are never deleted through this interface.
    ~AUElementOwner() = default;
};
