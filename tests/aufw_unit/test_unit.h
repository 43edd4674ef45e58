// A gain-and-offset effect for the entry tests, with two private properties
// and a log the tests read back; bundled as TestUnit.component and linked
// straight into the entry tests.
#pragma once

#include <AudioUnit/AudioUnit.h>
#include <CoreServices/CoreServices.h>
#include <MacTypes.h>

namespace testunit {

constexpr AudioUnitParameterID kParamGain = 0;
constexpr AudioUnitParameterID kParamOffset = 1;
constexpr AudioUnitParameterValue kDefaultGain = 1.0f;
constexpr OSStatus kVersion = 0x00020103;

// Global, 4 bytes: setting kind k raises it, reading element k raises kind k;
// every set reaching the unit is counted.
constexpr AudioUnitPropertyID kRaiseProperty = 0x7E570001;

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
constexpr OSStatus ExpectedStatus(UInt32 kind) {
    constexpr OSStatus statuses[] = {0, kRaisedStatus, -108, kRaisedSInt16, -1, 0};
    return statuses[kind];
}

enum OpenFailurePoint : UInt32 {
    kFailNowhere = 0,
    kFailInConstructor = 1,
    kFailInPostConstructor = 2,
};
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
    UInt32 instanceTypeAtConstruction;     // ComponentBase instance type it got
    int openLockHeldDuringConstruction;    // 1 when another thread could not take the lock
    int openLockHeldDuringPostConstructor; // likewise

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
}
