// Property and parameter requests with arbitrary ids, scopes, elements,
// sizes and bytes, sent through the host runtime to a fresh instance of the
// plug-in or of the framework's test unit, mixed with initialization,
// rendering and reads. Properties whose values carry pointers (objects,
// callbacks, buffers) get real ones or null, since a host that passes wild
// pointers is not something a unit can survive; their sizes still vary.
// Every request must come back with a status; data buffers are exactly as
// large as the size given, so a unit that reads or writes past them is
// caught; the reference engine's output stays finite.
#include "ComponentFuzz.h"

#include <AudioUnit/AudioUnitProperties.h>

#include <vector>

using componentfuzz::Instance;
using fuzzsupport::Input;

namespace {

// Host facts answered through the host callbacks, chosen by the input.
struct HostFacts {
    OSStatus answer = 0;
    Float64 beat = 0;
    Float64 tempo = 120;
    Boolean playing = false;
} gFacts;

OSStatus beatAndTempo(void*, Float64* beat, Float64* tempo) {
    if (beat)
        *beat = gFacts.beat;
    if (tempo)
        *tempo = gFacts.tempo;
    return gFacts.answer;
}

OSStatus musicalTime(void*, UInt32* deltaSampleOffset, Float32* numerator, UInt32* denominator,
                     Float64* downBeat) {
    if (deltaSampleOffset)
        *deltaSampleOffset = 0;
    if (numerator)
        *numerator = 4;
    if (denominator)
        *denominator = 4;
    if (downBeat)
        *downBeat = gFacts.beat;
    return gFacts.answer;
}

OSStatus transportState(void*, Boolean* playing, Boolean* changed, Float64* sampleInTimeLine,
                        Boolean* cycling, Float64* cycleStart, Float64* cycleEnd) {
    if (playing)
        *playing = gFacts.playing;
    if (changed)
        *changed = false;
    if (sampleInTimeLine)
        *sampleInTimeLine = gFacts.beat * 22050;
    if (cycling)
        *cycling = false;
    if (cycleStart)
        *cycleStart = 0;
    if (cycleEnd)
        *cycleEnd = 0;
    return gFacts.answer;
}

OSStatus transportState2(void* user, Boolean* playing, Boolean* recording, Boolean* changed,
                         Float64* sampleInTimeLine, Boolean* cycling, Float64* cycleStart,
                         Float64* cycleEnd) {
    if (recording)
        *recording = false;
    return transportState(user, playing, changed, sampleInTimeLine, cycling, cycleStart, cycleEnd);
}

OSStatus failingInput(void*, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32, UInt32,
                      AudioBufferList*) {
    return -10863; // cannot do in current context
}

// External buffers stay valid for the instance's whole life.
alignas(64) unsigned char gArena[1 << 16];

constexpr AudioUnitPropertyID kPluginOwn[] = {37, 0x10000, 0x1E3638DA};
constexpr AudioUnitPropertyID kTestUnitOwn[] = {0x7E570001, 0x7E570002};

AudioUnitPropertyID pickId(Input& in, unithost::Component component) {
    const uint8_t how = in.byte();
    if (how < 170)
        return how % 64; // the platform's range and a little beyond
    if (how < 200)
        return component == unithost::Component::Plugin ? kPluginOwn[how % 3]
                                                        : kTestUnitOwn[how % 2];
    if (how < 210)
        return 0x6C727374; // 'lrst'
    return in.u32();
}

AudioUnitScope pickScope(Input& in) {
    const uint8_t how = in.byte();
    return how < 240 ? how % 5 : in.u32();
}

AudioUnitElement pickElement(Input& in) {
    const uint8_t how = in.byte();
    return how < 200 ? how % 3 : how < 240 ? how : in.u32();
}

// The value to send: bytes from the input, or for the pointer-carrying
// properties a record with real pointers; then cut or padded to `size`.
std::vector<unsigned char> payload(Input& in, AudioUnitPropertyID id, unithost::Rig& rig,
                                   CFTypeRef& keep) {
    std::vector<unsigned char> v;
    auto put = [&](const void* p, size_t n) {
        v.insert(v.end(), static_cast<const unsigned char*>(p),
                 static_cast<const unsigned char*>(p) + n);
    };
    switch (id) {
    case kAudioUnitProperty_ClassInfo:
    case kAudioUnitProperty_ClassInfoFromDocument:
    case kAudioUnitProperty_ContextName:
    case kAudioUnitProperty_ElementName:
    case kAudioUnitProperty_NickName: {
        // An object of whatever kind, or none.
        keep = in.flag() ? componentfuzz::buildValue(in, 2) : nullptr;
        put(&keep, sizeof keep);
        break;
    }
    case kAudioUnitProperty_PresentPreset: {
        keep = in.flag() ? componentfuzz::buildValue(in, 0) : nullptr;
        AUPreset preset{static_cast<SInt32>(in.u32()), static_cast<CFStringRef>(keep)};
        put(&preset, sizeof preset);
        break;
    }
    case kAudioUnitProperty_SetRenderCallback: {
        // None, the rig's own input again, or one that fails.
        const uint8_t which = in.byte() % 3;
        AURenderCallbackStruct cb{nullptr, nullptr};
        if (which == 1)
            cb = rig.callback();
        if (which == 2)
            cb.inputProc = failingInput;
        put(&cb, sizeof cb);
        break;
    }
    case kAudioUnitProperty_MakeConnection: {
        AudioUnitConnection c{nullptr, in.u32(), in.u32()};
        put(&c, sizeof c);
        break;
    }
    case kAudioUnitProperty_SetExternalBuffer: {
        const uint32_t offset = in.flag() ? 16 * in.below(64) : in.below(64);
        AudioUnitExternalBuffer b{gArena + offset,
                                  static_cast<UInt32>(in.below(sizeof gArena - offset))};
        put(&b, sizeof b);
        break;
    }
    case kAudioUnitProperty_HostCallbacks: {
        HostCallbackInfo info{};
        const uint8_t which = in.byte();
        info.hostUserData = &gFacts;
        if (which & 1)
            info.beatAndTempoProc = beatAndTempo;
        if (which & 2)
            info.musicalTimeLocationProc = musicalTime;
        if (which & 4)
            info.transportStateProc = transportState;
        if (which & 8)
            info.transportStateProc2 = transportState2;
        put(&info, sizeof info);
        break;
    }
    case kAudioUnitProperty_FastDispatch:
    case kAudioUnitProperty_MIDIOutputCallback:
    case kAudioUnitProperty_InputSamplesInOutput:
    case kAudioUnitProperty_RequestViewController:
    case kAudioUnitProperty_RenderContextObserver:
    case kAudioUnitProperty_CocoaUI:
    case kAudioUnitProperty_IconLocation:
    case kAudioUnitProperty_ParameterStringFromValue:
    case kAudioUnitProperty_ParameterValueFromString:
    case kAudioUnitProperty_ParameterIDName:
    case kAudioUnitProperty_ParameterClumpName:
    case kAudioUnitProperty_FactoryPresets:
    case kAudioUnitProperty_ParameterValueStrings:
    case kAudioUnitProperty_MIDIOutputCallbackInfo:
    case kAudioUnitProperty_AllParameterMIDIMappings:
        v.assign(48, 0); // pointers: none
        break;
    default: {
        const std::string bytes = in.bytes(in.below(96));
        put(bytes.data(), bytes.size());
        break;
    }
    }
    // The size sent: mostly the record's own, sometimes any other.
    const uint8_t how = in.byte();
    size_t size = v.size();
    if (how >= 200)
        size = in.below(160);
    else if (how >= 180)
        size = size > 0 ? size - 1 : 0;
    v.resize(size, 0);
    return v;
}

// Reads whose values hold no objects, at any buffer size.
constexpr AudioUnitPropertyID kPlainReads[] = {2,  3,  8,  11, 12, 13, 14, 19,         20,
                                               21, 22, 26, 29, 32, 37, 51, 0x6C727374, 0x10000};

void readPlain(Input& in, AudioUnit unit) {
    const AudioUnitPropertyID id =
        kPlainReads[in.below(sizeof kPlainReads / sizeof kPlainReads[0])];
    const AudioUnitScope scope = pickScope(in);
    const AudioUnitElement element = pickElement(in);
    UInt32 infoSize = 0;
    Boolean writable = false;
    const OSStatus info = AudioUnitGetPropertyInfo(unit, id, scope, element, &infoSize, &writable);
    UInt32 size = in.flag() && info == 0 ? infoSize : in.below(200);
    const UInt32 given = size;
    std::vector<unsigned char> buf(size ? size : 1);
    const OSStatus status = AudioUnitGetProperty(unit, id, scope, element, buf.data(), &size);
    if (status == 0)
        FUZZ_CHECK(size <= given);
}

// Reads that hand out objects the caller owns.
void readObject(Input& in, AudioUnit unit) {
    switch (in.below(6)) {
    case 5: {
        AudioUnitParameterInfo info{};
        UInt32 size = sizeof info;
        if (AudioUnitGetProperty(unit, kAudioUnitProperty_ParameterInfo, pickScope(in),
                                 in.flag() ? in.below(8) : in.u32(), &info, &size) == 0 &&
            (info.flags & kAudioUnitParameterFlag_HasCFNameString) &&
            (info.flags & kAudioUnitParameterFlag_CFNameRelease) && info.cfNameString)
            CFRelease(info.cfNameString);
        break;
    }
    case 0: {
        CFPropertyListRef doc = nullptr;
        UInt32 size = sizeof doc;
        if (AudioUnitGetProperty(unit, kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0,
                                 &doc, &size) == 0 &&
            doc)
            CFRelease(doc);
        break;
    }
    case 1: {
        CFStringRef name = nullptr;
        UInt32 size = sizeof name;
        if (AudioUnitGetProperty(unit, kAudioUnitProperty_ContextName, kAudioUnitScope_Global, 0,
                                 &name, &size) == 0 &&
            name)
            CFRelease(name);
        break;
    }
    case 2: {
        CFStringRef name = nullptr;
        UInt32 size = sizeof name;
        if (AudioUnitGetProperty(unit, kAudioUnitProperty_ElementName, pickScope(in),
                                 pickElement(in), &name, &size) == 0 &&
            name)
            CFRelease(name);
        break;
    }
    case 3: {
        AUPreset preset{};
        UInt32 size = sizeof preset;
        if (AudioUnitGetProperty(unit, kAudioUnitProperty_PresentPreset, kAudioUnitScope_Global, 0,
                                 &preset, &size) == 0 &&
            preset.presetName)
            CFRelease(preset.presetName);
        break;
    }
    default: {
        CFArrayRef strings = nullptr;
        UInt32 size = sizeof strings;
        if (AudioUnitGetProperty(unit, kAudioUnitProperty_ParameterValueStrings, pickScope(in),
                                 pickElement(in), &strings, &size) == 0 &&
            strings)
            CFRelease(strings);
        break;
    }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    componentfuzz::initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    Instance instance(in);
    AudioUnit unit = instance.unit;
    const bool plugin = instance.component == unithost::Component::Plugin;
    gFacts = HostFacts{};

    unithost::Rig rig;
    FUZZ_CHECK(unithost::setFormats(unit, 44100, 2) == 0);
    FUZZ_CHECK(rig.attach(unit) == 0);

    for (int step = 0; step < 48 && !in.empty(); ++step) {
        const uint8_t op = in.byte() % 10;
        if (op <= 3) {
            const AudioUnitPropertyID id = pickId(in, instance.component);
            const AudioUnitScope scope = pickScope(in);
            const AudioUnitElement element = pickElement(in);
            CFTypeRef keep = nullptr;
            std::vector<unsigned char> value = payload(in, id, rig, keep);
            AudioUnitSetProperty(unit, id, scope, element, value.empty() ? nullptr : value.data(),
                                 static_cast<UInt32>(value.size()));
            if (keep)
                CFRelease(keep);
        } else if (op == 4) {
            readPlain(in, unit);
        } else if (op == 5) {
            readObject(in, unit);
        } else if (op == 6) {
            if (in.flag())
                AudioUnitInitialize(unit);
            else
                FUZZ_CHECK(AudioUnitUninitialize(unit) == 0);
        } else if (op == 7) {
            const UInt32 frames = in.flag() ? 1 + in.below(1156) : in.below(5000);
            const OSStatus s = rig.render(unit, frames);
            if (s == 0 && plugin)
                FUZZ_CHECK(rig.outputFinite(frames));
        } else if (op == 8) {
            const AudioUnitParameterID id = in.flag() ? in.below(8) : in.u32();
            AudioUnitSetParameter(unit, id, pickScope(in), pickElement(in), in.f32(),
                                  in.below(2048));
            AudioUnitParameterValue v = 0;
            AudioUnitGetParameter(unit, id, kAudioUnitScope_Global, 0, &v);
        } else {
            gFacts.answer = in.flag() ? 0 : static_cast<OSStatus>(in.u32());
            gFacts.tempo = in.flag() ? in.f32() : 60 + in.below(200);
            gFacts.beat = in.f32();
            gFacts.playing = in.flag();
            if (in.flag())
                AudioUnitReset(unit, kAudioUnitScope_Global, 0);
        }
    }
    return 0;
}
