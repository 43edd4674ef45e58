// The ClassInfo document: what a unit saves and what it accepts back.
#include "base_test_unit.h"

#include <bit>
#include <memory>
#include <type_traits>
#include <utility>

using namespace aufw_base_test;

namespace {

using Bytes = std::vector<UInt8>;
struct CFReleaser {
    void operator()(const void* ref) const { CFRelease(ref); }
};
// Owns one Core Foundation reference.
template <class Ref> using CF = std::unique_ptr<std::remove_pointer_t<Ref>, CFReleaser>;
using Doc = CF<CFMutableDictionaryRef>;

CFTypeRef Value(CFDictionaryRef dict, const char* key) {
    CF<CFStringRef> k(MakeString(key));
    return CFDictionaryGetValue(dict, k.get());
}

// Sets a key to a value, or removes it when the value is null.
void SetValue(CFMutableDictionaryRef dict, const char* key, CFTypeRef value) {
    CF<CFStringRef> k(MakeString(key));
    value != nullptr ? CFDictionarySetValue(dict, k.get(), value)
                     : CFDictionaryRemoveValue(dict, k.get());
}

void SetNumber(CFMutableDictionaryRef dict, const char* key, SInt32 value) {
    CF<CFNumberRef> n(CFNumberCreate(nullptr, kCFNumberSInt32Type, &value));
    SetValue(dict, key, n.get());
}

Doc NewDict() {
    return Doc(CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                         &kCFTypeDictionaryValueCallBacks));
}

const std::pair<const char*, SInt32> kIdentity[] = {
    {"version", 0},
    {"type", static_cast<SInt32>(kBaseTestDescription.componentType)},
    {"subtype", static_cast<SInt32>(kBaseTestDescription.componentSubType)},
    {"manufacturer", static_cast<SInt32>(kBaseTestDescription.componentManufacturer)}};

// A valid document for the test unit with the given parameter data.
Doc NewDocument(const Bytes& data) {
    Doc doc = NewDict();
    for (const auto& [key, value] : kIdentity) {
        SetNumber(doc.get(), key, value);
    }
    CF<CFDataRef> d(CFDataCreate(nullptr, data.data(), static_cast<CFIndex>(data.size())));
    SetValue(doc.get(), "data", d.get());
    return doc;
}

// One record: scope, element, count, then {id, value} pairs, big-endian.
Bytes Record(UInt32 scope, UInt32 element, const std::vector<std::pair<UInt32, Float32>>& params) {
    std::vector<UInt32> words{scope, element, static_cast<UInt32>(params.size())};
    for (const auto& [id, value] : params) {
        words.insert(words.end(), {id, std::bit_cast<UInt32>(value)});
    }
    Bytes out;
    for (UInt32 w : words) {
        out.insert(out.end(), {UInt8(w >> 24), UInt8(w >> 16), UInt8(w >> 8), UInt8(w)});
    }
    return out;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Doc Save(AUBase& unit) {
    CFPropertyListRef doc = nullptr;
    EXPECT_EQ(unit.DispatchGetProperty(kAudioUnitProperty_ClassInfo, kGlob, 0, &doc), 0);
    return Doc(static_cast<CFMutableDictionaryRef>(const_cast<void*>(doc)));
}

OSStatus Restore(AUBase& unit, CFTypeRef doc, UInt32 size = sizeof(CFTypeRef),
                 AudioUnitScope scope = kGlob) {
    return Call([&] {
        return unit.DispatchSetProperty(kAudioUnitProperty_ClassInfo, scope, 0, &doc, size);
    });
}

using AUBaseState = BaseUnitTest;

} // namespace

