#include "LoaderTestSupport.h"

#include <loader/CAVectorUnit.h>
#include <loader/instrset.h>

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

using vxtest::ScopedCpu;
using vxtest::SimulatedCpu;

TEST(InstrsetDetect, EveryLevelOfTheScaleIsRecognised) {
    for (int level = 0; level <= 10; ++level) {
        SimulatedCpu cpu = SimulatedCpu::atLevel(level);
        ScopedCpu scope(cpu);
        EXPECT_EQ(instrset_detect(), level)
            << "processor with exactly the level-" << level << " features";
    }
}

TEST(InstrsetDetect, MaximumLeafZeroStopsAtLevelZeroAndCachesIt) {
    SimulatedCpu cpu = SimulatedCpu::atLevel(0);
    ScopedCpu scope(cpu);
    EXPECT_EQ(instrset_detect(), 0);
    EXPECT_EQ(cpu.cpuidCalls, 1) << "nothing beyond leaf 0 may be asked";
    EXPECT_EQ(instrset_detect(), 0);
    EXPECT_EQ(cpu.cpuidCalls, 1) << "the cached 0 must be answered without a query";
}

TEST(InstrsetDetect, AFeatureAboveAMissingOneDoesNotCount) {
    // SSE4.1 missing, everything above present: the scale stops at SSSE3.
    SimulatedCpu cpu = SimulatedCpu::atLevel(10);
    cpu.ecx1 &= ~(1u << 19);
    ScopedCpu scope(cpu);
    EXPECT_EQ(instrset_detect(), 4);
    EXPECT_EQ(cpu.xgetbvCalls, 0);
}

TEST(InstrsetDetect, PartialMasksFailTheirLevel) {
    struct Case {
        const char* what;
        void (*change)(SimulatedCpu&);
        int expected;
    };
    const Case cases[] = {
        {"no CMOV", [](SimulatedCpu& c) { c.edx1 &= ~(1u << 15); }, 0},
        {"no SSE2", [](SimulatedCpu& c) { c.edx1 &= ~(1u << 26); }, 1},
        {"SSE4.2 without POPCNT", [](SimulatedCpu& c) { c.ecx1 &= ~(1u << 23); }, 5},
        {"AVX without OSXSAVE", [](SimulatedCpu& c) { c.ecx1 &= ~(1u << 27); }, 6},
        {"OSXSAVE without AVX", [](SimulatedCpu& c) { c.ecx1 &= ~(1u << 28); }, 6},
        {"AVX with YMM state off", [](SimulatedCpu& c) { c.xcr0 = 0x3; }, 6},
        {"AVX with XMM state off", [](SimulatedCpu& c) { c.xcr0 = 0x5; }, 6},
        {"no AVX2", [](SimulatedCpu& c) { c.ebx7 &= ~(1u << 5); }, 7},
        {"AVX-512F without opmask state", [](SimulatedCpu& c) { c.eaxD &= ~0x20u; }, 8},
        {"AVX-512F without ZMM state", [](SimulatedCpu& c) { c.eaxD &= ~0x40u; }, 8},
        {"AVX-512 without BW", [](SimulatedCpu& c) { c.ebx7 &= ~(1u << 30); }, 9},
        {"AVX-512 without VL", [](SimulatedCpu& c) { c.ebx7 &= ~(1u << 31); }, 9},
        {"AVX-512 without DQ", [](SimulatedCpu& c) { c.ebx7 &= ~(1u << 17); }, 9},
    };
    for (const Case& c : cases) {
        SimulatedCpu cpu = SimulatedCpu::atLevel(10);
        c.change(cpu);
        ScopedCpu scope(cpu);
        EXPECT_EQ(instrset_detect(), c.expected) << c.what;
    }
}

TEST(InstrsetDetect, XgetbvOnlyAfterOsxsaveAndHighLeavesDespiteLowMaximum) {
    {
        SimulatedCpu cpu = SimulatedCpu::atLevel(6);
        cpu.ecx1 |= 1u << 28; // AVX reported, but the system never enabled XSAVE
        ScopedCpu scope(cpu);
        EXPECT_EQ(instrset_detect(), 6);
        EXPECT_EQ(cpu.xgetbvCalls, 0);
    }
    {
        // The maximum leaf is not compared against 7 or 0xD.
        SimulatedCpu cpu = SimulatedCpu::atLevel(10);
        cpu.maxLeaf = 1;
        ScopedCpu scope(cpu);
        EXPECT_EQ(instrset_detect(), 10);
    }
}

TEST(InstrsetDetect, SecondCallAsksTheProcessorNothing) {
    SimulatedCpu cpu = SimulatedCpu::atLevel(10);
    ScopedCpu scope(cpu);
    ASSERT_EQ(instrset_detect(), 10);
    const int cpuid = cpu.cpuidCalls;
    const int xgetbv = cpu.xgetbvCalls;
    EXPECT_EQ(cpuid, 4) << "leaves 0, 1, 7 and 0xD";
    EXPECT_EQ(xgetbv, 1);
    // A different processor now would still see the measured level.
    cpu.ebx7 = 0;
    EXPECT_EQ(instrset_detect(), 10);
    EXPECT_EQ(cpu.cpuidCalls, cpuid);
    EXPECT_EQ(cpu.xgetbvCalls, xgetbv);
}

