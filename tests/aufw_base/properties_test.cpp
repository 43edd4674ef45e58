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

} // namespace

TEST(AUBaseProperties, StreamFormatSizesAndSameness) {
    OpenUnit unit;
    ListenerLog log;
    unit->AddPropertyListener(kAudioUnitProperty_StreamFormat, ListenerLog::Proc, &log);

    CAStreamBasicDescription f = CanonicalFormat(48000, 2);
    // 36 bytes: the reserved word may be left out.
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 0,
                                        &f, 36),
              0);
    EXPECT_EQ(unit->GetStreamFormat(kAudioUnitScope_Input, 0).mSampleRate, 48000.0);
    ASSERT_EQ(log.calls.size(), 1u);
    EXPECT_EQ(log.calls[0].scope, kAudioUnitScope_Input);
    EXPECT_EQ(log.calls[0].element, 0u);

    f.mSampleRate = 96000;
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 0,
                                        &f, 35),
              kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(unit->GetStreamFormat(kAudioUnitScope_Input, 0).mSampleRate, 48000.0);

    // The same format again: success and no notification.
    f.mSampleRate = 48000;
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 0,
                                        &f, sizeof(AudioStreamBasicDescription)),
              0);
    EXPECT_EQ(log.calls.size(), 1u);

    // A format the unit cannot take.
    CAStreamBasicDescription bad = CanonicalFormat(48000, 2);
    bad.mBitsPerChannel = 16;
    bad.mBytesPerFrame = bad.mBytesPerPacket = 2;
    bad.mFormatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsNonInterleaved;
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0,
                                        &bad, 40),
              kAudioUnitErr_FormatNotSupported);
    // Missing element, scope without I/O elements.
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 1,
                                        &f, 40),
              kAudioUnitErr_InvalidElement);
    EXPECT_EQ(Call([&] {
                  return unit->DispatchSetProperty(kAudioUnitProperty_StreamFormat, 6, 0, &f, 40);
              }),
              kAudioUnitErr_InvalidScope);

    // The global scope stands for output 0.
    CAStreamBasicDescription mono = CanonicalFormat(44100, 1);
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Global, 0,
                                        &mono, 40),
              0);
    EXPECT_EQ(unit->GetStreamFormat(kAudioUnitScope_Output, 0).mChannelsPerFrame, 1u);
    AudioStreamBasicDescription read{};
    EXPECT_EQ(unit->DispatchGetProperty(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Global, 0,
                                        &read),
              0);
    EXPECT_EQ(read.mChannelsPerFrame, 1u);
    EXPECT_EQ(read.mSampleRate, 44100.0);
}

TEST(AUBaseProperties, StreamFormatWritability) {
    OpenUnit unit;
    UInt32 size = 0;
    Boolean writable = false;
    EXPECT_EQ(unit->DispatchGetPropertyInfo(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output,
                                            0, size, writable),
              0);
    EXPECT_TRUE(writable);
    ASSERT_EQ(unit->DoInitialize(), 0);
    EXPECT_EQ(unit->DispatchGetPropertyInfo(kAudioUnitProperty_SampleRate, kAudioUnitScope_Input, 0,
                                            size, writable),
              0);
    EXPECT_EQ(size, 8u);
    EXPECT_FALSE(writable);
    CAStreamBasicDescription f = CanonicalFormat(22050, 2);
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0,
                                        &f, 40),
              kAudioUnitErr_PropertyNotWritable);
    // The format check comes before the writability check.
    f.mFormatID = 0x61616320; // 'aac '
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0,
                                        &f, 40),
              kAudioUnitErr_FormatNotSupported);
    // Group scope formats are never writable.
    EXPECT_FALSE(unit->IsStreamFormatWritable(kAudioUnitScope_Group, 0));
}

TEST(AUBaseProperties, SampleRate) {
    OpenUnit unit;
    const Float64 rate = 96000;
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_SampleRate, kAudioUnitScope_Output, 0,
                                        &rate, 8),
              0);
    Float64 read = 0;
    EXPECT_EQ(
        unit->DispatchGetProperty(kAudioUnitProperty_SampleRate, kAudioUnitScope_Output, 0, &read),
        0);
    EXPECT_EQ(read, 96000.0);
    // Everything but the rate stayed.
    EXPECT_EQ(unit->GetStreamFormat(kAudioUnitScope_Output, 0).mChannelsPerFrame, 2u);
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_SampleRate, kAudioUnitScope_Output, 0,
                                        &rate, 4),
              kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_SampleRate, kAudioUnitScope_Input, 3,
                                        &rate, 8),
              kAudioUnitErr_InvalidElement);
}

