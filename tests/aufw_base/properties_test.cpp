// The shared properties of AUBase: formats, host callbacks, names, presets,
// buffers, layouts, connections and callbacks, called directly on a unit.
#include "base_test_unit.h"

#include <aufw/CAAudioChannelLayout.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

using namespace aufw_base_test;

namespace {

CAStreamBasicDescription CanonicalFormat(Float64 rate, UInt32 channels) {
    CAStreamBasicDescription f;
    std::memset(static_cast<AudioStreamBasicDescription*>(&f), 0,
                sizeof(AudioStreamBasicDescription));
    f.mSampleRate = rate;
    f.mFormatID = kAudioFormatLinearPCM;
    f.mFormatFlags =
        kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked | kAudioFormatFlagIsNonInterleaved;
    f.mBytesPerPacket = 4;
    f.mFramesPerPacket = 1;
    f.mBytesPerFrame = 4;
    f.mChannelsPerFrame = channels;
    f.mBitsPerChannel = 32;
    return f;
}

HostCallbackInfo Filled(UInt8 byte) {
    HostCallbackInfo info;
    std::memset(&info, byte, sizeof(info));
    return info;
}

OSStatus DummyRender(void*, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32, UInt32,
                     AudioBufferList*) {
    return 0;
}

class AUBaseProperties : public BaseUnitTest {};

} // namespace

