// Locales, backed by ICU locale identifiers.
#pragma once

#include "cf/cf_runtime.h"

#include <string>

namespace vxplatform {

class Locale final : public Object {
public:
    explicit Locale(std::string identifier);
    ~Locale() override;

    // The platform spelling ("de_DE"), also what ICU is given.
    const std::string& identifier() const { return mIdentifier; }
    CFStringRef identifierString() const { return mIdentifierString; }
    CFTypeRef value(CFStringRef key) const;

    bool equals(const Object& other) const override {
        return mIdentifier == static_cast<const Locale&>(other).mIdentifier;
    }
    CFHashCode hash() const override { return std::hash<std::string>()(mIdentifier); }
    std::string describe() const override;

private:
    std::string mIdentifier;
    CFStringRef mIdentifierString;
    CFStringRef mDecimalSeparator = nullptr;
    CFStringRef mGroupingSeparator = nullptr;
    CFStringRef mLanguage = nullptr;
    CFStringRef mCountry = nullptr;
};

inline const Locale* asLocale(CFTypeRef cf) {
    return as<Locale>(cf, kTypeLocale);
}

// The locale named by the environment: LC_ALL, then LC_NUMERIC, then LANG.
std::string environmentLocaleIdentifier();

} // namespace vxplatform