TEST(AUBaseProperties, CanonicalFormats) {
    EXPECT_TRUE(AUBase::FormatIsCanonical(CanonicalFormat(44100, 2)));
    // Sample rate and the packed flag are not examined.
    CAStreamBasicDescription f = CanonicalFormat(0, 2);
    f.mFormatFlags &= ~kAudioFormatFlagIsPacked;
    EXPECT_TRUE(AUBase::FormatIsCanonical(f));
    // One interleaved channel is fine; two interleaved channels are not.
    f = CanonicalFormat(44100, 1);
    f.mFormatFlags &= ~kAudioFormatFlagIsNonInterleaved;
    EXPECT_TRUE(AUBase::FormatIsCanonical(f));
    f.mChannelsPerFrame = 2;
    f.mBytesPerFrame = f.mBytesPerPacket = 8;
    EXPECT_FALSE(AUBase::FormatIsCanonical(f));
    f = CanonicalFormat(44100, 2);
    f.mFormatFlags |= kAudioFormatFlagIsBigEndian;
    EXPECT_FALSE(AUBase::FormatIsCanonical(f));
    f = CanonicalFormat(44100, 2);
    f.mFramesPerPacket = 2;
    EXPECT_FALSE(AUBase::FormatIsCanonical(f));
    f = CanonicalFormat(44100, 2);
    f.mBytesPerPacket = 8;
    EXPECT_FALSE(AUBase::FormatIsCanonical(f));
}

TEST(AUBaseProperties, HostCallbacksPartlySetAndZeroFilled) {
    OpenUnit unit;
    ListenerLog log;
    unit->AddPropertyListener(kAudioUnitProperty_HostCallbacks, ListenerLog::Proc, &log);

    const HostCallbackInfo full = Filled(0xAB);
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_HostCallbacks, kAudioUnitScope_Global, 0,
                                        &full, 40),
              0);
    EXPECT_EQ(log.calls.size(), 1u);

    // 16 bytes: those are stored, the remaining 24 are zeroed.
    const HostCallbackInfo part = Filled(0x5C);
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_HostCallbacks, kAudioUnitScope_Global, 0,
                                        &part, 16),
              0);
    EXPECT_EQ(log.calls.size(), 2u);
    HostCallbackInfo read{};
    EXPECT_EQ(unit->DispatchGetProperty(kAudioUnitProperty_HostCallbacks, kAudioUnitScope_Global, 0,
                                        &read),
              0);
    const auto* bytes = reinterpret_cast<const UInt8*>(&read);
    for (size_t i = 0; i < sizeof(read); ++i) {
        EXPECT_EQ(bytes[i], i < 16 ? 0x5C : 0x00) << "byte " << i;
    }

    // The same bytes again: no notification.
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_HostCallbacks, kAudioUnitScope_Global, 0,
                                        &part, 16),
              0);
    EXPECT_EQ(log.calls.size(), 2u);
    // More than 40 bytes: only the record is taken.
    UInt8 longer[64];
    std::memset(longer, 0x11, sizeof(longer));
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_HostCallbacks, kAudioUnitScope_Global, 0,
                                        longer, sizeof(longer)),
              0);
    EXPECT_EQ(unit->GetHostCallbackInfo().hostUserData,
              reinterpret_cast<void*>(0x1111111111111111));

    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_HostCallbacks, kAudioUnitScope_Input, 0,
                                        &part, 16),
              kAudioUnitErr_InvalidScope);

    // Removing zeroes it once; a second removal has nothing to announce.
    const size_t before = log.calls.size();
    EXPECT_EQ(unit->DispatchRemovePropertyValue(kAudioUnitProperty_HostCallbacks,
                                                kAudioUnitScope_Global, 0),
              0);
    EXPECT_EQ(log.calls.size(), before + 1);
    EXPECT_EQ(unit->GetHostCallbackInfo().transportStateProc2, nullptr);
    EXPECT_EQ(unit->DispatchRemovePropertyValue(kAudioUnitProperty_HostCallbacks,
                                                kAudioUnitScope_Global, 0),
              0);
    EXPECT_EQ(log.calls.size(), before + 1);
}

