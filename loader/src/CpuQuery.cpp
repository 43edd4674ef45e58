#include "loader/CpuQuery.h"

#include <cpuid.h>

namespace vxloader {
namespace {

void hardwareCpuid(void*, int regs[4], int leaf, int subleaf) {
    unsigned a = 0, b = 0, c = 0, d = 0;
    __cpuid_count(static_cast<unsigned>(leaf), static_cast<unsigned>(subleaf), a, b, c, d);
    regs[0] = static_cast<int>(a);
    regs[1] = static_cast<int>(b);
    regs[2] = static_cast<int>(c);
    regs[3] = static_cast<int>(d);
}

// Written as an instruction rather than the intrinsic so this file needs no
// XSAVE code-generation flag; callers only reach it once OSXSAVE is seen.
uint64_t hardwareXgetbv(void*, int ctr) {
    uint32_t lo = 0, hi = 0;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(ctr));
    return (static_cast<uint64_t>(hi) << 32) | lo;
}

const CpuQuery kHardware{hardwareCpuid, hardwareXgetbv, nullptr};
const CpuQuery* gQuery = &kHardware;

} // namespace

const CpuQuery& hardwareCpuQuery() {
    return kHardware;
}

void setCpuQuery(const CpuQuery* query) {
    gQuery = query ? query : &kHardware;
}

void cpuid(int regs[4], int leaf, int subleaf) {
    gQuery->cpuid(gQuery->context, regs, leaf, subleaf);
}

uint64_t xgetbv(int ctr) {
    return gQuery->xgetbv(gQuery->context, ctr);
}

} // namespace vxloader
