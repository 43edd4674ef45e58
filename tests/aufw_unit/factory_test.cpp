// What only the Audio Component factory entry has: the record's layout, an
// open from inside a construction, the copy rule of property reads, and the
// methods of the other kinds of unit.

#include "entry_support.h"

#include <aufw/AUBase.h>

#include <AudioUnit/AudioUnitProperties.h>
#include <CoreFoundation/CoreFoundation.h>

#include <gtest/gtest.h>

#include <cstdlib>

using namespace entrytest;
using namespace testunit;

namespace {

constexpr AudioUnitScope kOut = kAudioUnitScope_Output;
constexpr AudioUnitScope kGlob = kAudioUnitScope_Global;

struct Record {
    AudioComponentPlugInInterface* iface = nullptr;
    AudioComponentPlugInInstance* record() const {
        return reinterpret_cast<AudioComponentPlugInInstance*>(iface);
    }
    AUBase* unit() const { return record()->Unit(); }
};

// A factory record with an open unit in it.
Record openRecord(int n = 1) {
    Record r;
    r.iface = VXTestUnitFactory(nullptr);
    EXPECT_NE(r.iface, nullptr);
    EXPECT_EQ(r.iface->Open(r.iface, madeUpInstance(n)), 0);
    return r;
}

OSStatus getProp(const Record& r, AudioUnitPropertyID id, AudioUnitScope scope,
                 AudioUnitElement element, void* data, UInt32* size) {
    return ac(r.iface, kAudioUnitGetPropertySelect, id, scope, element, data, size);
}

OSStatus setProp(const Record& r, AudioUnitPropertyID id, AudioUnitScope scope,
                 AudioUnitElement element, const void* data, UInt32 size) {
    return ac(r.iface, kAudioUnitSetPropertySelect, id, scope, element, data, size);
}

void closeRecord(Record& r) {
    EXPECT_EQ(r.iface->Close(r.iface), 0);
    r.iface = nullptr;
}

class FactoryPath : public ::testing::Test {
protected:
    void SetUp() override {
        VXTestUnitResetLog();
        VXTestUnitSetOpenFailure(kFailNowhere, kRaiseNothing);
    }
    void TearDown() override {
        VXTestUnitSetOpenFailure(kFailNowhere, kRaiseNothing);
        EXPECT_EQ(unitLog().live, 0) << "a unit was left open";
    }
};

} // namespace

TEST_F(FactoryPath, RecordHoldsEightSlotsThenTheUnit) {
    AudioComponentPlugInInterface* iface = VXTestUnitFactory(nullptr);
    ASSERT_NE(iface, nullptr);
    void* const* slots = reinterpret_cast<void* const*>(iface);
    EXPECT_EQ(slots[0], reinterpret_cast<void*>(&AP_Open));
    EXPECT_EQ(slots[1], reinterpret_cast<void*>(&AP_Close));
    EXPECT_EQ(slots[2], reinterpret_cast<void*>(&AUBaseLookup::Lookup));
    EXPECT_EQ(slots[3], nullptr);
    EXPECT_NE(slots[4], nullptr); // construct
    EXPECT_NE(slots[5], nullptr); // destruct
    EXPECT_EQ(slots[6], nullptr);
    EXPECT_EQ(slots[7], nullptr);
    EXPECT_EQ(unitLog().constructed, 0); // nothing is built before the open

    ASSERT_EQ(iface->Open(iface, madeUpInstance(2)), 0);
    // The unit lives right after the eighth slot.
    EXPECT_EQ(unitLog().lastUnit, static_cast<const void*>(slots + 8));
    EXPECT_EQ(unitLog().lastInstance, madeUpInstance(2));
    EXPECT_EQ(static_cast<AUBase*>(unitLog().lastUnit)->GetComponentInstance(), madeUpInstance(2));
    // Each factory call gives a record of its own.
    AudioComponentPlugInInterface* other = VXTestUnitFactory(nullptr);
    EXPECT_NE(other, iface);
    std::free(other); // never opened: a plain block
    EXPECT_EQ(iface->Close(iface), 0);
    // A missing record.
    EXPECT_EQ(reinterpret_cast<OSStatus (*)(void*)>(AUBaseLookup::Lookup(1))(nullptr), paramErr);
    EXPECT_EQ(AP_Close(nullptr), paramErr);
    EXPECT_EQ(AP_Open(nullptr, madeUpInstance(1)), paramErr);
}

