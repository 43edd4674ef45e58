// The shared properties of AUBase: formats, host callbacks, names, presets,
// buffers, layouts, connections and callbacks, called directly on a unit.
#include "base_test_unit.h"

#include <aufw/CAAudioChannelLayout.h>

using namespace aufw_base_test;

namespace {

CAStreamBasicDescription Canonical(Float64 rate, UInt32 channels, UInt32 bytesPerPacket = 4,
                                   UInt32 framesPerPacket = 1, UInt32 bytesPerFrame = 4,
                                   UInt32 flags = kAudioFormatFlagsAudioUnitCanonical) {
    return {
        rate, kAudioFormatLinearPCM, bytesPerPacket, framesPerPacket, bytesPerFrame, channels, 32,
        flags};
}

using AUBaseProperties = BaseUnitTest;

} // namespace

// Writes refused for their size, scope or element, and by their own rules;
// none is announced.
TEST_F(AUBaseProperties, RefusedWrites) {
    const CAStreamBasicDescription f = Canonical(48000, 2);
    const CAStreamBasicDescription bad = Canonical(
        48000, 2, 2, 1, 2, kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsNonInterleaved);
    // Where the contents do not matter.
    alignas(8) const UInt8 zeros[64] = {};
    // A user preset needs a name; a factory preset needs the unit's help.
    const AUPreset user{-3, CFSTR("name")}, nameless{-1, nullptr}, factory{0, nullptr};
    const AudioUnitConnection missing{nullptr, 0, 2};
    const auto refused = [&](AudioUnitPropertyID id, AudioUnitScope s, AudioUnitElement e,
                             const void* data, UInt32 n, OSStatus want) {
        listen(id);
        EXPECT_EQ(set(id, s, e, data, n), want)
            << "property " << id << " scope " << s << " size " << n;
    };
    refused(kAudioUnitProperty_StreamFormat, kIn, 0, &f, 35, kBadValue);
    refused(kAudioUnitProperty_StreamFormat, kOut, 0, &bad, 40, kAudioUnitErr_FormatNotSupported);
    refused(kAudioUnitProperty_StreamFormat, kOut, 1, &f, 40, kBadElement);
    refused(kAudioUnitProperty_StreamFormat, 6, 0, &f, 40, kBadScope);
    refused(kAudioUnitProperty_SampleRate, kOut, 0, zeros, 4, kBadValue);
    refused(kAudioUnitProperty_SampleRate, kIn, 3, zeros, 8, kBadElement);
    refused(kAudioUnitProperty_HostCallbacks, kIn, 0, zeros, 16, kBadScope);
    refused(kAudioUnitProperty_ContextName, kGlob, 0, zeros, 4, kBadValue);
    refused(kAudioUnitProperty_ContextName, kOut, 0, zeros, 8, kBadScope);
    refused(kAudioUnitProperty_ElementName, kIn, 4, zeros, 8, kBadElement);
    refused(kAudioUnitProperty_ElementName, kIn, 0, zeros, 7, kBadValue);
    refused(kAudioUnitProperty_PresentPreset, kGlob, 0, &nameless, 16, kBadValue);
    refused(kAudioUnitProperty_PresentPreset, kGlob, 0, &factory, 16, kBadProperty);
    refused(kAudioUnitProperty_PresentPreset, kGlob, 0, &user, 12, kBadValue);
    refused(kAudioUnitProperty_PresentPreset, kIn, 0, &user, 16, kBadScope);
    refused(kAudioUnitProperty_ShouldAllocateBuffer, kIn, 2, zeros, 4, kBadElement);
    refused(kAudioUnitProperty_ShouldAllocateBuffer, kIn, 0, zeros, 2, kBadValue);
    refused(kAudioUnitProperty_ShouldAllocateBuffer, kGlob, 0, zeros, 4, kBadScope);
    refused(kAudioUnitProperty_SetRenderCallback, kIn, 0, zeros, 15, kBadValue);
    refused(kAudioUnitProperty_SetRenderCallback, kIn, 1, zeros, 16, kBadElement);
    refused(kAudioUnitProperty_MakeConnection, kIn, 0, zeros, 12, kBadValue);
    refused(kAudioUnitProperty_MakeConnection, kIn, 0, &missing, 24, kBadElement);
    refused(0x10001, kGlob, 0, zeros, 4, kBadProperty); // none of AUBase's
    EXPECT_EQ(log.Take(), "");
    EXPECT_EQ(unit->GetPresentPreset().presetNumber, -1);
    EXPECT_TRUE(unit->GetInput(0)->WillAllocateBuffer());
}