TEST(AUBaseProperties, ContextName) {
    OpenUnit unit;
    CFStringRef read = nullptr;
    EXPECT_EQ(
        unit->DispatchGetProperty(kAudioUnitProperty_ContextName, kAudioUnitScope_Global, 0, &read),
        kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(unit->DispatchRemovePropertyValue(kAudioUnitProperty_ContextName,
                                                kAudioUnitScope_Global, 0),
              0);

    ListenerLog log;
    unit->AddPropertyListener(kAudioUnitProperty_ContextName, ListenerLog::Proc, &log);
    CFStringRef name = MakeString("Track 3");
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_ContextName, kAudioUnitScope_Global, 0,
                                        &name, sizeof(name)),
              0);
    EXPECT_EQ(log.calls.size(), 1u);
    // The unit holds its own reference.
    EXPECT_EQ(CFGetRetainCount(name), 2);
    EXPECT_EQ(
        unit->DispatchGetProperty(kAudioUnitProperty_ContextName, kAudioUnitScope_Global, 0, &read),
        0);
    EXPECT_EQ(ToStdString(read), "Track 3");
    EXPECT_EQ(CFGetRetainCount(name), 3);
    CFRelease(read);

    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_ContextName, kAudioUnitScope_Global, 0,
                                        &name, 4),
              kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_ContextName, kAudioUnitScope_Output, 0,
                                        &name, sizeof(name)),
              kAudioUnitErr_InvalidScope);
    EXPECT_EQ(unit->DispatchRemovePropertyValue(kAudioUnitProperty_ContextName,
                                                kAudioUnitScope_Global, 0),
              0);
    EXPECT_EQ(CFGetRetainCount(name), 1);
    EXPECT_EQ(log.calls.size(), 1u);
    CFRelease(name);
}

TEST(AUBaseProperties, ElementNames) {
    OpenUnit unit;
    CFStringRef read = nullptr;
    EXPECT_EQ(
        unit->DispatchGetProperty(kAudioUnitProperty_ElementName, kAudioUnitScope_Input, 0, &read),
        kAudioUnitErr_InvalidPropertyValue);
    CFStringRef name = MakeString("Side chain");
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_ElementName, kAudioUnitScope_Input, 0,
                                        &name, 8),
              0);
    EXPECT_EQ(
        unit->DispatchGetProperty(kAudioUnitProperty_ElementName, kAudioUnitScope_Input, 0, &read),
        0);
    EXPECT_EQ(ToStdString(read), "Side chain");
    CFRelease(read);
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_ElementName, kAudioUnitScope_Input, 4,
                                        &name, 8),
              kAudioUnitErr_InvalidElement);
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_ElementName, kAudioUnitScope_Input, 0,
                                        &name, 7),
              kAudioUnitErr_InvalidPropertyValue);
    CFRelease(name);
}

TEST(AUBaseProperties, PresentPreset) {
    OpenUnit unit;
    ListenerLog log;
    unit->AddPropertyListener(kAudioUnitProperty_PresentPreset, ListenerLog::Proc, &log);

    CFStringRef mine = MakeString("Mine");
    AUPreset user{-3, mine};
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_PresentPreset, kAudioUnitScope_Global, 0,
                                        &user, sizeof(user)),
              0);
    EXPECT_EQ(log.calls.size(), 1u);
    AUPreset read{};
    EXPECT_EQ(unit->DispatchGetProperty(kAudioUnitProperty_PresentPreset, kAudioUnitScope_Global, 0,
                                        &read),
              0);
    EXPECT_EQ(read.presetNumber, -3);
    EXPECT_EQ(ToStdString(read.presetName), "Mine");
    CFRelease(read.presetName);
    CFRelease(mine);
    EXPECT_EQ(ToStdString(unit->GetPresentPreset().presetName), "Mine");

    // A user preset needs a name; a factory preset needs the unit's help.
    AUPreset nameless{-1, nullptr};
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_PresentPreset, kAudioUnitScope_Global, 0,
                                        &nameless, sizeof(nameless)),
              kAudioUnitErr_InvalidPropertyValue);
    AUPreset factory{0, nullptr};
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_PresentPreset, kAudioUnitScope_Global, 0,
                                        &factory, sizeof(factory)),
              kAudioUnitErr_InvalidProperty);
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_PresentPreset, kAudioUnitScope_Global, 0,
                                        &user, 12),
              kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_PresentPreset, kAudioUnitScope_Input, 0,
                                        &user, sizeof(user)),
              kAudioUnitErr_InvalidScope);
    EXPECT_EQ(log.calls.size(), 1u);
    EXPECT_EQ(unit->GetPresentPreset().presetNumber, -3);

    UInt32 size = 0;
    Boolean writable = false;
    EXPECT_EQ(unit->DispatchGetPropertyInfo(kAudioUnitProperty_FactoryPresets,
                                            kAudioUnitScope_Global, 0, size, writable),
              kAudioUnitErr_InvalidProperty);
}

