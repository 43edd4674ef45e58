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
constexpr AudioUnitParameterValue kDefaultOffset = 0.0f;

// The unit's own version.
constexpr OSStatus kVersion = 0x00020103;

// Private properties, Global scope, any element.
// Raise: 4 bytes, writable. Setting kind k raises error kind k (0 raises
// nothing); reading element k (1 and up) raises kind k, element 0 reads the
// last kind set.
constexpr AudioUnitPropertyID kRaiseProperty = 0x7E570001;
// Echo: 8 bytes, writable; reads back what was set last (initially
// kEchoInitial). Every set reaching the unit is counted.
constexpr AudioUnitPropertyID kEchoProperty = 0x7E570002;
constexpr UInt64 kEchoInitial = 0x0807060504030201ULL;

// What the raise property raises, and the status each kind must come back as.
enum RaiseKind : UInt32 {
    kRaiseNothing = 0,
    kRaiseCAXException = 1, // CAXException with kRaisedCAXStatus
    kRaiseBadAlloc = 2,     // std::bad_alloc
    kRaiseSInt32 = 3,       // a bare 32-bit integer kRaisedSInt32
    kRaiseSInt16 = 4,       // a bare 16-bit integer kRaisedSInt16
    kRaiseStdException = 5, // std::runtime_error
    kRaiseDouble = 6,       // a floating-point number
    kRaiseCAException = 7,  // CAException with kRaisedCAStatus
    kRaiseUInt32 = 8,       // an unsigned 32-bit integer: not a status
    kRaiseZero = 9,         // a bare 32-bit 0
    kRaiseKindCount = 10,
};
constexpr OSStatus kRaisedCAXStatus = -12345;
constexpr OSStatus kRaisedSInt32 = -23456;
constexpr SInt16 kRaisedSInt16 = -345;
constexpr OSStatus kRaisedCAStatus = -4321;

// The status each raise kind must answer.
constexpr OSStatus ExpectedStatus(UInt32 kind) {
    switch (kind) {
    case kRaiseCAXException:
        return kRaisedCAXStatus;
    case kRaiseBadAlloc:
        return -108;
    case kRaiseSInt32:
        return kRaisedSInt32;
    case kRaiseSInt16:
        return kRaisedSInt16;
    case kRaiseCAException:
        return kRaisedCAStatus;
    case kRaiseNothing:
    case kRaiseZero:
        return 0;
    default:
        return -1;
    }
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
constexpr int kMaxSlices = 32;

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

    int kernelCalls;                // kernel Process calls on channel 0
    UInt32 sliceCount;              // frames of each of those calls, in order
    UInt32 sliceFrames[kMaxSlices]; //
    Float32 gainSeen[kMaxSlices];   // the gain each of those calls used
};

// Exported by the unit's binary.
using GetLogFn = Log* (*)();
using ResetLogFn = void (*)();
// Makes the next opens fail at a point with a raise kind (kFailNowhere stops it).
using SetOpenFailureFn = void (*)(UInt32 point, UInt32 kind);

} // namespace testunit

extern "C" {
testunit::Log* VXTestUnitGetLog();
void VXTestUnitResetLog();
void VXTestUnitSetOpenFailure(UInt32 point, UInt32 kind);
// When set, the next construction opens this component once more from
// inside its constructor (on the same thread) and closes it again.
void VXTestUnitSetNestedOpen(AudioComponent component);
}
