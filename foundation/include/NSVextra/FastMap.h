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

#include <string>

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

} // namespace NSVextra
