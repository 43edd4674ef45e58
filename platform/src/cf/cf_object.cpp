#include "cf/cf_runtime.h"

#include <cstdio>
#include <cstdlib>
#include <limits>

#include <fmt/format.h>

namespace vxplatform {

void Object::retain() const {
    if (!mImmortal) {
        mRefs.fetch_add(1, std::memory_order_relaxed);
    }
}

bool Object::release() const {
    if (mImmortal) {
        return false;
    }
    // Acquire-release so that the deleting thread sees every write made by
    // the threads that released before it.
    return mRefs.fetch_sub(1, std::memory_order_acq_rel) == 1;
}

CFIndex Object::retainCount() const {
    if (mImmortal) {
        return std::numeric_limits<CFIndex>::max();
    }
    return mRefs.load(std::memory_order_relaxed);
}

std::string Object::describe() const {
    return fmt::format("<{} {}>", typeName(type()), hexAddress(this));
}

std::string hexAddress(const void* p) {
    return fmt::format("{:#x}", reinterpret_cast<uintptr_t>(p));
}

const char* typeName(CFTypeID typeID) {
    static const char* const names[kTypeCount] = {
        "CFType", "CFNull",    "CFAllocator",    "CFString", "CFNumber",         "CFBoolean",
        "CFData", "CFArray",   "CFDictionary",   "CFURL",    "CFBundle",         "CFError",
        "CFDate", "CFRunLoop", "CFRunLoopTimer", "CFLocale", "CFNumberFormatter"};
    return typeID < kTypeCount ? names[typeID] : "CFType";
}

std::string describe(CFTypeRef cf) {
    return cf == nullptr ? std::string("(null)") : object(cf)->describe();
}

std::string formatted(CFTypeRef cf) {
    return cf == nullptr ? std::string("(null)") : object(cf)->formatted();
}

namespace {

class Null final : public Object {
public:
    Null() : Object(kTypeNull) { makeImmortal(); }
    std::string describe() const override { return "<CFNull>"; }
    CFHashCode hash() const override { return 0x4e554c4c; }
};

class Allocator final : public Object {
public:
    enum Kind { kSystem, kMalloc, kNull, kContext };
    explicit Allocator(Kind kind) : Object(kTypeAllocator), mKind(kind) { makeImmortal(); }
    Kind kind() const { return mKind; }

private:
    Kind mKind;
};

Null gNull;
Allocator gSystemAllocator(Allocator::kSystem);
Allocator gMallocAllocator(Allocator::kMalloc);
Allocator gMallocZoneAllocator(Allocator::kMalloc);
Allocator gNullAllocator(Allocator::kNull);
Allocator gContextAllocator(Allocator::kContext);

bool isNullAllocator(CFAllocatorRef allocator) {
    return allocator ==
           reinterpret_cast<CFAllocatorRef>(static_cast<const Object*>(&gNullAllocator));
}

} // namespace

void deallocateWith(CFAllocatorRef allocator, void* memory) {
    if (memory != nullptr && !isNullAllocator(allocator)) {
        std::free(memory);
    }
}

} // namespace vxplatform

using namespace vxplatform;

template <class T> static T asRef(const Object& object) {
    return reinterpret_cast<T>(&object);
}

const CFNullRef kCFNull = asRef<CFNullRef>(gNull);
const CFAllocatorRef kCFAllocatorDefault = nullptr;
const CFAllocatorRef kCFAllocatorSystemDefault = asRef<CFAllocatorRef>(gSystemAllocator);
const CFAllocatorRef kCFAllocatorMalloc = asRef<CFAllocatorRef>(gMallocAllocator);
const CFAllocatorRef kCFAllocatorMallocZone = asRef<CFAllocatorRef>(gMallocZoneAllocator);
const CFAllocatorRef kCFAllocatorNull = asRef<CFAllocatorRef>(gNullAllocator);
const CFAllocatorRef kCFAllocatorUseContext = asRef<CFAllocatorRef>(gContextAllocator);

CFTypeID CFNullGetTypeID(void) {
    return kTypeNull;
}
CFTypeID CFAllocatorGetTypeID(void) {
    return kTypeAllocator;
}
CFAllocatorRef CFAllocatorGetDefault(void) {
    return kCFAllocatorSystemDefault;
}

void* CFAllocatorAllocate(CFAllocatorRef allocator, CFIndex size, CFOptionFlags) {
    if (isNullAllocator(allocator) || size <= 0) {
        return nullptr;
    }
    return std::malloc(static_cast<size_t>(size));
}

void* CFAllocatorReallocate(CFAllocatorRef allocator, void* ptr, CFIndex newsize, CFOptionFlags) {
    if (isNullAllocator(allocator)) {
        return nullptr;
    }
    if (newsize <= 0) {
        std::free(ptr);
        return nullptr;
    }
    return std::realloc(ptr, static_cast<size_t>(newsize));
}

void CFAllocatorDeallocate(CFAllocatorRef allocator, void* ptr) {
    deallocateWith(allocator, ptr);
}

CFTypeID CFGetTypeID(CFTypeRef cf) {
    return cf == nullptr ? 0 : object(cf)->type();
}

CFStringRef CFCopyTypeIDDescription(CFTypeID typeID) {
    return createString(typeName(typeID));
}

CFTypeRef CFRetain(CFTypeRef cf) {
    if (cf != nullptr) {
        object(cf)->retain();
    }
    return cf;
}

void CFRelease(CFTypeRef cf) {
    if (cf != nullptr && object(cf)->release()) {
        delete object(cf);
    }
}

CFTypeRef CFMakeCollectable(CFTypeRef cf) {
    return cf;
}

CFIndex CFGetRetainCount(CFTypeRef cf) {
    return cf == nullptr ? 0 : object(cf)->retainCount();
}

Boolean CFEqual(CFTypeRef cf1, CFTypeRef cf2) {
    if (cf1 == cf2) {
        return true;
    }
    if (cf1 == nullptr || cf2 == nullptr || object(cf1)->type() != object(cf2)->type()) {
        return false;
    }
    return object(cf1)->equals(*object(cf2));
}

CFHashCode CFHash(CFTypeRef cf) {
    return cf == nullptr ? 0 : object(cf)->hash();
}

CFStringRef CFCopyDescription(CFTypeRef cf) {
    if (cf == nullptr) {
        return nullptr;
    }
    return createString(object(cf)->describe());
}

CFAllocatorRef CFGetAllocator(CFTypeRef) {
    return kCFAllocatorSystemDefault;
}

void CFShow(CFTypeRef obj) {
    std::fprintf(stderr, "%s\n", formatted(obj).c_str());
}

void CFShowStr(CFStringRef str) {
    std::fprintf(stderr, "%s\n", describe(str).c_str());
}