TEST(AUBaseProperties, ShouldAllocateBufferAndExternalBuffers) {
    OpenUnit unit;
    UInt32 flag = 7;
    EXPECT_EQ(unit->DispatchGetProperty(kAudioUnitProperty_ShouldAllocateBuffer,
                                        kAudioUnitScope_Output, 0, &flag),
              0);
    EXPECT_EQ(flag, 1u);
    const UInt32 no = 0;
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_ShouldAllocateBuffer,
                                        kAudioUnitScope_Input, 0, &no, 4),
              0);
    EXPECT_FALSE(unit->GetInput(0)->WillAllocateBuffer());
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_ShouldAllocateBuffer,
                                        kAudioUnitScope_Input, 2, &no, 4),
              kAudioUnitErr_InvalidElement);
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_ShouldAllocateBuffer,
                                        kAudioUnitScope_Input, 0, &no, 2),
              kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_ShouldAllocateBuffer,
                                        kAudioUnitScope_Global, 0, &no, 4),
              kAudioUnitErr_InvalidScope);

    // External buffers only on an initialized unit, and only aligned ones.
    alignas(16) static Byte memory[8192 * 2 * 4 + 16];
    AudioUnitExternalBuffer external{memory, sizeof(memory) - 16};
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_SetExternalBuffer,
                                        kAudioUnitScope_Output, 0, &external, sizeof(external)),
              kAudioUnitErr_Uninitialized);
    ASSERT_EQ(unit->DoInitialize(), 0);
    AudioUnitExternalBuffer misaligned{memory + 4, sizeof(memory) - 16};
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_SetExternalBuffer,
                                        kAudioUnitScope_Output, 0, &misaligned, sizeof(misaligned)),
              kAudio_ParamError);
    AudioUnitExternalBuffer null{nullptr, sizeof(memory)};
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_SetExternalBuffer,
                                        kAudioUnitScope_Output, 0, &null, sizeof(null)),
              kAudio_ParamError);
    EXPECT_FALSE(unit->GetOutput(0)->IOBuffer().BufferIsExternal());
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_SetExternalBuffer,
                                        kAudioUnitScope_Output, 0, &external, 8),
              kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_SetExternalBuffer,
                                        kAudioUnitScope_Output, 0, &external, sizeof(external)),
              0);
    EXPECT_TRUE(unit->GetOutput(0)->IOBuffer().BufferIsExternal());
    EXPECT_EQ(Call([&] {
                  return unit->DispatchSetProperty(kAudioUnitProperty_SetExternalBuffer,
                                                   kAudioUnitScope_Output, 3, &external,
                                                   sizeof(external));
              }),
              kAudioUnitErr_InvalidElement);
}

