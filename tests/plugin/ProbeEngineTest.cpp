// The unit's bridge to an engine, seen through the probe engine: what a ready
// instance hands out, the buffers, channels, rates, reset and tail; what the
// engine learns through the host link and tells the host through it; and the
// engine's state block in preset documents.
#include "PluginTestSupport.h"

#include <AudioToolbox/AudioUnitUtilities.h>

#include <gmock/gmock.h>

using namespace plugtest;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

namespace {

constexpr AudioUnitPropertyID kEngineAccess = 0x1E3638DA, kWindowSizeChanged = 0x10000;
const CFStringRef kEngineKey = CFSTR("Ambrel-Preset-Data-Key");

std::vector<float> ramp(size_t n) {
    std::vector<float> s(n);
    for (size_t i = 0; i < n; ++i)
        s[i] = 0.001f * static_cast<float>(i + 1);
    return s;
}

// The scopes of one property's change announcements.
void recordScope(void* scopes, AudioUnit, AudioUnitPropertyID, AudioUnitScope scope,
                 AudioUnitElement) {
    static_cast<std::vector<AudioUnitScope>*>(scopes)->push_back(scope);
}

OSStatus restore(AudioUnit u, CFPropertyListRef document) {
    return setProperty(u, kAudioUnitProperty_ClassInfo, document);
}

using Bridge = ProbeUnit;
using Audio = ProbeUnit;
using HostFacts = ProbeUnit;
using Presets = ProbeUnit;

} // namespace

TEST_P(Bridge, ReadyInstanceHandsOutItsEngineAndTheEnginesParameters) {
    void* first[2] = {};
    void* second[2] = {};
    ASSERT_EQ(getProperty(unit, kEngineAccess, first), noErr);
    // Scope and element do not matter.
    ASSERT_EQ(getProperty(unit, kEngineAccess, second, kAudioUnitScope_Output, 3), noErr);
    ASSERT_NE(first[0], nullptr);
    EXPECT_EQ(std::tie(first[0], first[1], engine().creates),
              std::make_tuple(second[0], second[1], 1));

    UInt32 size = 0;
    AudioUnitParameterID ids[4] = {99, 99, 99, 99};
    auto list = [&] {
        return AudioUnitGetProperty(unit, kAudioUnitProperty_ParameterList, kAudioUnitScope_Global,
                                    0, ids, &(size = sizeof ids));
    };
    ASSERT_EQ(list(), noErr);
    EXPECT_EQ(size, 3 * sizeof(AudioUnitParameterID));
    EXPECT_THAT(ids, ElementsAreArray({0u, 1u, 2u, 99u}));
    // Only the global scope has parameters.
    ASSERT_EQ(AudioUnitGetPropertyInfo(unit, kAudioUnitProperty_ParameterList,
                                       kAudioUnitScope_Input, 0, &size, nullptr),
              noErr);
    EXPECT_EQ(size, 0u);
    AudioUnitParameterInfo info{};
    ASSERT_EQ(getProperty(unit, kAudioUnitProperty_ParameterInfo, info, kAudioUnitScope_Global, 2),
              noErr);
    CFRelease(info.cfNameString);
    EXPECT_EQ(std::tie(info.flags, info.unit, info.minValue, info.maxValue, info.defaultValue),
              std::make_tuple(0xE8000011u, kAudioUnitParameterUnit_Generic, -3.0f, 30.0f, 2.5f));
    EXPECT_EQ(getProperty(unit, kAudioUnitProperty_ParameterInfo, info, kAudioUnitScope_Input, 2),
              kAudioUnitErr_InvalidParameter);
    // Another element is the base's, which has no such parameter.
    AudioUnitParameterValue value = 0;
    EXPECT_NE(AudioUnitGetParameter(unit, 1, kAudioUnitScope_Global, 1, &value), noErr);
    ASSERT_EQ(AudioUnitSetParameter(unit, 1, kAudioUnitScope_Global, 0, -4.5f, 0), noErr);
    EXPECT_EQ(engine().params[1], -4.5f) << "passed on unchanged, not clamped";
    // An empty list leaves the caller's buffer alone.
    engine().info.paramCount = 0;
    ids[0] = 42;
    ASSERT_EQ(list(), noErr);
    EXPECT_EQ(std::tie(size, ids[0]), std::make_tuple(0u, 42u));
    EXPECT_EQ(unit.close(), noErr);
    EXPECT_EQ(engine().destroys, 1);
}

