// The object model, numbers, booleans and data.
#include "cf_test_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

namespace {

using cftest::own;

TEST(CFObjectModel, RetainCountsStayExactUnderConcurrentRetainRelease) {
    CFNumberRef n = cftest::makeNumber(7);
    EXPECT_EQ(CFRetain(n), n);
    EXPECT_EQ(CFGetRetainCount(n), 2);
    CFRelease(n);
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

TEST(CFObjectModel, ConstantsIgnoreReleaseAndLiteralsAreInterned) {
    CFStringRef a = CFSTR("interned literal");
    EXPECT_EQ(a, CFSTR("interned literal"));
    CFRelease(a);
    CFRelease(a);
    EXPECT_EQ(CFStringGetLength(a), 16);
    CFRelease(kCFBooleanTrue);
    EXPECT_TRUE(CFBooleanGetValue(kCFBooleanTrue));
    EXPECT_FALSE(CFBooleanGetValue(kCFBooleanFalse));
    EXPECT_FALSE(CFEqual(kCFBooleanTrue, kCFBooleanFalse));
    EXPECT_NE(CFHash(kCFBooleanTrue), CFHash(kCFBooleanFalse));
}

TEST(CFObjectModel, EqualObjectsHashAlike) {
    const auto s1 = own(cftest::makeString("same"));
    const auto s2 = own(CFStringCreateMutable(nullptr, 0));
    CFStringAppendCString(s2, "same", kCFStringEncodingASCII);
    EXPECT_TRUE(CFEqual(s1, s2));
    EXPECT_EQ(CFHash(s1), CFHash(s2));
    EXPECT_FALSE(CFEqual(s1, CFSTR("Same")));

    int32_t i = 3;
    double d = 3.0, half = 3.5;
    const auto ni = own(CFNumberCreate(nullptr, kCFNumberSInt32Type, &i));
    const auto nd = own(CFNumberCreate(nullptr, kCFNumberFloat64Type, &d));
    const auto nh = own(CFNumberCreate(nullptr, kCFNumberFloat64Type, &half));
    EXPECT_TRUE(CFEqual(ni, nd));
    EXPECT_EQ(CFHash(ni), CFHash(nd));
    EXPECT_FALSE(CFEqual(ni, nh));
    EXPECT_FALSE(CFEqual(ni, s1));
    EXPECT_EQ(CFNumberCompare(ni, nh, nullptr), kCFCompareLessThan);
    EXPECT_EQ(CFNumberCompare(nh, ni, nullptr), kCFCompareGreaterThan);

    int64_t v = -42;
    const auto n = own(CFNumberCreate(nullptr, kCFNumberSInt64Type, &v));
    const std::string text = cftest::take(CFCopyDescription(n));
    EXPECT_NE(text.find("-42"), std::string::npos) << text;
    EXPECT_NE(text.find("kCFNumberSInt64Type"), std::string::npos) << text;
}

TEST(CFNumber, StoredTypesFollowWidthAndPrecision) {
    int8_t i8 = -5;
    short i16 = 300;
    int i32 = 70000;
    long i64 = 1L << 40;
    float f = 0.25f;
    double d = 0.1;
    const struct {
        CFNumberType in;
        const void* value;
        CFNumberType stored;
    } cases[] = {{kCFNumberSInt8Type, &i8, kCFNumberSInt8Type},
                 {kCFNumberShortType, &i16, kCFNumberSInt16Type},
                 {kCFNumberIntType, &i32, kCFNumberSInt32Type},
                 {kCFNumberLongType, &i64, kCFNumberSInt64Type},
                 {kCFNumberFloatType, &f, kCFNumberFloat32Type},
                 {kCFNumberDoubleType, &d, kCFNumberFloat64Type}};
    for (const auto& c : cases) {
        const auto n = own(CFNumberCreate(nullptr, c.in, c.value));
        ASSERT_NE(n, nullptr);
        EXPECT_EQ(CFNumberGetType(n), c.stored) << c.in;
        EXPECT_EQ(CFNumberIsFloatType(n), c.stored >= kCFNumberFloat32Type) << c.in;
    }
    EXPECT_EQ(CFNumberCreate(nullptr, 99, &i32), nullptr);
    EXPECT_EQ(CFNumberCreate(nullptr, kCFNumberIntType, nullptr), nullptr);
}

TEST(CFNumber, GetValueConvertsAndReportsLoss) {
    int64_t big = (int64_t{1} << 40) + 1;
    const auto n = own(CFNumberCreate(nullptr, kCFNumberSInt64Type, &big));
    int32_t narrow = 0;
    EXPECT_FALSE(CFNumberGetValue(n, kCFNumberSInt32Type, &narrow));
    int64_t wide = 0;
    EXPECT_TRUE(CFNumberGetValue(n, kCFNumberSInt64Type, &wide));
    EXPECT_EQ(wide, big);
    double asDouble = 0;
    EXPECT_TRUE(CFNumberGetValue(n, kCFNumberDoubleType, &asDouble));
    EXPECT_EQ(asDouble, static_cast<double>(big));
    float asFloat = 0;
    EXPECT_FALSE(CFNumberGetValue(n, kCFNumberFloatType, &asFloat)); // 2^40+1 needs 41 bits

    double frac = 2.75;
    const auto r = own(CFNumberCreate(nullptr, kCFNumberFloat64Type, &frac));
    int i = 0;
    EXPECT_FALSE(CFNumberGetValue(r, kCFNumberIntType, &i));
    EXPECT_EQ(i, 2);
    float fl = 0;
    EXPECT_TRUE(CFNumberGetValue(r, kCFNumberFloat32Type, &fl));
    EXPECT_EQ(fl, 2.75f);

    double huge = 1e300;
    const auto h = own(CFNumberCreate(nullptr, kCFNumberDoubleType, &huge));
    int16_t s16 = 0;
    EXPECT_FALSE(CFNumberGetValue(h, kCFNumberSInt16Type, &s16));
    EXPECT_EQ(s16, std::numeric_limits<int16_t>::max());

    float half = 0.5f;
    const auto f32 = own(CFNumberCreate(nullptr, kCFNumberFloat32Type, &half));
    int32_t fromFloat = -1;
    EXPECT_FALSE(CFNumberGetValue(f32, kCFNumberSInt32Type, &fromFloat));
    EXPECT_EQ(fromFloat, 0);

    double v = 0;
    EXPECT_TRUE(CFNumberGetValue(kCFNumberNaN, kCFNumberDoubleType, &v));
    EXPECT_TRUE(std::isnan(v));
    EXPECT_TRUE(CFNumberGetValue(kCFNumberPositiveInfinity, kCFNumberDoubleType, &v));
    EXPECT_TRUE(std::isinf(v) && v > 0);
    EXPECT_TRUE(CFEqual(kCFNumberNaN, kCFNumberNaN));
}

TEST(CFData, CreateCopiesAndMutableDataGrowsWithinItsCapacity) {
    const UInt8 bytes[] = {1, 2, 3};
    const auto d = own(CFDataCreate(nullptr, bytes, 3));
    EXPECT_NE(CFDataGetBytePtr(d), bytes);
    EXPECT_EQ(CFDataGetBytePtr(d)[2], 3);
    // Immutable data refuses mutable access.
    EXPECT_EQ(CFDataGetMutableBytePtr(const_cast<CFMutableDataRef>(d.get())), nullptr);

    const auto m = own(CFDataCreateMutable(nullptr, 0));
    CFDataAppendBytes(m, bytes, 3);
    CFDataAppendBytes(m, bytes, 2);
    CFDataIncreaseLength(m, 3);
    ASSERT_EQ(CFDataGetLength(m), 8);
    EXPECT_EQ(CFDataGetBytePtr(m)[4], 2);
    EXPECT_EQ(CFDataGetBytePtr(m)[7], 0);
    CFDataGetMutableBytePtr(m)[0] = 9;
    CFDataSetLength(m, 3);
    const UInt8 expected[] = {9, 2, 3};
    const auto e = own(CFDataCreate(nullptr, expected, 3));
    EXPECT_TRUE(CFEqual(m, e));
    EXPECT_EQ(CFHash(m), CFHash(e));
    EXPECT_FALSE(CFEqual(d, e));
    // Appending a buffer's own bytes.
    CFDataAppendBytes(m, CFDataGetBytePtr(m), CFDataGetLength(m));
    EXPECT_EQ(CFDataGetLength(m), 6);
    EXPECT_EQ(CFDataGetBytePtr(m)[3], 9);

    // An append that would pass the capacity is dropped whole.
    const auto bounded = own(CFDataCreateMutable(nullptr, 3));
    const UInt8 four[] = {1, 2, 3, 4};
    CFDataAppendBytes(bounded, four, 4);
    EXPECT_EQ(CFDataGetLength(bounded), 0);
    CFDataAppendBytes(bounded, four, 3);
    EXPECT_EQ(CFDataGetLength(bounded), 3);
}

TEST(CFData, NoCopyUsesBytesInPlaceAndFreesThemWithTheDeallocator) {
    static UInt8 fixed[] = {4, 5};
    EXPECT_EQ(
        CFDataGetBytePtr(own(CFDataCreateWithBytesNoCopy(nullptr, fixed, 2, kCFAllocatorNull))),
        fixed);
    auto* heap = static_cast<UInt8*>(std::malloc(4));
    std::memset(heap, 7, 4);
    CFDataRef owned = CFDataCreateWithBytesNoCopy(nullptr, heap, 4, kCFAllocatorMalloc);
    EXPECT_EQ(CFDataGetBytePtr(owned)[3], 7);
    CFRelease(owned); // frees heap; the sanitizer run would flag a leak otherwise
}

} // namespace
