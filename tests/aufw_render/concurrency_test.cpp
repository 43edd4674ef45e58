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
#include <vector>

namespace {

// removalApplied is set once the removal is known to be applied; a call after that is a fault.
struct Subscriber {
    std::atomic<long> calls{0}, callsAfterRemoval{0};
    std::atomic<bool> removalApplied{false};
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

// Entries differ by procedure as well as by reference.
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

// An initialized unit (parameter 0 at 0.25) and a render thread.
class Race : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(unit->SetParameter(0, kAudioUnitScope_Global, 0, 0.25f, 0), 0);
        ASSERT_EQ(unit->DoInitialize(), 0);
    }
    // Cycles of `frames` until Stop, counting those that do not answer
    // `expected`; afterEach runs on the render thread after each.
    template <typename AfterEach>
    void StartRenderer(AfterEach afterEach, UInt32 frames = 64, OSStatus expected = 0) {
        renderer = std::thread([this, afterEach, frames, expected] {
            TestBuffers out(2, frames);
            for (Float64 t = 0; !stop.load(std::memory_order_acquire); t += frames) {
                if (unit->RenderAt(t, out, frames) != expected) {
                    renderFailures.fetch_add(1);
                }
                afterEach();
            }
        });
    }
    void Stop() {
        stop.store(true, std::memory_order_release);
        renderer.join();
    }

    UnitHolder<RenderTestUnit> unit;
    std::atomic<bool> stop{false};
    std::atomic<long> renderFailures{0};
    std::thread renderer;
};

// Each added notification is called, and none once its removal is applied
// (a render starting after the removal was posted applies it first).
TEST_F(Race, RenderNotificationsAddedAndRemovedWhileRendering) {
    std::atomic<long> completedRenders{0};
    StartRenderer([&] { completedRenders.fetch_add(1, std::memory_order_release); });

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
        // The render in progress may still see them; the next one may not.
        const long seen = completedRenders.load(std::memory_order_acquire);
        ASSERT_TRUE(WaitFor([&] { return completedRenders.load() >= seen + 2; }));
        a.removalApplied.store(true, std::memory_order_release);
        b.removalApplied.store(true, std::memory_order_release);
    }
    const long seen = completedRenders.load();
    EXPECT_TRUE(WaitFor([&] { return completedRenders.load() >= seen + 50; }));
    Stop();
    EXPECT_TRUE(allCalled) << "an added procedure was never called";
    long late = 0;
    for (const Subscriber& s : subscribers) {
        late += s.callsAfterRemoval.load();
    }
    EXPECT_EQ(std::make_pair(late, renderFailures.load()), std::make_pair(0L, 0L));
}

// Listeners come and go while the render thread announces changes (an engine
// reporting latency from inside processing), a third thread sets parameters
// and resets race the renderer: every announcement reaches the permanent
// listener, removed ones hear nothing, readers see only written values.
TEST_F(Race, PropertyListenersChangeWhileAnnouncementsParametersAndResetsRace) {
    std::atomic<long> permanent{0}, announcements{0}, strangeValues{0};
    ASSERT_EQ(unit->AddPropertyListener(kAudioUnitProperty_Latency, CountCall, &permanent), 0);
    StartRenderer([&] {
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
        // Another property's listener in between: removal keeps what it does not match.
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
    const long seen = announcements.load();
    while (announcements.load() < seen + 100) {
        std::this_thread::yield();
    }
    Stop();
    parameters.join();

    EXPECT_EQ(std::make_pair(renderFailures.load(), strangeValues.load()), std::make_pair(0L, 0L));
    EXPECT_EQ(permanent.load(), announcements.load()) << "every announcement reached it";
    const auto heard = [&] { return std::vector<long>(transient.begin(), transient.end()); };
    const std::vector<long> before = heard();
    unit->PropertyChanged(kAudioUnitProperty_Latency, kAudioUnitScope_Global, 0);
    EXPECT_EQ(heard(), before) << "removed listeners stay silent";
    EXPECT_EQ(permanent.load(), announcements.load() + 1);
}

// The host polls the last render error while every render fails: each
// recorded (and announced) error is read exactly once, none lost between a
// read and its clearing.
TEST_F(Race, EveryRecordedRenderErrorIsReadExactlyOnceWhileRenderFails) {
    std::atomic<long> announced{0}, unexpected{0};
    ASSERT_EQ(unit->AddPropertyListener(kAudioUnitProperty_LastRenderError, CountCall, &announced),
              0);
    StartRenderer([] {}, AUBase::kAUDefaultMaxFramesPerSlice + 1,
                  kAudioUnitErr_TooManyFramesToProcess);

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
    WaitFor([&] {
        readOnce();
        return read >= 2000;
    });
    Stop();
    readOnce(); // the error the last failing render may have left

    EXPECT_EQ(std::make_tuple(read > 0, unexpected.load(), renderFailures.load()),
              std::make_tuple(true, 0L, 0L));
    EXPECT_EQ(read, announced.load()) << "each recorded error is announced once and read once";
    EXPECT_EQ(unit->GetLastRenderError(), 0);
}

// The host replaces its callbacks while the render thread reads them (tempo
// and transport): each read is one record whole, or none while a change is
// under way. The records are bit patterns that are never called.
TEST_F(Race, RenderSeesEachHostCallbackRecordWholeWhileTheHostReplacesIt) {
    HostCallbackInfo records[2];
    std::memset(&records[0], 0x11, sizeof records[0]);
    std::memset(&records[1], 0x22, sizeof records[1]);
    const HostCallbackInfo none{};

    std::atomic<long> torn{0}, seen[2] = {0, 0};
    StartRenderer([&] {
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
    Stop();
    EXPECT_EQ(std::make_pair(renderFailures.load(), torn.load()), std::make_pair(0L, 0L));
    EXPECT_TRUE(seen[0].load() > 0 && seen[1].load() > 0);
}

} // namespace