VX_BOTH_ENTRIES(Bridge);

TEST_P(Audio, StereoIsProcessedInPlaceAndMonoFeedsBothEngineInputs) {
    start();
    input.signal = ramp(kFrames);
    engine().gain = 2.0f;
    render();
    const ProbeControl& e = engine();
    EXPECT_EQ(std::tie(e.lastReserved, e.lastFrames, e.lastOut[0], e.lastOut[1]),
              std::make_tuple(0, int{kFrames}, e.lastIn[0], e.lastIn[1]));
    EXPECT_NE(e.lastIn[0], e.lastIn[1]);
    // The processed block reaches the host's buffers.
    EXPECT_EQ(std::tie(left[99], right[0]),
              std::make_tuple(input.signal[99] * 2.0f, input.signal[0] * 2.0f));
    // A failing input is the render's answer, kept as the last render error
    // until read; the next good block renders again.
    input.answer = -10863;
    for (int i = 0; i < 2; ++i, sampleTime += kFrames)
        EXPECT_EQ(renderStereo(unit, sampleTime, kFrames, left.data(), right.data()), -10863);
    input.answer = noErr;
    OSStatus last[2] = {1, 1};
    EXPECT_EQ(getProperty(unit, kAudioUnitProperty_LastRenderError, last[0]), noErr);
    render();
    EXPECT_EQ(getProperty(unit, kAudioUnitProperty_LastRenderError, last[1]), noErr);
    EXPECT_EQ(std::tie(last[0], last[1]), std::make_tuple(-10863, 0));

    // Mono in, rendered into the host's own output buffers.
    ASSERT_EQ(AudioUnitUninitialize(unit), noErr);
    ASSERT_EQ(setProperty(unit, kAudioUnitProperty_ShouldAllocateBuffer, UInt32(0),
                          kAudioUnitScope_Output),
              noErr);
    ASSERT_EQ(setFormat(unit, kAudioUnitScope_Input, 44100, 1), noErr);
    start();
    input.position = 0;
    engine().gain = 0.5f;
    render();
    EXPECT_EQ(std::tie(e.lastIn[1], e.lastOut[0], e.lastOut[1], left[9], right[9]),
              std::make_tuple(e.lastIn[0], left.data(), right.data(), input.signal[9] * 0.5f,
                              input.signal[9] * 0.5f));
}

TEST_P(Audio, ChannelsAreCheckedAndOneOutputBufferIsRefusedWithTheDebuggerMessage) {
    // A ready engine does not overrule the channel check.
    ASSERT_EQ(setFormat(unit, kAudioUnitScope_Output, 44100, 1), noErr);
    EXPECT_EQ(AudioUnitInitialize(unit), kAudioUnitErr_FormatNotSupported);
    ASSERT_EQ(setFormats(unit, 44100, 3), noErr);
    EXPECT_EQ(AudioUnitInitialize(unit), kAudioUnitErr_FormatNotSupported);
    // Mono in, processed in place into the unit's own output: the output list
    // becomes the one-buffer input list.
    ASSERT_EQ(setFormat(unit, kAudioUnitScope_Input, 44100, 1), noErr);
    start();
    input.signal = ramp(kFrames);
    engine().gain = 3.0f;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(renderStereo(unit, 0, kFrames, left.data(), right.data()), noErr);
    EXPECT_THAT(::testing::internal::GetCapturedStderr(),
                HasSubstr("-improper channel settings..."));
    // The block passes untouched.
    EXPECT_EQ(std::tie(engine().processCalls, left[19]), std::make_tuple(0, input.signal[19]));
}

