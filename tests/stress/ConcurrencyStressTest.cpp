// One instance worked from several threads at once, the way hosts do it: a
// render thread renders without pause while other threads set parameters
// (hostile values included), add and remove render notifications, toggle
// bypass and property listeners, and save and restore the whole state.
// Property calls to one instance are the host's to serialize (the framework
// leaves listener and preset state unlocked), so those threads take turns
// through one host lock, while parameters and render notifications are set
// freely from any thread. Between rendering phases the unit is uninitialized
// and its formats change (rate, mono or stereo input) while the parameter
// and notification threads go on.
#include "ParameterSupport.h"
#include "UnitHost.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using unithost::Component;
using unithost::Entry;

struct Shared {
    AudioUnit unit = nullptr;
    bool hostile = false; // the plug-in's engine is fed hostile values
    std::vector<unithost::ParameterRange> params;

    std::mutex host;          // the host's serialization of property calls
    bool initialized = false; // under `host`

    std::atomic<bool> stopWorkers{false};
    std::atomic<bool> stopRender{false};
    std::atomic<long> renders{0};
    std::atomic<long> renderErrors{0};
    std::atomic<OSStatus> firstRenderError{0};
    std::atomic<long> nonFinite{0};
    std::atomic<long> notifications{0};
    std::atomic<long> listenerCalls{0};
    std::atomic<long> stateRoundTrips{0};
    std::atomic<long> formatChanges{0};
    std::atomic<long> failedCalls{0};
};

// Distinct user data tell the notification entries apart.
struct NotifyTag {
    Shared* shared;
};

