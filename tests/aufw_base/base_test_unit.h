// A small unit on AUBase, opened through the framework's factory from a
// registered component so that it has a real instance handle and description.
#pragma once

#include <aufw/AUBase.h>
#include <aufw/AUPlugInDispatch.h>
#include <aufw/CAException.h>

#include <AudioUnit/AudioUnit.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace aufw_base_test {

inline constexpr AudioComponentDescription kBaseTestDescription = {
    0x61756678 /* aufx */, 0x42617365 /* Base */, 0x56787461 /* Vxta */, 0, 0};
constexpr AudioUnitPropertyID kPrivateProperty = 0x10001;

// An output element that offers the layout tags in `tags`.
class LayoutOutputElement : public AUOutputElement {
public:
    explicit LayoutOutputElement(AUElementOwner* owner) : AUOutputElement(owner) {}
    UInt32 GetChannelLayoutTags(AudioChannelLayoutTag* outTags) override {
        if (outTags != nullptr) {
            std::copy(tags.begin(), tags.end(), outTags);
        }
        return static_cast<UInt32>(tags.size());
    }
    UInt32 GetAudioChannelLayout(AudioChannelLayout* outLayout, Boolean& outWritable) override {
        outWritable = true;
        if (hasLayout && outLayout != nullptr) {
            std::memset(outLayout, 0, sizeof(AudioChannelLayout));
        }
        return hasLayout ? static_cast<UInt32>(sizeof(AudioChannelLayout)) : 0;
    }
    OSStatus SetAudioChannelLayout(const AudioChannelLayout&) override {
        ++setCalls;
        hasLayout = true;
        return 0;
    }
    OSStatus RemoveAudioChannelLayout() override {
        ++removeCalls;
        hasLayout = false;
        return 0;
    }

    std::vector<AudioChannelLayoutTag> tags{kAudioChannelLayoutTag_Stereo};
    bool hasLayout = false;
    int setCalls = 0;
    int removeCalls = 0;
};

struct UnitOptions {
    UInt32 inputs = 1;
    UInt32 outputs = 1;
    UInt32 groups = 0;
};

class BaseTestUnit;
// What the next open builds, and what it built: the factory constructs the
// unit from its instance handle alone.
inline UnitOptions gPendingOptions;
inline BaseTestUnit* gLastOpened = nullptr;

class BaseTestUnit : public AUBase {
public:
    explicit BaseTestUnit(AudioComponentInstance instance)
        : AUBase(instance, gPendingOptions.inputs, gPendingOptions.outputs,
                 gPendingOptions.groups) {
        gLastOpened = this;
    }

    OSStatus Initialize() override {
        ++initializeCalls;
        return initializeResult;
    }
    void Cleanup() override { ++cleanupCalls; }
    bool StreamFormatWritable(AudioUnitScope, AudioUnitElement) override {
        return !IsInitialized();
    }
    bool BusCountWritable(AudioUnitScope inScope) override {
        return busCountWritable && inScope != kAudioUnitScope_Global;
    }
    bool SupportsTail() override { return supportsTail; }
    Float64 GetTailTime() override { return 0.25; }
    AUElement* CreateElement(AudioUnitScope inScope, AudioUnitElement inElement) override {
        if (inScope == kAudioUnitScope_Output) {
            return new LayoutOutputElement(this);
        }
        return AUBase::CreateElement(inScope, inElement);
    }

    OSStatus GetPropertyInfo(AudioUnitPropertyID inID, AudioUnitScope inScope,
                             AudioUnitElement inElement, UInt32& outDataSize,
                             Boolean& outWritable) override {
        if (inScope == kAudioUnitScope_Global && inID == kPrivateProperty) {
            outDataSize = sizeof(UInt32);
            outWritable = true;
            return 0;
        }
        return AUBase::GetPropertyInfo(inID, inScope, inElement, outDataSize, outWritable);
    }
    OSStatus GetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope,
                         AudioUnitElement inElement, void* outData) override {
        if (const void* value = Private(inID, inScope)) {
            std::memcpy(outData, value, 4);
            return 0;
        }
        return AUBase::GetProperty(inID, inScope, inElement, outData);
    }
    OSStatus SetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope,
                         AudioUnitElement inElement, const void* inData,
                         UInt32 inDataSize) override {
        void* value = Private(inID, inScope);
        if (value == nullptr || inDataSize != 4) {
            return AUBase::SetProperty(inID, inScope, inElement, inData, inDataSize);
        }
        if (value == &renderQuality && *static_cast<const UInt32*>(inData) > 127) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
        std::memcpy(value, inData, 4);
        return 0;
    }

    LayoutOutputElement* LayoutOutput(UInt32 n) {
        return dynamic_cast<LayoutOutputElement*>(GetOutput(n));
    }

    int initializeCalls = 0;
    int cleanupCalls = 0;
    OSStatus initializeResult = 0;
    bool busCountWritable = false;
    bool supportsTail = false;
    // Render quality (refused above 127) and CPU load, answered only when enabled.
    bool answersQualityAndLoad = false;
    UInt32 renderQuality = 64;
    Float32 cpuLoad = 0.25f;
    UInt32 privateValue = 7;

