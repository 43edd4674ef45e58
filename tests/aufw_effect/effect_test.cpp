// An effect on AUEffectBase: channel configurations, kernels, sample types,
// properties, and rendering (kernels, bypass, in place, slices, silence and
// tail, real-time safety by counting).
#include "RenderTestUnit.h"

#include <aufw/AUEffectBase.h>
#include <aufw/CAException.h>

#include <rtcheck/rtcheck.h>

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace {

// Per kernel call: channel, silence in, frames, stride, type (f, i or s), in place.
using Call = std::tuple<UInt32, bool, UInt32, UInt32, char, bool>;
using Calls = std::vector<Call>;
struct KernelLog {
    int created = 0, destroyed = 0, resets = 0, processCalls = 0;
    Calls calls; // while there is capacity: the render path must not allocate
};

// Gain = global parameter 0; the silence flag is handed back unchanged.
class GainKernel : public AUEffectKernel {
public:
    GainKernel(AUEffectBase* unit, KernelLog& log) : AUEffectKernel(unit), mLog(log) {
        ++mLog.created;
    }
    ~GainKernel() override { ++mLog.destroyed; }
    void Reset() override { ++mLog.resets; }
    void Process(const Float32* src, Float32* dst, UInt32 n, UInt32 stride, bool& s) override {
        Run(src, dst, n, stride, s, 'f');
    }
    void Process(const SInt32* src, SInt32* dst, UInt32 n, UInt32 stride, bool& s) override {
        Run(src, dst, n, stride, s, 'i');
    }
    void Process(const SInt16* src, SInt16* dst, UInt32 n, UInt32 stride, bool& s) override {
        Run(src, dst, n, stride, s, 's');
    }

private:
    template <typename T>
    void Run(const T* src, T* dst, UInt32 n, UInt32 stride, bool& silence, char type) {
        ++mLog.processCalls;
        if (mLog.calls.size() < mLog.calls.capacity()) {
            mLog.calls.emplace_back(GetChannel(), silence, n, stride, type,
                                    static_cast<const void*>(src) == dst);
        }
        for (UInt32 i = 0; i < n; ++i) {
            dst[i * stride] = T(float(src[i * stride]) * GetParameter(0));
        }
    }
    KernelLog& mLog;
};

class TestEffect : public AUEffectBase {
public:
    explicit TestEffect(bool inPlace = false, bool withKernels = true)
        : AUEffectBase(nullptr, inPlace), mWithKernels(withKernels) {
        Globals0()->SetParameter(0, 1.0f); // the gain
        Globals0()->SetParameter(1, 0.0f);
        log.calls.reserve(4096);
    }
    AUEffectKernel* NewKernel() override {
        return mWithKernels ? new GainKernel(this, log) : nullptr;
    }
    UInt32 SupportedNumChannels(const AUChannelInfo** outInfo) override {
        if (outInfo != nullptr) {
            *outInfo = channelTable.empty() ? nullptr : channelTable.data();
        }
        return UInt32(channelTable.size());
    }
    OSStatus Reset(AudioUnitScope inScope, AudioUnitElement inElement) override {
        ++unitResets; // kernels are gone while uninitialized
        return AUEffectBase::Reset(inScope, inElement);
    }
    Float64 GetLatency() override { return latency; }
    Float64 GetTailTime() override { return tail; }
    void SetFormats(const CAStreamBasicDescription& in, const CAStreamBasicDescription& out) {
        GetInput(0)->SetStreamFormat(in);
        GetOutput(0)->SetStreamFormat(out);
    }

    KernelLog log;
    int unitResets = 0;
    std::vector<AUChannelInfo> channelTable;
    Float64 latency = 0.0, tail = 0.0;

private:
    bool mWithKernels;
};

// The host side of the input: 1 + frame + 100 x buffer, or silence.
struct InputSource {
    bool silent = false;
    int pulls = 0;

    static OSStatus Render(void* inRefCon, AudioUnitRenderActionFlags* ioActionFlags,
                           const AudioTimeStamp*, UInt32, UInt32, AudioBufferList* ioData) {
        auto* self = static_cast<InputSource*>(inRefCon);
        ++self->pulls;
        for (UInt32 b = 0; b < ioData->mNumberBuffers; ++b) {
            auto* samples = static_cast<float*>(ioData->mBuffers[b].mData);
            for (UInt32 i = 0; i < ioData->mBuffers[b].mDataByteSize / sizeof(float); ++i) {
                samples[i] = self->silent ? 0.0f : Value(b, i);
            }
        }
        if (self->silent) {
            *ioActionFlags |= kAudioUnitRenderAction_OutputIsSilence;
        }
        return 0;
    }
    static float Value(UInt32 buffer, UInt32 index) {
        return 1.0f + float(index) + 100.0f * float(buffer);
    }
};

CAStreamBasicDescription Canonical(UInt32 channels, bool interleaved = false) {
    CAStreamBasicDescription f;
    f.SetAUCanonical(channels, interleaved);
    return f;
}

OSStatus InitializeWith(TestEffect& unit, UInt32 inChannels, UInt32 outChannels) {
    unit.DoCleanup();
    unit.SetFormats(Canonical(inChannels), Canonical(outChannels));
    return unit.DoInitialize();
}

TEST(EffectChannels, TableEntriesWildcardsAndNoTable) {
    const struct {
        SInt16 in, out;
        UInt32 inChannels, outChannels;
        bool accepted;
    } cases[] = {
        {-1, -1, 3, 3, true},  {-1, -1, 2, 3, false}, {-1, -2, 2, 3, true}, {-2, -1, 5, 1, true},
        {-2, -2, 2, 2, false}, {-2, -2, 3, 3, false}, {1, -1, 1, 8, true},  {1, -1, 2, 8, false},
        {-1, 2, 7, 2, true},   {2, 2, 2, 2, true},    {2, 2, 1, 1, false},  {-3, -1, 2, 2, false},
    };
    UnitHolder<TestEffect> unit;
    for (const auto& c : cases) {
        unit->channelTable = {{c.in, c.out}};
        EXPECT_EQ(InitializeWith(*unit, c.inChannels, c.outChannels) == 0, c.accepted)
            << "(" << c.in << ", " << c.out << ") with " << c.inChannels << "/" << c.outChannels;
    }
    // The first matching entry of several decides.
    unit->channelTable = {{1, 1}, {2, 2}, {-2, -2}};
    EXPECT_EQ(InitializeWith(*unit, 2, 2), 0);
    EXPECT_EQ(InitializeWith(*unit, 1, 2), kAudioUnitErr_FormatNotSupported);
    // Without a table inputs must match outputs, and be some.
    unit->channelTable.clear();
    EXPECT_EQ(InitializeWith(*unit, 1, 2), kAudioUnitErr_FormatNotSupported);
    EXPECT_FALSE(unit->IsInitialized());
    EXPECT_EQ(InitializeWith(*unit, 0, 0), kAudioUnitErr_FormatNotSupported);
    EXPECT_EQ(InitializeWith(*unit, 1, 1), 0);
}

TEST(EffectKernels, OnePerOutputChannelRebuiltAfterCleanup) {
    UnitHolder<TestEffect> unit;
    unit->channelTable = {{1, -1}};
    ASSERT_EQ(InitializeWith(*unit, 1, 8), 0);
    ASSERT_EQ(unit->GetKernelList().size(), 8u);
    for (UInt32 i = 0; i < 8; ++i) {
        EXPECT_EQ(unit->GetKernelList()[i]->GetChannel(), i);
        EXPECT_EQ(unit->GetKernelList()[i]->GetAudioUnit(), unit.unit);
    }
    unit->DoCleanup(); // deletes them
    EXPECT_EQ(std::tie(unit->log.created, unit->log.destroyed), std::make_tuple(8, 8));
    EXPECT_TRUE(unit->GetKernelList().empty());

    ASSERT_EQ(InitializeWith(*unit, 1, 3), 0);
    EXPECT_EQ(unit->Reset(kAudioUnitScope_Global, 0), 0);
    EXPECT_EQ(unit->log.resets, 3); // every kernel
    // Fewer channels: surplus kernels go from the end, the rest stay.
    AUEffectKernel* first = unit->GetKernelList()[0];
    unit->GetOutput(0)->SetStreamFormat(Canonical(2));
    unit->MaintainKernels();
    EXPECT_EQ(unit->GetKernelList().size(), 2u);
    EXPECT_EQ(unit->GetKernelList()[0], first);
    EXPECT_EQ(unit->log.destroyed, 9);

    // A unit without kernels keeps empty slots.
    UnitHolder<TestEffect> plain(false, false);
    ASSERT_EQ(InitializeWith(*plain, 2, 2), 0);
    EXPECT_EQ(plain->GetKernelList(), (std::vector<AUEffectKernel*>{nullptr, nullptr}));
}

TEST(EffectProperties, BypassInPlaceWritableFormatsAndSampleRateChanges) {
    UnitHolder<TestEffect> unit;
    constexpr AudioUnitPropertyID kBypass = kAudioUnitProperty_BypassEffect;
    constexpr AudioUnitPropertyID kInPlace = kAudioUnitProperty_InPlaceProcessing;
    const auto set = [&](AudioUnitPropertyID id, UInt32 value, UInt32 size = 4) {
        return unit->SetProperty(id, kAudioUnitScope_Global, 0, &value, size);
    };
    const auto get = [&](AudioUnitPropertyID id) {
        UInt32 value = 7;
        EXPECT_EQ(unit->GetProperty(id, kAudioUnitScope_Global, 0, &value), 0);
        return value;
    };
    UInt32 size = 0;
    Boolean writable = false;
    for (AudioUnitPropertyID id : {kBypass, kInPlace}) { // other scopes are not the effect's
        EXPECT_EQ(unit->GetPropertyInfo(id, kAudioUnitScope_Global, 0, size, writable), 0);
        EXPECT_TRUE(size == 4 && writable);
        EXPECT_EQ(unit->GetPropertyInfo(id, kAudioUnitScope_Input, 0, size, writable),
                  kAudioUnitErr_InvalidProperty);
    }
    EXPECT_EQ(get(kBypass), 0u);
    EXPECT_TRUE(unit->StreamFormatWritable(kAudioUnitScope_Output, 0));
    ASSERT_EQ(InitializeWith(*unit, 2, 2), 0);
    EXPECT_FALSE(unit->StreamFormatWritable(kAudioUnitScope_Output, 0));

    // Turning bypass on does not reset, nor does setting the same value;
    // turning it off while initialized resets first.
    EXPECT_EQ(set(kBypass, 1), 0);
    EXPECT_EQ(set(kBypass, 1), 0);
    EXPECT_EQ(std::make_pair(unit->log.resets, get(kBypass)), std::make_pair(0, 1u));
    EXPECT_EQ(set(kBypass, 0), 0);
    EXPECT_EQ(unit->log.resets, 2);
    // A value shorter than 4 bytes is refused and changes nothing.
    EXPECT_EQ(set(kBypass, 1, 2), kAudioUnitErr_InvalidPropertyValue);
    EXPECT_FALSE(unit->ShouldBypassEffect());
    // Uninitialized, turning bypass off does not reset.
    unit->DoCleanup();
    unit->SetBypassEffect(true);
    const int unitResets = unit->unitResets;
    EXPECT_EQ(set(kBypass, 0), 0);
    EXPECT_EQ(unit->unitResets, unitResets);
    EXPECT_EQ(set(kInPlace, 1), 0);
    EXPECT_EQ(get(kInPlace), 1u);
    EXPECT_EQ(set(kInPlace, 0), 0);
    EXPECT_FALSE(unit->ProcessesInPlace());

    // The parameter list is announced at a new sample rate only when the
    // parameters depend on it.
    int changes = 0;
    unit->AddPropertyListener(
        kAudioUnitProperty_ParameterList,
        [](void* ref, AudioUnit, AudioUnitPropertyID, AudioUnitScope scope, AudioUnitElement) {
            *static_cast<int*>(ref) += scope == kAudioUnitScope_Global;
        },
        &changes);
    CAStreamBasicDescription at44 = Canonical(2), at48 = at44, at96 = at44;
    at48.mSampleRate = 48000;
    at96.mSampleRate = 96000;
    EXPECT_EQ(unit->ChangeStreamFormat(kAudioUnitScope_Output, 0, at44, at48), 0);
    EXPECT_EQ(changes, 0);
    unit->SetParamHasSampleRateDependency(true);
    EXPECT_EQ(unit->ChangeStreamFormat(kAudioUnitScope_Output, 0, at48, at96), 0);
    EXPECT_EQ(unit->ChangeStreamFormat(kAudioUnitScope_Output, 0, at96, at96), 0);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(std::make_pair(unit->GetSampleRate(), unit->GetNumberOfChannels()),
              std::make_pair(96000.0, 2u));
    // Without output element 0 there is no sample rate to tell.
    unit->SetNumberOfElements(kAudioUnitScope_Output, 0);
    EXPECT_THROW(unit->GetSampleRate(), OSStatus);
    EXPECT_THROW(unit->GetNumberOfChannels(), OSStatus);
}

class EffectRenderTest : public ::testing::Test {
protected:
    TestEffect& Start(bool inPlace, bool connected = true) {
        unit = std::make_unique<UnitHolder<TestEffect>>(inPlace);
        if (connected) {
            (*unit)->SetInputCallback(kAudioUnitProperty_SetRenderCallback, 0, InputSource::Render,
                                      &source);
        }
        EXPECT_EQ((*unit)->DoInitialize(), 0);
        return **unit;
    }
    // Renders the next cycle; returns whether it left the silence flag.
    bool Render(TestBuffers& out, UInt32 frames, OSStatus expected = 0) {
        AudioUnitRenderActionFlags flags = 0;
        EXPECT_EQ((*unit)->DoRender(flags, SampleTime(mTime), 0, frames, out.list()), expected);
        mTime += frames;
        return (flags & kAudioUnitRenderAction_OutputIsSilence) != 0;
    }
    // Whether every sample of the first frames is gain x the input.
    static bool Scaled(TestBuffers& out, UInt32 frames, float gain, UInt32 from = 0) {
        for (UInt32 ch = 0; ch < 2; ++ch) {
            for (UInt32 i = from; i < frames; ++i) {
                if (out.samples(ch)[i] != gain * InputSource::Value(ch, i)) {
                    return false;
                }
            }
        }
        return true;
    }

    std::unique_ptr<UnitHolder<TestEffect>> unit;
    InputSource source;
    Float64 mTime = 0;
};

TEST_F(EffectRenderTest, KernelsProcessEachChannelFromTheInputOrInPlace) {
    Start(false).SetParameter(0, 0.5f);
    TestBuffers out(2, 64);
    Render(out, 64);
    EXPECT_EQ(source.pulls, 1);
    EXPECT_TRUE(Scaled(out, 64, 0.5f));
    EXPECT_EQ((*unit)->log.calls,
              (Calls{{0, false, 64, 1, 'f', false}, {1, false, 64, 1, 'f', false}}));

    Start(true).SetParameter(0, 2.0f);
    Render(out, 32);
    EXPECT_EQ((*unit)->log.calls,
              (Calls{{0, false, 32, 1, 'f', true}, {1, false, 32, 1, 'f', true}}));
    EXPECT_TRUE(Scaled(out, 32, 2.0f));

    // When the host gives the output memory and the output does not
    // allocate, the kernels write into the host's memory instead.
    TestEffect& hosted = Start(true);
    hosted.DoCleanup();
    hosted.GetOutput(0)->SetWillAllocateBuffer(false);
    ASSERT_EQ(hosted.DoInitialize(), 0);
    Render(out, 32);
    EXPECT_EQ(hosted.log.calls,
              (Calls{{0, false, 32, 1, 'f', false}, {1, false, 32, 1, 'f', false}}));
    EXPECT_TRUE(Scaled(out, 32, 1.0f));

    // Bypassed, the input is copied whether in place or not.
    for (bool place : {false, true}) {
        TestEffect& bypassed = Start(place);
        bypassed.SetParameter(0, 3.0f);
        bypassed.SetBypassEffect(true);
        TestBuffers out(2, 40);
        Render(out, 40);
        EXPECT_TRUE(bypassed.log.calls.empty());
        EXPECT_TRUE(Scaled(out, 40, 1.0f)) << place;
    }
    // Without an input source there is no connection, nor without an input
    // element (Render itself, as the uninitialized unit has looked none up).
    Start(false, false);
    Render(out, 16, kAudioUnitErr_NoConnection);
    EXPECT_EQ((*unit)->GetLastRenderError(), kAudioUnitErr_NoConnection);
    (*unit)->DoCleanup();
    (*unit)->SetNumberOfElements(kAudioUnitScope_Input, 0);
    AudioUnitRenderActionFlags flags = 0;
    EXPECT_EQ((*unit)->Render(flags, SampleTime(0), 16), kAudioUnitErr_NoConnection);
}

TEST_F(EffectRenderTest, ScheduledParametersProcessInSlices) {
    TestEffect& effect = Start(false);
    const AudioUnitParameterEvent events[] = {Immediate(0, 0, 2.0f), Immediate(0, 100, 3.0f)};
    ASSERT_EQ(effect.ScheduleParameter(events, 2), 0);
    TestBuffers out(2, 256);
    Render(out, 256);
    // Two slices per channel.
    EXPECT_EQ(effect.log.calls, (Calls{{0, false, 100, 1, 'f', false},
                                       {1, false, 100, 1, 'f', false},
                                       {0, false, 156, 1, 'f', false},
                                       {1, false, 156, 1, 'f', false}}));
    EXPECT_TRUE(Scaled(out, 100, 2.0f));
    EXPECT_TRUE(Scaled(out, 256, 3.0f, 100));
    // The element's buffers are back at the start of the block.
    const AudioBufferList& inList = effect.GetInput(0)->GetBufferList();
    EXPECT_EQ(inList.mBuffers[0].mData, effect.GetInput(0)->IOBuffer().GetMemory());
    EXPECT_EQ(inList.mBuffers[0].mDataByteSize, 256u * sizeof(float));
    // The next cycle is whole again, at the last value.
    effect.log.calls.clear();
    Render(out, 256);
    EXPECT_EQ(effect.log.calls.size(), 2u);
    EXPECT_TRUE(Scaled(out, 256, 3.0f));
}

TEST_F(EffectRenderTest, SilenceTheTailCountAndLatency) {
    TestEffect& effect = Start(false);
    effect.tail = 0.5; // 22050 frames at 44100 Hz
    source.silent = true;
    TestBuffers out(2, 512);
    for (int block = 1; block <= 60; ++block) {
        effect.log.calls.clear();
        const bool silent = Render(out, 512);
        EXPECT_EQ(silent, block > 44) << block; // 44 blocks of 512 hold the tail
        ASSERT_EQ(effect.log.calls.size(), 2u);
        EXPECT_EQ(std::get<1>(effect.log.calls[0]), silent) << block;
    }
    // Sound restarts the count for the next silence.
    source.silent = false;
    EXPECT_FALSE(Render(out, 512));
    source.silent = true;
    effect.log.calls.clear();
    Render(out, 512);
    EXPECT_FALSE(std::get<1>(effect.log.calls[0]));
    EXPECT_EQ(effect.GetTailSamplesLeft(), 22050 - 512);

    // No tail means silence at once; latency counts toward the tail.
    TestEffect& other = Start(false);
    EXPECT_TRUE(Render(out, 512));
    source.silent = false;
    Render(out, 512);
    other.latency = 0.01; // 441 frames: one block
    source.silent = true;
    EXPECT_FALSE(Render(out, 512));
    EXPECT_TRUE(Render(out, 512));
}

// Processes caller buffers directly, without the render path.
OSStatus Process(TestEffect& unit, std::vector<AudioBuffer> in, std::vector<AudioBuffer> out,
                 UInt32 frames) {
    TestBuffers inList(UInt32(in.size()), 0), outList(UInt32(out.size()), 0);
    std::copy(in.begin(), in.end(), inList.list().mBuffers);
    std::copy(out.begin(), out.end(), outList.list().mBuffers);
    AudioUnitRenderActionFlags flags = 0;
    return unit.ProcessBufferLists(flags, inList.list(), outList.list(), frames);
}

TEST(EffectFormats, SampleTypesClassifiedAndProcessed) {
    UnitHolder<TestEffect> unit;
    // Reinitializes with the format; answers its sample type and frame size.
    const auto use = [&](const CAStreamBasicDescription& format) {
        unit->DoCleanup();
        unit->SetFormats(format, format);
        unit->log.calls.clear();
        EXPECT_EQ(unit->DoInitialize(), 0);
        return std::make_pair(unit->GetCommonPCMFormat(), unit->GetBytesPerFrame());
    };
    CAStreamBasicDescription bigEndian = Canonical(2), loose = Canonical(2);
    bigEndian.mFormatFlags |= kAudioFormatFlagIsBigEndian;
    loose.mBitsPerChannel = 24; // 24 bits in a 4-byte word
    // Interleaved bytes that do not divide among the channels.
    const CAStreamBasicDescription odd(44100, kAudioFormatLinearPCM, 7, 1, 7, 2, 16,
                                       kAudioFormatFlagIsSignedInteger);
    const CAStreamBasicDescription i16(44100, kAudioFormatLinearPCM, 4, 1, 4, 2, 16,
                                       kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked);
    const CAStreamBasicDescription f824(44100, kAudioFormatLinearPCM, 4, 1, 4, 2, 32,
                                        kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked |
                                            kAudioFormatFlagIsNonInterleaved |
                                            (24u << kLinearPCMFormatFlagsSampleFractionShift));
    const struct {
        CAStreamBasicDescription format;
        AUEffectBase::ECommonPCMFormat expected;
        UInt32 bytesPerFrame;
    } rows[] = {{Canonical(2), AUEffectBase::kPCMFormatFloat32, 4},
                {Canonical(2, true), AUEffectBase::kPCMFormatFloat32, 8},
                {bigEndian, AUEffectBase::kPCMFormatOther, 4},
                {loose, AUEffectBase::kPCMFormatOther, 4},
                {i16, AUEffectBase::kPCMFormatInt16, 4},
                {f824, AUEffectBase::kPCMFormatFixed824, 4},
                {odd, AUEffectBase::kPCMFormatOther, 7}};
    for (const auto& row : rows) {
        EXPECT_EQ(use(row.format), std::make_pair(row.expected, row.bytesPerFrame));
    }
    // Processing the last, another type, is unimplemented.
    TestBuffers in(2, 16), out(2, 16);
    AudioUnitRenderActionFlags flags = 0;
    try {
        unit->ProcessBufferLists(flags, in.list(), out.list(), 16);
        ADD_FAILURE() << "no error raised";
    } catch (const CAXException& e) {
        EXPECT_EQ(e.GetOSStatus(), -4);
    }

    // 16-bit interleaved: each kernel steps over the other channel.
    use(i16);
    unit->SetParameter(0, 2.0f);
    std::vector<SInt16> samples(16), processed(16), doubled(16);
    for (int i = 0; i < 16; ++i) {
        samples[i] = SInt16(i * 10 + 1);
        doubled[i] = SInt16(2 * samples[i]);
    }
    ASSERT_EQ(Process(*unit, {{2, 32, samples.data()}}, {{2, 32, processed.data()}}, 8), 0);
    EXPECT_EQ(unit->log.calls, (Calls{{0, false, 8, 2, 's', false}, {1, false, 8, 2, 's', false}}));
    EXPECT_EQ(processed, doubled);
    use(f824);
    unit->SetParameter(0, 1.0f);
    SInt32 a[4] = {1 << 24, 2 << 24, 3, 4}, b[4] = {5, 6, 7, 8}, oa[4] = {}, ob[4] = {};
    ASSERT_EQ(Process(*unit, {{1, 16, a}, {1, 16, b}}, {{1, 16, oa}, {1, 16, ob}}, 4), 0);
    EXPECT_EQ(unit->log.calls, (Calls{{0, false, 4, 1, 'i', false}, {1, false, 4, 1, 'i', false}}));
    EXPECT_EQ(std::make_pair(oa[0], ob[3]), std::make_pair(1 << 24, 8));

    // An interleaved stereo input against two one-channel output buffers
    // cannot be stepped the same way: nothing is written. A mono input
    // against them feeds the first.
    use(Canonical(2));
    float stereo[2 * 4] = {1, 2, 3, 4, 5, 6, 7, 8}, mono[4] = {1, 2, 3, 4}, o0[4] = {}, o1[4] = {};
    ASSERT_EQ(Process(*unit, {{2, 32, stereo}}, {{1, 16, o0}, {1, 16, o1}}, 4), 0);
    EXPECT_TRUE(unit->log.calls.empty());
    ASSERT_EQ(Process(*unit, {{1, 16, mono}}, {{1, 16, o0}, {1, 16, o1}}, 4), 0);
    EXPECT_EQ(std::make_tuple(unit->log.calls.size(), o0[3], o1[3]),
              std::make_tuple(1u, 4.0f, 0.0f));
}

OSStatus CountNotify(void* inRefCon, AudioUnitRenderActionFlags* ioActionFlags,
                     const AudioTimeStamp*, UInt32, UInt32, AudioBufferList*) {
    ++static_cast<long*>(inRefCon)[(*ioActionFlags & kAudioUnitRenderAction_PreRender) ? 0 : 1];
    return 0;
}

// Once warm, a thousand cycles with kernels, a notification leaving and
// coming back (its list nodes recycled), and scheduled parameters every
// cycle allocate, free and lock nothing.
TEST_F(EffectRenderTest, WarmRenderCyclesAllocateNothingAndTakeNoLock) {
    if (!rtcheck::countsAllocations()) {
        GTEST_SKIP() << "this build cannot count allocations";
    }
    TestEffect& effect = Start(false);
    long steady[2] = {}, cycling[2] = {}; // pre- and post-render calls
    ASSERT_EQ(effect.SetRenderNotification(CountNotify, steady), 0);
    TestBuffers out(2, 512);
    auto cycle = [&](int n) {
        const AudioUnitParameterEvent events[] = {
            Immediate(0, UInt32(n % 300), 0.5f + float(n % 3)),
            Ramp(1, SInt32(n % 200) - 50, 128, 0.0f, 1.0f)};
        EXPECT_EQ(effect.ScheduleParameter(events, 2), 0);
        effect.RemoveRenderNotification(CountNotify, cycling);
        effect.SetRenderNotification(CountNotify, cycling);
        Render(out, 512);
    };
    for (int n = 0; n < 16; ++n) {
        cycle(n);
    }
    const long callsBefore = effect.log.processCalls;
    rtcheck::Scope scope;
    for (int n = 0; n < 1000; ++n) {
        cycle(n);
    }
    const rtcheck::Counts counts = scope.counts();
    EXPECT_EQ(std::make_pair(counts.allocations, counts.frees), std::make_pair(0L, 0L));
    if (rtcheck::countsLocks()) {
        EXPECT_EQ(counts.locks, 0);
    }
    // The work was done: kernels ran in slices, notifications around every cycle.
    EXPECT_GT(effect.log.processCalls - callsBefore, 2 * 1000);
    EXPECT_EQ(steady[0] + steady[1] + cycling[0], 3 * 1016);
    EXPECT_EQ(source.pulls, 1016);
}

} // namespace
