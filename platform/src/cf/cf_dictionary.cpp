#include "cf/cf_collections.h"
#include "cf/cf_string.h"

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

const void* copyStringKey(CFAllocatorRef, const void* value) {
    // Strings are copied so that a later change to a mutable key cannot move it.
    if (asString(value) != nullptr) {
        return CFStringCreateCopy(nullptr, static_cast<CFStringRef>(value));
    }
    return CFRetain(value);
}

} // namespace

size_t Dictionary::KeyHash::operator()(const void* key) const {
    if (callBacks->hash != nullptr) {
        return callBacks->hash(key);
    }
    return reinterpret_cast<uintptr_t>(key) >> 3;
}

bool Dictionary::KeyEqual::operator()(const void* a, const void* b) const {
    return a == b || (callBacks->equal != nullptr && callBacks->equal(a, b));
}

Dictionary::Dictionary(const CFDictionaryKeyCallBacks* keyCallBacks,
                       const CFDictionaryValueCallBacks* valueCallBacks, bool isMutable,
                       CFIndex capacity)
    : Object(kTypeDictionary), mKeyCallBacks{0, nullptr, nullptr, nullptr, nullptr, nullptr},
      mValueCallBacks{0, nullptr, nullptr, nullptr, nullptr},
      mMap(8, KeyHash{&mKeyCallBacks}, KeyEqual{&mKeyCallBacks}), mMutable(isMutable),
      mCapacity(capacity < 0 ? 0 : capacity) {
    if (keyCallBacks != nullptr) {
        mKeyCallBacks = *keyCallBacks;
    }
    if (valueCallBacks != nullptr) {
        mValueCallBacks = *valueCallBacks;
    }
}

Dictionary::~Dictionary() {
    clear();
}

bool Dictionary::find(const void* key, const void** value) const {
    auto found = mMap.find(key);
    if (found == mMap.end()) {
        *value = nullptr;
        return false;
    }
    *value = found->second;
    return true;
}

void Dictionary::set(const void* key, const void* value, bool replaceExisting, bool insertMissing) {
    auto found = mMap.find(key);
    const auto retainValue = [this](const void* v) {
        return mValueCallBacks.retain != nullptr ? mValueCallBacks.retain(nullptr, v) : v;
    };
    if (found != mMap.end()) {
        if (!replaceExisting) {
            return;
        }
        // The stored key stays; only the value changes hands.
        const void* old = found->second;
        found->second = retainValue(value);
        if (mValueCallBacks.release != nullptr) {
            mValueCallBacks.release(nullptr, old);
        }
        return;
    }
    if (!insertMissing || (mCapacity > 0 && count() >= mCapacity)) {
        return;
    }
    const void* storedKey =
        mKeyCallBacks.retain != nullptr ? mKeyCallBacks.retain(nullptr, key) : key;
    mMap.emplace(storedKey, retainValue(value));
}

void Dictionary::remove(const void* key) {
    auto found = mMap.find(key);
    if (found == mMap.end()) {
        return;
    }
    const void* storedKey = found->first;
    const void* storedValue = found->second;
    mMap.erase(found);
    if (mKeyCallBacks.release != nullptr) {
        mKeyCallBacks.release(nullptr, storedKey);
    }
    if (mValueCallBacks.release != nullptr) {
        mValueCallBacks.release(nullptr, storedValue);
    }
}

void Dictionary::clear() {
    // Release after emptying the table, so callbacks never see a half-cleared one.
    auto entries = std::move(mMap);
    mMap = decltype(mMap)(8, KeyHash{&mKeyCallBacks}, KeyEqual{&mKeyCallBacks});
    for (const auto& [key, value] : entries) {
        if (mKeyCallBacks.release != nullptr) {
            mKeyCallBacks.release(nullptr, key);
        }
        if (mValueCallBacks.release != nullptr) {
            mValueCallBacks.release(nullptr, value);
        }
    }
}

