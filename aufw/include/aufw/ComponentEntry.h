// The component entry: how a host's request reaches a unit object and how
// whatever the unit raises comes back as the request's status.
//
// Two conventions lead here. The Audio Component factory hands the host a
// record of methods (AUPlugInDispatch.h); the older Component Manager entry
// receives every request as a selector with a parameter block and is served
// by ComponentEntryPoint<Class>::Dispatch below. Both construct units one at
// a time under the process-wide open lock and share the property read and
// write rules declared here.
#pragma once

#include <aufw/AUBase.h>
#include <aufw/CAException.h>
#include <aufw/ComponentBase.h>

#include <AudioUnit/AudioUnit.h>
#include <CoreServices/CoreServices.h>
#include <MacTypes.h>

#include <pthread.h>

#include <cstddef>
#include <cstring>
#include <type_traits>

// ---------------------------------------------------------------------------
// The open lock. Every construction of a unit, on either path, runs under it,
// so instances are created one at a time in the process (the engine loading
// of a plug-in never runs twice at once, and the component services resolve
// with a plain flag). It is recursive: a construction that opens another
// instance on the same thread does not deadlock.
class ComponentInitLocker {
public:
    ComponentInitLocker();
    ~ComponentInitLocker();
    ComponentInitLocker(const ComponentInitLocker&) = delete;
    ComponentInitLocker& operator=(const ComponentInitLocker&) = delete;
};

namespace detail {
// The open lock itself, so that tests can see whether it is held; product
// code takes it only through ComponentInitLocker.
pthread_mutex_t& ComponentOpenMutex();
} // namespace detail

// Sets ComponentBase::sNewInstanceType for one construction and puts the
// previous value back however the construction ends.
class ComponentInstanceTypeScope {
public:
    explicit ComponentInstanceTypeScope(ComponentBase::EInstanceType inType) noexcept
        : mSaved(ComponentBase::sNewInstanceType) {
        ComponentBase::sNewInstanceType = inType;
    }
    ~ComponentInstanceTypeScope() { ComponentBase::sNewInstanceType = mSaved; }
    ComponentInstanceTypeScope(const ComponentInstanceTypeScope&) = delete;
    ComponentInstanceTypeScope& operator=(const ComponentInstanceTypeScope&) = delete;

private:
    ComponentBase::EInstanceType mSaved;
};

// ---------------------------------------------------------------------------
// Errors. Only a status may leave an entry. Call this inside a catch (...)
// block: a CAXException gives its status, memory exhaustion -108, a bare
// 32-bit integer its value, a bare 16-bit integer its sign-extended value,
// and anything else -1.
OSStatus ComponentEntryStatusForCurrentException() noexcept;

// Runs a request and returns its status, turning anything raised into one.
template <class Request> OSStatus ComponentEntryCall(Request&& inRequest) noexcept {
    try {
        return inRequest();
    } catch (...) {
        return ComponentEntryStatusForCurrentException();
    }
}

// ---------------------------------------------------------------------------
// Parameter blocks. Slot 0 holds the instance handle; the request's own
// arguments follow, one 8-byte slot each, stored from the start of the slot.

// True when the block carries at least inCount argument slots.
inline bool ComponentEntryHasArgs(const ComponentParameters* params, unsigned inCount) noexcept {
    return params->paramSize >= inCount * sizeof(long);
}

// The value stored at the start of slot inSlot (0 for the instance handle).
template <typename T> T ComponentEntryArg(const ComponentParameters* params, unsigned inSlot) {
    static_assert(std::is_trivially_copyable_v<T> && sizeof(T) <= sizeof(long));
    // The declared slot array has one element; the block is longer.
    T value;
    const auto* slots =
        reinterpret_cast<const unsigned char*>(params) + offsetof(ComponentParameters, params);
    std::memcpy(&value, slots + inSlot * sizeof(long), sizeof(T));
    return value;
}

// ---------------------------------------------------------------------------
// The property rules both paths share.

// Info request: the size and writable flag go to each out-pointer that is
// not null.
OSStatus ComponentEntryGetPropertyInfo(AUBase* inUnit, AudioUnitPropertyID inID,
                                       AudioUnitScope inScope, AudioUnitElement inElement,
                                       UInt32* outDataSize, Boolean* outWritable);

