// Number formatters on ICU's unum interface, the engine the platform's own
// formatter is built on.
#include "cf/cf_locale.h"
#include "cf/cf_number.h"
#include "cf/cf_string.h"

#include <cmath>
#include <mutex>

#include <fmt/format.h>
#include <unicode/unum.h>

using namespace vxplatform;

namespace {

UNumberFormatStyle icuStyle(CFNumberFormatterStyle style) {
    switch (style) {
    case kCFNumberFormatterCurrencyStyle:
        return UNUM_CURRENCY;
    case kCFNumberFormatterPercentStyle:
        return UNUM_PERCENT;
    case kCFNumberFormatterScientificStyle:
        return UNUM_SCIENTIFIC;
    case kCFNumberFormatterSpellOutStyle:
        return UNUM_SPELLOUT;
    case kCFNumberFormatterOrdinalStyle:
        return UNUM_ORDINAL;
    case kCFNumberFormatterCurrencyISOCodeStyle:
        return UNUM_CURRENCY_ISO;
    case kCFNumberFormatterCurrencyPluralStyle:
        return UNUM_CURRENCY_PLURAL;
    case kCFNumberFormatterCurrencyAccountingStyle:
        return UNUM_CURRENCY_ACCOUNTING;
    default:
        return UNUM_DECIMAL;
    }
}

struct Property {
    enum Kind { kIntAttribute, kBoolAttribute, kDoubleAttribute, kSymbol, kText } kind;
    int which;
};

bool lookupProperty(CFStringRef key, Property* out) {
    struct Row {
        CFStringRef key;
        Property property;
    };
    const Row rows[] = {
        {kCFNumberFormatterMinIntegerDigits, {Property::kIntAttribute, UNUM_MIN_INTEGER_DIGITS}},
        {kCFNumberFormatterMaxIntegerDigits, {Property::kIntAttribute, UNUM_MAX_INTEGER_DIGITS}},
        {kCFNumberFormatterMinFractionDigits, {Property::kIntAttribute, UNUM_MIN_FRACTION_DIGITS}},
        {kCFNumberFormatterMaxFractionDigits, {Property::kIntAttribute, UNUM_MAX_FRACTION_DIGITS}},
        {kCFNumberFormatterMinSignificantDigits,
         {Property::kIntAttribute, UNUM_MIN_SIGNIFICANT_DIGITS}},
        {kCFNumberFormatterMaxSignificantDigits,
         {Property::kIntAttribute, UNUM_MAX_SIGNIFICANT_DIGITS}},
        {kCFNumberFormatterGroupingSize, {Property::kIntAttribute, UNUM_GROUPING_SIZE}},
        {kCFNumberFormatterRoundingMode, {Property::kIntAttribute, UNUM_ROUNDING_MODE}},
        {kCFNumberFormatterMultiplier, {Property::kIntAttribute, UNUM_MULTIPLIER}},
        {kCFNumberFormatterUseSignificantDigits,
         {Property::kBoolAttribute, UNUM_SIGNIFICANT_DIGITS_USED}},
        {kCFNumberFormatterUseGroupingSeparator, {Property::kBoolAttribute, UNUM_GROUPING_USED}},
        {kCFNumberFormatterIsLenient, {Property::kBoolAttribute, UNUM_LENIENT_PARSE}},
        {kCFNumberFormatterAlwaysShowDecimalSeparator,
         {Property::kBoolAttribute, UNUM_DECIMAL_ALWAYS_SHOWN}},
        {kCFNumberFormatterRoundingIncrement,
         {Property::kDoubleAttribute, UNUM_ROUNDING_INCREMENT}},
        {kCFNumberFormatterDecimalSeparator, {Property::kSymbol, UNUM_DECIMAL_SEPARATOR_SYMBOL}},
        {kCFNumberFormatterGroupingSeparator, {Property::kSymbol, UNUM_GROUPING_SEPARATOR_SYMBOL}},
        {kCFNumberFormatterMinusSign, {Property::kSymbol, UNUM_MINUS_SIGN_SYMBOL}},
        {kCFNumberFormatterPlusSign, {Property::kSymbol, UNUM_PLUS_SIGN_SYMBOL}},
        {kCFNumberFormatterPercentSymbol, {Property::kSymbol, UNUM_PERCENT_SYMBOL}},
        {kCFNumberFormatterNaNSymbol, {Property::kSymbol, UNUM_NAN_SYMBOL}},
        {kCFNumberFormatterInfinitySymbol, {Property::kSymbol, UNUM_INFINITY_SYMBOL}},
        {kCFNumberFormatterCurrencySymbol, {Property::kSymbol, UNUM_CURRENCY_SYMBOL}},
        {kCFNumberFormatterCurrencyCode, {Property::kText, UNUM_CURRENCY_CODE}},
        {kCFNumberFormatterPositivePrefix, {Property::kText, UNUM_POSITIVE_PREFIX}},
        {kCFNumberFormatterPositiveSuffix, {Property::kText, UNUM_POSITIVE_SUFFIX}},
        {kCFNumberFormatterNegativePrefix, {Property::kText, UNUM_NEGATIVE_PREFIX}},
        {kCFNumberFormatterNegativeSuffix, {Property::kText, UNUM_NEGATIVE_SUFFIX}},
    };
    for (const Row& row : rows) {
        if (CFEqual(row.key, key)) {
            *out = row.property;
            return true;
        }
    }
    return false;
}

const UChar* units(const std::u16string& text) {
    return reinterpret_cast<const UChar*>(text.data());
}

// Runs an ICU call that writes UTF-16 into a buffer, growing it when needed.
template <class Call> std::u16string icuText(Call&& call) {
    std::u16string buffer(64, u'\0');
    UErrorCode status = U_ZERO_ERROR;
    int32_t length =
        call(reinterpret_cast<UChar*>(buffer.data()), static_cast<int32_t>(buffer.size()), &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        buffer.assign(static_cast<size_t>(length) + 1, u'\0');
        status = U_ZERO_ERROR;
        length = call(reinterpret_cast<UChar*>(buffer.data()), static_cast<int32_t>(buffer.size()),
                      &status);
    }
    if (U_FAILURE(status) || length < 0) {
        return {};
    }
    buffer.resize(static_cast<size_t>(length));
    return buffer;
}

class Formatter final : public Object {
public:
    Formatter(CFLocaleRef locale, CFNumberFormatterStyle style)
        : Object(kTypeNumberFormatter), mLocale(locale), mStyle(style) {
        CFRetain(mLocale);
        UErrorCode status = U_ZERO_ERROR;
        mFormat = unum_open(icuStyle(style), nullptr, 0, asLocale(locale)->identifier().c_str(),
                            nullptr, &status);
        if (U_FAILURE(status)) {
            mFormat = nullptr;
            return;
        }
        if (style == kCFNumberFormatterNoStyle) {
            // Whole numbers without grouping.
            unum_setAttribute(mFormat, UNUM_MAX_FRACTION_DIGITS, 0);
            unum_setAttribute(mFormat, UNUM_GROUPING_USED, 0);
        }
    }
    ~Formatter() override {
        if (mFormat != nullptr) {
            unum_close(mFormat);
        }
        if (mPattern != nullptr) {
            CFRelease(mPattern);
        }
        CFRelease(mLocale);
    }
    bool valid() const { return mFormat != nullptr; }
    CFLocaleRef locale() const { return mLocale; }
    CFNumberFormatterStyle style() const { return mStyle; }

