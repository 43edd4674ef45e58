// A tiny component with both entries, written by hand the way the platform's
// calling conventions require, that records every call it receives. The
// tests install it as a bundle and drive it through the host runtime.

#include "fake_component.h"

#include <AudioUnit/AudioUnit.h>
#include <CoreServices/CoreServices.h>

#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

namespace {

fake::Log gLog;
OSStatus gOpenFailure = 0;

// Both entries hand the unit its arguments as 8-byte slots, one each.
template <typename T> T at(const long* slots, int i) {
    T value;
    std::memcpy(&value, &slots[i], sizeof value);
    return value;
}

void record(fake::Path path, SInt16 selector, void* self, AudioComponentInstance instance,
            UInt8 paramSize, int argCount, const long* slots) {
    if (gLog.count >= fake::kMaxCalls)
        return;
    fake::Call& c = gLog.calls[gLog.count++];
    c = {path, selector, self, instance, paramSize, argCount, {}};
    if (slots)
        std::copy_n(slots, std::min(argCount, 7), c.args);
}

template <typename Fn> void find(void* library, const char* name, Fn& fn) {
    fn = library ? reinterpret_cast<Fn>(dlsym(library, name)) : nullptr;
}

struct Services {
    Handle (*getStorage)(ComponentInstance);
    void (*setStorage)(ComponentInstance, Handle);
    AudioComponent (*getComponent)(AudioComponentInstance);
    OSStatus (*getDescription)(AudioComponent, AudioComponentDescription*);
};

// Found the way a unit finds them: the platform frameworks by path.
Services resolveServices() {
    Services s;
    void* cs = dlopen("/System/Library/Frameworks/CoreServices.framework/CoreServices", RTLD_LAZY);
    void* au = dlopen("/System/Library/Frameworks/AudioUnit.framework/AudioUnit", RTLD_LAZY);
    find(cs, "GetComponentInstanceStorage", s.getStorage);
    find(cs, "SetComponentInstanceStorage", s.setStorage);
    find(au, "AudioComponentInstanceGetComponent", s.getComponent);
    find(au, "AudioComponentGetDescription", s.getDescription);
    gLog.servicesResolved = s.getStorage && s.setStorage ? 1 : 0;
    gLog.descriptionResolved = s.getComponent && s.getDescription ? 1 : 0;
    return s;
}

struct FakeUnit {
    AudioComponentInstance instance = nullptr;
    std::map<UInt32, Float32> parameters;
    struct Listener {
        AudioUnitPropertyID id;
        AudioUnitPropertyListenerProc proc;
        void* ref;
    };
    std::vector<Listener> listeners;
    std::vector<std::pair<AURenderCallback, void*>> notifications;
    unsigned char echo[16] = {};

    FakeUnit() {
        listeners.reserve(16);
        notifications.reserve(16);
    }

    void notify(AudioUnitRenderActionFlags flags, const long* a) {
        for (auto& [proc, ref] : notifications)
            proc(ref, &flags, at<const AudioTimeStamp*>(a, 1), at<UInt32>(a, 2), at<UInt32>(a, 3),
                 at<AudioBufferList*>(a, 4));
    }

