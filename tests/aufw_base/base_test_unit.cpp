#include "base_test_unit.h"

#include <aufw/AUPlugInDispatch.h>

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

namespace aufw_base_test {

const AudioComponentDescription kBaseTestDescription = {
    0x61756678 /* aufx */, 0x42617365 /* Base */, 0x56787461 /* Vxta */, 0, 0};

constexpr AudioUnitPropertyID kPrivateProperty = 0x10001;

UInt32 LayoutOutputElement::GetChannelLayoutTags(AudioChannelLayoutTag* outTags) {
    if (outTags != nullptr) {
        std::memcpy(outTags, tags.data(), tags.size() * sizeof(AudioChannelLayoutTag));
    }
    return static_cast<UInt32>(tags.size());
}

UInt32 LayoutOutputElement::GetAudioChannelLayout(AudioChannelLayout* outLayout,
                                                  Boolean& outWritable) {
    outWritable = true;
    if (!hasLayout) {
        return 0;
    }
    if (outLayout != nullptr) {
        std::memset(outLayout, 0, sizeof(AudioChannelLayout));
        outLayout->mChannelLayoutTag = layoutTag;
    }
    return static_cast<UInt32>(sizeof(AudioChannelLayout));
}

OSStatus LayoutOutputElement::SetAudioChannelLayout(const AudioChannelLayout& inLayout) {
    ++setCalls;
    hasLayout = true;
    layoutTag = inLayout.mChannelLayoutTag;
    return 0;
}

OSStatus LayoutOutputElement::RemoveAudioChannelLayout() {
    ++removeCalls;
    hasLayout = false;
    return 0;
}

namespace {
// What the next open builds, and what it built: the factory constructs the
// unit from its instance handle alone.
UnitOptions gPendingOptions;
BaseTestUnit* gLastOpened = nullptr;
} // namespace

BaseTestUnit::BaseTestUnit(AudioComponentInstance instance)
    : AUBase(instance, gPendingOptions.inputs, gPendingOptions.outputs, gPendingOptions.groups) {
    gLastOpened = this;
}

AUElement* BaseTestUnit::CreateElement(AudioUnitScope inScope, AudioUnitElement inElement) {
    if (inScope == kAudioUnitScope_Output) {
        return new LayoutOutputElement(this);
    }
    return AUBase::CreateElement(inScope, inElement);
}

OSStatus BaseTestUnit::GetPropertyInfo(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                       AudioUnitElement inElement, UInt32& outDataSize,
                                       Boolean& outWritable) {
    if (inScope == kAudioUnitScope_Global && inID == kPrivateProperty) {
        outDataSize = sizeof(UInt32);
        outWritable = true;
        return 0;
    }
    return AUBase::GetPropertyInfo(inID, inScope, inElement, outDataSize, outWritable);
}

OSStatus BaseTestUnit::GetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                   AudioUnitElement inElement, void* outData) {
    if (inScope == kAudioUnitScope_Global) {
        if (inID == kPrivateProperty) {
            std::memcpy(outData, &privateValue, sizeof(privateValue));
            return 0;
        }
        if (answersQualityAndLoad && inID == kAudioUnitProperty_RenderQuality) {
            std::memcpy(outData, &renderQuality, sizeof(renderQuality));
            return 0;
        }
        if (answersQualityAndLoad && inID == kAudioUnitProperty_CPULoad) {
            std::memcpy(outData, &cpuLoad, sizeof(cpuLoad));
            return 0;
        }
    }
    return AUBase::GetProperty(inID, inScope, inElement, outData);
}

OSStatus BaseTestUnit::SetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                   AudioUnitElement inElement, const void* inData,
                                   UInt32 inDataSize) {
    if (inScope == kAudioUnitScope_Global && inDataSize == 4) {
        if (inID == kPrivateProperty) {
            std::memcpy(&privateValue, inData, sizeof(privateValue));
            return 0;
        }
        if (answersQualityAndLoad && inID == kAudioUnitProperty_RenderQuality) {
            UInt32 value = 0;
            std::memcpy(&value, inData, sizeof(value));
            if (value > 127) {
                return kAudioUnitErr_InvalidPropertyValue;
            }
            renderQuality = value;
            return 0;
        }
        if (answersQualityAndLoad && inID == kAudioUnitProperty_CPULoad) {
            std::memcpy(&cpuLoad, inData, sizeof(cpuLoad));
            return 0;
        }
    }
    return AUBase::SetProperty(inID, inScope, inElement, inData, inDataSize);
}

OpenUnit::OpenUnit(const UnitOptions& options) {
    static AudioComponent component = AudioComponentRegister(
        &kBaseTestDescription, nullptr, 0x10000, AUBaseFactory<BaseTestUnit>::Factory);
    gPendingOptions = options;
    gLastOpened = nullptr;
    const OSStatus result = AudioComponentInstanceNew(component, &mInstance);
    if (result != 0 || gLastOpened == nullptr) {
        ADD_FAILURE() << "opening the test unit failed: " << result;
        throw std::runtime_error("cannot open the test unit");
    }
    mUnit = gLastOpened;
}

void ListenerLog::Proc(void* inRefCon, AudioUnit inUnit, AudioUnitPropertyID inID,
                       AudioUnitScope inScope, AudioUnitElement inElement) {
    static_cast<ListenerLog*>(inRefCon)->calls.push_back(
        {inRefCon, inUnit, inID, inScope, inElement, 1});
}

void ListenerLog::OtherProc(void* inRefCon, AudioUnit inUnit, AudioUnitPropertyID inID,
                            AudioUnitScope inScope, AudioUnitElement inElement) {
    static_cast<ListenerLog*>(inRefCon)->calls.push_back(
        {inRefCon, inUnit, inID, inScope, inElement, 2});
}

size_t ListenerLog::Count(AudioUnitPropertyID id) const {
    size_t n = 0;
    for (const ListenerCall& c : calls) {
        n += c.id == id ? 1 : 0;
    }
    return n;
}

CFStringRef MakeString(const char* text) {
    return CFStringCreateWithCString(kCFAllocatorDefault, text, kCFStringEncodingUTF8);
}

std::string ToStdString(CFStringRef s) {
    char buffer[256] = {};
    if (s == nullptr || !CFStringGetCString(s, buffer, sizeof(buffer), kCFStringEncodingUTF8)) {
        return "<none>";
    }
    return buffer;
}

} // namespace aufw_base_test