TEST(InstrsetDetect, RealProcessorAgreesWithTheCompilersView) {
    vxloader::resetInstrsetCache();
    const int level = instrset_detect();
    vxloader::resetInstrsetCache();
    EXPECT_GE(level, 2) << "every x86-64 processor has SSE2";
    EXPECT_EQ(level >= 6, __builtin_cpu_supports("sse4.2") && __builtin_cpu_supports("popcnt"));
    EXPECT_EQ(level >= 8, __builtin_cpu_supports("avx2") != 0);
    EXPECT_EQ(level >= 10, __builtin_cpu_supports("avx512bw") &&
                               __builtin_cpu_supports("avx512vl") &&
                               __builtin_cpu_supports("avx512dq"));
}

TEST(FeatureQueries, BelowTheirLevelTheyAnswerZeroWithoutAsking) {
    SimulatedCpu cpu = SimulatedCpu::atLevel(9);
    cpu.ecx7 = ~0u; // VBMI and VBMI2 bits set
    cpu.ebx7 |= 1u << 27;
    ScopedCpu scope(cpu);
    ASSERT_EQ(instrset_detect(), 9);
    const int before = cpu.cpuidCalls;
    EXPECT_EQ(hasAVX512VBMI(), 0);
    EXPECT_EQ(hasAVX512VBMI2(), 0);
    EXPECT_EQ(cpu.cpuidCalls, before);
    EXPECT_EQ(hasAVX512ER(), 1) << "ER needs only level 9";
    EXPECT_EQ(cpu.cpuidCalls, before + 1) << "each answer asks the processor afresh";
}

TEST(FeatureQueries, EachReadsItsOwnBit) {
    struct Query {
        const char* name;
        int (*fn)();
        uint32_t SimulatedCpu::*reg;
        int bit;
    };
    const Query queries[] = {
        {"FMA3", hasFMA3, &SimulatedCpu::ecx1, 12},
        {"F16C", hasF16C, &SimulatedCpu::ecx1, 29},
        {"FMA4", hasFMA4, &SimulatedCpu::ecxExt, 16},
        {"XOP", hasXOP, &SimulatedCpu::ecxExt, 11},
        {"AVX512ER", hasAVX512ER, &SimulatedCpu::ebx7, 27},
        {"AVX512VBMI", hasAVX512VBMI, &SimulatedCpu::ecx7, 1},
        {"AVX512VBMI2", hasAVX512VBMI2, &SimulatedCpu::ecx7, 6},
    };
    for (const Query& q : queries) {
        SimulatedCpu without = SimulatedCpu::atLevel(10);
        {
            ScopedCpu scope(without);
            EXPECT_EQ(q.fn(), 0) << q.name << " without its bit";
        }
        SimulatedCpu with = SimulatedCpu::atLevel(10);
        with.*(q.reg) |= 1u << q.bit;
        {
            ScopedCpu scope(with);
            EXPECT_EQ(q.fn(), 1) << q.name << " with its bit";
        }
    }
    // The level-7 queries answer 0 on a level-6 processor even with the bit.
    SimulatedCpu sse = SimulatedCpu::atLevel(6);
    sse.ecx1 |= (1u << 12) | (1u << 29);
    ScopedCpu scope(sse);
    EXPECT_EQ(hasFMA3(), 0);
    EXPECT_EQ(hasF16C(), 0);
}

namespace {

std::map<std::string, int> gSettings;

int fakeSysctl(const char* name, void* oldp, size_t* oldlenp, void*, size_t) {
    auto it = gSettings.find(name);
    if (it == gSettings.end())
        return -1;
    if (!oldp || !oldlenp || *oldlenp < sizeof(int32_t))
        return -1;
    const int32_t value = it->second;
    std::memcpy(oldp, &value, sizeof value);
    *oldlenp = sizeof value;
    return 0;
}

} // namespace

TEST(VectorUnit, ClassifiesFromTheSystemSettings) {
    vxloader::setSysctlByName(fakeSysctl);
    gSettings = {};
    EXPECT_EQ(CAVectorUnit_Examine(), 0) << "both settings absent";
    EXPECT_EQ(gCAVectorUnitType, 0);
    gSettings = {{"hw.optional.sse2", 1}};
    EXPECT_EQ(CAVectorUnit_Examine(), 100);
    gSettings = {{"hw.optional.sse2", 1}, {"hw.optional.sse3", 0}};
    EXPECT_EQ(CAVectorUnit_Examine(), 100) << "a zero setting counts as absent";
    gSettings = {{"hw.optional.sse3", 1}};
    EXPECT_EQ(CAVectorUnit_Examine(), 101);
    EXPECT_EQ(gCAVectorUnitType, 101);
    gSettings = {};
    EXPECT_EQ(CAVectorUnit_Examine(), 0) << "examined afresh on each call";
    vxloader::setSysctlByName(nullptr);
    EXPECT_EQ(CAVectorUnit_Examine(), 101) << "this machine's system reports SSE3";
}