    std::u16string format(const Number& number) {
        std::lock_guard<std::mutex> lock(mMutex);
        if (number.isFloat()) {
            const double value = number.floatValue();
            return icuText([&](UChar* out, int32_t capacity, UErrorCode* status) {
                return unum_formatDouble(mFormat, value, out, capacity, nullptr, status);
            });
        }
        const int64_t value = number.intValue();
        return icuText([&](UChar* out, int32_t capacity, UErrorCode* status) {
            return unum_formatInt64(mFormat, value, out, capacity, nullptr, status);
        });
    }

    // Parses from the start of text; the count of units used, or -1.
    int32_t parse(const std::u16string& text, bool integersOnly, double* value) {
        std::lock_guard<std::mutex> lock(mMutex);
        const int32_t wasIntegerOnly = unum_getAttribute(mFormat, UNUM_PARSE_INT_ONLY);
        if (integersOnly) {
            unum_setAttribute(mFormat, UNUM_PARSE_INT_ONLY, 1);
        }
        UErrorCode status = U_ZERO_ERROR;
        int32_t position = 0;
        *value = unum_parseDouble(mFormat, units(text), static_cast<int32_t>(text.size()),
                                  &position, &status);
        unum_setAttribute(mFormat, UNUM_PARSE_INT_ONLY, wasIntegerOnly);
        return U_FAILURE(status) || position <= 0 ? -1 : position;
    }

