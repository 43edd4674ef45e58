// A thousand open, initialize, render, close cycles of a component through
// both entry points. After a warm-up (first loads, caches, thread-local
// state) nothing may grow: open files, memory mappings (a module left loaded
// per instance shows here) and heap bytes in use (a registry that never
// forgets an instance shows here, which the leak checker at exit cannot see
// as long as the memory stays reachable).
#include "UnitHost.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <malloc.h>

#include <fstream>
#include <string>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VX_SANITIZER_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VX_SANITIZER_ALLOCATOR 1
#endif
#endif

#ifdef VX_SANITIZER_ALLOCATOR
// The sanitizer runtimes' allocator statistics (declared here because not
// every compiler ships the header that declares them).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

using unithost::Component;
using unithost::Entry;

// What the process holds: open descriptors, memory mappings, and heap bytes
// in use (as the sanitizer's allocator or the C library counts them).
struct ProcessStats {
    int openFiles = 0;
    int mappings = 0;
    size_t heapBytes = 0;

    static ProcessStats now() {
        ProcessStats s;
        if (DIR* dir = opendir("/proc/self/fd")) {
            while (dirent* e = readdir(dir))
                s.openFiles += e->d_name[0] != '.';
            closedir(dir);
        }
        std::ifstream maps("/proc/self/maps");
        for (std::string line; std::getline(maps, line);)
            ++s.mappings;
#ifdef VX_SANITIZER_ALLOCATOR
        s.heapBytes = __sanitizer_get_current_allocated_bytes();
#else
        s.heapBytes = mallinfo2().uordblks;
#endif
        return s;
    }
};

void cycle(Component component, Entry entry, int index) {
    OSStatus status = 0;
    AudioUnit unit = unithost::open(component, entry, &status);
    ASSERT_NE(unit, nullptr) << "open " << index << ": " << status;
    unithost::Rig rig;
    // The plug-in also takes mono input; the test unit only matching counts.
    const UInt32 inputs = component == Component::Plugin && index % 2 ? 1 : 2;
    ASSERT_EQ(unithost::setFormats(unit, index % 2 ? 48000 : 44100, inputs), 0);
    ASSERT_EQ(rig.attach(unit), 0);
    ASSERT_EQ(AudioUnitInitialize(unit), 0) << "cycle " << index;
    for (int block = 0; block < 4; ++block) {
        ASSERT_EQ(rig.render(unit, 256), 0) << "cycle " << index;
        ASSERT_TRUE(rig.outputFinite(256));
    }
    // Half the cycles close an initialized unit, half uninitialize first.
    if (index % 4 < 2) {
        ASSERT_EQ(AudioUnitUninitialize(unit), 0);
    }
    ASSERT_EQ(unithost::close(unit), 0) << "cycle " << index;
}

class CycleStress : public ::testing::TestWithParam<Component> {};

TEST_P(CycleStress, ThousandCyclesThroughBothEntriesLeaveNothingBehind) {
    const Component component = GetParam();
    constexpr int kWarmUp = 20;
    constexpr int kCycles = 1000;
    for (int i = 0; i < kWarmUp; ++i) {
        cycle(component, i % 2 ? Entry::ComponentManager : Entry::Factory, i);
        if (HasFatalFailure())
            return;
    }
    const ProcessStats before = ProcessStats::now();
    for (int i = 0; i < kCycles; ++i) {
        cycle(component, i % 2 ? Entry::ComponentManager : Entry::Factory, i);
        if (HasFatalFailure())
            return;
    }
    const ProcessStats after = ProcessStats::now();

    EXPECT_EQ(after.openFiles, before.openFiles);
    // A module or buffer mapped per instance would add thousands of lines;
    // the allocators (the sanitizers' included) may settle a few regions.
    EXPECT_LE(after.mappings, before.mappings + 64)
        << "mappings went from " << before.mappings << " to " << after.mappings;
    // Well under one byte per cycle on average would be noise; a kilobyte
    // per cycle is a leak.
    EXPECT_LE(after.heapBytes, before.heapBytes + 64 * 1024)
        << "heap in use went from " << before.heapBytes << " to " << after.heapBytes;
}

INSTANTIATE_TEST_SUITE_P(Components, CycleStress,
                         ::testing::Values(Component::Plugin, Component::TestUnit),
                         [](const auto& info) { return unithost::componentName(info.param); });

// Instances open side by side, closed in another order than opened.
TEST(CycleStress, ManyInstancesAtOnceCloseInAnyOrder) {
    constexpr int kInstances = 24;
    // The first load of each bundle opens its log for good.
    for (int i = 0; i < 4; ++i)
        cycle(i < 2 ? Component::Plugin : Component::TestUnit,
              i % 2 ? Entry::ComponentManager : Entry::Factory, i);
    const ProcessStats before = ProcessStats::now();
    for (int round = 0; round < 5; ++round) {
        AudioUnit units[kInstances] = {};
        unithost::Rig rigs[kInstances];
        for (int i = 0; i < kInstances; ++i) {
            const Component c = i % 3 ? Component::Plugin : Component::TestUnit;
            units[i] = unithost::open(c, i % 2 ? Entry::ComponentManager : Entry::Factory);
            ASSERT_NE(units[i], nullptr);
            ASSERT_EQ(unithost::setFormats(units[i], 44100, 2), 0);
            ASSERT_EQ(rigs[i].attach(units[i]), 0);
            ASSERT_EQ(AudioUnitInitialize(units[i]), 0);
        }
        for (int i = 0; i < kInstances; ++i)
            ASSERT_EQ(rigs[i].render(units[i], 512), 0);
        for (int i = 0; i < kInstances; ++i) {
            const int k = (i * 7 + round) % kInstances; // 7 is prime to 24
            ASSERT_EQ(unithost::close(units[k]), 0);
        }
    }
    const ProcessStats after = ProcessStats::now();
    EXPECT_EQ(after.openFiles, before.openFiles);
}

} // namespace