// Read request. Without a data pointer, the property's size is stored in
// *ioDataSize. With one, a size of 0 is refused (-50); a buffer shorter than
// the property receives the first *ioDataSize bytes and keeps its size, a
// buffer at least as long receives the whole value and the property's size.
// A failed read answers a size of 0. An object the caller could not receive
// whole because its buffer was short is released rather than leaked.
OSStatus ComponentEntryGetProperty(AUBase* inUnit, AudioUnitPropertyID inID, AudioUnitScope inScope,
                                   AudioUnitElement inElement, void* outData, UInt32* ioDataSize);

// Write request: data with a size sets the property, no data with size 0
// removes its value, anything else is refused (-50) before the unit sees it.
OSStatus ComponentEntrySetProperty(AUBase* inUnit, AudioUnitPropertyID inID, AudioUnitScope inScope,
                                   AudioUnitElement inElement, const void* inData,
                                   UInt32 inDataSize);

// Render request: the time stamp and buffer list must be there (-50); a
// missing flags word reads as 0. Render thread, initialized unit; the
// pointers are the caller's for the length of the call. Inline: both entries
// and the fast-dispatch procedure serve it on every cycle.
inline OSStatus ComponentEntryRender(AUBase* inUnit, AudioUnitRenderActionFlags* ioActionFlags,
                                     const AudioTimeStamp* inTimeStamp, UInt32 inOutputBusNumber,
                                     UInt32 inNumberFrames, AudioBufferList* ioData) {
    if (inTimeStamp == nullptr || ioData == nullptr) {
        return paramErr;
    }
    return ComponentEntryCall([&] {
        if (ioActionFlags != nullptr) {
            return inUnit->DoRender(*ioActionFlags, *inTimeStamp, inOutputBusNumber, inNumberFrames,
                                    *ioData);
        }
        // The local word only on this path: the common call needs no frame.
        AudioUnitRenderActionFlags localFlags = 0;
        return inUnit->DoRender(localFlags, *inTimeStamp, inOutputBusNumber, inNumberFrames,
                                *ioData);
    });
}

// Whether inObject's AUBase part starts at the object's own address. Both
// entries find the unit from the storage address alone, so a class that puts
// another base in front of it cannot be opened.
template <class Class> bool ComponentEntryUnitAtStart(Class* inObject) noexcept {
    return static_cast<void*>(static_cast<AUBase*>(inObject)) == static_cast<void*>(inObject);
}

// ---------------------------------------------------------------------------
// The Component Manager entry of a unit class. The exported entry function
// passes straight on to Dispatch.
template <class Class> class ComponentEntryPoint {
    static_assert(std::is_base_of_v<AUBase, Class>, "a component entry serves Audio Units");

public:
    // The thread, state and overlap of the request's own call (engine_api/Threads.h tags
    // beside each call in AudioUnit/AUComponent.h); params BORROWED; inStorage null on open.
    static OSStatus Dispatch(ComponentParameters* params, Class* inStorage) {
        if (params == nullptr) {
            return paramErr;
        }
        if (params->what == kComponentOpenSelect) {
            return Open(params);
        }
        return AUBase::ComponentEntryDispatch(params, inStorage);
    }

private:
    static OSStatus Open(ComponentParameters* params) noexcept {
        const auto instance = ComponentEntryArg<AudioComponentInstance>(params, 0);
        Class* object = nullptr;
        bool stored = false;
        OSStatus status = 0;
        try {
            ComponentInitLocker lock;
            ComponentInstanceTypeScope type(ComponentBase::kComponentMgrInstance);
            object = new Class(instance);
            if (!ComponentEntryUnitAtStart(object)) {
                throw CAException(kAudioUnitErr_FailedInitialization);
            }
            object->PostConstructor();
            CMgr_SetComponentInstanceStorage(instance, reinterpret_cast<Handle>(object));
            // Without the platform's storage service no later request could
            // reach the unit, nor could the close.
            if (ComponentBase::sSetComponentInstanceStorageProc == nullptr) {
                throw CAException(kAudioUnitErr_FailedInitialization);
            }
            stored = true;
        } catch (...) {
            status = ComponentEntryStatusForCurrentException();
        }
        if (stored) {
            return 0;
        }
        // A unit that did not finish opening is not kept; the host gets no
        // close request for it. An open without a stored unit never succeeds,
        // even when what was raised reads as 0.
        delete object;
        return status != 0 ? status : static_cast<OSStatus>(kAudioUnitErr_FailedInitialization);
    }
};
