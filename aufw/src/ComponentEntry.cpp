// The open lock, the turning of raised errors into statuses, the property,
// render and fast-dispatch rules both entry paths share, and the Component
// Manager dispatch of every request but open.
#include <aufw/ComponentEntry.h>

#include <AudioUnit/AudioUnitProperties.h>
#include <CoreFoundation/CoreFoundation.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>

namespace {
pthread_mutex_t sComponentOpenMutex;
pthread_once_t sOnce = PTHREAD_ONCE_INIT;

// Creates the mutex with the recursive type; run once per process.
void InitComponentInitLocker() {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&sComponentOpenMutex, &attr);
    pthread_mutexattr_destroy(&attr);
}
} // namespace

pthread_mutex_t& detail::ComponentOpenMutex() {
    pthread_once(&sOnce, InitComponentInitLocker);
    return sComponentOpenMutex;
}

ComponentInitLocker::ComponentInitLocker() {
    pthread_mutex_lock(&detail::ComponentOpenMutex());
}

ComponentInitLocker::~ComponentInitLocker() {
    pthread_mutex_unlock(&sComponentOpenMutex);
}

OSStatus ComponentEntryStatusForCurrentException() noexcept {
    try {
        throw;
    } catch (const CAXException& e) {
        return e.GetOSStatus();
    } catch (const std::bad_alloc&) {
        return memFullErr;
    } catch (SInt32 err) {
        return err;
    } catch (SInt16 err) {
        return err;
    } catch (...) {
        return -1;
    }
}

namespace {

// Values that property reads hand out retained for the caller, by property
// and byte offset of the reference within the value.
struct HandedOutObject {
    AudioUnitPropertyID property;
    size_t offset;
};
constexpr HandedOutObject kHandedOutObjects[] = {
    {kAudioUnitProperty_ClassInfo, 0},
    {kAudioUnitProperty_ParameterValueStrings, 0},
    {kAudioUnitProperty_FactoryPresets, 0},
    {kAudioUnitProperty_ContextName, 0},
    {kAudioUnitProperty_ElementName, 0},
    {kAudioUnitProperty_ParameterIDName, offsetof(AudioUnitParameterNameInfo, outName)},
    {kAudioUnitProperty_ParameterClumpName, offsetof(AudioUnitParameterNameInfo, outName)},
    {kAudioUnitProperty_PresentPreset, offsetof(AUPreset, presetName)},
    {kAudioUnitProperty_IconLocation, 0},
};

void ReleaseReferenceAt(const unsigned char* value, size_t offset) {
    CFTypeRef object = nullptr;
    std::memcpy(&object, value + offset, sizeof object);
    if (object != nullptr) {
        CFRelease(object);
    }
}

// After a read into a short buffer: the caller got only part of any
// reference the value holds (or, for parameter information, not the flags
// that tell it owns the name), so it cannot release it; release it here.
void ReleaseUndelivered(AudioUnitPropertyID inID, const unsigned char* value, UInt32 valueSize,
                        UInt32 deliveredSize) {
    for (const HandedOutObject& entry : kHandedOutObjects) {
        if (entry.property == inID && valueSize >= entry.offset + sizeof(void*) &&
            deliveredSize < entry.offset + sizeof(void*)) {
            ReleaseReferenceAt(value, entry.offset);
        }
    }
    if (inID == kAudioUnitProperty_ParameterInfo && valueSize >= sizeof(AudioUnitParameterInfo)) {
        AudioUnitParameterInfo info;
        std::memcpy(&info, value, sizeof info);
        if ((info.flags & kAudioUnitParameterFlag_CFNameRelease) != 0 &&
            (info.flags & kAudioUnitParameterFlag_HasCFNameString) != 0) {
            ReleaseReferenceAt(value, offsetof(AudioUnitParameterInfo, cfNameString));
        }
    }
}

// Property values are written through typed pointers; a caller's buffer
// that is not aligned for them is served through an aligned copy.
constexpr uintptr_t kValueAlignment = alignof(Float64);

OSStatus ReadProperty(AUBase* inUnit, AudioUnitPropertyID inID, AudioUnitScope inScope,
                      AudioUnitElement inElement, void* outData, UInt32* ioDataSize) {
    UInt32 actualSize = 0;
    Boolean writable = false;
    if (outData == nullptr) {
        const OSStatus result =
            inUnit->DispatchGetPropertyInfo(inID, inScope, inElement, actualSize, writable);
        *ioDataSize = actualSize;
        return result;
    }
    if (*ioDataSize == 0) {
        return paramErr;
    }
    if (const OSStatus result =
            inUnit->DispatchGetPropertyInfo(inID, inScope, inElement, actualSize, writable);
        result != 0) {
        return result;
    }

    const UInt32 callerSize = *ioDataSize;
    const bool shortBuffer = callerSize < actualSize;
    const bool misaligned = (reinterpret_cast<uintptr_t>(outData) % kValueAlignment) != 0;
    OSStatus result = 0;
    if (!shortBuffer && !misaligned) {
        result = ComponentEntryCall(
            [&] { return inUnit->DispatchGetProperty(inID, inScope, inElement, outData); });
        if (result == 0) {
            *ioDataSize = actualSize;
        }
    } else {
        // Some requests carry input in the buffer (a name request's ID), so
        // the copy starts out as the caller's bytes.
        const UInt32 tempSize = std::max(actualSize, callerSize);
        std::unique_ptr<unsigned char[]> temp(new unsigned char[tempSize]());
        std::memcpy(temp.get(), outData, callerSize);
        result = ComponentEntryCall(
            [&] { return inUnit->DispatchGetProperty(inID, inScope, inElement, temp.get()); });
        if (result == 0) {
            const UInt32 delivered = shortBuffer ? callerSize : actualSize;
            std::memcpy(outData, temp.get(), delivered);
            *ioDataSize = delivered;
            if (shortBuffer) {
                ReleaseUndelivered(inID, temp.get(), actualSize, delivered);
            }
        }
    }
    if (result != 0) {
        *ioDataSize = 0;
    }
    return result;
}

AUBase* UnitFromStorage(void* inComponentStorage) {
    // The Component Manager keeps the unit object itself; its AUBase part
    // starts at that address (checked when it was opened).
    return static_cast<AUBase*>(static_cast<ComponentBase*>(inComponentStorage));
}

} // namespace

