// Run loops and their timers. Every thread gets its loop on first use; a
// timer fires only on the thread that runs the loop it was added to, and only
// while that thread is inside CFRunLoopRunInMode. All loop and timer state is
// guarded by one mutex; callouts run with it released.
#include "cf/cf_string.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <set>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

#include <fmt/format.h>

using namespace vxplatform;

namespace {

std::mutex& stateMutex() {
    static auto* mutex = new std::mutex;
    return *mutex;
}

class RunLoop;

class Timer final : public Object {
public:
    Timer(CFAbsoluteTime fireDate, CFTimeInterval interval, CFIndex order,
          CFRunLoopTimerCallBack callout, const CFRunLoopTimerContext* context)
        : Object(kTypeRunLoopTimer), nextFire(fireDate), interval(interval > 0 ? interval : 0),
          order(order), callout(callout) {
        if (context != nullptr) {
            this->context = *context;
            if (context->retain != nullptr && context->info != nullptr) {
                this->context.info = const_cast<void*>(context->retain(context->info));
            }
        }
    }
    ~Timer() override { releaseInfo(); }

    // Hands the context's info back to its owner once.
    void releaseInfo() {
        if (!infoReleased && context.release != nullptr && context.info != nullptr) {
            context.release(context.info);
        }
        infoReleased = true;
    }

    std::string describe() const override {
        return fmt::format("<CFRunLoopTimer {}>{{valid = {}, interval = {}, next fire = {}}}",
                           hexAddress(this), valid ? "Yes" : "No", interval, nextFire);
    }

    // Guarded by stateMutex().
    bool valid = true;
    CFAbsoluteTime nextFire;
    RunLoop* loop = nullptr;
    CFTimeInterval interval;
    CFTimeInterval tolerance = 0;
    CFIndex order;
    CFRunLoopTimerCallBack callout;
    CFRunLoopTimerContext context{0, nullptr, nullptr, nullptr, nullptr};
    bool infoReleased = false;
};

Timer* asTimer(CFTypeRef cf) {
    return asMutable<Timer>(cf, kTypeRunLoopTimer);
}

const std::string kDefaultMode = "kCFRunLoopDefaultMode";
const std::string kCommonModes = "kCFRunLoopCommonModes";

class RunLoop final : public Object {
public:
    RunLoop() : Object(kTypeRunLoop) { commonModes.insert(kDefaultMode); }
    ~RunLoop() override {
        std::vector<Timer*> released;
        {
            std::lock_guard<std::mutex> lock(stateMutex());
            for (Entry& entry : entries) {
                entry.timer->loop = nullptr;
                released.push_back(entry.timer);
            }
            entries.clear();
        }
        for (Timer* timer : released) {
            CFRelease(handle<CFRunLoopTimerRef>(timer));
        }
    }

    struct Entry {
        Timer* timer;
        std::set<std::string> modes;
        bool common = false;
    };

    // Callers hold stateMutex().
    bool entryRunsIn(const Entry& entry, const std::string& mode) const {
        return entry.timer->valid &&
               (entry.modes.count(mode) > 0 || (entry.common && commonModes.count(mode) > 0));
    }
    Entry* entryFor(Timer* timer) {
        for (Entry& entry : entries) {
            if (entry.timer == timer) {
                return &entry;
            }
        }
        return nullptr;
    }
    // Detaches the timer; the caller releases the loop's reference afterwards.
    bool detach(Timer* timer) {
        for (auto it = entries.begin(); it != entries.end(); ++it) {
            if (it->timer == timer) {
                entries.erase(it);
                timer->loop = nullptr;
                return true;
            }
        }
        return false;
    }

    std::string describe() const override {
        return fmt::format("<CFRunLoop {}>{{timers = {}}}", hexAddress(this), entries.size());
    }

