// Parameter storage of elements: map and indexed modes, scheduled events and
// ramp slices, the parameter block of the state document, element names.
// (Saved map blocks, refused short blocks and the names in a saved document
// are checked through the unit in aufw_base's state tests.)
#include "FakeOwner.h"

#include <aufw/AUElement.h>
#include <aufw/ParameterMapEvent.h>

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace {

AudioUnitParameterEvent RampEvent(SInt32 startOffset, UInt32 duration, Float32 from, Float32 to) {
    AudioUnitParameterEvent event{};
    event.eventType = kParameterEvent_Ramped;
    event.eventValues.ramp = {startOffset, duration, from, to};
    return event;
}

std::vector<UInt8> SavedBlock(AUElement& element) {
    CFMutableDataRef data = CFDataCreateMutable(nullptr, 0);
    element.SaveState(data);
    const UInt8* bytes = CFDataGetBytePtr(data);
    std::vector<UInt8> block(bytes, bytes + CFDataGetLength(data));
    CFRelease(data);
    return block;
}

std::vector<AudioUnitParameterID> ParameterList(AUElement& element) {
    std::vector<AudioUnitParameterID> ids(element.GetNumberOfParameters(), 0xDEADBEEF);
    element.GetParameterList(ids.data());
    return ids;
}

// A ramp slice as one value: start, end, change per frame.
template <typename T> std::array<Float32, 3> Slice(const T& event) {
    std::array<Float32, 3> s{-1, -1, -1};
    event.GetRampSliceStartEnd(s[0], s[1], s[2]);
    return s;
}

using IDs = std::vector<AudioUnitParameterID>;
using Slices = std::array<Float32, 3>;
constexpr OSStatus kNoParam = kAudioUnitErr_InvalidParameter;

} // namespace

// (Ramps seen from slices that start inside them are checked through
// rendering in aufw_render's scheduled tests.)
TEST(ParameterMapEvent, PlainValuesImmediateEventsAndRampSlices) {
    ParameterMapEvent event;
    // A plain value after a ramp: immediate, both values equal, the ramp's
    // offsets left as they were.
    event.SetScheduledEvent(RampEvent(10, 100, 0.0f, 1.0f), 4, 32);
    event.SetValue(0.25f);
    EXPECT_EQ(std::tuple(event.GetEventType(), event.GetEndValue(), event.GetBufferOffset(),
                         event.GetDurationInFrames()),
              std::tuple(kParameterEvent_Immediate, 0.25f, 6, 100u));
    EXPECT_EQ(Slice(event), (Slices{0.25f, 0.25f, 0.0f}));

    // An immediate event spans the slice and starts at its beginning.
    AudioUnitParameterEvent immediate{};
    immediate.eventType = kParameterEvent_Immediate;
    immediate.eventValues.immediate = {17, 0.75f};
    event.SetScheduledEvent(immediate, 16, 48);
    EXPECT_EQ(std::tuple(event.GetBufferOffset(), event.GetDurationInFrames(),
                         event.GetSliceDurationFrames(), event.GetValue(), event.GetEndValue()),
              std::tuple(0, 48u, 48u, 0.75f, 0.75f));

    // A ramp that starts 16 frames into the slice: the start value is
    // extrapolated back to the slice's first frame.
    event.SetScheduledEvent(RampEvent(48, 64, 1.0f, 0.0f), 32, 64);
    EXPECT_EQ(std::tuple(event.GetEventType(), event.GetBufferOffset()),
              std::tuple(kParameterEvent_Ramped, 16));
    EXPECT_EQ(Slice(event), (Slices{1.25f, 0.25f, -1.0f / 64.0f}));

    // A ramp of no length is already at its end value, never infinite.
    event.SetScheduledEvent(RampEvent(0, 0, 0.0f, 2.0f), 0, 16);
    EXPECT_EQ(Slice(event), (Slices{2.0f, 2.0f, 0.0f}));
}

TEST(AUElement, MapModeCreatesUnknownParametersOnlyBeforeInitialization) {
    FakeOwner owner;
    AUElement element(&owner);
    EXPECT_FALSE(element.UsesIndexedParameters());
    EXPECT_EQ(RaisedStatus([&] { element.GetParameter(7); }), kNoParam);
    element.SetParameter(7, 0.5f);
    element.SetParameter(3, 1.0f);
    element.SetParameter(12, -1.0f);
    EXPECT_EQ(element.GetParameter(7), 0.5f);
    EXPECT_EQ(ParameterList(element), (IDs{3, 7, 12}));

    owner.initialized = true;
    // Unknown IDs are ignored without an error, known ones still change.
    element.SetParameter(9, 0.25f);
    element.SetParameter(7, 0.75f);
    element.SetScheduledEvent(10, RampEvent(0, 8, 0, 1), 0, 8);
    EXPECT_EQ(ParameterList(element), (IDs{3, 7, 12}));
    EXPECT_EQ(element.GetParameter(7), 0.75f);
    EXPECT_EQ(RaisedStatus([&] { element.GetEndValue(10); }), kNoParam);

    // A caller that is allowed to may still add parameters to a running unit.
    element.SetParameter(9, 0.25f, true);
    element.SetScheduledEvent(1, RampEvent(0, 8, 0.0f, 1.0f), 0, 8, true);
    EXPECT_EQ(std::tuple(element.GetParameter(9), element.GetParameter(1), element.GetEndValue(1)),
              std::tuple(0.25f, 0.0f, 1.0f));
    EXPECT_EQ(ParameterList(element), (IDs{1, 3, 7, 9, 12}));
    Float32 start = 0, end = 0, delta = 0;
    EXPECT_EQ(RaisedStatus([&] { element.GetRampSliceStartEnd(2, start, end, delta); }), kNoParam);
    element.GetRampSliceStartEnd(1, start, end, delta);
    EXPECT_EQ(delta, 0.125f);
}

