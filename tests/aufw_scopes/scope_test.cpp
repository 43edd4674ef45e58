// Scopes: growing through the owner, shrinking from the end, element lookup
// and the element names of the state document.
#include "FakeOwner.h"

#include <aufw/AUScope.h>

#include <gtest/gtest.h>

#include <initializer_list>
#include <tuple>

namespace {

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

} // namespace

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
