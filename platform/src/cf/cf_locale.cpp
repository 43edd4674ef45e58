#include "cf/cf_locale.h"
#include "cf/cf_string.h"

#include <cstdlib>

#include <fmt/format.h>
#include <unicode/uloc.h>
#include <unicode/unum.h>

namespace vxplatform {

namespace {

// "de_DE.UTF-8@euro" -> "de_DE"; "C" and "POSIX" -> "en_US_POSIX".
std::string fromPosixName(std::string name) {
    name = name.substr(0, name.find_first_of(".@"));
    if (name.empty() || name == "C" || name == "POSIX") {
        return "en_US_POSIX";
    }
    for (char& c : name) {
        c = c == '-' ? '_' : c;
    }
    return name;
}

CFStringRef symbol(const std::string& locale, UNumberFormatSymbol which) {
    UErrorCode status = U_ZERO_ERROR;
    UNumberFormat* format = unum_open(UNUM_DECIMAL, nullptr, 0, locale.c_str(), nullptr, &status);
    if (U_FAILURE(status)) {
        return nullptr;
    }
    UChar buffer[32];
    const int32_t length = unum_getSymbol(format, which, buffer, 32, &status);
    unum_close(format);
    if (U_FAILURE(status) || length > 32) {
        return nullptr;
    }
    return createString(
        std::u16string(reinterpret_cast<const char16_t*>(buffer), static_cast<size_t>(length)));
}

CFStringRef part(const std::string& locale, bool language) {
    char buffer[ULOC_FULLNAME_CAPACITY];
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = language
                               ? uloc_getLanguage(locale.c_str(), buffer, sizeof buffer, &status)
                               : uloc_getCountry(locale.c_str(), buffer, sizeof buffer, &status);
    if (U_FAILURE(status) || length <= 0) {
        return nullptr;
    }
    return createString(std::string_view(buffer, static_cast<size_t>(length)));
}

} // namespace

std::string environmentLocaleIdentifier() {
    for (const char* variable : {"LC_ALL", "LC_NUMERIC", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && value[0] != '\0') {
            return fromPosixName(value);
        }
    }
    return fromPosixName("");
}

Locale::Locale(std::string identifier)
    : Object(kTypeLocale), mIdentifier(std::move(identifier)),
      mIdentifierString(createString(mIdentifier)) {
    if (mIdentifierString == nullptr) {
        mIdentifierString = createString(std::string_view(""));
    }
    mDecimalSeparator = symbol(mIdentifier, UNUM_DECIMAL_SEPARATOR_SYMBOL);
    mGroupingSeparator = symbol(mIdentifier, UNUM_GROUPING_SEPARATOR_SYMBOL);
    mLanguage = part(mIdentifier, true);
    mCountry = part(mIdentifier, false);
}

Locale::~Locale() {
    for (CFStringRef s :
         {mIdentifierString, mDecimalSeparator, mGroupingSeparator, mLanguage, mCountry}) {
        if (s != nullptr) {
            CFRelease(s);
        }
    }
}

CFTypeRef Locale::value(CFStringRef key) const {
    if (CFEqual(key, kCFLocaleIdentifier)) {
        return mIdentifierString;
    }
    if (CFEqual(key, kCFLocaleDecimalSeparator)) {
        return mDecimalSeparator;
    }
    if (CFEqual(key, kCFLocaleGroupingSeparator)) {
        return mGroupingSeparator;
    }
    if (CFEqual(key, kCFLocaleLanguageCode)) {
        return mLanguage;
    }
    if (CFEqual(key, kCFLocaleCountryCode)) {
        return mCountry;
    }
    return nullptr;
}

std::string Locale::describe() const {
    return fmt::format("<CFLocale {}>{{identifier = '{}'}}", hexAddress(this), mIdentifier);
}

} // namespace vxplatform

using namespace vxplatform;

const CFLocaleKey kCFLocaleIdentifier = CFSTR("locale:id");
const CFLocaleKey kCFLocaleDecimalSeparator = CFSTR("decimal");
const CFLocaleKey kCFLocaleGroupingSeparator = CFSTR("grouping");
const CFLocaleKey kCFLocaleLanguageCode = CFSTR("languageCode");
const CFLocaleKey kCFLocaleCountryCode = CFSTR("countryCode");

CFTypeID CFLocaleGetTypeID(void) {
    return kTypeLocale;
}

CFLocaleRef CFLocaleCopyCurrent(void) {
    return handle<CFLocaleRef>(new Locale(environmentLocaleIdentifier()));
}

CFLocaleRef CFLocaleGetSystem(void) {
    static const Locale* system = [] {
        auto* locale = new Locale("");
        locale->makeImmortal();
        return locale;
    }();
    return handle<CFLocaleRef>(system);
}

CFLocaleRef CFLocaleCreate(CFAllocatorRef, CFLocaleIdentifier localeIdentifier) {
    if (asString(localeIdentifier) == nullptr) {
        return nullptr;
    }
    std::string identifier = toUTF8(localeIdentifier);
    for (char& c : identifier) {
        c = c == '-' ? '_' : c;
    }
    return handle<CFLocaleRef>(new Locale(identifier));
}

CFLocaleIdentifier CFLocaleGetIdentifier(CFLocaleRef locale) {
    const Locale* l = asLocale(locale);
    return l == nullptr ? nullptr : l->identifierString();
}

CFTypeRef CFLocaleGetValue(CFLocaleRef locale, CFLocaleKey key) {
    const Locale* l = asLocale(locale);
    return l == nullptr ? nullptr : l->value(key);
}
