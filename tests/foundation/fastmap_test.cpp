// Slot maps and the string hash.
#include "NSVextra/FastMap.h"

#include <gtest/gtest.h>

#include <cstdint>

using namespace NSVextra;

namespace {

constexpr unsigned long long kNone = ~0ULL;

// Lets the tests look at the slot array itself.
struct InspectableIntMap : FastIntMap {
    const void* slots() const { return m_pSlots; }
};

TEST(StringHash, WorkedExamples) {
    // "abc": h = 97; h = 97 * 65599 + 98 = 6363201;
    //        h = 6363201 * 65599 + 99 = 417419622399 + 99 = 417419622498.
    EXPECT_EQ(FastStringMap::hash("abc"), 417419622498ULL);

    // Bytes C3 A9 count as -61 and -87:
    //   h = -61; h = -61 * 65599 - 87 = -4001539 - 87 = -4001626,
    //   which wraps to 2^64 - 4001626 = 18446744073705549990 (0xFFFFFFFFFFC2F0A6).
    EXPECT_EQ(FastStringMap::hash("\xC3\xA9"), 18446744073705549990ULL);

    EXPECT_EQ(FastStringMap::hash(""), 0ULL);
    EXPECT_EQ(FastStringMap::hash("a"), 97ULL);
    // An embedded zero byte still takes part.
    EXPECT_EQ(FastStringMap::hash(std::string("\0a", 2)), 97ULL);
    EXPECT_EQ(FastStringMap::hash(std::string("a\0", 2)), 97ULL * 65599ULL);
}

TEST(IntMap, EmptyMapsFindNothing) {
    FastIntMap map;
    EXPECT_EQ(map.capacity(), 0u);
    EXPECT_EQ(map.keyCount(), 0u);
    EXPECT_EQ(map.findKey(0), kNone);
    map.setKey(0, 5);   // no slots: ignored
    map.setKeyCount(3); // clamped to the capacity of 0
    EXPECT_EQ(map.keyCount(), 0u);
    EXPECT_EQ(map.findKey(5), kNone);

    map.allocate(4);
    EXPECT_EQ(map.capacity(), 4u);
    EXPECT_EQ(map.findKey(0), kNone); // no slot in use yet
    map.setKeyCount(4);
    map.setKey(1, 5);
    EXPECT_EQ(map.findKey(5), 1u);

    map.release();
    EXPECT_EQ(map.capacity(), 0u);
    EXPECT_EQ(map.keyCount(), 0u);
    EXPECT_EQ(map.findKey(5), kNone);
}

TEST(IntMap, KeysBelowTheKeyCountOnly) {
    FastIntMap map;
    map.allocate(8);
    map.setKeyCount(3);
    map.setKey(0, 10);
    map.setKey(1, 11);
    map.setKey(2, 12);
    map.setKey(3, 13); // at the key count: ignored
    map.setKey(7, 17);
    map.setKey(kNone, 99);
    EXPECT_EQ(map.findKey(10), 0u);
    EXPECT_EQ(map.findKey(12), 2u);
    EXPECT_EQ(map.findKey(13), kNone);
    EXPECT_EQ(map.findKey(17), kNone);
    EXPECT_EQ(map.findKey(99), kNone);

    // Widening the count shows that the ignored stores never happened.
    map.setKeyCount(8);
    EXPECT_EQ(map.findKey(13), kNone);
    EXPECT_EQ(map.findKey(0), 3u); // first unused slot holds 0

    // Narrowing hides slots again.
    map.setKeyCount(2);
    EXPECT_EQ(map.findKey(12), kNone);
}

TEST(IntMap, DuplicatesResolveToTheLowestSlotAndKeysCanMove) {
    FastIntMap map;
    map.allocate(5);
    map.setKeyCount(5);
    map.setKey(4, 42);
    map.setKey(2, 42);
    EXPECT_EQ(map.findKey(42), 2u);
    map.setKey(2, 7); // overwrite
    EXPECT_EQ(map.findKey(42), 4u);
    EXPECT_EQ(map.findKey(7), 2u);
    map.setKey(3, ~0ULL);
    EXPECT_EQ(map.findKey(~0ULL), 3u); // a stored all-ones key is still found
}

TEST(IntMap, SlotsSharingTheKeysLowHalfAreNotTakenForIt) {
    // Every slot agrees with the key in its low 32 bits and differs in the
    // high ones, except the one that holds the key; in every position of
    // tables long enough to be scanned in blocks and in the remainder.
    const unsigned long long key = 0x0000000500000007ULL;
    for (unsigned long long count = 1; count <= 40; ++count) {
        for (unsigned long long at = 0; at <= count; ++at) {
            FastIntMap map;
            map.allocate(40);
            map.setKeyCount(count);
            for (unsigned long long slot = 0; slot < count; ++slot)
                map.setKey(slot, ((slot + 100) << 32) | 7u);
            if (at < count)
                map.setKey(at, key);
            ASSERT_EQ(map.findKey(key), at < count ? at : kNone)
                << "count " << count << ", key at " << at;
            // And the reverse: the high half matches everywhere, the low one
            // nowhere.
            ASSERT_EQ(map.findKey(0x0000006400000008ULL), kNone) << "count " << count;
        }
    }
}

TEST(IntMap, ReallocatingGrowsWithFreshZeroedAlignedSlots) {
    InspectableIntMap map;
    map.allocate(2);
    ASSERT_NE(map.slots(), nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(map.slots()) % 16, 0u);
    map.setKeyCount(2);
    map.setKey(0, 1);
    map.setKey(1, 2);

    map.allocate(64);
    EXPECT_EQ(map.capacity(), 64u);
    EXPECT_EQ(map.keyCount(), 2u); // kept, still within the capacity
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(map.slots()) % 16, 0u);
    EXPECT_EQ(map.findKey(1), kNone); // new slots start cleared
    map.setKeyCount(1000);
    EXPECT_EQ(map.keyCount(), 64u);
    for (unsigned long long i = 0; i < 64; ++i)
        map.setKey(i, i + 100);
    for (unsigned long long i = 0; i < 64; ++i)
        ASSERT_EQ(map.findKey(i + 100), i);

