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

template <typename T> long slot(T value) {
    long s = 0;
    std::memcpy(&s, &value, sizeof value);
    return s;
}

template <typename... Args>
void record(fake::Path path, SInt16 selector, void* self, AudioComponentInstance instance,
            UInt8 paramSize, Args... args) {
    if (gLog.count >= fake::kMaxCalls)
        return;
    fake::Call& c = gLog.calls[gLog.count++];
    c = fake::Call{};
    c.path = path;
    c.selector = selector;
    c.self = self;
    c.instance = instance;
    c.paramSize = paramSize;
    c.argCount = static_cast<int>(sizeof...(Args));
    int i = 0;
    ((c.args[i++] = slot(args)), ...);
}

struct Services {
    Handle (*getStorage)(ComponentInstance) = nullptr;
    void (*setStorage)(ComponentInstance, Handle) = nullptr;
    AudioComponent (*getComponent)(AudioComponentInstance) = nullptr;
    OSStatus (*getDescription)(AudioComponent, AudioComponentDescription*) = nullptr;
};

// Found the way a unit finds them: the platform frameworks by path.
Services resolveServices() {
    Services s;
    if (void* cs =
            dlopen("/System/Library/Frameworks/CoreServices.framework/CoreServices", RTLD_LAZY)) {
        s.getStorage =
            reinterpret_cast<decltype(s.getStorage)>(dlsym(cs, "GetComponentInstanceStorage"));
        s.setStorage =
            reinterpret_cast<decltype(s.setStorage)>(dlsym(cs, "SetComponentInstanceStorage"));
    }
    if (void* au = dlopen("/System/Library/Frameworks/AudioUnit.framework/AudioUnit", RTLD_LAZY)) {
        s.getComponent = reinterpret_cast<decltype(s.getComponent)>(
            dlsym(au, "AudioComponentInstanceGetComponent"));
        s.getDescription =
            reinterpret_cast<decltype(s.getDescription)>(dlsym(au, "AudioComponentGetDescription"));
    }
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
    AudioUnit source = nullptr;
    UInt32 sourceBus = 0;
    unsigned char echo[16] = {};

    FakeUnit() {
        listeners.reserve(16);
        notifications.reserve(16);
    }

    void changed(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element) {
        for (const Listener& l : std::vector<Listener>(listeners))
            if (l.id == id)
                l.proc(l.ref, instance, id, scope, element);
    }

    OSStatus initialize() { return 0; }
    OSStatus uninitialize() { return 0; }
    OSStatus getPropertyInfo(AudioUnitPropertyID id, AudioUnitScope, AudioUnitElement, UInt32* size,
                             Boolean* writable) {
        if (id != fake::kFakeEchoProperty)
            return kAudioUnitErr_InvalidProperty;
        if (size)
            *size = sizeof echo;
        if (writable)
            *writable = 1;
        return 0;
    }
    OSStatus getProperty(AudioUnitPropertyID id, AudioUnitScope, AudioUnitElement, void* data,
                         UInt32* size) {
        if (!size)
            return kAudio_ParamError;
        if (id != fake::kFakeEchoProperty)
            return kAudioUnitErr_InvalidProperty;
        if (!data) {
            *size = sizeof echo;
            return 0;
        }
        *size = std::min<UInt32>(*size, sizeof echo);
        std::memcpy(data, echo, *size);
        return 0;
    }
    OSStatus setProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                         const void* data, UInt32 size) {
        if (id == kAudioUnitProperty_MakeConnection) {
            if (!data || size < sizeof(AudioUnitConnection))
                return kAudio_ParamError;
            AudioUnitConnection c;
            std::memcpy(&c, data, sizeof c);
            source = c.sourceAudioUnit;
            sourceBus = c.sourceOutputNumber;
            return 0;
        }
        if (id != fake::kFakeEchoProperty)
            return kAudioUnitErr_InvalidProperty;
        if (!data || size == 0)
            return kAudio_ParamError;
        std::memcpy(echo, data, std::min<UInt32>(size, sizeof echo));
        changed(id, scope, element);
        return 0;
    }
    OSStatus getParameter(AudioUnitParameterID id, AudioUnitScope, AudioUnitElement,
                          AudioUnitParameterValue* value) {
        if (!value)
            return kAudio_ParamError;
        if (id == 999)
            return kAudioUnitErr_InvalidParameter;
        auto it = parameters.find(id);
        *value = it != parameters.end() ? it->second : static_cast<Float32>(id) * 0.5f;
        return 0;
    }
    OSStatus setParameter(AudioUnitParameterID id, AudioUnitScope, AudioUnitElement,
                          AudioUnitParameterValue value, UInt32) {
        if (id == 999)
            return kAudioUnitErr_InvalidParameter;
        parameters[id] = value;
        return 0;
    }
    OSStatus reset(AudioUnitScope, AudioUnitElement) { return 0; }
    OSStatus addPropertyListener(AudioUnitPropertyID id, AudioUnitPropertyListenerProc proc,
                                 void* ref) {
        listeners.push_back({id, proc, ref});
        return 0;
    }
    // The older removal ignores the user data; only the factory path serves it.
    OSStatus removeListener(AudioUnitPropertyID id, AudioUnitPropertyListenerProc proc) {
        std::erase_if(listeners, [&](const Listener& l) { return l.id == id && l.proc == proc; });
        return 0;
    }
    OSStatus removeListenerWithUserData(AudioUnitPropertyID id, AudioUnitPropertyListenerProc proc,
                                        void* ref) {
        std::erase_if(listeners, [&](const Listener& l) {
            return l.id == id && l.proc == proc && l.ref == ref;
        });
        return 0;
    }
    OSStatus render(AudioUnitRenderActionFlags* flags, const AudioTimeStamp* ts, UInt32 bus,
                    UInt32 frames, AudioBufferList* data) {
        if (!ts || !data)
            return kAudio_ParamError;
        AudioUnitRenderActionFlags local = flags ? *flags : 0;
        for (auto& [proc, ref] : notifications) {
            AudioUnitRenderActionFlags pre = local | kAudioUnitRenderAction_PreRender;
            proc(ref, &pre, ts, bus, frames, data);
        }
        if (source) {
            // Input comes from the connected unit, through the host calls.
            if (OSStatus s = AudioUnitRender(source, &local, ts, sourceBus, frames, data); s != 0)
                return s;
        } else {
            for (UInt32 b = 0; b < data->mNumberBuffers; ++b)
                if (data->mBuffers[b].mData)
                    std::memset(data->mBuffers[b].mData, 0, data->mBuffers[b].mDataByteSize);
        }
        for (UInt32 b = 0; b < data->mNumberBuffers; ++b) {
            auto* samples = static_cast<Float32*>(data->mBuffers[b].mData);
            const UInt32 n = data->mBuffers[b].mDataByteSize / sizeof(Float32);
            for (UInt32 i = 0; samples && i < n; ++i)
                samples[i] += fake::kRenderedValue;
        }
        for (auto& [proc, ref] : notifications) {
            AudioUnitRenderActionFlags post = local | kAudioUnitRenderAction_PostRender;
            proc(ref, &post, ts, bus, frames, data);
        }
        return 0;
    }
    OSStatus addRenderNotify(AURenderCallback proc, void* ref) {
        if (!proc)
            return kAudio_ParamError;
        notifications.emplace_back(proc, ref);
        return 0;
    }
    OSStatus removeRenderNotify(AURenderCallback proc, void* ref) {
        std::erase(notifications, std::pair{proc, ref});
        return 0;
    }
    OSStatus scheduleParameters(const AudioUnitParameterEvent* events, UInt32 count) {
        for (UInt32 i = 0; i < count; ++i)
            if (events[i].eventType == kParameterEvent_Immediate)
                parameters[events[i].parameter] = events[i].eventValues.immediate.value;
        return 0;
    }
};

