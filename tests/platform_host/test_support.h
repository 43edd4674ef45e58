// The temporary home with installed test bundles, and helpers to reach the
// fake component's call log.
#pragma once

#include "fake_component.h"

#include <AudioUnit/AudioUnit.h>

#include <string>

namespace hosttest {

// Four-character codes of the test components.
constexpr OSType kEffect = 0x61756678;        // 'aufx'
constexpr OSType kMusicDevice = 0x61756D75;   // 'aumu'
constexpr OSType kSubtypeOne = 0x46616B31;    // 'Fak1'
constexpr OSType kSubtypeTwo = 0x46616B32;    // 'Fak2'
constexpr OSType kSubtypeBroken = 0x42726B6E; // 'Brkn'
constexpr OSType kManufacturer = 0x56785473;  // 'VxTs'

// The folder of the temporary home, made once per test process.
const std::string& home();
std::string componentsFolder();
// A bundle folder installed in the temporary components folder:
// "Fake" (subtypes Fak1 and Fak2), "Broken" (its factory does not exist) and
// "Plain" (no AudioComponents entry).
std::string bundle(const char* name = "Fake");

// The log of the fake module loaded from the fake bundle (null when not loaded).
fake::Log* fakeLog();
void setOpenFailure(OSStatus status);

AudioComponent findFake(OSType subtype);

} // namespace hosttest
