// The validation battery: bad requests.
#include "ValidateSupport.h"

namespace vxhost::validate {

namespace {

struct Expectation {
    std::string what;
    OSStatus got;
    OSStatus expected;
};

} // namespace

Outcome badArguments(const ComponentRef& ref, Entry entry) {
    Unit unit(ref, entry);
    AudioUnit u = unit.get();
    std::vector<Expectation> list;
    UInt32 size = 0;
    Boolean writable = 0;
    unsigned char buffer[64] = {};
    size = sizeof buffer;
    list.push_back({"an unknown property",
                    AudioUnitGetProperty(u, 0x7FFF0000u, kAudioUnitScope_Global, 0, buffer, &size),
                    kAudioUnitErr_InvalidProperty});
    list.push_back(
        {"StreamFormat in scope 77",
         AudioUnitGetPropertyInfo(u, kAudioUnitProperty_StreamFormat, 77, 0, &size, &writable),
         kAudioUnitErr_InvalidScope});
    list.push_back({"StreamFormat of input element 99",
                    AudioUnitGetPropertyInfo(u, kAudioUnitProperty_StreamFormat,
                                             kAudioUnitScope_Input, 99, &size, &writable),
                    kAudioUnitErr_InvalidElement});
    // Global-scope IDs may be passed to a unit's engine unchecked, so the
    // probe asks for a parameter of the output scope, which holds none.
    UInt32 listSize = 0;
    AudioUnitGetPropertyInfo(u, kAudioUnitProperty_ParameterList, kAudioUnitScope_Output, 0,
                             &listSize, &writable);
    if (listSize == 0) {
        Float32 value = 0;
        list.push_back({"a parameter of the output scope",
                        AudioUnitGetParameter(u, 0, kAudioUnitScope_Output, 0, &value),
                        kAudioUnitErr_InvalidParameter});
    }
    AudioStreamBasicDescription f = canonicalFormat(44100, 2);
    list.push_back(
        {"a 35-byte StreamFormat",
         AudioUnitSetProperty(u, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 0, &f, 35),
         kAudioUnitErr_InvalidPropertyValue});
    AudioStreamBasicDescription int16 = f;
    int16.mFormatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked |
                         kAudioFormatFlagIsNonInterleaved;
    int16.mBitsPerChannel = 16;
    int16.mBytesPerFrame = int16.mBytesPerPacket = 2;
    list.push_back({"a 16-bit integer StreamFormat",
                    AudioUnitSetProperty(u, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input,
                                         0, &int16, sizeof int16),
                    kAudioUnitErr_FormatNotSupported});
    {
        std::vector<float> left(64), right(64);
        struct {
            UInt32 n;
            AudioBuffer b[2];
        } outList{2, {{1, 256, left.data()}, {1, 256, right.data()}}};
        AudioTimeStamp ts{};
        ts.mFlags = kAudioTimeStampSampleTimeValid;
        AudioUnitRenderActionFlags flags = 0;
        list.push_back(
            {"rendering before initialization",
             AudioUnitRender(u, &flags, &ts, 0, 64, reinterpret_cast<AudioBufferList*>(&outList)),
             kAudioUnitErr_Uninitialized});
    }
    list.push_back({"a property read without a size",
                    AudioUnitGetProperty(u, kAudioUnitProperty_MaximumFramesPerSlice,
                                         kAudioUnitScope_Global, 0, buffer, nullptr),
                    kAudio_ParamError});
    RenderSetup setup;
    const auto [in, out] = renderChannels(u);
    setup.inChannels = in;
    setup.outChannels = out;
    RenderSession session(u, setup);
    check(session.configure(), "setting up for initialization");
    check(session.initialize(), "AudioUnitInitialize");
    const UInt32 frames = 2048;
    list.push_back({"MaximumFramesPerSlice while initialized",
                    AudioUnitSetProperty(u, kAudioUnitProperty_MaximumFramesPerSlice,
                                         kAudioUnitScope_Global, 0, &frames, sizeof frames),
                    kAudioUnitErr_Initialized});
    for (const Expectation& e : list)
        if (e.got != e.expected)
            return Outcome::fail(fmt::format("{} answered {}, expected {}", e.what, statusOf(e.got),
                                             statusOf(e.expected)));
    return Outcome::ok(fmt::format("{} bad requests answered with the right status", list.size()));
}

} // namespace vxhost::validate
