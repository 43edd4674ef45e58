// Arrays and dictionaries: ownership through the callbacks, lookups by
// string and number keys, copies.
#include "cf_test_text.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

using cftest::makeNumber;
using cftest::makeString;

TEST(CFDictionary, RetainsKeysAndValuesAndReleasesThemWhenReplacedRemovedOrFreed) {
    CFStringRef key = makeString("key");
    CFNumberRef first = makeNumber(1);
    CFNumberRef second = makeNumber(2);
    CFMutableDictionaryRef dict = CFDictionaryCreateMutable(
        nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    CFDictionarySetValue(dict, key, first);
    EXPECT_EQ(CFGetRetainCount(key), 2);
    EXPECT_EQ(CFGetRetainCount(first), 2);

    CFDictionarySetValue(dict, key, second); // replaced: the old value is released
    EXPECT_EQ(CFGetRetainCount(first), 1);
    EXPECT_EQ(CFGetRetainCount(second), 2);
    EXPECT_EQ(CFGetRetainCount(key), 2); // the stored key stays the same object

    CFDictionaryAddValue(dict, key, first); // present: add changes nothing
    EXPECT_EQ(CFDictionaryGetValue(dict, key), second);
    EXPECT_EQ(CFGetRetainCount(first), 1);

    CFDictionaryRemoveValue(dict, key);
    EXPECT_EQ(CFGetRetainCount(key), 1);
    EXPECT_EQ(CFGetRetainCount(second), 1);

    CFDictionarySetValue(dict, key, first);
    CFRelease(dict); // freed: everything it held is released
    EXPECT_EQ(CFGetRetainCount(key), 1);
    EXPECT_EQ(CFGetRetainCount(first), 1);
    CFRelease(key);
    CFRelease(first);
    CFRelease(second);
}

TEST(CFDictionary, CopyStringKeyCallbacksCopyMutableKeys) {
    CFMutableStringRef key = CFStringCreateMutableCopy(nullptr, 0, CFSTR("name"));
    CFMutableDictionaryRef dict = CFDictionaryCreateMutable(
        nullptr, 0, &kCFCopyStringDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    CFDictionarySetValue(dict, key, kCFBooleanTrue);
    EXPECT_EQ(CFGetRetainCount(key), 1); // a copy was stored, not the key
    CFStringAppend(key, CFSTR("-changed"));
    EXPECT_TRUE(CFDictionaryContainsKey(dict, CFSTR("name")));
    EXPECT_FALSE(CFDictionaryContainsKey(dict, key));
    CFRelease(dict);
    CFRelease(key);
}

TEST(CFDictionary, NullCallbacksStoreRawPointersByIdentity) {
    static int a = 1;
    static int b = 2;
    CFMutableDictionaryRef dict = CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr);
    CFStringRef k1 = makeString("same");
    CFStringRef k2 = makeString("same");
    CFDictionarySetValue(dict, k1, &a);
    CFDictionarySetValue(dict, k2, &b);
    EXPECT_EQ(CFDictionaryGetCount(dict), 2); // equal strings, different pointers
    EXPECT_EQ(CFGetRetainCount(k1), 1);
    EXPECT_EQ(CFDictionaryGetValue(dict, k1), &a);
    EXPECT_EQ(CFDictionaryGetValue(dict, k2), &b);
    CFRelease(dict);
    CFRelease(k1);
    CFRelease(k2);
}

TEST(CFDictionary, StringAndNumberKeysLookUpByValue) {
    CFMutableDictionaryRef dict = CFDictionaryCreateMutable(
        nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    for (int k = 0; k < 200; ++k) {
        CFNumberRef key = makeNumber(k);
        CFStringRef value = CFStringCreateWithFormat(nullptr, nullptr, CFSTR("v%d"), k);
        CFDictionarySetValue(dict, key, value);
        CFRelease(key);
        CFRelease(value);
    }
    CFDictionarySetValue(dict, CFSTR("label"), CFSTR("text"));
    EXPECT_EQ(CFDictionaryGetCount(dict), 201);

    // A 64-bit float key with an integral value finds the 32-bit integer key.
    double d = 117.0;
    CFNumberRef probe = CFNumberCreate(nullptr, kCFNumberFloat64Type, &d);
    const void* found = nullptr;
    ASSERT_TRUE(CFDictionaryGetValueIfPresent(dict, probe, &found));
    EXPECT_TRUE(CFEqual(found, CFSTR("v117")));
    CFRelease(probe);

    CFStringRef label = makeString("label"); // a different object with the same text
    EXPECT_TRUE(CFEqual(CFDictionaryGetValue(dict, label), CFSTR("text")));
    CFDictionaryReplaceValue(dict, label, CFSTR("new"));
    EXPECT_TRUE(CFEqual(CFDictionaryGetValue(dict, CFSTR("label")), CFSTR("new")));
    CFDictionaryReplaceValue(dict, CFSTR("absent"), CFSTR("x")); // not added
    EXPECT_FALSE(CFDictionaryContainsKey(dict, CFSTR("absent")));
    EXPECT_EQ(CFDictionaryGetValue(dict, CFSTR("absent")), nullptr);
    CFRelease(label);

    std::map<std::string, int> seen;
    CFDictionaryApplyFunction(
        dict,
        [](const void* key, const void*, void* context) {
            auto& counts = *static_cast<std::map<std::string, int>*>(context);
            counts[CFGetTypeID(key) == CFStringGetTypeID() ? "string" : "number"]++;
        },
        &seen);
    EXPECT_EQ(seen["number"], 200);
    EXPECT_EQ(seen["string"], 1);

    const void* keys[201];
    const void* values[201];
    CFDictionaryGetKeysAndValues(dict, keys, values);
    for (int k = 0; k < 201; ++k) {
        EXPECT_EQ(CFDictionaryGetValue(dict, keys[k]), values[k]);
    }
    CFDictionaryRemoveAllValues(dict);
    EXPECT_EQ(CFDictionaryGetCount(dict), 0);
    CFRelease(dict);
}

TEST(CFDictionary, CopiesAreIndependentAndCompareEqual) {
    CFStringRef value = makeString("v");
    const void* keys[] = {CFSTR("a"), CFSTR("b")};
    const void* values[] = {value, kCFBooleanFalse};
    CFDictionaryRef dict = CFDictionaryCreate(
        nullptr, keys, values, 2, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    EXPECT_EQ(CFGetRetainCount(value), 2);
    CFMutableDictionaryRef copy = CFDictionaryCreateMutableCopy(nullptr, 0, dict);
    EXPECT_EQ(CFGetRetainCount(value), 3);
    EXPECT_TRUE(CFEqual(dict, copy));
    CFDictionaryRemoveValue(copy, CFSTR("a"));
    EXPECT_FALSE(CFEqual(dict, copy));
    EXPECT_EQ(CFDictionaryGetCount(dict), 2);
    // The immutable dictionary refuses changes.
    CFDictionarySetValue(const_cast<CFMutableDictionaryRef>(dict), CFSTR("c"), value);
    EXPECT_EQ(CFDictionaryGetCount(dict), 2);
    CFRelease(copy);
    CFRelease(dict);
    EXPECT_EQ(CFGetRetainCount(value), 1);
    CFRelease(value);
}

TEST(CFArray, RetainsValuesAndSupportsEditing) {
    CFNumberRef one = makeNumber(1);
    CFNumberRef two = makeNumber(2);
    CFStringRef three = makeString("three");
    CFMutableArrayRef array = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
    CFArrayAppendValue(array, one);
    CFArrayAppendValue(array, three);
    CFArrayInsertValueAtIndex(array, 1, two);
    EXPECT_EQ(CFArrayGetCount(array), 3);
    EXPECT_EQ(CFGetRetainCount(one), 2);
    EXPECT_EQ(CFArrayGetValueAtIndex(array, 1), two);
    EXPECT_EQ(CFArrayGetValueAtIndex(array, 5), nullptr);

    CFNumberRef twoAgain = makeNumber(2);
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

    const void* values[2] = {nullptr, nullptr};
    CFArrayGetValues(array, CFRangeMake(0, 2), values);
    EXPECT_EQ(values[0], two);
    EXPECT_EQ(values[1], three);

    CFArrayRef copy = CFArrayCreateCopy(nullptr, array);
    EXPECT_TRUE(CFEqual(copy, array));
    CFArrayRemoveAllValues(array);
    EXPECT_EQ(CFArrayGetCount(array), 0);
    EXPECT_EQ(CFArrayGetCount(copy), 2);
    CFRelease(copy);
    CFRelease(array);
    EXPECT_EQ(CFGetRetainCount(two), 1);
    EXPECT_EQ(CFGetRetainCount(three), 1);
    CFRelease(one);
    CFRelease(two);
    CFRelease(twoAgain);
    CFRelease(three);
}

TEST(CFArray, SortAndNullCallbacks) {
    CFMutableArrayRef array = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
    for (int v : {5, 1, 4, 2}) {
        CFNumberRef n = makeNumber(v);
        CFArrayAppendValue(array, n);
        CFRelease(n);
    }
    CFArraySortValues(
        array, CFRangeMake(0, 4),
        [](const void* a, const void* b, void*) {
            return CFNumberCompare(static_cast<CFNumberRef>(a), static_cast<CFNumberRef>(b),
                                   nullptr);
        },
        nullptr);
    int previous = 0;
    for (CFIndex k = 0; k < 4; ++k) {
        int v = 0;
        CFNumberGetValue(static_cast<CFNumberRef>(CFArrayGetValueAtIndex(array, k)),
                         kCFNumberIntType, &v);
        EXPECT_GT(v, previous);
        previous = v;
    }
    CFRelease(array);

    int raw[2] = {1, 2};
    const void* pointers[] = {&raw[0], &raw[1]};
    CFArrayRef plain = CFArrayCreate(nullptr, pointers, 2, nullptr);
    EXPECT_EQ(CFArrayGetValueAtIndex(plain, 1), &raw[1]);
    int other = 2;
    EXPECT_FALSE(CFArrayContainsValue(plain, CFRangeMake(0, 2), &other));
    CFRelease(plain);
}

} // namespace