TEST_F(FactoryPath, AnOpenFromInsideAConstructionDoesNotBlock) {
    const AudioComponentDescription d{kAudioUnitType_Effect, 0x56784e73 /* 'VxNs' */,
                                      0x56785473 /* 'VxTs' */, 0, 0};
    AudioComponent component =
        AudioComponentRegister(&d, CFSTR("Vextra Test: Nested"), 1, VXTestUnitFactory);
    ASSERT_NE(component, nullptr);
    VXTestUnitSetNestedOpen(component);
    AudioComponentInstance unit = nullptr;
    ASSERT_EQ(AudioComponentInstanceNew(component, &unit), 0);
    EXPECT_EQ(unitLog().nestedOpenStatus, 0);
    EXPECT_EQ(unitLog().constructed, 2);
    EXPECT_EQ(unitLog().live, 1);
    // The unit found its description through the platform's services.
    const AudioComponentDescription seen =
        static_cast<AUBase*>(unitLog().lastUnit)->GetComponentDescription();
    EXPECT_EQ(seen.componentSubType, d.componentSubType);
    EXPECT_EQ(AudioComponentInstanceDispose(unit), 0);
}

TEST_F(FactoryPath, PropertyReadsFollowTheCopyRule) {
    Record r = openRecord();
    const auto get = [&](AudioUnitPropertyID id, AudioUnitScope scope, void* data, UInt32* size) {
        return ac(r.iface, kAudioUnitGetPropertySelect, id, scope, UInt32{0}, data, size);
    };
    // A read needs a size; information requests take missing out-pointers.
    Float64 rate = -1;
    EXPECT_EQ(get(kAudioUnitProperty_SampleRate, kOut, &rate, nullptr), paramErr);
    EXPECT_EQ(ac(r.iface, kAudioUnitGetPropertyInfoSelect, UInt32{kAudioUnitProperty_SampleRate},
                 kOut, UInt32{0}, static_cast<UInt32*>(nullptr), static_cast<Boolean*>(nullptr)),
              0);
    // No data pointer: the size alone.
    UInt32 size = 3;
    EXPECT_EQ(get(kAudioUnitProperty_SampleRate, kOut, nullptr, &size), 0);
    EXPECT_EQ(size, 8u);
    size = 3;
    EXPECT_EQ(get(kAudioUnitProperty_SampleRate, 9, nullptr, &size), kAudioUnitErr_InvalidScope);
    // A size of 0 with a buffer.
    size = 0;
    EXPECT_EQ(get(kAudioUnitProperty_SampleRate, kOut, &rate, &size), paramErr);
    EXPECT_EQ(rate, -1);
    // A 4-byte buffer for the 8-byte sample rate gets the first 4 bytes and
    // keeps its size.
    const Float64 expected = 44100.0;
    unsigned char bytes[12];
    std::memset(bytes, 0xEE, sizeof bytes);
    size = 4;
    EXPECT_EQ(get(kAudioUnitProperty_SampleRate, kOut, bytes, &size), 0);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(std::memcmp(bytes, &expected, 4), 0);
    EXPECT_EQ(bytes[4], 0xEE);
    // A long buffer gets the whole value and the property's size.
    size = sizeof bytes;
    EXPECT_EQ(get(kAudioUnitProperty_SampleRate, kOut, bytes, &size), 0);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(std::memcmp(bytes, &expected, 8), 0);
    EXPECT_EQ(bytes[8], 0xEE);
    // A buffer that is not aligned for the value still gets it.
    alignas(8) unsigned char wide[24];
    size = 8;
    EXPECT_EQ(get(kAudioUnitProperty_SampleRate, kOut, wide + 1, &size), 0);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(std::memcmp(wide + 1, &expected, 8), 0);
    // A failed read answers a size of 0.
    size = 4;
    UInt32 kind = 0;
    EXPECT_EQ(getProp(r, kRaiseProperty, kGlob, kRaiseCAXException, &kind, &size), kRaisedStatus);
    EXPECT_EQ(size, 0u);
    closeRecord(r);
}

TEST_F(FactoryPath, AShortReadOfAnObjectDoesNotLeakIt) {
    Record r = openRecord();
    CFStringRef name = CFStringCreateWithCString(nullptr, "context", kCFStringEncodingUTF8);
    ASSERT_EQ(setProp(r, kAudioUnitProperty_ContextName, kGlob, 0, &name, sizeof name), 0);
    const CFIndex held = CFGetRetainCount(name);
    unsigned char half[4];
    UInt32 size = sizeof half;
    EXPECT_EQ(getProp(r, kAudioUnitProperty_ContextName, kGlob, 0, half, &size), 0);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(std::memcmp(half, &name, 4), 0);
    EXPECT_EQ(CFGetRetainCount(name), held);
    // A whole read hands the caller a reference of its own.
    CFStringRef back = nullptr;
    size = sizeof back;
    EXPECT_EQ(getProp(r, kAudioUnitProperty_ContextName, kGlob, 0, &back, &size), 0);
    EXPECT_EQ(back, name);
    EXPECT_EQ(CFGetRetainCount(name), held + 1);
    CFRelease(back);
    CFRelease(name);
    closeRecord(r);
}

