#include "base_test_unit.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

namespace aufw_base_test {

const AudioComponentDescription kBaseTestDescription = {
    0x61756678 /* aufx */, 0x42617365 /* Base */, 0x56787461 /* Vxta */, 0, 0};

constexpr AudioUnitPropertyID kPrivateProperty = 0x10001;

// ---------------------------------------------------------------------------
// Layout element

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

// ---------------------------------------------------------------------------
// Unit

BaseTestUnit::BaseTestUnit(AudioComponentInstance instance, const UnitOptions& options)
    : AUBase(instance, options.inputs, options.outputs, options.groups) {}

OSStatus BaseTestUnit::Initialize() {
    ++initializeCalls;
    return initializeResult;
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
    if (inScope == kAudioUnitScope_Global) {
        if (inID == kPrivateProperty && inDataSize == sizeof(UInt32)) {
            std::memcpy(&privateValue, inData, sizeof(privateValue));
            return 0;
        }
        if (answersQualityAndLoad && inID == kAudioUnitProperty_RenderQuality &&
            inDataSize == sizeof(UInt32)) {
            UInt32 value = 0;
            std::memcpy(&value, inData, sizeof(value));
            if (value > 127) {
                return kAudioUnitErr_InvalidPropertyValue;
            }
            renderQuality = value;
            return 0;
        }
        if (answersQualityAndLoad && inID == kAudioUnitProperty_CPULoad &&
            inDataSize == sizeof(Float32)) {
            std::memcpy(&cpuLoad, inData, sizeof(cpuLoad));
            return 0;
        }
    }
    return AUBase::SetProperty(inID, inScope, inElement, inData, inDataSize);
}

// ---------------------------------------------------------------------------
// Opening through a registered factory

namespace {

struct PlugInRecord {
    AudioComponentPlugInInterface interface;
    BaseTestUnit* object;
};

UnitOptions gPendingOptions;
ComponentBase::EInstanceType gPendingType = ComponentBase::kAudioComponentInstance;
BaseTestUnit* gLastOpened = nullptr;

OSStatus TestOpen(void* self, AudioComponentInstance instance) {
    auto* record = static_cast<PlugInRecord*>(self);
    const auto saved = ComponentBase::sNewInstanceType;
    ComponentBase::sNewInstanceType = gPendingType;
    try {
        record->object = new BaseTestUnit(instance, gPendingOptions);
    } catch (...) {
        ComponentBase::sNewInstanceType = saved;
        return -1;
    }
    ComponentBase::sNewInstanceType = saved;
    record->object->PostConstructor();
    gLastOpened = record->object;
    return 0;
}

OSStatus TestClose(void* self) {
    auto* record = static_cast<PlugInRecord*>(self);
    record->object->PreDestructor();
    delete record->object;
    delete record;
    return 0;
}

AudioComponentMethod TestLookup(SInt16) {
    return nullptr;
}

AudioComponentPlugInInterface* TestFactory(const AudioComponentDescription*) {
    auto* record = new PlugInRecord{};
    record->interface = {TestOpen, TestClose, TestLookup, nullptr};
    return &record->interface;
}

AudioComponent RegisteredComponent() {
    static AudioComponent component =
        AudioComponentRegister(&kBaseTestDescription, nullptr, 0x10000, TestFactory);
    return component;
}

} // namespace

OpenUnit::OpenUnit(const UnitOptions& options, bool componentManagerType) {
    gPendingOptions = options;
    gPendingType = componentManagerType ? ComponentBase::kComponentMgrInstance
                                        : ComponentBase::kAudioComponentInstance;
    gLastOpened = nullptr;
    const OSStatus result = AudioComponentInstanceNew(RegisteredComponent(), &mInstance);
    gPendingType = ComponentBase::kAudioComponentInstance;
    if (result != 0 || gLastOpened == nullptr) {
        ADD_FAILURE() << "opening the test unit failed: " << result;
        throw std::runtime_error("cannot open the test unit");
    }
    mUnit = gLastOpened;
}

OpenUnit::~OpenUnit() {
    if (mInstance != nullptr) {
        AudioComponentInstanceDispose(mInstance);
    }
}

// ---------------------------------------------------------------------------
// Listener log

void ListenerLog::Proc(void* inRefCon, AudioUnit inUnit, AudioUnitPropertyID inID,
                       AudioUnitScope inScope, AudioUnitElement inElement) {
    auto* log = static_cast<ListenerLog*>(inRefCon);
    log->calls.push_back({inRefCon, inUnit, inID, inScope, inElement});
    log->order.push_back(1);
}

void ListenerLog::OtherProc(void* inRefCon, AudioUnit inUnit, AudioUnitPropertyID inID,
                            AudioUnitScope inScope, AudioUnitElement inElement) {
    auto* log = static_cast<ListenerLog*>(inRefCon);
    log->calls.push_back({inRefCon, inUnit, inID, inScope, inElement});
    log->order.push_back(2);
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
    if (s == nullptr) {
        return "<null>";
    }
    char buffer[256] = {};
    if (!CFStringGetCString(s, buffer, sizeof(buffer), kCFStringEncodingUTF8)) {
        return "<unconvertible>";
    }
    return buffer;
}

} // namespace aufw_base_test
