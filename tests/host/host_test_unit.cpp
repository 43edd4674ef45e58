// A small effect written directly against the platform's component calling
// conventions, for the host tool's tests: a gain and a delay, plus a latency
// of its own that a host has to compensate. Only the Audio Component factory
// is served: the host's Component Manager path meets the real bundle's entry
// in the plug-in tests.
//
// Built four times: as a well-behaved unit, with HOST_TEST_FAULT 1 (its
// latency property reports the wrong size), with HOST_TEST_FAULT 2 (it
// crashes when asked to render at 96 kHz) and with HOST_TEST_FAULT 3 (it
// never returns from a render at 96 kHz). It serves no property listeners:
// vxhost never adds one.

#include <AudioUnit/AudioUnit.h>
#include <CoreFoundation/CoreFoundation.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include <unistd.h>

#ifndef HOST_TEST_FAULT
#define HOST_TEST_FAULT 0
#endif
#ifndef HOST_TEST_SUBTYPE
#error "each build names its subtype"
#endif

namespace {

constexpr OSType kSubtype = HOST_TEST_SUBTYPE;
constexpr OSType kManufacturer = 0x56785473; // 'VxTs'
constexpr OSType kType = 0x61756678;         // 'aufx'

enum : UInt32 { kGain = 0, kDelay = 1, kLatency = 2, kParamCount = 3 };

struct ParamSpec {
    const char* name;
    AudioUnitParameterUnit unit;
    Float32 min, max, def;
};
constexpr ParamSpec kParams[kParamCount] = {
    {"Gain", kAudioUnitParameterUnit_Decibels, -24.f, 12.f, 0.f},
    {"Delay", kAudioUnitParameterUnit_Milliseconds, 0.f, 500.f, 10.f},
    {"Latency", kAudioUnitParameterUnit_SampleFrames, 0.f, 256.f, 0.f},
};
constexpr UInt32 kMaxLatency = 256;

bool canonical(const AudioStreamBasicDescription& f) {
    return f.mFormatID == kAudioFormatLinearPCM && (f.mFormatFlags & kAudioFormatFlagIsFloat) &&
           !(f.mFormatFlags & kAudioFormatFlagIsBigEndian) && f.mBitsPerChannel == 32 &&
           f.mFramesPerPacket == 1 && f.mBytesPerFrame == 4 && f.mBytesPerPacket == 4 &&
           (f.mChannelsPerFrame == 1 || (f.mFormatFlags & kAudioFormatFlagIsNonInterleaved)) &&
           f.mChannelsPerFrame >= 1 && f.mSampleRate > 0;
}

AudioStreamBasicDescription format(double rate, UInt32 channels) {
    const UInt32 flags =
        kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked | kAudioFormatFlagIsNonInterleaved;
    return {rate, kAudioFormatLinearPCM, flags, 4, 1, 4, channels, 32, 0};
}

template <typename T> OSStatus put(void* data, const T& value) {
    std::memcpy(data, &value, sizeof value);
    return 0;
}
// Copies a value of exactly its own size.
template <typename T> bool take(const void* data, UInt32 size, T& out) {
    if (size != sizeof out)
        return false;
    std::memcpy(&out, data, sizeof out);
    return true;
}

void putBig(std::vector<UInt8>& out, UInt32 v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<UInt8>(v >> shift));
}
UInt32 getBig(const UInt8* p) {
    return (UInt32{p[0]} << 24) | (UInt32{p[1]} << 16) | (UInt32{p[2]} << 8) | UInt32{p[3]};
}

class TestUnit {
public:
    TestUnit() {
        for (UInt32 i = 0; i < kParamCount; ++i)
            mParams[i] = kParams[i].def;
        mPresetName = CFSTR("Untitled");
    }
    ~TestUnit() { CFRelease(mPresetName); }

    OSStatus initialize() {
        if (mInitialized)
            return 0;
        if (mIn.mChannelsPerFrame < 1 || mIn.mChannelsPerFrame > 2 || mOut.mChannelsPerFrame != 2 ||
            mIn.mSampleRate != mOut.mSampleRate)
            return kAudioUnitErr_FormatNotSupported;
        const size_t length = static_cast<size_t>(0.5 * mOut.mSampleRate) + kMaxLatency + 2;
        mLines.assign(2, std::vector<float>(length, 0.0f));
        mInBuffers.assign(2, std::vector<float>(mMaxFrames, 0.0f));
        mOutBuffers.assign(2, std::vector<float>(mMaxFrames, 0.0f));
        mWrite = 0;
        mInitialized = true;
        return 0;
    }
    OSStatus uninitialize() {
        mInitialized = false;
        return 0;
    }

