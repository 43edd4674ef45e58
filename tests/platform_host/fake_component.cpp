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
    OSStatus removePropertyListener(AudioUnitPropertyID id, AudioUnitPropertyListenerProc proc,
                                    void* ref, bool refMatters) {
        std::erase_if(listeners, [&](const Listener& l) {
            return l.id == id && l.proc == proc && (!refMatters || l.ref == ref);
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

// ---- the Audio Component factory path

struct PlugIn {
    AudioComponentPlugInInterface iface;
    FakeUnit* unit;
    AudioComponentInstance instance;
};

PlugIn* plugInOf(void* self) {
    return static_cast<PlugIn*>(self);
}

template <SInt16 Sel, auto Member, typename... Args> OSStatus method(void* self, Args... args) {
    PlugIn* p = plugInOf(self);
    record(fake::Path::Factory, Sel, self, p->instance, 0, args...);
    return (p->unit->*Member)(args...);
}

OSStatus removeListenerNoRef(void* self, AudioUnitPropertyID id,
                             AudioUnitPropertyListenerProc proc) {
    PlugIn* p = plugInOf(self);
    record(fake::Path::Factory, kAudioUnitRemovePropertyListenerSelect, self, p->instance, 0, id,
           proc);
    return p->unit->removePropertyListener(id, proc, nullptr, false);
}

OSStatus removeListenerWithRef(void* self, AudioUnitPropertyID id,
                               AudioUnitPropertyListenerProc proc, void* ref) {
    PlugIn* p = plugInOf(self);
    record(fake::Path::Factory, kAudioUnitRemovePropertyListenerWithUserDataSelect, self,
           p->instance, 0, id, proc, ref);
    return p->unit->removePropertyListener(id, proc, ref, true);
}

AudioComponentMethod lookup(SInt16 selector) {
    if (gLog.lookups < fake::kMaxCalls)
        gLog.lookedUp[gLog.lookups++] = selector;
    using U = FakeUnit;
    void* m = nullptr;
    switch (selector) {
    case kAudioUnitInitializeSelect:
        m = reinterpret_cast<void*>(&method<kAudioUnitInitializeSelect, &U::initialize>);
        break;
    case kAudioUnitUninitializeSelect:
        m = reinterpret_cast<void*>(&method<kAudioUnitUninitializeSelect, &U::uninitialize>);
        break;
    case kAudioUnitGetPropertyInfoSelect:
        m = reinterpret_cast<void*>(
            &method<kAudioUnitGetPropertyInfoSelect, &U::getPropertyInfo, AudioUnitPropertyID,
                    AudioUnitScope, AudioUnitElement, UInt32*, Boolean*>);
        break;
    case kAudioUnitGetPropertySelect:
        m = reinterpret_cast<void*>(
            &method<kAudioUnitGetPropertySelect, &U::getProperty, AudioUnitPropertyID,
                    AudioUnitScope, AudioUnitElement, void*, UInt32*>);
        break;
    case kAudioUnitSetPropertySelect:
        m = reinterpret_cast<void*>(
            &method<kAudioUnitSetPropertySelect, &U::setProperty, AudioUnitPropertyID,
                    AudioUnitScope, AudioUnitElement, const void*, UInt32>);
        break;
    case kAudioUnitGetParameterSelect:
        m = reinterpret_cast<void*>(
            &method<kAudioUnitGetParameterSelect, &U::getParameter, AudioUnitParameterID,
                    AudioUnitScope, AudioUnitElement, AudioUnitParameterValue*>);
        break;
    case kAudioUnitSetParameterSelect:
        m = reinterpret_cast<void*>(
            &method<kAudioUnitSetParameterSelect, &U::setParameter, AudioUnitParameterID,
                    AudioUnitScope, AudioUnitElement, AudioUnitParameterValue, UInt32>);
        break;
    case kAudioUnitResetSelect:
        m = reinterpret_cast<void*>(
            &method<kAudioUnitResetSelect, &U::reset, AudioUnitScope, AudioUnitElement>);
        break;
    case kAudioUnitAddPropertyListenerSelect:
        m = reinterpret_cast<void*>(
            &method<kAudioUnitAddPropertyListenerSelect, &U::addPropertyListener,
                    AudioUnitPropertyID, AudioUnitPropertyListenerProc, void*>);
        break;
    case kAudioUnitRemovePropertyListenerSelect:
        m = reinterpret_cast<void*>(&removeListenerNoRef);
        break;
    case kAudioUnitRemovePropertyListenerWithUserDataSelect:
        m = reinterpret_cast<void*>(&removeListenerWithRef);
        break;
    case kAudioUnitRenderSelect:
        m = reinterpret_cast<void*>(
            &method<kAudioUnitRenderSelect, &U::render, AudioUnitRenderActionFlags*,
                    const AudioTimeStamp*, UInt32, UInt32, AudioBufferList*>);
        break;
    case kAudioUnitAddRenderNotifySelect:
        m = reinterpret_cast<void*>(
            &method<kAudioUnitAddRenderNotifySelect, &U::addRenderNotify, AURenderCallback, void*>);
        break;
    case kAudioUnitRemoveRenderNotifySelect:
        m = reinterpret_cast<void*>(&method<kAudioUnitRemoveRenderNotifySelect,
                                            &U::removeRenderNotify, AURenderCallback, void*>);
        break;
    case kAudioUnitScheduleParametersSelect:
        m = reinterpret_cast<void*>(
            &method<kAudioUnitScheduleParametersSelect, &U::scheduleParameters,
                    const AudioUnitParameterEvent*, UInt32>);
        break;
    default:
        break; // processing, MIDI and output selectors are not served
    }
    return reinterpret_cast<AudioComponentMethod>(m);
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

template <typename T> T arg(const ComponentParameters* p, int i) {
    T value;
    std::memcpy(&value, &p->params[i], sizeof value);
    return value;
}

ComponentResult managerCall(FakeUnit* u, const ComponentParameters* p) {
    switch (p->what) {
    case kAudioUnitInitializeSelect:
        return u->initialize();
    case kAudioUnitUninitializeSelect:
        return u->uninitialize();
    case kAudioUnitGetPropertyInfoSelect:
        return u->getPropertyInfo(arg<UInt32>(p, 1), arg<UInt32>(p, 2), arg<UInt32>(p, 3),
                                  arg<UInt32*>(p, 4), arg<Boolean*>(p, 5));
    case kAudioUnitGetPropertySelect:
        return u->getProperty(arg<UInt32>(p, 1), arg<UInt32>(p, 2), arg<UInt32>(p, 3),
                              arg<void*>(p, 4), arg<UInt32*>(p, 5));
    case kAudioUnitSetPropertySelect:
        return u->setProperty(arg<UInt32>(p, 1), arg<UInt32>(p, 2), arg<UInt32>(p, 3),
                              arg<const void*>(p, 4), arg<UInt32>(p, 5));
    case kAudioUnitGetParameterSelect:
        return u->getParameter(arg<UInt32>(p, 1), arg<UInt32>(p, 2), arg<UInt32>(p, 3),
                               arg<Float32*>(p, 4));
    case kAudioUnitSetParameterSelect:
        return u->setParameter(arg<UInt32>(p, 1), arg<UInt32>(p, 2), arg<UInt32>(p, 3),
                               arg<Float32>(p, 4), arg<UInt32>(p, 5));
    case kAudioUnitResetSelect:
        return u->reset(arg<UInt32>(p, 1), arg<UInt32>(p, 2));
    case kAudioUnitAddPropertyListenerSelect:
        return u->addPropertyListener(arg<UInt32>(p, 1), arg<AudioUnitPropertyListenerProc>(p, 2),
                                      arg<void*>(p, 3));
    case kAudioUnitRemovePropertyListenerWithUserDataSelect:
        return u->removePropertyListener(
            arg<UInt32>(p, 1), arg<AudioUnitPropertyListenerProc>(p, 2), arg<void*>(p, 3), true);
    case kAudioUnitRenderSelect:
        return u->render(arg<AudioUnitRenderActionFlags*>(p, 1), arg<const AudioTimeStamp*>(p, 2),
                         arg<UInt32>(p, 3), arg<UInt32>(p, 4), arg<AudioBufferList*>(p, 5));
    case kAudioUnitAddRenderNotifySelect:
        return u->addRenderNotify(arg<AURenderCallback>(p, 1), arg<void*>(p, 2));
    case kAudioUnitRemoveRenderNotifySelect:
        return u->removeRenderNotify(arg<AURenderCallback>(p, 1), arg<void*>(p, 2));
    case kAudioUnitScheduleParametersSelect:
        return u->scheduleParameters(arg<const AudioUnitParameterEvent*>(p, 1), arg<UInt32>(p, 2));
    default:
        return badComponentSelector;
    }
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) fake::Log* FakeGetLog() {
    return &gLog;
}
__attribute__((visibility("default"))) void FakeResetLog() {
    gLog = fake::Log{};
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