// The calls both paths serve, by selector and unit member.
#define FAKE_UNIT_CALLS(X)                                                                         \
    X(kAudioUnitInitializeSelect, initialize)                                                      \
    X(kAudioUnitUninitializeSelect, uninitialize)                                                  \
    X(kAudioUnitGetPropertyInfoSelect, getPropertyInfo)                                            \
    X(kAudioUnitGetPropertySelect, getProperty)                                                    \
    X(kAudioUnitSetPropertySelect, setProperty)                                                    \
    X(kAudioUnitGetParameterSelect, getParameter)                                                  \
    X(kAudioUnitSetParameterSelect, setParameter)                                                  \
    X(kAudioUnitResetSelect, reset)                                                                \
    X(kAudioUnitAddPropertyListenerSelect, addPropertyListener)                                    \
    X(kAudioUnitRemovePropertyListenerWithUserDataSelect, removeListenerWithUserData)              \
    X(kAudioUnitRenderSelect, render)                                                              \
    X(kAudioUnitAddRenderNotifySelect, addRenderNotify)                                            \
    X(kAudioUnitRemoveRenderNotifySelect, removeRenderNotify)                                      \
    X(kAudioUnitScheduleParametersSelect, scheduleParameters)

// ---- the Audio Component factory path

struct PlugIn {
    AudioComponentPlugInInterface iface;
    FakeUnit* unit;
    AudioComponentInstance instance;
};

PlugIn* plugInOf(void* self) {
    return static_cast<PlugIn*>(self);
}