TEST_P(Audio, NewRateRestartsTheEngineOnceAndAnnouncesTheLatencyResetResetsItTailIsItsOwn) {
    std::vector<AudioUnitScope> latencyChanges;
    ASSERT_EQ(AudioUnitAddPropertyListener(unit, kAudioUnitProperty_Latency, recordScope,
                                           &latencyChanges),
              noErr);
    // Suspends, prepares, resets, latency announcements and the link's rate.
    auto restarts = [&] {
        return std::make_tuple(engine().suspends, engine().prepares, engine().resets,
                               latencyChanges.size(), link().IGetSampleRate());
    };
    using R = std::tuple<int, int, int, size_t, float>;
    EXPECT_EQ(restarts(), R(0, 1, 1, 0, 44100.f));
    ASSERT_EQ(setFormat(unit, kAudioUnitScope_Input, 44100, 2), noErr);
    EXPECT_EQ(restarts(), R(0, 1, 1, 0, 44100.f)) << "the rate it already has";
    ASSERT_EQ(setFormat(unit, kAudioUnitScope_Input, 48000, 2), noErr);
    EXPECT_EQ(restarts(), R(1, 2, 2, 1, 48000.f));
    ASSERT_EQ(setFormat(unit, kAudioUnitScope_Output, 48000, 2), noErr);
    EXPECT_EQ(restarts(), R(1, 2, 2, 1, 48000.f)) << "the output following to the same rate";
    ASSERT_EQ(
        setProperty(unit, kAudioUnitProperty_SampleRate, Float64(96000), kAudioUnitScope_Output),
        noErr);
    EXPECT_EQ(restarts(), R(2, 3, 3, 2, 96000.f));
    ASSERT_EQ(AudioUnitReset(unit, kAudioUnitScope_Global, 0), noErr);
    EXPECT_EQ(restarts(), R(2, 3, 4, 2, 96000.f));

    Float64 tail = 0;
    ASSERT_EQ(getProperty(unit, kAudioUnitProperty_TailTime, tail), noErr);
    EXPECT_EQ(tail, 1.5) << "the engine's";
    engine().info.supportsTail = false;
    EXPECT_EQ(getProperty(unit, kAudioUnitProperty_TailTime, tail), kAudioUnitErr_InvalidProperty);
}

VX_BOTH_ENTRIES(Audio);

TEST_P(HostFacts, HostCallbacksAreAskedOnEveryProcessingCallAndFailuresKeepTheOldFacts) {
    start();
    render(); // without host callbacks
    HostClock clock{};
    HostCallbackInfo callbacks{&clock, HostClock::BeatAndTempo, nullptr, HostClock::Transport,
                               nullptr};
    ASSERT_EQ(setProperty(unit, kAudioUnitProperty_HostCallbacks, callbacks), noErr);
    using Facts = std::tuple<double, double, bool>;
    const std::tuple<const char*, HostClock, Facts> steps[] = {
        {"first answers", {97.5, 12345.0, true, noErr}, {97.5, 12345.0, true}},
        {"new answers", {140.0, 20000.0, false, noErr}, {140.0, 20000.0, false}},
        {"failures keep the last facts", {60.0, 1.0, true, -1}, {140.0, 20000.0, false}},
        {"the tempo alone installed", {60.0, 1.0, true, noErr}, {60.0, 20000.0, false}},
    };
    for (const auto& [step, said, want] : steps) {
        clock = said;
        if (&want == &std::get<2>(steps[3])) {
            callbacks.transportStateProc = nullptr;
            ASSERT_EQ(setProperty(unit, kAudioUnitProperty_HostCallbacks, callbacks), noErr);
        }
        const ProbeFacts facts = render();
        EXPECT_EQ(Facts(facts.tempo, facts.position, facts.playing), want) << step;
    }
}