TEST_F(AUBaseState, SavedDocumentAndRoundTripAcrossUnits) {
    unit->Globals0()->SetParameter(0, 1.0f);
    unit->Globals0()->SetParameter(1, 0.5f);
    // The identity as in a valid document, and the data byte for byte.
    Doc plain = Save(*unit),
        expected = NewDocument({0, 0, 0,    0,    0, 0, 0, 0, 0, 0, 0,    2, 0, 0,
                                0, 0, 0x3F, 0x80, 0, 0, 0, 0, 0, 1, 0x3F, 0, 0, 0});
    for (const char* key : {"version", "type", "subtype", "manufacturer", "data"}) {
        EXPECT_TRUE(CFEqual(Value(plain.get(), key), Value(expected.get(), key))) << key;
    }
    // Keys the unit has nothing for are left out.
    EXPECT_EQ(std::make_tuple(ToStdString(static_cast<CFStringRef>(Value(plain.get(), "name"))),
                              CFDictionaryGetCount(plain.get())),
              std::make_tuple("Untitled", 6));
    EXPECT_EQ(about(kAudioUnitProperty_ClassInfo, kGlob), std::make_tuple(0, 8u, true));

    unit->answersQualityAndLoad = true;
    unit->renderQuality = 96;
    unit->cpuLoad = 0.75f;
    unit->GetInput(0)->SetParameter(7, 0.125f);
    CF<CFStringRef> name(MakeString("Warm room"));
    const AUPreset preset{-2, name.get()};
    ASSERT_EQ(set(kAudioUnitProperty_PresentPreset, kGlob, 0, &preset, sizeof(preset)), 0);
    Doc doc = Save(*unit);
    OpenUnit b;
    b->answersQualityAndLoad = true;
    for (AudioUnitPropertyID id : {kAudioUnitProperty_PresentPreset,
                                   kAudioUnitProperty_RenderQuality, kAudioUnitProperty_CPULoad}) {
        b->AddPropertyListener(id, ListenerLog::Proc<1>, &log);
    }
    EXPECT_EQ(Restore(*b, doc.get()), 0);
    EXPECT_EQ(
        std::make_tuple(b->Globals0()->GetParameter(1), b->GetInput(0)->GetParameter(7),
                        b->renderQuality, b->cpuLoad, b->GetPresentPreset().presetNumber,
                        ToStdString(b->GetPresentPreset().presetName), log.Take()),
        std::make_tuple(0.5f, 0.125f, 96u, 0.75f, -1, "Warm room", "1:36/0/0 1:26/0/0 1:6/0/0"));
    // A refused render quality is ignored, and not announced.
    SetNumber(doc.get(), "render-quality", 500);
    EXPECT_EQ(Restore(*b, doc.get()), 0);
    EXPECT_EQ(std::make_tuple(b->renderQuality, log.Take()),
              std::make_tuple(96u, "1:36/0/0 1:6/0/0"));
    // A nameless document gives an untitled user preset; its type is not examined.
    Doc nameless(NewDocument({}));
    SetNumber(nameless.get(), "type", 0x61756D75);
    EXPECT_EQ(Restore(*b, nameless.get()), 0);
    EXPECT_EQ(ToStdString(b->GetPresentPreset().presetName), "Untitled");
}

TEST_F(AUBaseState, RejectedDocumentsAndWhereTheDataEnds) {
    unit->Globals0()->SetParameter(0, 0.25f);
    listen(kAudioUnitProperty_PresentPreset);
    const Bytes data = Record(0, 0, {{0, 0.9f}});
    auto expectRejected = [&](CFTypeRef doc, const std::string& what) {
        EXPECT_EQ(Restore(*unit, doc), kBadValue) << what;
        EXPECT_EQ(std::make_tuple(unit->Globals0()->GetParameter(0), log.Take()),
                  std::make_tuple(0.25f, ""))
            << what;
    };
    // Each row spoils a valid document one way: a number set (or, without
    // one, the key removed).
    const struct {
        const char* key;
        SInt32 value;
        bool remove;
    } rows[] = {{"version", 1, false}, {"version", 0, true},       {"subtype", 1, false},
                {"subtype", 0, true},  {"manufacturer", 1, false}, {"manufacturer", 0, true},
                {"part", 0, false}};
    for (const auto& row : rows) {
        Doc doc(NewDocument(data));
        row.remove ? SetValue(doc.get(), row.key, nullptr)
                   : SetNumber(doc.get(), row.key, row.value);
        expectRejected(doc.get(), row.key);
    }
    CF<CFStringRef> text(MakeString("not a dictionary"));
    expectRejected(text.get(), "a string");
    expectRejected(nullptr, "nothing");
    Doc doc(NewDocument(data));
    SetValue(doc.get(), "data", text.get());
    expectRejected(doc.get(), "data of the wrong type");

    // Data running past its end: a good record then one that claims three
    // parameters but holds two, a count so large its size would wrap, and
    // a header or count field cut short.
    Bytes cut = Record(2, 0, {{1, 1.0f}, {2, 2.0f}, {3, 3.0f}});
    cut.resize(cut.size() - 8);
    Bytes huge = Record(0, 0, {{0, 0.0f}});
    huge[8] = huge[9] = huge[10] = huge[11] = 0xFF;
    std::vector<Bytes> bad = {Record(0, 0, {{0, 0.5f}}) + cut, huge};
    for (size_t keep : {size_t{3}, size_t{8}, size_t{11}}) {
        bad.push_back(Record(0, 0, {{0, 0.5f}}));
        bad.back().resize(keep);
    }
    for (const Bytes& bytes : bad) {
        Doc spoiled(NewDocument(bytes));
        expectRejected(spoiled.get(), "data of " + std::to_string(bytes.size()) + " bytes");
    }
    EXPECT_FALSE(unit->GetOutput(0)->HasParameterID(1));

    // Wrong size or scope of the property itself; then the valid one is taken.
    doc = NewDocument(data);
    EXPECT_EQ(Restore(*unit, doc.get(), 4), kBadValue);
    EXPECT_EQ(Restore(*unit, doc.get(), sizeof(CFTypeRef), kIn), kBadScope);
    EXPECT_EQ(Restore(*unit, doc.get()), 0);
    EXPECT_EQ(unit->Globals0()->GetParameter(0), 0.9f);

    // Records for elements the unit lacks end the data.
    // Whatever follows is not looked at, even when it is malformed.
    doc = NewDocument(Record(0, 0, {{4, 4.0f}}) + Record(1, 0, {{5, 5.0f}}) +
                      Record(2, 5, {{6, 6.0f}}) + Bytes{0xEE});
    EXPECT_EQ(Restore(*unit, doc.get()), 0);
    EXPECT_EQ(
        std::make_tuple(unit->Globals0()->GetParameter(4), unit->GetInput(0)->GetParameter(5)),
        std::make_tuple(4.0f, 5.0f));
    // The last record may stop right after naming a missing element.
    for (size_t keep : {size_t{8}, size_t{11}}) {
        Bytes missing = Record(2, 5, {{6, 6.0f}});
        missing.resize(keep);
        Doc tailDoc(NewDocument(Record(0, 0, {{4, 2.0f + keep}}) + missing));
        EXPECT_EQ(Restore(*unit, tailDoc.get()), 0) << keep;
        EXPECT_EQ(unit->Globals0()->GetParameter(4), 2.0f + keep) << keep;
    }
    // A scope the unit cannot resolve, and an indexed parameter beyond the
    // element's array, end the restore with an error after what came before.
    Doc extended(NewDocument(Record(0, 0, {{4, 8.0f}}) + Record(4, 0, {{1, 1.0f}})));
    EXPECT_EQ(Restore(*unit, extended.get()), kBadScope);
    EXPECT_EQ(unit->Globals0()->GetParameter(4), 8.0f);
    unit->Globals0()->UseIndexedParameters(2);
    Doc indexed(NewDocument(Record(0, 0, {{1, 0.5f}, {2, 7.0f}})));
    EXPECT_EQ(Restore(*unit, indexed.get()), kAudioUnitErr_InvalidParameter);
    EXPECT_EQ(unit->Globals0()->GetParameter(1), 0.5f);
}

