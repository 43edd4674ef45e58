#include "support.h"

#include <NSVextra/TimerMap.h>

#include <CoreFoundation/CoreFoundation.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <thread>
#include <vector>

using NSVextra::TimerMap;

namespace {

// Every bound here is generous: the assertions are about what fires, never
// about when.
constexpr double kPatience = 10.0; // seconds

bool runUntil(const std::function<bool()>& done) {
    return vxtest::runLoopUntil(done, kPatience);
}
using vxtest::runLoopFor;

class Recorder : public TimerMap {
public:
    explicit Recorder(std::map<int, int>* counts = nullptr)
        : TimerMap("Recorder"), m_counts(counts ? counts : &m_ownCounts) {}

    void timerProc(int id) override {
        ++(*m_counts)[id];
        threads.push_back(std::this_thread::get_id());
        if (onFire)
            onFire(id);
    }
    int fired(int id) const {
        auto it = m_counts->find(id);
        return it == m_counts->end() ? 0 : it->second;
    }

    std::function<void(int)> onFire;
    std::vector<std::thread::id> threads;

private:
    std::map<int, int> m_ownCounts;
    std::map<int, int>* m_counts;
};

std::string newLog(const std::string& before) {
    return vxtest::readLog().substr(before.size());
}

// An owner built during static initialisation, as a plug-in's global object
// would be: the registry must already exist when it arms its timer.
struct EarlyOwner : TimerMap {
    EarlyOwner() : TimerMap("early") { armed = addTimer(0, 10, "early"); }
    void timerProc(int id) override {
        ++fired;
        removeTimer(id); // one firing is all it needs
    }
    bool armed = false;
    int fired = 0;
};
EarlyOwner earlyOwner;

} // namespace

TEST(TimerMap, OwnerBuiltDuringStaticInitialisationWorks) {
    EXPECT_TRUE(earlyOwner.armed);
    ASSERT_TRUE(runUntil([&] { return earlyOwner.fired >= 1; }));
    runLoopFor(0.1);
    EXPECT_EQ(earlyOwner.fired, 1);
    EXPECT_FALSE(earlyOwner.checkTimer(0));
}

TEST(TimerMap, OwnersKeepTheirOwnIds) {
    Recorder a, b;
    ASSERT_TRUE(a.addTimer(0, 10, "a0"));
    ASSERT_TRUE(b.addTimer(0, 10, "b0"));
    EXPECT_TRUE(a.checkTimer(0));
    EXPECT_TRUE(b.checkTimer(0));
    EXPECT_FALSE(a.checkTimer(1));
    EXPECT_NE(a.getKey(0), 0u);
    EXPECT_NE(a.getKey(0), b.getKey(0));
    EXPECT_EQ(a.getKey(1), 0u);

    ASSERT_TRUE(runUntil([&] { return a.fired(0) >= 3 && b.fired(0) >= 3; }));

    a.removeTimer(0);
    EXPECT_FALSE(a.checkTimer(0));
    EXPECT_TRUE(b.checkTimer(0));
    const int aFired = a.fired(0);
    const int bFired = b.fired(0);
    ASSERT_TRUE(runUntil([&] { return b.fired(0) >= bFired + 5; }));
    EXPECT_EQ(a.fired(0), aFired);

    a.removeTimer(0); // nothing left: no effect
    a.removeTimer(42);
    EXPECT_TRUE(b.checkTimer(0));
}

TEST(TimerMap, SameIdTwiceMakesTwoTimers) {
    Recorder owner;
    ASSERT_TRUE(owner.addTimer(5, 10, "first"));
    ASSERT_TRUE(owner.addTimer(5, 10, "second"));
    ASSERT_TRUE(owner.addTimer(6, 10, "other"));

    owner.removeTimer(5);
    EXPECT_TRUE(owner.checkTimer(5)); // one of the two is left
    const unsigned long long leftKey = owner.getKey(5);
    EXPECT_NE(leftKey, 0u);
    const int before = owner.fired(5);
    ASSERT_TRUE(runUntil([&] { return owner.fired(5) >= before + 3; }));

    owner.removeTimer(5);
    EXPECT_FALSE(owner.checkTimer(5));
    EXPECT_EQ(owner.getKey(5), 0u);
    EXPECT_TRUE(owner.checkTimer(6));
    const int stopped = owner.fired(5);
    ASSERT_TRUE(runUntil([&] { return owner.fired(6) >= 5; }));
    EXPECT_EQ(owner.fired(5), stopped);
}