TEST_P(HostFacts, OfflineRenderIsWhatTheEngineReadsBackAndLatencyIsFixedOrReported) {
    start();
    ASSERT_EQ(setProperty(unit, kAudioUnitProperty_OfflineRender, UInt32(2)), noErr);
    EXPECT_EQ(render().renderMode, 1);
    UInt32 value = 99;
    ASSERT_EQ(getProperty(unit, kAudioUnitProperty_OfflineRender, value), noErr);
    EXPECT_EQ(value, 1u);
    ASSERT_EQ(setProperty(unit, kAudioUnitProperty_OfflineRender, UInt32(0)), noErr);
    EXPECT_EQ(render().renderMode, 0);
    EXPECT_EQ(setProperty(unit, kAudioUnitProperty_OfflineRender, UInt16(1)),
              kAudioUnitErr_InvalidPropertyValue)
        << "a value shorter than its word is not read past its end";

    ASSERT_EQ(AudioUnitUninitialize(unit), noErr);
    ASSERT_EQ(setFormats(unit, 48000, 2), noErr);
    std::vector<AudioUnitScope> scopes;
    ASSERT_EQ(AudioUnitAddPropertyListener(unit, kAudioUnitProperty_Latency, recordScope, &scopes),
              noErr);
    // Latency in samples, and the announcements so far.
    auto latency = [&] {
        Float64 seconds = -1;
        EXPECT_EQ(getProperty(unit, kAudioUnitProperty_Latency, seconds), noErr);
        return std::make_tuple(std::lround(seconds * 48000.0), scopes);
    };
    using L = std::tuple<long, std::vector<AudioUnitScope>>;
    const std::vector<AudioUnitScope> global{kAudioUnitScope_Global};
    EXPECT_EQ(latency(), L(512, {})) << "the engine's fixed latency";
    engine().info.fixedLatency = -1;
    EXPECT_EQ(latency(), L(0, {})) << "nothing reported yet";
    link().ISetLatency(256);
    EXPECT_EQ(latency(), L(256, global));
    link().ISetLatency(512);
    EXPECT_EQ(latency(), L(512, {global[0], global[0]}));
    engine().info.fixedLatency = 100;
    EXPECT_EQ(std::get<0>(latency()), 100) << "a fixed latency wins over a reported one";
}

TEST_P(HostFacts, ParameterGesturesAndEditorSizeChangesReachListeners) {
    using Seen = std::pair<AudioUnitEventType, AudioUnitParameterID>;
    std::vector<Seen> seen;
    AUEventListenerRef listener = nullptr;
    auto record = [](void* to, void*, const AudioUnitEvent* event, UInt64,
                     AudioUnitParameterValue) {
        static_cast<std::vector<Seen>*>(to)->emplace_back(event->mEventType,
                                                          event->mArgument.mParameter.mParameterID);
    };
    ASSERT_EQ(AUEventListenerCreate(record, &seen, nullptr, nullptr, 0.0f, 0.0f, &listener), noErr);
    const AudioUnitEventType kinds[] = {kAudioUnitEvent_BeginParameterChangeGesture,
                                        kAudioUnitEvent_ParameterValueChange,
                                        kAudioUnitEvent_EndParameterChangeGesture};
    for (AudioUnitEventType type : kinds) {
        AudioUnitEvent event{type, {}};
        event.mArgument.mParameter = {unit, 3, kAudioUnitScope_Global, 0};
        ASSERT_EQ(AUEventListenerAddEventType(listener, nullptr, &event), noErr);
    }
    link().IParamChanged(3);
    EXPECT_EQ(seen, (std::vector<Seen>{{kinds[0], 3}, {kinds[1], 3}, {kinds[2], 3}}));
    AUListenerDispose(listener);

    std::vector<AudioUnitScope> scopes;
    ASSERT_EQ(AudioUnitAddPropertyListener(unit, kWindowSizeChanged, recordScope, &scopes), noErr);
    link().IWindowSizeChanged();
    EXPECT_EQ(scopes, std::vector<AudioUnitScope>{kAudioUnitScope_Global});
    // Its value is one byte, 1, nothing written past it; only the global scope has it.
    UInt32 size = 4;
    UInt8 value[4] = {0, 0xEE, 0xEE, 0xEE};
    ASSERT_EQ(
        AudioUnitGetProperty(unit, kWindowSizeChanged, kAudioUnitScope_Global, 0, value, &size),
        noErr);
    EXPECT_EQ(std::tie(size, value[0], value[1]), std::make_tuple(1u, UInt8(1), UInt8(0xEE)));
    EXPECT_EQ(AudioUnitGetPropertyInfo(unit, kWindowSizeChanged, kAudioUnitScope_Output, 0, &size,
                                       nullptr),
              kAudioUnitErr_InvalidScope);
}