    OSStatus getPropertyInfo(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                             UInt32* size, Boolean* writable) {
        UInt32 s = 0;
        Boolean w = 0;
        if (OSStatus status = describe(id, scope, element, s, w))
            return status;
        if (size)
            *size = s;
        if (writable)
            *writable = w;
        return 0;
    }

    OSStatus getProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                         void* data, UInt32* size) {
        if (!size)
            return kAudio_ParamError;
        UInt32 needed = 0;
        Boolean writable = 0;
        if (OSStatus status = describe(id, scope, element, needed, writable))
            return status;
#if HOST_TEST_FAULT == 1
        if (id == kAudioUnitProperty_Latency)
            needed = 8; // the value is a Float64 whatever the info claimed
#endif
        if (!data) {
            *size = needed;
            return 0;
        }
        if (*size < needed)
            return kAudioUnitErr_InvalidPropertyValue;
        *size = needed;
        switch (id) {
        case kAudioUnitProperty_ClassInfo:
            return put(data, saveState());
        case kAudioUnitProperty_SampleRate:
            return put(data, formatOf(scope).mSampleRate);
        case kAudioUnitProperty_StreamFormat:
            return put(data, formatOf(scope));
        case kAudioUnitProperty_ParameterList:
            for (UInt32 i = 0; i < needed / 4; ++i)
                std::memcpy(static_cast<UInt8*>(data) + 4 * i, &i, 4);
            return 0;
        case kAudioUnitProperty_ParameterInfo: {
            AudioUnitParameterInfo info{};
            const ParamSpec& p = kParams[element];
            std::strncpy(info.name, p.name, sizeof info.name - 1);
            info.unit = p.unit;
            info.minValue = p.min;
            info.maxValue = p.max;
            info.defaultValue = p.def;
            info.flags = kAudioUnitParameterFlag_IsReadable | kAudioUnitParameterFlag_IsWritable;
            return put(data, info);
        }
        case kAudioUnitProperty_ElementCount:
            return put(data, UInt32{1});
        case kAudioUnitProperty_Latency:
            return put(data, Float64{mParams[kLatency] / mOut.mSampleRate});
        case kAudioUnitProperty_TailTime:
            return put(data, Float64{mParams[kDelay] / 1000.0});
        case kAudioUnitProperty_SupportedNumChannels: {
            const AUChannelInfo configs[2] = {{1, 2}, {2, 2}};
            return put(data, configs);
        }
        case kAudioUnitProperty_MaximumFramesPerSlice:
            return put(data, mMaxFrames);
        case kAudioUnitProperty_BypassEffect:
            return put(data, UInt32{mBypass});
        case kAudioUnitProperty_OfflineRender:
            return put(data, mOffline);
        case kAudioUnitProperty_LastRenderError:
            put(data, mLastError);
            mLastError = 0;
            return 0;
        case kAudioUnitProperty_HostCallbacks:
            return put(data, mHost);
        case kAudioUnitProperty_PresentPreset:
            return put(data,
                       AUPreset{mPresetNumber, static_cast<CFStringRef>(CFRetain(mPresetName))});
        default:
            return kAudioUnitErr_InvalidProperty;
        }
    }

    OSStatus setProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                         const void* data, UInt32 size) {
        UInt32 needed = 0;
        Boolean writable = 0;
        if (OSStatus status = describe(id, scope, element, needed, writable))
            return status;
        if (!writable)
            return kAudioUnitErr_PropertyNotWritable;
        if (!data)
            return kAudio_ParamError;
        switch (id) {
        case kAudioUnitProperty_ClassInfo: {
            CFPropertyListRef doc = nullptr;
            return take(data, size, doc) ? restoreState(doc) : kAudioUnitErr_InvalidPropertyValue;
        }
        case kAudioUnitProperty_SampleRate: {
            AudioStreamBasicDescription f = formatOf(scope);
            return take(data, size, f.mSampleRate) ? setFormat(scope, f)
                                                   : kAudioUnitErr_InvalidPropertyValue;
        }
        case kAudioUnitProperty_StreamFormat: {
            if (size < 36)
                return kAudioUnitErr_InvalidPropertyValue;
            AudioStreamBasicDescription f{};
            std::memcpy(&f, data, std::min<UInt32>(size, sizeof f));
            return setFormat(scope, f);
        }
        case kAudioUnitProperty_MaximumFramesPerSlice: {
            UInt32 frames = 0;
            if (!take(data, size, frames))
                return kAudioUnitErr_InvalidPropertyValue;
            if (mInitialized)
                return kAudioUnitErr_Initialized;
            if (frames == 0)
                return kAudioUnitErr_InvalidPropertyValue;
            mMaxFrames = frames;
            return 0;
        }
        case kAudioUnitProperty_SetRenderCallback:
            if (size < sizeof(AURenderCallbackStruct))
                return kAudioUnitErr_InvalidPropertyValue;
            std::memcpy(&mInput, data, sizeof mInput);
            return 0;
        case kAudioUnitProperty_BypassEffect: {
            UInt32 on = 0;
            if (!take(data, size, on))
                return kAudioUnitErr_InvalidPropertyValue;
            if ((on != 0) != mBypass)
                clearLines();
            mBypass = on != 0;
            return 0;
        }
        case kAudioUnitProperty_OfflineRender:
            return take(data, size, mOffline) ? 0 : kAudioUnitErr_InvalidPropertyValue;
        case kAudioUnitProperty_HostCallbacks:
            mHost = HostCallbackInfo{};
            std::memcpy(&mHost, data, std::min<UInt32>(size, sizeof mHost));
            return 0;
        case kAudioUnitProperty_PresentPreset: {
            AUPreset preset{};
            if (!take(data, size, preset))
                return kAudioUnitErr_InvalidPropertyValue;
            if (preset.presetNumber >= 0)
                return kAudioUnitErr_InvalidProperty; // no factory presets
            if (!preset.presetName)
                return kAudioUnitErr_InvalidPropertyValue;
            setPresetName(preset.presetName);
            return 0;
        }
        default:
            return kAudioUnitErr_InvalidProperty;
        }
    }

    OSStatus getParameter(AudioUnitParameterID id, AudioUnitScope scope, AudioUnitElement element,
                          AudioUnitParameterValue* value) {
        if (OSStatus s = checkParameter(id, scope, element))
            return s;
        if (!value)
            return kAudio_ParamError;
        *value = mParams[id];
        return 0;
    }
    OSStatus setParameter(AudioUnitParameterID id, AudioUnitScope scope, AudioUnitElement element,
                          AudioUnitParameterValue value, UInt32) {
        if (OSStatus s = checkParameter(id, scope, element))
            return s;
        mParams[id] = value;
        return 0;
    }

    OSStatus reset(AudioUnitScope, AudioUnitElement) {
        clearLines();
        return 0;
    }

    OSStatus render(AudioUnitRenderActionFlags* flags, const AudioTimeStamp* ts, UInt32 bus,
                    UInt32 frames, AudioBufferList* io) {
        if (!mInitialized)
            return kAudioUnitErr_Uninitialized;
        if (frames > mMaxFrames)
            return kAudioUnitErr_TooManyFramesToProcess;
        if (bus != 0)
            return kAudioUnitErr_InvalidElement;
        if (!ts || !io || io->mNumberBuffers < mOut.mChannelsPerFrame)
            return kAudio_ParamError;
#if HOST_TEST_FAULT == 2
        if (mOut.mSampleRate == 96000.0)
            __builtin_trap();
#elif HOST_TEST_FAULT == 3
        if (mOut.mSampleRate == 96000.0)
            for (;;)
                pause();
#endif
        if (!mInput.inputProc)
            return kAudioUnitErr_NoConnection;
        const UInt32 inChannels = mIn.mChannelsPerFrame;
        struct {
            UInt32 count;
            AudioBuffer buffers[2];
        } inList{inChannels, {}};
        for (UInt32 c = 0; c < inChannels; ++c)
            inList.buffers[c] = AudioBuffer{1, frames * 4, mInBuffers[c].data()};
        AudioUnitRenderActionFlags pullFlags = 0;
        const OSStatus pulled = mInput.inputProc(mInput.inputProcRefCon, &pullFlags, ts, 0, frames,
                                                 reinterpret_cast<AudioBufferList*>(&inList));
        if (pulled != 0) {
            mLastError = pulled;
            return pulled;
        }
        const float gain = std::pow(10.0f, mParams[kGain] / 20.0f);
        const size_t length = mLines[0].size();
        const size_t delay =
            std::min(length - 1,
                     static_cast<size_t>(std::lround(mParams[kDelay] / 1000.0 * mOut.mSampleRate)) +
                         static_cast<size_t>(std::lround(mParams[kLatency])));
        for (UInt32 c = 0; c < 2; ++c) {
            AudioBuffer& out = io->mBuffers[c];
            if (!out.mData)
                out.mData = mOutBuffers[c].data();
            out.mDataByteSize = frames * 4;
            auto* dst = static_cast<float*>(out.mData);
            const float* src =
                static_cast<const float*>(inList.buffers[std::min(c, inChannels - 1)].mData);
            std::vector<float>& line = mLines[c];
            size_t write = mWrite;
            for (UInt32 n = 0; n < frames; ++n) {
                line[write] = src[n];
                dst[n] = mBypass ? src[n] : gain * line[(write + length - delay) % length];
                write = (write + 1) % length;
            }
        }
        mWrite = (mWrite + frames) % length;
        if (flags)
            *flags &= ~kAudioUnitRenderAction_OutputIsSilence;
        return 0;
    }

