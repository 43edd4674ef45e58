// Scopes: growing through the owner, shrinking from the end, element lookup
// and the element names of the state document.
#include "FakeOwner.h"

#include <aufw/AUScope.h>

#include <gtest/gtest.h>

#include <string>

namespace {

using Log = std::vector<std::pair<AudioUnitScope, AudioUnitElement>>;

CFStringRef MakeString(const char* text) {
    return CFStringCreateWithCString(nullptr, text, kCFStringEncodingUTF8);
}

std::string ToStd(CFTypeRef value) {
    if (value == nullptr || CFGetTypeID(value) != CFStringGetTypeID()) {
        return "<none>";
    }
    char buffer[256];
    if (!CFStringGetCString(static_cast<CFStringRef>(value), buffer, sizeof(buffer),
                            kCFStringEncodingUTF8)) {
        return "<unconvertible>";
    }
    return buffer;
}

CFTypeRef Lookup(CFDictionaryRef dict, const char* key) {
    CFStringRef k = MakeString(key);
    CFTypeRef value = CFDictionaryGetValue(dict, k);
    CFRelease(k);
    return value;
}

CFMutableDictionaryRef NewDict() {
    return CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                     &kCFTypeDictionaryValueCallBacks);
}

void Put(CFMutableDictionaryRef dict, const char* key, const char* value) {
    CFStringRef k = MakeString(key);
    CFStringRef v = MakeString(value);
    CFDictionarySetValue(dict, k, v);
    CFRelease(k);
    CFRelease(v);
}

} // namespace

TEST(AUScope, GrowsThroughTheOwnerAndShrinksFromTheEnd) {
    FakeOwner owner;
    {
        AUScope scope;
        scope.Initialize(&owner, kAudioUnitScope_Input, 3);
        EXPECT_EQ(scope.GetScope(), static_cast<AudioUnitScope>(kAudioUnitScope_Input));
        EXPECT_EQ(scope.GetNumberOfElements(), 3u);
        EXPECT_EQ(owner.log.created, (Log{{1, 0}, {1, 1}, {1, 2}}));

        AUElement* first = scope.GetElement(0);
        ASSERT_NE(first, nullptr);
        first->SetParameter(4, 0.5f);
        CFStringRef name = MakeString("Left");
        first->SetName(name);

        scope.SetNumberOfElements(1);
        EXPECT_EQ(owner.log.destroyed, (Log{{1, 2}, {1, 1}}));
        EXPECT_EQ(scope.GetElement(0), first);
        EXPECT_EQ(first->GetParameter(4), 0.5f);
        EXPECT_EQ(first->GetName(), name);
        EXPECT_EQ(scope.GetElement(1), nullptr);

        // Equal counts change nothing; growth creates only the new numbers.
        owner.log.created.clear();
        scope.SetNumberOfElements(1);
        scope.SetNumberOfElements(4);
        EXPECT_EQ(owner.log.created, (Log{{1, 1}, {1, 2}, {1, 3}}));
        EXPECT_EQ(scope.GetElement(0), first);
        EXPECT_EQ(first->GetParameter(4), 0.5f);
        CFRelease(name);

        owner.log.destroyed.clear();
    }
    // The scope deletes what is left when it goes.
    EXPECT_EQ(owner.log.destroyed.size(), 4u);
}

TEST(AUScope, LookupsRaiseForMissingOrWrongKindsOfElements) {
    FakeOwner owner;
    AUScope global;
    global.Initialize(&owner, kAudioUnitScope_Global, 1);
    AUScope output;
    output.Initialize(&owner, kAudioUnitScope_Output, 2);

    EXPECT_EQ(global.SafeGetElement(0), global.GetElement(0));
    EXPECT_EQ(RaisedStatus([&] { global.SafeGetElement(1); }), kAudioUnitErr_InvalidElement);
    // A plain element is no I/O element.
    EXPECT_EQ(global.GetElement(0)->AsIOElement(), nullptr);
    EXPECT_EQ(RaisedStatus([&] { global.GetIOElement(0); }), kAudioUnitErr_InvalidElement);

    AUIOElement* io = output.GetIOElement(1);
    ASSERT_NE(io, nullptr);
    EXPECT_EQ(static_cast<AUElement*>(io), output.GetElement(1));
    EXPECT_EQ(RaisedStatus([&] { output.GetIOElement(2); }), kAudioUnitErr_InvalidElement);
    EXPECT_EQ(output.GetElement(0xFFFFFFFF), nullptr);

    // An owner that cannot make elements for the scope stops the growth.
    AUScope odd;
    EXPECT_EQ(RaisedStatus([&] { odd.Initialize(&owner, 9, 1); }), kAudioUnitErr_InvalidScope);
    EXPECT_EQ(odd.GetNumberOfElements(), 0u);
    AUScope orphan;
    EXPECT_EQ(RaisedStatus([&] { orphan.SetNumberOfElements(1); }), kAudioUnitErr_InvalidScope);
}

