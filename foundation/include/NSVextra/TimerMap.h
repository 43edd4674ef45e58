// Periodic callbacks from the run loop for any object that derives from
// TimerMap: the owner picks small integer ids, the shared registry maps each
// run-loop timer back to its owner and id.
#pragma once

#include <CoreFoundation/CFRunLoop.h>

#include <atomic>
#include <string>

namespace NSVextra {

// Base class for objects that want run-loop timers. Timers fire on the run
// loop of the thread that called addTimer, while that thread runs its loop.
// Destroy an owner on that same thread (or while its loop is not running):
// a firing that is already past the registry lookup on another thread cannot
// be recalled.
class TimerMap {
public:
    explicit TimerMap(const std::string& name);
    // Stops and removes every timer of this owner; other owners keep theirs.
    virtual ~TimerMap();

    TimerMap(const TimerMap&) = delete;
    TimerMap& operator=(const TimerMap&) = delete;

    // Repeating timer on the calling thread's run loop, first firing interval
    // milliseconds from now. Does not check whether id is already in use.
    bool addTimer(int id, int interval, const std::string& name);
    // Stops and unregisters the first timer found for id; no-op without one.
    void removeTimer(int id);
    bool checkTimer(int id);
    // Registry key (the timer handle's address) for id, or 0.
    unsigned long long getKey(int id);
    // Stops and releases the run-loop timer; the registry entry stays until
    // removeTimer or destruction.
    bool timer_stop(unsigned long long key);

    // Called on the run-loop thread each time one of this owner's timers fires.
    virtual void timerProc(int id) = 0;

    const std::string& getName() const { return m_name; }
    bool isBusy() const { return m_busy.load(std::memory_order_acquire); }

private:
    // Set while this owner changes its timers; firings meeting it are dropped.
    std::atomic<bool> m_busy{false};
    std::string m_name;

    friend void macTimerMapProc(CFRunLoopTimerRef timer, void* info);
};

// The one run-loop callback shared by every timer of every owner.
void macTimerMapProc(CFRunLoopTimerRef timer, void* info);

} // namespace NSVextra
