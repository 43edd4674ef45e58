// Arrays and dictionaries. Stored values pass through the collection's
// callbacks: retained on the way in, released on the way out.
#pragma once

#include "cf/cf_runtime.h"

#include <unordered_map>
#include <vector>

namespace vxplatform {

class Array final : public Object {
public:
    Array(const CFArrayCallBacks* callBacks, bool isMutable, CFIndex capacity);
    ~Array() override;

    bool isMutable() const { return mMutable; }
    const CFArrayCallBacks& callBacks() const { return mCallBacks; }
    const std::vector<const void*>& values() const { return mValues; }
    CFIndex count() const { return static_cast<CFIndex>(mValues.size()); }
    bool full(CFIndex extra) const;

    const void* retainValue(const void* value) const;
    void releaseValue(const void* value) const;
    bool valuesEqual(const void* a, const void* b) const;
    std::vector<const void*>& storage() { return mValues; }

    bool equals(const Object& other) const override;
    CFHashCode hash() const override { return static_cast<CFHashCode>(mValues.size()); }
    std::string describe() const override;

private:
    CFArrayCallBacks mCallBacks;
    std::vector<const void*> mValues;
    bool mMutable;
    CFIndex mCapacity;
};

inline const Array* asArray(CFTypeRef cf) {
    return as<Array>(cf, kTypeArray);
}
Array* asMutableArray(CFTypeRef cf);

class Dictionary final : public Object {
public:
    Dictionary(const CFDictionaryKeyCallBacks* keyCallBacks,
               const CFDictionaryValueCallBacks* valueCallBacks, bool isMutable, CFIndex capacity);
    ~Dictionary() override;

    bool isMutable() const { return mMutable; }
    const CFDictionaryKeyCallBacks& keyCallBacks() const { return mKeyCallBacks; }
    const CFDictionaryValueCallBacks& valueCallBacks() const { return mValueCallBacks; }
    CFIndex count() const { return static_cast<CFIndex>(mMap.size()); }

    // Null pointer and false when absent.
    bool find(const void* key, const void** value) const;
    // Both insert the key when absent; set replaces a present value, add does not.
    void set(const void* key, const void* value, bool replaceExisting, bool insertMissing);
    void remove(const void* key);
    void clear();
    template <class Visit> void forEach(Visit&& visit) const {
        for (const auto& [key, value] : mMap) {
            visit(key, value);
        }
    }
    // Keys in a stable order: strings sorted, then everything else.
    std::vector<std::pair<const void*, const void*>> sortedEntries() const;
    bool valuesEqual(const void* a, const void* b) const;

    bool equals(const Object& other) const override;
    CFHashCode hash() const override { return static_cast<CFHashCode>(mMap.size()); }
    std::string describe() const override;

private:
    struct KeyHash {
        const CFDictionaryKeyCallBacks* callBacks;
        size_t operator()(const void* key) const;
    };
    struct KeyEqual {
        const CFDictionaryKeyCallBacks* callBacks;
        bool operator()(const void* a, const void* b) const;
    };

    CFDictionaryKeyCallBacks mKeyCallBacks;
    CFDictionaryValueCallBacks mValueCallBacks;
    std::unordered_map<const void*, const void*, KeyHash, KeyEqual> mMap;
    bool mMutable;
    CFIndex mCapacity;
};

inline const Dictionary* asDictionary(CFTypeRef cf) {
    return as<Dictionary>(cf, kTypeDictionary);
}
Dictionary* asMutableDictionary(CFTypeRef cf);

std::string indentLines(const std::string& text);

} // namespace vxplatform
