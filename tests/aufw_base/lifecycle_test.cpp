// AUBase life cycle, elements, parameters and listeners, called directly on a
// small unit.
#include "base_test_unit.h"

using namespace aufw_base_test;
using AUBaseLifeCycle = BaseUnitTest;
using Ids = std::vector<AudioUnitParameterID>;

TEST_F(AUBaseLifeCycle, InitializeCleanupMaximumFramesAndWhatInitializationLocks) {
    const AudioUnitPropertyID kMaxFrames = kAudioUnitProperty_MaximumFramesPerSlice;
    listen(kMaxFrames);
    const UInt32 frames = 4096, smaller = 256, larger = 8192, no = 0, three = 3;
    EXPECT_EQ(
        (Statuses{set(kMaxFrames, kGlob, 0, &frames, 8), set(kMaxFrames, kGlob, 0, &frames, 4)}),
        (Statuses{kBadValue, 0}));
    EXPECT_EQ(std::make_tuple(unit->GetMaxFramesPerSlice(), log.Take(), log.unit),
              std::make_tuple(4096u, "1:14/0/0", unit.instance));

    // A failed initialization changes nothing; a second one is answered at
    // once without calling Initialize.
    const auto state = [&] {
        return std::make_tuple(unit->IsInitialized(), unit->HasBegunInitializing(),
                               unit->BuffersAllocated());
    };
    unit->initializeResult = kAudioUnitErr_FailedInitialization;
    EXPECT_EQ(unit->DoInitialize(), kAudioUnitErr_FailedInitialization);
    EXPECT_EQ(state(), std::make_tuple(false, false, false));
    unit->initializeResult = 0;
    EXPECT_EQ((Statuses{unit->DoInitialize(), unit->DoInitialize()}), (Statuses{0, 0}));
    EXPECT_EQ(std::make_tuple(state(), unit->initializeCalls),
              std::make_tuple(std::make_tuple(true, true, true), 2));
    EXPECT_GE(unit->GetOutput(0)->IOBuffer().GetAllocatedFrames(), 4096u);

    // Refused while initialized.
    unit->busCountWritable = true;
    EXPECT_EQ((Statuses{set(kMaxFrames, kGlob, 0, &smaller, 4),
                        set(kAudioUnitProperty_ElementCount, kIn, 0, &three, 4),
                        set(kAudioUnitProperty_ShouldAllocateBuffer, kOut, 0, &no, 4)}),
              Statuses(3, kAudioUnitErr_Initialized));
    EXPECT_EQ(std::make_tuple(unit->GetMaxFramesPerSlice(), unit->Inputs().GetNumberOfElements(),
                              unit->GetOutput(0)->WillAllocateBuffer()),
              std::make_tuple(4096u, 1u, true));

    AudioTimeStamp t{};
    t.mSampleTime = 512;
    unit->SetCurrentRenderTime(t);
    unit->DoCleanup();
    EXPECT_EQ(std::make_tuple(unit->cleanupCalls, unit->CurrentRenderTime().mSampleTime, state()),
              std::make_tuple(1, -1.0, std::make_tuple(false, false, true)));
    // Cleaning up an uninitialized unit does not call Cleanup. The buffers
    // are still allocated, so a change reallocates.
    unit->DoCleanup();
    EXPECT_EQ(set(kMaxFrames, kGlob, 0, &larger, 4), 0);
    EXPECT_EQ(std::make_tuple(unit->cleanupCalls, log.Take()), std::make_tuple(1, "1:14/0/0"));
    // Closing cleans up an initialized unit.
    ASSERT_EQ(unit->DoInitialize(), 0);
    unit->PreDestructor();
    EXPECT_EQ(std::make_tuple(unit->cleanupCalls, unit->IsInitialized()),
              std::make_tuple(2, false));
}

