// Initialization of an effect: channel configurations, kernels per channel,
// the sample-type classification, formats, and the bypass and in-place
// properties.
#include "TestEffect.h"

#include <aufw/CAException.h>

#include <gtest/gtest.h>

namespace {

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
    struct Case {
        SInt16 in, out;
        UInt32 inChannels, outChannels;
        bool accepted;
    };
    const Case cases[] = {
        {-1, -1, 3, 3, true},  {-1, -1, 2, 3, false}, {-1, -2, 2, 3, true}, {-2, -1, 5, 1, true},
        {-2, -2, 2, 2, false}, {-2, -2, 3, 3, false}, {1, -1, 1, 8, true},  {1, -1, 2, 8, false},
        {-1, 2, 7, 2, true},   {2, 2, 2, 2, true},    {2, 2, 1, 1, false},  {-3, -1, 2, 2, false},
    };
    for (const Case& c : cases) {
        UnitHolder<TestEffect> unit;
        unit->channelTable = {{c.in, c.out}};
        EXPECT_EQ(InitializeWith(*unit, c.inChannels, c.outChannels) == 0, c.accepted)
            << "(" << c.in << ", " << c.out << ") with " << c.inChannels << "/" << c.outChannels;
    }
    // The first matching entry of several decides.
    UnitHolder<TestEffect> unit;
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
    EXPECT_EQ(unit->log.created, 8);
    unit->DoCleanup(); // deletes them
    EXPECT_EQ(unit->log.destroyed, 8);
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

TEST(EffectFormats, SampleTypeClassification) {
    UnitHolder<TestEffect> unit;
    // (16-bit and 8.24 formats: see EffectSampleTypes, which processes them.)
    CAStreamBasicDescription bigEndian = Canonical(2), loose = Canonical(2);
    bigEndian.mFormatFlags |= kAudioFormatFlagIsBigEndian;
    loose.mBitsPerChannel = 24; // 24 bits in a 4-byte word
    // Interleaved bytes that do not divide among the channels.
    const CAStreamBasicDescription odd(44100, kAudioFormatLinearPCM, 7, 1, 7, 2, 16,
                                       kAudioFormatFlagIsSignedInteger);
    const struct {
        CAStreamBasicDescription format;
        AUEffectBase::ECommonPCMFormat expected;
        UInt32 bytesPerFrame;
    } rows[] = {{Canonical(2), AUEffectBase::kPCMFormatFloat32, 4},
                {Canonical(2, true), AUEffectBase::kPCMFormatFloat32, 8},
                {bigEndian, AUEffectBase::kPCMFormatOther, 4},
                {loose, AUEffectBase::kPCMFormatOther, 4},
                {odd, AUEffectBase::kPCMFormatOther, 7}};
    for (const auto& row : rows) {
        unit->DoCleanup();
        unit->SetFormats(row.format, row.format);
        EXPECT_EQ(unit->DoInitialize(), 0);
        EXPECT_EQ(unit->GetCommonPCMFormat(), row.expected) << row.bytesPerFrame;
        EXPECT_EQ(unit->GetBytesPerFrame(), row.bytesPerFrame);
    }
    // Processing such a format is unimplemented.
    TestBuffers in(2, 16), out(2, 16);
    AudioUnitRenderActionFlags flags = 0;
    try {
        unit->ProcessBufferLists(flags, in.list(), out.list(), 16);
        ADD_FAILURE() << "no error raised";
    } catch (const CAXException& e) {
        EXPECT_EQ(e.GetOSStatus(), -4);
    }
}

TEST(EffectProperties, BypassAndInPlace) {
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
    ASSERT_EQ(InitializeWith(*unit, 2, 2), 0);

    // Turning bypass on does not reset, nor does setting the same value;
    // turning it off while initialized resets first.
    EXPECT_EQ(set(kBypass, 1), 0);
    EXPECT_EQ(set(kBypass, 1), 0);
    EXPECT_EQ(unit->log.resets, 0);
    EXPECT_EQ(get(kBypass), 1u);
    EXPECT_EQ(set(kBypass, 0), 0);
    EXPECT_EQ(unit->log.resets, 2);
    EXPECT_FALSE(unit->ShouldBypassEffect());
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
}

TEST(EffectFormats, WritableOnlyUninitializedAndSampleRateChangesAnnounced) {
    UnitHolder<TestEffect> unit;
    EXPECT_TRUE(unit->StreamFormatWritable(kAudioUnitScope_Output, 0));
    ASSERT_EQ(unit->DoInitialize(), 0);
    EXPECT_FALSE(unit->StreamFormatWritable(kAudioUnitScope_Output, 0));
    EXPECT_EQ(unit->GetNumberOfChannels(), 2u);
    unit->DoCleanup();

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
    EXPECT_EQ(changes, 0); // only when the parameters depend on the rate
    unit->SetParamHasSampleRateDependency(true);
    EXPECT_EQ(unit->ChangeStreamFormat(kAudioUnitScope_Output, 0, at48, at96), 0);
    EXPECT_EQ(unit->ChangeStreamFormat(kAudioUnitScope_Output, 0, at96, at96), 0);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(unit->GetSampleRate(), 96000.0);

    // Without output element 0 there is no sample rate to tell.
    unit->SetNumberOfElements(kAudioUnitScope_Output, 0);
    EXPECT_THROW(unit->GetSampleRate(), OSStatus);
    EXPECT_THROW(unit->GetNumberOfChannels(), OSStatus);
}

} // namespace