OSStatus ComponentEntryGetPropertyInfo(AUBase* inUnit, AudioUnitPropertyID inID,
                                       AudioUnitScope inScope, AudioUnitElement inElement,
                                       UInt32* outDataSize, Boolean* outWritable) {
    return ComponentEntryCall([&] {
        UInt32 size = 0;
        Boolean writable = false;
        const OSStatus result =
            inUnit->DispatchGetPropertyInfo(inID, inScope, inElement, size, writable);
        if (outDataSize != nullptr) {
            *outDataSize = size;
        }
        if (outWritable != nullptr) {
            *outWritable = writable;
        }
        return result;
    });
}

OSStatus ComponentEntryGetProperty(AUBase* inUnit, AudioUnitPropertyID inID, AudioUnitScope inScope,
                                   AudioUnitElement inElement, void* outData, UInt32* ioDataSize) {
    if (ioDataSize == nullptr) {
        return paramErr;
    }
    return ComponentEntryCall(
        [&] { return ReadProperty(inUnit, inID, inScope, inElement, outData, ioDataSize); });
}

OSStatus ComponentEntrySetProperty(AUBase* inUnit, AudioUnitPropertyID inID, AudioUnitScope inScope,
                                   AudioUnitElement inElement, const void* inData,
                                   UInt32 inDataSize) {
    return ComponentEntryCall([&] {
        if (inData != nullptr && inDataSize != 0) {
            return inUnit->DispatchSetProperty(inID, inScope, inElement, inData, inDataSize);
        }
        if (inData == nullptr && inDataSize == 0) {
            return inUnit->DispatchRemovePropertyValue(inID, inScope, inElement);
        }
        return static_cast<OSStatus>(paramErr);
    });
}

// ---------------------------------------------------------------------------
// Component Manager requests other than open.

