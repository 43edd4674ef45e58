#include "cf/cf_number.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include <fmt/format.h>

namespace vxplatform {

namespace {

constexpr double kTwoTo63 = 9223372036854775808.0;

bool doubleIsInt64(double d, int64_t* out) {
    if (!(d >= -kTwoTo63 && d < kTwoTo63) || std::trunc(d) != d) {
        return false;
    }
    *out = static_cast<int64_t>(d);
    return true;
}

// The stored type for a requested type: integers by width, reals by precision.
CFNumberType canonical(CFNumberType type) {
    switch (type) {
    case kCFNumberSInt8Type:
    case kCFNumberCharType:
        return kCFNumberSInt8Type;
    case kCFNumberSInt16Type:
    case kCFNumberShortType:
        return kCFNumberSInt16Type;
    case kCFNumberSInt32Type:
    case kCFNumberIntType:
        return kCFNumberSInt32Type;
    case kCFNumberSInt64Type:
    case kCFNumberLongType:
    case kCFNumberLongLongType:
    case kCFNumberCFIndexType:
    case kCFNumberNSIntegerType:
        return kCFNumberSInt64Type;
    case kCFNumberFloat32Type:
    case kCFNumberFloatType:
        return kCFNumberFloat32Type;
    case kCFNumberFloat64Type:
    case kCFNumberDoubleType:
    case kCFNumberCGFloatType:
        return kCFNumberFloat64Type;
    default:
        return 0;
    }
}

template <class T> bool storeInteger(int64_t value, void* out) {
    const bool fits = value >= static_cast<int64_t>(std::numeric_limits<T>::min()) &&
                      value <= static_cast<int64_t>(std::numeric_limits<T>::max());
    const T narrowed = static_cast<T>(value);
    std::memcpy(out, &narrowed, sizeof narrowed);
    return fits;
}

template <class T> bool storeIntegerFromDouble(double value, void* out) {
    // Saturates instead of invoking undefined behaviour on out-of-range values.
    constexpr double lo = static_cast<double>(std::numeric_limits<T>::min());
    constexpr double hi = static_cast<double>(std::numeric_limits<T>::max());
    T narrowed = 0;
    bool exact = false;
    if (std::isnan(value)) {
        narrowed = 0;
    } else if (value <= lo) {
        narrowed = std::numeric_limits<T>::min();
        exact = value == lo;
    } else if (value >= hi) {
        narrowed = std::numeric_limits<T>::max();
        exact = value == hi && static_cast<double>(narrowed) == hi;
    } else {
        narrowed = static_cast<T>(value);
        exact = static_cast<double>(narrowed) == value;
    }
    std::memcpy(out, &narrowed, sizeof narrowed);
    return exact;
}

} // namespace

Number::Number(CFNumberType canonicalType, int64_t value)
    : Object(kTypeNumber), mType(canonicalType), mIsFloat(false), mInt(value) {}

Number::Number(CFNumberType canonicalType, double value)
    : Object(kTypeNumber), mType(canonicalType), mIsFloat(true), mFloat(value) {}

std::string Number::text() const {
    return mIsFloat ? doubleText(mFloat) : std::to_string(mInt);
}

bool Number::equals(const Object& other) const {
    const auto& o = static_cast<const Number&>(other);
    if (!mIsFloat && !o.mIsFloat) {
        return mInt == o.mInt;
    }
    if (mIsFloat && o.mIsFloat) {
        return mFloat == o.mFloat || (std::isnan(mFloat) && std::isnan(o.mFloat));
    }
    const double d = mIsFloat ? mFloat : o.mFloat;
    const int64_t i = mIsFloat ? o.mInt : mInt;
    int64_t converted = 0;
    return doubleIsInt64(d, &converted) && converted == i;
}

CFHashCode Number::hash() const {
    int64_t asInt = mInt;
    if (!mIsFloat || doubleIsInt64(mFloat, &asInt)) {
        return static_cast<CFHashCode>(asInt) * 2654435761u;
    }
    uint64_t bits = 0;
    const double d = std::isnan(mFloat) ? std::numeric_limits<double>::quiet_NaN() : mFloat;
    std::memcpy(&bits, &d, sizeof bits);
    return static_cast<CFHashCode>(bits ^ (bits >> 29));
}

std::string Number::describe() const {
    static const char* const names[] = {"",
                                        "kCFNumberSInt8Type",
                                        "kCFNumberSInt16Type",
                                        "kCFNumberSInt32Type",
                                        "kCFNumberSInt64Type",
                                        "kCFNumberFloat32Type",
                                        "kCFNumberFloat64Type"};
    return fmt::format("<CFNumber {}>{{value = {}, type = {}}}", hexAddress(this), text(),
                       names[mType]);
}

std::string doubleText(double value) {
    if (std::isnan(value)) {
        return "nan";
    }
    if (std::isinf(value)) {
        return value > 0 ? "+infinity" : "-infinity";
    }
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

CFNumberRef createNumber(int64_t value) {
    return handle<CFNumberRef>(new Number(kCFNumberSInt64Type, value));
}

CFNumberRef createNumber(double value) {
    return handle<CFNumberRef>(new Number(kCFNumberFloat64Type, value));
}

namespace {

class BooleanObject final : public Object {
public:
    explicit BooleanObject(bool value) : Object(kTypeBoolean), mValue(value) { makeImmortal(); }
    bool value() const { return mValue; }
    CFHashCode hash() const override { return mValue ? 1 : 0; }
    std::string describe() const override {
        return fmt::format("<CFBoolean {}>{{value = {}}}", hexAddress(this),
                           mValue ? "true" : "false");
    }
    std::string formatted() const override { return mValue ? "1" : "0"; }

private:
    bool mValue;
};

BooleanObject gTrue(true);
BooleanObject gFalse(false);

Number* makeImmortalNumber(double value) {
    auto* number = new Number(kCFNumberFloat64Type, value);
    number->makeImmortal();
    return number;
}

} // namespace

} // namespace vxplatform

using namespace vxplatform;

const CFBooleanRef kCFBooleanTrue = handle<CFBooleanRef>(&gTrue);
const CFBooleanRef kCFBooleanFalse = handle<CFBooleanRef>(&gFalse);
const CFNumberRef kCFNumberPositiveInfinity =
    handle<CFNumberRef>(makeImmortalNumber(std::numeric_limits<double>::infinity()));
const CFNumberRef kCFNumberNegativeInfinity =
    handle<CFNumberRef>(makeImmortalNumber(-std::numeric_limits<double>::infinity()));
const CFNumberRef kCFNumberNaN =
    handle<CFNumberRef>(makeImmortalNumber(std::numeric_limits<double>::quiet_NaN()));

CFTypeID CFBooleanGetTypeID(void) {
    return kTypeBoolean;
}

Boolean CFBooleanGetValue(CFBooleanRef boolean) {
    return boolean == kCFBooleanTrue;
}

CFTypeID CFNumberGetTypeID(void) {
    return kTypeNumber;
}

CFNumberRef CFNumberCreate(CFAllocatorRef, CFNumberType theType, const void* valuePtr) {
    const CFNumberType type = canonical(theType);
    if (type == 0 || valuePtr == nullptr) {
        return nullptr;
    }
    Number* number = nullptr;
    switch (theType) {
    case kCFNumberSInt8Type:
    case kCFNumberCharType: {
        int8_t v;
        std::memcpy(&v, valuePtr, sizeof v);
        number = new Number(type, static_cast<int64_t>(v));
        break;
    }
    case kCFNumberSInt16Type:
    case kCFNumberShortType: {
        int16_t v;
        std::memcpy(&v, valuePtr, sizeof v);
        number = new Number(type, static_cast<int64_t>(v));
        break;
    }
    case kCFNumberSInt32Type:
    case kCFNumberIntType: {
        int32_t v;
        std::memcpy(&v, valuePtr, sizeof v);
        number = new Number(type, static_cast<int64_t>(v));
        break;
    }
    case kCFNumberFloat32Type:
    case kCFNumberFloatType: {
        float v;
        std::memcpy(&v, valuePtr, sizeof v);
        number = new Number(type, static_cast<double>(v));
        break;
    }
    case kCFNumberFloat64Type:
    case kCFNumberDoubleType:
    case kCFNumberCGFloatType: {
        double v;
        std::memcpy(&v, valuePtr, sizeof v);
        number = new Number(type, v);
        break;
    }
    default: {
        int64_t v;
        std::memcpy(&v, valuePtr, sizeof v);
        number = new Number(type, v);
        break;
    }
    }
    return handle<CFNumberRef>(number);
}

CFNumberType CFNumberGetType(CFNumberRef number) {
    const Number* n = asNumber(number);
    return n == nullptr ? 0 : n->canonicalType();
}

CFIndex CFNumberGetByteSize(CFNumberRef number) {
    switch (CFNumberGetType(number)) {
    case kCFNumberSInt8Type:
        return 1;
    case kCFNumberSInt16Type:
        return 2;
    case kCFNumberSInt32Type:
    case kCFNumberFloat32Type:
        return 4;
    case kCFNumberSInt64Type:
    case kCFNumberFloat64Type:
        return 8;
    default:
        return 0;
    }
}

Boolean CFNumberIsFloatType(CFNumberRef number) {
    const Number* n = asNumber(number);
    return n != nullptr && n->isFloat();
}

Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void* valuePtr) {
    const Number* n = asNumber(number);
    const CFNumberType target = canonical(theType);
    if (n == nullptr || target == 0 || valuePtr == nullptr) {
        return false;
    }
    if (target == kCFNumberFloat32Type || target == kCFNumberFloat64Type) {
        const double d = n->isFloat() ? n->floatValue() : static_cast<double>(n->intValue());
        bool exact = n->isFloat() || (d < kTwoTo63 && static_cast<int64_t>(d) == n->intValue());
        if (target == kCFNumberFloat32Type) {
            const auto f = static_cast<float>(d);
            exact = exact && (static_cast<double>(f) == d || std::isnan(d));
            std::memcpy(valuePtr, &f, sizeof f);
        } else {
            std::memcpy(valuePtr, &d, sizeof d);
        }
        return exact;
    }
    if (n->isFloat()) {
        switch (target) {
        case kCFNumberSInt8Type:
            return storeIntegerFromDouble<int8_t>(n->floatValue(), valuePtr);
        case kCFNumberSInt16Type:
            return storeIntegerFromDouble<int16_t>(n->floatValue(), valuePtr);
        case kCFNumberSInt32Type:
            return storeIntegerFromDouble<int32_t>(n->floatValue(), valuePtr);
        default:
            return storeIntegerFromDouble<int64_t>(n->floatValue(), valuePtr);
        }
    }
    switch (target) {
    case kCFNumberSInt8Type:
        return storeInteger<int8_t>(n->intValue(), valuePtr);
    case kCFNumberSInt16Type:
        return storeInteger<int16_t>(n->intValue(), valuePtr);
    case kCFNumberSInt32Type:
        return storeInteger<int32_t>(n->intValue(), valuePtr);
    default:
        return storeInteger<int64_t>(n->intValue(), valuePtr);
    }
}

CFComparisonResult CFNumberCompare(CFNumberRef number, CFNumberRef otherNumber, void*) {
    const Number* a = asNumber(number);
    const Number* b = asNumber(otherNumber);
    if (a == nullptr || b == nullptr) {
        return kCFCompareEqualTo;
    }
    if (!a->isFloat() && !b->isFloat()) {
        return a->intValue() < b->intValue()   ? kCFCompareLessThan
               : a->intValue() > b->intValue() ? kCFCompareGreaterThan
                                               : kCFCompareEqualTo;
    }
    if (a->equals(*b)) {
        return kCFCompareEqualTo;
    }
    // NaN sorts below everything else.
    const long double x = a->isFloat() ? a->floatValue() : a->intValue();
    const long double y = b->isFloat() ? b->floatValue() : b->intValue();
    if (std::isnan(x)) {
        return kCFCompareLessThan;
    }
    if (std::isnan(y)) {
        return kCFCompareGreaterThan;
    }
    return x < y ? kCFCompareLessThan : kCFCompareGreaterThan;
}
