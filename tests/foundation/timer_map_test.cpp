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

TEST(TimerMap, OwnerBuiltDuringStaticInitialisationWorks) {
    EXPECT_TRUE(earlyOwner.armed);
    ASSERT_TRUE(runUntil([&] { return earlyOwner.fired >= 1; }));
    runLoopFor(0.1);
    EXPECT_EQ(earlyOwner.fired, 1);
    EXPECT_FALSE(earlyOwner.checkTimer(0));
}

TEST(TimerMap, OwnIdsAndRemovedStoppedOrDestroyedTimersGetNoMoreCalls) {
    const std::string before = vxtest::readLog();
    std::map<int, int> goneCounts;
    Recorder a, b;
    auto* gone = new Recorder; // counts its calls outside itself
    gone->onFire = [&](int id) { ++goneCounts[id]; };
    // A one-shot that arms id 2 instead, the way a delayed save re-arms itself.
    a.onFire = [&](int id) {
        if (id == 1) {
            a.removeTimer(1);
            EXPECT_TRUE(a.addTimer(2, 10, "next"));
        } else if (id == 2)
            a.removeTimer(2);
    };
    for (auto [owner, id, ms] : {std::tuple{&a, 0, 10},
                                 {&a, 0, 10},
                                 {&a, 1, 10},
                                 {&b, 0, 10},
                                 {&b, 8, 10},
                                 {gone, 0, 10},
                                 {gone, 1, 15}})
        ASSERT_TRUE(owner->addTimer(id, ms, "t")); // each add makes a timer
    EXPECT_FALSE(b.checkTimer(1));
    EXPECT_NE(a.getKey(0), 0u);
    EXPECT_NE(a.getKey(0), b.getKey(0));
    EXPECT_EQ(b.getKey(1), 0u);
    ASSERT_TRUE(runUntil([&] {
        return a.fired(0) >= 3 && a.fired(2) >= 1 && b.fired(0) >= 3 && goneCounts[0] >= 2 &&
               goneCounts[1] >= 2;
    }));
    a.removeTimer(0);
    EXPECT_TRUE(a.checkTimer(0)); // one of the two is left
    a.removeTimer(0);
    EXPECT_FALSE(a.checkTimer(0));
    EXPECT_EQ(a.getKey(0), 0u);
    delete gone;
    const std::map<int, int> atDeath = goneCounts;
    const unsigned long long key = b.getKey(0);
    EXPECT_TRUE(b.timer_stop(key));
    EXPECT_TRUE(b.timer_stop(key)); // stopping twice releases nothing twice
    const int aFired = a.fired(0), stopped = b.fired(0);
    ASSERT_TRUE(runUntil([&] { return b.fired(8) >= 10; }));
    EXPECT_EQ(a.fired(0), aFired);
    EXPECT_EQ(a.fired(1) * 10 + a.fired(2), 11);
    EXPECT_FALSE(a.checkTimer(1) || a.checkTimer(2));
    EXPECT_EQ(goneCounts, atDeath);
    EXPECT_EQ(b.fired(0), stopped);
    EXPECT_EQ(b.getKey(0), key); // a stopped timer keeps its entry until removed
    b.removeTimer(0);
    EXPECT_FALSE(b.checkTimer(0));
    EXPECT_TRUE(b.checkTimer(8));

    // The gone owner's timers were stopped, not merely forgotten; a zero
    // interval and an unknown timer are logged, never delivered.
    const std::string unknown = "error: could not find timer object for the given id";
    EXPECT_EQ(vxtest::loggedSince(before, unknown), 0);
    ASSERT_TRUE(b.addTimer(3, 0, "zero"));
    ASSERT_TRUE(runUntil(
        [&] { return vxtest::loggedSince(before, "error: wrong timer properties") >= 1; }));
    runLoopFor(0.2);
    EXPECT_EQ(b.fired(3), 0);
    EXPECT_EQ(vxtest::loggedSince(before, "error: wrong timer properties"), 1); // fires once only
    int notATimer = 0;
    NSVextra::macTimerMapProc(reinterpret_cast<CFRunLoopTimerRef>(&notATimer), nullptr);
    EXPECT_EQ(vxtest::loggedSince(before, unknown), 1);
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
    for (const std::thread::id& id : seen)
        EXPECT_EQ(id, workerId);
    for (const std::thread::id& id : mainOwner.threads)
        EXPECT_EQ(id, std::this_thread::get_id());
}