std::vector<std::pair<const void*, const void*>> Dictionary::sortedEntries() const {
    std::vector<std::pair<const void*, const void*>> entries(mMap.begin(), mMap.end());
    const bool typedKeys = mKeyCallBacks.retain != nullptr || mKeyCallBacks.hash != nullptr;
    std::stable_sort(entries.begin(), entries.end(), [typedKeys](const auto& a, const auto& b) {
        const String* sa = typedKeys ? asString(a.first) : nullptr;
        const String* sb = typedKeys ? asString(b.first) : nullptr;
        if (sa != nullptr && sb != nullptr) {
            return sa->text() < sb->text();
        }
        if ((sa != nullptr) != (sb != nullptr)) {
            return sa != nullptr;
        }
        return std::less<const void*>()(a.first, b.first);
    });
    return entries;
}

bool Dictionary::valuesEqual(const void* a, const void* b) const {
    return a == b || (mValueCallBacks.equal != nullptr && mValueCallBacks.equal(a, b));
}

bool Dictionary::equals(const Object& other) const {
    const auto& o = static_cast<const Dictionary&>(other);
    if (mMap.size() != o.mMap.size()) {
        return false;
    }
    for (const auto& [key, value] : mMap) {
        const void* otherValue = nullptr;
        if (!o.find(key, &otherValue) || !valuesEqual(value, otherValue)) {
            return false;
        }
    }
    return true;
}

std::string Dictionary::describe() const {
    std::string out =
        fmt::format("<CFDictionary {} [{}]>{{count = {}, entries =>\n", hexAddress(this),
                    mMutable ? "mutable" : "immutable", mMap.size());
    size_t k = 0;
    for (const auto& [key, value] : sortedEntries()) {
        const std::string keyText = mKeyCallBacks.copyDescription != nullptr
                                        ? vxplatform::describe(key)
                                        : fmt::format("<{}>", key);
        const std::string valueText = mValueCallBacks.copyDescription != nullptr
                                          ? vxplatform::describe(value)
                                          : fmt::format("<{}>", value);
        out += fmt::format("\t{} : {} = {}\n", k++, indentLines(keyText), indentLines(valueText));
    }
    return out + "}";
}

Dictionary* asMutableDictionary(CFTypeRef cf) {
    auto* dictionary = asMutable<Dictionary>(cf, kTypeDictionary);
    return dictionary != nullptr && dictionary->isMutable() ? dictionary : nullptr;
}

} // namespace vxplatform

using namespace vxplatform;

const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks = {
    0, retainType, releaseType, CFCopyDescription, CFEqual, CFHash};
const CFDictionaryKeyCallBacks kCFCopyStringDictionaryKeyCallBacks = {
    0, copyStringKey, releaseType, CFCopyDescription, CFEqual, CFHash};
const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks = {0, retainType, releaseType,
                                                                    CFCopyDescription, CFEqual};

namespace {

Dictionary* copyOf(const Dictionary& source, bool isMutable, CFIndex capacity) {
    auto* copy =
        new Dictionary(&source.keyCallBacks(), &source.valueCallBacks(), isMutable, capacity);
    source.forEach(
        [copy](const void* key, const void* value) { copy->set(key, value, true, true); });
    return copy;
}

} // namespace

CFTypeID CFDictionaryGetTypeID(void) {
    return kTypeDictionary;
}

CFDictionaryRef CFDictionaryCreate(CFAllocatorRef, const void** keys, const void** values,
                                   CFIndex numValues, const CFDictionaryKeyCallBacks* keyCallBacks,
                                   const CFDictionaryValueCallBacks* valueCallBacks) {
    if (numValues < 0 || (numValues > 0 && (keys == nullptr || values == nullptr))) {
        return nullptr;
    }
    auto* dictionary = new Dictionary(keyCallBacks, valueCallBacks, false, 0);
    for (CFIndex k = 0; k < numValues; ++k) {
        dictionary->set(keys[k], values[k], true, true);
    }
    return handle<CFDictionaryRef>(dictionary);
}

CFDictionaryRef CFDictionaryCreateCopy(CFAllocatorRef, CFDictionaryRef theDict) {
    const Dictionary* d = asDictionary(theDict);
    return d == nullptr ? nullptr : handle<CFDictionaryRef>(copyOf(*d, false, 0));
}

