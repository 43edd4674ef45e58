// Parameter and event listeners, process-wide like the platform's.
//
// A listener with a run loop gets its notifications from a one-shot timer on
// that run loop; one without gets them at once on the notifying thread.
// Listener procedures are never called with a lock of ours held, so they may
// set parameters, notify, or dispose listeners themselves.

#include "host_runtime.h"

#include <AudioToolbox/AudioUnitUtilities.h>
#include <CoreFoundation/CoreFoundation.h>

#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <vector>


struct AUListenerBase {
    uint64_t id = 0;
    AUEventListenerProc eventProc = nullptr;
    AUParameterListenerProc parameterProc = nullptr;
    void* userData = nullptr;
    CFRunLoopRef runLoop = nullptr;
    CFStringRef mode = nullptr;
    std::atomic<bool> disposed{false};

    struct Registration {
        void* object;
        AudioUnitEvent event;
    };
    struct Pending {
        void* object;
        AudioUnitEvent event;
        UInt64 hostTime;
    };
    std::vector<Registration> registrations;
    std::deque<Pending> queue;
    bool timerArmed = false;
};

namespace {

using ListenerPtr = std::shared_ptr<AUListenerBase>;

struct Listeners {
    std::mutex mutex;
    uint64_t nextId = 1;
    std::map<const AUListenerBase*, ListenerPtr> byHandle;
    std::map<uint64_t, ListenerPtr> byId;
};

Listeners& listeners() {
    static Listeners* l = new Listeners; // outlives every static destructor
    return *l;
}

UInt64 hostTimeNow() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<UInt64>(ts.tv_sec) * 1000000000ULL + static_cast<UInt64>(ts.tv_nsec);
}

bool isParameterEvent(AudioUnitEventType type) {
    return type == kAudioUnitEvent_ParameterValueChange ||
           type == kAudioUnitEvent_BeginParameterChangeGesture ||
           type == kAudioUnitEvent_EndParameterChangeGesture;
}

bool validEventType(AudioUnitEventType type) {
    return isParameterEvent(type) || type == kAudioUnitEvent_PropertyChange;
}

bool registrationMatches(const AudioUnitEvent& reg, const AudioUnitEvent& ev) {
    if (reg.mEventType != ev.mEventType)
        return false;
    if (isParameterEvent(ev.mEventType)) {
        const AudioUnitParameter& r = reg.mArgument.mParameter;
        const AudioUnitParameter& e = ev.mArgument.mParameter;
        if (r.mAudioUnit != e.mAudioUnit)
            return false;
        // A notification about every parameter reaches every registration.
        if (e.mParameterID == kAUParameterListener_AnyParameter)
            return true;
        return r.mScope == e.mScope && r.mElement == e.mElement &&
               (r.mParameterID == e.mParameterID ||
                r.mParameterID == kAUParameterListener_AnyParameter);
    }
    const AudioUnitProperty& r = reg.mArgument.mProperty;
    const AudioUnitProperty& e = ev.mArgument.mProperty;
    return r.mAudioUnit == e.mAudioUnit && r.mPropertyID == e.mPropertyID && r.mScope == e.mScope &&
           r.mElement == e.mElement;
}

bool sameRegistration(const AUListenerBase::Registration& reg, void* object,
                      const AudioUnitEvent& ev) {
    if (reg.object != object || reg.event.mEventType != ev.mEventType)
        return false;
    if (isParameterEvent(ev.mEventType)) {
        const AudioUnitParameter& a = reg.event.mArgument.mParameter;
        const AudioUnitParameter& b = ev.mArgument.mParameter;
        return a.mAudioUnit == b.mAudioUnit && a.mParameterID == b.mParameterID &&
               a.mScope == b.mScope && a.mElement == b.mElement;
    }
    const AudioUnitProperty& a = reg.event.mArgument.mProperty;
    const AudioUnitProperty& b = ev.mArgument.mProperty;
    return a.mAudioUnit == b.mAudioUnit && a.mPropertyID == b.mPropertyID && a.mScope == b.mScope &&
           a.mElement == b.mElement;
}

ListenerPtr findListener(const AUListenerBase* handle) {
    Listeners& l = listeners();
    std::lock_guard lock(l.mutex);
    auto it = l.byHandle.find(handle);
    return it == l.byHandle.end() ? nullptr : it->second;
}

// --- delivery

void callListener(const ListenerPtr& listener, const AUListenerBase::Pending& p) {
    if (listener->disposed.load(std::memory_order_acquire))
        return;
    AudioUnitParameterValue value = 0;
    if (isParameterEvent(p.event.mEventType)) {
        const AudioUnitParameter& param = p.event.mArgument.mParameter;
        if (param.mParameterID != kAUParameterListener_AnyParameter &&
            vxplatform::isRegisteredLiveInstance(param.mAudioUnit) &&
            AudioUnitGetParameter(param.mAudioUnit, param.mParameterID, param.mScope,
                                  param.mElement, &value) != 0)
            value = 0;
    }
    if (listener->eventProc)
        listener->eventProc(listener->userData, p.object, &p.event, p.hostTime, value);
    else if (listener->parameterProc)
        listener->parameterProc(listener->userData, p.object, &p.event.mArgument.mParameter, value);
}

