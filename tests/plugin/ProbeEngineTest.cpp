// The unit's bridge to an engine, seen through the probe engine: what a
// ready instance hands out, which buffers reach the engine, the channel
// configurations, sample-rate changes, reset and tail; what the engine learns
// about its host through the host link and tells the host through it (host
// callbacks, offline rendering, latency, parameter gestures, editor-size
// changes); and the engine's state block in preset documents.
#include "PluginTestSupport.h"

#include <AudioToolbox/AudioUnitUtilities.h>

#include <gmock/gmock.h>

using namespace plugtest;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

namespace {

constexpr AudioUnitPropertyID kEngineAccess = 0x1E3638DA;

std::vector<float> ramp(size_t n) {
    std::vector<float> s(n);
    for (size_t i = 0; i < n; ++i)
        s[i] = 0.001f * static_cast<float>(i + 1);
    return s;
}

constexpr AudioUnitPropertyID kWindowSizeChanged = 0x10000;

// The scopes of one property's change announcements.
void recordScope(void* scopes, AudioUnit, AudioUnitPropertyID, AudioUnitScope scope,
                 AudioUnitElement) {
    static_cast<std::vector<AudioUnitScope>*>(scopes)->push_back(scope);
}

const CFStringRef kEngineKey = CFSTR("Ambrel-Preset-Data-Key");

CFMutableDictionaryRef save(AudioUnit u) {
    CFPropertyListRef document = nullptr;
    EXPECT_EQ(getProperty(u, kAudioUnitProperty_ClassInfo, document), noErr);
    if (document == nullptr || CFGetTypeID(document) != CFDictionaryGetTypeID())
        throw std::runtime_error("no document saved");
    auto copy = CFDictionaryCreateMutableCopy(nullptr, 0, static_cast<CFDictionaryRef>(document));
    CFRelease(document);
    return copy;
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
    EXPECT_EQ(engine().creates, 1);

    void* first[2] = {};
    void* second[2] = {};
    ASSERT_EQ(getProperty(unit, kEngineAccess, first), noErr);
    ASSERT_EQ(getProperty(unit, kEngineAccess, second, kAudioUnitScope_Output, 3), noErr)
        << "scope and element do not matter";
    ASSERT_NE(first[0], nullptr);
    EXPECT_EQ(first[0], second[0]);
    EXPECT_EQ(first[1], second[1]);
    UInt32 size = 0;

    AudioUnitParameterID ids[4] = {99, 99, 99, 99};
    auto list = [&] {
        return AudioUnitGetProperty(unit, kAudioUnitProperty_ParameterList, kAudioUnitScope_Global,
                                    0, ids, &(size = sizeof ids));
    };
    ASSERT_EQ(list(), noErr);
    EXPECT_EQ(size, 3 * sizeof(AudioUnitParameterID));
    EXPECT_THAT(ids, ElementsAreArray({0u, 1u, 2u, 99u}));
    ASSERT_EQ(AudioUnitGetPropertyInfo(unit, kAudioUnitProperty_ParameterList,
                                       kAudioUnitScope_Input, 0, &size, nullptr),
              noErr);
    EXPECT_EQ(size, 0u) << "only the global scope has parameters";
    AudioUnitParameterInfo info{};
    ASSERT_EQ(getProperty(unit, kAudioUnitProperty_ParameterInfo, info, kAudioUnitScope_Global, 2),
              noErr);
    EXPECT_EQ(info.flags, 0xE8000011u);
    EXPECT_EQ(info.unit, kAudioUnitParameterUnit_Generic);
    EXPECT_THAT((std::vector<float>{info.minValue, info.maxValue, info.defaultValue}),
                ElementsAreArray({-3.0f, 30.0f, 2.5f}));
    CFRelease(info.cfNameString);
    EXPECT_EQ(getProperty(unit, kAudioUnitProperty_ParameterInfo, info, kAudioUnitScope_Input, 2),
              kAudioUnitErr_InvalidParameter);
    AudioUnitParameterValue value = 0;
    EXPECT_NE(AudioUnitGetParameter(unit, 1, kAudioUnitScope_Global, 1, &value), noErr)
        << "another element is the base's, which has no such parameter";
    ASSERT_EQ(AudioUnitSetParameter(unit, 1, kAudioUnitScope_Global, 0, -4.5f, 0), noErr);
    EXPECT_EQ(engine().params[1], -4.5f) << "passed on unchanged, not clamped";
    engine().info.paramCount = 0;
    ids[0] = 42;
    ASSERT_EQ(list(), noErr);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(ids[0], 42u) << "an empty list leaves the caller's buffer alone";
    EXPECT_EQ(unit.close(), noErr);
    EXPECT_EQ(engine().destroys, 1);
}

VX_BOTH_ENTRIES(Bridge);

TEST_P(Audio, StereoIsProcessedInPlaceAndMonoFeedsBothEngineInputs) {
    start();
    input.signal = ramp(kFrames);
    engine().gain = 2.0f;
    render();
    EXPECT_EQ(engine().lastReserved, 0);
    EXPECT_EQ(engine().lastFrames, static_cast<int>(kFrames));
    EXPECT_EQ(engine().lastIn[0], engine().lastOut[0]);
    EXPECT_EQ(engine().lastIn[1], engine().lastOut[1]);
    EXPECT_NE(engine().lastIn[0], engine().lastIn[1]);
    EXPECT_FLOAT_EQ(left[99], 0.2f) << "the processed block reaches the host's buffers";
    EXPECT_FLOAT_EQ(right[0], 0.002f);

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
    EXPECT_EQ(engine().lastIn[0], engine().lastIn[1]) << "a mono input feeds both engine inputs";
    EXPECT_EQ(engine().lastOut[0], left.data());
    EXPECT_EQ(engine().lastOut[1], right.data());
    EXPECT_FLOAT_EQ(left[9], 0.005f);
    EXPECT_FLOAT_EQ(right[9], 0.005f);
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
    EXPECT_EQ(engine().processCalls, 0);
    EXPECT_FLOAT_EQ(left[19], 0.02f) << "the block passes untouched";
}

TEST_P(Audio, NewRateRestartsTheEngineOnceAndAnnouncesTheLatencyResetResetsItTailIsItsOwn) {
    std::vector<AudioUnitScope> latencyChanges;
    ASSERT_EQ(AudioUnitAddPropertyListener(unit, kAudioUnitProperty_Latency, recordScope,
                                           &latencyChanges),
              noErr);
    auto expectRestarts = [&](int suspends, int prepares, int resets, int announced) {
        EXPECT_EQ(engine().suspends, suspends);
        EXPECT_EQ(engine().prepares, prepares);
        EXPECT_EQ(engine().resets, resets);
        EXPECT_EQ(latencyChanges.size(), size_t(announced));
    };
    expectRestarts(0, 1, 1, 0);
    ASSERT_EQ(setFormat(unit, kAudioUnitScope_Input, 44100, 2), noErr);
    expectRestarts(0, 1, 1, 0); // the rate it already has
    ASSERT_EQ(setFormat(unit, kAudioUnitScope_Input, 48000, 2), noErr);
    expectRestarts(1, 2, 2, 1);
    EXPECT_FLOAT_EQ(link().IGetSampleRate(), 48000.0f);
    ASSERT_EQ(setFormat(unit, kAudioUnitScope_Output, 48000, 2), noErr);
    expectRestarts(1, 2, 2, 1); // the output following to the same rate
    ASSERT_EQ(
        setProperty(unit, kAudioUnitProperty_SampleRate, Float64(96000), kAudioUnitScope_Output),
        noErr);
    expectRestarts(2, 3, 3, 2);
    EXPECT_FLOAT_EQ(link().IGetSampleRate(), 96000.0f);
    ASSERT_EQ(AudioUnitReset(unit, kAudioUnitScope_Global, 0), noErr);
    expectRestarts(2, 3, 4, 2);

    Float64 tail = 0;
    ASSERT_EQ(getProperty(unit, kAudioUnitProperty_TailTime, tail), noErr);
    EXPECT_DOUBLE_EQ(tail, 1.5) << "the engine's";
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
    const struct {
        const char* step;
        HostClock said;
        Float64 tempo, position;
        bool playing;
    } steps[] = {
        {"first answers", {97.5, 12345.0, true, noErr}, 97.5, 12345.0, true},
        {"new answers", {140.0, 20000.0, false, noErr}, 140.0, 20000.0, false},
        {"failures keep the last facts", {60.0, 1.0, true, -1}, 140.0, 20000.0, false},
        {"the tempo alone installed", {60.0, 1.0, true, noErr}, 60.0, 20000.0, false},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.step);
        clock = s.said;
        if (&s == &steps[3]) {
            callbacks.transportStateProc = nullptr;
            ASSERT_EQ(setProperty(unit, kAudioUnitProperty_HostCallbacks, callbacks), noErr);
        }
        const ProbeFacts facts = render();
        EXPECT_EQ(facts.tempo, s.tempo);
        EXPECT_EQ(facts.position, s.position);
        EXPECT_EQ(facts.playing, s.playing);
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

    // Latency.
    ASSERT_EQ(AudioUnitUninitialize(unit), noErr);
    ASSERT_EQ(setFormats(unit, 48000, 2), noErr);
    auto latency = [&] {
        Float64 seconds = -1;
        EXPECT_EQ(getProperty(unit, kAudioUnitProperty_Latency, seconds), noErr);
        return seconds * 48000.0;
    };
    EXPECT_DOUBLE_EQ(latency(), 512.0) << "the engine's fixed latency";
    std::vector<AudioUnitScope> scopes;
    ASSERT_EQ(AudioUnitAddPropertyListener(unit, kAudioUnitProperty_Latency, recordScope, &scopes),
              noErr);
    engine().info.fixedLatency = -1;
    EXPECT_EQ(latency(), 0.0) << "nothing reported yet";
    link().ISetLatency(256);
    EXPECT_EQ(scopes, std::vector<AudioUnitScope>{kAudioUnitScope_Global});
    EXPECT_DOUBLE_EQ(latency(), 256.0);
    link().ISetLatency(512);
    EXPECT_DOUBLE_EQ(latency(), 512.0);
    EXPECT_EQ(scopes.size(), 2u);
    engine().info.fixedLatency = 100;
    EXPECT_DOUBLE_EQ(latency(), 100.0) << "a fixed latency wins over a reported one";
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
    // Its value is one byte, 1, and only the global scope has it.
    UInt32 size = 0;
    UInt8 value[4] = {0, 0xEE, 0xEE, 0xEE};
    ASSERT_EQ(AudioUnitGetProperty(unit, kWindowSizeChanged, kAudioUnitScope_Global, 0, value,
                                   &(size = 4)),
              noErr);
    EXPECT_EQ(size, 1u);
    EXPECT_EQ(value[0], 1);
    EXPECT_EQ(value[1], 0xEE) << "nothing written past the property's size";
    EXPECT_EQ(AudioUnitGetPropertyInfo(unit, kWindowSizeChanged, kAudioUnitScope_Output, 0, &size,
                                       nullptr),
              kAudioUnitErr_InvalidScope);
}

VX_BOTH_ENTRIES(HostFacts);

TEST_P(Presets, EngineGetsBackExactlyTheBytesItGave) {
    const std::vector<uint8_t> block = {0, 1, 0, 0, 0xFF, 0x80, 0x7F, 0, 42, 0};
    engine().stateBlock = block;
    CFMutableDictionaryRef document = save(unit);
    const auto saved = static_cast<CFDataRef>(CFDictionaryGetValue(document, kEngineKey));
    ASSERT_TRUE(saved && CFGetTypeID(saved) == CFDataGetTypeID());
    EXPECT_EQ(std::vector<uint8_t>(CFDataGetBytePtr(saved),
                                   CFDataGetBytePtr(saved) + CFDataGetLength(saved)),
              block)
        << "no header, no padding";

    ASSERT_EQ(restore(unit, document), noErr);
    EXPECT_EQ(engine().loadCalls, 1);
    EXPECT_EQ(engine().loadedBlock, block);

    SCOPED_TRACE("without the engine entry: refused after the base applied its part");
    CFDictionaryRemoveValue(document, kEngineKey);
    CFDictionarySetValue(document, CFSTR("name"), CFSTR("Foreign"));
    EXPECT_EQ(restore(unit, document), kAudioUnitErr_InvalidPropertyValue);
    AUPreset preset{};
    ASSERT_EQ(getProperty(unit, kAudioUnitProperty_PresentPreset, preset), noErr);
    EXPECT_TRUE(CFEqual(preset.presetName, CFSTR("Foreign"))) << "the base's part stays in effect";
    CFRelease(preset.presetName);
    SCOPED_TRACE("an entry that is not data is refused the same way");
    CFDictionarySetValue(document, kEngineKey, CFSTR("not data"));
    EXPECT_EQ(restore(unit, document), kAudioUnitErr_InvalidPropertyValue);
    SCOPED_TRACE("a document the base refuses never reaches the engine");
    CFDataRef emptyBlock = CFDataCreate(nullptr, nullptr, 0);
    CFDictionarySetValue(document, kEngineKey, emptyBlock);
    CFRelease(emptyBlock);
    const SInt32 one = 1;
    CFNumberRef version = CFNumberCreate(nullptr, kCFNumberSInt32Type, &one);
    CFDictionarySetValue(document, CFSTR("version"), version);
    CFRelease(version);
    EXPECT_EQ(restore(unit, document), kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(engine().loadCalls, 1);
    CFRelease(document);
}

VX_BOTH_ENTRIES(Presets);