TEST_F(AUBaseProperties, StreamFormatsAndSampleRate) {
    const AudioUnitPropertyID kFormat = kAudioUnitProperty_StreamFormat;
    listen(kFormat);
    CAStreamBasicDescription f = Canonical(48000, 2);
    // 36 bytes: the reserved word may be left out; the same format again is
    // not announced.
    EXPECT_EQ(set(kFormat, kIn, 0, &f, 36), 0);
    EXPECT_EQ(set(kFormat, kIn, 0, &f, 40), 0);
    EXPECT_EQ(log.Take(), "1:8/1/0");
    // The global scope stands for output 0; a sample rate changes the rate alone.
    const CAStreamBasicDescription mono = Canonical(44100, 1);
    EXPECT_EQ(set(kFormat, kGlob, 0, &mono, 40), 0);
    const Float64 rate = 96000;
    EXPECT_EQ(set(kAudioUnitProperty_SampleRate, kOut, 0, &rate, 8), 0);
    const auto read = value<AudioStreamBasicDescription>(kFormat);
    EXPECT_EQ(std::make_tuple(read.mChannelsPerFrame, read.mSampleRate),
              std::make_tuple(1u, 96000.0));

    EXPECT_EQ(about(kFormat, kOut), std::make_tuple(0, 40u, true));
    ASSERT_EQ(unit->DoInitialize(), 0);
    EXPECT_EQ(about(kAudioUnitProperty_SampleRate, kIn), std::make_tuple(0, 8u, false));
    EXPECT_EQ(set(kFormat, kOut, 0, &f, 40), kAudioUnitErr_PropertyNotWritable);
    // The format check comes before the writability check.
    f.mFormatID = 0x61616320; // 'aac '
    EXPECT_EQ(set(kFormat, kOut, 0, &f, 40), kAudioUnitErr_FormatNotSupported);

    // Sample rate and the packed flag are not examined; one interleaved
    // channel is fine, two are not.
    const UInt32 kFloat = kAudioFormatFlagIsFloat;
    const CAStreamBasicDescription formats[] = {
        Canonical(0, 2),
        Canonical(0, 2, 4, 1, 4, kFloat | kAudioFormatFlagIsNonInterleaved), // not packed
        Canonical(0, 1, 4, 1, 4, kFloat),                                    // one interleaved
        Canonical(44100, 2, 8, 1, 8, kFloat),                                // two interleaved
        Canonical(44100, 2, 4, 1, 4,
                  kAudioFormatFlagsAudioUnitCanonical | kAudioFormatFlagIsBigEndian),
        Canonical(44100, 2, 4, 2, 4), // two frames a packet
        Canonical(44100, 2, 8, 1, 4), // eight bytes a packet
    };
    std::vector<bool> canonical;
    for (const CAStreamBasicDescription& format : formats) {
        canonical.push_back(AUBase::FormatIsCanonical(format));
    }
    EXPECT_EQ(canonical, (std::vector<bool>{true, true, true, false, false, false, false}));
}

