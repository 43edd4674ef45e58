// What the fake component records about each call it receives, shared by the
// fake component module and the tests that drive it through the runtime.
#pragma once

#include <AudioUnit/AudioUnit.h>

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
    // The description the last open found through the framework paths, as a unit does.
    AudioComponentDescription openDescription;
};

// Parameters read id * 0.5 until set; 999 is no parameter.
constexpr AudioUnitPropertyID kFakeEchoProperty = 64000; // the one property

} // namespace fake