TEST(AUScope, ElementNamesGoIntoTheStateDictionary) {
    FakeOwner owner;
    AUScope scope;
    scope.Initialize(&owner, kAudioUnitScope_Output, 3);
    CFMutableDictionaryRef names = NewDict();

    EXPECT_FALSE(scope.HasElementWithName());
    scope.AddElementNamesToDict(names);
    EXPECT_EQ(CFDictionaryGetCount(names), 0);

    CFStringRef main = MakeString("Main");
    CFStringRef aux = MakeString("Aux");
    scope.GetElement(0)->SetName(main);
    scope.GetElement(2)->SetName(aux);
    EXPECT_TRUE(scope.HasElementWithName());
    scope.AddElementNamesToDict(names);

    ASSERT_EQ(CFDictionaryGetCount(names), 1);
    auto perScope = static_cast<CFDictionaryRef>(Lookup(names, "2"));
    ASSERT_NE(perScope, nullptr);
    EXPECT_EQ(CFDictionaryGetCount(perScope), 2);
    EXPECT_EQ(ToStd(Lookup(perScope, "0")), "Main");
    EXPECT_EQ(ToStd(Lookup(perScope, "2")), "Aux");
    EXPECT_EQ(Lookup(perScope, "1"), nullptr);

    CFRelease(main);
    CFRelease(aux);
    CFRelease(names);
}

TEST(AUScope, RestoringElementNamesGrowsTheScope) {
    FakeOwner owner;
    AUScope scope;
    scope.Initialize(&owner, kAudioUnitScope_Input, 2);

    CFMutableDictionaryRef names = NewDict();
    Put(names, "3", "Return");
    Put(names, "0", "Main");
    EXPECT_TRUE(scope.RestoreElementNames(names));
    EXPECT_EQ(scope.GetNumberOfElements(), 4u);
    EXPECT_EQ(ToStd(scope.GetElement(3)->GetName()), "Return");
    EXPECT_EQ(ToStd(scope.GetElement(0)->GetName()), "Main");
    EXPECT_FALSE(scope.GetElement(1)->HasName());

    // Names within the current count do not grow the scope.
    CFMutableDictionaryRef rename = NewDict();
    Put(rename, "1", "Side");
    EXPECT_FALSE(scope.RestoreElementNames(rename));
    EXPECT_EQ(scope.GetNumberOfElements(), 4u);
    EXPECT_EQ(ToStd(scope.GetElement(1)->GetName()), "Side");

    // Keys that are no element numbers are skipped.
    CFMutableDictionaryRef junk = NewDict();
    Put(junk, "-1", "Negative");
    Put(junk, "2x", "Trailing");
    Put(junk, "4294967295", "Too far");
    Put(junk, "", "Empty");
    Put(junk, "99999999999999999999999999999999999", "Long");
    EXPECT_FALSE(scope.RestoreElementNames(junk));
    EXPECT_EQ(scope.GetNumberOfElements(), 4u);
    EXPECT_FALSE(scope.GetElement(2)->HasName());

    // An empty dictionary gives an empty scope its first element.
    AUScope group;
    group.Initialize(&owner, kAudioUnitScope_Group, 0);
    CFMutableDictionaryRef none = NewDict();
    EXPECT_TRUE(group.RestoreElementNames(none));
    EXPECT_EQ(group.GetNumberOfElements(), 1u);

    CFRelease(names);
    CFRelease(rename);
    CFRelease(junk);
    CFRelease(none);
}