    void set(CFStringRef key, CFTypeRef value) {
        Property property{};
        if (!lookupProperty(key, &property) || value == nullptr) {
            return;
        }
        std::lock_guard<std::mutex> lock(mMutex);
        UErrorCode status = U_ZERO_ERROR;
        switch (property.kind) {
        case Property::kIntAttribute: {
            int v = 0;
            if (CFGetTypeID(value) == CFNumberGetTypeID()) {
                // A fractional or oversized value is used as converted.
                CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberIntType, &v);
                unum_setAttribute(mFormat, static_cast<UNumberFormatAttribute>(property.which), v);
            }
            break;
        }
        case Property::kBoolAttribute:
            if (CFGetTypeID(value) == CFBooleanGetTypeID()) {
                unum_setAttribute(mFormat, static_cast<UNumberFormatAttribute>(property.which),
                                  CFBooleanGetValue(static_cast<CFBooleanRef>(value)) ? 1 : 0);
            }
            break;
        case Property::kDoubleAttribute: {
            double v = 0;
            if (CFGetTypeID(value) == CFNumberGetTypeID()) {
                CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberDoubleType, &v);
                unum_setDoubleAttribute(mFormat,
                                        static_cast<UNumberFormatAttribute>(property.which), v);
            }
            break;
        }
        case Property::kSymbol:
            if (const String* s = asString(value)) {
                unum_setSymbol(mFormat, static_cast<UNumberFormatSymbol>(property.which),
                               units(s->text()), static_cast<int32_t>(s->text().size()), &status);
            }
            break;
        case Property::kText:
            if (const String* s = asString(value)) {
                unum_setTextAttribute(
                    mFormat, static_cast<UNumberFormatTextAttribute>(property.which),
                    units(s->text()), static_cast<int32_t>(s->text().size()), &status);
            }
            break;
        }
    }

    CFTypeRef copy(CFStringRef key) {
        Property property{};
        if (!lookupProperty(key, &property)) {
            return nullptr;
        }
        std::lock_guard<std::mutex> lock(mMutex);
        switch (property.kind) {
        case Property::kIntAttribute: {
            const int v =
                unum_getAttribute(mFormat, static_cast<UNumberFormatAttribute>(property.which));
            return CFNumberCreate(nullptr, kCFNumberIntType, &v);
        }
        case Property::kBoolAttribute:
            return CFRetain(
                unum_getAttribute(mFormat, static_cast<UNumberFormatAttribute>(property.which)) != 0
                    ? kCFBooleanTrue
                    : kCFBooleanFalse);
        case Property::kDoubleAttribute: {
            const double v = unum_getDoubleAttribute(
                mFormat, static_cast<UNumberFormatAttribute>(property.which));
            return CFNumberCreate(nullptr, kCFNumberDoubleType, &v);
        }
        case Property::kSymbol:
            return createString(icuText([&](UChar* out, int32_t capacity, UErrorCode* status) {
                return unum_getSymbol(mFormat, static_cast<UNumberFormatSymbol>(property.which),
                                      out, capacity, status);
            }));
        case Property::kText:
            return createString(icuText([&](UChar* out, int32_t capacity, UErrorCode* status) {
                return unum_getTextAttribute(
                    mFormat, static_cast<UNumberFormatTextAttribute>(property.which), out, capacity,
                    status);
            }));
        }
        return nullptr;
    }

    // The current pattern, kept by the formatter until the next call.
    CFStringRef pattern() {
        std::lock_guard<std::mutex> lock(mMutex);
        if (mPattern != nullptr) {
            CFRelease(mPattern);
        }
        mPattern = createString(icuText([&](UChar* out, int32_t capacity, UErrorCode* status) {
            return unum_toPattern(mFormat, false, out, capacity, status);
        }));
        return mPattern;
    }

    void applyPattern(const std::u16string& pattern) {
        std::lock_guard<std::mutex> lock(mMutex);
        UErrorCode status = U_ZERO_ERROR;
        unum_applyPattern(mFormat, false, units(pattern), static_cast<int32_t>(pattern.size()),
                          nullptr, &status);
    }

    std::string describe() const override {
        return fmt::format("<CFNumberFormatter {}>{{locale = {}, style = {}}}", hexAddress(this),
                           asLocale(mLocale)->identifier(), mStyle);
    }

