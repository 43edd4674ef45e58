// The fake component's call log, shared by the module and the tests, and the
// tests' home with the installed bundles (test_support.cpp).
#pragma once

#include <AudioUnit/AudioUnit.h>

#include <cstring>
#include <string>

namespace fake {

enum class Path : int { Factory = 0, Manager = 1 };

struct Call {
    Path path;
    SInt16 selector;
    void* self;                      // plug-in interface (factory) or instance storage (manager)
    AudioComponentInstance instance; // the handle the component was opened with
    UInt8 paramSize;                 // manager path only
    int argCount;
    long args[8]; // each argument from the start of an 8-byte slot
};

constexpr int kMaxCalls = 256;

struct Log {
    int count;
    Call calls[kMaxCalls];
    int lookups;
    SInt16 lookedUp[kMaxCalls];
    AudioComponentDescription openDescription; // found at open through the framework paths
};

// Parameters read id * 0.5 until set; 999 is no parameter.
constexpr AudioUnitPropertyID kFakeEchoProperty = 64000; // the one property

template <typename T> T at(const long* slots, int i) {
    T value;
    std::memcpy(&value, &slots[i], sizeof value);
    return value;
}

} // namespace fake

namespace hosttest {

constexpr OSType kEffect = 0x61756678, kMusicDevice = 0x61756D75;         // 'aufx', 'aumu'
constexpr OSType kSubtypeOne = 0x46616B31, kSubtypeTwo = 0x46616B32;      // 'Fak1', 'Fak2'
constexpr OSType kSubtypeBroken = 0x42726B6E, kManufacturer = 0x56785473; // 'Brkn', 'VxTs'

// Installed bundles: "Fake" (Fak1, Fak2), "Broken" (no such factory), "Plain" (no entry).
std::string bundle(const char* name = "Fake");
fake::Log* fakeLog(); // null until the runtime loads the fake
void setOpenFailure(OSStatus status);
AudioComponent findFake(OSType subtype);

inline const fake::Call& lastCall(const fake::Log* log = fakeLog()) {
    return log->calls[log->count - 1];
}

void noteProperty(void* ref, AudioUnit, AudioUnitPropertyID id, AudioUnitScope, AudioUnitElement);

// Every call arrives with its arguments intact and the unit's answers come back.
void checkEveryCall(AudioUnit unit, fake::Path path);

} // namespace hosttest