VX_BOTH_ENTRIES(HostFacts);

// The engine gets back exactly the bytes it gave, no header, no padding,
// rendering going on: a worked block, blocks of awkward sizes (empty, one
// byte, 64 MB) and a negative size, which saves an empty block.
TEST_P(Presets, EngineGetsBackExactlyTheBytesItGaveOrNothing) {
    start();
    CFMutableDictionaryRef document = nullptr;
    for (int declared : {10, 0, 1, 64 << 20, -5}) {
        SCOPED_TRACE(declared);
        engine().stateBlock.assign(static_cast<size_t>(std::max(declared, 0)), 0x5A);
        if (declared == 10)
            engine().stateBlock = {0, 1, 0, 0, 0xFF, 0x80, 0x7F, 0, 42, 0};
        engine().sizeGiven = true;
        engine().stateSize = declared;
        CFPropertyListRef saved = nullptr;
        ASSERT_EQ(getProperty(unit, kAudioUnitProperty_ClassInfo, saved), noErr);
        ASSERT_EQ(CFGetTypeID(saved), CFDictionaryGetTypeID());
        if (document)
            CFRelease(document);
        document = CFDictionaryCreateMutableCopy(nullptr, 0, static_cast<CFDictionaryRef>(saved));
        CFRelease(saved);
        const auto data = static_cast<CFDataRef>(CFDictionaryGetValue(document, kEngineKey));
        ASSERT_TRUE(data && CFGetTypeID(data) == CFDataGetTypeID());
        const UInt8* bytes = CFDataGetBytePtr(data);
        EXPECT_TRUE(std::vector<uint8_t>(bytes, bytes + CFDataGetLength(data)) ==
                    engine().stateBlock);
        engine().loadedBlock.assign(3, 1);
        const int loads = engine().loadCalls;
        EXPECT_EQ(restore(unit, document), noErr);
        EXPECT_TRUE(engine().loadCalls == loads + 1 && engine().loadedBlock == engine().stateBlock);
        render();
    }
    const int loads = engine().loadCalls;
    // Without the engine entry: refused after the base applied its part.
    CFDictionaryRemoveValue(document, kEngineKey);
    CFDictionarySetValue(document, CFSTR("name"), CFSTR("Foreign"));
    EXPECT_EQ(restore(unit, document), kAudioUnitErr_InvalidPropertyValue);
    AUPreset preset{};
    ASSERT_EQ(getProperty(unit, kAudioUnitProperty_PresentPreset, preset), noErr);
    EXPECT_TRUE(CFEqual(preset.presetName, CFSTR("Foreign"))) << "the base's part stays in effect";
    CFRelease(preset.presetName);
    // An entry that is not data is refused the same way.
    CFDictionarySetValue(document, kEngineKey, CFSTR("not data"));
    EXPECT_EQ(restore(unit, document), kAudioUnitErr_InvalidPropertyValue);
    // A document the base refuses never reaches the engine.
    CFDataRef emptyBlock = CFDataCreate(nullptr, nullptr, 0);
    CFDictionarySetValue(document, kEngineKey, emptyBlock);
    CFRelease(emptyBlock);
    const SInt32 one = 1;
    CFNumberRef version = CFNumberCreate(nullptr, kCFNumberSInt32Type, &one);
    CFDictionarySetValue(document, CFSTR("version"), version);
    CFRelease(version);
    EXPECT_EQ(restore(unit, document), kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(engine().loadCalls, loads);
    CFRelease(document);
}

VX_BOTH_ENTRIES(Presets);