    // Guarded by stateMutex().
    std::vector<Entry> entries;
    std::set<std::string> commonModes;
    std::condition_variable wake;
    bool stopRequested = false;
    bool wakeRequested = false;
    bool waiting = false;
    std::vector<std::string> runningModes;
};

RunLoop* asLoop(CFTypeRef cf) {
    return asMutable<RunLoop>(cf, kTypeRunLoop);
}

// Makes a waiting loop look at its timers again. Caller holds stateMutex().
void poke(RunLoop* loop) {
    loop->wakeRequested = true;
    loop->wake.notify_all();
}

std::string modeName(CFStringRef mode) {
    return mode == nullptr ? kDefaultMode : toUTF8(mode);
}

bool isMainThread() {
    return syscall(SYS_gettid) == getpid();
}

RunLoop*& mainLoopSlot() {
    static RunLoop* loop = nullptr;
    return loop;
}

RunLoop* mainLoop() {
    std::lock_guard<std::mutex> lock(stateMutex());
    RunLoop*& slot = mainLoopSlot();
    if (slot == nullptr) {
        slot = new RunLoop; // lives as long as the process
        slot->makeImmortal();
    }
    return slot;
}

// Releases a thread's loop when the thread ends.
struct ThreadLoop {
    RunLoop* loop = nullptr;
    ~ThreadLoop() {
        if (loop != nullptr) {
            CFRelease(handle<CFRunLoopRef>(loop));
        }
    }
};

RunLoop* currentLoop() {
    if (isMainThread()) {
        return mainLoop();
    }
    thread_local ThreadLoop threadLoop;
    if (threadLoop.loop == nullptr) {
        threadLoop.loop = new RunLoop;
    }
    return threadLoop.loop;
}

void invalidate(Timer* timer) {
    bool detached = false;
    {
        std::lock_guard<std::mutex> lock(stateMutex());
        if (!timer->valid) {
            return;
        }
        timer->valid = false;
        if (RunLoop* loop = timer->loop) {
            detached = loop->detach(timer);
            poke(loop);
        }
    }
    timer->releaseInfo();
    if (detached) {
        CFRelease(handle<CFRunLoopTimerRef>(timer));
    }
}

using Clock = std::chrono::steady_clock;

Clock::time_point deadlineAfter(CFTimeInterval seconds) {
    // Long waits are capped at a year, which is forever for a run loop.
    const double capped = std::clamp(std::isnan(seconds) ? 0.0 : seconds, 0.0, 3.15e7);
    return Clock::now() +
           std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(capped));
}

CFRunLoopRunResult run(RunLoop* loop, const std::string& mode, CFTimeInterval seconds) {
    if (mode == kCommonModes) {
        return kCFRunLoopRunFinished;
    }
    const Clock::time_point deadline = deadlineAfter(seconds);
    std::unique_lock<std::mutex> lock(stateMutex());
    loop->runningModes.push_back(mode);
    CFRunLoopRunResult result = kCFRunLoopRunTimedOut;
    while (true) {
        if (loop->stopRequested) {
            loop->stopRequested = false;
            result = kCFRunLoopRunStopped;
            break;
        }
        const CFAbsoluteTime now = CFAbsoluteTimeGetCurrent();
        Timer* due = nullptr;
        CFAbsoluteTime earliest = HUGE_VAL;
        bool any = false;
        for (const RunLoop::Entry& entry : loop->entries) {
            if (!loop->entryRunsIn(entry, mode)) {
                continue;
            }
            any = true;
            Timer* t = entry.timer;
            earliest = std::min(earliest, t->nextFire);
            if (t->nextFire <= now && (due == nullptr || t->nextFire < due->nextFire ||
                                       (t->nextFire == due->nextFire && t->order < due->order))) {
                due = t;
            }
        }
        if (due != nullptr) {
            due->retain();
            const bool repeats = due->interval > 0;
            if (repeats) {
                // Missed firings are skipped, not queued.
                const double behind = std::floor((now - due->nextFire) / due->interval) + 1;
                due->nextFire += behind * due->interval;
            }
            const CFRunLoopTimerCallBack callout = due->callout;
            void* info = due->context.info;
            lock.unlock();
            if (callout != nullptr) {
                callout(handle<CFRunLoopTimerRef>(due), info);
            }
            if (!repeats) {
                invalidate(due); // a timer without interval fires once
            }
            CFRelease(handle<CFRunLoopTimerRef>(due));
            lock.lock();
            continue;
        }
        if (!any) {
            result = kCFRunLoopRunFinished;
            break;
        }
        const Clock::time_point nowSteady = Clock::now();
        if (nowSteady >= deadline) {
            result = kCFRunLoopRunTimedOut;
            break;
        }
        Clock::time_point until = deadline;
        const double untilFire = earliest - now;
        if (untilFire < std::chrono::duration<double>(deadline - nowSteady).count()) {
            until = nowSteady + std::chrono::duration_cast<Clock::duration>(
                                    std::chrono::duration<double>(std::max(untilFire, 0.0)));
        }
        loop->waiting = true;
        loop->wake.wait_until(lock, until,
                              [loop] { return loop->wakeRequested || loop->stopRequested; });
        loop->waiting = false;
        loop->wakeRequested = false;
    }
    loop->runningModes.pop_back();
    return result;
}

} // namespace

