// The one place where instruction-set detection touches the processor.
//
// Detection runs CPUID and XGETBV only through the query installed here, so a
// test can stand in a simulated processor (and count the queries) while the
// plug-in always runs on the real one.
#pragma once

#include <cstdint>

namespace vxloader {

struct CpuQuery {
    // Fills regs with EAX, EBX, ECX, EDX of CPUID for the leaf and sub-leaf.
    void (*cpuid)(void* context, int regs[4], int leaf, int subleaf);
    // Returns the extended control register ctr (XGETBV).
    uint64_t (*xgetbv)(void* context, int ctr);
    void* context;
};

// The processor this code runs on.
const CpuQuery& hardwareCpuQuery();

// Installs a query for every later detection; null restores the hardware.
// The query must outlive its use.
void setCpuQuery(const CpuQuery* query);

// Runs CPUID / XGETBV through the installed query.
void cpuid(int regs[4], int leaf, int subleaf = 0);
uint64_t xgetbv(int ctr);

// Forgets the measured instruction-set level so the next detection measures
// again. Only a test that swaps processors needs this.
void resetInstrsetCache();

} // namespace vxloader
