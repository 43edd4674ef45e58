// A small effect unit for the tests of the component entry: one gain-and-
// offset kernel per channel, two global parameters, two private properties
// (one that raises whatever a test asks for, one that stores eight bytes),
// and a log of what happened to it that the tests read back. It is built
// into the TestUnit.component bundle and also linked straight into the
// entry tests.
#pragma once

#include <AudioUnit/AudioUnit.h>
#include <CoreServices/CoreServices.h>
#include <MacTypes.h>

namespace testunit {

// Global parameters: output = input * gain + offset.
constexpr AudioUnitParameterID kParamGain = 0;
constexpr AudioUnitParameterID kParamOffset = 1;
constexpr AudioUnitParameterValue kDefaultGain = 1.0f;

// The unit's own version.
constexpr OSStatus kVersion = 0x00020103;

// Private properties, Global scope, any element.
// Raise: 4 bytes, writable. Setting kind k raises error kind k (0 raises
// nothing); reading element k (1 and up) raises kind k, element 0 reads the
// last kind set.
constexpr AudioUnitPropertyID kRaiseProperty = 0x7E570001;
// Echo: 8 bytes, writable; reads back what was set last. Every set reaching
// the unit is counted.
constexpr AudioUnitPropertyID kEchoProperty = 0x7E570002;

// What the raise property raises: one of each kind the entry tells apart.
enum RaiseKind : UInt32 {
    kRaiseNothing = 0,
    kRaiseCAXException = 1, // CAXException with kRaisedStatus
    kRaiseBadAlloc = 2,     // std::bad_alloc
    kRaiseSInt16 = 3,       // a bare 16-bit integer kRaisedSInt16
    kRaiseStdException = 4, // std::runtime_error
    kRaiseZero = 5,         // a bare 32-bit 0
    kRaiseKindCount = 6,
};
constexpr OSStatus kRaisedStatus = -12345;
constexpr SInt16 kRaisedSInt16 = -345;

// The status each raise kind must answer.
constexpr OSStatus ExpectedStatus(UInt32 kind) {
    constexpr OSStatus statuses[] = {0, kRaisedStatus, -108, kRaisedSInt16, -1, 0};
    return statuses[kind];
}

// Where an open may be made to fail.
enum OpenFailurePoint : UInt32 {
    kFailNowhere = 0,
    kFailInConstructor = 1,
    kFailInPostConstructor = 2,
};

// The sequence of life-cycle events, so tests can check their order.
enum LifeEvent : UInt32 {
    kEventConstructed = 1,
    kEventPostConstructed = 2,
    kEventPreDestructor = 3,
    kEventDestructed = 4,
};

constexpr int kMaxEvents = 64;

struct Log {
    int live;        // units constructed and not yet destroyed
    int constructed; // constructors that completed
    int destructed;
    int eventCount;
    LifeEvent events[kMaxEvents];

    void* lastUnit;                        // the last unit constructed (its AUBase part)
    AudioComponentInstance lastInstance;   // and the handle it was opened with
    UInt32 instanceTypeAtConstruction;     // ComponentBase instance type it got
    int openLockHeldDuringConstruction;    // 1 when another thread could not take the lock
    int openLockHeldDuringPostConstructor; // likewise
    int nestedOpenStatus;                  // status of an open made from a constructor

    int setPropertyCalls; // private-property sets that reached the unit
    int resetCalls;
    Float64 renderTimeAtReset; // the unit's render time when its Reset began
    int kernelCalls;           // kernel Process calls on channel 0
};

// Exported by the unit's binary.
using GetLogFn = Log* (*)();
using ResetLogFn = void (*)();

} // namespace testunit

extern "C" {
testunit::Log* VXTestUnitGetLog();
void VXTestUnitResetLog();
// Makes the next opens fail at a point with a raise kind (kFailNowhere stops it).
void VXTestUnitSetOpenFailure(UInt32 point, UInt32 kind);
// When set, the next construction opens this component once more from
// inside its constructor (on the same thread) and closes it again.
void VXTestUnitSetNestedOpen(AudioComponent component);
}
