// Calling the test unit's two entries directly, as the platform would: a
// factory record's looked-up methods, and parameter blocks for the
// Component Manager entry.
#pragma once

#include "test_unit.h"

#include <aufw/AUPlugInDispatch.h>

#include <gtest/gtest.h>

#include <cstring>
#include <type_traits>

class VXTestUnit;

extern "C" AudioComponentPlugInInterface* VXTestUnitFactory(const AudioComponentDescription*);
extern "C" OSStatus VXTestUnitEntry(ComponentParameters* params, VXTestUnit* obj);

namespace entrytest {

// A parameter block with room for every request's arguments.
struct Block {
    UInt8 flags = 0;
    UInt8 paramSize = 0;
    SInt16 what = 0;
    UInt32 padding = 0;
    long params[9] = {};

    ComponentParameters* get() { return reinterpret_cast<ComponentParameters*>(this); }
};

template <typename... Args>
Block makeBlock(SInt16 what, AudioComponentInstance instance, Args... args) {
    Block b;
    b.what = what;
    b.paramSize = static_cast<UInt8>(sizeof(long) * sizeof...(Args));
    int i = 0;
    const auto put = [&](auto value) {
        static_assert(std::is_trivially_copyable_v<decltype(value)> &&
                      sizeof value <= sizeof(long));
        std::memcpy(&b.params[i++], &value, sizeof value);
    };
    put(instance);
    (put(args), ...);
    return b;
}

// A Component Manager request to the unit object `unit`.
template <typename... Args> OSStatus cm(void* unit, SInt16 what, Args... args) {
    Block b = makeBlock(what, nullptr, args...);
    return VXTestUnitEntry(b.get(), static_cast<VXTestUnit*>(unit));
}

// A factory-path method call: looks the selector up in the record's table.
template <typename... Args>
OSStatus ac(AudioComponentPlugInInterface* record, SInt16 selector, Args... args) {
    AudioComponentMethod method = record->Lookup(selector);
    EXPECT_NE(method, nullptr) << "no method for selector " << selector;
    using Method = OSStatus (*)(void*, Args...);
    return method ? reinterpret_cast<Method>(method)(record, args...) : badComponentSelector;
}

inline testunit::Log& unitLog() {
    return *VXTestUnitGetLog();
}

// A handle that is no platform instance: the unit cannot find its
// description through it, and nothing is stored for it. The runtime looks at
// the memory a handle points to, so these point to zeroed memory.
inline AudioComponentInstance madeUpInstance(int n) {
    alignas(16) static long handles[16][8] = {};
    return reinterpret_cast<AudioComponentInstance>(handles[n % 16]);
}

// Opens a unit through the Component Manager entry for a made-up handle;
// returns the unit object (null when the open failed, with the status).
inline void* cmOpen(int handle, OSStatus* outStatus = nullptr) {
    const int before = unitLog().constructed;
    Block b = makeBlock(kComponentOpenSelect, madeUpInstance(handle));
    const OSStatus status = VXTestUnitEntry(b.get(), nullptr);
    if (outStatus != nullptr) {
        *outStatus = status;
    }
    return status == 0 && unitLog().constructed != before ? unitLog().lastUnit : nullptr;
}

} // namespace entrytest
