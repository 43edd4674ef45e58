// What only the Audio Component factory entry has: the record's layout, the
// copy rule of property reads, and the methods of the other kinds of unit.
#include "entry_support.h"

#include <aufw/AUBase.h>

#include <cstdlib>
#include <cstring>
#include <tuple>

using namespace entrytest;
using namespace testunit;

namespace {

constexpr AudioUnitScope kOut = kAudioUnitScope_Output;
constexpr AudioUnitScope kGlob = kAudioUnitScope_Global;

// A factory record with an open unit in it, closed at the end.
class FactoryPath : public ::testing::Test {
protected:
    void SetUp() override {
        VXTestUnitResetLog();
        ASSERT_EQ(record->Open(record, madeUpInstance(2)), 0);
    }
    void TearDown() override {
        EXPECT_EQ(record->Close(record), 0);
        EXPECT_EQ(unitLog().live, 0) << "a unit was left open";
    }
    OSStatus get(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element, void* data,
                 UInt32* size) {
        return ac(record, kAudioUnitGetPropertySelect, id, scope, element, data, size);
    }

    AudioComponentPlugInInterface* record = VXTestUnitFactory(nullptr);
};

} // namespace

TEST_F(FactoryPath, RecordHoldsEightSlotsThenTheUnit) {
    void* const* slots = reinterpret_cast<void* const*>(record);
    EXPECT_EQ(slots[0], reinterpret_cast<void*>(&AP_Open));
    EXPECT_EQ(slots[1], reinterpret_cast<void*>(&AP_Close));
    EXPECT_EQ(slots[2], reinterpret_cast<void*>(&AUBaseLookup::Lookup));
    EXPECT_EQ(slots[3], nullptr);
    EXPECT_EQ(unitLog().lastUnit, static_cast<const void*>(slots + 8));
    // Each factory call gives a record of its own.
    AudioComponentPlugInInterface* other = VXTestUnitFactory(nullptr);
    EXPECT_NE(other, record);
    std::free(other); // never opened: a plain block
    // A missing record.
    EXPECT_EQ(reinterpret_cast<OSStatus (*)(void*)>(AUBaseLookup::Lookup(1))(nullptr), paramErr);
    EXPECT_EQ(AP_Close(nullptr), paramErr);
    EXPECT_EQ(AP_Open(nullptr, madeUpInstance(1)), paramErr);
}

TEST_F(FactoryPath, PropertyReadsFollowTheCopyRule) {
    constexpr AudioUnitPropertyID kRate = kAudioUnitProperty_SampleRate;
    // A read needs a size; information requests take missing out-pointers.
    Float64 rate = -1;
    EXPECT_EQ(get(kRate, kOut, 0, &rate, nullptr), paramErr);
    EXPECT_EQ(ac(record, kAudioUnitGetPropertyInfoSelect, UInt32{kRate}, kOut, UInt32{0},
                 static_cast<UInt32*>(nullptr), static_cast<Boolean*>(nullptr)),
              0);
    // No data pointer: the size alone.
    UInt32 size = 3;
    EXPECT_EQ(get(kRate, kOut, 0, nullptr, &size), 0);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(get(kRate, 9, 0, nullptr, &size), kAudioUnitErr_InvalidScope);
    // A size of 0 with a buffer.
    size = 0;
    EXPECT_EQ(get(kRate, kOut, 0, &rate, &size), paramErr);
    EXPECT_EQ(rate, -1);
    // A short buffer gets the first bytes and keeps its size; a long one gets
    // the whole value and the property's size; a misaligned one the value.
    const Float64 expected = 44100.0;
    alignas(8) unsigned char bytes[24];
    for (const auto& [offset, asked, told] :
         {std::tuple{0u, 4u, 4u}, {0u, 12u, 8u}, {1u, 8u, 8u}}) {
        std::memset(bytes, 0xEE, sizeof bytes);
        size = asked;
        EXPECT_EQ(get(kRate, kOut, 0, bytes + offset, &size), 0) << asked;
        EXPECT_EQ(size, told);
        EXPECT_EQ(std::memcmp(bytes + offset, &expected, told), 0) << asked;
        EXPECT_EQ(bytes[offset + told], 0xEE) << asked;
    }
    // A failed read answers a size of 0.
    size = 4;
    UInt32 kind = 0;
    EXPECT_EQ(get(kRaiseProperty, kGlob, kRaiseCAXException, &kind, &size), kRaisedStatus);
    EXPECT_EQ(size, 0u);

    // A short read of an object does not leak it; a whole read hands the
    // caller a reference of its own.
    CFStringRef name = CFStringCreateWithCString(nullptr, "context", kCFStringEncodingUTF8);
    ASSERT_EQ(ac(record, kAudioUnitSetPropertySelect, UInt32{kAudioUnitProperty_ContextName}, kGlob,
                 UInt32{0}, static_cast<const void*>(&name), UInt32{sizeof name}),
              0);
    const CFIndex held = CFGetRetainCount(name);
    size = 4;
    EXPECT_EQ(get(kAudioUnitProperty_ContextName, kGlob, 0, bytes, &size), 0);
    EXPECT_EQ(std::memcmp(bytes, &name, 4), 0);
    EXPECT_EQ(CFGetRetainCount(name), held);
    CFStringRef back = nullptr;
    size = sizeof back;
    EXPECT_EQ(get(kAudioUnitProperty_ContextName, kGlob, 0, &back, &size), 0);
    EXPECT_EQ(back, name);
    EXPECT_EQ(CFGetRetainCount(name), held + 1);
    CFRelease(back);
    CFRelease(name);
}

TEST_F(FactoryPath, MethodsOfOtherKindsOfUnitCheckTheirArguments) {
    auto call = [&](auto lookup, SInt16 selector, auto... args) {
        using Method = OSStatus (*)(void*, decltype(args)...);
        AudioComponentMethod m = lookup(selector);
        EXPECT_NE(m, nullptr) << selector;
        return m ? reinterpret_cast<Method>(m)(record, args...) : badComponentSelector;
    };
    // The unit itself does not implement these; missing pointers are refused first.
    constexpr OSStatus kUnimplemented = AUBase::kAUBaseUnimplemented;
    EXPECT_EQ(call(AUOutputLookup::Lookup, 513), kUnimplemented);
    EXPECT_EQ(call(AUMIDILookup::Lookup, 257, UInt32{0x90}, UInt32{60}, UInt32{100}, UInt32{0}),
              kUnimplemented);
    EXPECT_EQ(call(AUMusicLookup::Lookup, 262, UInt32{0}, UInt32{1}, UInt32{0}), kUnimplemented);
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
    EXPECT_EQ(process(nullptr, &ts, list), kAudioUnitErr_Uninitialized);
    const AudioBufferList* inputs[1] = {list};
    AudioBufferList* outputs[1] = {list};
    const auto processMultiple = [&](Stamp t, const AudioBufferList** in, AudioBufferList** out) {
        return call(AUBaseProcessMultipleLookup::Lookup, 21, &flags, t, UInt32{16}, UInt32{1}, in,
                    UInt32{1}, out);
    };
    flags = 0;
    EXPECT_EQ(processMultiple(&ts, nullptr, outputs), paramErr);
    EXPECT_EQ(processMultiple(&ts, inputs, nullptr), paramErr);
    EXPECT_EQ(processMultiple(nullptr, inputs, outputs), paramErr);
    EXPECT_EQ(processMultiple(&ts, inputs, outputs), kAudioUnitErr_Uninitialized);
}