const CFRunLoopMode kCFRunLoopDefaultMode = CFSTR("kCFRunLoopDefaultMode");
const CFRunLoopMode kCFRunLoopCommonModes = CFSTR("kCFRunLoopCommonModes");

CFTypeID CFRunLoopGetTypeID(void) {
    return kTypeRunLoop;
}
CFTypeID CFRunLoopTimerGetTypeID(void) {
    return kTypeRunLoopTimer;
}

CFRunLoopRef CFRunLoopGetCurrent(void) {
    return handle<CFRunLoopRef>(currentLoop());
}

CFRunLoopRef CFRunLoopGetMain(void) {
    return handle<CFRunLoopRef>(mainLoop());
}

CFRunLoopMode CFRunLoopCopyCurrentMode(CFRunLoopRef rl) {
    RunLoop* loop = asLoop(rl);
    if (loop == nullptr) {
        return nullptr;
    }
    std::string mode;
    {
        std::lock_guard<std::mutex> lock(stateMutex());
        if (loop->runningModes.empty()) {
            return nullptr;
        }
        mode = loop->runningModes.back();
    }
    return createString(mode);
}

void CFRunLoopAddCommonMode(CFRunLoopRef rl, CFRunLoopMode mode) {
    if (RunLoop* loop = asLoop(rl); loop != nullptr && mode != nullptr) {
        std::lock_guard<std::mutex> lock(stateMutex());
        loop->commonModes.insert(modeName(mode));
        poke(loop);
    }
}

void CFRunLoopRun(void) {
    RunLoop* loop = currentLoop();
    CFRunLoopRunResult result = kCFRunLoopRunTimedOut;
    do {
        result = run(loop, kDefaultMode, 1.0e10);
    } while (result != kCFRunLoopRunStopped && result != kCFRunLoopRunFinished);
}

CFRunLoopRunResult CFRunLoopRunInMode(CFRunLoopMode mode, CFTimeInterval seconds,
                                      Boolean returnAfterSourceHandled) {
    (void)returnAfterSourceHandled; // timers are not sources; nothing else is handled here
    return run(currentLoop(), modeName(mode), seconds);
}

Boolean CFRunLoopIsWaiting(CFRunLoopRef rl) {
    RunLoop* loop = asLoop(rl);
    if (loop == nullptr) {
        return false;
    }
    std::lock_guard<std::mutex> lock(stateMutex());
    return loop->waiting;
}

void CFRunLoopWakeUp(CFRunLoopRef rl) {
    if (RunLoop* loop = asLoop(rl)) {
        std::lock_guard<std::mutex> lock(stateMutex());
        poke(loop);
    }
}

void CFRunLoopStop(CFRunLoopRef rl) {
    if (RunLoop* loop = asLoop(rl)) {
        std::lock_guard<std::mutex> lock(stateMutex());
        loop->stopRequested = true;
        loop->wake.notify_all();
    }
}

Boolean CFRunLoopContainsTimer(CFRunLoopRef rl, CFRunLoopTimerRef timer, CFRunLoopMode mode) {
    RunLoop* loop = asLoop(rl);
    Timer* t = asTimer(timer);
    if (loop == nullptr || t == nullptr) {
        return false;
    }
    std::lock_guard<std::mutex> lock(stateMutex());
    const RunLoop::Entry* entry = loop->entryFor(t);
    if (entry == nullptr) {
        return false;
    }
    const std::string name = modeName(mode);
    return name == kCommonModes ? entry->common : loop->entryRunsIn(*entry, name);
}

