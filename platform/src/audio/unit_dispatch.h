// Carrying one call to a component, through whichever entry the instance
// was opened with: the looked-up method of the factory's plug-in interface,
// or the Component Manager entry with a parameter block. Nothing here
// allocates or locks, so render calls may go through it.
#pragma once

#include "host_runtime.h"

#include <cstddef>
#include <cstring>
#include <type_traits>

namespace vxplatform {

// A parameter block with room for every Audio Unit call's arguments.
struct EntryParameterBlock {
    UInt8 flags;
    UInt8 paramSize;
    SInt16 what;
    UInt32 padding;
    long params[8];
};
static_assert(offsetof(EntryParameterBlock, what) == offsetof(ComponentParameters, what));
static_assert(offsetof(EntryParameterBlock, paramSize) == offsetof(ComponentParameters, paramSize));
static_assert(offsetof(EntryParameterBlock, params) == offsetof(ComponentParameters, params));

// An argument goes to the start of its 8-byte slot; the rest stays zero.
template <typename T> long slotFor(T value) {
    static_assert(std::is_trivially_copyable_v<T> && sizeof(T) <= sizeof(long));
    long slot = 0;
    std::memcpy(&slot, &value, sizeof value);
    return slot;
}

template <typename... Args> OSStatus callEntry(HostInstance* r, SInt16 what, Args... args) {
    static_assert(sizeof...(Args) < 8);
    EntryParameterBlock block{};
    block.what = what;
    block.paramSize = static_cast<UInt8>(sizeof(long) * sizeof...(Args));
    block.params[0] = slotFor(handleOf(r));
    size_t i = 1;
    ((block.params[i++] = slotFor(args)), ...);
    return r->entry(reinterpret_cast<ComponentParameters*>(&block),
                    r->storage.load(std::memory_order_acquire));
}

template <typename... Args> OSStatus callMethod(HostInstance* r, SInt16 selector, Args... args) {
    AudioComponentPlugInInterface* plugIn = r->plugIn;
    AudioComponentMethod method = plugIn->Lookup ? plugIn->Lookup(selector) : nullptr;
    if (!method)
        return badComponentSelector;
    using Method = OSStatus (*)(void*, Args...);
    return reinterpret_cast<Method>(method)(plugIn, args...);
}

template <typename... Args> OSStatus dispatchCall(HostInstance* r, SInt16 selector, Args... args) {
    return r->plugIn ? callMethod(r, selector, args...) : callEntry(r, selector, args...);
}

} // namespace vxplatform
