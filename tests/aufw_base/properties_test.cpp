// The shared properties of AUBase: formats, host callbacks, names, presets,
// buffers, layouts, connections and callbacks, called directly on a unit.
#include "base_test_unit.h"

#include <aufw/CAAudioChannelLayout.h>

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
    f.mBytesPerPacket = f.mBytesPerFrame = 4;
    f.mFramesPerPacket = 1;
    f.mChannelsPerFrame = channels;
    f.mBitsPerChannel = 32;
    return f;
}

OSStatus DummyRender(void*, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32, UInt32,
                     AudioBufferList*) {
    return 0;
}

class AUBaseProperties : public BaseUnitTest {};

} // namespace

// Writes refused for their size, scope or element, and by their own rules;
// none is announced.
TEST_F(AUBaseProperties, RefusedWrites) {
    const CAStreamBasicDescription f = CanonicalFormat(48000, 2);
    CAStreamBasicDescription bad = f;
    bad.mBitsPerChannel = 16;
    bad.mBytesPerFrame = bad.mBytesPerPacket = 2;
    bad.mFormatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsNonInterleaved;
    CFStringRef name = CFSTR("name");
    // A user preset needs a name; a factory preset needs the unit's help.
    const AUPreset user{-3, name}, nameless{-1, nullptr}, factory{0, nullptr};
    const HostCallbackInfo callbacks{};
    const Float64 rate = 96000;
    const UInt32 no = 0;
    const AURenderCallbackStruct cb{DummyRender, nullptr};
    const AudioUnitConnection none{nullptr, 0, 0}, missing{nullptr, 0, 2};
    constexpr AudioUnitPropertyID kFormat = kAudioUnitProperty_StreamFormat,
                                  kRate = kAudioUnitProperty_SampleRate,
                                  kName = kAudioUnitProperty_ElementName,
                                  kPreset = kAudioUnitProperty_PresentPreset,
                                  kAlloc = kAudioUnitProperty_ShouldAllocateBuffer,
                                  kCallback = kAudioUnitProperty_SetRenderCallback,
                                  kConnect = kAudioUnitProperty_MakeConnection;
    const struct {
        AudioUnitPropertyID id;
        AudioUnitScope scope;
        AudioUnitElement element;
        const void* data;
        UInt32 size;
        OSStatus expected;
    } rows[] = {
        {kFormat, kIn, 0, &f, 35, kBadValue},
        {kFormat, kOut, 0, &bad, 40, kAudioUnitErr_FormatNotSupported},
        {kFormat, kOut, 1, &f, 40, kBadElement},
        {kFormat, 6, 0, &f, 40, kBadScope},
        {kRate, kOut, 0, &rate, 4, kBadValue},
        {kRate, kIn, 3, &rate, 8, kBadElement},
        {kAudioUnitProperty_HostCallbacks, kIn, 0, &callbacks, 16, kBadScope},
        {kAudioUnitProperty_ContextName, kGlob, 0, &name, 4, kBadValue},
        {kAudioUnitProperty_ContextName, kOut, 0, &name, 8, kBadScope},
        {kName, kIn, 4, &name, 8, kBadElement},
        {kName, kIn, 0, &name, 7, kBadValue},
        {kPreset, kGlob, 0, &nameless, 16, kBadValue},
        {kPreset, kGlob, 0, &factory, 16, kBadProperty},
        {kPreset, kGlob, 0, &user, 12, kBadValue},
        {kPreset, kIn, 0, &user, 16, kBadScope},
        {kAlloc, kIn, 2, &no, 4, kBadElement},
        {kAlloc, kIn, 0, &no, 2, kBadValue},
        {kAlloc, kGlob, 0, &no, 4, kBadScope},
        {kCallback, kIn, 0, &cb, 15, kBadValue},
        {kCallback, kIn, 1, &cb, 16, kBadElement},
        {kConnect, kIn, 0, &none, 12, kBadValue},
        {kConnect, kIn, 0, &missing, 24, kBadElement},
        {kPrivateProperty, kIn, 0, &no, 4, kBadProperty},
    };
    for (const auto& row : rows) {
        listen(row.id);
        EXPECT_EQ(set(row.id, row.scope, row.element, row.data, row.size), row.expected)
            << "property " << row.id << " scope " << row.scope << " size " << row.size;
    }
    EXPECT_EQ(log.calls.size(), 0u);
    EXPECT_EQ(unit->GetPresentPreset().presetNumber, -1);
    EXPECT_TRUE(unit->GetInput(0)->WillAllocateBuffer());
}

