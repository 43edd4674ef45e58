// Fixed slot tables with linear lookup.
#include "NSVextra/FastMap.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include <emmintrin.h>

namespace NSVextra {

namespace {
constexpr std::size_t kSlotAlignment = 16;
}

FastIntMap::~FastIntMap() {
    release();
}

void FastIntMap::allocate(int n) {
    if (n <= 0 || n > INT_MAX / static_cast<int>(sizeof(unsigned long long)))
        return;
    unsigned long long keyCount = m_keyCount;
    release();
    // aligned_alloc wants a multiple of the alignment; the extra slot at most
    // is never used.
    std::size_t bytes = static_cast<std::size_t>(n) * sizeof(unsigned long long);
    std::size_t rounded = (bytes + kSlotAlignment - 1) / kSlotAlignment * kSlotAlignment;
    void* memory = std::aligned_alloc(kSlotAlignment, rounded);
    if (!memory)
        return;
    std::memset(memory, 0, rounded);
    m_pSlots = static_cast<unsigned long long*>(memory);
    m_capacity = static_cast<unsigned long long>(n);
    setKeyCount(keyCount);
}

void FastIntMap::release() {
    std::free(m_pSlots);
    m_pSlots = nullptr;
    m_capacity = 0;
    m_keyCount = 0;
}

void FastIntMap::setKeyCount(unsigned long long count) {
    m_keyCount = count < m_capacity ? count : m_capacity;
}

void FastIntMap::setKey(unsigned long long slot, unsigned long long key) {
    if (slot < m_keyCount)
        m_pSlots[slot] = key;
}

namespace {

// Two slots against the key at once: bit 0 for the first slot, bit 1 for the
// second. SSE2 has no 64-bit compare, so both 32-bit halves must match.
inline int matchPair(const unsigned long long* slots, __m128i key) {
    const __m128i v = _mm_load_si128(reinterpret_cast<const __m128i*>(slots));
    __m128i eq = _mm_cmpeq_epi32(v, key);
    eq = _mm_and_si128(eq, _mm_shuffle_epi32(eq, _MM_SHUFFLE(2, 3, 0, 1)));
    return _mm_movemask_pd(_mm_castsi128_pd(eq));
}

} // namespace

unsigned long long FastIntMap::findKey(unsigned long long key) const {
    // Eight slots per step with one branch, instead of a branch per slot
    // whose exit the processor cannot predict. The slot array is 16-byte
    // aligned, so each pair is one aligned load.
    const unsigned long long* slots = m_pSlots;
    const unsigned long long n = m_keyCount;
    unsigned long long slot = 0;
    const __m128i k = _mm_set1_epi64x(static_cast<long long>(key));
    for (; slot + 8 <= n; slot += 8) {
        const int mask = matchPair(slots + slot, k) | (matchPair(slots + slot + 2, k) << 2) |
                         (matchPair(slots + slot + 4, k) << 4) |
                         (matchPair(slots + slot + 6, k) << 6);
        if (mask != 0)
            return slot +
                   static_cast<unsigned long long>(__builtin_ctz(static_cast<unsigned>(mask)));
    }
    for (; slot < n; ++slot) {
        if (slots[slot] == key)
            return slot;
    }
    return kNotFound;
}

namespace {

// Bytes count as signed: 0x80..0xFF add -128..-1, which wraps.
inline unsigned long long signedByte(char c) {
    return static_cast<unsigned long long>(static_cast<long long>(static_cast<signed char>(c)));
}

} // namespace

unsigned long long FastStringMap::hash(const std::string& s) {
    // h = h * 65599 + byte, four bytes per step: in wrapping arithmetic
    // h * P^4 + b0 * P^3 + b1 * P^2 + b2 * P + b3 is exactly four single
    // steps, but only one multiplication per step waits for the previous h.
    constexpr unsigned long long P1 = 65599ULL;
    constexpr unsigned long long P2 = P1 * P1;
    constexpr unsigned long long P3 = P2 * P1;
    constexpr unsigned long long P4 = P3 * P1;
    const char* p = s.data();
    const std::size_t n = s.size();
    unsigned long long h = 0;
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        h = h * P4 + signedByte(p[i]) * P3 + signedByte(p[i + 1]) * P2 + signedByte(p[i + 2]) * P1 +
            signedByte(p[i + 3]);
    }
    for (; i < n; ++i)
        h = h * P1 + signedByte(p[i]);
    return h;
}

void FastStringMap::setKey(unsigned long long slot, const std::string& s) {
    FastIntMap::setKey(slot, hash(s));
}

unsigned long long FastStringMap::findKey(const std::string& s) const {
    if (m_capacity == 0)
        return kNotFound;
    return FastIntMap::findKey(hash(s));
}

} // namespace NSVextra