TEST_F(AUBaseLifeCycle, DefaultsElementCountsAndScopeAndElementErrors) {
    EXPECT_EQ(value<UInt32>(kAudioUnitProperty_MaximumFramesPerSlice), 1156u);
    // One plain global element, the asked input and output counts, no groups.
    std::vector<UInt32> counts;
    for (AudioUnitScope scope : {kGlob, kIn, kOut, AudioUnitScope{kAudioUnitScope_Group}}) {
        counts.push_back(value<UInt32>(kAudioUnitProperty_ElementCount, scope));
    }
    EXPECT_EQ(counts, (std::vector<UInt32>{1, 1, 1, 0}));
    const AudioUnitPropertyID kCount = kAudioUnitProperty_ElementCount;
    listen(kCount);
    const UInt32 three = 3;
    EXPECT_EQ(about(kCount, kIn), std::make_tuple(0, 4u, false));
    EXPECT_EQ(set(kCount, kIn, 0, &three, 4), kAudioUnitErr_PropertyNotWritable);
    unit->busCountWritable = true;
    EXPECT_EQ((Statuses{set(kCount, kIn, 0, &three, 2), set(kCount, kIn, 0, &three, 4)}),
              (Statuses{kBadValue, 0}));
    EXPECT_EQ(std::make_tuple(unit->Inputs().GetNumberOfElements(), log.Take()),
              std::make_tuple(3u, "1:11/1/0"));
    // The global scope always holds exactly one element.
    EXPECT_EQ(Call([&] { return unit->SetBusCount(kGlob, 2); }), kBadScope);
    EXPECT_EQ(unit->SetBusCount(kGlob, 1), 0);

    // Validated properties report their size before the element check;
    // unvalidated ones answer for any element.
    const auto check = [&](AudioUnitPropertyID id, AudioUnitScope s, AudioUnitElement e,
                           OSStatus want, UInt32 wantSize) {
        size = 0;
        const OSStatus status = info(id, s, e);
        EXPECT_EQ(std::make_tuple(status, size), std::make_tuple(want, wantSize)) << id;
    };
    check(kAudioUnitProperty_ElementName, kOut, 1, kBadElement, 8);
    check(kAudioUnitProperty_ElementName, 5, 0, kBadScope, 8);
    check(kAudioUnitProperty_ClassInfo, kIn, 0, kBadScope, 0);
    check(kAudioUnitProperty_ShouldAllocateBuffer, kGlob, 0, kBadScope, 0);
    check(kAudioUnitProperty_MakeConnection, kOut, 0, kBadScope, 0);
    check(0x7FFF, kGlob, 0, kBadProperty, 0);
    check(kAudioUnitProperty_StreamFormat, kOut, 4, kBadElement, 40);
    check(kAudioUnitProperty_ParameterInfo, kGlob, 99, 0, 104);
    EXPECT_EQ(remove(0x7FFF, kGlob), kBadValue);
}

TEST_F(AUBaseLifeCycle, ParametersAndListeners) {
    unit->SetParameter(5, kGlob, 0, 0.5f, 0);
    unit->SetParameter(1, kGlob, 0, 2.0f, 0);
    AudioUnitParameterValue v = 0;
    unit->GetParameter(5, kGlob, 0, v);
    EXPECT_EQ(v, 0.5f);
    EXPECT_EQ(about(kAudioUnitProperty_ParameterList, kGlob), std::make_tuple(0, 8u, false));
    Ids ids(2);
    EXPECT_EQ(get(kAudioUnitProperty_ParameterList, kGlob, 0, ids.data()), 0);
    EXPECT_EQ(ids, (Ids{1, 5}));

    // The widest element of a scope gives the list.
    unit->busCountWritable = true;
    ASSERT_EQ(unit->SetBusCount(kIn, 2), 0);
    unit->GetInput(0)->SetParameter(9, 1.0f);
    unit->GetInput(1)->SetParameter(3, 1.0f);
    unit->GetInput(1)->SetParameter(4, 1.0f);
    UInt32 count = 0;
    EXPECT_EQ(unit->GetParameterList(kIn, ids.data(), count), 0);
    EXPECT_EQ(std::make_tuple(count, ids), std::make_tuple(2u, Ids{3, 4}));
    // An empty scope gives 0 and writes nothing.
    EXPECT_EQ(unit->GetParameterList(kAudioUnitScope_Group, ids.data(), count), 0);
    EXPECT_EQ(std::make_tuple(count, ids), std::make_tuple(0u, Ids{3, 4}));
    // A running unit ignores parameters a host made up.
    ASSERT_EQ(unit->DoInitialize(), 0);
    unit->SetParameter(99, kGlob, 0, 1.0f, 0);
    EXPECT_FALSE(unit->Globals0()->HasParameterID(99));

    // Listeners are called in the order added, and removed by procedure and reference.
    ListenerLog other;
    const AudioUnitPropertyID id = kAudioUnitProperty_ContextName;
    unit->AddPropertyListener(id, ListenerLog::Proc<1>, &log);
    unit->AddPropertyListener(id, ListenerLog::Proc<2>, &log);
    unit->AddPropertyListener(id, ListenerLog::Proc<1>, &other);
    unit->AddPropertyListener(kAudioUnitProperty_ElementName, ListenerLog::Proc<1>, &log);
    unit->PropertyChanged(id, kGlob, 0);
    EXPECT_EQ(std::make_tuple(log.Take(), other.Take()),
              std::make_tuple("1:25/0/0 2:25/0/0", "1:25/0/0"));

    // With the reference mattering, only that entry goes.
    unit->RemovePropertyListener(id, ListenerLog::Proc<1>, &other, true);
    unit->PropertyChanged(id, kGlob, 0);
    EXPECT_EQ(std::make_tuple(log.Take(), other.Take()), std::make_tuple("1:25/0/0 2:25/0/0", ""));
    // Without it, every entry with that procedure goes; others stay.
    unit->AddPropertyListener(id, ListenerLog::Proc<1>, &other);
    unit->RemovePropertyListener(id, ListenerLog::Proc<1>, nullptr, false);
    unit->PropertyChanged(id, kGlob, 0);
    unit->PropertyChanged(kAudioUnitProperty_ElementName, kIn, 0);
    EXPECT_EQ(std::make_tuple(log.Take(), other.Take()), std::make_tuple("2:25/0/0 1:30/1/0", ""));
}