CFMutableDictionaryRef CFDictionaryCreateMutable(CFAllocatorRef, CFIndex capacity,
                                                 const CFDictionaryKeyCallBacks* keyCallBacks,
                                                 const CFDictionaryValueCallBacks* valueCallBacks) {
    return handle<CFMutableDictionaryRef>(
        new Dictionary(keyCallBacks, valueCallBacks, true, capacity));
}

CFMutableDictionaryRef CFDictionaryCreateMutableCopy(CFAllocatorRef, CFIndex capacity,
                                                     CFDictionaryRef theDict) {
    const Dictionary* d = asDictionary(theDict);
    if (d == nullptr) {
        return nullptr;
    }
    if (capacity > 0 && capacity < d->count()) {
        capacity = d->count();
    }
    return handle<CFMutableDictionaryRef>(copyOf(*d, true, capacity));
}

CFIndex CFDictionaryGetCount(CFDictionaryRef theDict) {
    const Dictionary* d = asDictionary(theDict);
    return d == nullptr ? 0 : d->count();
}

CFIndex CFDictionaryGetCountOfKey(CFDictionaryRef theDict, const void* key) {
    return CFDictionaryContainsKey(theDict, key) ? 1 : 0;
}

CFIndex CFDictionaryGetCountOfValue(CFDictionaryRef theDict, const void* value) {
    const Dictionary* d = asDictionary(theDict);
    CFIndex found = 0;
    if (d != nullptr) {
        d->forEach([&](const void*, const void* stored) {
            found += d->valuesEqual(stored, value) ? 1 : 0;
        });
    }
    return found;
}

Boolean CFDictionaryContainsKey(CFDictionaryRef theDict, const void* key) {
    const void* value = nullptr;
    return CFDictionaryGetValueIfPresent(theDict, key, &value);
}

Boolean CFDictionaryContainsValue(CFDictionaryRef theDict, const void* value) {
    return CFDictionaryGetCountOfValue(theDict, value) > 0;
}

const void* CFDictionaryGetValue(CFDictionaryRef theDict, const void* key) {
    const void* value = nullptr;
    CFDictionaryGetValueIfPresent(theDict, key, &value);
    return value;
}

Boolean CFDictionaryGetValueIfPresent(CFDictionaryRef theDict, const void* key,
                                      const void** value) {
    const Dictionary* d = asDictionary(theDict);
    const void* found = nullptr;
    if (d == nullptr || !d->find(key, &found)) {
        return false;
    }
    if (value != nullptr) {
        *value = found;
    }
    return true;
}

void CFDictionaryGetKeysAndValues(CFDictionaryRef theDict, const void** keys, const void** values) {
    const Dictionary* d = asDictionary(theDict);
    if (d == nullptr) {
        return;
    }
    size_t k = 0;
    d->forEach([&](const void* key, const void* value) {
        if (keys != nullptr) {
            keys[k] = key;
        }
        if (values != nullptr) {
            values[k] = value;
        }
        ++k;
    });
}

void CFDictionaryApplyFunction(CFDictionaryRef theDict, CFDictionaryApplierFunction applier,
                               void* context) {
    const Dictionary* d = asDictionary(theDict);
    if (d == nullptr || applier == nullptr) {
        return;
    }
    d->forEach([&](const void* key, const void* value) { applier(key, value, context); });
}

void CFDictionaryAddValue(CFMutableDictionaryRef theDict, const void* key, const void* value) {
    if (Dictionary* d = asMutableDictionary(theDict)) {
        d->set(key, value, false, true);
    }
}

void CFDictionarySetValue(CFMutableDictionaryRef theDict, const void* key, const void* value) {
    if (Dictionary* d = asMutableDictionary(theDict)) {
        d->set(key, value, true, true);
    }
}

void CFDictionaryReplaceValue(CFMutableDictionaryRef theDict, const void* key, const void* value) {
    if (Dictionary* d = asMutableDictionary(theDict)) {
        d->set(key, value, true, false);
    }
}

void CFDictionaryRemoveValue(CFMutableDictionaryRef theDict, const void* key) {
    if (Dictionary* d = asMutableDictionary(theDict)) {
        d->remove(key);
    }
}

void CFDictionaryRemoveAllValues(CFMutableDictionaryRef theDict) {
    if (Dictionary* d = asMutableDictionary(theDict)) {
        d->clear();
    }
}
