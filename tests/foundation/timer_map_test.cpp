// Timers on the run loop of the thread that added them. Every bound is
// generous: the assertions are about what fires, never when.
#include "support.h"

#include <NSVextra/TimerMap.h>

#include <CoreFoundation/CoreFoundation.h>

#include <atomic>
#include <thread>

using NSVextra::TimerMap;
using vxtest::runLoopFor;

namespace {

bool runUntil(const std::function<bool()>& done) {
    return vxtest::runLoopUntil(done, 10.0);
}

struct Recorder : TimerMap {
    Recorder() : TimerMap("Recorder") {}
    void timerProc(int id) override {
        ++counts[id];
        threads.push_back(std::this_thread::get_id());
        if (onFire)
            onFire(id);
    }
    int fired(int id) { return counts[id]; }
    std::map<int, int> counts;
    std::function<void(int)> onFire;
    std::vector<std::thread::id> threads;
};

// Built during static initialisation, as a plug-in's global object would be:
// the registry must already exist when it arms its timer.
struct EarlyOwner : TimerMap {
    EarlyOwner() : TimerMap("early") { armed = addTimer(0, 10, "early"); }
    void timerProc(int id) override {
        ++fired;
        removeTimer(id); // one firing is all it needs
    }
    bool armed = false;
    int fired = 0;
} earlyOwner;

} // namespace

TEST(TimerMap, EarlyOwnersOwnIdsAndRemovedStoppedOrDestroyedTimersGetNoMoreCalls) {
    EXPECT_TRUE(earlyOwner.armed);
    ASSERT_TRUE(runUntil([&] { return earlyOwner.fired >= 1; }));
    runLoopFor(0.1);
    EXPECT_TRUE(earlyOwner.fired == 1 && !earlyOwner.checkTimer(0));
    const std::string before = vxtest::readLog();
    std::map<int, int> goneCounts;
    Recorder a, b;
    auto* gone = new Recorder; // counts its calls outside itself
    gone->onFire = [&](int id) { ++goneCounts[id]; };
    // A one-shot that arms id 2 instead, the way a delayed save re-arms itself.
    a.onFire = [&](int id) {
        if (id != 0)
            a.removeTimer(id);
        if (id == 1) {
            EXPECT_TRUE(a.addTimer(2, 10, "next"));
        }
    };
    for (auto [owner, id] : {std::pair{&a, 0}, {&a, 0}, {&a, 1}, {&b, 0}, {&b, 8}, {gone, 0}})
        ASSERT_TRUE(owner->addTimer(id, 10, "t")); // each add makes a timer
    ASSERT_TRUE(gone->addTimer(1, 15, "t"));
    EXPECT_TRUE(!b.checkTimer(1) && a.getKey(0) != 0u && a.getKey(0) != b.getKey(0) &&
                b.getKey(1) == 0u);
    ASSERT_TRUE(runUntil([&] {
        return a.fired(0) >= 3 && a.fired(2) >= 1 && b.fired(0) >= 3 && goneCounts[0] >= 2 &&
               goneCounts[1] >= 2;
    }));
    a.removeTimer(0);
    EXPECT_TRUE(a.checkTimer(0)); // one of the two is left
    a.removeTimer(0);
    EXPECT_FALSE(a.checkTimer(0) || a.getKey(0) != 0u);
    delete gone;
    const std::map<int, int> atDeath = goneCounts;
    const unsigned long long key = b.getKey(0);
    EXPECT_TRUE(b.timer_stop(key) && b.timer_stop(key)); // stopping twice releases nothing twice
    const int aFired = a.fired(0), stopped = b.fired(0);
    ASSERT_TRUE(runUntil([&] { return b.fired(8) >= 10; }));
    // A stopped timer keeps its entry until removed.
    EXPECT_EQ(std::tuple(a.fired(0), a.fired(1), a.fired(2), b.fired(0), b.getKey(0)),
              std::tuple(aFired, 1, 1, stopped, key));
    EXPECT_FALSE(a.checkTimer(1) || a.checkTimer(2));
    EXPECT_EQ(goneCounts, atDeath);
    b.removeTimer(0);
    EXPECT_TRUE(!b.checkTimer(0) && b.checkTimer(8));

    // The gone owner's timers were stopped, not merely forgotten; a zero
    // interval and an unknown timer are logged, never delivered.
    const std::string unknown = "error: could not find timer object for the given id";
    const std::string zero = "error: wrong timer properties";
    EXPECT_EQ(vxtest::loggedSince(before, unknown), 0);
    ASSERT_TRUE(b.addTimer(3, 0, "zero"));
    ASSERT_TRUE(runUntil([&] { return vxtest::loggedSince(before, zero) >= 1; }));
    runLoopFor(0.2);
    int notATimer = 0;
    NSVextra::macTimerMapProc(reinterpret_cast<CFRunLoopTimerRef>(&notATimer), nullptr);
    // Fires once only.
    EXPECT_EQ(std::tuple(b.fired(3), vxtest::loggedSince(before, zero),
                         vxtest::loggedSince(before, unknown)),
              std::tuple(0, 1, 1));
}

TEST(TimerMap, TimersFireOnTheThreadThatAddedThem) {
    std::atomic<bool> armed{false};
    std::atomic<int> workerFired{0};
    std::thread::id workerId;
    std::vector<std::thread::id> seen;
    std::thread worker([&] {
        workerId = std::this_thread::get_id();
        Recorder owner;
        owner.onFire = [&](int) { ++workerFired; };
        ASSERT_TRUE(owner.addTimer(0, 10, "worker"));
        armed = true;
        runUntil([&] { return owner.fired(0) >= 5; });
        seen = owner.threads;
    });
    // The main thread runs its own loop meanwhile; the worker's timer is not
    // its business.
    Recorder mainOwner;
    ASSERT_TRUE(mainOwner.addTimer(0, 10, "main"));
    runUntil([&] { return armed && workerFired >= 5 && mainOwner.fired(0) >= 5; });
    worker.join();
    ASSERT_GE(seen.size(), 5u);
    EXPECT_EQ(seen, std::vector(seen.size(), workerId));
    EXPECT_EQ(mainOwner.threads, std::vector(mainOwner.threads.size(), std::this_thread::get_id()));
}