void deliverQueued(CFRunLoopTimerRef, void* info) {
    const auto id = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(info));
    ListenerPtr listener;
    std::deque<AUListenerBase::Pending> batch;
    {
        Listeners& l = listeners();
        std::lock_guard lock(l.mutex);
        auto it = l.byId.find(id);
        if (it == l.byId.end())
            return; // disposed since the timer was armed
        listener = it->second;
        batch.swap(listener->queue);
        listener->timerArmed = false;
    }
    for (const auto& p : batch)
        callListener(listener, p);
}

// Called with the registry lock held.
void enqueueLocked(const ListenerPtr& listener, const AUListenerBase::Pending& p) {
    // A value change already waiting for the same parameter and object says
    // everything a second one would: the value is read on delivery.
    if (p.event.mEventType == kAudioUnitEvent_ParameterValueChange) {
        for (const auto& q : listener->queue)
            if (q.object == p.object && q.event.mEventType == p.event.mEventType &&
                q.event.mArgument.mParameter.mAudioUnit ==
                    p.event.mArgument.mParameter.mAudioUnit &&
                q.event.mArgument.mParameter.mParameterID ==
                    p.event.mArgument.mParameter.mParameterID &&
                q.event.mArgument.mParameter.mScope == p.event.mArgument.mParameter.mScope &&
                q.event.mArgument.mParameter.mElement == p.event.mArgument.mParameter.mElement)
                return;
    }
    listener->queue.push_back(p);
    if (listener->timerArmed)
        return;
    CFRunLoopTimerContext context{};
    context.info = reinterpret_cast<void*>(static_cast<uintptr_t>(listener->id));
    CFRunLoopTimerRef timer = CFRunLoopTimerCreate(kCFAllocatorDefault, CFAbsoluteTimeGetCurrent(),
                                                   0, 0, 0, deliverQueued, &context);
    if (!timer)
        return;
    CFRunLoopAddTimer(listener->runLoop, timer, listener->mode);
    CFRelease(timer); // the run loop keeps it until it fires
    CFRunLoopWakeUp(listener->runLoop);
    listener->timerArmed = true;
}

// Sends one event to every matching registration, or only to those of one
// listener when `only` is given.
void notify(const AUListenerBase* sendingListener, void* sendingObject, const AudioUnitEvent& ev,
            const AUListenerBase* only = nullptr) {
    const UInt64 now = hostTimeNow();
    std::vector<std::pair<ListenerPtr, AUListenerBase::Pending>> direct;
    {
        Listeners& l = listeners();
        std::lock_guard lock(l.mutex);
        for (auto& [handle, listener] : l.byHandle) {
            if (only && handle != only)
                continue;
            // Parameter listeners hear value changes only.
            if (listener->parameterProc && ev.mEventType != kAudioUnitEvent_ParameterValueChange)
                continue;
            for (const auto& reg : listener->registrations) {
                if (handle == sendingListener && reg.object == sendingObject)
                    continue;
                if (!registrationMatches(reg.event, ev))
                    continue;
                AUListenerBase::Pending p{reg.object, ev, now};
                if (listener->runLoop)
                    enqueueLocked(listener, p);
                else
                    direct.emplace_back(listener, p);
            }
        }
    }
    for (const auto& [listener, p] : direct)
        callListener(listener, p);
}

// Property changes reach event listeners through a property listener that
// the runtime installs on the unit, once per listener, unit and property.
void propertyChanged(void* refCon, AudioUnit unit, AudioUnitPropertyID id, AudioUnitScope scope,
                     AudioUnitElement element) {
    const auto listenerId = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(refCon));
    ListenerPtr listener;
    {
        Listeners& l = listeners();
        std::lock_guard lock(l.mutex);
        auto it = l.byId.find(listenerId);
        if (it == l.byId.end())
            return;
        listener = it->second;
    }
    AudioUnitEvent ev{};
    ev.mEventType = kAudioUnitEvent_PropertyChange;
    ev.mArgument.mProperty = {unit, id, scope, element};
    notify(nullptr, nullptr, ev, listener.get());
}

size_t countPropertyRegistrations(const AUListenerBase& listener, AudioUnit unit,
                                  AudioUnitPropertyID id) {
    return static_cast<size_t>(std::count_if(
        listener.registrations.begin(), listener.registrations.end(), [&](const auto& r) {
            return r.event.mEventType == kAudioUnitEvent_PropertyChange &&
                   r.event.mArgument.mProperty.mAudioUnit == unit &&
                   r.event.mArgument.mProperty.mPropertyID == id;
        }));
}