namespace {

// Argument slots each request needs; a shorter block is refused rather than
// read past its end.
unsigned ArgumentCount(SInt16 selector) {
    switch (selector) {
    case kAudioUnitGetPropertyInfoSelect:
    case kAudioUnitGetPropertySelect:
    case kAudioUnitSetPropertySelect:
    case kAudioUnitSetParameterSelect:
    case kAudioUnitRenderSelect:
        return 5;
    case kAudioUnitGetParameterSelect:
        return 4;
    case kAudioUnitAddPropertyListenerSelect:
    case kAudioUnitRemovePropertyListenerWithUserDataSelect:
        return 3;
    case kAudioUnitResetSelect:
    case kAudioUnitAddRenderNotifySelect:
    case kAudioUnitRemoveRenderNotifySelect:
    case kAudioUnitScheduleParametersSelect:
        return 2;
    case kComponentCanDoSelect:
        return 1;
    default:
        return 0;
    }
}

OSStatus CanDo(ComponentParameters* params, AUBase* This) {
    switch (ComponentBase::GetSelectorForCanDo(params)) {
    case kAudioUnitInitializeSelect:
    case kAudioUnitUninitializeSelect:
    case kAudioUnitGetPropertyInfoSelect:
    case kAudioUnitGetPropertySelect:
    case kAudioUnitSetPropertySelect:
    case kAudioUnitGetParameterSelect:
    case kAudioUnitSetParameterSelect:
    case kAudioUnitResetSelect:
    case kAudioUnitAddPropertyListenerSelect:
        return 1;
    case kAudioUnitRenderSelect:
    case kAudioUnitAddRenderNotifySelect:
    case kAudioUnitRemoveRenderNotifySelect:
    case kAudioUnitScheduleParametersSelect:
    case kAudioUnitRemovePropertyListenerWithUserDataSelect:
        return This->AudioUnitAPIVersion() > 1 ? 1 : 0;
    default:
        return ComponentBase::ComponentEntryDispatch(params, This);
    }
}

OSStatus DispatchRequest(ComponentParameters* params, AUBase* This) {
    switch (params->what) {
    case kComponentCanDoSelect:
        return CanDo(params, This);

    case kAudioUnitInitializeSelect:
        return This->DoInitialize();

    case kAudioUnitUninitializeSelect:
        This->DoCleanup();
        return noErr;

    case kAudioUnitGetPropertyInfoSelect:
        return ComponentEntryGetPropertyInfo(
            This, ComponentEntryArg<AudioUnitPropertyID>(params, 1),
            ComponentEntryArg<AudioUnitScope>(params, 2),
            ComponentEntryArg<AudioUnitElement>(params, 3), ComponentEntryArg<UInt32*>(params, 4),
            ComponentEntryArg<Boolean*>(params, 5));

    case kAudioUnitGetPropertySelect:
        return ComponentEntryGetProperty(This, ComponentEntryArg<AudioUnitPropertyID>(params, 1),
                                         ComponentEntryArg<AudioUnitScope>(params, 2),
                                         ComponentEntryArg<AudioUnitElement>(params, 3),
                                         ComponentEntryArg<void*>(params, 4),
                                         ComponentEntryArg<UInt32*>(params, 5));

    case kAudioUnitSetPropertySelect:
        return ComponentEntrySetProperty(This, ComponentEntryArg<AudioUnitPropertyID>(params, 1),
                                         ComponentEntryArg<AudioUnitScope>(params, 2),
                                         ComponentEntryArg<AudioUnitElement>(params, 3),
                                         ComponentEntryArg<const void*>(params, 4),
                                         ComponentEntryArg<UInt32>(params, 5));

    case kAudioUnitGetParameterSelect: {
        auto* value = ComponentEntryArg<AudioUnitParameterValue*>(params, 4);
        if (value == nullptr) {
            return paramErr;
        }
        return This->GetParameter(ComponentEntryArg<AudioUnitParameterID>(params, 1),
                                  ComponentEntryArg<AudioUnitScope>(params, 2),
                                  ComponentEntryArg<AudioUnitElement>(params, 3), *value);
    }

    case kAudioUnitSetParameterSelect:
        return This->SetParameter(ComponentEntryArg<AudioUnitParameterID>(params, 1),
                                  ComponentEntryArg<AudioUnitScope>(params, 2),
                                  ComponentEntryArg<AudioUnitElement>(params, 3),
                                  ComponentEntryArg<AudioUnitParameterValue>(params, 4),
                                  ComponentEntryArg<UInt32>(params, 5));

    case kAudioUnitResetSelect:
        // Only this path starts the next cycle afresh before the unit's own
        // reset runs.
        This->ResetRenderTime();
        return This->Reset(ComponentEntryArg<AudioUnitScope>(params, 1),
                           ComponentEntryArg<AudioUnitElement>(params, 2));

    case kAudioUnitAddPropertyListenerSelect: {
        auto proc = ComponentEntryArg<AudioUnitPropertyListenerProc>(params, 2);
        if (proc == nullptr) {
            return paramErr;
        }
        return This->AddPropertyListener(ComponentEntryArg<AudioUnitPropertyID>(params, 1), proc,
                                         ComponentEntryArg<void*>(params, 3));
    }

    case kAudioUnitRemovePropertyListenerWithUserDataSelect:
        return This->RemovePropertyListener(
            ComponentEntryArg<AudioUnitPropertyID>(params, 1),
            ComponentEntryArg<AudioUnitPropertyListenerProc>(params, 2),
            ComponentEntryArg<void*>(params, 3), true);

    case kAudioUnitRenderSelect:
        return ComponentEntryRender(This, ComponentEntryArg<AudioUnitRenderActionFlags*>(params, 1),
                                    ComponentEntryArg<const AudioTimeStamp*>(params, 2),
                                    ComponentEntryArg<UInt32>(params, 3),
                                    ComponentEntryArg<UInt32>(params, 4),
                                    ComponentEntryArg<AudioBufferList*>(params, 5));

    case kAudioUnitAddRenderNotifySelect:
        return This->SetRenderNotification(ComponentEntryArg<AURenderCallback>(params, 1),
                                           ComponentEntryArg<void*>(params, 2));

    case kAudioUnitRemoveRenderNotifySelect:
        return This->RemoveRenderNotification(ComponentEntryArg<AURenderCallback>(params, 1),
                                              ComponentEntryArg<void*>(params, 2));

    case kAudioUnitScheduleParametersSelect: {
        if (This->AudioUnitAPIVersion() < 2) {
            return badComponentSelector;
        }
        const auto* events = ComponentEntryArg<const AudioUnitParameterEvent*>(params, 1);
        const auto count = ComponentEntryArg<UInt32>(params, 2);
        if (events == nullptr && count != 0) {
            return paramErr;
        }
        return This->ScheduleParameter(events, count);
    }

    default:
        return ComponentBase::ComponentEntryDispatch(params, This);
    }
}

} // namespace

