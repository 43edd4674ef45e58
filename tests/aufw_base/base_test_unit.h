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
#include <tuple>
#include <utility>
#include <vector>

namespace aufw_base_test {

inline constexpr AudioComponentDescription kBaseTestDescription = {
    0x61756678 /* aufx */, 0x42617365 /* Base */, 0x56787461 /* Vxta */, 0, 0};

// An output element that offers the layout tags in `tags`.
class LayoutOutputElement : public AUOutputElement {
public:
    using AUOutputElement::AUOutputElement;
    UInt32 GetChannelLayoutTags(AudioChannelLayoutTag* outTags) override {
        std::copy(tags.begin(), outTags != nullptr ? tags.end() : tags.begin(), outTags);
        return static_cast<UInt32>(tags.size());
    }
    UInt32 GetAudioChannelLayout(AudioChannelLayout*, Boolean& outWritable) override {
        outWritable = true;
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
    int setCalls = 0, removeCalls = 0;
};

// Element counts of the next unit opened: the factory constructs it from its
// instance handle alone.
struct UnitOptions {
    UInt32 inputs = 1, outputs = 1, groups = 0;
};
class BaseTestUnit;
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
        return inScope == kAudioUnitScope_Output ? new LayoutOutputElement(this)
                                                 : AUBase::CreateElement(inScope, inElement);
    }

    // Render quality (refused above 127) and CPU load, served only when
    // answersQualityAndLoad is set.
    OSStatus GetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope,
                         AudioUnitElement inElement, void* outData) override {
        const void* value = Served(inID, inScope);
        if (value == nullptr) {
            return AUBase::GetProperty(inID, inScope, inElement, outData);
        }
        std::memcpy(outData, value, 4);
        return 0;
    }
    OSStatus SetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope,
                         AudioUnitElement inElement, const void* inData,
                         UInt32 inDataSize) override {
        void* value = Served(inID, inScope);
        if (value == nullptr || inDataSize != 4) {
            return AUBase::SetProperty(inID, inScope, inElement, inData, inDataSize);
        }
        if (value == &renderQuality && *static_cast<const UInt32*>(inData) > 127) {
            return kAudioUnitErr_InvalidPropertyValue;
        }
        std::memcpy(value, inData, 4);
        return 0;
    }

    int initializeCalls = 0, cleanupCalls = 0;
    OSStatus initializeResult = 0;
    bool busCountWritable = false, supportsTail = false, answersQualityAndLoad = false;
    UInt32 renderQuality = 64;
    Float32 cpuLoad = 0.25f;

private:
    void* Served(AudioUnitPropertyID inID, AudioUnitScope inScope) {
        const bool on = answersQualityAndLoad && inScope == kAudioUnitScope_Global;
        return !on                                        ? nullptr
               : inID == kAudioUnitProperty_RenderQuality ? static_cast<void*>(&renderQuality)
               : inID == kAudioUnitProperty_CPULoad       ? static_cast<void*>(&cpuLoad)
                                                          : nullptr;
    }
};

// An open instance of the test unit, opened with AudioComponentInstanceNew.
struct OpenUnit {
    explicit OpenUnit(const UnitOptions& options = {}) {
        static AudioComponent component = AudioComponentRegister(
            &kBaseTestDescription, nullptr, 0x10000, AUBaseFactory<BaseTestUnit>::Factory);
        gPendingOptions = options;
        if (AudioComponentInstanceNew(component, &instance) != 0) {
            throw std::runtime_error("cannot open the test unit");
        }
        unit = gLastOpened;
    }
    ~OpenUnit() { AudioComponentInstanceDispose(instance); }
    BaseTestUnit& operator*() const { return *unit; }
    BaseTestUnit* operator->() const { return unit; }

    AudioComponentInstance instance = nullptr;
    BaseTestUnit* unit = nullptr;
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

// Collects listener calls as "listener:property/scope/element" texts; the
// listener number tells two procedures apart, the reference their logs.
struct ListenerLog {
    template <int N>
    static void Proc(void* inRefCon, AudioUnit inUnit, AudioUnitPropertyID inID,
                     AudioUnitScope inScope, AudioUnitElement inElement) {
        auto* log = static_cast<ListenerLog*>(inRefCon);
        log->unit = inUnit;
        log->calls += (log->calls.empty() ? "" : " ") + std::to_string(N) + ":" +
                      std::to_string(inID) + "/" + std::to_string(inScope) + "/" +
                      std::to_string(inElement);
    }
    // The calls so far; the log starts afresh.
    std::string Take() { return std::exchange(calls, {}); }

    std::string calls;
    AudioUnit unit = nullptr;
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

using Statuses = std::vector<OSStatus>;
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
    // The value read, or a failure and a zero value.
    template <class T> T value(AudioUnitPropertyID id, AudioUnitScope s = kGlob) {
        T v{};
        EXPECT_EQ(get(id, s, 0, &v), 0) << "property " << id;
        return v;
    }
    OSStatus info(AudioUnitPropertyID id, AudioUnitScope s, AudioUnitElement e = 0) {
        return Call([&] { return unit->DispatchGetPropertyInfo(id, s, e, size, writable); });
    }
    // Status, size and writability in one; a flag left unset shows as 2.
    std::tuple<OSStatus, UInt32, Boolean> about(AudioUnitPropertyID id, AudioUnitScope s) {
        size = 0;
        writable = 2;
        const OSStatus status = info(id, s);
        return {status, size, writable};
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
