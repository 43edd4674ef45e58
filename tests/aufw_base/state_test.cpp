// The ClassInfo document: what a unit saves and what it accepts back.
#include "base_test_unit.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

using namespace aufw_base_test;

namespace {

// Owns one Core Foundation reference.
struct CFReleaser {
    void operator()(const void* ref) const {
        if (ref != nullptr) {
            CFRelease(ref);
        }
    }
};
using CFHolder = std::unique_ptr<const void, CFReleaser>;

CFMutableDictionaryRef Dict(const CFHolder& holder) {
    return static_cast<CFMutableDictionaryRef>(const_cast<void*>(holder.get()));
}

CFTypeRef Value(CFDictionaryRef dict, const char* key) {
    CFHolder k(MakeString(key));
    return CFDictionaryGetValue(dict, k.get());
}

SInt32 NumberValue(CFDictionaryRef dict, const char* key) {
    SInt32 v = -12345;
    auto n = static_cast<CFNumberRef>(Value(dict, key));
    EXPECT_NE(n, nullptr) << key;
    if (n != nullptr) {
        CFNumberGetValue(n, kCFNumberSInt32Type, &v);
    }
    return v;
}

std::vector<UInt8> DataValue(CFDictionaryRef dict) {
    auto data = static_cast<CFDataRef>(Value(dict, "data"));
    const UInt8* p = data != nullptr ? CFDataGetBytePtr(data) : nullptr;
    return p != nullptr ? std::vector<UInt8>(p, p + CFDataGetLength(data)) : std::vector<UInt8>{};
}

// Sets a key to a value, or removes it when the value is null.
void SetValue(CFMutableDictionaryRef dict, const char* key, CFTypeRef value) {
    CFHolder k(MakeString(key));
    value != nullptr ? CFDictionarySetValue(dict, k.get(), value)
                     : CFDictionaryRemoveValue(dict, k.get());
}

void SetNumber(CFMutableDictionaryRef dict, const char* key, SInt32 value) {
    CFHolder n(CFNumberCreate(nullptr, kCFNumberSInt32Type, &value));
    SetValue(dict, key, n.get());
}

CFMutableDictionaryRef NewDict() {
    return CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                     &kCFTypeDictionaryValueCallBacks);
}

// A valid document for the test unit with the given parameter data.
CFMutableDictionaryRef NewDocument(const std::vector<UInt8>& data) {
    CFMutableDictionaryRef doc = NewDict();
    SetNumber(doc, "version", 0);
    SetNumber(doc, "type", static_cast<SInt32>(kBaseTestDescription.componentType));
    SetNumber(doc, "subtype", static_cast<SInt32>(kBaseTestDescription.componentSubType));
    SetNumber(doc, "manufacturer", static_cast<SInt32>(kBaseTestDescription.componentManufacturer));
    CFHolder d(CFDataCreate(nullptr, data.data(), static_cast<CFIndex>(data.size())));
    SetValue(doc, "data", d.get());
    return doc;
}

void Put32(std::vector<UInt8>& out, UInt32 v) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<UInt8>(v >> shift));
    }
}

// One record: scope, element, count, then {id, value} pairs.
std::vector<UInt8> Record(UInt32 scope, UInt32 element,
                          const std::vector<std::pair<UInt32, Float32>>& params) {
    std::vector<UInt8> out;
    Put32(out, scope);
    Put32(out, element);
    Put32(out, static_cast<UInt32>(params.size()));
    for (const auto& [id, value] : params) {
        UInt32 bits = 0;
        std::memcpy(&bits, &value, sizeof(bits));
        Put32(out, id);
        Put32(out, bits);
    }
    return out;
}

std::vector<UInt8> operator+(std::vector<UInt8> a, const std::vector<UInt8>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Float32 Param(AUBase& unit, AudioUnitScope scope, AudioUnitElement element, UInt32 id) {
    AudioUnitParameterValue v = -999;
    EXPECT_EQ(Call([&] { return unit.GetParameter(id, scope, element, v); }), 0);
    return v;
}

CFHolder Save(AUBase& unit) {
    CFPropertyListRef doc = nullptr;
    EXPECT_EQ(unit.DispatchGetProperty(kAudioUnitProperty_ClassInfo, kGlob, 0, &doc), 0);
    return CFHolder(doc);
}

OSStatus Restore(AUBase& unit, CFTypeRef doc, UInt32 size = sizeof(CFTypeRef),
                 AudioUnitScope scope = kGlob) {
    return Call([&] {
        return unit.DispatchSetProperty(kAudioUnitProperty_ClassInfo, scope, 0, &doc, size);
    });
}

} // namespace

