// XML property lists: round trips and malformed input.
#include "cf_test_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

namespace {

using cftest::own;

CFDataRef dataOf(const std::string& text) {
    return CFDataCreate(nullptr, reinterpret_cast<const UInt8*>(text.data()),
                        static_cast<CFIndex>(text.size()));
}

std::string textOf(CFDataRef data) {
    return std::string(reinterpret_cast<const char*>(CFDataGetBytePtr(data)),
                       static_cast<size_t>(CFDataGetLength(data)));
}

std::string wrap(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n" +
           body + "\n</plist>\n";
}

CFPropertyListRef roundTrip(CFPropertyListRef plist, std::string* xml = nullptr) {
    CFErrorRef error = nullptr;
    CFDataRef data =
        CFPropertyListCreateData(nullptr, plist, kCFPropertyListXMLFormat_v1_0, 0, &error);
    EXPECT_EQ(error, nullptr);
    if (data == nullptr) {
        return nullptr;
    }
    if (xml != nullptr) {
        *xml = textOf(data);
    }
    CFPropertyListFormat format = 0;
    CFPropertyListRef back =
        CFPropertyListCreateWithData(nullptr, data, kCFPropertyListImmutable, &format, &error);
    EXPECT_EQ(error, nullptr);
    EXPECT_EQ(format, kCFPropertyListXMLFormat_v1_0);
    CFRelease(data);
    return back;
}

// Parses text that must be rejected; returns the error's description.
std::string rejection(const std::string& text) {
    CFDataRef data = dataOf(text);
    CFErrorRef error = nullptr;
    CFPropertyListRef plist =
        CFPropertyListCreateWithData(nullptr, data, kCFPropertyListImmutable, nullptr, &error);
    CFRelease(data);
    EXPECT_EQ(plist, nullptr) << text;
    if (plist != nullptr) {
        CFRelease(plist);
    }
    if (error == nullptr) {
        ADD_FAILURE() << "no error for: " << text;
        return {};
    }
    EXPECT_EQ(CFErrorGetCode(error), kCFPropertyListReadCorruptError);
    CFStringRef description = CFErrorCopyDescription(error);
    char buffer[512];
    CFStringGetCString(description, buffer, sizeof buffer, kCFStringEncodingUTF8);
    CFRelease(description);
    CFRelease(error);
    return buffer;
}

TEST(CFPropertyList, NestedRoundTripKeepsEveryValue) {
    const auto root = own(CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                                    &kCFTypeDictionaryValueCallBacks));
    int32_t version = 0;
    int64_t big = std::numeric_limits<int64_t>::max();
    int64_t small = std::numeric_limits<int64_t>::min();
    double third = 1.0 / 3.0;
    double tiny = 4.9406564584124654e-324;
    float cpu = 0.1f;
    const auto n1 = own(CFNumberCreate(nullptr, kCFNumberSInt32Type, &version));
    const auto n2 = own(CFNumberCreate(nullptr, kCFNumberSInt64Type, &big));
    const auto n3 = own(CFNumberCreate(nullptr, kCFNumberSInt64Type, &small));
    const auto n4 = own(CFNumberCreate(nullptr, kCFNumberFloat64Type, &third));
    const auto n5 = own(CFNumberCreate(nullptr, kCFNumberFloat64Type, &tiny));
    const auto n6 = own(CFNumberCreate(nullptr, kCFNumberFloat32Type, &cpu));
    const UInt8 bytes[] = {0, 0, 0, 0, 0x3F, 0x80, 0, 0, 0xFF, 0xFE, '<', '&'};
    const auto data = own(CFDataCreate(nullptr, bytes, sizeof bytes));
    const auto empty = own(CFDataCreate(nullptr, nullptr, 0));
    const auto tricky = own(CFStringCreateWithCString(
        nullptr, "a <b> & \"c\" \xC3\xA9\r\n  spaced  ", kCFStringEncodingUTF8));
    const auto list = own(CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks));
    CFArrayAppendValue(list, n4);
    CFArrayAppendValue(list, kCFBooleanTrue);
    CFArrayAppendValue(list, kCFBooleanFalse);
    CFArrayAppendValue(list, CFSTR(""));
    const auto inner = own(CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                                     &kCFTypeDictionaryValueCallBacks));
    CFDictionarySetValue(inner, CFSTR("0"), CFSTR("Input name"));
    CFDictionarySetValue(inner, CFSTR("list"), list);
    const auto emptyList = own(CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks));
    const auto emptyDict =
        own(CFDictionaryCreate(nullptr, nullptr, nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                               &kCFTypeDictionaryValueCallBacks));
    const auto date = own(CFDateCreate(nullptr, 600000000.0));
    CFDictionarySetValue(root, CFSTR("version"), n1);
    CFDictionarySetValue(root, CFSTR("max"), n2);
    CFDictionarySetValue(root, CFSTR("min"), n3);
    CFDictionarySetValue(root, CFSTR("tiny"), n5);
    CFDictionarySetValue(root, CFSTR("cpu-load"), n6);
    CFDictionarySetValue(root, CFSTR("data"), data);
    CFDictionarySetValue(root, CFSTR("empty-data"), empty);
    CFDictionarySetValue(root, CFSTR("name"), tricky);
    CFDictionarySetValue(root, CFSTR("element-name"), inner);
    CFDictionarySetValue(root, CFSTR("nothing"), emptyList);
    CFDictionarySetValue(root, CFSTR("none"), emptyDict);
    CFDictionarySetValue(root, CFSTR("when"), date);
    EXPECT_TRUE(CFPropertyListIsValid(root, kCFPropertyListXMLFormat_v1_0));

    std::string xml;
    const auto back = own(roundTrip(root, &xml));
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(CFEqual(back, root)) << xml;
    EXPECT_EQ(xml.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist", 0), 0u);
    EXPECT_NE(xml.find("<integer>9223372036854775807</integer>"), std::string::npos);
    EXPECT_NE(xml.find("<key>cpu-load</key>"), std::string::npos);
    EXPECT_LT(xml.find("<key>cpu-load</key>"), xml.find("<key>version</key>")); // sorted keys

    auto dict = static_cast<CFDictionaryRef>(back.get());
    // Integers come back as 64-bit numbers with the same value.
    int64_t value = 0;
    ASSERT_TRUE(CFNumberGetValue(static_cast<CFNumberRef>(CFDictionaryGetValue(dict, CFSTR("min"))),
                                 kCFNumberSInt64Type, &value));
    EXPECT_EQ(value, small);
    double d = 0;
    CFNumberGetValue(static_cast<CFNumberRef>(CFDictionaryGetValue(dict, CFSTR("tiny"))),
                     kCFNumberFloat64Type, &d);
    EXPECT_EQ(d, tiny);
    float f = 0;
    EXPECT_TRUE(
        CFNumberGetValue(static_cast<CFNumberRef>(CFDictionaryGetValue(dict, CFSTR("cpu-load"))),
                         kCFNumberFloat32Type, &f));
    EXPECT_EQ(f, cpu);
    // Immutable containers by default.
    CFDictionarySetValue(const_cast<CFMutableDictionaryRef>(dict), CFSTR("x"), n1);
    EXPECT_FALSE(CFDictionaryContainsKey(dict, CFSTR("x")));
}

