// Numbers and booleans.
#pragma once

#include "cf/cf_runtime.h"

#include <string>

namespace vxplatform {

class Number final : public Object {
public:
    Number(CFNumberType canonicalType, int64_t value);
    Number(CFNumberType canonicalType, double value);

    CFNumberType canonicalType() const { return mType; }
    bool isFloat() const { return mIsFloat; }
    int64_t intValue() const { return mInt; }
    double floatValue() const { return mFloat; }
    // The value in the shortest text that reads back to the same number.
    std::string text() const;

    bool equals(const Object& other) const override;
    CFHashCode hash() const override;
    std::string describe() const override;
    std::string formatted() const override { return text(); }

private:
    CFNumberType mType;
    bool mIsFloat;
    int64_t mInt = 0;
    double mFloat = 0.0;
};

inline const Number* asNumber(CFTypeRef cf) {
    return as<Number>(cf, kTypeNumber);
}

CFNumberRef createNumber(int64_t value);
CFNumberRef createNumber(double value);
// Shortest round-trip text of a double ("nan", "+infinity", "-infinity" for
// the special values).
std::string doubleText(double value);

} // namespace vxplatform
