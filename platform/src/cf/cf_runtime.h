// The object model behind every CF type: a reference-counted base class with
// virtual equality, hashing and description.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <atomic>
#include <string>
#include <string_view>

namespace vxplatform {

enum TypeId : CFTypeID {
    kTypeNull = 1,
    kTypeAllocator,
    kTypeString,
    kTypeNumber,
    kTypeBoolean,
    kTypeData,
    kTypeArray,
    kTypeDictionary,
    kTypeURL,
    kTypeBundle,
    kTypeError,
    kTypeDate,
    kTypeRunLoop,
    kTypeRunLoopTimer,
    kTypeLocale,
    kTypeNumberFormatter,
    kTypeCount
};

class Object {
public:
    explicit Object(CFTypeID typeID) : mType(typeID) {}
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;
    virtual ~Object() = default;

    CFTypeID type() const { return mType; }

    // Called only for two objects of the same type.
    virtual bool equals(const Object& other) const { return this == &other; }
    virtual CFHashCode hash() const { return reinterpret_cast<uintptr_t>(this) >> 4; }
    // The text of CFCopyDescription.
    virtual std::string describe() const;
    // The text a "%@" format inserts; strings insert themselves.
    virtual std::string formatted() const { return describe(); }

    // Objects that live for the whole process ignore retain and release.
    void makeImmortal() { mImmortal = true; }
    bool immortal() const { return mImmortal; }

    void retain() const;
    // True when this release dropped the last reference.
    bool release() const;
    CFIndex retainCount() const;

private:
    const CFTypeID mType;
    mutable std::atomic<CFIndex> mRefs{1};
    bool mImmortal = false;
};

inline const Object* object(CFTypeRef cf) {
    return static_cast<const Object*>(cf);
}

// Checked downcast: null when cf is null or of another type.
template <class T> const T* as(CFTypeRef cf, CFTypeID typeID) {
    if (cf == nullptr || object(cf)->type() != typeID) {
        return nullptr;
    }
    return static_cast<const T*>(object(cf));
}
template <class T> T* asMutable(CFTypeRef cf, CFTypeID typeID) {
    return const_cast<T*>(as<T>(cf, typeID));
}

const char* typeName(CFTypeID typeID);
std::string describe(CFTypeRef cf);
std::string formatted(CFTypeRef cf);

// UTF-8 in and out of CF strings.
std::string toUTF8(CFStringRef string);
// Null when the bytes are not valid UTF-8.
CFStringRef createString(std::string_view utf8);
CFMutableStringRef createMutableString(std::string_view utf8);
CFStringRef createString(std::u16string text);

// Default deallocation for memory handed over with an allocator.
void deallocateWith(CFAllocatorRef allocator, void* memory);

std::string hexAddress(const void* p);

} // namespace vxplatform

namespace vxplatform {
// Handles are the objects' addresses.
template <class Ref> Ref handle(const Object* object) {
    return reinterpret_cast<Ref>(const_cast<Object*>(object));
}
} // namespace vxplatform
