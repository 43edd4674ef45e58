// Mutable CFString editing: appending, inserting, replacing and trimming.
#include "cf/cf_string.h"

#include <unicode/uchar.h>

#include <cstdarg>
#include <cstring>
#include <string>
#include <string_view>

using namespace vxplatform;

namespace {

void appendText(CFMutableStringRef target, std::u16string_view text) {
    if (String* s = asMutableString(target)) {
        s->editableText().append(text);
    }
}

} // namespace

void CFStringAppend(CFMutableStringRef theString, CFStringRef appendedString) {
    if (const String* s = asString(appendedString)) {
        const std::u16string copy = s->text(); // appending a string to itself
        appendText(theString, copy);
    }
}

void CFStringAppendCString(CFMutableStringRef theString, const char* cStr,
                           CFStringEncoding encoding) {
    std::u16string text;
    if (cStr != nullptr &&
        decodeBytes(reinterpret_cast<const UInt8*>(cStr), std::strlen(cStr), encoding, text)) {
        appendText(theString, text);
    }
}

void CFStringAppendCharacters(CFMutableStringRef theString, const UniChar* chars,
                              CFIndex numChars) {
    if (chars != nullptr && numChars > 0) {
        appendText(theString, std::u16string_view(reinterpret_cast<const char16_t*>(chars),
                                                  static_cast<size_t>(numChars)));
    }
}

void CFStringAppendFormatAndArguments(CFMutableStringRef theString, CFDictionaryRef,
                                      CFStringRef format, va_list arguments) {
    if (asMutableString(theString) == nullptr || asString(format) == nullptr) {
        return;
    }
    bool ok = false;
    std::u16string text = utf8ToUTF16(formatString(toUTF8(format), arguments), &ok);
    appendText(theString, text);
}

void CFStringAppendFormat(CFMutableStringRef theString, CFDictionaryRef formatOptions,
                          CFStringRef format, ...) {
    va_list arguments;
    va_start(arguments, format);
    CFStringAppendFormatAndArguments(theString, formatOptions, format, arguments);
    va_end(arguments);
}

void CFStringReplace(CFMutableStringRef theString, CFRange range, CFStringRef replacement) {
    String* s = asMutableString(theString);
    const String* r = asString(replacement);
    if (s == nullptr || !validRange(s, range)) {
        return;
    }
    const std::u16string copy = r != nullptr ? r->text() : std::u16string();
    s->editableText().replace(static_cast<size_t>(range.location),
                              static_cast<size_t>(range.length), copy);
}

void CFStringInsert(CFMutableStringRef str, CFIndex idx, CFStringRef insertedStr) {
    CFStringReplace(str, CFRangeMake(idx, 0), insertedStr);
}

void CFStringDelete(CFMutableStringRef theString, CFRange range) {
    String* s = asMutableString(theString);
    if (s != nullptr && validRange(s, range)) {
        s->editableText().erase(static_cast<size_t>(range.location),
                                static_cast<size_t>(range.length));
    }
}

void CFStringReplaceAll(CFMutableStringRef theString, CFStringRef replacement) {
    CFStringReplace(theString, wholeRange(asString(theString)), replacement);
}

void CFStringTrimWhitespace(CFMutableStringRef theString) {
    String* s = asMutableString(theString);
    if (s == nullptr) {
        return;
    }
    std::u16string& text = s->editableText();
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && u_isUWhiteSpace(text[begin])) {
        ++begin;
    }
    while (end > begin && u_isUWhiteSpace(text[end - 1])) {
        --end;
    }
    text = text.substr(begin, end - begin);
}