void* cookieOf(const AUListenerBase& listener) {
    return reinterpret_cast<void*>(static_cast<uintptr_t>(listener.id));
}

OSStatus createListener(AUEventListenerProc eventProc, AUParameterListenerProc parameterProc,
                        void* userData, CFRunLoopRef runLoop, CFStringRef mode,
                        AUParameterListenerRef* outListener) {
    if (!outListener || (!eventProc && !parameterProc))
        return paramErr;
    auto listener = std::make_shared<AUListenerBase>();
    listener->eventProc = eventProc;
    listener->parameterProc = parameterProc;
    listener->userData = userData;
    if (runLoop) {
        listener->runLoop = static_cast<CFRunLoopRef>(const_cast<void*>(CFRetain(runLoop)));
        listener->mode = static_cast<CFStringRef>(CFRetain(mode ? mode : kCFRunLoopDefaultMode));
    }
    Listeners& l = listeners();
    std::lock_guard lock(l.mutex);
    listener->id = l.nextId++;
    l.byHandle[listener.get()] = listener;
    l.byId[listener->id] = listener;
    *outListener = listener.get();
    return 0;
}

OSStatus addRegistration(AUParameterListenerRef handle, void* object, const AudioUnitEvent& ev) {
    if (!validEventType(ev.mEventType))
        return paramErr;
    ListenerPtr listener = findListener(handle);
    if (!listener)
        return paramErr;
    bool installPropertyListener = false;
    {
        std::lock_guard lock(listeners().mutex);
        if (listener->parameterProc && ev.mEventType != kAudioUnitEvent_ParameterValueChange)
            return paramErr;
        if (ev.mEventType == kAudioUnitEvent_PropertyChange)
            installPropertyListener =
                countPropertyRegistrations(*listener, ev.mArgument.mProperty.mAudioUnit,
                                           ev.mArgument.mProperty.mPropertyID) == 0;
        listener->registrations.push_back({object, ev});
    }
    if (installPropertyListener) {
        const AudioUnitProperty& p = ev.mArgument.mProperty;
        OSStatus status = AudioUnitAddPropertyListener(p.mAudioUnit, p.mPropertyID, propertyChanged,
                                                       cookieOf(*listener));
        if (status != 0) {
            std::lock_guard lock(listeners().mutex);
            auto& regs = listener->registrations;
            for (auto it = regs.rbegin(); it != regs.rend(); ++it)
                if (sameRegistration(*it, object, ev)) {
                    regs.erase(std::next(it).base());
                    break;
                }
            return status;
        }
    }
    return 0;
}

OSStatus removeRegistration(AUParameterListenerRef handle, void* object, const AudioUnitEvent& ev) {
    ListenerPtr listener = findListener(handle);
    if (!listener)
        return paramErr;
    bool uninstall = false;
    {
        std::lock_guard lock(listeners().mutex);
        auto& regs = listener->registrations;
        auto it = std::find_if(regs.begin(), regs.end(),
                               [&](const auto& r) { return sameRegistration(r, object, ev); });
        if (it == regs.end())
            return paramErr;
        regs.erase(it);
        if (ev.mEventType == kAudioUnitEvent_PropertyChange)
            uninstall = countPropertyRegistrations(*listener, ev.mArgument.mProperty.mAudioUnit,
                                                   ev.mArgument.mProperty.mPropertyID) == 0;
    }
    if (uninstall && vxplatform::isRegisteredLiveInstance(ev.mArgument.mProperty.mAudioUnit))
        AudioUnitRemovePropertyListenerWithUserData(ev.mArgument.mProperty.mAudioUnit,
                                                    ev.mArgument.mProperty.mPropertyID,
                                                    propertyChanged, cookieOf(*listener));
    return 0;
}

AudioUnitEvent parameterEvent(AudioUnitEventType type, const AudioUnitParameter& parameter) {
    AudioUnitEvent ev{};
    ev.mEventType = type;
    ev.mArgument.mParameter = parameter;
    return ev;
}

} // namespace

extern "C" VX_EXPORT OSStatus AUEventListenerCreate(AUEventListenerProc inProc, void* inUserData,
                                                    CFRunLoopRef inRunLoop,
                                                    CFStringRef inRunLoopMode,
                                                    Float32 /*inNotificationInterval*/,
                                                    Float32 /*inValueChangeGranularity*/,
                                                    AUEventListenerRef* outListener) {
    if (!inProc)
        return paramErr;
    return createListener(inProc, nullptr, inUserData, inRunLoop, inRunLoopMode, outListener);
}