TEST(AUBaseProperties, ChannelLayouts) {
    OpenUnit unit;
    LayoutOutputElement* out = unit->LayoutOutput(0);
    ASSERT_NE(out, nullptr);
    ListenerLog log;
    unit->AddPropertyListener(kAudioUnitProperty_AudioChannelLayout, ListenerLog::Proc, &log);

    UInt32 size = 0;
    Boolean writable = false;
    // No layout yet but tags are offered.
    EXPECT_EQ(unit->DispatchGetPropertyInfo(kAudioUnitProperty_AudioChannelLayout,
                                            kAudioUnitScope_Output, 0, size, writable),
              kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(unit->DispatchGetPropertyInfo(kAudioUnitProperty_SupportedChannelLayoutTags,
                                            kAudioUnitScope_Output, 0, size, writable),
              0);
    EXPECT_EQ(size, 4u);
    AudioChannelLayoutTag tag = 0;
    EXPECT_EQ(unit->DispatchGetProperty(kAudioUnitProperty_SupportedChannelLayoutTags,
                                        kAudioUnitScope_Output, 0, &tag),
              0);
    EXPECT_EQ(tag, kAudioChannelLayoutTag_Stereo);
    // Removing a layout that is not there succeeds without asking the
    // element; the success is still announced.
    EXPECT_EQ(unit->DispatchRemovePropertyValue(kAudioUnitProperty_AudioChannelLayout,
                                                kAudioUnitScope_Output, 0),
              0);
    EXPECT_EQ(out->removeCalls, 0);
    EXPECT_EQ(log.calls.size(), 1u);

    AudioChannelLayout layout{};
    layout.mChannelLayoutTag = kAudioChannelLayoutTag_Stereo;
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_AudioChannelLayout,
                                        kAudioUnitScope_Output, 0, &layout, 11),
              kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_AudioChannelLayout,
                                        kAudioUnitScope_Output, 0, &layout, 12),
              0);
    EXPECT_EQ(out->setCalls, 1);
    EXPECT_EQ(log.calls.size(), 2u);
    EXPECT_EQ(unit->DispatchGetPropertyInfo(kAudioUnitProperty_AudioChannelLayout,
                                            kAudioUnitScope_Output, 0, size, writable),
              0);
    EXPECT_EQ(size, sizeof(AudioChannelLayout));
    EXPECT_TRUE(writable);

    // The channel count must match the element's format.
    layout.mChannelLayoutTag = kAudioChannelLayoutTag_Mono;
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_AudioChannelLayout,
                                        kAudioUnitScope_Output, 0, &layout, 12),
              kAudioUnitErr_InvalidPropertyValue);
    // A stereo tag the element does not offer.
    layout.mChannelLayoutTag = kAudioChannelLayoutTag_MatrixStereo;
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_AudioChannelLayout,
                                        kAudioUnitScope_Output, 0, &layout, 12),
              kAudioUnitErr_InvalidPropertyValue);
    // Offering "use channel descriptions" takes any layout of the right width.
    out->tags = {kAudioChannelLayoutTag_UseChannelDescriptions};
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_AudioChannelLayout,
                                        kAudioUnitScope_Output, 0, &layout, 12),
              0);
    // A layout with descriptions must bring all of them.
    const size_t describedBytes = CAAudioChannelLayout::CalculateByteSize(2);
    auto* described = static_cast<AudioChannelLayout*>(std::calloc(1, describedBytes));
    described->mChannelLayoutTag = kAudioChannelLayoutTag_UseChannelDescriptions;
    described->mNumberChannelDescriptions = 2;
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_AudioChannelLayout,
                                        kAudioUnitScope_Output, 0, described,
                                        static_cast<UInt32>(describedBytes - 1)),
              kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_AudioChannelLayout,
                                        kAudioUnitScope_Output, 0, described,
                                        static_cast<UInt32>(describedBytes)),
              0);
    std::free(described);

    EXPECT_EQ(unit->DispatchRemovePropertyValue(kAudioUnitProperty_AudioChannelLayout,
                                                kAudioUnitScope_Output, 0),
              0);
    EXPECT_EQ(out->removeCalls, 1);
    EXPECT_FALSE(out->hasLayout);

    // Without tags the layout is not a property of the element at all.
    out->tags.clear();
    EXPECT_EQ(unit->DispatchGetPropertyInfo(kAudioUnitProperty_AudioChannelLayout,
                                            kAudioUnitScope_Output, 0, size, writable),
              kAudioUnitErr_InvalidProperty);
    EXPECT_EQ(unit->DispatchGetPropertyInfo(kAudioUnitProperty_SupportedChannelLayoutTags,
                                            kAudioUnitScope_Output, 0, size, writable),
              kAudioUnitErr_InvalidProperty);
    layout.mChannelLayoutTag = kAudioChannelLayoutTag_Stereo;
    EXPECT_EQ(unit->SetAudioChannelLayout(kAudioUnitScope_Output, 0, &layout),
              kAudioUnitErr_InvalidProperty);
    // Plain input elements have no layouts.
    EXPECT_EQ(unit->DispatchGetPropertyInfo(kAudioUnitProperty_AudioChannelLayout,
                                            kAudioUnitScope_Input, 0, size, writable),
              kAudioUnitErr_InvalidProperty);
}

