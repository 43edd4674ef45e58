#include "loader/instrset.h"

#include "loader/CpuQuery.h"

#include <cstdint>

namespace {

// The measured level; -1 until the first detection. Written only while an
// instance is being opened, which the component open lock serialises.
int iset = -1;

bool allSet(int value, uint32_t mask) {
    return (static_cast<uint32_t>(value) & mask) == mask;
}

} // namespace

void vxloader::resetInstrsetCache() {
    iset = -1;
}

int instrset_detect() {
    if (iset >= 0)
        return iset;
    iset = 0;
    int abcd[4] = {0, 0, 0, 0};
    vxloader::cpuid(abcd, 0);
    if (abcd[0] == 0)
        return iset;
    vxloader::cpuid(abcd, 1);
    const int ecx1 = abcd[2];
    const int edx1 = abcd[3];
    // x87, CMOV, MMX, FXSAVE and SSE.
    if (!allSet(edx1, 0x3808001))
        return iset;
    iset = 1;
    if (!allSet(edx1, 1u << 26))
        return iset;
    iset = 2;
    if (!allSet(ecx1, 1u << 0))
        return iset;
    iset = 3;
    if (!allSet(ecx1, 1u << 9))
        return iset;
    iset = 4;
    if (!allSet(ecx1, 1u << 19))
        return iset;
    iset = 5;
    // SSE4.2 and POPCNT.
    if (!allSet(ecx1, 0x900000))
        return iset;
    iset = 6;
    // XGETBV exists only once the system has enabled it (OSXSAVE).
    if (!allSet(ecx1, 1u << 27))
        return iset;
    if (!allSet(ecx1, 1u << 28) || (vxloader::xgetbv(0) & 6) != 6)
        return iset;
    iset = 7;
    vxloader::cpuid(abcd, 7);
    const int ebx7 = abcd[1];
    if (!allSet(ebx7, 1u << 5))
        return iset;
    iset = 8;
    if (!allSet(ebx7, 1u << 16))
        return iset;
    // The system must save the opmask and ZMM state.
    vxloader::cpuid(abcd, 0xD);
    if (!allSet(abcd[0], 0x60))
        return iset;
    // VL, BW and DQ.
    iset = allSet(ebx7, 0xC0020000) ? 10 : 9;
    return iset;
}

namespace {

int featureBit(int minimumLevel, int leaf, int reg, int bit) {
    if (instrset_detect() < minimumLevel)
        return 0;
    int abcd[4] = {0, 0, 0, 0};
    vxloader::cpuid(abcd, leaf);
    return (static_cast<uint32_t>(abcd[reg]) >> bit) & 1;
}

enum { EAX, EBX, ECX, EDX };

} // namespace

int hasFMA3() {
    return featureBit(7, 1, ECX, 12);
}
int hasFMA4() {
    return featureBit(7, static_cast<int>(0x80000001), ECX, 16);
}
int hasXOP() {
    return featureBit(7, static_cast<int>(0x80000001), ECX, 11);
}
int hasF16C() {
    return featureBit(7, 1, ECX, 29);
}
int hasAVX512ER() {
    return featureBit(9, 7, EBX, 27);
}
int hasAVX512VBMI() {
    return featureBit(10, 7, ECX, 1);
}
int hasAVX512VBMI2() {
    return featureBit(10, 7, ECX, 6);
}