TEST_F(AUBaseProperties, HostCallbacksContextElementNamesAndPresets) {
    const AudioUnitPropertyID kCallbacks = kAudioUnitProperty_HostCallbacks;
    listen(kCallbacks);
    std::vector<UInt8> bytes(64, 0xAB), stored(sizeof(HostCallbackInfo)), expected(16, 0x5C);
    EXPECT_EQ(set(kCallbacks, kGlob, 0, bytes.data(), 40), 0);
    // 16 bytes: those are stored, the remaining 24 are zeroed; the same bytes
    // again are not announced.
    bytes.assign(64, 0x5C);
    EXPECT_EQ(set(kCallbacks, kGlob, 0, bytes.data(), 16), 0);
    EXPECT_EQ(set(kCallbacks, kGlob, 0, bytes.data(), 16), 0);
    EXPECT_EQ(log.Take(), "1:27/0/0 1:27/0/0");
    EXPECT_EQ(get(kCallbacks, kGlob, 0, stored.data()), 0);
    expected.resize(stored.size());
    EXPECT_EQ(stored, expected);
    // More than 40 bytes: only the record is taken.
    bytes.assign(64, 0x11);
    EXPECT_EQ(set(kCallbacks, kGlob, 0, bytes.data(), 64), 0);
    EXPECT_EQ(unit->GetHostCallbackInfo().hostUserData,
              reinterpret_cast<void*>(0x1111111111111111));
    // Removing zeroes it once; a second removal has nothing to announce.
    EXPECT_EQ(remove(kCallbacks, kGlob), 0);
    EXPECT_EQ(remove(kCallbacks, kGlob), 0);
    EXPECT_EQ(log.Take(), "1:27/0/0 1:27/0/0");
    EXPECT_EQ(unit->GetHostCallbackInfo().transportStateProc2, nullptr);

    const AudioUnitPropertyID kContext = kAudioUnitProperty_ContextName,
                              kElementName = kAudioUnitProperty_ElementName,
                              kPreset = kAudioUnitProperty_PresentPreset;
    CFStringRef read = nullptr;
    EXPECT_EQ(get(kContext, kGlob, 0, &read), kBadValue);
    EXPECT_EQ(get(kElementName, kIn, 0, &read), kBadValue);
    listen(kContext);
    listen(kPreset);
    // A second set releases the first; the unit holds its own reference and
    // a read hands out one more.
    CFStringRef name = MakeString("Track 3");
    EXPECT_EQ(set(kContext, kGlob, 0, &name, 8), 0);
    EXPECT_EQ(set(kContext, kGlob, 0, &name, 8), 0);
    EXPECT_EQ(CFGetRetainCount(name), 2);
    read = value<CFStringRef>(kContext);
    EXPECT_EQ(std::make_tuple(ToStdString(read), CFGetRetainCount(name)),
              std::make_tuple("Track 3", 3));
    CFRelease(read);
    EXPECT_EQ(remove(kContext, kGlob), 0);
    EXPECT_EQ(CFGetRetainCount(name), 1);

    const AUPreset user{-3, name};
    EXPECT_EQ(set(kPreset, kGlob, 0, &user, sizeof(user)), 0);
    EXPECT_EQ(log.Take(), "1:25/0/0 1:25/0/0 1:36/0/0");
    const auto preset = value<AUPreset>(kPreset);
    EXPECT_EQ(std::make_tuple(preset.presetNumber, ToStdString(preset.presetName)),
              std::make_tuple(-3, "Track 3"));
    CFRelease(preset.presetName);
    CFRelease(name);
    EXPECT_EQ(ToStdString(unit->GetPresentPreset().presetName), "Track 3");
}

TEST_F(AUBaseProperties, BuffersAndChannelLayouts) {
    EXPECT_EQ(value<UInt32>(kAudioUnitProperty_ShouldAllocateBuffer, kOut), 1u);
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
    EXPECT_EQ(set(ext, kOut, 0, &external, 8), kBadValue);
    EXPECT_EQ(set(ext, kOut, 0, &external, sizeof(external)), 0);
    EXPECT_TRUE(unit->GetOutput(0)->IOBuffer().BufferIsExternal());
    EXPECT_EQ(set(ext, kOut, 3, &external, sizeof(external)), kBadElement);

    const AudioUnitPropertyID lay = kAudioUnitProperty_AudioChannelLayout;
    const AudioUnitPropertyID tags = kAudioUnitProperty_SupportedChannelLayoutTags;
    auto* out = dynamic_cast<LayoutOutputElement*>(unit->GetOutput(0));
    ASSERT_NE(out, nullptr);
    listen(lay);
    // No layout yet but tags are offered.
    EXPECT_EQ(info(lay, kOut), kBadValue);
    EXPECT_EQ(about(tags, kOut), std::make_tuple(0, 4u, false));
    EXPECT_EQ(value<AudioChannelLayoutTag>(tags, kOut), kAudioChannelLayoutTag_Stereo);
    // Removing a layout that is not there succeeds without asking the
    // element; the success is still announced.
    EXPECT_EQ(remove(lay, kOut), 0);
    EXPECT_EQ(std::make_tuple(out->removeCalls, log.Take()), std::make_tuple(0, "1:19/2/0"));

    AudioChannelLayout layout{};
    layout.mChannelLayoutTag = kAudioChannelLayoutTag_Stereo;
    EXPECT_EQ(set(lay, kOut, 0, &layout, 11), kBadValue);
    EXPECT_EQ(set(lay, kOut, 0, &layout, 12), 0);
    EXPECT_EQ(std::make_tuple(out->setCalls, log.Take()), std::make_tuple(1, "1:19/2/0"));
    EXPECT_EQ(about(lay, kOut), std::make_tuple(0, UInt32{sizeof(AudioChannelLayout)}, true));
    // The channel count must match the element's format, and the tag be offered.
    for (AudioChannelLayoutTag t :
         {kAudioChannelLayoutTag_Mono, kAudioChannelLayoutTag_MatrixStereo}) {
        layout.mChannelLayoutTag = t;
        EXPECT_EQ(set(lay, kOut, 0, &layout, 12), kBadValue) << t;
    }
    // Offering "use channel descriptions" takes any layout of the right width.
    out->tags = {kAudioChannelLayoutTag_UseChannelDescriptions};
    EXPECT_EQ(set(lay, kOut, 0, &layout, 12), 0);
    // A layout with descriptions must bring all of them.
    AudioChannelLayout* described = CAAudioChannelLayout::Create(2);
    described->mChannelLayoutTag = kAudioChannelLayoutTag_UseChannelDescriptions;
    const auto n = static_cast<UInt32>(CAAudioChannelLayout::CalculateByteSize(2));
    EXPECT_EQ((Statuses{set(lay, kOut, 0, described, n - 1), set(lay, kOut, 0, described, n)}),
              (Statuses{kBadValue, 0}));
    CAAudioChannelLayout::Destroy(described);
    EXPECT_EQ(remove(lay, kOut), 0);
    EXPECT_EQ(out->removeCalls, 1);

    // Without tags the layout is not a property of the element at all.
    out->tags.clear();
    EXPECT_EQ((Statuses{info(lay, kOut), info(tags, kOut), info(lay, kIn),
                        unit->SetAudioChannelLayout(kOut, 0, &layout)}),
              Statuses(4, kBadProperty));
}

