// Locales.
#pragma once

#include <CoreFoundation/CFBase.h>
#include <CoreFoundation/CFString.h>

typedef const struct __CFLocale* CFLocaleRef;
typedef CFStringRef CFLocaleIdentifier;
typedef CFStringRef CFLocaleKey;

CF_EXTERN_C_BEGIN

CF_EXPORT const CFLocaleKey kCFLocaleIdentifier;
CF_EXPORT const CFLocaleKey kCFLocaleDecimalSeparator;
CF_EXPORT const CFLocaleKey kCFLocaleGroupingSeparator;
CF_EXPORT const CFLocaleKey kCFLocaleLanguageCode;
CF_EXPORT const CFLocaleKey kCFLocaleCountryCode;

CF_EXPORT CFTypeID CFLocaleGetTypeID(void);
// From the process's locale environment (LC_ALL, then LC_NUMERIC, then LANG).
CF_EXPORT CFLocaleRef CFLocaleCopyCurrent(void);
// The root locale; not retained for the caller.
CF_EXPORT CFLocaleRef CFLocaleGetSystem(void);
CF_EXPORT CFLocaleRef CFLocaleCreate(CFAllocatorRef allocator, CFLocaleIdentifier localeIdentifier);
CF_EXPORT CFLocaleIdentifier CFLocaleGetIdentifier(CFLocaleRef locale);
CF_EXPORT CFTypeRef CFLocaleGetValue(CFLocaleRef locale, CFLocaleKey key);

CF_EXTERN_C_END
