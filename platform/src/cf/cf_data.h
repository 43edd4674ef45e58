// Byte buffers.
#pragma once

#include "cf/cf_runtime.h"

#include <vector>

namespace vxcf {

class Data final : public Object {
public:
    Data(std::vector<UInt8> bytes, bool isMutable, CFIndex capacity);
    // Bytes used in place and handed to the deallocator at destruction.
    Data(const UInt8* external, CFIndex length, CFAllocatorRef deallocator);
    ~Data() override;

    bool isMutable() const { return mutable_; }
    const UInt8* bytes() const;
    CFIndex length() const;
    CFIndex capacity() const { return capacity_; }
    UInt8* mutableBytes() { return bytes_.data(); }
    std::vector<UInt8>& storage() { return bytes_; }
    bool resize(CFIndex length);

    bool equals(const Object& other) const override;
    CFHashCode hash() const override;
    std::string describe() const override;

private:
    std::vector<UInt8> bytes_;
    const UInt8* external_ = nullptr;
    CFIndex externalLength_ = 0;
    CFAllocatorRef deallocator_ = nullptr;
    bool mutable_;
    CFIndex capacity_ = 0;
};

inline const Data* asData(CFTypeRef cf) {
    return as<Data>(cf, kTypeData);
}
Data* asMutableData(CFTypeRef cf);
CFDataRef createData(std::vector<UInt8> bytes);

} // namespace vxcf
