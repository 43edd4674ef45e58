// Initialization of an effect: channel configurations, kernels per channel,
// the sample-type classification, and the bypass and in-place properties.
#include "TestEffect.h"

#include <aufw/CAException.h>

#include <gtest/gtest.h>

namespace {

CAStreamBasicDescription Canonical(UInt32 channels) {
    CAStreamBasicDescription f;
    f.SetAUCanonical(channels, false);
    return f;
}

OSStatus InitializeWith(TestEffect& unit, UInt32 inChannels, UInt32 outChannels) {
    unit.DoCleanup();
    unit.SetFormats(Canonical(inChannels), Canonical(outChannels));
    return unit.DoInitialize();
}

TEST(EffectChannels, WithoutATableInputsMustMatchOutputs) {
    UnitHolder<TestEffect> unit;
    EXPECT_EQ(InitializeWith(*unit, 2, 2), 0);
    EXPECT_EQ(InitializeWith(*unit, 1, 2), kAudioUnitErr_FormatNotSupported);
    EXPECT_FALSE(unit->IsInitialized());
    EXPECT_EQ(InitializeWith(*unit, 0, 0), kAudioUnitErr_FormatNotSupported);
    EXPECT_EQ(InitializeWith(*unit, 1, 1), 0);
}

TEST(EffectChannels, TableEntriesAndWildcards) {
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
}

TEST(EffectKernels, OnePerOutputChannelRebuiltAfterCleanup) {
    UnitHolder<TestEffect> unit;
    unit->channelTable = {{1, -1}};
    ASSERT_EQ(InitializeWith(*unit, 1, 8), 0);
    ASSERT_EQ(unit->GetKernelList().size(), 8u);
    for (UInt32 i = 0; i < 8; ++i) {
        ASSERT_NE(unit->GetKernelList()[i], nullptr);
        EXPECT_EQ(unit->GetKernelList()[i]->GetChannel(), i);
        EXPECT_EQ(unit->GetKernelList()[i]->GetAudioUnit(), unit.unit);
    }
    EXPECT_EQ(unit->log.created, 8);
    EXPECT_EQ(unit->GetMainInput(), unit->GetInput(0));
    EXPECT_EQ(unit->GetMainOutput(), unit->GetOutput(0));

    // Cleanup deletes them and forgets the elements.
    unit->DoCleanup();
    EXPECT_EQ(unit->log.destroyed, 8);
    EXPECT_TRUE(unit->GetKernelList().empty());
    EXPECT_EQ(unit->GetMainOutput(), nullptr);

    ASSERT_EQ(InitializeWith(*unit, 1, 3), 0);
    EXPECT_EQ(unit->GetKernelList().size(), 3u);
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
    ASSERT_EQ(plain->GetKernelList().size(), 2u);
    EXPECT_EQ(plain->GetKernelList()[1], nullptr);
}

TEST(EffectFormats, SampleTypeClassification) {
    UnitHolder<TestEffect> unit;
    auto classify = [&](const CAStreamBasicDescription& f) {
        unit->DoCleanup();
        unit->SetFormats(f, f);
        EXPECT_EQ(unit->DoInitialize(), 0);
        return unit->GetCommonPCMFormat();
    };
    EXPECT_EQ(classify(Canonical(2)), AUEffectBase::kPCMFormatFloat32);
    EXPECT_EQ(unit->GetBytesPerFrame(), 4u);

    CAStreamBasicDescription interleaved;
    interleaved.SetAUCanonical(2, true);
    EXPECT_EQ(classify(interleaved), AUEffectBase::kPCMFormatFloat32);
    EXPECT_EQ(unit->GetBytesPerFrame(), 8u);

    // (16-bit and 8.24 formats: see EffectSampleTypes, which processes them.)
    // Big-endian float, and 24 bits in a 4-byte word, are no common type.
    CAStreamBasicDescription bigEndian = Canonical(2);
    bigEndian.mFormatFlags |= kAudioFormatFlagIsBigEndian;
    EXPECT_EQ(classify(bigEndian), AUEffectBase::kPCMFormatOther);
    CAStreamBasicDescription loose = Canonical(2);
    loose.mBitsPerChannel = 24;
    EXPECT_EQ(classify(loose), AUEffectBase::kPCMFormatOther);
    // Interleaved bytes that do not divide among the channels.
    CAStreamBasicDescription odd(44100, kAudioFormatLinearPCM, 7, 1, 7, 2, 16,
                                 kAudioFormatFlagIsSignedInteger);
    EXPECT_EQ(classify(odd), AUEffectBase::kPCMFormatOther);

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
    for (AudioUnitPropertyID id : {kBypass, kInPlace}) {
        EXPECT_EQ(unit->GetPropertyInfo(id, kAudioUnitScope_Global, 0, size, writable), 0);
        EXPECT_EQ(size, 4u);
        EXPECT_TRUE(writable);
        // Other scopes are not the effect's.
        EXPECT_EQ(unit->GetPropertyInfo(id, kAudioUnitScope_Input, 0, size, writable),
                  kAudioUnitErr_InvalidProperty);
    }
    EXPECT_EQ(get(kBypass), 0u);
    ASSERT_EQ(InitializeWith(*unit, 2, 2), 0);

    // Turning bypass on does not reset; setting the same value does not
    // either; turning it off while initialized resets first.
    EXPECT_EQ(set(kBypass, 1), 0);
    EXPECT_TRUE(unit->ShouldBypassEffect());
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
    EXPECT_TRUE(unit->ProcessesInPlace());
    EXPECT_EQ(get(kInPlace), 1u);
    EXPECT_EQ(set(kInPlace, 0), 0);
    EXPECT_FALSE(unit->ProcessesInPlace());
}

TEST(EffectFormats, WritableOnlyUninitializedAndSampleRateChangesAnnounced) {
    UnitHolder<TestEffect> unit;
    EXPECT_TRUE(unit->StreamFormatWritable(kAudioUnitScope_Output, 0));
    ASSERT_EQ(unit->DoInitialize(), 0);
    EXPECT_FALSE(unit->StreamFormatWritable(kAudioUnitScope_Output, 0));
    EXPECT_EQ(unit->GetSampleRate(), 44100.0);
    EXPECT_EQ(unit->GetNumberOfChannels(), 2u);
    unit->DoCleanup();

    int parameterListChanges = 0;
    auto listener = [](void* ref, AudioUnit, AudioUnitPropertyID id, AudioUnitScope scope,
                       AudioUnitElement) {
        if (id == kAudioUnitProperty_ParameterList && scope == kAudioUnitScope_Global) {
            ++*static_cast<int*>(ref);
        }
    };
    unit->AddPropertyListener(kAudioUnitProperty_ParameterList, listener, &parameterListChanges);
    CAStreamBasicDescription f = Canonical(2);
    const CAStreamBasicDescription before = f;
    f.mSampleRate = 48000;
    EXPECT_EQ(unit->ChangeStreamFormat(kAudioUnitScope_Output, 0, before, f), 0);
    EXPECT_EQ(parameterListChanges, 0);
    unit->SetParamHasSampleRateDependency(true);
    const CAStreamBasicDescription at48 = f;
    f.mSampleRate = 96000;
    EXPECT_EQ(unit->ChangeStreamFormat(kAudioUnitScope_Output, 0, at48, f), 0);
    EXPECT_EQ(parameterListChanges, 1);
    EXPECT_EQ(unit->ChangeStreamFormat(kAudioUnitScope_Output, 0, f, f), 0);
    EXPECT_EQ(parameterListChanges, 1);
    EXPECT_EQ(unit->GetSampleRate(), 96000.0);

    // Without output element 0 there is no sample rate to tell.
    unit->SetNumberOfElements(kAudioUnitScope_Output, 0);
    EXPECT_THROW(unit->GetSampleRate(), OSStatus);
    EXPECT_THROW(unit->GetNumberOfChannels(), OSStatus);
}

} // namespace
