// One scope of a unit (global, input, output, group): the ordered elements
// it holds. The element number is the index; the scope owns the elements and
// asks its owner to create new ones when it grows.
#pragma once

#include <aufw/AUElement.h>
#include <aufw/AUElementOwner.h>

#include <AudioUnit/AudioUnit.h>
#include <CoreFoundation/CoreFoundation.h>

#include <vector>

class AUIOElement;

class AUScope {
public:
    AUScope() = default;
    ~AUScope();

    AUScope(const AUScope&) = delete;
    AUScope& operator=(const AUScope&) = delete;

    // Stores the owner and the scope ID, then grows to inNumElements.
    void Initialize(AUElementOwner* inOwner, AudioUnitScope inScope, UInt32 inNumElements);

    // Shrinking deletes elements from the end; growing asks the owner for each
    // new element in ascending order. Surviving elements keep their
    // parameters, formats and names. Raises kAudioUnitErr_InvalidScope when
    // the scope has no owner to create elements or the owner creates none.
    void SetNumberOfElements(UInt32 inNumElements);
    UInt32 GetNumberOfElements() const noexcept { return static_cast<UInt32>(mElements.size()); }

    AudioUnitScope GetScope() const noexcept { return mScope; }
    AUElementOwner* GetOwner() const noexcept { return mOwner; }

    // The element, or null past the end.
    AUElement* GetElement(UInt32 inElementIndex) const noexcept {
        return inElementIndex < mElements.size() ? mElements[inElementIndex] : nullptr;
    }
    // The element; raises kAudioUnitErr_InvalidElement past the end.
    AUElement* SafeGetElement(UInt32 inElementIndex) const;
    // The element as an I/O element; raises kAudioUnitErr_InvalidElement when
    // it is missing or is not an I/O element.
    AUIOElement* GetIOElement(UInt32 inElementIndex) const;

    bool HasElementWithName() const noexcept;

    // Adds this scope's element names to the state document's name
    // dictionary: under the scope ID as decimal text, a dictionary from
    // element number text to name. Adds nothing when no element is named.
    void AddElementNamesToDict(CFMutableDictionaryRef inNameDict) const;
    // Names elements from such a dictionary, growing the scope to the largest
    // element number named. Keys that are not decimal element numbers and
    // values that are not strings are skipped. True when the scope grew.
    bool RestoreElementNames(CFDictionaryRef inNameDict);

private:
    AUElementOwner* mOwner = nullptr;
    AudioUnitScope mScope = 0;
    std::vector<AUElement*> mElements;
};
