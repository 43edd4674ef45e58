// AUBase life cycle, elements, parameters and listeners, called directly on a
// small unit.
#include "base_test_unit.h"

#include <gtest/gtest.h>

#include <vector>

using namespace aufw_base_test;

namespace {

template <class T>
T Get(AUBase& unit, AudioUnitPropertyID id, AudioUnitScope scope = kGlob,
      AudioUnitElement element = 0) {
    T value{};
    const OSStatus result =
        Call([&] { return unit.DispatchGetProperty(id, scope, element, &value); });
    EXPECT_EQ(result, 0) << "property " << id;
    return value;
}

class AUBaseLifeCycle : public BaseUnitTest {};

} // namespace

TEST_F(AUBaseLifeCycle, FreshUnitDefaults) {
    EXPECT_FALSE(unit->IsInitialized());
    EXPECT_FALSE(unit->HasBegunInitializing());
    EXPECT_TRUE(unit->ElementsCreated());
    EXPECT_EQ(unit->AudioUnitAPIVersion(), 2);

    EXPECT_EQ(Get<UInt32>(*unit, kAudioUnitProperty_MaximumFramesPerSlice), 1156u);
    EXPECT_EQ(unit->GetMaxFramesPerSlice(), 1156u);
    const AUPreset preset = Get<AUPreset>(*unit, kAudioUnitProperty_PresentPreset);
    EXPECT_EQ(preset.presetNumber, -1);
    EXPECT_EQ(ToStdString(preset.presetName), "Untitled");
    // The name was retained for the caller, who releases it.
    CFRelease(preset.presetName);
    EXPECT_EQ(ToStdString(unit->GetPresentPreset().presetName), "Untitled");
    EXPECT_EQ(Get<OSStatus>(*unit, kAudioUnitProperty_LastRenderError), 0);
    EXPECT_EQ(Get<Float64>(*unit, AUBase::kAUBaseProperty_LastRenderedSampleTime), -1.0);

    // One global element (a plain element), the asked input and output counts.
    EXPECT_EQ(Get<UInt32>(*unit, kAudioUnitProperty_ElementCount, kGlob), 1u);
    EXPECT_EQ(Get<UInt32>(*unit, kAudioUnitProperty_ElementCount, kIn), 1u);
    EXPECT_EQ(Get<UInt32>(*unit, kAudioUnitProperty_ElementCount, kOut), 1u);
    EXPECT_EQ(Get<UInt32>(*unit, kAudioUnitProperty_ElementCount, kAudioUnitScope_Group), 0u);
    EXPECT_EQ(unit->Globals0()->AsIOElement(), nullptr);
    EXPECT_NE(unit->GetInput(0), nullptr);
    EXPECT_NE(unit->LayoutOutput(0), nullptr);

    const AudioTimeStamp& t = unit->CurrentRenderTime();
    EXPECT_EQ(t.mSampleTime, -1.0);
    EXPECT_EQ(t.mHostTime, 0u);
    EXPECT_EQ(t.mFlags, 0u);
}

TEST_F(AUBaseLifeCycle, InitializeCleanupAndClose) {
    // A failed initialization changes nothing.
    unit->initializeResult = kAudioUnitErr_FailedInitialization;
    EXPECT_EQ(unit->DoInitialize(), kAudioUnitErr_FailedInitialization);
    EXPECT_FALSE(unit->IsInitialized());
    EXPECT_FALSE(unit->HasBegunInitializing());
    EXPECT_FALSE(unit->BuffersAllocated());
    unit->initializeResult = 0;

    EXPECT_EQ(unit->DoInitialize(), 0);
    EXPECT_EQ(unit->initializeCalls, 2);
    EXPECT_TRUE(unit->IsInitialized());
    EXPECT_TRUE(unit->HasBegunInitializing());
    EXPECT_TRUE(unit->BuffersAllocated());
    // The output element got memory for the maximum slice.
    EXPECT_GE(unit->GetOutput(0)->IOBuffer().GetAllocatedFrames(), 1156u);

    // Already initialized: answered at once, Initialize not called again.
    EXPECT_EQ(unit->DoInitialize(), 0);
    EXPECT_EQ(unit->initializeCalls, 2);

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
    ASSERT_EQ(unit->DoInitialize(), 0);
    // Closing cleans up an initialized unit.
    unit->PreDestructor();
    EXPECT_EQ(unit->cleanupCalls, 2);
    EXPECT_FALSE(unit->IsInitialized());
}

