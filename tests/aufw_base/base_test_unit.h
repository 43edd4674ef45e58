// A small unit on AUBase for driving the base class directly, opened through
// the framework's factory from a registered component so that it has a real
// instance handle and component description, and a recorder for
// property-listener calls.
#pragma once

#include <aufw/AUBase.h>
#include <aufw/CAException.h>

#include <AudioUnit/AudioUnit.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace aufw_base_test {

// 'aufx' 'Base' 'Vxta': the description the test unit is registered with.
extern const AudioComponentDescription kBaseTestDescription;

// An output element that offers the stereo layout tag (or any layout when
// asked), so the layout paths of the unit can be exercised.
class LayoutOutputElement : public AUOutputElement {
public:
    explicit LayoutOutputElement(AUElementOwner* owner) : AUOutputElement(owner) {}
    UInt32 GetChannelLayoutTags(AudioChannelLayoutTag* outTags) override;
    UInt32 GetAudioChannelLayout(AudioChannelLayout* outLayout, Boolean& outWritable) override;
    OSStatus SetAudioChannelLayout(const AudioChannelLayout& inLayout) override;
    OSStatus RemoveAudioChannelLayout() override;

    std::vector<AudioChannelLayoutTag> tags{kAudioChannelLayoutTag_Stereo};
    bool hasLayout = false;
    AudioChannelLayoutTag layoutTag = 0;
    int setCalls = 0;
    int removeCalls = 0;
};

struct UnitOptions {
    UInt32 inputs = 1;
    UInt32 outputs = 1;
    UInt32 groups = 0;
};

class BaseTestUnit : public AUBase {
public:
    explicit BaseTestUnit(AudioComponentInstance instance);

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
    AUElement* CreateElement(AudioUnitScope inScope, AudioUnitElement inElement) override;

    OSStatus GetPropertyInfo(AudioUnitPropertyID inID, AudioUnitScope inScope,
                             AudioUnitElement inElement, UInt32& outDataSize,
                             Boolean& outWritable) override;
    OSStatus GetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope,
                         AudioUnitElement inElement, void* outData) override;
    OSStatus SetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope,
                         AudioUnitElement inElement, const void* inData,
                         UInt32 inDataSize) override;

    // Makes the hidden error recorder reachable for the tests.
    void RecordRenderError(OSStatus err) { SetLastRenderError(err); }

    LayoutOutputElement* LayoutOutput(UInt32 n) {
        return dynamic_cast<LayoutOutputElement*>(GetOutput(n));
    }

    int initializeCalls = 0;
    int cleanupCalls = 0;
    OSStatus initializeResult = 0;
    bool busCountWritable = false;
    bool supportsTail = false;
    // Render quality (property 26) and CPU load (property 6) answered only
    // when enabled; a render quality above 127 is refused.
    bool answersQualityAndLoad = false;
    UInt32 renderQuality = 64;
    Float32 cpuLoad = 0.25f;
    // A private property the subclass serves: 0x10001, 4 bytes, writable.
    UInt32 privateValue = 7;
};

// An open instance of the test unit, opened with AudioComponentInstanceNew.
class OpenUnit {
public:
    explicit OpenUnit(const UnitOptions& options = {});
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
    static void Proc(void* inRefCon, AudioUnit inUnit, AudioUnitPropertyID inID,
                     AudioUnitScope inScope, AudioUnitElement inElement);
    static void OtherProc(void* inRefCon, AudioUnit inUnit, AudioUnitPropertyID inID,
                          AudioUnitScope inScope, AudioUnitElement inElement);
    std::vector<ListenerCall> calls;
    size_t Count(AudioUnitPropertyID id) const;
};

CFStringRef MakeString(const char* text);
std::string ToStdString(CFStringRef s);

constexpr AudioUnitScope kIn = kAudioUnitScope_Input;
constexpr AudioUnitScope kOut = kAudioUnitScope_Output;
constexpr AudioUnitScope kGlob = kAudioUnitScope_Global;

// A fresh unit with short spellings of the four property dispatchers; the
// *Raised forms turn a raised status into the result the way the component
// entry does.
class BaseUnitTest : public ::testing::Test {
protected:
    OSStatus set(AudioUnitPropertyID id, AudioUnitScope s, AudioUnitElement e, const void* data,
                 UInt32 size) {
        return unit->DispatchSetProperty(id, s, e, data, size);
    }
    OSStatus setRaised(AudioUnitPropertyID id, AudioUnitScope s, AudioUnitElement e,
                       const void* data, UInt32 size) {
        return Call([&] { return set(id, s, e, data, size); });
    }
    OSStatus get(AudioUnitPropertyID id, AudioUnitScope s, AudioUnitElement e, void* data) {
        return unit->DispatchGetProperty(id, s, e, data);
    }
    OSStatus info(AudioUnitPropertyID id, AudioUnitScope s, AudioUnitElement e = 0) {
        return Call([&] { return unit->DispatchGetPropertyInfo(id, s, e, size, writable); });
    }
    OSStatus remove(AudioUnitPropertyID id, AudioUnitScope s) {
        return unit->DispatchRemovePropertyValue(id, s, 0);
    }
    void listen(AudioUnitPropertyID id) { unit->AddPropertyListener(id, ListenerLog::Proc, &log); }

    OpenUnit unit;
    ListenerLog log;
    UInt32 size = 0;
    Boolean writable = false;
};

} // namespace aufw_base_test
