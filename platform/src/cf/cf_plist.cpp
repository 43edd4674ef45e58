// Property lists: the public entry points, validity and deep copies. The
// XML format itself lives in cf_plist_*.cpp (see cf_plist_xml.h).
#include "cf/cf_collections.h"
#include "cf/cf_data.h"
#include "cf/cf_plist_xml.h"
#include "cf/cf_string.h"

using namespace vxplatform;
using vxplatform::plist::kMaxDepth;

namespace {

const char kHeader[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                       "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                       "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                       "<plist version=\"1.0\">\n";

CFErrorRef makeError(CFIndex code, const std::string& message) {
    CFStringRef text = createString(message);
    if (text == nullptr) {
        text = createString(std::string_view("malformed property list"));
    }
    const void* keys[] = {kCFErrorDescriptionKey};
    const void* values[] = {text};
    CFErrorRef error =
        CFErrorCreateWithUserInfoKeysAndValues(nullptr, kCFErrorDomainCocoa, code, keys, values, 1);
    CFRelease(text);
    return error;
}

CFPropertyListRef parse(CFDataRef data, CFOptionFlags options, CFPropertyListFormat* format,
                        std::string& message) {
    const Data* d = asData(data);
    if (d == nullptr) {
        message = "no data";
        return nullptr;
    }
    plist::Document document;
    if (!plist::loadDocument(d->bytes(), static_cast<size_t>(d->length()), document, message)) {
        return nullptr;
    }
    CFPropertyListRef plist = plist::readPlist(document, options & 3, message);
    if (plist != nullptr && format != nullptr) {
        *format = kCFPropertyListXMLFormat_v1_0;
    }
    return plist;
}

bool isValid(CFTypeRef value, int depth) {
    if (value == nullptr || depth > kMaxDepth) {
        return false;
    }
    const CFTypeID type = CFGetTypeID(value);
    if (type == CFStringGetTypeID() || type == CFNumberGetTypeID() ||
        type == CFBooleanGetTypeID() || type == CFDataGetTypeID() || type == CFDateGetTypeID()) {
        return true;
    }
    if (type == CFArrayGetTypeID()) {
        for (const void* item : asArray(value)->values()) {
            if (!isValid(item, depth + 1)) {
                return false;
            }
        }
        return true;
    }
    if (type == CFDictionaryGetTypeID()) {
        bool valid = true;
        asDictionary(value)->forEach([&](const void* key, const void* item) {
            valid = valid && asString(key) != nullptr && isValid(item, depth + 1);
        });
        return valid;
    }
    return false;
}

CFPropertyListRef deepCopy(CFTypeRef value, CFOptionFlags mutability, int depth) {
    if (value == nullptr || depth > kMaxDepth) {
        return nullptr;
    }
    const CFTypeID type = CFGetTypeID(value);
    const bool leaves = mutability == kCFPropertyListMutableContainersAndLeaves;
    if (type == CFStringGetTypeID()) {
        auto s = static_cast<CFStringRef>(value);
        return leaves ? CFStringCreateMutableCopy(nullptr, 0, s) : CFStringCreateCopy(nullptr, s);
    }
    if (type == CFDataGetTypeID()) {
        auto d = static_cast<CFDataRef>(value);
        return leaves ? CFDataCreateMutableCopy(nullptr, 0, d) : CFDataCreateCopy(nullptr, d);
    }
    if (type == CFArrayGetTypeID()) {
        CFMutableArrayRef copy = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
        for (const void* item : asArray(value)->values()) {
            CFPropertyListRef inner = deepCopy(item, mutability, depth + 1);
            if (inner == nullptr) {
                CFRelease(copy);
                return nullptr;
            }
            CFArrayAppendValue(copy, inner);
            CFRelease(inner);
        }
        if (mutability != kCFPropertyListImmutable) {
            return copy;
        }
        CFArrayRef frozen = CFArrayCreateCopy(nullptr, copy);
        CFRelease(copy);
        return frozen;
    }
    if (type == CFDictionaryGetTypeID()) {
        CFMutableDictionaryRef copy = CFDictionaryCreateMutable(
            nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
        bool ok = true;
        asDictionary(value)->forEach([&](const void* key, const void* item) {
            CFPropertyListRef inner = ok ? deepCopy(item, mutability, depth + 1) : nullptr;
            if (inner == nullptr || asString(key) == nullptr) {
                ok = false;
            } else {
                CFStringRef keyCopy = CFStringCreateCopy(nullptr, static_cast<CFStringRef>(key));
                CFDictionarySetValue(copy, keyCopy, inner);
                CFRelease(keyCopy);
            }
            if (inner != nullptr) {
                CFRelease(inner);
            }
        });
        if (!ok) {
            CFRelease(copy);
            return nullptr;
        }
        if (mutability != kCFPropertyListImmutable) {
            return copy;
        }
        CFDictionaryRef frozen = CFDictionaryCreateCopy(nullptr, copy);
        CFRelease(copy);
        return frozen;
    }
    if (isValid(value, depth)) {
        return CFRetain(value); // numbers, booleans and dates never change
    }
    return nullptr;
}

} // namespace

Boolean CFPropertyListIsValid(CFPropertyListRef plist, CFPropertyListFormat format) {
    if (format != kCFPropertyListXMLFormat_v1_0 && format != kCFPropertyListBinaryFormat_v1_0) {
        return false;
    }
    return isValid(plist, 0);
}

CFDataRef CFPropertyListCreateData(CFAllocatorRef, CFPropertyListRef propertyList,
                                   CFPropertyListFormat format, CFOptionFlags, CFErrorRef* error) {
    if (error != nullptr) {
        *error = nullptr;
    }
    if (format != kCFPropertyListXMLFormat_v1_0) {
        if (error != nullptr) {
            *error = makeError(kCFPropertyListWriteStreamError,
                               "only the XML property-list format can be written");
        }
        return nullptr;
    }
    std::string text = kHeader;
    std::string message;
    if (!plist::writePlist(propertyList, text, message)) {
        if (error != nullptr) {
            *error = makeError(kCFPropertyListWriteStreamError,
                               "property list invalid for format: " + message);
        }
        return nullptr;
    }
    text += "</plist>\n";
    return createData(std::vector<UInt8>(text.begin(), text.end()));
}

CFPropertyListRef CFPropertyListCreateWithData(CFAllocatorRef, CFDataRef data,
                                               CFOptionFlags options, CFPropertyListFormat* format,
                                               CFErrorRef* error) {
    if (error != nullptr) {
        *error = nullptr;
    }
    std::string message;
    CFPropertyListRef plist = parse(data, options, format, message);
    if (plist == nullptr && error != nullptr) {
        *error = makeError(kCFPropertyListReadCorruptError, message);
    }
    return plist;
}

CFPropertyListRef CFPropertyListCreateDeepCopy(CFAllocatorRef, CFPropertyListRef propertyList,
                                               CFOptionFlags mutabilityOption) {
    return deepCopy(propertyList, mutabilityOption & 3, 0);
}

CFDataRef CFPropertyListCreateXMLData(CFAllocatorRef allocator, CFPropertyListRef propertyList) {
    return CFPropertyListCreateData(allocator, propertyList, kCFPropertyListXMLFormat_v1_0, 0,
                                    nullptr);
}

CFPropertyListRef CFPropertyListCreateFromXMLData(CFAllocatorRef, CFDataRef xmlData,
                                                  CFOptionFlags mutabilityOption,
                                                  CFStringRef* errorString) {
    if (errorString != nullptr) {
        *errorString = nullptr;
    }
    std::string message;
    CFPropertyListRef plist = parse(xmlData, mutabilityOption, nullptr, message);
    if (plist == nullptr && errorString != nullptr) {
        *errorString = createString(message);
    }
    return plist;
}
