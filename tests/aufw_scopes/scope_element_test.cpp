// Scopes (growing through the owner, shrinking from the end, lookup, the
// element names of the state document) and the parameter storage of
// elements: map and indexed modes, scheduled events and ramp slices, the
// parameter block of the state document, element names.
// (Saved map blocks and the names in a saved document are checked through
// the unit in aufw_base's state tests.)
#include "FakeOwner.h"

#include <aufw/AUElement.h>
#include <aufw/AUScope.h>
#include <aufw/ParameterMapEvent.h>

#include <gtest/gtest.h>

#include <array>
#include <initializer_list>
#include <tuple>
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

// A dictionary of strings; the caller releases it.
CFMutableDictionaryRef Dict(std::initializer_list<std::pair<const char*, const char*>> entries) {
    CFMutableDictionaryRef dict = CFDictionaryCreateMutable(
        nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    for (const auto& [key, value] : entries) {
        CFStringRef k = MakeString(key), v = MakeString(value);
        CFDictionarySetValue(dict, k, v);
        CFRelease(k);
        CFRelease(v);
    }
    return dict;
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
    // Shorter than its count, or a count far beyond the data that must not
    // wrap the size check.
    EXPECT_EQ(bounded.RestoreState(block.data(), block.data() + 3), nullptr);
    const UInt8 huge[] = {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 1, 0, 0, 0, 0};
    EXPECT_EQ(bounded.RestoreState(huge, huge + sizeof(huge)), nullptr);
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

TEST(AUScope, GrowsThroughTheOwnerShrinksFromTheEndAndLooksUp) {
    FakeOwner owner;
    {
        AUScope scope;
        scope.Initialize(&owner, kAudioUnitScope_Input, 3);
        EXPECT_EQ(scope.GetScope(), static_cast<AudioUnitScope>(kAudioUnitScope_Input));
        EXPECT_EQ(owner.created, (ElementLog{{1, 0}, {1, 1}, {1, 2}}));
        AUElement* first = scope.GetElement(0);
        first->SetParameter(4, 0.5f);

        scope.SetNumberOfElements(1);
        EXPECT_EQ(owner.destroyed, (ElementLog{{1, 2}, {1, 1}}));
        EXPECT_EQ(std::tuple(scope.GetNumberOfElements(), scope.GetElement(1)),
                  std::tuple(1u, nullptr));

        // Equal counts change nothing; growth creates only the new numbers.
        owner.created.clear();
        scope.SetNumberOfElements(1);
        scope.SetNumberOfElements(4);
        EXPECT_EQ(owner.created, (ElementLog{{1, 1}, {1, 2}, {1, 3}}));
        EXPECT_EQ(std::tuple(scope.GetElement(0), first->GetParameter(4)), std::tuple(first, 0.5f));
        owner.destroyed.clear();
    }
    // The scope deletes what is left when it goes.
    EXPECT_EQ(owner.destroyed.size(), 4u);

    // Lookups raise for missing elements, and a plain element is no I/O one.
    AUScope global, output;
    global.Initialize(&owner, kAudioUnitScope_Global, 1);
    output.Initialize(&owner, kAudioUnitScope_Output, 2);

    EXPECT_EQ(global.SafeGetElement(0), global.GetElement(0));
    EXPECT_EQ(RaisedStatus([&] { global.SafeGetElement(1); }), kAudioUnitErr_InvalidElement);
    EXPECT_EQ(RaisedStatus([&] { global.GetIOElement(0); }), kAudioUnitErr_InvalidElement);
    EXPECT_EQ(static_cast<AUElement*>(output.GetIOElement(1)), output.GetElement(1));
    EXPECT_EQ(RaisedStatus([&] { output.GetIOElement(2); }), kAudioUnitErr_InvalidElement);
    EXPECT_EQ(output.GetElement(0xFFFFFFFF), nullptr);

    // An owner that cannot make elements for the scope stops the growth.
    AUScope odd, orphan;
    EXPECT_EQ(RaisedStatus([&] { odd.Initialize(&owner, 9, 1); }), kAudioUnitErr_InvalidScope);
    EXPECT_EQ(odd.GetNumberOfElements(), 0u);
    EXPECT_EQ(RaisedStatus([&] { orphan.SetNumberOfElements(1); }), kAudioUnitErr_InvalidScope);
}

TEST(AUScope, ElementNamesOfTheStateDocument) {
    FakeOwner owner;
    AUScope scope;
    scope.Initialize(&owner, kAudioUnitScope_Output, 3);
    CFMutableDictionaryRef saved = Dict({});
    scope.AddElementNamesToDict(saved);
    EXPECT_EQ(std::tuple(scope.HasElementWithName(), CFDictionaryGetCount(saved)),
              std::tuple(false, 0));

    // The largest element number grows the scope; keys that are no element
    // numbers are skipped.
    CFMutableDictionaryRef names = Dict({{"3", "Return"},
                                         {"0", "Main"},
                                         {"-1", "Negative"},
                                         {"2x", "Trailing"},
                                         {"4294967295", "Too far"},
                                         {"", "Empty"},
                                         {"99999999999999999999999", "Long"}});
    EXPECT_TRUE(scope.RestoreElementNames(names));
    EXPECT_EQ(scope.GetNumberOfElements(), 4u);
    EXPECT_EQ(std::tuple(ToStd(scope.GetElement(3)->GetName()),
                         ToStd(scope.GetElement(0)->GetName()), scope.GetElement(2)->HasName()),
              std::tuple("Return", "Main", false));
    // Names within the current count do not grow the scope.
    CFMutableDictionaryRef rename = Dict({{"1", "Side"}});
    EXPECT_FALSE(scope.RestoreElementNames(rename));
    EXPECT_EQ(std::tuple(scope.GetNumberOfElements(), ToStd(scope.GetElement(1)->GetName())),
              std::tuple(4u, "Side"));
    // (The saved form of the names: aufw_base's state tests.)
    scope.AddElementNamesToDict(saved);
    EXPECT_EQ(CFDictionaryGetCount(saved), 1);

    // An empty dictionary gives an empty scope its first element.
    AUScope group;
    group.Initialize(&owner, kAudioUnitScope_Group, 0);
    CFMutableDictionaryRef none = Dict({});
    EXPECT_TRUE(group.RestoreElementNames(none));
    EXPECT_EQ(group.GetNumberOfElements(), 1u);
    for (CFTypeRef dict : {saved, names, rename, none}) {
        CFRelease(dict);
    }
}