OSStatus countNotification(void* ref, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32,
                           UInt32, AudioBufferList*) {
    static_cast<NotifyTag*>(ref)->shared->notifications.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

void countListener(void* ref, AudioUnit, AudioUnitPropertyID, AudioUnitScope, AudioUnitElement) {
    static_cast<Shared*>(ref)->listenerCalls.fetch_add(1, std::memory_order_relaxed);
}

void renderThread(Shared* s, unithost::Rig* rig) {
    std::mt19937 random(7);
    while (!s->stopRender.load()) {
        const UInt32 frames = 64 + random() % 960;
        const OSStatus status = rig->render(s->unit, frames);
        if (status != 0) {
            if (s->renderErrors.fetch_add(1) == 0)
                s->firstRenderError = status;
        } else if (!rig->outputFinite(frames)) {
            s->nonFinite.fetch_add(1);
        }
        s->renders.fetch_add(1);
    }
}

void parameterThread(Shared* s) {
    std::mt19937 random(11);
    while (!s->stopWorkers.load()) {
        const auto& p = s->params[random() % s->params.size()];
        float v = std::uniform_real_distribution<float>(p.min, p.max)(random);
        if (s->hostile && random() % 4 == 0) {
            const auto hostile = unithost::hostileValues(p);
            v = hostile[random() % hostile.size()];
        }
        if (AudioUnitSetParameter(s->unit, p.id, kAudioUnitScope_Global, 0, v, 0) != 0)
            s->failedCalls.fetch_add(1);
        AudioUnitParameterValue readBack = 0;
        AudioUnitGetParameter(s->unit, p.id, kAudioUnitScope_Global, 0, &readBack);
    }
}

void notificationThread(Shared* s) {
    std::mt19937 random(13);
    NotifyTag tags[4] = {{s}, {s}, {s}, {s}};
    bool added[4] = {};
    while (!s->stopWorkers.load()) {
        const int k = static_cast<int>(random() % 4);
        if (!added[k]) {
            if (AudioUnitAddRenderNotify(s->unit, countNotification, &tags[k]) == 0)
                added[k] = true;
            else
                s->failedCalls.fetch_add(1);
        } else {
            if (AudioUnitRemoveRenderNotify(s->unit, countNotification, &tags[k]) == 0)
                added[k] = false;
            else
                s->failedCalls.fetch_add(1);
        }
        std::this_thread::sleep_for(200us);
    }
    for (int k = 0; k < 4; ++k)
        if (added[k] && AudioUnitRemoveRenderNotify(s->unit, countNotification, &tags[k]) != 0)
            s->failedCalls.fetch_add(1);
}

void controlThread(Shared* s) {
    std::mt19937 random(17);
    UInt32 bypass = 0;
    while (!s->stopWorkers.load()) {
        {
            std::lock_guard<std::mutex> turn(s->host);
            const AudioUnitPropertyID watched[] = {kAudioUnitProperty_BypassEffect,
                                                   kAudioUnitProperty_PresentPreset,
                                                   kAudioUnitProperty_StreamFormat};
            const AudioUnitPropertyID id = watched[random() % 3];
            AudioUnitAddPropertyListener(s->unit, id, countListener, s);
            bypass = random() % 2;
            if (AudioUnitSetProperty(s->unit, kAudioUnitProperty_BypassEffect,
                                     kAudioUnitScope_Global, 0, &bypass, sizeof bypass) != 0)
                s->failedCalls.fetch_add(1);
            if (random() % 2)
                AudioUnitRemovePropertyListenerWithUserData(s->unit, id, countListener, s);
        }
        std::this_thread::sleep_for(300us);
    }
    std::lock_guard<std::mutex> turn(s->host);
    for (AudioUnitPropertyID id :
         {kAudioUnitProperty_BypassEffect, kAudioUnitProperty_PresentPreset,
          kAudioUnitProperty_StreamFormat})
        AudioUnitRemovePropertyListenerWithUserData(s->unit, id, countListener, s);
    bypass = 0;
    AudioUnitSetProperty(s->unit, kAudioUnitProperty_BypassEffect, kAudioUnitScope_Global, 0,
                         &bypass, sizeof bypass);
}

void stateThread(Shared* s) {
    while (!s->stopWorkers.load()) {
        {
            std::lock_guard<std::mutex> turn(s->host);
            CFPropertyListRef doc = nullptr;
            UInt32 size = sizeof doc;
            if (AudioUnitGetProperty(s->unit, kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global,
                                     0, &doc, &size) == 0 &&
                doc != nullptr) {
                if (AudioUnitSetProperty(s->unit, kAudioUnitProperty_ClassInfo,
                                         kAudioUnitScope_Global, 0, &doc, sizeof doc) == 0)
                    s->stateRoundTrips.fetch_add(1);
                else
                    s->failedCalls.fetch_add(1);
                CFRelease(doc);
            } else {
                s->failedCalls.fetch_add(1);
            }
        }
        std::this_thread::sleep_for(500us);
    }
}

void formatThread(Shared* s, Component component) {
    std::mt19937 random(19);
    const Float64 rates[] = {22050, 44100, 48000, 96000};
    while (!s->stopWorkers.load()) {
        {
            std::lock_guard<std::mutex> turn(s->host);
            if (!s->initialized) {
                const UInt32 inputs = component == Component::Plugin ? 1 + random() % 2 : 2;
                if (unithost::setFormats(s->unit, rates[random() % 4], inputs) == 0)
                    s->formatChanges.fetch_add(1);
                else
                    s->failedCalls.fetch_add(1);
            }
        }
        std::this_thread::sleep_for(1ms);
    }
}

class ConcurrencyStress : public ::testing::TestWithParam<std::tuple<Component, Entry>> {};

TEST_P(ConcurrencyStress, RenderingGoesOnWhileOtherThreadsChangeEverything) {
    const auto [component, entry] = GetParam();
    Shared s;
    OSStatus status = 0;
    s.unit = unithost::open(component, entry, &status);
    ASSERT_NE(s.unit, nullptr) << status;
    // The test unit scales by its gain: not-a-number in, not-a-number out.
    s.hostile = component == Component::Plugin;
    s.params = unithost::globalParameters(s.unit);
    ASSERT_FALSE(s.params.empty());
    unithost::Rig rig;
    ASSERT_EQ(unithost::setFormats(s.unit, 44100, 2), 0);
    ASSERT_EQ(rig.attach(s.unit), 0);

    std::vector<std::thread> workers;
    workers.emplace_back(parameterThread, &s);
    workers.emplace_back(notificationThread, &s);
    workers.emplace_back(controlThread, &s);
    workers.emplace_back(stateThread, &s);
    workers.emplace_back(formatThread, &s, component);

    constexpr int kPhases = 6;
    for (int phase = 0; phase < kPhases; ++phase) {
        std::this_thread::sleep_for(20ms); // formats change meanwhile
        {
            std::lock_guard<std::mutex> turn(s.host);
            ASSERT_EQ(AudioUnitInitialize(s.unit), 0) << "phase " << phase;
            s.initialized = true;
        }
        s.stopRender = false;
        std::thread render(renderThread, &s, &rig);
        std::this_thread::sleep_for(250ms);
        s.stopRender = true;
        render.join();
        {
            std::lock_guard<std::mutex> turn(s.host);
            ASSERT_EQ(AudioUnitUninitialize(s.unit), 0) << "phase " << phase;
            s.initialized = false;
        }
    }
    s.stopWorkers = true;
    for (std::thread& t : workers)
        t.join();

    EXPECT_GT(s.renders.load(), kPhases);
    EXPECT_EQ(s.renderErrors.load(), 0) << "first error " << s.firstRenderError.load();
    EXPECT_EQ(s.nonFinite.load(), 0);
    EXPECT_GT(s.notifications.load(), 0);
    EXPECT_GT(s.listenerCalls.load(), 0);
    EXPECT_GT(s.stateRoundTrips.load(), 0);
    EXPECT_GT(s.formatChanges.load(), 0);
    EXPECT_EQ(s.failedCalls.load(), 0);

    // The unit still works on one thread afterwards.
    ASSERT_EQ(AudioUnitInitialize(s.unit), 0);
    ASSERT_EQ(rig.render(s.unit, 512), 0);
    EXPECT_TRUE(rig.outputFinite(512));
    EXPECT_EQ(unithost::close(s.unit), 0);
}

INSTANTIATE_TEST_SUITE_P(
    ComponentsAndEntries, ConcurrencyStress,
    ::testing::Combine(::testing::Values(Component::Plugin, Component::TestUnit),
                       ::testing::Values(Entry::Factory, Entry::ComponentManager)),
    [](const auto& info) {
        return std::string(unithost::componentName(std::get<0>(info.param))) + "_" +
               unithost::entryName(std::get<1>(info.param));
    });

} // namespace
