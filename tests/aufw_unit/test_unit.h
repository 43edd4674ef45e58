// A gain-and-offset effect with a private property that raises on request and
// a log the tests read back; bundled as TestUnit.component and linked
// straight into the entry tests.
#pragma once

#include <AudioUnit/AudioUnit.h>
#include <CoreServices/CoreServices.h>
#include <MacTypes.h>

namespace testunit {

constexpr AudioUnitParameterID kParamGain = 0;
constexpr AudioUnitParameterID kParamOffset = 1;
constexpr OSStatus kVersion = 0x00020103;

// Global, 4 bytes: setting kind k raises it, reading element k raises kind k;
// every set reaching the unit is counted.
constexpr AudioUnitPropertyID kRaiseProperty = 0x7E570001;
// Nothing, a CAXException with kRaisedStatus, or a bare 32-bit 0.
enum RaiseKind : UInt32 { kRaiseNothing, kRaiseCAXException, kRaiseZero };
constexpr OSStatus kRaisedStatus = -12345;

enum OpenFailurePoint : UInt32 { kFailNowhere, kFailInConstructor, kFailInPostConstructor };

struct Log {
    int live;        // units constructed and not yet destroyed
    int constructed; // constructors that completed
    char events[8];  // in order: C constructed, P post-constructed, p pre-destructor, D destroyed
    void* lastUnit;  // the last unit constructed (its AUBase part)
    UInt32 instanceTypeAtConstruction;
    int lockHeldInConstructor; // 1 when another thread could not take the open lock
    int lockHeldInPostConstructor;
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
// 1 when a fresh thread cannot take the open lock.
int VXTestUnitOpenLockHeld();
}