TEST(AUBaseState, SavedDocumentOfAFreshUnit) {
    OpenUnit unit;
    unit->Globals0()->SetParameter(0, 1.0f);
    unit->Globals0()->SetParameter(1, 0.5f);
    CFHolder doc = Save(*unit);
    ASSERT_NE(doc.get(), nullptr);
    ASSERT_EQ(CFGetTypeID(doc.get()), CFDictionaryGetTypeID());

    const std::vector<UInt8> expected = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                         0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x3F, 0x80, 0x00, 0x00,
                                         0x00, 0x00, 0x00, 0x01, 0x3F, 0x00, 0x00, 0x00};
    EXPECT_EQ(DataValue(Dict(doc)), expected);
    EXPECT_EQ(NumberValue(Dict(doc), "version"), 0);
    const AudioComponentDescription& d = kBaseTestDescription;
    EXPECT_EQ(NumberValue(Dict(doc), "type"), static_cast<SInt32>(d.componentType));
    EXPECT_EQ(NumberValue(Dict(doc), "subtype"), static_cast<SInt32>(d.componentSubType));
    EXPECT_EQ(NumberValue(Dict(doc), "manufacturer"), static_cast<SInt32>(d.componentManufacturer));
    EXPECT_EQ(ToStdString(static_cast<CFStringRef>(Value(Dict(doc), "name"))), "Untitled");
    // Keys the unit has nothing for are left out.
    EXPECT_EQ(CFDictionaryGetCount(Dict(doc)), 6);

    // Info for the document itself.
    UInt32 size = 0;
    Boolean writable = false;
    EXPECT_EQ(unit->DispatchGetPropertyInfo(kAudioUnitProperty_ClassInfo, kGlob, 0, size, writable),
              0);
    EXPECT_EQ(size, 8u);
    EXPECT_TRUE(writable);
}

TEST(AUBaseState, RoundTripAcrossUnits) {
    CFHolder doc;
    {
        OpenUnit a({1, 2, 0});
        a->answersQualityAndLoad = true;
        a->renderQuality = 96;
        a->cpuLoad = 0.75f;
        a->Globals0()->SetParameter(3, -2.5f);
        a->GetOutput(1)->SetParameter(7, 0.125f);
        CFHolder name(MakeString("Warm room"));
        AUPreset p{-2, static_cast<CFStringRef>(name.get())};
        ASSERT_EQ(a->DispatchSetProperty(kAudioUnitProperty_PresentPreset, kGlob, 0, &p, sizeof(p)),
                  0);
        doc = Save(*a);
    }
    EXPECT_EQ(NumberValue(Dict(doc), "render-quality"), 96);
    ASSERT_NE(Value(Dict(doc), "cpu-load"), nullptr);

    OpenUnit b({1, 2, 0});
    b->answersQualityAndLoad = true;
    ListenerLog log;
    for (AudioUnitPropertyID id : {kAudioUnitProperty_PresentPreset,
                                   kAudioUnitProperty_RenderQuality, kAudioUnitProperty_CPULoad}) {
        b->AddPropertyListener(id, ListenerLog::Proc, &log);
    }
    EXPECT_EQ(Restore(*b, doc.get()), 0);
    EXPECT_EQ(Param(*b, kGlob, 0, 3), -2.5f);
    EXPECT_EQ(Param(*b, kOut, 1, 7), 0.125f);
    EXPECT_EQ(b->renderQuality, 96u);
    EXPECT_EQ(b->cpuLoad, 0.75f);
    EXPECT_EQ(b->GetPresentPreset().presetNumber, -1);
    EXPECT_EQ(ToStdString(b->GetPresentPreset().presetName), "Warm room");
    EXPECT_EQ(log.Count(kAudioUnitProperty_PresentPreset), 1u);
    EXPECT_EQ(log.Count(kAudioUnitProperty_RenderQuality), 1u);
    EXPECT_EQ(log.Count(kAudioUnitProperty_CPULoad), 1u);

    // A refused render quality is ignored, and not announced.
    log.calls.clear();
    SetNumber(Dict(doc), "render-quality", 500);
    EXPECT_EQ(Restore(*b, doc.get()), 0);
    EXPECT_EQ(b->renderQuality, 96u);
    EXPECT_EQ(log.Count(kAudioUnitProperty_RenderQuality), 0u);
}

TEST(AUBaseState, NamelessDocumentGivesAnUntitledUserPreset) {
    OpenUnit unit;
    CFHolder mine(MakeString("Mine"));
    unit->SetAFactoryPresetAsCurrent(AUPreset{5, static_cast<CFStringRef>(mine.get())});
    ListenerLog log;
    unit->AddPropertyListener(kAudioUnitProperty_PresentPreset, ListenerLog::Proc, &log);

    CFHolder doc(NewDocument({}));
    // A different type is not examined.
    SetNumber(Dict(doc), "type", 0x61756D75);
    EXPECT_EQ(Restore(*unit, doc.get()), 0);
    EXPECT_EQ(unit->GetPresentPreset().presetNumber, -1);
    EXPECT_EQ(ToStdString(unit->GetPresentPreset().presetName), "Untitled");
    EXPECT_EQ(log.calls.size(), 1u);
}

