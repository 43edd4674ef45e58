// Arrays and dictionaries: ownership through the callbacks, lookups by
// string and number keys, copies.
#include "cf_test_text.h"

#include <gtest/gtest.h>

namespace {

using cftest::makeNumber;
using cftest::makeString;
using cftest::own;

CFMutableDictionaryRef typeDictionary() {
    return CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                     &kCFTypeDictionaryValueCallBacks);
}

TEST(CFDictionary, RetainsKeysAndValuesAndReleasesThemWhenReplacedRemovedOrFreed) {
    const auto key = own(makeString("key"));
    const auto first = own(makeNumber(1));
    const auto second = own(makeNumber(2));
    CFMutableDictionaryRef dict = typeDictionary();
    CFDictionarySetValue(dict, key, first);
    EXPECT_EQ(CFGetRetainCount(key), 2);
    EXPECT_EQ(CFGetRetainCount(first), 2);
    CFDictionarySetValue(dict, key, second); // replaced: the old value is released
    EXPECT_EQ(CFGetRetainCount(first), 1);
    EXPECT_EQ(CFGetRetainCount(second), 2);
    EXPECT_EQ(CFGetRetainCount(key), 2);    // the stored key stays the same object
    CFDictionaryAddValue(dict, key, first); // present: add changes nothing
    EXPECT_EQ(CFDictionaryGetValue(dict, key), second.get());
    CFDictionaryRemoveValue(dict, key);
    EXPECT_EQ(CFGetRetainCount(key), 1);
    EXPECT_EQ(CFGetRetainCount(second), 1);
    CFDictionarySetValue(dict, key, first);
    CFRelease(dict); // freed: everything it held is released
    EXPECT_EQ(CFGetRetainCount(key), 1);
    EXPECT_EQ(CFGetRetainCount(first), 1);
}