TEST(AUElement, IndexedModeHasAFixedRange) {
    FakeOwner owner;
    AUElement element(&owner);
    element.SetParameter(40, 9.0f);
    element.UseIndexedParameters(3);
    EXPECT_TRUE(element.UsesIndexedParameters());
    EXPECT_EQ(ParameterList(element), (IDs{0, 1, 2}));
    EXPECT_EQ(element.GetParameter(2), 0.0f);
    // Past the end, and the map entry from before, are no longer reachable.
    EXPECT_EQ(RaisedStatus([&] { element.GetParameter(3); }), kNoParam);
    EXPECT_EQ(RaisedStatus([&] { element.GetParameter(40); }), kNoParam);

    // Out of range raises whether or not the unit is initialized or the
    // caller allows new parameters; there is nothing to create.
    EXPECT_EQ(RaisedStatus([&] { element.SetParameter(3, 1.0f, true); }), kNoParam);
    EXPECT_EQ(RaisedStatus([&] { element.SetScheduledEvent(5, RampEvent(0, 1, 0, 1), 0, 8); }),
              kNoParam);
    owner.initialized = true;
    element.SetParameter(1, 0.5f);
    EXPECT_EQ(element.GetParameter(1), 0.5f);
    EXPECT_EQ(RaisedStatus([&] { element.SetParameter(3, 1.0f); }), kNoParam);

    // Growing keeps the values already there; shrinking drops the surplus.
    element.UseIndexedParameters(5);
    EXPECT_EQ(std::tuple(element.GetParameter(1), element.GetParameter(4)), std::tuple(0.5f, 0.0f));
    element.UseIndexedParameters(1);
    EXPECT_EQ(element.GetNumberOfParameters(), 1u);
    EXPECT_EQ(RaisedStatus([&] { element.GetParameter(1); }), kNoParam);
}

TEST(AUElement, ParameterBlockSavedAndRestored) {
    FakeOwner owner;
    AUElement element(&owner), empty(&owner), indexed(&owner);
    element.SetParameter(2, 1.0f);
    element.SetParameter(0, -2.0f);
    std::vector<UInt8> block = SavedBlock(element);
    const std::vector<UInt8> none = SavedBlock(empty);
    EXPECT_EQ(none, (std::vector<UInt8>{0, 0, 0, 0}));
    indexed.UseIndexedParameters(2);
    indexed.SetParameter(1, 0.5f);
    EXPECT_EQ(SavedBlock(indexed),
              (std::vector<UInt8>{0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0x3F, 0, 0, 0}));
    // The current value of a ramp is its start.
    indexed.SetScheduledEvent(0, RampEvent(0, 4, 0.25f, 1.0f), 0, 4);
    EXPECT_EQ(SavedBlock(indexed)[8], 0x3E);

    block.push_back(0xAA); // whatever follows belongs to the next record
    const UInt8* const end = block.data() + 20;
    AUElement target(&owner), bounded(&owner), running(&owner);
    EXPECT_EQ(target.RestoreState(block.data()), end);
    EXPECT_EQ(ParameterList(target), (IDs{0, 2}));
    EXPECT_EQ(std::tuple(target.GetParameter(0), target.GetParameter(2)), std::tuple(-2.0f, 1.0f));
    // A count of 0 consumes the count alone.
    EXPECT_EQ(target.RestoreState(none.data()), none.data() + 4);

    // A block one byte short of its records is refused before anything is
    // applied; one that holds them exactly is taken.
    EXPECT_EQ(bounded.RestoreState(block.data(), end - 1), nullptr);
    EXPECT_EQ(bounded.GetNumberOfParameters(), 0u);
    EXPECT_EQ(bounded.RestoreState(block.data(), end), end);
    EXPECT_EQ(bounded.GetParameter(2), 1.0f);

    // An initialized unit takes values only for parameters it already has.
    owner.initialized = true;
    running.SetParameter(2, 9.0f, true);
    running.RestoreState(block.data());
    EXPECT_EQ(ParameterList(running), (IDs{2}));
    EXPECT_EQ(running.GetParameter(2), 1.0f);
}

TEST(AUElement, NamesAreRetainedAndReleased) {
    FakeOwner owner;
    CFStringRef first = MakeString("Main In"), second = MakeString("Side Chain");
    {
        AUElement element(&owner);
        element.SetName(first);
        // Setting the held name again must not drop its last reference.
        element.SetName(first);
        EXPECT_EQ(std::tuple(element.GetName(), CFGetRetainCount(first)), std::tuple(first, 2));
        element.SetName(nullptr);
        EXPECT_EQ(std::tuple(element.HasName(), CFGetRetainCount(first)), std::tuple(false, 1));
        element.SetName(second);
        EXPECT_EQ(CFGetRetainCount(second), 2);
    }
    // The destructor released the name it held.
    EXPECT_EQ(CFGetRetainCount(second), 1);
    CFRelease(first);
    CFRelease(second);
}