OSStatus AUBase::ComponentEntryDispatch(ComponentParameters* params, AUBase* This) {
    if (params == nullptr || This == nullptr) {
        return paramErr;
    }
    if (!ComponentEntryHasArgs(params, ArgumentCount(params->what))) {
        return paramErr;
    }
    return ComponentEntryCall([&] { return DispatchRequest(params, This); });
}

// ---------------------------------------------------------------------------
// Fast dispatch: the host calls these with the unit object directly.

OSStatus CMgr_AudioUnitBaseGetParameter(void* inComponentStorage, AudioUnitParameterID inID,
                                        AudioUnitScope inScope, AudioUnitElement inElement,
                                        AudioUnitParameterValue* outValue) {
    if (inComponentStorage == nullptr || outValue == nullptr) {
        return paramErr;
    }
    return ComponentEntryCall([&] {
        return UnitFromStorage(inComponentStorage)
            ->GetParameter(inID, inScope, inElement, *outValue);
    });
}

OSStatus CMgr_AudioUnitBaseSetParameter(void* inComponentStorage, AudioUnitParameterID inID,
                                        AudioUnitScope inScope, AudioUnitElement inElement,
                                        AudioUnitParameterValue inValue,
                                        UInt32 inBufferOffsetInFrames) {
    if (inComponentStorage == nullptr) {
        return paramErr;
    }
    return ComponentEntryCall([&] {
        return UnitFromStorage(inComponentStorage)
            ->SetParameter(inID, inScope, inElement, inValue, inBufferOffsetInFrames);
    });
}

OSStatus CMgr_AudioUnitBaseRender(void* inComponentStorage,
                                  AudioUnitRenderActionFlags* ioActionFlags,
                                  const AudioTimeStamp* inTimeStamp, UInt32 inOutputBusNumber,
                                  UInt32 inNumberFrames, AudioBufferList* ioData) {
    // A missing unit is refused too, although a host that got this procedure
    // from a unit always has one.
    if (inComponentStorage == nullptr) {
        return paramErr;
    }
    return ComponentEntryRender(UnitFromStorage(inComponentStorage), ioActionFlags, inTimeStamp,
                                inOutputBusNumber, inNumberFrames, ioData);
}
