// The processor level and feature queries on simulated processors, and the
// vector unit read from the system's settings.
#include "LoaderTestSupport.h"

#include <loader/CAVectorUnit.h>
#include <loader/instrset.h>

#include <gtest/gtest.h>

#include <cstring>
#include <map>

using vxtest::ScopedCpu;
using vxtest::SimulatedCpu;

TEST(InstrsetDetect, EachLevelIsRecognisedAndAMissingFeatureStopsTheScaleThere) {
    for (int level = 0; level <= 10; ++level) {
        SimulatedCpu cpu = SimulatedCpu::atLevel(level);
        ScopedCpu scope(cpu);
        // Measured once: leaf 0 alone, then leaf 1, 7 and 0xD as far as it gets.
        const int first = instrset_detect(), second = instrset_detect();
        EXPECT_EQ(std::tie(first, second, cpu.cpuidCalls), std::make_tuple(level, level,
                                                                           level == 0  ? 1
                                                                           : level < 7 ? 2
                                                                           : level < 9 ? 3
                                                                                       : 4));
    }
    struct Case {
        const char* what;
        void (*change)(SimulatedCpu&);
        int expected;
        int xgetbvCalls; // -1: not counted
    };
    const Case cases[] = {
        {"no CMOV", [](SimulatedCpu& c) { c.edx1 &= ~(1u << 15); }, 0, -1},
        {"no SSE2", [](SimulatedCpu& c) { c.edx1 &= ~(1u << 26); }, 1, -1},
        {"no SSE4.1, all above present", [](SimulatedCpu& c) { c.ecx1 &= ~(1u << 19); }, 4, 0},
        {"SSE4.2 without POPCNT", [](SimulatedCpu& c) { c.ecx1 &= ~(1u << 23); }, 5, -1},
        {"AVX without OSXSAVE", [](SimulatedCpu& c) { c.ecx1 &= ~(1u << 27); }, 6, 0},
        {"OSXSAVE without AVX", [](SimulatedCpu& c) { c.ecx1 &= ~(1u << 28); }, 6, -1},
        {"AVX with YMM state off", [](SimulatedCpu& c) { c.xcr0 = 0x3; }, 6, -1},
        {"AVX with XMM state off", [](SimulatedCpu& c) { c.xcr0 = 0x5; }, 6, -1},
        {"no AVX2", [](SimulatedCpu& c) { c.ebx7 &= ~(1u << 5); }, 7, -1},
        {"AVX-512F without opmask state", [](SimulatedCpu& c) { c.eaxD &= ~0x20u; }, 8, -1},
        {"AVX-512F without ZMM state", [](SimulatedCpu& c) { c.eaxD &= ~0x40u; }, 8, -1},
        {"AVX-512 without BW", [](SimulatedCpu& c) { c.ebx7 &= ~(1u << 30); }, 9, -1},
        {"AVX-512 without VL", [](SimulatedCpu& c) { c.ebx7 &= ~(1u << 31); }, 9, -1},
        {"AVX-512 without DQ", [](SimulatedCpu& c) { c.ebx7 &= ~(1u << 17); }, 9, -1},
        // The maximum leaf is not compared against 7 or 0xD.
        {"maximum leaf 1", [](SimulatedCpu& c) { c.maxLeaf = 1; }, 10, 1},
    };
    for (const Case& c : cases) {
        SimulatedCpu cpu = SimulatedCpu::atLevel(10);
        c.change(cpu);
        ScopedCpu scope(cpu);
        const int level = instrset_detect();
        EXPECT_EQ(std::tie(level, c.xgetbvCalls < 0 ? c.xgetbvCalls : cpu.xgetbvCalls),
                  std::tie(c.expected, c.xgetbvCalls))
            << c.what;
    }
}

TEST(FeatureQueries, EachReadsItsOwnBitOnlyFromItsLevelUp) {
    struct Query {
        const char* name;
        int (*fn)();
        uint32_t SimulatedCpu::*reg;
        int bit;
        int level; // the lowest level at which it is asked
    };
    const Query queries[] = {
        {"FMA3", hasFMA3, &SimulatedCpu::ecx1, 12, 7},
        {"F16C", hasF16C, &SimulatedCpu::ecx1, 29, 7},
        {"FMA4", hasFMA4, &SimulatedCpu::ecxExt, 16, 7},
        {"XOP", hasXOP, &SimulatedCpu::ecxExt, 11, 7},
        {"AVX512ER", hasAVX512ER, &SimulatedCpu::ebx7, 27, 9},
        {"AVX512VBMI", hasAVX512VBMI, &SimulatedCpu::ecx7, 1, 10},
        {"AVX512VBMI2", hasAVX512VBMI2, &SimulatedCpu::ecx7, 6, 10},
    };
    for (const Query& q : queries) {
        for (int level : {q.level - 1, q.level}) {
            SimulatedCpu without = SimulatedCpu::atLevel(level);
            SimulatedCpu with = without;
            with.*(q.reg) |= 1u << q.bit;
            ScopedCpu scope(with);
            ASSERT_EQ(instrset_detect(), level);
            // The level is measured once, then cached; the feature is asked afresh
            // from its level up, never below, and only its own bit counts.
            const int before = with.cpuidCalls, has = q.fn(), asked = with.cpuidCalls - before;
            ScopedCpu scopeWithout(without);
            const int lacks = q.fn();
            EXPECT_EQ(std::tie(has, asked, lacks),
                      std::make_tuple(int{level == q.level}, int{level == q.level}, 0))
                << q.name << " at level " << level;
        }
    }
}

namespace {

std::map<std::string, int> gSettings;

int fakeSysctl(const char* name, void* oldp, size_t* oldlenp, void*, size_t) {
    auto it = gSettings.find(name);
    if (it == gSettings.end() || !oldp || !oldlenp || *oldlenp < sizeof(int32_t))
        return -1;
    const int32_t value = it->second;
    std::memcpy(oldp, &value, sizeof value);
    *oldlenp = sizeof value;
    return 0;
}

} // namespace

TEST(VectorUnit, ClassifiesFromTheSystemSettings) {
    vxloader::setSysctlByName(fakeSysctl);
    const std::pair<std::map<std::string, int>, int> rows[] = {
        {{}, 0},
        {{{"hw.optional.sse2", 1}}, 100},
        {{{"hw.optional.sse2", 1}, {"hw.optional.sse3", 0}}, 100}, // zero counts as absent
        {{{"hw.optional.sse3", 1}}, 101},
        {{}, 0}, // examined afresh on each call
    };
    for (const auto& [settings, type] : rows) {
        gSettings = settings;
        const int examined = CAVectorUnit_Examine();
        EXPECT_EQ(std::tie(examined, gCAVectorUnitType), std::tie(type, type));
    }
    vxloader::setSysctlByName(nullptr);
    EXPECT_EQ(CAVectorUnit_Examine(), 101) << "this machine's system reports SSE3";
}
