// Locales, backed by ICU locale identifiers.
#pragma once

#include "cf/cf_runtime.h"

#include <string>

namespace vxcf {

class Locale final : public Object {
public:
    explicit Locale(std::string identifier);
    ~Locale() override;

    // The platform spelling ("de_DE"), also what ICU is given.
    const std::string& identifier() const { return identifier_; }
    CFStringRef identifierString() const { return identifierString_; }
    CFTypeRef value(CFStringRef key) const;

    bool equals(const Object& other) const override {
        return identifier_ == static_cast<const Locale&>(other).identifier_;
    }
    CFHashCode hash() const override { return std::hash<std::string>()(identifier_); }
    std::string describe() const override;

private:
    std::string identifier_;
    CFStringRef identifierString_;
    CFStringRef decimalSeparator_ = nullptr;
    CFStringRef groupingSeparator_ = nullptr;
    CFStringRef language_ = nullptr;
    CFStringRef country_ = nullptr;
};

inline const Locale* asLocale(CFTypeRef cf) {
    return as<Locale>(cf, kTypeLocale);
}

// The locale named by the environment: LC_ALL, then LC_NUMERIC, then LANG.
std::string environmentLocaleIdentifier();

} // namespace vxcf
