#include <aufw/AUScope.h>

#include <aufw/AUIOElement.h>

#include <algorithm>
#include <cstdio>
#include <new>
#include <optional>

namespace {

// An element number written as plain decimal digits, at most 31 characters
// of ASCII. 0xFFFFFFFF is refused: one more element than that cannot exist.
std::optional<UInt32> ParseElementKey(CFTypeRef key) {
    if (key == nullptr || CFGetTypeID(key) != CFStringGetTypeID()) {
        return std::nullopt;
    }
    char text[32];
    if (!CFStringGetCString(static_cast<CFStringRef>(key), text, sizeof(text),
                            kCFStringEncodingASCII) ||
        text[0] == '\0') {
        return std::nullopt;
    }
    UInt64 value = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<UInt64>(*p - '0');
        if (value >= 0xFFFFFFFFULL) {
            return std::nullopt;
        }
    }
    return static_cast<UInt32>(value);
}

CFStringRef CreateDecimalKey(UInt32 number) {
    return CFStringCreateWithFormat(nullptr, nullptr, CFSTR("%d"), static_cast<int>(number));
}

} // namespace

AUScope::~AUScope() {
    while (!mElements.empty()) {
        delete mElements.back();
        mElements.pop_back();
    }
}

void AUScope::Initialize(AUElementOwner* inOwner, AudioUnitScope inScope, UInt32 inNumElements) {
    mOwner = inOwner;
    mScope = inScope;
    SetNumberOfElements(inNumElements);
}

void AUScope::SetNumberOfElements(UInt32 inNumElements) {
    while (mElements.size() > inNumElements) {
        delete mElements.back();
        mElements.pop_back();
    }
    if (inNumElements <= mElements.size()) {
        return;
    }
    if (mOwner == nullptr) {
        throw static_cast<OSStatus>(kAudioUnitErr_InvalidScope);
    }
    if (mElements.capacity() < inNumElements) {
        mElements.reserve(inNumElements);
    }
    for (auto i = static_cast<UInt32>(mElements.size()); i < inNumElements; ++i) {
        AUElement* element = mOwner->CreateElement(mScope, i);
        if (element == nullptr) {
            throw static_cast<OSStatus>(kAudioUnitErr_InvalidScope);
        }
        mElements.push_back(element);
    }
}

AUElement* AUScope::SafeGetElement(UInt32 inElementIndex) const {
    AUElement* element = GetElement(inElementIndex);
    if (element == nullptr) {
        throw static_cast<OSStatus>(kAudioUnitErr_InvalidElement);
    }
    return element;
}

AUIOElement* AUScope::GetIOElement(UInt32 inElementIndex) const {
    AUElement* element = GetElement(inElementIndex);
    AUIOElement* ioElement = element != nullptr ? element->AsIOElement() : nullptr;
    if (ioElement == nullptr) {
        throw static_cast<OSStatus>(kAudioUnitErr_InvalidElement);
    }
    return ioElement;
}

bool AUScope::HasElementWithName() const noexcept {
    for (const AUElement* element : mElements) {
        if (element->HasName()) {
            return true;
        }
    }
    return false;
}

void AUScope::AddElementNamesToDict(CFMutableDictionaryRef inNameDict) const {
    if (!HasElementWithName()) {
        return;
    }
    CFMutableDictionaryRef elementDict = CFDictionaryCreateMutable(
        nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    if (elementDict == nullptr) {
        throw std::bad_alloc();
    }
    for (UInt32 i = 0; i < mElements.size(); ++i) {
        if (CFStringRef name = mElements[i]->GetName()) {
            CFStringRef key = CreateDecimalKey(i);
            CFDictionarySetValue(elementDict, key, name);
            CFRelease(key);
        }
    }
    CFStringRef scopeKey = CreateDecimalKey(mScope);
    CFDictionarySetValue(inNameDict, scopeKey, elementDict);
    CFRelease(scopeKey);
    CFRelease(elementDict);
}

bool AUScope::RestoreElementNames(CFDictionaryRef inNameDict) {
    const CFIndex count = inNameDict != nullptr ? CFDictionaryGetCount(inNameDict) : 0;
    std::vector<const void*> keys(static_cast<size_t>(count));
    std::vector<const void*> values(static_cast<size_t>(count));
    if (count > 0) {
        CFDictionaryGetKeysAndValues(inNameDict, keys.data(), values.data());
    }

    UInt32 largest = 0;
    for (const void* key : keys) {
        if (const auto number = ParseElementKey(key)) {
            largest = std::max(largest, *number);
        }
    }
    bool didAddElements = false;
    if (largest >= GetNumberOfElements()) {
        SetNumberOfElements(largest + 1);
        didAddElements = true;
    }

    for (size_t i = 0; i < keys.size(); ++i) {
        const auto number = ParseElementKey(keys[i]);
        const void* value = values[i];
        if (!number || value == nullptr || CFGetTypeID(value) != CFStringGetTypeID()) {
            continue;
        }
        mElements[*number]->SetName(static_cast<CFStringRef>(value));
    }
    return didAddElements;
}