// A looked-up method: records the call, then hands it to the unit member.
template <SInt16 Sel, auto Member> struct Method;
template <SInt16 Sel, typename... Args, OSStatus (FakeUnit::*Member)(Args...)>
struct Method<Sel, Member> {
    static OSStatus call(void* self, Args... args) {
        PlugIn* p = plugInOf(self);
        record(fake::Path::Factory, Sel, self, p->instance, 0, args...);
        return (p->unit->*Member)(args...);
    }
};

AudioComponentMethod lookup(SInt16 selector) {
    if (gLog.lookups < fake::kMaxCalls)
        gLog.lookedUp[gLog.lookups++] = selector;
#define FAKE_LOOKUP(sel, member)                                                                   \
    case sel:                                                                                      \
        return reinterpret_cast<AudioComponentMethod>(&Method<sel, &FakeUnit::member>::call);
    switch (selector) {
        FAKE_UNIT_CALLS(FAKE_LOOKUP)
        FAKE_LOOKUP(kAudioUnitRemovePropertyListenerSelect, removeListener)
    default:
        return nullptr; // processing, MIDI and output selectors are not served
    }
#undef FAKE_LOOKUP
}

OSStatus plugInClose(void* self) {
    PlugIn* p = plugInOf(self);
    record(fake::Path::Factory, kComponentCloseSelect, self, p->instance, 0);
    delete p->unit;
    std::free(p);
    return 0;
}

OSStatus plugInOpen(void* self, AudioComponentInstance instance) {
    PlugIn* p = plugInOf(self);
    record(fake::Path::Factory, kComponentOpenSelect, self, instance, 0, instance);
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

// ---- the Component Manager path

template <typename T> T arg(const ComponentParameters* p, std::size_t i) {
    T value;
    std::memcpy(&value, &p->params[i], sizeof value);
    return value;
}

// A request through the entry: the arguments follow the instance, one slot each.
template <auto Member> struct Request;
template <typename... Args, OSStatus (FakeUnit::*Member)(Args...)> struct Request<Member> {
    static ComponentResult call(FakeUnit* u, const ComponentParameters* p) {
        return unpack(u, p, std::index_sequence_for<Args...>{});
    }
    template <std::size_t... I>
    static ComponentResult unpack(FakeUnit* u, [[maybe_unused]] const ComponentParameters* p,
                                  std::index_sequence<I...>) {
        return (u->*Member)(arg<Args>(p, I + 1)...);
    }
};

ComponentResult managerCall(FakeUnit* u, const ComponentParameters* p) {
#define FAKE_REQUEST(sel, member)                                                                  \
    case sel:                                                                                      \
        return Request<&FakeUnit::member>::call(u, p);
    switch (p->what) {
        FAKE_UNIT_CALLS(FAKE_REQUEST)
    default:
        return badComponentSelector;
    }
#undef FAKE_REQUEST
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
    if (!p)
        return nullptr;
    p->iface.Open = plugInOpen;
    p->iface.Close = plugInClose;
    p->iface.Lookup = lookup;
    p->iface.reserved = nullptr;
    return &p->iface;
}

__attribute__((visibility("default"))) ComponentResult FakeEntry(ComponentParameters* p,
                                                                 Handle storage) {
    const auto instance = reinterpret_cast<AudioComponentInstance>(p->params[0]);
    const int argCount = p->paramSize / 8;
    if (gLog.count < fake::kMaxCalls) {
        fake::Call& c = gLog.calls[gLog.count++];
        c = fake::Call{};
        c.path = fake::Path::Manager;
        c.selector = p->what;
        c.self = storage;
        c.instance = instance;
        c.paramSize = p->paramSize;
        c.argCount = argCount;
        for (int i = 0; i < argCount && i < 7; ++i)
            c.args[i] = p->params[i + 1];
    }
    switch (p->what) {
    case kComponentOpenSelect: {
        if (gOpenFailure != 0)
            return gOpenFailure;
        const Services s = resolveServices();
        auto* unit = new FakeUnit;
        unit->instance = instance;
        if (s.setStorage)
            s.setStorage(instance, reinterpret_cast<Handle>(unit));
        else
            delete unit; // nowhere to keep it: later requests find no storage
        return 0;
    }
    case kComponentCloseSelect:
        if (!storage)
            return kAudio_ParamError;
        delete reinterpret_cast<FakeUnit*>(storage);
        return 0;
    case kComponentCanDoSelect: {
        const SInt16 asked = arg<SInt16>(p, 1);
        return (asked >= -4 && asked <= -1) || (asked >= 1 && asked <= 7) || asked == 9 ||
                       asked == 10 || (asked >= 14 && asked <= 18)
                   ? 1
                   : 0;
    }
    case kComponentVersionSelect:
        return 0x10000;
    default:
        if (!storage)
            return kAudio_ParamError;
        return managerCall(reinterpret_cast<FakeUnit*>(storage), p);
    }
}

} // extern "C"