TEST(AUBaseProperties, RenderCallbackAndConnection) {
    OpenUnit unit;
    ListenerLog log;
    unit->AddPropertyListener(kAudioUnitProperty_SetRenderCallback, ListenerLog::Proc, &log);
    unit->AddPropertyListener(kAudioUnitProperty_MakeConnection, ListenerLog::Proc, &log);

    int refCon = 0;
    AURenderCallbackStruct callback{DummyRender, &refCon};
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input,
                                        0, &callback, 15),
              kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input,
                                        0, &callback, sizeof(callback)),
              0);
    EXPECT_TRUE(unit->GetInput(0)->IsCallback());
    EXPECT_EQ(unit->GetInput(0)->GetInputProcRefCon(), &refCon);
    ASSERT_EQ(log.calls.size(), 1u);
    EXPECT_EQ(log.calls[0].id, kAudioUnitProperty_SetRenderCallback);
    EXPECT_EQ(log.calls[0].scope, kAudioUnitScope_Input);
    EXPECT_EQ(Call([&] {
                  return unit->DispatchSetProperty(kAudioUnitProperty_SetRenderCallback,
                                                   kAudioUnitScope_Input, 1, &callback,
                                                   sizeof(callback));
              }),
              kAudioUnitErr_InvalidElement);

    // A source that is not an open unit: its status, nothing changed.
    AudioUnitConnection connection{reinterpret_cast<AudioUnit>(&refCon), 0, 0};
    const OSStatus bogus =
        unit->DispatchSetProperty(kAudioUnitProperty_MakeConnection, kAudioUnitScope_Input, 0,
                                  &connection, sizeof(connection));
    EXPECT_NE(bogus, 0);
    EXPECT_TRUE(unit->GetInput(0)->IsCallback());
    EXPECT_EQ(log.Count(kAudioUnitProperty_MakeConnection), 0u);

    // A connection without a source disconnects.
    AudioUnitConnection none{nullptr, 0, 0};
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_MakeConnection, kAudioUnitScope_Input, 0,
                                        &none, sizeof(none)),
              0);
    EXPECT_FALSE(unit->GetInput(0)->IsActive());
    EXPECT_EQ(log.Count(kAudioUnitProperty_MakeConnection), 1u);
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_MakeConnection, kAudioUnitScope_Input, 0,
                                        &none, 12),
              kAudioUnitErr_InvalidPropertyValue);
    AudioUnitConnection missing{nullptr, 0, 2};
    EXPECT_EQ(Call([&] {
                  return unit->DispatchSetProperty(kAudioUnitProperty_MakeConnection,
                                                   kAudioUnitScope_Input, 0, &missing,
                                                   sizeof(missing));
              }),
              kAudioUnitErr_InvalidElement);
}

TEST(AUBaseProperties, TailUIIconAndClumpNames) {
    OpenUnit unit;
    UInt32 size = 0;
    Boolean writable = true;
    EXPECT_EQ(unit->DispatchGetPropertyInfo(kAudioUnitProperty_TailTime, kAudioUnitScope_Global, 0,
                                            size, writable),
              kAudioUnitErr_InvalidProperty);
    Float64 tail = 0;
    EXPECT_EQ(
        unit->DispatchGetProperty(kAudioUnitProperty_TailTime, kAudioUnitScope_Global, 0, &tail),
        kAudioUnitErr_InvalidProperty);
    unit->supportsTail = true;
    EXPECT_EQ(unit->DispatchGetPropertyInfo(kAudioUnitProperty_TailTime, kAudioUnitScope_Global, 0,
                                            size, writable),
              0);
    EXPECT_EQ(
        unit->DispatchGetProperty(kAudioUnitProperty_TailTime, kAudioUnitScope_Global, 0, &tail),
        0);
    EXPECT_EQ(tail, 0.25);

    EXPECT_EQ(unit->DispatchGetPropertyInfo(kAudioUnitProperty_GetUIComponentList,
                                            kAudioUnitScope_Global, 0, size, writable),
              kAudioUnitErr_InvalidProperty);
    EXPECT_EQ(unit->DispatchGetPropertyInfo(kAudioUnitProperty_IconLocation, kAudioUnitScope_Global,
                                            0, size, writable),
              kAudioUnitErr_InvalidProperty);
    EXPECT_EQ(unit->DispatchGetPropertyInfo(kAudioUnitProperty_SupportedNumChannels,
                                            kAudioUnitScope_Global, 0, size, writable),
              kAudioUnitErr_InvalidProperty);
    EXPECT_EQ(unit->DispatchGetPropertyInfo(kAudioUnitProperty_ParameterValueStrings,
                                            kAudioUnitScope_Global, 0, size, writable),
              kAudioUnitErr_InvalidProperty);

    AudioUnitParameterNameInfo clump{0, -1, nullptr};
    EXPECT_EQ(unit->DispatchGetProperty(kAudioUnitProperty_ParameterClumpName,
                                        kAudioUnitScope_Global, 0, &clump),
              kAudioUnitErr_InvalidPropertyValue);
    clump.inID = 3;
    EXPECT_EQ(unit->DispatchGetProperty(kAudioUnitProperty_ParameterClumpName,
                                        kAudioUnitScope_Global, 0, &clump),
              kAudioUnitErr_InvalidProperty);
}