private:
    // Size, writability and the scope and element rules of every property.
    OSStatus describe(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                      UInt32& size, Boolean& writable) {
        auto globalOnly = [&]() -> OSStatus {
            return scope == kAudioUnitScope_Global ? 0 : kAudioUnitErr_InvalidScope;
        };
        auto ioElement = [&]() -> OSStatus {
            if (scope > kAudioUnitScope_Output)
                return kAudioUnitErr_InvalidScope;
            return element == 0 ? 0 : kAudioUnitErr_InvalidElement;
        };
        OSStatus status = 0;
        switch (id) {
        case kAudioUnitProperty_ClassInfo:
            status = globalOnly(), size = sizeof(CFPropertyListRef), writable = 1;
            break;
        case kAudioUnitProperty_SampleRate:
            status = ioElement(), size = 8, writable = !mInitialized;
            break;
        case kAudioUnitProperty_StreamFormat:
            status = ioElement(), size = sizeof(AudioStreamBasicDescription),
            writable = !mInitialized;
            break;
        case kAudioUnitProperty_ParameterList:
            size = scope == kAudioUnitScope_Global ? 4 * kParamCount : 0, writable = 0;
            break;
        case kAudioUnitProperty_ParameterInfo:
            if (scope != kAudioUnitScope_Global)
                return kAudioUnitErr_InvalidScope;
            if (element >= kParamCount)
                return kAudioUnitErr_InvalidParameter;
            size = sizeof(AudioUnitParameterInfo), writable = 0;
            break;
        case kAudioUnitProperty_ElementCount:
            if (scope > kAudioUnitScope_Output)
                return kAudioUnitErr_InvalidScope;
            size = 4, writable = 0;
            break;
        case kAudioUnitProperty_Latency:
            status = globalOnly(), size = HOST_TEST_FAULT == 1 ? 4 : 8, writable = 0;
            break;
        case kAudioUnitProperty_TailTime:
            status = globalOnly(), size = 8, writable = 0;
            break;
        case kAudioUnitProperty_SupportedNumChannels:
            status = globalOnly(), size = 2 * sizeof(AUChannelInfo), writable = 0;
            break;
        case kAudioUnitProperty_MaximumFramesPerSlice:
            status = globalOnly(), size = 4, writable = 1;
            break;
        case kAudioUnitProperty_BypassEffect:
        case kAudioUnitProperty_OfflineRender:
            status = globalOnly(), size = 4, writable = 1;
            break;
        case kAudioUnitProperty_LastRenderError:
            status = globalOnly(), size = 4, writable = 0;
            break;
        case kAudioUnitProperty_SetRenderCallback:
            if (scope != kAudioUnitScope_Input && scope != kAudioUnitScope_Global)
                return kAudioUnitErr_InvalidScope;
            if (element != 0)
                return kAudioUnitErr_InvalidElement;
            size = sizeof(AURenderCallbackStruct), writable = 1;
            break;
        case kAudioUnitProperty_HostCallbacks:
            status = globalOnly(), size = sizeof(HostCallbackInfo), writable = 1;
            break;
        case kAudioUnitProperty_PresentPreset:
            status = globalOnly(), size = sizeof(AUPreset), writable = 1;
            break;
        default:
            return kAudioUnitErr_InvalidProperty;
        }
        return status;
    }

    OSStatus checkParameter(AudioUnitParameterID id, AudioUnitScope scope,
                            AudioUnitElement element) const {
        if (scope > kAudioUnitScope_Output)
            return kAudioUnitErr_InvalidScope;
        if (element != 0)
            return kAudioUnitErr_InvalidElement;
        // Only the global scope holds parameters.
        return scope == kAudioUnitScope_Global && id < kParamCount ? 0
                                                                   : kAudioUnitErr_InvalidParameter;
    }

    AudioStreamBasicDescription& formatOf(AudioUnitScope scope) {
        return scope == kAudioUnitScope_Input ? mIn : mOut;
    }

    OSStatus setFormat(AudioUnitScope scope, const AudioStreamBasicDescription& f) {
        if (!canonical(f))
            return kAudioUnitErr_FormatNotSupported;
        formatOf(scope == kAudioUnitScope_Global ? AudioUnitScope{kAudioUnitScope_Output} : scope) =
            f;
        return 0;
    }

    void clearLines() {
        for (auto& line : mLines)
            std::fill(line.begin(), line.end(), 0.0f);
    }

    void setPresetName(CFStringRef name) {
        CFRetain(name);
        CFRelease(mPresetName);
        mPresetName = name;
        mPresetNumber = -1;
    }

    static CFNumberRef number(SInt32 v) {
        return CFNumberCreate(nullptr, kCFNumberSInt32Type, &v);
    }

    CFPropertyListRef saveState() const {
        CFMutableDictionaryRef doc = CFDictionaryCreateMutable(
            nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
        const std::pair<CFStringRef, SInt32> numbers[] = {
            {CFSTR("version"), 0},
            {CFSTR("type"), static_cast<SInt32>(kType)},
            {CFSTR("subtype"), static_cast<SInt32>(kSubtype)},
            {CFSTR("manufacturer"), static_cast<SInt32>(kManufacturer)}};
        for (const auto& [key, value] : numbers) {
            CFNumberRef n = number(value);
            CFDictionarySetValue(doc, key, n);
            CFRelease(n);
        }
        std::vector<UInt8> bytes;
        putBig(bytes, 0);
        putBig(bytes, 0);
        putBig(bytes, kParamCount);
        for (UInt32 i = 0; i < kParamCount; ++i) {
            UInt32 bits = 0;
            std::memcpy(&bits, &mParams[i], 4);
            putBig(bytes, i);
            putBig(bytes, bits);
        }
        CFDataRef data = CFDataCreate(nullptr, bytes.data(), static_cast<CFIndex>(bytes.size()));
        CFDictionarySetValue(doc, CFSTR("data"), data);
        CFRelease(data);
        CFDictionarySetValue(doc, CFSTR("name"), mPresetName);
        return doc;
    }

    static bool integerOf(CFDictionaryRef doc, CFStringRef key, SInt32& out) {
        CFTypeRef v = CFDictionaryGetValue(doc, key);
        return v && CFGetTypeID(v) == CFNumberGetTypeID() &&
               CFNumberGetValue(static_cast<CFNumberRef>(v), kCFNumberSInt32Type, &out);
    }

    OSStatus restoreState(CFPropertyListRef plist) {
        if (!plist || CFGetTypeID(plist) != CFDictionaryGetTypeID())
            return kAudioUnitErr_InvalidPropertyValue;
        auto doc = static_cast<CFDictionaryRef>(plist);
        SInt32 version = -1, subtype = 0, manufacturer = 0;
        if (!integerOf(doc, CFSTR("version"), version) || version != 0 ||
            !integerOf(doc, CFSTR("subtype"), subtype) ||
            static_cast<OSType>(subtype) != kSubtype ||
            !integerOf(doc, CFSTR("manufacturer"), manufacturer) ||
            static_cast<OSType>(manufacturer) != kManufacturer)
            return kAudioUnitErr_InvalidPropertyValue;
        CFTypeRef data = CFDictionaryGetValue(doc, CFSTR("data"));
        if (data && CFGetTypeID(data) == CFDataGetTypeID()) {
            const UInt8* p = CFDataGetBytePtr(static_cast<CFDataRef>(data));
            const size_t length =
                static_cast<size_t>(CFDataGetLength(static_cast<CFDataRef>(data)));
            size_t at = 0;
            while (length - at >= 12) {
                const UInt32 scope = getBig(p + at), element = getBig(p + at + 4),
                             count = getBig(p + at + 8);
                at += 12;
                if (count > (length - at) / 8)
                    break;
                for (UInt32 i = 0; i < count; ++i, at += 8) {
                    const UInt32 id = getBig(p + at), bits = getBig(p + at + 4);
                    Float32 value;
                    std::memcpy(&value, &bits, 4);
                    if (scope == 0 && element == 0 && id < kParamCount)
                        mParams[id] = value;
                }
            }
        }
        CFTypeRef name = CFDictionaryGetValue(doc, CFSTR("name"));
        setPresetName(name && CFGetTypeID(name) == CFStringGetTypeID()
                          ? static_cast<CFStringRef>(name)
                          : CFSTR("Untitled"));
        return 0;
    }

    AudioStreamBasicDescription mIn = format(44100, 2);
    AudioStreamBasicDescription mOut = format(44100, 2);
    UInt32 mMaxFrames = 1156;
    bool mInitialized = false;
    bool mBypass = false;
    UInt32 mOffline = 0;
    OSStatus mLastError = 0;
    Float32 mParams[kParamCount];
    AURenderCallbackStruct mInput{};
    HostCallbackInfo mHost{};
    SInt32 mPresetNumber = -1;
    CFStringRef mPresetName;
    std::vector<std::vector<float>> mLines;
    std::vector<std::vector<float>> mInBuffers;
    std::vector<std::vector<float>> mOutBuffers;
    size_t mWrite = 0;
};

