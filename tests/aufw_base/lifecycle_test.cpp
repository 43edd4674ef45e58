// AUBase life cycle, elements, parameters and listeners, called directly on a
// small unit.
#include "base_test_unit.h"

#include <vector>

using namespace aufw_base_test;

namespace {

class AUBaseLifeCycle : public BaseUnitTest {
protected:
    template <class T> T Get(AudioUnitPropertyID id, AudioUnitScope scope = kGlob) {
        T value{};
        EXPECT_EQ(get(id, scope, 0, &value), 0) << "property " << id;
        return value;
    }
};

} // namespace

TEST_F(AUBaseLifeCycle, FreshUnitDefaults) {
    EXPECT_EQ(Get<UInt32>(kAudioUnitProperty_MaximumFramesPerSlice), 1156u);
    const AUPreset preset = Get<AUPreset>(kAudioUnitProperty_PresentPreset);
    EXPECT_EQ(preset.presetNumber, -1);
    EXPECT_EQ(ToStdString(preset.presetName), "Untitled");
    CFRelease(preset.presetName); // retained for the caller
    EXPECT_EQ(ToStdString(unit->GetPresentPreset().presetName), "Untitled");
    // One plain global element, the asked input and output counts, no groups.
    for (const auto& [scope, count] : {std::pair{kGlob, 1u}, {kIn, 1u}, {kOut, 1u}, {3u, 0u}}) {
        EXPECT_EQ(Get<UInt32>(kAudioUnitProperty_ElementCount, scope), count) << scope;
    }
}

