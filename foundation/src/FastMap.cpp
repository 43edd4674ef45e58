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

void FastStringMap::setKey(unsigned long long slot, const std::string& s) {
    FastIntMap::setKey(slot, hash(s));
}

} // namespace NSVextra