// ---- the Audio Component factory entry

struct PlugIn {
    AudioComponentPlugInInterface iface;
    TestUnit* unit;
};

// A plain function with the member's parameters that calls it on the
// instance's unit.
template <typename> struct Bind;
template <typename... Args> struct Bind<OSStatus (TestUnit::*)(Args...)> {
    template <auto Member> static OSStatus call(void* self, Args... args) {
        return (static_cast<PlugIn*>(self)->unit->*Member)(args...);
    }
};
template <auto Member> AudioComponentMethod method() {
    return reinterpret_cast<AudioComponentMethod>(
        reinterpret_cast<void*>(&Bind<decltype(Member)>::template call<Member>));
}

AudioComponentMethod lookup(SInt16 selector) {
    using U = TestUnit;
    switch (selector) {
    case kAudioUnitInitializeSelect:
        return method<&U::initialize>();
    case kAudioUnitUninitializeSelect:
        return method<&U::uninitialize>();
    case kAudioUnitGetPropertyInfoSelect:
        return method<&U::getPropertyInfo>();
    case kAudioUnitGetPropertySelect:
        return method<&U::getProperty>();
    case kAudioUnitSetPropertySelect:
        return method<&U::setProperty>();
    case kAudioUnitGetParameterSelect:
        return method<&U::getParameter>();
    case kAudioUnitSetParameterSelect:
        return method<&U::setParameter>();
    case kAudioUnitResetSelect:
        return method<&U::reset>();
    case kAudioUnitRenderSelect:
        return method<&U::render>();
    default:
        return nullptr;
    }
}

OSStatus plugInOpen(void* self, AudioComponentInstance) {
    auto* p = static_cast<PlugIn*>(self);
    p->unit = new (std::nothrow) TestUnit();
    if (!p->unit) {
        delete p; // a failed open releases the record itself
        return kAudio_MemFullError;
    }
    return 0;
}

OSStatus plugInClose(void* self) {
    auto* p = static_cast<PlugIn*>(self);
    delete p->unit;
    delete p;
    return 0;
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) AudioComponentPlugInInterface*
VXHostTestFactory(const AudioComponentDescription*) {
    auto* p = new (std::nothrow) PlugIn{};
    if (!p)
        return nullptr;
    p->iface.Open = plugInOpen;
    p->iface.Close = plugInClose;
    p->iface.Lookup = lookup;
    return &p->iface;
}

} // extern "C"
