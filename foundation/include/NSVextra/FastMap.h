// Small fixed tables that map keys to slot numbers without allocating after
// setup.
//
// The owner allocates a number of slots once, says how many of them are in
// use (setKeyCount), stores one key per slot under a slot number of its own
// choosing and later asks which slot holds a key. A lookup is a linear scan in
// slot order: meant for small tables on hot paths, not for large sets.
//
// An empty slot holds 0, so a key of 0 (for FastStringMap, the empty string)
// cannot be told apart from an unused slot.
#pragma once

#include <cstddef>
#include <string>

#include <emmintrin.h>

namespace NSVextra {

class FastIntMap {
public:
    // Returned by findKey when no slot holds the key.
    static constexpr unsigned long long kNotFound = ~0ULL;

    FastIntMap() = default;
    ~FastIntMap();

    FastIntMap(const FastIntMap&) = delete;
    FastIntMap& operator=(const FastIntMap&) = delete;

    // Allocates n zeroed slots (16-byte aligned), replacing any earlier ones.
    // n = 0 does nothing; a negative n, or one whose byte size overflows a
    // signed 32-bit int, is refused like 0. If the memory cannot be had the map
    // is left empty. The key count is clamped to the new capacity.
    void allocate(int n);

    // Frees the slots; the map is empty again.
    void release();

    // Number of slots in use, at most the capacity; setKey and findKey work on
    // slots below it. Larger values are clamped to the capacity.
    void setKeyCount(unsigned long long count);

    unsigned long long capacity() const { return m_capacity; }
    unsigned long long keyCount() const { return m_keyCount; }

    // Stores `key` in `slot` when the slot is below the key count.
    void setKey(unsigned long long slot, unsigned long long key);

    // The lowest slot below the key count holding `key`, or kNotFound.
    // Defined inline below: a lookup in a small table costs about as much as
    // a call, so callers get it without one.
    unsigned long long findKey(unsigned long long key) const;

protected:
    unsigned long long m_capacity = 0;
    unsigned long long m_keyCount = 0;
    unsigned long long* m_pSlots = nullptr;
};

// Keys are strings, reduced to a 64-bit hash; two strings with the same hash
// are the same key.
class FastStringMap : public FastIntMap {
public:
    // h = h * 65599 + byte over the string's bytes taken as signed 8-bit
    // values, in wrapping 64-bit arithmetic, starting from 0.
    static unsigned long long hash(const std::string& s);

    // Stores hash(s) in `slot` when the slot is below the key count.
    void setKey(unsigned long long slot, const std::string& s);

    // The lowest slot below the key count holding hash(s), or kNotFound.
    unsigned long long findKey(const std::string& s) const;
};

namespace detail {

// The low 32-bit halves of four slots (slots[0..3], 16-byte aligned)
// compared with the key's low half: one lane per slot.
inline __m128i lowHalvesEqual(const unsigned long long* slots, __m128i keyLow) {
    const float* f = reinterpret_cast<const float*>(slots);
    const __m128 lows = _mm_shuffle_ps(_mm_load_ps(f), _mm_load_ps(f + 4), _MM_SHUFFLE(2, 0, 2, 0));
    return _mm_cmpeq_epi32(_mm_castps_si128(lows), keyLow);
}

// Bytes count as signed: 0x80..0xFF add -128..-1, which wraps.
inline unsigned long long signedByte(char c) {
    return static_cast<unsigned long long>(static_cast<long long>(static_cast<signed char>(c)));
}

} // namespace detail

inline unsigned long long FastIntMap::findKey(unsigned long long key) const {
    // Sixteen slots per step with one branch: the low halves of the slots are
    // gathered into four vectors and compared with the key's low half in one
    // go; only slots whose low half matches are compared in full. The slot
    // array is 16-byte aligned and steps start at multiples of 16 slots, so
    // every load is aligned and stays below the key count.
    const unsigned long long* slots = m_pSlots;
    const unsigned long long n = m_keyCount;
    unsigned long long slot = 0;
    const __m128i low = _mm_set1_epi32(static_cast<int>(static_cast<unsigned>(key)));
    for (; slot + 16 <= n; slot += 16) {
        const unsigned long long* s = slots + slot;
        const __m128i a = _mm_packs_epi32(detail::lowHalvesEqual(s, low),
                                          detail::lowHalvesEqual(s + 4, low));
        const __m128i b = _mm_packs_epi32(detail::lowHalvesEqual(s + 8, low),
                                          detail::lowHalvesEqual(s + 12, low));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(a, b)));
        while (mask != 0) {
            const unsigned j = static_cast<unsigned>(__builtin_ctz(mask));
            if (s[j] == key)
                return slot + j;
            mask &= mask - 1;
        }
    }
    for (; slot < n; ++slot) {
        if (slots[slot] == key)
            return slot;
    }
    return kNotFound;
}

inline unsigned long long FastStringMap::hash(const std::string& s) {
    // h = h * 65599 + byte, eight bytes per step: in wrapping arithmetic
    // h * P^8 + b0 * P^7 + ... + b7 is exactly eight single steps, but only
    // one multiplication per step waits for the previous h.
    using detail::signedByte;
    constexpr unsigned long long P1 = 65599ULL;
    constexpr unsigned long long P2 = P1 * P1;
    constexpr unsigned long long P3 = P2 * P1;
    constexpr unsigned long long P4 = P3 * P1;
    constexpr unsigned long long P5 = P4 * P1;
    constexpr unsigned long long P6 = P5 * P1;
    constexpr unsigned long long P7 = P6 * P1;
    constexpr unsigned long long P8 = P7 * P1;
    const char* p = s.data();
    const std::size_t n = s.size();
    unsigned long long h = 0;
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        h = h * P8 + signedByte(p[i]) * P7 + signedByte(p[i + 1]) * P6 + signedByte(p[i + 2]) * P5 +
            signedByte(p[i + 3]) * P4 + signedByte(p[i + 4]) * P3 + signedByte(p[i + 5]) * P2 +
            signedByte(p[i + 6]) * P1 + signedByte(p[i + 7]);
    }
    if (i + 4 <= n) {
        h = h * P4 + signedByte(p[i]) * P3 + signedByte(p[i + 1]) * P2 + signedByte(p[i + 2]) * P1 +
            signedByte(p[i + 3]);
        i += 4;
    }
    for (; i < n; ++i)
        h = h * P1 + signedByte(p[i]);
    return h;
}

inline unsigned long long FastStringMap::findKey(const std::string& s) const {
    if (m_capacity == 0)
        return kNotFound;
    return FastIntMap::findKey(hash(s));
}

} // namespace NSVextra