private:
    // Where the subclass keeps the value of a global property it serves.
    void* Private(AudioUnitPropertyID inID, AudioUnitScope inScope) {
        if (inScope != kAudioUnitScope_Global) {
            return nullptr;
        }
        if (inID == kPrivateProperty) {
            return &privateValue;
        }
        if (!answersQualityAndLoad) {
            return nullptr;
        }
        return inID == kAudioUnitProperty_RenderQuality ? static_cast<void*>(&renderQuality)
               : inID == kAudioUnitProperty_CPULoad     ? static_cast<void*>(&cpuLoad)
                                                        : nullptr;
    }
};

// An open instance of the test unit, opened with AudioComponentInstanceNew.
class OpenUnit {
public:
    explicit OpenUnit(const UnitOptions& options = {}) {
        static AudioComponent component = AudioComponentRegister(
            &kBaseTestDescription, nullptr, 0x10000, AUBaseFactory<BaseTestUnit>::Factory);
        gPendingOptions = options;
        gLastOpened = nullptr;
        if (AudioComponentInstanceNew(component, &mInstance) != 0 || gLastOpened == nullptr) {
            ADD_FAILURE() << "opening the test unit failed";
            throw std::runtime_error("cannot open the test unit");
        }
        mUnit = gLastOpened;
    }
    ~OpenUnit() { AudioComponentInstanceDispose(mInstance); }
    OpenUnit(const OpenUnit&) = delete;
    OpenUnit& operator=(const OpenUnit&) = delete;

    BaseTestUnit& operator*() const { return *mUnit; }
    BaseTestUnit* operator->() const { return mUnit; }
    AudioComponentInstance Instance() const { return mInstance; }

private:
    AudioComponentInstance mInstance = nullptr;
    BaseTestUnit* mUnit = nullptr;
};

// Runs a call the way the component entry does: raised statuses become the
// result.
template <class F> OSStatus Call(F&& f) {
    try {
        return f();
    } catch (OSStatus err) {
        return err;
    } catch (const CAXException& e) {
        return e.GetOSStatus();
    }
}

struct ListenerCall {
    void* refCon;
    AudioUnit unit;
    AudioUnitPropertyID id;
    AudioUnitScope scope;
    AudioUnitElement element;
    int proc; // 1 for Proc, 2 for OtherProc
};

// Collects listener calls; the proc number tells two listeners apart.
class ListenerLog {
public:
    template <int N>
    static void Proc(void* inRefCon, AudioUnit inUnit, AudioUnitPropertyID inID,
                     AudioUnitScope inScope, AudioUnitElement inElement) {
        static_cast<ListenerLog*>(inRefCon)->calls.push_back(
            {inRefCon, inUnit, inID, inScope, inElement, N});
    }
    size_t Count(AudioUnitPropertyID id) const {
        return static_cast<size_t>(std::count_if(
            calls.begin(), calls.end(), [id](const ListenerCall& c) { return c.id == id; }));
    }
    std::vector<ListenerCall> calls;
};

inline CFStringRef MakeString(const char* text) {
    return CFStringCreateWithCString(kCFAllocatorDefault, text, kCFStringEncodingUTF8);
}

inline std::string ToStdString(CFStringRef s) {
    char buffer[256] = {};
    if (s == nullptr || !CFStringGetCString(s, buffer, sizeof(buffer), kCFStringEncodingUTF8)) {
        return "<none>";
    }
    return buffer;
}

constexpr AudioUnitScope kIn = kAudioUnitScope_Input;
constexpr AudioUnitScope kOut = kAudioUnitScope_Output;
constexpr AudioUnitScope kGlob = kAudioUnitScope_Global;
constexpr OSStatus kBadValue = kAudioUnitErr_InvalidPropertyValue;
constexpr OSStatus kBadScope = kAudioUnitErr_InvalidScope;
constexpr OSStatus kBadElement = kAudioUnitErr_InvalidElement;
constexpr OSStatus kBadProperty = kAudioUnitErr_InvalidProperty;

// A fresh unit with short spellings of the property dispatchers; all of
// them turn a raised status into the result the way the component entry does.
class BaseUnitTest : public ::testing::Test {
protected:
    OSStatus set(AudioUnitPropertyID id, AudioUnitScope s, AudioUnitElement e, const void* data,
                 UInt32 size) {
        return Call([&] { return unit->DispatchSetProperty(id, s, e, data, size); });
    }
    OSStatus get(AudioUnitPropertyID id, AudioUnitScope s, AudioUnitElement e, void* data) {
        return Call([&] { return unit->DispatchGetProperty(id, s, e, data); });
    }
    OSStatus info(AudioUnitPropertyID id, AudioUnitScope s, AudioUnitElement e = 0) {
        return Call([&] { return unit->DispatchGetPropertyInfo(id, s, e, size, writable); });
    }
    OSStatus remove(AudioUnitPropertyID id, AudioUnitScope s) {
        return unit->DispatchRemovePropertyValue(id, s, 0);
    }
    void listen(AudioUnitPropertyID id) {
        unit->AddPropertyListener(id, ListenerLog::Proc<1>, &log);
    }

    OpenUnit unit;
    ListenerLog log;
    UInt32 size = 0;
    Boolean writable = false;
};

} // namespace aufw_base_test