TEST(AUBaseState, RejectedDocumentsChangeNothing) {
    OpenUnit unit;
    unit->Globals0()->SetParameter(0, 0.25f);
    ListenerLog log;
    unit->AddPropertyListener(kAudioUnitProperty_PresentPreset, ListenerLog::Proc, &log);
    const std::vector<UInt8> data = Record(0, 0, {{0, 0.9f}});

    auto expectRejected = [&](CFTypeRef doc, const char* what) {
        EXPECT_EQ(Restore(*unit, doc), kAudioUnitErr_InvalidPropertyValue) << what;
        EXPECT_EQ(Param(*unit, kGlob, 0, 0), 0.25f) << what;
        EXPECT_EQ(log.calls.size(), 0u) << what;
    };

    // Each row spoils a valid document one way: a number set (or, without
    // one, the key removed).
    const struct {
        const char* key;
        SInt32 value;
        bool remove;
    } rows[] = {{"version", 1, false},
                {"version", 0, true},
                {"subtype", 0x4F746872, false},
                {"subtype", 0, true},
                {"manufacturer", 0x6170706C, false},
                {"manufacturer", 0, true},
                {"part", 0, false}};
    for (const auto& row : rows) {
        CFHolder doc(NewDocument(data));
        row.remove ? SetValue(Dict(doc), row.key, nullptr)
                   : SetNumber(Dict(doc), row.key, row.value);
        expectRejected(doc.get(), row.key);
    }
    CFHolder text(MakeString("not a dictionary"));
    expectRejected(text.get(), "a string");
    expectRejected(nullptr, "nothing");
    CFHolder doc(NewDocument(data));
    SetValue(Dict(doc), "data", text.get());
    expectRejected(doc.get(), "data of the wrong type");
    // Wrong size or scope of the property itself.
    doc.reset(NewDocument(data));
    EXPECT_EQ(Restore(*unit, doc.get(), 4), kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(Restore(*unit, doc.get(), sizeof(CFTypeRef), kIn), kAudioUnitErr_InvalidScope);
    // And the same document, valid, is taken.
    EXPECT_EQ(Restore(*unit, doc.get()), 0);
    EXPECT_EQ(Param(*unit, kGlob, 0, 0), 0.9f);
}

TEST(AUBaseState, DataRunningPastItsEndIsRejected) {
    OpenUnit unit;
    unit->Globals0()->SetParameter(0, 0.25f);
    // A first good record, then one that claims three parameters but holds two.
    std::vector<UInt8> cut = Record(2, 0, {{1, 1.0f}, {2, 2.0f}, {3, 3.0f}});
    cut.resize(cut.size() - 8);
    // A count so large that its size would wrap around.
    std::vector<UInt8> huge = Record(0, 0, {{0, 0.0f}});
    huge[8] = huge[9] = huge[10] = huge[11] = 0xFF;
    std::vector<std::vector<UInt8>> rows = {Record(0, 0, {{0, 0.5f}}) + cut, huge};
    // A header cut short and a count field cut short.
    for (size_t keep : {size_t{3}, size_t{8}, size_t{11}}) {
        rows.push_back(Record(0, 0, {{0, 0.5f}}));
        rows.back().resize(keep);
    }
    for (const auto& data : rows) {
        CFHolder doc(NewDocument(data));
        EXPECT_EQ(Restore(*unit, doc.get()), kAudioUnitErr_InvalidPropertyValue) << data.size();
        EXPECT_EQ(Param(*unit, kGlob, 0, 0), 0.25f) << data.size();
    }
    EXPECT_FALSE(unit->GetOutput(0)->HasParameterID(1));
}

TEST(AUBaseState, RecordsForMissingElementsEndTheData) {
    OpenUnit unit;
    // Whatever follows is not looked at, even when it is malformed.
    CFHolder doc(NewDocument(Record(0, 0, {{4, 4.0f}}) + Record(1, 0, {{5, 5.0f}}) +
                             Record(2, 5, {{6, 6.0f}}) + std::vector<UInt8>{0xEE}));
    EXPECT_EQ(Restore(*unit, doc.get()), 0);
    EXPECT_EQ(Param(*unit, kGlob, 0, 4), 4.0f);
    EXPECT_EQ(Param(*unit, kIn, 0, 5), 5.0f);

    // The last record may stop right after naming a missing element: its
    // parameters are never read, so the data still ends there cleanly.
    for (size_t keep : {size_t{8}, size_t{11}}) {
        std::vector<UInt8> missing = Record(2, 5, {{6, 6.0f}});
        missing.resize(keep);
        CFHolder tailDoc(NewDocument(Record(0, 0, {{4, 2.0f}}) + missing));
        EXPECT_EQ(Restore(*unit, tailDoc.get()), 0) << keep;
        EXPECT_EQ(Param(*unit, kGlob, 0, 4), 2.0f) << keep;
        unit->Globals0()->SetParameter(4, 4.0f);
    }

    // A record for a scope the unit cannot resolve ends the restore with an
    // error, after what came before it.
    CFHolder extended(NewDocument(Record(0, 0, {{4, 8.0f}}) + Record(4, 0, {{1, 1.0f}})));
    EXPECT_EQ(Restore(*unit, extended.get()), kAudioUnitErr_InvalidScope);
    EXPECT_EQ(Param(*unit, kGlob, 0, 4), 8.0f);

    // So does an indexed parameter beyond the element's array.
    unit->Globals0()->UseIndexedParameters(2);
    CFHolder indexed(NewDocument(Record(0, 0, {{1, 0.5f}, {2, 7.0f}})));
    EXPECT_EQ(Restore(*unit, indexed.get()), kAudioUnitErr_InvalidParameter);
    EXPECT_EQ(Param(*unit, kGlob, 0, 1), 0.5f);
}

TEST(AUBaseState, ElementNamesGrowAScope) {
    OpenUnit unit({2, 1, 0});
    ListenerLog log;
    unit->AddPropertyListener(kAudioUnitProperty_ElementCount, ListenerLog::Proc, &log);

    CFHolder doc(NewDocument({}));
    CFHolder names(NewDict());
    CFHolder inputNames(NewDict());
    CFHolder name(MakeString("Aux return"));
    SetValue(Dict(inputNames), "3", name.get());
    SetValue(Dict(names), "1", inputNames.get());
    SetValue(Dict(doc), "element-name", names.get());

    EXPECT_EQ(Restore(*unit, doc.get()), 0);
    EXPECT_EQ(unit->Inputs().GetNumberOfElements(), 4u);
    ASSERT_NE(unit->GetInput(3), nullptr);
    EXPECT_EQ(ToStdString(unit->GetInput(3)->GetName()), "Aux return");
    EXPECT_FALSE(unit->GetInput(2)->HasName());
    ASSERT_EQ(log.calls.size(), 1u);
    EXPECT_EQ(log.calls[0].scope, kIn);
    EXPECT_EQ(log.calls[0].element, 0u);

    // Saving lists exactly the named elements.
    CFHolder saved = Save(*unit);
    auto savedNames = static_cast<CFDictionaryRef>(Value(Dict(saved), "element-name"));
    ASSERT_NE(savedNames, nullptr);
    EXPECT_EQ(CFDictionaryGetCount(savedNames), 1);
    auto savedInputs = static_cast<CFDictionaryRef>(Value(savedNames, "1"));
    ASSERT_NE(savedInputs, nullptr);
    EXPECT_EQ(ToStdString(static_cast<CFStringRef>(Value(savedInputs, "3"))), "Aux return");
}

TEST(AUBaseState, GroupNamesSurviveButGroupParametersDoNot) {
    CFHolder doc;
    {
        OpenUnit a({1, 1, 1});
        a->Groups().GetElement(0)->SetParameter(2, 0.5f);
        a->Globals0()->SetParameter(0, 1.0f);
        CFHolder name(MakeString("Drums"));
        CFStringRef ref = static_cast<CFStringRef>(name.get());
        ASSERT_EQ(a->DispatchSetProperty(kAudioUnitProperty_ElementName, kAudioUnitScope_Group, 0,
                                         &ref, sizeof(ref)),
                  0);
        doc = Save(*a);
    }
    // Only the global record was written.
    EXPECT_EQ(DataValue(Dict(doc)).size(), 20u);

    OpenUnit b({1, 1, 1});
    EXPECT_EQ(Restore(*b, doc.get()), 0);
    EXPECT_EQ(ToStdString(b->Groups().GetElement(0)->GetName()), "Drums");
    EXPECT_FALSE(b->Groups().GetElement(0)->HasParameterID(2));
    EXPECT_EQ(Param(*b, kGlob, 0, 0), 1.0f);

    // A group record is still accepted when a document has one.
    CFHolder groupDoc(NewDocument(Record(3, 0, {{2, 0.25f}})));
    EXPECT_EQ(Restore(*b, groupDoc.get()), 0);
    EXPECT_EQ(Param(*b, kAudioUnitScope_Group, 0, 2), 0.25f);
}