private:
    CFLocaleRef mLocale;
    CFNumberFormatterStyle mStyle;
    UNumberFormat* mFormat = nullptr;
    CFStringRef mPattern = nullptr;
    std::mutex mMutex;
};

Formatter* asFormatter(CFTypeRef cf) {
    return asMutable<Formatter>(cf, kTypeNumberFormatter);
}

bool isIntegerType(CFNumberType type) {
    switch (type) {
    case kCFNumberFloat32Type:
    case kCFNumberFloat64Type:
    case kCFNumberFloatType:
    case kCFNumberDoubleType:
    case kCFNumberCGFloatType:
        return false;
    default:
        return true;
    }
}

// The text to parse, limited to the range when one is given.
bool parseText(CFStringRef string, const CFRange* rangep, std::u16string& text) {
    const String* s = asString(string);
    if (s == nullptr) {
        return false;
    }
    if (rangep == nullptr) {
        text = s->text();
        return true;
    }
    const auto size = static_cast<CFIndex>(s->text().size());
    if (rangep->location < 0 || rangep->length < 0 || rangep->location + rangep->length > size) {
        return false;
    }
    text = s->text().substr(static_cast<size_t>(rangep->location),
                            static_cast<size_t>(rangep->length));
    return true;
}

} // namespace

const CFNumberFormatterKey kCFNumberFormatterMinIntegerDigits =
    CFSTR("kCFNumberFormatterMinIntegerDigitsKey");
const CFNumberFormatterKey kCFNumberFormatterMaxIntegerDigits =
    CFSTR("kCFNumberFormatterMaxIntegerDigitsKey");
const CFNumberFormatterKey kCFNumberFormatterMinFractionDigits =
    CFSTR("kCFNumberFormatterMinFractionDigitsKey");
const CFNumberFormatterKey kCFNumberFormatterMaxFractionDigits =
    CFSTR("kCFNumberFormatterMaxFractionDigitsKey");
const CFNumberFormatterKey kCFNumberFormatterUseSignificantDigits =
    CFSTR("kCFNumberFormatterUseSignificantDigitsKey");
const CFNumberFormatterKey kCFNumberFormatterMinSignificantDigits =
    CFSTR("kCFNumberFormatterMinSignificantDigitsKey");
