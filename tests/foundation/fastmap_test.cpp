// Slot maps: which slots hold keys, reallocation and string lookups. The hash
// and the lowest-slot scan are checked against their plain definitions in
// tests/perf.
#include "NSVextra/FastMap.h"

#include "support.h"

using namespace NSVextra;

namespace {

constexpr unsigned long long kNone = ~0ULL;

struct InspectableIntMap : FastIntMap {
    const void* slots() const { return m_pSlots; }
};

// The slot each key is found in, kNone when it is not.
template <typename Map, typename Key>
std::vector<unsigned long long> find(Map& map, std::initializer_list<Key> keys) {
    std::vector<unsigned long long> out;
    for (const Key& key : keys)
        out.push_back(map.findKey(key));
    return out;
}
using Slots = std::vector<unsigned long long>;

TEST(IntMap, OnlySlotsBelowTheKeyCountHoldKeys) {
    InspectableIntMap map;
    map.setKey(0, 5);   // no slots: ignored
    map.setKeyCount(3); // clamped to the capacity of 0
    EXPECT_EQ(map.keyCount(), 0u);
    EXPECT_EQ(map.findKey(0), kNone);
    map.allocate(8);
    EXPECT_EQ(map.findKey(0), kNone); // no slot in use yet
    map.setKeyCount(3);
    for (unsigned long long slot : {0ULL, 1ULL, 2ULL, 3ULL, 7ULL, kNone})
        map.setKey(slot, slot + 10); // 3 and beyond are at or past the count
    EXPECT_EQ(find(map, {10ULL, 12ULL, 13ULL}), (Slots{0, 2, kNone}));
    map.setKeyCount(8); // widening shows the ignored stores never happened
    EXPECT_EQ(find(map, {13ULL, 17ULL, 0ULL}), (Slots{kNone, kNone, 3})); // 0: the first unused
    map.setKeyCount(2);
    EXPECT_EQ(map.findKey(12), kNone);
    // An all-ones key is found like any other.
    map.setKeyCount(5);
    map.setKey(2, kNone);
    EXPECT_EQ(map.findKey(kNone), 2u);

    // Reallocating gives fresh, zeroed, aligned slots and clamps the count.
    map.allocate(64);
    EXPECT_EQ(map.capacity() * 1000 + map.keyCount(), 64005u); // kept within the capacity
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(map.slots()) % 16, 0u);
    EXPECT_EQ(map.findKey(kNone), kNone); // new slots start cleared
    map.setKeyCount(1000);
    map.setKey(63, 5);
    EXPECT_EQ(map.keyCount() * 1000 + map.findKey(5), 64063u);
    map.allocate(3); // shrinking clamps the key count
    EXPECT_EQ(map.keyCount(), 3u);
    map.setKey(2, 9);
    for (int n : {0, -1, 0x10000000}) // the last overflows a 32-bit byte size
        map.allocate(n);
    EXPECT_EQ(map.capacity() * 1000 + map.findKey(9), 3002u);
    map.release();
    EXPECT_EQ(map.capacity() + map.keyCount(), 0u);
    EXPECT_EQ(map.findKey(9), kNone);
}

TEST(StringMap, LookupByString) {
    FastStringMap map;
    EXPECT_EQ(map.findKey("abc"), kNone);
    map.allocate(4);
    map.setKeyCount(3);
    map.setKey(0, "gain");
    map.setKey(2, "\xC3\xA9t\xC3\xA9");
    map.setKey(3, "beyond");
    // Slot 1 was never set and holds 0, the hash of "".
    EXPECT_EQ(find(map, {"gain", "\xC3\xA9t\xC3\xA9", "beyond", "Gain", ""}),
              (Slots{0, 2, kNone, kNone, 1}));
    EXPECT_EQ(static_cast<FastIntMap&>(map).findKey(FastStringMap::hash("gain")), 0u);
}

} // namespace
