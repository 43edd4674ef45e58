#include "cf/cf_collections.h"

#include <algorithm>

#include <fmt/format.h>

namespace vxplatform {

namespace {

const void* retainType(CFAllocatorRef, const void* value) {
    return CFRetain(value);
}
void releaseType(CFAllocatorRef, const void* value) {
    CFRelease(value);
}

} // namespace

Array::Array(const CFArrayCallBacks* callBacks, bool isMutable, CFIndex capacity)
    : Object(kTypeArray), mCallBacks{0, nullptr, nullptr, nullptr, nullptr}, mMutable(isMutable),
      mCapacity(capacity < 0 ? 0 : capacity) {
    if (callBacks != nullptr) {
        mCallBacks = *callBacks;
    }
}

Array::~Array() {
    for (const void* value : mValues) {
        releaseValue(value);
    }
}

bool Array::full(CFIndex extra) const {
    return mCapacity > 0 && count() + extra > mCapacity;
}

const void* Array::retainValue(const void* value) const {
    return mCallBacks.retain != nullptr ? mCallBacks.retain(nullptr, value) : value;
}

void Array::releaseValue(const void* value) const {
    if (mCallBacks.release != nullptr) {
        mCallBacks.release(nullptr, value);
    }
}

bool Array::valuesEqual(const void* a, const void* b) const {
    return a == b || (mCallBacks.equal != nullptr && mCallBacks.equal(a, b));
}

bool Array::equals(const Object& other) const {
    const auto& o = static_cast<const Array&>(other);
    if (mValues.size() != o.mValues.size()) {
        return false;
    }
    for (size_t k = 0; k < mValues.size(); ++k) {
        if (!valuesEqual(mValues[k], o.mValues[k])) {
            return false;
        }
    }
    return true;
}

std::string indentLines(const std::string& text) {
    std::string out;
    for (char c : text) {
        out += c;
        if (c == '\n') {
            out += '\t';
        }
    }
    return out;
}

std::string Array::describe() const {
    std::string out = fmt::format("<CFArray {} [{}]>{{count = {}, values = (\n", hexAddress(this),
                                  mMutable ? "mutable" : "immutable", mValues.size());
    for (size_t k = 0; k < mValues.size(); ++k) {
        const std::string text = mCallBacks.copyDescription != nullptr
                                     ? vxplatform::describe(mValues[k])
                                     : fmt::format("<{}>", mValues[k]);
        out += fmt::format("\t{} : {}\n", k, indentLines(text));
    }
    return out + ")}";
}

Array* asMutableArray(CFTypeRef cf) {
    auto* array = asMutable<Array>(cf, kTypeArray);
    return array != nullptr && array->isMutable() ? array : nullptr;
}

} // namespace vxplatform

using namespace vxplatform;

const CFArrayCallBacks kCFTypeArrayCallBacks = {0, retainType, releaseType, CFCopyDescription,
                                                CFEqual};

namespace {

bool validRange(const Array* a, CFRange range) {
    return a != nullptr && range.location >= 0 && range.length >= 0 &&
           range.location + range.length <= a->count();
}

Array* newArray(const CFArrayCallBacks* callBacks, bool isMutable, CFIndex capacity,
                const void* const* values, CFIndex count) {
    auto* array = new Array(callBacks, isMutable, capacity);
    for (CFIndex k = 0; k < count; ++k) {
        array->storage().push_back(array->retainValue(values[k]));
    }
    return array;
}

} // namespace

CFTypeID CFArrayGetTypeID(void) {
    return kTypeArray;
}

CFArrayRef CFArrayCreate(CFAllocatorRef, const void** values, CFIndex numValues,
                         const CFArrayCallBacks* callBacks) {
    if (numValues < 0 || (values == nullptr && numValues > 0)) {
        return nullptr;
    }
    return handle<CFArrayRef>(newArray(callBacks, false, 0, values, numValues));
}

CFArrayRef CFArrayCreateCopy(CFAllocatorRef, CFArrayRef theArray) {
    const Array* a = asArray(theArray);
    if (a == nullptr) {
        return nullptr;
    }
    return handle<CFArrayRef>(newArray(&a->callBacks(), false, 0, a->values().data(), a->count()));
}

CFMutableArrayRef CFArrayCreateMutable(CFAllocatorRef, CFIndex capacity,
                                       const CFArrayCallBacks* callBacks) {
    return handle<CFMutableArrayRef>(new Array(callBacks, true, capacity));
}

CFMutableArrayRef CFArrayCreateMutableCopy(CFAllocatorRef, CFIndex capacity, CFArrayRef theArray) {
    const Array* a = asArray(theArray);
    if (a == nullptr) {
        return nullptr;
    }
    if (capacity > 0 && capacity < a->count()) {
        capacity = a->count();
    }
    return handle<CFMutableArrayRef>(
        newArray(&a->callBacks(), true, capacity, a->values().data(), a->count()));
}

CFIndex CFArrayGetCount(CFArrayRef theArray) {
    const Array* a = asArray(theArray);
    return a == nullptr ? 0 : a->count();
}

CFIndex CFArrayGetCountOfValue(CFArrayRef theArray, CFRange range, const void* value) {
    const Array* a = asArray(theArray);
    if (!validRange(a, range)) {
        return 0;
    }
    CFIndex found = 0;
    for (CFIndex k = range.location; k < range.location + range.length; ++k) {
        found += a->valuesEqual(a->values()[static_cast<size_t>(k)], value) ? 1 : 0;
    }
    return found;
}

Boolean CFArrayContainsValue(CFArrayRef theArray, CFRange range, const void* value) {
    return CFArrayGetFirstIndexOfValue(theArray, range, value) != kCFNotFound;
}