TEST_F(AUBaseLifeCycle, MaximumFramesPerSlice) {
    listen(kAudioUnitProperty_MaximumFramesPerSlice);

    const UInt32 frames = 4096;
    EXPECT_EQ(set(kAudioUnitProperty_MaximumFramesPerSlice, kGlob, 0, &frames, 4), 0);
    EXPECT_EQ(unit->GetMaxFramesPerSlice(), 4096u);
    ASSERT_EQ(log.calls.size(), 1u);
    EXPECT_EQ(log.calls[0].unit, unit.Instance());
    EXPECT_EQ(log.calls[0].scope, kGlob);
    EXPECT_EQ(log.calls[0].element, 0u);

    // Wrong size, then refused while initialized.
    EXPECT_EQ(set(kAudioUnitProperty_MaximumFramesPerSlice, kGlob, 0, &frames, 8),
              kAudioUnitErr_InvalidPropertyValue);
    ASSERT_EQ(unit->DoInitialize(), 0);
    EXPECT_GE(unit->GetOutput(0)->IOBuffer().GetAllocatedFrames(), 4096u);
    const UInt32 smaller = 256;
    EXPECT_EQ(unit->CanSetMaxFrames(), kAudioUnitErr_Initialized);
    EXPECT_EQ(set(kAudioUnitProperty_MaximumFramesPerSlice, kGlob, 0, &smaller, 4),
              kAudioUnitErr_Initialized);
    EXPECT_EQ(unit->GetMaxFramesPerSlice(), 4096u);

    // After cleanup the buffers are still allocated, so a change reallocates.
    unit->DoCleanup();
    const UInt32 larger = 8192;
    EXPECT_EQ(set(kAudioUnitProperty_MaximumFramesPerSlice, kGlob, 0, &larger, 4), 0);
    EXPECT_EQ(log.calls.size(), 2u);
}

TEST_F(AUBaseLifeCycle, RefusedWhileInitialized) {
    unit->busCountWritable = true;
    ASSERT_EQ(unit->DoInitialize(), 0);
    const UInt32 two = 2;
    EXPECT_EQ(setRaised(kAudioUnitProperty_ElementCount, kIn, 0, &two, 4),
              kAudioUnitErr_Initialized);
    const UInt32 no = 0;
    EXPECT_EQ(set(kAudioUnitProperty_ShouldAllocateBuffer, kOut, 0, &no, 4),
              kAudioUnitErr_Initialized);
    EXPECT_TRUE(unit->GetOutput(0)->WillAllocateBuffer());
    EXPECT_EQ(unit->SetBusCount(kIn, 3), kAudioUnitErr_Initialized);
    EXPECT_EQ(unit->Inputs().GetNumberOfElements(), 1u);
}

