// Instruction-set level of the processor, as the engine builds are chosen by.
//
// Levels: 0 80386, 1 SSE, 2 SSE2, 3 SSE3, 4 SSSE3, 5 SSE4.1, 6 SSE4.2 and
// POPCNT, 7 AVX with system support, 8 AVX2, 9 AVX-512F, 10 AVX-512 VL, BW, DQ.
#pragma once

// Measures the level once per process and answers the cached level after.
int instrset_detect();

// Single extensions on top of the level; each answers 0 below its minimum
// level without asking the processor.
int hasFMA3();
int hasFMA4();
int hasXOP();
int hasF16C();
int hasAVX512ER();
int hasAVX512VBMI();
int hasAVX512VBMI2();
