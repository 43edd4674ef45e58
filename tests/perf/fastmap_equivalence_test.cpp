// The fast map's block-wise hash and slot scan against the one-byte-at-a-time
// hash and the slot-by-slot scan they replace.
#include <NSVextra/FastMap.h>

#include <gtest/gtest.h>

#include <random>
#include <string>

using NSVextra::FastIntMap;
using NSVextra::FastStringMap;

TEST(FastMapEquivalence, HashMatchesTheByteWiseDefinitionForEveryLength) {
    std::mt19937 rng(7);
    for (std::size_t length = 0; length <= 40; ++length)
        for (int round = 0; round < 20; ++round) {
            std::string s(length, '\0');
            unsigned long long plain = 0; // high bytes count as negative
            for (char& c : s) {
                c = static_cast<char>(rng() & 0xFF);
                plain =
                    plain * 65599ULL + static_cast<unsigned long long>(static_cast<signed char>(c));
            }
            EXPECT_EQ(FastStringMap::hash(s), plain) << "length " << length;
        }
}

TEST(FastMapEquivalence, FindKeyReturnsTheLowestMatchingSlotInEveryPosition) {
    for (unsigned long long count = 0; count <= 37; ++count) {
        FastIntMap map;
        map.allocate(40);
        map.setKeyCount(count);
        for (unsigned long long slot = 0; slot < count; ++slot)
            map.setKey(slot, 1000 + slot);
        for (unsigned long long slot = 0; slot < count; ++slot)
            ASSERT_EQ(map.findKey(1000 + slot), slot) << "count " << count;
        EXPECT_EQ(map.findKey(999), FastIntMap::kNotFound) << "count " << count;
        // Slots beyond the key count are never reported.
        EXPECT_EQ(map.findKey(1000 + count), FastIntMap::kNotFound) << "count " << count;
    }
    FastIntMap map;
    map.allocate(20);
    map.setKeyCount(20);
    for (unsigned long long slot : {3, 9, 17})
        map.setKey(slot, 42);
    EXPECT_EQ(map.findKey(42), 3u);
    map.setKey(3, 5);
    EXPECT_EQ(map.findKey(42), 9u);
    // Keys that agree in one 32-bit half only are different keys.
    map.setKey(11, 0x1234567800000001ULL);
    EXPECT_EQ(map.findKey(0x1234567900000001ULL), FastIntMap::kNotFound);
    EXPECT_EQ(map.findKey(0x1234567800000002ULL), FastIntMap::kNotFound);
    EXPECT_EQ(map.findKey(0x1234567800000001ULL), 11u);
    // Unused slots hold 0 and are found like any other key.
    EXPECT_EQ(map.findKey(0), 0u);
}