void CFRunLoopAddTimer(CFRunLoopRef rl, CFRunLoopTimerRef timer, CFRunLoopMode mode) {
    RunLoop* loop = asLoop(rl);
    Timer* t = asTimer(timer);
    if (loop == nullptr || t == nullptr || mode == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> lock(stateMutex());
    // A timer belongs to one loop at a time; an invalid one to none.
    if (!t->valid || (t->loop != nullptr && t->loop != loop)) {
        return;
    }
    RunLoop::Entry* entry = loop->entryFor(t);
    if (entry == nullptr) {
        t->retain();
        t->loop = loop;
        loop->entries.push_back(RunLoop::Entry{t, {}, false});
        entry = &loop->entries.back();
    }
    const std::string name = modeName(mode);
    if (name == kCommonModes) {
        entry->common = true;
    } else {
        entry->modes.insert(name);
    }
    poke(loop);
}

void CFRunLoopRemoveTimer(CFRunLoopRef rl, CFRunLoopTimerRef timer, CFRunLoopMode mode) {
    RunLoop* loop = asLoop(rl);
    Timer* t = asTimer(timer);
    if (loop == nullptr || t == nullptr || mode == nullptr) {
        return;
    }
    bool detached = false;
    {
        std::lock_guard<std::mutex> lock(stateMutex());
        RunLoop::Entry* entry = loop->entryFor(t);
        if (entry == nullptr) {
            return;
        }
        const std::string name = modeName(mode);
        if (name == kCommonModes) {
            entry->common = false;
        } else {
            entry->modes.erase(name);
        }
        if (!entry->common && entry->modes.empty()) {
            detached = loop->detach(t);
        }
        poke(loop);
    }
    if (detached) {
        CFRelease(timer);
    }
}

CFRunLoopTimerRef CFRunLoopTimerCreate(CFAllocatorRef, CFAbsoluteTime fireDate,
                                       CFTimeInterval interval, CFOptionFlags, CFIndex order,
                                       CFRunLoopTimerCallBack callout,
                                       CFRunLoopTimerContext* context) {
    if (callout == nullptr || std::isnan(fireDate)) {
        return nullptr;
    }
    return handle<CFRunLoopTimerRef>(new Timer(fireDate, interval, order, callout, context));
}

CFAbsoluteTime CFRunLoopTimerGetNextFireDate(CFRunLoopTimerRef timer) {
    Timer* t = asTimer(timer);
    if (t == nullptr) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(stateMutex());
    return t->nextFire;
}

void CFRunLoopTimerSetNextFireDate(CFRunLoopTimerRef timer, CFAbsoluteTime fireDate) {
    Timer* t = asTimer(timer);
    if (t == nullptr || std::isnan(fireDate)) {
        return;
    }
    std::lock_guard<std::mutex> lock(stateMutex());
    if (!t->valid) {
        return;
    }
    t->nextFire = fireDate;
    if (t->loop != nullptr) {
        poke(t->loop);
    }
}

CFTimeInterval CFRunLoopTimerGetInterval(CFRunLoopTimerRef timer) {
    Timer* t = asTimer(timer);
    return t == nullptr ? 0 : t->interval;
}

Boolean CFRunLoopTimerDoesRepeat(CFRunLoopTimerRef timer) {
    return CFRunLoopTimerGetInterval(timer) > 0;
}

CFIndex CFRunLoopTimerGetOrder(CFRunLoopTimerRef timer) {
    Timer* t = asTimer(timer);
    return t == nullptr ? 0 : t->order;
}

void CFRunLoopTimerInvalidate(CFRunLoopTimerRef timer) {
    if (Timer* t = asTimer(timer)) {
        t->retain(); // the loop's reference may be the last one
        invalidate(t);
        CFRelease(timer);
    }
}

Boolean CFRunLoopTimerIsValid(CFRunLoopTimerRef timer) {
    Timer* t = asTimer(timer);
    if (t == nullptr) {
        return false;
    }
    std::lock_guard<std::mutex> lock(stateMutex());
    return t->valid;
}

void CFRunLoopTimerGetContext(CFRunLoopTimerRef timer, CFRunLoopTimerContext* context) {
    Timer* t = asTimer(timer);
    if (t != nullptr && context != nullptr) {
        *context = t->context;
    }
}

CFTimeInterval CFRunLoopTimerGetTolerance(CFRunLoopTimerRef timer) {
    Timer* t = asTimer(timer);
    if (t == nullptr) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(stateMutex());
    return t->tolerance;
}

void CFRunLoopTimerSetTolerance(CFRunLoopTimerRef timer, CFTimeInterval tolerance) {
    if (Timer* t = asTimer(timer)) {
        std::lock_guard<std::mutex> lock(stateMutex());
        t->tolerance = tolerance > 0 ? tolerance : 0;
    }
}
