// Threads racing on one unit; run under the thread sanitizer by the tsan
// preset (label: concurrency).
#include "RenderTestUnit.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

namespace {

struct Subscriber {
    std::atomic<long> calls{0};
    // Set once the removal is known to be applied; a call after that is a fault.
    std::atomic<bool> removalApplied{false};
    std::atomic<long> callsAfterRemoval{0};
};

OSStatus Observe(void* inRefCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32, UInt32,
                 AudioBufferList*) {
    auto* s = static_cast<Subscriber*>(inRefCon);
    if (s->removalApplied.load(std::memory_order_acquire)) {
        s->callsAfterRemoval.fetch_add(1, std::memory_order_relaxed);
    }
    s->calls.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

// A second procedure, so that entries differ by procedure as well as by reference.
OSStatus ObserveToo(void* inRefCon, AudioUnitRenderActionFlags* f, const AudioTimeStamp* t,
                    UInt32 b, UInt32 n, AudioBufferList* l) {
    return Observe(inRefCon, f, t, b, n, l);
}

void CountCall(void* inRefCon, AudioUnit, AudioUnitPropertyID, AudioUnitScope, AudioUnitElement) {
    static_cast<std::atomic<long>*>(inRefCon)->fetch_add(1, std::memory_order_relaxed);
}

// Waits at most 20 s for the condition.
template <typename Condition> bool WaitFor(Condition&& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::yield();
    }
    return true;
}

// Renders 64-frame cycles at advancing sample times until stop is set,
// counting failed cycles; afterEach runs on the render thread after each.
template <typename AfterEach>
std::thread StartRenderer(RenderTestUnit& unit, std::atomic<bool>& stop,
                          std::atomic<long>& failures, AfterEach afterEach) {
    return std::thread([&unit, &stop, &failures, afterEach] {
        TestBuffers out(2, 64);
        for (Float64 t = 0; !stop.load(std::memory_order_acquire); t += 64) {
            if (unit.RenderAt(t, out, 64) != 0) {
                failures.fetch_add(1);
            }
            afterEach();
        }
    });
}

// Notifications added and removed while another thread renders: each added
// procedure is called, and none once its removal is applied (a render that
// starts after the removal was posted applies it before notifying).
TEST(RenderNotificationConcurrency, AddAndRemoveWhileRendering) {
    UnitHolder<RenderTestUnit> unit;
    ASSERT_EQ(unit->DoInitialize(), 0);
    std::atomic<bool> stop{false};
    std::atomic<long> completedRenders{0}, renderFailures{0};
    std::thread renderer = StartRenderer(*unit, stop, renderFailures, [&] {
        completedRenders.fetch_add(1, std::memory_order_release);
    });

    std::array<Subscriber, 4> subscribers;
    bool allCalled = true;
    for (int round = 0; round < 100 && allCalled; ++round) {
        // Fresh entries each round, so that a call is attributed to its own add.
        auto& a = subscribers[size_t(round % 2) * 2];
        auto& b = subscribers[size_t(round % 2) * 2 + 1];
        for (Subscriber* s : {&a, &b}) {
            s->removalApplied.store(false);
            s->calls.store(0);
        }
        AURenderCallback procA = round % 3 == 0 ? ObserveToo : Observe;
        ASSERT_EQ(unit->SetRenderNotification(procA, &a), 0);
        ASSERT_EQ(unit->SetRenderNotification(Observe, &b), 0);
        allCalled = WaitFor([&] { return a.calls.load() > 0 && b.calls.load() > 0; });

        ASSERT_EQ(unit->RemoveRenderNotification(procA, &a), 0);
        ASSERT_EQ(unit->RemoveRenderNotification(Observe, &b), 0);
        // The render in progress may still see the entries; the next one
        // started after the removals and applied them.
        const long seen = completedRenders.load(std::memory_order_acquire);
        ASSERT_TRUE(WaitFor([&] { return completedRenders.load() >= seen + 2; }));
        a.removalApplied.store(true, std::memory_order_release);
        b.removalApplied.store(true, std::memory_order_release);
    }
    // A few more cycles in which the removed entries must stay silent.
    const long seen = completedRenders.load();
    EXPECT_TRUE(WaitFor([&] { return completedRenders.load() >= seen + 50; }));
    stop.store(true, std::memory_order_release);
    renderer.join();

    EXPECT_TRUE(allCalled) << "an added procedure was never called";
    for (const Subscriber& s : subscribers) {
        EXPECT_EQ(s.callsAfterRemoval.load(), 0);
    }
    EXPECT_EQ(renderFailures.load(), 0);
}

// Property listeners come and go on a control thread while the render
// thread announces changes (an engine reporting a new latency from inside
// processing), a third thread sets parameters and the render time is reset
// under the renderer. Every announcement reaches the listener registered
// throughout, a removed listener hears nothing more, and readers only see
// values that were written.
TEST(PropertyListenerConcurrency, ListenersChangeWhileAnnouncementsParametersAndResetsRace) {
    UnitHolder<RenderTestUnit> unit;
    ASSERT_EQ(unit->SetParameter(0, kAudioUnitScope_Global, 0, 0.25f, 0), 0);
    ASSERT_EQ(unit->DoInitialize(), 0);
    std::atomic<long> permanent{0};
    ASSERT_EQ(unit->AddPropertyListener(kAudioUnitProperty_Latency, CountCall, &permanent), 0);

    std::atomic<bool> stop{false};
    std::atomic<long> announcements{0}, strangeValues{0}, renderFailures{0};
    std::thread renderer = StartRenderer(*unit, stop, renderFailures, [&] {
        AudioUnitParameterValue value = 0;
        if (unit->GetParameter(0, kAudioUnitScope_Global, 0, value) != 0 ||
            (value != 0.25f && value != 0.75f)) {
            strangeValues.fetch_add(1);
        }
        unit->PropertyChanged(kAudioUnitProperty_Latency, kAudioUnitScope_Global, 0);
        announcements.fetch_add(1, std::memory_order_relaxed);
    });
    std::thread parameters([&] {
        for (int i = 0; !stop.load(std::memory_order_acquire); ++i) {
            unit->SetParameter(0, kAudioUnitScope_Global, 0, i % 2 ? 0.75f : 0.25f, 0);
        }
    });

    std::array<std::atomic<long>, 3> transient{};
    for (int round = 0; round < 2000; ++round) {
        auto& counter = transient[size_t(round) % transient.size()];
        // Another property's listener in between, so removal also has to
        // keep the records it does not match.
        for (AudioUnitPropertyID id : {kAudioUnitProperty_Latency, kAudioUnitProperty_TailTime}) {
            EXPECT_EQ(unit->AddPropertyListener(id, CountCall, &counter), 0);
        }
        if (round % 16 == 0) {
            EXPECT_EQ(unit->Reset(kAudioUnitScope_Global, 0), 0);
        }
        Float64 lastRendered = 0;
        EXPECT_EQ(unit->DispatchGetProperty(AUBase::kAUBaseProperty_LastRenderedSampleTime,
                                            kAudioUnitScope_Global, 0, &lastRendered),
                  0);
        if (lastRendered != -1.0 && (lastRendered < 0 || std::fmod(lastRendered, 64.0) != 0.0)) {
            strangeValues.fetch_add(1);
        }
        for (AudioUnitPropertyID id : {kAudioUnitProperty_Latency, kAudioUnitProperty_TailTime}) {
            EXPECT_EQ(unit->RemovePropertyListener(id, CountCall, &counter, true), 0);
        }
    }
    // Enough cycles that announcements and listener changes overlapped.
    const long seen = announcements.load();
    while (announcements.load() < seen + 100) {
        std::this_thread::yield();
    }
    stop.store(true, std::memory_order_release);
    renderer.join();
    parameters.join();

    EXPECT_EQ(renderFailures.load(), 0);
    EXPECT_EQ(strangeValues.load(), 0);
    EXPECT_EQ(permanent.load(), announcements.load()) << "every announcement reached it";
    long before[3];
    for (size_t i = 0; i < 3; ++i) {
        before[i] = transient[i].load();
    }
    unit->PropertyChanged(kAudioUnitProperty_Latency, kAudioUnitScope_Global, 0);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(transient[i].load(), before[i]) << "removed listeners stay silent";
    }
    EXPECT_EQ(permanent.load(), announcements.load() + 1);
}