TEST_F(AUBaseLifeCycle, ElementCounts) {
    listen(kAudioUnitProperty_ElementCount);
    const UInt32 three = 3;

    // Not writable by default.
    writable = true;
    EXPECT_EQ(info(kAudioUnitProperty_ElementCount, kIn, 0), 0);
    EXPECT_EQ(size, 4u);
    EXPECT_FALSE(writable);
    EXPECT_EQ(set(kAudioUnitProperty_ElementCount, kIn, 0, &three, 4),
              kAudioUnitErr_PropertyNotWritable);

    unit->busCountWritable = true;
    EXPECT_EQ(set(kAudioUnitProperty_ElementCount, kIn, 0, &three, 2),
              kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(set(kAudioUnitProperty_ElementCount, kIn, 0, &three, 4), 0);
    EXPECT_EQ(unit->Inputs().GetNumberOfElements(), 3u);
    EXPECT_NE(unit->GetInput(2), nullptr);
    ASSERT_EQ(log.calls.size(), 1u);
    EXPECT_EQ(log.calls[0].scope, kIn);

    // The global scope always holds exactly one element.
    EXPECT_EQ(Call([&] { return unit->SetBusCount(kGlob, 2); }), kAudioUnitErr_InvalidScope);
    EXPECT_EQ(Call([&] { return unit->SetBusCount(kGlob, 1); }), 0);
}

TEST_F(AUBaseLifeCycle, ScopeAndElementErrors) {
    // Element beyond the scope's count.
    EXPECT_EQ(info(kAudioUnitProperty_ElementName, kIn, 1), kAudioUnitErr_InvalidElement);
    // A scope the unit does not have.
    EXPECT_EQ(info(kAudioUnitProperty_ElementName, 5, 0), kAudioUnitErr_InvalidScope);
    // Scope rules of the shared properties.
    EXPECT_EQ(info(kAudioUnitProperty_ClassInfo, kIn), kAudioUnitErr_InvalidScope);
    EXPECT_EQ(info(kAudioUnitProperty_ShouldAllocateBuffer, kGlob, 0), kAudioUnitErr_InvalidScope);
    EXPECT_EQ(info(kAudioUnitProperty_MakeConnection, kOut, 0), kAudioUnitErr_InvalidScope);
    // Validated properties report size and writability before the element
    // check.
    size = 0;
    EXPECT_EQ(info(kAudioUnitProperty_StreamFormat, kOut, 4), kAudioUnitErr_InvalidElement);
    EXPECT_EQ(size, 40u);
    // Unvalidated ones answer for any element.
    EXPECT_EQ(info(kAudioUnitProperty_ParameterInfo, kGlob, 99), 0);
    EXPECT_EQ(size, 104u);

    // Parameters: missing element and missing scope raise.
    AudioUnitParameterValue value = 0;
    EXPECT_EQ(Call([&] { return unit->GetParameter(0, kOut, 3, value); }),
              kAudioUnitErr_InvalidElement);
    EXPECT_EQ(Call([&] { return unit->SetParameter(0, 7, 0, 1.0f, 0); }),
              kAudioUnitErr_InvalidScope);
    EXPECT_EQ(Call([&] { return unit->GetParameter(42, kGlob, 0, value); }),
              kAudioUnitErr_InvalidParameter);
    // Unknown properties reach the subclass, which does not know them.
    EXPECT_EQ(info(0x7FFF, kGlob, 0), kAudioUnitErr_InvalidProperty);
    EXPECT_EQ(info(kAudioUnitProperty_CPULoad, kGlob), kAudioUnitErr_InvalidProperty);
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
    EXPECT_EQ(ids[0], 1u);
    EXPECT_EQ(ids[1], 5u);

    // The widest element of a scope gives the list.
    unit->busCountWritable = true;
    ASSERT_EQ(Call([&] { return unit->SetBusCount(kIn, 2); }), 0);
    unit->GetInput(0)->SetParameter(9, 1.0f);
    unit->GetInput(1)->SetParameter(3, 1.0f);
    unit->GetInput(1)->SetParameter(4, 1.0f);
    UInt32 count = 0;
    AudioUnitParameterID inputIDs[2] = {};
    EXPECT_EQ(unit->GetParameterList(kIn, inputIDs, count), 0);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(inputIDs[0], 3u);
    EXPECT_EQ(inputIDs[1], 4u);
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
    ListenerLog other;
    const AudioUnitPropertyID id = kAudioUnitProperty_ContextName;
    unit->AddPropertyListener(id, ListenerLog::Proc, &log);
    unit->AddPropertyListener(id, ListenerLog::OtherProc, &log);
    unit->AddPropertyListener(id, ListenerLog::Proc, &other);
    unit->AddPropertyListener(kAudioUnitProperty_ElementName, ListenerLog::Proc, &log);
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
    unit->RemovePropertyListener(id, ListenerLog::Proc, &other, true);
    unit->PropertyChanged(id, kGlob, 0);
    EXPECT_EQ(other.calls.size(), 1u);
    EXPECT_EQ(procs(), (std::vector<int>{1, 2}));

    // Without it, every entry with that procedure goes; others stay.
    unit->AddPropertyListener(id, ListenerLog::Proc, &other);
    unit->RemovePropertyListener(id, ListenerLog::Proc, nullptr, false);
    unit->PropertyChanged(id, kGlob, 0);
    EXPECT_EQ(other.calls.size(), 1u);
    EXPECT_EQ(procs(), (std::vector<int>{2}));
    // The listener of another property was not touched.
    unit->PropertyChanged(kAudioUnitProperty_ElementName, kIn, 0);
    EXPECT_EQ(log.Count(kAudioUnitProperty_ElementName), 1u);

    // Duplicates are kept and each is called.
    ListenerLog dup;
    unit->AddPropertyListener(0x20000, ListenerLog::Proc, &dup);
    unit->AddPropertyListener(0x20000, ListenerLog::Proc, &dup);
    unit->PropertyChanged(0x20000, kGlob, 0);
    EXPECT_EQ(dup.calls.size(), 2u);
}

TEST_F(AUBaseLifeCycle, LastRenderErrorIsClearedByReading) {
    listen(kAudioUnitProperty_LastRenderError);
    unit->RecordRenderError(kAudioUnitErr_TooManyFramesToProcess);
    unit->RecordRenderError(kAudioUnitErr_NoConnection);
    EXPECT_EQ(log.calls.size(), 1u);
    EXPECT_EQ(Get<OSStatus>(*unit, kAudioUnitProperty_LastRenderError),
              kAudioUnitErr_TooManyFramesToProcess);
    EXPECT_EQ(Get<OSStatus>(*unit, kAudioUnitProperty_LastRenderError), 0);
}
