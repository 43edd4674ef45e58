// Fixed slot tables with linear lookup.
#include "NSVextra/FastMap.h"

#include <climits>
#include <cstdlib>
#include <cstring>

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

unsigned long long FastIntMap::findKey(unsigned long long key) const {
    for (unsigned long long slot = 0; slot < m_keyCount; ++slot) {
        if (m_pSlots[slot] == key)
            return slot;
    }
    return kNotFound;
}

unsigned long long FastStringMap::hash(const std::string& s) {
    unsigned long long h = 0;
    for (char c : s) {
        // Bytes count as signed: 0x80..0xFF add -128..-1, which wraps.
        long long byte = static_cast<signed char>(c);
        h = h * 65599ULL + static_cast<unsigned long long>(byte);
    }
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