TEST_F(AUBaseProperties, StreamFormatSizesAndSameness) {
    listen(kAudioUnitProperty_StreamFormat);
    CAStreamBasicDescription f = CanonicalFormat(48000, 2);
    // 36 bytes: the reserved word may be left out.
    EXPECT_EQ(set(kAudioUnitProperty_StreamFormat, kIn, 0, &f, 36), 0);
    EXPECT_EQ(unit->GetStreamFormat(kIn, 0).mSampleRate, 48000.0);
    ASSERT_EQ(log.calls.size(), 1u);
    EXPECT_EQ(log.calls[0].scope, kIn);
    EXPECT_EQ(log.calls[0].element, 0u);

    f.mSampleRate = 96000;
    EXPECT_EQ(set(kAudioUnitProperty_StreamFormat, kIn, 0, &f, 35),
              kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(unit->GetStreamFormat(kIn, 0).mSampleRate, 48000.0);

    // The same format again: success and no notification.
    f.mSampleRate = 48000;
    EXPECT_EQ(set(kAudioUnitProperty_StreamFormat, kIn, 0, &f, 40), 0);
    EXPECT_EQ(log.calls.size(), 1u);

    // A format the unit cannot take.
    CAStreamBasicDescription bad = CanonicalFormat(48000, 2);
    bad.mBitsPerChannel = 16;
    bad.mBytesPerFrame = bad.mBytesPerPacket = 2;
    bad.mFormatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsNonInterleaved;
    EXPECT_EQ(set(kAudioUnitProperty_StreamFormat, kOut, 0, &bad, 40),
              kAudioUnitErr_FormatNotSupported);
    // Missing element, scope without I/O elements.
    EXPECT_EQ(set(kAudioUnitProperty_StreamFormat, kOut, 1, &f, 40), kAudioUnitErr_InvalidElement);
    EXPECT_EQ(setRaised(kAudioUnitProperty_StreamFormat, 6, 0, &f, 40), kAudioUnitErr_InvalidScope);

    // The global scope stands for output 0.
    CAStreamBasicDescription mono = CanonicalFormat(44100, 1);
    EXPECT_EQ(set(kAudioUnitProperty_StreamFormat, kGlob, 0, &mono, 40), 0);
    EXPECT_EQ(unit->GetStreamFormat(kOut, 0).mChannelsPerFrame, 1u);
    AudioStreamBasicDescription read{};
    EXPECT_EQ(get(kAudioUnitProperty_StreamFormat, kGlob, 0, &read), 0);
    EXPECT_EQ(read.mChannelsPerFrame, 1u);
    EXPECT_EQ(read.mSampleRate, 44100.0);
}

TEST_F(AUBaseProperties, StreamFormatWritability) {
    EXPECT_EQ(info(kAudioUnitProperty_StreamFormat, kOut), 0);
    EXPECT_TRUE(writable);
    ASSERT_EQ(unit->DoInitialize(), 0);
    EXPECT_EQ(info(kAudioUnitProperty_SampleRate, kIn), 0);
    EXPECT_EQ(size, 8u);
    EXPECT_FALSE(writable);
    CAStreamBasicDescription f = CanonicalFormat(22050, 2);
    EXPECT_EQ(set(kAudioUnitProperty_StreamFormat, kOut, 0, &f, 40),
              kAudioUnitErr_PropertyNotWritable);
    // The format check comes before the writability check.
    f.mFormatID = 0x61616320; // 'aac '
    EXPECT_EQ(set(kAudioUnitProperty_StreamFormat, kOut, 0, &f, 40),
              kAudioUnitErr_FormatNotSupported);
    // Group scope formats are never writable.
    EXPECT_FALSE(unit->IsStreamFormatWritable(kAudioUnitScope_Group, 0));
}

TEST_F(AUBaseProperties, SampleRate) {
    const Float64 rate = 96000;
    EXPECT_EQ(set(kAudioUnitProperty_SampleRate, kOut, 0, &rate, 8), 0);
    Float64 read = 0;
    EXPECT_EQ(get(kAudioUnitProperty_SampleRate, kOut, 0, &read), 0);
    EXPECT_EQ(read, 96000.0);
    // Everything but the rate stayed.
    EXPECT_EQ(unit->GetStreamFormat(kOut, 0).mChannelsPerFrame, 2u);
    EXPECT_EQ(set(kAudioUnitProperty_SampleRate, kOut, 0, &rate, 4),
              kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(set(kAudioUnitProperty_SampleRate, kIn, 3, &rate, 8), kAudioUnitErr_InvalidElement);
}

TEST(AUBaseFormats, CanonicalFormats) {
    // Sample rate and the packed flag are not examined; one interleaved
    // channel is fine, two are not.
    const struct {
        const char* what;
        UInt32 channels;
        UInt32 flagsOff, flagsOn, framesPerPacket, bytesPerPacket;
        bool canonical;
    } rows[] = {
        {"plain", 2, 0, 0, 1, 4, true},
        {"not packed", 2, kAudioFormatFlagIsPacked, 0, 1, 4, true},
        {"one interleaved", 1, kAudioFormatFlagIsNonInterleaved, 0, 1, 4, true},
        {"two interleaved", 2, kAudioFormatFlagIsNonInterleaved, 0, 1, 8, false},
        {"big endian", 2, 0, kAudioFormatFlagIsBigEndian, 1, 4, false},
        {"two frames a packet", 2, 0, 0, 2, 4, false},
        {"eight bytes a packet", 2, 0, 0, 1, 8, false},
    };
    for (const auto& row : rows) {
        CAStreamBasicDescription f = CanonicalFormat(row.canonical ? 0 : 44100, row.channels);
        f.mFormatFlags = (f.mFormatFlags & ~row.flagsOff) | row.flagsOn;
        f.mFramesPerPacket = row.framesPerPacket;
        f.mBytesPerPacket = row.bytesPerPacket;
        if (row.flagsOff == kAudioFormatFlagIsNonInterleaved) {
            f.mBytesPerFrame = row.bytesPerPacket;
        }
        EXPECT_EQ(AUBase::FormatIsCanonical(f), row.canonical) << row.what;
    }
}

TEST_F(AUBaseProperties, HostCallbacksPartlySetAndZeroFilled) {
    listen(kAudioUnitProperty_HostCallbacks);
    const HostCallbackInfo full = Filled(0xAB);
    EXPECT_EQ(set(kAudioUnitProperty_HostCallbacks, kGlob, 0, &full, 40), 0);
    EXPECT_EQ(log.calls.size(), 1u);

    // 16 bytes: those are stored, the remaining 24 are zeroed.
    const HostCallbackInfo part = Filled(0x5C);
    EXPECT_EQ(set(kAudioUnitProperty_HostCallbacks, kGlob, 0, &part, 16), 0);
    EXPECT_EQ(log.calls.size(), 2u);
    HostCallbackInfo read{};
    EXPECT_EQ(get(kAudioUnitProperty_HostCallbacks, kGlob, 0, &read), 0);
    const auto* bytes = reinterpret_cast<const UInt8*>(&read);
    for (size_t i = 0; i < sizeof(read); ++i) {
        EXPECT_EQ(bytes[i], i < 16 ? 0x5C : 0x00) << "byte " << i;
    }

    // The same bytes again: no notification.
    EXPECT_EQ(set(kAudioUnitProperty_HostCallbacks, kGlob, 0, &part, 16), 0);
    EXPECT_EQ(log.calls.size(), 2u);
    // More than 40 bytes: only the record is taken.
    UInt8 longer[64];
    std::memset(longer, 0x11, sizeof(longer));
    EXPECT_EQ(set(kAudioUnitProperty_HostCallbacks, kGlob, 0, longer, sizeof(longer)), 0);
    EXPECT_EQ(unit->GetHostCallbackInfo().hostUserData,
              reinterpret_cast<void*>(0x1111111111111111));
    EXPECT_EQ(set(kAudioUnitProperty_HostCallbacks, kIn, 0, &part, 16), kAudioUnitErr_InvalidScope);

    // Removing zeroes it once; a second removal has nothing to announce.
    const size_t before = log.calls.size();
    EXPECT_EQ(remove(kAudioUnitProperty_HostCallbacks, kGlob), 0);
    EXPECT_EQ(log.calls.size(), before + 1);
    EXPECT_EQ(unit->GetHostCallbackInfo().transportStateProc2, nullptr);
    EXPECT_EQ(remove(kAudioUnitProperty_HostCallbacks, kGlob), 0);
    EXPECT_EQ(log.calls.size(), before + 1);
}

TEST_F(AUBaseProperties, ContextName) {
    CFStringRef read = nullptr;
    EXPECT_EQ(get(kAudioUnitProperty_ContextName, kGlob, 0, &read),
              kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(remove(kAudioUnitProperty_ContextName, kGlob), 0);

    listen(kAudioUnitProperty_ContextName);
    CFStringRef name = MakeString("Track 3");
    EXPECT_EQ(set(kAudioUnitProperty_ContextName, kGlob, 0, &name, sizeof(name)), 0);
    EXPECT_EQ(log.calls.size(), 1u);
    // The unit holds its own reference.
    EXPECT_EQ(CFGetRetainCount(name), 2);
    EXPECT_EQ(get(kAudioUnitProperty_ContextName, kGlob, 0, &read), 0);
    EXPECT_EQ(ToStdString(read), "Track 3");
    EXPECT_EQ(CFGetRetainCount(name), 3);
    CFRelease(read);

    EXPECT_EQ(set(kAudioUnitProperty_ContextName, kGlob, 0, &name, 4),
              kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(set(kAudioUnitProperty_ContextName, kOut, 0, &name, sizeof(name)),
              kAudioUnitErr_InvalidScope);
    EXPECT_EQ(remove(kAudioUnitProperty_ContextName, kGlob), 0);
    EXPECT_EQ(CFGetRetainCount(name), 1);
    EXPECT_EQ(log.calls.size(), 1u);
    CFRelease(name);
}

TEST_F(AUBaseProperties, ElementNames) {
    CFStringRef read = nullptr;
    EXPECT_EQ(get(kAudioUnitProperty_ElementName, kIn, 0, &read),
              kAudioUnitErr_InvalidPropertyValue);
    CFStringRef name = MakeString("Side chain");
    EXPECT_EQ(set(kAudioUnitProperty_ElementName, kIn, 0, &name, 8), 0);
    EXPECT_EQ(get(kAudioUnitProperty_ElementName, kIn, 0, &read), 0);
    EXPECT_EQ(ToStdString(read), "Side chain");
    CFRelease(read);
    EXPECT_EQ(set(kAudioUnitProperty_ElementName, kIn, 4, &name, 8), kAudioUnitErr_InvalidElement);
    EXPECT_EQ(set(kAudioUnitProperty_ElementName, kIn, 0, &name, 7),
              kAudioUnitErr_InvalidPropertyValue);
    CFRelease(name);
}

TEST_F(AUBaseProperties, PresentPreset) {
    listen(kAudioUnitProperty_PresentPreset);
    CFStringRef mine = MakeString("Mine");
    AUPreset user{-3, mine};
    EXPECT_EQ(set(kAudioUnitProperty_PresentPreset, kGlob, 0, &user, sizeof(user)), 0);
    EXPECT_EQ(log.calls.size(), 1u);
    AUPreset read{};
    EXPECT_EQ(get(kAudioUnitProperty_PresentPreset, kGlob, 0, &read), 0);
    EXPECT_EQ(read.presetNumber, -3);
    EXPECT_EQ(ToStdString(read.presetName), "Mine");
    CFRelease(read.presetName);
    CFRelease(mine);
    EXPECT_EQ(ToStdString(unit->GetPresentPreset().presetName), "Mine");

    // A user preset needs a name; a factory preset needs the unit's help.
    AUPreset nameless{-1, nullptr};
    EXPECT_EQ(set(kAudioUnitProperty_PresentPreset, kGlob, 0, &nameless, sizeof(nameless)),
              kAudioUnitErr_InvalidPropertyValue);
    AUPreset factory{0, nullptr};
    EXPECT_EQ(set(kAudioUnitProperty_PresentPreset, kGlob, 0, &factory, sizeof(factory)),
              kAudioUnitErr_InvalidProperty);
    EXPECT_EQ(set(kAudioUnitProperty_PresentPreset, kGlob, 0, &user, 12),
              kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(set(kAudioUnitProperty_PresentPreset, kIn, 0, &user, sizeof(user)),
              kAudioUnitErr_InvalidScope);
    EXPECT_EQ(log.calls.size(), 1u);
    EXPECT_EQ(unit->GetPresentPreset().presetNumber, -3);
    EXPECT_EQ(info(kAudioUnitProperty_FactoryPresets, kGlob), kAudioUnitErr_InvalidProperty);
}

TEST_F(AUBaseProperties, ShouldAllocateBufferAndExternalBuffers) {
    UInt32 flag = 7;
    EXPECT_EQ(get(kAudioUnitProperty_ShouldAllocateBuffer, kOut, 0, &flag), 0);
    EXPECT_EQ(flag, 1u);
    const UInt32 no = 0;
    EXPECT_EQ(set(kAudioUnitProperty_ShouldAllocateBuffer, kIn, 0, &no, 4), 0);
    EXPECT_FALSE(unit->GetInput(0)->WillAllocateBuffer());
    EXPECT_EQ(set(kAudioUnitProperty_ShouldAllocateBuffer, kIn, 2, &no, 4),
              kAudioUnitErr_InvalidElement);
    EXPECT_EQ(set(kAudioUnitProperty_ShouldAllocateBuffer, kIn, 0, &no, 2),
              kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(set(kAudioUnitProperty_ShouldAllocateBuffer, kGlob, 0, &no, 4),
              kAudioUnitErr_InvalidScope);

    // External buffers only on an initialized unit, and only aligned ones.
    const AudioUnitPropertyID ext = kAudioUnitProperty_SetExternalBuffer;
    alignas(16) static Byte memory[8192 * 2 * 4 + 16];
    AudioUnitExternalBuffer external{memory, sizeof(memory) - 16};
    EXPECT_EQ(set(ext, kOut, 0, &external, sizeof(external)), kAudioUnitErr_Uninitialized);
    ASSERT_EQ(unit->DoInitialize(), 0);
    AudioUnitExternalBuffer misaligned{memory + 4, sizeof(memory) - 16};
    EXPECT_EQ(set(ext, kOut, 0, &misaligned, sizeof(misaligned)), kAudio_ParamError);
    AudioUnitExternalBuffer null{nullptr, sizeof(memory)};
    EXPECT_EQ(set(ext, kOut, 0, &null, sizeof(null)), kAudio_ParamError);
    EXPECT_FALSE(unit->GetOutput(0)->IOBuffer().BufferIsExternal());
    EXPECT_EQ(set(ext, kOut, 0, &external, 8), kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(set(ext, kOut, 0, &external, sizeof(external)), 0);
    EXPECT_TRUE(unit->GetOutput(0)->IOBuffer().BufferIsExternal());
    EXPECT_EQ(setRaised(ext, kOut, 3, &external, sizeof(external)), kAudioUnitErr_InvalidElement);
}

TEST_F(AUBaseProperties, ChannelLayouts) {
    const AudioUnitPropertyID lay = kAudioUnitProperty_AudioChannelLayout;
    const AudioUnitPropertyID tags = kAudioUnitProperty_SupportedChannelLayoutTags;
    LayoutOutputElement* out = unit->LayoutOutput(0);
    ASSERT_NE(out, nullptr);
    listen(lay);

    // No layout yet but tags are offered.
    EXPECT_EQ(info(lay, kOut), kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(info(tags, kOut), 0);
    EXPECT_EQ(size, 4u);
    AudioChannelLayoutTag tag = 0;
    EXPECT_EQ(get(tags, kOut, 0, &tag), 0);
    EXPECT_EQ(tag, kAudioChannelLayoutTag_Stereo);
    // Removing a layout that is not there succeeds without asking the
    // element; the success is still announced.
    EXPECT_EQ(remove(lay, kOut), 0);
    EXPECT_EQ(out->removeCalls, 0);
    EXPECT_EQ(log.calls.size(), 1u);

    AudioChannelLayout layout{};
    layout.mChannelLayoutTag = kAudioChannelLayoutTag_Stereo;
    EXPECT_EQ(set(lay, kOut, 0, &layout, 11), kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(set(lay, kOut, 0, &layout, 12), 0);
    EXPECT_EQ(out->setCalls, 1);
    EXPECT_EQ(log.calls.size(), 2u);
    EXPECT_EQ(info(lay, kOut), 0);
    EXPECT_EQ(size, sizeof(AudioChannelLayout));
    EXPECT_TRUE(writable);

    // The channel count must match the element's format.
    layout.mChannelLayoutTag = kAudioChannelLayoutTag_Mono;
    EXPECT_EQ(set(lay, kOut, 0, &layout, 12), kAudioUnitErr_InvalidPropertyValue);
    // A stereo tag the element does not offer.
    layout.mChannelLayoutTag = kAudioChannelLayoutTag_MatrixStereo;
    EXPECT_EQ(set(lay, kOut, 0, &layout, 12), kAudioUnitErr_InvalidPropertyValue);
    // Offering "use channel descriptions" takes any layout of the right width.
    out->tags = {kAudioChannelLayoutTag_UseChannelDescriptions};
    EXPECT_EQ(set(lay, kOut, 0, &layout, 12), 0);
    // A layout with descriptions must bring all of them.
    const auto describedBytes = static_cast<UInt32>(CAAudioChannelLayout::CalculateByteSize(2));
    auto* described = static_cast<AudioChannelLayout*>(std::calloc(1, describedBytes));
    described->mChannelLayoutTag = kAudioChannelLayoutTag_UseChannelDescriptions;
    described->mNumberChannelDescriptions = 2;
    EXPECT_EQ(set(lay, kOut, 0, described, describedBytes - 1), kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(set(lay, kOut, 0, described, describedBytes), 0);
    std::free(described);

    EXPECT_EQ(remove(lay, kOut), 0);
    EXPECT_EQ(out->removeCalls, 1);
    EXPECT_FALSE(out->hasLayout);

    // Without tags the layout is not a property of the element at all.
    out->tags.clear();
    EXPECT_EQ(info(lay, kOut), kAudioUnitErr_InvalidProperty);
    EXPECT_EQ(info(tags, kOut), kAudioUnitErr_InvalidProperty);
    layout.mChannelLayoutTag = kAudioChannelLayoutTag_Stereo;
    EXPECT_EQ(unit->SetAudioChannelLayout(kOut, 0, &layout), kAudioUnitErr_InvalidProperty);
    // Plain input elements have no layouts.
    EXPECT_EQ(info(lay, kIn), kAudioUnitErr_InvalidProperty);
}

TEST_F(AUBaseProperties, RenderCallbackAndConnection) {
    const AudioUnitPropertyID cb = kAudioUnitProperty_SetRenderCallback;
    const AudioUnitPropertyID conn = kAudioUnitProperty_MakeConnection;
    listen(cb);
    listen(conn);

    int refCon = 0;
    AURenderCallbackStruct callback{DummyRender, &refCon};
    EXPECT_EQ(set(cb, kIn, 0, &callback, 15), kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(set(cb, kIn, 0, &callback, sizeof(callback)), 0);
    EXPECT_TRUE(unit->GetInput(0)->IsCallback());
    EXPECT_EQ(unit->GetInput(0)->GetInputProcRefCon(), &refCon);
    ASSERT_EQ(log.calls.size(), 1u);
    EXPECT_EQ(log.calls[0].id, cb);
    EXPECT_EQ(log.calls[0].scope, kIn);
    EXPECT_EQ(setRaised(cb, kIn, 1, &callback, sizeof(callback)), kAudioUnitErr_InvalidElement);

    // A source that is not an open unit: its status, nothing changed.
    AudioUnitConnection connection{reinterpret_cast<AudioUnit>(&refCon), 0, 0};
    EXPECT_NE(set(conn, kIn, 0, &connection, sizeof(connection)), 0);
    EXPECT_TRUE(unit->GetInput(0)->IsCallback());
    EXPECT_EQ(log.Count(conn), 0u);

    // A connection without a source disconnects.
    AudioUnitConnection none{nullptr, 0, 0};
    EXPECT_EQ(set(conn, kIn, 0, &none, sizeof(none)), 0);
    EXPECT_FALSE(unit->GetInput(0)->IsActive());
    EXPECT_EQ(log.Count(conn), 1u);
    EXPECT_EQ(set(conn, kIn, 0, &none, 12), kAudioUnitErr_InvalidPropertyValue);
    AudioUnitConnection missing{nullptr, 0, 2};
    EXPECT_EQ(setRaised(conn, kIn, 0, &missing, sizeof(missing)), kAudioUnitErr_InvalidElement);
}

TEST_F(AUBaseProperties, TailUIIconAndClumpNames) {
    writable = true;
    EXPECT_EQ(info(kAudioUnitProperty_TailTime, kGlob), kAudioUnitErr_InvalidProperty);
    Float64 tail = 0;
    EXPECT_EQ(get(kAudioUnitProperty_TailTime, kGlob, 0, &tail), kAudioUnitErr_InvalidProperty);
    unit->supportsTail = true;
    EXPECT_EQ(info(kAudioUnitProperty_TailTime, kGlob), 0);
    EXPECT_EQ(get(kAudioUnitProperty_TailTime, kGlob, 0, &tail), 0);
    EXPECT_EQ(tail, 0.25);

    AudioUnitParameterNameInfo clump{0, -1, nullptr};
    EXPECT_EQ(get(kAudioUnitProperty_ParameterClumpName, kGlob, 0, &clump),
              kAudioUnitErr_InvalidPropertyValue);
    clump.inID = 3;
    EXPECT_EQ(get(kAudioUnitProperty_ParameterClumpName, kGlob, 0, &clump),
              kAudioUnitErr_InvalidProperty);
}

TEST_F(AUBaseProperties, OtherPropertiesReachTheSubclass) {
    listen(0x10001);
    EXPECT_EQ(info(0x10001, kGlob), 0);
    EXPECT_EQ(size, 4u);
    const UInt32 value = 42;
    EXPECT_EQ(set(0x10001, kGlob, 0, &value, 4), 0);
    EXPECT_EQ(unit->privateValue, 42u);
    EXPECT_EQ(log.calls.size(), 1u);
    // A refused write is not announced.
    EXPECT_EQ(set(0x10001, kIn, 0, &value, 4), kAudioUnitErr_InvalidProperty);
    EXPECT_EQ(log.calls.size(), 1u);
}