    map.allocate(3); // shrinking clamps the key count
    EXPECT_EQ(map.capacity(), 3u);
    EXPECT_EQ(map.keyCount(), 3u);
}

TEST(IntMap, ZeroNegativeAndOversizedAllocationsChangeNothing) {
    FastIntMap map;
    map.allocate(4);
    map.setKeyCount(4);
    map.setKey(3, 9);
    map.allocate(0);
    map.allocate(-1);
    map.allocate(0x10000000); // 2^28 * 8 bytes overflows a signed 32-bit size
    EXPECT_EQ(map.capacity(), 4u);
    EXPECT_EQ(map.findKey(9), 3u);
}

TEST(StringMap, LookupByString) {
    FastStringMap map;
    EXPECT_EQ(map.findKey("abc"), kNone);
    EXPECT_EQ(map.findKey(""), kNone); // no slots at all
    map.allocate(4);
    map.setKeyCount(3);
    map.setKey(0, "gain");
    map.setKey(1, "delay");
    map.setKey(2, "\xC3\xA9t\xC3\xA9");
    map.setKey(3, "beyond");
    EXPECT_EQ(map.findKey("gain"), 0u);
    EXPECT_EQ(map.findKey("delay"), 1u);
    EXPECT_EQ(map.findKey("\xC3\xA9t\xC3\xA9"), 2u);
    EXPECT_EQ(map.findKey("beyond"), kNone);
    EXPECT_EQ(map.findKey("Gain"), kNone);
    // The slot stores the hash itself.
    EXPECT_EQ(static_cast<FastIntMap&>(map).findKey(FastStringMap::hash("delay")), 1u);
}

TEST(StringMap, EmptyStringIsIndistinguishableFromAnUnusedSlot) {
    FastStringMap map;
    map.allocate(3);
    map.setKeyCount(3);
    map.setKey(0, "x");
    map.setKey(2, "");
    EXPECT_EQ(map.findKey(""), 1u); // slot 1 was never set and holds 0 too
}

TEST(StringMap, StringsWithTheSameHashAreTheSameKey) {
    // A Thue-Morse string and its complement: their hashes agree modulo 2^64
    // for any odd multiplier once the length reaches a few hundred.
    std::string a, b;
    for (unsigned i = 0; i < 256; ++i) {
        bool odd = __builtin_popcount(i) % 2 != 0;
        a += odd ? 'b' : 'a';
        b += odd ? 'a' : 'b';
    }
    ASSERT_NE(a, b);
    ASSERT_EQ(FastStringMap::hash(a), FastStringMap::hash(b));

    FastStringMap map;
    map.allocate(2);
    map.setKeyCount(2);
    map.setKey(1, a);
    EXPECT_EQ(map.findKey(b), 1u);
}

} // namespace
