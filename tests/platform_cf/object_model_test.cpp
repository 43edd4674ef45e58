// The object model, numbers, data, arrays and dictionaries.
#include "cf_test_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

using cftest::makeNumber;
using cftest::makeString;
using cftest::own;

TEST(CFObjectModel, RetainCountsStayExactUnderConcurrentRetainRelease) {
    CFNumberRef n = makeNumber(7);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([n] {
            for (int k = 0; k < 20000; ++k) {
                CFRetain(n);
                CFRelease(n);
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(CFGetRetainCount(n), 1);
    CFRelease(n);
}

TEST(CFObjectModel, EqualityHashesDescriptionsAndNumberConversions) {
    const auto same = own(CFStringCreateMutableCopy(nullptr, 0, CFSTR("same")));
    EXPECT_TRUE(CFEqual(same, CFSTR("same")) && CFHash(same) == CFHash(CFSTR("same")));
    EXPECT_FALSE(CFEqual(same, CFSTR("Same")));
    int32_t i = 3;
    double d = 3.0, half = 3.5;
    const auto ni = own(CFNumberCreate(nullptr, kCFNumberSInt32Type, &i));
    const auto nd = own(CFNumberCreate(nullptr, kCFNumberFloat64Type, &d));
    const auto nh = own(CFNumberCreate(nullptr, kCFNumberFloat64Type, &half));
    EXPECT_TRUE(CFEqual(ni, nd) && CFHash(ni) == CFHash(nd));
    EXPECT_FALSE(CFEqual(ni, nh));
    EXPECT_EQ(CFNumberCompare(ni, nh, nullptr), kCFCompareLessThan);
    EXPECT_EQ(CFNumberCompare(nh, ni, nullptr), kCFCompareGreaterThan);

    int64_t big = (int64_t{1} << 40) + 1;
    const auto n = own(CFNumberCreate(nullptr, kCFNumberSInt64Type, &big));
    const std::string text = cftest::take(CFCopyDescription(n));
    EXPECT_NE(text.find("1099511627777"), std::string::npos) << text;
    EXPECT_NE(text.find("kCFNumberSInt64Type"), std::string::npos) << text;
    int32_t narrow = 0;
    int16_t s16 = 0;
    float asFloat = 0;
    EXPECT_FALSE(CFNumberGetValue(n, kCFNumberSInt32Type, &narrow));
    EXPECT_FALSE(CFNumberGetValue(n, kCFNumberFloatType, &asFloat)); // 2^40+1 needs 41 bits
    EXPECT_FALSE(CFNumberGetValue(nh, kCFNumberSInt16Type, &s16));
    EXPECT_EQ(s16, 3);
    d = 1e300;
    EXPECT_FALSE(CFNumberGetValue(own(CFNumberCreate(nullptr, kCFNumberDoubleType, &d)),
                                  kCFNumberSInt16Type, &s16));
    EXPECT_EQ(s16, INT16_MAX);
    EXPECT_TRUE(CFNumberGetValue(nd, kCFNumberSInt16Type, &s16));
}

TEST(CFData, CopiesGrowsWithinCapacityAndFreesNoCopyBytes) {
    const UInt8 bytes[] = {1, 2, 3, 4};
    const auto d = own(CFDataCreate(nullptr, bytes, 3));
    const auto m = own(CFDataCreateMutable(nullptr, 0));
    CFDataAppendBytes(m, bytes, 3);
    CFDataIncreaseLength(m, 2);
    CFDataAppendBytes(m, CFDataGetBytePtr(m), CFDataGetLength(m)); // its own bytes
    const UInt8 expected[] = {1, 2, 3, 0, 0, 1, 2, 3, 0, 0};
    EXPECT_TRUE(CFEqual(m, own(CFDataCreate(nullptr, expected, 10))));
    CFDataSetLength(m, 3);
    EXPECT_TRUE(CFEqual(m, d) && CFHash(m) == CFHash(d));
    // An append that would pass the capacity is dropped whole.
    const auto bounded = own(CFDataCreateMutable(nullptr, 3));
    CFDataAppendBytes(bounded, bytes, 4);
    EXPECT_EQ(CFDataGetLength(bounded), 0);
    CFDataAppendBytes(bounded, bytes, 3);
    EXPECT_EQ(CFDataGetLength(bounded), 3);
    auto* heap = static_cast<UInt8*>(std::malloc(4));
    CFDataRef owned = CFDataCreateWithBytesNoCopy(nullptr, heap, 4, kCFAllocatorMalloc);
    EXPECT_EQ(CFDataGetBytePtr(owned), heap);
    CFRelease(owned); // frees heap; the sanitizer run would flag a leak otherwise
}

TEST(CFDictionary, CallbacksDecideOwnershipCopyingAndIdentity) {
    const auto key = own(makeString("key"));
    const auto first = own(makeNumber(1));
    const auto second = own(makeNumber(2));
    CFMutableDictionaryRef dict = CFDictionaryCreateMutable(
        nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    CFDictionarySetValue(dict, key, first);
    CFDictionarySetValue(dict, key, second); // replaced: the old value is released
    EXPECT_EQ(CFGetRetainCount(first), 1);
    EXPECT_EQ(CFGetRetainCount(second), 2);
    EXPECT_EQ(CFGetRetainCount(key), 2);                    // the stored key stays the same object
    CFDictionaryAddValue(dict, key, first);                 // present: add changes nothing
    CFDictionaryReplaceValue(dict, CFSTR("absent"), first); // not added
    EXPECT_EQ(CFDictionaryGetValue(dict, CFSTR("key")), second.get());
    EXPECT_EQ(CFDictionaryGetCount(dict), 1);
    // A 64-bit float key with an integral value finds the 32-bit integer key.
    for (int k = 0; k < 200; ++k)
        CFDictionarySetValue(dict, own(makeNumber(k)), first);
    double d = 117.0;
    EXPECT_EQ(CFDictionaryGetValue(dict, own(CFNumberCreate(nullptr, kCFNumberFloat64Type, &d))),
              first.get());
    CFDictionaryRemoveValue(dict, key);
    EXPECT_EQ(CFGetRetainCount(key), 1);
    EXPECT_EQ(CFGetRetainCount(second), 1);
    const auto copy = own(CFDictionaryCreateCopy(nullptr, dict));
    EXPECT_TRUE(CFEqual(copy, dict));
    CFDictionarySetValue(const_cast<CFMutableDictionaryRef>(copy.get()), key, key); // refused
    CFRelease(dict);
    EXPECT_EQ(CFDictionaryGetCount(copy), 200);
    EXPECT_EQ(CFGetRetainCount(first), 201); // held by the copy only

    // Copy-string callbacks store a copy of a mutable key; null callbacks
    // store raw pointers, compared by identity.
    const auto mutableKey = own(CFStringCreateMutableCopy(nullptr, 0, CFSTR("key")));
    const auto copying = own(CFDictionaryCreateMutable(
        nullptr, 0, &kCFCopyStringDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
    CFDictionarySetValue(copying, mutableKey, first);
    CFStringAppend(mutableKey, CFSTR("-changed"));
    EXPECT_EQ(CFDictionaryGetValue(copying, CFSTR("key")), first.get());
    const auto raw = own(CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr));
    CFDictionarySetValue(raw, CFSTR("key"), first);
    CFDictionarySetValue(raw, key, second);
    EXPECT_EQ(CFDictionaryGetCount(raw), 2);
    EXPECT_EQ(CFGetRetainCount(key), 1);
}

TEST(CFArray, RetainsValuesEditsSortsAndCopies) {
    const auto one = own(makeNumber(1));
    const auto two = own(makeString("two"));
    CFMutableArrayRef array = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
    CFArrayAppendValue(array, one);
    CFArrayInsertValueAtIndex(array, 0, two);
    EXPECT_EQ(CFGetRetainCount(one), 2);
    CFArrayAppendValue(array, kCFBooleanTrue);
    CFArrayRemoveValueAtIndex(array, 2);
    EXPECT_EQ(CFArrayGetValueAtIndex(array, 2), nullptr); // past the end, though once used
    EXPECT_EQ(CFArrayGetFirstIndexOfValue(array, CFRangeMake(0, 2), own(makeNumber(1))), 1);
    EXPECT_FALSE(CFArrayContainsValue(array, CFRangeMake(1, 1), two));
    CFArraySetValueAtIndex(array, 1, two); // replaces one
    EXPECT_EQ(CFGetRetainCount(one), 1);
    CFArrayRemoveValueAtIndex(array, 0);
    const auto copy = own(CFArrayCreateCopy(nullptr, array));
    EXPECT_TRUE(CFEqual(copy, array));
    CFRelease(array);
    EXPECT_EQ(CFGetRetainCount(two), 2); // held by the copy only

    const auto sorted = own(CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks));
    for (int v : {5, 1, 4, 2})
        CFArrayAppendValue(sorted, own(makeNumber(v)));
    CFArraySortValues(
        sorted, CFRangeMake(0, 4),
        [](const void* a, const void* b, void*) {
            return CFNumberCompare((CFNumberRef)a, (CFNumberRef)b, nullptr);
        },
        nullptr);
    int order[4];
    for (CFIndex k = 0; k < 4; ++k)
        CFNumberGetValue((CFNumberRef)CFArrayGetValueAtIndex(sorted, k), kCFNumberIntType,
                         &order[k]);
    EXPECT_EQ(std::vector<int>(order, order + 4), (std::vector<int>{1, 2, 4, 5}));
}

} // namespace
