#include "cf/cf_collections.h"
#include "cf/cf_string.h"

#include <fmt/format.h>

using namespace vxplatform;

namespace {

class Error final : public Object {
public:
    Error(CFStringRef domain, CFIndex code, CFDictionaryRef userInfo)
        : Object(kTypeError), mDomain(CFStringCreateCopy(nullptr, domain)), mCode(code),
          mUserInfo(userInfo != nullptr ? CFDictionaryCreateCopy(nullptr, userInfo)
                                        : CFDictionaryCreate(nullptr, nullptr, nullptr, 0,
                                                             &kCFTypeDictionaryKeyCallBacks,
                                                             &kCFTypeDictionaryValueCallBacks)) {}
    ~Error() override {
        CFRelease(mDomain);
        CFRelease(mUserInfo);
    }

    CFStringRef domain() const { return mDomain; }
    CFIndex code() const { return mCode; }
    CFDictionaryRef userInfo() const { return mUserInfo; }

    bool equals(const Object& other) const override {
        const auto& o = static_cast<const Error&>(other);
        return mCode == o.mCode && CFEqual(mDomain, o.mDomain) && CFEqual(mUserInfo, o.mUserInfo);
    }
    CFHashCode hash() const override { return static_cast<CFHashCode>(mCode); }
    std::string describe() const override {
        return fmt::format("Error Domain={} Code={} \"{}\"", toUTF8(mDomain), mCode, text());
    }

    std::string text() const {
        const auto* localized =
            asString(CFDictionaryGetValue(mUserInfo, kCFErrorLocalizedDescriptionKey));
        if (localized != nullptr) {
            return localized->formatted();
        }
        std::string out = fmt::format("The operation couldn\u2019t be completed. ({} error {}",
                                      toUTF8(mDomain), mCode);
        const auto* detail = asString(CFDictionaryGetValue(mUserInfo, kCFErrorDescriptionKey));
        if (detail != nullptr) {
            out += " - " + detail->formatted();
        }
        return out + ".)";
    }

private:
    CFStringRef mDomain;
    CFIndex mCode;
    CFDictionaryRef mUserInfo;
};

const Error* asError(CFTypeRef cf) {
    return as<Error>(cf, kTypeError);
}

CFStringRef copyUserInfoString(CFErrorRef err, CFStringRef key) {
    const Error* e = asError(err);
    if (e == nullptr) {
        return nullptr;
    }
    auto value = static_cast<CFStringRef>(CFDictionaryGetValue(e->userInfo(), key));
    return asString(value) != nullptr ? static_cast<CFStringRef>(CFRetain(value)) : nullptr;
}

} // namespace

const CFErrorDomain kCFErrorDomainPOSIX = CFSTR("NSPOSIXErrorDomain");
const CFErrorDomain kCFErrorDomainOSStatus = CFSTR("NSOSStatusErrorDomain");
const CFErrorDomain kCFErrorDomainMach = CFSTR("NSMachErrorDomain");
const CFErrorDomain kCFErrorDomainCocoa = CFSTR("NSCocoaErrorDomain");

const CFStringRef kCFErrorLocalizedDescriptionKey = CFSTR("NSLocalizedDescription");
const CFStringRef kCFErrorLocalizedFailureReasonKey = CFSTR("NSLocalizedFailureReason");
const CFStringRef kCFErrorLocalizedRecoverySuggestionKey = CFSTR("NSLocalizedRecoverySuggestion");
const CFStringRef kCFErrorDescriptionKey = CFSTR("NSDescription");
const CFStringRef kCFErrorUnderlyingErrorKey = CFSTR("NSUnderlyingError");
const CFStringRef kCFErrorURLKey = CFSTR("NSURL");
const CFStringRef kCFErrorFilePathKey = CFSTR("NSFilePath");

CFTypeID CFErrorGetTypeID(void) {
    return kTypeError;
}

CFErrorRef CFErrorCreate(CFAllocatorRef, CFErrorDomain domain, CFIndex code,
                         CFDictionaryRef userInfo) {
    if (asString(domain) == nullptr) {
        return nullptr;
    }
    return handle<CFErrorRef>(new Error(domain, code, userInfo));
}

CFErrorRef CFErrorCreateWithUserInfoKeysAndValues(CFAllocatorRef allocator, CFErrorDomain domain,
                                                  CFIndex code, const void* const* userInfoKeys,
                                                  const void* const* userInfoValues,
                                                  CFIndex numUserInfoValues) {
    CFDictionaryRef userInfo = CFDictionaryCreate(
        nullptr, const_cast<const void**>(userInfoKeys), const_cast<const void**>(userInfoValues),
        numUserInfoValues, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    CFErrorRef error = CFErrorCreate(allocator, domain, code, userInfo);
    if (userInfo != nullptr) {
        CFRelease(userInfo);
    }
    return error;
}

CFErrorDomain CFErrorGetDomain(CFErrorRef err) {
    const Error* e = asError(err);
    return e == nullptr ? nullptr : e->domain();
}

CFIndex CFErrorGetCode(CFErrorRef err) {
    const Error* e = asError(err);
    return e == nullptr ? 0 : e->code();
}

CFDictionaryRef CFErrorCopyUserInfo(CFErrorRef err) {
    const Error* e = asError(err);
    return e == nullptr ? nullptr : CFDictionaryCreateCopy(nullptr, e->userInfo());
}

CFStringRef CFErrorCopyDescription(CFErrorRef err) {
    const Error* e = asError(err);
    return e == nullptr ? nullptr : createString(e->text());
}

CFStringRef CFErrorCopyFailureReason(CFErrorRef err) {
    return copyUserInfoString(err, kCFErrorLocalizedFailureReasonKey);
}

CFStringRef CFErrorCopyRecoverySuggestion(CFErrorRef err) {
    return copyUserInfoString(err, kCFErrorLocalizedRecoverySuggestionKey);
}
