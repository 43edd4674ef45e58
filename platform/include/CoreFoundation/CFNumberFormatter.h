// Locale-aware number formatting and parsing.
#pragma once

#include <CoreFoundation/CFBase.h>
#include <CoreFoundation/CFLocale.h>
#include <CoreFoundation/CFNumber.h>
#include <CoreFoundation/CFString.h>

typedef struct __CFNumberFormatter* CFNumberFormatterRef;
typedef CFStringRef CFNumberFormatterKey;

typedef CFIndex CFNumberFormatterStyle;
enum {
    kCFNumberFormatterNoStyle = 0,
    kCFNumberFormatterDecimalStyle = 1,
    kCFNumberFormatterCurrencyStyle = 2,
    kCFNumberFormatterPercentStyle = 3,
    kCFNumberFormatterScientificStyle = 4,
    kCFNumberFormatterSpellOutStyle = 5,
    kCFNumberFormatterOrdinalStyle = 6,
    kCFNumberFormatterCurrencyISOCodeStyle = 8,
    kCFNumberFormatterCurrencyPluralStyle = 9,
    kCFNumberFormatterCurrencyAccountingStyle = 10
};

typedef CFOptionFlags CFNumberFormatterOptionFlags;
enum { kCFNumberFormatterParseIntegersOnly = 1 };

typedef CFIndex CFNumberFormatterRoundingMode;
enum {
    kCFNumberFormatterRoundCeiling = 0,
    kCFNumberFormatterRoundFloor = 1,
    kCFNumberFormatterRoundDown = 2,
    kCFNumberFormatterRoundUp = 3,
    kCFNumberFormatterRoundHalfEven = 4,
    kCFNumberFormatterRoundHalfDown = 5,
    kCFNumberFormatterRoundHalfUp = 6
};

CF_EXTERN_C_BEGIN

// Property keys; number-valued unless noted.
CF_EXPORT const CFNumberFormatterKey kCFNumberFormatterMinIntegerDigits;
CF_EXPORT const CFNumberFormatterKey kCFNumberFormatterMaxIntegerDigits;
CF_EXPORT const CFNumberFormatterKey kCFNumberFormatterMinFractionDigits;
CF_EXPORT const CFNumberFormatterKey kCFNumberFormatterMaxFractionDigits;
CF_EXPORT const CFNumberFormatterKey kCFNumberFormatterUseSignificantDigits; // boolean
CF_EXPORT const CFNumberFormatterKey kCFNumberFormatterMinSignificantDigits;
CF_EXPORT const CFNumberFormatterKey kCFNumberFormatterMaxSignificantDigits;
CF_EXPORT const CFNumberFormatterKey kCFNumberFormatterUseGroupingSeparator; // boolean
CF_EXPORT const CFNumberFormatterKey kCFNumberFormatterGroupingSize;
CF_EXPORT const CFNumberFormatterKey kCFNumberFormatterRoundingMode;
CF_EXPORT const CFNumberFormatterKey kCFNumberFormatterRoundingIncrement; // float number
CF_EXPORT const CFNumberFormatterKey kCFNumberFormatterMultiplier;
CF_EXPORT const CFNumberFormatterKey kCFNumberFormatterIsLenient;                  // boolean
CF_EXPORT const CFNumberFormatterKey kCFNumberFormatterAlwaysShowDecimalSeparator; // boolean
CF_EXPORT const CFNumberFormatterKey kCFNumberFormatterDecimalSeparator;           // string
CF_EXPORT const CFNumberFormatterKey kCFNumberFormatterGroupingSeparator;          // string
CF_EXPORT const CFNumberFormatterKey kCFNumberFormatterMinusSign;                  // string
CF_EXPORT const CFNumberFormatterKey kCFNumberFormatterPlusSign;                   // string
CF_EXPORT const CFNumberFormatterKey kCFNumberFormatterPercentSymbol;              // string
CF_EXPORT const CFNumberFormatterKey kCFNumberFormatterNaNSymbol;                  // string
CF_EXPORT const CFNumberFormatterKey kCFNumberFormatterInfinitySymbol;             // string
CF_EXPORT const CFNumberFormatterKey kCFNumberFormatterCurrencyCode;               // string
CF_EXPORT const CFNumberFormatterKey kCFNumberFormatterCurrencySymbol;             // string
CF_EXPORT const CFNumberFormatterKey kCFNumberFormatterPositivePrefix;             // string
CF_EXPORT const CFNumberFormatterKey kCFNumberFormatterPositiveSuffix;             // string
CF_EXPORT const CFNumberFormatterKey kCFNumberFormatterNegativePrefix;             // string
CF_EXPORT const CFNumberFormatterKey kCFNumberFormatterNegativeSuffix;             // string

CF_EXPORT CFTypeID CFNumberFormatterGetTypeID(void);
CF_EXPORT CFNumberFormatterRef CFNumberFormatterCreate(CFAllocatorRef allocator, CFLocaleRef locale,
                                                       CFNumberFormatterStyle style);
CF_EXPORT CFLocaleRef CFNumberFormatterGetLocale(CFNumberFormatterRef formatter);
CF_EXPORT CFNumberFormatterStyle CFNumberFormatterGetStyle(CFNumberFormatterRef formatter);
CF_EXPORT CFStringRef CFNumberFormatterGetFormat(CFNumberFormatterRef formatter);
CF_EXPORT void CFNumberFormatterSetFormat(CFNumberFormatterRef formatter, CFStringRef formatString);
CF_EXPORT void CFNumberFormatterSetProperty(CFNumberFormatterRef formatter,
                                            CFNumberFormatterKey key, CFTypeRef value);
CF_EXPORT CFTypeRef CFNumberFormatterCopyProperty(CFNumberFormatterRef formatter,
                                                  CFNumberFormatterKey key);

CF_EXPORT CFStringRef CFNumberFormatterCreateStringWithNumber(CFAllocatorRef allocator,
                                                              CFNumberFormatterRef formatter,
                                                              CFNumberRef number);
CF_EXPORT CFStringRef CFNumberFormatterCreateStringWithValue(CFAllocatorRef allocator,
                                                             CFNumberFormatterRef formatter,
                                                             CFNumberType numberType,
                                                             const void* valuePtr);
// With a range, parses from its start as far as the text allows and narrows
// the range to what was used; without one, the whole string must parse.
CF_EXPORT CFNumberRef CFNumberFormatterCreateNumberFromString(CFAllocatorRef allocator,
                                                              CFNumberFormatterRef formatter,
                                                              CFStringRef string, CFRange* rangep,
                                                              CFOptionFlags options);
CF_EXPORT Boolean CFNumberFormatterGetValueFromString(CFNumberFormatterRef formatter,
                                                      CFStringRef string, CFRange* rangep,
                                                      CFNumberType numberType, void* valuePtr);

CF_EXTERN_C_END
