// XML property lists as a host or a user hands them over (.aupreset files).
// Whatever is read must write back as XML that reads again into an equal
// tree, and everything created is released again (the leak checker sees it).
#include "FuzzSupport.h"

#include <CoreFoundation/CoreFoundation.h>

#include <string>

namespace {

std::string bytesOf(CFDataRef data) {
    return std::string(reinterpret_cast<const char*>(CFDataGetBytePtr(data)),
                       static_cast<size_t>(CFDataGetLength(data)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    // The first byte picks the mutability option; the rest is the document.
    static const CFOptionFlags kOptions[] = {kCFPropertyListImmutable,
                                             kCFPropertyListMutableContainers,
                                             kCFPropertyListMutableContainersAndLeaves};
    const CFOptionFlags options = kOptions[data[0] % 3];
    CFDataRef xml = CFDataCreate(nullptr, data + 1, static_cast<CFIndex>(size - 1));
    FUZZ_CHECK(xml != nullptr);

    CFPropertyListFormat format = 0;
    CFErrorRef error = nullptr;
    CFPropertyListRef plist = CFPropertyListCreateWithData(nullptr, xml, options, &format, &error);
    CFRelease(xml);
    if (plist == nullptr) {
        // A refusal always says why.
        FUZZ_CHECK(error != nullptr);
        FUZZ_CHECK(CFErrorGetCode(error) != 0);
        CFStringRef description = CFErrorCopyDescription(error);
        if (description)
            CFRelease(description);
        CFRelease(error);
        return 0;
    }
    FUZZ_CHECK(error == nullptr);
    FUZZ_CHECK(format == kCFPropertyListXMLFormat_v1_0);
    FUZZ_CHECK(CFPropertyListIsValid(plist, kCFPropertyListXMLFormat_v1_0));

    // Written and read again: the same tree (numbers that are not a number
    // compare unequal to themselves, so the written texts are compared too).
    CFDataRef first =
        CFPropertyListCreateData(nullptr, plist, kCFPropertyListXMLFormat_v1_0, 0, nullptr);
    FUZZ_CHECK(first != nullptr);
    CFPropertyListRef reread =
        CFPropertyListCreateWithData(nullptr, first, kCFPropertyListImmutable, nullptr, nullptr);
    FUZZ_CHECK(reread != nullptr);
    CFDataRef second =
        CFPropertyListCreateData(nullptr, reread, kCFPropertyListXMLFormat_v1_0, 0, nullptr);
    FUZZ_CHECK(second != nullptr);
    FUZZ_CHECK(bytesOf(first) == bytesOf(second));
    if (CFEqual(reread, reread))
        FUZZ_CHECK(CFEqual(reread, plist));

    // A deep copy writes the same text.
    CFPropertyListRef copy = CFPropertyListCreateDeepCopy(nullptr, plist, options);
    FUZZ_CHECK(copy != nullptr);
    CFDataRef copied =
        CFPropertyListCreateData(nullptr, copy, kCFPropertyListXMLFormat_v1_0, 0, nullptr);
    FUZZ_CHECK(copied != nullptr && bytesOf(copied) == bytesOf(first));
    CFRelease(copied);
    CFRelease(copy);

    CFRelease(second);
    CFRelease(reread);
    CFRelease(first);
    CFRelease(plist);
    return 0;
}
