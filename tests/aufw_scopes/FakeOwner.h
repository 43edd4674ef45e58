// A stand-in for the unit that owns scopes and elements: its life-cycle
// flags and slice size are plain fields, and it records every element it
// creates and every element that is destroyed.
#pragma once

#include <aufw/AUElementOwner.h>
#include <aufw/AUIOElement.h>

#include <utility>
#include <vector>

struct ElementLog {
    std::vector<std::pair<AudioUnitScope, AudioUnitElement>> created;
    std::vector<std::pair<AudioUnitScope, AudioUnitElement>> destroyed;
};

// Elements that report their own destruction.
template <typename Base> class Logged : public Base {
public:
    Logged(AUElementOwner* owner, ElementLog& log, AudioUnitScope scope, AudioUnitElement number)
        : Base(owner), mLog(log), mScope(scope), mNumber(number) {}
    ~Logged() override { mLog.destroyed.emplace_back(mScope, mNumber); }

private:
    ElementLog& mLog;
    AudioUnitScope mScope;
    AudioUnitElement mNumber;
};

class FakeOwner : public AUElementOwner {
public:
    bool IsInitialized() const override { return initialized; }
    bool HasBegunInitializing() const override { return begunInitializing; }
    UInt32 GetMaxFramesPerSlice() const override { return maxFramesPerSlice; }

    AUElement* CreateElement(AudioUnitScope scope, AudioUnitElement element) override {
        log.created.emplace_back(scope, element);
        switch (scope) {
        case kAudioUnitScope_Global:
        case kAudioUnitScope_Group:
        case kAudioUnitScope_Part:
            return new Logged<AUElement>(this, log, scope, element);
        case kAudioUnitScope_Input:
            return new Logged<AUInputElement>(this, log, scope, element);
        case kAudioUnitScope_Output:
            return new Logged<AUOutputElement>(this, log, scope, element);
        default:
            throw static_cast<OSStatus>(kAudioUnitErr_InvalidScope);
        }
    }

    bool initialized = false;
    bool begunInitializing = false;
    UInt32 maxFramesPerSlice = 1156;
    ElementLog log;
};

// Runs f and answers the bare status it raised, or 0 when it raised none.
template <typename F> OSStatus RaisedStatus(F&& f) {
    try {
        f();
    } catch (OSStatus status) {
        return status;
    }
    return 0;
}
