#include <NSVextra/TimerMap.h>

#include <NSVextra/DbgSysOutput.h>

#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace NSVextra {

namespace {

// One live timer as the registry keeps it.
struct TimerMapItem {
    std::string name;
    int id = 0;
    CFRunLoopTimerRef timer = nullptr;
    int interval = 0; // milliseconds
    TimerMap* owner = nullptr;
    // Left zeroed: the callback finds its timer through the registry.
    CFRunLoopTimerContext context{};
};

typedef std::unordered_map<unsigned long long, TimerMapItem> TimerRegistry;

unsigned long long keyOf(CFRunLoopTimerRef timer) {
    return static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(timer));
}

// Sets the owner's busy flag for as long as it changes its timers.
class BusyScope {
public:
    explicit BusyScope(std::atomic<bool>& flag) : m_flag(flag) {
        m_flag.store(true, std::memory_order_release);
    }
    ~BusyScope() { m_flag.store(false, std::memory_order_release); }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    std::atomic<bool>& m_flag;
};

void stopTimer(CFRunLoopTimerRef timer) {
    if (!timer)
        return;
    CFRunLoopTimerInvalidate(timer);
    CFRelease(timer);
}

} // namespace

// Every timer of every owner, keyed by its run-loop timer. Built after the
// log (whose line an early failure would need) and destroyed before it.
__attribute__((init_priority(VX_INIT_PRIORITY_TIMERS))) TimerRegistry tmMap;
std::mutex mxTmMapSync;

namespace {

// Constant-initialised, so it is true before any constructor runs. An owner
// that outlives the registry at process exit (a static owner built before it)
// then finds nothing to stop instead of touching a destroyed map.
bool registryAlive = true;

struct RegistryLifetime {
    ~RegistryLifetime() { registryAlive = false; }
};
// Destroyed just before tmMap, being defined after it with the same priority.
__attribute__((init_priority(VX_INIT_PRIORITY_TIMERS))) RegistryLifetime registryLifetime;

} // namespace

TimerMap::TimerMap(const std::string& name) : m_name(name) {}

TimerMap::~TimerMap() {
    if (!registryAlive)
        return;
    BusyScope busy(m_busy);
    std::vector<CFRunLoopTimerRef> stopped;
    {
        std::lock_guard<std::mutex> lock(mxTmMapSync);
        for (auto it = tmMap.begin(); it != tmMap.end();) {
            if (it->second.owner == this) {
                stopped.push_back(it->second.timer);
                it = tmMap.erase(it);
            } else {
                ++it;
            }
        }
    }
    // Outside the lock: invalidation may wait for the timer's own thread.
    for (CFRunLoopTimerRef timer : stopped)
        stopTimer(timer);
}

bool TimerMap::addTimer(int id, int interval, const std::string& name) {
    TimerMapItem item;
    item.name = name;
    item.id = id;
    item.interval = interval;
    item.owner = this;

    CFRunLoopRef runLoop = CFRunLoopGetCurrent();
    if (!runLoop) {
        DBG_ERROR(0, "failed to get current run loop");
        return false;
    }
    const CFTimeInterval seconds = interval / 1000.0;
    CFRunLoopTimerRef timer =
        CFRunLoopTimerCreate(kCFAllocatorDefault, CFAbsoluteTimeGetCurrent() + seconds, seconds, 0,
                             0, macTimerMapProc, &item.context);
    if (!timer) {
        DBG_ERROR(0, "failed to create timer");
        return false;
    }
    item.timer = timer;

    // Registered before it is scheduled, so that even a timer due at once
    // finds its entry; the loop cannot run it before this thread returns to
    // the loop anyway.
    BusyScope busy(m_busy);
    {
        std::lock_guard<std::mutex> lock(mxTmMapSync);
        tmMap.insert_or_assign(keyOf(timer), std::move(item));
    }
    CFRunLoopAddTimer(runLoop, timer, kCFRunLoopCommonModes);
    return true;
}

void TimerMap::removeTimer(int id) {
    unsigned long long key = 0;
    CFRunLoopTimerRef timer = nullptr;
    {
        std::lock_guard<std::mutex> lock(mxTmMapSync);
        auto it = tmMap.begin();
        for (; it != tmMap.end(); ++it) {
            if (it->second.owner == this && it->second.id == id)
                break;
        }
        if (it == tmMap.end())
            return;
        key = it->first;
        timer = it->second.timer; // null once timer_stop has stopped it
    }
    BusyScope busy(m_busy);
    stopTimer(timer);
    std::lock_guard<std::mutex> lock(mxTmMapSync);
    auto it = tmMap.find(key);
    if (it != tmMap.end() && it->second.owner == this && it->second.id == id)
        tmMap.erase(it);
}

bool TimerMap::checkTimer(int id) {
    return getKey(id) != 0;
}

unsigned long long TimerMap::getKey(int id) {
    std::lock_guard<std::mutex> lock(mxTmMapSync);
    for (const auto& [key, item] : tmMap) {
        if (item.owner == this && item.id == id)
            return key;
    }
    return 0;
}

bool TimerMap::timer_stop(unsigned long long key) {
    BusyScope busy(m_busy);
    CFRunLoopTimerRef timer = nullptr;
    {
        std::lock_guard<std::mutex> lock(mxTmMapSync);
        auto it = tmMap.find(key);
        if (it == tmMap.end() || it->second.owner != this || !it->second.timer)
            return true;
        timer = it->second.timer;
        // The stale entry stays, but no longer holds a timer that could be
        // released a second time.
        it->second.timer = nullptr;
    }
    stopTimer(timer);
    return true;
}

void macTimerMapProc(CFRunLoopTimerRef timer, void*) {
    bool found = false;
    TimerMap* owner = nullptr;
    int id = 0;
    int interval = 0;
    {
        std::lock_guard<std::mutex> lock(mxTmMapSync);
        auto it = tmMap.find(keyOf(timer));
        if (it != tmMap.end()) {
            found = true;
            owner = it->second.owner;
            id = it->second.id;
            interval = it->second.interval;
        }
    }
    if (!found) {
        DBG_ERROR(0, "could not find timer object for the given id");
        return;
    }
    // A negative interval is as meaningless as 0: the timer fired once, at
    // once, and no owner asked for that.
    if (interval <= 0 || !owner) {
        DBG_ERROR(0, "wrong timer properties");
        return;
    }
    if (owner->m_busy.load(std::memory_order_acquire))
        return;
    // No lock held: timerProc may add and remove timers itself.
    owner->timerProc(id);
}

} // namespace NSVextra
