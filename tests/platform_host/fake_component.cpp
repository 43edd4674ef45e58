// A tiny component with both entries, written by hand the way the platform's
// calling conventions require, that records every call it receives.
#include "fake_component.h"

#include <CoreServices/CoreServices.h>

#include <dlfcn.h>

#include <algorithm>
#include <map>
#include <tuple>
#include <vector>

namespace {

using fake::at;

fake::Log gLog;
OSStatus gOpenFailure = 0;

// Both entries hand the unit its arguments as 8-byte slots, one each.
void record(fake::Path path, SInt16 selector, void* self, AudioComponentInstance instance,
            UInt8 paramSize, int argCount, const long* slots) {
    if (gLog.count < fake::kMaxCalls)
        gLog.calls[gLog.count++] = {path, selector, self, instance, paramSize, argCount, {}};
    if (slots)
        std::copy_n(slots, std::min(argCount, 7), gLog.calls[gLog.count - 1].args);
}

// The echo property tells its listeners when set. Other calls succeed.
struct FakeUnit {
    AudioComponentInstance instance;
    std::map<UInt32, Float32> parameters;
    std::vector<std::tuple<AudioUnitPropertyID, AudioUnitPropertyListenerProc, void*>> listeners;

    OSStatus serve(SInt16 selector, const long* a) {
        const auto id = at<UInt32>(a, 0);
        const auto proc = at<AudioUnitPropertyListenerProc>(a, 1);
        const bool noParameter = id == 999;
        switch (selector) {
        case kAudioUnitGetPropertyInfoSelect:
            return id == fake::kFakeEchoProperty ? 0 : kAudioUnitErr_InvalidProperty;
        case kAudioUnitSetPropertySelect:
            for (const auto& [property, listener, ref] : decltype(listeners)(listeners))
                if (property == id)
                    listener(ref, instance, id, at<UInt32>(a, 1), at<UInt32>(a, 2));
            return 0;
        case kAudioUnitGetParameterSelect:
            if (!noParameter)
                *at<Float32*>(a, 3) = parameters.contains(id) ? parameters[id] : id * 0.5f;
            return noParameter ? kAudioUnitErr_InvalidParameter : 0;
        case kAudioUnitSetParameterSelect:
            if (!noParameter)
                parameters[id] = at<Float32>(a, 3);
            return noParameter ? kAudioUnitErr_InvalidParameter : 0;
        case kAudioUnitAddPropertyListenerSelect:
            listeners.emplace_back(id, proc, at<void*>(a, 2));
            return 0;
        case kAudioUnitRemovePropertyListenerSelect: // the older removal ignores the user data
        case kAudioUnitRemovePropertyListenerWithUserDataSelect:
            std::erase_if(listeners, [&](const auto& l) {
                return std::get<0>(l) == id && std::get<1>(l) == proc &&
                       (selector == kAudioUnitRemovePropertyListenerSelect ||
                        std::get<2>(l) == at<void*>(a, 2));
            });
            return 0;
        default:
            return 0;
        }
    }
};

// Opens a unit for either entry, finding its description the way a unit does:
// through the platform framework paths. Null when the open is to fail.
FakeUnit* open(AudioComponentInstance instance) {
    if (gOpenFailure != 0)
        return nullptr;
    gLog.openDescription = {};
    auto* unit = new FakeUnit{instance, {}, {}};
    unit->listeners.reserve(16);
    void* au = dlopen("/System/Library/Frameworks/AudioUnit.framework/AudioUnit", RTLD_LAZY);
    auto component = reinterpret_cast<AudioComponent (*)(AudioComponentInstance)>(
        au ? dlsym(au, "AudioComponentInstanceGetComponent") : nullptr);
    auto describe = reinterpret_cast<OSStatus (*)(AudioComponent, AudioComponentDescription*)>(
        au ? dlsym(au, "AudioComponentGetDescription") : nullptr);
    if (component && describe && component(instance))
        describe(component(instance), &gLog.openDescription);
    return unit;
}

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
    delete p;
    return 0;
}

OSStatus plugInOpen(void* self, AudioComponentInstance instance) {
    auto* p = static_cast<PlugIn*>(self);
    const long slot = reinterpret_cast<long>(instance);
    record(fake::Path::Factory, kComponentOpenSelect, self, instance, 0, 1, &slot);
    p->instance = instance;
    if ((p->unit = open(instance)))
        return 0;
    delete p; // a failed open releases the record itself
    return gOpenFailure;
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
    return &(new PlugIn{{plugInOpen, plugInClose, lookup, nullptr}, nullptr, nullptr})->iface;
}

// ---- the Component Manager path: the instance in slot 0, then the arguments;
// the unit is kept in the instance storage, set through the framework path.
__attribute__((visibility("default"))) ComponentResult FakeEntry(ComponentParameters* p,
                                                                 Handle storage) {
    const auto instance = reinterpret_cast<AudioComponentInstance>(p->params[0]);
    record(fake::Path::Manager, p->what, storage, instance, p->paramSize, p->paramSize / 8,
           p->params + 1);
    auto* unit = reinterpret_cast<FakeUnit*>(storage);
    switch (p->what) {
    case kComponentOpenSelect: {
        unit = open(instance);
        void* cs =
            dlopen("/System/Library/Frameworks/CoreServices.framework/CoreServices", RTLD_LAZY);
        auto setStorage = reinterpret_cast<void (*)(ComponentInstance, Handle)>(
            cs ? dlsym(cs, "SetComponentInstanceStorage") : nullptr);
        if (unit && setStorage)
            setStorage(instance, reinterpret_cast<Handle>(unit));
        else
            delete unit; // nowhere to keep it: later requests find no storage
        return unit ? 0 : gOpenFailure;
    }
    case kComponentCloseSelect:
        delete unit;
        return unit ? 0 : kAudio_ParamError;
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