TEST(CFDictionary, KeyCallbacksDecideCopyingAndIdentity) {
    // Copy-string callbacks store a copy of a mutable key.
    const auto key = own(CFStringCreateMutableCopy(nullptr, 0, CFSTR("name")));
    const auto copying = own(CFDictionaryCreateMutable(
        nullptr, 0, &kCFCopyStringDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
    CFDictionarySetValue(copying, key, kCFBooleanTrue);
    EXPECT_EQ(CFGetRetainCount(key), 1);
    CFStringAppend(key, CFSTR("-changed"));
    EXPECT_TRUE(CFDictionaryContainsKey(copying, CFSTR("name")));
    EXPECT_FALSE(CFDictionaryContainsKey(copying, key));

    // Null callbacks store raw pointers, compared by identity.
    static int a = 1, b = 2;
    const auto raw = own(CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr));
    const auto k1 = own(makeString("same"));
    const auto k2 = own(makeString("same"));
    CFDictionarySetValue(raw, k1, &a);
    CFDictionarySetValue(raw, k2, &b);
    EXPECT_EQ(CFDictionaryGetCount(raw), 2);
    EXPECT_EQ(CFGetRetainCount(k1), 1);
    EXPECT_EQ(CFDictionaryGetValue(raw, k2), &b);
}

TEST(CFDictionary, StringAndNumberKeysLookUpByValue) {
    const auto dict = own(typeDictionary());
    for (int k = 0; k < 200; ++k) {
        const auto value = own(CFStringCreateWithFormat(nullptr, nullptr, CFSTR("v%d"), k));
        CFDictionarySetValue(dict, own(makeNumber(k)), value);
    }
    CFDictionarySetValue(dict, CFSTR("label"), CFSTR("text"));
    EXPECT_EQ(CFDictionaryGetCount(dict), 201);

    // A 64-bit float key with an integral value finds the 32-bit integer key.
    double d = 117.0;
    const void* found = nullptr;
    ASSERT_TRUE(CFDictionaryGetValueIfPresent(
        dict, own(CFNumberCreate(nullptr, kCFNumberFloat64Type, &d)), &found));
    EXPECT_TRUE(CFEqual(found, CFSTR("v117")));

    const auto label = own(makeString("label")); // another object with the same text
    CFDictionaryReplaceValue(dict, label, CFSTR("new"));
    EXPECT_TRUE(CFEqual(CFDictionaryGetValue(dict, CFSTR("label")), CFSTR("new")));
    CFDictionaryReplaceValue(dict, CFSTR("absent"), CFSTR("x")); // not added
    EXPECT_EQ(CFDictionaryGetValue(dict, CFSTR("absent")), nullptr);

    int applied = 0;
    CFDictionaryApplyFunction(
        dict, [](const void*, const void*, void* context) { ++*static_cast<int*>(context); },
        &applied);
    EXPECT_EQ(applied, 201);
    CFDictionaryRemoveAllValues(dict);
    EXPECT_EQ(CFDictionaryGetCount(dict), 0);
}

TEST(CFDictionary, CopiesAreIndependentAndCompareEqual) {
    const auto value = own(makeString("v"));
    const void* keys[] = {CFSTR("a"), CFSTR("b")};
    const void* values[] = {value, kCFBooleanFalse};
    const auto dict =
        own(CFDictionaryCreate(nullptr, keys, values, 2, &kCFTypeDictionaryKeyCallBacks,
                               &kCFTypeDictionaryValueCallBacks));
    {
        const auto copy = own(CFDictionaryCreateMutableCopy(nullptr, 0, dict));
        EXPECT_EQ(CFGetRetainCount(value), 3);
        EXPECT_TRUE(CFEqual(dict, copy));
        CFDictionaryRemoveValue(copy, CFSTR("a"));
        EXPECT_FALSE(CFEqual(dict, copy));
    }
    EXPECT_EQ(CFGetRetainCount(value), 2);
    // The immutable dictionary refuses changes.
    CFDictionarySetValue(const_cast<CFMutableDictionaryRef>(dict.get()), CFSTR("c"), value);
    EXPECT_EQ(CFDictionaryGetCount(dict), 2);
}

TEST(CFArray, RetainsValuesAndSupportsEditing) {
    const auto one = own(makeNumber(1));
    const auto two = own(makeNumber(2));
    const auto three = own(makeString("three"));
    CFMutableArrayRef array = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
    CFArrayAppendValue(array, one);
    CFArrayAppendValue(array, three);
    CFArrayInsertValueAtIndex(array, 1, two);
    EXPECT_EQ(CFArrayGetCount(array), 3);
    EXPECT_EQ(CFGetRetainCount(one), 2);
    EXPECT_EQ(CFArrayGetValueAtIndex(array, 1), two.get());
    EXPECT_EQ(CFArrayGetValueAtIndex(array, 5), nullptr);

    const auto twoAgain = own(makeNumber(2));
    EXPECT_TRUE(CFArrayContainsValue(array, CFRangeMake(0, 3), twoAgain));
    EXPECT_FALSE(CFArrayContainsValue(array, CFRangeMake(2, 1), twoAgain));
    EXPECT_EQ(CFArrayGetFirstIndexOfValue(array, CFRangeMake(0, 3), CFSTR("three")), 2);

    CFArraySetValueAtIndex(array, 0, three); // replaces one
    EXPECT_EQ(CFGetRetainCount(one), 1);
    EXPECT_EQ(CFGetRetainCount(three), 3);
    CFArraySetValueAtIndex(array, 1, two); // the same value again keeps it alive
    EXPECT_EQ(CFGetRetainCount(two), 2);
    CFArrayRemoveValueAtIndex(array, 0);
    EXPECT_EQ(CFGetRetainCount(three), 2);
    const void* values[2] = {};
    CFArrayGetValues(array, CFRangeMake(0, 2), values);
    EXPECT_EQ(values[0], two.get());
    EXPECT_EQ(values[1], three.get());

    const auto copy = own(CFArrayCreateCopy(nullptr, array));
    EXPECT_TRUE(CFEqual(copy, array));
    CFArrayRemoveAllValues(array);
    EXPECT_EQ(CFArrayGetCount(copy), 2);
    CFRelease(array);
    EXPECT_EQ(CFGetRetainCount(two), 2); // held by the copy only
}

TEST(CFArray, SortAndNullCallbacks) {
    const auto array = own(CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks));
    for (int v : {5, 1, 4, 2})
        CFArrayAppendValue(array, own(makeNumber(v)));
    CFArraySortValues(
        array, CFRangeMake(0, 4),
        [](const void* a, const void* b, void*) {
            return CFNumberCompare(static_cast<CFNumberRef>(a), static_cast<CFNumberRef>(b),
                                   nullptr);
        },
        nullptr);
    const int sorted[] = {1, 2, 4, 5};
    for (CFIndex k = 0; k < 4; ++k) {
        int v = 0;
        CFNumberGetValue(static_cast<CFNumberRef>(CFArrayGetValueAtIndex(array, k)),
                         kCFNumberIntType, &v);
        EXPECT_EQ(v, sorted[k]) << "index " << k;
    }

    int raw[2] = {1, 2}, other = 2;
    const void* pointers[] = {&raw[0], &raw[1]};
    const auto plain = own(CFArrayCreate(nullptr, pointers, 2, nullptr));
    EXPECT_EQ(CFArrayGetValueAtIndex(plain, 1), &raw[1]);
    EXPECT_FALSE(CFArrayContainsValue(plain, CFRangeMake(0, 2), &other));
}

} // namespace