TEST(AUBaseStateNames, ElementNamesGrowAScopeAndGroupParametersAreNotSaved) {
    Doc saved;
    {
        OpenUnit a({2, 1, 1});
        ListenerLog log;
        a->AddPropertyListener(kAudioUnitProperty_ElementCount, ListenerLog::Proc<1>, &log);
        Doc doc(NewDocument({})), names(NewDict()), inputNames(NewDict());
        CF<CFStringRef> name(MakeString("Aux return"));
        SetValue(inputNames.get(), "3", name.get());
        SetValue(names.get(), "1", inputNames.get());
        SetValue(doc.get(), "element-name", names.get());
        EXPECT_EQ(Restore(*a, doc.get()), 0);
        EXPECT_EQ(std::make_tuple(a->Inputs().GetNumberOfElements(),
                                  ToStdString(a->GetInput(3)->GetName()), a->GetInput(2)->HasName(),
                                  log.Take()),
                  std::make_tuple(4u, "Aux return", false, "1:11/1/0"));

        a->Groups().GetElement(0)->SetParameter(2, 0.5f);
        a->Globals0()->SetParameter(0, 1.0f);
        CFStringRef drums = CFSTR("Drums");
        ASSERT_EQ(a->DispatchSetProperty(kAudioUnitProperty_ElementName, kAudioUnitScope_Group, 0,
                                         &drums, sizeof(drums)),
                  0);
        saved = Save(*a);
    }
    // Saving lists exactly the named elements, and only the global record.
    auto savedNames = static_cast<CFDictionaryRef>(Value(saved.get(), "element-name"));
    ASSERT_NE(savedNames, nullptr);
    auto savedInputs = static_cast<CFDictionaryRef>(Value(savedNames, "1"));
    ASSERT_NE(savedInputs, nullptr);
    EXPECT_EQ(std::make_tuple(CFDictionaryGetCount(savedNames), CFDictionaryGetCount(savedInputs),
                              ToStdString(static_cast<CFStringRef>(Value(savedInputs, "3"))),
                              CFDataGetLength(static_cast<CFDataRef>(Value(saved.get(), "data")))),
              std::make_tuple(2, 1, "Aux return", 20));

    OpenUnit b({1, 1, 1});
    EXPECT_EQ(Restore(*b, saved.get()), 0);
    EXPECT_EQ(ToStdString(b->Groups().GetElement(0)->GetName()), "Drums");
    EXPECT_FALSE(b->Groups().GetElement(0)->HasParameterID(2));
    EXPECT_EQ(b->Globals0()->GetParameter(0), 1.0f);
    // A group record is still accepted when a document has one.
    Doc groupDoc(NewDocument(Record(3, 0, {{2, 0.25f}})));
    EXPECT_EQ(Restore(*b, groupDoc.get()), 0);
    EXPECT_EQ(b->Groups().GetElement(0)->GetParameter(2), 0.25f);
}