TEST(TimerMap, TimerProcMayRemoveAndAddTimers) {
    Recorder owner;
    // A one-shot: removes itself on its first firing and arms id 2 instead,
    // the way a delayed save re-arms itself.
    owner.onFire = [&](int id) {
        if (id == 1) {
            owner.removeTimer(1);
            EXPECT_FALSE(owner.checkTimer(1));
            EXPECT_TRUE(owner.addTimer(2, 10, "next"));
        } else if (id == 2) {
            owner.removeTimer(2);
        }
    };
    ASSERT_TRUE(owner.addTimer(1, 10, "once"));
    ASSERT_TRUE(runUntil([&] { return owner.fired(2) >= 1; }));
    runLoopFor(0.3);
    EXPECT_EQ(owner.fired(1), 1);
    EXPECT_EQ(owner.fired(2), 1);
    EXPECT_FALSE(owner.checkTimer(1));
    EXPECT_FALSE(owner.checkTimer(2));
}

TEST(TimerMap, DestroyedOwnerGetsNoMoreCalls) {
    const std::string before = vxtest::readLog();
    std::map<int, int> goneCounts;
    Recorder survivor;
    auto* gone = new Recorder(&goneCounts);
    ASSERT_TRUE(gone->addTimer(0, 10, "a"));
    ASSERT_TRUE(gone->addTimer(1, 15, "b"));
    ASSERT_TRUE(survivor.addTimer(0, 10, "c"));
    ASSERT_TRUE(runUntil([&] { return goneCounts[0] >= 2 && goneCounts[1] >= 2; }));

    delete gone;
    const std::map<int, int> atDeath = goneCounts;
    const int survivorFired = survivor.fired(0);
    ASSERT_TRUE(runUntil([&] { return survivor.fired(0) >= survivorFired + 10; }));
    EXPECT_EQ(goneCounts, atDeath);
    EXPECT_TRUE(survivor.checkTimer(0));
    // Its timers were stopped, not merely forgotten: none fired unclaimed.
    EXPECT_EQ(
        vxtest::countLines(newLog(before), "error: could not find timer object for the given id"),
        0);
}

TEST(TimerMap, IntervalZeroFiresOnceWithoutReachingTheOwner) {
    const std::string before = vxtest::readLog();
    Recorder owner;
    ASSERT_TRUE(owner.addTimer(3, 0, "zero"));
    EXPECT_TRUE(owner.checkTimer(3));
    ASSERT_TRUE(runUntil(
        [&] { return vxtest::countLines(newLog(before), "error: wrong timer properties") >= 1; }));
    runLoopFor(0.2);
    EXPECT_EQ(owner.fired(3), 0);
    EXPECT_EQ(vxtest::countLines(newLog(before), "error: wrong timer properties"), 1);
    owner.removeTimer(3);
    EXPECT_FALSE(owner.checkTimer(3));
}

TEST(TimerMap, UnknownTimerIsLoggedAndIgnored) {
    const std::string before = vxtest::readLog();
    int notATimer = 0;
    NSVextra::macTimerMapProc(reinterpret_cast<CFRunLoopTimerRef>(&notATimer), nullptr);
    EXPECT_EQ(
        vxtest::countLines(newLog(before), "error: could not find timer object for the given id"),
        1);
}

TEST(TimerMap, StoppedTimerKeepsItsEntryUntilRemoved) {
    Recorder owner;
    ASSERT_TRUE(owner.addTimer(7, 10, "stoppable"));
    ASSERT_TRUE(runUntil([&] { return owner.fired(7) >= 2; }));
    const unsigned long long key = owner.getKey(7);
    EXPECT_TRUE(owner.timer_stop(key));
    const int fired = owner.fired(7);
    runLoopFor(0.2);
    EXPECT_EQ(owner.fired(7), fired);
    EXPECT_TRUE(owner.checkTimer(7));
    EXPECT_EQ(owner.getKey(7), key);
    EXPECT_TRUE(owner.timer_stop(key)); // stopping twice releases nothing twice
    owner.removeTimer(7);
    EXPECT_FALSE(owner.checkTimer(7));
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