    // One call of either entry. Parameters read id * 0.5 until set; 999 is
    // no parameter; the echo property reads back what was set.
    OSStatus serve(SInt16 selector, const long* a) {
        const auto id = at<UInt32>(a, 0);
        const bool echoing = id == fake::kFakeEchoProperty;
        switch (selector) {
        case kAudioUnitGetPropertyInfoSelect:
            if (!echoing)
                return kAudioUnitErr_InvalidProperty;
            if (auto* size = at<UInt32*>(a, 3))
                *size = sizeof echo;
            if (auto* writable = at<Boolean*>(a, 4))
                *writable = 1;
            return 0;
        case kAudioUnitGetPropertySelect: {
            auto* size = at<UInt32*>(a, 4);
            auto* data = at<void*>(a, 3);
            if (!size)
                return kAudio_ParamError;
            if (!echoing)
                return kAudioUnitErr_InvalidProperty;
            *size = data ? std::min<UInt32>(*size, sizeof echo) : sizeof echo;
            if (data)
                std::memcpy(data, echo, *size);
            return 0;
        }
        case kAudioUnitSetPropertySelect: {
            const auto* data = at<const void*>(a, 3);
            if (!echoing)
                return kAudioUnitErr_InvalidProperty;
            if (!data || at<UInt32>(a, 4) == 0)
                return kAudio_ParamError;
            std::memcpy(echo, data, std::min<UInt32>(at<UInt32>(a, 4), sizeof echo));
            for (const Listener& l : std::vector<Listener>(listeners))
                if (l.id == id)
                    l.proc(l.ref, instance, id, at<UInt32>(a, 1), at<UInt32>(a, 2));
            return 0;
        }
        case kAudioUnitGetParameterSelect: {
            auto* value = at<Float32*>(a, 3);
            if (!value)
                return kAudio_ParamError;
            if (id == 999)
                return kAudioUnitErr_InvalidParameter;
            auto it = parameters.find(id);
            *value = it != parameters.end() ? it->second : static_cast<Float32>(id) * 0.5f;
            return 0;
        }
        case kAudioUnitSetParameterSelect:
            if (id == 999)
                return kAudioUnitErr_InvalidParameter;
            parameters[id] = at<Float32>(a, 3);
            return 0;
        case kAudioUnitScheduleParametersSelect:
            for (UInt32 i = 0; i < at<UInt32>(a, 1); ++i) {
                const auto& e = at<const AudioUnitParameterEvent*>(a, 0)[i];
                if (e.eventType == kParameterEvent_Immediate)
                    parameters[e.parameter] = e.eventValues.immediate.value;
            }
            return 0;
        case kAudioUnitAddPropertyListenerSelect:
            listeners.push_back({id, at<AudioUnitPropertyListenerProc>(a, 1), at<void*>(a, 2)});
            return 0;
        case kAudioUnitRemovePropertyListenerSelect: // the older removal ignores the user data
        case kAudioUnitRemovePropertyListenerWithUserDataSelect:
            std::erase_if(listeners, [&](const Listener& l) {
                return l.id == id && l.proc == at<AudioUnitPropertyListenerProc>(a, 1) &&
                       (selector == kAudioUnitRemovePropertyListenerSelect ||
                        l.ref == at<void*>(a, 2));
            });
            return 0;
        case kAudioUnitRenderSelect: {
            auto* list = at<AudioBufferList*>(a, 4);
            if (!at<const AudioTimeStamp*>(a, 1) || !list)
                return kAudio_ParamError;
            notify(kAudioUnitRenderAction_PreRender, a);
            for (UInt32 b = 0; b < list->mNumberBuffers; ++b)
                std::fill_n(static_cast<Float32*>(list->mBuffers[b].mData),
                            list->mBuffers[b].mDataByteSize / sizeof(Float32),
                            fake::kRenderedValue);
            notify(kAudioUnitRenderAction_PostRender, a);
            return 0;
        }
        case kAudioUnitAddRenderNotifySelect:
            if (!at<AURenderCallback>(a, 0))
                return kAudio_ParamError;
            notifications.emplace_back(at<AURenderCallback>(a, 0), at<void*>(a, 1));
            return 0;
        case kAudioUnitRemoveRenderNotifySelect:
            std::erase(notifications, std::pair{at<AURenderCallback>(a, 0), at<void*>(a, 1)});
            return 0;
        default: // initialize, uninitialize, reset
            return 0;
        }
    }
};

// ---- the Audio Component factory path

struct PlugIn {
    AudioComponentPlugInInterface iface;
    FakeUnit* unit;
    AudioComponentInstance instance;
};

// A looked-up method with the call's own signature: records the call, then
// hands its arguments to the unit.
template <SInt16 Sel, typename... Args> OSStatus method(void* self, Args... args) {
    auto* p = static_cast<PlugIn*>(self);
    long slots[8] = {};
    int i = 0;
    ((std::memcpy(&slots[i++], &args, sizeof args)), ...);
    record(fake::Path::Factory, Sel, self, p->instance, 0, sizeof...(Args), slots);
    return p->unit->serve(Sel, slots);
}

AudioComponentMethod lookup(SInt16 selector) {
    if (gLog.lookups < fake::kMaxCalls)
        gLog.lookedUp[gLog.lookups++] = selector;
    using U = UInt32;
    using Listener = AudioUnitPropertyListenerProc;
#define FAKE_METHOD(sel, ...)                                                                      \
    case sel:                                                                                      \
        return reinterpret_cast<AudioComponentMethod>(&method<sel, ##__VA_ARGS__>);
    switch (selector) {
        FAKE_METHOD(kAudioUnitInitializeSelect)
        FAKE_METHOD(kAudioUnitUninitializeSelect)
        FAKE_METHOD(kAudioUnitGetPropertyInfoSelect, U, U, U, U*, Boolean*)
        FAKE_METHOD(kAudioUnitGetPropertySelect, U, U, U, void*, U*)
        FAKE_METHOD(kAudioUnitSetPropertySelect, U, U, U, const void*, U)
        FAKE_METHOD(kAudioUnitGetParameterSelect, U, U, U, Float32*)
        FAKE_METHOD(kAudioUnitSetParameterSelect, U, U, U, Float32, U)
        FAKE_METHOD(kAudioUnitResetSelect, U, U)
        FAKE_METHOD(kAudioUnitAddPropertyListenerSelect, U, Listener, void*)
        FAKE_METHOD(kAudioUnitRemovePropertyListenerSelect, U, Listener)
        FAKE_METHOD(kAudioUnitRemovePropertyListenerWithUserDataSelect, U, Listener, void*)
        FAKE_METHOD(kAudioUnitRenderSelect, AudioUnitRenderActionFlags*, const AudioTimeStamp*, U,
                    U, AudioBufferList*)
        FAKE_METHOD(kAudioUnitAddRenderNotifySelect, AURenderCallback, void*)
        FAKE_METHOD(kAudioUnitRemoveRenderNotifySelect, AURenderCallback, void*)
        FAKE_METHOD(kAudioUnitScheduleParametersSelect, const AudioUnitParameterEvent*, U)
    default:
        return nullptr; // processing, MIDI and output selectors are not served
    }
#undef FAKE_METHOD
}

OSStatus plugInClose(void* self) {
    auto* p = static_cast<PlugIn*>(self);
    record(fake::Path::Factory, kComponentCloseSelect, self, p->instance, 0, 0, nullptr);
    delete p->unit;
    std::free(p);
    return 0;
}

OSStatus plugInOpen(void* self, AudioComponentInstance instance) {
    auto* p = static_cast<PlugIn*>(self);
    const long slot = reinterpret_cast<long>(instance);
    record(fake::Path::Factory, kComponentOpenSelect, self, instance, 0, 1, &slot);
    if (gOpenFailure != 0) {
        std::free(p); // a failed open releases the record itself
        return gOpenFailure;
    }
    const Services s = resolveServices();
    gLog.openDescription = AudioComponentDescription{};
    if (s.getComponent && s.getDescription)
        if (AudioComponent c = s.getComponent(instance))
            s.getDescription(c, &gLog.openDescription);
    p->instance = instance;
    p->unit = new FakeUnit;
    p->unit->instance = instance;
    return 0;
}

// What the Component Manager entry serves (the older listener removal is not).
bool canDo(SInt16 s) {
    return (s >= -4 && s <= -1) || (s >= 1 && s <= 7) || s == 9 || s == 10 || (s >= 14 && s <= 18);
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) fake::Log* FakeGetLog() {
    return &gLog;
}
__attribute__((visibility("default"))) void FakeSetOpenFailure(OSStatus status) {
    gOpenFailure = status;
}

__attribute__((visibility("default"))) AudioComponentPlugInInterface*
FakeFactory(const AudioComponentDescription*) {
    auto* p = static_cast<PlugIn*>(std::calloc(1, sizeof(PlugIn)));
    if (p)
        p->iface = {plugInOpen, plugInClose, lookup, nullptr};
    return p ? &p->iface : nullptr;
}

// ---- the Component Manager path: the instance in slot 0, then the arguments.
__attribute__((visibility("default"))) ComponentResult FakeEntry(ComponentParameters* p,
                                                                 Handle storage) {
    const auto instance = reinterpret_cast<AudioComponentInstance>(p->params[0]);
    record(fake::Path::Manager, p->what, storage, instance, p->paramSize, p->paramSize / 8,
           p->params + 1);
    auto* unit = reinterpret_cast<FakeUnit*>(storage);
    switch (p->what) {
    case kComponentOpenSelect: {
        if (gOpenFailure != 0)
            return gOpenFailure;
        const Services s = resolveServices();
        unit = new FakeUnit;
        unit->instance = instance;
        if (s.setStorage)
            s.setStorage(instance, reinterpret_cast<Handle>(unit));
        else
            delete unit; // nowhere to keep it: later requests find no storage
        return 0;
    }
    case kComponentCloseSelect:
        if (!unit)
            return kAudio_ParamError;
        delete unit;
        return 0;
    case kComponentCanDoSelect:
        return canDo(at<SInt16>(p->params, 1)) ? 1 : 0;
    case kComponentVersionSelect:
        return 0x10000;
    default:
        if (!canDo(p->what))
            return badComponentSelector;
        return unit ? unit->serve(p->what, p->params + 1) : kAudio_ParamError;
    }
}

} // extern "C"