TEST_F(AUBaseProperties, StreamFormatsAndSampleRate) {
    listen(kAudioUnitProperty_StreamFormat);
    CAStreamBasicDescription f = CanonicalFormat(48000, 2);
    // 36 bytes: the reserved word may be left out; the same format again is
    // not announced.
    EXPECT_EQ(set(kAudioUnitProperty_StreamFormat, kIn, 0, &f, 36), 0);
    EXPECT_EQ(set(kAudioUnitProperty_StreamFormat, kIn, 0, &f, 40), 0);
    EXPECT_EQ(unit->GetStreamFormat(kIn, 0).mSampleRate, 48000.0);
    ASSERT_EQ(log.calls.size(), 1u);
    EXPECT_EQ(log.calls[0].scope, kIn);
    // The global scope stands for output 0; a sample rate changes the rate alone.
    CAStreamBasicDescription mono = CanonicalFormat(44100, 1);
    EXPECT_EQ(set(kAudioUnitProperty_StreamFormat, kGlob, 0, &mono, 40), 0);
    const Float64 rate = 96000;
    EXPECT_EQ(set(kAudioUnitProperty_SampleRate, kOut, 0, &rate, 8), 0);
    AudioStreamBasicDescription read{};
    EXPECT_EQ(get(kAudioUnitProperty_StreamFormat, kGlob, 0, &read), 0);
    EXPECT_EQ(read.mChannelsPerFrame, 1u);
    EXPECT_EQ(read.mSampleRate, 96000.0);

    EXPECT_EQ(info(kAudioUnitProperty_StreamFormat, kOut), 0);
    EXPECT_TRUE(writable);
    ASSERT_EQ(unit->DoInitialize(), 0);
    EXPECT_EQ(info(kAudioUnitProperty_SampleRate, kIn), 0);
    EXPECT_EQ(size, 8u);
    EXPECT_FALSE(writable);
    EXPECT_EQ(set(kAudioUnitProperty_StreamFormat, kOut, 0, &f, 40),
              kAudioUnitErr_PropertyNotWritable);
    // The format check comes before the writability check.
    f.mFormatID = 0x61616320; // 'aac '
    EXPECT_EQ(set(kAudioUnitProperty_StreamFormat, kOut, 0, &f, 40),
              kAudioUnitErr_FormatNotSupported);
    EXPECT_FALSE(unit->IsStreamFormatWritable(kAudioUnitScope_Group, 0));
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
    UInt8 bytes[64];
    std::memset(bytes, 0xAB, sizeof(bytes));
    EXPECT_EQ(set(kAudioUnitProperty_HostCallbacks, kGlob, 0, bytes, 40), 0);
    // 16 bytes: those are stored, the remaining 24 are zeroed; the same bytes
    // again are not announced.
    std::memset(bytes, 0x5C, sizeof(bytes));
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(set(kAudioUnitProperty_HostCallbacks, kGlob, 0, bytes, 16), 0);
    }
    EXPECT_EQ(log.calls.size(), 2u);
    UInt8 read[sizeof(HostCallbackInfo)] = {};
    EXPECT_EQ(get(kAudioUnitProperty_HostCallbacks, kGlob, 0, read), 0);
    for (size_t i = 0; i < sizeof(read); ++i) {
        EXPECT_EQ(read[i], i < 16 ? 0x5C : 0x00) << "byte " << i;
    }
    // More than 40 bytes: only the record is taken.
    std::memset(bytes, 0x11, sizeof(bytes));
    EXPECT_EQ(set(kAudioUnitProperty_HostCallbacks, kGlob, 0, bytes, sizeof(bytes)), 0);
    EXPECT_EQ(unit->GetHostCallbackInfo().hostUserData,
              reinterpret_cast<void*>(0x1111111111111111));
    // Removing zeroes it once; a second removal has nothing to announce.
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(remove(kAudioUnitProperty_HostCallbacks, kGlob), 0);
    }
    EXPECT_EQ(log.calls.size(), 4u);
    EXPECT_EQ(unit->GetHostCallbackInfo().transportStateProc2, nullptr);
}