TEST(AUBaseProperties, FastDispatchOnlyForComponentManagerInstances) {
    UInt32 size = 0;
    Boolean writable = true;
    void* proc = nullptr;
    {
        OpenUnit unit;
        EXPECT_EQ(unit->DispatchGetPropertyInfo(kAudioUnitProperty_FastDispatch,
                                                kAudioUnitScope_Global, 14, size, writable),
                  kAudioUnitErr_InvalidProperty);
        EXPECT_EQ(unit->DispatchGetProperty(kAudioUnitProperty_FastDispatch, kAudioUnitScope_Global,
                                            14, &proc),
                  kAudioUnitErr_InvalidProperty);
    }
    OpenUnit unit({}, true);
    EXPECT_EQ(unit->DispatchGetPropertyInfo(kAudioUnitProperty_FastDispatch, kAudioUnitScope_Global,
                                            14, size, writable),
              0);
    EXPECT_EQ(size, sizeof(void*));
    EXPECT_FALSE(writable);
    EXPECT_EQ(unit->DispatchGetProperty(kAudioUnitProperty_FastDispatch, kAudioUnitScope_Global,
                                        kAudioUnitRenderSelect, &proc),
              0);
    EXPECT_EQ(proc, reinterpret_cast<void*>(&CMgr_AudioUnitBaseRender));
    EXPECT_EQ(unit->DispatchGetProperty(kAudioUnitProperty_FastDispatch, kAudioUnitScope_Global,
                                        kAudioUnitSetParameterSelect, &proc),
              0);
    EXPECT_EQ(proc, reinterpret_cast<void*>(&CMgr_AudioUnitBaseSetParameter));
    EXPECT_EQ(unit->DispatchGetProperty(kAudioUnitProperty_FastDispatch, kAudioUnitScope_Global,
                                        kAudioUnitGetParameterSelect, &proc),
              0);
    EXPECT_EQ(proc, reinterpret_cast<void*>(&CMgr_AudioUnitBaseGetParameter));
    // Other selectors go to the subclass.
    EXPECT_EQ(unit->DispatchGetProperty(kAudioUnitProperty_FastDispatch, kAudioUnitScope_Global,
                                        kAudioUnitResetSelect, &proc),
              kAudioUnitErr_InvalidProperty);
}

TEST(AUBaseProperties, OtherPropertiesReachTheSubclass) {
    OpenUnit unit;
    ListenerLog log;
    unit->AddPropertyListener(0x10001, ListenerLog::Proc, &log);
    UInt32 size = 0;
    Boolean writable = false;
    EXPECT_EQ(unit->DispatchGetPropertyInfo(0x10001, kAudioUnitScope_Global, 0, size, writable), 0);
    EXPECT_EQ(size, 4u);
    const UInt32 value = 42;
    EXPECT_EQ(unit->DispatchSetProperty(0x10001, kAudioUnitScope_Global, 0, &value, 4), 0);
    EXPECT_EQ(unit->privateValue, 42u);
    EXPECT_EQ(log.calls.size(), 1u);
    // A refused write is not announced.
    EXPECT_EQ(unit->DispatchSetProperty(0x10001, kAudioUnitScope_Input, 0, &value, 4),
              kAudioUnitErr_InvalidProperty);
    EXPECT_EQ(log.calls.size(), 1u);
}
