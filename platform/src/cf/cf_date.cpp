#include "cf/cf_runtime.h"

#include <chrono>
#include <cmath>
#include <cstring>

#include <fmt/format.h>

using namespace vxplatform;

namespace {

class Date final : public Object {
public:
    explicit Date(CFAbsoluteTime at) : Object(kTypeDate), mAt(at) {}
    CFAbsoluteTime at() const { return mAt; }
    bool equals(const Object& other) const override {
        return mAt == static_cast<const Date&>(other).mAt;
    }
    CFHashCode hash() const override {
        const auto whole = static_cast<long long>(std::floor(mAt));
        return static_cast<CFHashCode>(whole);
    }
    std::string describe() const override {
        return fmt::format("<CFDate {}>{{time = {}}}", hexAddress(this), mAt);
    }

private:
    CFAbsoluteTime mAt;
};

const Date* asDate(CFTypeRef cf) {
    return as<Date>(cf, kTypeDate);
}

} // namespace

const CFTimeInterval kCFAbsoluteTimeIntervalSince1970 = 978307200.0;
const CFTimeInterval kCFAbsoluteTimeIntervalSince1904 = 3061152000.0;

CFAbsoluteTime CFAbsoluteTimeGetCurrent(void) {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration<double>(now).count() - kCFAbsoluteTimeIntervalSince1970;
}

CFTypeID CFDateGetTypeID(void) {
    return kTypeDate;
}

CFDateRef CFDateCreate(CFAllocatorRef, CFAbsoluteTime at) {
    return handle<CFDateRef>(new Date(at));
}

CFAbsoluteTime CFDateGetAbsoluteTime(CFDateRef theDate) {
    const Date* d = asDate(theDate);
    return d == nullptr ? 0.0 : d->at();
}

CFTimeInterval CFDateGetTimeIntervalSinceDate(CFDateRef theDate, CFDateRef otherDate) {
    return CFDateGetAbsoluteTime(theDate) - CFDateGetAbsoluteTime(otherDate);
}

CFComparisonResult CFDateCompare(CFDateRef theDate, CFDateRef otherDate, void*) {
    const double a = CFDateGetAbsoluteTime(theDate);
    const double b = CFDateGetAbsoluteTime(otherDate);
    return a < b ? kCFCompareLessThan : a > b ? kCFCompareGreaterThan : kCFCompareEqualTo;
}
