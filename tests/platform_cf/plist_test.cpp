// XML property lists through the API: object types, mutability and the
// older entry points. What documents are accepted and refused, and value
// exactness against another reader, is the differential test's
// (plist_oracle.py).
#include "cf_test_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

using cftest::own;

CFDataRef dataOf(const std::string& text) {
    return CFDataCreate(nullptr, reinterpret_cast<const UInt8*>(text.data()),
                        static_cast<CFIndex>(text.size()));
}

std::string wrap(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n" +
           body + "\n</plist>\n";
}

// Numbers of every width come back as the value they were; read containers
// are immutable. (Document bytes and key order are the differential test's.)
TEST(CFPropertyList, ReadBackKeepsNumberWidthsAndGivesImmutableContainers) {
    const auto root = own(CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                                    &kCFTypeDictionaryValueCallBacks));
    int32_t version = -7;
    float cpu = 0.1f;
    const auto n1 = own(CFNumberCreate(nullptr, kCFNumberSInt32Type, &version));
    const auto n2 = own(CFNumberCreate(nullptr, kCFNumberFloat32Type, &cpu));
    const auto list = own(CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks));
    CFArrayAppendValue(list, n2);
    CFDictionarySetValue(root, CFSTR("version"), n1);
    CFDictionarySetValue(root, CFSTR("cpu-load"), n2);
    CFDictionarySetValue(root, CFSTR("list"), list);

    CFErrorRef error = nullptr;
    const auto data =
        own(CFPropertyListCreateData(nullptr, root, kCFPropertyListXMLFormat_v1_0, 0, &error));
    ASSERT_NE(data, nullptr);
    CFPropertyListFormat format = 0;
    const auto back =
        own(CFPropertyListCreateWithData(nullptr, data, kCFPropertyListImmutable, &format, &error));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(error, nullptr);
    EXPECT_EQ(format, kCFPropertyListXMLFormat_v1_0);
    auto dict = static_cast<CFDictionaryRef>(back.get());
    int64_t value = 0;
    auto number = static_cast<CFNumberRef>(CFDictionaryGetValue(dict, CFSTR("version")));
    ASSERT_TRUE(CFNumberGetValue(number, kCFNumberSInt64Type, &value));
    EXPECT_EQ(value, version);
    float f = 0;
    number = static_cast<CFNumberRef>(CFDictionaryGetValue(dict, CFSTR("cpu-load")));
    EXPECT_TRUE(CFNumberGetValue(number, kCFNumberFloat32Type, &f));
    EXPECT_EQ(f, cpu);
    CFDictionarySetValue(const_cast<CFMutableDictionaryRef>(dict), CFSTR("x"), n1);
    EXPECT_FALSE(CFDictionaryContainsKey(dict, CFSTR("x")));
    auto array = static_cast<CFArrayRef>(CFDictionaryGetValue(dict, CFSTR("list")));
    CFArrayAppendValue(const_cast<CFMutableArrayRef>(array), n1);
    EXPECT_EQ(CFArrayGetCount(array), 1);
}

TEST(CFPropertyList, MutableContainersAndLeavesCanBeEdited) {
    const auto data = own(dataOf(wrap("<array><string>s</string><data>AQID</data></array>")));
    const auto plist = own(CFPropertyListCreateWithData(
        nullptr, data, kCFPropertyListMutableContainersAndLeaves, nullptr, nullptr));
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
    const auto data = own(CFPropertyListCreateXMLData(nullptr, CFSTR("plain")));
    ASSERT_NE(data, nullptr);
    CFStringRef error = nullptr;
    const auto back =
        own(CFPropertyListCreateFromXMLData(nullptr, data, kCFPropertyListImmutable, &error));
    EXPECT_EQ(error, nullptr);
    EXPECT_TRUE(CFEqual(back, CFSTR("plain")));

    const auto bad = own(dataOf(wrap("<integer>x</integer>")));
    EXPECT_EQ(CFPropertyListCreateFromXMLData(nullptr, bad, 0, &error), nullptr);
    ASSERT_NE(error, nullptr);
    CFRelease(error);

    // Non-string keys and foreign objects are not property lists.
    int one = 1;
    const auto key = own(CFNumberCreate(nullptr, kCFNumberIntType, &one));
    const auto dict = own(CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                                    &kCFTypeDictionaryValueCallBacks));
    CFDictionarySetValue(dict, key, CFSTR("v"));
    EXPECT_FALSE(CFPropertyListIsValid(dict, kCFPropertyListXMLFormat_v1_0));
    CFErrorRef writeError = nullptr;
    EXPECT_EQ(
        CFPropertyListCreateData(nullptr, dict, kCFPropertyListXMLFormat_v1_0, 0, &writeError),
        nullptr);
    ASSERT_NE(writeError, nullptr);
    CFRelease(writeError);
    const auto url =
        own(CFURLCreateWithFileSystemPath(nullptr, CFSTR("/tmp"), kCFURLPOSIXPathStyle, true));
    EXPECT_FALSE(CFPropertyListIsValid(url, kCFPropertyListXMLFormat_v1_0));
}

} // namespace
