// Byte buffers.
#pragma once

#include "cf/cf_runtime.h"

#include <vector>

namespace vxplatform {

class Data final : public Object {
public:
    Data(std::vector<UInt8> bytes, bool isMutable, CFIndex capacity);
    // Bytes used in place and handed to the deallocator at destruction.
    Data(const UInt8* external, CFIndex length, CFAllocatorRef deallocator);
    ~Data() override;

    bool isMutable() const { return mMutable; }
    const UInt8* bytes() const;
    CFIndex length() const;
    CFIndex capacity() const { return mCapacity; }
    UInt8* mutableBytes() { return mBytes.data(); }
    std::vector<UInt8>& storage() { return mBytes; }
    bool resize(CFIndex length);

    bool equals(const Object& other) const override;
    CFHashCode hash() const override;
    std::string describe() const override;

private:
    std::vector<UInt8> mBytes;
    const UInt8* mExternal = nullptr;
    CFIndex mExternalLength = 0;
    CFAllocatorRef mDeallocator = nullptr;
    bool mMutable;
    CFIndex mCapacity = 0;
};

inline const Data* asData(CFTypeRef cf) {
    return as<Data>(cf, kTypeData);
}
Data* asMutableData(CFTypeRef cf);
CFDataRef createData(std::vector<UInt8> bytes);

} // namespace vxplatform