TEST_F(AUBaseProperties, ContextElementNamesAndPresets) {
    CFStringRef read = nullptr;
    EXPECT_EQ(get(kAudioUnitProperty_ContextName, kGlob, 0, &read),
              kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(get(kAudioUnitProperty_ElementName, kIn, 0, &read),
              kAudioUnitErr_InvalidPropertyValue);
    listen(kAudioUnitProperty_ContextName);
    listen(kAudioUnitProperty_PresentPreset);
    CFStringRef name = MakeString("Track 3");
    for (int i = 0; i < 2; ++i) { // a second set releases the first
        EXPECT_EQ(set(kAudioUnitProperty_ContextName, kGlob, 0, &name, sizeof(name)), 0);
    }
    EXPECT_EQ(log.calls.size(), 2u);
    EXPECT_EQ(CFGetRetainCount(name), 2); // the unit holds its own reference
    EXPECT_EQ(get(kAudioUnitProperty_ContextName, kGlob, 0, &read), 0);
    EXPECT_EQ(ToStdString(read), "Track 3");
    EXPECT_EQ(CFGetRetainCount(name), 3);
    CFRelease(read);
    EXPECT_EQ(remove(kAudioUnitProperty_ContextName, kGlob), 0);
    EXPECT_EQ(CFGetRetainCount(name), 1);

    EXPECT_EQ(set(kAudioUnitProperty_ElementName, kIn, 0, &name, 8), 0);
    EXPECT_EQ(get(kAudioUnitProperty_ElementName, kIn, 0, &read), 0);
    EXPECT_EQ(ToStdString(read), "Track 3");
    CFRelease(read);

    AUPreset user{-3, name};
    EXPECT_EQ(set(kAudioUnitProperty_PresentPreset, kGlob, 0, &user, sizeof(user)), 0);
    EXPECT_EQ(log.calls.size(), 3u);
    AUPreset preset{};
    EXPECT_EQ(get(kAudioUnitProperty_PresentPreset, kGlob, 0, &preset), 0);
    EXPECT_EQ(preset.presetNumber, -3);
    EXPECT_EQ(ToStdString(preset.presetName), "Track 3");
    CFRelease(preset.presetName);
    CFRelease(name);
    EXPECT_EQ(ToStdString(unit->GetPresentPreset().presetName), "Track 3");
    EXPECT_EQ(info(kAudioUnitProperty_FactoryPresets, kGlob), kAudioUnitErr_InvalidProperty);
}

TEST_F(AUBaseProperties, ShouldAllocateBufferAndExternalBuffers) {
    UInt32 flag = 7;
    EXPECT_EQ(get(kAudioUnitProperty_ShouldAllocateBuffer, kOut, 0, &flag), 0);
    EXPECT_EQ(flag, 1u);
    const UInt32 no = 0;
    EXPECT_EQ(set(kAudioUnitProperty_ShouldAllocateBuffer, kIn, 0, &no, 4), 0);
    EXPECT_FALSE(unit->GetInput(0)->WillAllocateBuffer());

    // External buffers only on an initialized unit, and only 16-byte aligned ones.
    const AudioUnitPropertyID ext = kAudioUnitProperty_SetExternalBuffer;
    alignas(16) static Byte memory[8192 * 2 * 4 + 16];
    const UInt32 bytes = sizeof(memory) - 16;
    AudioUnitExternalBuffer external{memory, bytes};
    EXPECT_EQ(set(ext, kOut, 0, &external, sizeof(external)), kAudioUnitErr_Uninitialized);
    ASSERT_EQ(unit->DoInitialize(), 0);
    for (Byte* misaligned : {memory + 4, memory + 8, static_cast<Byte*>(nullptr)}) {
        AudioUnitExternalBuffer refused{misaligned, bytes};
        EXPECT_EQ(set(ext, kOut, 0, &refused, sizeof(refused)), kAudio_ParamError);
    }
    EXPECT_FALSE(unit->GetOutput(0)->IOBuffer().BufferIsExternal());
    EXPECT_EQ(set(ext, kOut, 0, &external, 8), kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(set(ext, kOut, 0, &external, sizeof(external)), 0);
    EXPECT_TRUE(unit->GetOutput(0)->IOBuffer().BufferIsExternal());
    EXPECT_EQ(set(ext, kOut, 3, &external, sizeof(external)), kAudioUnitErr_InvalidElement);
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
    // The channel count must match the element's format, and the tag be offered.
    for (AudioChannelLayoutTag t :
         {kAudioChannelLayoutTag_Mono, kAudioChannelLayoutTag_MatrixStereo}) {
        layout.mChannelLayoutTag = t;
        EXPECT_EQ(set(lay, kOut, 0, &layout, 12), kAudioUnitErr_InvalidPropertyValue) << t;
    }
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

    // Without tags the layout is not a property of the element at all.
    out->tags.clear();
    EXPECT_EQ(info(lay, kOut), kAudioUnitErr_InvalidProperty);
    EXPECT_EQ(info(tags, kOut), kAudioUnitErr_InvalidProperty);
    EXPECT_EQ(unit->SetAudioChannelLayout(kOut, 0, &layout), kAudioUnitErr_InvalidProperty);
    EXPECT_EQ(info(lay, kIn), kAudioUnitErr_InvalidProperty);
}

TEST_F(AUBaseProperties, RenderCallbackAndConnection) {
    const AudioUnitPropertyID cb = kAudioUnitProperty_SetRenderCallback;
    const AudioUnitPropertyID conn = kAudioUnitProperty_MakeConnection;
    listen(cb);
    listen(conn);
    int refCon = 0;
    AURenderCallbackStruct callback{DummyRender, &refCon};
    EXPECT_EQ(set(cb, kIn, 0, &callback, sizeof(callback)), 0);
    EXPECT_TRUE(unit->GetInput(0)->IsCallback());
    EXPECT_EQ(unit->GetInput(0)->GetInputProcRefCon(), &refCon);
    ASSERT_EQ(log.calls.size(), 1u);
    EXPECT_EQ(log.calls[0].id, cb);
    EXPECT_EQ(log.calls[0].scope, kIn);
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
}

TEST_F(AUBaseProperties, TailClumpNamesAndPrivateProperties) {
    Float64 tail = 0;
    EXPECT_EQ(info(kAudioUnitProperty_TailTime, kGlob), kAudioUnitErr_InvalidProperty);
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
    // Other properties reach the subclass, and its changes are announced.
    listen(kPrivateProperty);
    EXPECT_EQ(info(kPrivateProperty, kGlob), 0);
    EXPECT_EQ(size, 4u);
    const UInt32 value = 42;
    EXPECT_EQ(set(kPrivateProperty, kGlob, 0, &value, 4), 0);
    EXPECT_EQ(unit->privateValue, 42u);
    EXPECT_EQ(log.calls.size(), 1u);
}