const CFNumberFormatterKey kCFNumberFormatterMaxSignificantDigits =
    CFSTR("kCFNumberFormatterMaxSignificantDigitsKey");
const CFNumberFormatterKey kCFNumberFormatterUseGroupingSeparator =
    CFSTR("kCFNumberFormatterUseGroupingSeparatorKey");
const CFNumberFormatterKey kCFNumberFormatterGroupingSize =
    CFSTR("kCFNumberFormatterGroupingSizeKey");
const CFNumberFormatterKey kCFNumberFormatterRoundingMode =
    CFSTR("kCFNumberFormatterRoundingModeKey");
const CFNumberFormatterKey kCFNumberFormatterRoundingIncrement =
    CFSTR("kCFNumberFormatterRoundingIncrementKey");
const CFNumberFormatterKey kCFNumberFormatterMultiplier = CFSTR("kCFNumberFormatterMultiplierKey");
const CFNumberFormatterKey kCFNumberFormatterIsLenient = CFSTR("kCFNumberFormatterIsLenientKey");
const CFNumberFormatterKey kCFNumberFormatterAlwaysShowDecimalSeparator =
    CFSTR("kCFNumberFormatterAlwaysShowDecimalSeparatorKey");
const CFNumberFormatterKey kCFNumberFormatterDecimalSeparator =
    CFSTR("kCFNumberFormatterDecimalSeparatorKey");
const CFNumberFormatterKey kCFNumberFormatterGroupingSeparator =
    CFSTR("kCFNumberFormatterGroupingSeparatorKey");
const CFNumberFormatterKey kCFNumberFormatterMinusSign = CFSTR("kCFNumberFormatterMinusSignKey");
const CFNumberFormatterKey kCFNumberFormatterPlusSign = CFSTR("kCFNumberFormatterPlusSignKey");
const CFNumberFormatterKey kCFNumberFormatterPercentSymbol =
    CFSTR("kCFNumberFormatterPercentSymbolKey");
const CFNumberFormatterKey kCFNumberFormatterNaNSymbol = CFSTR("kCFNumberFormatterNaNSymbolKey");
const CFNumberFormatterKey kCFNumberFormatterInfinitySymbol =
    CFSTR("kCFNumberFormatterInfinitySymbolKey");
const CFNumberFormatterKey kCFNumberFormatterCurrencyCode =
    CFSTR("kCFNumberFormatterCurrencyCodeKey");
const CFNumberFormatterKey kCFNumberFormatterCurrencySymbol =
    CFSTR("kCFNumberFormatterCurrencySymbolKey");
const CFNumberFormatterKey kCFNumberFormatterPositivePrefix =
    CFSTR("kCFNumberFormatterPositivePrefixKey");
const CFNumberFormatterKey kCFNumberFormatterPositiveSuffix =
    CFSTR("kCFNumberFormatterPositiveSuffixKey");
const CFNumberFormatterKey kCFNumberFormatterNegativePrefix =
    CFSTR("kCFNumberFormatterNegativePrefixKey");
const CFNumberFormatterKey kCFNumberFormatterNegativeSuffix =
    CFSTR("kCFNumberFormatterNegativeSuffixKey");

CFTypeID CFNumberFormatterGetTypeID(void) {
    return kTypeNumberFormatter;
}

CFNumberFormatterRef CFNumberFormatterCreate(CFAllocatorRef, CFLocaleRef locale,
                                             CFNumberFormatterStyle style) {
    CFLocaleRef chosen = asLocale(locale) != nullptr ? locale : CFLocaleGetSystem();
    auto* formatter = new Formatter(chosen, style);
    if (!formatter->valid()) {
        delete formatter;
        return nullptr;
    }
    return handle<CFNumberFormatterRef>(formatter);
}