TEST_F(FactoryPath, MethodsOfOtherKindsOfUnitCheckTheirArguments) {
    Record r = openRecord();
    auto call = [&](auto lookup, SInt16 selector, auto... args) {
        using Method = OSStatus (*)(void*, decltype(args)...);
        AudioComponentMethod m = lookup(selector);
        EXPECT_NE(m, nullptr) << selector;
        return m ? reinterpret_cast<Method>(m)(r.iface, args...) : badComponentSelector;
    };
    constexpr OSStatus kUnimplemented = AUBase::kAUBaseUnimplemented;
    // The unit itself does not implement these.
    EXPECT_EQ(call(AUOutputLookup::Lookup, 513), kUnimplemented);
    EXPECT_EQ(call(AUOutputLookup::Lookup, 514), kUnimplemented);
    EXPECT_EQ(call(AUMIDILookup::Lookup, 257, UInt32{0x90}, UInt32{60}, UInt32{100}, UInt32{0}),
              kUnimplemented);
    EXPECT_EQ(call(AUMusicLookup::Lookup, 259, UInt32{1}), kUnimplemented);
    EXPECT_EQ(call(AUMusicLookup::Lookup, 260, UInt32{1}), kUnimplemented);
    EXPECT_EQ(call(AUMusicLookup::Lookup, 262, UInt32{0}, UInt32{1}, UInt32{0}), kUnimplemented);
    // Missing pointers are refused first.
    const UInt8 sysex[3] = {0xF0, 0x01, 0xF7};
    using Bytes = const UInt8*;
    EXPECT_EQ(call(AUMIDILookup::Lookup, 258, Bytes{}, UInt32{3}), paramErr);
    EXPECT_EQ(call(AUMIDILookup::Lookup, 258, Bytes{sysex}, UInt32{3}), kUnimplemented);
    NoteInstanceID note = 0;
    using NoteParams = const MusicDeviceNoteParams*;
    const auto startNote = [&](NoteInstanceID* id, NoteParams params) {
        return call(AUMusicLookup::Lookup, 261, UInt32{1}, UInt32{0}, id, UInt32{0}, params);
    };
    EXPECT_EQ(startNote(&note, nullptr), paramErr);
    EXPECT_EQ(startNote(nullptr, reinterpret_cast<NoteParams>(sysex)), paramErr);

    using Stamp = const AudioTimeStamp*;
    using List = AudioBufferList*;
    AudioTimeStamp ts{};
    AudioUnitRenderActionFlags flags = 0;
    UInt32 packets = 0;
    float samples[2][16] = {};
    alignas(AudioBufferList) unsigned char listBytes[sizeof(AudioBufferList) + sizeof(AudioBuffer)];
    auto* list = reinterpret_cast<AudioBufferList*>(listBytes);
    list->mNumberBuffers = 2;
    for (int b = 0; b < 2; ++b) {
        list->mBuffers[b] = {1, sizeof samples[b], samples[b]};
    }
    const auto complexRender = [&](Stamp t, List l) {
        return call(AUComplexOutputLookup::Lookup, 19, &flags, t, UInt32{0}, UInt32{1}, &packets,
                    static_cast<AudioStreamPacketDescription*>(nullptr), l,
                    static_cast<void*>(nullptr), static_cast<UInt32*>(nullptr));
    };
    EXPECT_EQ(complexRender(nullptr, nullptr), paramErr);
    EXPECT_EQ(complexRender(&ts, list), kUnimplemented);

    // Process: a missing time stamp or list is refused, with or without the
    // do-not-check flag; with them, the unit's own checks answer.
    const auto process = [&](AudioUnitRenderActionFlags* f, Stamp t, List l) {
        return call(AUBaseProcessLookup::Lookup, 20, f, t, UInt32{16}, l);
    };
    for (AudioUnitRenderActionFlags f : {0u, 0x200u}) {
        flags = f;
        EXPECT_EQ(process(&flags, nullptr, list), paramErr) << f;
        EXPECT_EQ(process(&flags, &ts, nullptr), paramErr) << f;
    }
    flags = 0;
    EXPECT_EQ(process(&flags, &ts, list), kAudioUnitErr_Uninitialized);
    EXPECT_EQ(process(nullptr, &ts, list), kAudioUnitErr_Uninitialized);
    const AudioBufferList* inputs[1] = {list};
    AudioBufferList* outputs[1] = {list};
    using Inputs = const AudioBufferList**;
    using Outputs = AudioBufferList**;
    const auto processMultiple = [&](Stamp t, Inputs in, Outputs out) {
        return call(AUBaseProcessMultipleLookup::Lookup, 21, &flags, t, UInt32{16}, UInt32{1}, in,
                    UInt32{1}, out);
    };
    EXPECT_EQ(processMultiple(&ts, nullptr, outputs), paramErr);
    EXPECT_EQ(processMultiple(&ts, inputs, nullptr), paramErr);
    EXPECT_EQ(processMultiple(nullptr, inputs, outputs), paramErr);
    EXPECT_EQ(processMultiple(&ts, inputs, outputs), kAudioUnitErr_Uninitialized);
    closeRecord(r);
}
