// CFString comparison and search: by code unit, folding case and reading
// runs of digits as numbers on request.
#include "cf/cf_string.h"

#include <unicode/uchar.h>

#include <string_view>

using namespace vxplatform;

namespace {

char32_t foldCase(char32_t c) {
    return static_cast<char32_t>(u_foldCase(static_cast<UChar32>(c), U_FOLD_CASE_DEFAULT));
}

bool isDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

// Compares two UTF-16 strings by code unit, optionally folding case and
// comparing runs of digits by their numeric value.
int compareText(std::u16string_view a, std::u16string_view b, CFStringCompareFlags flags) {
    const bool fold = (flags & kCFCompareCaseInsensitive) != 0;
    const bool numeric = (flags & kCFCompareNumerically) != 0;
    size_t i = 0;
    size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (numeric && isDigit(a[i]) && isDigit(b[j])) {
            size_t ie = i;
            size_t je = j;
            while (ie < a.size() && isDigit(a[ie])) {
                ++ie;
            }
            while (je < b.size() && isDigit(b[je])) {
                ++je;
            }
            size_t is = i;
            size_t js = j;
            while (is + 1 < ie && a[is] == u'0') {
                ++is;
            }
            while (js + 1 < je && b[js] == u'0') {
                ++js;
            }
            const size_t la = ie - is;
            const size_t lb = je - js;
            if (la != lb) {
                return la < lb ? -1 : 1;
            }
            const int c = a.substr(is, la).compare(b.substr(js, lb));
            if (c != 0) {
                return c < 0 ? -1 : 1;
            }
            i = ie;
            j = je;
            continue;
        }
        char32_t ca = a[i];
        char32_t cb = b[j];
        if (fold) {
            ca = foldCase(ca);
            cb = foldCase(cb);
        }
        if (ca != cb) {
            return ca < cb ? -1 : 1;
        }
        ++i;
        ++j;
    }
    if (i < a.size()) {
        return 1;
    }
    if (j < b.size()) {
        return -1;
    }
    return 0;
}

bool unitsMatch(std::u16string_view a, std::u16string_view b, bool fold) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t k = 0; k < a.size(); ++k) {
        if (a[k] != b[k] && !(fold && foldCase(a[k]) == foldCase(b[k]))) {
            return false;
        }
    }
    return true;
}

} // namespace

CFComparisonResult CFStringCompareWithOptions(CFStringRef theString1, CFStringRef theString2,
                                              CFRange rangeToCompare,
                                              CFStringCompareFlags compareOptions) {
    const String* a = asString(theString1);
    const String* b = asString(theString2);
    if (a == nullptr || b == nullptr) {
        return a == b ? kCFCompareEqualTo
                      : (a == nullptr ? kCFCompareLessThan : kCFCompareGreaterThan);
    }
    if (!validRange(a, rangeToCompare)) {
        rangeToCompare = wholeRange(a);
    }
    const std::u16string_view left = std::u16string_view(a->text()).substr(
        static_cast<size_t>(rangeToCompare.location), static_cast<size_t>(rangeToCompare.length));
    return compareText(left, b->text(), compareOptions);
}

CFComparisonResult CFStringCompare(CFStringRef theString1, CFStringRef theString2,
                                   CFStringCompareFlags compareOptions) {
    return CFStringCompareWithOptions(theString1, theString2, wholeRange(asString(theString1)),
                                      compareOptions);
}

Boolean CFStringHasPrefix(CFStringRef theString, CFStringRef prefix) {
    const String* s = asString(theString);
    const String* p = asString(prefix);
    return s != nullptr && p != nullptr && s->text().size() >= p->text().size() &&
           s->text().compare(0, p->text().size(), p->text()) == 0;
}

Boolean CFStringHasSuffix(CFStringRef theString, CFStringRef suffix) {
    const String* s = asString(theString);
    const String* p = asString(suffix);
    return s != nullptr && p != nullptr && s->text().size() >= p->text().size() &&
           s->text().compare(s->text().size() - p->text().size(), p->text().size(), p->text()) == 0;
}

CFRange CFStringFind(CFStringRef theString, CFStringRef stringToFind,
                     CFStringCompareFlags compareOptions) {
    const String* s = asString(theString);
    const String* f = asString(stringToFind);
    const CFRange notFound = CFRangeMake(kCFNotFound, 0);
    if (s == nullptr || f == nullptr || f->text().empty() || f->text().size() > s->text().size()) {
        return notFound;
    }
    const bool fold = (compareOptions & kCFCompareCaseInsensitive) != 0;
    const bool backwards = (compareOptions & kCFCompareBackwards) != 0;
    const bool anchored = (compareOptions & kCFCompareAnchored) != 0;
    const std::u16string_view text = s->text();
    const std::u16string_view needle = f->text();
    const size_t last = text.size() - needle.size();
    for (size_t step = 0; step <= last; ++step) {
        const size_t at = backwards ? last - step : step;
        if (unitsMatch(text.substr(at, needle.size()), needle, fold)) {
            return CFRangeMake(static_cast<CFIndex>(at), static_cast<CFIndex>(needle.size()));
        }
        if (anchored) {
            break;
        }
    }
    return notFound;
}