TEST(CFPropertyList, SpecialRealsAndMutability) {
    const std::string xml = wrap("<array><real>nan</real><real>+infinity</real>"
                                 "<real>-infinity</real><real>1e-3</real><integer>0x1F</integer>"
                                 "<string>s</string><data>AQID</data></array>");
    const auto data = own(dataOf(xml));
    const auto plist = own(CFPropertyListCreateWithData(
        nullptr, data, kCFPropertyListMutableContainersAndLeaves, nullptr, nullptr));
    ASSERT_NE(plist, nullptr);
    auto array = static_cast<CFMutableArrayRef>(const_cast<void*>(plist.get()));
    double v = 0;
    CFNumberGetValue(static_cast<CFNumberRef>(CFArrayGetValueAtIndex(array, 0)),
                     kCFNumberDoubleType, &v);
    EXPECT_TRUE(std::isnan(v));
    CFNumberGetValue(static_cast<CFNumberRef>(CFArrayGetValueAtIndex(array, 2)),
                     kCFNumberDoubleType, &v);
    EXPECT_TRUE(std::isinf(v) && v < 0);
    int i = 0;
    CFNumberGetValue(static_cast<CFNumberRef>(CFArrayGetValueAtIndex(array, 4)), kCFNumberIntType,
                     &i);
    EXPECT_EQ(i, 31);
    // Mutable containers and leaves: everything can be edited.
    CFArrayAppendValue(array, kCFBooleanTrue);
    EXPECT_EQ(CFArrayGetCount(array), 8);
    auto string =
        static_cast<CFMutableStringRef>(const_cast<void*>(CFArrayGetValueAtIndex(array, 5)));
    CFStringAppend(string, CFSTR("+"));
    EXPECT_TRUE(CFEqual(string, CFSTR("s+")));
    auto bytes = static_cast<CFMutableDataRef>(const_cast<void*>(CFArrayGetValueAtIndex(array, 6)));
    EXPECT_EQ(CFDataGetLength(bytes), 3);
    CFDataAppendBytes(bytes, reinterpret_cast<const UInt8*>("x"), 1);
    EXPECT_EQ(CFDataGetLength(bytes), 4);
    // Special values write back in the platform's spelling.
    CFArrayRemoveValueAtIndex(array, 7);
    std::string written;
    const auto again = own(roundTrip(plist, &written));
    EXPECT_NE(written.find("<real>nan</real>"), std::string::npos);
    EXPECT_NE(written.find("<real>+infinity</real>"), std::string::npos);
}

