// Numbers and booleans.
#pragma once

#include "cf/cf_runtime.h"

#include <string>

namespace vxcf {

class Number final : public Object {
public:
    Number(CFNumberType canonicalType, int64_t value);
    Number(CFNumberType canonicalType, double value);

    CFNumberType canonicalType() const { return type_; }
    bool isFloat() const { return isFloat_; }
    int64_t intValue() const { return int_; }
    double floatValue() const { return float_; }
    // The value in the shortest text that reads back to the same number.
    std::string text() const;

    bool equals(const Object& other) const override;
    CFHashCode hash() const override;
    std::string describe() const override;
    std::string formatted() const override { return text(); }

private:
    CFNumberType type_;
    bool isFloat_;
    int64_t int_ = 0;
    double float_ = 0.0;
};

inline const Number* asNumber(CFTypeRef cf) {
    return as<Number>(cf, kTypeNumber);
}

CFNumberRef createNumber(int64_t value);
CFNumberRef createNumber(double value);
// Shortest round-trip text of a double ("nan", "+infinity", "-infinity" for
// the special values).
std::string doubleText(double value);

} // namespace vxcf
