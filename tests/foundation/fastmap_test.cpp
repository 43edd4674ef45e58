// Slot maps and the string hash.
#include "NSVextra/FastMap.h"

#include "support.h"

using namespace NSVextra;

namespace {

constexpr unsigned long long kNone = ~0ULL;

struct InspectableIntMap : FastIntMap {
    const void* slots() const { return m_pSlots; }
};

TEST(StringHash, WorkedExamples) {
    // "abc": (97 * 65599 + 98) * 65599 + 99; bytes C3 A9 count as -61 and
    // -87, so the sum wraps to 2^64 - 4001626.
    EXPECT_EQ(FastStringMap::hash("abc"), 417419622498ULL);
    EXPECT_EQ(FastStringMap::hash("\xC3\xA9"), 18446744073705549990ULL);
    EXPECT_EQ(FastStringMap::hash(""), 0ULL);
    EXPECT_EQ(FastStringMap::hash(std::string("a\0", 2)), 97ULL * 65599ULL);
}

TEST(IntMap, OnlySlotsBelowTheKeyCountHoldKeys) {
    FastIntMap map;
    map.setKey(0, 5);   // no slots: ignored
    map.setKeyCount(3); // clamped to the capacity of 0
    EXPECT_EQ(map.keyCount(), 0u);
    EXPECT_EQ(map.findKey(0), kNone);
    map.allocate(8);
    EXPECT_EQ(map.findKey(0), kNone); // no slot in use yet
    map.setKeyCount(3);
    for (unsigned long long slot : {0ULL, 1ULL, 2ULL, 3ULL, 7ULL, kNone})
        map.setKey(slot, slot + 10); // 3 and beyond are at or past the count
    EXPECT_EQ(map.findKey(10), 0u);
    EXPECT_EQ(map.findKey(12), 2u);
    EXPECT_EQ(map.findKey(13), kNone);
    map.setKeyCount(8); // widening shows the ignored stores never happened
    EXPECT_EQ(map.findKey(13), kNone);
    EXPECT_EQ(map.findKey(17), kNone);
    EXPECT_EQ(map.findKey(0), 3u); // the first unused slot holds 0
    map.setKeyCount(2);
    EXPECT_EQ(map.findKey(12), kNone);
    // Duplicates resolve to the lowest slot; an all-ones key is still found.
    map.setKeyCount(5);
    map.setKey(4, 42);
    map.setKey(2, 42);
    EXPECT_EQ(map.findKey(42), 2u);
    map.setKey(2, kNone);
    EXPECT_EQ(map.findKey(42), 4u);
    EXPECT_EQ(map.findKey(kNone), 2u);
    map.release();
    EXPECT_EQ(map.capacity(), 0u);
    EXPECT_EQ(map.keyCount(), 0u);
    EXPECT_EQ(map.findKey(42), kNone);
}

TEST(IntMap, ReallocatingGivesFreshZeroedAlignedSlots) {
    InspectableIntMap map;
    map.allocate(2);
    map.setKeyCount(2);
    map.setKey(0, 1);
    map.allocate(64);
    EXPECT_EQ(map.capacity(), 64u);
    EXPECT_EQ(map.keyCount(), 2u); // kept, still within the capacity
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(map.slots()) % 16, 0u);
    EXPECT_EQ(map.findKey(1), kNone); // new slots start cleared
    map.setKeyCount(1000);
    EXPECT_EQ(map.keyCount(), 64u);
    map.setKey(63, 5);
    EXPECT_EQ(map.findKey(5), 63u);
    map.allocate(3); // shrinking clamps the key count
    EXPECT_EQ(map.keyCount(), 3u);
    map.setKey(2, 9);
    for (int n : {0, -1, 0x10000000}) // the last overflows a 32-bit byte size
        map.allocate(n);
    EXPECT_EQ(map.capacity(), 3u);
    EXPECT_EQ(map.findKey(9), 2u);
}

TEST(StringMap, LookupByString) {
    FastStringMap map;
    EXPECT_EQ(map.findKey("abc"), kNone);
    map.allocate(4);
    map.setKeyCount(3);
    map.setKey(0, "gain");
    map.setKey(2, "\xC3\xA9t\xC3\xA9");
    map.setKey(3, "beyond");
    EXPECT_EQ(map.findKey("gain"), 0u);
    EXPECT_EQ(map.findKey("\xC3\xA9t\xC3\xA9"), 2u);
    EXPECT_EQ(map.findKey("beyond"), kNone);
    EXPECT_EQ(map.findKey("Gain"), kNone);
    EXPECT_EQ(map.findKey(""), 1u); // slot 1 was never set and holds 0 too
    EXPECT_EQ(static_cast<FastIntMap&>(map).findKey(FastStringMap::hash("gain")), 0u);
}

} // namespace