TEST_F(AUBaseLifeCycle, InitializeCleanupMaximumFramesAndWhatInitializationLocks) {
    listen(kAudioUnitProperty_MaximumFramesPerSlice);
    const UInt32 frames = 4096, smaller = 256, larger = 8192, no = 0, three = 3;
    EXPECT_EQ(set(kAudioUnitProperty_MaximumFramesPerSlice, kGlob, 0, &frames, 8),
              kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(set(kAudioUnitProperty_MaximumFramesPerSlice, kGlob, 0, &frames, 4), 0);
    EXPECT_EQ(unit->GetMaxFramesPerSlice(), 4096u);
    ASSERT_EQ(log.calls.size(), 1u);
    EXPECT_EQ(log.calls[0].unit, unit.Instance());
    EXPECT_EQ(log.calls[0].scope, kGlob);

    // A failed initialization changes nothing.
    unit->initializeResult = kAudioUnitErr_FailedInitialization;
    EXPECT_EQ(unit->DoInitialize(), kAudioUnitErr_FailedInitialization);
    EXPECT_FALSE(unit->IsInitialized());
    EXPECT_FALSE(unit->HasBegunInitializing());
    EXPECT_FALSE(unit->BuffersAllocated());
    unit->initializeResult = 0;
    EXPECT_EQ(unit->DoInitialize(), 0);
    EXPECT_TRUE(unit->IsInitialized());
    EXPECT_TRUE(unit->BuffersAllocated());
    EXPECT_GE(unit->GetOutput(0)->IOBuffer().GetAllocatedFrames(), 4096u);
    // Already initialized: answered at once, Initialize not called again.
    EXPECT_EQ(unit->DoInitialize(), 0);
    EXPECT_EQ(unit->initializeCalls, 2);

    // Refused while initialized.
    unit->busCountWritable = true;
    EXPECT_EQ(unit->CanSetMaxFrames(), kAudioUnitErr_Initialized);
    EXPECT_EQ(set(kAudioUnitProperty_MaximumFramesPerSlice, kGlob, 0, &smaller, 4),
              kAudioUnitErr_Initialized);
    EXPECT_EQ(unit->GetMaxFramesPerSlice(), 4096u);
    EXPECT_EQ(set(kAudioUnitProperty_ElementCount, kIn, 0, &three, 4), kAudioUnitErr_Initialized);
    EXPECT_EQ(set(kAudioUnitProperty_ShouldAllocateBuffer, kOut, 0, &no, 4),
              kAudioUnitErr_Initialized);
    EXPECT_TRUE(unit->GetOutput(0)->WillAllocateBuffer());
    EXPECT_EQ(unit->SetBusCount(kIn, 3), kAudioUnitErr_Initialized);
    EXPECT_EQ(unit->Inputs().GetNumberOfElements(), 1u);

    AudioTimeStamp t{};
    t.mSampleTime = 512;
    unit->SetCurrentRenderTime(t);
    unit->DoCleanup();
    EXPECT_EQ(unit->cleanupCalls, 1);
    EXPECT_FALSE(unit->IsInitialized());
    EXPECT_FALSE(unit->HasBegunInitializing());
    EXPECT_EQ(unit->CurrentRenderTime().mSampleTime, -1.0);
    // Cleaning up an uninitialized unit does not call Cleanup.
    unit->DoCleanup();
    EXPECT_EQ(unit->cleanupCalls, 1);
    // The buffers are still allocated, so a change reallocates.
    EXPECT_EQ(set(kAudioUnitProperty_MaximumFramesPerSlice, kGlob, 0, &larger, 4), 0);
    EXPECT_EQ(log.calls.size(), 2u);
    // Closing cleans up an initialized unit.
    ASSERT_EQ(unit->DoInitialize(), 0);
    unit->PreDestructor();
    EXPECT_EQ(unit->cleanupCalls, 2);
    EXPECT_FALSE(unit->IsInitialized());
}

TEST_F(AUBaseLifeCycle, ElementCountsAndScopeAndElementErrors) {
    listen(kAudioUnitProperty_ElementCount);
    const UInt32 three = 3;
    writable = true;
    EXPECT_EQ(info(kAudioUnitProperty_ElementCount, kIn, 0), 0);
    EXPECT_EQ(size, 4u);
    EXPECT_FALSE(writable); // not writable by default
    EXPECT_EQ(set(kAudioUnitProperty_ElementCount, kIn, 0, &three, 4),
              kAudioUnitErr_PropertyNotWritable);
    unit->busCountWritable = true;
    EXPECT_EQ(set(kAudioUnitProperty_ElementCount, kIn, 0, &three, 2),
              kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(set(kAudioUnitProperty_ElementCount, kIn, 0, &three, 4), 0);
    EXPECT_NE(unit->GetInput(2), nullptr);
    ASSERT_EQ(log.calls.size(), 1u);
    EXPECT_EQ(log.calls[0].scope, kIn);
    // The global scope always holds exactly one element.
    EXPECT_EQ(Call([&] { return unit->SetBusCount(kGlob, 2); }), kAudioUnitErr_InvalidScope);
    EXPECT_EQ(Call([&] { return unit->SetBusCount(kGlob, 1); }), 0);

    const struct {
        AudioUnitPropertyID id;
        AudioUnitScope scope;
        AudioUnitElement element;
        OSStatus expected;
    } rows[] = {
        {kAudioUnitProperty_ElementName, kOut, 1, kAudioUnitErr_InvalidElement},
        {kAudioUnitProperty_ElementName, 5, 0, kAudioUnitErr_InvalidScope},
        {kAudioUnitProperty_ClassInfo, kIn, 0, kAudioUnitErr_InvalidScope},
        {kAudioUnitProperty_ShouldAllocateBuffer, kGlob, 0, kAudioUnitErr_InvalidScope},
        {kAudioUnitProperty_MakeConnection, kOut, 0, kAudioUnitErr_InvalidScope},
        {0x7FFF, kGlob, 0, kAudioUnitErr_InvalidProperty},
        {kAudioUnitProperty_CPULoad, kGlob, 0, kAudioUnitErr_InvalidProperty},
        // Validated properties report their size before the element check;
        // unvalidated ones answer for any element.
        {kAudioUnitProperty_StreamFormat, kOut, 4, kAudioUnitErr_InvalidElement},
        {kAudioUnitProperty_ParameterInfo, kGlob, 99, 0},
    };
    for (const auto& row : rows) {
        size = 0;
        EXPECT_EQ(info(row.id, row.scope, row.element), row.expected) << row.id;
    }
    EXPECT_EQ(size, 104u);
    EXPECT_EQ(info(kAudioUnitProperty_StreamFormat, kOut, 4), kAudioUnitErr_InvalidElement);
    EXPECT_EQ(size, 40u);
    EXPECT_EQ(remove(0x7FFF, kGlob), kAudioUnitErr_InvalidPropertyValue);
}

TEST_F(AUBaseLifeCycle, ParametersAndParameterList) {
    AudioUnitParameterValue value = 0;
    EXPECT_EQ(Call([&] { return unit->SetParameter(5, kGlob, 0, 0.5f, 0); }), 0);
    EXPECT_EQ(Call([&] { return unit->SetParameter(1, kGlob, 0, 2.0f, 0); }), 0);
    EXPECT_EQ(Call([&] { return unit->GetParameter(5, kGlob, 0, value); }), 0);
    EXPECT_EQ(value, 0.5f);
    writable = true;
    EXPECT_EQ(info(kAudioUnitProperty_ParameterList, kGlob, 0), 0);
    EXPECT_EQ(size, 8u);
    EXPECT_FALSE(writable);
    AudioUnitParameterID ids[2] = {};
    EXPECT_EQ(get(kAudioUnitProperty_ParameterList, kGlob, 0, ids), 0);
    EXPECT_EQ(std::vector<AudioUnitParameterID>(ids, ids + 2),
              (std::vector<AudioUnitParameterID>{1, 5}));

    // The widest element of a scope gives the list.
    unit->busCountWritable = true;
    ASSERT_EQ(Call([&] { return unit->SetBusCount(kIn, 2); }), 0);
    unit->GetInput(0)->SetParameter(9, 1.0f);
    unit->GetInput(1)->SetParameter(3, 1.0f);
    unit->GetInput(1)->SetParameter(4, 1.0f);
    UInt32 count = 0;
    EXPECT_EQ(unit->GetParameterList(kIn, ids, count), 0);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(std::vector<AudioUnitParameterID>(ids, ids + 2),
              (std::vector<AudioUnitParameterID>{3, 4}));
    // An empty scope gives 0 and writes nothing.
    AudioUnitParameterID untouched = 77;
    EXPECT_EQ(unit->GetParameterList(kAudioUnitScope_Group, &untouched, count), 0);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(untouched, 77u);
    // A running unit ignores parameters a host made up.
    ASSERT_EQ(unit->DoInitialize(), 0);
    EXPECT_EQ(Call([&] { return unit->SetParameter(99, kGlob, 0, 1.0f, 0); }), 0);
    EXPECT_FALSE(unit->Globals0()->HasParameterID(99));
}

TEST_F(AUBaseLifeCycle, ListenersCalledInOrderAndRemoved) {
    ListenerLog other, dup;
    const AudioUnitPropertyID id = kAudioUnitProperty_ContextName;
    unit->AddPropertyListener(id, ListenerLog::Proc<1>, &log);
    unit->AddPropertyListener(id, ListenerLog::Proc<2>, &log);
    unit->AddPropertyListener(id, ListenerLog::Proc<1>, &other);
    unit->AddPropertyListener(kAudioUnitProperty_ElementName, ListenerLog::Proc<1>, &log);
    const auto procs = [&] {
        std::vector<int> out;
        for (const ListenerCall& c : log.calls) {
            out.push_back(c.proc);
        }
        log.calls.clear();
        return out;
    };
    unit->PropertyChanged(id, kGlob, 0);
    ASSERT_EQ(log.calls.size(), 2u);
    EXPECT_EQ(log.calls[0].refCon, &log);
    EXPECT_EQ(log.calls[0].id, id);
    EXPECT_EQ(procs(), (std::vector<int>{1, 2}));
    EXPECT_EQ(other.calls.size(), 1u);

    // With the reference mattering, only that entry goes.
    unit->RemovePropertyListener(id, ListenerLog::Proc<1>, &other, true);
    unit->PropertyChanged(id, kGlob, 0);
    EXPECT_EQ(other.calls.size(), 1u);
    EXPECT_EQ(procs(), (std::vector<int>{1, 2}));
    // Without it, every entry with that procedure goes; others stay.
    unit->AddPropertyListener(id, ListenerLog::Proc<1>, &other);
    unit->RemovePropertyListener(id, ListenerLog::Proc<1>, nullptr, false);
    unit->PropertyChanged(id, kGlob, 0);
    EXPECT_EQ(other.calls.size(), 1u);
    EXPECT_EQ(procs(), (std::vector<int>{2}));
    unit->PropertyChanged(kAudioUnitProperty_ElementName, kIn, 0);
    EXPECT_EQ(log.Count(kAudioUnitProperty_ElementName), 1u);
    // Duplicates are kept and each is called.
    unit->AddPropertyListener(0x20000, ListenerLog::Proc<1>, &dup);
    unit->AddPropertyListener(0x20000, ListenerLog::Proc<1>, &dup);
    unit->PropertyChanged(0x20000, kGlob, 0);
    EXPECT_EQ(dup.calls.size(), 2u);
}