extern "C" VX_EXPORT OSStatus AUListenerCreate(AUParameterListenerProc inProc, void* inUserData,
                                               CFRunLoopRef inRunLoop, CFStringRef inRunLoopMode,
                                               Float32 /*inNotificationInterval*/,
                                               AUParameterListenerRef* outListener) {
    if (!inProc)
        return paramErr;
    return createListener(nullptr, inProc, inUserData, inRunLoop, inRunLoopMode, outListener);
}

extern "C" VX_EXPORT OSStatus AUListenerDispose(AUParameterListenerRef inListener) {
    ListenerPtr listener;
    std::vector<AUListenerBase::Registration> registrations;
    {
        Listeners& l = listeners();
        std::lock_guard lock(l.mutex);
        auto it = l.byHandle.find(inListener);
        if (it == l.byHandle.end())
            return paramErr;
        listener = it->second;
        l.byHandle.erase(it);
        l.byId.erase(listener->id);
        listener->disposed.store(true, std::memory_order_release);
        registrations.swap(listener->registrations);
        listener->queue.clear();
    }
    // Each property listener installed on a unit goes once.
    std::vector<std::pair<AudioUnit, AudioUnitPropertyID>> installed;
    for (const auto& r : registrations)
        if (r.event.mEventType == kAudioUnitEvent_PropertyChange) {
            std::pair key{r.event.mArgument.mProperty.mAudioUnit,
                          r.event.mArgument.mProperty.mPropertyID};
            if (std::find(installed.begin(), installed.end(), key) == installed.end())
                installed.push_back(key);
        }
    for (const auto& [unit, id] : installed)
        if (vxplatform::isRegisteredLiveInstance(unit))
            AudioUnitRemovePropertyListenerWithUserData(unit, id, propertyChanged,
                                                        cookieOf(*listener));
    if (listener->runLoop)
        CFRelease(listener->runLoop);
    if (listener->mode)
        CFRelease(listener->mode);
    listener->runLoop = nullptr;
    listener->mode = nullptr;
    return 0;
}

extern "C" VX_EXPORT OSStatus AUListenerAddParameter(AUParameterListenerRef inListener,
                                                     void* inObject,
                                                     const AudioUnitParameter* inParameter) {
    if (!inParameter)
        return paramErr;
    return addRegistration(inListener, inObject,
                           parameterEvent(kAudioUnitEvent_ParameterValueChange, *inParameter));
}

extern "C" VX_EXPORT OSStatus AUListenerRemoveParameter(AUParameterListenerRef inListener,
                                                        void* inObject,
                                                        const AudioUnitParameter* inParameter) {
    if (!inParameter)
        return paramErr;
    return removeRegistration(inListener, inObject,
                              parameterEvent(kAudioUnitEvent_ParameterValueChange, *inParameter));
}

extern "C" VX_EXPORT OSStatus AUEventListenerAddEventType(AUEventListenerRef inListener,
                                                          void* inObject,
                                                          const AudioUnitEvent* inEvent) {
    if (!inEvent)
        return paramErr;
    return addRegistration(inListener, inObject, *inEvent);
}

extern "C" VX_EXPORT OSStatus AUEventListenerRemoveEventType(AUEventListenerRef inListener,
                                                             void* inObject,
                                                             const AudioUnitEvent* inEvent) {
    if (!inEvent)
        return paramErr;
    return removeRegistration(inListener, inObject, *inEvent);
}

extern "C" VX_EXPORT OSStatus AUEventListenerNotify(AUEventListenerRef inSendingListener,
                                                    void* inSendingObject,
                                                    const AudioUnitEvent* inEvent) {
    if (!inEvent || !validEventType(inEvent->mEventType))
        return paramErr;
    notify(inSendingListener, inSendingObject, *inEvent);
    return 0;
}

extern "C" VX_EXPORT OSStatus AUParameterListenerNotify(AUParameterListenerRef inSendingListener,
                                                        void* inSendingObject,
                                                        const AudioUnitParameter* inParameter) {
    if (!inParameter)
        return paramErr;
    notify(inSendingListener, inSendingObject,
           parameterEvent(kAudioUnitEvent_ParameterValueChange, *inParameter));
    return 0;
}

extern "C" VX_EXPORT OSStatus AUParameterSet(AUParameterListenerRef inSendingListener,
                                             void* inSendingObject,
                                             const AudioUnitParameter* inParameter,
                                             AudioUnitParameterValue inValue,
                                             UInt32 inBufferOffsetInFrames) {
    if (!inParameter)
        return paramErr;
    OSStatus status = AudioUnitSetParameter(inParameter->mAudioUnit, inParameter->mParameterID,
                                            inParameter->mScope, inParameter->mElement, inValue,
                                            inBufferOffsetInFrames);
    if (status != 0)
        return status;
    notify(inSendingListener, inSendingObject,
           parameterEvent(kAudioUnitEvent_ParameterValueChange, *inParameter));
    return 0;
}