const void* CFArrayGetValueAtIndex(CFArrayRef theArray, CFIndex idx) {
    const Array* a = asArray(theArray);
    if (a == nullptr || idx < 0 || idx >= a->count()) {
        return nullptr;
    }
    return a->values()[static_cast<size_t>(idx)];
}

void CFArrayGetValues(CFArrayRef theArray, CFRange range, const void** values) {
    const Array* a = asArray(theArray);
    if (values != nullptr && validRange(a, range)) {
        std::copy_n(a->values().begin() + range.location, range.length, values);
    }
}

void CFArrayApplyFunction(CFArrayRef theArray, CFRange range, CFArrayApplierFunction applier,
                          void* context) {
    const Array* a = asArray(theArray);
    if (applier == nullptr || !validRange(a, range)) {
        return;
    }
    for (CFIndex k = range.location; k < range.location + range.length; ++k) {
        applier(a->values()[static_cast<size_t>(k)], context);
    }
}

CFIndex CFArrayGetFirstIndexOfValue(CFArrayRef theArray, CFRange range, const void* value) {
    const Array* a = asArray(theArray);
    if (!validRange(a, range)) {
        return kCFNotFound;
    }
    for (CFIndex k = range.location; k < range.location + range.length; ++k) {
        if (a->valuesEqual(a->values()[static_cast<size_t>(k)], value)) {
            return k;
        }
    }
    return kCFNotFound;
}

CFIndex CFArrayGetLastIndexOfValue(CFArrayRef theArray, CFRange range, const void* value) {
    const Array* a = asArray(theArray);
    if (!validRange(a, range)) {
        return kCFNotFound;
    }
    for (CFIndex k = range.location + range.length - 1; k >= range.location; --k) {
        if (a->valuesEqual(a->values()[static_cast<size_t>(k)], value)) {
            return k;
        }
    }
    return kCFNotFound;
}

void CFArrayReplaceValues(CFMutableArrayRef theArray, CFRange range, const void** newValues,
                          CFIndex newCount) {
    Array* a = asMutableArray(theArray);
    if (!validRange(a, range) || newCount < 0 || (newValues == nullptr && newCount > 0) ||
        a->full(newCount - range.length)) {
        return;
    }
    // Retain the new values before releasing the old ones: they may be the same objects.
    std::vector<const void*> added;
    added.reserve(static_cast<size_t>(newCount));
    for (CFIndex k = 0; k < newCount; ++k) {
        added.push_back(a->retainValue(newValues[k]));
    }
    auto& values = a->storage();
    std::vector<const void*> removed(values.begin() + range.location,
                                     values.begin() + range.location + range.length);
    values.erase(values.begin() + range.location, values.begin() + range.location + range.length);
    values.insert(values.begin() + range.location, added.begin(), added.end());
    for (const void* value : removed) {
        a->releaseValue(value);
    }
}

void CFArrayAppendValue(CFMutableArrayRef theArray, const void* value) {
    CFArrayReplaceValues(theArray, CFRangeMake(CFArrayGetCount(theArray), 0), &value, 1);
}

void CFArrayInsertValueAtIndex(CFMutableArrayRef theArray, CFIndex idx, const void* value) {
    CFArrayReplaceValues(theArray, CFRangeMake(idx, 0), &value, 1);
}

void CFArraySetValueAtIndex(CFMutableArrayRef theArray, CFIndex idx, const void* value) {
    // Setting one past the end appends, as on the platform.
    const CFIndex replaced = idx == CFArrayGetCount(theArray) ? 0 : 1;
    CFArrayReplaceValues(theArray, CFRangeMake(idx, replaced), &value, 1);
}

void CFArrayRemoveValueAtIndex(CFMutableArrayRef theArray, CFIndex idx) {
    if (idx >= 0 && idx < CFArrayGetCount(theArray)) {
        CFArrayReplaceValues(theArray, CFRangeMake(idx, 1), nullptr, 0);
    }
}

void CFArrayRemoveAllValues(CFMutableArrayRef theArray) {
    CFArrayReplaceValues(theArray, CFRangeMake(0, CFArrayGetCount(theArray)), nullptr, 0);
}

void CFArrayExchangeValuesAtIndices(CFMutableArrayRef theArray, CFIndex idx1, CFIndex idx2) {
    Array* a = asMutableArray(theArray);
    if (a != nullptr && idx1 >= 0 && idx2 >= 0 && idx1 < a->count() && idx2 < a->count()) {
        std::swap(a->storage()[static_cast<size_t>(idx1)], a->storage()[static_cast<size_t>(idx2)]);
    }
}

void CFArraySortValues(CFMutableArrayRef theArray, CFRange range, CFComparatorFunction comparator,
                       void* context) {
    Array* a = asMutableArray(theArray);
    if (comparator == nullptr || !validRange(a, range)) {
        return;
    }
    auto begin = a->storage().begin() + range.location;
    std::stable_sort(begin, begin + range.length, [&](const void* x, const void* y) {
        return comparator(x, y, context) == kCFCompareLessThan;
    });
}

void CFArrayAppendArray(CFMutableArrayRef theArray, CFArrayRef otherArray, CFRange otherRange) {
    const Array* other = asArray(otherArray);
    if (!validRange(other, otherRange)) {
        return;
    }
    // Copy first: the other array may be this one.
    std::vector<const void*> values(other->values().begin() + otherRange.location,
                                    other->values().begin() + otherRange.location +
                                        otherRange.length);
    CFArrayReplaceValues(theArray, CFRangeMake(CFArrayGetCount(theArray), 0), values.data(),
                         static_cast<CFIndex>(values.size()));
}
