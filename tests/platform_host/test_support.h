// The temporary home with the installed test bundles, the fake component's
// call log, and the battery of calls both entries must pass on intact.
#pragma once

#include "fake_component.h"

#include <AudioUnit/AudioUnit.h>

#include <cstring>
#include <string>

namespace hosttest {

// Four-character codes of the test components.
constexpr OSType kEffect = 0x61756678;        // 'aufx'
constexpr OSType kMusicDevice = 0x61756D75;   // 'aumu'
constexpr OSType kSubtypeOne = 0x46616B31;    // 'Fak1'
constexpr OSType kSubtypeTwo = 0x46616B32;    // 'Fak2'
constexpr OSType kSubtypeBroken = 0x42726B6E; // 'Brkn'
constexpr OSType kManufacturer = 0x56785473;  // 'VxTs'

const std::string& home();
// A bundle folder installed in the temporary components folder: "Fake"
// (subtypes Fak1 and Fak2), "Broken" (its factory does not exist) and "Plain"
// (no AudioComponents entry).
std::string bundle(const char* name = "Fake");
// The log of the fake module loaded from the fake bundle (null when not loaded).
fake::Log* fakeLog();
void setOpenFailure(OSStatus status);
AudioComponent findFake(OSType subtype);

inline const fake::Call& lastCall(const fake::Log* log = fakeLog()) {
    return log->calls[log->count - 1];
}

template <typename T> T slotValue(long slot) {
    T value;
    std::memcpy(&value, &slot, sizeof value);
    return value;
}

void noteProperty(void* ref, AudioUnit, AudioUnitPropertyID id, AudioUnitScope, AudioUnitElement);

// Every call arrives with its arguments intact and the unit's answers come
// back; `path` tells how the fake saw the call.
void checkEveryCall(AudioUnit unit, fake::Path path);

} // namespace hosttest
