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

template <typename T> long slot(T value) {
    static_assert(std::is_trivially_copyable_v<T> && sizeof(T) <= sizeof(long));
    long s = 0;
    std::memcpy(&s, &value, sizeof value);
    return s;
}

template <typename... Args>
Block makeBlock(SInt16 what, AudioComponentInstance instance, Args... args) {
    Block b;
    b.what = what;
    b.paramSize = static_cast<UInt8>(sizeof(long) * sizeof...(Args));
    b.params[0] = slot(instance);
    int i = 1;
    ((b.params[i++] = slot(args)), ...);
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
    if (method == nullptr) {
        ADD_FAILURE() << "no method for selector " << selector;
        return badComponentSelector;
    }
    using Method = OSStatus (*)(void*, Args...);
    return reinterpret_cast<Method>(method)(record, args...);
}

inline testunit::Log& unitLog() {
    return *VXTestUnitGetLog();
}

// Opens a unit through the Component Manager entry for a made-up handle;
// returns the unit object (null when the open failed, with the status).
inline void* cmOpen(AudioComponentInstance instance, OSStatus* outStatus = nullptr) {
    const int before = unitLog().constructed;
    Block b = makeBlock(kComponentOpenSelect, instance);
    const OSStatus status = VXTestUnitEntry(b.get(), nullptr);
    if (outStatus != nullptr) {
        *outStatus = status;
    }
    if (status != 0 || unitLog().constructed == before) {
        return nullptr;
    }
    return unitLog().lastUnit;
}

// A handle that is no platform instance: the unit cannot find its
// description through it, and nothing is stored for it. The runtime looks at
// the memory a handle points to, so these point to zeroed memory.
inline AudioComponentInstance madeUpInstance(int n) {
    alignas(16) static long handles[16][8] = {};
    return reinterpret_cast<AudioComponentInstance>(handles[n % 16]);
}

} // namespace entrytest
