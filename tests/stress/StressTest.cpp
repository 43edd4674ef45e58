// Whole components through the host runtime, used the way hosts misuse them:
// a thousand open-render-close cycles, and one instance worked from several
// threads at once with hostile parameter values.
#include "UnitHost.h"

#include <gtest/gtest.h>

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <limits>
#include <mutex>
#include <random>
#include <thread>

// The sanitizer runtimes' allocator statistics, when one is linked in.
extern "C" [[gnu::weak]] size_t __sanitizer_get_current_allocated_bytes();

namespace {

using namespace std::chrono_literals;
using unithost::Component;
using unithost::Entry;

// Open descriptors, memory mappings and heap bytes in use.
struct ProcessStats {
    long files, mappings, heap;
    static ProcessStats now() {
        std::ifstream maps("/proc/self/maps");
        using Files = std::filesystem::directory_iterator;
        return {std::distance(Files("/proc/self/fd"), Files()),
                std::count(std::istreambuf_iterator<char>(maps), {}, '\n'),
                long(__sanitizer_get_current_allocated_bytes
                         ? __sanitizer_get_current_allocated_bytes()
                         : mallinfo2().uordblks)};
    }
};

// Opens, initializes and renders a unit; null after a failure.
AudioUnit openRendering(Component c, Entry e, unithost::Rig& rig, Float64 rate, UInt32 inputs) {
    OSStatus status = 0;
    AudioUnit unit = unithost::open(c, e, &status);
    EXPECT_NE(unit, nullptr) << "open: " << status;
    bool ready = unit && unithost::setFormats(unit, rate, inputs) == 0 && rig.attach(unit) == 0 &&
                 AudioUnitInitialize(unit) == 0;
    for (int block = 0; ready && block < 4; ++block)
        ready = rig.render(unit, 256) == 0 && rig.outputFinite(256);
    if (unit && !ready) {
        ADD_FAILURE() << "the unit refused formats, input, initialization or rendering";
        unithost::close(std::exchange(unit, nullptr));
    }
    return unit;
}

// Alternating entries and rates; the plug-in also takes mono input, the test
// unit only matching counts. Half the cycles close an initialized unit, half
// uninitialize first.
void cycle(Component c, int i) {
    SCOPED_TRACE("cycle " + std::to_string(i));
    unithost::Rig rig;
    AudioUnit unit = openRendering(c, i % 2 ? Entry::ComponentManager : Entry::Factory, rig,
                                   i % 2 ? 48000 : 44100, c == Component::Plugin && i % 2 ? 1 : 2);
    ASSERT_NE(unit, nullptr);
    EXPECT_EQ(i % 4 < 2 ? AudioUnitUninitialize(unit) : 0, 0);
    ASSERT_EQ(unithost::close(unit), 0);
}

// Instances open side by side, closed in another order than opened.
void crowd(Component c, int round) {
    constexpr int kInstances = 24;
    AudioUnit units[kInstances] = {};
    std::vector<unithost::Rig> rigs(kInstances);
    for (int i = 0; i < kInstances; ++i)
        ASSERT_NE(units[i] = openRendering(c, i % 2 ? Entry::ComponentManager : Entry::Factory,
                                           rigs[i], 44100, 2),
                  nullptr);
    for (int i = 0; i < kInstances; ++i) // 7 is prime to 24
        ASSERT_EQ(unithost::close(units[(i * 7 + round) % kInstances]), 0);
}

// After a warm-up (first loads, caches) nothing may grow: a module left loaded
// per instance shows in the mappings, a registry that never forgets an
// instance in the heap (the leak checker cannot see memory still reachable).
class CycleStress : public ::testing::TestWithParam<Component> {};

TEST_P(CycleStress, ThousandCyclesThroughBothEntriesLeaveNothingBehind) {
    for (int i = 0; i < 20 && !HasFatalFailure(); ++i)
        cycle(GetParam(), i);
    const ProcessStats before = ProcessStats::now();
    for (int i = 0; i < 1000 && !HasFatalFailure(); ++i)
        cycle(GetParam(), i);
    const ProcessStats after = ProcessStats::now();
    EXPECT_EQ(after.files, before.files);
    // Per-instance mappings would add thousands, a kilobyte per cycle is a
    // leak; allocators may settle a few mappings and far fewer bytes.
    EXPECT_LE(after.mappings, before.mappings + 64);
    EXPECT_LE(after.heap, before.heap + 64 * 1024);
    // Crowds of instances, closed in another order than opened, leave no file open.
    for (int round = 0; round < 4 && !HasFatalFailure(); ++round)
        crowd(GetParam(), round);
    EXPECT_EQ(ProcessStats::now().files, after.files);
}

INSTANTIATE_TEST_SUITE_P(Components, CycleStress,
                         ::testing::Values(Component::Plugin, Component::TestUnit),
                         [](const auto& info) { return unithost::componentName(info.param); });

// Values no parameter should ever make audible: not-a-number, infinities,
// huge and tiny magnitudes, negative zero, values just and far beyond range.
float hostileValue(const AudioUnitParameterInfo& r, unsigned n) {
    using Limits = std::numeric_limits<float>;
    const float nan = Limits::quiet_NaN(), sig = Limits::signaling_NaN(), inf = Limits::infinity();
    const float tiny = Limits::denorm_min(), huge = FLT_MAX, min = r.minValue, max = r.maxValue;
    const float below = min - (max - min) * 10, above = max + (max - min) * 10;
    const float values[] = {nan,  -nan,  sig,   inf,   -inf,  huge, -huge,   1e30f,   -1e30f,
                            tiny, -tiny, -0.0f, below, above, min,  min - 1, max + 1, max};
    return values[n % std::size(values)];
}

OSStatus notified(void* ref, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32, UInt32,
                  AudioBufferList*) {
    ++*static_cast<std::atomic<long>*>(ref);
    return 0;
}

void listened(void* ref, AudioUnit, AudioUnitPropertyID, AudioUnitScope, AudioUnitElement) {
    ++*static_cast<std::atomic<long>*>(ref);
}

// One instance worked from several threads at once, as hosts do: rendering
// goes on while one thread sets parameters (hostile values for the plug-in's
// engine, which takes them unchecked; the test unit just scales by its gain)
// and adds and removes render notifications, and the host's own thread
// toggles bypass and listeners, round-trips the state and, between rendering
// phases, changes rate and input channels. Property calls are the host's to
// serialize (the framework leaves listener and preset state unlocked), so they
// take turns with the phases' changes through one lock.
class ConcurrencyStress : public ::testing::TestWithParam<std::tuple<Component, Entry>> {};

TEST_P(ConcurrencyStress, RenderingGoesOnWhileOtherThreadsChangeEverything) {
    const auto [component, entry] = GetParam();
    OSStatus status = 0;
    AudioUnit unit = unithost::open(component, entry, &status);
    ASSERT_NE(unit, nullptr) << status;
    AudioUnitParameterID ids[16];
    UInt32 size = sizeof ids;
    ASSERT_EQ(AudioUnitGetProperty(unit, kAudioUnitProperty_ParameterList, kAudioUnitScope_Global,
                                   0, ids, &size),
              0);
    std::vector<AudioUnitParameterInfo> params(size / sizeof ids[0]);
    for (size_t i = 0; i < params.size(); ++i) {
        size = sizeof params[i];
        ASSERT_EQ(AudioUnitGetProperty(unit, kAudioUnitProperty_ParameterInfo,
                                       kAudioUnitScope_Global, ids[i], &params[i], &size),
                  0);
        if (params[i].flags & kAudioUnitParameterFlag_CFNameRelease)
            CFRelease(params[i].cfNameString);
    }
    unithost::Rig rig;
    ASSERT_EQ(unithost::setFormats(unit, 44100, 2), 0);
    ASSERT_EQ(rig.attach(unit), 0);

    std::mutex host;
    bool initialized = false; // under host
    std::atomic<bool> stop{false};
    std::atomic<long> renders{0}, badRenders{0}, notes[4] = {}, listens{0}, roundTrips{0},
                                                 formats{0}, failed{0};
    auto ok = [&](OSStatus s) { return s == 0 || (++failed, false); };
    std::thread parameters([&] {
        std::mt19937 random(11);
        bool added[4] = {};
        for (unsigned turn = 0; !stop; ++turn) {
            const size_t i = random() % params.size();
            const AudioUnitParameterInfo& p = params[i];
            float v = std::uniform_real_distribution<float>(p.minValue, p.maxValue)(random);
            if (component == Component::Plugin && turn % 4 == 0)
                v = hostileValue(p, random());
            ok(AudioUnitSetParameter(unit, ids[i], kAudioUnitScope_Global, 0, v, 0));
            AudioUnitGetParameter(unit, ids[i], kAudioUnitScope_Global, 0, &v);
            const unsigned k = turn % 4;
            if (turn % 64 == 0 &&
                ok(added[k] ? AudioUnitRemoveRenderNotify(unit, notified, &notes[k])
                            : AudioUnitAddRenderNotify(unit, notified, &notes[k])))
                added[k] = !added[k];
        }
    });
    std::thread serialized([&] {
        std::mt19937 random(17);
        const AudioUnitPropertyID watched[] = {kAudioUnitProperty_BypassEffect,
                                               kAudioUnitProperty_PresentPreset,
                                               kAudioUnitProperty_StreamFormat};
        const Float64 rates[] = {8000, 44100, 96000, 384000};
        for (int turn = 0; !stop; ++turn, std::this_thread::sleep_for(300us)) {
            std::lock_guard<std::mutex> guard(host);
            const AudioUnitPropertyID id = watched[random() % 3];
            AudioUnitAddPropertyListener(unit, id, listened, &listens);
            const UInt32 bypass = random() % 2;
            ok(AudioUnitSetProperty(unit, kAudioUnitProperty_BypassEffect, kAudioUnitScope_Global,
                                    0, &bypass, sizeof bypass));
            if (random() % 2)
                AudioUnitRemovePropertyListenerWithUserData(unit, id, listened, &listens);
            CFPropertyListRef doc = nullptr;
            UInt32 docSize = sizeof doc;
            if (turn % 2 && ok(AudioUnitGetProperty(unit, kAudioUnitProperty_ClassInfo,
                                                    kAudioUnitScope_Global, 0, &doc, &docSize))) {
                roundTrips += ok(AudioUnitSetProperty(unit, kAudioUnitProperty_ClassInfo,
                                                      kAudioUnitScope_Global, 0, &doc, sizeof doc));
                CFRelease(doc);
            }
            const UInt32 inputs = component == Component::Plugin ? 1 + random() % 2 : 2;
            if (!initialized && turn % 3 == 0)
                formats += ok(unithost::setFormats(unit, rates[random() % 4], inputs));
        }
    });
    for (int phase = 0; phase < 6; ++phase) {
        std::this_thread::sleep_for(20ms); // formats change meanwhile
        {
            std::lock_guard<std::mutex> guard(host);
            EXPECT_EQ(AudioUnitInitialize(unit), 0) << "phase " << phase;
            initialized = true;
        }
        std::atomic<bool> stopRender{false};
        std::thread render([&] {
            std::mt19937 random(7);
            for (UInt32 frames = 64; !stopRender; ++renders, frames = 64 + random() % 960)
                badRenders += rig.render(unit, frames) != 0 || !rig.outputFinite(frames);
        });
        std::this_thread::sleep_for(250ms);
        stopRender = true;
        render.join();
        std::lock_guard<std::mutex> guard(host);
        EXPECT_EQ(AudioUnitUninitialize(unit), 0) << "phase " << phase;
        initialized = false;
    }
    stop = true;
    parameters.join();
    serialized.join();
    // Renders that failed or put out samples not finite, calls refused.
    EXPECT_EQ(std::make_pair(badRenders.load(), failed.load()), std::make_pair(0L, 0L));
    // Every kind of work happened.
    const long noted = notes[0] + notes[1] + notes[2] + notes[3];
    EXPECT_TRUE(renders > 6 && noted && listens && roundTrips && formats)
        << renders << " " << noted << " " << listens << " " << roundTrips << " " << formats;
    // The unit still works on one thread afterwards.
    ASSERT_EQ(AudioUnitInitialize(unit), 0);
    EXPECT_TRUE(rig.render(unit, 512) == 0 && rig.outputFinite(512));
    EXPECT_EQ(unithost::close(unit), 0);
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