CFLocaleRef CFNumberFormatterGetLocale(CFNumberFormatterRef formatter) {
    Formatter* f = asFormatter(formatter);
    return f == nullptr ? nullptr : f->locale();
}

CFNumberFormatterStyle CFNumberFormatterGetStyle(CFNumberFormatterRef formatter) {
    Formatter* f = asFormatter(formatter);
    return f == nullptr ? CFNumberFormatterStyle{kCFNumberFormatterNoStyle} : f->style();
}

CFStringRef CFNumberFormatterGetFormat(CFNumberFormatterRef formatter) {
    Formatter* f = asFormatter(formatter);
    return f == nullptr ? nullptr : f->pattern();
}

void CFNumberFormatterSetFormat(CFNumberFormatterRef formatter, CFStringRef formatString) {
    Formatter* f = asFormatter(formatter);
    if (f != nullptr && asString(formatString) != nullptr) {
        f->applyPattern(asString(formatString)->text());
    }
}

void CFNumberFormatterSetProperty(CFNumberFormatterRef formatter, CFNumberFormatterKey key,
                                  CFTypeRef value) {
    if (Formatter* f = asFormatter(formatter)) {
        f->set(key, value);
    }
}

CFTypeRef CFNumberFormatterCopyProperty(CFNumberFormatterRef formatter, CFNumberFormatterKey key) {
    Formatter* f = asFormatter(formatter);
    return f == nullptr ? nullptr : f->copy(key);
}

CFStringRef CFNumberFormatterCreateStringWithNumber(CFAllocatorRef, CFNumberFormatterRef formatter,
                                                    CFNumberRef number) {
    Formatter* f = asFormatter(formatter);
    const Number* n = asNumber(number);
    if (f == nullptr || n == nullptr) {
        return nullptr;
    }
    return createString(f->format(*n));
}

CFStringRef CFNumberFormatterCreateStringWithValue(CFAllocatorRef allocator,
                                                   CFNumberFormatterRef formatter,
                                                   CFNumberType numberType, const void* valuePtr) {
    CFNumberRef number = CFNumberCreate(nullptr, numberType, valuePtr);
    if (number == nullptr) {
        return nullptr;
    }
    CFStringRef text = CFNumberFormatterCreateStringWithNumber(allocator, formatter, number);
    CFRelease(number);
    return text;
}

CFNumberRef CFNumberFormatterCreateNumberFromString(CFAllocatorRef, CFNumberFormatterRef formatter,
                                                    CFStringRef string, CFRange* rangep,
                                                    CFOptionFlags options) {
    Formatter* f = asFormatter(formatter);
    std::u16string text;
    if (f == nullptr || !parseText(string, rangep, text)) {
        return nullptr;
    }
    double value = 0;
    const int32_t used =
        f->parse(text, (options & kCFNumberFormatterParseIntegersOnly) != 0, &value);
    if (used < 0 || (rangep == nullptr && static_cast<size_t>(used) != text.size())) {
        return nullptr;
    }
    if (rangep != nullptr) {
        rangep->length = used;
    }
    if (std::isfinite(value) && std::trunc(value) == value && std::fabs(value) < 9.0e18) {
        return createNumber(static_cast<int64_t>(value));
    }
    return createNumber(value);
}

Boolean CFNumberFormatterGetValueFromString(CFNumberFormatterRef formatter, CFStringRef string,
                                            CFRange* rangep, CFNumberType numberType,
                                            void* valuePtr) {
    const CFOptionFlags options =
        isIntegerType(numberType) ? kCFNumberFormatterParseIntegersOnly : 0;
    CFNumberRef number =
        CFNumberFormatterCreateNumberFromString(nullptr, formatter, string, rangep, options);
    if (number == nullptr || valuePtr == nullptr) {
        if (number != nullptr) {
            CFRelease(number);
        }
        return false;
    }
    const Boolean exact = CFNumberGetValue(number, numberType, valuePtr);
    CFRelease(number);
    return exact;
}
