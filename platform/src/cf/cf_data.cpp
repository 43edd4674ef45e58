#include "cf/cf_data.h"

#include <cstring>

#include <fmt/format.h>

namespace vxplatform {

Data::Data(std::vector<UInt8> bytes, bool isMutable, CFIndex capacity)
    : Object(kTypeData), mBytes(std::move(bytes)), mMutable(isMutable), mCapacity(capacity) {}

Data::Data(const UInt8* external, CFIndex length, CFAllocatorRef deallocator)
    : Object(kTypeData), mExternal(external), mExternalLength(length), mDeallocator(deallocator),
      mMutable(false) {}

Data::~Data() {
    if (mExternal != nullptr) {
        deallocateWith(mDeallocator, const_cast<UInt8*>(mExternal));
    }
}

const UInt8* Data::bytes() const {
    return mExternal != nullptr ? mExternal : mBytes.data();
}

CFIndex Data::length() const {
    return mExternal != nullptr ? mExternalLength : static_cast<CFIndex>(mBytes.size());
}

bool Data::equals(const Object& other) const {
    const auto& o = static_cast<const Data&>(other);
    return length() == o.length() &&
           (length() == 0 || std::memcmp(bytes(), o.bytes(), static_cast<size_t>(length())) == 0);
}

CFHashCode Data::hash() const {
    // The length and the first bytes are enough to spread typical keys.
    uint64_t h = static_cast<uint64_t>(length());
    const CFIndex n = length() < 80 ? length() : 80;
    for (CFIndex k = 0; k < n; ++k) {
        h = (h ^ bytes()[k]) * 1099511628211ull;
    }
    return static_cast<CFHashCode>(h);
}

std::string Data::describe() const {
    std::string hex;
    const CFIndex shown = length() < 64 ? length() : 64;
    for (CFIndex k = 0; k < shown; ++k) {
        hex += fmt::format("{:02x}", bytes()[k]);
    }
    return fmt::format("<CFData {} [{}]>{{length = {}, bytes = 0x{}{}}}", hexAddress(this),
                       mMutable ? "mutable" : "immutable", length(), hex,
                       shown < length() ? "..." : "");
}

bool Data::resize(CFIndex length) {
    if (!mMutable || length < 0 || (mCapacity > 0 && length > mCapacity)) {
        return false;
    }
    mBytes.resize(static_cast<size_t>(length), 0);
    return true;
}

Data* asMutableData(CFTypeRef cf) {
    auto* data = asMutable<Data>(cf, kTypeData);
    return data != nullptr && data->isMutable() ? data : nullptr;
}

CFDataRef createData(std::vector<UInt8> bytes) {
    return handle<CFDataRef>(new Data(std::move(bytes), false, 0));
}

} // namespace vxplatform

using namespace vxplatform;

namespace {

bool validRange(const Data* d, CFRange range) {
    return d != nullptr && range.location >= 0 && range.length >= 0 &&
           range.location + range.length <= d->length();
}

} // namespace

CFTypeID CFDataGetTypeID(void) {
    return kTypeData;
}

CFDataRef CFDataCreate(CFAllocatorRef, const UInt8* bytes, CFIndex length) {
    if (length < 0 || (bytes == nullptr && length > 0)) {
        return nullptr;
    }
    return createData(std::vector<UInt8>(bytes, bytes + length));
}

CFDataRef CFDataCreateWithBytesNoCopy(CFAllocatorRef, const UInt8* bytes, CFIndex length,
                                      CFAllocatorRef bytesDeallocator) {
    if (length < 0 || (bytes == nullptr && length > 0)) {
        return nullptr;
    }
    if (bytes == nullptr) {
        return createData({});
    }
    return handle<CFDataRef>(new Data(bytes, length, bytesDeallocator));
}

CFDataRef CFDataCreateCopy(CFAllocatorRef, CFDataRef theData) {
    const Data* d = asData(theData);
    if (d == nullptr) {
        return nullptr;
    }
    return createData(std::vector<UInt8>(d->bytes(), d->bytes() + d->length()));
}

CFMutableDataRef CFDataCreateMutable(CFAllocatorRef, CFIndex capacity) {
    return handle<CFMutableDataRef>(new Data({}, true, capacity < 0 ? 0 : capacity));
}

CFMutableDataRef CFDataCreateMutableCopy(CFAllocatorRef, CFIndex capacity, CFDataRef theData) {
    const Data* d = asData(theData);
    std::vector<UInt8> bytes;
    if (d != nullptr) {
        bytes.assign(d->bytes(), d->bytes() + d->length());
    }
    if (capacity > 0 && static_cast<CFIndex>(bytes.size()) > capacity) {
        capacity = static_cast<CFIndex>(bytes.size());
    }
    return handle<CFMutableDataRef>(new Data(std::move(bytes), true, capacity < 0 ? 0 : capacity));
}

CFIndex CFDataGetLength(CFDataRef theData) {
    const Data* d = asData(theData);
    return d == nullptr ? 0 : d->length();
}

const UInt8* CFDataGetBytePtr(CFDataRef theData) {
    const Data* d = asData(theData);
    return d == nullptr ? nullptr : d->bytes();
}

UInt8* CFDataGetMutableBytePtr(CFMutableDataRef theData) {
    Data* d = asMutableData(theData);
    return d == nullptr ? nullptr : d->mutableBytes();
}

void CFDataGetBytes(CFDataRef theData, CFRange range, UInt8* buffer) {
    const Data* d = asData(theData);
    if (buffer != nullptr && validRange(d, range) && range.length > 0) {
        std::memcpy(buffer, d->bytes() + range.location, static_cast<size_t>(range.length));
    }
}

void CFDataSetLength(CFMutableDataRef theData, CFIndex length) {
    if (Data* d = asMutableData(theData)) {
        d->resize(length);
    }
}

void CFDataIncreaseLength(CFMutableDataRef theData, CFIndex extraLength) {
    if (Data* d = asMutableData(theData); d != nullptr && extraLength > 0) {
        d->resize(d->length() + extraLength);
    }
}

void CFDataAppendBytes(CFMutableDataRef theData, const UInt8* bytes, CFIndex length) {
    CFDataReplaceBytes(theData, CFRangeMake(CFDataGetLength(theData), 0), bytes, length);
}

void CFDataReplaceBytes(CFMutableDataRef theData, CFRange range, const UInt8* newBytes,
                        CFIndex newLength) {
    Data* d = asMutableData(theData);
    if (d == nullptr || !validRange(d, range) || newLength < 0 ||
        (newBytes == nullptr && newLength > 0)) {
        return;
    }
    const CFIndex total = d->length() - range.length + newLength;
    if (d->capacity() > 0 && total > d->capacity()) {
        return;
    }
    // Copy first: the new bytes may point into this object.
    std::vector<UInt8> insert(newBytes, newBytes + newLength);
    auto& bytes = d->storage();
    bytes.erase(bytes.begin() + range.location, bytes.begin() + range.location + range.length);
    bytes.insert(bytes.begin() + range.location, insert.begin(), insert.end());
}

void CFDataDeleteBytes(CFMutableDataRef theData, CFRange range) {
    CFDataReplaceBytes(theData, range, nullptr, 0);
}
