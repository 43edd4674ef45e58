// XML property lists through the API: float widths, mutability and the
// older entry points. What documents are accepted and refused, and value
// exactness against another reader, is the differential test's
// (plist_oracle.py).
#include "cf_test_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using cftest::own;

CFDataRef document(const std::string& body) {
    const std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">" + body + "</plist>\n";
    return CFDataCreate(nullptr, reinterpret_cast<const UInt8*>(text.data()),
                        static_cast<CFIndex>(text.size()));
}

// A 32-bit float comes back as the same float; read containers are immutable.
TEST(CFPropertyList, ReadBackKeepsFloatsAndGivesImmutableContainers) {
    float cpu = 0.1f;
    const auto n = own(CFNumberCreate(nullptr, kCFNumberFloat32Type, &cpu));
    const auto list = own(CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks));
    CFArrayAppendValue(list, n);
    const auto data =
        own(CFPropertyListCreateData(nullptr, list, kCFPropertyListXMLFormat_v1_0, 0, nullptr));
    CFPropertyListFormat format = 0;
    CFErrorRef error = nullptr;
    const auto back =
        own(CFPropertyListCreateWithData(nullptr, data, kCFPropertyListImmutable, &format, &error));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(error, nullptr);
    EXPECT_EQ(format, kCFPropertyListXMLFormat_v1_0);
    auto array = static_cast<CFMutableArrayRef>(const_cast<void*>(back.get()));
    float f = 0;
    EXPECT_TRUE(CFNumberGetValue(static_cast<CFNumberRef>(CFArrayGetValueAtIndex(array, 0)),
                                 kCFNumberFloat32Type, &f));
    EXPECT_EQ(f, cpu);
    CFArrayAppendValue(array, n);
    EXPECT_EQ(CFArrayGetCount(array), 1);
}

TEST(CFPropertyList, MutableContainersAndLeavesCanBeEdited) {
    const auto plist = own(CFPropertyListCreateWithData(
        nullptr, own(document("<array><string>s</string><data>AQID</data></array>")),
        kCFPropertyListMutableContainersAndLeaves, nullptr, nullptr));
    ASSERT_NE(plist, nullptr);
    auto array = static_cast<CFMutableArrayRef>(const_cast<void*>(plist.get()));
    CFArrayAppendValue(array, kCFBooleanTrue);
    EXPECT_EQ(CFArrayGetCount(array), 3);
    auto string =
        static_cast<CFMutableStringRef>(const_cast<void*>(CFArrayGetValueAtIndex(array, 0)));
    CFStringAppend(string, CFSTR("+"));
    EXPECT_TRUE(CFEqual(string, CFSTR("s+")));
    auto bytes = static_cast<CFMutableDataRef>(const_cast<void*>(CFArrayGetValueAtIndex(array, 1)));
    CFDataAppendBytes(bytes, reinterpret_cast<const UInt8*>("x"), 1);
    EXPECT_EQ(CFDataGetLength(bytes), 4);
}

TEST(CFPropertyList, OlderFormsAndValidity) {
    CFStringRef error = nullptr;
    const auto back = own(CFPropertyListCreateFromXMLData(
        nullptr, own(CFPropertyListCreateXMLData(nullptr, CFSTR("plain"))),
        kCFPropertyListImmutable, &error));
    EXPECT_EQ(error, nullptr);
    EXPECT_TRUE(CFEqual(back, CFSTR("plain")));
    EXPECT_EQ(
        CFPropertyListCreateFromXMLData(nullptr, own(document("<integer>x</integer>")), 0, &error),
        nullptr);
    ASSERT_NE(error, nullptr);
    CFRelease(error);

    // Non-string keys and foreign objects are not property lists.
    const auto dict = own(CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                                    &kCFTypeDictionaryValueCallBacks));
    CFDictionarySetValue(dict, own(cftest::makeNumber(1)), CFSTR("v"));
    EXPECT_FALSE(CFPropertyListIsValid(dict, kCFPropertyListXMLFormat_v1_0));
    const auto url =
        own(CFURLCreateWithFileSystemPath(nullptr, CFSTR("/tmp"), kCFURLPOSIXPathStyle, true));
    EXPECT_FALSE(CFPropertyListIsValid(url, kCFPropertyListXMLFormat_v1_0));
    EXPECT_TRUE(CFPropertyListIsValid(CFSTR("plain"), kCFPropertyListXMLFormat_v1_0));
}

} // namespace