// The host polls the last render error while the render thread keeps
// failing (too many frames). Reading clears the error and a failing render
// records one only while none is waiting, so every recorded (and announced)
// error is read exactly once: a read that cleared an error recorded after it
// looked would lose it.
TEST(LastRenderErrorConcurrency, EveryRecordedErrorIsReadExactlyOnceWhileRenderFails) {
    UnitHolder<RenderTestUnit> unit;
    ASSERT_EQ(unit->DoInitialize(), 0);
    std::atomic<long> announced{0};
    ASSERT_EQ(unit->AddPropertyListener(kAudioUnitProperty_LastRenderError, CountCall, &announced),
              0);

    std::atomic<bool> stop{false};
    std::atomic<long> unexpected{0};
    std::thread renderer([&] {
        const UInt32 tooMany = AUBase::kAUDefaultMaxFramesPerSlice + 1;
        TestBuffers out(2, tooMany);
        for (Float64 t = 0; !stop.load(std::memory_order_acquire); t += tooMany) {
            if (unit->RenderAt(t, out, tooMany) != kAudioUnitErr_TooManyFramesToProcess) {
                unexpected.fetch_add(1);
            }
        }
    });

    long read = 0;
    auto readOnce = [&] {
        OSStatus error = 0;
        EXPECT_EQ(unit->DispatchGetProperty(kAudioUnitProperty_LastRenderError,
                                            kAudioUnitScope_Global, 0, &error),
                  0);
        if (error == kAudioUnitErr_TooManyFramesToProcess) {
            ++read;
        } else if (error != 0) {
            unexpected.fetch_add(1);
        }
    };
    // Enough errors recorded and read that the two threads met many times.
    WaitFor([&] {
        readOnce();
        return read >= 2000;
    });
    stop.store(true, std::memory_order_release);
    renderer.join();
    readOnce(); // the error the last failing render may have left

    EXPECT_GT(read, 0);
    EXPECT_EQ(unexpected.load(), 0);
    EXPECT_EQ(read, announced.load()) << "each recorded error is announced once and read once";
    EXPECT_EQ(unit->GetLastRenderError(), 0);
}

