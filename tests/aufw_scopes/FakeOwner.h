// A stand-in for the unit that owns scopes and elements: plain life-cycle
// flags, and a log of every element created and destroyed.
#pragma once

#include <aufw/AUElementOwner.h>
#include <aufw/AUIOElement.h>

#include <string>
#include <utility>
#include <vector>

using ElementLog = std::vector<std::pair<AudioUnitScope, AudioUnitElement>>;

template <typename Base> class Logged : public Base {
public:
    Logged(AUElementOwner* owner, ElementLog& log, AudioUnitScope scope, AudioUnitElement number)
        : Base(owner), mLog(log), mId(scope, number) {}
    ~Logged() override { mLog.push_back(mId); }

private:
    ElementLog& mLog;
    std::pair<AudioUnitScope, AudioUnitElement> mId;
};

class FakeOwner : public AUElementOwner {
public:
    bool IsInitialized() const override { return initialized; }
    bool HasBegunInitializing() const override { return begunInitializing; }
    UInt32 GetMaxFramesPerSlice() const override { return 1156; }

    AUElement* CreateElement(AudioUnitScope scope, AudioUnitElement element) override {
        created.emplace_back(scope, element);
        switch (scope) {
        case kAudioUnitScope_Global:
        case kAudioUnitScope_Group:
            return new Logged<AUElement>(this, destroyed, scope, element);
        case kAudioUnitScope_Input:
            return new Logged<AUInputElement>(this, destroyed, scope, element);
        case kAudioUnitScope_Output:
            return new Logged<AUOutputElement>(this, destroyed, scope, element);
        default:
            throw static_cast<OSStatus>(kAudioUnitErr_InvalidScope);
        }
    }

    bool initialized = false;
    bool begunInitializing = false;
    ElementLog created, destroyed;
};

// The bare status f raised, or 0 when it raised none.
template <typename F> OSStatus RaisedStatus(F&& f) {
    try {
        f();
    } catch (OSStatus status) {
        return status;
    }
    return 0;
}

inline CFStringRef MakeString(const char* text) {
    return CFStringCreateWithCString(nullptr, text, kCFStringEncodingUTF8);
}

// The text of a string value, "<none>" for anything else.
inline std::string ToStd(CFTypeRef value) {
    char buffer[256] = "<none>";
    if (value != nullptr && CFGetTypeID(value) == CFStringGetTypeID()) {
        CFStringGetCString(static_cast<CFStringRef>(value), buffer, sizeof(buffer),
                           kCFStringEncodingUTF8);
    }
    return buffer;
}