TEST(CFPropertyList, MalformedInputIsRejectedWithAnError) {
    const std::string good = wrap("<dict><key>a</key><integer>1</integer></dict>");
    EXPECT_FALSE(rejection(good.substr(0, good.size() / 2)).empty()); // truncated
    EXPECT_FALSE(rejection("").empty());
    EXPECT_FALSE(rejection("not xml at all").empty());
    EXPECT_NE(rejection("<html><body/></html>").find("html"), std::string::npos); // wrong root
    EXPECT_NE(rejection(wrap("<data>AQ!D</data>")).find("base64"), std::string::npos);
    EXPECT_NE(rejection(wrap("<data>AQ=D</data>")).find("base64"), std::string::npos);
    EXPECT_NE(rejection(wrap("<integer>12abc</integer>")).find("integer"), std::string::npos);
    EXPECT_FALSE(rejection(wrap("<integer></integer>")).empty());
    EXPECT_FALSE(rejection(wrap("<integer>9223372036854775808</integer>")).empty());
    EXPECT_FALSE(rejection(wrap("<real>1.5.2</real>")).empty());
    EXPECT_FALSE(rejection(wrap("<dict><key>a</key></dict>")).empty());
    EXPECT_FALSE(rejection(wrap("<dict><string>a</string><string>b</string></dict>")).empty());
    EXPECT_FALSE(rejection(wrap("<dict><key>a</key><key>b</key><true/></dict>")).empty());
    EXPECT_FALSE(rejection(wrap("<array><bogus/></array>")).empty());
    EXPECT_FALSE(rejection(wrap("<true>yes</true>")).empty());
    EXPECT_FALSE(rejection(wrap("<string><b>x</b></string>")).empty());
    EXPECT_FALSE(rejection(wrap("<date>yesterday</date>")).empty());
    EXPECT_FALSE(rejection(wrap("<string>a</string><string>b</string>")).empty());
    EXPECT_FALSE(rejection(wrap("")).empty());
    EXPECT_FALSE(rejection("bplist00\x01\x02").empty());
    std::string deep;
    for (int k = 0; k < 5000; ++k) {
        deep += "<array>";
    }
    for (int k = 0; k < 5000; ++k) {
        deep += "</array>";
    }
    EXPECT_NE(rejection(wrap(deep)).find("deep"), std::string::npos);
    // The line of the fault is reported.
    EXPECT_NE(rejection(wrap("<array>\n<true/>\n<integer>x</integer></array>")).find("line 6"),
              std::string::npos);
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

TEST(CFPropertyList, ReadsDocumentsWrittenByOtherTools) {
    // Comments, CDATA, a self-closed string and the platform's data layout.
    const std::string xml = wrap("<!-- preset -->\n<dict>\n\t<key>data</key>\n\t<data>\n\t"
                                 "AAAAAAAAAAAAAAACAAAAAD+AAAAAAAABPwAAAA==\n\t</data>\n"
                                 "\t<key>name</key>\n\t<string><![CDATA[a<b]]></string>\n"
                                 "\t<key>blank</key>\n\t<string/>\n</dict>");
    const auto data = own(dataOf(xml));
    CFErrorRef error = nullptr;
    const auto plist = own(CFPropertyListCreateWithData(nullptr, data, 0, nullptr, &error));
    ASSERT_NE(plist, nullptr);
    auto dict = static_cast<CFDictionaryRef>(plist.get());
    auto bytes = static_cast<CFDataRef>(CFDictionaryGetValue(dict, CFSTR("data")));
    ASSERT_EQ(CFDataGetLength(bytes), 28);
    EXPECT_EQ(CFDataGetBytePtr(bytes)[11], 2);
    EXPECT_EQ(CFDataGetBytePtr(bytes)[16], 0x3F);
    EXPECT_TRUE(CFEqual(CFDictionaryGetValue(dict, CFSTR("name")), CFSTR("a<b")));
    EXPECT_TRUE(CFEqual(CFDictionaryGetValue(dict, CFSTR("blank")), CFSTR("")));
}

} // namespace