// The host replaces its callbacks on a control thread while the render
// thread reads them every cycle, as the plug-in does to refresh tempo and
// transport. The render thread must see one record whole (or none, while a
// change is under way): user data of one record with the procedures of
// another would call the host with the wrong object. The records are bit
// patterns that are never called.
TEST(HostCallbackConcurrency, RenderSeesEachRecordWholeWhileTheHostReplacesIt) {
    UnitHolder<RenderTestUnit> unit;
    ASSERT_EQ(unit->DoInitialize(), 0);
    HostCallbackInfo records[2];
    std::memset(&records[0], 0x11, sizeof records[0]);
    std::memset(&records[1], 0x22, sizeof records[1]);
    const HostCallbackInfo none{};

    std::atomic<bool> stop{false};
    std::atomic<long> renderFailures{0}, torn{0};
    std::atomic<long> seen[2] = {0, 0};
    std::thread renderer = StartRenderer(*unit, stop, renderFailures, [&] {
        for (int k = 0; k < 64; ++k) {
            const HostCallbackInfo info = unit->GetHostCallbackInfo();
            if (std::memcmp(&info, &records[0], sizeof info) == 0) {
                seen[0].fetch_add(1, std::memory_order_relaxed);
            } else if (std::memcmp(&info, &records[1], sizeof info) == 0) {
                seen[1].fetch_add(1, std::memory_order_relaxed);
            } else if (std::memcmp(&info, &none, sizeof info) != 0) {
                torn.fetch_add(1, std::memory_order_relaxed);
            }
        }
    });

    long round = 0;
    WaitFor([&] {
        EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_HostCallbacks,
                                            kAudioUnitScope_Global, 0, &records[round % 2],
                                            sizeof(HostCallbackInfo)),
                  0);
        if (++round % 64 == 0) {
            EXPECT_EQ(unit->DispatchRemovePropertyValue(kAudioUnitProperty_HostCallbacks,
                                                        kAudioUnitScope_Global, 0),
                      0);
        }
        return round >= 20000 && seen[0].load() >= 100 && seen[1].load() >= 100;
    });
    stop.store(true, std::memory_order_release);
    renderer.join();

    EXPECT_EQ(renderFailures.load(), 0);
    EXPECT_EQ(torn.load(), 0) << "a record mixed from two";
    EXPECT_GT(seen[0].load(), 0);
    EXPECT_GT(seen[1].load(), 0);
}

} // namespace