TEST_F(AUBaseProperties, CallbackConnectionTailClumpNamesAndSubclassProperties) {
    const AudioUnitPropertyID cb = kAudioUnitProperty_SetRenderCallback;
    const AudioUnitPropertyID conn = kAudioUnitProperty_MakeConnection;
    listen(cb);
    listen(conn);
    int refCon = 0;
    AURenderCallbackStruct callback{[](void*, AudioUnitRenderActionFlags*, const AudioTimeStamp*,
                                       UInt32, UInt32, AudioBufferList*) { return OSStatus{0}; },
                                    &refCon};
    EXPECT_EQ(set(cb, kIn, 0, &callback, sizeof(callback)), 0);
    AUInputElement* input = unit->GetInput(0);
    EXPECT_EQ(std::make_tuple(input->IsCallback(), input->GetInputProcRefCon(), log.Take()),
              std::make_tuple(true, static_cast<void*>(&refCon), "1:23/1/0"));
    // A source that is not an open unit: its status, nothing changed.
    AudioUnitConnection connection{reinterpret_cast<AudioUnit>(&refCon), 0, 0};
    EXPECT_NE(set(conn, kIn, 0, &connection, sizeof(connection)), 0);
    EXPECT_TRUE(input->IsCallback());
    EXPECT_EQ(log.Take(), "");
    // A connection without a source disconnects.
    AudioUnitConnection none{nullptr, 0, 0};
    EXPECT_EQ(set(conn, kIn, 0, &none, sizeof(none)), 0);
    EXPECT_FALSE(input->IsActive());
    EXPECT_EQ(log.Take(), "1:1/1/0");

    // Tail time, clump names, and properties that reach the subclass.
    const AudioUnitPropertyID kTail = kAudioUnitProperty_TailTime;
    Float64 tail = 0;
    EXPECT_EQ(info(kTail, kGlob), kBadProperty);
    EXPECT_EQ(get(kTail, kGlob, 0, &tail), kBadProperty);
    unit->supportsTail = true;
    EXPECT_EQ(info(kTail, kGlob), 0);
    EXPECT_EQ(value<Float64>(kTail), 0.25);
    AudioUnitParameterNameInfo clump{0, -1, nullptr};
    EXPECT_EQ(get(kAudioUnitProperty_ParameterClumpName, kGlob, 0, &clump), kBadValue);
    clump.inID = 3;
    EXPECT_EQ(get(kAudioUnitProperty_ParameterClumpName, kGlob, 0, &clump), kBadProperty);
    // Other properties reach the subclass, and its changes are announced.
    unit->answersQualityAndLoad = true;
    listen(kAudioUnitProperty_RenderQuality);
    const UInt32 quality = 96;
    EXPECT_EQ(set(kAudioUnitProperty_RenderQuality, kGlob, 0, &quality, 4), 0);
    EXPECT_EQ(std::make_tuple(unit->renderQuality, log.Take()), std::make_tuple(96u, "1:26/0/0"));
}
